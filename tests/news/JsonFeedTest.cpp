#include "news/JsonFeed.h"

#include <cstdio>
#include <gtest/gtest.h>

#include "NewsTestSupport.h"
#include "dates/NewsDates.h"
#include "news/FeedDiscovery.h"
#include "news/ItemIdentity.h"

namespace {

const std::string kUnknownFormat = "The server returns data that has an unknown format.";
const std::string kFFFD = "\xEF\xBF\xBD";

std::string Feed11(const std::string& items, const std::string& extra = std::string()) {
    return R"({"version": "https://jsonfeed.org/version/1.1", "title": " Example &amp; Co ",)" + extra +
           R"( "items": [)" + items + "]}";
}

class JsonFeedTest : public ::testing::Test, protected TNewsFixtureBase {
protected:
    std::string Load(const std::string& document) {
        return LoadDocument(document, "https://site.example/feeds/json");
    }
};

TEST_F(JsonFeedTest, Version11FieldsAndEachFallback) {
    ASSERT_EQ(Load(Feed11(R"(
  {"id": "tag:site,2024:1", "title": "Fish & <chips>", "content_html": "<p>Html</p>",
   "content_text": "not this", "summary": "nor this", "url": "https://site.example/1",
   "external_url": "https://elsewhere.example/", "date_published": "2024-03-01T10:00:00+01:00",
   "date_modified": "2024-03-05T00:00:00Z",
   "authors": [{"name": "Ann"}, {"url": "https://nameless.example/"}, {"name": " Bob "}],
   "author": {"name": "Not the 1.0 author"},
   "attachments": [{"url": "/a.mp3", "mime_type": "audio/mpeg", "size_in_bytes": 23400000},
                   {"url": "/a.mp3", "mime_type": "audio/ogg"},
                   {"url": "https://cdn.example/v.mp4", "size_in_bytes": -5},
                   {"mime_type": "text/plain"}, "not an object"],
   "image": "img/1.png"},
  {"id": 42, "content_html": "  ", "content_text": "a < b & c\r\nnext line\nlast",
   "date_modified": "2024-03-02T00:00:00Z", "external_url": "../elsewhere/2"},
  {"summary": "Only a <summary>", "date_published": "not a date",
   "date_modified": "Sat, 02 Mar 2024 12:00:00 GMT", "url": 7},
  "a string is no item", 17,
  {"title": ["wrong", "type"], "content_html": {"no": "text"}, "date_published": 20240301,
   "authors": "Ann", "author": "Ann", "attachments": {"url": "/x"}, "image": false}
)",
                          R"("authors": [{"name": "Feed Writer"}],)")),
              "");
    ASSERT_EQ(News->ItemCount(), 4);

    const TNewsItem& first = At(0);
    EXPECT_EQ(first.Title, "Fish & <chips>") << "a title is text, kept as written";
    EXPECT_EQ(first.Description, "<p>Html</p>");
    EXPECT_EQ(first.Link, "https://site.example/1");
    EXPECT_EQ(first.Date, DecodeIsoDate("2024-03-01T09:00:00Z")) << "published wins over modified";
    EXPECT_EQ(first.Author, "Ann, Bob") << "the 1.1 list, nameless authors left out";
    EXPECT_EQ(first.Id, "tag:site,2024:1");
    EXPECT_EQ(first.Thumbnail, "https://site.example/feeds/img/1.png");
    ASSERT_EQ(first.Enclosures.size(), 2u) << "each address once; one without an address is none";
    EXPECT_EQ(first.Enclosures[0].URL, "https://site.example/a.mp3");
    EXPECT_EQ(first.Enclosures[0].Type, "audio/mpeg");
    EXPECT_EQ(first.Enclosures[0].Length, 23400000);
    EXPECT_EQ(first.Enclosures[1].URL, "https://cdn.example/v.mp4");
    EXPECT_EQ(first.Enclosures[1].Type, "");
    EXPECT_EQ(first.Enclosures[1].Length, 0) << "a negative size is no size";

    const TNewsItem& second = At(1);
    EXPECT_EQ(second.Description, "a &lt; b &amp; c<br>next line<br>last")
        << "a blank content_html gives way; plain text is escaped, its lines kept";
    EXPECT_EQ(second.Date, DecodeIsoDate("2024-03-02T00:00:00Z"));
    EXPECT_EQ(second.Link, "https://site.example/elsewhere/2") << "external_url, resolved as links are";
    EXPECT_EQ(second.Author, "Feed Writer") << "the feed's authors stand for an item's missing ones";
    EXPECT_EQ(second.Id, "42");
    EXPECT_TRUE(second.Enclosures.empty());
    EXPECT_EQ(second.Thumbnail, "");

    const TNewsItem& third = At(2);
    EXPECT_EQ(third.Description, "Only a &lt;summary&gt;");
    EXPECT_EQ(third.Date, DecodeRfc822Date("Sat, 02 Mar 2024 12:00:00 GMT"))
        << "an undecodable published date gives way to the modified one, in either form";
    EXPECT_EQ(third.Link, "") << "a url that is no string is none";
    EXPECT_EQ(third.Id.rfind("hash:", 0), 0u);

    // Members of the wrong type count as missing, and never raise.
    const TNewsItem& fourth = At(3);
    EXPECT_EQ(fourth.Title, "");
    EXPECT_EQ(fourth.Description, "");
    EXPECT_EQ(fourth.Date, 0);
    EXPECT_EQ(fourth.Author, "Feed Writer");
    EXPECT_TRUE(fourth.Enclosures.empty());
    for (int i = 0; i < News->ItemCount(); ++i)
        EXPECT_EQ(At(i).Feed, Feeds.Items.back().get());
}

TEST_F(JsonFeedTest, Version10WithItsAuthorAByteOrderMarkAndPlainHttp) {
    ASSERT_EQ(Load("\xEF\xBB\xBF \r\n\t{\"version\": \"http://jsonfeed.org/version/1\", \"title\": \"Old\","
                   "\"author\": {\"name\": \"Feed Author\"}, \"items\": ["
                   "{\"id\": \"1\", \"title\": \"One\", \"author\": {\"name\": \"Ann\"}, "
                   "\"date_published\": \"2017-05-17T08:02:12-07:00\", \"content_text\": \"Text\"},"
                   "{\"id\": \"2\", \"title\": \"Two\", \"authors\": [], \"url\": \"/two\"}]}"),
              "");
    ASSERT_EQ(News->ItemCount(), 2);
    EXPECT_EQ(At(0).Author, "Ann");
    EXPECT_EQ(At(0).Date, DecodeIsoDate("2017-05-17T15:02:12Z"));
    EXPECT_EQ(At(0).Description, "Text");
    EXPECT_EQ(At(1).Author, "Feed Author") << "an empty 1.1 list leaves the 1.0 author of the feed";
    EXPECT_EQ(At(1).Link, "https://site.example/two");
    EXPECT_TRUE(News->EncodingName.empty());
    EXPECT_EQ(News->Document.ChildCount(), 0) << "no XML tree is left from a feed read before";
}

TEST_F(JsonFeedTest, BrokenJsonAndJsonThatIsNoFeedAreAnUnknownFormat) {
    const std::string item = R"({"id": "1", "title": "One"})";
    for (const std::string& document : std::vector<std::string>{
             Feed11(item).substr(0, 60),                              // cut short
             Feed11(item) + " trailing",                              // more after the object
             "{\"version\": \"https://jsonfeed.org/version/1.1\", }", // a trailing comma
             "{}", R"({"title": "No version", "items": []})",
             R"({"version": "https://example.org/version/1", "items": []})",
             R"({"version": "https://jsonfeed.org/version/10", "items": []})",
             R"({"version": 1.1, "items": []})", R"(["https://jsonfeed.org/version/1.1"])",
             "{\"version\": \"https://jsonfeed.org/version/1.1\", \"title\": \"\\ud800\"}", // lone surrogate
         })
        EXPECT_EQ(Load(document), kUnknownFormat) << document;
    EXPECT_EQ(News->ItemCount(), 0);

    // A feed without items, and one whose items are no array, are feeds with no news.
    EXPECT_EQ(Load(R"({"version": "https://jsonfeed.org/version/1.1", "title": "Quiet"})"), "");
    EXPECT_EQ(Load(R"({"version": "https://jsonfeed.org/version/1.1", "items": {"id": "1"}})"), "");
    EXPECT_EQ(News->ItemCount(), 0);

    // In a folder's view the failing feed gets the error and the others still show.
    TFeedListItem* broken = AddFeed("broken", "{\"version\": ");
    TFeedListItem* good = AddFeed("good", Feed11(item).c_str());
    News->LoadMarkedFeeds();
    EXPECT_EQ(broken->ErrorText, kUnknownFormat);
    EXPECT_EQ(good->ErrorText, "");
    ASSERT_EQ(News->ItemCount(), 1);
    EXPECT_EQ(At(0).Title, "One");
}

TEST_F(JsonFeedTest, BytesThatAreNoUtf8BecomeReplacementCharacters) {
    ASSERT_EQ(Load(Feed11("{\"title\": \"Caf\xE9 \xFF\", \"content_html\": \"<p>\xC3\xA9\xC3</p>\"}")), "");
    ASSERT_EQ(News->ItemCount(), 1);
    EXPECT_EQ(At(0).Title, "Caf" + kFFFD + " " + kFFFD);
    EXPECT_EQ(At(0).Description, "<p>\xC3\xA9" + kFFFD + "</p>");
}

TEST_F(JsonFeedTest, DeepNestingIsAnErrorAndLargeDocumentsLoad) {
    // Far past any feed's depth: the parse stops with the format error, the stack untouched.
    const std::size_t depth = 200000;
    const std::string deep = std::string(depth, '[') + std::string(depth, ']');
    EXPECT_EQ(Load(Feed11("{\"title\": \"Deep\", \"_ext\": " + deep + "}")), kUnknownFormat);
    const std::string objects = [] {
        std::string text;
        for (int i = 0; i < 100000; ++i)
            text += "{\"a\":";
        return text + "1" + std::string(100000, '}');
    }();
    EXPECT_EQ(Load(Feed11("{\"_ext\": " + objects + "}")), kUnknownFormat);
    // Extensions nested as deep as real ones go are read past.
    EXPECT_EQ(Load(Feed11("{\"title\": \"Nested\", \"_ext\": " + std::string(100, '[') +
                          std::string(100, ']') + "}")),
              "");
    ASSERT_EQ(News->ItemCount(), 1);
    EXPECT_EQ(At(0).Title, "Nested");

    // Many items, and one text of several megabytes.
    News->ClearItems();
    std::string items;
    for (int i = 0; i < 5000; ++i)
        items += (i ? "," : "") + std::string(R"({"id": ")") + std::to_string(i) + R"(", "title": "T"})";
    const std::string big(4 << 20, 'x');
    items += R"(,{"id": "big", "content_text": ")" + big + "\"}";
    ASSERT_EQ(Load(Feed11(items)), "");
    ASSERT_EQ(News->ItemCount(), 5001);
    EXPECT_EQ(At(5000).Description, big);
}

TEST(JsonFeedIdentity, TheIdThenTheLinkAsWrittenThenAHash) {
    const std::vector<std::string> ids = DocumentItemIds(Feed11(R"(
  {"id": " tag:site,2024:1 ", "url": "https://site.example/1"},
  {"id": 12345, "url": "https://site.example/2"},
  {"id": 1.5},
  {"id": "  ", "url": "/relative/4", "external_url": "https://elsewhere.example/"},
  {"external_url": "https://elsewhere.example/5"},
  {"id": null, "title": "Six", "content_text": "Text"},
  {"title": "Six", "content_text": "Text"},
  {"title": "Six", "content_text": "Text!"},
  {"id": ")" + std::string(1001, 'x') + R"("})"));
    ASSERT_EQ(ids.size(), 9u);
    EXPECT_EQ(ids[0], "tag:site,2024:1");
    EXPECT_EQ(ids[1], "12345") << "a number is an id too";
    EXPECT_EQ(ids[2], "1.5");
    EXPECT_EQ(ids[3], "/relative/4") << "a blank id is none; the link is taken unresolved";
    EXPECT_EQ(ids[4], "https://elsewhere.example/5");
    EXPECT_EQ(ids[5].rfind("hash:", 0), 0u);
    EXPECT_EQ(ids[5], ids[6]);
    EXPECT_NE(ids[6], ids[7]);
    EXPECT_EQ(ids[8].rfind("hash:", 0), 0u) << "an overlong id stands for itself by its hash";

    // The same item edited keeps its identity.
    EXPECT_EQ(DocumentItemIds(Feed11(R"({"id": "tag:site,2024:1", "title": "Edited"})")),
              std::vector<std::string>{"tag:site,2024:1"});
    // A document that is no feed has no items to count, as for XML.
    EXPECT_TRUE(DocumentItemIds(R"({"version": "2"})").empty());
    EXPECT_TRUE(DocumentItemIds("{ broken").empty());
}

TEST_F(JsonFeedTest, TheStoreReadsTheIdentitiesTheViewShows) {
    const std::string document = Feed11(R"({"id": 7, "title": "A"}, {"url": "b.html"}, {"title": "C"})");
    TFeedListItem* feed = AddFeed("json", document.c_str());
    News->LoadFeed(*feed);
    ASSERT_EQ(News->ItemCount(), 3);
    std::vector<std::string> shown;
    for (const auto& item : News->NewsItems)
        shown.push_back(item->Id);
    EXPECT_EQ(DocumentItemIds(document), shown);
    const auto cached = CachedItemIds(Feeds);
    ASSERT_EQ(cached.count(feed->FeedID), 1u);
    EXPECT_EQ(cached.at(feed->FeedID), shown);
}

TEST(JsonFeedDiscovery, FeedJsonLinksAndJsonFeedBodies) {
    const std::string page = R"(<html><head>
<link rel="alternate" type="application/feed+json" title="JSON" href="/feed.json">
<link rel="alternate" type="Application/JSON; charset=utf-8" title="Old style" href="/posts.json?format=feed">
<link rel="alternate" type="application/json" title="JSON Feed" href="/micro.json">
<link rel="alternate" type="application/json" title="JSON" href="/wp-json/wp/v2/pages/42">
<link rel="stylesheet" type="application/feed+json" href="/not-alternate.json">
</head><body></body></html>)";
    const std::vector<TDiscoveredFeed> feeds = FindFeedLinks(page, "https://site.example/blog/");
    ASSERT_EQ(feeds.size(), 3u);
    EXPECT_EQ(feeds[0].URL, "https://site.example/feed.json");
    EXPECT_EQ(feeds[0].Type, "application/feed+json");
    EXPECT_EQ(feeds[0].Title, "JSON");
    EXPECT_EQ(feeds[1].URL, "https://site.example/posts.json?format=feed");
    EXPECT_EQ(feeds[1].Type, "application/json");
    EXPECT_EQ(feeds[2].URL, "https://site.example/micro.json") << "a title that speaks of a feed";

    std::string title = "stale";
    EXPECT_TRUE(IsFeedDocument(Feed11(""), &title));
    EXPECT_EQ(title, "Example &amp; Co") << "trimmed; JSON has no entities";
    EXPECT_TRUE(IsFeedDocument(R"({"version": "https://jsonfeed.org/version/1", "items": []})", &title));
    EXPECT_EQ(title, "");
    EXPECT_FALSE(IsFeedDocument(R"({"title": "An API answer"})", &title));
    EXPECT_FALSE(IsFeedDocument("{\"version\": \"https://jsonfeed.org/version/1.1\", \"items\": [", &title));
}

TEST_F(JsonFeedTest, InspectItemsReadsAJsonFeed) {
    const std::string path =
        Temp.Write("feed.json",
                   Feed11(R"({"id": "1", "title": "From JSON", "date_published": "2024-01-01T00:00:00Z"})"));
    std::string output;
    FILE* pipe = ::popen(("'" + std::string(TOVEL_INSPECT_PATH) + "' items '" + path + "'").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, got);
    EXPECT_EQ(::pclose(pipe), 0);
    EXPECT_NE(output.find("\"title\":\"From JSON\""), std::string::npos) << output;
    EXPECT_NE(output.find("\"errors\":{}"), std::string::npos) << output;
}

} // namespace
