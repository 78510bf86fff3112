// Stands in for the command library and the sequence runner in test_command_window while
// their own implementation is not in this tree; tests/CMakeLists.txt leaves it out once it is.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "traffic/commands/command_library.h"
#include "traffic/commands/sequence_runner.h"

CommandLibrary::CommandLibrary(QObject *parent)
    : QObject(parent)
{
}

const Command *CommandLibrary::Find(quint64 id) const
{
    for (const CommandGroup &group : m_groups) {
        for (const Command &command : group.commands) {
            if (command.id == id)
                return &command;
        }
    }
    return nullptr;
}

int CommandLibrary::AddGroup(const QString &name)
{
    m_groups.append({name, {}});
    emit Changed();
    return static_cast<int>(m_groups.size()) - 1;
}

bool CommandLibrary::RenameGroup(int group, const QString &name)
{
    if (group < 0 || group >= m_groups.size())
        return false;
    m_groups[group].name = name;
    emit Changed();
    return true;
}

bool CommandLibrary::RemoveGroup(int group)
{
    if (group < 0 || group >= m_groups.size())
        return false;
    const QList<Command> commands = m_groups.takeAt(group).commands;
    for (Sequence &sequence : m_sequences) {
        sequence.steps.removeIf([&commands](const SequenceStep &step) {
            return std::any_of(commands.begin(), commands.end(),
                               [&step](const Command &command) { return command.id == step.commandId; });
        });
    }
    emit Changed();
    return true;
}

bool CommandLibrary::MoveGroup(int from, int to)
{
    if (from < 0 || from >= m_groups.size() || to < 0 || to >= m_groups.size())
        return false;
    m_groups.move(from, to);
    emit Changed();
    return true;
}

quint64 CommandLibrary::AddCommand(int group, Command command)
{
    if (group < 0 || group >= m_groups.size())
        return 0;
    command.id = m_nextId++;
    m_groups[group].commands.append(command);
    emit Changed();
    return command.id;
}

bool CommandLibrary::UpdateCommand(quint64 id, Command command)
{
    Command *found = const_cast<Command *>(Find(id));
    if (found == nullptr)
        return false;
    command.id = id;
    *found = command;
    emit Changed();
    return true;
}

quint64 CommandLibrary::DuplicateCommand(quint64 id)
{
    for (CommandGroup &group : m_groups) {
        for (int index = 0; index < group.commands.size(); ++index) {
            if (group.commands.at(index).id != id)
                continue;
            Command copy = group.commands.at(index);
            copy.id = m_nextId++;
            copy.name += QStringLiteral(" 副本");
            group.commands.insert(index + 1, copy);
            emit Changed();
            return copy.id;
        }
    }
    return 0;
}

bool CommandLibrary::RemoveCommand(quint64 id)
{
    for (CommandGroup &group : m_groups) {
        if (group.commands.removeIf([id](const Command &command) { return command.id == id; }) == 0)
            continue;
        for (Sequence &sequence : m_sequences)
            sequence.steps.removeIf([id](const SequenceStep &step) { return step.commandId == id; });
        emit Changed();
        return true;
    }
    return false;
}

bool CommandLibrary::MoveCommand(quint64 id, int group, int index)
{
    if (group < 0 || group >= m_groups.size() || Find(id) == nullptr)
        return false;
    Command moved;
    for (CommandGroup &from : m_groups) {
        for (int at = 0; at < from.commands.size(); ++at) {
            if (from.commands.at(at).id == id)
                moved = from.commands.takeAt(at);
        }
    }
    QList<Command> &to = m_groups[group].commands;
    to.insert(std::clamp(index, 0, static_cast<int>(to.size())), moved);
    emit Changed();
    return true;
}

int CommandLibrary::AddSequence(Sequence sequence)
{
    m_sequences.append(sequence);
    emit Changed();
    return static_cast<int>(m_sequences.size()) - 1;
}

bool CommandLibrary::UpdateSequence(int index, Sequence sequence)
{
    if (index < 0 || index >= m_sequences.size())
        return false;
    m_sequences[index] = sequence;
    emit Changed();
    return true;
}

bool CommandLibrary::RemoveSequence(int index)
{
    if (index < 0 || index >= m_sequences.size())
        return false;
    m_sequences.removeAt(index);
    emit Changed();
    return true;
}

QByteArray CommandLibrary::ToJson() const
{
    QJsonArray groups;
    for (const CommandGroup &group : m_groups) {
        QJsonArray commands;
        for (const Command &command : group.commands)
            commands.append(QJsonObject{{"id", QString::number(command.id)},
                                        {"name", command.name},
                                        {"text", command.text},
                                        {"hex", command.hex},
                                        {"encoding", int(command.encoding)},
                                        {"ending", int(command.options.ending)}});
        groups.append(QJsonObject{{"name", group.name}, {"commands", commands}});
    }
    QJsonArray sequences;
    for (const Sequence &sequence : m_sequences) {
        QJsonArray steps;
        for (const SequenceStep &step : sequence.steps)
            steps.append(QJsonObject{{"command", QString::number(step.commandId)}, {"delay", step.delayMs}});
        sequences.append(QJsonObject{{"name", sequence.name}, {"loops", sequence.loops}, {"steps", steps}});
    }
    return QJsonDocument(QJsonObject{{"groups", groups}, {"sequences", sequences}}).toJson();
}

bool CommandLibrary::FromJson(const QByteArray &json, QString *error)
{
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parse);
    if (!document.isObject() || !document.object().value("groups").isArray()) {
        if (error != nullptr)
            *error = parse.error != QJsonParseError::NoError ? parse.errorString() : QStringLiteral("no groups");
        return false;
    }
    QList<CommandGroup> groups;
    quint64 nextId = 1;
    for (const QJsonValue &groupValue : document.object().value("groups").toArray()) {
        CommandGroup group{groupValue["name"].toString(), {}};
        for (const QJsonValue &value : groupValue["commands"].toArray()) {
            Command command;
            command.id = value["id"].toString().toULongLong();
            command.name = value["name"].toString();
            command.text = value["text"].toString();
            command.hex = value["hex"].toBool();
            command.encoding = TextEncoding(value["encoding"].toInt());
            command.options.ending = LineEnding(value["ending"].toInt());
            nextId = std::max(nextId, command.id + 1);
            group.commands.append(command);
        }
        groups.append(group);
    }
    QList<Sequence> sequences;
    for (const QJsonValue &value : document.object().value("sequences").toArray()) {
        Sequence sequence;
        sequence.name = value["name"].toString();
        sequence.loops = value["loops"].toInt();
        for (const QJsonValue &step : value["steps"].toArray())
            sequence.steps.append({step["command"].toString().toULongLong(), step["delay"].toInteger()});
        sequences.append(sequence);
    }
    m_groups = groups;
    m_sequences = sequences;
    m_nextId = nextId;
    emit Changed();
    return true;
}

void CommandLibrary::Clear()
{
    m_groups.clear();
    m_sequences.clear();
    emit Changed();
}

namespace {

// The stand-in runner's state, kept outside the declared class.
struct RunState
{
    std::function<bool(const Command &)> send;
    std::function<bool()> sendGone;
    Sequence sequence;
    const CommandLibrary *library = nullptr;
    QTimer timer;
    int step = -1;
    int loop = 0;
};

std::map<const SequenceRunner *, std::unique_ptr<RunState>> g_states;

}  // namespace

SequenceRunner::SequenceRunner(std::function<bool(const Command &)> send, std::function<bool()> sendGone,
                               QObject *parent)
    : QObject(parent)
{
    auto state = std::make_unique<RunState>();
    state->send = std::move(send);
    state->sendGone = std::move(sendGone);
    state->timer.setSingleShot(true);
    RunState *run = state.get();
    QObject::connect(&run->timer, &QTimer::timeout, this, [this, run] {
        ++run->step;
        if (run->step == run->sequence.steps.size()) {
            run->step = 0;
            ++run->loop;
            if (run->sequence.loops != 0 && run->loop >= run->sequence.loops) {
                run->library = nullptr;
                emit Ended(End::Done);
                return;
            }
        }
        const SequenceStep &step = run->sequence.steps.at(run->step);
        const Command *command = run->library->Find(step.commandId);
        if (command == nullptr) {
            run->library = nullptr;
            emit Ended(End::MissingCommand);
            return;
        }
        emit StepStarted(run->step, run->loop);
        if (!run->send(*command)) {
            run->library = nullptr;
            emit Ended(End::Refused);
            return;
        }
        run->timer.start(static_cast<int>(step.delayMs));
    });
    g_states[this] = std::move(state);
    QObject::connect(this, &QObject::destroyed, [this] { g_states.erase(this); });
}

bool SequenceRunner::Start(const Sequence &sequence, const CommandLibrary &library)
{
    RunState &run = *g_states.at(this);
    if (run.library != nullptr || sequence.steps.isEmpty())
        return false;
    run.sequence = sequence;
    run.library = &library;
    run.step = -1;
    run.loop = 0;
    run.timer.start(0);
    return true;
}

void SequenceRunner::Stop()
{
    RunState &run = *g_states.at(this);
    if (run.library == nullptr)
        return;
    run.timer.stop();
    run.library = nullptr;
    emit Ended(End::Stopped);
}

bool SequenceRunner::IsRunning() const
{
    return g_states.at(this)->library != nullptr;
}

int SequenceRunner::CurrentStep() const
{
    return g_states.at(this)->step;
}

int SequenceRunner::CurrentLoop() const
{
    return g_states.at(this)->loop;
}
