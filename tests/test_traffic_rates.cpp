// The live rates beside a page's TX and RX counts.
#include <QtTest>

#include "support/test_environment.h"
#include "traffic/traffic_counters.h"
#include "traffic/traffic_rates.h"

class TestTrafficRates : public QObject
{
    Q_OBJECT

private slots:
    void rateText_data();
    void rateText();
    void ratesFollowTrafficAndFallToZero();
};

void TestTrafficRates::rateText_data()
{
    QTest::addColumn<qint64>("bytesPerSecond");
    QTest::addColumn<QString>("text");

    QTest::newRow("idle") << qint64(0) << "0 B/s";
    QTest::newRow("bytes") << qint64(999) << "999 B/s";
    QTest::newRow("one kilobyte") << qint64(1000) << "1.0 KB/s";
    QTest::newRow("decimal") << qint64(1234) << "1.2 KB/s";
    QTest::newRow("below a hundred") << qint64(99949) << "99.9 KB/s";
    QTest::newRow("a hundred, no decimal") << qint64(99950) << "100 KB/s";
    QTest::newRow("rounds to a thousand") << qint64(999500) << "1.0 MB/s";
    QTest::newRow("megabytes") << qint64(1234567) << "1.2 MB/s";
    QTest::newRow("gigabytes") << qint64(5000000000) << "5.0 GB/s";
}

void TestTrafficRates::rateText()
{
    QFETCH(qint64, bytesPerSecond);
    QFETCH(QString, text);
    QCOMPARE(TrafficRates::RateText(bytesPerSecond), text);
}

void TestTrafficRates::ratesFollowTrafficAndFallToZero()
{
    TrafficCounters counters;
    TrafficRates rates(counters);
    QString txRate = TrafficRates::TxText(0);  // what a page shows before the first refresh
    QString rxRate = TrafficRates::RxText(0);
    QCOMPARE(txRate, QString("TX 0 B/s"));
    QCOMPARE(rxRate, QString("RX 0 B/s"));
    connect(&rates, &TrafficRates::Updated, [&](const QString &tx, const QString &rx) {
        txRate = tx;
        rxRate = rx;
    });

    counters.AddRx(50000);
    counters.AddTx(30000);
    counters.Clear();  // clearing the counts does not take bytes back from the rate
    QTRY_VERIFY_WITH_TIMEOUT(rxRate != QString("RX 0 B/s"), kPatienceMs);
    QVERIFY2(rxRate.startsWith("RX ") && rxRate.endsWith(" KB/s"), qPrintable(rxRate));
    QVERIFY2(txRate.startsWith("TX ") && txRate.endsWith(" KB/s"), qPrintable(txRate));
    QCOMPARE(counters.Rx(), 0);

    // A second without traffic: both back to 0.
    QTRY_COMPARE_WITH_TIMEOUT(rxRate, QString("RX 0 B/s"), kPatienceMs);
    QCOMPARE(txRate, QString("TX 0 B/s"));
}

QTEST_MAIN(TestTrafficRates)
#include "test_traffic_rates.moc"
