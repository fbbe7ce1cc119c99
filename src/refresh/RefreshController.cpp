#include "refresh/RefreshController.h"

#include <algorithm>
#include <chrono>

#include "cache/CacheFiles.h"
#include "platform/Files.h"

namespace {

// Whether the file at path holds exactly the bytes of the file at temporary; false when either
// cannot be read.
bool SameFileBytes(const std::string& temporary, const std::string& path) {
    try {
        return FileHoldsBytes(path, ReadFileToString(temporary));
    } catch (const std::exception&) {
        return false;
    }
}

std::string MessageOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "The refresh ended with an unknown error";
    }
}

} // namespace

TRefreshController::TRefreshController(TFeedList& feeds) : FFeeds(feeds) {
    // Downloads of an earlier run that ended before they were put in place.
    DeleteCacheTemporaries();
}

TRefreshController::~TRefreshController() {
    // A Shutdown of the window's own has waited already; the keeper holds on to any worker
    // still busy.
    Shutdown(FShutDown ? 0 : 1000);
}

void TRefreshController::Start(const std::function<void(TFeedList& feeds)>& mark, bool force) {
    Stop();
    FWorkers.Reap();
    FFeeds.ClearRefreshMarks();
    if (mark)
        mark(FFeeds);
    StartCopies(MarkedFeeds(FFeeds), force);
}

void TRefreshController::StartFeeds(const std::function<bool(const TFeedListItem& item)>& take, bool force) {
    Stop();
    FWorkers.Reap();
    // MarkedFeeds copies the marked entries: the marks are lent for the copy and put back.
    std::vector<bool> marks;
    marks.reserve(FFeeds.Items.size());
    for (const auto& item : FFeeds.Items) {
        marks.push_back(item->RefreshMark);
        item->RefreshMark = take && take(*item);
    }
    std::vector<TRefreshFeed> feeds;
    try {
        feeds = MarkedFeeds(FFeeds);
    } catch (...) {
        for (size_t i = 0; i < marks.size(); ++i)
            FFeeds.Items[i]->RefreshMark = marks[i];
        throw;
    }
    for (size_t i = 0; i < marks.size(); ++i)
        FFeeds.Items[i]->RefreshMark = marks[i];
    StartCopies(std::move(feeds), force);
}

void TRefreshController::StartCopies(std::vector<TRefreshFeed> feeds, bool force) {
    auto* refresher = new TFeedsRefresher(std::move(feeds), force, MaxParallel);
    refresher->OnStatus = [this](const std::string& text) {
        if (OnStatus)
            OnStatus(text);
    };
    refresher->OnOutcome = [this, refresher](TFeedOutcome& outcome) {
        ApplyOutcome(refresher, outcome);
        if (OnOutcome && refresher == FRefresher)
            OnOutcome(outcome);
    };
    refresher->OnTerminate = [this](TThread* sender) { RefreshFinished(sender); };
    if (OnPrepare)
        OnPrepare(*refresher);
    FRefresher = refresher;
    refresher->Resume();
}

bool TRefreshController::Stop(int waitMs) {
    if (!FRefresher)
        return false;
    std::unique_ptr<TFeedsRefresher> refresher(FRefresher);
    FRefresher = nullptr;
    refresher->Cancel();
    FWorkers.Release(std::move(refresher), waitMs);
    if (OnFinished)
        OnFinished();
    return true;
}

bool TRefreshController::WaitForWorkers(int waitMs) {
    return FWorkers.WaitForAll(waitMs);
}

bool TRefreshController::Shutdown(int waitMs) {
    // The window is going away: its handlers must not run any more.
    OnStatus = nullptr;
    OnFinished = nullptr;
    OnError = nullptr;
    OnOutcome = nullptr;
    FShutDown = true;
    const auto start = std::chrono::steady_clock::now();
    Stop(waitMs);
    const auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return WaitForWorkers(std::max(0, waitMs - static_cast<int>(spent.count())));
}

void TRefreshController::RefreshFinished(TThread* sender) {
    // Given-up workers never get here, so this is the running refresh ending on its own.
    if (sender != FRefresher)
        return;
    FRefresher = nullptr;
    const std::exception_ptr failure = sender->FatalException();
    if (failure && OnError)
        OnError(MessageOf(failure));
    if (OnFinished)
        OnFinished();
}

void TRefreshController::ApplyOutcome(const TFeedsRefresher* sender, TFeedOutcome& outcome) {
    const TRefreshFeed& feed = outcome.Feed;
    TFeedListItem* entry = sender == FRefresher ? FindEntry(feed.FeedID, feed.Index) : nullptr;
    // Given another address meanwhile, the entry is the new feed's: nothing of the old one's
    // download may go to it.
    if (!entry || entry->FeedURL != feed.FeedURL) {
        if (!outcome.TemporaryFile.empty())
            DeleteFile(outcome.TemporaryFile);
        return;
    }
    std::string errorText = outcome.ErrorText;
    TDateTime lastModified = feed.LastModifiedDate;
    bool replaced = outcome.Downloaded;
    TCacheState& cache = entry->CacheState;
    if (!outcome.TemporaryFile.empty()) {
        const std::string path = CacheFileName(feed.FeedID);
        try {
            // The first download of this run of the program: the worker could not tell the cached
            // document's bytes, so an identical one is kept here as it is.
            if (cache.Known && cache.Cached && cache.Hash.empty() &&
                SameFileBytes(outcome.TemporaryFile, path)) {
                DeleteFile(outcome.TemporaryFile);
                RestrictToOwner(path);
            } else {
                CommitCacheFile(outcome.TemporaryFile, path);
            }
        } catch (const EFCreateError& e) {
            // The old document stays, and with it the date and tag it was served with.
            errorText = e.Message();
            lastModified = entry->LastModifiedDate;
            replaced = false;
        }
    }
    if (replaced) {
        cache.Known = true;
        cache.Cached = true;
        cache.Hash = feed.Hash;
        cache.ETag = feed.ETag;
        try {
            WriteETag(feed.FeedID, feed.ETag);
        } catch (const EFCreateError&) {
            // No tag is better than the old document's: the next check is only less conditional.
            ForgetValidators(feed.FeedID);
            cache.ETag.clear();
        }
    }
    entry->RefreshDate = feed.RefreshDate;
    entry->LastModifiedDate = lastModified;
    entry->ErrorText = errorText;
}

TFeedListItem* TRefreshController::FindEntry(const std::string& id, int index) const {
    if (index >= 0 && index < FFeeds.Count() && FFeeds.Item(index)->FeedID == id)
        return FFeeds.Item(index);
    for (const auto& item : FFeeds.Items)
        if (item->FeedID == id)
            return item.get();
    return nullptr;
}
