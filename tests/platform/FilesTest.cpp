#include "platform/Files.h"
#include "platform/DataFolder.h"

#include <atomic>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "FileModes.h"
#include "TempDir.h"
#include "platform/SysUtils.h"

TEST(FilesTest, DataFolderBesideTheProgramOnlyWithAFeedsFileOrTheMarker) {
    TempDir dir;
    const std::string program = dir.Path();
    // An installed program keeps its data under the user's data home, never beside itself.
    EXPECT_EQ(ChooseDataFolder(program, "/xdg/data", "/home/u"), "/xdg/data/tovelrss/");
    EXPECT_EQ(ChooseDataFolder(program, nullptr, "/home/u"), "/home/u/.local/share/tovelrss/");
    EXPECT_EQ(ChooseDataFolder(program, "relative/data", "/home/u"), "/home/u/.local/share/tovelrss/");
    EXPECT_EQ(ChooseDataFolder(program, "/xdg/data/", "/home/u"), "/xdg/data/tovelrss/");
    dir.Write("tovelrss.portable", "");
    EXPECT_EQ(ChooseDataFolder(program, "/xdg/data", "/home/u"), program);
    DeleteFile(program + "tovelrss.portable");
    dir.Write("feeds.data", "");
    EXPECT_EQ(ChooseDataFolder(program, "/xdg/data", "/home/u"), program);
}

TEST(FilesTest, WithoutHOMETheHomeFolderComesFromThePasswordDatabase) {
    const passwd* user = ::getpwuid(::getuid());
    if (user == nullptr || user->pw_dir == nullptr || user->pw_dir[0] != '/')
        GTEST_SKIP() << "this user has no home folder in the password database";
    const std::string home = user->pw_dir;
    const std::string expected = home + (home.back() == '/' ? "" : "/") + ".local/share/tovelrss/";
    TempDir dir;
    // Unset, empty or relative: none of them is a place, and never /tmp either.
    for (const char* value : {static_cast<const char*>(nullptr), "", "relative/home"}) {
        const ScopedEnv unset("HOME", value);
        EXPECT_EQ(HomeFolder(), home) << (value ? value : "(unset)");
        EXPECT_EQ(ChooseDataFolder(dir.Path(), nullptr, HomeFolder()), expected);
    }
    const ScopedEnv set("HOME", "/home/u");
    EXPECT_EQ(HomeFolder(), "/home/u");
}

TEST(FilesTest, WithoutAHomeFolderOnlyXDGDataHomeOrAPortableCopyGiveAPlace) {
    TempDir dir;
    const std::string program = dir.Path();
    for (const char* xdg : {static_cast<const char*>(nullptr), "relative/data"}) {
        try {
            ADD_FAILURE() << "a place was found: " << ChooseDataFolder(program, xdg, "");
        } catch (const ENoHomeFolder& e) {
            EXPECT_EQ(e.Message(), "Cannot find a home folder to keep the feeds in");
        }
    }
    EXPECT_EQ(ChooseDataFolder(program, "/xdg/data", ""), "/xdg/data/tovelrss/");
    dir.Write("tovelrss.portable", "");
    EXPECT_EQ(ChooseDataFolder(program, nullptr, ""), program);
}

// DataFolder() decides once per process, so each case runs it in a child of its own (a death test
// that is expected to live), and this process looks at what it made.
class DataFolderDeathTest : public ::testing::Test {
protected:
    DataFolderDeathTest() { ForceDirectories(Dir.File("bin")); }
    ~DataFolderDeathTest() override { SetProgramFolderForTesting(""); }

    // Whether DataFolder() in a child gives expected, with the program in Dir's "bin/".
    void ExpectDataFolder(const std::string& expected) {
        SetProgramFolderForTesting(Dir.File("bin/"));
        EXPECT_EXIT(std::_Exit(DataFolder() == expected ? 0 : 1), ::testing::ExitedWithCode(0), "");
    }

    TempDir Dir;
    ScopedUmask Mask{022};
};

TEST_F(DataFolderDeathTest, AFolderTheProgramMakesIsTheUsersAlone) {
    const ScopedEnv xdg("XDG_DATA_HOME", Dir.File("xdg/share").c_str());
    ExpectDataFolder(Dir.File("xdg/share/tovelrss/"));
    EXPECT_EQ(ModeOf(Dir.File("xdg/share/tovelrss")), 0700);
    EXPECT_EQ(ModeOf(Dir.File("xdg/share")), 0700) << "its missing parents too";
    EXPECT_EQ(ModeOf(Dir.File("xdg")), 0700);
}

TEST_F(DataFolderDeathTest, AFolderThatExistsKeepsItsMode) {
    ASSERT_TRUE(ForceDirectories(Dir.File("xdg/tovelrss")));
    ASSERT_EQ(::chmod(Dir.File("xdg/tovelrss").c_str(), 0750), 0);
    const ScopedEnv xdg("XDG_DATA_HOME", Dir.File("xdg").c_str());
    ExpectDataFolder(Dir.File("xdg/tovelrss/"));
    EXPECT_EQ(ModeOf(Dir.File("xdg/tovelrss")), 0750);

    // The portable program's own folder.
    Dir.Write("bin/tovelrss.portable", "");
    ASSERT_EQ(::chmod(Dir.File("bin").c_str(), 0755), 0);
    ExpectDataFolder(Dir.File("bin/"));
    EXPECT_EQ(ModeOf(Dir.File("bin")), 0755);
}

TEST(FilesTest, DataAndTemplateFoldersCanBeOverridden) {
    ScopedDataFolder scoped("/tmp/somewhere/");
    EXPECT_EQ(DataFolder(), "/tmp/somewhere/");
    EXPECT_EQ(TemplateFolder(), "/tmp/somewhere/template/");
}

TEST(FilesTest, ReadMissingFileRaisesOpenError) {
    TempDir dir;
    try {
        ReadFileToString(dir.File("none"));
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file " + dir.File("none"));
    }
    EXPECT_THROW(ReadFileToString(dir.Path()), EFOpenError);
}

TEST(FilesTest, ReadTakesEveryByteWhateverSizeTheFileReports) {
    TempDir dir;
    // Larger than any read buffer, with zero bytes inside.
    std::string big(300000, 'x');
    for (std::size_t i = 0; i < big.size(); i += 997)
        big[i] = static_cast<char>(i % 256);
    WriteFileAtomically(dir.File("big"), big, false);
    EXPECT_EQ(ReadFileToString(dir.File("big")), big);
    // A file that reports size 0 but has content.
    const std::string status = ReadFileToString("/proc/self/status");
    EXPECT_NE(status.find("Name:"), std::string::npos);
    EXPECT_EQ(status.back(), '\n');
}

TEST(FilesTest, AtomicWriteReplacesWholeAndKeepsBinaryBytes) {
    TempDir dir;
    const std::string path = dir.File("f.dat");
    const std::string bytes("a\0b\r\n\xff", 6);
    WriteFileAtomically(path, bytes);
    EXPECT_EQ(ReadFileToString(path), bytes);
    WriteFileAtomically(path, "");
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(ReadFileToString(path), "");
}

TEST(FilesTest, FailedAtomicWriteKeepsOldContentAndLeavesNoTemporary) {
    // A folder in the target's place makes the final rename fail, also for root.
    TempDir dir;
    ASSERT_TRUE(ForceDirectories(dir.File("target/inner")));
    try {
        WriteFileAtomically(dir.File("target"), "new");
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + dir.File("target"));
    }
    EXPECT_TRUE(DirectoryExists(dir.File("target/inner")));
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1) << "the temporary file was left behind";
}

TEST(FilesTest, FailedAtomicWriteIntoMissingFolderRaisesWithTargetPath) {
    TempDir dir;
    const std::string path = dir.File("missing/f");
    try {
        WriteFileAtomically(path, "x");
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + path);
    }
}

TEST(FilesTest, ForceDirectoriesMakesParents) {
    TempDir dir;
    EXPECT_TRUE(ForceDirectories(dir.File("a/b/c")));
    EXPECT_TRUE(DirectoryExists(dir.File("a/b/c")));
    EXPECT_TRUE(ForceDirectories(dir.File("a/b/c/")));
    dir.Write("file", "x");
    EXPECT_FALSE(ForceDirectories(dir.File("file/sub")));
}

TEST(FilesTest, ForceDirectoriesGivesTheModeToTheFoldersItMakesOnly) {
    const ScopedUmask mask(022);
    TempDir dir;
    ASSERT_TRUE(ForceDirectories(dir.File("old")));
    ASSERT_EQ(::chmod(dir.File("old").c_str(), 0751), 0);
    EXPECT_TRUE(ForceDirectories(dir.File("old/new/inner"), 0700));
    EXPECT_EQ(ModeOf(dir.File("old")), 0751);
    EXPECT_EQ(ModeOf(dir.File("old/new")), 0700);
    EXPECT_EQ(ModeOf(dir.File("old/new/inner")), 0700);
    EXPECT_TRUE(ForceDirectories(dir.File("plain")));
    EXPECT_EQ(ModeOf(dir.File("plain")), 0755) << "0777 less the umask by default";
}

TEST(FileAccessTest, OwnerOnlyFilesAreTheUsersAloneWhateverTheyReplaceAndTheUmask) {
    for (const mode_t mask : {0, 02, 022, 027, 077}) {
        SCOPED_TRACE(mask);
        const ScopedUmask scoped(mask);
        TempDir dir;
        const std::string path = dir.File("feeds.data");
        WriteFileAtomically(path, "new", false, faOwnerOnly);
        EXPECT_EQ(ModeOf(path), 0600);
        for (const mode_t old : {0644, 0666, 0604}) {
            ASSERT_EQ(::chmod(path.c_str(), old), 0);
            // Already so while it is written.
            const std::string temp = WriteTemporaryFile(path, "next", false, faOwnerOnly);
            EXPECT_EQ(ModeOf(temp), 0600);
            RenameIntoPlace(temp, path, false);
            EXPECT_EQ(ModeOf(path), 0600) << "replacing " << old;
            EXPECT_EQ(dir.Read("feeds.data"), "next");
        }
    }
}

TEST(FileAccessTest, OtherFilesFollowTheUmaskAndNeverOpenWiderThanTheFileTheyReplace) {
    struct TCase {
        mode_t Mask;
        int Old; // -1: no file yet
        int Expected;
    };
    const TCase cases[] = {
        {022, -1, 0644},
        {027, -1, 0640},
        {077, -1, 0600},
        {002, -1, 0664},
        // A page left by an earlier run is narrowed to the umask...
        {027, 0644, 0640},
        {077, 0664, 0600},
        // ...and a file the user has closed to others stays closed.
        {022, 0600, 0600},
        {002, 0640, 0640},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.Mask) + " " + std::to_string(c.Old));
        const ScopedUmask scoped(c.Mask);
        TempDir dir;
        const std::string path = dir.File("gen.html");
        if (c.Old >= 0) {
            dir.Write("gen.html", "old");
            ASSERT_EQ(::chmod(path.c_str(), static_cast<mode_t>(c.Old)), 0);
        }
        WriteFileAtomically(path, "page", false);
        EXPECT_EQ(ModeOf(path), c.Expected);
        EXPECT_EQ(dir.Read("gen.html"), "page");
    }
}

TEST(FilesTest, RestrictToOwnerClosesARegularFileToOthers) {
    TempDir dir;
    const std::string path = dir.Write("feed.xml", "x");
    ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
    EXPECT_TRUE(RestrictToOwner(path));
    EXPECT_EQ(ModeOf(path), 0600);
    EXPECT_TRUE(RestrictToOwner(path));
    EXPECT_EQ(ModeOf(path), 0600);
    // A link is not followed: the file it names is no file of ours.
    const std::string outside = dir.Write("outside", "y");
    ASSERT_EQ(::chmod(outside.c_str(), 0644), 0);
    ASSERT_EQ(::symlink(outside.c_str(), dir.File("link.xml").c_str()), 0);
    EXPECT_FALSE(RestrictToOwner(dir.File("link.xml")));
    EXPECT_EQ(ModeOf(outside), 0644);
    EXPECT_FALSE(RestrictToOwner(dir.File("missing")));
}

namespace {

// Makes every write beyond limit bytes fail (EFBIG) for the rest of the scope, also for root.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t limit) {
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &FOld);
        rlimit small = FOld;
        small.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~ScopedFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldHandler);
    }

private:
    rlimit FOld{};
    void (*FOldHandler)(int) = nullptr;
};

void ExpectCreateError(const std::function<void()>& write, const std::string& path) {
    try {
        write();
        ADD_FAILURE() << "the write into " << path << " should have failed";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + path);
    }
}

} // namespace

// Counts the files in folder whose names begin with prefix.
int FilesStartingWith(const std::string& folder, const std::string& prefix) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            ++count;
    return count;
}

TEST(AtomicWriteHalvesTest, TheTemporaryFileLiesBesideTheTargetUntilItIsRenamed) {
    TempDir dir;
    const std::string path = dir.Write("feed.xml", "old");
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    const std::string temp = WriteTemporaryFile(path, std::string("new\0doc", 7), false);
    EXPECT_EQ(temp.rfind(path + ".tmp-", 0), 0u) << temp;
    EXPECT_EQ(dir.Read("feed.xml"), "old") << "the first half leaves the target alone";
    EXPECT_EQ(ReadFileToString(temp), std::string("new\0doc", 7));
    RenameIntoPlace(temp, path, false);
    EXPECT_EQ(dir.Read("feed.xml"), std::string("new\0doc", 7));
    EXPECT_FALSE(FileExists(temp));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "never more open than the file it replaces";
    EXPECT_EQ(FilesStartingWith(dir.Path(), "feed.xml.tmp-"), 0);
}

TEST(AtomicWriteHalvesTest, EachHalfCleansUpAfterItsFailure) {
    TempDir dir;
    const std::string path = dir.Write("feed.xml", "current");
    {
        // The write itself fails half way.
        ScopedFileSizeLimit limit(4);
        ExpectCreateError([&] { WriteTemporaryFile(path, "much too long", false); }, path);
        ExpectCreateError([&] { WriteFileAtomically(path, "much too long", false); }, path);
    }
    EXPECT_EQ(dir.Read("feed.xml"), "current");
    EXPECT_EQ(FilesStartingWith(dir.Path(), "feed.xml.tmp-"), 0);

    // The rename fails: a folder took the target's place meanwhile.
    const std::string taken = dir.File("taken");
    const std::string temp = WriteTemporaryFile(taken, "x", false);
    ASSERT_TRUE(ForceDirectories(taken + "/inner"));
    ExpectCreateError([&] { RenameIntoPlace(temp, taken, false); }, taken);
    EXPECT_TRUE(DirectoryExists(taken + "/inner"));
    EXPECT_FALSE(FileExists(temp));

    // A parent that is a file.
    ExpectCreateError([&] { WriteTemporaryFile(dir.File("feed.xml/f"), "x"); }, dir.File("feed.xml/f"));
}

TEST(AtomicWriteHalvesTest, AReplacementWrittenInPiecesIsWholeOrAbsent) {
    TempDir dir;
    const std::string path = dir.Write("page", "old");
    // Pieces below, across and far beyond the write buffer come out byte for byte.
    std::string expected;
    {
        TFileReplacement page(path, false);
        for (size_t size : {size_t{1}, size_t{70000}, size_t{3}, size_t{200000}, size_t{65536}}) {
            const std::string piece(size, static_cast<char>('a' + size % 26));
            page.Write(piece);
            expected += piece;
        }
        EXPECT_EQ(dir.Read("page"), "old") << "the old file changed before the commit";
        page.Commit();
    }
    EXPECT_EQ(dir.Read("page"), expected);
    // Dropped without a commit (an error while the page was made), the old file stays and no
    // temporary file is left.
    {
        TFileReplacement page(path, false);
        page.Write(std::string(100000, 'x'));
    }
    EXPECT_EQ(dir.Read("page"), expected);
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(AtomicWriteHalvesTest, ReadersOnlyEverSeeWholeDocuments) {
    TempDir dir;
    const std::string path = dir.File("feed.xml");
    const std::string docs[2] = {std::string(30000, 'a') + "!", std::string(20000, 'b') + "?"};
    WriteFileAtomically(path, docs[0], false);
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!stop) {
            const std::string text = ReadFileToString(path);
            if (text != docs[0] && text != docs[1])
                ++bad;
        }
    });
    for (int i = 0; i < 300; ++i)
        WriteFileAtomically(path, docs[i % 2], false);
    stop = true;
    reader.join();
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(FilesStartingWith(dir.Path(), "feed.xml.tmp-"), 0);
}
