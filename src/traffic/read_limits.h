#pragma once

#include "traffic/receive_slice.h"

// What one read takes and one hex send carries on a page, as its 大数据 option says: without
// it 256-byte TCP blocks, 128-byte datagrams and 127 hex bytes; with it a whole read of up to
// 64 KiB, any datagram the socket carries and as much hex as one IPv4 datagram holds.
struct ReadLimits
{
    int streamRead;
    int datagramBuffer;
    int hexBytes;

    static ReadLimits Of(bool largeData);
    // The largest of each, for buffers that serve either.
    static ReadLimits Largest();

    // Tests make the large datagram buffer smaller, to see a datagram that does not fit fail.
    static void SetLargeDatagramBufferForTests(int bytes);
};
