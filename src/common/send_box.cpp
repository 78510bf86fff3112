#include "common/send_box.h"

#include <QCheckBox>
#include <QLineEdit>

#include "platform/gbk.h"

SendBox::SendBox(QLineEdit *edit, QCheckBox *hexSend)
    : m_edit(edit)
    , m_hexSend(hexSend)
{
}

QByteArray SendBox::Text() const
{
    return ToGbk(m_edit->text());
}

PayloadCodec::HexFailure SendBox::MakePayload(Payload &payload) const
{
    QByteArray prepared = Text();
    PayloadCodec::PrepareSendText(prepared);
    return MakePayloadOf(prepared, payload);
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
    if (!IsEmpty())
        return MakePayload(payload);
    static const QByteArray ownReply = ToGbk(u"服务器自己进行数据回复");
    payload = Payload{PayloadCodec::TextModePayload(ownReply), 1, ownReply, false};
    return PayloadCodec::HexFailure::None;
}
