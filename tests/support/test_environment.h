#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// What every test takes from here: the waits, the loopback sockets, the process's counts.
#include "support/event_wait.h"
#include "support/loopback_sockets.h"
#include "support/process_counts.h"

// Each test runs in a fresh temporary directory made the current one.
class ScopedTemporaryCurrentDir
{
public:
    ScopedTemporaryCurrentDir();
    ~ScopedTemporaryCurrentDir();

    QString Path() const { return m_dir.path(); }
    QString FilePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

QByteArray ReadFileBytes(const QString &path);
void WriteFileBytes(const QString &path, const QByteArray &bytes);

// Back to the state the process starts in: no log file, empty date-time, counters at 0.
void ResetProcessGlobals();
