// "tovel-inspect refresh" records what it downloads in the data folder's item store by the
// window's rules, checked through "tovel-inspect state" and the store itself, over loopback
// downloads from a scripted server.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "LoopbackHttpServer.h"
#include "TempDir.h"
#include "catalogue/FeedListCls.h"
#include "platform/DataFolder.h"
#include "store/ItemStore.h"

namespace {

std::string Rss(std::initializer_list<const char*> guids) {
    std::string text = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>t</title>";
    for (const char* guid : guids)
        text += std::string("<item><title>x</title><guid>") + guid + "</guid></item>";
    return text + "</channel></rss>";
}

std::vector<std::string> Ids(std::initializer_list<const char*> ids) {
    return std::vector<std::string>(ids.begin(), ids.end());
}

// Serves each path's current answer: a status and a body.
class TFeedServer {
public:
    TFeedServer()
        : FServer([this](LoopbackConnection& connection) {
              const std::string request = connection.ReadRequest();
              const size_t start = request.find(' ') + 1;
              const std::string path = request.substr(start, request.find(' ', start) - start);
              std::lock_guard<std::mutex> lock(FLock);
              const auto found = FAnswers.find(path);
              const int status = found == FAnswers.end() ? 404 : found->second.first;
              const std::string body = found == FAnswers.end() ? std::string() : found->second.second;
              connection.Send("HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Failed") +
                              "\r\nContent-Type: application/rss+xml\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
          }) {}

    void Set(const std::string& path, int status, const std::string& body) {
        std::lock_guard<std::mutex> lock(FLock);
        FAnswers[path] = {status, body};
    }
    std::string Url(const std::string& path) const { return FServer.Url(path); }

private:
    std::mutex FLock;
    std::map<std::string, std::pair<int, std::string>> FAnswers;
    LoopbackHttpServer FServer;
};

// Runs tovel-inspect: its lines on standard output, each parsed, and whether it succeeded; what it
// said on standard error goes into errors.
bool RunInspect(const std::string& arguments, std::vector<nlohmann::json>& lines, std::string& errors) {
    lines.clear();
    const TempDir scratch;
    const std::string errorFile = scratch.File("stderr");
    FILE* pipe =
        ::popen((std::string(TOVEL_INSPECT_PATH) + " " + arguments + " 2>" + errorFile).c_str(), "r");
    if (!pipe)
        return false;
    std::string output;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, got);
    const int status = ::pclose(pipe);
    errors = scratch.Read("stderr");
    size_t start = 0;
    while (start < output.size()) {
        const size_t end = output.find('\n', start);
        lines.push_back(nlohmann::json::parse(output.substr(start, end - start), nullptr, false));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return status == 0;
}

class InspectRecordingTest : public ::testing::Test {
protected:
    TempDir Data;
    TFeedServer Server;
    std::string FeedA;
    std::string FeedB;

    void SetUp() override {
        // The catalogue is written as the window writes it, then left to the tool.
        SetDataFolderForTesting(Data.Path());
        TFeedList feeds(Data.File("feeds.data"));
        FeedA = feeds.Add("root", "A", Server.Url("/a.xml"))->FeedID;
        FeedB = feeds.Add("root", "B", Server.Url("/b.xml"))->FeedID;
        feeds.Save();
        feeds.SkipSaveOnDestroy();
    }
    void TearDown() override { SetDataFolderForTesting(std::string()); }

    // A forced refresh by the tool; its lines per feed by name.
    std::map<std::string, nlohmann::json> Refresh() {
        std::vector<nlohmann::json> lines;
        std::string errors;
        EXPECT_TRUE(RunInspect("refresh --force --data " + Data.Path(), lines, errors)) << errors;
        std::map<std::string, nlohmann::json> byName;
        for (const auto& line : lines)
            if (line.is_object() && line.contains("name"))
                byName[line["name"].get<std::string>()] = line;
        return byName;
    }

    // What "tovel-inspect state" says of each feed: "items/unread".
    std::map<std::string, std::string> State() {
        std::vector<nlohmann::json> lines;
        std::string errors;
        EXPECT_TRUE(RunInspect("state --data " + Data.Path(), lines, errors)) << errors;
        std::map<std::string, std::string> counts;
        for (const auto& line : lines)
            if (line.is_object())
                counts[line.value("name", "")] =
                    std::to_string(line.value("items", -1)) + "/" + std::to_string(line.value("unread", -1));
        return counts;
    }

    std::vector<std::string> UnreadIds(const std::string& feedId) {
        TItemStore store;
        EXPECT_EQ(TStoreOpen::Opened, store.Open(Data.File("items.db")));
        return store.UnreadIds(feedId);
    }
};

TEST_F(InspectRecordingTest, DownloadsAreRecordedAsTheWindowRecordsThem) {
    // The first download: a new store, and every item of it unread.
    Server.Set("/a.xml", 200, Rss({"a1", "a2", "a3"}));
    Server.Set("/b.xml", 200, Rss({"b1", "b2"}));
    auto lines = Refresh();
    ASSERT_EQ(true, lines["A"]["downloaded"]) << lines["A"].dump();
    ASSERT_EQ(true, lines["B"]["downloaded"]) << lines["B"].dump();
    EXPECT_EQ((std::map<std::string, std::string>{{"A", "3/3"}, {"B", "2/2"}}), State());
    EXPECT_EQ(Ids({"a1", "a2", "a3"}), UnreadIds(FeedA));

    // The reader reads A; the same documents again bring nothing new and keep both states.
    {
        TItemStore store;
        ASSERT_EQ(TStoreOpen::Opened, store.Open(Data.File("items.db")));
        store.MarkFeedRead({FeedA});
    }
    lines = Refresh();
    ASSERT_EQ(true, lines["A"]["downloaded"]) << lines["A"].dump();
    EXPECT_EQ((std::map<std::string, std::string>{{"A", "3/0"}, {"B", "2/2"}}), State());

    // A changed document: only its new items are unread, the one gone leaves the count. B's
    // download fails: its rows stay as they were.
    Server.Set("/a.xml", 200, Rss({"a2", "a3", "a4", "a5"}));
    Server.Set("/b.xml", 500, "");
    lines = Refresh();
    ASSERT_EQ(true, lines["A"]["downloaded"]) << lines["A"].dump();
    EXPECT_FALSE(lines["B"]["error"].is_null()) << lines["B"].dump();
    EXPECT_EQ((std::map<std::string, std::string>{{"A", "4/2"}, {"B", "2/2"}}), State());
    EXPECT_EQ(Ids({"a4", "a5"}), UnreadIds(FeedA));
    EXPECT_EQ(Ids({"b1", "b2"}), UnreadIds(FeedB));

    // The item that left comes back within the 30 days: known, and read.
    Server.Set("/a.xml", 200, Rss({"a1", "a4"}));
    Refresh();
    EXPECT_EQ(Ids({"a4"}), UnreadIds(FeedA));
    EXPECT_EQ("2/1", State()["A"]);
}

// Leaving the store out is what the refresh benchmark compares with: the store is not touched.
TEST_F(InspectRecordingTest, NoStoreLeavesTheStoreAlone) {
    Server.Set("/a.xml", 200, Rss({"a1"}));
    Server.Set("/b.xml", 200, Rss({"b1"}));
    std::vector<nlohmann::json> lines;
    std::string errors;
    ASSERT_TRUE(RunInspect("refresh --force --no-store --data " + Data.Path(), lines, errors)) << errors;
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(true, lines[0]["downloaded"]) << lines[0].dump();
    EXPECT_EQ(1, lines[0]["items"]) << lines[0].dump();
    EXPECT_TRUE(Data.Read("items.db").empty());

    // The next run with the store makes it from the cache: what was downloaded counts as read.
    Server.Set("/a.xml", 200, Rss({"a1", "a2"}));
    Refresh();
    EXPECT_EQ((std::map<std::string, std::string>{{"A", "2/1"}, {"B", "1/0"}}), State());
    EXPECT_EQ(Ids({"a2"}), UnreadIds(FeedA));
}

// A store that refuses every new item (as a full disk would): the tool says so once and the
// refresh goes on as without a store.
TEST_F(InspectRecordingTest, AFailedWriteIsSaidAndTheRefreshGoesOn) {
    {
        TItemStore store;
        ASSERT_EQ(TStoreOpen::Created, store.Open(Data.File("items.db")));
        ASSERT_TRUE(store.ExecForTesting("CREATE TRIGGER full BEFORE INSERT ON items BEGIN SELECT "
                                         "RAISE(ABORT, 'database or disk is full'); END"));
    }
    Server.Set("/a.xml", 200, Rss({"a1", "a2"}));
    Server.Set("/b.xml", 200, Rss({"b1"}));
    std::vector<nlohmann::json> lines;
    std::string errors;
    ASSERT_TRUE(RunInspect("refresh --force --data " + Data.Path(), lines, errors)) << errors;
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(2, lines[0]["items"]) << lines[0].dump();
    EXPECT_EQ(1, lines[1]["items"]) << lines[1].dump();
    EXPECT_NE(std::string::npos, errors.find("not saved")) << errors;
    EXPECT_NE(std::string::npos, errors.find("full")) << errors;
    EXPECT_EQ(errors.find("not saved"), errors.rfind("not saved")) << "said once: " << errors;
}

} // namespace
