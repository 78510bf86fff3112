#include "support/process_counts.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QList>
#include <QPainter>

#include <filesystem>
#include <iterator>

#include <unistd.h>

int OpenDescriptors()
{
    std::error_code error;
    std::filesystem::directory_iterator entries("/proc/self/fd", error);
    if (error)
        return -1;
    return static_cast<int>(std::distance(begin(entries), end(entries))) - 1;  // the listing's own descriptor
}

// Qt's raster painting spreads a large fill over helper threads of its own, each with a
// descriptor; they start when a list first paints its scroll bar and end after 30 s without
// such work. A large fill right before a count has them all running, so that the counts
// before and after a section differ by the page's descriptors alone.
int OpenDescriptorsSettled()
{
    QImage image(1024, 1024, QImage::Format_ARGB32_Premultiplied);
    QPainter(&image).fillRect(image.rect(), QColor(0, 0, 0, 128));
    return OpenDescriptors();
}

int OpenSockets()
{
    int sockets = 0;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd", error))
        sockets += std::filesystem::read_symlink(entry.path(), error).string().starts_with("socket:");
    return sockets;
}

long ResidentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLong() * ::sysconf(_SC_PAGESIZE);
}
