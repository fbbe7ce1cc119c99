// The start-up pieces of the program in-process: the catalogue file that cannot be read, the final
// save, the guard of the data folder, and the bridge from stop signals to the event loop.
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>

#include <gtest/gtest.h>

#include "TempDir.h"
#include "app/Catalogue.h"
#include "app/SignalBridge.h"
#include "app/SingleInstance.h"
#include "catalogue/FeedListCls.h"
#include "ui/Messages.h"

namespace {

// Answers every question with a fixed answer and remembers what was shown.
class TRecordedMessages : public IMessages {
public:
    explicit TRecordedMessages(bool answer) : FAnswer(answer) { SetMessagesForTesting(this); }
    ~TRecordedMessages() override { SetMessagesForTesting(nullptr); }

    void ShowMessage(const std::string& text) override { Shown.push_back(text); }
    bool AskYesNo(const std::string& text, bool defaultYes) override {
        Asked.push_back(text);
        Defaults.push_back(defaultYes);
        return FAnswer;
    }

    std::vector<std::string> Shown;
    std::vector<std::string> Asked;
    std::vector<bool> Defaults;

private:
    bool FAnswer;
};

const char kCorrupted[] =
    "object TFeedList\r\n  Items = <\r\n    item\r\n      Colour = 'red'\r\n    end>\r\nend\r\n";

bool Exists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

// Runs the event loop until done() holds or two seconds have passed.
template <typename Done> bool PumpUntil(Done done) {
    const QDeadlineTimer deadline(2000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

} // namespace

TEST(OpenCatalogue, CorruptedFileAnsweredNoEndsStartUpAndKeepsTheFile) {
    TempDir dir;
    const std::string file = dir.Write("feeds.data", kCorrupted);
    TRecordedMessages messages(false);

    EXPECT_EQ(OpenCatalogue(file), nullptr);

    ASSERT_EQ(messages.Asked.size(), 1u);
    EXPECT_EQ(messages.Asked[0].rfind("The feeds file is corrupted", 0), 0u) << messages.Asked[0];
    EXPECT_NE(messages.Asked[0].find("\"feeds.data.damaged\""), std::string::npos);
    EXPECT_FALSE(messages.Defaults[0]) << "the question must default to No";
    EXPECT_EQ(dir.Read("feeds.data"), kCorrupted);
    EXPECT_FALSE(Exists(dir.File("feeds.data.damaged")));
}

TEST(OpenCatalogue, CorruptedFileAnsweredYesIsSetAsideAndTheCatalogueStartsEmpty) {
    TempDir dir;
    const std::string file = dir.Write("feeds.data", kCorrupted);
    TRecordedMessages messages(true);

    std::unique_ptr<TFeedList> feeds = OpenCatalogue(file);

    ASSERT_NE(feeds, nullptr);
    EXPECT_EQ(feeds->Count(), 0);
    EXPECT_EQ(feeds->FileName, file);
    EXPECT_EQ(dir.Read("feeds.data.damaged"), kCorrupted);
    EXPECT_TRUE(messages.Shown.empty());
    // Nothing new is written until the program saves.
    EXPECT_FALSE(Exists(file));
    feeds->Save();
    EXPECT_EQ(dir.Read("feeds.data.damaged"), kCorrupted);
}

TEST(OpenCatalogue, AnEarlierDamagedFileIsNeverOverwritten) {
    TempDir dir;
    dir.Write("feeds.data.damaged", "first");
    dir.Write("feeds.data.damaged.2", "second");
    const std::string file = dir.Write("feeds.data", kCorrupted);
    TRecordedMessages messages(true);

    EXPECT_EQ(DamagedFileName(file), dir.File("feeds.data.damaged.3"));
    ASSERT_NE(OpenCatalogue(file), nullptr);

    EXPECT_EQ(dir.Read("feeds.data.damaged"), "first");
    EXPECT_EQ(dir.Read("feeds.data.damaged.2"), "second");
    EXPECT_EQ(dir.Read("feeds.data.damaged.3"), kCorrupted);
    ASSERT_EQ(messages.Asked.size(), 1u);
    EXPECT_NE(messages.Asked[0].find("\"feeds.data.damaged.3\""), std::string::npos);
}

TEST(OpenCatalogue, UnopenableFileShowsCannotOpen) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads a file without read permission";
    TempDir dir;
    const std::string file = dir.Write("feeds.data", "object TFeedList\r\n  Items = <>\r\nend\r\n");
    ::chmod(file.c_str(), 0);
    TRecordedMessages messages(false);

    EXPECT_EQ(OpenCatalogue(file), nullptr);

    ASSERT_EQ(messages.Asked.size(), 1u);
    EXPECT_EQ(messages.Asked[0].rfind("Cannot open file " + file, 0), 0u) << messages.Asked[0];
    ::chmod(file.c_str(), 0644);
    EXPECT_EQ(dir.Read("feeds.data"), "object TFeedList\r\n  Items = <>\r\nend\r\n");
}

TEST(OpenCatalogue, MissingFileStartsEmptyWithoutAQuestion) {
    TempDir dir;
    TRecordedMessages messages(false);
    std::unique_ptr<TFeedList> feeds = OpenCatalogue(dir.File("feeds.data"));
    ASSERT_NE(feeds, nullptr);
    EXPECT_EQ(feeds->Count(), 0);
    EXPECT_TRUE(messages.Asked.empty());
}

TEST(SaveCatalogue, FailureIsShownAndReported) {
    TempDir dir;
    TRecordedMessages messages(false);
    {
        TFeedList feeds(dir.File("missing-folder/feeds.data"));
        feeds.Add("root", "News", "");
        EXPECT_FALSE(SaveCatalogue(feeds));
    }
    ASSERT_GE(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0], "Cannot create file " + dir.File("missing-folder/feeds.data"));

    TFeedList feeds(dir.File("feeds.data"));
    feeds.Add("root", "News", "");
    EXPECT_TRUE(SaveCatalogue(feeds));
    EXPECT_NE(dir.Read("feeds.data").find("FeedName = 'News'"), std::string::npos);
}

TEST(SingleInstance, SecondGuardOfAFolderFailsAndRaisesTheFirst) {
    TempDir dir;
    TSingleInstance first(dir.Path());
    ASSERT_TRUE(first.Acquire());
    int raised = 0;
    QObject::connect(&first, &TSingleInstance::RaiseRequested, [&raised] { ++raised; });

    TSingleInstance second(dir.Path());
    EXPECT_FALSE(second.Acquire(2000));
    EXPECT_TRUE(second.OtherAnswered());
    EXPECT_TRUE(PumpUntil([&raised] { return raised == 1; })) << "the first reader was not asked to raise";

    // Another folder is another reader's business.
    TempDir other;
    TSingleInstance third(other.Path());
    EXPECT_TRUE(third.Acquire());
}

TEST(SingleInstance, FolderIsFreeAgainOnceTheFirstEnds) {
    TempDir dir;
    {
        TSingleInstance first(dir.Path());
        ASSERT_TRUE(first.Acquire());
    }
    EXPECT_FALSE(Exists(TSingleInstance::LockFileName(dir.Path())));
    TSingleInstance second(dir.Path());
    EXPECT_TRUE(second.Acquire());
}

TEST(SingleInstance, NamesDependOnTheFolder) {
    EXPECT_NE(TSingleInstance::ServerName("/a/"), TSingleInstance::ServerName("/b/"));
    EXPECT_EQ(TSingleInstance::ServerName("/a/"), TSingleInstance::ServerName("/a/"));
    EXPECT_LT(TSingleInstance::ServerName(std::string(300, 'x') + "/").size(), 80u);
    EXPECT_EQ(TSingleInstance::LockFileName("/data/"), "/data/tovelrss.lock");
}

TEST(SignalBridge, EachStopSignalReachesTheEventLoop) {
    std::vector<int> received;
    {
        TSignalBridge bridge([&received](int signalNumber) { received.push_back(signalNumber); });
        ::raise(SIGTERM);
        ::raise(SIGHUP);
        ::raise(SIGINT);
        EXPECT_TRUE(received.empty()) << "the handler must not call back from inside the signal";
        EXPECT_TRUE(PumpUntil([&received] { return received.size() == 3; }));
        EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGHUP, SIGINT}));
    }
    struct sigaction action;
    ::sigaction(SIGTERM, nullptr, &action);
    EXPECT_EQ(action.sa_handler, SIG_DFL) << "the default action comes back with the bridge gone";
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
