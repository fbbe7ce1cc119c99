#include "refresh/FeedsRefresh.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "cache/CacheFiles.h"
#include "platform/Files.h"
#include "url/Url.h"

namespace {

std::vector<std::string> HostsOf(const std::vector<TRefreshFeed>& feeds) {
    std::vector<std::string> hosts;
    hosts.reserve(feeds.size());
    for (const TRefreshFeed& feed : feeds)
        hosts.push_back(TFeedSchedule::HostOf(feed.FeedURL));
    return hosts;
}

} // namespace

std::vector<TRefreshFeed> MarkedFeeds(TFeedList& feeds) {
    std::vector<TRefreshFeed> marked;
    for (int i = 0; i < feeds.Count(); ++i) {
        TFeedListItem* item = feeds.Item(i);
        if (!item->RefreshMark || item->FeedURL.empty())
            continue;
        TCacheState& cache = item->CacheState;
        if (!cache.Known) {
            // Once per entry and run of the program: a refresh keeps it up to date from then on.
            cache.Cached = FileExists(CacheFileName(item->FeedID));
            cache.ETag = cache.Cached ? ReadETag(item->FeedID) : std::string();
            cache.Hash.clear();
            cache.Known = true;
        }
        TRefreshFeed feed;
        feed.FeedID = item->FeedID;
        feed.FeedURL = item->FeedURL;
        feed.FeedName = item->FeedName;
        feed.RefreshDate = item->RefreshDate;
        feed.LastModifiedDate = item->LastModifiedDate;
        feed.Index = i;
        feed.ETag = cache.ETag;
        feed.Cached = cache.Cached;
        feed.Hash = cache.Hash;
        marked.push_back(std::move(feed));
    }
    return marked;
}

TFeedsRefresher::TFeedsRefresher(std::vector<TRefreshFeed> feeds, bool force, int maxParallel)
    : FFeeds(std::move(feeds)), FForce(force), FSchedule(HostsOf(FFeeds)) {
    PrepareFeedSettings(Settings);
    const size_t workers = std::min(static_cast<size_t>(std::max(1, maxParallel)), FFeeds.size());
    for (size_t i = 0; i < workers; ++i)
        FClients.push_back(std::make_unique<THTTPClient>());
    FreeOnTerminate = true;
}

TFeedsRefresher::~TFeedsRefresher() = default;

int TFeedsRefresher::PeakRunning() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FSchedule.PeakRunning();
}

void TFeedsRefresher::Execute() {
    if (FFeeds.empty())
        return;
    for (auto& client : FClients) {
        client->Settings() = Settings;
        client->Method = "GET";
    }
    std::vector<std::thread> workers;
    std::exception_ptr failure;
    try {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FWorkersLeft = static_cast<int>(FClients.size());
        }
        for (auto& client : FClients) {
            THTTPClient* own = client.get();
            workers.emplace_back([this, own] { Work(*own); });
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
        Stop();
    }
    // A thread that could not be started leaves the others to end on their own.
    if (failure && workers.size() < FClients.size()) {
        std::lock_guard<std::mutex> lock(FLock);
        FWorkersLeft -= static_cast<int>(FClients.size() - workers.size());
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
            const TRefreshFeed& feed = FFeeds[index];
            TFeedOutcome outcome = FetchFeed(
                client, feed, FForce, [this] { return Cancelled(); },
                [this, &feed, &place] {
                    PostStatus("Feed download: " + feed.FeedName + " -> " + DisplayURL(feed.FeedURL) + place);
                });
            const bool succeeded = outcome.ErrorText.empty();
            std::string dropped;
            {
                std::lock_guard<std::mutex> lock(FLock);
                FSchedule.Done(index);
                // A stopped exchange returns what had arrived by then, or fails because of the
                // stop: neither may reach the entry, which stays as it was before the refresh.
                if (Cancelled()) {
                    dropped = outcome.TemporaryFile;
                } else {
                    // The panel is cleared only when nothing else is in progress.
                    if (succeeded && FSchedule.Running() == 0)
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
        Stop();
    FSlotFreed.notify_all();
    FPosted.notify_one();
}

bool TFeedsRefresher::TakeFeed(std::unique_lock<std::mutex>& lock, size_t& index, std::string& place) {
    for (;;) {
        const TFeedSchedule::TTake take = FSchedule.Take();
        switch (take.State) {
        case TFeedSchedule::fsFeed: {
            const TRefreshFeed& feed = FFeeds[take.Index];
            index = take.Index;
            place = " (" + std::to_string(take.Place) + " of " + std::to_string(FFeeds.size()) + ")";
            // Posted here, so that the checks reach the panel in the order the feeds started.
            FEvents.push_back(
                {false, "Feed checking: " + feed.FeedName + " -> " + DisplayURL(feed.FeedURL) + place, {}});
            return true;
        }
        case TFeedSchedule::fsWait:
            // Every feed left belongs to a busy host: a Done or the stop wakes this worker, both
            // under FLock.
            FSlotFreed.wait(lock);
            break;
        case TFeedSchedule::fsFinished:
        case TFeedSchedule::fsStopped:
            return false;
        }
    }
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

void TFeedsRefresher::Stop() {
    // The stopped state comes first: a worker that sees the abort end its exchange sees it too.
    Terminate();
    {
        std::lock_guard<std::mutex> lock(FLock);
        FSchedule.Stop();
    }
    for (auto& client : FClients)
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
    Stop();
    GiveUp();
}
