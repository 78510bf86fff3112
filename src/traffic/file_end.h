#pragma once

// How a file send ended. ConnectionGone: the connection was forgotten or failed under it (for
// a datagram sender: the socket refused a datagram for good).
enum class FileEnd { Done, Cancelled, ReadFailed, ConnectionGone };
