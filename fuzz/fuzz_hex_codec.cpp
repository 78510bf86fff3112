// Hex send conversion: PayloadCodec::EncodeHex and HexTokenToByte.
//
// The first byte picks a mode: 0 feeds the rest to EncodeHex as it is, 1 feeds it to
// HexTokenToByte as one token, 2 renders the rest as hex (at most 127 bytes, letter case and
// spaces chosen by the input) and checks that the conversion gives the bytes back.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "text/payload_codec.h"

namespace {

using PayloadCodec::HexFailure;
using Buffer = std::array<char, PayloadCodec::kHexBufferSize>;

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// The rule written out anew: spaces skipped, every other character a hex digit, the value the
// number read in base 16 kept in 8 bits (its last two digits); nothing for a bad token.
bool ReferenceToken(std::string_view token, quint8 &value)
{
    std::string digits;
    for (const char c : token) {
        if (c == ' ')
            continue;
        if (!IsHexDigit(c))
            return false;
        digits += c;
    }
    const std::string lastTwo = digits.size() > 2 ? digits.substr(digits.size() - 2) : digits;
    value = lastTwo.empty() ? 0 : static_cast<quint8>(std::strtoul(lastTwo.c_str(), nullptr, 16));
    return true;
}

// EncodeHex on a heap buffer of exactly 128 bytes (a write past it is an ASan finding),
// filled with garbage first so that the zeroing is checked too.
HexFailure Encode(QByteArrayView text, Buffer &buffer, int &byteCount)
{
    std::memset(buffer.data(), 0xA5, buffer.size());
    byteCount = -7;
    const HexFailure failure = PayloadCodec::EncodeHex(text, buffer, byteCount);
    FUZZ_CHECK(byteCount >= 0 && byteCount <= PayloadCodec::kHexBufferSize - 1);
    for (int i = byteCount; i < PayloadCodec::kHexBufferSize; ++i)
        FUZZ_CHECK(buffer[i] == 0);
    if (failure != HexFailure::None)
        FUZZ_CHECK(byteCount == 0);
    FUZZ_CHECK(PayloadCodec::FailureMessage(failure).isEmpty() == (failure == HexFailure::None));
    return failure;
}

void CheckEncodeAnyText(const std::string &text)
{
    auto buffer = std::make_unique<Buffer>();
    int byteCount = 0;
    const HexFailure failure = Encode(QByteArrayView(text.data(), qsizetype(text.size())), *buffer, byteCount);

    // The failure order: odd length, then too long, then the first bad token.
    HexFailure expected = HexFailure::None;
    std::string bytes;
    if (text.size() % 2 != 0) {
        expected = HexFailure::OddLength;
    } else if (text.size() / 2 >= std::size_t(PayloadCodec::kHexBufferSize)) {
        expected = HexFailure::TooLong;
    } else {
        for (std::size_t k = 0; k < text.size() / 2; ++k) {
            quint8 value = 0;
            if (!ReferenceToken(std::string_view(text).substr(2 * k, 2), value)) {
                expected = HexFailure::BadToken;
                break;
            }
            bytes += static_cast<char>(value);
        }
    }
    FUZZ_CHECK(failure == expected);
    if (failure == HexFailure::None) {
        FUZZ_CHECK(byteCount == int(text.size() / 2));
        FUZZ_CHECK(std::memcmp(buffer->data(), bytes.data(), bytes.size()) == 0);
    }
}

void CheckToken(const std::string &token)
{
    quint8 out = 0x5A;
    quint8 expected = 0;
    const bool ok = PayloadCodec::HexTokenToByte(QByteArrayView(token.data(), qsizetype(token.size())), out);
    FUZZ_CHECK(ok == ReferenceToken(token, expected));
    FUZZ_CHECK(out == (ok ? expected : 0x5A));  // left alone on failure
}

void CheckRoundTrip(FuzzedDataProvider &input)
{
    const bool lowerCase = input.ConsumeBool();
    const bool displaySpaces = input.ConsumeBool();  // "%02X " as the hex display writes it
    const std::string bytes = input.ConsumeBytesAsString(input.ConsumeIntegralInRange<size_t>(0, 127));

    QByteArray rendered;
    if (displaySpaces) {
        rendered = PayloadCodec::DataText(QByteArrayView(bytes.data(), qsizetype(bytes.size())), true);
        PayloadCodec::PrepareSendText(rendered);
    } else {
        rendered = QByteArray(bytes.data(), qsizetype(bytes.size())).toHex();
    }
    rendered = lowerCase ? rendered.toLower() : rendered.toUpper();
    FUZZ_CHECK(rendered.size() == qsizetype(2 * bytes.size()));

    auto buffer = std::make_unique<Buffer>();
    int byteCount = 0;
    FUZZ_CHECK(Encode(rendered, *buffer, byteCount) == HexFailure::None);
    FUZZ_CHECK(byteCount == int(bytes.size()));
    FUZZ_CHECK(std::memcmp(buffer->data(), bytes.data(), bytes.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    switch (input.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
        CheckEncodeAnyText(input.ConsumeRemainingBytesAsString());
        break;
    case 1:
        CheckToken(input.ConsumeRemainingBytesAsString());
        break;
    default:
        CheckRoundTrip(input);
        break;
    }
    return 0;
}
