#include "platform/gbk.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

// ICU converters are not free to open, so each thread keeps its own pair.
QStringEncoder &Encoder()
{
    thread_local QStringEncoder encoder("GBK");
    return encoder;
}

QStringDecoder &Decoder()
{
    thread_local QStringDecoder decoder("GBK");
    return decoder;
}

// The converter turns a lone 0xFF into this private-use character instead of flagging it.
constexpr char16_t kUnmappedFF = 0xF8F5;

} // namespace

QByteArray ToGbk(QStringView text)
{
    QStringEncoder &encoder = Encoder();
    encoder.resetState();
    return encoder.encode(text);
}

QString FromGbk(QByteArrayView bytes)
{
    QStringDecoder &decoder = Decoder();
    decoder.resetState();
    QString text = decoder.decode(bytes);
    if (text.contains(QChar(kUnmappedFF)))
        text.replace(QChar(kUnmappedFF), QChar::ReplacementCharacter);
    return text;
}
