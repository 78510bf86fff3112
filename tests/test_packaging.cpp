// The program as a user gets it: the install tree and its validators, the Debian package, the
// command line without a display, and the screenshot tool. CTest
// runs each function on its own, so one whose tool is missing shows as skipped, with why.
#include <QtTest>

#include <QDirIterator>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>

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
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
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

// Everything the install puts below its prefix, sorted: no library, test or benchmark.
const QStringList kInstalledFiles = {
    QStringLiteral("bin/velvane"),
    kDesktopEntry,
    QStringLiteral("share/doc/velvane/copyright"),
    IconPath(128),
    IconPath(256),
    IconPath(48),
    QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(kAppId),
    kMetaInfo,
};

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
    QCOMPARE(files, kInstalledFiles);
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
    const QString deb = out.filePath(QStringLiteral("velvane_%1_amd64.deb").arg(kVersion));

    // The install tree's files, under /usr.
    run = RunProgram(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb});
    QStringList packaged;
    for (const QByteArray &line : run.out.split('\n'))
        if (line.startsWith('-'))
            packaged << QString::fromUtf8(line.mid(line.lastIndexOf(' ') + 1));
    QStringList expected;
    for (const QString &file : kInstalledFiles)
        expected << QStringLiteral("./usr/") + file;
    packaged.sort();
    QCOMPARE(packaged, expected);

    // Versioned dependencies on the Qt libraries the binary links, found by dpkg-shlibdeps.
    run = RunProgram(QStringLiteral("dpkg-deb"),
                     {QStringLiteral("-f"), deb, QStringLiteral("Version"), QStringLiteral("Depends")});
    const QString fields = QString::fromUtf8(run.out);
    QVERIFY2(fields.startsWith(QStringLiteral("Version: %1\n").arg(kVersion)), qPrintable(fields));
    for (const char *library : {"libqt6core6 (>= ", "libqt6gui6 (>= ", "libqt6widgets6 (>= ", "libqt6network6 (>= ",
                                "libc6 (>= ", "libpcap0.8 (>= "})
        QVERIFY2(fields.contains(QLatin1StringView(library)), qPrintable(fields));
    QVERIFY2(!fields.contains(QStringLiteral("libqt6test6")), qPrintable(fields));
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
