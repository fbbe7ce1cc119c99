#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SysUtils.h"

struct sqlite3;
struct sqlite3_stmt;

// The read state of the news items, kept in SQLite ("items.db" in the data folder, WAL mode).
// An item is known by its feed's FeedID and its identity text within that feed, so the same item
// in two feeds is two rows. Per item the store keeps when it was first and last seen in its
// feed's document, whether it is in the current document and whether it has been read.
//
// No call raises and none stops the caller: a failing write is reported once (TakeFailure) and
// the store then stops saving; the calls that read go on answering from what was saved. The
// writes may run on a background thread while the window reads: each write is one short
// transaction on a connection of its own behind its own lock, and the reads (counts, unread
// identities) go through a second, read-only connection behind another lock, so that a read never
// waits for a write's transaction. A read sees the store as the last committed write left it.

// One item of a feed's document as the store records it.
struct TStoreItem {
    std::string Id;
    // UTC; 0 when the item has no date.
    TDateTime Date = 0;
};

// How the store came up.
enum class TStoreOpen {
    // An existing store was opened.
    Opened,
    // No store was there; an empty one was made. Seed it with the cached documents.
    Created,
    // The store was damaged: it was set aside and an empty one made. Seed it as a new one.
    Recreated,
    // No store could be opened or made: nothing is saved this run.
    Failed,
};

// The items of one feed's current document and how many of them are unread.
struct TFeedCounts {
    int Items = 0;
    int Unread = 0;
};

class TItemStore {
public:
    // An item that left its feed's document is kept this many days, so that it does not come
    // back as new when the feed republishes it.
    static constexpr double kKeepDays = 30;

    TItemStore() = default;
    ~TItemStore();
    TItemStore(const TItemStore&) = delete;
    TItemStore& operator=(const TItemStore&) = delete;

    // Opens or makes the store at path. A file that SQLite cannot read as this store is renamed,
    // with its "-wal" and "-shm" files, to path + ".damaged" (".damaged2", ".damaged3", ... when
    // that name is taken) and a new store is made; Message() then says so.
    TStoreOpen Open(const std::string& path);
    // The sentence for the status bar about the last Open: "" after Opened and Created.
    const std::string& Message() const { return FMessage; }
    // False after a write failed or when the store could not be opened.
    bool Saving() const;
    // The message of the first failed write, once; "" afterwards and before any failure.
    std::string TakeFailure();

    // Records every item of a new store as read and in its feed's document, so that starting
    // with a store does not show all the cached news as new. Only into an empty store.
    void Seed(const std::map<std::string, std::vector<std::string>>& feedIds, TDateTime now);

    // Records the whole current document of a feed at time now; returns how many of its items
    // the store had never seen (unread from now on). Items seen before stay as they are (a new
    // title under the same identity is not new); those no longer in the document leave it and
    // are forgotten kKeepDays after they were last seen. A repeated identity counts once.
    int RecordDocument(const std::string& feedId, const std::vector<TStoreItem>& items, TDateTime now);

    // Marks the named items of a feed read; unknown identities are ignored.
    void MarkRead(const std::string& feedId, const std::vector<std::string>& ids);
    // Marks every item of the feeds read.
    void MarkFeedRead(const std::vector<std::string>& feedIds);
    // Marks the items of the feed's current document unread.
    void MarkFeedUnread(const std::string& feedId);
    // Forgets the feed and its items.
    void DeleteFeed(const std::string& feedId);
    // The feed got a new address: it has no current document until the next RecordDocument,
    // which keeps the rows of the items it still holds (their read state too) and forgets the
    // others at once instead of keeping them for kKeepDays.
    void ReaddressFeed(const std::string& feedId);
    // Forgets the items of every feed that left their documents more than kKeepDays before now.
    void Purge(TDateTime now);

    // Per FeedID with a current document: its items and unread items.
    std::map<std::string, TFeedCounts> UnreadCounts();
    // The same, read on the writing connection: for the thread that writes, so that its reads
    // never hold up another thread's.
    std::map<std::string, TFeedCounts> WrittenCounts();
    // The unread identities of the feed's current document, sorted.
    std::vector<std::string> UnreadIds(const std::string& feedId);

    // Tests: runs SQL on the store's writing connection (to limit its size, or look at its rows); false
    // when it fails.
    bool ExecForTesting(const std::string& sql);
    // Tests: called with the number of rows written so far inside RecordDocument's transaction.
    std::function<void(size_t)> OnRowForTesting;

private:
    void Close();
    // Opens the read-only connection beside the writing one; without it, reads share the writing
    // connection and its lock.
    void OpenReader(const std::string& path);
    // Runs read with the connection the reads use, under that connection's lock; false when there
    // is no store.
    bool Read(const std::function<void(sqlite3* db)>& read);
    // Opens path and makes or checks the schema; false when the file is not a store.
    bool OpenFile(const std::string& path, bool& created);
    // Runs write as one transaction unless the store has stopped saving; a failure rolls back,
    // stops the saving and keeps its message for TakeFailure.
    void Write(const char* what, const std::function<void()>& write);
    // The key of the feed's row, made when missing.
    long long FeedKey(const std::string& feedId);
    // Sets the counts kept in the feed's row from its items.
    void Recount(long long key);
    // The key of the feed's row, or -1 when the store has none.
    long long FindFeedKey(const std::string& feedId);

    // The writing connection and its lock. Open takes both locks.
    mutable std::mutex FLock;
    sqlite3* FDb = nullptr;
    // The writes' statements, each compiled once for FDb.
    std::map<const char*, sqlite3_stmt*> FPrepared;
    // The reading connection and its lock.
    std::mutex FReadLock;
    sqlite3* FReader = nullptr;
    bool FSaving = false;
    std::string FMessage;
    std::string FFailure;
    bool FFailureTaken = false;
};
