// The address texts of both families: ParseIpv6Literal, EndpointOfPeerText, EndpointOfHostField,
// PeerText and AddressText, and the client list line of any peer text.
#include <fuzzer/FuzzedDataProvider.h>

#include <arpa/inet.h>

#include <climits>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "platform/socket_address.h"
#include "traffic/client_list_line.h"

namespace {

QString Utf8(const std::string &bytes)
{
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

// What the pages print of an address reads back as that address (an IPv4-mapped one as the
// plain IPv4 address it is shown as), and its client list line gives any id back.
void CheckPrintedReadsBack(const SocketAddress &address, int id)
{
    const SocketAddress plain = address.Unmapped();
    const QByteArray peer = PeerText(address);
    FUZZ_CHECK(EndpointOfPeerText(peer) == plain);
    FUZZ_CHECK(peer.startsWith('[') == plain.IsIpv6());
    if (plain.IsIpv6()) {
        const auto literal = ParseIpv6Literal(AddressText(address), plain.Port());
        FUZZ_CHECK(literal && *literal == plain);
        const auto field = EndpointOfHostField(AddressText(address), plain.Port());
        FUZZ_CHECK(field && *field == plain);
    }
    FUZZ_CHECK(IdOfClientLine(ClientListLine(peer, id)) == id);
}

void CheckAnyLiteral(const QString &text, quint16 port)
{
    const auto parsed = ParseIpv6Literal(text, port);
    if (!parsed)
        return;
    FUZZ_CHECK(parsed->IsIpv6() && parsed->Port() == port);
    // The system reads a name or an address only up to a NUL: text with one is no literal.
    FUZZ_CHECK(!text.contains(QChar(0)));
    CheckPrintedReadsBack(*parsed, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: {  // any text as a literal, bracketed or not, with any scope
        const auto port = input.ConsumeIntegral<quint16>();
        CheckAnyLiteral(Utf8(input.ConsumeRemainingBytesAsString()), port);
        break;
    }
    case 1: {  // any bytes as a peer text
        const std::string bytes = input.ConsumeRemainingBytesAsString();
        const SocketAddress endpoint = EndpointOfPeerText(QByteArray(bytes.data(), qsizetype(bytes.size())));
        if (!bytes.empty() && bytes[0] == '[') {
            FUZZ_CHECK(!endpoint.IsValid() || endpoint.IsIpv6());
        } else {
            FUZZ_CHECK(endpoint.Family() == AF_INET);  // the IPv4 rule takes any text
        }
        if (endpoint.IsValid())
            CheckPrintedReadsBack(endpoint, 0);
        break;
    }
    case 2: {  // any host field with any port
        const int port = input.ConsumeIntegral<int>();
        const QString host = Utf8(input.ConsumeRemainingBytesAsString());
        const auto endpoint = EndpointOfHostField(host, port);
        if (!host.contains(QLatin1Char(':'))) {
            FUZZ_CHECK(endpoint && endpoint->Family() == AF_INET);
        } else if (endpoint) {
            FUZZ_CHECK(endpoint->IsIpv6() && endpoint == ParseIpv6Literal(host, quint16(port)));
        }
        if (endpoint) {
            FUZZ_CHECK(endpoint->Port() == quint16(port));
            CheckPrintedReadsBack(*endpoint, 0);
        }
        break;
    }
    default: {  // any IPv6 socket address: 16 bytes, a port and a scope number
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(input.ConsumeIntegral<quint16>());
        v6.sin6_scope_id = input.ConsumeBool() ? 0 : input.ConsumeIntegral<uint32_t>();
        const int id = input.ConsumeIntegralInRange<int>(0, INT_MAX);
        const std::string bytes = input.ConsumeBytesAsString(sizeof v6.sin6_addr);
        std::memcpy(&v6.sin6_addr, bytes.data(), bytes.size());
        CheckPrintedReadsBack(SocketAddress::FromSockaddr(reinterpret_cast<const sockaddr *>(&v6), sizeof v6), id);
        break;
    }
    }
    return 0;
}
