#pragma once

#include "platform/Thread.h"

// Hands the worker threads' calls to the Qt event loop: installed as the thread dispatcher for its
// lifetime, each wake posts one run of the queue (CheckSynchronize) to the application object.
// What escapes a call there is shown in a message box, and the program goes on. Made after the
// application object and before any window; released after the last worker has been given up.
class TQtDispatcher : public IThreadDispatcher {
public:
    TQtDispatcher();
    // Uninstalls itself; a run already posted still runs the queue.
    ~TQtDispatcher() override;
    TQtDispatcher(const TQtDispatcher&) = delete;
    TQtDispatcher& operator=(const TQtDispatcher&) = delete;

    void Wake() override;
};
