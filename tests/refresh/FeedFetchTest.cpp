// Following redirects, the HTTP date of a conditional request, and what a redirect does to a
// feed of the refresh.
#include "refresh/FeedFetch.h"

#include <mutex>

#include "NginxFixture.h"
#include "RefreshTestSupport.h"
#include "TestCertificates.h"

namespace {

using namespace refresh_test;

std::string Redirect(const std::string& status, const std::string& location) {
    return Response(status, "Location: " + location + "\r\n", "moved");
}

// The request lines a server saw, in order.
std::vector<std::string> RequestLines(const LoopbackHttpServer& server) {
    std::vector<std::string> lines;
    for (const std::string& request : server.Requests())
        lines.push_back(request.substr(0, request.find("\r\n")));
    return lines;
}

template <typename TError> std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const TError& e) {
        return e.what();
    }
    return "<no error>";
}

TEST(RedirectTargetTest, ResolvedAgainstTheAddressAskedAndNeverDowngraded) {
    EXPECT_EQ(RedirectTarget("http://h/blog/feed", "atom.xml"), "http://h/blog/atom.xml");
    EXPECT_EQ(RedirectTarget("http://h/blog/feed", " /rss \r"), "http://h/rss");
    EXPECT_EQ(RedirectTarget("http://h/feed", "https://h/feed"), "https://h/feed");
    EXPECT_EQ(RedirectTarget("https://h/feed", "//cdn.h/feed"), "https://cdn.h/feed");
    EXPECT_EQ(RedirectTarget("HTTPS://h/feed", "HTTPS://h/new"), "HTTPS://h/new");

    EXPECT_EQ(MessageOf<ERedirectError>([] { RedirectTarget("https://h/feed", "http://h/feed"); }),
              "The server redirects to an insecure address: http://h/feed");
    EXPECT_EQ(MessageOf<ERedirectError>([] { RedirectTarget("https://h/feed", "ftp://h/feed "); }),
              "The server redirects to an insecure address: ftp://h/feed");
    // Neither a missing Location nor a scheme the reader does not speak is a document address.
    EXPECT_EQ(MessageOf<EHTTPError>([] { RedirectTarget("http://h/feed", " "); }),
              "The server response is incorrect");
    EXPECT_EQ(MessageOf<EHTTPError>([] { RedirectTarget("http://h/feed", "mailto:a@h"); }),
              "The server response is incorrect");
    EXPECT_EQ(MessageOf<EHTTPError>([] { RedirectTarget("http://h/feed", "ftp://h/feed"); }),
              "The server response is incorrect");
}

TEST(FormatHttpDateTest, EnglishNamesInGmtToTheSecond) {
    EXPECT_EQ(FormatHttpDate(UnixToDateTime(784111777)), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(FormatHttpDate(UnixToDateTime(1709164800.4)), "Thu, 29 Feb 2024 00:00:00 GMT");
    EXPECT_EQ(FormatHttpDate(UnixToDateTime(1709164799.6)), "Thu, 29 Feb 2024 00:00:00 GMT");
    EXPECT_EQ(FormatHttpDate(UnixToDateTime(0)), "Thu, 01 Jan 1970 00:00:00 GMT");
    // Dates no server can have sent: nothing rather than a wrong text.
    EXPECT_EQ(FormatHttpDate(1.0), "");
    EXPECT_EQ(FormatHttpDate(3e6), "");
}

TEST(UserAgentTest, NamesTheProgramAndItsSite) {
    EXPECT_EQ(DefaultUserAgent(), "Tovel RSS Reader/1.00 (+https://tovelsoft.example/)");
}

// A server whose pages are set after it has started, so that two servers can name each other.
class TScriptedSite {
public:
    TScriptedSite()
        : FServer([this](LoopbackConnection& connection) {
              const std::string request = connection.ReadRequest();
              const size_t start = request.find(' ') + 1;
              const std::string path = request.substr(start, request.find(' ', start) - start);
              std::string reply = Response("404 Not Found", "", "gone");
              {
                  std::lock_guard<std::mutex> lock(FLock);
                  const auto page = FPages.find(path);
                  if (page != FPages.end())
                      reply = page->second;
              }
              connection.Send(reply);
          }) {}
    void Set(const std::string& path, const std::string& reply) {
        std::lock_guard<std::mutex> lock(FLock);
        FPages[path] = reply;
    }
    std::string Url(const std::string& path) const { return FServer.Url(path); }
    const LoopbackHttpServer& Server() const { return FServer; }

private:
    std::mutex FLock;
    std::map<std::string, std::string> FPages;
    LoopbackHttpServer FServer;
};

// Every redirect status, relative and absolute, across two servers: five hops end at the
// document, each with the method and request headers of the first.
TEST(FetchFollowingRedirectsTest, FiveHopsOfEveryKindReachTheDocument) {
    TScriptedSite first;
    TScriptedSite second;
    first.Set("/feeds/a", Redirect("301 Moved Permanently", "b?x=1"));
    first.Set("/feeds/b?x=1", Redirect("302 Found", "/c"));
    first.Set("/c", Redirect("303 See Other", second.Url("/d/")));
    second.Set("/d/", Redirect("307 Temporary Redirect", "../e"));
    second.Set("/e", Redirect("308 Permanent Redirect", first.Url("/f")));
    first.Set("/f", Response("200 OK", "", "<rss>final</rss>"));

    THTTPClient client;
    client.RequestHeaders.SetValue("If-None-Match", "\"t\"");
    const TFetchResult result = FetchFollowingRedirects(client, first.Url("/feeds/a"));
    EXPECT_EQ(result.FinalURL, first.Url("/f"));
    EXPECT_EQ(result.Redirects, 5);
    EXPECT_EQ(client.StatusCode, 200);
    EXPECT_EQ(client.Content, "<rss>final</rss>");
    EXPECT_EQ(RequestLines(first.Server()),
              (std::vector<std::string>{"GET /feeds/a HTTP/1.1", "GET /feeds/b?x=1 HTTP/1.1",
                                        "GET /c HTTP/1.1", "GET /f HTTP/1.1"}));
    EXPECT_EQ(RequestLines(second.Server()),
              (std::vector<std::string>{"GET /d/ HTTP/1.1", "GET /e HTTP/1.1"}));
    for (const auto* site : {&first, &second})
        for (const std::string& request : site->Server().Requests())
            EXPECT_NE(request.find("\r\nIf-None-Match: \"t\"\r\n"), std::string::npos) << request;
}

TEST(FetchFollowingRedirectsTest, ASixthHopOrALoopEndsTheFetch) {
    TScriptedSite site;
    for (int i = 0; i < 6; ++i)
        site.Set("/r" + std::to_string(i), Redirect("302 Found", "/r" + std::to_string(i + 1)));
    site.Set("/r6", Response("200 OK", "", "<rss/>"));
    site.Set("/loop/a", Redirect("301 Moved Permanently", "b"));
    site.Set("/loop/b", Redirect("301 Moved Permanently", site.Url("/loop/a")));
    site.Set("/bare", Response("302 Found", "", "no location"));

    THTTPClient client;
    const std::string url = site.Url("/r0");
    EXPECT_EQ(MessageOf<ERedirectError>([&] { FetchFollowingRedirects(client, url); }),
              "Too many redirects for " + url);
    EXPECT_EQ(site.Server().Requests().size(), 6u) << "the sixth redirect is not followed";
    EXPECT_EQ(FetchFollowingRedirects(client, site.Url("/r1")).Redirects, 5);

    const size_t before = site.Server().Requests().size();
    const std::string loop = site.Url("/loop/a");
    EXPECT_EQ(MessageOf<ERedirectError>([&] { FetchFollowingRedirects(client, loop); }),
              "Too many redirects for " + loop);
    EXPECT_EQ(site.Server().Requests().size(), before + 2) << "a loop ends as soon as it closes";

    EXPECT_EQ(MessageOf<EHTTPError>([&] { FetchFollowingRedirects(client, site.Url("/bare")); }),
              "The server response is incorrect");
}

TEST(FetchFollowingRedirectsTest, TheCallerMayEndItBeforeAnyExchange) {
    TScriptedSite site;
    site.Set("/a", Redirect("302 Found", "/b"));
    site.Set("/b", Response("200 OK", "", "<rss/>"));
    THTTPClient client;
    int exchanges = 0;
    EXPECT_EQ(MessageOf<Exception>([&] {
                  FetchFollowingRedirects(client, site.Url("/a"), [&] {
                      if (++exchanges == 2)
                          throw Exception("stopped");
                  });
              }),
              "stopped");
    EXPECT_EQ(site.Server().Requests().size(), 1u);
}

// From a plain address to a secure one, as most sites move their feeds; nginx itself then sends
// the request for a folder on to the folder's address with a "/".
TEST(FetchFollowingRedirectsTest, PlainToSecureIsFollowed) {
    const TestCertificates& certificates = TestCertificates::Get();
    if (!certificates.Ok())
        GTEST_SKIP() << certificates.Error();
    NginxFixture nginx;
    nginx.EnableTls(certificates.Good.Certificate, certificates.Good.Key);
    if (!nginx.Start())
        GTEST_SKIP() << "nginx is not available: " << nginx.Error();
    nginx.WriteFile("blog/index.html", "<rss>secure</rss>");
    const ScopedEnv trust("SSL_CERT_FILE", certificates.CAFile.c_str());
    TScriptedSite site;
    site.Set("/feed", Redirect("301 Moved Permanently", nginx.TlsUrl("/blog")));

    THTTPClient client;
    const TFetchResult result = FetchFollowingRedirects(client, site.Url("/feed"));
    EXPECT_EQ(client.StatusCode, 200);
    EXPECT_EQ(client.Content, "<rss>secure</rss>");
    EXPECT_EQ(result.Redirects, 2);
    EXPECT_EQ(result.FinalURL, nginx.TlsUrl("/blog/"));
}

// In the refresh: the cache holds the final document under the address the user wrote, and
// the redirect errors reach the feed in their own words.
TEST_F(RefreshTest, RedirectedFeedsKeepTheirAddress) {
    TScriptedSite site;
    site.Set("/moved", Redirect("301 Moved Permanently", "/feed.xml"));
    site.Set("/feed.xml",
             Response("200 OK", LastModified(kServedTime) + "ETag: \"f\"\r\n", "<rss>moved</rss>"));
    site.Set("/gone", Redirect("302 Found", "/missing"));
    for (int i = 0; i < 6; ++i)
        site.Set("/r" + std::to_string(i), Redirect("302 Found", "/r" + std::to_string(i + 1)));
    TFeedListItem* moved = AddFeed("moved", site.Url("/moved"));
    TFeedListItem* gone = AddFeed("gone", site.Url("/gone"));
    TFeedListItem* endless = AddFeed("endless", site.Url("/r0"));
    WriteCache(endless->FeedID, "kept");

    TRefreshRun run;
    run.Run(Feeds);
    EXPECT_EQ(moved->FeedURL, site.Url("/moved"));
    EXPECT_EQ(moved->ErrorText, "");
    EXPECT_EQ(ReadCache(moved->FeedID), "<rss>moved</rss>");
    EXPECT_EQ(ReadETag(moved->FeedID), "\"f\"");
    EXPECT_DOUBLE_EQ(moved->LastModifiedDate, UnixToDateTime(kServedTime));
    EXPECT_EQ(run.OutcomeOf(moved->FeedID).StatusCode, 200);

    EXPECT_EQ(gone->ErrorText, "Unable to open " + gone->FeedURL);
    EXPECT_EQ(run.OutcomeOf(gone->FeedID).StatusCode, 404);
    EXPECT_EQ(endless->ErrorText, "Too many redirects for " + endless->FeedURL);
    EXPECT_EQ(ReadCache(endless->FeedID), "kept");
    EXPECT_EQ(run.OutcomeOf(endless->FeedID).StatusCode, 302);

    // The next check asks the first address again, with the final document's validators.
    TestClock = TestClock + 10 * 60;
    site.Set("/feed.xml", "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n\r\n");
    TRefreshRun second;
    second.Run(Feeds);
    EXPECT_EQ(moved->ErrorText, "");
    EXPECT_EQ(second.OutcomeOf(moved->FeedID).StatusCode, 304);
    EXPECT_EQ(ReadCache(moved->FeedID), "<rss>moved</rss>");
    std::string last;
    for (const std::string& request : site.Server().Requests())
        if (request.rfind("GET /feed.xml ", 0) == 0)
            last = RequestHead(request);
    EXPECT_NE(last.find("If-None-Match: \"f\"\r\n"), std::string::npos) << last;
}

} // namespace
