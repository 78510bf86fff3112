#include "chaos_probes.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QMap>

#include <malloc.h>

// AddressSanitizer, as GCC and as Clang say it.
#if defined(__SANITIZE_ADDRESS__)
#define CHAOS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CHAOS_ASAN 1
#endif
#endif

#if defined(CHAOS_ASAN)
// From the sanitizer's runtime (its header is not always installed).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "chaos_run.h"
#include "widgets/display_list/line_list_box.h"
#include "widgets/display_list/line_list_model.h"

namespace Chaos {

qint64 Ms(Clock::duration duration)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

QString Mb(qint64 bytes)
{
    return QString::number(bytes / 1048576.0, 'f', 1) + QStringLiteral(" MB");
}

QStringList DescriptorTargets()
{
    // A socket's kind from the kernel's tables, by its inode.
    QMap<QByteArray, QString> kinds;
    for (const char *table : {"tcp", "udp", "unix", "netlink", "tcp6", "udp6"}) {
        QFile file(QStringLiteral("/proc/net/") + QLatin1String(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QByteArray &line : lines) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            const int inodeField = QByteArray(table) == "unix" ? 6 : QByteArray(table) == "netlink" ? 9 : 9;
            if (fields.size() > inodeField)
                kinds[fields[inodeField]] = QLatin1String(table) + QLatin1Char(' ')
                                            + QString::fromLatin1(line.simplified().left(120));
        }
    }
    QStringList targets;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &name : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(name));
        const qsizetype open = target.indexOf(QLatin1String("socket:["));
        const QByteArray inode = open >= 0 ? target.mid(open + 8).chopped(1).toLatin1() : QByteArray();
        targets << name + QStringLiteral(" -> ") + target.mid(target.lastIndexOf(QLatin1Char('/')) + 1)
                       + (inode.isEmpty() ? QString()
                                          : QStringLiteral(" (%1)").arg(kinds.value(inode, QStringLiteral("?"))));
    }
    return targets;
}

qint64 HeapInUse()
{
#if defined(CHAOS_ASAN)
    return static_cast<qint64>(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<qint64>(info.uordblks + info.hblkhd);
#endif
}

qint64 RunDelayNs(pid_t thread)
{
    QFile stat(QStringLiteral("/proc/self/task/%1/schedstat").arg(thread));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    return stat.readAll().split(' ').value(1).toLongLong();
}

qint64 MachineBusyTicks()
{
    QFile stat(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readLine().simplified().split(' ');
    qint64 busy = 0;
    for (const int field : {1, 2, 3, 6, 7, 8})  // user nice system irq softirq steal
        busy += fields.value(field).toLongLong();
    return busy;
}

qint64 ProcessTicks()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLongLong() + fields.value(12).toLongLong();  // utime stime
}

QString DescriptorDifference(const QStringList &before, const QStringList &after)
{
    QStringList gone;
    QStringList added;
    for (const QString &target : before)
        if (!after.contains(target))
            gone << target;
    for (const QString &target : after)
        if (!before.contains(target))
            added << target;
    return QStringLiteral("; gone: [%1]; new: [%2]")
        .arg(gone.join(QStringLiteral(", ")), added.join(QStringLiteral(", ")));
}

qint64 ListBytes(const LineListBox *list)
{
    qint64 bytes = 0;
    const LineListModel *lines = list->Lines();
    for (int row = 0; row < lines->Count(); ++row)
        bytes += lines->Line(row).size();
    return bytes;
}

bool SanitizerBuild()
{
#if defined(CHAOS_ASAN)
    return true;
#else
    return false;
#endif
}

}  // namespace Chaos
