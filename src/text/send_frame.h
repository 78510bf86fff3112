#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include "text/text_encoding.h"

// What "发送选项…" changes in a page's sends; everything off is the plain send rules.
enum class LineEnding { None, Cr, Lf, CrLf };
enum class Checksum { None, Sum8, Xor8, Lrc, Crc8Smbus, Crc16Modbus, Crc16Ibm3740, Crc16Xmodem, Crc32IsoHdlc };
// Usual: CRC-16/MODBUS low byte first, every other wide checksum high byte first.
enum class ChecksumOrder { Usual, LowFirst, HighFirst };

struct SendOptions
{
    bool asTyped = false;  // 原样发送: the text as typed, without the zero byte
    bool escapes = false;  // 转义: only with asTyped
    LineEnding ending = LineEnding::None;
    Checksum checksum = Checksum::None;
    ChecksumOrder order = ChecksumOrder::Usual;

    bool IsPlain() const { return *this == SendOptions{}; }
    bool operator==(const SendOptions &other) const = default;
};

// A send's frame: body + checksum(body) + line ending.
namespace SendFrame {

// The checksum of bytes, in the low 8, 16 or 32 bits.
quint32 ChecksumValue(Checksum checksum, QByteArrayView bytes);
// Its width in bytes: 0, 1, 2 or 4.
int ChecksumWidth(Checksum checksum);
// The checksum of body as the bytes that follow it, in the order chosen.
QByteArray ChecksumBytes(Checksum checksum, ChecksumOrder order, QByteArrayView body);
QByteArray EndingBytes(LineEnding ending);
// What follows the body: its checksum, then the line ending.
QByteArray Trailer(const SendOptions &options, QByteArrayView body);

// The typed text as bytes in encoding; with escapes, \r \n \t \\ \0 and \xHH (two hex digits)
// stand for their bytes. False, with bytes empty, when a backslash starts anything else:
// errorAt is then that backslash's index in text, otherwise -1.
bool ExpandEscapes(QStringView text, TextEncoding encoding, bool escapes, QByteArray &bytes, qsizetype &errorAt);

// The user's names: "CRC-16/MODBUS", "无"…; "CR LF"…
QString ChecksumName(Checksum checksum);
QString EndingName(LineEnding ending);
// What is on, short, for the strip under the display list: "原样 · 转义 · CRLF · CRC16/MODBUS";
// empty when nothing is.
QString Summary(const SendOptions &options);

}  // namespace SendFrame
