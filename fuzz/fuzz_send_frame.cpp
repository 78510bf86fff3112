// A send's frame: SendFrame::ExpandEscapes, the checksums and their byte order, the trailer.
//
// The last bytes pick the options, the encoding, whether the text is UTF-8 or UTF-16 (little
// endian) and how many of the first bytes are the text; the bytes after the text are the body
// whose checksums are checked against a bit-at-a-time CRC written here.
#include <fuzzer/FuzzedDataProvider.h>

#include <QHash>
#include <QRegularExpression>

#include <string>

#include "fuzz_check.h"
#include "text/send_frame.h"
#include "traffic/payload.h"

namespace {

struct CrcParameters
{
    int width;
    quint32 poly;
    quint32 init;
    bool refIn;
    bool refOut;
    quint32 xorOut;
};

// The register shifted one message bit at a time, most significant bit first, as the CRC
// catalogue describes it: nothing shared with the table-driven code.
quint32 BitwiseCrc(const CrcParameters &crc, QByteArrayView bytes)
{
    const quint64 top = quint64(1) << (crc.width - 1);
    const quint64 mask = (quint64(1) << crc.width) - 1;
    quint64 value = crc.init;
    for (const char c : bytes) {
        const auto byte = static_cast<quint8>(c);
        for (int i = 0; i < 8; ++i) {
            const bool in = (byte >> (crc.refIn ? i : 7 - i)) & 1;
            const bool out = (value & top) != 0;
            value = (value << 1) & mask;
            if (in != out)
                value ^= crc.poly;
        }
    }
    if (crc.refOut) {
        quint64 reflected = 0;
        for (int i = 0; i < crc.width; ++i)
            if (value & (quint64(1) << i))
                reflected |= quint64(1) << (crc.width - 1 - i);
        value = reflected;
    }
    return static_cast<quint32>(value ^ crc.xorOut);
}

quint32 ReferenceChecksum(Checksum checksum, QByteArrayView bytes)
{
    quint8 sum = 0;
    quint8 xorValue = 0;
    for (const char c : bytes) {
        sum += static_cast<quint8>(c);
        xorValue ^= static_cast<quint8>(c);
    }
    switch (checksum) {
    case Checksum::None:
        return 0;
    case Checksum::Sum8:
        return sum;
    case Checksum::Xor8:
        return xorValue;
    case Checksum::Lrc:
        return quint8(0x100 - sum);
    case Checksum::Crc8Smbus:
        return BitwiseCrc({8, 0x07, 0x00, false, false, 0x00}, bytes);
    case Checksum::Crc16Modbus:
        return BitwiseCrc({16, 0x8005, 0xFFFF, true, true, 0x0000}, bytes);
    case Checksum::Crc16Ibm3740:
        return BitwiseCrc({16, 0x1021, 0xFFFF, false, false, 0x0000}, bytes);
    case Checksum::Crc16Xmodem:
        return BitwiseCrc({16, 0x1021, 0x0000, false, false, 0x0000}, bytes);
    case Checksum::Crc32IsoHdlc:
        return BitwiseCrc({32, 0x04C11DB7, 0xFFFFFFFF, true, true, 0xFFFFFFFF}, bytes);
    }
    return 0;
}

void CheckChecksum(Checksum checksum, ChecksumOrder order, QByteArrayView body)
{
    const quint32 value = SendFrame::ChecksumValue(checksum, body);
    FUZZ_CHECK(value == ReferenceChecksum(checksum, body));

    const int width = SendFrame::ChecksumWidth(checksum);
    const QByteArray bytes = SendFrame::ChecksumBytes(checksum, order, body);
    FUZZ_CHECK(bytes.size() == width);
    const bool lowFirst = order == ChecksumOrder::LowFirst
                          || (order == ChecksumOrder::Usual && checksum == Checksum::Crc16Modbus);
    quint64 readBack = 0;
    for (int i = 0; i < width; ++i) {
        const quint64 byte = static_cast<quint8>(bytes[lowFirst ? i : width - 1 - i]);
        readBack |= byte << (8 * i);
    }
    FUZZ_CHECK(readBack == value);  // and so value fits in width bytes
}

// The escapes found by a pattern, the text between them taken literally: the index of a
// backslash left over in that text, or -1 with bytes filled.
qsizetype ReferenceExpand(const QString &text, TextEncoding encoding, QByteArray &bytes)
{
    static const QRegularExpression kEscape(QStringLiteral(R"(\\(?:([rnt\\0])|x([0-9A-Fa-f]{2})))"));
    static const QHash<QChar, char> kSingles{{u'r', '\r'}, {u'n', '\n'}, {u't', '\t'}, {u'\\', '\\'}, {u'0', '\0'}};
    bytes.clear();
    qsizetype literalStart = 0;
    auto takeLiteral = [&](qsizetype end) {
        const QStringView literal = QStringView(text).sliced(literalStart, end - literalStart);
        if (const qsizetype backslash = literal.indexOf(u'\\'); backslash >= 0)
            return literalStart + backslash;
        bytes += EncodeText(literal, encoding);
        return qsizetype(-1);
    };
    // PCRE refuses invalid UTF-16; the surrogates are in the literal text only, so the pattern
    // is matched where they are covered up.
    QString matched = text;
    for (QChar &c : matched)
        if (c.isSurrogate())
            c = u'?';
    for (const QRegularExpressionMatch &match : kEscape.globalMatch(matched)) {
        if (const qsizetype errorAt = takeLiteral(match.capturedStart()); errorAt >= 0) {
            bytes.clear();
            return errorAt;
        }
        bytes += match.hasCaptured(1) ? kSingles.value(match.captured(1).front())
                                      : static_cast<char>(match.captured(2).toInt(nullptr, 16));
        literalStart = match.capturedEnd();
    }
    const qsizetype errorAt = takeLiteral(text.size());
    if (errorAt >= 0)
        bytes.clear();
    return errorAt;
}

void CheckExpand(const QString &text, TextEncoding encoding, bool escapes)
{
    QByteArray bytes = "stale";
    qsizetype errorAt = -7;
    const bool ok = SendFrame::ExpandEscapes(text, encoding, escapes, bytes, errorAt);
    const QByteArray encoded = EncodeText(text, encoding);
    const bool hasBackslash = text.contains(u'\\');
    if (!ok) {
        FUZZ_CHECK(escapes && bytes.isEmpty());
        FUZZ_CHECK(errorAt >= 0 && errorAt < text.size() && text[errorAt] == u'\\');
    } else {
        FUZZ_CHECK(errorAt == -1);
    }
    if (escapes) {
        QByteArray expected;
        FUZZ_CHECK(ReferenceExpand(text, encoding, expected) == errorAt);
        FUZZ_CHECK(bytes == expected);
    }
    if (!ok)
        return;
    if (!escapes || !hasBackslash)
        FUZZ_CHECK(bytes == encoded);
    if (escapes && hasBackslash) {
        // An escape is one byte for two or four characters.
        FUZZ_CHECK(bytes.size() < encoded.size());
    }
    // The typed text with every backslash doubled comes out as its pieces between backslashes,
    // each encoded on its own, with a backslash byte between them. (Not always EncodeText of
    // the whole: that turns a lone high surrogate before a backslash into "?", but drops it at
    // the end of a piece as at the end of any text.)
    QString doubled = text;
    doubled.replace(u'\\', QStringLiteral("\\\\"));
    QByteArray pieces;
    for (const QStringView piece : QStringView(text).split(u'\\'))
        pieces += EncodeText(piece, encoding) + '\\';
    pieces.chop(1);
    QByteArray doubledBytes;
    FUZZ_CHECK(SendFrame::ExpandEscapes(doubled, encoding, true, doubledBytes, errorAt));
    FUZZ_CHECK(doubledBytes == pieces);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto flags = input.ConsumeIntegral<quint8>();
    SendOptions options;
    options.asTyped = flags & 1;
    options.escapes = flags & 2;
    const bool utf16 = flags & 4;
    options.ending = static_cast<LineEnding>(input.ConsumeIntegralInRange<int>(0, 3));
    options.checksum = static_cast<Checksum>(input.ConsumeIntegralInRange<int>(0, 8));
    options.order = static_cast<ChecksumOrder>(input.ConsumeIntegralInRange<int>(0, 2));
    const TextEncoding encoding =
        kTextEncodings[input.ConsumeIntegralInRange<std::size_t>(0, kTextEncodings.size() - 1)];
    const std::string rawText = input.ConsumeBytesAsString(
        input.ConsumeIntegralInRange<size_t>(0, input.remaining_bytes()));
    const std::string rawBody = input.ConsumeRemainingBytesAsString();

    QString text;
    if (utf16) {
        for (std::size_t i = 0; i + 1 < rawText.size(); i += 2)
            text += QChar(char16_t(quint8(rawText[i]) | quint8(rawText[i + 1]) << 8));
    } else {
        text = QString::fromUtf8(rawText.data(), qsizetype(rawText.size()));
    }
    CheckExpand(text, encoding, options.escapes);

    const QByteArrayView body(rawBody.data(), qsizetype(rawBody.size()));
    CheckChecksum(options.checksum, options.order, body);

    static const QByteArray kEndings[] = {"", "\r", "\n", "\r\n"};
    const QByteArray ending = kEndings[static_cast<int>(options.ending)];
    FUZZ_CHECK(SendFrame::EndingBytes(options.ending) == ending);
    FUZZ_CHECK(SendFrame::Trailer(options, body)
               == SendFrame::ChecksumBytes(options.checksum, options.order, body) + ending);

    // The whole payload, as the send box makes it for the preview and for the send alike:
    // on a failure nothing at all, otherwise body + trailer with the counts and the zero byte
    // where they belong.
    const bool hex = flags & 8;
    Payload payload;
    const PayloadCodec::HexFailure failure = SendRules::MakeFramedPayload(text, hex, encoding, options, payload);
    if (failure != PayloadCodec::HexFailure::None) {
        FUZZ_CHECK(payload.bytes.isEmpty());
        FUZZ_CHECK((failure == PayloadCodec::HexFailure::BadEscape) == (payload.failureAt >= 0));
    } else {
        const QByteArrayView framedBody = payload.Body();
        FUZZ_CHECK(payload.bytes.endsWith(SendFrame::Trailer(options, framedBody)));
        FUZZ_CHECK(payload.trailerSize == SendFrame::Trailer(options, framedBody).size());
        const bool zeroByte = !hex && !options.asTyped;
        FUZZ_CHECK((payload.uncountedAt >= 0) == zeroByte);
        if (zeroByte)
            FUZZ_CHECK(payload.uncountedAt == framedBody.size() - 1 && framedBody.back() == '\0');
        FUZZ_CHECK(payload.Counted() == payload.bytes.size() - (zeroByte ? 1 : 0));
        Payload again;
        SendRules::MakeFramedPayload(text, hex, encoding, options, again);
        FUZZ_CHECK(again.bytes == payload.bytes);
    }

    // The summary shows exactly what changes a send.
    const bool inEffect = options.asTyped || options.ending != LineEnding::None || options.checksum != Checksum::None;
    FUZZ_CHECK(SendFrame::Summary(options).isEmpty() == !inEffect);
    return 0;
}
