#include "cli/cli_options.h"

#include <QHostAddress>

#include <array>
#include <optional>

#include "platform/multicast.h"

namespace {

using Result = std::variant<CliOptions, CliHelp, CliUsageError>;

struct CommandName
{
    const char *name;
    CliCommand command;
};

constexpr std::array<CommandName, 4> kCommands{{{"tcp-server", CliCommand::TcpServer},
                                                {"udp-server", CliCommand::UdpServer},
                                                {"tcp-client", CliCommand::TcpClient},
                                                {"udp-client", CliCommand::UdpClient}}};

const char *NameOf(CliCommand command)
{
    for (const CommandName &entry : kCommands)
        if (entry.command == command)
            return entry.name;
    return "";
}

// Which subcommands take an option.
enum Scope : unsigned { kServers = 1, kClients = 2, kAll = kServers | kClients };

struct OptionSpec
{
    const char *name;
    bool takesValue;
    unsigned scope;
    const char *help;
};

constexpr std::array<OptionSpec, 26> kOptions{{
    {"--echo", false, kServers, "把收到的数据原样发回 (透明回复)"},
    {"--reply", true, kServers, "TEXT  对每个收到的数据块回复 TEXT (数据回复)"},
    {"--reply-hex", true, kServers, "HEX  回复十六进制字节"},
    {"--send", true, kAll, "TEXT  发送 TEXT"},
    {"--send-hex", true, kAll, "HEX  发送十六进制字节"},
    {"--send-file", true, kClients, "FILE  发送文件的内容"},
    {"--interval", true, kAll, "MS  每 MS 毫秒发送一次 (服务器: 发给所有客户端)"},
    {"--count", true, kAll, "N  一共发送 N 次"},
    {"--wait", true, kAll, "MS  最后一次发送后 (服务器: 开始监听后) 等待 MS 毫秒再结束"},
    {"--hex", false, kAll, "十六进制显示"},
    {"--encoding", true, kAll, "NAME  gbk | utf-8 | big5 | latin1 (默认 gbk)"},
    {"--log", true, kAll, "FILE  收发数据记录, 页面的记录格式"},
    {"--pcap", true, kAll, "FILE  捕获为 pcap 文件"},
    {"--timestamps", false, kAll, "每行前加上读取的时间"},
    {"--json", false, kAll, "每个事件一行 JSON"},
    {"--quiet", false, kAll, "标准输出不写任何内容"},
    {"--escapes", false, kAll, "发送文本中的 \\r \\n \\t \\\\ \\0 \\xHH 转义"},
    {"--eol", true, kAll, "cr | lf | crlf  每次发送后加上行尾"},
    {"--checksum", true, kAll,
     "NAME  sum8 | xor8 | lrc | crc8-smbus | crc16-modbus | crc16-ibm3740 | "
     "crc16-xmodem | crc32"},
    {"--parts", false, kAll, "页面的规则: 去掉空格并加零字节, 256 字节读取, 128 字节数据报"},
    {"--expect", true, kAll, "TEXT  收到的数据流包含 TEXT 即成功结束"},
    {"--expect-hex", true, kAll, "HEX  收到的数据流包含这些字节即成功结束"},
    {"--join", true, kServers, "GROUP  加入组播组, 可重复 (仅 udp-server)"},
    {"--help", false, kAll, "显示此帮助"},
    {"-", false, kClients, "从标准输入读取要发送的数据"},
    {"--checksum-order", true, kAll, "usual | low-first | high-first  校验的字节顺序"},
}};

const OptionSpec *FindOption(const QString &name)
{
    for (const OptionSpec &spec : kOptions)
        if (name == QLatin1String(spec.name))
            return &spec;
    return nullptr;
}

// One line whatever the user typed: a quoted argument may hold line breaks, the Unicode line
// separators or characters that steer the terminal (C0, DEL, C1).
CliUsageError Error(QString message)
{
    for (QChar &c : message) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u < 0xA0) || u == 0x2028 || u == 0x2029)
            c = u'?';
    }
    return CliUsageError{message};
}

std::optional<int> Number(const QString &text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<TextEncoding> EncodingOf(const QString &name)
{
    const QString key = name.toLower();
    if (key == QLatin1String("gbk"))
        return TextEncoding::Gbk;
    if (key == QLatin1String("utf-8") || key == QLatin1String("utf8"))
        return TextEncoding::Utf8;
    if (key == QLatin1String("big5"))
        return TextEncoding::Big5;
    if (key == QLatin1String("latin1") || key == QLatin1String("iso-8859-1"))
        return TextEncoding::Latin1;
    return std::nullopt;
}

std::optional<LineEnding> EndingOf(const QString &name)
{
    const QString key = name.toLower();
    if (key == QLatin1String("none"))
        return LineEnding::None;
    if (key == QLatin1String("cr"))
        return LineEnding::Cr;
    if (key == QLatin1String("lf"))
        return LineEnding::Lf;
    if (key == QLatin1String("crlf"))
        return LineEnding::CrLf;
    return std::nullopt;
}

std::optional<Checksum> ChecksumOf(const QString &name)
{
    static const std::array<std::pair<const char *, Checksum>, 9> kNames{{{"none", Checksum::None},
                                                                          {"sum8", Checksum::Sum8},
                                                                          {"xor8", Checksum::Xor8},
                                                                          {"lrc", Checksum::Lrc},
                                                                          {"crc8-smbus", Checksum::Crc8Smbus},
                                                                          {"crc16-modbus", Checksum::Crc16Modbus},
                                                                          {"crc16-ibm3740", Checksum::Crc16Ibm3740},
                                                                          {"crc16-xmodem", Checksum::Crc16Xmodem},
                                                                          {"crc32", Checksum::Crc32IsoHdlc}}};
    const QString key = name.toLower();
    for (const auto &[text, checksum] : kNames)
        if (key == QLatin1String(text))
            return checksum;
    return std::nullopt;
}

std::optional<ChecksumOrder> OrderOf(const QString &name)
{
    const QString key = name.toLower();
    if (key == QLatin1String("usual"))
        return ChecksumOrder::Usual;
    if (key == QLatin1String("low-first"))
        return ChecksumOrder::LowFirst;
    if (key == QLatin1String("high-first"))
        return ChecksumOrder::HighFirst;
    return std::nullopt;
}

// "PORT" or "ADDR:PORT" or "[IPV6]:PORT" for a server; "HOST:PORT" for a client. Ports are
// strict decimal numbers here: a typing slip must not bind or reach another port.
std::optional<QString> ReadEndpoint(const QString &text, bool server, CliOptions &options)
{
    QString host;
    QString portText = text;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1String("]:"));
        if (close < 0)
            return QStringLiteral("IPv6 地址要写成 [地址]:端口: ") + text;
        host = text.mid(1, close - 1);
        portText = text.mid(close + 2);
    } else if (const qsizetype colon = text.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        host = text.left(colon);
        portText = text.mid(colon + 1);
        if (host.contains(QLatin1Char(':')))
            return QStringLiteral("IPv6 地址要写成 [地址]:端口: ") + text;
    } else if (!server) {
        return QStringLiteral("要写成 主机:端口: ") + text;
    }
    const std::optional<int> port = Number(portText, server ? 0 : 1, 65535);
    if (!port)
        return QStringLiteral("端口无效: ") + portText;

    if (text.startsWith(QLatin1Char('['))) {
        const std::optional<SocketAddress> address = ParseIpv6Literal(host, quint16(*port));
        if (!address)
            return QStringLiteral("IPv6 地址无效: ") + host;
        options.endpoint = *address;
        options.host = host;
        return std::nullopt;
    }
    if (host.isEmpty()) {
        if (!server)
            return QStringLiteral("缺少主机: ") + text;
        host = QStringLiteral("0.0.0.0");
    }
    options.host = host;
    QHostAddress literal;
    if (literal.setAddress(host) && literal.protocol() == QAbstractSocket::IPv4Protocol) {
        options.endpoint = Ipv4Endpoint(host, *port);
        return std::nullopt;
    }
    if (server)
        return QStringLiteral("服务器地址要写成 IPv4 或 [IPv6]: ") + host;
    options.hostIsName = true;  // resolved when the client starts
    // Only the port counts until then: an address without a family would drop it.
    options.endpoint = Ipv4Endpoint(QStringLiteral("0.0.0.0"), *port);
    return std::nullopt;
}

// A send or reply text as its payload; the failure's message otherwise.
std::optional<QString> MakePayload(const QString &text, bool hex, const CliOptions &options, Payload &payload)
{
    const int maxHex = options.parts ? PayloadCodec::kMaxHexBytes : PayloadCodec::kLargeHexBytes;
    const PayloadCodec::HexFailure failure = SendRules::MakeFramedPayload(text, hex, options.encoding,
                                                                          options.sendOptions, payload, maxHex);
    if (failure == PayloadCodec::HexFailure::None)
        return std::nullopt;
    if (failure == PayloadCodec::HexFailure::BadEscape)
        return QStringLiteral("无效的转义: ") + text.mid(payload.failureAt, 2);
    return PayloadCodec::FailureMessage(failure);
}

std::optional<QString> MakeExpect(const QString &text, bool hex, const CliOptions &options, QByteArray &bytes)
{
    if (hex) {
        QByteArray digits = text.toLatin1();
        PayloadCodec::PrepareSendText(digits);
        if (PayloadCodec::EncodeHex(digits, bytes, PayloadCodec::kLargeHexBytes) != PayloadCodec::HexFailure::None
            || bytes.isEmpty())
            return QStringLiteral("--expect-hex 的十六进制无效: ") + text;
        return std::nullopt;
    }
    qsizetype errorAt = -1;
    if (!SendFrame::ExpandEscapes(text, options.encoding, options.sendOptions.escapes, bytes, errorAt))
        return QStringLiteral("无效的转义: ") + text.mid(errorAt, 2);
    if (bytes.isEmpty())
        return QStringLiteral("--expect 需要非空文本");
    return std::nullopt;
}

// The groups of --join as the UDP server page's multicast window refuses them: only on a socket
// bound to all interfaces or to a group, each a group address of a family the socket takes.
std::optional<QString> CheckGroups(CliOptions &options)
{
    if (options.joinGroups.isEmpty())
        return std::nullopt;
    const QString bound = AddressText(options.endpoint);
    if (bound != QLatin1String("0.0.0.0") && bound != QLatin1String("::") && !ParseGroupAddress(bound))
        return QStringLiteral("--join: 请先在0.0.0.0、::或组播地址上侦听!");
    for (QString &group : options.joinGroups) {
        const std::optional<SocketAddress> address = ParseGroupAddress(group);
        if (!address)
            return QStringLiteral("--join %1: 请输入有效的组播地址(224.0.0.0~239.255.255.255或ff00::/8)!").arg(group);
        // An IPv6 socket takes IPv4 groups only on ::, where it takes IPv4 datagrams too.
        if (address->IsIpv6() != options.endpoint.IsIpv6()
            && (!options.endpoint.IsIpv6() || bound != QLatin1String("::")))
            return QStringLiteral("--join %1: ").arg(group)
                   + (address->IsIpv6() ? QStringLiteral("IPv4侦听地址不能加入IPv6组播组!")
                                        : QStringLiteral("IPv6侦听地址不能加入IPv4组播组!"));
        group = AddressText(*address);
    }
    return std::nullopt;
}

}  // namespace

namespace CliArguments {

QString GlobalUsage()
{
    return QStringLiteral("用法: velvane-cli <子命令> [选项]\n"
                          "  tcp-server [ADDR:]PORT   TCP 服务器\n"
                          "  udp-server [ADDR:]PORT   UDP 服务器\n"
                          "  tcp-client HOST:PORT     TCP 客户端\n"
                          "  udp-client HOST:PORT     UDP 客户端\n"
                          "IPv6 地址写成 [地址]:端口. 各子命令的选项: velvane-cli <子命令> --help\n"
                          "退出码: 0 完成, 1 用法错误, 2 网络失败, 3 --expect 在 --wait 内未满足\n");
}

QString CommandUsage(CliCommand command)
{
    const bool server = command == CliCommand::TcpServer || command == CliCommand::UdpServer;
    QString text = QStringLiteral("用法: velvane-cli %1 %2 [选项]\n")
                       .arg(QLatin1String(NameOf(command)),
                            server ? QStringLiteral("[ADDR:]PORT") : QStringLiteral("HOST:PORT"));
    for (const OptionSpec &spec : kOptions) {
        if ((spec.scope & (server ? kServers : kClients)) == 0)
            continue;
        if (QLatin1String(spec.name) == QLatin1String("--join") && command != CliCommand::UdpServer)
            continue;
        text += QStringLiteral("  %1 %2\n").arg(QLatin1String(spec.name), -16).arg(QString::fromUtf8(spec.help));
    }
    if (server)
        text += QStringLiteral(
            "--send: TCP 服务器在每个客户端连接时发送; UDP 服务器在每个客户端的第一个数据报到达时发送.\n");
    else
        text += QStringLiteral("HOST 可以是主机名: 依次尝试它的每个地址 (UDP 用第一个).\n"
                               "标准输入: TCP 按读到的原样发送; UDP 每行一个数据报 (保留换行).\n"
                               "文件: UDP 每个数据报 1024 字节.\n"
                               "没有 --wait 时: 服务器断开即结束; 标准输入或文件发完后 TCP 半关闭, "
                               "等服务器断开; UDP 立即结束.\n");
    return text;
}

std::variant<CliOptions, CliHelp, CliUsageError> Parse(const QStringList &args)
{
    if (args.isEmpty())
        return Error(QStringLiteral("缺少子命令 (tcp-server, udp-server, tcp-client, udp-client); 见 --help"));
    if (args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h"))
        return CliHelp{GlobalUsage()};

    CliOptions options;
    bool known = false;
    for (const CommandName &entry : kCommands) {
        if (args.first() == QLatin1String(entry.name)) {
            options.command = entry.command;
            known = true;
        }
    }
    if (!known)
        return Error(QStringLiteral("未知的子命令: ") + args.first());
    const unsigned scope = options.IsServer() ? kServers : kClients;

    // Options first, then the payloads: they depend on --encoding, --parts, --escapes… wherever
    // those stand.
    QString endpointText;
    bool haveEndpoint = false;
    QString sendText, replyText, expectText;
    bool sendHex = false, replyHex = false, expectHex = false;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            return CliHelp{CommandUsage(options.command)};
        if (!arg.startsWith(QLatin1Char('-')) || (arg.size() > 1 && arg.at(1).isDigit())) {
            if (haveEndpoint)
                return Error(QStringLiteral("多余的参数: ") + arg);
            endpointText = arg;
            haveEndpoint = true;
            continue;
        }
        const OptionSpec *spec = FindOption(arg);
        if (!spec)
            return Error(QStringLiteral("未知的选项: ") + arg);
        if ((spec->scope & scope) == 0 || (arg == QLatin1String("--join") && options.command != CliCommand::UdpServer))
            return Error(QStringLiteral("%1 不能用于 %2").arg(arg, QLatin1String(NameOf(options.command))));
        QString value;
        if (spec->takesValue) {
            if (i + 1 >= args.size())
                return Error(arg + QStringLiteral(" 缺少值"));
            value = args.at(++i);
        }
        const auto setSend = [&](SendSource source) -> std::optional<CliUsageError> {
            if (options.sendSource != SendSource::None)
                return Error(QStringLiteral("--send, --send-hex, --send-file 和 - 只能用一个"));
            options.sendSource = source;
            return std::nullopt;
        };
        std::optional<CliUsageError> failure;
        if (arg == QLatin1String("--echo")) {
            options.echo = true;
        } else if (arg == QLatin1String("--reply") || arg == QLatin1String("--reply-hex")) {
            if (options.hasReply)
                return Error(QStringLiteral("--reply 和 --reply-hex 只能用一个"));
            options.hasReply = true;
            replyText = value;
            replyHex = arg == QLatin1String("--reply-hex");
        } else if (arg == QLatin1String("--send") || arg == QLatin1String("--send-hex")) {
            failure = setSend(SendSource::Text);
            sendText = value;
            sendHex = arg == QLatin1String("--send-hex");
        } else if (arg == QLatin1String("--send-file")) {
            failure = setSend(SendSource::File);
            options.sendFile = value;
        } else if (arg == QLatin1String("-")) {
            failure = setSend(SendSource::Stdin);
        } else if (arg == QLatin1String("--interval")) {
            const std::optional<int> ms = Number(value, 1, 24 * 3600 * 1000);
            if (!ms)
                return Error(QStringLiteral("--interval 要 1 到 86400000 的毫秒数: ") + value);
            options.intervalMs = *ms;
        } else if (arg == QLatin1String("--count")) {
            const std::optional<int> count = Number(value, 1, 2147483647);
            if (!count)
                return Error(QStringLiteral("--count 要正整数: ") + value);
            options.count = *count;
        } else if (arg == QLatin1String("--wait")) {
            const std::optional<int> ms = Number(value, 0, 2147483647);
            if (!ms)
                return Error(QStringLiteral("--wait 要毫秒数: ") + value);
            options.waitMs = *ms;
        } else if (arg == QLatin1String("--hex")) {
            options.hexDisplay = true;
        } else if (arg == QLatin1String("--encoding")) {
            const std::optional<TextEncoding> encoding = EncodingOf(value);
            if (!encoding)
                return Error(QStringLiteral("未知的编码: ") + value + QStringLiteral(" (gbk, utf-8, big5, latin1)"));
            options.encoding = *encoding;
        } else if (arg == QLatin1String("--log")) {
            options.logFile = value;
        } else if (arg == QLatin1String("--pcap")) {
            options.pcapFile = value;
        } else if (arg == QLatin1String("--timestamps")) {
            options.timestamps = true;
        } else if (arg == QLatin1String("--json")) {
            options.json = true;
        } else if (arg == QLatin1String("--quiet")) {
            options.quiet = true;
        } else if (arg == QLatin1String("--escapes")) {
            options.sendOptions.escapes = true;
        } else if (arg == QLatin1String("--eol")) {
            const std::optional<LineEnding> ending = EndingOf(value);
            if (!ending)
                return Error(QStringLiteral("--eol 要 cr, lf 或 crlf: ") + value);
            options.sendOptions.ending = *ending;
        } else if (arg == QLatin1String("--checksum")) {
            const std::optional<Checksum> checksum = ChecksumOf(value);
            if (!checksum)
                return Error(QStringLiteral("未知的校验: ") + value);
            options.sendOptions.checksum = *checksum;
        } else if (arg == QLatin1String("--checksum-order")) {
            const std::optional<ChecksumOrder> order = OrderOf(value);
            if (!order)
                return Error(QStringLiteral("--checksum-order 要 usual, low-first 或 high-first: ") + value);
            options.sendOptions.order = *order;
        } else if (arg == QLatin1String("--parts")) {
            options.parts = true;
        } else if (arg == QLatin1String("--expect") || arg == QLatin1String("--expect-hex")) {
            if (options.hasExpect)
                return Error(QStringLiteral("--expect 和 --expect-hex 只能用一个"));
            options.hasExpect = true;
            expectText = value;
            expectHex = arg == QLatin1String("--expect-hex");
        } else if (arg == QLatin1String("--join")) {
            options.joinGroups.append(value);
        }
        if (failure)
            return *failure;
    }

    if (!haveEndpoint)
        return Error(options.IsServer() ? QStringLiteral("缺少端口: [ADDR:]PORT") : QStringLiteral("缺少 HOST:PORT"));
    if (const std::optional<QString> message = ReadEndpoint(endpointText, options.IsServer(), options))
        return Error(*message);
    if (options.echo && options.hasReply)
        return Error(QStringLiteral("--echo 和 --reply 只能用一个"));
    if (options.json && options.quiet)
        return Error(QStringLiteral("--json 和 --quiet 只能用一个"));
    // 原样发送 unless --parts; escapes belong to the as-typed text.
    options.sendOptions.asTyped = !options.parts;
    if (options.parts && options.sendOptions.escapes)
        return Error(QStringLiteral("--escapes 不能和 --parts 一起用"));
    if (options.intervalMs > 0 && options.sendSource == SendSource::None)
        return Error(QStringLiteral("--interval 需要 --send 或 --send-hex"));
    if (options.intervalMs > 0 && options.sendSource != SendSource::Text)
        return Error(QStringLiteral("--interval 只能和 --send 或 --send-hex 一起用"));
    if (options.count > 0 && options.sendSource != SendSource::Text)
        return Error(QStringLiteral("--count 需要 --send 或 --send-hex"));
    if (options.count > 1 && options.intervalMs == 0)
        return Error(QStringLiteral("--count 大于 1 需要 --interval"));

    if (options.sendSource == SendSource::Text)
        if (const std::optional<QString> message = MakePayload(sendText, sendHex, options, options.send))
            return Error(QStringLiteral("--send: ") + *message);
    if (options.hasReply) {
        if (replyText.isEmpty())
            return Error(QStringLiteral("--reply 需要非空文本"));
        if (const std::optional<QString> message = MakePayload(replyText, replyHex, options, options.reply))
            return Error(QStringLiteral("--reply: ") + *message);
    }
    if (const std::optional<QString> message = CheckGroups(options))
        return Error(*message);
    if (options.hasExpect)
        if (const std::optional<QString> message = MakeExpect(expectText, expectHex, options, options.expect))
            return Error(*message);
    if (options.sendSource == SendSource::Text && options.send.bytes.isEmpty())
        return Error(QStringLiteral("--send 需要非空文本"));
    return options;
}

}  // namespace CliArguments
