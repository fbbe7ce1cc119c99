#include "Inspect.h"

// Not built yet.
int CmdFetch(const TArgs&) { return PrintError("not available yet"); }
