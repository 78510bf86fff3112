// The large view: a page's display list and rates in a window of their own.
#include <QtTest>

#include <QImage>
#include <QLineEdit>
#include <QRandomGenerator>

#include <limits>
#include <vector>

#include "pages/control_ids.h"
#include "pages/file_dialogs.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "pages/traffic_area/large_view_window.h"
#include "pages/traffic_area/traffic_area.h"
#include "support/page_fixture.h"
#include "support/test_environment.h"
#include "text/byte_rate.h"
#include "text/gbk.h"
#include "traffic/traffic_counters.h"
#include "traffic/traffic_rates.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/filtered_line_view.h"
#include "widgets/display_list/line_filter_model.h"
#include "widgets/display_list/line_list_model.h"
#include "widgets/rate_plot.h"

namespace {

using namespace TcpServerIds;

const QString kPageName = QStringLiteral("TCP Server");
const QString kTextFilter = QStringLiteral("文本文件 (*.txt)");

class PageFixture : public PageFixtureBase<CTcpServerPage>
{
public:
    PageFixture()
        : PageFixtureBase(LoopbackHost())
    {
    }
    ~PageFixture() { FileDialogs::g_answerSaveFile = nullptr; }

    CExtentListBox *List() const { return page->DataList(); }
    LargeViewWindow *Open() { return page->findChild<TrafficArea *>()->OpenLargeView(kPageName); }
    void Show(const QString &line) { List()->InsertString(0, ToGbk(line + QStringLiteral("\r\n"))); }

    // The save dialog's answer: path (empty: cancelled); each request is kept.
    void AnswerSave(const QString &path)
    {
        FileDialogs::g_answerSaveFile = [this, path](const FileDialogs::SaveRequest &request) {
            requests.append(request);
            return FileDialogs::Answer{path, kTextFilter};
        };
    }

    QList<FileDialogs::SaveRequest> requests;
};

FilteredLineView *ViewOf(const LargeViewWindow *window)
{
    return window->findChild<FilteredLineView *>(QStringLiteral("largeViewList"));
}

QLineEdit *FilterOf(const LargeViewWindow *window)
{
    return window->findChild<QLineEdit *>(QStringLiteral("largeViewFilter"));
}

// What a view shows, top first, as its rows draw it.
QStringList Rows(const QAbstractItemView *view)
{
    QStringList rows;
    for (int row = 0; row < view->model()->rowCount(); ++row)
        rows.append(LineListView::RowText(view->model()->index(row, 0).data().toString()));
    return rows;
}

bool PressSave(LargeViewWindow *window)
{
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        return false;
    QTest::keySequence(window, QKeySequence::Save);
    return true;
}

QByteArray CrLfLines(const QStringList &lines)
{
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toUtf8() + "\r\n";
    return bytes;
}

// Pixels near the colour, as a line drawn with antialiasing leaves them.
int PixelsOf(const QImage &image, const QColor &color)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - color.red()) + std::abs(pixel.green() - color.green())
                    + std::abs(pixel.blue() - color.blue())
                < 48)
                ++count;
        }
    }
    return count;
}

QImage Render(RatePlot &plot, const QSize &size)
{
    plot.resize(size);
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    plot.render(&image);
    return image;
}

}  // namespace

class TestLargeView : public QObject
{
    Q_OBJECT

private slots:
    void windowShowsThePagesLinesAndRatesLive();
    void windowFilterIsItsOwn();
    void ctrlSSavesTheShownLinesAsUtf8();
    void cancelledAndFailedSaves();
    void windowsGoAloneOrWithThePage();
    void ratePlotDrawsAnySamplesAtAnySize();
    void rateAxisReachesTheLargestRateWithDistinctLabels();
};

void TestLargeView::windowShowsThePagesLinesAndRatesLive()
{
    PageFixture f;
    f.Show(QStringLiteral("before the window"));
    // Rates from before the window opens: the page keeps them from its start. The page's
    // rates are driven by a clock the test moves, not by waiting seconds.
    auto *rates = f.page->findChild<TrafficRates *>();
    QVERIFY(rates);
    qint64 nowMs = 0;
    rates->SetClock([&nowMs] { return nowMs; });
    f.page->findChild<TrafficArea *>()->Counters().AddRx(3000);
    nowMs += 1000;
    rates->Refresh();

    LargeViewWindow *window = f.Open();
    QVERIFY(window->isWindow());
    QCOMPARE(window->windowTitle(), kPageName);
    FilteredLineView *view = ViewOf(window);
    QVERIFY(view);
    QCOMPARE(view->Lines(), f.List()->Lines());  // the page's lines themselves, not a copy
    QCOMPARE(Rows(view), QStringList{"before the window"});

    f.Show(QStringLiteral("服务器收到的行"));
    QCOMPARE(Rows(view), (QStringList{"服务器收到的行", "before the window"}));
    QCOMPARE(view->model()->index(0, 0).data().toString(), f.List()->Lines()->LineText(0));

    auto *plot = window->findChild<RatePlot *>(QStringLiteral("ratePlot"));
    QVERIFY(plot);
    const auto hasRx = [plot](qint64 rx) {
        return std::any_of(plot->Samples().begin(), plot->Samples().end(),
                           [rx](const ByteRate &sample) { return sample.rx == rx; });
    };
    QVERIFY(hasRx(3000));
    f.page->findChild<TrafficArea *>()->Counters().AddTx(500);
    nowMs += 1000;
    rates->Refresh();
    QCOMPARE(plot->Samples().back().tx, 500);

    // "清空数据" on the page empties the window too.
    f.Click(kClearData);
    QCOMPARE(view->model()->rowCount(), 0);
    f.Show(QStringLiteral("after clearing"));
    QCOMPARE(Rows(view), QStringList{"after clearing"});
}

void TestLargeView::windowFilterIsItsOwn()
{
    PageFixture f;
    for (const char *line : {"alpha 1", "beta 2", "alpha 3"})
        f.Show(QString::fromLatin1(line));
    LargeViewWindow *window = f.Open();
    FilteredLineView *view = ViewOf(window);
    QLineEdit *filter = FilterOf(window);
    QVERIFY(filter);
    QCOMPARE(filter->placeholderText(), QString("筛选"));
    QVERIFY(filter->isClearButtonEnabled());

    QTest::keyClicks(filter, "ALPHA");
    QTRY_COMPARE_WITH_TIMEOUT(Rows(view), (QStringList{"alpha 3", "alpha 1"}), kPatienceMs);
    QCOMPARE(f.List()->model()->rowCount(), 3);  // the page still shows everything
    QVERIFY(f.Text(kFilter).isEmpty());

    QTest::keyClicks(f.Item<QLineEdit>(kFilter), "beta");
    QTRY_COMPARE_WITH_TIMEOUT(Rows(f.List()), QStringList{"beta 2"}, kPatienceMs);
    QCOMPARE(Rows(view), (QStringList{"alpha 3", "alpha 1"}));

    // New lines go through each filter on its own.
    f.Show(QStringLiteral("alpha 4"));
    f.Show(QStringLiteral("beta 5"));
    QCOMPARE(Rows(view), (QStringList{"alpha 4", "alpha 3", "alpha 1"}));
    QCOMPARE(Rows(f.List()), (QStringList{"beta 5", "beta 2"}));

    filter->clear();
    QCOMPARE(view->model()->rowCount(), 5);
    QCOMPARE(Rows(f.List()), (QStringList{"beta 5", "beta 2"}));
}

void TestLargeView::ctrlSSavesTheShownLinesAsUtf8()
{
    PageFixture f;
    const QString chinese = QStringLiteral("接收来自127.0.0.1:5000 : 你好，世界");
    f.Show(QStringLiteral("plain 127 line"));
    f.List()->InsertString(0, QStringLiteral("127 in UTF-8: Grüße\r\n").toUtf8(), TextEncoding::Utf8);
    f.Show(chinese);  // GBK bytes in the model, as received lines are kept
    f.Show(QStringLiteral("another line"));
    LargeViewWindow *window = f.Open();

    // Unfiltered: every line, top first.
    f.AnswerSave(f.dir.FilePath("all"));
    QVERIFY(PressSave(window));
    QCOMPARE(f.requests.size(), 1);
    QCOMPARE(f.requests[0].owner, window);
    QCOMPARE(f.requests[0].suggestedName, QString("velvane-tcp-server.txt"));
    QCOMPARE(f.requests[0].filters, QStringList{kTextFilter});
    QCOMPARE(ReadFileBytes(f.dir.FilePath("all.txt")),
             CrLfLines({"another line", chinese, "127 in UTF-8: Grüße", "plain 127 line"}));

    // Filtered: the lines the window shows, even those its filter has not reached yet (one
    // line a slice, and no event loop between the filter and the save).
    for (int i = 0; i < 40; ++i)
        f.Show(QStringLiteral("filler %1").arg(i));
    ViewOf(window)->ShownLines()->SetLinesPerSlice(1);
    FilterOf(window)->setText(QStringLiteral("127"));
    QVERIFY(ViewOf(window)->ShownLines()->IsMatching());
    f.AnswerSave(f.dir.FilePath("shown.txt"));
    QTest::keySequence(window, QKeySequence::Save);
    QCOMPARE(ReadFileBytes(f.dir.FilePath("shown.txt")), CrLfLines({chinese, "127 in UTF-8: Grüße", "plain 127 line"}));
    QCOMPARE(f.boxes.Count(), 0);
}

void TestLargeView::cancelledAndFailedSaves()
{
    PageFixture f;
    f.Show(QStringLiteral("a line"));
    LargeViewWindow *window = f.Open();

    f.AnswerSave(QString());
    QVERIFY(PressSave(window));
    QCOMPARE(f.requests.size(), 1);
    QVERIFY(QDir(f.dir.Path()).entryList(QDir::Files).isEmpty());
    QCOMPARE(f.boxes.Count(), 0);

    const QString unwritable = f.dir.FilePath("no such folder/lines.txt");
    f.AnswerSave(unwritable);
    QTest::keySequence(window, QKeySequence::Save);
    QCOMPARE(f.boxes.Count(), 1);
    QCOMPARE(f.boxes.Boxes()[0].caption, QString("TCP Server提示"));
    QCOMPARE(f.boxes.Boxes()[0].text, "无法写入" + QDir::toNativeSeparators(unwritable) + "!");
    QCOMPARE(f.boxes.Boxes()[0].icon, QMessageBox::Warning);

    // The window goes on: it follows the list and saves where it can.
    f.Show(QStringLiteral("next line"));
    f.AnswerSave(f.dir.FilePath("lines.txt"));
    QVERIFY(PressSave(window));
    QCOMPARE(ReadFileBytes(f.dir.FilePath("lines.txt")), CrLfLines({"next line", "a line"}));
}

void TestLargeView::windowsGoAloneOrWithThePage()
{
    PageFixture f;
    f.Show(QStringLiteral("match one"));
    QPointer<LargeViewWindow> first = f.Open();
    QPointer<LargeViewWindow> second = f.Open();
    QVERIFY(first != second);
    FilterOf(first)->setText(QStringLiteral("match"));

    first->close();
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), kPatienceMs);
    QCOMPARE(f.List()->GetCount(), 1);
    QCOMPARE(f.List()->model(), f.List()->Lines());  // the page's own filter is untouched
    f.Show(QStringLiteral("match two"));
    QCOMPARE(Rows(ViewOf(second)), (QStringList{"match two", "match one"}));

    // The page goes while a filtered window is open: the window goes with it, first.
    FilterOf(second)->setText(QStringLiteral("match"));
    f.page.reset();
    QVERIFY(second.isNull());
}

void TestLargeView::ratePlotDrawsAnySamplesAtAnySize()
{
    constexpr qint64 kMax = std::numeric_limits<qint64>::max();
    const auto repeated = [](ByteRate sample, int count) { return std::vector<ByteRate>(size_t(count), sample); };
    std::vector<ByteRate> rising;
    for (int second = 0; second < 700; ++second)
        rising.push_back({second, 700 - second});
    const QList<std::pair<const char *, std::vector<ByteRate>>> sampleSets{
        {"none", {}},
        {"one", {{1500, 200}}},
        {"zeros", repeated({0, 0}, RatePlot::kSeconds)},
        {"constant", repeated({30000, 1000}, RatePlot::kSeconds)},
        {"huge", repeated({kMax, kMax / 3}, RatePlot::kSeconds)},
        {"below zero", repeated({-5, -7}, 10)},
        {"rising, beyond ten minutes", rising},
    };
    const QList<QSize> sizes{{1, 1}, {7, 3}, {60, 40}, {240, 100}, {640, 180}, {2400, 1000}};

    RatePlot plot;
    plot.SetSamples(rising);
    QCOMPARE(int(plot.Samples().size()), RatePlot::kSeconds);  // the last ten minutes only
    QCOMPARE(plot.Samples().back().tx, 699);

    for (const QSize &size : sizes) {
        plot.SetSamples({});
        const QImage empty = Render(plot, size);
        for (const auto &[name, samples] : sampleSets) {
            plot.SetSamples(samples);
            const QImage image = Render(plot, size);
            QVERIFY2(!image.isNull(), name);
            // Where there is room for a plot, each series that differs from the other shows.
            if (size.width() >= 240 && (QByteArray(name) == "constant" || QByteArray(name) == "huge")) {
                QVERIFY2(PixelsOf(image, RatePlot::TxColor()) > PixelsOf(empty, RatePlot::TxColor()) + size.width() / 4,
                         name);
                QVERIFY2(PixelsOf(image, RatePlot::RxColor()) > PixelsOf(empty, RatePlot::RxColor()) + size.width() / 4,
                         name);
            }
        }
    }
}

void TestLargeView::rateAxisReachesTheLargestRateWithDistinctLabels()
{
    constexpr qint64 kMax = std::numeric_limits<qint64>::max();
    std::vector<qint64> largest{0, 1, 999, 1000, 1001, 1999, 2000, 2001, 4999, 5001, 99949, 99950, 999500, kMax};
    QRandomGenerator random(20240611);
    for (int i = 0; i < 2000; ++i)
        largest.push_back(qint64(random.generate64() >> random.bounded(64)));
    for (const qint64 rate : largest) {
        const RatePlot::Scale scale = RatePlot::ScaleFor(rate);
        const double reach = std::max(1000.0, double(rate));
        const QByteArray what = QByteArray::number(rate);
        QVERIFY2(scale.steps >= 2 && scale.steps <= 5, what);
        QVERIFY2(scale.Top() >= reach && scale.Top() < 1.5 * reach, what);
        QStringList labels;
        for (int i = 0; i <= scale.steps; ++i)
            labels.append(ByteRateText(scale.step * i));
        QVERIFY2(labels.removeDuplicates() == 0, qPrintable(what + ": " + labels.join(", ")));
    }
}

QTEST_MAIN(TestLargeView)
#include "test_large_view.moc"
