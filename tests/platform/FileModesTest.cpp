// Who may read each file the reader writes. What tells which feeds the user reads (the catalogue,
// the cached documents and their tags) is the user's alone, whatever the umask and whatever an
// earlier version left; the page and an exported list are made like any file of the user's.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "FileModes.h"
#include "TempDir.h"
#include "catalogue/FeedListCls.h"
#include "catalogue/Opml.h"
#include "news/NewsTypeCls.h"
#include "platform/Files.h"
#include "cache/CacheFiles.h"

namespace {

class FileModesTest : public ::testing::Test {
protected:
    FileModesTest() : Feeds(Dir.File("feeds.data")) {
        Feed = Feeds.Add("root", "Feed", "http://127.0.0.1/feed");
    }

    // Sets path's mode (it must exist).
    static void Open(const std::string& path, mode_t mode) { ASSERT_EQ(::chmod(path.c_str(), mode), 0); }

    TempDir Dir;
    ScopedDataFolder Data{Dir.Path()};
    TFeedList Feeds;
    TFeedListItem* Feed;
};

} // namespace

TEST_F(FileModesTest, TheCatalogueIsTheUsersAloneAlsoWhenItReplacesAnOpenFile) {
    for (const mode_t mask : {022, 002, 077}) {
        SCOPED_TRACE(mask);
        const ScopedUmask scoped(mask);
        DeleteFile(Feeds.FileName);
        Feeds.Save();
        EXPECT_EQ(ModeOf(Feeds.FileName), 0600);
        Open(Feeds.FileName, 0644);
        Feeds.Save();
        EXPECT_EQ(ModeOf(Feeds.FileName), 0600);
    }
}

TEST_F(FileModesTest, CachedDocumentsAndTheirTagsAreTheUsersAlone) {
    const ScopedUmask scoped(022);
    const std::string document = CacheFileName(Feed->FeedID);
    EXPECT_EQ(ModeOf(Dir.File("cache")), 0700);
    SaveStringToFile("<rss/>", document);
    EXPECT_EQ(ModeOf(document), 0600);
    WriteETag(Feed->FeedID, "\"v1\"");
    EXPECT_EQ(ModeOf(ETagFileName(Feed->FeedID)), 0600);

    // Files of an earlier version, open to everyone: a new document replaces them closed...
    Open(document, 0644);
    Open(ETagFileName(Feed->FeedID), 0644);
    SaveStringToFile("<rss>changed</rss>", document);
    WriteETag(Feed->FeedID, "\"v2\"");
    EXPECT_EQ(ModeOf(document), 0600);
    EXPECT_EQ(ModeOf(ETagFileName(Feed->FeedID)), 0600);
    // ...and an unchanged one, which is not written again, is closed as it is.
    Open(document, 0644);
    SaveStringToFile("<rss>changed</rss>", document);
    EXPECT_EQ(ModeOf(document), 0600);
    EXPECT_EQ(Dir.Read("cache/" + Feed->FeedID + ".xml"), "<rss>changed</rss>");
}

TEST_F(FileModesTest, ThePageAndAnExportedListFollowTheUmask) {
    const ScopedUmask scoped(027);
    TNewsType news(Feeds);
    news.WriteErrorPage("Not Found");
    EXPECT_EQ(ModeOf(news.PagePath), 0640);
    // A page of an earlier version that forced 0644 is narrowed.
    Open(news.PagePath, 0644);
    news.WriteErrorPage("Not Found");
    EXPECT_EQ(ModeOf(news.PagePath), 0640);

    TempDir elsewhere;
    ExportOpml(Feeds, "root", "Feeds", elsewhere.File("feeds.opml"));
    EXPECT_EQ(ModeOf(elsewhere.File("feeds.opml")), 0640);
}
