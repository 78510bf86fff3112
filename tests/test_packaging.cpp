// The program as a user gets it: the install tree and its validators, the Debian packages, the
// command line without a display, velvane-cli's manual page and bash completion against its own
// help, and the screenshot tool. CTest
// runs each function on its own, so one whose tool is missing shows as skipped, with why.
#include <QtTest>

#include <QDirIterator>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>

#include <optional>

#include "pages/message_box.h"

namespace {

const QString kAppId = QStringLiteral("example.quorvale.velvane");
const QString kVersion = QStringLiteral(PROJECT_VERSION_TEXT);

struct Run
{
    int exitCode = -1;  // -1 when it crashed or did not end in time
    QByteArray out;
    QByteArray err;
};

Run RunProgram(const QString &program, const QStringList &arguments, int timeoutMs = 60000,
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
               const QString &workingDirectory = {})
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    Run run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(3000);
    } else if (process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
    }
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QString Tool(const char *name)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

QString IconPath(int size)
{
    return QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(kAppId);
}
const QString kDesktopEntry = QStringLiteral("share/applications/%1.desktop").arg(kAppId);
const QString kMetaInfo = QStringLiteral("share/metainfo/%1.metainfo.xml").arg(kAppId);

// What the install puts below its prefix, sorted, for each package: no library, test or
// benchmark.
const QStringList kGuiFiles = {
    QStringLiteral("bin/velvane"),
    kDesktopEntry,
    QStringLiteral("share/doc/velvane/copyright"),
    IconPath(128),
    IconPath(256),
    IconPath(48),
    QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(kAppId),
    kMetaInfo,
};
const QString kCliManPage = QStringLiteral("share/man/man1/velvane-cli.1.gz");
const QString kCliCompletion = QStringLiteral("share/bash-completion/completions/velvane-cli");
const QStringList kCliFiles = {
    QStringLiteral("bin/velvane-cli"),
    kCliCompletion,
    QStringLiteral("share/doc/velvane-cli/copyright"),
    kCliManPage,
};

QProcessEnvironment WithoutDisplay()
{
    QProcessEnvironment bare = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        bare.remove(QString::fromLatin1(name));
    return bare;
}

// What velvane-cli's help says, read from the installed program: the subcommands, the options
// of each, and for an option that takes a value whether it is a file and which values it lists
// ("cr | lf | crlf").
struct CliHelp
{
    QStringList commands;
    QMap<QString, QStringList> options;  // per subcommand, in the help's order
    QSet<QString> takesValue;
    QSet<QString> takesFile;
    QMap<QString, QStringList> values;

    QSet<QString> AllOptions() const
    {
        QSet<QString> all;
        for (const QStringList &list : options)
            all.unite(QSet<QString>(list.begin(), list.end()));
        return all;
    }
};

std::optional<CliHelp> ReadCliHelp(const QString &program)
{
    CliHelp help;
    const Run global = RunProgram(program, {QStringLiteral("--help")}, 10000, WithoutDisplay());
    if (global.exitCode != 0)
        return std::nullopt;
    static const QRegularExpression commandLine(QStringLiteral("^  ([a-z]+-[a-z]+) "),
                                                QRegularExpression::MultilineOption);
    for (const QRegularExpressionMatch &match : commandLine.globalMatch(QString::fromUtf8(global.out)))
        help.commands << match.captured(1);

    static const QRegularExpression optionLine(QStringLiteral("^  (-\\S*) +(.*)$"),
                                               QRegularExpression::MultilineOption);
    static const QRegularExpression metaVariable(QStringLiteral("^([A-Z]+)  "));
    static const QRegularExpression valueList(QStringLiteral("[a-z0-9-]+(?: \\| [a-z0-9-]+)+"));
    for (const QString &command : std::as_const(help.commands)) {
        const Run run = RunProgram(program, {command, QStringLiteral("--help")}, 10000, WithoutDisplay());
        if (run.exitCode != 0)
            return std::nullopt;
        for (const QRegularExpressionMatch &match : optionLine.globalMatch(QString::fromUtf8(run.out))) {
            const QString option = match.captured(1);
            const QString text = match.captured(2);
            help.options[command] << option;
            const QRegularExpressionMatch meta = metaVariable.match(text);
            const QRegularExpressionMatch list = valueList.match(text);
            if (meta.hasMatch() || list.hasMatch())
                help.takesValue << option;
            if (meta.captured(1) == QLatin1String("FILE"))
                help.takesFile << option;
            if (list.hasMatch())
                help.values[option] = list.captured(0).split(QStringLiteral(" | "));
        }
    }
    return help;
}

}  // namespace

class TestPackaging : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void installTree();
    void validators();
    void debianPackage();
    void commandLine();
    void cliManPage();
    void cliCompletion();
    void screenshots();

private:
    QString m_prefix;
    std::unique_ptr<QTemporaryDir> m_work;
};

void TestPackaging::init()
{
    m_work = std::make_unique<QTemporaryDir>();
    m_prefix = m_work->filePath(QStringLiteral("prefix"));
    const Run run = RunProgram(
        QStringLiteral(CMAKE_COMMAND_PATH),
        {QStringLiteral("--install"), QStringLiteral(BUILD_DIR), QStringLiteral("--prefix"), m_prefix});
    QVERIFY2(run.exitCode == 0, run.out + run.err);
}

void TestPackaging::installTree()
{
    QStringList files;
    for (QDirIterator it(m_prefix, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        files << QDir(m_prefix).relativeFilePath(it.next());
    files.sort();
    QStringList expected = kGuiFiles + kCliFiles;
    expected.sort();
    QCOMPARE(files, expected);
    for (const int size : {48, 128, 256})
        QCOMPARE(QImage(m_prefix + u'/' + IconPath(size)).size(), QSize(size, size));

    // The menu entry starts the installed program with the installed icon.
    QFile entry(m_prefix + u'/' + kDesktopEntry);
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = entry.readAll().split('\n');
    QVERIFY(lines.contains("Exec=velvane") && lines.contains("Icon=" + kAppId.toUtf8()));

    // The newest release is the version the program reports, and every screenshot named
    // is one of the pictures the README shows.
    QFile metaInfo(m_prefix + u'/' + kMetaInfo);
    QVERIFY(metaInfo.open(QIODevice::ReadOnly));
    const QString xml = QString::fromUtf8(metaInfo.readAll());
    QCOMPARE(QRegularExpression(QStringLiteral("<release version=\"([^\"]+)\"")).match(xml).captured(1), kVersion);
    QVERIFY(kAppDisplayName.endsWith(u'V' + kVersion));
    int screenshots = 0;
    for (const QRegularExpressionMatch &image :
         QRegularExpression(QStringLiteral("<image>https://.+/([^/]+)</image>")).globalMatch(xml)) {
        QVERIFY2(QFile::exists(QStringLiteral(SOURCE_DIR "/docs/screenshots/") + image.captured(1)),
                 qPrintable(image.captured(1)));
        ++screenshots;
    }
    QCOMPARE(screenshots, 5);
}

void TestPackaging::validators()
{
    const QString desktopValidate = Tool("desktop-file-validate");
    const QString appstream = Tool("appstreamcli");
    if (!desktopValidate.isEmpty()) {
        const Run run = RunProgram(desktopValidate, {m_prefix + u'/' + kDesktopEntry});
        QVERIFY2(run.exitCode == 0, run.out + run.err);
    }
    if (!appstream.isEmpty()) {
        // The data alone, then with the desktop entry and the icons it refers to.
        Run run = RunProgram(appstream,
                             {QStringLiteral("validate"), QStringLiteral("--no-net"), m_prefix + u'/' + kMetaInfo});
        QVERIFY2(run.exitCode == 0, run.out + run.err);
        run = RunProgram(appstream, {QStringLiteral("validate-tree"), QStringLiteral("--no-net"), m_prefix});
        QVERIFY2(run.exitCode == 0, run.out + run.err);
    }
    if (desktopValidate.isEmpty() || appstream.isEmpty())
        QSKIP("desktop-file-validate or appstreamcli is missing (apt-get install desktop-file-utils appstream)");
}

void TestPackaging::debianPackage()
{
    if (Tool("dpkg-deb").isEmpty() || Tool("dpkg-shlibdeps").isEmpty() || Tool("file").isEmpty())
        QSKIP("dpkg-deb, dpkg-shlibdeps or file is missing (apt-get install dpkg-dev file)");
    const QDir out(m_work->filePath(QStringLiteral("deb")));
    Run run = RunProgram(QStringLiteral(CPACK_COMMAND_PATH),
                         {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                          QStringLiteral(BUILD_DIR "/CPackConfig.cmake"), QStringLiteral("-B"), out.path()},
                         300000);
    QVERIFY2(run.exitCode == 0, run.out + run.err);
    // One package per component: the desktop program, and velvane-cli on its own.
    const QString deb = out.filePath(QStringLiteral("velvane_%1_amd64.deb").arg(kVersion));
    const QString cliDeb = out.filePath(QStringLiteral("velvane-cli_%1_amd64.deb").arg(kVersion));
    QCOMPARE(out.entryList({QStringLiteral("*.deb")}, QDir::Files, QDir::Name),
             QStringList({QFileInfo(cliDeb).fileName(), QFileInfo(deb).fileName()}));

    // Each package holds its part of the install tree, under /usr.
    const auto packagedFiles = [](const QString &package) {
        const Run contents = RunProgram(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), package});
        QStringList packaged;
        for (const QByteArray &line : contents.out.split('\n'))
            if (line.startsWith('-'))
                packaged << QString::fromUtf8(line.mid(line.lastIndexOf(' ') + 1));
        packaged.sort();
        return packaged;
    };
    const auto underUsr = [](const QStringList &files) {
        QStringList expected;
        for (const QString &file : files)
            expected << QStringLiteral("./usr/") + file;
        return expected;
    };
    QCOMPARE(packagedFiles(deb), underUsr(kGuiFiles));
    QCOMPARE(packagedFiles(cliDeb), underUsr(kCliFiles));

    // Versioned dependencies on the Qt libraries each binary links, found by dpkg-shlibdeps:
    // velvane-cli's leave out Qt Gui and Widgets and whatever they bring (OpenGL, X, D-Bus).
    const auto controlFields = [](const QString &package) {
        const Run control = RunProgram(QStringLiteral("dpkg-deb"),
                                       {QStringLiteral("-f"), package, QStringLiteral("Package"),
                                        QStringLiteral("Version"), QStringLiteral("Depends"),
                                        QStringLiteral("Recommends"), QStringLiteral("Description")});
        return QString::fromUtf8(control.out);
    };
    const QString fields = controlFields(deb);
    QVERIFY2(fields.startsWith(QStringLiteral("Package: velvane\nVersion: %1\n").arg(kVersion)), qPrintable(fields));
    for (const char *expected : {"libqt6core6 (>= ", "libqt6gui6 (>= ", "libqt6widgets6 (>= ", "libqt6network6 (>= ",
                                 "libc6 (>= ", "libpcap0.8 (>= ", "Recommends: qt6-translations-l10n",
                                 "Description: TCP/UDP test tool: try out TCP and UDP peers by hand\n Velvane plays"})
        QVERIFY2(fields.contains(QLatin1StringView(expected)), qPrintable(fields));
    QVERIFY2(!fields.contains(QStringLiteral("libqt6test6")), qPrintable(fields));

    const QString cliFields = controlFields(cliDeb);
    QVERIFY2(cliFields.startsWith(QStringLiteral("Package: velvane-cli\nVersion: %1\n").arg(kVersion)),
             qPrintable(cliFields));
    for (const char *expected : {"libqt6core6 (>= ", "libqt6network6 (>= ", "libc6 (>= ",
                                 "Description: TCP/UDP test tool for the command line, scripts and CI\n velvane-cli"})
        QVERIFY2(cliFields.contains(QLatin1StringView(expected)), qPrintable(cliFields));
    const QString cliDepends = QRegularExpression(QStringLiteral("^Depends: (.*)$"),
                                                  QRegularExpression::MultilineOption)
                                   .match(cliFields)
                                   .captured(1);
    for (const char *unwanted : {"libqt6gui6", "libqt6widgets6", "libqt6dbus6", "libgl", "libegl", "libopengl", "libx",
                                 "libqt6test6", "velvane"})
        QVERIFY2(!cliDepends.contains(QLatin1StringView(unwanted)), qPrintable(cliFields));
    QVERIFY2(!cliFields.contains(QStringLiteral("Recommends:")), qPrintable(cliFields));
}

void TestPackaging::commandLine()
{
    // No display of any kind: the options must not need one.
    QProcessEnvironment bare = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        bare.remove(QString::fromLatin1(name));
    const auto velvane = [&](const QStringList &arguments) {
        return RunProgram(QStringLiteral(VELVANE_PATH), arguments, 10000, bare);
    };

    // Qt's own window options pass on to it; they are no error.
    for (const QStringList &arguments :
         {QStringList{QStringLiteral("--version")},
          QStringList{QStringLiteral("-platform"), QStringLiteral("xcb"), QStringLiteral("-v")}}) {
        const Run run = velvane(arguments);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, "Velvane " + kVersion.toUtf8() + '\n');
    }

    Run run = velvane({QStringLiteral("--help")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.startsWith("Usage: ") && run.out.contains("velvane [options]\n")
                 && run.out.contains("TCP and UDP peers") && run.out.contains("--version")
                 && !run.out.contains("platform"),
             run.out);

    run = velvane({QStringLiteral("--bogus")});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out + run.err, QByteArray("Unknown option 'bogus'.\nTry 'velvane --help' for more information.\n"));
    run = velvane({QStringLiteral("log.txt")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith("Unexpected argument 'log.txt'.\n"), run.err);
}

void TestPackaging::cliManPage()
{
    const std::optional<CliHelp> help = ReadCliHelp(m_prefix + QStringLiteral("/bin/velvane-cli"));
    QVERIFY(help && help->commands.size() == 4 && !help->values.isEmpty());

    // Compressed as Debian wants it (gzip -9n): no file name, no time, best compression.
    QFile compressed(m_prefix + u'/' + kCliManPage);
    QVERIFY(compressed.open(QIODevice::ReadOnly));
    const QByteArray header = compressed.read(10);
    QCOMPARE(header.left(4), QByteArray("\x1f\x8b\x08\x00", 4));
    QCOMPARE(header.mid(4, 5), QByteArray("\x00\x00\x00\x00\x02", 5));
    if (Tool("gzip").isEmpty())
        QSKIP("gzip is missing");
    const Run gunzip = RunProgram(QStringLiteral("gzip"), {QStringLiteral("-dc"), compressed.fileName()});
    QCOMPARE(gunzip.exitCode, 0);
    const QString page = QString::fromUtf8(gunzip.out);
    QVERIFY2(page.contains(QStringLiteral(" \"Velvane %1\" ").arg(kVersion)), "the .TH line names another version");

    // Every option the parser knows has its entry (the line after .TP), and no entry names an
    // option it does not know; every subcommand has its entry and every listed value is named.
    QSet<QString> entries;
    const QStringList lines = page.split(u'\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (lines.at(i) != QLatin1String(".TP"))
            continue;
        const QStringList words = lines.at(i + 1).split(u' ', Qt::SkipEmptyParts);
        if (words.size() >= 2 && words.first().startsWith(QLatin1String(".B")))
            entries << QString(words.at(1)).replace(QLatin1String("\\-"), QLatin1String("-"));
    }
    QSet<QString> optionEntries;
    for (const QString &entry : std::as_const(entries))
        if (entry.startsWith(u'-'))
            optionEntries << entry;
    QStringList documented = optionEntries.values();
    QStringList known = help->AllOptions().values();
    documented.sort();
    known.sort();
    QCOMPARE(documented, known);
    for (const QString &command : help->commands)
        QVERIFY2(entries.contains(command), qPrintable(command));
    for (const QStringList &values : help->values)
        for (const QString &value : values)
            QVERIFY2(page.contains(QString(value).replace(u'-', QLatin1String("\\-"))), qPrintable(value));

    // groff reads it without a warning.
    if (Tool("groff").isEmpty())
        QSKIP("groff is missing (apt-get install groff-base): the page was not formatted");
    QTemporaryFile source;
    QVERIFY(source.open());
    source.write(gunzip.out);
    source.close();
    const Run groff = RunProgram(QStringLiteral("groff"),
                                 {QStringLiteral("-k"), QStringLiteral("-man"), QStringLiteral("-Tutf8"),
                                  QStringLiteral("-ww"), QStringLiteral("-z"), source.fileName()});
    QVERIFY2(groff.exitCode == 0 && groff.err.isEmpty(), groff.err);
}

void TestPackaging::cliCompletion()
{
    if (Tool("bash").isEmpty())
        QSKIP("bash is missing");
    const std::optional<CliHelp> help = ReadCliHelp(m_prefix + QStringLiteral("/bin/velvane-cli"));
    QVERIFY(help && help->commands.size() == 4);

    // The installed script in a bash of its own, as bash calls it after a Tab: COMP_WORDS holds
    // the words so far, the last one being completed. The completion comes back one per line.
    QTemporaryDir files;
    for (const char *name : {"a.pcap", "b c.txt"}) {
        QFile file(files.filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(files.path()).mkdir(QStringLiteral("d")));
    const QString script = QStringLiteral(
        "source \"$1\" || exit 9; shift; read -ra spec < <(complete -p velvane-cli); "
        "COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); \"${spec[2]}\"; printf '%s\\n' \"${COMPREPLY[@]}\"");
    const auto complete = [&](QStringList words) {
        words.prepend(QStringLiteral("velvane-cli"));
        const Run run = RunProgram(QStringLiteral("bash"),
                                   QStringList{QStringLiteral("--norc"), QStringLiteral("--noprofile"),
                                               QStringLiteral("-c"), script, QStringLiteral("bash"),
                                               m_prefix + u'/' + kCliCompletion}
                                       + words,
                                   10000, QProcessEnvironment::systemEnvironment(), files.path());
        QStringList reply = QString::fromUtf8(run.out).split(u'\n', Qt::SkipEmptyParts);
        if (run.exitCode != 0 || !run.err.isEmpty())
            reply << QStringLiteral("exit %1: ").arg(run.exitCode) + QString::fromUtf8(run.err);
        return reply;
    };
    const auto sorted = [](QStringList list) {
        list.sort();
        return list;
    };

    QCOMPARE(complete({QString()}), help->commands + QStringList{QStringLiteral("--help")});
    QCOMPARE(complete({QStringLiteral("udp")}),
             QStringList({QStringLiteral("udp-server"), QStringLiteral("udp-client")}));
    for (const QString &command : help->commands) {
        // Each subcommand's own options: after a dash, or once its address is there.
        const QStringList options = sorted(help->options.value(command));
        QCOMPARE(sorted(complete({command, QStringLiteral("-")})), options);
        QCOMPARE(sorted(complete({command, QStringLiteral("127.0.0.1:7000"), QString()})), options);
        QCOMPARE(complete({command, QString()}), QStringList());
        for (const QString &option : help->options.value(command)) {
            const QStringList reply = complete({command, QStringLiteral("7000"), option, QString()});
            if (help->values.contains(option))
                QCOMPARE(reply, help->values.value(option));
            else if (help->takesFile.contains(option))
                QCOMPARE(sorted(reply),
                         QStringList({QStringLiteral("a.pcap"), QStringLiteral("b c.txt"), QStringLiteral("d")}));
            else if (help->takesValue.contains(option))
                QVERIFY2(reply.isEmpty(), qPrintable(option + u' ' + reply.join(u' ')));  // text, hex, a number
        }
    }
    QCOMPARE(
        complete({QStringLiteral("tcp-client"), QStringLiteral("h:1"), QStringLiteral("--pcap"), QStringLiteral("a")}),
        QStringList{QStringLiteral("a.pcap")});
    QCOMPARE(
        complete({QStringLiteral("udp-server"), QStringLiteral("7000"), QStringLiteral("--checksum"),
                  QStringLiteral("crc16")}),
        QStringList({QStringLiteral("crc16-modbus"), QStringLiteral("crc16-ibm3740"), QStringLiteral("crc16-xmodem")}));
}

void TestPackaging::screenshots()
{
    const QDir out(m_work->filePath(QStringLiteral("shots")));
    const Run run = RunProgram(QStringLiteral(SCREENSHOTS_PATH), {out.path()}, 120000);
    QVERIFY2(run.exitCode == 0, run.err);

    // Each tab at the window's size, the dialog smaller, the other windows their own sizes; the
    // committed pictures are the same
    // files in the same sizes (their content has the time stamps and ports of their day).
    const QDir committed(QStringLiteral(SOURCE_DIR "/docs/screenshots"));
    const QStringList names = out.entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    QCOMPARE(names, committed.entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name));
    QCOMPARE(names.size(), 10);
    const QSize window = QImage(out.filePath(QStringLiteral("tcp-server.png"))).size();
    for (const QString &name : names) {
        const QSize size = QImage(out.filePath(name)).size();
        if (name == QStringLiteral("large-view.png"))
            QCOMPARE(size, QSize(820, 560));
        else if (name == QStringLiteral("commands.png"))
            QVERIFY(size.height() == 420 && size.width() >= 560);  // the window's own least width
        else if (name == QStringLiteral("multicast.png"))
            QVERIFY(!size.isEmpty());  // a window of its own size
        else
            QVERIFY2(name == QStringLiteral("ip-info.png") ? size.width() < window.width() : size == window,
                     qPrintable(name));
        QCOMPARE(QImage(committed.filePath(name)).size(), size);
    }
}

QTEST_GUILESS_MAIN(TestPackaging)
#include "test_packaging.moc"
