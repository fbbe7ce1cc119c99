#include "store/ItemStore.h"

#include <sqlite3.h>

#include <cstdio>

#include "platform/Files.h"

namespace {

// The schema this program writes; a store of any other version is not read.
const int kSchemaVersion = 1;

// Feeds get a small key so that an item row does not repeat its 36-character FeedID. An item is
// in its feed's current document while "current" is 1; "readdressed" asks the next document
// of the feed to forget at once the items it no longer holds. Each feed's row keeps the counts of
// its current document, which every write that changes them sets again (Recount), so that
// start-up reads one row per feed instead of every item.
const char kSchema[] = R"(
CREATE TABLE feeds(
    key INTEGER PRIMARY KEY,
    feed_id TEXT NOT NULL UNIQUE,
    readdressed INTEGER NOT NULL DEFAULT 0,
    items INTEGER NOT NULL DEFAULT 0,
    unread INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE items(
    feed INTEGER NOT NULL,
    id TEXT NOT NULL,
    date REAL NOT NULL DEFAULT 0,
    first_seen REAL NOT NULL,
    last_seen REAL NOT NULL,
    current INTEGER NOT NULL,
    read INTEGER NOT NULL,
    PRIMARY KEY(feed, id)
) WITHOUT ROWID;
)";

// A failing SQLite call, with SQLite's own message; only inside this file.
class ESQLite : public Exception {
public:
    ESQLite(sqlite3* db, int code) : Exception(db ? sqlite3_errmsg(db) : sqlite3_errstr(code)), Code(code) {}
    int Code;
};

// The file holds no store of ours: not a database, a damaged one, or another program's.
bool IsDamage(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_SCHEMA;
}

void Check(sqlite3* db, int code) {
    if (code != SQLITE_OK && code != SQLITE_ROW && code != SQLITE_DONE)
        throw ESQLite(db, code);
}

void Exec(sqlite3* db, const char* sql) {
    Check(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
}

// One prepared statement, finalized at the end of its scope. Parameters count from 1, columns
// from 0.
class TStatement {
public:
    TStatement(sqlite3* db, const char* sql) : FDb(db), FOwned(true) {
        Check(db, sqlite3_prepare_v2(db, sql, -1, &FStmt, nullptr));
    }
    // The statement kept in prepared for db under its text's address, prepared on first use; it
    // stays there, reset, at the end of the scope. The writes run the same few statements for every
    // item and every document: compiling them once keeps SQLite's parser out of each transaction.
    TStatement(sqlite3* db, std::map<const char*, sqlite3_stmt*>& prepared, const char* sql) : FDb(db) {
        sqlite3_stmt*& kept = prepared[sql];
        if (!kept)
            Check(db, sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &kept, nullptr));
        FStmt = kept;
    }
    ~TStatement() {
        if (FOwned)
            sqlite3_finalize(FStmt);
        else
            Reset();
    }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    TStatement& Bind(int index, const std::string& text) {
        Check(FDb,
              sqlite3_bind_text(FStmt, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC));
        return *this;
    }
    TStatement& Bind(int index, long long value) {
        Check(FDb, sqlite3_bind_int64(FStmt, index, value));
        return *this;
    }
    TStatement& Bind(int index, double value) {
        Check(FDb, sqlite3_bind_double(FStmt, index, value));
        return *this;
    }
    // True while there is a row to read.
    bool Step() {
        const int code = sqlite3_step(FStmt);
        Check(FDb, code);
        return code == SQLITE_ROW;
    }
    // Runs a statement that returns no rows; the number of rows it changed.
    int Run() {
        Step();
        Reset();
        return sqlite3_changes(FDb);
    }
    void Reset() {
        sqlite3_reset(FStmt);
        sqlite3_clear_bindings(FStmt);
    }
    long long Int(int column) const { return sqlite3_column_int64(FStmt, column); }
    std::string Text(int column) const {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(FStmt, column));
        return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(FStmt, column)))
                    : std::string();
    }

private:
    sqlite3* FDb;
    sqlite3_stmt* FStmt = nullptr;
    bool FOwned = false;
};

long long QueryInt(sqlite3* db, const char* sql) {
    TStatement statement(db, sql);
    return statement.Step() ? statement.Int(0) : 0;
}

std::string QueryText(sqlite3* db, const char* sql) {
    TStatement statement(db, sql);
    return statement.Step() ? statement.Text(0) : std::string();
}

// Per FeedID with a current document, the counts kept in its row.
std::map<std::string, TFeedCounts> CountsOf(sqlite3* db) {
    std::map<std::string, TFeedCounts> counts;
    try {
        TStatement select(db, "SELECT feed_id, items, unread FROM feeds WHERE items>0");
        while (select.Step())
            counts[select.Text(0)] = {static_cast<int>(select.Int(1)), static_cast<int>(select.Int(2))};
    } catch (const ESQLite&) {
        // Nothing counted is shown as nothing unread; the news themselves still show.
        counts.clear();
    }
    return counts;
}

// The first of base, base + "2", base + "3", ... that names no file, counting the store's two
// companions too.
std::string FreeName(const std::string& base) {
    for (int n = 1;; ++n) {
        const std::string name = n == 1 ? base : base + std::to_string(n);
        if (!FileExists(name) && !FileExists(name + "-wal") && !FileExists(name + "-shm"))
            return name;
    }
}

// Renames the store and its companion files to aside; false when the store itself stays.
bool SetAside(const std::string& path, const std::string& aside) {
    if (std::rename(path.c_str(), aside.c_str()) != 0)
        return false;
    for (const char* companion : {"-wal", "-shm"})
        if (FileExists(path + companion))
            std::rename((path + companion).c_str(), (aside + companion).c_str());
    return true;
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

TItemStore::~TItemStore() {
    Close();
}

void TItemStore::Close() {
    for (auto& [sql, statement] : FPrepared)
        sqlite3_finalize(statement);
    FPrepared.clear();
    if (FReader)
        sqlite3_close_v2(FReader);
    FReader = nullptr;
    if (FDb)
        sqlite3_close_v2(FDb);
    FDb = nullptr;
    FSaving = false;
}

void TItemStore::OpenReader(const std::string& path) {
    // The writing connection has made the file and its log index, so a read-only one can share
    // them; WAL lets it read the last commit while a write is under way.
    if (sqlite3_open_v2(path.c_str(), &FReader, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(FReader);
        FReader = nullptr;
        return;
    }
    // Only a writer rebuilding the log index after a crash, or resetting the log, holds a reader
    // off, and only for a moment.
    sqlite3_busy_timeout(FReader, 2000);
}

bool TItemStore::Read(const std::function<void(sqlite3* db)>& read) {
    {
        std::lock_guard<std::mutex> lock(FReadLock);
        if (FReader) {
            read(FReader);
            return true;
        }
    }
    std::lock_guard<std::mutex> lock(FLock);
    if (!FDb)
        return false;
    read(FDb);
    return true;
}

bool TItemStore::OpenFile(const std::string& path, bool& created) {
    created = false;
    Check(FDb, sqlite3_open_v2(path.c_str(), &FDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr));
    // Another program on the same data folder (the diagnostic tool) may hold the lock a moment.
    sqlite3_busy_timeout(FDb, 2000);
    if (LowerCaseAscii(QueryText(FDb, "PRAGMA journal_mode=WAL")) != "wal")
        return false;
    // In WAL mode a commit that the power loses is lost alone; the file stays whole.
    Exec(FDb, "PRAGMA synchronous=NORMAL");
    const long long version = QueryInt(FDb, "PRAGMA user_version");
    if (version == 0) {
        if (QueryInt(FDb, "SELECT count(*) FROM sqlite_master") != 0)
            return false;
        Exec(FDb, "BEGIN");
        Exec(FDb, kSchema);
        Exec(FDb, ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        Exec(FDb, "COMMIT");
        RestrictToOwner(path);
        created = true;
        return true;
    }
    if (version != kSchemaVersion)
        return false;
    // A page damaged inside would fail some later call; find it now, while the store can still
    // be set aside. This reads through the connection, under its locks, so a store that another
    // program (the diagnostic tool, or the reader) is writing is never taken for a damaged one.
    return QueryText(FDb, "PRAGMA quick_check") == "ok";
}

TStoreOpen TItemStore::Open(const std::string& path) {
    // SQLite counts the memory it takes under one lock for the whole process, which the writing
    // and the reading threads would otherwise take turns at on every allocation. Only possible
    // before SQLite's first use; afterwards the call changes nothing.
    static const int kNoMemoryCount = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    (void)kNoMemoryCount;
    std::scoped_lock lock(FLock, FReadLock);
    Close();
    FMessage.clear();
    FFailure.clear();
    FFailureTaken = false;
    bool created = false;
    try {
        if (OpenFile(path, created)) {
            FSaving = true;
            OpenReader(path);
            return created ? TStoreOpen::Created : TStoreOpen::Opened;
        }
    } catch (const ESQLite& e) {
        if (!IsDamage(e.Code)) {
            Close();
            FMessage = "The read state of the news cannot be kept: " + std::string(e.what());
            return TStoreOpen::Failed;
        }
    }
    // Set aside while the damaged file is still open: closing the last connection deletes the
    // log by its name, and the log belongs with the file it was written for.
    const std::string aside = FreeName(path + ".damaged");
    const bool setAside = SetAside(path, aside);
    Close();
    if (!setAside) {
        FMessage = "The read state of the news is damaged and cannot be set aside";
        return TStoreOpen::Failed;
    }
    try {
        if (OpenFile(path, created)) {
            FSaving = true;
            OpenReader(path);
            FMessage = "The read state of the news was damaged; it was set aside as " + FileNameOf(aside) +
                       " and started anew";
            return TStoreOpen::Recreated;
        }
    } catch (const ESQLite& e) {
        FMessage = "The read state of the news cannot be kept: " + std::string(e.what());
    }
    Close();
    if (FMessage.empty())
        FMessage = "The read state of the news cannot be kept";
    return TStoreOpen::Failed;
}

bool TItemStore::Saving() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FSaving;
}

std::string TItemStore::TakeFailure() {
    std::lock_guard<std::mutex> lock(FLock);
    if (FFailureTaken || FFailure.empty())
        return std::string();
    FFailureTaken = true;
    return FFailure;
}

void TItemStore::Write(const char* what, const std::function<void()>& write) {
    if (!FSaving || !FDb)
        return;
    try {
        Exec(FDb, "BEGIN IMMEDIATE");
        try {
            write();
            Exec(FDb, "COMMIT");
        } catch (...) {
            sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    } catch (const std::exception& e) {
        // Said once; the reader goes on without saving rather than failing at every item.
        FSaving = false;
        FFailure = "The read state of the news is no longer saved (" + std::string(what) + "): " + e.what();
    }
}

long long TItemStore::FeedKey(const std::string& feedId) {
    TStatement insert(FDb, FPrepared, "INSERT OR IGNORE INTO feeds(feed_id) VALUES(?)");
    insert.Bind(1, feedId).Run();
    return FindFeedKey(feedId);
}

void TItemStore::Recount(long long key) {
    TStatement update(FDb, FPrepared,
                      "UPDATE feeds SET "
                      "items=(SELECT count(*) FROM items WHERE feed=?1 AND current=1), "
                      "unread=(SELECT count(*) FROM items WHERE feed=?1 AND current=1 AND read=0) "
                      "WHERE key=?1");
    update.Bind(1, key).Run();
}

long long TItemStore::FindFeedKey(const std::string& feedId) {
    TStatement select(FDb, FPrepared, "SELECT key FROM feeds WHERE feed_id=?");
    select.Bind(1, feedId);
    return select.Step() ? select.Int(0) : -1;
}

void TItemStore::Seed(const std::map<std::string, std::vector<std::string>>& feedIds, TDateTime now) {
    std::lock_guard<std::mutex> lock(FLock);
    Write("seed", [&] {
        TStatement insert(FDb, FPrepared,
                          "INSERT OR IGNORE INTO items(feed, id, first_seen, last_seen, current, read) "
                          "VALUES(?, ?, ?, ?, 1, 1)");
        for (const auto& [feedId, ids] : feedIds) {
            const long long key = FeedKey(feedId);
            for (const std::string& id : ids)
                insert.Bind(1, key).Bind(2, id).Bind(3, now).Bind(4, now).Run();
            Recount(key);
        }
    });
}

int TItemStore::RecordDocument(const std::string& feedId, const std::vector<TStoreItem>& items,
                               TDateTime now) {
    std::lock_guard<std::mutex> lock(FLock);
    int added = 0;
    Write("record", [&] {
        added = 0;
        const long long key = FeedKey(feedId);
        TStatement leave(FDb, FPrepared, "UPDATE items SET current=0 WHERE feed=? AND current=1");
        leave.Bind(1, key).Run();
        TStatement seen(FDb, FPrepared,
                        "UPDATE items SET current=1, last_seen=?, date=? WHERE feed=? AND id=?");
        TStatement insert(FDb, FPrepared,
                          "INSERT INTO items(feed, id, date, first_seen, last_seen, current, read) "
                          "VALUES(?, ?, ?, ?, ?, 1, 0)");
        size_t rows = 0;
        for (const TStoreItem& item : items) {
            if (seen.Bind(1, now).Bind(2, item.Date).Bind(3, key).Bind(4, item.Id).Run() == 0) {
                insert.Bind(1, key).Bind(2, item.Id).Bind(3, item.Date).Bind(4, now).Bind(5, now).Run();
                ++added;
            }
            if (OnRowForTesting)
                OnRowForTesting(++rows);
        }
        TStatement readdressed(FDb, FPrepared, "SELECT readdressed FROM feeds WHERE key=?");
        readdressed.Bind(1, key);
        const bool forgetNow = readdressed.Step() && readdressed.Int(0) != 0;
        readdressed.Reset();
        TStatement forget(FDb, FPrepared,
                          "DELETE FROM items WHERE feed=? AND current=0 AND (? OR last_seen<?)");
        forget.Bind(1, key).Bind(2, forgetNow ? 1LL : 0LL).Bind(3, now - kKeepDays).Run();
        if (forgetNow) {
            TStatement clear(FDb, FPrepared, "UPDATE feeds SET readdressed=0 WHERE key=?");
            clear.Bind(1, key).Run();
        }
        Recount(key);
    });
    return FSaving ? added : 0;
}

void TItemStore::MarkRead(const std::string& feedId, const std::vector<std::string>& ids) {
    std::lock_guard<std::mutex> lock(FLock);
    Write("mark read", [&] {
        const long long key = FindFeedKey(feedId);
        TStatement update(FDb, FPrepared, "UPDATE items SET read=1 WHERE feed=? AND id=?");
        for (const std::string& id : ids)
            update.Bind(1, key).Bind(2, id).Run();
        Recount(key);
    });
}

void TItemStore::MarkFeedRead(const std::vector<std::string>& feedIds) {
    std::lock_guard<std::mutex> lock(FLock);
    Write("mark read", [&] {
        TStatement update(FDb, FPrepared, "UPDATE items SET read=1 WHERE read=0 AND feed=?");
        for (const std::string& feedId : feedIds) {
            const long long key = FindFeedKey(feedId);
            update.Bind(1, key).Run();
            Recount(key);
        }
    });
}

void TItemStore::MarkFeedUnread(const std::string& feedId) {
    std::lock_guard<std::mutex> lock(FLock);
    Write("mark unread", [&] {
        const long long key = FindFeedKey(feedId);
        TStatement update(FDb, FPrepared, "UPDATE items SET read=0 WHERE current=1 AND feed=?");
        update.Bind(1, key).Run();
        Recount(key);
    });
}

void TItemStore::DeleteFeed(const std::string& feedId) {
    std::lock_guard<std::mutex> lock(FLock);
    Write("delete", [&] {
        const long long key = FindFeedKey(feedId);
        TStatement items(FDb, FPrepared, "DELETE FROM items WHERE feed=?");
        items.Bind(1, key).Run();
        TStatement feed(FDb, FPrepared, "DELETE FROM feeds WHERE key=?");
        feed.Bind(1, key).Run();
    });
}

void TItemStore::ReaddressFeed(const std::string& feedId) {
    std::lock_guard<std::mutex> lock(FLock);
    Write("new address", [&] {
        const long long key = FeedKey(feedId);
        TStatement leave(FDb, FPrepared, "UPDATE items SET current=0 WHERE feed=? AND current=1");
        leave.Bind(1, key).Run();
        TStatement mark(FDb, FPrepared, "UPDATE feeds SET readdressed=1 WHERE key=?");
        mark.Bind(1, key).Run();
        Recount(key);
    });
}

void TItemStore::Purge(TDateTime now) {
    std::lock_guard<std::mutex> lock(FLock);
    Write("purge", [&] {
        TStatement forget(FDb, FPrepared, "DELETE FROM items WHERE current=0 AND last_seen<?");
        forget.Bind(1, now - kKeepDays).Run();
    });
}

std::map<std::string, TFeedCounts> TItemStore::UnreadCounts() {
    std::map<std::string, TFeedCounts> counts;
    Read([&](sqlite3* db) { counts = CountsOf(db); });
    return counts;
}

std::map<std::string, TFeedCounts> TItemStore::WrittenCounts() {
    std::lock_guard<std::mutex> lock(FLock);
    return FDb ? CountsOf(FDb) : std::map<std::string, TFeedCounts>();
}

std::vector<std::string> TItemStore::UnreadIds(const std::string& feedId) {
    std::vector<std::string> ids;
    Read([&](sqlite3* db) {
        try {
            TStatement select(db, "SELECT id FROM items WHERE current=1 AND read=0 AND feed=(SELECT key FROM "
                                  "feeds WHERE feed_id=?) ORDER BY id");
            select.Bind(1, feedId);
            while (select.Step())
                ids.push_back(select.Text(0));
        } catch (const ESQLite&) {
            ids.clear();
        }
    });
    return ids;
}

bool TItemStore::ExecForTesting(const std::string& sql) {
    std::lock_guard<std::mutex> lock(FLock);
    return FDb && sqlite3_exec(FDb, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}
