#include "catalogue/FeedListCls.h"

#include <gtest/gtest.h>

#include "TempDir.h"

namespace {

bool IsGuidText(const std::string& id) {
    if (id.size() != 36)
        return false;
    for (size_t i = 0; i < id.size(); ++i) {
        const char c = id[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-')
                return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

TEST(FeedList, AddAndDeleteKeepOrderAndParents) {
    TempDir dir;
    TFeedList list(dir.File("feeds.data"));
    TFeedListItem* folder = list.Add("root", "News", "");
    TFeedListItem* feed = list.Add(folder->FeedID, "Feed", "http://127.0.0.1/rss");
    TFeedListItem* other = list.Add("root", "Other", "http://127.0.0.1/b");

    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Item(1), feed);
    EXPECT_TRUE(IsGuidText(folder->FeedID)) << folder->FeedID;
    EXPECT_NE(folder->FeedID, feed->FeedID);
    EXPECT_EQ(feed->ParentID, folder->FeedID);
    EXPECT_FALSE(feed->AggInclude);
    EXPECT_EQ(feed->RefreshDate, 0);

    // Deleting a folder leaves its child in place, still naming the vanished folder.
    const std::string folderId = folder->FeedID;
    list.Delete(folder);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Item(0), feed);
    EXPECT_EQ(list.Item(1), other);
    EXPECT_EQ(feed->ParentID, folderId);
}

TEST(FeedList, ItemOutsideTheRangeRaisesTheIndex) {
    TempDir dir;
    TFeedList list(dir.File("feeds.data"));
    list.Add("root", "A", "");
    for (int index : {-1, 1, 1000}) {
        try {
            list.Item(index);
            ADD_FAILURE() << "no error for " << index;
        } catch (const EListError& e) {
            EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(index) + ")");
        }
    }
}

// What one run leaves for the next: stored fields survive, run-time marks do not.
TEST(FeedList, RestartKeepsStoredFieldsAndDropsRunTimeState) {
    TempDir dir;
    const std::string path = dir.File("feeds.data");
    std::string folderId;
    {
        TFeedList list(path);
        EXPECT_EQ(list.Count(), 0);
        TFeedListItem* folder = list.Add("root", "Folder", "");
        folderId = folder->FeedID;
        TFeedListItem* feed = list.Add(folderId, "Bob's", "http://127.0.0.1/feed");
        feed->AggInclude = true;
        feed->ShowAuthor = true;
        feed->RefreshDate = 38765.4940162037;
        feed->LastModifiedDate = 38765.5;
        feed->ErrorText = "Socket error";
        feed->RefreshMark = true;
        list.Add("Root", "Case matters", "http://127.0.0.1/x");
    } // saved here

    TFeedList list(path);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Item(0)->FeedID, folderId);
    const TFeedListItem* feed = list.Item(1);
    EXPECT_EQ(feed->FeedName, "Bob's");
    EXPECT_EQ(feed->ParentID, folderId);
    EXPECT_TRUE(feed->AggInclude);
    EXPECT_TRUE(feed->ShowAuthor);
    EXPECT_EQ(feed->RefreshDate, 38765.4940162037);
    EXPECT_EQ(feed->LastModifiedDate, 38765.5);
    EXPECT_EQ(feed->ErrorText, "");
    EXPECT_FALSE(feed->RefreshMark);
    EXPECT_EQ(list.Item(2)->ParentID, "Root");
}

TEST(FeedList, CorruptedFileFailsConstructionAndIsNotOverwritten) {
    TempDir dir;
    const std::string garbage = "object TFeedList\r\n  Items = <\r\n    item\r\n      FeedName = 'cut";
    const std::string path = dir.Write("feeds.data", garbage);
    try {
        TFeedList list(path);
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "The feeds file is corrupted");
    }
    EXPECT_EQ(dir.Read("feeds.data"), garbage);

    // A failing reload of a catalogue that exists leaves it empty and keeps the file at its end.
    {
        TFeedList list(dir.File("other.data"));
        list.Add("root", "A", "");
        list.FileName = path;
        EXPECT_THROW(list.Load(), Exception);
        EXPECT_EQ(list.Count(), 0);
    }
    EXPECT_EQ(dir.Read("feeds.data"), garbage);
}

TEST(FeedList, DestructionSavesUnlessTheOwnerHasSaved) {
    TempDir dir;
    {
        TFeedList list(dir.File("feeds.data"));
        list.Add("root", "A", "");
    }
    EXPECT_NE(dir.Read("feeds.data").find("FeedName = 'A'"), std::string::npos);

    // The owner's own save is the last write; what changes after it is not written.
    {
        TFeedList list(dir.File("feeds.data"));
        list.Items.clear();
        list.Save();
        list.Add("root", "B", "");
        list.SkipSaveOnDestroy();
    }
    EXPECT_EQ(dir.Read("feeds.data").find("FeedName"), std::string::npos);
}

} // namespace
