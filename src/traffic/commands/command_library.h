#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include "text/send_frame.h"
#include "text/text_encoding.h"

// One named command of the library: what a send box would hold, with its own mode, encoding
// and send options for the send it makes.
struct Command
{
    quint64 id = 0;  // stable while the library lives (steps of sequences name it); 0: not in a library
    QString name;
    QString text;
    bool hex = false;
    TextEncoding encoding = TextEncoding::Gbk;
    SendOptions options;

    bool operator==(const Command &other) const = default;
};

struct CommandGroup
{
    QString name;
    QList<Command> commands;

    bool operator==(const CommandGroup &other) const = default;
};

// A step of a sequence: a command, then a wait before the next step.
struct SequenceStep
{
    quint64 commandId = 0;
    qint64 delayMs = 0;  // 0 ... kMaxDelayMs

    bool operator==(const SequenceStep &other) const = default;
};

struct Sequence
{
    static constexpr qint64 kMaxDelayMs = 3600000;

    QString name;
    QList<SequenceStep> steps;
    int loops = 1;  // 0: endless

    bool operator==(const Sequence &other) const = default;
};

// The library every traffic page shares: named commands in groups, and sequences of them.
// Every change says Changed, so windows and the store follow.
class CommandLibrary : public QObject
{
    Q_OBJECT

public:
    explicit CommandLibrary(QObject *parent = nullptr);

    const QList<CommandGroup> &Groups() const { return m_groups; }
    const QList<Sequence> &Sequences() const { return m_sequences; }
    // The command with the id, or null.
    const Command *Find(quint64 id) const;

    // Groups: indexes as in Groups(); a bad index changes nothing and returns false / -1.
    int AddGroup(const QString &name);
    bool RenameGroup(int group, const QString &name);
    bool RemoveGroup(int group);  // with its commands, and the steps that name them
    bool MoveGroup(int from, int to);

    // Commands: the new command's id (0 on a bad group).
    quint64 AddCommand(int group, Command command);
    bool UpdateCommand(quint64 id, Command command);  // keeps its id and place
    quint64 DuplicateCommand(quint64 id);             // right after it, named "<name> 副本"
    bool RemoveCommand(quint64 id);                   // and the steps that name it
    bool MoveCommand(quint64 id, int group, int index);

    int AddSequence(Sequence sequence);
    bool UpdateSequence(int index, Sequence sequence);
    bool RemoveSequence(int index);

    // The whole library as JSON (UTF-8), and back. FromJson replaces everything only when the
    // whole text is valid; otherwise the library stays as it was and error says why. Values
    // out of range (delays, loops, unknown enums, ids) make the text invalid, as do names or
    // texts over kMaxTextLength and more than kMaxItems commands or steps.
    QByteArray ToJson() const;
    bool FromJson(const QByteArray &json, QString *error = nullptr);
    void Clear();

    static constexpr int kMaxTextLength = 1 << 20;
    static constexpr int kMaxItems = 1000000;

signals:
    void Changed();

private:
    QList<CommandGroup> m_groups;
    QList<Sequence> m_sequences;
    quint64 m_nextId = 1;
};
