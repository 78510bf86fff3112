#pragma once

#include <optional>

// The options the program answers before any window exists: --version and --help print
// and end it, an option it does not know ends it with a message. Qt's own window options
// (-platform, -style, ...) pass on to the application object. Needs no display.
// Returns the exit status when the program is to end now, nothing when the window is to start.
std::optional<int> HandleCommandLine(int &argc, char **argv);
