#include "news/ItemStoreWriter.h"

#include <chrono>
#include <exception>

#include "cache/CacheFiles.h"
#include "news/ItemIdentity.h"
#include "platform/Files.h"

TItemStoreWriter::TItemStoreWriter(TItemStore& store) : FStore(store) {
    FThread = std::thread([this] { Run(); });
}

TItemStoreWriter::~TItemStoreWriter() {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FClosing = true;
    }
    FChanged.notify_all();
    FThread.join();
}

uint64_t TItemStoreWriter::Post(TJob job) {
    uint64_t number = 0;
    {
        std::lock_guard<std::mutex> lock(FLock);
        FJobs.push_back(std::move(job));
        number = ++FQueued;
    }
    FChanged.notify_all();
    return number;
}

uint64_t TItemStoreWriter::Queued() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FQueued;
}

bool TItemStoreWriter::WaitIdle(int ms) {
    std::unique_lock<std::mutex> lock(FLock);
    const uint64_t target = FQueued;
    auto done = [&] { return FReported >= target; };
    if (ms < 0) {
        FChanged.wait(lock, done);
        return true;
    }
    return FChanged.wait_for(lock, std::chrono::milliseconds(ms), done);
}

void TItemStoreWriter::Run() {
    uint64_t done = 0;
    for (;;) {
        std::deque<TJob> jobs;
        {
            std::unique_lock<std::mutex> lock(FLock);
            FChanged.wait(lock, [this] { return FClosing || !FJobs.empty(); });
            if (FJobs.empty())
                return;
            jobs.swap(FJobs);
        }
        TStoreWriteReport report;
        for (TJob& job : jobs) {
            job(FStore, report);
            ++done;
        }
        // Counted and said only to a listener: without one, the store keeps its failure for
        // whoever asks it (tovel-inspect refresh, once the writes are done).
        if (OnWritten) {
            report.Counts = FStore.WrittenCounts();
            report.Failure = FStore.TakeFailure();
            report.Done = done;
            OnWritten(report);
        }
        {
            std::lock_guard<std::mutex> lock(FLock);
            FReported = done;
        }
        FChanged.notify_all();
    }
}

uint64_t TItemStoreWriter::RecordDocumentFile(const std::string& feedId, const std::string& path,
                                              TDateTime now) {
    return Post([feedId, path, now](TItemStore& store, TStoreWriteReport& report) {
        std::vector<std::string> ids;
        try {
            if (!FileExists(path))
                return;
            ids = DocumentItemIds(ReadFileToString(path));
        } catch (const std::exception&) {
            // The view shows this feed's error instead of its items: nothing to record.
            return;
        }
        std::vector<TStoreItem> items;
        items.reserve(ids.size());
        for (std::string& id : ids)
            items.push_back({std::move(id), 0});
        report.NewItems.emplace_back(feedId, store.RecordDocument(feedId, items, now));
    });
}

uint64_t TItemStoreWriter::RecordAppliedDocument(const TFeedList& feeds, const std::string& feedId,
                                                 const std::string& fetchedUrl, bool downloaded,
                                                 TDateTime now) {
    if (!downloaded)
        return 0;
    for (const auto& entry : feeds.Items) {
        if (entry->FeedID != feedId)
            continue;
        // An outcome the refresh dropped left its entry as it was: gone, or at another address.
        if (entry->FeedURL != fetchedUrl || !entry->ErrorText.empty())
            return 0;
        return RecordDocumentFile(feedId, CacheFileName(feedId), now);
    }
    return 0;
}

uint64_t TItemStoreWriter::RecordDocument(const std::string& feedId, std::vector<TStoreItem> items,
                                          TDateTime now) {
    return Post([feedId, items = std::move(items), now](TItemStore& store, TStoreWriteReport& report) {
        report.NewItems.emplace_back(feedId, store.RecordDocument(feedId, items, now));
    });
}

uint64_t TItemStoreWriter::MarkRead(const std::string& feedId, std::vector<std::string> ids) {
    return Post([feedId, ids = std::move(ids)](TItemStore& store, TStoreWriteReport&) {
        store.MarkRead(feedId, ids);
    });
}

uint64_t TItemStoreWriter::MarkFeedsRead(std::vector<std::string> feedIds) {
    return Post([feedIds = std::move(feedIds)](TItemStore& store, TStoreWriteReport&) {
        store.MarkFeedRead(feedIds);
    });
}

uint64_t TItemStoreWriter::MarkFeedUnread(const std::string& feedId) {
    return Post([feedId](TItemStore& store, TStoreWriteReport&) { store.MarkFeedUnread(feedId); });
}

uint64_t TItemStoreWriter::DeleteFeeds(std::vector<std::string> feedIds) {
    return Post([feedIds = std::move(feedIds)](TItemStore& store, TStoreWriteReport&) {
        for (const std::string& feedId : feedIds)
            store.DeleteFeed(feedId);
    });
}

uint64_t TItemStoreWriter::ReaddressFeed(const std::string& feedId) {
    return Post([feedId](TItemStore& store, TStoreWriteReport&) { store.ReaddressFeed(feedId); });
}

uint64_t TItemStoreWriter::Purge(TDateTime now) {
    return Post([now](TItemStore& store, TStoreWriteReport&) { store.Purge(now); });
}
