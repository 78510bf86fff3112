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
    return m_hexSend->isChecked();
}

QByteArray SendBox::Text() const
{
    return SendRules::SendText(m_edit->text(), IsHex(), m_encoding->Encoding());
}

PayloadCodec::HexFailure SendBox::MakePayload(Payload &payload) const
{
    if (!m_options.IsPlain())
        return SendRules::MakeFramedPayload(m_edit->text(), IsHex(), m_encoding->Encoding(), m_options, payload);
    return SendRules::MakePayload(Text(), IsHex(), payload);
}

PayloadCodec::HexFailure SendBox::MakePayloadOf(const QByteArray &prepared, Payload &payload) const
{
    // With options the frame comes from the text as typed, which the prepared text has lost.
    if (!m_options.IsPlain())
        return MakePayload(payload);
    return SendRules::MakePayloadOfPrepared(prepared, IsHex(), payload);
}

PayloadCodec::HexFailure SendBox::MakeServerReply(Payload &payload) const
{
    // The server's own reply for an empty box goes as it always does.
    if (!m_options.IsPlain() && !m_edit->text().isEmpty())
        return MakePayload(payload);
    return SendRules::MakeServerReply(Text(), IsHex(), payload);
}
