// A send's frame: the checksums, their byte order, the line endings, the escapes and the
// summary of the send options.
#include <QtTest>

#include "text/send_frame.h"

using namespace SendFrame;

class TestSendFrame : public QObject
{
    Q_OBJECT

private slots:
    void checksumCatalogue_data();
    void checksumCatalogue();
    void trailerByteOrderAndEnding();
    void escapes_data();
    void escapes();
    void summary_data();
    void summary();
};

void TestSendFrame::checksumCatalogue_data()
{
    QTest::addColumn<Checksum>("checksum");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("width");
    QTest::addColumn<quint32>("check");  // over "123456789"

    QTest::newRow("none") << Checksum::None << "无" << 0 << 0u;
    QTest::newRow("sum-8") << Checksum::Sum8 << "Sum-8" << 1 << 0xDDu;
    QTest::newRow("xor-8") << Checksum::Xor8 << "XOR-8" << 1 << 0x31u;
    QTest::newRow("lrc") << Checksum::Lrc << "LRC" << 1 << 0x23u;
    QTest::newRow("crc-8/smbus") << Checksum::Crc8Smbus << "CRC-8/SMBUS" << 1 << 0xF4u;
    QTest::newRow("crc-16/modbus") << Checksum::Crc16Modbus << "CRC-16/MODBUS" << 2 << 0x4B37u;
    QTest::newRow("crc-16/ibm-3740") << Checksum::Crc16Ibm3740 << "CRC-16/IBM-3740" << 2 << 0x29B1u;
    QTest::newRow("crc-16/xmodem") << Checksum::Crc16Xmodem << "CRC-16/XMODEM" << 2 << 0x31C3u;
    QTest::newRow("crc-32/iso-hdlc") << Checksum::Crc32IsoHdlc << "CRC-32/ISO-HDLC" << 4 << 0xCBF43926u;
}

void TestSendFrame::checksumCatalogue()
{
    QFETCH(Checksum, checksum);
    QFETCH(QString, name);
    QFETCH(int, width);
    QFETCH(quint32, check);

    QCOMPARE(ChecksumValue(checksum, "123456789"), check);
    QCOMPARE(ChecksumWidth(checksum), width);
    QCOMPARE(ChecksumName(checksum), name);
}

void TestSendFrame::trailerByteOrderAndEnding()
{
    const QByteArray request = QByteArray::fromHex("0103000A0002");
    QCOMPARE(ChecksumBytes(Checksum::Crc16Modbus, ChecksumOrder::Usual, request), QByteArray::fromHex("E409"));
    QCOMPARE(ChecksumBytes(Checksum::Crc16Modbus, ChecksumOrder::LowFirst, request), QByteArray::fromHex("E409"));
    QCOMPARE(ChecksumBytes(Checksum::Crc16Modbus, ChecksumOrder::HighFirst, request), QByteArray::fromHex("09E4"));
    // Every other wide checksum goes high byte first as usual.
    QCOMPARE(ChecksumBytes(Checksum::Crc32IsoHdlc, ChecksumOrder::Usual, "123456789"), QByteArray::fromHex("CBF43926"));
    QCOMPARE(ChecksumBytes(Checksum::Crc32IsoHdlc, ChecksumOrder::LowFirst, "123456789"),
             QByteArray::fromHex("2639F4CB"));
    QCOMPARE(ChecksumBytes(Checksum::Crc16Xmodem, ChecksumOrder::Usual, "123456789"), QByteArray::fromHex("31C3"));
    QCOMPARE(ChecksumBytes(Checksum::Sum8, ChecksumOrder::LowFirst, "123456789"), QByteArray::fromHex("DD"));
    QCOMPARE(ChecksumBytes(Checksum::None, ChecksumOrder::HighFirst, "123456789"), QByteArray());

    SendOptions options;
    options.checksum = Checksum::Crc16Modbus;
    options.ending = LineEnding::CrLf;
    QCOMPARE(Trailer(options, request), QByteArray::fromHex("E4090D0A"));
    options.checksum = Checksum::None;
    options.ending = LineEnding::Cr;
    QCOMPARE(Trailer(options, request), QByteArray("\r"));
    QCOMPARE(Trailer(SendOptions{}, request), QByteArray());
    QCOMPARE(EndingName(LineEnding::CrLf), QString("CR LF"));
}

void TestSendFrame::escapes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<TextEncoding>("encoding");
    QTest::addColumn<bool>("escapes");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("errorAt");

    const auto gbk = TextEncoding::Gbk;
    QTest::newRow("each escape") << R"(a\r\n\t\\\0b)" << gbk << true << QByteArray::fromHex("610D0A095C0062") << -1;
    QTest::newRow("hex either case") << R"(\x41\xfF\x00\x414)" << gbk << true << QByteArray::fromHex("41FF004134")
                                     << -1;
    // 媆 is 8B 5C in GBK and 功 A5 5C in Big5: read as bytes, "媆n" would be 8B then \n.
    QTest::newRow("gbk trail byte 5c") << R"(你媆n媆x41\t媆)" << gbk << true
                                       << QByteArray::fromHex("C4E38B5C6E8B5C783431098B5C") << -1;
    QTest::newRow("big5 trail byte 5c") << R"(功n\n)" << TextEncoding::Big5 << true << QByteArray::fromHex("A55C6E0A")
                                        << -1;
    QTest::newRow("utf-8") << R"(é\x00)" << TextEncoding::Utf8 << true << QByteArray::fromHex("C3A900") << -1;
    QTest::newRow("latin-1 cannot hold") << R"(中\n)" << TextEncoding::Latin1 << true << QByteArray("?\n") << -1;
    QTest::newRow("off keeps backslashes") << R"(a\q\)" << gbk << false << QByteArray(R"(a\q\)") << -1;

    // A failure leaves no bytes; its index counts characters, not bytes, and the first bad one counts.
    const QByteArray none;
    QTest::newRow("unknown") << R"(ab\q)" << gbk << true << none << 2;
    QTest::newRow("at the end") << R"(ab\)" << gbk << true << none << 2;
    QTest::newRow("lone after pair") << R"(\\\)" << gbk << true << none << 2;
    QTest::newRow("x alone") << R"(\x)" << gbk << true << none << 0;
    QTest::newRow("x one digit") << R"(\x4)" << gbk << true << none << 0;
    QTest::newRow("x bad digit") << R"(\x4G)" << gbk << true << none << 0;
    QTest::newRow("capital X") << R"(\X41)" << gbk << true << none << 0;
    QTest::newRow("full-width digits") << R"(\x４１)" << gbk << true << none << 0;
    QTest::newRow("after chinese and good ones") << R"(你好\n\\\q\z)" << gbk << true << none << 6;
    QTest::newRow("after gbk trail byte 5c") << R"(媆\z)" << gbk << true << none << 1;
}

void TestSendFrame::escapes()
{
    QFETCH(QString, text);
    QFETCH(TextEncoding, encoding);
    QFETCH(bool, escapes);
    QFETCH(QByteArray, bytes);
    QFETCH(int, errorAt);

    QByteArray result = "stale";
    qsizetype at = 99;
    QCOMPARE(ExpandEscapes(text, encoding, escapes, result, at), errorAt < 0);
    QCOMPARE(result, bytes);
    QCOMPARE(at, qsizetype(errorAt));
}

void TestSendFrame::summary_data()
{
    QTest::addColumn<SendOptions>("options");
    QTest::addColumn<QString>("summary");

    auto options = [](bool asTyped, bool escapes, LineEnding ending, Checksum checksum, ChecksumOrder order) {
        return SendOptions{asTyped, escapes, ending, checksum, order};
    };
    using enum LineEnding;
    using enum ChecksumOrder;
    QTest::newRow("plain") << SendOptions{} << "";
    QTest::newRow("everything") << options(true, true, CrLf, Checksum::Crc16Modbus, Usual)
                                << "原样 · 转义 · CRLF · CRC16/MODBUS";
    QTest::newRow("escapes need as typed") << options(false, true, Lf, Checksum::None, Usual) << "LF";
    QTest::newRow("order of a wide one") << options(true, false, Cr, Checksum::Crc32IsoHdlc, LowFirst)
                                         << "原样 · CR · CRC32 低前";
    QTest::newRow("high first") << options(false, false, None, Checksum::Crc16Modbus, HighFirst) << "CRC16/MODBUS 高前";
    QTest::newRow("no order for one byte") << options(false, false, None, Checksum::Sum8, HighFirst) << "Sum8";
    QTest::newRow("nothing in effect") << options(false, true, None, Checksum::None, LowFirst) << "";
}

void TestSendFrame::summary()
{
    QFETCH(SendOptions, options);
    QFETCH(QString, summary);

    QCOMPARE(Summary(options), summary);
}

QTEST_GUILESS_MAIN(TestSendFrame)
#include "test_send_frame.moc"
