#include "Inspect.h"

// Not built yet.
int CmdTree(const TArgs&) { return PrintError("not available yet"); }
