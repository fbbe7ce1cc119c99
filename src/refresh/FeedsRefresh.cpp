#include "refresh/FeedsRefresh.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "cache/CacheFiles.h"
#include "dates/NewsDates.h"
#include "platform/Files.h"
#include "refresh/FeedFetch.h"
#include "url/Url.h"

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

TFeedsRefresher::TFeedsRefresher(std::vector<TRefreshFeed> feeds, bool force, int maxParallel)
    : FFeeds(std::move(feeds)), FForce(force), FStarted(FFeeds.size(), false) {
    PrepareFeedClient(Client);
    FAddresses.reserve(FFeeds.size());
    FHosts.reserve(FFeeds.size());
    for (const TRefreshFeed& feed : FFeeds) {
        TAddress address;
        try {
            address.Url = ParseFeedURL(feed.FeedURL);
        } catch (const EURLError& e) {
            address.Error = e.Message();
        }
        // An address that does not parse makes no request; its feeds share a key of their own.
        FHosts.push_back(address.Error.empty() ? address.Url.Host : std::string());
        FAddresses.push_back(std::move(address));
    }
    const size_t workers = std::min(static_cast<size_t>(std::max(1, maxParallel)), FFeeds.size());
    for (size_t i = 1; i < workers; ++i) {
        FMoreClients.push_back(std::make_unique<THTTPClient>());
        PrepareFeedClient(*FMoreClients.back());
    }
    FreeOnTerminate = true;
}

TFeedsRefresher::~TFeedsRefresher() = default;

void TFeedsRefresher::Execute() {
    if (FFeeds.empty())
        return;
    std::vector<THTTPClient*> clients{&Client};
    for (auto& client : FMoreClients) {
        client->Timeout = Client.Timeout;
        client->IdleTimeout = Client.IdleTimeout;
        client->ExchangeTimeout = Client.ExchangeTimeout;
        client->MaxResponseLength = Client.MaxResponseLength;
        client->UserAgent = Client.UserAgent;
        client->RequestHeaders = Client.RequestHeaders;
        clients.push_back(client.get());
    }
    std::vector<std::thread> workers;
    std::exception_ptr failure;
    try {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FWorkersLeft = static_cast<int>(clients.size());
        }
        for (THTTPClient* client : clients) {
            workers.emplace_back([this, client] { Work(*client); });
        }
        for (;;) {
            std::deque<TEvent> batch;
            {
                std::unique_lock<std::mutex> lock(FLock);
                FPosted.wait(lock, [this] { return !FEvents.empty() || FWorkersLeft == 0; });
                if (FEvents.empty())
                    break;
                batch.swap(FEvents);
            }
            while (!batch.empty()) {
                TEvent event = std::move(batch.front());
                batch.pop_front();
                try {
                    HandOver(event);
                } catch (...) {
                    Discard(batch);
                    throw;
                }
            }
        }
    } catch (...) {
        failure = std::current_exception();
        StopWorkers();
    }
    // A thread that could not be started leaves the others to end on their own.
    if (failure && workers.size() < clients.size()) {
        std::lock_guard<std::mutex> lock(FLock);
        FWorkersLeft -= static_cast<int>(clients.size() - workers.size());
    }
    for (std::thread& worker : workers)
        worker.join();
    Discard(FEvents);
    if (!failure)
        failure = FWorkerFailure;
    if (failure)
        std::rethrow_exception(failure);
}

void TFeedsRefresher::Work(THTTPClient& client) {
    try {
        size_t index = 0;
        std::string place;
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(FLock);
                if (!TakeFeed(lock, index, place))
                    break;
            }
            FPosted.notify_one();
            TFeedOutcome outcome;
            outcome.Feed = FFeeds[index];
            const auto start = std::chrono::steady_clock::now();
            try {
                ProcessFeed(outcome, client, FAddresses[index], place);
            } catch (const EHTTPError&) {
                outcome.ErrorText = "Unable to open " + DisplayURL(outcome.Feed.FeedURL);
            } catch (const std::exception& e) {
                outcome.ErrorText = e.what();
            }
            outcome.StatusCode = client.StatusCode;
            outcome.Milliseconds =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            const bool succeeded = outcome.ErrorText.empty();
            std::string dropped;
            {
                std::lock_guard<std::mutex> lock(FLock);
                --FRunning;
                --FRunningOnHost[FHosts[index]];
                // A stopped exchange returns what had arrived by then, or fails because of the
                // stop: neither may reach the entry, which stays as it was before the refresh.
                if (Cancelled()) {
                    dropped = outcome.TemporaryFile;
                } else {
                    // The panel is cleared only when nothing else is in progress.
                    if (succeeded && FRunning == 0)
                        FEvents.push_back({false, "", {}});
                    FEvents.push_back({true, "", std::move(outcome)});
                }
            }
            FSlotFreed.notify_all();
            FPosted.notify_one();
            if (!dropped.empty())
                DeleteFile(dropped);
        }
    } catch (...) {
        std::lock_guard<std::mutex> lock(FLock);
        if (!FWorkerFailure)
            FWorkerFailure = std::current_exception();
    }
    bool failed = false;
    {
        std::lock_guard<std::mutex> lock(FLock);
        --FWorkersLeft;
        failed = FWorkerFailure != nullptr;
    }
    // A worker that failed ends the whole refresh, which then reports the failure.
    if (failed)
        StopWorkers();
    FSlotFreed.notify_all();
    FPosted.notify_one();
}

bool TFeedsRefresher::TakeFeed(std::unique_lock<std::mutex>& lock, size_t& index, std::string& place) {
    for (;;) {
        if (Cancelled())
            return false;
        while (FFirstWaiting < FFeeds.size() && FStarted[FFirstWaiting])
            ++FFirstWaiting;
        if (FFirstWaiting == FFeeds.size())
            return false;
        for (size_t i = FFirstWaiting; i < FFeeds.size(); ++i) {
            if (FStarted[i] || FRunningOnHost[FHosts[i]] >= kMaxPerHost)
                continue;
            FStarted[i] = true;
            ++FRunningOnHost[FHosts[i]];
            ++FRunning;
            if (FRunning > FPeakRunning)
                FPeakRunning = FRunning;
            index = i;
            place = " (" + std::to_string(++FStartedCount) + " of " + std::to_string(FFeeds.size()) + ")";
            // Posted here, so that the checks reach the panel in the order the feeds started.
            FEvents.push_back(
                {false,
                 "Feed checking: " + FFeeds[i].FeedName + " -> " + DisplayURL(FFeeds[i].FeedURL) + place,
                 {}});
            return true;
        }
        // Every feed left belongs to a busy host; one of its feeds ends soon, or the stop comes.
        FSlotFreed.wait_for(lock, std::chrono::milliseconds(100));
    }
}

void TFeedsRefresher::ProcessFeed(TFeedOutcome& outcome, THTTPClient& client, const TAddress& address,
                                  const std::string& place) {
    TRefreshFeed& feed = outcome.Feed;
    client.StatusCode = 0;
    client.Disconnect();
    // Nothing of a feed whose address cannot be fetched changes but its error.
    if (!address.Error.empty())
        throw EURLError(address.Error);
    feed.ETag = ReadETag(feed.FeedID);
    const TDownloadNeed need = NeedsDownload(feed);
    if (need != dnNone) {
        PostStatus("Feed download: " + feed.FeedName + " -> " + DisplayURL(feed.FeedURL) + place);
        client.Method = "GET";
        SetConditions(client, feed, need == dnConditional);
        FetchFollowingRedirects(client, address.Url, [this] { CheckNotCancelled(); });
        CheckNotCancelled();
        client.Disconnect();
        const int status = client.StatusCode;
        // 304: the cached document is still the server's; nothing of the feed changes.
        if (status != 304) {
            if (!IsSuccessStatus(status))
                throw EHTTPError("The server response is incorrect");
            outcome.TemporaryFile = PrepareCacheFile(client.Content, CacheFileName(feed.FeedID));
            outcome.Downloaded = true;
            try {
                feed.LastModifiedDate = DecodeRfc822Date(client.ResponseHeaders.Values("Last-Modified"));
            } catch (const std::exception&) {
                feed.LastModifiedDate = 0;
            }
            feed.ETag = Trim(client.ResponseHeaders.Values("ETag"));
        }
    }
    // The document is in its file now: the next feed's exchange need not keep it beside its own.
    client.Content = std::string();
}

void TFeedsRefresher::PostStatus(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FEvents.push_back({false, text, {}});
    }
    FPosted.notify_one();
}

void TFeedsRefresher::HandOver(TEvent& event) {
    if (Cancelled()) {
        if (event.IsOutcome && !event.Outcome.TemporaryFile.empty())
            DeleteFile(event.Outcome.TemporaryFile);
        return;
    }
    if (event.IsOutcome)
        Deliver(event.Outcome);
    else
        SetStatus(event.Status);
}

void TFeedsRefresher::Discard(std::deque<TEvent>& events) {
    for (TEvent& event : events)
        if (event.IsOutcome && !event.Outcome.TemporaryFile.empty())
            DeleteFile(event.Outcome.TemporaryFile);
    events.clear();
}

void TFeedsRefresher::StopWorkers() {
    Terminate();
    Client.Aborted = true;
    for (auto& client : FMoreClients)
        client->Aborted = true;
    FSlotFreed.notify_all();
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
    StopWorkers();
    GiveUp();
}

void TFeedsRefresher::CheckNotCancelled() const {
    if (Cancelled())
        throw ERefreshCancelled();
}
