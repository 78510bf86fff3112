#pragma once

// Prepares the process for socket work: a send to a closed peer must never raise SIGPIPE,
// and an IPv4 socket must be creatable. False means networking is unusable.
bool StartNetwork();

// Raises the soft limit of open descriptors to the hard limit, so that many clients can be
// served; the TCP server stays a reserve below it. Returns the limit now in force.
long RaiseDescriptorLimit();
