// Hex send conversion: PayloadCodec::EncodeHex and HexTokenToByte.
//
// The first byte picks a mode: 0 feeds the rest to EncodeHex as it is, 1 feeds it to
// HexTokenToByte as one token, 2 renders the rest as hex (up to the limit, letter case and
// spaces chosen by the input) and checks that the conversion gives the bytes back, 3 repeats
// a short pattern into a text of up to 65,536 digit pairs. Each picks the limit: 127 bytes,
// or 65,507 as with 大数据.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "text/payload_codec.h"

namespace {

using PayloadCodec::HexFailure;

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

HexFailure Encode(QByteArrayView text, int maxBytes, QByteArray &bytes)
{
    bytes = "stale";  // what a previous send left behind must never stay
    const HexFailure failure = PayloadCodec::EncodeHex(text, bytes, maxBytes);
    FUZZ_CHECK(bytes.size() <= maxBytes);
    if (failure != HexFailure::None)
        FUZZ_CHECK(bytes.isEmpty());
    FUZZ_CHECK(PayloadCodec::FailureMessage(failure).isEmpty() == (failure == HexFailure::None));
    return failure;
}

void CheckEncodeAnyText(const std::string &text, int maxBytes)
{
    QByteArray converted;
    const HexFailure failure = Encode(QByteArrayView(text.data(), qsizetype(text.size())), maxBytes, converted);

    // The failure order: odd length, then too long, then the first bad token.
    HexFailure expected = HexFailure::None;
    std::string bytes;
    if (text.size() % 2 != 0) {
        expected = HexFailure::OddLength;
    } else if (text.size() / 2 > std::size_t(maxBytes)) {
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
    if (failure == HexFailure::None)
        FUZZ_CHECK(converted == QByteArrayView(bytes.data(), qsizetype(bytes.size())));
}

void CheckToken(const std::string &token)
{
    quint8 out = 0x5A;
    quint8 expected = 0;
    const bool ok = PayloadCodec::HexTokenToByte(QByteArrayView(token.data(), qsizetype(token.size())), out);
    FUZZ_CHECK(ok == ReferenceToken(token, expected));
    FUZZ_CHECK(out == (ok ? expected : 0x5A));  // left alone on failure
}

void CheckRoundTrip(FuzzedDataProvider &input, int maxBytes)
{
    const bool lowerCase = input.ConsumeBool();
    const bool displaySpaces = input.ConsumeBool();  // "%02X " as the hex display writes it
    const std::string bytes = input.ConsumeBytesAsString(input.ConsumeIntegralInRange<size_t>(0, maxBytes));

    QByteArray rendered;
    if (displaySpaces) {
        rendered = PayloadCodec::DataText(QByteArrayView(bytes.data(), qsizetype(bytes.size())), true);
        PayloadCodec::PrepareSendText(rendered);
    } else {
        rendered = QByteArray(bytes.data(), qsizetype(bytes.size())).toHex();
    }
    rendered = lowerCase ? rendered.toLower() : rendered.toUpper();
    FUZZ_CHECK(rendered.size() == qsizetype(2 * bytes.size()));

    QByteArray converted;
    FUZZ_CHECK(Encode(rendered, maxBytes, converted) == HexFailure::None);
    FUZZ_CHECK(converted == QByteArrayView(bytes.data(), qsizetype(bytes.size())));
}

// A short pattern repeated into count digit pairs: texts around both limits without inputs
// of that size.
void CheckRepeated(FuzzedDataProvider &input, int maxBytes)
{
    const auto count = input.ConsumeIntegralInRange<size_t>(0, 65536);
    std::string pattern = input.ConsumeRandomLengthString(8);
    if (pattern.empty())
        pattern = "A5";
    std::string text;
    text.reserve(2 * count);
    while (text.size() < 2 * count)
        text += pattern;
    text.resize(2 * count);
    CheckEncodeAnyText(text, maxBytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const int mode = input.ConsumeIntegralInRange<int>(0, 3);
    const int maxBytes = input.ConsumeBool() ? PayloadCodec::kLargeHexBytes : PayloadCodec::kMaxHexBytes;
    switch (mode) {
    case 0:
        CheckEncodeAnyText(input.ConsumeRemainingBytesAsString(), maxBytes);
        break;
    case 1:
        CheckToken(input.ConsumeRemainingBytesAsString());
        break;
    case 2:
        CheckRoundTrip(input, maxBytes);
        break;
    default:
        CheckRepeated(input, maxBytes);
        break;
    }
    return 0;
}
