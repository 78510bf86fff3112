// The live rates beside a page's TX and RX counts, and the ten minutes of them a page keeps.
#include <QtTest>

#include "support/test_environment.h"
#include "text/byte_rate.h"
#include "traffic/rate_history.h"
#include "traffic/traffic_counters.h"
#include "traffic/traffic_rates.h"

class TestTrafficRates : public QObject
{
    Q_OBJECT

private slots:
    void rateText_data();
    void rateText();
    void ratesFollowTrafficAndFallToZero();
    void historyKeepsTheLastTenMinutesOfRates();
};

void TestTrafficRates::rateText_data()
{
    QTest::addColumn<qint64>("bytesPerSecond");
    QTest::addColumn<QString>("text");

    QTest::newRow("idle") << qint64(0) << "0 B/s";
    QTest::newRow("below zero") << qint64(-5) << "0 B/s";
    QTest::newRow("bytes") << qint64(999) << "999 B/s";
    QTest::newRow("one kilobyte") << qint64(1000) << "1.0 KB/s";
    QTest::newRow("decimal") << qint64(1234) << "1.2 KB/s";
    QTest::newRow("below a hundred") << qint64(99949) << "99.9 KB/s";
    QTest::newRow("a hundred, no decimal") << qint64(99950) << "100 KB/s";
    QTest::newRow("rounds to a thousand") << qint64(999500) << "1.0 MB/s";
    QTest::newRow("megabytes") << qint64(1234567) << "1.2 MB/s";
    QTest::newRow("gigabytes") << qint64(5000000000) << "5.0 GB/s";
    QTest::newRow("the largest count") << std::numeric_limits<qint64>::max() << "9.2 EB/s";
}

void TestTrafficRates::rateText()
{
    QFETCH(qint64, bytesPerSecond);
    QFETCH(QString, text);
    QCOMPARE(ByteRateText(bytesPerSecond), text);
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

void TestTrafficRates::historyKeepsTheLastTenMinutesOfRates()
{
    TrafficCounters counters;
    TrafficRates rates(counters);
    qint64 nowMs = 0;
    rates.SetClock([&nowMs] { return nowMs; });
    RateHistory history;
    connect(&rates, &TrafficRates::Measured, &history, &RateHistory::Add);
    auto tick = [&](qint64 ms) {
        nowMs += ms;
        rates.Refresh();
    };
    auto last = [&history] { return history.Samples().back(); };

    counters.AddTx(1000);
    counters.AddRx(3000);
    tick(1000);
    QCOMPARE(history.Count(), 1);
    QCOMPARE(last().tx, 1000);
    QCOMPARE(last().rx, 3000);

    // "计数清零" between two ticks: the second holds what came in it, before and after the
    // clearing, and nothing goes below 0.
    counters.AddRx(500);
    counters.Clear();
    counters.AddRx(200);
    tick(1000);
    QCOMPARE(last().tx, 0);
    QCOMPARE(last().rx, 700);

    // A tick more than a second late: its rate fills the seconds it covers, rounded.
    counters.AddTx(4800);
    tick(2400);
    QCOMPARE(history.Count(), 4);
    QCOMPARE(history.Samples()[2].tx, 2000);
    QCOMPARE(history.Samples()[3].tx, 2000);

    // Only the last 600 seconds stay, oldest first.
    for (int second = 0; second < 700; ++second) {
        counters.AddRx(second);
        tick(1000);
    }
    const std::vector<ByteRate> samples = history.Samples();
    QCOMPARE(history.Count(), RateHistory::kSamples);
    QCOMPARE(int(samples.size()), RateHistory::kSamples);
    for (int i = 0; i < RateHistory::kSamples; ++i)
        QCOMPARE(samples[size_t(i)].rx, 100 + i);

    // An hour without a tick (a suspended machine) fills the ring once, with its rate.
    tick(3600 * 1000);
    QCOMPARE(history.Count(), RateHistory::kSamples);
    for (const ByteRate &sample : history.Samples())
        QVERIFY(sample.tx == 0 && sample.rx == 0);
}

QTEST_MAIN(TestTrafficRates)
#include "test_traffic_rates.moc"
