#include "traffic/commands/library_file.h"

#include "traffic/commands/command_library.h"
#include "traffic/settings_store.h"

LibraryFile::LibraryFile(CommandLibrary &library, QObject *parent)
    : QObject(parent)
    , m_library(library)
{
    m_save.setSingleShot(true);
    m_save.setInterval(kSaveDelayMs);
    connect(&m_save, &QTimer::timeout, this, [this] { SettingsStore::Save(kFileName, m_library.ToJson()); });
    connect(&library, &CommandLibrary::Changed, this, [this] {
        if (!m_loading)
            m_save.start();
    });
}

LibraryFile::~LibraryFile()
{
    Flush();
}

void LibraryFile::Load()
{
    const std::optional<QByteArray> bytes = SettingsStore::LoadBytes(kFileName);
    if (!bytes)
        return;
    QString error;
    m_loading = true;
    const bool loaded = m_library.FromJson(*bytes, &error);
    m_loading = false;
    if (!loaded)
        SettingsStore::SetAside(kFileName, error);
}

void LibraryFile::Flush()
{
    if (!m_save.isActive())
        return;
    m_save.stop();
    SettingsStore::Save(kFileName, m_library.ToJson());
}

CommandLibrary &SharedCommandLibrary()
{
    static CommandLibrary library;
    return library;
}
