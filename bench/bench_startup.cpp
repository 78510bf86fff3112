// How long the main window takes to start: empty, and with a library of 10,000 commands and
// 记住设置 on (every page's fields and a full history restored), each in a configuration
// folder of its own, a few times each (the median is printed).
//
//   QT_QPA_PLATFORM=offscreen ./build/bench/bench_startup [commands] [rounds]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_support.h"

#include "shell/main_dlg.h"
#include "traffic/commands/command_library.h"
#include "traffic/commands/library_file.h"
#include "traffic/settings_store.h"

namespace {

using namespace BenchSupport;

// Writes the files a user with a big library and 记住设置 on leaves behind.
void WriteFullSetup(int commands)
{
    CommandLibrary library;
    int group = -1;
    for (int i = 0; i < commands; ++i) {
        if (i % 100 == 0)
            group = library.AddGroup(QStringLiteral("组 %1").arg(i / 100));
        Command command;
        command.name = QStringLiteral("命令 %1").arg(i);
        command.text = QStringLiteral("AT+TEST=%1,\"%2\"").arg(i).arg(QString(40, QLatin1Char('x')));
        command.options.ending = LineEnding::CrLf;
        library.AddCommand(group, command);
    }
    SettingsStore::Save(LibraryFile::kFileName, library.ToJson());
    QJsonArray history;
    for (int i = 0; i < 100; ++i)
        history.append(QStringLiteral("history %1").arg(i));
    const QJsonObject page{{QStringLiteral("sendBox"), QStringLiteral("AT")}, {QStringLiteral("history"), history}};
    SettingsStore::Save(QStringLiteral("settings.json"),
                        QJsonObject{{QStringLiteral("remember"), true},
                                    {QStringLiteral("pages"), QJsonObject{{QStringLiteral("tcpServer"), page},
                                                                          {QStringLiteral("udpServer"), page},
                                                                          {QStringLiteral("client"), page}}}});
}

double StartMs()
{
    SharedCommandLibrary().Clear();
    QElapsedTimer clock;
    clock.start();
    CMainDlg window;
    window.Create();
    const double ms = clock.nsecsElapsed() / 1e6;
    return ms;
}

}  // namespace

int main(int argc, char *argv[])
{
    BenchProcess process(argc, argv);
    const int commands = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    BoxAnswerer boxes;
    AnswerAsUser(boxes);
    std::vector<double> empty;
    std::vector<double> full;
    for (int round = 0; round < rounds; ++round) {
        QTemporaryDir emptyConfig;
        qputenv("XDG_CONFIG_HOME", emptyConfig.path().toUtf8());
        empty.push_back(StartMs());
        QTemporaryDir fullConfig;
        qputenv("XDG_CONFIG_HOME", fullConfig.path().toUtf8());
        WriteFullSetup(commands);
        full.push_back(StartMs());
    }
    std::printf("start-up, nothing saved:                        median %.1f ms over %d starts\n",
                Percentile(empty, 0.5), rounds);
    std::printf("start-up, %d commands and 记住设置 on: median %.1f ms over %d starts (library loaded: %lld "
                "commands)\n",
                commands, Percentile(full, 0.5), rounds,
                static_cast<long long>(SharedCommandLibrary().Groups().size() * 100));
    process.ReportWallTime();
    return 0;
}
