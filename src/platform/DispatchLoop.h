#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include "platform/Thread.h"

// The user-interface loop of a program without a window (a command-line tool, a test): installed
// as the thread dispatcher for its lifetime, it runs the queued Synchronize calls and end
// notifications on the thread that calls RunUntil.
class TDispatchLoop : public IThreadDispatcher {
public:
    TDispatchLoop();
    // Uninstalls itself; calls still queued stay queued.
    ~TDispatchLoop() override;
    TDispatchLoop(const TDispatchLoop&) = delete;
    TDispatchLoop& operator=(const TDispatchLoop&) = delete;

    void Wake() override;
    // Runs queued calls until done() holds (checked after every pass) or timeoutMs have passed
    // (negative: no bound); returns done().
    bool RunUntil(const std::function<bool()>& done, int timeoutMs = -1);

private:
    std::mutex FLock;
    std::condition_variable FWoken;
    bool FPending = false;
};
