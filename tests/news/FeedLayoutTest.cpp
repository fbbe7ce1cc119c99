#include "news/FeedLayout.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "NewsTestSupport.h"
#include "dates/NewsDates.h"
#include "news/FeedDiscovery.h"
#include "news/ItemIdentity.h"
#include "platform/SysUtils.h"

namespace {

using TIds = std::vector<std::string>;

class FeedLayoutTest : public ::testing::Test, protected TNewsFixtureBase {
protected:
    // Each document's items alone.
    std::string Load(const std::string& document) {
        News->ClearItems();
        return LoadDocument(document);
    }
};

const char kPrefixedRss1[] = R"(<?xml version="1.0" encoding="utf-8"?>
<r:RDF xmlns:r="http://www.w3.org/1999/02/22-rdf-syntax-ns#" xmlns:rss="http://purl.org/rss/1.0/"
       xmlns:d="http://purl.org/dc/elements/1.1/" xmlns:c="http://purl.org/rss/1.0/modules/content/">
<rss:channel r:about="http://site/"><rss:title>Prefixed channel</rss:title></rss:channel>
<rss:item r:about="http://site/about/1"><rss:title>One &amp; all</rss:title><rss:link>http://site/1</rss:link>
<rss:description>short</rss:description><c:encoded>&lt;b&gt;long&lt;/b&gt;</c:encoded>
<d:date>2003-12-13T18:30:02Z</d:date><d:creator>Ann</d:creator></rss:item>
<rss:item><rss:title>Two</rss:title><rss:link>http://site/2</rss:link></rss:item>
<rss:items><rss:title>not an item</rss:title></rss:items>
</r:RDF>)";

const char kPrefixedAtom[] = R"(<?xml version="1.0" encoding="utf-8"?>
<a:feed xmlns:a="http://www.w3.org/2005/Atom"><a:title>Prefixed site</a:title>
<a:entry><a:id>urn:uuid:1</a:id><a:title>First</a:title>
<a:link rel="replies" href="http://site/1#comments"/><a:link rel="alternate" href="http://site/1"/>
<a:published>2003-12-13T18:30:02Z</a:published><a:content type="html">&lt;p&gt;Body&lt;/p&gt;</a:content></a:entry>
<a:entry><a:title>Second</a:title><a:link href="http://site/2"/><a:updated>2003-12-14T00:00:00Z</a:updated>
<a:summary>Only a summary</a:summary></a:entry>
</a:feed>)";

// RSS 1.0 and Atom with their elements under prefixes of the document's own read as the usual
// names do, down to the feed's title and each item's identity.
TEST_F(FeedLayoutTest, PrefixedRss1AndAtomDocumentsAreRead) {
    ASSERT_EQ(Load(kPrefixedRss1), "");
    ASSERT_EQ(News->ItemCount(), 2);
    EXPECT_EQ(At(0).Title, "One & all");
    EXPECT_EQ(At(0).Description, "<b>long</b>");
    EXPECT_EQ(At(0).Link, "http://site/1");
    EXPECT_EQ(At(0).Date, DecodeIsoDate("2003-12-13T18:30:02Z"));
    EXPECT_EQ(At(0).Author, "Ann");
    EXPECT_EQ(At(0).Id, "http://site/about/1");
    EXPECT_EQ(At(1).Id, "http://site/2");
    EXPECT_EQ(DocumentItemIds(kPrefixedRss1), (TIds{"http://site/about/1", "http://site/2"}));

    ASSERT_EQ(Load(kPrefixedAtom), "");
    ASSERT_EQ(News->ItemCount(), 2);
    EXPECT_EQ(At(0).Title, "First");
    EXPECT_EQ(At(0).Description, "<p>Body</p>");
    EXPECT_EQ(At(0).Link, "http://site/1");
    EXPECT_EQ(At(0).Date, DecodeIsoDate("2003-12-13T18:30:02Z"));
    EXPECT_EQ(At(1).Description, "Only a summary");
    EXPECT_EQ(At(1).Link, "http://site/2");
    EXPECT_EQ(At(1).Date, DecodeIsoDate("2003-12-14T00:00:00Z"));
    EXPECT_EQ(DocumentItemIds(kPrefixedAtom), (TIds{"urn:uuid:1", "http://site/2"}));

    std::string title;
    EXPECT_TRUE(IsFeedDocument(kPrefixedAtom, &title));
    EXPECT_EQ(title, "Prefixed site");
    EXPECT_TRUE(IsFeedDocument(kPrefixedRss1, &title));
    EXPECT_EQ(title, "Prefixed channel");
}

// Where declarations count: on the root, on an ancestor, on the element itself, as the default
// namespace; an inner one hides an outer one of the same prefix.
TEST_F(FeedLayoutTest, DeclarationsInScope) {
    ASSERT_EQ(Load(R"(<rss version="2.0"><channel xmlns:k="http://purl.org/dc/elements/1.1/">
<item><title>Channel's</title><k:date>2003-12-13T18:30:02Z</k:date></item>
<item xmlns:i="http://purl.org/dc/elements/1.1/"><title>Item's</title><i:creator>Ann</i:creator></item>
<item><title>Own</title><x:date xmlns:x="http://purl.org/dc/elements/1.1/">2003-12-14T00:00:00Z</x:date>
<encoded xmlns="http://purl.org/rss/1.0/modules/content/">Default</encoded></item>
<item xmlns:k="http://example.com/other"><title>Hidden</title><k:date>2003-12-15T00:00:00Z</k:date></item>
</channel></rss>)"),
              "");
    ASSERT_EQ(News->ItemCount(), 4);
    EXPECT_EQ(At(0).Date, DecodeIsoDate("2003-12-13T18:30:02Z"));
    EXPECT_EQ(At(1).Author, "Ann");
    EXPECT_EQ(At(2).Date, DecodeIsoDate("2003-12-14T00:00:00Z"));
    EXPECT_EQ(At(2).Description, "Default");
    EXPECT_EQ(At(3).Date, 0);
}

// Only the known namespaces count, and only their own names: nothing else is read for them.
TEST_F(FeedLayoutTest, OtherNamespacesAndNamesStayUnread) {
    ASSERT_EQ(
        Load(R"(<rss version="2.0" xmlns:atom="http://www.w3.org/2005/Atom" xmlns:x="http://example.com/dc"
xmlns:d="http://purl.org/dc/elements/1.1/"><channel>
<item><atom:link href="http://site/self"/><atom:title>Atom's</atom:title><x:date>2003-12-13T18:30:02Z</x:date>
<y:date>2003-12-13T18:30:02Z</y:date><d:title>Dublin Core's</d:title></item>
<item><d:date>2003-12-14T00:00:00Z</d:date><dc:date>2003-12-13T18:30:02Z</dc:date></item>
</channel></rss>)"),
        "");
    ASSERT_EQ(News->ItemCount(), 2);
    EXPECT_EQ(At(0).Title, "");
    EXPECT_EQ(At(0).Link, "");
    EXPECT_EQ(At(0).Date, 0);
    // The usual name, declared or not, wins over one found by namespace before it.
    EXPECT_EQ(At(1).Date, DecodeIsoDate("2003-12-13T18:30:02Z"));

    // A root in no known namespace is no feed, whatever its local name.
    EXPECT_EQ(Load("<x:feed xmlns:x=\"http://example.com/feed\"><x:entry/></x:feed>"),
              "The server returns data that has an unknown format.");
    EXPECT_FALSE(IsFeedDocument("<x:feed xmlns:x=\"http://example.com/feed\"/>"));
    EXPECT_EQ(Load("<a:feed><a:entry><a:title>Undeclared</a:title></a:entry></a:feed>"),
              "The server returns data that has an unknown format.");
    // Atom's names under RSS 1.0's namespace are not its items.
    ASSERT_EQ(Load("<rdf:RDF xmlns:a=\"http://www.w3.org/2005/Atom\"><a:item><title>No</title></a:item>"
                   "<item><a:title>No title</a:title></item></rdf:RDF>"),
              "");
    ASSERT_EQ(News->ItemCount(), 1);
    EXPECT_EQ(At(0).Title, "");
}

// Atom 0.3: dated by issued, then modified, then created; content in each of its modes, else the
// summary; the alternate link; its id as the identity.
TEST_F(FeedLayoutTest, Atom03DatesContentAndLinks) {
    const std::string document = R"(<?xml version="1.0" encoding="utf-8"?>
<feed version="0.3" xmlns="http://purl.org/atom/ns#"><title>Old Atom</title>
<entry><id>tag:site,2004:1</id><title>Issued</title><created>2004-01-01T00:00:00Z</created>
<modified>2004-01-03T00:00:00Z</modified><issued>2004-01-02T10:00:00+01:00</issued>
<link rel="service.edit" href="http://site/edit/1"/><link rel="alternate" type="text/html" href="http://site/1"/>
<content type="text/html" mode="escaped">&lt;p&gt;Escaped &lt;b&gt;bold&lt;/b&gt;&lt;/p&gt;</content></entry>
<entry><id>tag:site,2004:2</id><title>Modified</title><created>2004-01-01T00:00:00Z</created>
<modified>2004-01-03T00:00:00Z</modified>
<content type="application/xhtml+xml" mode="xml"><div xmlns="http://www.w3.org/1999/xhtml"><p>Hello <b>world</b> again &amp; again<br/>end</p></div></content></entry>
<entry><title>Created</title><created>2004-01-01T00:00:00Z</created>
<content type="text/html" mode="base64">
PHA+QmFzZSA2NCDigJQgw6k8L3A+
</content></entry>
<entry><title>Default mode</title><modified>Sun, 04 Jan 2004 00:00:00 GMT</modified><created>2004-01-01T00:00:00Z</created>
<content type="application/xhtml+xml"><div><i>Markup</i> by default</div></content></entry>
<entry><title>Plain</title><content type="text/plain" mode="xml">Just text &amp; more</content></entry>
<entry><title>Summary</title><summary type="text/html" mode="escaped">&lt;i&gt;Sum&lt;/i&gt;</summary></entry>
</feed>)";
    ASSERT_EQ(Load(document), "");
    ASSERT_EQ(News->ItemCount(), 6);
    EXPECT_EQ(At(0).Date, DecodeIsoDate("2004-01-02T09:00:00Z"));
    EXPECT_EQ(At(0).Link, "http://site/1");
    EXPECT_EQ(At(0).Description, "<p>Escaped <b>bold</b></p>");
    EXPECT_EQ(At(1).Date, DecodeIsoDate("2004-01-03T00:00:00Z"));
    EXPECT_EQ(At(1).Description,
              "<div xmlns=\"http://www.w3.org/1999/xhtml\"><p>Hello <b>world</b> again &amp; "
              "again<br/>end</p></div>");
    EXPECT_EQ(At(2).Date, DecodeIsoDate("2004-01-01T00:00:00Z"));
    EXPECT_EQ(At(2).Description, "<p>Base 64 \xE2\x80\x94 \xC3\xA9</p>");
    // Each in the other form too.
    EXPECT_EQ(At(3).Date, DecodeIsoDate("2004-01-04T00:00:00Z"));
    EXPECT_EQ(At(3).Description, "<div><i>Markup</i> by default</div>");
    EXPECT_EQ(At(4).Description, "Just text & more");
    EXPECT_EQ(At(4).Date, 0);
    EXPECT_EQ(At(5).Description, "<i>Sum</i>");
    EXPECT_EQ(DocumentItemIds(document)[0], "tag:site,2004:1");
    EXPECT_EQ(DocumentItemIds(document)[1], "tag:site,2004:2");

    // The same under a prefix, and from a UTF-16 text.
    std::string prefixed = "<o:feed xmlns:o=\"http://purl.org/atom/ns#\"><o:entry><o:id>tag:p</o:id>"
                           "<o:issued>2004-01-02T00:00:00Z</o:issued><o:content><x:div xmlns:x=\"h\">A "
                           "<x:b>b</x:b></x:div></o:content></o:entry></o:feed>";
    std::string wide = "\xFF\xFE";
    for (char c : prefixed)
        wide += std::string{c, '\0'};
    for (const std::string& text : {prefixed, wide}) {
        ASSERT_EQ(Load(text), "");
        ASSERT_EQ(News->ItemCount(), 1);
        EXPECT_EQ(At(0).Date, DecodeIsoDate("2004-01-02T00:00:00Z"));
        EXPECT_EQ(At(0).Description, "<x:div xmlns:x=\"h\">A <x:b>b</x:b></x:div>");
        EXPECT_EQ(At(0).Id, "tag:p");
    }

    // Content modes are Atom 0.3's: an Atom 1.0 entry's content is read as it always was.
    ASSERT_EQ(
        Load("<feed xmlns=\"http://www.w3.org/2005/Atom\"><entry><content mode=\"base64\">PGI+</content>"
             "<issued>2004-01-02T00:00:00Z</issued></entry></feed>"),
        "");
    EXPECT_EQ(At(0).Description, "PGI+");
}

// Each date element holds one form; the other is tried when that one does not decode, and
// pubDate stands in for a dc:date that decodes in neither.
TEST_F(FeedLayoutTest, DatesInTheOtherForm) {
    const TDateTime rfc = DecodeRfc822Date("Sat, 07 Sep 2002 00:00:01 GMT");
    const TDateTime iso = DecodeIsoDate("2003-12-13T18:30:02Z");
    ASSERT_NE(rfc, 0);
    ASSERT_NE(iso, 0);
    ASSERT_EQ(Load(R"(<rss><channel>
<item><pubDate>2003-12-13T18:30:02Z</pubDate></item>
<item><dc:date>Sat, 07 Sep 2002 00:00:01 GMT</dc:date></item>
<item><dc:date>garbage</dc:date><pubDate>Sat, 07 Sep 2002 00:00:01 GMT</pubDate></item>
<item><dc:date>garbage</dc:date><pubDate>2003-12-13T18:30:02Z</pubDate></item>
<item><dc:date>2003-12-13T18:30:02Z</dc:date><pubDate>Sat, 07 Sep 2002 00:00:01 GMT</pubDate></item>
<item><dc:date>garbage</dc:date><pubDate>rubbish</pubDate></item>
<item><pubDate>not a date at all</pubDate></item>
<item><dc:date> </dc:date></item>
</channel></rss>)"),
              "");
    ASSERT_EQ(News->ItemCount(), 8);
    EXPECT_EQ(At(0).Date, iso);
    EXPECT_EQ(At(1).Date, rfc);
    EXPECT_EQ(At(2).Date, rfc);
    EXPECT_EQ(At(3).Date, iso);
    EXPECT_EQ(At(4).Date, iso);
    EXPECT_EQ(At(5).Date, 0);
    EXPECT_EQ(At(6).Date, 0);
    EXPECT_EQ(At(7).Date, 0);

    ASSERT_EQ(Load(R"(<rdf:RDF><item><dc:date>Sat, 07 Sep 2002 00:00:01 GMT</dc:date></item>
<item><dc:date>garbage</dc:date></item></rdf:RDF>)"),
              "");
    EXPECT_EQ(At(0).Date, rfc);
    EXPECT_EQ(At(1).Date, 0);

    ASSERT_EQ(Load(R"(<feed><entry><published>Sat, 07 Sep 2002 00:00:01 GMT</published></entry>
<entry><updated>Sat, 07 Sep 2002 00:00:01 GMT</updated></entry>
<entry><published>2003-12-13T18:30:02Z</published><updated>Sat, 07 Sep 2002 00:00:01 GMT</updated></entry>
<entry><published>garbage</published><updated>2003-12-13T18:30:02Z</updated></entry></feed>)"),
              "");
    ASSERT_EQ(News->ItemCount(), 4);
    EXPECT_EQ(At(0).Date, rfc);
    EXPECT_EQ(At(1).Date, rfc);
    EXPECT_EQ(At(2).Date, iso);
    // The element an entry has decides, as it always did: updated stands in only for a missing
    // published.
    EXPECT_EQ(At(3).Date, 0);
}

TEST(FeedLayoutNamesTest, RootTagsAndUsualPrefixes) {
    EXPECT_TRUE(RootNamesAtom03("<?xml version=\"1.0\"?><!-- <feed> --><!DOCTYPE feed>"
                                "<?xml-stylesheet href=\"a\"?><feed xmlns=\"http://purl.org/atom/ns#\">"));
    EXPECT_TRUE(RootNamesAtom03("<o:feed\nxmlns:o='http://purl.org/atom/ns#'"));
    EXPECT_FALSE(RootNamesAtom03(
        "<feed xmlns=\"http://www.w3.org/2005/Atom\"><x xmlns=\"http://purl.org/atom/ns#\"/>"));
    EXPECT_FALSE(RootNamesAtom03("<!-- xmlns=\"http://purl.org/atom/ns#\" --><feed>"));
    EXPECT_FALSE(RootNamesAtom03(""));
    EXPECT_FALSE(RootNamesAtom03("<!-- never closed"));

    TXMLNode document;
    document.LoadFromString(
        "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
        "xmlns=\"http://purl.org/rss/1.0/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
        "xmlns:content=\"http://purl.org/rss/1.0/modules/content/\" "
        "xmlns:atom=\"http://www.w3.org/2005/Atom\"/>");
    const TFeedLayout layout = FeedLayout(document);
    EXPECT_EQ(layout.RootName(), "rdf:rdf");
    EXPECT_EQ(layout.Own, TFeedNamespace::Rss10);
    // The usual prefixes ask for no look-ups by namespace; Atom under a prefix would in an Atom
    // feed.
    for (TFeedNamespace ns :
         {TFeedNamespace::Rss10, TFeedNamespace::DublinCore, TFeedNamespace::Content, TFeedNamespace::Rdf})
        EXPECT_FALSE(layout.Scope.Unusual(ns)) << static_cast<int>(ns);
    EXPECT_TRUE(layout.Scope.Unusual(TFeedNamespace::Atom10));
    EXPECT_EQ(layout.Name("dc:date").Namespace, TFeedNamespace::DublinCore);
    EXPECT_EQ(layout.Name("dc:date").Local, "date");
    EXPECT_EQ(layout.Name("title").Namespace, TFeedNamespace::Rss10);
    EXPECT_EQ(layout.Name("media:content").Namespace, TFeedNamespace::None);
}

// The public corpus: wherever the usual names give an item its title or date, it keeps that one;
// the Atom 0.3 feed's entries, undated before, are dated.
TEST_F(FeedLayoutTest, PublicCorpusKeepsWhatTheUsualNamesGive) {
    const std::string corpus = CorpusFolder();
    if (corpus.empty())
        GTEST_SKIP() << "public feed corpus not found at " << TOVEL_CORPUS_DIR;
    std::ifstream manifest(corpus + "MANIFEST.tsv");
    std::string line;
    std::getline(manifest, line);
    int dated = 0;
    while (std::getline(manifest, line)) {
        const std::string file = line.substr(0, line.find('\t'));
        SCOPED_TRACE(file);
        if (!Load(ReadFileToString(corpus + file)).empty())
            continue;
        const TXMLNode& doc = News->Document;
        const bool rss = doc.HasChild("rss"), rdf = doc.HasChild("rdf:rdf");
        const TXMLNode* parent = rss                    ? &doc.ChildByName("rss").ChildByName("channel")
                                 : rdf                  ? &doc.ChildByName("rdf:rdf")
                                 : doc.HasChild("feed") ? &doc.ChildByName("feed")
                                                        : nullptr;
        if (!parent)
            continue;
        int index = 0;
        for (int i = 0; i < parent->ChildCount(); ++i) {
            const TXMLNode& element = parent->Child(i);
            if (!SameTextAscii(element.Name, rss || rdf ? "item" : "entry"))
                continue;
            ASSERT_LT(index, News->ItemCount());
            const TNewsItem& item = At(index++);
            // The date the usual names give: dc:date over pubDate in RSS, published or else
            // updated in Atom, each in its own form.
            TDateTime usual = 0;
            const auto has = [&](const char* name) { return element.HasChild(name); };
            const auto text = [&](const char* name) { return element.ChildByName(name).Value.RawText(); };
            if (rss && has("pubDate"))
                usual = DecodeRfc822Date(text("pubDate"));
            if (!rss && !rdf)
                usual = has("published") ? DecodeIsoDate(text("published"))
                        : has("updated") ? DecodeIsoDate(text("updated"))
                                         : 0;
            if ((rss || rdf) && has("dc:date") && DecodeIsoDate(text("dc:date")) != 0)
                usual = DecodeIsoDate(text("dc:date"));
            if (usual != 0) {
                EXPECT_EQ(item.Date, usual) << item.Title;
            }
            if (has("title")) {
                EXPECT_EQ(item.Title, ConvertCharset(element.ChildByName("title").Value.DecodedText(),
                                                     News->EncodingName));
            }
        }
        EXPECT_EQ(index, News->ItemCount());
        if (file == "feedjira-StakeVentures.xml") {
            for (int i = 0; i < News->ItemCount(); ++i) {
                EXPECT_NE(At(i).Date, 0) << At(i).Title;
                EXPECT_NE(At(i).Description, "") << At(i).Title;
                EXPECT_EQ(At(i).Link.rfind("http", 0), 0u) << At(i).Title;
            }
            dated += News->ItemCount();
        }
    }
    if (FileExists(corpus + "feedjira-StakeVentures.xml")) {
        EXPECT_GT(dated, 0);
    }
}

} // namespace
