#include "pages/commands/commands_tab.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "pages/message_box.h"

namespace {

constexpr int kShortTextLength = 40;

QPushButton *Button(const QString &text, const char *name)
{
    auto *button = new QPushButton(text);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

}  // namespace

CommandsTab::CommandsTab(CommandLibrary &library, CommandPrompts &prompts, std::function<bool(const Command &)> send,
                         QWidget *parent)
    : QWidget(parent)
    , m_library(library)
    , m_prompts(prompts)
    , m_send(std::move(send))
    , m_groups(new QComboBox)
    , m_renameGroup(Button(QStringLiteral("重命名"), "renameGroup"))
    , m_removeGroup(Button(QStringLiteral("删除组"), "removeGroup"))
    , m_commands(new QListWidget)
    , m_edit(Button(QStringLiteral("编辑"), "editCommand"))
    , m_duplicate(Button(QStringLiteral("复制"), "duplicateCommand"))
    , m_remove(Button(QStringLiteral("删除"), "removeCommand"))
    , m_up(Button(QStringLiteral("上移"), "moveUp"))
    , m_down(Button(QStringLiteral("下移"), "moveDown"))
{
    m_groups->setObjectName(QStringLiteral("commandGroup"));
    m_commands->setObjectName(QStringLiteral("commandList"));
    m_commands->setToolTip(QStringLiteral("双击或按回车发送"));
    auto *addGroup = Button(QStringLiteral("新建组"), "addGroup");
    auto *add = Button(QStringLiteral("新建"), "addCommand");

    auto *groupRow = new QHBoxLayout;
    groupRow->addWidget(m_groups, 1);
    groupRow->addWidget(addGroup);
    groupRow->addWidget(m_renameGroup);
    groupRow->addWidget(m_removeGroup);
    auto *buttons = new QVBoxLayout;
    for (QPushButton *button : {add, m_edit, m_duplicate, m_remove, m_up, m_down})
        buttons->addWidget(button);
    buttons->addStretch();
    auto *listRow = new QHBoxLayout;
    listRow->addWidget(m_commands, 1);
    listRow->addLayout(buttons);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(groupRow);
    layout->addLayout(listRow);

    connect(m_groups, &QComboBox::currentIndexChanged, this, &CommandsTab::OnGroupChosen);
    connect(addGroup, &QPushButton::clicked, this, &CommandsTab::OnAddGroup);
    connect(m_renameGroup, &QPushButton::clicked, this, &CommandsTab::OnRenameGroup);
    connect(m_removeGroup, &QPushButton::clicked, this, &CommandsTab::OnRemoveGroup);
    connect(add, &QPushButton::clicked, this, &CommandsTab::OnAddCommand);
    connect(m_edit, &QPushButton::clicked, this, &CommandsTab::OnEditCommand);
    connect(m_duplicate, &QPushButton::clicked, this, &CommandsTab::OnDuplicateCommand);
    connect(m_remove, &QPushButton::clicked, this, &CommandsTab::OnRemoveCommand);
    connect(m_up, &QPushButton::clicked, this, [this] { OnMove(-1); });
    connect(m_down, &QPushButton::clicked, this, [this] { OnMove(1); });
    connect(m_commands, &QListWidget::itemActivated, this, &CommandsTab::OnActivated);
    connect(m_commands, &QListWidget::currentRowChanged, this, &CommandsTab::UpdateButtons);
    connect(&m_library, &CommandLibrary::Changed, this, &CommandsTab::Rebuild);
    Rebuild();
}

QString CommandsTab::ListLine(const Command &command)
{
    QString text = command.text.simplified();
    if (text.size() > kShortTextLength)
        text = text.left(kShortTextLength) + QStringLiteral("…");
    return command.name + QStringLiteral("    ") + (command.hex ? QStringLiteral("[HEX] ") : QString()) + text;
}

int CommandsTab::ShownGroup() const
{
    return m_library.Groups().isEmpty() ? -1 : m_group;
}

QList<Command> CommandsTab::FirstCommands(int count) const
{
    const int group = ShownGroup();
    if (group < 0)
        return {};
    return m_library.Groups().at(group).commands.mid(0, count);
}

void CommandsTab::Rebuild()
{
    // Another window may have changed anything: keep the group and the command shown where
    // they still exist.
    const QList<CommandGroup> &groups = m_library.Groups();
    m_group = std::clamp(m_group, 0, std::max(0, static_cast<int>(groups.size()) - 1));
    const quint64 selected = SelectedId();
    {
        const QSignalBlocker blocker(m_groups);
        m_groups->clear();
        for (const CommandGroup &group : groups)
            m_groups->addItem(group.name);
        m_groups->setCurrentIndex(groups.isEmpty() ? -1 : m_group);
    }
    {
        const QSignalBlocker blocker(m_commands);
        m_commands->clear();
        if (!groups.isEmpty()) {
            for (const Command &command : groups.at(m_group).commands) {
                auto *item = new QListWidgetItem(ListLine(command), m_commands);
                item->setData(Qt::UserRole, command.id);
                item->setToolTip(command.text.left(kShortTextLength * 10));
                if (command.id == selected)
                    m_commands->setCurrentItem(item);
            }
        }
    }
    UpdateButtons();
}

void CommandsTab::UpdateButtons()
{
    const bool hasGroup = ShownGroup() >= 0;
    m_renameGroup->setEnabled(hasGroup);
    m_removeGroup->setEnabled(hasGroup);
    const int row = SelectedRow();
    for (QPushButton *button : {m_edit, m_duplicate, m_remove})
        button->setEnabled(row >= 0);
    m_up->setEnabled(row > 0);
    m_down->setEnabled(row >= 0 && row + 1 < m_commands->count());
}

int CommandsTab::SelectedRow() const
{
    return m_commands->currentItem() != nullptr ? m_commands->currentRow() : -1;
}

quint64 CommandsTab::SelectedId() const
{
    const QListWidgetItem *item = m_commands->currentItem();
    return item != nullptr ? item->data(Qt::UserRole).toULongLong() : 0;
}

void CommandsTab::OnGroupChosen(int index)
{
    if (index < 0)
        return;
    m_group = index;
    m_commands->setCurrentRow(-1);
    Rebuild();
}

void CommandsTab::OnAddGroup()
{
    QString name = QStringLiteral("新建组");
    if (!m_prompts.askName(QStringLiteral("新建组"), name))
        return;
    const int index = m_library.AddGroup(name);
    if (index >= 0 && m_groups->count() > index)
        m_groups->setCurrentIndex(index);
}

void CommandsTab::OnRenameGroup()
{
    const int group = ShownGroup();
    if (group < 0)
        return;
    QString name = m_library.Groups().at(group).name;
    if (m_prompts.askName(QStringLiteral("重命名组"), name))
        m_library.RenameGroup(group, name);
}

void CommandsTab::OnRemoveGroup()
{
    const int group = ShownGroup();
    if (group < 0)
        return;
    const CommandGroup &shown = m_library.Groups().at(group);
    const QString text = QStringLiteral("删除组\"%1\"及其%2个命令吗?\n序列中用到这些命令的步骤也会删除。")
                             .arg(shown.name)
                             .arg(shown.commands.size());
    if (PageMessageBox(this, window()->windowTitle(), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Question)
        == QMessageBox::Yes)
        m_library.RemoveGroup(group);
}

void CommandsTab::OnAddCommand()
{
    Command command;
    command.name = QStringLiteral("新命令");
    if (!m_prompts.editCommand(command))
        return;
    // A command needs a group: the first one is made for it.
    int group = ShownGroup();
    if (group < 0)
        group = m_library.AddGroup(QStringLiteral("默认"));
    command.id = 0;
    const quint64 id = m_library.AddCommand(group, command);
    if (id == 0)
        return;
    for (int row = 0; row < m_commands->count(); ++row) {
        if (m_commands->item(row)->data(Qt::UserRole).toULongLong() == id)
            m_commands->setCurrentRow(row);
    }
}

void CommandsTab::OnEditCommand()
{
    const Command *found = m_library.Find(SelectedId());
    if (found == nullptr)
        return;
    Command command = *found;
    const quint64 id = command.id;
    // The library may change while the editor is open (another page's window); the edit
    // goes to the command by its id, and nowhere when it is gone.
    if (m_prompts.editCommand(command))
        m_library.UpdateCommand(id, command);
}

void CommandsTab::OnDuplicateCommand()
{
    const quint64 copy = m_library.DuplicateCommand(SelectedId());
    for (int row = 0; copy != 0 && row < m_commands->count(); ++row) {
        if (m_commands->item(row)->data(Qt::UserRole).toULongLong() == copy)
            m_commands->setCurrentRow(row);
    }
}

void CommandsTab::OnRemoveCommand()
{
    const int row = SelectedRow();
    if (row < 0)
        return;
    m_library.RemoveCommand(SelectedId());
    // The next command takes the removed one's place in the selection.
    if (m_commands->count() > 0)
        m_commands->setCurrentRow(std::min(row, m_commands->count() - 1));
}

void CommandsTab::OnMove(int by)
{
    const int row = SelectedRow();
    const int group = ShownGroup();
    if (row < 0 || group < 0)
        return;
    m_library.MoveCommand(SelectedId(), group, row + by);
}

void CommandsTab::OnActivated(QListWidgetItem *item)
{
    const Command *found = m_library.Find(item->data(Qt::UserRole).toULongLong());
    if (found == nullptr)
        return;
    // A copy: the page's refusal box runs events, and another window may change the library.
    const Command command = *found;
    m_send(command);
}
