#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "catalogue/FeedListCls.h"
#include "platform/SysUtils.h"
#include "store/ItemStore.h"

// What the writer did in one pass over its queue, handed to OnWritten on the writer's thread.
struct TStoreWriteReport {
    // Per document recorded, in the order queued: its FeedID and how many of its items the store
    // had never seen.
    std::vector<std::pair<std::string, int>> NewItems;
    // Per FeedID with a current document: its items and unread items after the pass.
    std::map<std::string, TFeedCounts> Counts;
    // The message of the store's first failed write, once; "" otherwise.
    std::string Failure;
    // How many jobs have run since the writer started, this pass included.
    uint64_t Done = 0;
};

// Runs the store's writes on a thread of its own, one after another in the order they were
// queued, so that the window never waits for a transaction. Queueing never blocks; each pass over
// the queue ends with one report of the new counts. The store's own reads (counts, unread
// identities) may still be made on any thread.
class TItemStoreWriter {
public:
    // store must outlive the writer.
    explicit TItemStoreWriter(TItemStore& store);
    // Runs what is queued, then ends the thread.
    ~TItemStoreWriter();
    TItemStoreWriter(const TItemStoreWriter&) = delete;
    TItemStoreWriter& operator=(const TItemStoreWriter&) = delete;

    // Called on the writer's thread after each pass over the queue; set it before the first job.
    // Without it the passes count nothing, and the store's failure stays for TakeFailure.
    std::function<void(TStoreWriteReport& report)> OnWritten;

    // Records the feed's document as it is in the file at path when the job runs: its items are
    // read as the news view reads them. A missing file, or one the view cannot read as a feed,
    // records nothing (a feed deleted or given a new address meanwhile has no document).
    uint64_t RecordDocumentFile(const std::string& feedId, const std::string& path, TDateTime now);
    // Records the document a refresh has just put in place for feedId, fetched from fetchedUrl,
    // when the catalogue's entry took it: the entry is still there at that address and has no
    // error, and the outcome was a download. Returns the job's number, 0 when nothing is queued.
    // The window and tovel-inspect refresh record through this one rule.
    uint64_t RecordAppliedDocument(const TFeedList& feeds, const std::string& feedId,
                                   const std::string& fetchedUrl, bool downloaded, TDateTime now);
    // Records a document whose items are given.
    uint64_t RecordDocument(const std::string& feedId, std::vector<TStoreItem> items, TDateTime now);
    uint64_t MarkRead(const std::string& feedId, std::vector<std::string> ids);
    uint64_t MarkFeedsRead(std::vector<std::string> feedIds);
    uint64_t MarkFeedUnread(const std::string& feedId);
    uint64_t DeleteFeeds(std::vector<std::string> feedIds);
    uint64_t ReaddressFeed(const std::string& feedId);
    uint64_t Purge(TDateTime now);

    // The number of jobs queued so far; each queueing call returns the new number, which a
    // report's Done reaches once that job has run.
    uint64_t Queued() const;
    // Waits until every job queued so far has run and been reported, at most ms milliseconds
    // (negative: no bound); true when it has.
    bool WaitIdle(int ms = -1);

private:
    using TJob = std::function<void(TItemStore& store, TStoreWriteReport& report)>;
    uint64_t Post(TJob job);
    void Run();

    TItemStore& FStore;
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<TJob> FJobs;
    uint64_t FQueued = 0;
    uint64_t FReported = 0;
    bool FClosing = false;
    std::thread FThread;
};
