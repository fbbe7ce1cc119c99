#include "refresh/FeedsRefresh.h"

#include "news/NewsDates.h"
#include "platform/Files.h"
#include "refresh/CacheFiles.h"

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
            marked.push_back(
                {item->FeedID, item->FeedURL, item->FeedName, item->RefreshDate, item->LastModifiedDate, i});
    }
    return marked;
}

TFeedsRefresher::TFeedsRefresher(std::vector<TRefreshFeed> feeds, bool force)
    : FFeeds(std::move(feeds)), FForce(force) {
    Client.Timeout = 5000;
    FreeOnTerminate = true;
}

TFeedsRefresher::~TFeedsRefresher() = default;

void TFeedsRefresher::Execute() {
    for (const TRefreshFeed& feed : FFeeds) {
        if (Cancelled())
            return;
        TFeedOutcome outcome{feed, std::string(), std::string()};
        try {
            outcome.TemporaryFile = ProcessFeed(outcome.Feed);
        } catch (const EHTTPError&) {
            outcome.ErrorText = "Unable to open " + feed.FeedURL;
        } catch (const std::exception& e) {
            outcome.ErrorText = e.what();
        }
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

std::string TFeedsRefresher::ProcessFeed(TRefreshFeed& feed) {
    SetStatus("Feed checking: " + feed.FeedName + " -> " + feed.FeedURL);
    Client.Disconnect();
    Client.Host = ExtractURLHost(feed.FeedURL);
    Client.Path = ExtractURLPath(feed.FeedURL);
    Client.Port = ExtractURLPort(feed.FeedURL);
    std::string temporary;
    if (NeedsDownload(feed)) {
        SetStatus("Feed download: " + feed.FeedName + " -> " + feed.FeedURL);
        Client.Method = "GET";
        CheckNotCancelled();
        Client.Execute();
        CheckNotCancelled();
        temporary = PrepareCacheFile(Client.Content, CacheFileName(feed.FeedID));
        try {
            feed.LastModifiedDate = DecodeRfc822Date(Client.ResponseHeaders.Values("Last-Modified"));
        } catch (const std::exception&) {
            feed.LastModifiedDate = 0;
        }
    }
    try {
        Client.Disconnect();
        SetStatus("");
    } catch (...) {
        if (!temporary.empty())
            DeleteFile(temporary);
        throw;
    }
    return temporary;
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
