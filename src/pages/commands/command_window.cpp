#include "pages/commands/command_window.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "pages/commands/commands_tab.h"
#include "pages/commands/library_files.h"
#include "pages/commands/sequences_tab.h"

CommandWindow::CommandWindow(const QString &pageName, CommandLibrary &library,
                             std::function<bool(const Command &)> send, std::function<bool()> sendGone, QWidget *page)
    : QWidget(page, Qt::Window)
    , m_library(library)
    , m_prompts(CommandPrompts::Modal(this))
    , m_tabs(new QTabWidget)
    , m_commands(new CommandsTab(library, m_prompts, send))
    , m_sequences(new SequencesTab(library, m_prompts, send, std::move(sendGone)))
{
    setObjectName(QStringLiteral("commandWindow"));
    setWindowTitle(pageName + QStringLiteral(" 命令"));
    m_tabs->setObjectName(QStringLiteral("commandTabs"));
    m_tabs->addTab(m_commands, QStringLiteral("命令"));
    m_tabs->addTab(m_sequences, QStringLiteral("序列"));

    auto *importButton = new QPushButton(QStringLiteral("导入…"));
    importButton->setObjectName(QStringLiteral("importLibrary"));
    auto *exportButton = new QPushButton(QStringLiteral("导出…"));
    exportButton->setObjectName(QStringLiteral("exportLibrary"));
    auto *files = new QHBoxLayout;
    files->addStretch();
    files->addWidget(importButton);
    files->addWidget(exportButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addLayout(files);
    resize(560, 420);

    connect(importButton, &QPushButton::clicked, this, &CommandWindow::OnImport);
    connect(exportButton, &QPushButton::clicked, this, &CommandWindow::OnExport);
}

int CommandWindow::ShownGroup() const
{
    return m_commands->ShownGroup();
}

QList<Command> CommandWindow::FirstCommands() const
{
    return m_commands->FirstCommands(kShortcutCommands);
}

void CommandWindow::OnImport()
{
    LibraryFiles::Import(m_library, this);
}

void CommandWindow::OnExport()
{
    LibraryFiles::Export(m_library, this);
}
