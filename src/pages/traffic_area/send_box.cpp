#include "pages/traffic_area/send_box.h"

#include <QCheckBox>
#include <QLineEdit>

#include "widgets/encoding_box.h"

SendBox::SendBox(QLineEdit *edit, QCheckBox *hexSend, const EncodingBox *encoding)
    : m_edit(edit)
    , m_hexSend(hexSend)
    , m_encoding(encoding)
{
}

bool SendBox::IsHex() const
{
    return m_command ? m_command->hex : m_hexSend->isChecked();
}

QString SendBox::Typed() const
{
    return m_command ? m_command->text : m_edit->text();
}

TextEncoding SendBox::Encoding() const
{
    return m_command ? m_command->encoding : m_encoding->Encoding();
}

QByteArray SendBox::Text() const
{
    return SendRules::SendText(Typed(), IsHex(), Encoding());
}

PayloadCodec::HexFailure SendBox::MakePayload(Payload &payload) const
{
    if (!ActiveOptions().IsPlain())
        return SendRules::MakeFramedPayload(Typed(), IsHex(), Encoding(), ActiveOptions(), payload, m_maxHexBytes);
    return SendRules::MakePayload(Text(), IsHex(), payload, m_maxHexBytes);
}

PayloadCodec::HexFailure SendBox::MakePayloadOf(const QByteArray &prepared, Payload &payload) const
{
    // With options the frame comes from the text as typed, which the prepared text has lost.
    if (!ActiveOptions().IsPlain())
        return MakePayload(payload);
    return SendRules::MakePayloadOfPrepared(prepared, IsHex(), payload, m_maxHexBytes);
}

PayloadCodec::HexFailure SendBox::MakeServerReply(Payload &payload) const
{
    // A reply answers from the box, even while a box of a command send is open. The
    // server's own reply for an empty box goes as it always does.
    const QString typed = m_edit->text();
    const bool hex = m_hexSend->isChecked();
    if (!m_options.IsPlain() && !typed.isEmpty())
        return SendRules::MakeFramedPayload(typed, hex, m_encoding->Encoding(), m_options, payload, m_maxHexBytes);
    return SendRules::MakeServerReply(SendRules::SendText(typed, hex, m_encoding->Encoding()), hex, payload,
                                      m_maxHexBytes);
}
