#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The file rules shared by log.txt and the traffic logs: every write opens, appends and
// closes, so other programs can read the file between two lines.
namespace LogFile {

// Appends bytes to a file that must already exist; false when it cannot be opened or written.
bool AppendToExisting(QFile &file, const QString &path, const QByteArray &bytes);

// Starts a section: appended to an existing file after five empty lines (when asked for),
// or written into a newly created file without them. An existing file that cannot be
// opened is never truncated. False when the header could not be written.
bool WriteSectionHeader(QFile &file, const QString &path, const QByteArray &header, bool emptyLinesWhenExisting = true);

}  // namespace LogFile
