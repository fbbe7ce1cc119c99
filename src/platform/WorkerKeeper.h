#pragma once

#include <memory>
#include <vector>

#include "platform/Thread.h"

// Stops and releases worker threads without ever waiting on them for long: a stopped worker gets
// a bounded wait, and one still busy after it (a name lookup cannot be interrupted) is given up
// and kept here until its body has ended, so that it is never released under itself. The refresh
// and the feed dialog's search both end their workers through one.
//
// User-interface thread only.
class TWorkerKeeper {
public:
    TWorkerKeeper() = default;
    // Releases the workers that have ended; those still busy are kept reachable until the
    // program ends, which must then end with _exit (see WaitForAll).
    ~TWorkerKeeper();
    TWorkerKeeper(const TWorkerKeeper&) = delete;
    TWorkerKeeper& operator=(const TWorkerKeeper&) = delete;

    // Takes a worker whose stop its owner has asked for (its termination request set, its
    // exchange aborted): gives it up, so that nothing of it reaches the user-interface thread
    // again (a body waiting in Synchronize goes on at once, and its end notification never
    // runs), waits up to waitMs for its body to end and releases it then. One still busy is
    // kept. True when it ended within the wait. Null: true.
    bool Release(std::unique_ptr<TThread> worker, int waitMs);
    // Releases the kept workers that have ended.
    void Reap();
    // Waits until every kept worker has ended, at most waitMs (negative: no bound), and releases
    // them; true when none is left. When this is false at the end of the program, end it with
    // _exit once everything is saved: a normal exit would destroy the statics under a worker
    // that still runs.
    bool WaitForAll(int waitMs);
    // How many workers are kept (after a Reap).
    size_t Count();

private:
    std::vector<std::unique_ptr<TThread>> FWorkers;
};
