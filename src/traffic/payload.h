#pragma once

#include <QByteArray>
#include <QStringView>

#include "text/payload_codec.h"
#include "text/send_frame.h"
#include "text/text_encoding.h"

// The bytes one send puts on the wire, and what the pages count and record of them.
struct Payload
{
    QByteArray bytes;
    qsizetype uncountedAt = -1;  // the zero byte that ends a text send goes out uncounted
    QByteArray prepared;         // the send text without spaces (the digits in hex mode)
    bool hex = false;
    qsizetype trailerSize = 0;  // the send options' checksum and line ending, last in bytes
    qsizetype failureAt = -1;   // where a BadEscape failure is, in the typed text

    qint64 Counted() const { return bytes.size() - (uncountedAt >= 0 ? 1 : 0); }
    QByteArrayView Body() const { return QByteArrayView(bytes).first(bytes.size() - trailerSize); }
    // What the traffic log adds to the body's line for the trailer: " [+E4 09 0D 0A]", or
    // nothing without one.
    QByteArray TrailerLogText() const;
    // The UDP server's log text of a send: the text, or in hex mode the bytes themselves (up to
    // a zero byte, as the display shows them), then the trailer's.
    QByteArray BytesLogText() const;
};

// How a server answers every received block while "自动回复" is ticked: with the send box's
// data or with the block itself. None only before the page's controls exist.
enum class ReplyMode { None = -1, Data = 0, Echo = 1 };

// The rules that make a send's payload from the send box's text: the same for every page.
namespace SendRules {

// The send box's text as bytes. Text mode speaks the page's encoding; hex digits are read
// from GBK bytes whatever it is, so a hex send and its refusals never depend on it.
QByteArray SendText(QStringView text, bool hex, TextEncoding encoding);

// Spaces removed, then the text and its zero byte, or in hex mode the converted bytes (at
// most maxHexBytes of them). On a failure the payload is left empty.
PayloadCodec::HexFailure MakePayload(QByteArray text, bool hex, Payload &payload,
                                     int maxHexBytes = PayloadCodec::kMaxHexBytes);
// The payload of a text prepared already (a send to all prepares it once for every client).
PayloadCodec::HexFailure MakePayloadOfPrepared(const QByteArray &prepared, bool hex, Payload &payload,
                                               int maxHexBytes = PayloadCodec::kMaxHexBytes);
// A server's data reply: the payload of the text, or while it is empty the server's own
// fixed text with its zero byte, the same bytes whatever the page's encoding.
PayloadCodec::HexFailure MakeServerReply(QByteArray text, bool hex, Payload &payload,
                                         int maxHexBytes = PayloadCodec::kMaxHexBytes);

// The send box's payload under the send options: body + checksum(body) + line ending. The
// body is the hex bytes, the plain rules' text bytes (spaces removed, the zero byte last),
// or with asTyped the typed text after its escapes. Plain options give MakePayload's bytes.
PayloadCodec::HexFailure MakeFramedPayload(QStringView typed, bool hex, TextEncoding encoding,
                                           const SendOptions &options, Payload &payload,
                                           int maxHexBytes = PayloadCodec::kMaxHexBytes);

}  // namespace SendRules
