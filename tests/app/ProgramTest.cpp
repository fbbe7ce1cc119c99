// The built program tovelrss as a user meets it: started in a folder of its own, stopped by a
// signal, started twice, started on a damaged catalogue. It runs as its test build tovelrss-test
// (copied in as tovelrss), whose boxes are read from the log that TOVELRSS_TEST_MESSAGES names,
// and whose questions are answered through TOVELRSS_TEST_ANSWER.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include "FileModes.h"
#include "TempDir.h"
#include "catalogue/FeedListCls.h"

namespace fs = std::filesystem;

namespace {

const char kCorrupted[] =
    "object TFeedList\r\n  Items = <\r\n    item\r\n      Colour = 'red'\r\n    end>\r\nend\r\n";

// Two entries as a person might have edited them: other layout, words in capitals, a whole date.
const char kLoose[] = "OBJECT TFeedList ITEMS = < ITEM FeedName = 'News' FeedID = 'F1' ParentID = 'root' "
                      "AggInclude = FALSE ShowAuthor = false END item FeedName = 'Bob'#39's notes' "
                      "FeedURL = 'http://127.0.0.1/feed' FeedID = 'F2' ParentID = 'F1' AggInclude = True "
                      "ShowAuthor = False RefreshDate = 38765 end > END";

bool Exists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// What the program writes for a catalogue file once it has read it.
std::string CanonicalText(const std::string& text) {
    TempDir dir;
    const std::string file = dir.Write("feeds.data", text);
    TFeedList feeds(file);
    feeds.Save();
    return dir.Read("feeds.data");
}

// A copy of the program in a folder of its own: Bin() holds tovelrss and its templates, with the
// portable marker when asked for; HOME, XDG_DATA_HOME and XDG_CONFIG_HOME point inside the folder,
// so no run touches the real user's files.
class TProgramFolder {
public:
    explicit TProgramFolder(bool portable) {
        fs::create_directories(Bin());
        fs::create_directories(Home());
        fs::create_directories(FDir.File("runtime"));
        fs::permissions(FDir.File("runtime"), fs::perms::owner_all);
        std::error_code ec;
        // A hard link keeps the test fast; the program finds its folder through the link's name.
        fs::create_hard_link(TOVELRSS_PATH, Bin() + "tovelrss", ec);
        if (ec)
            fs::copy_file(TOVELRSS_PATH, Bin() + "tovelrss");
        fs::copy(TOVELRSS_TEMPLATE_DIR, Bin() + "template", fs::copy_options::recursive);
        if (portable)
            std::ofstream(Bin() + "tovelrss.portable") << "portable\n";
    }

    // The folder that holds everything, Bin() and Home() among them.
    std::string Root() const { return FDir.Path(); }
    std::string Bin() const { return FDir.File("bin/"); }
    std::string Home() const { return FDir.File("home/"); }
    std::string XdgDataHome() const { return FDir.File("xdg/"); }
    std::string MessageLog() const { return FDir.File("messages.log"); }
    std::string Messages() const { return ReadFile(MessageLog()); }

    QProcessEnvironment Environment(const char* answer = nullptr, bool withXdgDataHome = true) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", QString::fromStdString(Home()));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(FDir.File("config")));
        env.insert("XDG_CACHE_HOME", QString::fromStdString(FDir.File("cache")));
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(FDir.File("runtime")));
        env.insert("TMPDIR", QString::fromStdString(FDir.Path()));
        if (withXdgDataHome)
            env.insert("XDG_DATA_HOME", QString::fromStdString(XdgDataHome()));
        else
            env.remove("XDG_DATA_HOME");
        env.insert("TOVELRSS_TEST_MESSAGES", QString::fromStdString(MessageLog()));
        if (answer)
            env.insert("TOVELRSS_TEST_ANSWER", answer);
        else
            env.remove("TOVELRSS_TEST_ANSWER");
        if (::geteuid() == 0)
            env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
        return env;
    }

private:
    TempDir FDir;
};

// One run of the program.
class TRun {
public:
    // childSetup runs in the child between fork and exec.
    TRun(const TProgramFolder& folder, const QProcessEnvironment& env,
         const std::function<void()>& childSetup = {}) {
        FProcess.setProcessEnvironment(env);
        if (childSetup)
            FProcess.setChildProcessModifier(childSetup);
        FProcess.setProcessChannelMode(QProcess::MergedChannels);
        FProcess.start(QString::fromStdString(folder.Bin() + "tovelrss"), {});
        FProcess.waitForStarted(10000);
    }
    ~TRun() {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.kill();
            FProcess.waitForFinished(10000);
        }
    }

    // Waits until the program holds dataFolder (its lock file names its process); it has then
    // caught the stop signals, and a signal sent from now on ends it the orderly way.
    bool WaitUntilHolding(const std::string& dataFolder, int waitMs = 30000) {
        const std::string pid = std::to_string(FProcess.processId());
        const QDeadlineTimer deadline(waitMs);
        while (!deadline.hasExpired() && FProcess.state() == QProcess::Running) {
            std::istringstream lock(ReadFile(dataFolder + "tovelrss.lock"));
            std::string first;
            if (std::getline(lock, first) && first == pid)
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    void Signal(int signalNumber) { ::kill(static_cast<pid_t>(FProcess.processId()), signalNumber); }
    // The exit code, or -1 when it did not end normally within waitMs.
    int Finish(int waitMs = 30000) {
        if (!FProcess.waitForFinished(waitMs) || FProcess.exitStatus() != QProcess::NormalExit)
            return -1;
        return FProcess.exitCode();
    }
    bool Running() const { return FProcess.state() == QProcess::Running; }
    std::string Output() { return FProcess.readAll().toStdString(); }

private:
    QProcess FProcess;
};

// Counts the files renamed into a folder under one name: each save of the catalogue writes a
// temporary file and renames it over "feeds.data".
class TRenameCounter {
public:
    TRenameCounter(const std::string& folder, std::string name) : FName(std::move(name)) {
        FFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (FFd >= 0)
            ::inotify_add_watch(FFd, folder.c_str(), IN_MOVED_TO);
    }
    ~TRenameCounter() {
        if (FFd >= 0)
            ::close(FFd);
    }
    TRenameCounter(const TRenameCounter&) = delete;
    TRenameCounter& operator=(const TRenameCounter&) = delete;

    bool Watching() const { return FFd >= 0; }
    int Count() {
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(FFd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && FName == event->name)
                    ++FCount;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return FCount;
    }

private:
    std::string FName;
    int FFd = -1;
    int FCount = 0;
};

} // namespace

TEST(Program, CorruptedCatalogueIsReportedAndLeftAsItIs) {
    TProgramFolder folder(false);
    std::ofstream(folder.Bin() + "feeds.data", std::ios::binary) << kCorrupted;

    TRun run(folder, folder.Environment());
    EXPECT_EQ(run.Finish(), 1) << run.Output();

    EXPECT_NE(folder.Messages().find("question\tThe feeds file is corrupted"), std::string::npos)
        << folder.Messages();
    EXPECT_EQ(ReadFile(folder.Bin() + "feeds.data"), kCorrupted);
    EXPECT_FALSE(Exists(folder.Bin() + "feeds.data.damaged"));
    EXPECT_FALSE(Exists(folder.Bin() + "tovelrss.lock"));
}

TEST(Program, DamagedCatalogueIsSetAsideOnlyOnYes) {
    TProgramFolder folder(true);
    std::ofstream(folder.Bin() + "feeds.data", std::ios::binary) << kCorrupted;
    {
        TRun run(folder, folder.Environment("no"));
        EXPECT_EQ(run.Finish(), 1) << run.Output();
        EXPECT_EQ(ReadFile(folder.Bin() + "feeds.data"), kCorrupted);
        EXPECT_FALSE(Exists(folder.Bin() + "feeds.data.damaged"));
    }
    TRun run(folder, folder.Environment("yes"));
    ASSERT_TRUE(run.WaitUntilHolding(folder.Bin())) << run.Output();
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Finish(), 0) << run.Output();

    EXPECT_EQ(ReadFile(folder.Bin() + "feeds.data.damaged"), kCorrupted);
    EXPECT_EQ(ReadFile(folder.Bin() + "feeds.data"), CanonicalText("object TFeedList Items = <> end"));
}

TEST(Program, EachStopSignalSavesTheCatalogue) {
    const std::string expected = CanonicalText(kLoose);
    ASSERT_NE(expected, kLoose);
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signalNumber);
        TProgramFolder folder(true);
        std::ofstream(folder.Bin() + "feeds.data", std::ios::binary) << kLoose;

        TRenameCounter saves(folder.Bin(), "feeds.data");
        ASSERT_TRUE(saves.Watching());
        TRun run(folder, folder.Environment());
        ASSERT_TRUE(run.WaitUntilHolding(folder.Bin())) << run.Output();
        run.Signal(signalNumber);
        EXPECT_EQ(run.Finish(), 0) << run.Output();

        EXPECT_EQ(ReadFile(folder.Bin() + "feeds.data"), expected);
        // Written once at the end, not again when the catalogue is released.
        EXPECT_EQ(saves.Count(), 1);
        EXPECT_EQ(folder.Messages(), "");
    }
}

TEST(Program, PortableCopyKeepsItsDataBesideItself) {
    TProgramFolder folder(true);
    TRun run(folder, folder.Environment());
    ASSERT_TRUE(run.WaitUntilHolding(folder.Bin())) << run.Output();
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Finish(), 0) << run.Output();

    EXPECT_TRUE(Exists(folder.Bin() + "feeds.data"));
    EXPECT_FALSE(Exists(folder.XdgDataHome() + "tovelrss"));
    EXPECT_FALSE(Exists(folder.Home() + ".local/share/tovelrss"));
}

TEST(Program, InstalledProgramKeepsItsDataInTheUsersDataFolder) {
    TProgramFolder folder(false);
    {
        TRun run(folder, folder.Environment());
        const std::string data = folder.XdgDataHome() + "tovelrss/";
        ASSERT_TRUE(run.WaitUntilHolding(data)) << run.Output();
        run.Signal(SIGTERM);
        EXPECT_EQ(run.Finish(), 0) << run.Output();
        EXPECT_TRUE(Exists(data + "feeds.data"));
        // Made for the user alone, as the catalogue in it.
        EXPECT_EQ(ModeOf(data), 0700);
        EXPECT_EQ(ModeOf(folder.XdgDataHome()), 0700);
        EXPECT_EQ(ModeOf(data + "feeds.data"), 0600);
    }
    {
        // Without XDG_DATA_HOME the folder is ~/.local/share/tovelrss/, created on the first start.
        TRun run(folder, folder.Environment(nullptr, false));
        const std::string data = folder.Home() + ".local/share/tovelrss/";
        ASSERT_TRUE(run.WaitUntilHolding(data)) << run.Output();
        run.Signal(SIGTERM);
        EXPECT_EQ(run.Finish(), 0) << run.Output();
        EXPECT_TRUE(Exists(data + "feeds.data"));
    }
    // The program's own folder gets nothing, even when it is writable (as for root).
    for (const auto& entry : fs::directory_iterator(folder.Bin()))
        EXPECT_TRUE(entry.path().filename() == "tovelrss" || entry.path().filename() == "template")
            << entry.path();
}

TEST(Program, WithoutAHomeFolderItSaysSoAndStops) {
    // A user the password database does not know, with neither HOME nor XDG_DATA_HOME: only root
    // can start a program as such a user.
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can run the program as a user without a home folder";
    uid_t stranger = 61000;
    while (::getpwuid(stranger) != nullptr)
        ++stranger;
    TProgramFolder folder(false);
    // The stranger reaches the program and writes the message log, nothing else.
    ASSERT_EQ(::chmod(folder.Root().c_str(), 0755), 0);
    std::ofstream(folder.MessageLog()) << "";
    ASSERT_EQ(::chmod(folder.MessageLog().c_str(), 0666), 0);
    const bool sharedBefore = Exists("/tmp/.local/share/tovelrss");
    QProcessEnvironment env = folder.Environment(nullptr, false);
    env.remove("HOME");
    env.remove("XDG_RUNTIME_DIR");

    TRun run(folder, env, [stranger] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(stranger) != 0 || ::setuid(stranger) != 0)
            ::_exit(126);
    });
    EXPECT_EQ(run.Finish(), 1) << run.Output();
    EXPECT_EQ(folder.Messages(), "message\tCannot find a home folder to keep the feeds in\n");
    // Never a shared folder in its place.
    if (!sharedBefore) {
        EXPECT_FALSE(Exists("/tmp/.local/share/tovelrss"));
    }
}

TEST(Program, SecondStartLeavesTheFolderToTheFirst) {
    TProgramFolder folder(true);
    std::ofstream(folder.Bin() + "feeds.data", std::ios::binary) << kLoose;
    TRun first(folder, folder.Environment());
    ASSERT_TRUE(first.WaitUntilHolding(folder.Bin())) << first.Output();

    TRun second(folder, folder.Environment());
    EXPECT_EQ(second.Finish(), 0) << second.Output();
    EXPECT_TRUE(first.Running());
    // The second one neither read nor wrote the catalogue, nor asked anything.
    EXPECT_EQ(ReadFile(folder.Bin() + "feeds.data"), kLoose);
    EXPECT_EQ(folder.Messages(), "");

    first.Signal(SIGTERM);
    EXPECT_EQ(first.Finish(), 0) << first.Output();
    EXPECT_EQ(ReadFile(folder.Bin() + "feeds.data"), CanonicalText(kLoose));
}

TEST(Program, ReaderThatDiedDoesNotLockOutTheNext) {
    TProgramFolder folder(true);
    {
        TRun crashed(folder, folder.Environment());
        ASSERT_TRUE(crashed.WaitUntilHolding(folder.Bin())) << crashed.Output();
        crashed.Signal(SIGKILL);
        EXPECT_EQ(crashed.Finish(), -1);
    }
    ASSERT_TRUE(Exists(folder.Bin() + "tovelrss.lock")) << "a killed reader leaves its lock behind";

    TRun next(folder, folder.Environment());
    ASSERT_TRUE(next.WaitUntilHolding(folder.Bin())) << next.Output();
    next.Signal(SIGTERM);
    EXPECT_EQ(next.Finish(), 0) << next.Output();
    EXPECT_TRUE(Exists(folder.Bin() + "feeds.data"));
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
