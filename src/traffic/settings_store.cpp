#include "traffic/settings_store.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include "traffic/clock_text.h"
#include "traffic/system_log.h"

namespace SettingsStore {

namespace {

// Far above any settings the program writes: a larger file is not one of ours.
constexpr qint64 kMaxFileSize = qint64(64) << 20;
// Aside names tried within one second before giving up (each is a kept damaged file).
constexpr int kMaxAsideNumber = 1000;

// Names are the program's own plain file names; anything with a folder in it is refused.
bool IsPlainName(const QString &name)
{
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(u'\\');
}

QString PathOf(const QString &name)
{
    return QDir(Folder()).filePath(name);
}

void Log(const QString &text)
{
    SystemLog::Append(g_strDateTime + text + QStringLiteral("\r\n"));
}

}  // namespace

QString Folder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(folder);
    return folder;
}

std::optional<QByteArray> LoadBytes(const QString &name)
{
    if (!IsPlainName(name))
        return std::nullopt;
    QFile file(PathOf(name));
    if (!file.exists())
        return std::nullopt;
    if (file.size() > kMaxFileSize) {
        SetAside(name, QStringLiteral("大于 64 MiB"));
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        SetAside(name, QStringLiteral("无法读取"));
        return std::nullopt;
    }
    // Read at most one byte past the limit: the file may grow after size() looked.
    const QByteArray bytes = file.read(kMaxFileSize + 1);
    const bool readFailed = file.error() != QFileDevice::NoError;
    file.close();
    if (readFailed) {
        SetAside(name, QStringLiteral("无法读取"));
        return std::nullopt;
    }
    if (bytes.size() > kMaxFileSize) {
        SetAside(name, QStringLiteral("大于 64 MiB"));
        return std::nullopt;
    }
    return bytes;
}

std::optional<QJsonObject> Load(const QString &name)
{
    const std::optional<QByteArray> bytes = LoadBytes(name);
    if (!bytes)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(*bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        SetAside(name, QStringLiteral("内容无效"));
        return std::nullopt;
    }
    return document.object();
}

void SetAside(const QString &name, const QString &why)
{
    if (!IsPlainName(name))
        return;
    const QString path = PathOf(name);
    const QString base = path + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss");
    // QFile::rename never replaces an existing file, so a name taken meanwhile is skipped too.
    for (int number = 1; number <= kMaxAsideNumber; ++number) {
        const QString asidePath = number == 1 ? base : base + QStringLiteral("-%1").arg(number);
        if (QFileInfo::exists(asidePath))
            continue;
        if (QFile::rename(path, asidePath)) {
            Log(QStringLiteral(" 设置文件") + path + why + QStringLiteral("，已另存为") + asidePath
                + QStringLiteral("，使用默认设置"));
            return;
        }
        if (!QFileInfo::exists(asidePath))
            break;
    }
    Log(QStringLiteral(" 设置文件") + path + why + QStringLiteral("，且无法另存，使用默认设置"));
}

bool Save(const QString &name, const QByteArray &bytes)
{
    if (!IsPlainName(name))
        return false;
    QSaveFile file(PathOf(name));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool Save(const QString &name, const QJsonObject &object)
{
    return Save(name, QJsonDocument(object).toJson(QJsonDocument::Indented));
}

}  // namespace SettingsStore
