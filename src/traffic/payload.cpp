#include "traffic/payload.h"

#include <utility>

#include "text/gbk.h"

QByteArray Payload::TrailerLogText() const
{
    if (trailerSize == 0)
        return {};
    return " [+" + bytes.right(trailerSize).toHex(' ').toUpper() + ']';
}

QByteArray Payload::BytesLogText() const
{
    return (hex ? PayloadCodec::DataText(Body(), false) : prepared) + TrailerLogText();
}

namespace SendRules {

QByteArray SendText(QStringView text, bool hex, TextEncoding encoding)
{
    return hex ? ToGbk(text) : EncodeText(text, encoding);
}

PayloadCodec::HexFailure MakePayload(QByteArray text, bool hex, Payload &payload, int maxHexBytes)
{
    PayloadCodec::PrepareSendText(text);
    return MakePayloadOfPrepared(text, hex, payload, maxHexBytes);
}

PayloadCodec::HexFailure MakePayloadOfPrepared(const QByteArray &prepared, bool hex, Payload &payload, int maxHexBytes)
{
    payload = Payload{};
    payload.prepared = prepared;
    payload.hex = hex;
    if (!hex) {
        payload.bytes = PayloadCodec::TextModePayload(prepared);
        payload.uncountedAt = payload.bytes.size() - 1;
        return PayloadCodec::HexFailure::None;
    }
    return PayloadCodec::EncodeHex(prepared, payload.bytes, maxHexBytes);
}

PayloadCodec::HexFailure MakeServerReply(QByteArray text, bool hex, Payload &payload, int maxHexBytes)
{
    if (!text.isEmpty())
        return MakePayload(std::move(text), hex, payload, maxHexBytes);
    static const QByteArray ownReply = ToGbk(u"服务器自己进行数据回复");
    payload = Payload{PayloadCodec::TextModePayload(ownReply), ownReply.size(), ownReply, false};
    return PayloadCodec::HexFailure::None;
}

PayloadCodec::HexFailure MakeFramedPayload(QStringView typed, bool hex, TextEncoding encoding,
                                           const SendOptions &options, Payload &payload, int maxHexBytes)
{
    if (hex || !options.asTyped) {
        const PayloadCodec::HexFailure failure =
            MakePayload(SendText(typed, hex, encoding), hex, payload, maxHexBytes);
        if (failure != PayloadCodec::HexFailure::None)
            return failure;
    } else {
        payload = Payload{};
        qsizetype errorAt = -1;
        if (!SendFrame::ExpandEscapes(typed, encoding, options.escapes, payload.bytes, errorAt)) {
            payload.failureAt = errorAt;
            return PayloadCodec::HexFailure::BadEscape;
        }
        payload.prepared = EncodeText(typed, encoding);  // the log line shows it as typed
    }
    const QByteArray trailer = SendFrame::Trailer(options, payload.bytes);
    payload.bytes += trailer;
    payload.trailerSize = trailer.size();
    return PayloadCodec::HexFailure::None;
}

}  // namespace SendRules
