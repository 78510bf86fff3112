#include "traffic/read_limits.h"

#include "text/payload_codec.h"

namespace {

int g_largeDatagramBuffer = kLargeDatagramSize;

}  // namespace

ReadLimits ReadLimits::Of(bool largeData)
{
    if (!largeData)
        return {kStreamReadSize, kDatagramSize, PayloadCodec::kMaxHexBytes};
    return {kLargeStreamReadSize, g_largeDatagramBuffer, PayloadCodec::kLargeHexBytes};
}

ReadLimits ReadLimits::Largest()
{
    return {kLargeStreamReadSize, kLargeDatagramSize, PayloadCodec::kLargeHexBytes};
}

void ReadLimits::SetLargeDatagramBufferForTests(int bytes)
{
    g_largeDatagramBuffer = bytes > 0 && bytes <= kLargeDatagramSize ? bytes : kLargeDatagramSize;
}
