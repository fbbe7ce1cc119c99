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
class TFeedsRefresher : public TThread {
public:
    // Suspended, FreeOnTerminate set, Client.Timeout 5000 ms, Client.UserAgent DefaultUserAgent()
    // and "Accept-Encoding: gzip, deflate" (the client decodes such bodies), every other client
    // default; force is ForceRefresh as it was when the refresh started.
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

    // The freshness rule for feed; makes no request. dnWhole when forced (RefreshDate := now) or
    // when the cache file is missing (RefreshDate kept); dnNone within 10 minutes of RefreshDate
    // (also a RefreshDate in the future); past them RefreshDate := now and dnWhole when neither a
    // LastModifiedDate nor an ETag is stored, else dnConditional.
    TDownloadNeed NeedsDownload(TRefreshFeed& feed);
    // Puts the validators of feed into Client's request headers for a conditional GET:
    // "If-Modified-Since" with LastModifiedDate as an HTTP date (none for 0) and "If-None-Match"
    // with the ETag (none for ""); with conditional false, removes both.
    void SetConditions(const TRefreshFeed& feed, bool conditional);
    // Shows "Feed checking: " and, when NeedsDownload asks for a request, "Feed download: " and
    // one GET of the feed's address, following redirects (FetchFollowingRedirects), conditional
    // when the rule says so. 304 leaves everything as it was. A document (2xx) goes into a
    // temporary file beside the cache file (none for the same bytes), sets LastModifiedDate from
    // "Last-Modified" (0 when missing) and ETag from "ETag" ("" when missing) and marks the
    // outcome Downloaded; any other status raises EHTTPError. Then the empty status. Raises on
    // any failure, leaving no temporary file and the dates and tag as they were; raises too
    // when the refresh has been stopped, whatever the exchange returned. The exchange's status is
    // left in Client.StatusCode (0 for none), also when it raises.
    void ProcessFeed(TFeedOutcome& outcome);

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
