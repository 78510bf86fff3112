#include "traffic/capture/capture_sink.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::unique_ptr<FileCaptureSink> FileCaptureSink::Create(const QString &path, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    const int file = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    struct stat status
    {
    };
    if (file < 0 || ::fstat(file, &status) != 0) {
        if (error)
            *error = qt_error_string(errno);
        if (file >= 0)
            ::close(file);
        return nullptr;
    }
    return std::unique_ptr<FileCaptureSink>(new FileCaptureSink(name, file, status.st_dev, status.st_ino));
}

FileCaptureSink::FileCaptureSink(const QByteArray &path, int file, dev_t device, ino_t inode)
    : m_path(path)
    , m_file(file)
    , m_device(device)
    , m_inode(inode)
{
}

FileCaptureSink::~FileCaptureSink()
{
    Close();
}

bool FileCaptureSink::Write(const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(m_file, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            // write(2) takes nothing only when it cannot take anything (a full disk).
            if (written == 0)
                errno = ENOSPC;
            return Fail();
        }
        data += written;
        size -= written;
    }
    return true;
}

bool FileCaptureSink::TruncateTo(qint64 size)
{
    // The offset follows, so that the file has no hole should anything be written after.
    if (::ftruncate(m_file, off_t(size)) != 0 || ::lseek(m_file, off_t(size), SEEK_SET) < 0)
        return Fail();
    return true;
}

bool FileCaptureSink::StillAtPath()
{
    struct stat status
    {
    };
    if (::stat(m_path.constData(), &status) != 0)
        return Fail();
    if (status.st_dev == m_device && status.st_ino == m_inode)
        return true;
    errno = ENOENT;
    return Fail();
}

bool FileCaptureSink::Close()
{
    if (m_file < 0)
        return true;
    // Some file systems tell a failed write only here.
    const int closed = ::close(m_file);
    m_file = -1;
    return closed == 0 || Fail();
}

bool FileCaptureSink::Fail()
{
    m_error = qt_error_string(errno);
    return false;
}
