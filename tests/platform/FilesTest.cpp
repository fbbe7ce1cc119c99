#include "platform/Files.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <set>

#include "TempDir.h"
#include "platform/Guid.h"
#include "platform/SysUtils.h"
#include "platform/TimeZone.h"

TEST(FilesTest, ProgramFolderEndsWithSlashAndCanBeOverridden) {
    const std::string real = ProgramFolder();
    ASSERT_FALSE(real.empty());
    EXPECT_EQ(real.back(), '/');
    {
        ScopedProgramFolder scoped("/tmp/somewhere/");
        EXPECT_EQ(ProgramFolder(), "/tmp/somewhere/");
    }
    EXPECT_EQ(ProgramFolder(), real);
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

TEST(GuidTest, TextFormIsUpperCaseVersion4AndUnique) {
    const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const std::string g = NewGuidText();
        ASSERT_EQ(g.size(), 36u);
        ASSERT_TRUE(std::regex_match(g, form)) << g;
        seen.insert(g);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

namespace {
double FixedClock() {
    return 1136073600.0;
} // 2006-01-01 00:00:00 UTC
} // namespace

TEST(TimeZoneTest, ClockOverrideAndLocalConversion) {
    SetClockForTesting(&FixedClock);
    TDateTime expected = 0;
    ASSERT_TRUE(TryEncodeDate(2006, 1, 1, expected));
    EXPECT_DOUBLE_EQ(NowUTC(), expected);
    {
        ScopedEnv tz("TZ", "UTC-3");
        tzset();
        EXPECT_NEAR(Now(), expected + 3.0 / 24, 1e-9);
    }
    tzset();
    SetClockForTesting(nullptr);
    EXPECT_GT(NowUTC(), expected);
}

TEST(TimeZoneTest, LocalTimeFollowsDaylightSavingOfThatDate) {
    ScopedEnv tz("TZ", "Europe/Berlin");
    tzset();
    TDateTime winter = 0, summer = 0;
    ASSERT_TRUE(TryEncodeDate(2024, 1, 15, winter));
    ASSERT_TRUE(TryEncodeDate(2024, 7, 15, summer));
    EXPECT_NEAR(UTCToLocal(winter) - winter, 1.0 / 24, 1e-9);
    EXPECT_NEAR(UTCToLocal(summer) - summer, 2.0 / 24, 1e-9);
}
