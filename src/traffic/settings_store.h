#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// The program's files in the user's configuration folder (QStandardPaths::AppConfigLocation):
// read with care, written atomically.
namespace SettingsStore {

// The folder, made when missing.
QString Folder();

// The JSON object in the file name; nothing when there is no such file. A file that cannot
// be read or is not a JSON object (damaged, truncated, hostile) is renamed aside to
// "<name>.damaged-<yyyyMMdd-HHmmss>" (never overwritten), a line in the system log says so,
// and nothing is returned: the caller starts with its defaults.
std::optional<QJsonObject> Load(const QString &name);
// The raw bytes of the same, for a caller with its own reader (the command library).
std::optional<QByteArray> LoadBytes(const QString &name);
// Keeps aside a file whose content the caller found invalid, as Load does.
void SetAside(const QString &name, const QString &why);
// Writes the file whole or not at all (QSaveFile); false when it could not.
bool Save(const QString &name, const QByteArray &bytes);
bool Save(const QString &name, const QJsonObject &object);

}  // namespace SettingsStore
