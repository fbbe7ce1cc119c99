#include "refresh/FeedsRefresh.h"

#include <chrono>

#include "news/NewsDates.h"
#include "platform/Files.h"
#include "refresh/CacheFiles.h"
#include "refresh/FeedFetch.h"

namespace {

// Ends the work on a feed of a stopped refresh; nothing of that feed is kept.
class ERefreshCancelled : public Exception {
public:
    ERefreshCancelled() : Exception("The refresh was stopped") {}
};

} // namespace

std::vector<TRefreshFeed> MarkedFeeds(const TFeedList& feeds) {
    std::vector<TRefreshFeed> marked;
    for (int i = 0; i < feeds.Count(); ++i) {
        const TFeedListItem* item = feeds.Item(i);
        if (item->RefreshMark && !item->FeedURL.empty())
            marked.push_back({item->FeedID, item->FeedURL, item->FeedName, item->RefreshDate,
                              item->LastModifiedDate, i, ""});
    }
    return marked;
}

TFeedsRefresher::TFeedsRefresher(std::vector<TRefreshFeed> feeds, bool force)
    : FFeeds(std::move(feeds)), FForce(force) {
    PrepareFeedClient(Client);
    FreeOnTerminate = true;
}

TFeedsRefresher::~TFeedsRefresher() = default;

void TFeedsRefresher::Execute() {
    for (const TRefreshFeed& feed : FFeeds) {
        if (Cancelled())
            return;
        TFeedOutcome outcome;
        outcome.Feed = feed;
        const auto start = std::chrono::steady_clock::now();
        try {
            ProcessFeed(outcome);
        } catch (const EHTTPError&) {
            outcome.ErrorText = "Unable to open " + feed.FeedURL;
        } catch (const std::exception& e) {
            outcome.ErrorText = e.what();
        }
        outcome.StatusCode = Client.StatusCode;
        outcome.Milliseconds =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        // A stopped exchange returns what had arrived by then, or fails because of the stop:
        // neither may reach the entry, which stays as it was before the refresh.
        if (Cancelled()) {
            if (!outcome.TemporaryFile.empty())
                DeleteFile(outcome.TemporaryFile);
            return;
        }
        Deliver(outcome);
    }
}

void TFeedsRefresher::ProcessFeed(TFeedOutcome& outcome) {
    TRefreshFeed& feed = outcome.Feed;
    Client.StatusCode = 0;
    SetStatus("Feed checking: " + feed.FeedName + " -> " + feed.FeedURL);
    Client.Disconnect();
    feed.ETag = ReadETag(feed.FeedID);
    const TDownloadNeed need = NeedsDownload(feed);
    if (need != dnNone) {
        SetStatus("Feed download: " + feed.FeedName + " -> " + feed.FeedURL);
        Client.Method = "GET";
        SetConditions(feed, need == dnConditional);
        FetchFollowingRedirects(Client, feed.FeedURL, [this] { CheckNotCancelled(); });
        CheckNotCancelled();
        const int status = Client.StatusCode;
        // 304: the cached document is still the server's; nothing of the feed changes.
        if (status != 304) {
            if (status < 200 || status > 299)
                throw EHTTPError("The server response is incorrect");
            outcome.TemporaryFile = PrepareCacheFile(Client.Content, CacheFileName(feed.FeedID));
            outcome.Downloaded = true;
            try {
                feed.LastModifiedDate = DecodeRfc822Date(Client.ResponseHeaders.Values("Last-Modified"));
            } catch (const std::exception&) {
                feed.LastModifiedDate = 0;
            }
            feed.ETag = Trim(Client.ResponseHeaders.Values("ETag"));
        }
    }
    try {
        Client.Disconnect();
        SetStatus("");
    } catch (...) {
        if (!outcome.TemporaryFile.empty())
            DeleteFile(outcome.TemporaryFile);
        outcome.TemporaryFile.clear();
        throw;
    }
}

void TFeedsRefresher::SetStatus(const std::string& text) {
    StatusText = text;
    Synchronize([this] { ShowStatus(); });
}

void TFeedsRefresher::ShowStatus() {
    if (OnStatus)
        OnStatus(StatusText);
}

void TFeedsRefresher::Deliver(TFeedOutcome& outcome) {
    // Written on the user-interface thread while this one waits in Synchronize.
    bool taken = false;
    Synchronize([this, &outcome, &taken] {
        if (!OnOutcome)
            return;
        taken = true;
        OnOutcome(outcome);
    });
    // Dropped (the thread was given up) or nobody to take it.
    if (!taken && !outcome.TemporaryFile.empty())
        DeleteFile(outcome.TemporaryFile);
}

void TFeedsRefresher::Cancel() {
    // The stopped state comes first: a worker that sees the abort end its exchange sees it too.
    Terminate();
    Client.Aborted = true;
    GiveUp();
}

void TFeedsRefresher::CheckNotCancelled() const {
    if (Cancelled())
        throw ERefreshCancelled();
}
