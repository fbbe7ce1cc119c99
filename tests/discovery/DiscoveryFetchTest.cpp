// Finding the feed behind an address, against a private nginx and scripted loopback servers.
#include "discovery/DiscoveryFetch.h"

#include <cstdio>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "LoopbackHttpServer.h"
#include "NginxFixture.h"
#include "SyncPump.h"
#include "TempDir.h"
#include "TestCertificates.h"
#include "platform/WorkerKeeper.h"

namespace {

const char* const kRss = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Site news</title>"
                         "<item><title>One</title></item></channel></rss>";

std::string Link(const std::string& type, const std::string& href, const std::string& title) {
    return "<link rel=\"alternate\" type=\"application/" + type + "+xml\" title=\"" + title + "\" href=\"" +
           href + "\">";
}

std::string Page(const std::string& head) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>A site</title>" + head +
           "</head><body><p>Hello</p>" + Link("rss", "/in-body.xml", "Not this") + "</body></html>";
}

// What tovel-inspect printed (one JSON value), and its exit status in status.
nlohmann::json RunInspect(const std::string& arguments, int& status) {
    std::string output;
    FILE* pipe = ::popen((std::string(TOVEL_INSPECT_PATH) + " " + arguments).c_str(), "r");
    if (!pipe) {
        status = -1;
        return nullptr;
    }
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, got);
    status = ::pclose(pipe);
    return nlohmann::json::parse(output, nullptr, false);
}

TDiscoveryResult Discover(const std::string& url) {
    THTTPClient client;
    PrepareFeedClient(client);
    return DiscoverFeedsAt(client, url);
}

class DiscoveryNginxTest : public testing::Test {
protected:
    void SetUp() override {
        const TestCertificates& certificates = TestCertificates::Get();
        if (certificates.Ok())
            Nginx.EnableTls(certificates.Good.Certificate, certificates.Good.Key);
        if (!Nginx.Start())
            GTEST_SKIP() << Nginx.Error();
        Nginx.WriteFile("one/index.html", Page(Link("rss", "feed.xml", "Site &raquo; Feed")));
        Nginx.WriteFile("one/feed.xml", kRss);
        Nginx.WriteFile("several.html",
                        Page(Link("rss", "/rss.xml", "Posts") + Link("atom", "/atom.xml", "Posts (Atom)") +
                             Link("rss", "http://127.0.0.1:9/comments", "Comments") +
                             Link("rss", "/rss.xml", "Again")));
        Nginx.WriteFile("deep/er/page.html", Page(Link("rdf", "../feeds/rdf.xml", "Rdf") +
                                                  "<base href=\"/b/first/\"><base href=\"/b/second/x/\">"));
        Nginx.WriteFile("plain.html", Page("<link rel=\"stylesheet\" href=\"/s.css\">"));
        Nginx.WriteFile("site/index.html", Page(Link("atom", "atom.xml", "Relative to the redirect")));
        Nginx.WriteFile("feed.xml", kRss);
    }

    NginxFixture Nginx;
};

} // namespace

TEST_F(DiscoveryNginxTest, APageWithOneFeedAndRelativeAddresses) {
    TDiscoveryResult result = Discover(Nginx.Url("/one/"));
    ASSERT_EQ(result.Outcome, doFeedsFound) << result.ErrorText;
    ASSERT_EQ(result.Feeds.size(), 1u);
    EXPECT_EQ(result.Feeds[0].URL, Nginx.Url("/one/feed.xml"));
    EXPECT_EQ(result.Feeds[0].Title, "Site \xC2\xBB Feed");
    EXPECT_EQ(result.Feeds[0].Type, "application/rss+xml");
    // The found address is a feed in its turn.
    result = Discover(result.Feeds[0].URL);
    EXPECT_EQ(result.Outcome, doIsFeed);
    EXPECT_EQ(result.FeedTitle, "Site news");

    // A base comes after the link here: the first base still decides.
    result = Discover(Nginx.Url("/deep/er/page.html"));
    ASSERT_EQ(result.Outcome, doFeedsFound) << result.ErrorText;
    ASSERT_EQ(result.Feeds.size(), 1u);
    EXPECT_EQ(result.Feeds[0].URL, Nginx.Url("/b/feeds/rdf.xml"));
}

TEST_F(DiscoveryNginxTest, APageWithSeveralFeeds) {
    const TDiscoveryResult result = Discover(Nginx.Url("/several.html"));
    ASSERT_EQ(result.Outcome, doFeedsFound) << result.ErrorText;
    ASSERT_EQ(result.Feeds.size(), 3u);
    EXPECT_EQ(result.Feeds[0].URL, Nginx.Url("/rss.xml"));
    EXPECT_EQ(result.Feeds[0].Title, "Posts");
    EXPECT_EQ(result.Feeds[1].URL, Nginx.Url("/atom.xml"));
    EXPECT_EQ(result.Feeds[1].Type, "application/atom+xml");
    EXPECT_EQ(result.Feeds[2].URL, "http://127.0.0.1:9/comments");
}

TEST_F(DiscoveryNginxTest, NoFeedAFeedItselfAndFailures) {
    TDiscoveryResult result = Discover(Nginx.Url("/plain.html"));
    EXPECT_EQ(result.Outcome, doNothingFound) << result.ErrorText;
    EXPECT_TRUE(result.Feeds.empty());

    result = Discover(Nginx.Url("/feed.xml"));
    EXPECT_EQ(result.Outcome, doIsFeed) << result.ErrorText;
    EXPECT_EQ(result.FeedTitle, "Site news");
    EXPECT_TRUE(result.Feeds.empty());

    result = Discover(Nginx.Url("/missing.html"));
    EXPECT_EQ(result.Outcome, doFailed);
    EXPECT_FALSE(result.ErrorText.empty());

    RefusedPort refused;
    result = Discover("http://127.0.0.1:" + std::to_string(refused.Port()) + "/");
    EXPECT_EQ(result.Outcome, doFailed);
    EXPECT_FALSE(result.ErrorText.empty());
}

TEST_F(DiscoveryNginxTest, APageThatRedirects) {
    // nginx sends a folder's address without its "/" on to the address with it.
    const TDiscoveryResult result = Discover(Nginx.Url("/site"));
    ASSERT_EQ(result.Outcome, doFeedsFound) << result.ErrorText;
    EXPECT_EQ(result.FinalURL, Nginx.Url("/site/"));
    ASSERT_EQ(result.Feeds.size(), 1u);
    // Relative to the page the redirect led to, not to the address asked.
    EXPECT_EQ(result.Feeds[0].URL, Nginx.Url("/site/atom.xml"));
}

TEST_F(DiscoveryNginxTest, OverTls) {
    const TestCertificates& certificates = TestCertificates::Get();
    if (!certificates.Ok())
        GTEST_SKIP() << certificates.Error();
    const ScopedEnv trust("SSL_CERT_FILE", certificates.CAFile.c_str());
    const TDiscoveryResult result = Discover(Nginx.TlsUrl("/one/"));
    ASSERT_EQ(result.Outcome, doFeedsFound) << result.ErrorText;
    ASSERT_EQ(result.Feeds.size(), 1u);
    EXPECT_EQ(result.Feeds[0].URL, Nginx.TlsUrl("/one/feed.xml"));
}

TEST_F(DiscoveryNginxTest, InspectPrintsTheFeedsOrNone) {
    int status = -1;
    nlohmann::json printed = RunInspect("discover " + Nginx.Url("/several.html"), status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(printed["feeds"].size(), 3u) << printed.dump();
    EXPECT_EQ(printed["feeds"][1], nlohmann::json({{"title", "Posts (Atom)"},
                                                   {"url", Nginx.Url("/atom.xml")},
                                                   {"type", "application/atom+xml"}}));
    EXPECT_EQ(RunInspect("discover " + Nginx.Url("/feed.xml"), status),
              nlohmann::json::parse(R"({"feeds": []})"));
    EXPECT_EQ(RunInspect("discover " + Nginx.Url("/plain.html"), status),
              nlohmann::json::parse(R"({"feeds": []})"));
    printed = RunInspect("discover " + Nginx.Url("/missing"), status);
    EXPECT_NE(status, 0);
    EXPECT_TRUE(printed.contains("error")) << printed.dump();
}

TEST(DiscoveryScriptedTest, RedirectsToARelativeLocationAndTheServersCharset) {
    // A page in windows-1251 that says so only in its Content-Type.
    const std::string page =
        "<html><head><link rel=alternate type=application/rss+xml title=\"\xCD\xEE\xE2\xEE\xF1\xF2\xE8\" "
        "href=news.rss></head></html>";
    LoopbackHttpServer server([&page](LoopbackConnection& connection) {
        const std::string request = connection.ReadRequest();
        if (request.rfind("GET /start ", 0) == 0) {
            connection.Send(
                "HTTP/1.1 302 Found\r\nLocation: /pages/\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        } else {
            connection.Send(
                "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=windows-1251\r\nContent-Length: " +
                std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page);
        }
        connection.Close();
    });
    const TDiscoveryResult result = Discover(server.Url("/start"));
    ASSERT_EQ(result.Outcome, doFeedsFound) << result.ErrorText;
    EXPECT_EQ(result.FinalURL, server.Url("/pages/"));
    ASSERT_EQ(result.Feeds.size(), 1u);
    EXPECT_EQ(result.Feeds[0].URL, server.Url("/pages/news.rss"));
    EXPECT_EQ(result.Feeds[0].Title, "\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD1\x82\xD0\xB8");
}

// The address typed into the dialog goes through the one parse too: a line break asks nothing,
// and "feed:https:" is a secure address, whose redirect target keeps the path whole.
TEST(DiscoveryScriptedTest, TheAddressIsParsedBeforeAnyRequest) {
    auto server = LoopbackHttpServer::Replying("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\n<rss/>");
    const TDiscoveryResult broken = Discover(server->Url("/a") + " HTTP/1.1\r\n\r\nGET /b");
    EXPECT_EQ(broken.Outcome, doFailed);
    EXPECT_EQ(broken.ErrorText, "Invalid feed address: " + server->Url("/a") + " HTTP/1.1%0D%0A%0D%0AGET /b");
    const TDiscoveryResult plain =
        Discover("http://user:pw@127.0.0.1:" + std::to_string(server->Port()) + "/");
    EXPECT_EQ(plain.Outcome, doFailed);
    EXPECT_EQ(plain.ErrorText, "The address holds a password but is not secure");
    EXPECT_EQ(server->Connections(), 0);

    const std::string colon = server->Url("/wiki/Special:Feed?x=1") + "#top";
    const TDiscoveryResult whole = Discover(colon);
    EXPECT_EQ(whole.Outcome, doIsFeed) << whole.ErrorText;
    EXPECT_EQ(whole.FinalURL, colon);
    ASSERT_EQ(server->Requests().size(), 1u);
    EXPECT_EQ(server->Requests()[0].rfind("GET /wiki/Special:Feed?x=1 HTTP/1.1\r\n", 0), 0u)
        << server->Requests()[0];
}

TEST(DiscoveryThreadTest, EndsOnTheUserInterfaceThreadOrNotAtAllWhenCancelled) {
    TSyncPump pump;
    const std::string page = "<head><link rel=alternate type=application/rss+xml href=/f.xml title=F></head>";
    auto server = LoopbackHttpServer::Replying(
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) +
        "\r\nConnection: close\r\n\r\n" + page);
    bool done = false;
    TDiscoveryResult got;
    TFeedDiscovery::Start(server->Url("/"), [&](const TDiscoveryResult& result) {
        done = true;
        got = result;
    });
    ASSERT_TRUE(pump.PumpUntil([&] { return done; }));
    ASSERT_EQ(got.Outcome, doFeedsFound) << got.ErrorText;
    EXPECT_EQ(got.Feeds.at(0).URL, server->Url("/f.xml"));

    // A server that never answers: the stop ends the exchange, and nobody is told.
    auto silent = LoopbackHttpServer::Silent();
    bool told = false;
    TFeedDiscovery* discovery =
        TFeedDiscovery::Start(silent->Url("/"), [&](const TDiscoveryResult&) { told = true; });
    ASSERT_TRUE(pump.PumpUntil([&] { return silent->Connections() > 0; }, 5000));
    discovery->Cancel();
    // The exchange ends within one receive pass, well within the stop's wait.
    TWorkerKeeper keeper;
    EXPECT_TRUE(keeper.Release(std::unique_ptr<TThread>(discovery), 5000));
    pump.PumpUntil([] { return false; }, 200);
    EXPECT_FALSE(told);
}
