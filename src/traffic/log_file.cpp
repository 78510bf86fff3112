#include "traffic/log_file.h"

namespace LogFile {

namespace {

const QByteArray kFiveEmptyLines = "\r\n\r\n\r\n\r\n\r\n";

bool WriteAll(QFile &file, const QByteArray &bytes)
{
    return file.write(bytes) == bytes.size();
}

}  // namespace

bool AppendToExisting(QFile &file, const QString &path, const QByteArray &bytes)
{
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
        return false;
    const bool written = WriteAll(file, bytes) && file.flush();
    file.close();
    return written;
}

bool WriteSectionHeader(QFile &file, const QString &path, const QByteArray &header, bool emptyLinesWhenExisting)
{
    if (QFile::exists(path))
        return AppendToExisting(file, path, emptyLinesWhenExisting ? kFiveEmptyLines + header : header);
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = WriteAll(file, header) && file.flush();
    file.close();
    return written;
}

}  // namespace LogFile
