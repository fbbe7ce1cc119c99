#include "Inspect.h"

// Not built yet.
int CmdItems(const TArgs&) { return PrintError("not available yet"); }
