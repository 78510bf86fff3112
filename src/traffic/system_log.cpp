#include "traffic/system_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

#include "text/gbk.h"
#include "traffic/clock_text.h"
#include "traffic/log_file.h"

int g_bSystemLogFile = 0;
QString g_strSystemLogPath;
QFile g_systemLogFile;

namespace SystemLog {

namespace {

const QString kBanner = QStringLiteral("*-------------------Velvane日志------------------*\r\n");

// A file that stops taking lines is said once, not once per line, until it works again.
bool s_fileFailureReported = false;
Sink s_sink;

void InsertListLine(const QByteArray &line)
{
    if (s_sink)
        s_sink(line);
}

void AppendOnGuiThread(const QString &listText, const QString &fileText)
{
    InsertListLine(ToGbk(listText));
    if (!g_bSystemLogFile)
        return;
    if (LogFile::AppendToExisting(g_systemLogFile, g_strSystemLogPath, ToGbk(fileText))) {
        s_fileFailureReported = false;
        return;
    }
    if (!s_fileFailureReported) {
        s_fileFailureReported = true;
        InsertListLine(ToGbk(g_strDateTime + QStringLiteral(" 写入系统日志文件失败: ") + g_strSystemLogPath
                             + QStringLiteral("\r\n")));
    }
}

}  // namespace

void SetSink(Sink sink)
{
    s_sink = std::move(sink);
}

void Append(const QString &listText, const QString &fileText)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        AppendOnGuiThread(listText, fileText);
        return;
    }
    // Queued calls run one after the other in the order they were posted.
    QMetaObject::invokeMethod(
        app, [listText, fileText] { AppendOnGuiThread(listText, fileText); }, Qt::QueuedConnection);
}

void Append(const QString &text)
{
    Append(text, text);
}

QString PathInCurrentDirectory(const QString &fileName)
{
    return QDir::current().absoluteFilePath(fileName);
}

bool EnableLogFile(const QString &startText)
{
    g_strSystemLogPath = PathInCurrentDirectory(QStringLiteral("log.txt"));
    const QByteArray header = ToGbk(startText + QStringLiteral("\r\n") + kBanner);

    if (!LogFile::WriteSectionHeader(g_systemLogFile, g_strSystemLogPath, header))
        return false;
    g_bSystemLogFile = 1;
    return true;
}

}  // namespace SystemLog
