#pragma once

#include <QByteArray>

#include "common/payload_codec.h"

class EncodingBox;
class QCheckBox;
class QLineEdit;

// The bytes one send puts on the wire, and what the pages count and record of them.
struct Payload
{
    QByteArray bytes;
    int uncountedTail = 0;  // the zero byte that ends a text send goes out uncounted
    QByteArray prepared;    // the send text without spaces (the digits in hex mode)
    bool hex = false;

    qint64 Counted() const { return bytes.size() - uncountedTail; }
};

// A page's send box with its "16进制发送" box: the text as bytes, and the payload it makes
// under the payload rules.
class SendBox
{
public:
    SendBox(QLineEdit *edit, QCheckBox *hexSend, const EncodingBox *encoding);

    // Text mode speaks the page's encoding; hex digits are read from GBK bytes whatever it
    // is, so a hex send and its refusals never depend on it.
    QByteArray Text() const;
    bool IsEmpty() const { return Text().isEmpty(); }
    // Spaces removed, then the text and its zero byte, or in hex mode the converted bytes.
    // On a failure the payload is left empty.
    PayloadCodec::HexFailure MakePayload(Payload &payload) const;
    // The payload of the text prepared already (send to all prepares it once for every client).
    PayloadCodec::HexFailure MakePayloadOf(const QByteArray &prepared, Payload &payload) const;

    // A server's data reply: the payload of the send box, or while the box is empty the
    // server's own fixed text with its zero byte.
    PayloadCodec::HexFailure MakeServerReply(Payload &payload) const;

private:
    PayloadCodec::HexFailure MakePayloadOfText(QByteArray text, Payload &payload) const;

    QLineEdit *m_edit;
    QCheckBox *m_hexSend;
    const EncodingBox *m_encoding;
};
