#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/FeedListCls.h"
#include "net/HTTPClient.h"
#include "platform/SysUtils.h"
#include "platform/Thread.h"

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
};

// The result of one feed, handed to the user-interface thread: the copy's dates as the rule and
// the download left them, the error text ("" after success) and the downloaded document in a
// temporary file beside the cache file ("" when nothing was downloaded or the cache file already
// holds the same bytes).
struct TFeedOutcome {
    TRefreshFeed Feed;
    std::string ErrorText;
    std::string TemporaryFile;
};

// The copies of the entries a refresh works on: each entry with RefreshMark and a FeedURL, in
// catalogue order (user-interface thread).
std::vector<TRefreshFeed> MarkedFeeds(const TFeedList& feeds);

// The worker that brings the cache files of the marked feeds up to date. It works on copies and
// never touches a catalogue entry or a cache file in place: each feed's outcome goes to the
// user-interface thread (OnOutcome), which writes the entry and renames the temporary file into
// place. Created suspended with FreeOnTerminate set; the creator installs OnTerminate, OnStatus
// and OnOutcome and calls Resume. Every failure of a feed becomes its outcome's ErrorText.
class TFeedsRefresher : public TThread {
public:
    // Suspended, FreeOnTerminate set, Client.Timeout 5000 ms and every other client default;
    // force is ForceRefresh as it was when the refresh started.
    TFeedsRefresher(std::vector<TRefreshFeed> feeds, bool force);
    // Releases Client, closing a connection still open; only once Execute has returned.
    ~TFeedsRefresher() override;

    // Serves the whole refresh; each exchange opens and closes its own connection.
    THTTPClient Client;
    // The text most recently passed to SetStatus.
    std::string StatusText;
    // The status panel of the window: run on the user-interface thread for each status text
    // ("" clears the panel).
    std::function<void(const std::string& text)> OnStatus;
    // Run on the user-interface thread for each feed the walk finishes, while the worker waits.
    // From the call on, the outcome's temporary file is the handler's: it renames it into place
    // or deletes it. Without a handler the worker deletes it.
    std::function<void(TFeedOutcome& outcome)> OnOutcome;

    // The freshness rule for feed, with Client already aimed at it: true when forced
    // (RefreshDate := now), when the cache file is missing (RefreshDate kept), or, once 10
    // minutes have passed since RefreshDate (RefreshDate := now), when LastModifiedDate is 0 or a
    // HEAD reports a Last-Modified at least 1 s later. Less than 10 minutes (also a RefreshDate
    // in the future) makes no request and gives false. Never raises from the HEAD probe.
    bool NeedsDownload(TRefreshFeed& feed);
    // One HEAD exchange: its decoded Last-Modified, or 1.0 when the header is missing or
    // undecodable or the exchange fails in any way (never raises).
    TDateTime HeadLastModified();
    // Shows "Feed checking: ", aims Client at the feed and, when NeedsDownload says so, shows
    // "Feed download: ", GETs the document into a temporary file beside its cache file (none for
    // the same bytes) and sets LastModifiedDate from "Last-Modified" (0 when missing); then the
    // empty status. Returns the temporary file ("" for none). Raises on any failure, leaving no
    // temporary file and LastModifiedDate as it was; raises too when the refresh has been
    // stopped, whatever the exchange returned.
    std::string ProcessFeed(TRefreshFeed& feed);

    // The stop of the window (user-interface thread): marks the refresh stopped, then aborts the
    // exchange in progress (it ends within one 100 ms pass) and gives the thread up: no status
    // text, outcome or end notification reaches the window any more. Nothing of a feed whose
    // exchange is stopped is kept. The caller then owns the object and releases it once
    // Finished.
    void Cancel();
    // Whether Cancel has been called; it stays so for the rest of the refresh.
    bool Cancelled() const { return Terminated(); }

protected:
    // The walk over the copies, in order, until the refresh is stopped.
    void Execute() override;
    // StatusText := text, then ShowStatus on the user-interface thread, waiting for it.
    void SetStatus(const std::string& text);
    // Hands StatusText to OnStatus (user-interface thread).
    void ShowStatus();

private:
    // Raises when the refresh has been stopped, so that no new exchange starts and no result of
    // a stopped one is kept.
    void CheckNotCancelled() const;
    // Hands outcome to OnOutcome on the user-interface thread; deletes its temporary file when
    // the handler never gets it.
    void Deliver(TFeedOutcome& outcome);

    const std::vector<TRefreshFeed> FFeeds;
    const bool FForce;
};
