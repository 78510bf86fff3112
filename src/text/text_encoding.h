#pragma once

#include <QByteArray>
#include <QString>

#include <array>

// The encodings a traffic page can speak. GBK is the tool's own: the lists,
// the log files and every text of its own are GBK; the others only decide how a page turns
// its send box into bytes and received bytes into a display line.
enum class TextEncoding : quint8 { Gbk, Utf8, Big5, Latin1 };

inline constexpr std::array<TextEncoding, 4> kTextEncodings{TextEncoding::Gbk, TextEncoding::Utf8, TextEncoding::Big5,
                                                            TextEncoding::Latin1};

// "GBK", "UTF-8", "Big5", "ISO-8859-1".
QString TextEncodingName(TextEncoding encoding);

// Characters the encoding cannot hold become "?": the peer sees that something was there.
QByteArray EncodeText(QStringView text, TextEncoding encoding);

// Bytes that are not valid in the encoding show as U+FFFD; the bytes themselves are never
// changed. A multi-byte character cut off at the very end of bytes shows nothing; a display
// line always ends in CR LF, which shows it as U+FFFD.
QString DecodeText(QByteArrayView bytes, TextEncoding encoding);
