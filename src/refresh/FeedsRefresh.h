#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "catalogue/FeedListCls.h"
#include "net/HTTPClient.h"
#include "platform/SysUtils.h"
#include "platform/Thread.h"
#include "refresh/FeedFetch.h"
#include "refresh/FeedSchedule.h"

// How many exchanges one refresh runs at once unless told otherwise.
constexpr int kDefaultMaxParallel = 16;

// The copies of the entries a refresh works on: each entry with RefreshMark and a FeedURL, in
// catalogue order, with what is known of its cached document (user-interface thread). An entry
// whose cache state is not known yet gets it here: whether its cache file exists and the tag of
// its ETag file; the hash stays unknown until a download of this run of the program.
std::vector<TRefreshFeed> MarkedFeeds(TFeedList& feeds);

// The worker that brings the cache files of the marked feeds up to date. It works on copies and
// never touches a catalogue entry or a cache file in place: each feed's outcome goes to the
// user-interface thread (OnOutcome), which writes the entry and renames the temporary file into
// place. Created suspended with FreeOnTerminate set; the creator installs OnTerminate, OnStatus
// and OnOutcome and calls Resume. Every failure of a feed becomes its outcome's ErrorText.
//
// Up to maxParallel feeds are worked on at once, each by a thread of its own with a client of its
// own (FetchFeed), in the order TFeedSchedule gives: catalogue order, at most kMaxPerHost of them
// on one host, a feed whose host is busy waiting while later feeds start. The thread of
// the object itself only hands the workers' status texts and outcomes, in the order they were
// posted, to the user-interface thread; the workers never wait for it. With one worker the walk is
// sequential: feed after feed in catalogue order.
class TFeedsRefresher : public TThread {
public:
    // Suspended, FreeOnTerminate set, Settings set up by PrepareFeedSettings (Timeout 5000 ms,
    // DefaultUserAgent(), "Accept-Encoding: gzip, deflate", which the client decodes); force makes
    // every feed download whatever its dates and cache say; maxParallel below 1 counts as 1.
    TFeedsRefresher(std::vector<TRefreshFeed> feeds, bool force, int maxParallel = kDefaultMaxParallel);
    // Releases the clients, closing connections still open; only once Execute has returned.
    ~TFeedsRefresher() override;

    // The settings of every worker's client, taken whole when the refresh starts. Each exchange
    // opens and closes its own connection unless KeepAlive is set.
    THTTPSettings Settings;
    // The text most recently shown through OnStatus.
    std::string StatusText;
    // The status panel of the window: run on the user-interface thread for each status text
    // ("" clears the panel): "Feed checking: " or "Feed download: " + name + " -> " + the address
    // as DisplayURL shows it (no password) + " (k of N)", k the feed's place in the order the feeds were
    // started and N the number of feeds; "" after a feed that succeeded while no other was in progress.
    std::function<void(const std::string& text)> OnStatus;
    // Run on the user-interface thread for each feed a worker finishes, while this thread waits.
    // From the call on, the outcome's temporary file is the handler's: it renames it into place
    // or deletes it. Without a handler the refresh deletes it.
    std::function<void(TFeedOutcome& outcome)> OnOutcome;

    // The stop of the window (user-interface thread): marks the refresh stopped, then aborts the
    // exchanges in progress (they end within one 100 ms pass) and gives the thread up: no status
    // text, outcome or end notification reaches the window any more. Nothing of a feed whose
    // exchange is stopped is kept. The caller then owns the object and releases it once
    // Finished.
    void Cancel();
    // The first half of Cancel, the thread kept: no feed starts any more, the exchanges in
    // progress abort, and nothing of a feed they were on is kept. Any thread.
    void Stop();
    // Whether Stop (or Cancel) has been called; it stays so for the rest of the refresh.
    bool Cancelled() const { return Terminated(); }
    // The most feeds that were worked on at once so far.
    int PeakRunning() const;

protected:
    // Starts the workers, hands over what they post until every one has ended, and waits for them.
    void Execute() override;
    // StatusText := text, then ShowStatus on the user-interface thread, waiting for it.
    void SetStatus(const std::string& text);
    // Hands StatusText to OnStatus (user-interface thread).
    void ShowStatus();

private:
    // A status text or a finished feed, posted by a worker for the user-interface thread.
    struct TEvent {
        bool IsOutcome = false;
        std::string Status;
        TFeedOutcome Outcome;
    };

    // One worker's life: takes feeds until none is left or the refresh is stopped.
    void Work(THTTPClient& client);
    // The next feed to start with its place " (k of N)", and its "Feed checking: " text posted
    // (FLock held); false when the refresh is stopped or every feed has started. Waits while the
    // feeds left all belong to busy hosts.
    bool TakeFeed(std::unique_lock<std::mutex>& lock, size_t& index, std::string& place);
    // Queues a status text for the user-interface thread.
    void PostStatus(const std::string& text);
    // Hands one posted event to the user-interface thread; a stopped refresh drops it instead.
    void HandOver(TEvent& event);
    // Deletes the temporary files of outcomes that will never be handed over.
    static void Discard(std::deque<TEvent>& events);
    // Hands outcome to OnOutcome on the user-interface thread; deletes its temporary file when
    // the handler never gets it.
    void Deliver(TFeedOutcome& outcome);

    const std::vector<TRefreshFeed> FFeeds;
    const bool FForce;
    // The workers' clients, made with the object so that Stop may reach them at any time.
    std::vector<std::unique_ptr<THTTPClient>> FClients;

    // What the workers share, under FLock.
    mutable std::mutex FLock;
    TFeedSchedule FSchedule;
    // A host has room again, or the refresh was stopped.
    std::condition_variable FSlotFreed;
    // An event was posted, or a worker ended.
    std::condition_variable FPosted;
    int FWorkersLeft = 0;
    std::deque<TEvent> FEvents;
    std::exception_ptr FWorkerFailure;
};
