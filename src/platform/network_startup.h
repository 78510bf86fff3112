#pragma once

// Prepares the process for socket work: a send to a closed peer must never raise SIGPIPE,
// and an IPv4 socket must be creatable. False means networking is unusable.
bool StartNetwork();
