// The display list: horizontal extent rules, line texts, the item view over its lines and
// the filter over them.
#include <QtTest>

#include <QAbstractItemModelTester>

#include <QScrollBar>

#include <QLineEdit>
#include <QPainter>

#include <functional>
#include <random>

#include "pages/traffic_area/counter_boxes.h"
#include "support/test_environment.h"
#include "text/gbk.h"
#include "widgets/display_list/display_feed.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/line_filter_model.h"
#include "widgets/display_list/line_list_model.h"

namespace {

QByteArray Line(int characters)
{
    return QByteArray(characters, 'x') + "\r\n";
}

QStringList ShownTexts(const LineListBox &list)
{
    QStringList texts;
    for (int row = 0; row < list.model()->rowCount(); ++row)
        texts.append(list.model()->index(row, 0).data().toString());
    return texts;
}

// What the filter should show, worked out from all the lines.
QStringList MatchingTexts(const LineListBox &list)
{
    QStringList texts;
    for (int row = 0; row < list.GetCount(); ++row) {
        const QString text = list.Lines()->LineText(row);
        if (text.contains(list.FilterText(), Qt::CaseInsensitive))
            texts.append(text);
    }
    return texts;
}

}  // namespace

class TestExtentListBox : public QObject
{
    Q_OBJECT

private slots:
    void widthOfALine();
    void insertAndAddOnlyGrow();
    void deleteAndResetShrink();
    void dirListsMatchingNames();
    void linesKeepTheirBytesNewestFirst();
    void scrollRangeFollowsExtent();
    void clickSelectsTheRowUnderTheMouse();
    void boundKeepsNewestLinesAndExtentFollows();
    void floodRepaintsAtFrameRate();
    void filterShowsMatchingLinesOnly();
    void filterFollowsEveryChangeOfTheLines();
    void filterFollowsChangesWhileMatching();
    void filterOverAFullListOfLongLinesKeepsTheWindowGoing();
    void extentFollowsTheShownLines();
    void systemLogListFilters();
    void byteBoundDropsTheOldestLines();
    void longLinesAreMeasuredByTheirStart();
    void longLinesPaintWhatIsInView();
};

void TestExtentListBox::widthOfALine()
{
    CExtentListBox list;
    const int average = list.fontMetrics().averageCharWidth();
    QVERIFY(average > 0);
    QCOMPARE(list.TextWidth(""), average);
    const QString text = "192.168.1.20:3012 hello";
    const int measured = list.TextWidth(text.toLatin1()) - average;
    QVERIFY(qAbs(measured - list.fontMetrics().horizontalAdvance(text)) <= text.size() / 4 + 1);
    // CR LF is part of the measured text; a Chinese line is measured as its characters, not its bytes.
    QVERIFY(list.TextWidth("abc\r\n") >= list.TextWidth("abc"));
    const int chinese = list.TextWidth(ToGbk(u"服务器")) - average;
    QVERIFY(qAbs(chinese - list.fontMetrics().horizontalAdvance(QString("服务器"))) <= 2);
}

void TestExtentListBox::insertAndAddOnlyGrow()
{
    CExtentListBox list;
    QCOMPARE(list.HorizontalExtent(), 0);
    QCOMPARE(list.InsertString(0, Line(40)), 0);
    const int wide = list.TextWidth(Line(40));
    QCOMPARE(list.HorizontalExtent(), wide);

    QCOMPARE(list.InsertString(0, Line(10)), 0);  // shorter: unchanged
    QCOMPARE(list.HorizontalExtent(), wide);
    QCOMPARE(list.InsertString(5, Line(90)), CExtentListBox::LB_ERR);  // failed insert: unchanged
    QCOMPARE(list.HorizontalExtent(), wide);
    QCOMPARE(list.GetCount(), 2);

    QCOMPARE(list.InsertString(-1, Line(60)), 2);  // -1 appends
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(Line(60)));
    QCOMPARE(list.AddString(Line(70)), 3);
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(Line(70)));
}

void TestExtentListBox::deleteAndResetShrink()
{
    CExtentListBox list;
    for (int characters : {20, 80, 0, 50})
        list.InsertString(0, characters ? Line(characters) : QByteArray());
    // Rows now: 50, empty, 80, 20.
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(Line(80)));

    QCOMPARE(list.DeleteString(9), CExtentListBox::LB_ERR);
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(Line(80)));
    QCOMPARE(list.DeleteString(2), 3);  // the widest: shrinks to the next widest
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(Line(50)));
    list.DeleteString(0);
    list.DeleteString(1);
    QCOMPARE(list.GetCount(), 1);  // only the empty line is left, and it does not count
    QCOMPARE(list.WidestLineWidth(), 0);
    QCOMPARE(list.HorizontalExtent(), 0);
    list.InsertString(0, Line(30));
    list.DeleteString(0);
    list.DeleteString(0);
    QCOMPARE(list.HorizontalExtent(), 0);

    list.InsertString(0, Line(100));
    list.ResetContent();
    QCOMPARE(list.GetCount(), 0);
    QCOMPARE(list.HorizontalExtent(), 0);
}

void TestExtentListBox::dirListsMatchingNames()
{
    ScopedTemporaryCurrentDir dir;
    WriteFileBytes(dir.FilePath("a.txt"), "");
    WriteFileBytes(dir.FilePath("a-much-longer-name.txt"), "");
    WriteFileBytes(dir.FilePath("b.log"), "");
    QVERIFY(QDir(dir.Path()).mkdir("sub"));

    CExtentListBox list;
    QCOMPARE(list.Dir(CExtentListBox::DDL_READWRITE, "*.txt"), 1);
    QCOMPARE(list.GetText(0), QByteArray("a-much-longer-name.txt"));
    QCOMPARE(list.GetText(1), QByteArray("a.txt"));
    QCOMPARE(list.HorizontalExtent(), list.TextWidth("a-much-longer-name.txt"));

    list.ResetContent();
    list.Dir(CExtentListBox::DDL_DIRECTORY | CExtentListBox::DDL_EXCLUSIVE, "*");
    QCOMPARE(list.GetCount(), 2);
    QCOMPARE(list.GetText(0), QByteArray("[..]"));
    QCOMPARE(list.GetText(1), QByteArray("[sub]"));
    QCOMPARE(list.Dir(CExtentListBox::DDL_READWRITE, "*.none"), CExtentListBox::LB_ERR);
}

void TestExtentListBox::linesKeepTheirBytesNewestFirst()
{
    CExtentListBox list;
    const QByteArray invalid("127.0.0.1:9 A\xFF"
                             "B\r\n",
                             17);
    list.InsertString(0, "127.0.0.1:9 first\r\n");
    list.InsertString(0, ToGbk(u"127.0.0.1:9 你好\r\n"));
    list.InsertString(0, invalid);
    QAbstractItemModel *model = list.model();
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->index(0, 0).data().toString(), QString("127.0.0.1:9 A\uFFFDB\r\n"));
    QCOMPARE(model->index(1, 0).data().toString(), QString("127.0.0.1:9 你好\r\n"));
    QCOMPARE(model->index(2, 0).data().toString(), QString("127.0.0.1:9 first\r\n"));
    QCOMPARE(list.GetText(0), invalid);  // the stored line is the bytes as received
}

void TestExtentListBox::scrollRangeFollowsExtent()
{
    CExtentListBox list;
    list.resize(200, 150);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.InsertString(0, Line(200));
    QTRY_COMPARE(list.horizontalScrollBar()->maximum(), list.HorizontalExtent() - list.viewport()->width());
    QVERIFY(list.horizontalScrollBar()->maximum() > 0);
    for (int i = 0; i < 500; ++i)
        list.InsertString(0, Line(5));
    QTRY_VERIFY(list.verticalScrollBar()->maximum() > 400);
    list.grab();  // paints only what is visible, whatever the count
    list.ResetContent();
    QTRY_COMPARE(list.horizontalScrollBar()->maximum(), 0);
    QTRY_COMPARE(list.verticalScrollBar()->maximum(), 0);
}

void TestExtentListBox::clickSelectsTheRowUnderTheMouse()
{
    CExtentListBox list;
    list.resize(300, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    for (int i = 0; i < 5; ++i)
        list.InsertString(-1, QByteArray("row ") + QByteArray::number(i));
    QCOMPARE(list.GetCurSel(), -1);
    const int rowHeight = list.RowHeight();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(10, rowHeight * 3 + rowHeight / 2));
    QCOMPARE(list.GetCurSel(), 3);
    list.SetCurSel(1);
    QCOMPARE(list.GetCurSel(), 1);
    list.SetCurSel(-1);
    QCOMPARE(list.GetCurSel(), -1);
}

void TestExtentListBox::boundKeepsNewestLinesAndExtentFollows()
{
    CExtentListBox list;
    QCOMPARE(list.MaxLines(), LineListBox::kKeptLines);
    list.SetMaxLines(3);
    list.InsertString(0, Line(80));  // the oldest is the widest
    list.InsertString(0, Line(20));
    list.InsertString(0, Line(50));
    list.InsertString(0, "");
    QCOMPARE(list.GetCount(), 3);
    QCOMPARE(list.GetText(2), Line(20));
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(Line(50)));  // follows the lines that remain

    list.InsertString(0, Line(30));
    list.InsertString(0, Line(50));  // two lines of the widest width
    QCOMPARE(list.GetCount(), 3);
    QCOMPARE(list.GetText(0), Line(50));
    QCOMPARE(list.GetText(2), "");
    list.InsertString(0, Line(10));  // the empty line leaves; one 50 remains
    list.InsertString(0, Line(10));  // the 30 leaves
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(Line(50)));
    list.InsertString(0, Line(10));  // the last 50 leaves
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(Line(10)));
    QCOMPARE(list.model()->rowCount(), 3);

    QCOMPARE(list.DeleteString(0), 2);  // deleting still finds the widest of the rest
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(Line(10)));
    list.ResetContent();
    QCOMPARE(list.HorizontalExtent(), 0);
    list.InsertString(0, Line(5));
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(Line(5)));
}

void TestExtentListBox::floodRepaintsAtFrameRate()
{
    CExtentListBox list;
    QLineEdit tx;
    QLineEdit rx;
    CounterBoxes boxes(&tx, &rx);
    TrafficCounters &counters = boxes.Counters();
    QWidget *viewport = list.viewport();
    list.resize(300, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));

    int paints = 0;
    int shownCounts = 0;
    struct PaintCounter : QObject
    {
        int *count;
        explicit PaintCounter(int *c)
            : count(c)
        {
        }
        bool eventFilter(QObject *, QEvent *event) override
        {
            *count += event->type() == QEvent::Paint;
            return false;
        }
    } counter(&paints);
    viewport->installEventFilter(&counter);
    connect(&rx, &QLineEdit::textChanged, [&] { ++shownCounts; });

    // A line and a count for every event-loop pass: without pacing, one repaint of each per
    // pass. The passes are counted, not timed, and stay below the list's bound; whatever
    // they take, the repaints come at most once a frame of the time they took (a timer may
    // come up to a millisecond before its frame is whole).
    constexpr int kPasses = 3000;
    static_assert(kPasses < LineListBox::kKeptLines);
    QElapsedTimer clock;
    clock.start();
    int lines = 0;
    while (lines < kPasses) {
        list.InsertString(0, "line " + QByteArray::number(lines) + "\r\n");
        counters.AddRx(1);
        ++lines;
        QCOMPARE(list.GetCount(), lines);  // the model holds every line at once
        QCoreApplication::processEvents();
    }
    const qint64 mostFrames = clock.elapsed() / (PacedAction::kFrameMs - 1) + 4;
    QVERIFY2(paints <= mostFrames, qPrintable(QString("%1 paints, at most %2").arg(paints).arg(mostFrames)));
    QVERIFY2(shownCounts <= mostFrames,
             qPrintable(QString("%1 counts shown, at most %2").arg(shownCounts).arg(mostFrames)));
    // The last change is shown too, a frame later at most.
    QTRY_COMPARE(rx.text(), QString::number(lines));
    QCOMPARE(counters.Rx(), lines);
    QCOMPARE(list.GetText(0), "line " + QByteArray::number(lines - 1) + "\r\n");
}

void TestExtentListBox::filterShowsMatchingLinesOnly()
{
    CExtentListBox list;
    list.InsertString(0, "127.0.0.1:1 Hello");
    list.InsertString(0, "127.0.0.1:2 other");
    list.InsertString(0, ToGbk(u"127.0.0.1:3 你好 hello"));
    list.InsertString(0, QString("127.0.0.1:4 héllo wörld").toUtf8(), TextEncoding::Utf8);
    list.InsertString(0, "127.0.0.1:5 caf\xE9", TextEncoding::Latin1);
    list.InsertString(0, "127.0.0.1:6 HELLO again");

    list.SetFilterText("hello");
    QCOMPARE(ShownTexts(list), QStringList({"127.0.0.1:6 HELLO again", "127.0.0.1:3 你好 hello", "127.0.0.1:1 Hello"}));
    QCOMPARE(list.GetCount(), 6);  // nothing is removed
    QCOMPARE(list.GetText(5), QByteArray("127.0.0.1:1 Hello"));

    list.SetFilterText("hello a");  // extends the text: fewer lines
    QCOMPARE(ShownTexts(list), QStringList({"127.0.0.1:6 HELLO again"}));
    list.SetFilterText("hello");  // shortens it: the others come back
    QCOMPARE(ShownTexts(list).size(), 3);
    // Lines in other encodings match on the text shown, not on their bytes.
    list.SetFilterText("WÖRLD");
    QCOMPARE(ShownTexts(list), QStringList({"127.0.0.1:4 héllo wörld"}));
    list.SetFilterText("CAFÉ");
    QCOMPARE(ShownTexts(list), QStringList({"127.0.0.1:5 café"}));

    // Selections speak in rows of all lines.
    list.SetFilterText("hello");
    list.SetCurSel(3);
    QCOMPARE(list.currentIndex().row(), 1);
    QCOMPARE(list.GetCurSel(), 3);
    list.SetCurSel(4);  // not shown
    QCOMPARE(list.GetCurSel(), -1);
    list.SetCurSel(5);
    list.SetFilterText("");  // every line again, the selected one still selected
    QCOMPARE(list.model(), list.Lines());
    QCOMPARE(ShownTexts(list).size(), 6);
    QCOMPARE(list.GetCurSel(), 5);
}

void TestExtentListBox::filterFollowsEveryChangeOfTheLines()
{
    CExtentListBox list;
    list.SetMaxLines(8);
    QAbstractItemModelTester tester(list.ShownLines(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    list.SetFilterText("match");
    int counter = 0;
    auto line = [&counter](bool matches) {
        return QByteArray(matches ? "MATCH " : "skip ") + QByteArray::number(++counter);
    };

    const std::vector<std::function<void()>> changes = {
        [&] {
            for (int i = 0; i < 7; ++i)
                list.InsertString(0, line(i != 3));
        },
        [&] {
            for (int i = 0; i < 5; ++i)
                list.InsertString(0, line(i % 2 == 0));
        },                                          // past the bound: the bottom leaves
        [&] { list.InsertString(1, line(true)); },  // near the top
        [&] { list.InsertString(6, line(true)); },  // near the bottom
        [&] { list.AddString(line(true)); },        // at the bottom: the top leaves
        [&] { list.DeleteString(1); },
        [&] { list.DeleteString(list.GetCount() - 2); },
        [&] { list.DeleteString(list.GetCount() - 1); },
        [&] { list.SetMaxLines(4); },  // several lines leave the bottom at once
        [&] {
            list.ResetLines({line(true), line(false), line(true)});
        },
        [&] { list.SetFilterText("match " + QString::number(counter)); },
    };
    for (size_t step = 0; step < changes.size(); ++step) {
        changes[step]();
        QVERIFY2(ShownTexts(list) == MatchingTexts(list), qPrintable(QString("after change %1").arg(step)));
    }
    QVERIFY(!ShownTexts(list).isEmpty());
}

void TestExtentListBox::filterFollowsChangesWhileMatching()
{
    // The filter matches a new text a slice at a time; lines come and go meanwhile, above
    // and below the part matched so far. Two lines a slice make every change meet a filter
    // in the middle of its work.
    CExtentListBox list;
    list.SetMaxLines(40);
    list.ShownLines()->SetLinesPerSlice(2);
    QAbstractItemModelTester tester(list.ShownLines(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    int counter = 0;
    auto line = [&counter](bool matches) {
        return QByteArray(matches ? "MATCH " : "skip ") + QByteArray::number(++counter);
    };
    for (int i = 0; i < 30; ++i)
        list.InsertString(0, line(i % 3 != 0));
    auto finish = [&] { return WaitUntil([&] { return !list.ShownLines()->IsMatching(); }, 5000); };

    const std::vector<std::function<void()>> changes = {
        [&] { list.InsertString(0, line(true)); },                    // above the part matched
        [&] { list.InsertString(list.GetCount() - 2, line(true)); },  // below it: its slice comes
        [&] { list.AddString(line(true)); },                          // at the bottom
        [&] { list.DeleteString(0); },
        [&] { list.DeleteString(list.GetCount() - 3); },
        [&] {
            for (int i = 0; i < 15; ++i)
                list.InsertString(0, line(i % 2 == 0));
        },  // past the bound
        [&] { list.SetMaxLines(20); },
        [&] {
            list.ResetLines({line(true), line(false), line(true), line(true), line(false), line(true)});
        },
        [&] {
            list.ResetContent();
            for (int i = 0; i < 12; ++i)
                list.InsertString(0, line(i != 5));
        },
    };
    for (size_t step = 0; step < changes.size(); ++step) {
        list.SetFilterText(step % 2 ? "match" : "MATCH ");  // a new text: matching starts again
        QVERIFY(list.ShownLines()->IsMatching());
        QCoreApplication::processEvents();  // one slice, perhaps
        changes[step]();
        QVERIFY(finish());
        QVERIFY2(ShownTexts(list) == MatchingTexts(list), qPrintable(QString("after change %1").arg(step)));
        QVERIFY(!ShownTexts(list).isEmpty());
    }
}

void TestExtentListBox::filterOverAFullListOfLongLinesKeepsTheWindowGoing()
{
    // Found by the chaos run: typing a filter over a full display list of 256-byte blocks
    // of arbitrary bytes (each line decoded to be searched) held the window for half a
    // second a key. Now a key costs a slice; the rest follows, newest lines first, one slice
    // per pass of the event loop while the flood goes on. The slices' clock is the test's:
    // each reading (one per 64 lines) is a millisecond later, as on a machine where 64
    // lines take that long, so a slice of 8 ms holds 512 lines whatever this machine does.
    CExtentListBox list;
    list.resize(530, 300);
    list.show();
    qint64 now = 0;
    list.ShownLines()->SetSliceClock([&now] { return now++; });
    std::mt19937 random(7);
    auto block = [&random] {
        QByteArray bytes(256, Qt::Uninitialized);
        for (char &byte : bytes)
            byte = static_cast<char>(0x80 + random() % 0x80);
        return "127.0.0.1:40000 " + bytes + "\r\n";
    };
    for (int i = 0; i < LineListBox::kKeptLines; ++i)
        list.InsertString(0, block());
    list.InsertString(42, "127.0.0.1:40001 the zz line\r\n");
    QCoreApplication::processEvents();

    constexpr int kSliceLines = LineFilterModel::kSliceMs * 64;
    list.SetFilterText("zz");
    QVERIFY(list.ShownLines()->IsMatching());  // one slice, then back to the window
    QCOMPARE(ShownTexts(list), QStringList{"127.0.0.1:40001 the zz line\r\n"});
    int passes = 0;
    int newer = 0;
    while (list.ShownLines()->IsMatching() && passes < 1000) {
        const bool matching = passes % 50 == 0;
        list.InsertString(0, matching ? "127.0.0.1:40002 zz newer\r\n" : block());
        newer += matching;
        QCoreApplication::processEvents();
        ++passes;
        // New lines above the part matched are matched at once; the old ones a slice a pass.
        QVERIFY(ShownTexts(list).count("127.0.0.1:40002 zz newer\r\n") == newer);
    }
    // At most a slice a pass (each pass also takes one line off the bottom).
    QVERIFY2(passes >= (LineListBox::kKeptLines - kSliceLines) / (kSliceLines + 1),
             qPrintable(QString::number(passes)));
    QCOMPARE(ShownTexts(list), MatchingTexts(list));
    QVERIFY(ShownTexts(list).contains("127.0.0.1:40001 the zz line\r\n"));
}

void TestExtentListBox::extentFollowsTheShownLines()
{
    CExtentListBox list;
    list.SetMaxLines(3);
    const QByteArray first = "match" + Line(40);
    const QByteArray widest = "skip" + Line(80);
    list.InsertString(0, first);
    list.InsertString(0, widest);
    list.InsertString(0, "match" + Line(10));
    list.SetFilterText("match");
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(first));

    const QByteArray next = "match" + Line(20);
    list.InsertString(0, next);  // the first line leaves at the bound
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(next));
    const QByteArray hidden = "skip" + Line(100);
    list.InsertString(0, hidden);
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(next));

    // The extent of all lines went on following its rules meanwhile.
    list.SetFilterText("");
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(hidden));
}

void TestExtentListBox::systemLogListFilters()
{
    LineListBox list;
    list.InsertString(0, ToGbk(u"服务器启动"));
    list.InsertString(0, ToGbk(u"客户端连接"));
    list.SetFilterText("服务器");
    list.InsertString(0, ToGbk(u"服务器停止"));
    QCOMPARE(ShownTexts(list), QStringList({"服务器停止", "服务器启动"}));
    QCOMPARE(list.GetCount(), 3);
}

namespace {

QByteArray Filled(int size, char ch)
{
    return QByteArray(size, ch);
}

// A received 64 KiB block in hex, as the display shows it.
QByteArray HexLine(int blockBytes)
{
    QByteArray line = "127.0.0.1:5000 ";
    for (int i = 0; i < blockBytes; ++i)
        line += QByteArray::number(0xA0 + i % 16, 16).toUpper() + ' ';
    return line + "\r\n";
}

QImage ViewportImage(LineListView &view)
{
    return view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Columns of [left, right) on the first row where something other than the background is drawn.
int InkedColumns(const QImage &image, int rowHeight, int left, int right, QRgb background)
{
    int inked = 0;
    for (int x = std::max(0, left); x < std::min(right, image.width()); ++x) {
        for (int y = 0; y < rowHeight; ++y) {
            if (image.pixel(x, y) != background) {
                ++inked;
                break;
            }
        }
    }
    return inked;
}

}  // namespace

void TestExtentListBox::byteBoundDropsTheOldestLines()
{
    CExtentListBox list;
    QCOMPARE(list.MaxBytes(), LineListBox::kKeptBytes);
    QAbstractItemModelTester tester(list.Lines(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    list.SetMaxBytes(1000);
    list.SetFilterText("b");
    list.InsertString(0, Filled(400, 'b'));  // the oldest is the widest
    list.InsertString(0, Filled(300, 'b'));
    list.InsertString(0, Filled(299, 'm'));
    QCOMPARE(list.Lines()->StoredBytes(), 999);
    list.SetCurSel(1);

    list.InsertString(0, Filled(2, 'c'));  // 1,001 bytes: the oldest leaves
    QCOMPARE(list.GetCount(), 3);
    QCOMPARE(list.Lines()->StoredBytes(), 601);
    QCOMPARE(list.GetText(2), Filled(300, 'b'));
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(Filled(300, 'b')));  // the shown lines' widest
    QCOMPARE(ShownTexts(list), MatchingTexts(list));
    QCOMPARE(list.GetCurSel(), 2);  // the selected line moved down one
    list.SetFilterText("");
    QVERIFY(list.TextWidth(Filled(299, 'm')) > list.TextWidth(Filled(300, 'b')));
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(Filled(299, 'm')));

    list.InsertString(0, Filled(700, 'b'));  // two lines leave at once
    QCOMPARE(list.GetCount(), 2);
    QCOMPARE(list.Lines()->StoredBytes(), 702);
    QCOMPARE(list.GetText(1), Filled(2, 'c'));
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(Filled(700, 'b')));
    QCOMPARE(list.GetCurSel(), 1);  // the selected line left: its neighbour, as at the line bound

    // Appending: the oldest lines are at the top.
    QCOMPARE(list.AddString(Filled(299, 'd')), 1);
    QCOMPARE(list.GetText(0), Filled(2, 'c'));
    QCOMPARE(list.GetText(1), Filled(299, 'd'));

    // A line over the bound on its own stays, alone, until the next one.
    QCOMPARE(list.InsertString(0, Filled(1500, 'e')), 0);
    QCOMPARE(list.GetCount(), 1);
    QCOMPARE(list.Lines()->StoredBytes(), 1500);
    list.InsertString(0, Filled(10, 'f'));
    QCOMPARE(list.GetCount(), 1);
    QCOMPARE(list.HorizontalExtent(), list.TextWidth(Filled(10, 'f')));

    // A lower bound applies at once; a reset keeps the top lines that fit.
    for (int i = 0; i < 9; ++i)
        list.InsertString(0, Filled(100, 'g'));
    QCOMPARE(list.GetCount(), 10);
    list.SetMaxBytes(450);
    QCOMPARE(list.GetCount(), 4);
    QCOMPARE(list.Lines()->StoredBytes(), 400);
    list.ResetLines({Filled(200, 'h'), Filled(200, 'i'), Filled(200, 'j')});
    QCOMPARE(list.GetCount(), 2);
    QCOMPARE(list.GetText(1), Filled(200, 'i'));
    QCOMPARE(list.Lines()->StoredBytes(), 400);
    list.ResetContent();
    QCOMPARE(list.Lines()->StoredBytes(), 0);

    // Paused, the waiting lines keep to the same bound, and come in as they would have.
    DisplayFeed feed(&list);
    QSignalSpy waiting(&feed, &DisplayFeed::WaitingChanged);
    feed.SetPaused(true);
    for (char ch : {'k', 'l', 'm', 'n'})
        feed.Show(Filled(200, ch));
    QCOMPARE(feed.Waiting(), 2);
    QCOMPARE(waiting.last().at(0).toInt(), 2);
    feed.SetPaused(false);
    QCOMPARE(list.GetCount(), 2);
    QCOMPARE(list.GetText(0), Filled(200, 'n'));
    QCOMPARE(list.GetText(1), Filled(200, 'm'));
}

void TestExtentListBox::longLinesAreMeasuredByTheirStart()
{
    CExtentListBox list;
    const int average = list.fontMetrics().averageCharWidth();
    const int narrow = list.fontMetrics().horizontalAdvance(QLatin1Char('i'));
    const int wide = list.fontMetrics().horizontalAdvance(QLatin1Char('W'));
    QVERIFY(narrow < wide);
    // Its start narrow, the rest wide: measured by its start, in proportion to its bytes.
    const QByteArray line = Filled(LineMeasure::kExactBytes, 'i') + Filled(190000, 'W');
    for (int i = 0; i < 50; ++i)
        list.InsertString(0, line);
    QCOMPARE(list.HorizontalExtent(), narrow * line.size() + average);
    QCOMPARE(list.TextWidth(line), narrow * line.size() + average);

    // Up to the bound a line is measured whole, as a short one.
    const QByteArray exact = Filled(LineMeasure::kExactBytes - 100, 'i') + Filled(100, 'W');
    QCOMPARE(list.TextWidth(exact), narrow * (exact.size() - 100) + wide * 100 + average);
    // Chinese lines are measured as characters, whichever their encoding.
    const QString chinese = QStringLiteral("服务器").repeated(10000);
    list.ResetContent();
    list.InsertString(0, chinese.toUtf8(), TextEncoding::Utf8);
    const int chineseWidth = list.fontMetrics().horizontalAdvance(QStringLiteral("服务器")) * 10000;
    QVERIFY2(qAbs(list.HorizontalExtent() - average - chineseWidth) <= 2,
             qPrintable(QString("%1 for %2").arg(list.HorizontalExtent() - average).arg(chineseWidth)));
    list.ResetContent();
    list.InsertString(0, ToGbk(chinese));
    QVERIFY2(qAbs(list.HorizontalExtent() - average - chineseWidth) <= 2,
             qPrintable(QString("%1 for %2").arg(list.HorizontalExtent() - average).arg(chineseWidth)));
}

void TestExtentListBox::longLinesPaintWhatIsInView()
{
    QByteArray line = HexLine(65000);
    line.insert(line.size() - 2, "ZZ");  // found by the filter only at the end
    QVERIFY(line.size() > 195000);
    auto showList = [](CExtentListBox &list) {
        list.resize(400, 120);
        list.show();
        return QTest::qWaitForWindowExposed(&list);
    };
    CExtentListBox list;
    QVERIFY(showList(list));
    list.InsertString(0, line);
    list.InsertString(0, "127.0.0.1:5000 short\r\n");
    const int rowHeight = list.RowHeight();
    QScrollBar *scroll = list.horizontalScrollBar();
    QTRY_COMPARE(scroll->maximum(), list.HorizontalExtent() - list.viewport()->width());
    const QRgb background = list.palette().base().color().rgb();
    const int width = list.viewport()->width();

    // At the start, the long row is drawn as its start would be as a short line.
    CExtentListBox start;
    QVERIFY(showList(start));
    start.InsertString(0, line.left(400));
    start.InsertString(0, "127.0.0.1:5000 short\r\n");
    QTRY_COMPARE(start.viewport()->size(), list.viewport()->size());
    QCOMPARE(ViewportImage(list), ViewportImage(start));

    // A short line paints as drawn whole.
    QImage reference(start.viewport()->size(), QImage::Format_RGB32);
    reference.fill(background);
    {
        QPainter painter(&reference);
        painter.setFont(start.viewport()->font());
        painter.setPen(start.palette().text().color());
        const QFontMetrics metrics = start.viewport()->fontMetrics();
        painter.drawText(2, (rowHeight + metrics.ascent() - metrics.descent()) / 2, "127.0.0.1:5000 short");
    }
    QCOMPARE(ViewportImage(start).copy(0, 0, width, rowHeight), reference.copy(0, 0, width, rowHeight));

    // In the middle and at the very end, text across the row, up to the end of the line.
    list.SetCurSel(1);
    const QRgb highlight = list.palette().highlight().color().rgb();
    for (int offset : {scroll->maximum() / 2, scroll->maximum()}) {
        scroll->setValue(offset);
        const QImage image = ViewportImage(list).copy(0, rowHeight, width, rowHeight);
        QCOMPARE(image.pixel(0, 0), highlight);
        QVERIFY2(InkedColumns(image, rowHeight, 0, width / 4, highlight) > width / 16,
                 qPrintable(QString::number(offset)));
        QVERIFY2(InkedColumns(image, rowHeight, width / 2, width - 4 * list.fontMetrics().averageCharWidth(), highlight)
                     > width / 8,
                 qPrintable(QString::number(offset)));
    }

    // The filter (the match at the line's end) and a second view of the same lines show it too.
    list.SetFilterText("zz");
    QCOMPARE(ShownTexts(list), QStringList{QString::fromLatin1(line)});
    FilteredLineView other(list.Lines());
    other.setFont(list.font());
    other.resize(400, 120);
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    other.SetHorizontalExtent(list.WidestLineWidth());
    QTRY_COMPARE(other.horizontalScrollBar()->maximum(), list.WidestLineWidth() - other.viewport()->width());
    other.horizontalScrollBar()->setValue(other.horizontalScrollBar()->maximum());
    const int otherWidth = other.viewport()->width();
    QVERIFY(InkedColumns(ViewportImage(other).copy(0, rowHeight, otherWidth, rowHeight), rowHeight, otherWidth / 2,
                         otherWidth, background)
            > otherWidth / 8);
}

QTEST_MAIN(TestExtentListBox)
#include "test_extent_list_box.moc"
