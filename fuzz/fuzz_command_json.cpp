// The command library's file: CommandLibrary::FromJson on any bytes, and the settings reader.
//
// A refused text leaves the library exactly as it was; an accepted one writes out a text that
// reads back to the same library and the same text. Some inputs (picked by their hash, so a
// saved input reproduces) also go through SettingsStore::Load as a file in a temporary
// configuration folder: anything but a JSON object is set aside, never returned.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHashFunctions>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <cstdlib>

#include "fuzz_check.h"
#include "traffic/commands/command_library.h"
#include "traffic/settings_store.h"

namespace {

const QString kSettingsName = QStringLiteral("fuzz.json");

void FillSample(CommandLibrary &library)
{
    library.AddGroup(QStringLiteral("组"));
    Command command;
    command.name = QStringLiteral("读");
    command.text = QStringLiteral("01 03 00 0A 00 02");
    command.hex = true;
    command.options.checksum = Checksum::Crc16Modbus;
    const quint64 id = library.AddCommand(0, command);
    library.AddSequence(Sequence{QStringLiteral("轮询"), {{id, 100}}, 3});
}

void CheckLibrary(const QByteArray &bytes)
{
    CommandLibrary library;
    FillSample(library);
    const QList<CommandGroup> groups = library.Groups();
    const QList<Sequence> sequences = library.Sequences();

    QString error;
    if (!library.FromJson(bytes, &error)) {
        FUZZ_CHECK(!error.isEmpty());
        FUZZ_CHECK(library.Groups() == groups);
        FUZZ_CHECK(library.Sequences() == sequences);
        return;
    }
    const QByteArray written = library.ToJson();
    CommandLibrary copy;
    FUZZ_CHECK(copy.FromJson(written, &error));
    FUZZ_CHECK(copy.Groups() == library.Groups());
    FUZZ_CHECK(copy.Sequences() == library.Sequences());
    FUZZ_CHECK(copy.ToJson() == written);
}

void CheckSettingsReader(const QByteArray &bytes)
{
    const QDir folder(SettingsStore::Folder());
    const QString path = folder.filePath(kSettingsName);
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    file.close();

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    const bool isObject = parseError.error == QJsonParseError::NoError && document.isObject();

    const std::optional<QJsonObject> loaded = SettingsStore::Load(kSettingsName);
    FUZZ_CHECK(loaded.has_value() == isObject);
    if (isObject) {
        FUZZ_CHECK(*loaded == document.object());
        FUZZ_CHECK(QFile::exists(path));
    } else {
        FUZZ_CHECK(!QFile::exists(path));
        const QStringList aside = folder.entryList({kSettingsName + QStringLiteral(".damaged-*")}, QDir::Files);
        FUZZ_CHECK(aside.size() == 1);
        QFile kept(folder.filePath(aside[0]));
        FUZZ_CHECK(kept.open(QIODevice::ReadOnly) && kept.readAll() == bytes);
        kept.close();
        FUZZ_CHECK(kept.remove());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The settings go to a folder of this run's own, removed when the run ends.
    static QTemporaryDir configHome;
    if (!configHome.isValid())
        std::abort();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    QCoreApplication::setApplicationName(QStringLiteral("velvane-fuzz"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    CheckLibrary(bytes);
    if (qHashBits(data, size, 0) % 16 == 0)
        CheckSettingsReader(bytes);
    return 0;
}
