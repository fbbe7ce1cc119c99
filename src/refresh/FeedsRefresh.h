#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "catalogue/FeedListCls.h"
#include "net/HTTPClient.h"
#include "platform/SysUtils.h"
#include "platform/Thread.h"

// Makes every refresh download each feed it processes, whatever its cache file and dates say.
// False at start; the window writes it before starting a refresh, the worker only reads it.
extern std::atomic<bool> ForceRefresh;

// The worker that brings the cache files of the marked feeds up to date. Created suspended with
// FreeOnTerminate set; the creator installs OnTerminate (and OnStatus) and calls Resume. Every
// failure of a feed becomes that feed's ErrorText; nothing escapes to the creator.
//
// The worker reads and writes catalogue entries and cache files only under EntriesLock and only
// until Cancel: a cancelled worker never touches them again, so the window may delete, move or
// save entries right after Cancel even though the worker may still be winding down.
class TFeedsRefresher : public TThread {
public:
    // Suspended, FreeOnTerminate set, Client.Timeout 5000 ms and every other client default.
    explicit TFeedsRefresher(TFeedList& feeds);
    // Releases Client, closing a connection still open; only once Execute has returned.
    ~TFeedsRefresher() override;

    // Serves the whole refresh; each exchange opens and closes its own connection.
    THTTPClient Client;
    // The text most recently passed to SetStatus.
    std::string StatusText;
    // The status panel of the window: run on the user-interface thread for each status text
    // ("" clears the panel).
    std::function<void(const std::string& text)> OnStatus;

    // The freshness rule for item, with Client already aimed at the feed: true when forced
    // (RefreshDate := now), when the cache file is missing (RefreshDate kept), or, once 10
    // minutes have passed since RefreshDate (RefreshDate := now), when LastModifiedDate is 0 or a
    // HEAD reports a Last-Modified at least 1 s later. Less than 10 minutes (also a RefreshDate
    // in the future) makes no request and gives false. Never raises from the HEAD probe.
    bool NeedsDownload(TFeedListItem& item);
    // One HEAD exchange: its decoded Last-Modified, or 1.0 when the header is missing or
    // undecodable or the exchange fails in any way (never raises).
    TDateTime HeadLastModified();
    // Shows "Feed checking: ", aims Client at the feed and, when NeedsDownload says so, shows
    // "Feed download: ", GETs the document into its cache file and sets LastModifiedDate from
    // "Last-Modified" (0 when missing); then the empty status. Raises on any failure, leaving
    // the cache file and LastModifiedDate as they were.
    void ProcessFeed(TFeedListItem& item);

    // The stop of the window (user-interface thread): requests termination, aborts the exchange
    // in progress within one 100 ms pass, gives the thread up (no status text or end
    // notification reaches the window any more) and bars every later write to catalogue entries
    // and cache files. The caller then owns the object and releases it once Finished.
    void Cancel();
    // Held by the worker while it reads or writes entries or writes a cache file (never while it
    // waits for the network or the window); the window holds it to change the catalogue
    // (append, rename, a new address) under a running refresh.
    std::mutex& EntriesLock() { return FEntriesLock; }

protected:
    // The walk over the catalogue: each item with RefreshMark and a FeedURL, in catalogue order,
    // until the termination request; items appended meanwhile are not refreshed.
    void Execute() override;
    // StatusText := text, then ShowStatus on the user-interface thread, waiting for it.
    void SetStatus(const std::string& text);
    // Hands StatusText to OnStatus (user-interface thread).
    void ShowStatus();

private:
    // Raises when the refresh has been cancelled, so that no new exchange starts.
    void CheckNotCancelled() const;
    // Writes the document downloaded for work as its cache file; raises when cancelled, and
    // writes nothing when the walk's entry was given another address meanwhile.
    void SaveCacheFile(const TFeedListItem& work, const std::string& content);

    TFeedList& FFeeds;
    // Held while the worker touches catalogue entries or writes a cache file.
    std::mutex FEntriesLock;
    // Guarded by FEntriesLock: set by Cancel, checked before every touch. Exchanges are
    // skipped early through the termination request, which Cancel sets first.
    bool FCancelled = false;
    // Guarded by FEntriesLock: the entry of the walk whose copy is being worked on, if any.
    TFeedListItem* FEntry = nullptr;
};
