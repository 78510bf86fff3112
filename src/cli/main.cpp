#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include <cstdio>
#include <variant>

#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cli/cli_traffic.h"
#include "cli/signal_watch.h"
#include "cli/tcp_client_run.h"
#include "cli/tcp_server_run.h"
#include "cli/udp_client_run.h"
#include "cli/udp_server_run.h"
#include "platform/network_startup.h"
#include "text/gbk.h"
#include "traffic/clock_text.h"
#include "traffic/system_log.h"

namespace {

// A server's run until it is done, --wait has passed since it started listening, a signal came
// or stdout went away.
template <typename ServerRun>
int ExecuteServer(const CliOptions &options, CliOutput &output, QCoreApplication &app)
{
    ServerRun server(options, output);
    QObject::connect(&server, &ServerRun::Finished, &app, [&app](int code) { app.exit(code); });
    QTimer wait;
    if (options.waitMs >= 0) {
        wait.setSingleShot(true);
        QObject::connect(&wait, &QTimer::timeout, &app,
                         [&app, &options] { app.exit(options.hasExpect ? kExitExpectUnmet : kExitDone); });
    }
    if (const CliExit failed = server.Start(); failed != kExitDone)
        return failed;
    if (options.waitMs >= 0)
        wait.start(options.waitMs);
    const int code = app.exec();
    server.Stop();
    output.Flush();
    return code;
}

// A client's run; its --wait counts from its last send, so the run keeps it.
template <typename ClientKind>
int ExecuteClient(const CliOptions &options, CliOutput &output, QCoreApplication &app)
{
    ClientKind client(options, output);
    QObject::connect(&client, &ClientRun::Finished, &app, [&app](int code) { app.exit(code); });
    client.Start();
    const int code = app.exec();
    client.Stop();
    output.Flush();
    return code;
}

int Run(const CliOptions &options, QCoreApplication &app)
{
    SignalWatch signalWatch;  // before the accept worker's thread, which inherits the mask
    CliOutput output(options.json, options.quiet);
    if (!StartNetwork()) {
        std::fprintf(stderr, "velvane-cli: 网络不可用\n");
        return kExitNetwork;
    }
    RaiseDescriptorLimit();
    // The log files' lines start with the date and time of the last tick, as on the pages.
    g_strDateTime = DateTimeText(QDateTime::currentDateTime());
    QTimer clock;
    QObject::connect(&clock, &QTimer::timeout, [] { g_strDateTime = DateTimeText(QDateTime::currentDateTime()); });
    clock.start(1000);
    // The window's system log is stderr here: a traffic log that stops being writable, a
    // group joined again when its link comes back.
    SystemLog::SetSink([](const QByteArray &line) {
        const QByteArrayView text = line.endsWith("\r\n") ? QByteArrayView(line).chopped(2) : QByteArrayView(line);
        std::fprintf(stderr, "velvane-cli: %s\n", FromGbk(text).trimmed().toUtf8().constData());
    });
    QObject::connect(&signalWatch, &SignalWatch::Received, &app, [&app] { app.exit(kExitDone); });
    QObject::connect(&output, &CliOutput::StdoutClosed, &app, [&app] { app.exit(kExitDone); });

    switch (options.command) {
    case CliCommand::TcpServer:
        return ExecuteServer<TcpServerRun>(options, output, app);
    case CliCommand::UdpServer:
        return ExecuteServer<UdpServerRun>(options, output, app);
    case CliCommand::TcpClient:
        return ExecuteClient<TcpClientRun>(options, output, app);
    case CliCommand::UdpClient:
        return ExecuteClient<UdpClientRun>(options, output, app);
    }
    return kExitUsage;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    const auto parsed = CliArguments::Parse(args);
    if (const auto *help = std::get_if<CliHelp>(&parsed)) {
        std::fputs(help->text.toUtf8().constData(), stdout);
        return kExitDone;
    }
    if (const auto *error = std::get_if<CliUsageError>(&parsed)) {
        std::fprintf(stderr, "velvane-cli: %s\n", error->message.toUtf8().constData());
        return kExitUsage;
    }
    return Run(std::get<CliOptions>(parsed), app);
}
