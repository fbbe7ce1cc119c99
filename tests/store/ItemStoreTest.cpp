#include "store/ItemStore.h"

#include <gtest/gtest.h>

#include <csignal>
#include <future>
#include <map>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TempDir.h"

namespace {

const TDateTime kDay1 = 46000;

std::vector<TStoreItem> Items(std::initializer_list<const char*> ids) {
    std::vector<TStoreItem> items;
    for (const char* id : ids)
        items.push_back({id, 0});
    return items;
}

std::vector<std::string> Ids(std::initializer_list<const char*> ids) {
    return std::vector<std::string>(ids.begin(), ids.end());
}

TFeedCounts CountsOf(TItemStore& store, const std::string& feedId) {
    const auto counts = store.UnreadCounts();
    const auto found = counts.find(feedId);
    return found == counts.end() ? TFeedCounts{} : found->second;
}

class ItemStoreTest : public ::testing::Test {
protected:
    TempDir Dir;
    std::string Path = Dir.File("items.db");
    TItemStore Store;

    void SetUp() override { ASSERT_EQ(TStoreOpen::Created, Store.Open(Path)); }
};

TEST_F(ItemStoreTest, NewItemsAreUnreadAndCountedPerFeed) {
    EXPECT_EQ(3, Store.RecordDocument("A", Items({"a1", "a2", "a3"}), kDay1));
    // The same item in two feeds is an item of each.
    EXPECT_EQ(2, Store.RecordDocument("B", Items({"a1", "b2"}), kDay1));
    EXPECT_EQ(3, CountsOf(Store, "A").Unread);
    EXPECT_EQ(2, CountsOf(Store, "B").Unread);

    Store.MarkRead("A", Ids({"a1", "unknown"}));
    EXPECT_EQ(2, CountsOf(Store, "A").Unread);
    EXPECT_EQ(3, CountsOf(Store, "A").Items);
    EXPECT_EQ(2, CountsOf(Store, "B").Unread) << "reading it in one feed leaves the other";
    EXPECT_EQ(Ids({"a2", "a3"}), Store.UnreadIds("A"));

    // The next document: one item stays, one is new, a repeated identity counts once.
    EXPECT_EQ(1, Store.RecordDocument("A", Items({"a1", "a4", "a4"}), kDay1 + 1));
    EXPECT_EQ(2, CountsOf(Store, "A").Items);
    EXPECT_EQ(Ids({"a4"}), Store.UnreadIds("A"));
}

TEST_F(ItemStoreTest, AnItemBackInItsDocumentWithin30DaysIsNotNew) {
    Store.RecordDocument("A", Items({"old", "keep"}), kDay1);
    Store.MarkFeedRead({"A"});
    Store.RecordDocument("A", Items({"keep"}), kDay1 + 1);
    EXPECT_EQ(1, CountsOf(Store, "A").Items);
    // Republished 29 days after it was last seen: still known and still read.
    EXPECT_EQ(0, Store.RecordDocument("A", Items({"old", "keep"}), kDay1 + 29));
    EXPECT_EQ(0, CountsOf(Store, "A").Unread);

    // Gone for more than 30 days: forgotten, so it comes back as new.
    Store.RecordDocument("A", Items({"keep"}), kDay1 + 30);
    Store.Purge(kDay1 + 60);
    EXPECT_EQ(0, CountsOf(Store, "A").Unread) << "a purge keeps the items of the current document";
    EXPECT_EQ(1, Store.RecordDocument("A", Items({"old", "keep"}), kDay1 + 61));
    EXPECT_EQ(Ids({"old"}), Store.UnreadIds("A"));
}

TEST_F(ItemStoreTest, MarkingFeedsReadAndUnread) {
    Store.RecordDocument("A", Items({"a1", "a2"}), kDay1);
    Store.RecordDocument("B", Items({"b1"}), kDay1);
    Store.RecordDocument("C", Items({"c1"}), kDay1);
    Store.MarkFeedRead({"A", "B"});
    EXPECT_EQ(0, CountsOf(Store, "A").Unread);
    EXPECT_EQ(0, CountsOf(Store, "B").Unread);
    EXPECT_EQ(1, CountsOf(Store, "C").Unread);
    // Only what the document shows becomes unread; an item that left it stays read.
    Store.RecordDocument("A", Items({"a2"}), kDay1 + 1);
    Store.MarkFeedUnread("A");
    EXPECT_EQ(Ids({"a2"}), Store.UnreadIds("A"));
    Store.RecordDocument("A", Items({"a1", "a2"}), kDay1 + 2);
    EXPECT_EQ(Ids({"a2"}), Store.UnreadIds("A"));
}

TEST_F(ItemStoreTest, DeletingAndReaddressingAFeed) {
    Store.RecordDocument("A", Items({"a1", "a2", "a3"}), kDay1);
    Store.RecordDocument("B", Items({"a1"}), kDay1);
    Store.MarkRead("A", Ids({"a1", "a2"}));

    // A new address: no document until the next download, whose known items keep their state
    // while the others are forgotten at once.
    Store.ReaddressFeed("A");
    EXPECT_EQ(0, CountsOf(Store, "A").Items);
    EXPECT_EQ(1, Store.RecordDocument("A", Items({"a1", "new"}), kDay1 + 1));
    EXPECT_EQ(Ids({"new"}), Store.UnreadIds("A"));
    EXPECT_EQ(1, Store.RecordDocument("A", Items({"a1", "a2", "new"}), kDay1 + 2))
        << "a2 was forgotten with the old address";
    // From then on the 30 days hold again.
    Store.RecordDocument("A", Items({"a1"}), kDay1 + 3);
    EXPECT_EQ(0, Store.RecordDocument("A", Items({"a1", "new"}), kDay1 + 4));

    Store.DeleteFeed("A");
    EXPECT_EQ(0u, Store.UnreadCounts().count("A"));
    EXPECT_EQ(1, CountsOf(Store, "B").Unread) << "the same item of another feed stays";
    EXPECT_EQ(2, Store.RecordDocument("A", Items({"a1", "new"}), kDay1 + 5)) << "a deleted feed starts over";
}

TEST_F(ItemStoreTest, StateSurvivesReopeningAndSeedingCountsAsRead) {
    Store.Seed({{"A", Ids({"s1", "s2"})}, {"B", Ids({"s1"})}}, kDay1);
    EXPECT_EQ(2, CountsOf(Store, "A").Items);
    EXPECT_EQ(0, CountsOf(Store, "A").Unread);
    EXPECT_EQ(1, Store.RecordDocument("A", Items({"s1", "s2", "n1"}), kDay1 + 1));

    TItemStore again;
    ASSERT_EQ(TStoreOpen::Opened, again.Open(Path));
    EXPECT_EQ("", again.Message());
    EXPECT_EQ(Ids({"n1"}), again.UnreadIds("A"));
    EXPECT_EQ(1, CountsOf(again, "B").Items);
}

// The window reads the store on its own thread while the writer's thread holds a transaction open.
// A read made in the middle of a write must neither wait for its commit nor see its rows before it.
TEST_F(ItemStoreTest, AReadDuringAWriteSeesTheLastCommitWithoutWaiting) {
    Store.RecordDocument("A", Items({"a1", "a2"}), kDay1);
    Store.MarkRead("A", Ids({"a1"}));
    std::vector<TStoreItem> next = Items({"a1", "a2"});
    for (int i = 0; i < 50; ++i)
        next.push_back({"n" + std::to_string(i), 0});

    bool answered = false;
    std::vector<std::string> idsSeen;
    TFeedCounts countsSeen;
    // Outside the hook: a read that did wait ends after the commit, when the future is let go.
    std::future<void> read;
    Store.OnRowForTesting = [&](size_t rows) {
        if (rows != 30)
            return;
        // Another thread, as the window's: while this write holds its lock and its transaction.
        read = std::async(std::launch::async, [&] {
            idsSeen = Store.UnreadIds("A");
            countsSeen = CountsOf(Store, "A");
        });
        // Not a measure of speed: a read queued behind the write would wait here for ever.
        answered = read.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    };
    EXPECT_EQ(50, Store.RecordDocument("A", next, kDay1 + 1));
    Store.OnRowForTesting = nullptr;
    read.wait();
    ASSERT_TRUE(answered) << "the read waited for the write to commit";
    EXPECT_EQ(Ids({"a2"}), idsSeen);
    EXPECT_EQ(2, countsSeen.Items);
    EXPECT_EQ(1, countsSeen.Unread);
    // And once committed, the reads see the new document.
    EXPECT_EQ(51, CountsOf(Store, "A").Unread);
}

// The rules of the store as a plain model: per feed, per identity, in the document, read and
// last seen; compared with the store's counts and unread lists after every step of a long
// random run, so that no write forgets to keep the counts.
struct TModelItem {
    bool Current = false;
    bool Read = false;
    TDateTime LastSeen = 0;
};
struct TModelFeed {
    std::map<std::string, TModelItem> Items;
    bool Readdressed = false;
};

TEST_F(ItemStoreTest, CountsFollowEveryKindOfWrite) {
    std::map<std::string, TModelFeed> model;
    std::mt19937 random(7);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    TDateTime now = kDay1;
    for (int step = 0; step < 400; ++step) {
        const std::string feedId = "F" + std::to_string(pick(4));
        TModelFeed& feed = model[feedId];
        std::vector<std::string> ids;
        for (int i = pick(8); i > 0; --i)
            ids.push_back("i" + std::to_string(pick(12)));
        now += pick(3) == 0 ? 11 : 0.1;
        switch (pick(7)) {
        case 0: {
            std::vector<TStoreItem> items;
            for (const std::string& id : ids)
                items.push_back({id, 0});
            int added = 0;
            for (auto& [id, item] : feed.Items)
                item.Current = false;
            for (const std::string& id : ids) {
                TModelItem& item = feed.Items[id];
                added += item.LastSeen == 0 ? 1 : 0;
                item.Current = true;
                item.LastSeen = now;
            }
            for (auto it = feed.Items.begin(); it != feed.Items.end();)
                it = !it->second.Current && (feed.Readdressed || it->second.LastSeen < now - 30)
                         ? feed.Items.erase(it)
                         : std::next(it);
            feed.Readdressed = false;
            ASSERT_EQ(added, Store.RecordDocument(feedId, items, now)) << "step " << step;
            break;
        }
        case 1:
            for (const std::string& id : ids)
                if (feed.Items.count(id))
                    feed.Items[id].Read = true;
            Store.MarkRead(feedId, ids);
            break;
        case 2:
            for (auto& [id, item] : feed.Items)
                item.Read = true;
            Store.MarkFeedRead({feedId});
            break;
        case 3:
            for (auto& [id, item] : feed.Items)
                item.Read = item.Read && !item.Current;
            Store.MarkFeedUnread(feedId);
            break;
        case 4:
            for (auto& [id, item] : feed.Items)
                item.Current = false;
            feed.Readdressed = true;
            Store.ReaddressFeed(feedId);
            break;
        case 5:
            model.erase(feedId);
            Store.DeleteFeed(feedId);
            break;
        default:
            for (auto& [id, other] : model)
                for (auto it = other.Items.begin(); it != other.Items.end();)
                    it = !it->second.Current && it->second.LastSeen < now - 30 ? other.Items.erase(it)
                                                                               : std::next(it);
            Store.Purge(now);
        }
        const auto counts = Store.UnreadCounts();
        for (const auto& [id, modelFeed] : model) {
            TFeedCounts expected;
            std::vector<std::string> unread;
            for (const auto& [itemId, item] : modelFeed.Items) {
                expected.Items += item.Current ? 1 : 0;
                if (item.Current && !item.Read)
                    unread.push_back(itemId);
            }
            expected.Unread = static_cast<int>(unread.size());
            const TFeedCounts actual = CountsOf(Store, id);
            ASSERT_EQ(expected.Items, actual.Items) << "step " << step << " feed " << id;
            ASSERT_EQ(expected.Unread, actual.Unread) << "step " << step << " feed " << id;
            ASSERT_EQ(unread, Store.UnreadIds(id)) << "step " << step << " feed " << id;
        }
        ASSERT_TRUE(Store.Saving());
    }
}

// Writes a file in place of a store and opens it.
TStoreOpen OpenOver(TempDir& dir, const std::string& bytes, TItemStore& store) {
    dir.Write("items.db", bytes);
    return store.Open(dir.File("items.db"));
}

TEST(ItemStoreFailures, ADamagedStoreIsSetAsideWithItsCompanionsAndStartedAnew) {
    TempDir dir;
    dir.Write("items.db-wal", "left over");
    dir.Write("items.db-shm", "left over");
    {
        TItemStore store;
        EXPECT_EQ(TStoreOpen::Recreated, OpenOver(dir, std::string(4096, 'x'), store));
        EXPECT_NE(std::string::npos, store.Message().find("items.db.damaged")) << store.Message();
        EXPECT_EQ(std::string(4096, 'x'), dir.Read("items.db.damaged"));
        EXPECT_EQ("left over", dir.Read("items.db.damaged-wal"));
        // SQLite rebuilds the shared-memory index on opening; only its place matters.
        EXPECT_FALSE(dir.Read("items.db.damaged-shm").empty());
        EXPECT_TRUE(store.Saving());
        EXPECT_EQ(1, store.RecordDocument("A", Items({"a1"}), kDay1));
    }

    // The next damaged store takes the next free name.
    TItemStore second;
    EXPECT_EQ(TStoreOpen::Recreated, OpenOver(dir, "SQLite format 3", second));
    EXPECT_NE(std::string::npos, second.Message().find("items.db.damaged2")) << second.Message();
    EXPECT_EQ(std::string(4096, 'x'), dir.Read("items.db.damaged"));
}

TEST(ItemStoreFailures, ADamagedPageInsideIsFoundOnOpening) {
    TempDir dir;
    {
        TItemStore store;
        ASSERT_EQ(TStoreOpen::Created, store.Open(dir.File("items.db")));
        std::vector<TStoreItem> items;
        for (int i = 0; i < 2000; ++i)
            items.push_back({"https://example.org/item/" + std::to_string(i), 0});
        store.RecordDocument("A", items, kDay1);
        ASSERT_TRUE(store.ExecForTesting("PRAGMA wal_checkpoint(TRUNCATE)"));
    }
    // The header stays good; a page in the middle becomes noise.
    std::string bytes = dir.Read("items.db");
    ASSERT_GT(bytes.size(), 8192u);
    for (size_t i = 4096; i < 8192; ++i)
        bytes[i] = static_cast<char>(i * 7);
    TItemStore store;
    EXPECT_EQ(TStoreOpen::Recreated, OpenOver(dir, bytes, store));
    EXPECT_TRUE(store.UnreadCounts().empty());
}

TEST(ItemStoreFailures, AnotherProgramsDatabaseIsNotTakenOver) {
    TempDir dir;
    {
        TItemStore store;
        ASSERT_EQ(TStoreOpen::Created, store.Open(dir.File("items.db")));
        ASSERT_TRUE(store.ExecForTesting("PRAGMA user_version=77"));
    }
    TItemStore store;
    EXPECT_EQ(TStoreOpen::Recreated, store.Open(dir.File("items.db")));
    EXPECT_FALSE(dir.Read("items.db.damaged").empty());
}

TEST(ItemStoreFailures, AStoreThatCannotBeMadeSavesNothingAndAnswersEmpty) {
    TempDir dir;
    TItemStore store;
    EXPECT_EQ(TStoreOpen::Failed, store.Open(dir.File("missing-folder/items.db")));
    EXPECT_FALSE(store.Message().empty());
    EXPECT_FALSE(store.Saving());
    EXPECT_EQ(0, store.RecordDocument("A", Items({"a1"}), kDay1));
    EXPECT_TRUE(store.UnreadCounts().empty());
    EXPECT_TRUE(store.UnreadIds("A").empty());
}

TEST_F(ItemStoreTest, AFailedWriteIsSaidOnceAndTheStoreGoesOnWithoutSaving) {
    Store.RecordDocument("A", Items({"a1"}), kDay1);
    EXPECT_EQ("", Store.TakeFailure());
    // A disk that is full: the store may not grow by a page more.
    ASSERT_TRUE(Store.ExecForTesting("PRAGMA max_page_count=" + std::to_string(1)));
    ASSERT_TRUE(Store.ExecForTesting("PRAGMA wal_checkpoint(TRUNCATE)"));
    std::vector<TStoreItem> many;
    for (int i = 0; i < 500; ++i)
        many.push_back({"https://example.org/a-long-address-for-item/" + std::to_string(i), 0});
    Store.RecordDocument("A", many, kDay1 + 1);
    EXPECT_FALSE(Store.Saving());
    const std::string failure = Store.TakeFailure();
    EXPECT_NE(std::string::npos, failure.find("full")) << failure;
    EXPECT_EQ("", Store.TakeFailure()) << "said once";

    // Nothing half-written: the document before the failure is still the current one.
    EXPECT_EQ(Ids({"a1"}), Store.UnreadIds("A"));
    Store.MarkRead("A", Ids({"a1"}));
    EXPECT_EQ(Ids({"a1"}), Store.UnreadIds("A")) << "no write after the failure";
    EXPECT_EQ("", Store.TakeFailure());
}

// A child process records one document, then dies by SIGKILL in the middle of the next one's
// transaction, after enough rows that its pages have reached the write-ahead log.
TEST(ItemStoreKill, AWriterKilledInATransactionLosesOnlyThatTransaction) {
    TempDir dir;
    const std::string path = dir.File("items.db");
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        TItemStore store;
        if (store.Open(path) != TStoreOpen::Created)
            _exit(3);
        store.RecordDocument("A", Items({"kept1", "kept2"}), kDay1);
        store.MarkRead("A", Ids({"kept1"}));
        std::vector<TStoreItem> many;
        for (int i = 0; i < 20000; ++i)
            many.push_back({std::string(300, 'x') + std::to_string(i), 0});
        store.OnRowForTesting = [&](size_t rows) {
            if (rows == 15000) {
                struct stat info;
                const bool logged = ::stat((path + "-wal").c_str(), &info) == 0 && info.st_size > 1000000;
                if (!logged)
                    _exit(4);
                ::raise(SIGKILL);
            }
        };
        store.RecordDocument("A", many, kDay1 + 1);
        _exit(5);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended with " << WEXITSTATUS(status);
    EXPECT_EQ(SIGKILL, WTERMSIG(status));

    TItemStore store;
    ASSERT_EQ(TStoreOpen::Opened, store.Open(path)) << store.Message();
    EXPECT_EQ(2, CountsOf(store, "A").Items);
    EXPECT_EQ(Ids({"kept2"}), store.UnreadIds("A"));
    EXPECT_TRUE(store.Saving());
    EXPECT_EQ(1, store.RecordDocument("A", Items({"kept1", "kept2", "next"}), kDay1 + 2));
}

} // namespace
