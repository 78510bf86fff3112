#include "text/text_encoding.h"

#include <QList>
#include <QStringDecoder>
#include <QStringEncoder>

namespace {

constexpr std::array<const char *, kTextEncodings.size()> kNames{"GBK", "UTF-8", "Big5", "ISO-8859-1"};

constexpr std::size_t IndexOf(TextEncoding encoding)
{
    return static_cast<std::size_t>(encoding);
}

// ICU converters are not free to open, so each thread keeps its own, opened on first use.
template <typename Converter>
Converter &ConverterFor(TextEncoding encoding)
{
    thread_local std::array<Converter, kTextEncodings.size()> converters;
    Converter &converter = converters[IndexOf(encoding)];
    if (!converter.isValid())
        converter = Converter(kNames[IndexOf(encoding)]);
    return converter;
}

// The converters turn some single bytes that are no character into a character instead of
// flagging them: GBK a lone 0xFF into a private-use character, Big5 0xFF likewise and 0x80
// into the control character U+0080 (no Big5 pair decodes to either).
void ReplaceUnmappedBytes(QString &text, TextEncoding encoding)
{
    auto replace = [&text](char16_t unmapped) {
        if (text.contains(QChar(unmapped)))
            text.replace(QChar(unmapped), QChar::ReplacementCharacter);
    };
    if (encoding == TextEncoding::Gbk) {
        replace(0xF8F5);
    } else if (encoding == TextEncoding::Big5) {
        replace(0xF8F8);
        replace(0x0080);
    }
}

}  // namespace

QString TextEncodingName(TextEncoding encoding)
{
    return QString::fromLatin1(kNames[IndexOf(encoding)]);
}

QByteArray EncodeText(QStringView text, TextEncoding encoding)
{
    if (encoding == TextEncoding::Latin1) {
        // Qt's own Latin-1 encoder writes "?" per UTF-16 unit; like the others, one per
        // character, so a character outside the BMP is one "?", not two.
        QByteArray bytes;
        bytes.reserve(text.size());
        for (const uint codePoint : text.toUcs4())
            bytes.append(codePoint <= 0xFF ? static_cast<char>(codePoint) : '?');
        return bytes;
    }
    QStringEncoder &encoder = ConverterFor<QStringEncoder>(encoding);
    encoder.resetState();
    return encoder.encode(text);
}

QString DecodeText(QByteArrayView bytes, TextEncoding encoding)
{
    QStringDecoder &decoder = ConverterFor<QStringDecoder>(encoding);
    decoder.resetState();
    QString text = decoder.decode(bytes);
    ReplaceUnmappedBytes(text, encoding);
    return text;
}
