// Must not build: the pages cannot see the shell above them.
#include "shell/main_dlg.h"
