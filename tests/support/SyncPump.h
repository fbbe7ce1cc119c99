#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include "platform/Thread.h"

// Plays the user-interface loop in tests: installed as the thread dispatcher for its scope, it
// runs the queued Synchronize calls and end notifications on the test's own thread.
class TSyncPump : public IThreadDispatcher {
public:
    TSyncPump();
    // Uninstalls itself; calls still queued stay queued.
    ~TSyncPump() override;
    TSyncPump(const TSyncPump&) = delete;
    TSyncPump& operator=(const TSyncPump&) = delete;

    void Wake() override;
    // Runs queued calls until done() holds (checked after every pass) or timeoutMs have passed;
    // returns done().
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000);

private:
    std::mutex FLock;
    std::condition_variable FWoken;
    bool FPending = false;
};
