#include "pages/commands/sequences_tab.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include "pages/message_box.h"

namespace {

constexpr int kMaxLoops = 1000000;

QPushButton *Button(const QString &text, const char *name)
{
    auto *button = new QPushButton(text);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

QString StepLine(int index, const SequenceStep &step, const CommandLibrary &library)
{
    const Command *command = library.Find(step.commandId);
    return QStringLiteral("%1. %2    延时 %3 ms")
        .arg(index + 1)
        .arg(command != nullptr ? command->name : QStringLiteral("(命令已不存在)"))
        .arg(step.delayMs);
}

}  // namespace

SequencesTab::SequencesTab(CommandLibrary &library, CommandPrompts &prompts, std::function<bool(const Command &)> send,
                           std::function<bool()> sendGone, QWidget *parent)
    : QWidget(parent)
    , m_library(library)
    , m_prompts(prompts)
    , m_runner(new SequenceRunner(std::move(send), std::move(sendGone), this))
    , m_sequences(new QListWidget)
    , m_rename(Button(QStringLiteral("重命名"), "renameSequence"))
    , m_remove(Button(QStringLiteral("删除"), "removeSequence"))
    , m_steps(new QListWidget)
    , m_stepCommand(new QComboBox)
    , m_stepDelay(new QSpinBox)
    , m_addStep(Button(QStringLiteral("添加"), "addStep"))
    , m_removeStep(Button(QStringLiteral("删除"), "removeStep"))
    , m_stepUp(Button(QStringLiteral("上移"), "stepUp"))
    , m_stepDown(Button(QStringLiteral("下移"), "stepDown"))
    , m_loops(new QSpinBox)
    , m_start(Button(QStringLiteral("开始"), "startSequence"))
    , m_stop(Button(QStringLiteral("停止"), "stopSequence"))
    , m_status(new QLabel)
{
    m_sequences->setObjectName(QStringLiteral("sequenceList"));
    m_steps->setObjectName(QStringLiteral("stepList"));
    m_stepCommand->setObjectName(QStringLiteral("stepCommand"));
    m_stepDelay->setObjectName(QStringLiteral("stepDelay"));
    m_stepDelay->setRange(0, static_cast<int>(Sequence::kMaxDelayMs));
    m_stepDelay->setSuffix(QStringLiteral(" ms"));
    m_loops->setObjectName(QStringLiteral("sequenceLoops"));
    m_loops->setRange(0, kMaxLoops);
    m_loops->setSpecialValueText(QStringLiteral("无限"));
    m_status->setObjectName(QStringLiteral("sequenceStatus"));
    auto *add = Button(QStringLiteral("新建"), "addSequence");

    auto *sequenceButtons = new QHBoxLayout;
    sequenceButtons->addWidget(add);
    sequenceButtons->addWidget(m_rename);
    sequenceButtons->addWidget(m_remove);
    auto *sequenceColumn = new QVBoxLayout;
    sequenceColumn->addWidget(m_sequences, 1);
    sequenceColumn->addLayout(sequenceButtons);

    auto *stepFields = new QFormLayout;
    stepFields->addRow(QStringLiteral("命令:"), m_stepCommand);
    stepFields->addRow(QStringLiteral("之后延时:"), m_stepDelay);
    auto *stepButtons = new QHBoxLayout;
    for (QPushButton *button : {m_addStep, m_removeStep, m_stepUp, m_stepDown})
        stepButtons->addWidget(button);
    auto *steps = new QGroupBox(QStringLiteral("步骤"));
    auto *stepColumn = new QVBoxLayout(steps);
    stepColumn->addWidget(m_steps, 1);
    stepColumn->addLayout(stepFields);
    stepColumn->addLayout(stepButtons);

    auto *columns = new QHBoxLayout;
    columns->addLayout(sequenceColumn, 1);
    columns->addWidget(steps, 2);
    auto *runRow = new QHBoxLayout;
    runRow->addWidget(new QLabel(QStringLiteral("循环次数:")));
    runRow->addWidget(m_loops);
    runRow->addWidget(m_start);
    runRow->addWidget(m_stop);
    runRow->addWidget(m_status, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addLayout(runRow);

    connect(add, &QPushButton::clicked, this, &SequencesTab::OnAddSequence);
    connect(m_rename, &QPushButton::clicked, this, &SequencesTab::OnRenameSequence);
    connect(m_remove, &QPushButton::clicked, this, &SequencesTab::OnRemoveSequence);
    connect(m_sequences, &QListWidget::currentRowChanged, this, &SequencesTab::RebuildSteps);
    connect(m_steps, &QListWidget::currentRowChanged, this, &SequencesTab::ShowStepValues);
    connect(m_addStep, &QPushButton::clicked, this, &SequencesTab::OnAddStep);
    connect(m_removeStep, &QPushButton::clicked, this, &SequencesTab::OnRemoveStep);
    connect(m_stepUp, &QPushButton::clicked, this, [this] { OnMoveStep(-1); });
    connect(m_stepDown, &QPushButton::clicked, this, [this] { OnMoveStep(1); });
    connect(m_stepCommand, &QComboBox::currentIndexChanged, this, &SequencesTab::OnStepCommandChosen);
    connect(m_stepDelay, &QSpinBox::valueChanged, this, &SequencesTab::OnStepDelayChanged);
    connect(m_loops, &QSpinBox::valueChanged, this, &SequencesTab::OnLoopsChanged);
    connect(m_start, &QPushButton::clicked, this, &SequencesTab::OnStart);
    connect(m_stop, &QPushButton::clicked, m_runner, &SequenceRunner::Stop);
    connect(m_runner, &SequenceRunner::StepStarted, this, &SequencesTab::OnStepStarted);
    connect(m_runner, &SequenceRunner::Ended, this, &SequencesTab::OnEnded);
    connect(&m_library, &CommandLibrary::Changed, this, &SequencesTab::Rebuild);
    Rebuild();
}

QString SequencesTab::EndText(SequenceRunner::End end)
{
    switch (end) {
    case SequenceRunner::End::Done:
        return QStringLiteral("完成");
    case SequenceRunner::End::Stopped:
        return QStringLiteral("已停止");
    case SequenceRunner::End::Refused:
        return QStringLiteral("被拒绝");
    case SequenceRunner::End::MissingCommand:
        return QStringLiteral("命令已不存在");
    }
    return {};
}

int SequencesTab::SelectedSequence() const
{
    return m_sequences->currentItem() != nullptr ? m_sequences->currentRow() : -1;
}

int SequencesTab::SelectedStep() const
{
    return m_steps->currentItem() != nullptr ? m_steps->currentRow() : -1;
}

void SequencesTab::Rebuild()
{
    // Another window may have changed anything: keep the sequence, the step and the command
    // chosen where they still exist.
    const QList<Sequence> &sequences = m_library.Sequences();
    const int selected = std::min(SelectedSequence(), static_cast<int>(sequences.size()) - 1);
    const quint64 chosenCommand = m_stepCommand->currentData().toULongLong();
    {
        const QSignalBlocker blocker(m_stepCommand);
        m_stepCommand->clear();
        for (const CommandGroup &group : m_library.Groups()) {
            for (const Command &command : group.commands) {
                m_stepCommand->addItem(group.name + QStringLiteral(" / ") + command.name, command.id);
                if (command.id == chosenCommand)
                    m_stepCommand->setCurrentIndex(m_stepCommand->count() - 1);
            }
        }
    }
    {
        const QSignalBlocker blocker(m_sequences);
        m_sequences->clear();
        for (const Sequence &sequence : sequences)
            m_sequences->addItem(sequence.name);
        m_sequences->setCurrentRow(selected >= 0 ? selected : (sequences.isEmpty() ? -1 : 0));
    }
    RebuildSteps();
}

void SequencesTab::RebuildSteps()
{
    const int sequence = SelectedSequence();
    const int selected = SelectedStep();
    {
        const QSignalBlocker blocker(m_steps);
        m_steps->clear();
        if (sequence >= 0) {
            const QList<SequenceStep> &steps = m_library.Sequences().at(sequence).steps;
            for (int index = 0; index < steps.size(); ++index)
                m_steps->addItem(StepLine(index, steps.at(index), m_library));
            m_steps->setCurrentRow(std::min(selected, static_cast<int>(steps.size()) - 1));
        }
    }
    {
        const QSignalBlocker blocker(m_loops);
        m_loops->setValue(sequence >= 0 ? m_library.Sequences().at(sequence).loops : 1);
    }
    ShowStepValues();
    Highlight();
}

void SequencesTab::ShowStepValues()
{
    const int sequence = SelectedSequence();
    const int step = SelectedStep();
    if (sequence >= 0 && step >= 0) {
        const SequenceStep &shown = m_library.Sequences().at(sequence).steps.at(step);
        const QSignalBlocker commandBlocker(m_stepCommand);
        const QSignalBlocker delayBlocker(m_stepDelay);
        m_stepCommand->setCurrentIndex(m_stepCommand->findData(shown.commandId));
        m_stepDelay->setValue(static_cast<int>(shown.delayMs));
    }
    UpdateControls();
}

void SequencesTab::UpdateControls()
{
    // While a sequence runs its copy is sent: the tab's editing waits until it ends.
    const bool running = m_runner->IsRunning();
    const int sequence = SelectedSequence();
    const int step = SelectedStep();
    m_sequences->setEnabled(!running);
    m_rename->setEnabled(!running && sequence >= 0);
    m_remove->setEnabled(!running && sequence >= 0);
    m_stepCommand->setEnabled(!running && m_stepCommand->count() > 0);
    m_stepDelay->setEnabled(!running);
    m_addStep->setEnabled(!running && sequence >= 0 && m_stepCommand->currentIndex() >= 0);
    m_removeStep->setEnabled(!running && step >= 0);
    m_stepUp->setEnabled(!running && step > 0);
    m_stepDown->setEnabled(!running && step >= 0 && step + 1 < m_steps->count());
    m_loops->setEnabled(!running && sequence >= 0);
    m_start->setEnabled(!running && m_steps->count() > 0);
    m_stop->setEnabled(running);
}

void SequencesTab::Highlight()
{
    const bool shown = m_runner->IsRunning() && m_runningSequence == SelectedSequence();
    for (int row = 0; row < m_steps->count(); ++row) {
        QListWidgetItem *item = m_steps->item(row);
        QFont font = item->font();
        font.setBold(shown && row == m_runningStep);
        item->setFont(font);
    }
    if (shown && m_runningStep >= 0 && m_runningStep < m_steps->count())
        m_steps->setCurrentRow(m_runningStep);
}

void SequencesTab::ChangeSequence(const std::function<void(Sequence &)> &change)
{
    const int index = SelectedSequence();
    if (index < 0)
        return;
    Sequence sequence = m_library.Sequences().at(index);
    change(sequence);
    m_library.UpdateSequence(index, sequence);
}

void SequencesTab::OnAddSequence()
{
    Sequence sequence;
    sequence.name = QStringLiteral("新序列");
    if (!m_prompts.askName(QStringLiteral("新建序列"), sequence.name))
        return;
    const int index = m_library.AddSequence(sequence);
    if (index >= 0 && index < m_sequences->count())
        m_sequences->setCurrentRow(index);
}

void SequencesTab::OnRenameSequence()
{
    const int index = SelectedSequence();
    if (index < 0)
        return;
    QString name = m_library.Sequences().at(index).name;
    if (!m_prompts.askName(QStringLiteral("重命名序列"), name))
        return;
    // The list may have changed while the name was asked: the index names the same place.
    if (index < m_library.Sequences().size())
        ChangeSequence([&name](Sequence &sequence) { sequence.name = name; });
}

void SequencesTab::OnRemoveSequence()
{
    const int index = SelectedSequence();
    if (index < 0)
        return;
    const QString text = QStringLiteral("删除序列\"%1\"吗?").arg(m_library.Sequences().at(index).name);
    if (PageMessageBox(this, window()->windowTitle(), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Question)
        == QMessageBox::Yes)
        m_library.RemoveSequence(index);
}

void SequencesTab::OnAddStep()
{
    const SequenceStep step{m_stepCommand->currentData().toULongLong(), m_stepDelay->value()};
    if (step.commandId == 0)
        return;
    // After the selected step, as the editors show it; the editors then change the new one.
    const int at = SelectedStep() >= 0 ? SelectedStep() + 1 : m_steps->count();
    ChangeSequence([&step, at](Sequence &sequence) { sequence.steps.insert(at, step); });
    m_steps->setCurrentRow(at);
}

void SequencesTab::OnRemoveStep()
{
    const int step = SelectedStep();
    if (step >= 0)
        ChangeSequence([step](Sequence &sequence) { sequence.steps.removeAt(step); });
}

void SequencesTab::OnMoveStep(int by)
{
    const int step = SelectedStep();
    if (step < 0 || step + by < 0 || step + by >= m_steps->count())
        return;
    ChangeSequence([step, by](Sequence &sequence) { sequence.steps.move(step, step + by); });
    m_steps->setCurrentRow(step + by);
}

void SequencesTab::OnStepCommandChosen()
{
    const int step = SelectedStep();
    const quint64 id = m_stepCommand->currentData().toULongLong();
    if (step >= 0 && id != 0)
        ChangeSequence([step, id](Sequence &sequence) { sequence.steps[step].commandId = id; });
    UpdateControls();
}

void SequencesTab::OnStepDelayChanged()
{
    const int step = SelectedStep();
    const qint64 delay = m_stepDelay->value();
    if (step >= 0)
        ChangeSequence([step, delay](Sequence &sequence) { sequence.steps[step].delayMs = delay; });
}

void SequencesTab::OnLoopsChanged()
{
    const int loops = m_loops->value();
    ChangeSequence([loops](Sequence &sequence) { sequence.loops = loops; });
}

void SequencesTab::OnStart()
{
    const int index = SelectedSequence();
    if (index < 0)
        return;
    m_runningSequence = index;
    m_runningStep = -1;
    // The first step may be sent, and even refused, before Start returns.
    m_status->setText(QStringLiteral("运行中"));
    if (!m_runner->Start(m_library.Sequences().at(index), m_library)) {
        m_runningSequence = -1;
        m_status->setText(QStringLiteral("无法开始"));
    }
    UpdateControls();
}

void SequencesTab::OnStepStarted(int step, int loop)
{
    m_runningStep = step;
    m_status->setText(m_loops->value() == 1 ? QStringLiteral("运行中: 第%1步").arg(step + 1)
                                            : QStringLiteral("运行中: 第%1轮 第%2步").arg(loop + 1).arg(step + 1));
    UpdateControls();
    Highlight();
}

void SequencesTab::OnEnded(SequenceRunner::End end)
{
    m_runningStep = -1;
    m_status->setText(EndText(end));
    UpdateControls();
    Highlight();
    m_runningSequence = -1;
}
