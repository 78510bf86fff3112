// The display line of a received block: PayloadCodec::FormatReceived and DataText, for blocks
// of up to 65,536 bytes (a 大数据 read): the input's own, or a short one repeated to a length
// the input picks.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "fuzz_check.h"
#include "text/payload_codec.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const bool hexDisplay = input.ConsumeBool();
    const std::string peerBytes = input.ConsumeRandomLengthString(64);
    const bool repeated = input.ConsumeBool();
    const auto length = input.ConsumeIntegralInRange<size_t>(0, 65536);
    std::string blockBytes = input.ConsumeRemainingBytesAsString();
    if (repeated && !blockBytes.empty()) {
        const std::string pattern = blockBytes.substr(0, 16);
        blockBytes.clear();
        while (blockBytes.size() < length)
            blockBytes += pattern;
        blockBytes.resize(length);
    }
    const QByteArrayView peer(peerBytes.data(), qsizetype(peerBytes.size()));
    const QByteArrayView block(blockBytes.data(), qsizetype(blockBytes.size()));

    const QByteArray line = PayloadCodec::FormatReceived(block, hexDisplay, peer);
    const QByteArray text = PayloadCodec::DataText(block, hexDisplay);

    // peer, a space, the payload, CR LF.
    FUZZ_CHECK(line.size() >= peer.size() + 3);
    FUZZ_CHECK(line.startsWith(peer));
    FUZZ_CHECK(line.at(peer.size()) == ' ');
    FUZZ_CHECK(line.endsWith("\r\n"));
    const QByteArray payload = line.sliced(peer.size() + 1, line.size() - peer.size() - 3);
    FUZZ_CHECK(payload == text);

    if (hexDisplay) {
        // "%02X " per received byte, in order.
        FUZZ_CHECK(payload.size() == 3 * block.size());
        for (qsizetype i = 0; i < block.size(); ++i) {
            const auto value = static_cast<unsigned char>(block[i]);
            FUZZ_CHECK(payload[3 * i] == kHexDigits[value >> 4]);
            FUZZ_CHECK(payload[3 * i + 1] == kHexDigits[value & 0x0F]);
            FUZZ_CHECK(payload[3 * i + 2] == ' ');
        }
    } else {
        // The received bytes up to the first NUL, never more than came.
        const std::size_t nul = blockBytes.find('\0');
        const std::string expected = blockBytes.substr(0, nul);
        FUZZ_CHECK(payload.size() <= block.size());
        FUZZ_CHECK(!payload.contains('\0'));
        FUZZ_CHECK(payload == QByteArrayView(expected.data(), qsizetype(expected.size())));
    }
    return 0;
}
