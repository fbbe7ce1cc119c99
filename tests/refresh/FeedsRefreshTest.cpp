// The freshness rule and the walk of one refresh: what is requested, what lands in the entries
// and the cache files.
#include "refresh/FeedsRefresh.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <mutex>

#include "NginxFixture.h"
#include "RefreshTestSupport.h"

namespace {

using namespace refresh_test;

// The rule looks at the copy alone: what it says of the cache, its dates and tag, and the moment.
TEST(Freshness, ForcedOrUncachedFeedsAreDownloadedWhole) {
    const TDateTime now = UnixToDateTime(1765000000);
    TRefreshFeed feed;
    feed.RefreshDate = now - kMinute;
    feed.LastModifiedDate = UnixToDateTime(kServedTime);
    feed.ETag = "\"tag\"";

    // No cache file: downloaded, and the check time stays as it was.
    EXPECT_EQ(NeedsDownload(feed, false, now), dnWhole);
    EXPECT_DOUBLE_EQ(feed.RefreshDate, now - kMinute);

    feed.Cached = true;
    EXPECT_EQ(NeedsDownload(feed, false, now), dnNone);
    EXPECT_DOUBLE_EQ(feed.RefreshDate, now - kMinute);
    EXPECT_EQ(NeedsDownload(feed, true, now), dnWhole);
    EXPECT_DOUBLE_EQ(feed.RefreshDate, now);
    // Forced, also without a cache file, the check time is now.
    feed.Cached = false;
    feed.RefreshDate = 0;
    EXPECT_EQ(NeedsDownload(feed, true, now), dnWhole);
    EXPECT_DOUBLE_EQ(feed.RefreshDate, now);
}

TEST(Freshness, TheTenMinuteIntervalHoldsAtItsBoundaries) {
    const TDateTime start = UnixToDateTime(1765000000);
    TRefreshFeed feed;
    feed.Cached = true;

    feed.RefreshDate = start - 9 * kMinute - 59 * kSecond;
    EXPECT_EQ(NeedsDownload(feed, false, start), dnNone);
    EXPECT_DOUBLE_EQ(feed.RefreshDate, start - 9 * kMinute - 59 * kSecond);
    // Half a second short of ten minutes is still within them, and exactly ten minutes is not.
    EXPECT_EQ(NeedsDownload(feed, false, start + 0.49 * kSecond), dnNone);
    feed.RefreshDate = start - 10 * kMinute;
    EXPECT_EQ(NeedsDownload(feed, false, start), dnWhole) << "without a validator the whole document";
    EXPECT_DOUBLE_EQ(feed.RefreshDate, start);

    // A check time in the future (the clock was set back) keeps the feed skipped until ten
    // minutes after it.
    feed.RefreshDate = start + 5 * kMinute;
    EXPECT_EQ(NeedsDownload(feed, false, start), dnNone);
    EXPECT_EQ(NeedsDownload(feed, false, start + 14 * kMinute + 59 * kSecond), dnNone);
    EXPECT_DOUBLE_EQ(feed.RefreshDate, start + 5 * kMinute);
    EXPECT_EQ(NeedsDownload(feed, false, start + 15 * kMinute), dnWhole);
    EXPECT_DOUBLE_EQ(feed.RefreshDate, start + 15 * kMinute);

    // Either validator makes the request conditional.
    feed.RefreshDate = 0;
    feed.ETag = "\"t\"";
    EXPECT_EQ(NeedsDownload(feed, false, start), dnConditional);
    feed.RefreshDate = 0;
    feed.ETag = "";
    feed.LastModifiedDate = 1234.5;
    EXPECT_EQ(NeedsDownload(feed, false, start), dnConditional);
    // Without a cache file the validators do not count: there is nothing to keep.
    feed.RefreshDate = 0;
    feed.Cached = false;
    EXPECT_EQ(NeedsDownload(feed, false, start), dnWhole);
}

// The validators a conditional GET carries, and that a whole download carries none of them.
TEST(Freshness, TheConditionsAreTheStoredDateAndTag) {
    THTTPSettings settings;
    PrepareFeedSettings(settings);
    TRefreshFeed feed;
    feed.LastModifiedDate = UnixToDateTime(784111777); // Sun, 06 Nov 1994 08:49:37 GMT
    feed.ETag = "W/\"a-1\"";
    SetConditions(settings, feed, true);
    EXPECT_EQ(settings.RequestHeaders.Values("If-Modified-Since"), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(settings.RequestHeaders.Values("If-None-Match"), "W/\"a-1\"");
    SetConditions(settings, feed, false);
    EXPECT_EQ(settings.RequestHeaders.Values("If-Modified-Since"), "");
    EXPECT_EQ(settings.RequestHeaders.Values("If-None-Match"), "");
    feed.LastModifiedDate = 0;
    SetConditions(settings, feed, true);
    EXPECT_EQ(settings.RequestHeaders.Values("If-Modified-Since"), "");
    EXPECT_EQ(settings.RequestHeaders.Values("If-None-Match"), "W/\"a-1\"");
    // The other headers stay.
    EXPECT_EQ(settings.RequestHeaders.Values("Accept-Encoding"), "gzip, deflate");
    EXPECT_EQ(settings.UserAgent, "Tovel RSS Reader/1.00 (+https://tovelsoft.example/)");
}

// A server that refuses HEAD (405) and answers GET by its validators, as a scripted origin: a
// stored date or tag gives 304 when it matches and the new document when not. No HEAD is ever
// needed, and each check costs one request.
TEST_F(RefreshTest, AConditionalGetReplacesTheHeadProbe) {
    const std::string oldDate = LastModified(kServedTime).substr(15, 29);
    std::atomic<int> version{1};
    LoopbackHttpServer server([&](LoopbackConnection& connection) {
        const std::string request = connection.ReadRequest();
        if (request.rfind("HEAD ", 0) == 0) {
            connection.Send(Response("405 Not Allowed", "", ""));
            return;
        }
        const int v = version;
        const std::string tag = "\"v" + std::to_string(v) + "\"";
        const bool tagMatches = request.find("If-None-Match: " + tag + "\r\n") != std::string::npos;
        const bool dateMatches = v == 1 && request.find("If-Modified-Since: " + oldDate) != std::string::npos;
        if (tagMatches || dateMatches)
            connection.Send("HTTP/1.1 304 Not Modified\r\nConnection: close\r\n\r\n");
        else if (v == 3)
            connection.Send(Response("200 OK", "", "<rss>3</rss>"));
        else
            connection.Send(Response("200 OK", LastModified(kServedTime + v - 1) + "ETag: " + tag + "\r\n",
                                     "<rss>" + std::to_string(v) + "</rss>"));
    });
    TFeedListItem* feed = AddFeed("news", server.Url("/feed"));
    const std::string etagFile = ETagFileName(feed->FeedID);
    auto check = [&](const char* name, int expectedStatus) {
        SCOPED_TRACE(name);
        TestClock = TestClock + 10 * 60;
        TRefreshRun run;
        run.Run(Feeds, Force);
        EXPECT_EQ(feed->ErrorText, "");
        EXPECT_EQ(run.OutcomeOf(feed->FeedID).StatusCode, expectedStatus);
        EXPECT_EQ(run.OutcomeOf(feed->FeedID).Downloaded, expectedStatus == 200);
    };

    check("first download", 200);
    EXPECT_EQ(ReadCache(feed->FeedID), "<rss>1</rss>");
    EXPECT_DOUBLE_EQ(feed->LastModifiedDate, UnixToDateTime(kServedTime));
    EXPECT_EQ(ReadFileToString(etagFile), "\"v1\"");
    EXPECT_EQ(server.Requests()[0].find("If-"), std::string::npos) << "the first download is whole";

    check("unchanged", 304);
    EXPECT_DOUBLE_EQ(feed->RefreshDate, Now());
    EXPECT_EQ(ReadCache(feed->FeedID), "<rss>1</rss>");
    EXPECT_EQ(ReadFileToString(etagFile), "\"v1\"");
    EXPECT_DOUBLE_EQ(feed->LastModifiedDate, UnixToDateTime(kServedTime));
    const std::string conditional = RequestHead(server.Requests()[1]);
    EXPECT_EQ(conditional.rfind("GET /feed HTTP/1.1\r\n", 0), 0u) << conditional;
    EXPECT_NE(conditional.find("If-Modified-Since: Tue, 14 Nov 2023 22:13:20 GMT\r\n"), std::string::npos);
    EXPECT_NE(conditional.find("If-None-Match: \"v1\"\r\n"), std::string::npos);

    version = 2;
    check("changed", 200);
    EXPECT_EQ(ReadCache(feed->FeedID), "<rss>2</rss>");
    EXPECT_EQ(ReadFileToString(etagFile), "\"v2\"");
    EXPECT_DOUBLE_EQ(feed->LastModifiedDate, UnixToDateTime(kServedTime + 1));

    check("unchanged by its tag alone", 304);

    // A new document without validators: the old tag must not stay beside it.
    version = 3;
    check("changed, no validators", 200);
    EXPECT_EQ(ReadCache(feed->FeedID), "<rss>3</rss>");
    EXPECT_FALSE(FileExists(etagFile));
    EXPECT_EQ(feed->LastModifiedDate, 0);
    check("whole again", 200);
    EXPECT_EQ(server.Requests().back().find("If-"), std::string::npos);

    for (const std::string& request : server.Requests())
        EXPECT_EQ(request.rfind("GET ", 0), 0u) << request;
    EXPECT_EQ(server.Requests().size(), 6u) << "one request per check";
}

// Within the ten minutes nothing is asked; forced, the validators are left out, so that the
// server sends the whole document whatever the cache holds.
TEST_F(RefreshTest, AForcedRefreshAsksForTheWholeDocument) {
    auto site =
        Site({{"/feed", Response("200 OK", LastModified(kServedTime) + "ETag: \"n\"\r\n", "<rss/>")}});
    TFeedListItem* feed = AddFeed("news", site->Url("/feed"));
    WriteCache(feed->FeedID, "old");
    WriteETag(feed->FeedID, "\"o\"");
    feed->LastModifiedDate = UnixToDateTime(kServedTime);
    feed->RefreshDate = Now() - kMinute;
    Force = true;
    TRefreshRun run;
    run.Run(Feeds, Force);
    ASSERT_EQ(site->Requests().size(), 1u);
    EXPECT_EQ(site->Requests()[0].find("If-"), std::string::npos) << site->Requests()[0];
    EXPECT_EQ(ReadCache(feed->FeedID), "<rss/>");
    EXPECT_EQ(ReadETag(feed->FeedID), "\"n\"");
}

TEST_F(RefreshTest, TheWalkRefreshesMarkedFeedsInOrderAndRecordsEachOutcome) {
    const ScopedHostResolver resolver;
    const std::string body = "<rss><channel><title>t</title></channel></rss>";
    auto site = Site({
        {"/ok", Response("200 OK", LastModified(kServedTime), body)},
        {"/plain", Response("200 OK", "", "plain body")},
    });
    TFeedListItem* folder = AddFeed("folder", "");
    TFeedListItem* unmarked = AddFeed("unmarked", site->Url("/ok"), false);
    TFeedListItem* ok = AddFeed("ok", site->Url("/ok"));
    TFeedListItem* missing = AddFeed("missing", site->Url("/missing"));
    TFeedListItem* unknownHost = AddFeed("nohost", "http://tovel-no-such-host.test/feed");
    TFeedListItem* plain = AddFeed("plain", site->Url("/plain"));
    ok->ErrorText = "failed the last time";
    WriteCache(missing->FeedID, "old document");
    missing->LastModifiedDate = 1234.5;
    plain->LastModifiedDate = 1234.5;
    Force = true;

    TRefreshRun run;
    run.MaxParallel = 1;
    run.Run(Feeds, Force);

    EXPECT_EQ(run.Finished, 1);
    auto checking = [](const TFeedListItem* f, int k) {
        return "Feed checking: " + f->FeedName + " -> " + f->FeedURL + " (" + std::to_string(k) + " of 4)";
    };
    auto download = [](const TFeedListItem* f, int k) {
        return "Feed download: " + f->FeedName + " -> " + f->FeedURL + " (" + std::to_string(k) + " of 4)";
    };
    // A failed feed leaves its last text standing until the next feed's check.
    EXPECT_EQ(run.Statuses, (std::vector<std::string>{checking(ok, 1), download(ok, 1), "",
                                                      checking(missing, 2), download(missing, 2),
                                                      checking(unknownHost, 3), download(unknownHost, 3),
                                                      checking(plain, 4), download(plain, 4), ""}));
    EXPECT_EQ(ok->ErrorText, "");
    EXPECT_EQ(ReadCache(ok->FeedID), body);
    EXPECT_DOUBLE_EQ(ok->LastModifiedDate, UnixToDateTime(kServedTime));
    EXPECT_DOUBLE_EQ(ok->RefreshDate, Now());

    EXPECT_EQ(missing->ErrorText, "Unable to open " + missing->FeedURL);
    EXPECT_EQ(ReadCache(missing->FeedID), "old document");
    EXPECT_EQ(missing->LastModifiedDate, 1234.5);
    EXPECT_DOUBLE_EQ(missing->RefreshDate, Now()) << "the check time stands even for a failed download";

    EXPECT_EQ(unknownHost->ErrorText, "The name \"tovel-no-such-host.test\" can not be resolved");

    EXPECT_EQ(plain->ErrorText, "");
    EXPECT_EQ(ReadCache(plain->FeedID), "plain body");
    EXPECT_EQ(plain->LastModifiedDate, 0) << "a download without Last-Modified forgets the old date";

    EXPECT_EQ(ReadCache(folder->FeedID), "<none>");
    EXPECT_EQ(ReadCache(unmarked->FeedID), "<none>");
    EXPECT_EQ(StrayCacheFiles(), std::vector<std::string>());
    std::vector<std::string> lines;
    for (const std::string& request : site->Requests())
        lines.push_back(request.substr(0, request.find("\r\n")));
    EXPECT_EQ(lines,
              (std::vector<std::string>{"GET /ok HTTP/1.1", "GET /missing HTTP/1.1", "GET /plain HTTP/1.1"}));
    // The refresh names itself and takes compressed documents, which the client decodes.
    for (const std::string& request : site->Requests()) {
        const std::string head = RequestHead(request);
        EXPECT_NE(head.find("\r\nUser-Agent: Tovel RSS Reader/1.00 (+https://tovelsoft.example/)\r\n"),
                  std::string::npos)
            << head;
        EXPECT_NE(head.find("\r\nAccept-Encoding: gzip, deflate\r\n"), std::string::npos) << head;
    }
    EXPECT_EQ(run.OutcomeOf(ok->FeedID).StatusCode, 200);
    EXPECT_EQ(run.OutcomeOf(missing->FeedID).StatusCode, 404);
    EXPECT_EQ(run.OutcomeOf(unknownHost->FeedID).StatusCode, 0) << "no answer, no status";
}

TEST_F(RefreshTest, AFeedWithinTheIntervalOnlyShowsItsCheck) {
    auto site = Site({});
    TFeedListItem* feed = AddFeed("recent", site->Url("/feed"));
    WriteCache(feed->FeedID, "cached");
    feed->RefreshDate = Now() - kMinute;
    feed->ErrorText = "stale";
    TRefreshRun run;
    run.Run(Feeds, Force);
    EXPECT_EQ(run.Statuses,
              (std::vector<std::string>{"Feed checking: recent -> " + feed->FeedURL + " (1 of 1)", ""}));
    EXPECT_EQ(feed->ErrorText, "");
    EXPECT_EQ(site->Connections(), 0);
    EXPECT_EQ(ReadCache(feed->FeedID), "cached");
}

// An unchanged document is not written again; a cache file that cannot be replaced becomes the
// feed's error, and the old document keeps its date.
TEST_F(RefreshTest, TheCacheFileIsReplacedOnlyByADifferentDocument) {
    auto site = Site({{"/same", Response("200 OK", LastModified(kServedTime), "same")},
                      {"/blocked", Response("200 OK", LastModified(kServedTime), "new")}});
    TFeedListItem* same = AddFeed("same", site->Url("/same"));
    TFeedListItem* blocked = AddFeed("blocked", site->Url("/blocked"));
    WriteCache(same->FeedID, "same");
    blocked->LastModifiedDate = 1234.5;
    ASSERT_TRUE(ForceDirectories(Cache(blocked->FeedID) + "/inner"));
    struct stat before {};
    ASSERT_EQ(::stat(Cache(same->FeedID).c_str(), &before), 0);
    Force = true;
    TRefreshRun run;
    run.Run(Feeds, Force);

    struct stat after {};
    ASSERT_EQ(::stat(Cache(same->FeedID).c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(same->ErrorText, "");
    EXPECT_DOUBLE_EQ(same->LastModifiedDate, UnixToDateTime(kServedTime));
    EXPECT_EQ(blocked->ErrorText, "Cannot create file " + Cache(blocked->FeedID));
    EXPECT_EQ(blocked->LastModifiedDate, 1234.5);
    EXPECT_EQ(StrayCacheFiles(), std::vector<std::string>());
}

// A document cut off before its end, by length or before its last chunk, is no document: with
// conditional requests it would otherwise stay in the cache for good.
TEST_F(RefreshTest, ATruncatedDocumentLeavesTheCacheAsItWas) {
    auto site = Site({
        {"/short", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n<rss>cut"},
        {"/chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                     "5\r\n<rss>\r\n20\r\ncut"},
    });
    TFeedListItem* shortFeed = AddFeed("short", site->Url("/short"));
    TFeedListItem* chunked = AddFeed("chunked", site->Url("/chunked"));
    WriteCache(chunked->FeedID, "old");
    WriteETag(chunked->FeedID, "\"old\"");
    chunked->LastModifiedDate = 1234.5;
    Force = true;
    TRefreshRun run;
    run.Run(Feeds, Force);
    EXPECT_EQ(shortFeed->ErrorText, "Unable to open " + shortFeed->FeedURL);
    EXPECT_EQ(ReadCache(shortFeed->FeedID), "<none>");
    EXPECT_EQ(chunked->ErrorText, "Unable to open " + chunked->FeedURL);
    EXPECT_EQ(ReadCache(chunked->FeedID), "old");
    EXPECT_EQ(ReadETag(chunked->FeedID), "\"old\"");
    EXPECT_EQ(chunked->LastModifiedDate, 1234.5);
    EXPECT_EQ(StrayCacheFiles(), std::vector<std::string>{"" + chunked->FeedID + ".etag"});
}

// ---- Addresses as they are stored: blanks, prefixes, line breaks, colons and fragments ----

// A server that records the first bytes of every connection, read straight from the socket, and
// closes it: a TLS ClientHello begins with 0x16, a plain request with its method.
class TFirstBytesServer {
public:
    TFirstBytesServer()
        : FServer([this](LoopbackConnection& connection) {
              pollfd readable{connection.Handle(), POLLIN, 0};
              std::string first;
              if (::poll(&readable, 1, 5000) == 1) {
                  char buffer[16];
                  const ssize_t got = ::recv(connection.Handle(), buffer, sizeof buffer, 0);
                  first.assign(buffer, static_cast<size_t>(std::max<ssize_t>(got, 0)));
              }
              std::lock_guard<std::mutex> lock(FLock);
              FFirst.push_back(first);
          }) {}
    int Port() const { return FServer.Port(); }
    std::vector<std::string> First() const {
        std::lock_guard<std::mutex> lock(FLock);
        return FFirst;
    }

private:
    mutable std::mutex FLock;
    std::vector<std::string> FFirst;
    LoopbackHttpServer FServer;
};

// A secure address stored with a blank or a tab before it, or as "feed:https:", is still a
// secure one: the server is greeted with a TLS handshake, never a plain request.
TEST_F(RefreshTest, ASecureAddressBehindABlankOrAFeedPrefixIsNeverAskedInPlainText) {
    TFirstBytesServer server;
    const std::string address = "https://127.0.0.1:" + std::to_string(server.Port()) + "/feed";
    TFeedListItem* blank = AddFeed("blank", " " + address);
    TFeedListItem* tab = AddFeed("tab", "\t" + address);
    TFeedListItem* prefixed = AddFeed("prefixed", "feed:" + address);
    Force = true;
    TRefreshRun run;
    run.Run(Feeds, Force);
    const std::vector<std::string> first = server.First();
    ASSERT_EQ(first.size(), 3u);
    for (const std::string& bytes : first) {
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(bytes[0], '\x16') << "a plain request reached the secure port: " << bytes;
    }
    // The server closed during the handshake.
    for (const TFeedListItem* feed : {blank, tab, prefixed})
        EXPECT_NE(feed->ErrorText, "") << feed->FeedName;
}

// A line break in a stored address could carry a second request of the feed's choosing onto the
// connection. No byte of such an address reaches a server, and the error shows the breaks.
TEST_F(RefreshTest, AnAddressHoldingALineBreakAsksNothing) {
    // A lenient server: it answers every request a connection brings.
    LoopbackHttpServer server([](LoopbackConnection& connection) {
        while (!connection.ReadRequest().empty())
            connection.Send(Response("200 OK", "", "<rss/>"));
    });
    const std::string base = server.Url("/a");
    TFeedListItem* smuggler = AddFeed("smuggler", base + " HTTP/1.1\r\n\r\nGET /smuggled");
    auto other = Site({{"/b", Response("200 OK", "", "<rss/>")}});
    TFeedListItem* plain = AddFeed("plain", other->Url("/b\r\n"));
    Force = true;
    TRefreshRun run;
    run.Run(Feeds, Force);
    server.Stop();
    int requests = 0;
    for (const std::string& request : server.Requests())
        requests += request.empty() ? 0 : 1;
    EXPECT_EQ(requests, 0);
    EXPECT_EQ(server.Connections(), 0);
    EXPECT_EQ(smuggler->ErrorText, "Invalid feed address: " + base + " HTTP/1.1%0D%0A%0D%0AGET /smuggled");
    EXPECT_EQ(run.OutcomeOf(smuggler->FeedID).StatusCode, 0);
    // A trailing line break is trimmed like a blank: that address is fine.
    EXPECT_EQ(plain->ErrorText, "");
    for (const std::string& status : run.Statuses)
        EXPECT_EQ(status.find_first_of("\r\n"), std::string::npos) << status;
}

// The path is asked whole, colons and query included; the fragment stays with the reader, and
// the Host header names the port the address gives.
TEST_F(RefreshTest, ThePathIsAskedWholeWithoutTheFragment) {
    auto site =
        Site({{"/wiki/Special:RecentChanges?feed=rss&x=a:b", Response("200 OK", "", "<rss>changes</rss>")}});
    TFeedListItem* feed = AddFeed("wiki", site->Url("/wiki/Special:RecentChanges?feed=rss&x=a:b#latest"));
    Force = true;
    TRefreshRun run;
    run.Run(Feeds, Force);
    ASSERT_EQ(site->Requests().size(), 1u);
    const std::string head = RequestHead(site->Requests()[0]);
    EXPECT_EQ(head.rfind("GET /wiki/Special:RecentChanges?feed=rss&x=a:b HTTP/1.1\r\n"
                         "Host: 127.0.0.1:" +
                             std::to_string(site->Port()) + "\r\n",
                         0),
              0u)
        << head;
    EXPECT_EQ(feed->ErrorText, "");
    EXPECT_EQ(ReadCache(feed->FeedID), "<rss>changes</rss>");
}

// The served document's modification time drives nginx's Last-Modified.
void SetModified(const std::string& path, time_t unixTime) {
    struct timespec times[2] = {{unixTime, 0}, {unixTime, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_F(RefreshTest, AgainstNginxOnlyAChangedDocumentIsDownloadedAgain) {
    NginxFixture nginx;
    // Compressed on the way; the cache holds the document itself.
    nginx.EnableGzip();
    if (!nginx.Start())
        GTEST_SKIP() << "nginx is not available: " << nginx.Error();
    const std::string served = nginx.WriteFile("news.xml", "<rss>first</rss>");
    SetModified(served, kServedTime);
    TFeedListItem* feed = AddFeed("news", nginx.Url("/news.xml"));
    TFeedListItem* gone = AddFeed("gone", nginx.Url("/gone.xml"));
    WriteCache(gone->FeedID, "kept");
    gone->LastModifiedDate = 42;

    Force = true;
    TRefreshRun first;
    first.Run(Feeds, Force);
    Force = false;
    EXPECT_EQ(ReadCache(feed->FeedID), "<rss>first</rss>");
    EXPECT_DOUBLE_EQ(feed->LastModifiedDate, UnixToDateTime(kServedTime));
    EXPECT_DOUBLE_EQ(feed->RefreshDate, Now());
    // nginx tags a static file by its time and size.
    EXPECT_NE(ReadETag(feed->FeedID), "");
    EXPECT_EQ(gone->ErrorText, "Unable to open " + gone->FeedURL);
    EXPECT_EQ(first.OutcomeOf(gone->FeedID).StatusCode, 404);
    EXPECT_EQ(ReadCache(gone->FeedID), "kept");
    EXPECT_EQ(gone->LastModifiedDate, 42);
    gone->RefreshMark = false;

    // nginx answers 304 only when both the date and the tag match: a document that went back to
    // an older time is another document.
    struct TStep {
        const char* Name;
        time_t Modified;
        int Status;
    } steps[] = {{"unchanged", kServedTime, 304},
                 {"one second newer", kServedTime + 1, 200},
                 {"unchanged again", kServedTime + 1, 304},
                 {"older", kServedTime - 3600, 200}};
    std::string expected = "<rss>first</rss>";
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.Name);
        const std::string text = step.Status == 200 ? std::string("<rss>") + step.Name + "</rss>" : expected;
        nginx.WriteFile("news.xml", text);
        SetModified(served, step.Modified);
        expected = text;
        TestClock = TestClock + 10 * 60;
        TRefreshRun run;
        run.Run(Feeds, Force);
        EXPECT_EQ(ReadCache(feed->FeedID), expected);
        EXPECT_EQ(feed->ErrorText, "");
        EXPECT_DOUBLE_EQ(feed->RefreshDate, Now());
        EXPECT_EQ(run.OutcomeOf(feed->FeedID).StatusCode, step.Status);
        EXPECT_DOUBLE_EQ(feed->LastModifiedDate, UnixToDateTime(step.Modified));
    }
}

} // namespace
