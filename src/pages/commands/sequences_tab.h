#pragma once

#include <QWidget>

#include <functional>

#include "pages/commands/command_prompts.h"
#include "traffic/commands/command_library.h"
#include "traffic/commands/sequence_runner.h"

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;

// The 序列 tab: the library's sequences, the chosen one's steps and loops, and its run
// through the page's send with the running step highlighted.
class SequencesTab : public QWidget
{
    Q_OBJECT

public:
    SequencesTab(CommandLibrary &library, CommandPrompts &prompts, std::function<bool(const Command &)> send,
                 std::function<bool()> sendGone, QWidget *parent = nullptr);

    const SequenceRunner &Runner() const { return *m_runner; }
    // The text shown for how a run ended.
    static QString EndText(SequenceRunner::End end);

private:
    void Rebuild();
    void RebuildSteps();
    void ShowStepValues();
    void UpdateControls();
    void Highlight();
    int SelectedSequence() const;
    int SelectedStep() const;
    // Applies change to the chosen sequence in the library.
    void ChangeSequence(const std::function<void(Sequence &)> &change);

    void OnAddSequence();
    void OnRenameSequence();
    void OnRemoveSequence();
    void OnAddStep();
    void OnRemoveStep();
    void OnMoveStep(int by);
    void OnStepCommandChosen();
    void OnStepDelayChanged();
    void OnLoopsChanged();
    void OnStart();
    void OnStepStarted(int step, int loop);
    void OnEnded(SequenceRunner::End end);

    CommandLibrary &m_library;
    CommandPrompts &m_prompts;
    SequenceRunner *m_runner;
    int m_runningSequence = -1;
    int m_runningStep = -1;
    QListWidget *m_sequences;
    QPushButton *m_rename;
    QPushButton *m_remove;
    QListWidget *m_steps;
    QComboBox *m_stepCommand;
    QSpinBox *m_stepDelay;
    QPushButton *m_addStep;
    QPushButton *m_removeStep;
    QPushButton *m_stepUp;
    QPushButton *m_stepDown;
    QSpinBox *m_loops;
    QPushButton *m_start;
    QPushButton *m_stop;
    QLabel *m_status;
};
