#include "cache/CacheFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TempDir.h"
#include "platform/Files.h"
#include "platform/SysUtils.h"

TEST(CacheFileNameTest, NamesTheFileAndCreatesMissingFolders) {
    TempDir dir;
    const std::string program = dir.Path() + "app/bin/";
    ScopedDataFolder folder(program);

    const std::string id = "5F0E3A9C-1B2D-4E6F-8A7B-9C0D1E2F3A4B";
    EXPECT_EQ(CacheFileName(id), program + "cache/" + id + ".xml");
    EXPECT_TRUE(DirectoryExists(program + "cache"));
    // An existing folder is simply used again.
    EXPECT_EQ(CacheFileName("x_y"), program + "cache/x_y.xml");
}

TEST(CacheFileNameTest, IdsCannotLeaveTheCacheFolder) {
    TempDir dir;
    ScopedDataFolder folder(dir.Path());
    const std::string cache = dir.Path() + "cache/";

    EXPECT_EQ(CacheFileName("../../etc/passwd"), cache + "%2E%2E%2F%2E%2E%2Fetc%2Fpasswd.xml");
    EXPECT_EQ(CacheFileName("{a b}\\%"), cache + "%7Ba%20b%7D%5C%25.xml");
    EXPECT_EQ(CacheFileName(std::string("a\0\xFF", 3)), cache + "a%00%FF.xml");
    // Different ids never share a file, even when one looks like another's escape.
    EXPECT_NE(CacheFileName("a/b"), CacheFileName("a%2Fb"));
}

TEST(CacheFileNameTest, FolderThatCannotBeMadeFailsAtSaving) {
    TempDir dir;
    dir.Write("blocker", "a file, not a folder");
    ScopedDataFolder folder(dir.Path() + "blocker/");

    std::string path;
    ASSERT_NO_THROW(path = CacheFileName("feed"));
    try {
        SaveStringToFile("<rss/>", path);
        FAIL() << "saving under a file must fail";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + path);
    }
}

TEST(SaveStringToFileTest, WritesExactBytesAndReplacesTheWholeFile) {
    TempDir dir;
    const std::string path = dir.File("feed.xml");

    SaveStringToFile("", path);
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(dir.Read("feed.xml"), "");

    const std::string longer = std::string(10000, 'x');
    SaveStringToFile(longer, path);
    EXPECT_EQ(dir.Read("feed.xml"), longer);

    // No conversion of line ends, zero bytes kept, nothing of the longer file left over.
    const std::string body("<a>\r\n\0\xEF\xBB\xBF</a>\n", 13);
    SaveStringToFile(body, path);
    EXPECT_EQ(dir.Read("feed.xml"), body);
}

TEST(SaveStringToFileTest, OnlyChangedDocumentsAreWrittenAgain) {
    TempDir dir;
    const std::string path = dir.File("feed.xml");
    const auto inode = [&path] {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0);
        return st.st_ino;
    };
    const std::string body(40000, 'a');
    SaveStringToFile(body, path);
    const ino_t first = inode();

    // The same bytes: the file is left as it is.
    SaveStringToFile(body, path);
    EXPECT_EQ(inode(), first);
    EXPECT_EQ(dir.Read("feed.xml"), body);

    // Same length, one byte different past the first block read; then a longer and a shorter
    // text starting with the same bytes.
    std::string changed = body;
    changed[30000] = 'b';
    SaveStringToFile(changed, path);
    EXPECT_EQ(dir.Read("feed.xml"), changed);
    SaveStringToFile(changed + "c", path);
    EXPECT_EQ(dir.Read("feed.xml"), changed + "c");
    SaveStringToFile(changed, path);
    EXPECT_EQ(dir.Read("feed.xml"), changed);

    // A link is never taken for the document, even to a file holding the same bytes.
    dir.Write("other.xml", changed);
    const std::string link = dir.File("link.xml");
    ASSERT_EQ(::symlink(dir.File("other.xml").c_str(), link.c_str()), 0);
    SaveStringToFile(changed, link);
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(dir.Read("link.xml"), changed);
}

TEST(SaveStringToFileTest, FailureNamesTheTargetAndKeepsWhatIsThere) {
    TempDir dir;
    ForceDirectories(dir.File("taken"));
    dir.Write("taken/inside", "kept");
    try {
        SaveStringToFile("new", dir.File("taken"));
        FAIL() << "a folder cannot be replaced by a file";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + dir.File("taken"));
    }
    EXPECT_EQ(dir.Read("taken/inside"), "kept");
}

TEST(SaveStringToFileTest, DeletingAFeedsCacheFileTakesAnOldSwapFileAlong) {
    TempDir dir;
    ScopedDataFolder folder(dir.Path());
    const std::string path = CacheFileName("feed");
    SaveStringToFile("<rss>1</rss>", path);
    SaveStringToFile("<rss>2</rss>", path);
    ASSERT_EQ(dir.Read("cache/feed.xml"), "<rss>2</rss>");
    EXPECT_FALSE(FileExists(path + ".swap")) << "writes leave nothing beside the document";
    // An earlier build kept the document before the last one there.
    dir.Write("cache/feed.xml.swap", "<rss>1</rss>");
    EXPECT_TRUE(DeleteCacheFile("feed"));
    EXPECT_FALSE(FileExists(path));
    EXPECT_FALSE(FileExists(path + ".swap")) << "the old document must not stay behind";
    EXPECT_FALSE(DeleteCacheFile("feed"));
    SaveStringToFile("<rss>3</rss>", path);
    EXPECT_EQ(dir.Read("cache/feed.xml"), "<rss>3</rss>");
}

TEST(SaveStringToFileTest, TheWorkersHalfWritesNothingForTheSameBytes) {
    TempDir dir;
    const std::string path = dir.File("feed.xml");
    const std::string empty = PrepareCacheFile("", path);
    EXPECT_NE(empty, "") << "a missing file is written, even empty";
    DeleteFile(empty);
    SaveStringToFile("<rss/>", path);
    EXPECT_EQ(PrepareCacheFile("<rss/>", path), "");
    const std::string temporary = PrepareCacheFile("<rss></rss>", path);
    ASSERT_NE(temporary, "");
    EXPECT_EQ(dir.Read("feed.xml"), "<rss/>");
    CommitCacheFile(temporary, path);
    EXPECT_EQ(dir.Read("feed.xml"), "<rss></rss>");
    EXPECT_FALSE(FileExists(temporary));
}

TEST(ETagFileTest, KeptBesideTheCacheFileAndDeletedWithIt) {
    TempDir dir;
    ScopedDataFolder folder(dir.Path());
    const std::string id = "5F0E3A9C-1B2D";
    EXPECT_EQ(ETagFileName(id), dir.Path() + "cache/" + id + ".etag");
    EXPECT_EQ(ETagFileName("../x"), dir.Path() + "cache/%2E%2E%2Fx.etag");
    EXPECT_EQ(ReadETag(id), "");

    WriteETag(id, "W/\"abc\"");
    EXPECT_EQ(ReadETag(id), "W/\"abc\"");
    WriteETag(id, "\"def\"");
    EXPECT_EQ(ReadETag(id), "\"def\"");
    // An answer without a tag leaves none behind.
    WriteETag(id, "");
    EXPECT_FALSE(FileExists(ETagFileName(id)));
    ForgetValidators(id);

    WriteETag(id, "\"1\"");
    ForgetValidators(id);
    EXPECT_EQ(ReadETag(id), "");

    SaveStringToFile("<rss/>", CacheFileName(id));
    WriteETag(id, "\"2\"");
    EXPECT_TRUE(DeleteCacheFile(id));
    EXPECT_FALSE(FileExists(ETagFileName(id)));
    EXPECT_FALSE(DeleteCacheFile(id));
}

TEST(SaveStringToFileTest, TemporariesLeftByAnEndedRunAreDeletedAndNothingElse) {
    TempDir dir;
    ScopedDataFolder folder(dir.Path());
    const std::string path = CacheFileName("feed");
    SaveStringToFile("<rss/>", path);
    // A download prepared but never put in place: the program ended before the window took it.
    const std::string left = PrepareCacheFile("<rss>new</rss>", path);
    ASSERT_NE(left, "");
    dir.Write("cache/other.xml", "<rss/>");
    dir.Write("cache/notes.tmp-1", "kept");
    EXPECT_EQ(DeleteCacheTemporaries(), 1);
    EXPECT_FALSE(FileExists(left));
    EXPECT_EQ(dir.Read("cache/feed.xml"), "<rss/>");
    EXPECT_EQ(dir.Read("cache/other.xml"), "<rss/>");
    EXPECT_EQ(dir.Read("cache/notes.tmp-1"), "kept");
}
