#include "Inspect.h"

// Not built yet.
int CmdDates(const TArgs&) { return PrintError("not available yet"); }
int CmdUrl(const TArgs&) { return PrintError("not available yet"); }
