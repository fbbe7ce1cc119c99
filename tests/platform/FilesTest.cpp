#include "platform/Files.h"
#include "platform/DataFolder.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "TempDir.h"
#include "platform/Guid.h"
#include "platform/SysUtils.h"
#include "platform/TimeZone.h"

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

namespace {

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

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

// Every case runs with new blocks for each write, with the scratch's own blocks overwritten,
// and with the choice the file system of the temporary folder makes.
class ScratchWriteTest : public ::testing::TestWithParam<TScratchBlocks> {
protected:
    void SetUp() override { SetScratchBlocksForTesting(GetParam()); }
    void TearDown() override { SetScratchBlocksForTesting(TScratchBlocks::Automatic); }
};

INSTANTIATE_TEST_SUITE_P(Blocks, ScratchWriteTest,
                         ::testing::Values(TScratchBlocks::Fresh, TScratchBlocks::Reused,
                                           TScratchBlocks::Automatic));

TEST_P(ScratchWriteTest, ReplacesContentAndTakesTurnsWithTwoFiles) {
    TempDir dir;
    const std::string path = dir.File("feed.xml");
    WriteFileThroughScratch(path, "first, longer than the rest");
    EXPECT_EQ(dir.Read("feed.xml"), "first, longer than the rest");
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);

    WriteFileThroughScratch(path, std::string("se\0cond", 7));
    EXPECT_EQ(dir.Read("feed.xml"), std::string("se\0cond", 7));
    const ino_t second = InodeOf(path);
    WriteFileThroughScratch(path, "third");
    EXPECT_EQ(dir.Read("feed.xml"), "third");
    EXPECT_NE(InodeOf(path), second);
    WriteFileThroughScratch(path, "");
    EXPECT_EQ(dir.Read("feed.xml"), "");
    // The two files take turns, and the permissions of the document are kept.
    EXPECT_EQ(InodeOf(path), second);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_P(ScratchWriteTest, FailuresNameTheTargetAndKeepTheOldContent) {
    TempDir dir;
    const std::string path = dir.File("feed.xml");
    WriteFileThroughScratch(path, "old");
    WriteFileThroughScratch(path, "older? no: current");
    {
        // The write itself fails half way.
        ScopedFileSizeLimit limit(4);
        ExpectCreateError([&] { WriteFileThroughScratch(path, "much too long"); }, path);
    }
    EXPECT_EQ(dir.Read("feed.xml"), "older? no: current");
    // The scratch keeps partial bytes: the next write still gives exactly its document.
    WriteFileThroughScratch(path, "new");
    EXPECT_EQ(dir.Read("feed.xml"), "new");

    // A folder in the target's place is never swapped away.
    ASSERT_TRUE(ForceDirectories(dir.File("taken/inner")));
    ExpectCreateError([&] { WriteFileThroughScratch(dir.File("taken"), "x"); }, dir.File("taken"));
    EXPECT_TRUE(DirectoryExists(dir.File("taken/inner")));
    // A parent that is a file.
    dir.Write("plain", "x");
    ExpectCreateError([&] { WriteFileThroughScratch(dir.File("plain/f"), "x"); }, dir.File("plain/f"));
}

TEST_P(ScratchWriteTest, StaleOrForeignScratchFilesAreNeverTrusted) {
    TempDir dir;
    const std::string path = dir.File("feed.xml");
    // Left by a crash in the middle of a write: longer than the new document.
    dir.Write("feed.xml.swap", std::string(5000, 'z'));
    WriteFileThroughScratch(path, "<rss/>");
    EXPECT_EQ(dir.Read("feed.xml"), "<rss/>");
    WriteFileThroughScratch(path, "<rss></rss>");
    EXPECT_EQ(dir.Read("feed.xml"), "<rss></rss>");

    // A link to another file, a second name of another file, and a folder in the scratch's place
    // are left alone; the document is written all the same.
    const std::string other = dir.Write("other.txt", "not ours");
    const struct {
        std::string Name;
        std::function<void(const std::string&)> Make;
    } odd[] = {
        {"linked.xml", [&](const std::string& s) { ASSERT_EQ(::symlink(other.c_str(), s.c_str()), 0); }},
        {"hard.xml", [&](const std::string& s) { ASSERT_EQ(::link(other.c_str(), s.c_str()), 0); }},
        {"folder.xml", [&](const std::string& s) { ASSERT_TRUE(ForceDirectories(s)); }},
    };
    for (const auto& c : odd) {
        c.Make(dir.File(c.Name + ".swap"));
        WriteFileThroughScratch(dir.File(c.Name), "one");
        WriteFileThroughScratch(dir.File(c.Name), "two");
        EXPECT_EQ(dir.Read(c.Name), "two") << c.Name;
        EXPECT_EQ(dir.Read("other.txt"), "not ours") << c.Name;
    }
    EXPECT_TRUE(DirectoryExists(dir.File("folder.xml.swap")));
}

TEST_P(ScratchWriteTest, BusyScratchAndOpenReadersAreLeftAlone) {
    TempDir dir;
    const std::string path = dir.File("feed.xml");
    WriteFileThroughScratch(path, "a");
    WriteFileThroughScratch(path, "b");

    // Another writer holds the scratch (a lock belongs to its own opening of the file).
    const int other = ::open((path + ".swap").c_str(), O_RDONLY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    WriteFileThroughScratch(path, "c");
    EXPECT_EQ(dir.Read("feed.xml"), "c");
    EXPECT_EQ(dir.Read("feed.xml.swap"), "a");
    ::close(other);

    // A reader that opened the document before two more writes still reads it whole.
    const int reader = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(::flock(reader, LOCK_SH), 0);
    WriteFileThroughScratch(path, "d");
    WriteFileThroughScratch(path, "e");
    EXPECT_EQ(dir.Read("feed.xml"), "e");
    char buffer[8] = {};
    EXPECT_EQ(::pread(reader, buffer, sizeof buffer, 0), 1);
    EXPECT_EQ(buffer[0], 'c');
    ::close(reader);
}

TEST_P(ScratchWriteTest, WithoutNameSwapsTheScratchIsRenamedIntoPlace) {
    TempDir dir;
    const std::string path = dir.File("feed.xml");
    WriteFileThroughScratch(path, "a");
    WriteFileThroughScratch(path, "b");
    SetNameSwapAvailableForTesting(false);
    WriteFileThroughScratch(path, "c");
    const ino_t third = InodeOf(path);
    WriteFileThroughScratch(path, "d");
    SetNameSwapAvailableForTesting(true);
    EXPECT_EQ(dir.Read("feed.xml"), "d");
    EXPECT_FALSE(FileExists(path + ".swap"));
    EXPECT_NE(InodeOf(path), third);
}

TEST_P(ScratchWriteTest, ConcurrentWritersAndReadersOnlyEverSeeWholeDocuments) {
    // Threads stand in for program instances: every opening of a file has its own lock.
    TempDir dir;
    const std::string path = dir.File("feed.xml");
    const std::string docs[2] = {std::string(30000, 'a') + "!", std::string(20000, 'b') + "?"};
    WriteFileThroughScratch(path, docs[0]);
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < 2; ++w)
        writers.emplace_back([&, w] {
            for (int i = 0; i < 300; ++i)
                WriteFileThroughScratch(path, docs[w]);
        });
    std::thread reader([&] {
        while (!stop) {
            const std::string text = ReadFileToString(path);
            if (text != docs[0] && text != docs[1])
                ++bad;
        }
    });
    for (std::thread& t : writers)
        t.join();
    stop = true;
    reader.join();
    EXPECT_EQ(bad, 0);
    const std::string last = ReadFileToString(path);
    EXPECT_TRUE(last == docs[0] || last == docs[1]);
}
