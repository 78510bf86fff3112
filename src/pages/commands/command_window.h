#pragma once

#include <QList>
#include <QWidget>

#include <functional>

#include "pages/commands/command_prompts.h"
#include "traffic/commands/command_library.h"

class CommandsTab;
class QTabWidget;
class SequencesTab;

// "命令…": a page's window on the shared command library (its commands to send by hand and
// its sequences to run), non-modal. Sends go through the page's own path.
class CommandWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kShortcutCommands = 9;

    // send: the page's send of a command, false when it refused (the page showed why);
    // sendGone: true once everything the page sent has gone to the system.
    CommandWindow(const QString &pageName, CommandLibrary &library, std::function<bool(const Command &)> send,
                  std::function<bool()> sendGone, QWidget *page);

    // The group shown on the 命令 tab (an index of the library's groups, -1: none) and its
    // first nine commands, for the page's Ctrl+1 … Ctrl+9.
    int ShownGroup() const;
    QList<Command> FirstCommands() const;

    // The modal questions; tests replace them.
    CommandPrompts &Prompts() { return m_prompts; }

private:
    void OnImport();
    void OnExport();

    CommandLibrary &m_library;
    CommandPrompts m_prompts;
    QTabWidget *m_tabs;
    CommandsTab *m_commands;
    SequencesTab *m_sequences;
};
