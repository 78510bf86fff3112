// Send text to wire bytes and received bytes to display lines.
#include <QtTest>

#include "text/gbk.h"
#include "text/payload_codec.h"
#include "text/text_encoding.h"

using namespace PayloadCodec;

namespace {

QByteArray Repeat(const char *pair, int times)
{
    return QByteArray(pair).repeated(times);
}

}  // namespace

class TestPayloadCodec : public QObject
{
    Q_OBJECT

private slots:
    void textModeSend_data();
    void textModeSend();
    void hexModeSend_data();
    void hexModeSend();
    void hexToken_data();
    void hexToken();
    void receivedLine_data();
    void receivedLine();
    void hexDisplayOfEveryByteValue();
    void textInEveryEncoding_data();
    void textInEveryEncoding();
    void invalidBytesShowAsReplacement_data();
    void invalidBytesShowAsReplacement();
};

void TestPayloadCodec::textModeSend_data()
{
    QTest::addColumn<QByteArray>("sendText");
    QTest::addColumn<QByteArray>("prepared");

    QTest::newRow("spaces inside") << QByteArray("a b") << QByteArray("ab");
    QTest::newRow("words") << QByteArray(" hello  world ") << QByteArray("helloworld");
    QTest::newRow("blanks only") << QByteArray("   ") << QByteArray();
    QTest::newRow("chinese") << ToGbk(u"你 好") << ToGbk(u"你好");
    // 丄 is 81 41: its trail byte is the letter A and must stay paired with its lead byte.
    QTest::newRow("trail byte looks ascii") << ToGbk(u" 丄 A 你") << ToGbk(u"丄A你");
}

void TestPayloadCodec::textModeSend()
{
    QFETCH(QByteArray, sendText);
    QFETCH(QByteArray, prepared);

    QByteArray text = sendText;
    PrepareSendText(text);
    QCOMPARE(text, prepared);
    QCOMPARE(FromGbk(text), FromGbk(sendText).remove(QLatin1Char(' ')));
    QCOMPARE(TextModePayload(text), prepared + QByteArray(1, '\0'));
}

void TestPayloadCodec::hexModeSend_data()
{
    QTest::addColumn<QByteArray>("sendText");
    QTest::addColumn<HexFailure>("failure");
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray none;
    QTest::newRow("spaced mixed case") << QByteArray("01 02 0a FF") << HexFailure::None
                                       << QByteArray::fromHex("01020AFF");
    QTest::newRow("blanks only") << QByteArray("  ") << HexFailure::None << none;
    QTest::newRow("127 bytes") << Repeat("aB", 127) << HexFailure::None << Repeat("\xAB", 127);
    QTest::newRow("odd") << QByteArray("1 2 3") << HexFailure::OddLength << none;
    QTest::newRow("128 bytes") << Repeat("00", 128) << HexFailure::TooLong << none;
    QTest::newRow("odd before too long") << Repeat("00", 128) + "0" << HexFailure::OddLength << none;
    QTest::newRow("0x prefix") << QByteArray("0x12") << HexFailure::BadToken << none;
    QTest::newRow("not a digit") << QByteArray("GG") << HexFailure::BadToken << none;
    QTest::newRow("first bad stops") << QByteArray("G0 01 02") << HexFailure::BadToken << none;
    QTest::newRow("last bad") << QByteArray("01 02 0G") << HexFailure::BadToken << none;
    QTest::newRow("chinese") << ToGbk(u"你好") << HexFailure::BadToken << none;
    QTest::newRow("trail byte is A") << ToGbk(u"0丄0") << HexFailure::BadToken << none;
}

void TestPayloadCodec::hexModeSend()
{
    QFETCH(QByteArray, sendText);
    QFETCH(HexFailure, failure);
    QFETCH(QByteArray, bytes);

    QByteArray text = sendText;
    PrepareSendText(text);
    QByteArray converted("stale");  // what a previous send left behind
    const HexFailure result = EncodeHex(text, converted);

    static const QHash<HexFailure, QString> messages = {
        {HexFailure::None, QString()},
        {HexFailure::OddLength, "输入格式不符合要求!"},
        {HexFailure::TooLong, "您一次要发送的字节太长!"},
        {HexFailure::BadToken, "输入的16进制格式错误!"},
    };
    QCOMPARE(FailureMessage(result), messages.value(failure));
    QVERIFY(result == failure);
    // Never stale bytes of an earlier send nor, after a bad token, the bytes converted before it.
    QCOMPARE(converted, bytes);
}

void TestPayloadCodec::hexToken_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");

    QTest::newRow("0") << QByteArray("0") << true << 0;
    QTest::newRow("9") << QByteArray("9") << true << 9;
    QTest::newRow("a") << QByteArray("a") << true << 10;
    QTest::newRow("F") << QByteArray("F") << true << 15;
    QTest::newRow("ff") << QByteArray("ff") << true << 255;
    QTest::newRow("spaced") << QByteArray("F F") << true << 255;
    QTest::newRow("empty") << QByteArray() << true << 0;
    QTest::newRow("wraps") << QByteArray("123") << true << 0x23;
    QTest::newRow("g") << QByteArray("g") << false << 0;
    QTest::newRow("colon after 9") << QByteArray("9:") << false << 0;
    QTest::newRow("at before A") << QByteArray("@") << false << 0;
    QTest::newRow("double byte") << ToGbk(u"丄") << false << 0;
}

void TestPayloadCodec::hexToken()
{
    QFETCH(QByteArray, token);
    QFETCH(bool, ok);
    QFETCH(int, value);

    quint8 out = 0x5A;
    QCOMPARE(HexTokenToByte(token, out), ok);
    QCOMPARE(int(out), ok ? value : 0x5A);  // untouched on failure
}

void TestPayloadCodec::receivedLine_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<bool>("hexDisplay");
    QTest::addColumn<QByteArray>("line");

    const QByteArray peer = "192.168.1.20:3012";
    QTest::newRow("hello hex") << QByteArray("hello") << true << peer + " 68 65 6C 6C 6F \r\n";
    QTest::newRow("hello text") << QByteArray("hello") << false << peer + " hello\r\n";
    const QByteArray withNul = QByteArray::fromHex("4142004344");
    QTest::newRow("nul hex") << withNul << true << peer + " 41 42 00 43 44 \r\n";
    QTest::newRow("nul text") << withNul << false << peer + " AB\r\n";
    QTest::newRow("leading nul") << QByteArray("\0AB", 3) << false << peer + " \r\n";
    QTest::newRow("empty hex") << QByteArray() << true << peer + " \r\n";
    QTest::newRow("empty text") << QByteArray() << false << peer + " \r\n";
    QTest::newRow("chinese text") << ToGbk(u"你好") << false << peer + " " + ToGbk(u"你好") + "\r\n";
    QTest::newRow("invalid gbk kept") << QByteArray("\xFF\x81") << false << peer + " \xFF\x81\r\n";
}

void TestPayloadCodec::receivedLine()
{
    QFETCH(QByteArray, block);
    QFETCH(bool, hexDisplay);
    QFETCH(QByteArray, line);

    const QByteArray peer = "192.168.1.20:3012";
    // The block sits in a larger read buffer: nothing past its count may show.
    const QByteArray readBuffer = block + "tail";
    const QByteArrayView view(readBuffer.constData(), block.size());
    QCOMPARE(FormatReceived(view, hexDisplay, peer), line);
    QCOMPARE(DataText(view, hexDisplay), line.sliced(peer.size() + 1).chopped(2));
}

void TestPayloadCodec::hexDisplayOfEveryByteValue()
{
    QByteArray block;
    QByteArray expected;
    for (int value = 0; value < 256; ++value) {
        block.append(char(value));
        expected.append(QString::asprintf("%02X ", value).toLatin1());
    }
    QCOMPARE(DataText(block, true), expected);
}

void TestPayloadCodec::textInEveryEncoding_data()
{
    QTest::addColumn<TextEncoding>("encoding");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("gbk") << TextEncoding::Gbk << QString("A中文") << QByteArray("A\xD6\xD0\xCE\xC4");
    QTest::newRow("utf-8") << TextEncoding::Utf8 << QString("A中文😀")
                           << QByteArray("A\xE4\xB8\xAD\xE6\x96\x87\xF0\x9F\x98\x80");
    QTest::newRow("big5") << TextEncoding::Big5 << QString("A中體") << QByteArray("A\xA4\xA4\xC5\xE9");
    QTest::newRow("iso-8859-1") << TextEncoding::Latin1 << QString("Aé\u00FF") << QByteArray("A\xE9\xFF");
}

void TestPayloadCodec::textInEveryEncoding()
{
    QFETCH(TextEncoding, encoding);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);

    QCOMPARE(EncodeText(text, encoding), bytes);
    QCOMPARE(DecodeText(bytes, encoding), text);
    // What an encoding cannot hold goes out as "?", one per character.
    if (encoding != TextEncoding::Utf8)
        QCOMPARE(EncodeText(u"x😀", encoding), QByteArray("x?"));
    if (encoding == TextEncoding::Latin1)
        QCOMPARE(EncodeText(u"中é", encoding), QByteArray("?\xE9"));
}

void TestPayloadCodec::invalidBytesShowAsReplacement_data()
{
    QTest::addColumn<TextEncoding>("encoding");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    const QString bad(QChar::ReplacementCharacter);
    QTest::newRow("gbk ff") << TextEncoding::Gbk << QByteArray("a\xFF\r\n") << "a" + bad + "\r\n";
    QTest::newRow("gbk lead before cr") << TextEncoding::Gbk << QByteArray("a\xD6\r\n") << "a" + bad + "\r\n";
    QTest::newRow("big5 80 and ff") << TextEncoding::Big5 << QByteArray("\x80z\xFF\r\n") << bad + "z" + bad + "\r\n";
    QTest::newRow("utf-8 stray byte") << TextEncoding::Utf8
                                      << QByteArray("a\xFF"
                                                    "b\r\n")
                                      << "a" + bad + "b\r\n";
    QTest::newRow("utf-8 cut before cr") << TextEncoding::Utf8 << QByteArray("\xE4\xB8\r\n") << bad + bad + "\r\n";
    QTest::newRow("utf-8 overlong") << TextEncoding::Utf8 << QByteArray("\xC0\xAF") << bad + bad;
}

void TestPayloadCodec::invalidBytesShowAsReplacement()
{
    QFETCH(TextEncoding, encoding);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);

    QCOMPARE(DecodeText(bytes, encoding), text);
}

QTEST_GUILESS_MAIN(TestPayloadCodec)
#include "test_payload_codec.moc"
