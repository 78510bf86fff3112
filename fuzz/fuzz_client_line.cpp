// The id of a TCP server client list line: IdOfClientLine (and ClientListLine, which makes them).
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <string>

#include "fuzz_check.h"
#include "traffic/client_list_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool()) {
        // Any bytes at all: no crash; without a hyphen there is no id.
        const std::string bytes = input.ConsumeRemainingBytesAsString();
        const QByteArray line(bytes.data(), qsizetype(bytes.size()));
        const int id = IdOfClientLine(line);
        if (!line.contains('-'))
            FUZZ_CHECK(id == -1);
        return 0;
    }

    // "a.b.c.d:port-id" from random parts gives its id back, however many digits it has.
    QByteArray peer;
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            peer += '.';
        peer += QByteArray::number(input.ConsumeIntegral<quint8>());
    }
    peer += ':' + QByteArray::number(input.ConsumeIntegral<quint16>());
    const int id = input.ConsumeIntegralInRange<int>(0, INT_MAX);
    const QByteArray line = ClientListLine(peer, id);
    FUZZ_CHECK(line == peer + '-' + QByteArray::number(id));
    FUZZ_CHECK(IdOfClientLine(line) == id);
    return 0;
}
