#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/FeedListCls.h"
#include "platform/WorkerKeeper.h"
#include "refresh/FeedsRefresh.h"

// What the main window needs to run refreshes: at most one TFeedsRefresher at a time, its status
// texts, its end handling exactly once per refresh, and a bounded stop.
//
// Everything here runs on the user-interface thread, which alone writes the catalogue entries
// and the cache files in place: the worker works on copies and hands each feed's outcome back,
// and the controller writes it into the entry (found again by its FeedID) and its cache state,
// renames the downloaded document into place and writes or deletes its ETag file, unless the entry has gone
// or changed its address meanwhile or the outcome is from a refresh that was stopped. The window may
// therefore add, edit, move and delete entries, and save the catalogue, at any time and without a lock.
class TRefreshController {
public:
    explicit TRefreshController(TFeedList& feeds);
    // Shutdown (with no further wait after one of the window's own); workers still busy then are
    // left to end on their own, and the program must end with _exit (see Shutdown).
    ~TRefreshController();
    TRefreshController(const TRefreshController&) = delete;
    TRefreshController& operator=(const TRefreshController&) = delete;

    // The status panel: each progress text of the running refresh ("" clears the panel).
    std::function<void(const std::string& text)> OnStatus;
    // The end handling, run once per Start: when the walk has ended, or by Stop at the end of
    // its wait. The marks it sees are those of its own refresh.
    std::function<void()> OnFinished;
    // A failure that ended the worker's walk (not a feed's own failure, which becomes its
    // ErrorText), with its message; run just before that refresh's OnFinished.
    std::function<void(const std::string& message)> OnError;
    // Each outcome of the running refresh, after it has been written into its entry (also one
    // the entry no longer takes): for diagnostics.
    std::function<void(const TFeedOutcome& outcome)> OnOutcome;
    // Run on each refresh's worker object after it is made and before it starts: for diagnostics
    // and tests that tune its clients' Settings.
    std::function<void(TFeedsRefresher& refresher)> OnPrepare;
    // How many feeds each refresh works on at once (1: one after another).
    int MaxParallel = kDefaultMaxParallel;

    // Stops a running refresh (with its end handling), clears every RefreshMark, lets mark set
    // the marks of the new refresh, and starts it over copies of the marked feeds; force makes it
    // download every marked feed whatever its dates and cache say.
    void Start(const std::function<void(TFeedList& feeds)>& mark, bool force = false);
    // As Start, over copies of the feeds (entries with a FeedURL) that take accepts, in catalogue
    // order; every RefreshMark stays as it is, so that the window's marks keep naming the feeds of
    // its page while this refresh runs.
    void StartFeeds(const std::function<bool(const TFeedListItem& item)>& take, bool force = false);
    // Does nothing and returns false when no refresh runs. Otherwise stops the refresh (no
    // outcome of it lands any more), aborts the exchange in progress, waits up to waitMs for the
    // worker and runs OnFinished at once; a worker still busy after the wait (a name lookup
    // cannot be interrupted) is given up and reaches nothing again.
    bool Stop(int waitMs = 1000);
    // Whether a refresh runs whose end handling has not run yet.
    bool IsRunning() const { return FRefresher != nullptr; }
    // Waits until every given-up worker has ended, at most waitMs (negative: no bound); true
    // when none is left.
    bool WaitForWorkers(int waitMs = -1);
    // For the end of the program: stops a running refresh without calling the window's handlers
    // any more, then waits up to waitMs for every worker to end; true when none is left. A
    // worker stuck in a name lookup may outlive any wait: when this returns false, end the
    // program with _exit once the catalogue and the settings are saved, so that it neither
    // waits for that worker nor releases what the worker still uses (a normal exit would
    // destroy the statics under it).
    bool Shutdown(int waitMs = 1000);

private:
    // Starts the refresh of the given copies (the window idle).
    void StartCopies(std::vector<TRefreshFeed> feeds, bool force);
    void RefreshFinished(TThread* sender);
    // Writes an outcome of the running refresh into its entry and moves its document into
    // place; drops it (deleting its temporary file) when the entry is gone or has another
    // address, or the refresh is no longer the running one.
    void ApplyOutcome(const TFeedsRefresher* sender, TFeedOutcome& outcome);
    // The entry with id, looked for first where it stood when the refresh started.
    TFeedListItem* FindEntry(const std::string& id, int index) const;

    TFeedList& FFeeds;
    // The running refresh; it releases itself after its end notification.
    TFeedsRefresher* FRefresher = nullptr;
    // The workers given up by a stop, until they have ended.
    TWorkerKeeper FWorkers;
    bool FShutDown = false;
};
