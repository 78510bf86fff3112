// Must not build: the widgets cannot see the pages above them.
#include "pages/dialog_page.h"
