// Inserting received lines at the top of a shown display list, up to 1,000,000 lines.
//
//   QT_QPA_PLATFORM=offscreen ./build/bench/bench_display_list [lines]
//
// Reports the insert rate, the cost of one insert near 1,000 lines against near the end
// (same run), and the memory each line costs against its text bytes.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "common/extent_list_box.h"

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

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
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
    std::printf("memory per line:          %.0f bytes for %.0f text bytes (limit 2 x text + 48 = %.0f)\n",
                bytesPerLine, textPerLine, 2 * textPerLine + 48);
    std::printf("wall time:                %.2f s\n", total.nsecsElapsed() / 1e9);
    return 0;
}
