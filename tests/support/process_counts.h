#pragma once

// What this process holds, for the checks that nothing leaks: descriptors, sockets, memory.

// Descriptors open in this process.
int OpenDescriptors();
// The same with Qt's raster painting threads all running (see the .cpp): two such counts
// differ by the program's own descriptors alone.
int OpenDescriptorsSettled();
// Sockets this process holds, the page's and the caller's own alike.
int OpenSockets();
// Resident set size of this process in bytes.
long ResidentBytes();
