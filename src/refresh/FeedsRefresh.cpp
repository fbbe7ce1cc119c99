#include "refresh/FeedsRefresh.h"

#include "news/NewsDates.h"
#include "refresh/CacheFiles.h"

namespace {

// Ends the work of a cancelled refresh; it never becomes a feed's error text.
class ERefreshCancelled : public Exception {
public:
    ERefreshCancelled() : Exception("The refresh was stopped") {}
};

} // namespace

TFeedsRefresher::TFeedsRefresher(TFeedList& feeds) : FFeeds(feeds) {
    Client.Timeout = 5000;
    FreeOnTerminate = true;
}

TFeedsRefresher::~TFeedsRefresher() = default;

void TFeedsRefresher::Execute() {
    int count = 0;
    {
        std::lock_guard<std::mutex> lock(FEntriesLock);
        if (FCancelled)
            return;
        count = FFeeds.Count();
    }
    for (int i = 0; i < count; ++i) {
        if (Terminated())
            return;
        // The feed is worked on in a copy, so that the network work runs without the lock; the
        // outcome goes back to the entry only while the refresh is still wanted.
        TFeedListItem* item = nullptr;
        TFeedListItem work;
        {
            std::lock_guard<std::mutex> lock(FEntriesLock);
            if (FCancelled)
                return;
            item = FFeeds.Item(i);
            if (!item->RefreshMark || item->FeedURL.empty())
                continue;
            item->ErrorText.clear();
            work = *item;
            FEntry = item;
        }
        std::string errorText;
        try {
            ProcessFeed(work);
        } catch (const EHTTPError&) {
            errorText = "Unable to open " + work.FeedURL;
        } catch (const std::exception& e) {
            errorText = e.what();
        }
        std::lock_guard<std::mutex> lock(FEntriesLock);
        if (FCancelled)
            return;
        FEntry = nullptr;
        // Given another address meanwhile, the entry is the new feed's: nothing of the old one's
        // download may go to it (SaveCacheFile kept its document out too).
        if (item->FeedURL != work.FeedURL)
            continue;
        item->RefreshDate = work.RefreshDate;
        item->LastModifiedDate = work.LastModifiedDate;
        item->ErrorText = errorText;
    }
}

void TFeedsRefresher::ProcessFeed(TFeedListItem& item) {
    SetStatus("Feed checking: " + item.FeedName + " -> " + item.FeedURL);
    Client.Disconnect();
    Client.Host = ExtractURLHost(item.FeedURL);
    Client.Path = ExtractURLPath(item.FeedURL);
    Client.Port = ExtractURLPort(item.FeedURL);
    if (NeedsDownload(item)) {
        SetStatus("Feed download: " + item.FeedName + " -> " + item.FeedURL);
        Client.Method = "GET";
        CheckNotCancelled();
        Client.Execute();
        SaveCacheFile(item, Client.Content);
        try {
            item.LastModifiedDate = DecodeRfc822Date(Client.ResponseHeaders.Values("Last-Modified"));
        } catch (const std::exception&) {
            item.LastModifiedDate = 0;
        }
    }
    Client.Disconnect();
    SetStatus("");
}

void TFeedsRefresher::SetStatus(const std::string& text) {
    StatusText = text;
    Synchronize([this] { ShowStatus(); });
}

void TFeedsRefresher::ShowStatus() {
    if (OnStatus)
        OnStatus(StatusText);
}

void TFeedsRefresher::Cancel() {
    Terminate();
    Client.Aborted = true;
    GiveUp();
    std::lock_guard<std::mutex> lock(FEntriesLock);
    FCancelled = true;
}

void TFeedsRefresher::CheckNotCancelled() const {
    if (Terminated())
        throw ERefreshCancelled();
}

void TFeedsRefresher::SaveCacheFile(const TFeedListItem& work, const std::string& content) {
    std::lock_guard<std::mutex> lock(FEntriesLock);
    if (FCancelled)
        throw ERefreshCancelled();
    if (FEntry && FEntry->FeedURL != work.FeedURL)
        return;
    SaveStringToFile(content, CacheFileName(work.FeedID));
}
