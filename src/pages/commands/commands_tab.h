#pragma once

#include <QList>
#include <QWidget>

#include <functional>

#include "pages/commands/command_prompts.h"
#include "traffic/commands/command_library.h"

class QComboBox;
class QListWidget;
class QListWidgetItem;
class QPushButton;

// The 命令 tab: one group of the library at a time, its commands listed and edited; a double
// click or Enter on one sends it through the page.
class CommandsTab : public QWidget
{
    Q_OBJECT

public:
    CommandsTab(CommandLibrary &library, CommandPrompts &prompts, std::function<bool(const Command &)> send,
                QWidget *parent = nullptr);

    // The group shown, as an index of the library's groups; -1 while there is none.
    int ShownGroup() const;
    // The shown group's first count commands (fewer when it has fewer).
    QList<Command> FirstCommands(int count) const;

    // The line of a command in the list: its name and the start of its text.
    static QString ListLine(const Command &command);

private:
    void Rebuild();
    void UpdateButtons();
    quint64 SelectedId() const;
    int SelectedRow() const;

    void OnGroupChosen(int index);
    void OnAddGroup();
    void OnRenameGroup();
    void OnRemoveGroup();
    void OnAddCommand();
    void OnEditCommand();
    void OnDuplicateCommand();
    void OnRemoveCommand();
    void OnMove(int by);
    void OnActivated(QListWidgetItem *item);

    CommandLibrary &m_library;
    CommandPrompts &m_prompts;
    std::function<bool(const Command &)> m_send;
    int m_group = 0;
    QComboBox *m_groups;
    QPushButton *m_renameGroup;
    QPushButton *m_removeGroup;
    QListWidget *m_commands;
    QPushButton *m_edit;
    QPushButton *m_duplicate;
    QPushButton *m_remove;
    QPushButton *m_up;
    QPushButton *m_down;
};
