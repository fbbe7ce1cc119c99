#include "Inspect.h"

// Not built yet.
int CmdFeedsRead(const TArgs&) { return PrintError("not available yet"); }
int CmdFeedsWrite(const TArgs&) { return PrintError("not available yet"); }
