// Must not build: the traffic layer cannot see the widgets above it.
#include "widgets/paced_action.h"
