#include "pages/commands/library_files.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include "pages/file_dialogs.h"
#include "pages/message_box.h"
#include "traffic/commands/command_library.h"

namespace LibraryFiles {

namespace {

void Refuse(QWidget *owner, const QString &text)
{
    PageMessageBox(owner, owner->window()->windowTitle(), text, QMessageBox::Ok, QMessageBox::Warning);
}

FileDialogs::SaveRequest Request(QWidget *owner, const QString &caption)
{
    FileDialogs::SaveRequest request;
    request.owner = owner;
    request.caption = caption;
    request.suggestedName = QStringLiteral("commands.json");
    request.filters = {QString::fromUtf8(kFilter)};
    return request;
}

}  // namespace

bool Import(CommandLibrary &library, QWidget *owner)
{
    const QString path = FileDialogs::AskOpenFile(Request(owner, QStringLiteral("导入命令库"))).path;
    if (path.isEmpty())
        return false;
    const QString shown = QDir::toNativeSeparators(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Refuse(owner, QStringLiteral("无法读取 %1:\n%2").arg(shown, file.errorString()));
        return false;
    }
    if (file.size() > kMaxFileSize) {
        Refuse(owner, QStringLiteral("无法导入 %1:\n文件太大。").arg(shown));
        return false;
    }
    const QByteArray json = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        Refuse(owner, QStringLiteral("无法读取 %1:\n%2").arg(shown, file.errorString()));
        return false;
    }
    QString error;
    if (!library.FromJson(json, &error)) {
        Refuse(owner, QStringLiteral("%1 不是有效的命令库:\n%2").arg(shown, error));
        return false;
    }
    return true;
}

bool Export(const CommandLibrary &library, QWidget *owner)
{
    const QString path = FileDialogs::AskSaveFile(Request(owner, QStringLiteral("导出命令库"))).path;
    if (path.isEmpty())
        return false;
    // Written beside and then put in place: a failed write leaves an earlier file whole.
    QSaveFile file(path);
    const QByteArray json = library.ToJson();
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.commit()) {
        Refuse(owner, QStringLiteral("无法写入 %1:\n%2").arg(QDir::toNativeSeparators(path), file.errorString()));
        return false;
    }
    return true;
}

}  // namespace LibraryFiles
