#pragma once

#include <functional>

#include "platform/DispatchLoop.h"

// Plays the user-interface loop in tests: the program's own dispatch loop, installed for its
// scope, with a bound on every wait so that a test whose worker never ends fails instead of
// hanging.
class TSyncPump : public TDispatchLoop {
public:
    // Runs queued calls until done() holds or timeoutMs have passed; returns done().
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
        return RunUntil(done, timeoutMs);
    }
};
