#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

#include <sys/types.h>

// Where a capture's bytes go: a file, or in tests a file that fails on cue.
class CaptureSink
{
public:
    virtual ~CaptureSink() = default;

    // Writes all the bytes; false when it could not (some may have gone).
    virtual bool Write(const char *data, qsizetype size) = 0;
    // Cuts what was written back to its first size bytes.
    virtual bool TruncateTo(qint64 size) = 0;
    // False once the path no longer names what is written: the file was removed, renamed or
    // replaced, so whatever comes next would be lost.
    virtual bool StillAtPath() = 0;
    // False when the last bytes may not have reached the file.
    virtual bool Close() = 0;
    // Why the last call failed, as the system says it.
    virtual QString ErrorText() const = 0;
};

// A file created (or emptied) at a path, written straight through with write(2).
class FileCaptureSink final : public CaptureSink
{
public:
    // Null, with the reason in error, when the file cannot be created.
    static std::unique_ptr<FileCaptureSink> Create(const QString &path, QString *error);
    ~FileCaptureSink() override;

    bool Write(const char *data, qsizetype size) override;
    bool TruncateTo(qint64 size) override;
    bool StillAtPath() override;
    bool Close() override;
    QString ErrorText() const override { return m_error; }

private:
    FileCaptureSink(const QByteArray &path, int file, dev_t device, ino_t inode);
    bool Fail();

    QByteArray m_path;
    int m_file;
    dev_t m_device;
    ino_t m_inode;
    QString m_error;
};
