// The 命令… window: the shared command library edited through its buttons, commands sent by a
// double click or Enter, sequences run with the running step shown, import and export.
#include <QtTest>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

#include "pages/commands/command_editor.h"
#include "pages/commands/command_window.h"
#include "pages/file_dialogs.h"
#include "support/box_answerer.h"
#include "support/test_environment.h"

namespace {

// A window on its own library; what it sends is kept, and the send says yes until told no.
struct WindowFixture
{
    QWidget page;
    CommandLibrary library;
    QList<quint64> sent;
    int refuseFromSend = -1;  // the index of the first send refused; -1: none
    CommandWindow *window = nullptr;
    QList<Command> edits;  // what the editor "types", one per opening
    QStringList names;     // what the name prompt "types", one per asking

    WindowFixture()
    {
        window = new CommandWindow(
            QStringLiteral("TCP Server"), library,
            [this](const Command &command) {
                sent.append(command.id);
                return refuseFromSend < 0 || sent.size() <= refuseFromSend;
            },
            [] { return true; }, &page);
        window->Prompts().editCommand = [this](Command &command) {
            if (edits.isEmpty())
                return false;
            const quint64 id = command.id;
            command = edits.takeFirst();
            command.id = id;
            return true;
        };
        window->Prompts().askName = [this](const QString &, QString &name) {
            if (names.isEmpty())
                return false;
            name = names.takeFirst();
            return true;
        };
        window->show();
    }
    ~WindowFixture()
    {
        FileDialogs::g_answerSaveFile = nullptr;
        FileDialogs::g_answerOpenFile = nullptr;
    }

    template <typename T>
    T *Find(const char *name) const
    {
        T *child = window->findChild<T *>(QLatin1String(name));
        if (child == nullptr)
            qFatal("no %s", name);
        return child;
    }
    void Click(const char *button) const { QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton); }
    QListWidget *Commands() const { return Find<QListWidget>("commandList"); }
    QListWidget *Steps() const { return Find<QListWidget>("stepList"); }
    QString Status() const { return Find<QLabel>("sequenceStatus")->text(); }
    QStringList ShownNames() const
    {
        QStringList shown;
        for (const Command &command : library.Groups().value(0).commands)
            shown << command.name;
        return shown;
    }
    int BoldStep() const
    {
        for (int row = 0; row < Steps()->count(); ++row) {
            if (Steps()->item(row)->font().bold())
                return row;
        }
        return -1;
    }

    quint64 Add(int group, const QString &name, const QString &text = QStringLiteral("x"))
    {
        Command command;
        command.name = name;
        command.text = text;
        return library.AddCommand(group, command);
    }
    // A sequence of the commands with the delays, chosen on the 序列 tab.
    void AddSequence(const QList<SequenceStep> &steps, int loops)
    {
        Sequence sequence;
        sequence.name = QStringLiteral("s");
        sequence.steps = steps;
        sequence.loops = loops;
        Find<QListWidget>("sequenceList")->setCurrentRow(library.AddSequence(sequence));
    }
};

Command Edit(const QString &name, const QString &text, bool hex = false)
{
    Command command;
    command.name = name;
    command.text = text;
    command.hex = hex;
    command.encoding = TextEncoding::Utf8;
    command.options.ending = LineEnding::CrLf;
    return command;
}

}  // namespace

class TestCommandWindow : public QObject
{
    Q_OBJECT

private slots:
    void editorKeepsEveryField();
    void buttonsEditTheLibrary();
    void followsOtherWindows();
    void sendsWhatIsActivated();
    void firstNineOfTheShownGroup();
    void sequenceSendsInOrderAndShowsTheStep();
    void refusedSendEndsTheSequence();
    void invalidImportLeavesTheLibrary();
    void exportThenImport();
};

void TestCommandWindow::editorKeepsEveryField()
{
    Command command = Edit(QStringLiteral("帧"), QStringLiteral("a\\r"));
    command.id = 7;
    command.encoding = TextEncoding::Big5;
    command.options = {true, true, LineEnding::Lf, Checksum::Crc16Modbus, ChecksumOrder::HighFirst};
    CommandEditor editor(command, nullptr);
    QCOMPARE(editor.Edited(), command);

    // A command without a name cannot be taken.
    auto *ok = editor.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
    QVERIFY(ok->isEnabled());
    editor.findChild<QLineEdit *>(QStringLiteral("commandName"))->setText(QStringLiteral("  "));
    QVERIFY(!ok->isEnabled());
}

void TestCommandWindow::buttonsEditTheLibrary()
{
    WindowFixture f;
    BoxAnswerer answerer;
    QCOMPARE(f.window->windowTitle(), QStringLiteral("TCP Server 命令"));

    // A new command without a group makes the first one.
    f.edits = {Edit(QStringLiteral("登录"), QStringLiteral("01 02"), true)};
    f.Click("addCommand");
    QCOMPARE(f.library.Groups().size(), 1);
    const Command login = f.library.Groups().at(0).commands.value(0);
    QCOMPARE(login.name, QStringLiteral("登录"));
    QVERIFY(login.hex);
    QCOMPARE(login.encoding, TextEncoding::Utf8);
    QCOMPARE(login.options.ending, LineEnding::CrLf);
    QVERIFY(f.Commands()->item(0)->text().contains(QStringLiteral("[HEX] 01 02")));

    // A cancelled editor changes nothing.
    f.Click("addCommand");
    QCOMPARE(f.library.Groups().at(0).commands.size(), 1);

    f.edits = {Edit(QStringLiteral("查询"), QStringLiteral("Q?"))};
    f.Click("addCommand");
    f.Commands()->setCurrentRow(0);
    f.edits = {Edit(QStringLiteral("登录2"), QStringLiteral("03"), true)};
    f.Click("editCommand");
    QCOMPARE(f.library.Groups().at(0).commands.at(0).id, login.id);
    QCOMPARE(f.library.Groups().at(0).commands.at(0).text, QStringLiteral("03"));

    f.Click("duplicateCommand");
    QCOMPARE(f.ShownNames(), (QStringList{"登录2", "登录2 副本", "查询"}));
    QCOMPARE(f.Commands()->currentRow(), 1);

    f.Click("moveDown");
    QCOMPARE(f.ShownNames(), (QStringList{"登录2", "查询", "登录2 副本"}));
    QCOMPARE(f.Commands()->currentRow(), 2);
    f.Click("moveUp");
    f.Click("moveUp");
    QCOMPARE(f.ShownNames(), (QStringList{"登录2 副本", "登录2", "查询"}));
    QVERIFY(!f.Find<QPushButton>("moveUp")->isEnabled());

    f.Click("removeCommand");
    QCOMPARE(f.ShownNames(), (QStringList{"登录2", "查询"}));
    QCOMPARE(f.Commands()->count(), 2);

    // Groups: a new one is shown; removing one asks first.
    f.names = {QStringLiteral("调试")};
    f.Click("addGroup");
    QCOMPARE(f.library.Groups().size(), 2);
    QCOMPARE(f.window->ShownGroup(), 1);
    QCOMPARE(f.Commands()->count(), 0);
    f.names = {QStringLiteral("调试2")};
    f.Click("renameGroup");
    QCOMPARE(f.library.Groups().at(1).name, QStringLiteral("调试2"));
    answerer.Queue(QMessageBox::No);
    f.Click("removeGroup");
    QCOMPARE(f.library.Groups().size(), 2);
    answerer.Queue(QMessageBox::Yes);
    f.Click("removeGroup");
    QCOMPARE(f.library.Groups().size(), 1);
    QCOMPARE(answerer.Count(), 2);
    QCOMPARE(f.window->ShownGroup(), 0);
    QCOMPARE(f.Commands()->count(), 2);
}

void TestCommandWindow::followsOtherWindows()
{
    WindowFixture f;
    const int group = f.library.AddGroup(QStringLiteral("g"));
    f.Add(group, QStringLiteral("a"));
    const quint64 b = f.Add(group, QStringLiteral("b"));
    f.Commands()->setCurrentRow(1);
    QCOMPARE(f.Find<QComboBox>("commandGroup")->currentText(), QStringLiteral("g"));

    // Another window inserts before the selected command: the selection stays on it.
    f.library.MoveCommand(f.Add(group, QStringLiteral("c")), group, 0);
    QCOMPARE(f.Commands()->count(), 3);
    QCOMPARE(f.Commands()->currentItem()->data(Qt::UserRole).toULongLong(), b);
    // And removes the shown group's last command.
    f.library.RemoveCommand(b);
    QCOMPARE(f.Commands()->count(), 2);
    QVERIFY(!f.Find<QPushButton>("editCommand")->isEnabled());
    f.library.Clear();
    QCOMPARE(f.Commands()->count(), 0);
    QCOMPARE(f.Find<QComboBox>("commandGroup")->count(), 0);
    QCOMPARE(f.window->ShownGroup(), -1);
    QVERIFY(f.window->FirstCommands().isEmpty());
}

void TestCommandWindow::sendsWhatIsActivated()
{
    WindowFixture f;
    const int group = f.library.AddGroup(QStringLiteral("g"));
    f.Add(group, QStringLiteral("a"));
    const quint64 b = f.Add(group, QStringLiteral("b"));
    const quint64 c = f.Add(group, QStringLiteral("c"));

    QVERIFY(QTest::qWaitForWindowExposed(f.window));
    QListWidget *list = f.Commands();
    const QRect second = list->visualItemRect(list->item(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(f.sent, QList<quint64>{b});

    list->setCurrentRow(2);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(f.sent, (QList<quint64>{b, c}));
}

void TestCommandWindow::firstNineOfTheShownGroup()
{
    WindowFixture f;
    const int first = f.library.AddGroup(QStringLiteral("g1"));
    const int second = f.library.AddGroup(QStringLiteral("g2"));
    for (int index = 0; index < 10; ++index)
        f.Add(first, QString::number(index));
    const quint64 only = f.Add(second, QStringLiteral("only"));

    const QList<Command> nine = f.window->FirstCommands();
    QCOMPARE(nine.size(), 9);
    QCOMPARE(nine.first().name, QStringLiteral("0"));
    QCOMPARE(nine.last().name, QStringLiteral("8"));

    f.Find<QComboBox>("commandGroup")->setCurrentIndex(second);
    QCOMPARE(f.window->ShownGroup(), second);
    QCOMPARE(f.window->FirstCommands().size(), 1);
    QCOMPARE(f.window->FirstCommands().first().id, only);
}

void TestCommandWindow::sequenceSendsInOrderAndShowsTheStep()
{
    WindowFixture f;
    const int group = f.library.AddGroup(QStringLiteral("g"));
    const quint64 a = f.Add(group, QStringLiteral("a"));
    const quint64 b = f.Add(group, QStringLiteral("b"));

    // Steps built through the tab: a, then b with an hour's wait after it.
    f.names = {QStringLiteral("测试")};
    f.Click("addSequence");
    QCOMPARE(f.library.Sequences().size(), 1);
    QComboBox *command = f.Find<QComboBox>("stepCommand");
    QSpinBox *delay = f.Find<QSpinBox>("stepDelay");
    f.Click("addStep");
    command->setCurrentIndex(command->findData(b));
    delay->setValue(static_cast<int>(Sequence::kMaxDelayMs));
    // A new step starts as the selected one and is then changed.
    f.Click("addStep");
    QCOMPARE(f.library.Sequences().at(0).steps.value(1), (SequenceStep{b, Sequence::kMaxDelayMs}));
    command->setCurrentIndex(command->findData(a));
    delay->setValue(0);
    f.Click("stepUp");
    f.Steps()->setCurrentRow(2);
    f.Click("removeStep");
    QCOMPARE(f.library.Sequences().at(0).steps, (QList<SequenceStep>{{a, 0}, {b, Sequence::kMaxDelayMs}}));
    f.Find<QSpinBox>("sequenceLoops")->setValue(0);
    QCOMPARE(f.library.Sequences().at(0).loops, 0);

    f.Click("startSequence");
    QVERIFY(WaitUntil([&f] { return f.sent.size() == 2; }));
    QCOMPARE(f.sent, (QList<quint64>{a, b}));
    QTRY_COMPARE(f.BoldStep(), 1);
    QCOMPARE(f.Steps()->currentRow(), 1);
    QVERIFY(!f.Find<QPushButton>("addStep")->isEnabled());
    QVERIFY(!f.Find<QPushButton>("startSequence")->isEnabled());

    f.Click("stopSequence");
    QCOMPARE(f.Status(), QStringLiteral("已停止"));
    QCOMPARE(f.BoldStep(), -1);
    QVERIFY(f.Find<QPushButton>("startSequence")->isEnabled());

    // Two loops without waits run to the end.
    f.sent.clear();
    f.AddSequence({{a, 0}, {b, 0}}, 2);
    f.Click("startSequence");
    QTRY_COMPARE_WITH_TIMEOUT(f.Status(), QStringLiteral("完成"), kPatienceMs);
    QCOMPARE(f.sent, (QList<quint64>{a, b, a, b}));
}

void TestCommandWindow::refusedSendEndsTheSequence()
{
    WindowFixture f;
    const int group = f.library.AddGroup(QStringLiteral("g"));
    const quint64 a = f.Add(group, QStringLiteral("a"));
    const quint64 b = f.Add(group, QStringLiteral("b"));
    f.AddSequence({{a, 0}, {b, 0}, {a, 0}}, 1);
    f.refuseFromSend = 1;
    f.Click("startSequence");
    QTRY_COMPARE_WITH_TIMEOUT(f.Status(), QStringLiteral("被拒绝"), kPatienceMs);
    QCOMPARE(f.sent, (QList<quint64>{a, b}));
    QVERIFY(f.Find<QPushButton>("startSequence")->isEnabled());
}

void TestCommandWindow::invalidImportLeavesTheLibrary()
{
    ScopedTemporaryCurrentDir dir;
    WindowFixture f;
    BoxAnswerer answerer;
    f.Add(f.library.AddGroup(QStringLiteral("g")), QStringLiteral("a"));
    const QByteArray before = f.library.ToJson();

    const QString invalid = dir.FilePath(QStringLiteral("invalid.json"));
    WriteFileBytes(invalid, "{\"groups\": [");
    const QString missing = dir.FilePath(QStringLiteral("missing.json"));
    QStringList asked;
    for (const QString &path : {invalid, missing}) {
        FileDialogs::g_answerOpenFile = [&](const FileDialogs::SaveRequest &request) {
            asked << request.filters;
            return FileDialogs::Answer{path, request.filters.value(0)};
        };
        f.Click("importLibrary");
        QCOMPARE(answerer.Count(), asked.size());
        QVERIFY2(answerer.Boxes().last().text.contains(QDir::toNativeSeparators(path)),
                 qPrintable(answerer.Boxes().last().text));
        QCOMPARE(f.library.ToJson(), before);
    }
    QCOMPARE(asked.value(0), QStringLiteral("命令库 (*.json)"));
}

void TestCommandWindow::exportThenImport()
{
    ScopedTemporaryCurrentDir dir;
    WindowFixture f;
    BoxAnswerer answerer;
    const int group = f.library.AddGroup(QStringLiteral("组"));
    Command hex = Edit(QStringLiteral("心跳"), QStringLiteral("AA 55"), true);
    const quint64 a = f.library.AddCommand(group, hex);
    f.AddSequence({{a, 250}}, 3);
    const QList<CommandGroup> groups = f.library.Groups();
    const QList<Sequence> sequences = f.library.Sequences();

    const QString path = dir.FilePath(QStringLiteral("lib.json"));
    FileDialogs::g_answerSaveFile = [&](const FileDialogs::SaveRequest &request) {
        return FileDialogs::Answer{path, request.filters.value(0)};
    };
    f.Click("exportLibrary");
    QVERIFY(QFile::exists(path));

    f.library.Clear();
    QCOMPARE(f.Commands()->count(), 0);
    FileDialogs::g_answerOpenFile = [&](const FileDialogs::SaveRequest &request) {
        return FileDialogs::Answer{path, request.filters.value(0)};
    };
    f.Click("importLibrary");
    QCOMPARE(answerer.Count(), 0);
    QCOMPARE(f.library.Groups(), groups);
    QCOMPARE(f.library.Sequences(), sequences);
    QCOMPARE(f.Commands()->count(), 1);

    // A file that cannot be written is said, not taken for done.
    const QString unwritable = dir.FilePath(QStringLiteral("no/such/dir/lib.json"));
    FileDialogs::g_answerSaveFile = [&](const FileDialogs::SaveRequest &request) {
        return FileDialogs::Answer{unwritable, request.filters.value(0)};
    };
    f.Click("exportLibrary");
    QCOMPARE(answerer.Count(), 1);
    QVERIFY(answerer.Boxes().last().text.contains(QDir::toNativeSeparators(unwritable)));
}

QTEST_MAIN(TestCommandWindow)
#include "test_command_window.moc"
