#include "news/FeedDiscovery.h"

#include <gtest/gtest.h>

namespace {

const char* const kPage = "http://127.0.0.1/blog/post.html";

std::vector<std::string> Urls(const std::vector<TDiscoveredFeed>& feeds) {
    std::vector<std::string> urls;
    for (const TDiscoveredFeed& feed : feeds)
        urls.push_back(feed.URL);
    return urls;
}

using Strings = std::vector<std::string>;

} // namespace

TEST(FeedLinksTest, OneFeedWithTitleAndType) {
    const auto feeds =
        FindFeedLinks("<!DOCTYPE html><html><head><title>Blog</title>"
                      "<link rel=\"alternate\" type=\"application/rss+xml\" title=\"Blog feed\" "
                      "href=\"http://127.0.0.1/feed.xml\"></head><body></body></html>",
                      kPage);
    ASSERT_EQ(feeds.size(), 1u);
    EXPECT_EQ(feeds[0].Title, "Blog feed");
    EXPECT_EQ(feeds[0].URL, "http://127.0.0.1/feed.xml");
    EXPECT_EQ(feeds[0].Type, "application/rss+xml");
}

TEST(FeedLinksTest, SeveralFeedsInDocumentOrderAndOnlyFeedTypes) {
    const auto feeds =
        FindFeedLinks("<head><link rel=alternate type=application/atom+xml href=/atom>"
                      "<link rel=\"stylesheet\" type=\"text/css\" href=\"/s.css\">"
                      "<link rel=\"alternate\" type=\"text/html\" hreflang=\"de\" href=\"/de/\">"
                      "<link rel=\"alternate\" type=\"application/json\" href=\"/wp-json/wp/v2/pages/2\">"
                      "<link rel=\"alternate\" type=\"application/rdf+xml\" href=\"/rdf\">"
                      "<link rel=\"alternate\" type=\"APPLICATION/RSS+XML; charset=UTF-8\" href=\"/rss\">"
                      "<link rel=\"alternate\" href=\"/untyped\">"
                      "<link type=\"application/rss+xml\" href=\"/no-rel\">"
                      "<link rel=\"alternate\" type=\"application/rss+xml\" href=\"\">",
                      kPage);
    EXPECT_EQ(Urls(feeds),
              (Strings{"http://127.0.0.1/atom", "http://127.0.0.1/rdf", "http://127.0.0.1/rss"}));
    ASSERT_EQ(feeds.size(), 3u);
    EXPECT_EQ(feeds[0].Type, "application/atom+xml");
    EXPECT_EQ(feeds[2].Type, "application/rss+xml");
    EXPECT_EQ(feeds[0].Title, "");
}

TEST(FeedLinksTest, AttributeOrderCaseQuotingAndRelLists) {
    const auto feeds = FindFeedLinks(
        "<HEAD>\n<LINK HREF='a.xml' TITLE='Single \"quoted\"' TYPE='application/rss+xml' REL='Alternate'/>\n"
        "<link\n\thref = \"b.xml\"\n\trel = \"home alternate\"\n\ttype = \"application/atom+xml\" />\n"
        "<link rel=ALTERNATE type=application/rss+xml href=c.xml title=bare/>\n"
        "<link rel=\"alternates\" type=\"application/rss+xml\" href=\"not-a-word.xml\">\n"
        "<link rel=\"alternate\" rel=\"stylesheet\" href=\"d.xml\" type=\"application/rss+xml\" "
        "href=\"e.xml\">",
        kPage);
    EXPECT_EQ(Urls(feeds), (Strings{"http://127.0.0.1/blog/a.xml", "http://127.0.0.1/blog/b.xml",
                                    "http://127.0.0.1/blog/c.xml", "http://127.0.0.1/blog/d.xml"}));
    ASSERT_EQ(feeds.size(), 4u);
    EXPECT_EQ(feeds[0].Title, "Single \"quoted\"");
    // A bare value runs to the next space or ">": the "/" of a self-closing tag belongs to it.
    EXPECT_EQ(feeds[2].Title, "bare/");
}

TEST(FeedLinksTest, RelativeAddressesAndBaseHref) {
    EXPECT_EQ(Urls(FindFeedLinks("<link rel=alternate type=application/rss+xml href=\"../feed/\">"
                                 "<link rel=alternate type=application/rss+xml href=\"//127.0.0.2/x\">"
                                 "<link rel=alternate type=application/rss+xml href=\"?format=rss\">"
                                 "<link rel=alternate type=application/rss+xml href=\" /spaced \">",
                                 kPage)),
              (Strings{"http://127.0.0.1/feed/", "http://127.0.0.2/x",
                       "http://127.0.0.1/blog/post.html?format=rss", "http://127.0.0.1/spaced"}));
    // The first base decides, also for links before it; a relative base goes by the page.
    EXPECT_EQ(Urls(FindFeedLinks("<head><link rel=alternate type=application/rss+xml href=rss.xml>"
                                 "<base href=\"/site/\"><base href=\"http://127.0.0.9/\">"
                                 "<link rel=alternate type=application/atom+xml href=atom.xml></head>",
                                 kPage)),
              (Strings{"http://127.0.0.1/site/rss.xml", "http://127.0.0.1/site/atom.xml"}));
    EXPECT_EQ(Urls(FindFeedLinks("<base href=\"https://127.0.0.3/b/\">"
                                 "<link rel=alternate type=application/rss+xml href=f>",
                                 kPage)),
              (Strings{"https://127.0.0.3/b/f"}));
}

// A page names what it likes; only addresses the reader can fetch are offered, normalised, so
// a script or a local file never becomes a subscription.
TEST(FeedLinksTest, OnlyHttpAndHttpsLinksNormalised) {
    const std::string rss = "<link rel=alternate type=application/rss+xml href=";
    EXPECT_EQ(Urls(FindFeedLinks(rss + "\"javascript:alert(1)\">" + rss + "\"JavaScript:x\">" + rss +
                                     "\"file:///etc/passwd\">" + rss + "\"data:text/xml,<rss/>\">" + rss +
                                     "\"ftp://127.0.0.1/rss\">" + rss + "\"mailto:a@127.0.0.1\">" + rss +
                                     "\"/a&#13;&#10;Host: x\">" + rss + "\"feed:https://127.0.0.1/f\">" +
                                     rss + "\"HTTP://127.0.0.1:80/Caf\xC3\xA9 x#top\">" + rss + "\"/ok\">",
                                 kPage)),
              (Strings{"https://127.0.0.1/f", "http://127.0.0.1/Caf%C3%A9%20x#top", "http://127.0.0.1/ok"}));
    // A base that is a script leaves nothing to resolve against.
    EXPECT_TRUE(FindFeedLinks("<base href=\"javascript:void(0)/\">" + rss + "rss.xml>", kPage).empty());
    // Two spellings of one address give one feed.
    EXPECT_EQ(Urls(FindFeedLinks(rss + "\"/x y\">" + rss + "\"http://127.0.0.1/x%20y\">", kPage)),
              (Strings{"http://127.0.0.1/x%20y"}));
}

TEST(FeedLinksTest, EntitiesAndCharsets) {
    const auto feeds = FindFeedLinks(
        "<link rel=\"alternate\" type=\"application/rss+xml\" title=\"Blog &raquo; Feed &amp; more "
        "&#8212; &#x41;&#66 &unknown; &amp;lt;\" href=\"/feed?a=1&amp;b=2&#38;c=3\">",
        kPage);
    ASSERT_EQ(feeds.size(), 1u);
    // One pass: "&amp;lt;" is "&lt;", not "<".
    EXPECT_EQ(feeds[0].Title, "Blog \xC2\xBB Feed & more \xE2\x80\x94 AB &unknown; &lt;");
    EXPECT_EQ(feeds[0].URL, "http://127.0.0.1/feed?a=1&b=2&c=3");

    // A title in the page's declared charset, or the server's, comes out as UTF-8.
    const std::string cyrillic =
        "<link rel=alternate type=application/rss+xml title=\"\xCD\xEE\xE2\xEE\xF1\xF2\xE8\" "
        "href=/rss>";
    EXPECT_EQ(FindFeedLinks("<meta charset=\"windows-1251\">" + cyrillic, kPage)[0].Title,
              "\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD1\x82\xD0\xB8");
    EXPECT_EQ(FindFeedLinks("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">" +
                                cyrillic,
                            kPage)[0]
                  .Title,
              "\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD1\x82\xD0\xB8");
    EXPECT_EQ(FindFeedLinks(cyrillic, kPage, "windows-1251")[0].Title,
              "\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD1\x82\xD0\xB8");
    // Undeclared bytes that are not UTF-8 never reach the caller as such.
    EXPECT_EQ(FindFeedLinks(cyrillic, kPage)[0].Title.find('\xCD'), std::string::npos);
}

TEST(FeedLinksTest, OnlyTheHeadCounts) {
    const std::string link = "<link rel=alternate type=application/rss+xml href=/late>";
    EXPECT_TRUE(FindFeedLinks("<html><head></head>" + link, kPage).empty());
    EXPECT_TRUE(FindFeedLinks("<html><BODY class=x>" + link, kPage).empty());
    // Comments and script or style text are not markup.
    EXPECT_TRUE(FindFeedLinks("<head><!-- " + link + " --></head>", kPage).empty());
    EXPECT_EQ(FindFeedLinks("<head><script>var s = '</head>';</script>" + link, kPage).size(), 1u);
    EXPECT_TRUE(
        FindFeedLinks("<head><script>document.write('" + link + "');</SCRIPT></head>", kPage).empty());
    EXPECT_TRUE(FindFeedLinks("<head><style>/* " + link + " */</style></head>", kPage).empty());
    // Words that merely begin with head or body end nothing.
    EXPECT_EQ(FindFeedLinks("<header></header><bodyguard>" + link, kPage).size(), 1u);
}

TEST(FeedLinksTest, DuplicatesGoAndBrokenMarkupDoesNotMatter) {
    EXPECT_EQ(Urls(FindFeedLinks("<link rel=alternate type=application/rss+xml href=/a title=First>"
                                 "<link rel=alternate type=application/atom+xml href=\"http://127.0.0.1/a\">"
                                 "<link rel=alternate type=application/rss+xml href=/b>",
                                 kPage)),
              (Strings{"http://127.0.0.1/a", "http://127.0.0.1/b"}));
    EXPECT_TRUE(FindFeedLinks("", kPage).empty());
    EXPECT_TRUE(
        FindFeedLinks("<html><head><title>No feed</title></head><body>x</body></html>", kPage).empty());
    // Cut short anywhere, a page gives what it had so far and nothing breaks.
    const std::string page =
        "<head><link rel=\"alternate\" type=\"application/rss+xml\" href=\"/f\" title=\"T\">"
        "<!-- c --><script>x</script><link rel='alternate";
    for (size_t i = 0; i <= page.size(); ++i)
        EXPECT_LE(FindFeedLinks(page.substr(0, i), kPage).size(), 1u);
    EXPECT_TRUE(FindFeedLinks(std::string("<link \0rel=alternate", 20) + "<<<>>>=='\"", kPage).empty());
}

TEST(FeedDocumentTest, FeedsAreToldFromPagesWithTheirTitles) {
    std::string title = "stale";
    EXPECT_TRUE(IsFeedDocument("<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title> News &amp; "
                               "views </title><item><title>Item</title></item></channel></rss>",
                               &title));
    EXPECT_EQ(title, "News & views");
    EXPECT_TRUE(IsFeedDocument("<feed xmlns=\"http://www.w3.org/2005/Atom\"><entry><title>E</title></entry>"
                               "<title>Atom site</title></feed>",
                               &title));
    EXPECT_EQ(title, "Atom site");
    EXPECT_TRUE(IsFeedDocument("<rdf:RDF><channel><title>Rdf</title></channel><item/></rdf:RDF>", &title));
    EXPECT_EQ(title, "Rdf");
    EXPECT_TRUE(IsFeedDocument("<?xml version=\"1.0\" encoding=\"windows-1251\"?><rss><channel><title>"
                               "\xCD\xEE\xE2\xEE\xF1\xF2\xE8</title></channel></rss>",
                               &title));
    EXPECT_EQ(title, "\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD1\x82\xD0\xB8");
    // A feed without a title, or an rss without a channel, is still a feed.
    EXPECT_TRUE(IsFeedDocument("<rss/>", &title));
    EXPECT_EQ(title, "");
    EXPECT_TRUE(IsFeedDocument("<RSS><channel/></RSS>"));

    EXPECT_FALSE(IsFeedDocument("<!DOCTYPE html><html><head><title>Page</title></head></html>", &title));
    EXPECT_FALSE(IsFeedDocument(""));
    EXPECT_FALSE(IsFeedDocument("not markup at all"));
    EXPECT_FALSE(IsFeedDocument("<opml version=\"2.0\"><body/></opml>"));
}
