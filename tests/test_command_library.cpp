// The command library (edits, its JSON file and what that file refuses), the send box's
// history and the settings files (the round trip, damaged files kept aside and logged).
#include <QtTest>

#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "pages/message_box.h"
#include "support/test_environment.h"
#include "text/gbk.h"
#include "traffic/clock_text.h"
#include "traffic/commands/command_library.h"
#include "traffic/send_history.h"
#include "traffic/settings_store.h"
#include "traffic/system_log.h"

namespace {

Command MakeCommand(const QString &name, const QString &text)
{
    Command command;
    command.name = name;
    command.text = text;
    return command;
}

QStringList Names(const CommandGroup &group)
{
    QStringList names;
    for (const Command &command : group.commands)
        names << command.name;
    return names;
}

// Two groups with every kind of value away from its default, and a sequence over both.
void FillSample(CommandLibrary &library)
{
    library.AddGroup(QStringLiteral("Modbus"));
    library.AddGroup(QStringLiteral("文本"));
    Command read = MakeCommand(QStringLiteral("读寄存器"), QStringLiteral("01 03 00 0A 00 02"));
    read.hex = true;
    read.options.checksum = Checksum::Crc16Modbus;
    read.options.order = ChecksumOrder::HighFirst;
    const quint64 readId = library.AddCommand(0, read);
    Command hello = MakeCommand(QStringLiteral("问候"), QStringLiteral("你好\\r\\n\"引号\"\t"));
    hello.encoding = TextEncoding::Utf8;
    hello.options.asTyped = true;
    hello.options.escapes = true;
    hello.options.ending = LineEnding::CrLf;
    hello.options.checksum = Checksum::Crc32IsoHdlc;
    const quint64 helloId = library.AddCommand(1, hello);
    library.AddCommand(1, MakeCommand(QString(), QString()));
    library.AddSequence(
        Sequence{QStringLiteral("轮询"), {{readId, 0}, {helloId, Sequence::kMaxDelayMs}, {readId, 250}}, 0});
}

}  // namespace

class TestCommandLibrary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void editsKeepIdsAndSayChanged();
    void removingCommandsTakesTheirSteps();
    void refusedEditsChangeNothing();
    void jsonRoundTrip();
    void invalidJsonLeavesLibrary_data();
    void invalidJsonLeavesLibrary();

    void historyWalk();
    void historyKeepsTheNewest();

    void settingsRoundTrip();
    void damagedSettingsKeptAside_data();
    void damagedSettingsKeptAside();
    void asideFilesNeverOverwritten();

private:
    QTemporaryDir m_configHome;
    QList<QString> m_logLines;
};

void TestCommandLibrary::initTestCase()
{
    // Before anything asks QStandardPaths: the user's own settings are never touched.
    QVERIFY(m_configHome.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
    QCoreApplication::setApplicationName(kAppDisplayName);
    QVERIFY(SettingsStore::Folder().startsWith(m_configHome.path()));
    SystemLog::SetSink([this](const QByteArray &line) { m_logLines.append(FromGbk(line)); });
}

void TestCommandLibrary::init()
{
    ResetProcessGlobals();
    g_strDateTime = QStringLiteral("2024-5-6 7:08:09");
    m_logLines.clear();
    QDir folder(SettingsStore::Folder());
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden))
        QVERIFY(folder.remove(name));
}

void TestCommandLibrary::cleanup()
{
    ResetProcessGlobals();
}

void TestCommandLibrary::editsKeepIdsAndSayChanged()
{
    CommandLibrary library;
    QSignalSpy changed(&library, &CommandLibrary::Changed);

    QCOMPARE(library.AddGroup(QStringLiteral("A")), 0);
    QCOMPARE(library.AddGroup(QStringLiteral("B")), 1);
    const quint64 one = library.AddCommand(0, MakeCommand(QStringLiteral("一"), QStringLiteral("1")));
    const quint64 two = library.AddCommand(0, MakeCommand(QStringLiteral("二"), QStringLiteral("2")));
    QVERIFY(one > 0 && two > one);
    QCOMPARE(changed.count(), 4);

    // The copy comes right after its original, with a new id and the same content.
    const quint64 copy = library.DuplicateCommand(one);
    QVERIFY(copy > two);
    QCOMPARE(Names(library.Groups()[0]), (QStringList{"一", "一 副本", "二"}));
    QCOMPARE(library.Find(copy)->text, QStringLiteral("1"));
    QCOMPARE(changed.count(), 5);

    Command edited = MakeCommand(QStringLiteral("一改"), QStringLiteral("11"));
    edited.id = 999;  // ignored: the command keeps its own id and place
    QVERIFY(library.UpdateCommand(one, edited));
    QCOMPARE(library.Find(one)->name, QStringLiteral("一改"));
    QCOMPARE(library.Find(999), nullptr);
    QCOMPARE(library.Groups()[0].commands[0].id, one);

    QVERIFY(library.MoveCommand(two, 1, 0));
    QCOMPARE(Names(library.Groups()[1]), QStringList{"二"});
    // Within its group: the index is where it ends up.
    QVERIFY(library.MoveCommand(one, 0, 1));
    QCOMPARE(Names(library.Groups()[0]), (QStringList{"一 副本", "一改"}));
    QVERIFY(library.RenameGroup(1, QStringLiteral("乙")));
    QVERIFY(library.MoveGroup(1, 0));
    QCOMPARE(library.Groups()[0].name, QStringLiteral("乙"));
    QCOMPARE(changed.count(), 10);

    // Nothing changes, nothing is said.
    QVERIFY(library.MoveGroup(0, 0));
    QVERIFY(library.RenameGroup(0, QStringLiteral("乙")));
    QVERIFY(library.MoveCommand(two, 0, 0));
    QCOMPARE(changed.count(), 10);

    // Ids are never handed out twice, even after the newest command went.
    QVERIFY(library.RemoveCommand(copy));
    QVERIFY(library.AddCommand(1, MakeCommand(QStringLiteral("三"), QString())) > copy);
    QCOMPARE(changed.count(), 12);
}

void TestCommandLibrary::removingCommandsTakesTheirSteps()
{
    CommandLibrary library;
    library.AddGroup(QStringLiteral("A"));
    library.AddGroup(QStringLiteral("B"));
    const quint64 a1 = library.AddCommand(0, MakeCommand(QStringLiteral("a1"), {}));
    const quint64 b1 = library.AddCommand(1, MakeCommand(QStringLiteral("b1"), {}));
    const quint64 b2 = library.AddCommand(1, MakeCommand(QStringLiteral("b2"), {}));
    QCOMPARE(library.AddSequence(Sequence{QStringLiteral("s"), {{a1, 1}, {b1, 2}, {a1, 3}, {b2, 4}}, 2}), 0);
    QSignalSpy changed(&library, &CommandLibrary::Changed);

    QVERIFY(library.RemoveCommand(a1));
    QCOMPARE(library.Sequences()[0].steps, (QList<SequenceStep>{{b1, 2}, {b2, 4}}));
    QVERIFY(library.RemoveGroup(1));
    QVERIFY(library.Sequences()[0].steps.isEmpty());
    QCOMPARE(library.Sequences().size(), 1);
    QCOMPARE(changed.count(), 2);
    QVERIFY(library.RemoveSequence(0));
    QCOMPARE(changed.count(), 3);
}

void TestCommandLibrary::refusedEditsChangeNothing()
{
    CommandLibrary library;
    FillSample(library);
    const QByteArray before = library.ToJson();
    QSignalSpy changed(&library, &CommandLibrary::Changed);
    const quint64 first = library.Groups()[0].commands[0].id;

    QCOMPARE(library.AddCommand(2, MakeCommand(QStringLiteral("x"), {})), 0u);
    QCOMPARE(library.AddCommand(-1, MakeCommand(QStringLiteral("x"), {})), 0u);
    QVERIFY(!library.RenameGroup(5, QStringLiteral("x")));
    QVERIFY(!library.RemoveGroup(-1));
    QVERIFY(!library.MoveGroup(0, 2));
    QVERIFY(!library.MoveCommand(first, 1, 3));
    QVERIFY(!library.MoveCommand(12345, 0, 0));
    QCOMPARE(library.DuplicateCommand(12345), 0u);
    QVERIFY(!library.RemoveCommand(12345));
    QVERIFY(!library.UpdateCommand(12345, MakeCommand(QStringLiteral("x"), {})));
    // What the file could not hold back is not taken either.
    QCOMPARE(library.AddGroup(QString(CommandLibrary::kMaxTextLength + 1, u'x')), -1);
    QVERIFY(!library.UpdateCommand(first, MakeCommand(QString(QChar(0xD800)), {})));
    QCOMPARE(library.AddSequence(Sequence{QStringLiteral("s"), {{12345, 0}}, 1}), -1);
    QCOMPARE(library.AddSequence(Sequence{QStringLiteral("s"), {{first, Sequence::kMaxDelayMs + 1}}, 1}), -1);
    QCOMPARE(library.AddSequence(Sequence{QStringLiteral("s"), {{first, 0}}, -1}), -1);
    QVERIFY(!library.UpdateSequence(0, Sequence{QStringLiteral("s"), {{first, -1}}, 1}));

    QCOMPARE(changed.count(), 0);
    QCOMPARE(library.ToJson(), before);
}

void TestCommandLibrary::jsonRoundTrip()
{
    CommandLibrary library;
    FillSample(library);
    const QByteArray json = library.ToJson();

    const QJsonObject root = QJsonDocument::fromJson(json).object();
    QCOMPARE(root[u"format"].toString(), QStringLiteral("velvane-commands"));
    QCOMPARE(root[u"version"].toInt(), 1);
    const QJsonObject read = root[u"groups"][0][u"commands"][0].toObject();
    QCOMPARE(read[u"options"][u"checksum"].toString(), QStringLiteral("crc16-modbus"));
    QCOMPARE(read[u"options"][u"order"].toString(), QStringLiteral("high"));
    QCOMPARE(root[u"groups"][1][u"commands"][0][u"encoding"].toString(), QStringLiteral("UTF-8"));

    CommandLibrary copy;
    QSignalSpy changed(&copy, &CommandLibrary::Changed);
    QString error;
    QVERIFY2(copy.FromJson(json, &error), qPrintable(error));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(copy.Groups(), library.Groups());
    QCOMPARE(copy.Sequences(), library.Sequences());
    QCOMPARE(copy.ToJson(), json);

    // New ids continue above the largest read.
    quint64 largest = 0;
    for (const CommandGroup &group : copy.Groups())
        for (const Command &command : group.commands)
            largest = std::max(largest, command.id);
    QCOMPARE(copy.AddCommand(0, MakeCommand(QStringLiteral("新"), {})), largest + 1);
}

void TestCommandLibrary::invalidJsonLeavesLibrary_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("where");  // what the error names

    const QByteArray command =
        R"({"id":1,"name":"n","text":"t","hex":false,"encoding":"GBK","options":{"asTyped":false,"escapes":false,"ending":"none","checksum":"none","order":"usual"}})";
    const auto file = [](const QByteArray &commands, const QByteArray &steps) {
        return R"({"format":"velvane-commands","version":1,"groups":[{"name":"g","commands":[)" + commands
               + R"(]}],"sequences":[{"name":"s","loops":1,"steps":[)" + steps + "]}]}";
    };
    const auto with = [&](const char *from, const char *to) { return QByteArray(command).replace(from, to); };

    QTest::newRow("truncated") << file(command, {}).chopped(3) << "JSON";
    QTest::newRow("not an object") << QByteArray("[1,2]") << "对象";
    QTest::newRow("other format") << QByteArray(file(command, {})).replace("velvane-commands", "x") << "format";
    QTest::newRow("newer version") << QByteArray(file(command, {})).replace("\"version\":1", "\"version\":2")
                                   << "version";
    QTest::newRow("id as text") << file(with("\"id\":1", "\"id\":\"1\""), {}) << ".id";
    QTest::newRow("id zero") << file(with("\"id\":1", "\"id\":0"), {}) << ".id";
    QTest::newRow("id fraction") << file(with("\"id\":1", "\"id\":1.5"), {}) << ".id";
    QTest::newRow("id huge") << file(with("\"id\":1", "\"id\":1e300"), {}) << ".id";
    QTest::newRow("hex as number") << file(with("\"hex\":false", "\"hex\":0"), {}) << ".hex";
    QTest::newRow("name missing") << file(with("\"name\":\"n\",", ""), {}) << ".name";
    QTest::newRow("unknown checksum") << file(with("\"checksum\":\"none\"", "\"checksum\":\"crc64\""), {})
                                      << ".checksum";
    QTest::newRow("unknown encoding") << file(with("GBK", "gbk"), {}) << ".encoding";
    QTest::newRow("unknown ending") << file(with("\"ending\":\"none\"", "\"ending\":\"CRLF\""), {}) << ".ending";
    QTest::newRow("duplicate ids") << file(command + "," + command, {}) << "重复";
    QTest::newRow("dangling step") << file(command, R"({"command":2,"delayMs":0})") << "不存在";
    QTest::newRow("delay over an hour") << file(command, R"({"command":1,"delayMs":3600001})") << "delayMs";
    QTest::newRow("negative delay") << file(command, R"({"command":1,"delayMs":-1})") << "delayMs";
    QTest::newRow("loops too many") << QByteArray(file(command, {})).replace("\"loops\":1", "\"loops\":1000001")
                                    << "loops";
    QTest::newRow("steps not an array") << QByteArray(file(command, {})).replace("\"steps\":[]", "\"steps\":{}")
                                        << "steps";
    QTest::newRow("deep nesting") << QByteArray(100000, '[') << "JSON";
}

void TestCommandLibrary::invalidJsonLeavesLibrary()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, where);

    CommandLibrary library;
    FillSample(library);
    const QList<CommandGroup> groups = library.Groups();
    const QList<Sequence> sequences = library.Sequences();
    QSignalSpy changed(&library, &CommandLibrary::Changed);
    QString error;

    QVERIFY(!library.FromJson(json, &error));
    QVERIFY2(error.contains(where), qPrintable(error));
    QCOMPARE(library.Groups(), groups);
    QCOMPARE(library.Sequences(), sequences);
    QCOMPARE(changed.count(), 0);
}

void TestCommandLibrary::historyWalk()
{
    SendHistory history;
    QCOMPARE(history.Older(QStringLiteral("typed")), QStringLiteral("typed"));
    QVERIFY(!history.IsWalking());

    for (const char *text : {"a", "b", "b", "c", "", "c"})
        history.Add(QString::fromLatin1(text));
    QCOMPARE(history.Texts(), (QStringList{"a", "b", "c"}));

    QCOMPARE(history.Older(QStringLiteral("typed")), QStringLiteral("c"));
    QCOMPARE(history.Older(QStringLiteral("c")), QStringLiteral("b"));
    QCOMPARE(history.Older(QStringLiteral("b")), QStringLiteral("a"));
    QCOMPARE(history.Older(QStringLiteral("a")), QStringLiteral("a"));  // stays at the oldest
    QCOMPARE(history.Newer(), QStringLiteral("b"));
    QCOMPARE(history.Newer(), QStringLiteral("c"));
    QVERIFY(history.IsWalking());
    QCOMPARE(history.Newer(), QStringLiteral("typed"));
    QVERIFY(!history.IsWalking());

    // Typing starts over from the newest, and the new text is the one restored.
    history.Older(QStringLiteral("x"));
    history.ResetWalk();
    QCOMPARE(history.Older(QStringLiteral("y")), QStringLiteral("c"));
    QCOMPARE(history.Newer(), QStringLiteral("y"));
}

void TestCommandLibrary::historyKeepsTheNewest()
{
    SendHistory history;
    for (int i = 0; i < 150; ++i)
        history.Add(QString::number(i));
    QCOMPARE(history.Texts().size(), SendHistory::kMaxTexts);
    QCOMPARE(history.Texts().first(), QStringLiteral("50"));
    QCOMPARE(history.Texts().last(), QStringLiteral("149"));

    QStringList stored;
    for (int i = 0; i < 120; ++i)
        stored << QString::number(i) << QString::number(i);
    history.SetTexts(stored);
    QCOMPARE(history.Texts().size(), SendHistory::kMaxTexts);
    QCOMPARE(history.Texts().first(), QStringLiteral("20"));
    QCOMPARE(history.Texts().last(), QStringLiteral("119"));
}

void TestCommandLibrary::settingsRoundTrip()
{
    QCOMPARE(SettingsStore::Load(QStringLiteral("missing.json")), std::nullopt);
    QCOMPARE(SettingsStore::LoadBytes(QStringLiteral("missing.json")), std::nullopt);

    const QJsonObject settings{{"encoding", "UTF-8"}, {"history", QJsonArray{"a", "你好"}}};
    QVERIFY(SettingsStore::Save(QStringLiteral("settings.json"), settings));
    QCOMPARE(SettingsStore::Load(QStringLiteral("settings.json")), settings);
    const QByteArray bytes("\x00\xff raw", 6);
    QVERIFY(SettingsStore::Save(QStringLiteral("commands.json"), bytes));
    QCOMPARE(SettingsStore::LoadBytes(QStringLiteral("commands.json")), bytes);
    // A name with a folder in it is not one of the program's files.
    QVERIFY(!SettingsStore::Save(QStringLiteral("../escaped.json"), bytes));
    QVERIFY(!QFile::exists(QDir(SettingsStore::Folder()).filePath(QStringLiteral("../escaped.json"))));

    CommandLibrary library;
    FillSample(library);
    QVERIFY(SettingsStore::Save(QStringLiteral("commands.json"), library.ToJson()));
    CommandLibrary loaded;
    QVERIFY(loaded.FromJson(*SettingsStore::LoadBytes(QStringLiteral("commands.json"))));
    QCOMPARE(loaded.Groups(), library.Groups());
    QVERIFY(m_logLines.isEmpty());
}

void TestCommandLibrary::damagedSettingsKeptAside_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("why");

    QTest::newRow("truncated") << QByteArray(R"({"encoding":"GB)") << "内容无效";
    QTest::newRow("array") << QByteArray("[1]") << "内容无效";
    QTest::newRow("empty") << QByteArray() << "内容无效";
    QTest::newRow("over 64 MiB") << QByteArray((64 << 20) + 1, ' ') << "大于 64 MiB";
}

void TestCommandLibrary::damagedSettingsKeptAside()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, why);

    const QDir folder(SettingsStore::Folder());
    const QString path = folder.filePath(QStringLiteral("settings.json"));
    WriteFileBytes(path, bytes);
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);

    QCOMPARE(SettingsStore::Load(QStringLiteral("settings.json")), std::nullopt);

    QVERIFY(!QFile::exists(path));
    const QStringList aside = folder.entryList({QStringLiteral("settings.json.*")}, QDir::Files);
    QCOMPARE(aside.size(), 1);
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral(R"(^settings\.json\.damaged-(\d{8}-\d{6})$)")).match(aside[0]);
    QVERIFY2(match.hasMatch(), qPrintable(aside[0]));
    const QDateTime stamp = QDateTime::fromString(match.captured(1), QStringLiteral("yyyyMMdd-HHmmss"));
    QVERIFY(stamp >= before && stamp <= QDateTime::currentDateTime());
    QVERIFY(ReadFileBytes(folder.filePath(aside[0])) == bytes);

    QCOMPARE(m_logLines.size(), 1);
    QCOMPARE(m_logLines[0], g_strDateTime + QStringLiteral(" 设置文件") + path + why + QStringLiteral("，已另存为")
                                + folder.filePath(aside[0]) + QStringLiteral("，使用默认设置\r\n"));
}

void TestCommandLibrary::asideFilesNeverOverwritten()
{
    const QDir folder(SettingsStore::Folder());
    const QString path = folder.filePath(QStringLiteral("commands.json"));
    // Every name this second and the next few could give is taken already: the new one numbers on.
    const QDateTime now = QDateTime::currentDateTime();
    QStringList taken;
    for (int second = 0; second < 5; ++second) {
        taken << path + QStringLiteral(".damaged-") + now.addSecs(second).toString(QStringLiteral("yyyyMMdd-HHmmss"));
        WriteFileBytes(taken.last(), "kept " + QByteArray::number(second));
    }

    WriteFileBytes(path, "first damaged");
    SettingsStore::SetAside(QStringLiteral("commands.json"), QStringLiteral("内容无效"));
    WriteFileBytes(path, "second damaged");
    QCOMPARE(SettingsStore::Load(QStringLiteral("commands.json")), std::nullopt);

    for (int second = 0; second < 5; ++second)
        QCOMPARE(ReadFileBytes(taken[second]), "kept " + QByteArray::number(second));
    QStringList numbered;
    for (const QString &name : folder.entryList({QStringLiteral("commands.json.damaged-*-*-*")}, QDir::Files))
        numbered << QString::fromLatin1(ReadFileBytes(folder.filePath(name)));
    numbered.sort();
    QCOMPARE(numbered, (QStringList{"first damaged", "second damaged"}));
    QCOMPARE(m_logLines.size(), 2);
    QVERIFY(m_logLines[1].contains(QRegularExpression(QStringLiteral(R"(damaged-\d{8}-\d{6}-[23]，)"))));
}

QTEST_GUILESS_MAIN(TestCommandLibrary)
#include "test_command_library.moc"
