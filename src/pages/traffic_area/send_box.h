#pragma once

#include <QByteArray>

#include "traffic/payload.h"

class EncodingBox;
class QCheckBox;
class QLineEdit;

// A page's send box with its "16进制发送" box and the page's encoding: the text as bytes,
// and the payload it makes under the send rules.
class SendBox
{
public:
    SendBox(QLineEdit *edit, QCheckBox *hexSend, const EncodingBox *encoding);

    QByteArray Text() const;
    bool IsEmpty() const { return Text().isEmpty(); }
    bool IsHex() const;
    PayloadCodec::HexFailure MakePayload(Payload &payload) const;
    PayloadCodec::HexFailure MakePayloadOf(const QByteArray &prepared, Payload &payload) const;
    // Called for every received block: the box's text is encoded once.
    PayloadCodec::HexFailure MakeServerReply(Payload &payload) const;

private:
    QLineEdit *m_edit;
    QCheckBox *m_hexSend;
    const EncodingBox *m_encoding;
};
