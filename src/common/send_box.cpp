#include "common/send_box.h"

#include <QCheckBox>
#include <QLineEdit>

#include <utility>

#include "common/encoding_box.h"
#include "platform/gbk.h"

SendBox::SendBox(QLineEdit *edit, QCheckBox *hexSend, const EncodingBox *encoding)
    : m_edit(edit)
    , m_hexSend(hexSend)
    , m_encoding(encoding)
{
}

QByteArray SendBox::Text() const
{
    if (m_hexSend->isChecked())
        return ToGbk(m_edit->text());
    return EncodeText(m_edit->text(), m_encoding->Encoding());
}

PayloadCodec::HexFailure SendBox::MakePayload(Payload &payload) const
{
    return MakePayloadOfText(Text(), payload);
}

PayloadCodec::HexFailure SendBox::MakePayloadOfText(QByteArray text, Payload &payload) const
{
    PayloadCodec::PrepareSendText(text);
    return MakePayloadOf(text, payload);
}

PayloadCodec::HexFailure SendBox::MakePayloadOf(const QByteArray &prepared, Payload &payload) const
{
    payload = Payload{};
    payload.prepared = prepared;
    payload.hex = m_hexSend->isChecked();
    if (!payload.hex) {
        payload.bytes = PayloadCodec::TextModePayload(prepared);
        payload.uncountedTail = 1;
        return PayloadCodec::HexFailure::None;
    }
    std::array<char, PayloadCodec::kHexBufferSize> buffer;
    int byteCount = 0;
    const PayloadCodec::HexFailure failure = PayloadCodec::EncodeHex(prepared, buffer, byteCount);
    if (failure == PayloadCodec::HexFailure::None)
        payload.bytes = QByteArray(buffer.data(), byteCount);
    return failure;
}

PayloadCodec::HexFailure SendBox::MakeServerReply(Payload &payload) const
{
    // Called for every received block: the box's text is encoded once.
    QByteArray text = Text();
    if (!text.isEmpty())
        return MakePayloadOfText(std::move(text), payload);
    // The server's own words are fixed bytes, whatever the page's encoding.
    static const QByteArray ownReply = ToGbk(u"服务器自己进行数据回复");
    payload = Payload{PayloadCodec::TextModePayload(ownReply), 1, ownReply, false};
    return PayloadCodec::HexFailure::None;
}
