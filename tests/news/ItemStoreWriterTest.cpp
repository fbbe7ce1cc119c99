#include "news/ItemStoreWriter.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "TempDir.h"

namespace {

const TDateTime kDay1 = 46000;

std::string Rss(std::initializer_list<const char*> guids) {
    std::string text = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>t</title>";
    for (const char* guid : guids)
        text += std::string("<item><title>x</title><guid>") + guid + "</guid></item>";
    return text + "</channel></rss>";
}

class ItemStoreWriterTest : public ::testing::Test {
protected:
    TempDir Dir;
    TItemStore Store;
    std::mutex Lock;
    std::vector<TStoreWriteReport> Reports;

    void SetUp() override { ASSERT_EQ(TStoreOpen::Created, Store.Open(Dir.File("items.db"))); }

    void Listen(TItemStoreWriter& writer) {
        writer.OnWritten = [this](TStoreWriteReport& report) {
            std::lock_guard<std::mutex> lock(Lock);
            Reports.push_back(report);
        };
    }
};

TEST_F(ItemStoreWriterTest, JobsRunInTheOrderQueuedAndEachPassReportsTheCounts) {
    const std::string path = Dir.Write("a.xml", Rss({"a1", "a2", "a3"}));
    {
        TItemStoreWriter writer(Store);
        Listen(writer);
        writer.RecordDocumentFile("A", path, kDay1);
        writer.MarkRead("A", {"a1"});
        // Recorded again after the mark: the mark stays, nothing is new.
        writer.RecordDocumentFile("A", path, kDay1 + 0.1);
        writer.RecordDocument("B", {{"b1", 0}, {"b2", 0}}, kDay1);
        writer.DeleteFeeds({"B"});
        const uint64_t last = writer.MarkFeedUnread("A");
        ASSERT_TRUE(writer.WaitIdle(10000));
        std::lock_guard<std::mutex> lock(Lock);
        ASSERT_FALSE(Reports.empty());
        EXPECT_EQ(last, Reports.back().Done);
        // Unread again, and B's rows gone although it was recorded in the same pass.
        EXPECT_EQ(3, Reports.back().Counts["A"].Unread);
        EXPECT_EQ(0u, Reports.back().Counts.count("B"));
        std::vector<std::pair<std::string, int>> recorded;
        for (const TStoreWriteReport& report : Reports)
            recorded.insert(recorded.end(), report.NewItems.begin(), report.NewItems.end());
        const std::vector<std::pair<std::string, int>> expected = {{"A", 3}, {"A", 0}, {"B", 2}};
        EXPECT_EQ(expected, recorded);
    }
    EXPECT_EQ((std::vector<std::string>{"a1", "a2", "a3"}), Store.UnreadIds("A"));
}

TEST_F(ItemStoreWriterTest, ManyJobsEndAsTheSameWritesInOrderWouldLeaveTheStore) {
    TempDir otherDir;
    TItemStore reference;
    ASSERT_EQ(TStoreOpen::Created, reference.Open(otherDir.File("items.db")));
    {
        TItemStoreWriter writer(Store);
        // Queued from another thread, while the writer is busy with the earlier ones.
        std::thread producer([&] {
            for (int i = 0; i < 300; ++i) {
                const std::string feed = "F" + std::to_string(i % 3);
                std::vector<TStoreItem> items = {{"i" + std::to_string(i), 0},
                                                 {"i" + std::to_string(i + 1), 0}};
                writer.RecordDocument(feed, items, kDay1 + i * 0.001);
                reference.RecordDocument(feed, items, kDay1 + i * 0.001);
                if (i % 7 == 0) {
                    writer.MarkRead(feed, {"i" + std::to_string(i + 1)});
                    reference.MarkRead(feed, {"i" + std::to_string(i + 1)});
                }
                if (i % 50 == 49) {
                    writer.MarkFeedUnread(feed);
                    reference.MarkFeedUnread(feed);
                }
            }
        });
        producer.join();
        ASSERT_TRUE(writer.WaitIdle(20000));
    }
    const auto expected = reference.UnreadCounts();
    const auto actual = Store.UnreadCounts();
    ASSERT_EQ(expected.size(), actual.size());
    for (const auto& [feed, counts] : expected) {
        EXPECT_EQ(counts.Items, actual.at(feed).Items) << feed;
        EXPECT_EQ(counts.Unread, actual.at(feed).Unread) << feed;
        EXPECT_EQ(reference.UnreadIds(feed), Store.UnreadIds(feed)) << feed;
    }
}

TEST_F(ItemStoreWriterTest, AMissingOrUnreadableDocumentRecordsNothing) {
    TItemStoreWriter writer(Store);
    Listen(writer);
    // The feed was deleted, or given a new address, before its job ran: its file is gone.
    writer.RecordDocumentFile("A", Dir.File("gone.xml"), kDay1);
    // An RSS document without a channel is an error page in the view.
    writer.RecordDocumentFile("B", Dir.Write("b.xml", "<rss version=\"2.0\"></rss>"), kDay1);
    ASSERT_TRUE(writer.WaitIdle(10000));
    std::lock_guard<std::mutex> lock(Lock);
    for (const TStoreWriteReport& report : Reports)
        EXPECT_TRUE(report.NewItems.empty());
    EXPECT_TRUE(Store.UnreadCounts().empty());
}

TEST_F(ItemStoreWriterTest, AFailedWriteIsReportedOnceAndLaterJobsStillRun) {
    ASSERT_TRUE(Store.ExecForTesting("CREATE TRIGGER full BEFORE INSERT ON items BEGIN SELECT RAISE(ABORT, "
                                     "'database or disk is full'); END"));
    TItemStoreWriter writer(Store);
    Listen(writer);
    writer.RecordDocument("A", {{"a1", 0}}, kDay1);
    ASSERT_TRUE(writer.WaitIdle(10000));
    writer.RecordDocument("A", {{"a2", 0}}, kDay1);
    writer.MarkFeedsRead({"A"});
    ASSERT_TRUE(writer.WaitIdle(10000));
    std::lock_guard<std::mutex> lock(Lock);
    int failures = 0;
    for (const TStoreWriteReport& report : Reports)
        failures += report.Failure.empty() ? 0 : 1;
    EXPECT_EQ(1, failures);
    ASSERT_FALSE(Reports.empty());
    EXPECT_EQ(writer.Queued(), Reports.back().Done);
    EXPECT_FALSE(Store.Saving());
}

} // namespace
