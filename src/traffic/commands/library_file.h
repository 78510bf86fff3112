#pragma once

#include <QObject>
#include <QTimer>

class CommandLibrary;

// The command library every page shares, kept in "commands.json" in the configuration folder:
// read at start (a damaged file is set aside and the library starts empty), written a moment
// after each change and when the program ends. The library is the user's own work: it is
// kept whether or not 记住设置 is on.
class LibraryFile : public QObject
{
    Q_OBJECT

public:
    static constexpr int kSaveDelayMs = 500;
    static inline const QString kFileName = QStringLiteral("commands.json");

    explicit LibraryFile(CommandLibrary &library, QObject *parent = nullptr);
    ~LibraryFile() override;

    void Load();
    // Writes a pending change now.
    void Flush();

private:
    CommandLibrary &m_library;
    QTimer m_save;
    bool m_loading = false;
};

// The one library of the program.
CommandLibrary &SharedCommandLibrary();
