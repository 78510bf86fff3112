// Inserting received lines at the top of a shown display list, up to 1,000,000 lines, and
// the filter over a full list.
//
//   QT_QPA_PLATFORM=offscreen ./build/bench/bench_display_list [lines]
//   QT_QPA_PLATFORM=offscreen ./build/bench/bench_display_list long   (the last part only)
//
// Reports the insert rate, the cost of one insert near 1,000 lines against near the end
// (same run), and the memory each line costs against its text bytes. Then, over a full list
// of kKeptLines lines: how long each key typed into the filter takes to show its result,
// repaint included, for ASCII and for GBK Chinese lines; and the cost of one insert during
// a million inserts with and without a filter, in the first, second and last tenth. Last,
// long lines: 1,000 hex lines of 196,000 characters (64 KiB blocks) against 1,000 of 256,
// the cost of an insert and of a repaint scrolled to the middle and to the end.
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <vector>

#include "text/gbk.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/line_list_model.h"

namespace {

long ResidentBytes()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLong() * 4096;
}

// About 80 characters, different every time, as received lines are.
QByteArray ReceivedLine(int counter)
{
    QByteArray line = "127.0.0.1:50123 ";
    line += QByteArray::number(counter).rightJustified(10, '0');
    line += " the quick brown fox jumps over the lazy dog 0123456789";
    line += "\r\n";
    return line;
}

// Median nanoseconds per insert of `batches` batches of `size` inserts.
double MedianInsertCost(CExtentListBox &list, int &counter, int batches, int size)
{
    std::vector<double> costs;
    for (int batch = 0; batch < batches; ++batch) {
        std::vector<QByteArray> lines;
        for (int i = 0; i < size; ++i)
            lines.push_back(ReceivedLine(counter++));
        QElapsedTimer timer;
        timer.start();
        for (const QByteArray &line : lines)
            list.InsertString(0, line);
        costs.push_back(double(timer.nsecsElapsed()) / size);
        QApplication::processEvents();
    }
    std::sort(costs.begin(), costs.end());
    return costs[costs.size() / 2];
}

// A display line as a page shows it, port and count varying so that filters match some.
QByteArray DisplayLine(int counter)
{
    return "127.0.0.1:" + QByteArray::number(50000 + counter % 1000) + " some received text "
           + QByteArray::number(counter % 100000) + "\r\n";
}

QByteArray ChineseDisplayLine(int counter)
{
    return ToGbk(QStringLiteral("127.0.0.1:") + QString::number(50000 + counter % 1000) + QStringLiteral(" 收到的数据 ")
                 + QString::number(counter % 100000) + QStringLiteral("\r\n"));
}

class PaintCounter : public QObject
{
public:
    int paints = 0;

    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

// Types each text into the filter of a full shown list, one key at a time as a line edit
// passes it on, and reports how long each took to show, repaint included.
void ReportTyping(const char *title, QByteArray (*lineAt)(int), const QStringList &texts)
{
    CExtentListBox list;
    list.resize(530, 300);
    list.show();
    for (int i = 0; i < LineListBox::kKeptLines; ++i)
        list.InsertString(0, lineAt(i));
    PaintCounter counter;
    list.viewport()->installEventFilter(&counter);
    QApplication::processEvents();

    std::printf("%s, %d lines:\n", title, list.GetCount());
    double slowest = 0;
    for (const QString &text : texts) {
        const int paintsBefore = counter.paints;
        QElapsedTimer timer;
        timer.start();
        list.SetFilterText(text);
        QApplication::processEvents();
        const double ms = timer.nsecsElapsed() / 1e6;
        slowest = std::max(slowest, ms);
        std::printf("  %-14s %6d shown  %7.2f ms%s\n", qPrintable('"' + text + '"'), list.model()->rowCount(), ms,
                    counter.paints > paintsBefore ? "" : "  (no repaint)");
    }
    std::printf("  slowest key: %.2f ms (target <= 100)\n", slowest);
}

// Median nanoseconds per insert of the first, second and last tenth of a million inserts at
// the top: the list grows to its bound in the first tenth and stays there after.
struct TenthCosts
{
    double first;
    double second;
    double last;
};

TenthCosts InsertCostByTenth(const QString &filter)
{
    CExtentListBox list;
    list.resize(530, 300);
    list.show();
    list.SetFilterText(filter);
    QApplication::processEvents();

    constexpr int kInserts = 1000000;
    constexpr int kBatch = 1000;
    std::vector<double> costs;
    int counter = 0;
    for (int batch = 0; batch < kInserts / kBatch; ++batch) {
        std::vector<QByteArray> lines;
        for (int i = 0; i < kBatch; ++i)
            lines.push_back(DisplayLine(counter++));
        QElapsedTimer timer;
        timer.start();
        for (const QByteArray &line : lines)
            list.InsertString(0, line);
        costs.push_back(double(timer.nsecsElapsed()) / kBatch);
        QApplication::processEvents();
    }
    const auto tenth = static_cast<std::ptrdiff_t>(costs.size() / 10);
    auto median = [&costs, tenth](std::ptrdiff_t start) {
        std::vector<double> part(costs.begin() + start, costs.begin() + start + tenth);
        std::sort(part.begin(), part.end());
        return part[part.size() / 2];
    };
    return {median(0), median(tenth), median(9 * tenth)};
}

void ReportFilteredInserts()
{
    std::printf("one insert at the top, a million inserts, bound %d (first tenth grows to it):\n",
                LineListBox::kKeptLines);
    double unfiltered = 0;
    for (const QString &filter : {QString(), QStringLiteral("TEXT 1"), QStringLiteral("text")}) {
        const TenthCosts costs = InsertCostByTenth(filter);
        if (filter.isEmpty())
            unfiltered = costs.last;
        const QString title = filter.isEmpty() ? QStringLiteral("no filter") : '"' + filter + '"';
        std::printf("  %-9s first tenth %4.0f ns, second %4.0f ns, last %4.0f ns (last/first %.2f, last/second %.2f; "
                    "last against no filter %.2f)\n",
                    qPrintable(title), costs.first, costs.second, costs.last, costs.last / costs.first,
                    costs.last / costs.second, costs.last / unfiltered);
    }
}

// A received block in hex as the display shows it, characters in all, different each time.
QByteArray HexDisplayLine(int counter, int characters)
{
    QByteArray line = "127.0.0.1:" + QByteArray::number(50000 + counter % 1000) + ' ';
    line.reserve(characters + 2);
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int i = 0; line.size() + 3 <= characters; ++i) {
        const int byte = (i * 7 + counter) & 0xFF;
        line.append(kDigits[byte >> 4]).append(kDigits[byte & 15]).append(' ');
    }
    return line + "\r\n";
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Median milliseconds of a repaint of the shown rows, each frame scrolled sideways by a
// character from the given offset (the rows stay: the view's decoded rows are used again).
double PaintCost(CExtentListBox &list, int offset)
{
    QScrollBar *scroll = list.horizontalScrollBar();
    std::vector<double> frames;
    for (int frame = 0; frame < 40; ++frame) {
        scroll->setValue(offset - frame * list.fontMetrics().averageCharWidth());
        QElapsedTimer timer;
        timer.start();
        list.viewport()->repaint();
        frames.push_back(timer.nsecsElapsed() / 1e6);
    }
    return Median(frames);
}

void ReportLongLines()
{
    std::printf("1,000 hex lines inserted at the top of a shown list (530 x 300), then repainted:\n");
    for (int characters : {256, 196000}) {
        CExtentListBox list;
        list.resize(530, 300);
        list.show();
        QApplication::processEvents();
        std::vector<double> inserts;
        for (int i = 0; i < 1000; ++i) {
            const QByteArray line = HexDisplayLine(i, characters);
            QElapsedTimer timer;
            timer.start();
            list.InsertString(0, line);
            inserts.push_back(timer.nsecsElapsed() / 1e3);
            if (i % 50 == 0)
                QApplication::processEvents();
        }
        QApplication::processEvents();
        QScrollBar *scroll = list.horizontalScrollBar();
        const double middle = PaintCost(list, scroll->maximum() / 2);
        const double end = PaintCost(list, scroll->maximum());
        // A page down each frame: rows never shown before, each decoded once.
        std::vector<double> paging;
        for (int frame = 0; frame < 20; ++frame) {
            list.verticalScrollBar()->setValue(frame * list.verticalScrollBar()->pageStep());
            QElapsedTimer timer;
            timer.start();
            list.viewport()->repaint();
            paging.push_back(timer.nsecsElapsed() / 1e6);
        }
        std::printf("  %6d characters: insert median %7.1f us, mean %7.1f us; repaint middle %6.2f ms, end %6.2f ms, "
                    "a page down %6.2f ms (extent %d px, %lld line bytes)\n",
                    characters, Median(inserts),
                    std::accumulate(inserts.begin(), inserts.end(), 0.0) / double(inserts.size()), middle, end,
                    Median(paging), list.HorizontalExtent(), static_cast<long long>(list.Lines()->StoredBytes()));
    }
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "long") {
        ReportLongLines();
        return 0;
    }
    const int target = argc > 1 ? std::max(20000, atoi(argv[1])) : 1000000;

    CExtentListBox list;
    list.resize(530, 300);
    list.show();
    // Unbounded, to see what one insert costs at a million lines; the pages keep kKeptLines.
    list.SetMaxLines(0);
    QApplication::processEvents();

    int counter = 0;
    for (int i = 0; i < 1000; ++i)
        list.InsertString(0, ReceivedLine(counter++));
    // Ten small batches near 1,000 lines, undone again so the list stays near 1,000.
    const double costNearStart = MedianInsertCost(list, counter, 9, 100);
    while (list.GetCount() > 1000)
        list.DeleteString(0);

    const long residentBefore = ResidentBytes();
    const int linesBefore = list.GetCount();
    long textBytes = 0;
    QElapsedTimer total;
    total.start();
    qint64 insertNanos = 0;
    while (list.GetCount() < target - 900) {
        // Lines are made outside the timed part; painting between batches is timed.
        std::vector<QByteArray> lines;
        for (int i = 0; i < 1000; ++i) {
            lines.push_back(ReceivedLine(counter++));
            textBytes += lines.back().size();
        }
        QElapsedTimer batch;
        batch.start();
        for (const QByteArray &line : lines)
            list.InsertString(0, line);
        QApplication::processEvents();
        insertNanos += batch.nsecsElapsed();
    }
    const int inserted = list.GetCount() - linesBefore;
    const long residentAfter = ResidentBytes();
    const double costNearEnd = MedianInsertCost(list, counter, 9, 100);

    const double bytesPerLine = double(residentAfter - residentBefore) / inserted;
    const double textPerLine = double(textBytes) / inserted;
    std::printf("lines in list:            %d\n", list.GetCount());
    std::printf("insert rate:              %.0f lines/s (inserts and repaints, %d lines in %.2f s)\n",
                inserted / (insertNanos / 1e9), inserted, insertNanos / 1e9);
    std::printf("one insert near 1,000:    %.0f ns\n", costNearStart);
    std::printf("one insert near %d: %.0f ns (ratio %.2f, target <= 1.5)\n", list.GetCount(), costNearEnd,
                costNearEnd / costNearStart);
    std::printf("memory per line:          %.0f bytes for %.0f text bytes (limit 2 x text + 48 = %.0f)\n", bytesPerLine,
                textPerLine, 2 * textPerLine + 48);
    std::printf("wall time:                %.2f s\n", total.nsecsElapsed() / 1e9);

    // Typed one key at a time; a key that extends the text only checks the lines shown.
    ReportTyping("filter typed over ASCII lines", DisplayLine,
                 {"t", "te", "tex", "text", "text ", "text 1", "text 12", "text 1", "50123", "e", ""});
    ReportTyping("filter typed over GBK Chinese lines", ChineseDisplayLine,
                 {"数", "数据", "数据 ", "数据 1", "数据 12", "50123", "E", ""});
    ReportFilteredInserts();
    ReportLongLines();
    return 0;
}
