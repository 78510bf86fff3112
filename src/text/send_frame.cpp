#include "text/send_frame.h"

#include <QStringList>

#include <utility>

#include "text/checksums.h"

namespace SendFrame {

namespace {

constexpr QChar kBackslash = u'\\';

int HexDigitValue(QChar c)
{
    // ASCII only: QChar::isDigit would take full-width and other digits too.
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

// The byte of the escape whose backslash is at text[at]; its length in characters, or 0 when
// it is none.
qsizetype ReadEscape(QStringView text, qsizetype at, char &byte)
{
    if (at + 1 >= text.size())
        return 0;
    switch (text[at + 1].unicode()) {
    case u'r':
        byte = '\r';
        return 2;
    case u'n':
        byte = '\n';
        return 2;
    case u't':
        byte = '\t';
        return 2;
    case u'\\':
        byte = '\\';
        return 2;
    case u'0':
        byte = '\0';
        return 2;
    case u'x': {
        if (at + 3 >= text.size())
            return 0;
        const int high = HexDigitValue(text[at + 2]);
        const int low = HexDigitValue(text[at + 3]);
        if (high < 0 || low < 0)
            return 0;
        byte = static_cast<char>((high << 4) | low);
        return 4;
    }
    default:
        return 0;
    }
}

bool LowByteFirst(Checksum checksum, ChecksumOrder order)
{
    switch (order) {
    case ChecksumOrder::Usual:
        return checksum == Checksum::Crc16Modbus;
    case ChecksumOrder::LowFirst:
        return true;
    case ChecksumOrder::HighFirst:
        return false;
    }
    return false;
}

QString ShortChecksumName(Checksum checksum)
{
    switch (checksum) {
    case Checksum::None:
        return {};
    case Checksum::Sum8:
        return QStringLiteral("Sum8");
    case Checksum::Xor8:
        return QStringLiteral("XOR8");
    case Checksum::Lrc:
        return QStringLiteral("LRC");
    case Checksum::Crc8Smbus:
        return QStringLiteral("CRC8");
    case Checksum::Crc16Modbus:
        return QStringLiteral("CRC16/MODBUS");
    case Checksum::Crc16Ibm3740:
        return QStringLiteral("CRC16/IBM-3740");
    case Checksum::Crc16Xmodem:
        return QStringLiteral("CRC16/XMODEM");
    case Checksum::Crc32IsoHdlc:
        return QStringLiteral("CRC32");
    }
    return {};
}

}  // namespace

quint32 ChecksumValue(Checksum checksum, QByteArrayView bytes)
{
    switch (checksum) {
    case Checksum::None:
        return 0;
    case Checksum::Sum8:
        return Checksums::Sum8(bytes);
    case Checksum::Xor8:
        return Checksums::Xor8(bytes);
    case Checksum::Lrc:
        return Checksums::Lrc(bytes);
    case Checksum::Crc8Smbus:
        return Checksums::Crc8Smbus(bytes);
    case Checksum::Crc16Modbus:
        return Checksums::Crc16Modbus(bytes);
    case Checksum::Crc16Ibm3740:
        return Checksums::Crc16Ibm3740(bytes);
    case Checksum::Crc16Xmodem:
        return Checksums::Crc16Xmodem(bytes);
    case Checksum::Crc32IsoHdlc:
        return Checksums::Crc32IsoHdlc(bytes);
    }
    return 0;
}

int ChecksumWidth(Checksum checksum)
{
    switch (checksum) {
    case Checksum::None:
        return 0;
    case Checksum::Sum8:
    case Checksum::Xor8:
    case Checksum::Lrc:
    case Checksum::Crc8Smbus:
        return 1;
    case Checksum::Crc16Modbus:
    case Checksum::Crc16Ibm3740:
    case Checksum::Crc16Xmodem:
        return 2;
    case Checksum::Crc32IsoHdlc:
        return 4;
    }
    return 0;
}

QByteArray ChecksumBytes(Checksum checksum, ChecksumOrder order, QByteArrayView body)
{
    const int width = ChecksumWidth(checksum);
    const quint32 value = ChecksumValue(checksum, body);
    const bool lowFirst = LowByteFirst(checksum, order);
    QByteArray bytes(width, Qt::Uninitialized);
    for (int i = 0; i < width; ++i) {
        const int shift = 8 * (lowFirst ? i : width - 1 - i);
        bytes[i] = static_cast<char>(value >> shift);
    }
    return bytes;
}

QByteArray EndingBytes(LineEnding ending)
{
    switch (ending) {
    case LineEnding::None:
        return {};
    case LineEnding::Cr:
        return QByteArrayLiteral("\r");
    case LineEnding::Lf:
        return QByteArrayLiteral("\n");
    case LineEnding::CrLf:
        return QByteArrayLiteral("\r\n");
    }
    return {};
}

QByteArray Trailer(const SendOptions &options, QByteArrayView body)
{
    return ChecksumBytes(options.checksum, options.order, body) + EndingBytes(options.ending);
}

bool ExpandEscapes(QStringView text, TextEncoding encoding, bool escapes, QByteArray &bytes, qsizetype &errorAt)
{
    errorAt = -1;
    if (!escapes) {
        bytes = EncodeText(text, encoding);
        return true;
    }
    // The text is read as characters, not as encoded bytes: a GBK or Big5 trail byte can be
    // 0x5C, the backslash, and must not start an escape.
    QByteArray expanded;
    qsizetype runStart = 0;
    for (qsizetype at = text.indexOf(kBackslash); at >= 0; at = text.indexOf(kBackslash, runStart)) {
        char byte = 0;
        const qsizetype length = ReadEscape(text, at, byte);
        if (length == 0) {
            bytes.clear();
            errorAt = at;
            return false;
        }
        expanded += EncodeText(text.sliced(runStart, at - runStart), encoding);
        expanded += byte;
        runStart = at + length;
    }
    expanded += EncodeText(text.sliced(runStart), encoding);
    bytes = std::move(expanded);
    return true;
}

QString ChecksumName(Checksum checksum)
{
    switch (checksum) {
    case Checksum::None:
        return QStringLiteral("无");
    case Checksum::Sum8:
        return QStringLiteral("Sum-8");
    case Checksum::Xor8:
        return QStringLiteral("XOR-8");
    case Checksum::Lrc:
        return QStringLiteral("LRC");
    case Checksum::Crc8Smbus:
        return QStringLiteral("CRC-8/SMBUS");
    case Checksum::Crc16Modbus:
        return QStringLiteral("CRC-16/MODBUS");
    case Checksum::Crc16Ibm3740:
        return QStringLiteral("CRC-16/IBM-3740");
    case Checksum::Crc16Xmodem:
        return QStringLiteral("CRC-16/XMODEM");
    case Checksum::Crc32IsoHdlc:
        return QStringLiteral("CRC-32/ISO-HDLC");
    }
    return {};
}

QString EndingName(LineEnding ending)
{
    switch (ending) {
    case LineEnding::None:
        return QStringLiteral("无");
    case LineEnding::Cr:
        return QStringLiteral("CR");
    case LineEnding::Lf:
        return QStringLiteral("LF");
    case LineEnding::CrLf:
        return QStringLiteral("CR LF");
    }
    return {};
}

QString Summary(const SendOptions &options)
{
    QStringList parts;
    if (options.asTyped)
        parts << QStringLiteral("原样");
    if (options.asTyped && options.escapes)
        parts << QStringLiteral("转义");
    if (options.ending != LineEnding::None)
        parts << EndingName(options.ending).remove(u' ');
    if (options.checksum != Checksum::None) {
        QString checksum = ShortChecksumName(options.checksum);
        // The order matters only where there is more than one byte.
        if (ChecksumWidth(options.checksum) > 1 && options.order != ChecksumOrder::Usual)
            checksum += options.order == ChecksumOrder::LowFirst ? QStringLiteral(" 低前") : QStringLiteral(" 高前");
        parts << checksum;
    }
    return parts.join(QStringLiteral(" · "));
}

}  // namespace SendFrame
