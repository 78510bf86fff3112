#include "traffic/commands/command_library.h"

#include "traffic/send_options_json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <utility>

namespace {

const QString kFormatName = QStringLiteral("velvane-commands");
constexpr int kFormatVersion = 1;
constexpr int kMaxLoops = 1000000;
// JSON numbers are doubles: every id up to 2^53 is exact, so it survives a file.
constexpr quint64 kMaxId = quint64(1) << 53;

template <typename Enum>
struct EnumName
{
    Enum value;
    const char *name;
};

constexpr std::array kEndingNames{
    EnumName<LineEnding>{LineEnding::None, "none"}, EnumName<LineEnding>{LineEnding::Cr, "cr"},
    EnumName<LineEnding>{LineEnding::Lf, "lf"}, EnumName<LineEnding>{LineEnding::CrLf, "crlf"}};
constexpr std::array kChecksumNames{EnumName<Checksum>{Checksum::None, "none"},
                                    EnumName<Checksum>{Checksum::Sum8, "sum8"},
                                    EnumName<Checksum>{Checksum::Xor8, "xor8"},
                                    EnumName<Checksum>{Checksum::Lrc, "lrc"},
                                    EnumName<Checksum>{Checksum::Crc8Smbus, "crc8-smbus"},
                                    EnumName<Checksum>{Checksum::Crc16Modbus, "crc16-modbus"},
                                    EnumName<Checksum>{Checksum::Crc16Ibm3740, "crc16-ibm3740"},
                                    EnumName<Checksum>{Checksum::Crc16Xmodem, "crc16-xmodem"},
                                    EnumName<Checksum>{Checksum::Crc32IsoHdlc, "crc32-iso-hdlc"}};
constexpr std::array kOrderNames{EnumName<ChecksumOrder>{ChecksumOrder::Usual, "usual"},
                                 EnumName<ChecksumOrder>{ChecksumOrder::LowFirst, "low"},
                                 EnumName<ChecksumOrder>{ChecksumOrder::HighFirst, "high"}};

// Empty for a value outside the table (a cast that names no enumerator).
template <typename Enum, std::size_t N>
QString NameOf(const std::array<EnumName<Enum>, N> &names, Enum value)
{
    for (const auto &entry : names)
        if (entry.value == value)
            return QString::fromLatin1(entry.name);
    return {};
}

template <typename Enum, std::size_t N>
std::optional<Enum> ValueOf(const std::array<EnumName<Enum>, N> &names, const QString &name)
{
    for (const auto &entry : names)
        if (name == QLatin1String(entry.name))
            return entry.value;
    return std::nullopt;
}

std::optional<TextEncoding> EncodingNamed(const QString &name)
{
    for (const TextEncoding encoding : kTextEncodings)
        if (TextEncodingName(encoding) == name)
            return encoding;
    return std::nullopt;
}

bool IsKnownEncoding(TextEncoding encoding)
{
    return std::find(kTextEncodings.begin(), kTextEncodings.end(), encoding) != kTextEncodings.end();
}

// What a file can hold: not too long, and whole UTF-16 (a lone surrogate would not come back).
bool IsStorableText(const QString &text)
{
    return text.size() <= CommandLibrary::kMaxTextLength && QStringView(text).isValidUtf16();
}

bool IsStorableCommand(const Command &command)
{
    const SendOptions &options = command.options;
    return IsStorableText(command.name) && IsStorableText(command.text) && IsKnownEncoding(command.encoding)
           && !NameOf(kEndingNames, options.ending).isEmpty() && !NameOf(kChecksumNames, options.checksum).isEmpty()
           && !NameOf(kOrderNames, options.order).isEmpty();
}

// Why the sequence cannot be kept, or empty; commandExists says which ids are there.
template <typename Exists>
QString SequenceProblem(const Sequence &sequence, Exists commandExists)
{
    if (!IsStorableText(sequence.name))
        return QStringLiteral("名称过长或无效");
    if (sequence.loops < 0 || sequence.loops > kMaxLoops)
        return QStringLiteral("循环次数超出 0~%1").arg(kMaxLoops);
    if (sequence.steps.size() > CommandLibrary::kMaxItems)
        return QStringLiteral("步骤过多");
    for (qsizetype i = 0; i < sequence.steps.size(); ++i) {
        const SequenceStep &step = sequence.steps[i];
        if (step.delayMs < 0 || step.delayMs > Sequence::kMaxDelayMs)
            return QStringLiteral("第 %1 步的延时超出 0~%2 毫秒").arg(i + 1).arg(Sequence::kMaxDelayMs);
        if (!commandExists(step.commandId))
            return QStringLiteral("第 %1 步的命令 %2 不存在").arg(i + 1).arg(step.commandId);
    }
    return {};
}

qsizetype CommandCount(const QList<CommandGroup> &groups)
{
    qsizetype count = 0;
    for (const CommandGroup &group : groups)
        count += group.commands.size();
    return count;
}

// Takes out every step that names one of ids; true when any went.
bool RemoveStepsNaming(QList<Sequence> &sequences, const QSet<quint64> &ids)
{
    bool removed = false;
    for (Sequence &sequence : sequences)
        removed |= sequence.steps.removeIf([&](const SequenceStep &step) { return ids.contains(step.commandId); }) > 0;
    return removed;
}

// The reader of one file: each Take* checks one value and says where it went wrong.
class JsonReader
{
public:
    QString error;

    bool Fail(const QString &path, const QString &why)
    {
        error = path + QStringLiteral(": ") + why;
        return false;
    }

    bool TakeObject(const QJsonValue &value, const QString &path, QJsonObject &out)
    {
        if (!value.isObject())
            return Fail(path, QStringLiteral("应为对象"));
        out = value.toObject();
        return true;
    }

    bool TakeArray(const QJsonValue &value, const QString &path, QJsonArray &out)
    {
        if (!value.isArray())
            return Fail(path, QStringLiteral("应为数组"));
        out = value.toArray();
        if (out.size() > CommandLibrary::kMaxItems)
            return Fail(path, QStringLiteral("项数超过 %1").arg(CommandLibrary::kMaxItems));
        return true;
    }

    bool TakeText(const QJsonValue &value, const QString &path, QString &out)
    {
        if (!value.isString())
            return Fail(path, QStringLiteral("应为字符串"));
        out = value.toString();
        if (!IsStorableText(out))
            return Fail(path, QStringLiteral("文本过长或无效"));
        return true;
    }

    bool TakeBool(const QJsonValue &value, const QString &path, bool &out)
    {
        if (!value.isBool())
            return Fail(path, QStringLiteral("应为 true 或 false"));
        out = value.toBool();
        return true;
    }

    // A whole number in min ... max, without a fraction.
    bool TakeInteger(const QJsonValue &value, const QString &path, double min, double max, double &out)
    {
        if (!value.isDouble())
            return Fail(path, QStringLiteral("应为数字"));
        out = value.toDouble();
        if (!std::isfinite(out) || std::trunc(out) != out || out < min || out > max)
            return Fail(path, QStringLiteral("应为 %1~%2 的整数").arg(qint64(min)).arg(qint64(max)));
        return true;
    }

    template <typename Enum, std::size_t N>
    bool TakeEnum(const QJsonValue &value, const QString &path, const std::array<EnumName<Enum>, N> &names, Enum &out)
    {
        QString name;
        if (!TakeText(value, path, name))
            return false;
        const std::optional<Enum> found = ValueOf(names, name);
        if (!found)
            return Fail(path, QStringLiteral("未知的值 \"%1\"").arg(name.left(40)));
        out = *found;
        return true;
    }

    bool TakeOptions(const QJsonValue &value, const QString &path, SendOptions &options)
    {
        QJsonObject object;
        return TakeObject(value, path, object)
               && TakeBool(object.value(u"asTyped"), path + QStringLiteral(".asTyped"), options.asTyped)
               && TakeBool(object.value(u"escapes"), path + QStringLiteral(".escapes"), options.escapes)
               && TakeEnum(object.value(u"ending"), path + QStringLiteral(".ending"), kEndingNames, options.ending)
               && TakeEnum(object.value(u"checksum"), path + QStringLiteral(".checksum"), kChecksumNames,
                           options.checksum)
               && TakeEnum(object.value(u"order"), path + QStringLiteral(".order"), kOrderNames, options.order);
    }

    bool TakeCommand(const QJsonValue &value, const QString &path, Command &command)
    {
        QJsonObject object;
        double id = 0;
        QString encodingName;
        if (!TakeObject(value, path, object)
            || !TakeInteger(object.value(u"id"), path + QStringLiteral(".id"), 1, double(kMaxId), id)
            || !TakeText(object.value(u"name"), path + QStringLiteral(".name"), command.name)
            || !TakeText(object.value(u"text"), path + QStringLiteral(".text"), command.text)
            || !TakeBool(object.value(u"hex"), path + QStringLiteral(".hex"), command.hex)
            || !TakeText(object.value(u"encoding"), path + QStringLiteral(".encoding"), encodingName)
            || !TakeOptions(object.value(u"options"), path + QStringLiteral(".options"), command.options))
            return false;
        const std::optional<TextEncoding> encoding = EncodingNamed(encodingName);
        if (!encoding)
            return Fail(path + QStringLiteral(".encoding"),
                        QStringLiteral("未知的编码 \"%1\"").arg(encodingName.left(40)));
        command.id = quint64(id);
        command.encoding = *encoding;
        return true;
    }

    bool TakeGroup(const QJsonValue &value, const QString &path, CommandGroup &group)
    {
        QJsonObject object;
        QJsonArray commands;
        if (!TakeObject(value, path, object)
            || !TakeText(object.value(u"name"), path + QStringLiteral(".name"), group.name)
            || !TakeArray(object.value(u"commands"), path + QStringLiteral(".commands"), commands))
            return false;
        group.commands.reserve(commands.size());
        for (qsizetype i = 0; i < commands.size(); ++i) {
            Command command;
            if (!TakeCommand(commands.at(i), path + QStringLiteral(".commands[%1]").arg(i), command))
                return false;
            group.commands.append(std::move(command));
        }
        return true;
    }

    // Checks the shape and ranges; whether each step's command exists is checked afterwards.
    bool TakeSequence(const QJsonValue &value, const QString &path, Sequence &sequence)
    {
        QJsonObject object;
        QJsonArray steps;
        double loops = 0;
        if (!TakeObject(value, path, object)
            || !TakeText(object.value(u"name"), path + QStringLiteral(".name"), sequence.name)
            || !TakeInteger(object.value(u"loops"), path + QStringLiteral(".loops"), 0, kMaxLoops, loops)
            || !TakeArray(object.value(u"steps"), path + QStringLiteral(".steps"), steps))
            return false;
        sequence.loops = int(loops);
        sequence.steps.reserve(steps.size());
        for (qsizetype i = 0; i < steps.size(); ++i) {
            const QString stepPath = path + QStringLiteral(".steps[%1]").arg(i);
            QJsonObject step;
            double commandId = 0;
            double delayMs = 0;
            if (!TakeObject(steps.at(i), stepPath, step)
                || !TakeInteger(step.value(u"command"), stepPath + QStringLiteral(".command"), 1, double(kMaxId),
                                commandId)
                || !TakeInteger(step.value(u"delayMs"), stepPath + QStringLiteral(".delayMs"), 0,
                                double(Sequence::kMaxDelayMs), delayMs))
                return false;
            sequence.steps.append(SequenceStep{quint64(commandId), qint64(delayMs)});
        }
        return true;
    }
};

QJsonObject CommandToJson(const Command &command)
{
    return QJsonObject{{"id", double(command.id)},
                       {"name", command.name},
                       {"text", command.text},
                       {"hex", command.hex},
                       {"encoding", TextEncodingName(command.encoding)},
                       {"options", SendOptionsToJson(command.options)}};
}

QJsonObject SequenceToJson(const Sequence &sequence)
{
    QJsonArray steps;
    for (const SequenceStep &step : sequence.steps)
        steps.append(QJsonObject{{"command", double(step.commandId)}, {"delayMs", double(step.delayMs)}});
    return QJsonObject{{"name", sequence.name}, {"loops", sequence.loops}, {"steps", steps}};
}

}  // namespace

CommandLibrary::CommandLibrary(QObject *parent)
    : QObject(parent)
{
}

const Command *CommandLibrary::Find(quint64 id) const
{
    for (const CommandGroup &group : m_groups)
        for (const Command &command : group.commands)
            if (command.id == id)
                return &command;
    return nullptr;
}

int CommandLibrary::AddGroup(const QString &name)
{
    if (!IsStorableText(name) || m_groups.size() >= kMaxItems)
        return -1;
    m_groups.append(CommandGroup{name, {}});
    emit Changed();
    return int(m_groups.size() - 1);
}

bool CommandLibrary::RenameGroup(int group, const QString &name)
{
    if (group < 0 || group >= m_groups.size() || !IsStorableText(name))
        return false;
    if (m_groups[group].name != name) {
        m_groups[group].name = name;
        emit Changed();
    }
    return true;
}

bool CommandLibrary::RemoveGroup(int group)
{
    if (group < 0 || group >= m_groups.size())
        return false;
    QSet<quint64> ids;
    for (const Command &command : m_groups[group].commands)
        ids.insert(command.id);
    m_groups.removeAt(group);
    RemoveStepsNaming(m_sequences, ids);
    emit Changed();
    return true;
}

bool CommandLibrary::MoveGroup(int from, int to)
{
    if (from < 0 || from >= m_groups.size() || to < 0 || to >= m_groups.size())
        return false;
    if (from != to) {
        m_groups.move(from, to);
        emit Changed();
    }
    return true;
}

quint64 CommandLibrary::AddCommand(int group, Command command)
{
    if (group < 0 || group >= m_groups.size() || !IsStorableCommand(command) || m_nextId > kMaxId
        || CommandCount(m_groups) >= kMaxItems)
        return 0;
    command.id = m_nextId++;
    m_groups[group].commands.append(std::move(command));
    emit Changed();
    return m_groups[group].commands.constLast().id;
}

bool CommandLibrary::UpdateCommand(quint64 id, Command command)
{
    if (!Find(id) || !IsStorableCommand(command))
        return false;
    command.id = id;
    for (CommandGroup &group : m_groups)
        for (Command &existing : group.commands)
            if (existing.id == id && existing != command) {
                existing = std::move(command);
                emit Changed();
                return true;
            }
    return true;
}

quint64 CommandLibrary::DuplicateCommand(quint64 id)
{
    if (m_nextId > kMaxId || CommandCount(m_groups) >= kMaxItems)
        return 0;
    for (CommandGroup &group : m_groups)
        for (qsizetype i = 0; i < group.commands.size(); ++i) {
            if (group.commands[i].id != id)
                continue;
            Command copy = group.commands[i];
            copy.name += QStringLiteral(" 副本");
            if (!IsStorableText(copy.name))
                return 0;
            copy.id = m_nextId++;
            group.commands.insert(i + 1, copy);
            emit Changed();
            return copy.id;
        }
    return 0;
}

bool CommandLibrary::RemoveCommand(quint64 id)
{
    for (CommandGroup &group : m_groups)
        if (group.commands.removeIf([id](const Command &command) { return command.id == id; }) > 0) {
            RemoveStepsNaming(m_sequences, {id});
            emit Changed();
            return true;
        }
    return false;
}

bool CommandLibrary::MoveCommand(quint64 id, int group, int index)
{
    if (group < 0 || group >= m_groups.size())
        return false;
    for (int from = 0; from < m_groups.size(); ++from) {
        QList<Command> &source = m_groups[from].commands;
        for (qsizetype at = 0; at < source.size(); ++at) {
            if (source[at].id != id)
                continue;
            // index is the place in the target group once the command has left its own.
            const qsizetype targetSize = m_groups[group].commands.size() - (from == group ? 1 : 0);
            if (index < 0 || index > targetSize)
                return false;
            if (from == group && at == index)
                return true;
            Command command = source.takeAt(at);
            m_groups[group].commands.insert(index, std::move(command));
            emit Changed();
            return true;
        }
    }
    return false;
}

int CommandLibrary::AddSequence(Sequence sequence)
{
    if (m_sequences.size() >= kMaxItems
        || !SequenceProblem(sequence, [this](quint64 id) { return Find(id) != nullptr; }).isEmpty())
        return -1;
    m_sequences.append(std::move(sequence));
    emit Changed();
    return int(m_sequences.size() - 1);
}

bool CommandLibrary::UpdateSequence(int index, Sequence sequence)
{
    if (index < 0 || index >= m_sequences.size()
        || !SequenceProblem(sequence, [this](quint64 id) { return Find(id) != nullptr; }).isEmpty())
        return false;
    if (m_sequences[index] != sequence) {
        m_sequences[index] = std::move(sequence);
        emit Changed();
    }
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
            commands.append(CommandToJson(command));
        groups.append(QJsonObject{{"name", group.name}, {"commands", commands}});
    }
    QJsonArray sequences;
    for (const Sequence &sequence : m_sequences)
        sequences.append(SequenceToJson(sequence));
    const QJsonObject root{
        {"format", kFormatName}, {"version", kFormatVersion}, {"groups", groups}, {"sequences", sequences}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool CommandLibrary::FromJson(const QByteArray &json, QString *error)
{
    JsonReader reader;
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(
            QStringLiteral("不是有效的 JSON（第 %1 字节）: %2").arg(parseError.offset).arg(parseError.errorString()));
    if (!document.isObject())
        return fail(QStringLiteral("不是 JSON 对象"));
    const QJsonObject root = document.object();
    if (root.value(u"format").toString() != kFormatName)
        return fail(QStringLiteral("format: 不是命令库文件"));
    double version = 0;
    if (!reader.TakeInteger(root.value(u"version"), QStringLiteral("version"), 1, kFormatVersion, version))
        return fail(reader.error);

    QJsonArray groupArray;
    QJsonArray sequenceArray;
    if (!reader.TakeArray(root.value(u"groups"), QStringLiteral("groups"), groupArray)
        || !reader.TakeArray(root.value(u"sequences"), QStringLiteral("sequences"), sequenceArray))
        return fail(reader.error);

    QList<CommandGroup> groups;
    QSet<quint64> ids;
    quint64 largestId = 0;
    qsizetype commandCount = 0;
    groups.reserve(groupArray.size());
    for (qsizetype g = 0; g < groupArray.size(); ++g) {
        const QString path = QStringLiteral("groups[%1]").arg(g);
        CommandGroup group;
        if (!reader.TakeGroup(groupArray.at(g), path, group))
            return fail(reader.error);
        commandCount += group.commands.size();
        if (commandCount > kMaxItems)
            return fail(QStringLiteral("命令总数超过 %1").arg(kMaxItems));
        for (qsizetype c = 0; c < group.commands.size(); ++c) {
            const quint64 id = group.commands[c].id;
            if (ids.contains(id))
                return fail(path + QStringLiteral(".commands[%1].id: 编号 %2 重复").arg(c).arg(id));
            ids.insert(id);
            largestId = std::max(largestId, id);
        }
        groups.append(std::move(group));
    }

    QList<Sequence> sequences;
    sequences.reserve(sequenceArray.size());
    for (qsizetype s = 0; s < sequenceArray.size(); ++s) {
        const QString path = QStringLiteral("sequences[%1]").arg(s);
        Sequence sequence;
        if (!reader.TakeSequence(sequenceArray.at(s), path, sequence))
            return fail(reader.error);
        const QString problem = SequenceProblem(sequence, [&ids](quint64 id) { return ids.contains(id); });
        if (!problem.isEmpty())
            return fail(path + QStringLiteral(": ") + problem);
        sequences.append(std::move(sequence));
    }

    m_groups = std::move(groups);
    m_sequences = std::move(sequences);
    m_nextId = largestId + 1;
    emit Changed();
    return true;
}

void CommandLibrary::Clear()
{
    m_groups.clear();
    m_sequences.clear();
    m_nextId = 1;
    emit Changed();
}
