#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "catalogue/FeedListCls.h"
#include "net/HTTPClient.h"
#include "platform/SysUtils.h"
#include "platform/Thread.h"
#include "url/Url.h"

// Makes every refresh download each feed it processes, whatever its cache file and dates say.
// False at start; the window writes it, and a refresh takes its value when it starts.
extern std::atomic<bool> ForceRefresh;

// What the worker needs of one marked feed: a copy taken on the user-interface thread when the
// refresh starts. The freshness rule updates the copy's dates.
struct TRefreshFeed {
    std::string FeedID;
    std::string FeedURL;
    std::string FeedName;
    TDateTime RefreshDate = 0;
    TDateTime LastModifiedDate = 0;
    // Where the entry stood in the catalogue then: where its outcome looks for it first.
    int Index = -1;
    // The entity tag of the cached document ("" for none): read from its ETag file by the worker,
    // replaced by a download's.
    std::string ETag;
};

// The result of one feed, handed to the user-interface thread: the copy's dates and tag as the
// rule and the download left them, the error text ("" after success) and the downloaded document
// in a temporary file beside the cache file ("" when nothing was downloaded or the cache file
// already holds the same bytes).
struct TFeedOutcome {
    TRefreshFeed Feed;
    std::string ErrorText;
    std::string TemporaryFile;
    // A whole document arrived and stands for the cache file (also when its bytes are those the
    // file holds already); its LastModifiedDate and ETag then replace the stored ones.
    bool Downloaded = false;
    // The status of the feed's last exchange (304 for an unchanged document); 0 when no request
    // was made or none was answered.
    int StatusCode = 0;
    // Wall-clock time the worker spent on the feed, status texts included.
    double Milliseconds = 0;
};

// How many exchanges one refresh runs at once unless told otherwise, and how many of them may go
// to one host (an address's host name, whatever the port and letter case).
constexpr int kDefaultMaxParallel = 16;
constexpr int kMaxPerHost = 2;

// What the freshness rule asks of the refresh for one feed: nothing, the whole document, or the
// document only when it differs from the cached one (a conditional GET).
enum TDownloadNeed { dnNone, dnWhole, dnConditional };

// The copies of the entries a refresh works on: each entry with RefreshMark and a FeedURL, in
// catalogue order (user-interface thread).
std::vector<TRefreshFeed> MarkedFeeds(const TFeedList& feeds);

// The worker that brings the cache files of the marked feeds up to date. It works on copies and
// never touches a catalogue entry or a cache file in place: each feed's outcome goes to the
// user-interface thread (OnOutcome), which writes the entry and renames the temporary file into
// place. Created suspended with FreeOnTerminate set; the creator installs OnTerminate, OnStatus
// and OnOutcome and calls Resume. Every failure of a feed becomes its outcome's ErrorText.
//
// Up to maxParallel feeds are worked on at once, each by a thread of its own with a client of its
// own, at most kMaxPerHost of them on one host. Feeds start in catalogue order, except that a
// feed whose host is busy with kMaxPerHost of them waits while later feeds start. The thread of
// the object itself only hands the workers' status texts and outcomes, in the order they were
// posted, to the user-interface thread; the workers never wait for it. With one worker the walk is
// sequential: feed after feed in catalogue order.
class TFeedsRefresher : public TThread {
public:
    // Suspended, FreeOnTerminate set, the clients set up by PrepareFeedClient (Timeout 5000 ms,
    // DefaultUserAgent(), "Accept-Encoding: gzip, deflate", which the client decodes); force is
    // ForceRefresh as it was when the refresh started; maxParallel below 1 counts as 1.
    TFeedsRefresher(std::vector<TRefreshFeed> feeds, bool force, int maxParallel = kDefaultMaxParallel);
    // Releases the clients, closing connections still open; only once Execute has returned.
    ~TFeedsRefresher() override;

    // The first worker's client, and the settings of every other worker's: those take its
    // Timeout, IdleTimeout, ExchangeTimeout, MaxResponseLength, UserAgent and request headers when
    // the refresh starts. Each exchange opens and closes its own connection.
    THTTPClient Client;
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

    // The freshness rule for feed; makes no request. dnWhole when forced (RefreshDate := now) or
    // when the cache file is missing (RefreshDate kept); dnNone within 10 minutes of RefreshDate
    // (also a RefreshDate in the future); past them RefreshDate := now and dnWhole when neither a
    // LastModifiedDate nor an ETag is stored, else dnConditional.
    TDownloadNeed NeedsDownload(TRefreshFeed& feed) const;
    // Puts the validators of feed into client's request headers for a conditional GET:
    // "If-Modified-Since" with LastModifiedDate as an HTTP date (none for 0) and "If-None-Match"
    // with the ETag (none for ""); with conditional false, removes both.
    static void SetConditions(THTTPClient& client, const TRefreshFeed& feed, bool conditional);

    // The stop of the window (user-interface thread): marks the refresh stopped, then aborts the
    // exchanges in progress (they end within one 100 ms pass) and gives the thread up: no status
    // text, outcome or end notification reaches the window any more. Nothing of a feed whose
    // exchange is stopped is kept. The caller then owns the object and releases it once
    // Finished.
    void Cancel();
    // Whether Cancel has been called; it stays so for the rest of the refresh.
    bool Cancelled() const { return Terminated(); }
    // The most feeds that were worked on at once so far.
    int PeakRunning() const { return FPeakRunning; }

protected:
    // Starts the workers, hands over what they post until every one has ended, and waits for them.
    void Execute() override;
    // StatusText := text, then ShowStatus on the user-interface thread, waiting for it.
    void SetStatus(const std::string& text);
    // Hands StatusText to OnStatus (user-interface thread).
    void ShowStatus();

private:
    // A feed's address, parsed once when the refresh is made: the parts, or why it cannot be
    // fetched.
    struct TAddress {
        TUrl Url;
        std::string Error;
    };
    // A status text or a finished feed, posted by a worker for the user-interface thread.
    struct TEvent {
        bool IsOutcome = false;
        std::string Status;
        TFeedOutcome Outcome;
    };

    // One worker's life: takes feeds until none is left or the refresh is stopped.
    void Work(THTTPClient& client);
    // The next feed to start, marked started, with its place " (k of N)", and its "Feed checking: "
    // text posted (FLock held); false when the refresh is stopped or every feed has started.
    // Waits while the feeds left all belong to busy hosts.
    bool TakeFeed(std::unique_lock<std::mutex>& lock, size_t& index, std::string& place);
    // The freshness rule and, when NeedsDownload asks for a request, "Feed download: " and one GET
    // of the feed's address with client, following redirects (FetchFollowingRedirects),
    // conditional when the rule says so. An address that does not parse raises its EURLError
    // before anything else, so that no request is made and the dates stay as they were. 304
    // leaves everything as it was. A document (2xx) goes into a temporary file beside the cache
    // file (none for the same bytes), sets LastModifiedDate from "Last-Modified" (0 when missing)
    // and ETag from "ETag" ("" when missing) and marks the outcome Downloaded; any other status
    // raises EHTTPError. Raises on any failure, leaving no temporary file and the dates and tag
    // as they were; raises too when the refresh has been stopped, whatever the exchange
    // returned. The exchange's status is left in client.StatusCode (0 for none), also when it
    // raises.
    void ProcessFeed(TFeedOutcome& outcome, THTTPClient& client, const TAddress& address,
                     const std::string& place);
    // Queues a status text for the user-interface thread.
    void PostStatus(const std::string& text);
    // Hands one posted event to the user-interface thread; a stopped refresh drops it instead.
    void HandOver(TEvent& event);
    // Deletes the temporary files of outcomes that will never be handed over.
    static void Discard(std::deque<TEvent>& events);
    // Ends the workers early: no feed starts any more and the exchanges in progress abort.
    void StopWorkers();
    // Raises when the refresh has been stopped, so that no new exchange starts and no result of
    // a stopped one is kept.
    void CheckNotCancelled() const;
    // Hands outcome to OnOutcome on the user-interface thread; deletes its temporary file when
    // the handler never gets it.
    void Deliver(TFeedOutcome& outcome);

    const std::vector<TRefreshFeed> FFeeds;
    const bool FForce;
    // Each feed's address, parsed.
    std::vector<TAddress> FAddresses;
    // The host each feed counts against.
    std::vector<std::string> FHosts;
    // The clients of the workers after the first (which uses Client); made with the object so
    // that Cancel may reach them at any time.
    std::vector<std::unique_ptr<THTTPClient>> FMoreClients;
    std::atomic<int> FPeakRunning{0};

    // What the workers share, under FLock.
    std::mutex FLock;
    // A host has room again, or the refresh was stopped.
    std::condition_variable FSlotFreed;
    // An event was posted, or a worker ended.
    std::condition_variable FPosted;
    std::vector<bool> FStarted;
    size_t FFirstWaiting = 0;
    std::map<std::string, int> FRunningOnHost;
    int FRunning = 0;
    int FStartedCount = 0;
    int FWorkersLeft = 0;
    std::deque<TEvent> FEvents;
    std::exception_ptr FWorkerFailure;
};
