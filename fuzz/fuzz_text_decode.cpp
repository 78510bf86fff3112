// Display decoding of received bytes in each page encoding: DecodeText (src/platform/text_encoding).
//
// The first byte picks the encoding; the rest are the received bytes, decoded as they are and
// as a display line (with CR LF after them).
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "fuzz_check.h"
#include "text/text_encoding.h"

namespace {

// Bytes that never belong to a multi-byte character of the encoding: a GBK or Big5 trail byte
// is 0x40 or above, a UTF-8 continuation byte 0x80 or above, and Latin-1 has none.
bool StandsAlone(uint value, TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Gbk:
    case TextEncoding::Big5:
        return value < 0x40;
    case TextEncoding::Utf8:
        return value < 0x80;
    case TextEncoding::Latin1:
        return value < 0x100;
    }
    return false;
}

// Characters the decoders must have replaced by U+FFFD (see ReplaceUnmappedBytes).
bool IsUnmappedStandIn(QChar c, TextEncoding encoding)
{
    if (encoding == TextEncoding::Gbk)
        return c.unicode() == 0xF8F5;
    if (encoding == TextEncoding::Big5)
        return c.unicode() == 0xF8F8 || c.unicode() == 0x0080;
    return false;
}

void CheckDecoded(QByteArrayView bytes, const QString &text, TextEncoding encoding)
{
    // Never more UTF-16 units than bytes: a character takes at least as many bytes as units.
    FUZZ_CHECK(text.size() <= bytes.size());

    // Bytes that stand alone come back as themselves, in order, and nothing else decodes to
    // such a character.
    QString alone;
    for (const char byte : bytes)
        if (StandsAlone(static_cast<quint8>(byte), encoding))
            alone += QChar(static_cast<quint8>(byte));
    QString aloneInText;
    for (const QChar c : text) {
        if (StandsAlone(c.unicode(), encoding))
            aloneInText += c;
        FUZZ_CHECK(!IsUnmappedStandIn(c, encoding));
    }
    FUZZ_CHECK(aloneInText == alone);

    if (encoding == TextEncoding::Latin1)
        FUZZ_CHECK(text == QString::fromLatin1(bytes));

    // Plain ASCII is itself in every encoding.
    bool ascii = true;
    for (const char byte : bytes)
        ascii = ascii && static_cast<quint8>(byte) < 0x80;
    if (ascii)
        FUZZ_CHECK(text == QString::fromLatin1(bytes));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const TextEncoding encoding =
        kTextEncodings[input.ConsumeIntegralInRange<std::size_t>(0, kTextEncodings.size() - 1)];
    const std::string raw = input.ConsumeRemainingBytesAsString();
    const QByteArray bytes(raw.data(), qsizetype(raw.size()));

    const QString text = DecodeText(bytes, encoding);
    CheckDecoded(bytes, text, encoding);

    // A display line: never empty, and it ends in CR LF.
    const QByteArray line = bytes + "\r\n";
    const QString lineText = DecodeText(line, encoding);
    CheckDecoded(line, lineText, encoding);
    FUZZ_CHECK(lineText.endsWith(QLatin1String("\r\n")));

    // Each block is decoded on its own: what came before (even a cut-off character) changes
    // nothing.
    FUZZ_CHECK(DecodeText(bytes, encoding) == text);
    (void)DecodeText(QByteArrayView("\xE4\xB8", 2), encoding);
    FUZZ_CHECK(DecodeText(bytes, encoding) == text);
    return 0;
}
