#include "app/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace {

// Options that QGuiApplication and QApplication take from the command line themselves.
constexpr std::initializer_list<const char *> kQtOptionsWithValue = {
    "platform",    "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "display", "geometry",
    "style",       "stylesheet",         "fontengine",
};
constexpr std::initializer_list<const char *> kQtFlags = {"reverse", "widgetcount", "nograb", "dograb"};

void AddHiddenQtOptions(QCommandLineParser &parser)
{
    for (const char *name : kQtOptionsWithValue) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : kQtFlags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

void Print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

}  // namespace

std::optional<int> HandleCommandLine(int &argc, char **argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("Velvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELVANE_VERSION));

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Try out TCP and UDP peers by hand: a TCP server, a UDP server and a TCP/UDP client in one window."));
    // Qt's window options are single-dash words; -h and -v still work as before.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help and exits."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    AddHiddenQtOptions(parser);

    const bool parsed = parser.parse(arguments);
    const bool startWindow = parsed && !parser.isSet(help) && !parser.isSet(version)
                             && parser.positionalArguments().isEmpty();
    if (startWindow)
        return std::nullopt;

    // An application object without windows, so that the usage line names the program.
    QCoreApplication console(argc, argv);
    if (!parsed || !parser.positionalArguments().isEmpty()) {
        const QString problem = parsed ? QStringLiteral("Unexpected argument '%1'.")
                                             .arg(parser.positionalArguments().constFirst())
                                       : parser.errorText();
        const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        Print(stderr, problem + QStringLiteral("\nTry '%1 --help' for more information.\n").arg(program));
        return EXIT_FAILURE;
    }
    if (parser.isSet(version))
        Print(stdout, QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion() + u'\n');
    else
        Print(stdout, parser.helpText());
    return 0;
}
