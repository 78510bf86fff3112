#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <variant>

#include "platform/socket_address.h"
#include "text/send_frame.h"
#include "text/text_encoding.h"
#include "traffic/payload.h"

enum class CliCommand { TcpServer, UdpServer, TcpClient, UdpClient };

// Where a client's sends come from; at most one of them.
enum class SendSource { None, Text, File, Stdin };

// One run of velvane-cli, as its command line asks for it. Payloads are made here, under the
// send rules, so that a bad hex text or escape is a usage error before anything opens.
struct CliOptions
{
    CliCommand command = CliCommand::TcpServer;
    bool help = false;  // --help after the subcommand: its usage, nothing else

    // A server's bind address (0.0.0.0 unless given), a client's peer when the host is a
    // literal. A host name is kept in host and resolved when the client starts; endpoint then
    // holds only the port.
    SocketAddress endpoint;
    QString host;
    bool hostIsName = false;

    bool echo = false;
    bool hasReply = false;
    Payload reply;
    SendSource sendSource = SendSource::None;
    Payload send;  // SendSource::Text
    QString sendFile;
    int intervalMs = 0;  // 0: no timed sending
    qint64 count = -1;   // sends in all; -1: one without --interval, no end with it
    int waitMs = -1;     // -1: until the peer ends or a signal

    bool hexDisplay = false;
    TextEncoding encoding = TextEncoding::Gbk;
    QString logFile;
    QString pcapFile;
    bool timestamps = false;
    bool json = false;
    bool quiet = false;
    bool parts = false;  // the pages' rules: 256-byte reads, 128-byte datagrams, plain sends
    SendOptions sendOptions;
    bool hasExpect = false;
    QByteArray expect;
    QStringList joinGroups;  // --join, repeatable; each a group address as checked here

    bool IsServer() const { return command == CliCommand::TcpServer || command == CliCommand::UdpServer; }
    bool IsTcp() const { return command == CliCommand::TcpServer || command == CliCommand::TcpClient; }
};

// Nothing to run: the text for stdout (exit 0).
struct CliHelp
{
    QString text;
};

// Bad usage: one line for stderr (exit 1).
struct CliUsageError
{
    QString message;
};

namespace CliArguments {

// args without the program name.
std::variant<CliOptions, CliHelp, CliUsageError> Parse(const QStringList &args);

QString GlobalUsage();
QString CommandUsage(CliCommand command);

}  // namespace CliArguments
