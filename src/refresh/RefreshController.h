#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "catalogue/FeedListCls.h"
#include "refresh/FeedsRefresh.h"

// What the main window needs to run refreshes: at most one TFeedsRefresher at a time, its status
// texts, its end handling exactly once per refresh, and a bounded stop after which the catalogue
// is the window's alone again.
//
// For the window (user-interface thread only):
// - Mark the feeds (ClearRefreshMarks, RefreshMark), then Start.
// - Call Stop before deleting or moving entries and before saving or releasing the catalogue:
//   once Stop returns, no worker touches an entry or a cache file any more, even one still
//   winding down after the 1000 ms wait. Append or edit entries under HoldEntries, or after Stop.
// - At the end of the program, after Stop, WaitForWorkers (the destructor does both), so that no
//   worker outlives the objects it uses.
class TRefreshController {
public:
    explicit TRefreshController(TFeedList& feeds);
    // Stops a running refresh without calling OnStatus or OnFinished any more, then waits for
    // every worker to end.
    ~TRefreshController();
    TRefreshController(const TRefreshController&) = delete;
    TRefreshController& operator=(const TRefreshController&) = delete;

    // The status panel: each progress text of the running refresh ("" clears the panel).
    std::function<void(const std::string& text)> OnStatus;
    // The end handling, run once per Start on the user-interface thread: when the walk has
    // ended, or by Stop at the end of its wait.
    std::function<void()> OnFinished;

    // Stops a running refresh first (with its end handling), then starts one over the entries
    // marked now.
    void Start();
    // Does nothing and returns false when no refresh runs. Otherwise requests the stop, aborts
    // the exchange in progress, waits up to waitMs for the worker and runs OnFinished at once; a
    // worker still busy after the wait is given up and reaches neither the window, the entries
    // nor the cache files again.
    bool Stop(int waitMs = 1000);
    // Whether a refresh runs whose end handling has not run yet.
    bool IsRunning() const { return FRefresher != nullptr; }
    // Keeps the running worker off the entries while the window appends or edits one without
    // stopping the refresh; an empty lock when none runs. Release it before Stop or Start, and
    // before pumping the event loop.
    std::unique_lock<std::mutex> HoldEntries();
    // Waits until every given-up worker has ended, at most waitMs (negative: no bound); true
    // when none is left.
    bool WaitForWorkers(int waitMs = -1);

private:
    void RefreshFinished(TThread* sender);
    // Releases the given-up workers that have ended.
    void Reap();

    TFeedList& FFeeds;
    // The running refresh; it releases itself after its end notification.
    TFeedsRefresher* FRefresher = nullptr;
    std::vector<std::unique_ptr<TFeedsRefresher>> FGivenUp;
};
