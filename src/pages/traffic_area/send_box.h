#pragma once

#include <QByteArray>

#include "traffic/commands/command_library.h"
#include "traffic/payload.h"

class EncodingBox;
class QCheckBox;
class QLineEdit;

// A page's send box with its "16进制发送" box, the page's encoding and its send options: the
// text as bytes, and the payload it makes under the send rules and the options.
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

    // How many bytes a hex send may carry: 127, or with 大数据 a whole datagram's worth.
    void SetMaxHexBytes(int bytes) { m_maxHexBytes = bytes; }
    void SetOptions(const SendOptions &options) { m_options = options; }
    const SendOptions &Options() const { return m_options; }
    // While set, the sends come from this command (its text, mode, encoding and options)
    // instead of the box; the box and its check boxes stay as they are.
    void SetCommand(const Command *command) { m_command = command; }

private:
    QLineEdit *m_edit;
    QCheckBox *m_hexSend;
    const EncodingBox *m_encoding;
    QString Typed() const;
    TextEncoding Encoding() const;
    const SendOptions &ActiveOptions() const { return m_command ? m_command->options : m_options; }

    SendOptions m_options;
    const Command *m_command = nullptr;
    int m_maxHexBytes = PayloadCodec::kMaxHexBytes;
};
