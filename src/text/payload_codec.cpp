#include "text/payload_codec.h"

namespace PayloadCodec {

namespace {

constexpr char kSpace = ' ';
constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Writes "%02X " for every byte straight into the end of out, sized once.
void AppendHex(QByteArray &out, QByteArrayView block)
{
    const qsizetype start = out.size();
    out.resize(start + 3 * block.size());
    char *dest = out.data() + start;
    for (const char byte : block) {
        const auto value = static_cast<quint8>(byte);
        *dest++ = kHexDigits[value >> 4];
        *dest++ = kHexDigits[value & 0x0F];
        *dest++ = kSpace;
    }
}

QByteArrayView TextPart(QByteArrayView block)
{
    const qsizetype nul = block.indexOf('\0');
    return nul < 0 ? block : block.first(nul);
}

}  // namespace

QString FailureMessage(HexFailure failure)
{
    switch (failure) {
    case HexFailure::None:
        return {};
    case HexFailure::OddLength:
        return QStringLiteral("输入格式不符合要求!");
    case HexFailure::TooLong:
        return QStringLiteral("您一次要发送的字节太长!");
    case HexFailure::BadToken:
        return QStringLiteral("输入的16进制格式错误!");
    case HexFailure::BadEscape:
        return QStringLiteral("转义字符无效!");
    }
    return {};
}

void PrepareSendText(QByteArray &text)
{
    // A GBK trail byte is 0x40..0xFE, never 0x20, so dropping every 0x20 byte leaves each
    // double-byte character whole.
    text.removeIf([](char c) { return c == kSpace; });
}

HexFailure EncodeHex(QByteArrayView prepared, QByteArray &bytes, int maxBytes)
{
    bytes.clear();
    if (prepared.size() % 2 != 0)
        return HexFailure::OddLength;
    const qsizetype count = prepared.size() / 2;
    if (count > maxBytes)
        return HexFailure::TooLong;
    QByteArray converted(count, Qt::Uninitialized);
    for (qsizetype k = 0; k < count; ++k) {
        quint8 value = 0;
        // No half-converted bytes are left behind: bytes stays empty.
        if (!HexTokenToByte(prepared.sliced(2 * k, 2), value))
            return HexFailure::BadToken;
        converted[k] = static_cast<char>(value);
    }
    bytes = std::move(converted);
    return HexFailure::None;
}

bool HexTokenToByte(QByteArrayView token, quint8 &out)
{
    // Bytes of a double-byte character are never digits: a lead byte (0x81 and up) fails here
    // before its trail byte is looked at.
    quint8 value = 0;
    for (const char c : token) {
        if (c == kSpace)
            continue;
        const int digit = HexDigitValue(c);
        if (digit < 0)
            return false;
        value = static_cast<quint8>(value * 16 + digit);  // wraps modulo 256
    }
    out = value;
    return true;
}

QByteArray DataText(QByteArrayView block, bool hexDisplay)
{
    if (!hexDisplay)
        return TextPart(block).toByteArray();
    QByteArray text;
    AppendHex(text, block);
    return text;
}

QByteArray FormatReceived(QByteArrayView block, bool hexDisplay, QByteArrayView peerText)
{
    const QByteArrayView textPart = hexDisplay ? QByteArrayView() : TextPart(block);
    const qsizetype dataSize = hexDisplay ? 3 * block.size() : textPart.size();
    QByteArray line;
    line.reserve(peerText.size() + 1 + dataSize + 2);
    line.append(peerText);
    line.append(kSpace);
    if (hexDisplay)
        AppendHex(line, block);
    else
        line.append(textPart);
    line.append("\r\n", 2);
    return line;
}

QByteArray TextModePayload(QByteArrayView prepared)
{
    QByteArray payload;
    payload.reserve(prepared.size() + 1);
    payload.append(prepared);
    payload.append('\0');
    return payload;
}

}  // namespace PayloadCodec
