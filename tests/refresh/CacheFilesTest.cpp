#include "refresh/CacheFiles.h"
#include "url/Url.h"

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

TEST(UrlSplitTest, HostPathAndPort) {
    struct TCase {
        const char* Url;
        const char* Host;
        const char* Path;
        int Port;
    };
    const TCase cases[] = {
        {"http://news.example.org:88/feeds/rss?x=1", "news.example.org", "/feeds/rss?x=1", 88},
        {"news.example.org/rss", "news.example.org", "/rss", 80},
        {"http://news.example.org", "news.example.org", "/", 80},
        {"http:\\\\news.example.org:88\\feeds\\rss?x=1", "news.example.org", "/feeds/rss?x=1", 88},
        // A colon in the path ends the path and is where the port is read.
        {"http://news.example.org/a:b", "news.example.org", "/a", 80},
        {"http://news.example.org/x:81", "news.example.org", "/x", 81},
        {"http://news.example.org/x:81/more", "news.example.org", "/x", 81},
        // A secure address is served on 443 unless a port is written; other schemes split as http.
        {"https://news.example.org/rss", "news.example.org", "/rss", 443},
        {"HTTPS://news.example.org", "news.example.org", "/", 443},
        {"https:\\\\news.example.org\\rss", "news.example.org", "/rss", 443},
        {"https://news.example.org:8443/rss", "news.example.org", "/rss", 8443},
        {"https://news.example.org:abc/rss", "news.example.org", "/rss", 443},
        {"httpsx://news.example.org/rss", "news.example.org", "/rss", 80},
        {"ftp://news.example.org:2121/rss", "news.example.org", "/rss", 2121},
        // A bracketed literal: its colons are neither the host's end nor the port.
        {"http://[::1]:8080/x", "::1", "/x", 8080},
        {"http://[::1]/x", "::1", "/x", 80},
        {"https://[2001:db8::7]", "2001:db8::7", "/", 443},
        {"http://[::1]/x:81", "::1", "/x", 81},
        // Without its "]" before the path it is no literal, and splits by the plain rules.
        {"http://[::1/x]", "[", "/x]", 80},
        // Only the first "://" is removed.
        {"http://h/redirect?to=http://other/", "h", "/redirect?to=http", 80},
        {"http://h:abc/rss", "h", "/rss", 80},
        {"http://h:+8080/rss#top", "h", "/rss#top", 8080},
        {"http://user:pw@h/rss", "user", "/rss", 80},
        {"", "", "/", 80},
        {"://", "", "/", 80},
        {":8080", "", "/", 8080},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(ExtractURLHost(c.Url), c.Host) << c.Url;
        EXPECT_EQ(ExtractURLPath(c.Url), c.Path) << c.Url;
        EXPECT_EQ(ExtractURLPort(c.Url), c.Port) << c.Url;
    }
}

TEST(UrlSplitTest, OnlyAnHttpsSchemeIsSecure) {
    EXPECT_TRUE(IsSecureURL("https://h/"));
    EXPECT_TRUE(IsSecureURL("hTTpS://h/"));
    EXPECT_TRUE(IsSecureURL("https:\\\\h"));
    EXPECT_FALSE(IsSecureURL("http://h/?u=https://x"));
    EXPECT_FALSE(IsSecureURL("h/https://x"));
    EXPECT_FALSE(IsSecureURL("https:/h"));
    EXPECT_FALSE(IsSecureURL(""));
}

// The examples of RFC 3986, section 5.4, and what feeds and redirects add to them.
TEST(ResolveURLTest, ReferencesAgainstABase) {
    const std::string base = "http://a/b/c/d;p?q";
    const std::pair<const char*, const char*> cases[] = {
        {"g:h", "g:h"},
        {"g", "http://a/b/c/g"},
        {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},
        {"//g", "http://g"},
        {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q#s"},
        {"g#s", "http://a/b/c/g#s"},
        {";x", "http://a/b/c/;x"},
        {"", "http://a/b/c/d;p?q"},
        {".", "http://a/b/c/"},
        {"..", "http://a/b/"},
        {"../g", "http://a/b/g"},
        {"../..", "http://a/"},
        {"../../../g", "http://a/g"},
        {"../../../../g", "http://a/g"},
        {"/./g", "http://a/g"},
        {"/../g", "http://a/g"},
        {"g.", "http://a/b/c/g."},
        {"..g", "http://a/b/c/..g"},
        {"./../g", "http://a/b/g"},
        {"g/./h", "http://a/b/c/g/h"},
        {"g/../h", "http://a/b/c/h"},
        {"g;x=1/../y", "http://a/b/c/y"},
        {"g?y/./x", "http://a/b/c/g?y/./x"},
        {"g#s/../x", "http://a/b/c/g#s/../x"},
        {"http:g", "http:g"},
        // A Location with spaces around it, a secure one, an absolute one with dots.
        {"  /feed.xml \r\n", "http://a/feed.xml"},
        {"https://b:8443/rss", "https://b:8443/rss"},
        {"https://b/x/../rss", "https://b/rss"},
        {"//[::1]:81/x", "http://[::1]:81/x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ResolveURL(base, c.first), c.second) << c.first;

    // A base without a path, a base written with backslashes, a base with a fragment.
    EXPECT_EQ(ResolveURL("http://h", "rss.xml"), "http://h/rss.xml");
    EXPECT_EQ(ResolveURL("http://h?x", "?y"), "http://h?y");
    EXPECT_EQ(ResolveURL("http:\\\\h\\blog\\feed", "atom"), "http://h/blog/atom");
    EXPECT_EQ(ResolveURL("http://h/a/b#top", ""), "http://h/a/b");
    EXPECT_EQ(ResolveURL("http://h/a/b#top", "c"), "http://h/a/c");
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
