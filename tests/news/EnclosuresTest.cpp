#include "news/Enclosures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>

#include "NewsTestSupport.h"
#include "news/HtmlCleaner.h"

namespace {

// A podcast's item: the episode as an enclosure and again as Media RSS content, a second file with
// a length that is no count, and an enclosure without an address.
const char kPodcast[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<rss version="2.0" xmlns:media="http://search.yahoo.com/mrss/"><channel><title>Show</title>
<item><title>Episode 12</title><link>https://show.example/12</link>
<description>Talk about things.</description>
<enclosure url="/media/ep12.mp3?src=feed&amp;v=2" length="24536678" type="audio/mpeg"/>
<media:content url="https://show.example/media/ep12.mp3?src=feed&amp;v=2" fileSize="1" type="video/mp4"/>
<enclosure url="https://cdn.example/ep12-notes.pdf" length="12MB" type="application/pdf"/>
<enclosure length="5" type="audio/mpeg"/>
<media:content url="https://cdn.example/ep12.m4a" fileSize="-3"/>
</item></channel></rss>)";

// A video channel's feed in the shape video sites publish: the text and the picture only in Media
// RSS, inside media:group.
const char kVideoChannel[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<feed xmlns:yt="http://www.youtube.com/xml/schemas/2015" xmlns:media="http://search.yahoo.com/mrss/"
      xmlns="http://www.w3.org/2005/Atom">
 <link rel="self" href="https://video.example/feeds/videos.xml?channel_id=UC1"/>
 <id>yt:channel:UC1</id><title>A Channel</title>
 <entry>
  <id>yt:video:abc123</id><yt:videoId>abc123</yt:videoId><yt:channelId>UC1</yt:channelId>
  <title>How to build &amp; share</title>
  <link rel="alternate" href="https://video.example/watch?v=abc123"/>
  <author><name>A Channel</name><uri>https://video.example/channel/UC1</uri></author>
  <published>2024-03-01T10:00:00+00:00</published><updated>2024-03-02T10:00:00+00:00</updated>
  <media:group>
   <media:title>How to build &amp; share</media:title>
   <media:content url="https://video.example/v/abc123?version=3" type="application/x-shockwave-flash" width="640" height="390"/>
   <media:thumbnail url="https://i1.video.example/vi/abc123/hqdefault.jpg" width="480" height="360"/>
   <media:description>Step one: &lt;script&gt;alert(1)&lt;/script&gt; &amp; more.
Step two.</media:description>
   <media:community><media:starRating count="10" average="5.00" min="1" max="5"/></media:community>
  </media:group>
 </entry>
 <entry>
  <id>yt:video:def456</id><title>Second</title>
  <link rel="alternate" href="https://video.example/watch?v=def456"/>
  <summary>Its own summary.</summary>
  <media:group>
   <media:description type="html">&lt;p&gt;Ignored: the entry has a text.&lt;/p&gt;</media:description>
   <media:content url="/v/def456.mp4" type="video/mp4"><media:thumbnail url="/t/def456.jpg"/></media:content>
   <media:thumbnail url="/t/def456-second.jpg"/>
  </media:group>
 </entry>
 <entry>
  <id>yt:video:ghi789</id><title>Third</title>
  <media:group><media:description type="html">&lt;p&gt;Kept &lt;b&gt;as HTML&lt;/b&gt;&lt;/p&gt;</media:description></media:group>
 </entry>
</feed>)";

// Addresses that are no web addresses, and one that tries to leave its attribute.
const char kHostile[] = R"xml(<rss><channel><item><title>x</title><description>text</description>
<enclosure url="javascript:alert(1)" type="audio/mpeg"/>
<enclosure url="data:audio/mpeg;base64,AAAA" type="audio/mpeg"/>
<enclosure url="https://ok.example/b.mp3?a=1&amp;#38;b=2&#38;c=3" length="1,024"/>
<enclosure url="javascript&#x3A;alert(2)" type="audio/mpeg"/>
<enclosure url="file:///etc/passwd"/>
<enclosure url="https://ok.example/a.mp3&quot;&gt;&lt;script&gt;alert(3)&lt;/script&gt;" type="audio/mpeg"/>
<media:thumbnail url="javascript:alert(4)"/>
</item></channel></rss>)xml";

class EnclosuresTest : public ::testing::Test, protected TNewsFixtureBase {
protected:
    EnclosuresTest() {
        ForceDirectories(Temp.File("template"));
        Temp.Write("template/top.html", "<top>");
        Temp.Write("template/item.html", "[{title}|{description}|{enclosures}]");
        Temp.Write("template/bottom.html", "<bottom>");
    }
    std::string Load(const std::string& document, const std::string& address = "https://show.example/feed") {
        return LoadDocument(document, address);
    }
    // The page without the wrapper around each item.
    std::string Render(bool pictures) {
        News->RenderPage(5, "All", pictures);
        static const std::regex wrapper("<div data-item=\"[0-9]+\" data-key=\"[0-9a-f]+\">(.*)</div>\r\n");
        return std::regex_replace(Temp.Read("gen.html"), wrapper, "$1\r\n");
    }
    TNewsItem* Add(const std::string& description, const std::string& thumbnail) {
        TNewsItem* item = News->AddItem();
        item->Feed =
            Feeds.Count() > 0 ? Feeds.Item(0) : Feeds.Add("root", "Feed", "https://site.example/feed");
        item->Title = "T";
        item->Link = "https://site.example/post";
        item->Description = description;
        item->Thumbnail = thumbnail;
        return item;
    }
};

TEST_F(EnclosuresTest, PodcastItemGivesEachFileOnceWithWhatIsKnownOfIt) {
    ASSERT_EQ(Load(kPodcast), "");
    ASSERT_EQ(News->ItemCount(), 1);
    const TNewsItem& item = At(0);
    EXPECT_EQ(item.Description, "Talk about things.");
    EXPECT_EQ(item.Thumbnail, "");
    ASSERT_EQ(item.Enclosures.size(), 3u);
    // Resolved against the feed, its entities decoded; the Media RSS copy of the same address adds
    // nothing the enclosure already said.
    EXPECT_EQ(item.Enclosures[0].URL, "https://show.example/media/ep12.mp3?src=feed&v=2");
    EXPECT_EQ(item.Enclosures[0].Type, "audio/mpeg");
    EXPECT_EQ(item.Enclosures[0].Length, 24536678);
    EXPECT_EQ(item.Enclosures[1].URL, "https://cdn.example/ep12-notes.pdf");
    EXPECT_EQ(item.Enclosures[1].Length, 0) << "a length that is no count of bytes";
    EXPECT_EQ(item.Enclosures[2].URL, "https://cdn.example/ep12.m4a");
    EXPECT_EQ(item.Enclosures[2].Type, "");
    EXPECT_EQ(item.Enclosures[2].Length, 0);

    const std::string page = Render(false);
    EXPECT_NE(
        page.find(
            "<ul class=\"enclosures\"><li><a href=\"https://show.example/media/ep12.mp3?src=feed&amp;v=2\" "
            "target=\"_blank\" rel=\"noopener noreferrer\">Audio (MP3, 23.4 MB)</a></li>"
            "<li><a href=\"https://cdn.example/ep12-notes.pdf\" target=\"_blank\" "
            "rel=\"noopener noreferrer\">File (PDF)</a></li>"
            "<li><a href=\"https://cdn.example/ep12.m4a\" target=\"_blank\" "
            "rel=\"noopener noreferrer\">Audio (M4A)</a></li></ul>]"),
        std::string::npos)
        << page;
}

TEST_F(EnclosuresTest, MissingContentTypeOrLengthFillsFromALaterCopy) {
    ASSERT_EQ(
        Load("<rss><channel><item><title>x</title>"
             "<media:group><media:content url=\"https://h.example/a.mp3\"/></media:group>"
             "<enclosure url=\"https://h.example/a.mp3\" type=\"audio/mpeg\" length=\"2048\"/>"
             "<enclosure url=\"https://h.example/a.mp3\" type=\"video/mp4\" length=\"99999999999999999999\"/>"
             "</item></channel></rss>"),
        "");
    ASSERT_EQ(At(0).Enclosures.size(), 1u);
    EXPECT_EQ(At(0).Enclosures[0].Type, "audio/mpeg");
    EXPECT_EQ(At(0).Enclosures[0].Length, 2048);
}

TEST_F(EnclosuresTest, VideoChannelFeedShowsItsMediaTextAndPicture) {
    ASSERT_EQ(Load(kVideoChannel, "https://video.example/feeds/videos.xml?channel_id=UC1"), "");
    ASSERT_EQ(News->ItemCount(), 3);
    const TNewsItem& first = At(0);
    EXPECT_EQ(first.Title, "How to build & share");
    EXPECT_EQ(first.Link, "https://video.example/watch?v=abc123");
    // Plain text unless it says it is HTML: its markup shows as text, its lines stay lines.
    EXPECT_EQ(first.Description, "Step one: &lt;script&gt;alert(1)&lt;/script&gt; &amp; more.<br>Step two.");
    EXPECT_EQ(first.Thumbnail, "https://i1.video.example/vi/abc123/hqdefault.jpg");
    ASSERT_EQ(first.Enclosures.size(), 1u);
    EXPECT_EQ(first.Enclosures[0].URL, "https://video.example/v/abc123?version=3");
    EXPECT_EQ(EnclosureLabel(first.Enclosures[0]), "File (SWF)");

    // An entry's own text wins; the first thumbnail in document order, also one inside content.
    const TNewsItem& second = At(1);
    EXPECT_EQ(second.Description, "Its own summary.");
    EXPECT_EQ(second.Thumbnail, "https://video.example/t/def456.jpg");
    ASSERT_EQ(second.Enclosures.size(), 1u);
    EXPECT_EQ(second.Enclosures[0].URL, "https://video.example/v/def456.mp4");
    EXPECT_EQ(At(2).Description, "<p>Kept <b>as HTML</b></p>");

    const std::string page = Render(true);
    EXPECT_NE(
        page.find("[How to build &amp; share|<p class=\"thumbnail\"><img "
                  "src=\"https://i1.video.example/vi/abc123/hqdefault.jpg\" alt=\"\"></p>Step one: "
                  "&lt;script&gt;alert(1)&lt;/script&gt; &amp; more.<br>Step two.|<ul class=\"enclosures\">"),
        std::string::npos)
        << page;
    EXPECT_EQ(page.find("<script"), std::string::npos);
}

TEST_F(EnclosuresTest, AtomEnclosureLinksAndWhereEachElementCounts) {
    ASSERT_EQ(Load("<feed><entry><title>a</title>"
                   "<link rel=\"enclosure\" href=\"/files/a.pdf\" type=\"application/pdf\" length=\"1536\"/>"
                   "<link rel=\"alternate\" href=\"/posts/a\"/>"
                   "<link rel=\"Enclosure\" href=\"b.ogg\" type=\"audio/ogg\"/>"
                   "<link rel=\"enclosure\" type=\"audio/ogg\"/>"
                   "<enclosure url=\"https://x.example/not-atom.mp3\"/>"
                   "</entry></feed>",
                   "https://site.example/blog/feed"),
              "");
    const TNewsItem& item = At(0);
    EXPECT_EQ(item.Link, "https://site.example/posts/a") << "an enclosure is never the item's link";
    ASSERT_EQ(item.Enclosures.size(), 2u);
    EXPECT_EQ(item.Enclosures[0].URL, "https://site.example/files/a.pdf");
    EXPECT_EQ(item.Enclosures[0].Length, 1536);
    EXPECT_EQ(item.Enclosures[1].URL, "https://site.example/blog/b.ogg");
    EXPECT_EQ(EnclosureLabel(item.Enclosures[0]), "File (PDF, 1.5 KB)");
    EXPECT_EQ(EnclosureLabel(item.Enclosures[1]), "Audio (OGG)");

    // An Atom-style link in RSS is an RSS link, and RSS's enclosure is no Atom element.
    News->ClearItems();
    ASSERT_EQ(Load("<rss><channel><item><link rel=\"enclosure\" href=\"https://x.example/a.mp3\"/>"
                   "</item></channel></rss>"),
              "");
    EXPECT_TRUE(At(0).Enclosures.empty());
}

TEST_F(EnclosuresTest, MediaAndAtomNamesUnderTheDocumentsOwnPrefixes) {
    ASSERT_EQ(
        Load("<a:feed xmlns:a=\"http://www.w3.org/2005/Atom\" xmlns:m=\"http://search.yahoo.com/mrss/\">"
             "<a:entry><a:title>x</a:title>"
             "<a:link rel=\"enclosure\" href=\"https://h.example/a.mp3\" type=\"audio/mpeg\"/>"
             "<m:group><m:thumbnail url=\"https://h.example/t.jpg\"/><m:description>Text</m:description>"
             "<m:content url=\"https://h.example/v.mp4\" type=\"video/mp4\"/></m:group>"
             "</a:entry></a:feed>"),
        "");
    ASSERT_EQ(News->ItemCount(), 1);
    EXPECT_EQ(At(0).Description, "Text");
    EXPECT_EQ(At(0).Thumbnail, "https://h.example/t.jpg");
    ASSERT_EQ(At(0).Enclosures.size(), 2u);
    EXPECT_EQ(At(0).Enclosures[0].URL, "https://h.example/a.mp3");
    EXPECT_EQ(At(0).Enclosures[1].URL, "https://h.example/v.mp4");

    // A prefix bound to another namespace, or to none, is no Media RSS; "media:" is, declared or not.
    News->ClearItems();
    ASSERT_EQ(
        Load("<rss xmlns:m=\"http://example.org/other\"><channel><item><title>x</title>"
             "<m:thumbnail url=\"https://h.example/other.jpg\"/><n:content url=\"https://h.example/n.mp4\"/>"
             "<media:content url=\"https://h.example/m.mp4\"/></item></channel></rss>"),
        "");
    EXPECT_EQ(At(0).Thumbnail, "");
    ASSERT_EQ(At(0).Enclosures.size(), 1u);
    EXPECT_EQ(At(0).Enclosures[0].URL, "https://h.example/m.mp4");
}

TEST_F(EnclosuresTest, HostileAddressesNeverReachThePage) {
    ASSERT_EQ(Load(kHostile), "");
    ASSERT_EQ(At(0).Enclosures.size(), 6u) << "read as the document gives them";
    // References decoded once, numeric ones too: "&amp;#38;" is the text "&#38;".
    EXPECT_EQ(At(0).Enclosures[2].URL, "https://ok.example/b.mp3?a=1&#38;b=2&c=3");
    EXPECT_EQ(At(0).Enclosures[3].URL, "javascript:alert(2)");
    const std::string open = "\" target=\"_blank\" rel=\"noopener noreferrer\">";
    for (const bool pictures : {true, false}) {
        const std::string page = Render(pictures);
        EXPECT_EQ(page.find("javascript"), std::string::npos) << page;
        EXPECT_EQ(page.find("data:"), std::string::npos) << page;
        EXPECT_EQ(page.find("file:"), std::string::npos) << page;
        EXPECT_EQ(page.find("<script"), std::string::npos) << page;
        EXPECT_EQ(page.find("<img"), std::string::npos) << page;
        // The web addresses stay, escaped inside the attribute: a quote cannot end it.
        EXPECT_EQ(
            page,
            "<top>\r\n[x|text|<ul class=\"enclosures\"><li><a href=\"https://ok.example/b.mp3?a=1&amp;#38;b=2"
            "&amp;c=3" +
                open +
                "Audio (MP3)</a></li><li><a href=\"https://ok.example/a.mp3&quot;&gt;"
                "&lt;script&gt;alert(3)&lt;/script&gt;" +
                open + "Audio (MP3)</a></li></ul>]\r\n<bottom>\r\n");
    }
    // No web address at all: no list either.
    News->ClearItems();
    Add("text", "")->Enclosures = {{"javascript:x", "audio/mpeg", 1}};
    EXPECT_EQ(Render(true), "<top>\r\n[T|text|]\r\n<bottom>\r\n");
}

TEST_F(EnclosuresTest, ThumbnailShowsWithPicturesWhenTheTextHasNoneOfItsOwn) {
    const std::string thumb = "<p class=\"thumbnail\"><img src=\"https://site.example/t.jpg\" alt=\"\"></p>";
    Add("<p>words</p>", "/t.jpg");
    EXPECT_EQ(Render(true), "<top>\r\n[T|" + thumb + "<p>words</p>|]\r\n<bottom>\r\n");
    EXPECT_EQ(Render(false), "<top>\r\n[T|<p>words</p>|]\r\n<bottom>\r\n");

    // A picture of its own: the thumbnail would repeat it.
    News->ClearItems();
    Add("<p><IMG\nSRC=own.png> words</p>", "/t.jpg");
    EXPECT_EQ(Render(true),
              "<top>\r\n[T|<p><img src=\"https://site.example/own.png\"> words</p>|]\r\n<bottom>\r\n");

    // Markup that only looks like a picture to a text scan, and a picture the page may not load,
    // show none: the thumbnail stands in.
    for (const char* description :
         {"<!-- <img src=x.png> --><p>a</p>", "<p title=\"<img src=y>\">a</p>",
          "<img src=\"javascript:alert(1)\"><p>a</p>", "<p>&lt;img src=z&gt;</p>"}) {
        News->ClearItems();
        Add(description, "https://site.example/t.jpg");
        const std::string page = Render(true);
        EXPECT_NE(page.find("[T|" + thumb), std::string::npos) << description << "\n" << page;
        EXPECT_EQ(page.find("<img", page.find(thumb) + thumb.size()), std::string::npos) << page;
    }

    // A thumbnail the page may not load is left out like any picture.
    News->ClearItems();
    Add("<p>words</p>", "data:image/png;base64,AAAA");
    EXPECT_EQ(Render(true), "<top>\r\n[T|<p>words</p>|]\r\n<bottom>\r\n");
}

TEST_F(EnclosuresTest, TemplateWithoutTheListStillWorksAndValuesAreNotReadAgain) {
    Temp.Write("template/item.html", "[{title}|{description}|{Enclosures}]");
    TNewsItem* item = Add("d", "");
    item->Title = "{enclosures}";
    item->Enclosures = {{"https://site.example/a.mp3", "audio/mpeg", 0}};
    EXPECT_EQ(Render(true), "<top>\r\n[{enclosures}|d|{Enclosures}]\r\n<bottom>\r\n");

    Temp.Write("template/item.html", "{enclosures}{enclosures}");
    EXPECT_EQ(Render(true),
              "<top>\r\n<ul class=\"enclosures\"><li><a href=\"https://site.example/a.mp3\" "
              "target=\"_blank\" rel=\"noopener noreferrer\">Audio (MP3)</a></li></ul>"
              "<ul class=\"enclosures\"><li><a href=\"https://site.example/a.mp3\" target=\"_blank\" "
              "rel=\"noopener noreferrer\">Audio (MP3)</a></li></ul>\r\n<bottom>\r\n");
}

TEST_F(EnclosuresTest, ShippedTemplatesListTheFilesBelowTheText) {
    const std::string folder = std::string(TOVEL_TEMPLATE_DIR) + "/";
    for (const char* name : {"top.html", "item.html", "bottom.html"})
        Temp.Write(std::string("template/") + name, ReadFileToString(folder + name));
    EXPECT_NE(Temp.Read("template/top.html").find(".enclosures"), std::string::npos);
    Add("<p>words</p>", "")->Enclosures = {{"https://site.example/a.mp3", "audio/mpeg", 0}};
    const std::string page = Render(true);
    const size_t text = page.find("<p>words</p></div>");
    ASSERT_NE(text, std::string::npos) << page;
    EXPECT_NE(page.find("<ul class=\"enclosures\"><li><a href=\"https://site.example/a.mp3\"", text),
              std::string::npos)
        << page;
}

TEST(EnclosureLabelTest, KindNameAndSize) {
    const auto label = [](const std::string& type, long long length, const std::string& url = "https://h/f") {
        return EnclosureLabel(TEnclosure{url, type, length});
    };
    EXPECT_EQ(label("audio/mpeg", 24536678), "Audio (MP3, 23.4 MB)");
    EXPECT_EQ(label("video/mp4", 0), "Video (MP4)");
    EXPECT_EQ(label("audio/x-m4a", 1024), "Audio (M4A, 1.0 KB)");
    EXPECT_EQ(label("audio/mp4", 0), "Audio (M4A)");
    EXPECT_EQ(label("application/pdf", 0), "File (PDF)");
    EXPECT_EQ(label(" AUDIO/MPEG ; charset=binary", 0), "Audio (MP3)");
    EXPECT_EQ(label("image/svg+xml", 0), "Image (SVG)");
    EXPECT_EQ(label("video/quicktime", 0), "Video (MOV)");
    // A subtype too long or odd to name is left out.
    EXPECT_EQ(label("application/octet-stream", 3LL << 30), "File (3.0 GB)");
    EXPECT_EQ(label("application/vnd.oasis.opendocument.text", 0), "File");
    EXPECT_EQ(label("text", 0), "File");
    // Without a type, the address's file extension tells the kind.
    EXPECT_EQ(label("", 0, "https://h.example/show/EP1.MP3?x=a.b#t"), "Audio (MP3)");
    EXPECT_EQ(label("", 0, "https://i.example/a/b.jpg?w=140"), "Image (JPG)");
    EXPECT_EQ(label("", 0, "https://h.example/avatar/2d26d7"), "File");
    EXPECT_EQ(label("", 0, "https://h.example"), "File");
    EXPECT_EQ(label("", 5, "https://h.example/a.tar.gz"), "File (GZ, 5 bytes)");

    EXPECT_EQ(FileSizeText(1), "1 byte");
    EXPECT_EQ(FileSizeText(1023), "1023 bytes");
    EXPECT_EQ(FileSizeText(1024), "1.0 KB");
    EXPECT_EQ(FileSizeText(1535), "1.5 KB");
    EXPECT_EQ(FileSizeText(1048575), "1.0 MB") << "never 1024.0 KB";
    EXPECT_EQ(FileSizeText(1073741823), "1.0 GB");
    EXPECT_EQ(FileSizeText(5LL << 40), "5120.0 GB");
}

TEST_F(EnclosuresTest, InspectItemsListsTheFiles) {
    Temp.Write("podcast.xml", kPodcast);
    const std::string command =
        "cd '" + Temp.Path() + "' && '" + TOVEL_INSPECT_PATH + "' items podcast.xml > out.json";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string out = Temp.Read("out.json");
    EXPECT_NE(out.find("\"enclosures\""), std::string::npos) << out;
    EXPECT_NE(out.find("\"https://cdn.example/ep12-notes.pdf\""), std::string::npos) << out;
    EXPECT_NE(out.find("24536678"), std::string::npos) << out;
    EXPECT_NE(out.find("\"audio/mpeg\""), std::string::npos) << out;
}

// Real feeds with enclosures and Media RSS: what they carry is read, and every other field of their
// items is what the same document without those elements gives.
TEST_F(EnclosuresTest, PublicCorpusMediaLeavesTheRestOfEachItemAsItWas) {
    const std::string corpus = CorpusFolder();
    if (corpus.empty())
        GTEST_SKIP() << "public feed corpus not found at " << TOVEL_CORPUS_DIR;
    // The document with its files and media elements renamed out of the reader's sight.
    const auto withoutMedia = [](std::string text) {
        for (const auto& [from, to] : {std::pair<std::string, std::string>{"<media:", "<xmedia:"},
                                       {"</media:", "</xmedia:"},
                                       {"<enclosure", "<xenclosure"},
                                       {"rel=\"enclosure\"", "rel=\"xenclosure\""}})
            for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
                text.replace(at, from.size(), to);
        return text;
    };
    int files = 0, enclosures = 0, thumbnails = 0, mediaTexts = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        const std::string text = ReadFileToString(entry.path().string());
        if (text.find("<media:") == std::string::npos && text.find("enclosure") == std::string::npos)
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        const std::string plain = withoutMedia(text);
        if (plain == text)
            continue;
        ++files;
        TNewsType withMedia(Feeds), without(Feeds);
        TFeedListItem* feed = Feeds.Add("root", "Feed", "https://corpus.example/feed");
        try {
            withMedia.LoadFeedFromString(*feed, text);
            without.LoadFeedFromString(*feed, plain);
        } catch (const Exception&) {
            continue;
        }
        ASSERT_EQ(withMedia.ItemCount(), without.ItemCount());
        for (int i = 0; i < withMedia.ItemCount(); ++i) {
            const TNewsItem& a = *withMedia.Item(i);
            const TNewsItem& b = *without.Item(i);
            EXPECT_EQ(a.Title, b.Title);
            EXPECT_EQ(a.Link, b.Link);
            EXPECT_EQ(a.Date, b.Date);
            EXPECT_EQ(a.Author, b.Author);
            EXPECT_EQ(a.Id, b.Id);
            if (b.Description.find_first_not_of(" \t\r\n") != std::string::npos)
                EXPECT_EQ(a.Description, b.Description);
            else
                mediaTexts += !a.Description.empty();
            EXPECT_TRUE(b.Enclosures.empty() && b.Thumbnail.empty());
            enclosures += static_cast<int>(a.Enclosures.size());
            thumbnails += !a.Thumbnail.empty();
            for (const TEnclosure& enclosure : a.Enclosures)
                EXPECT_NE(enclosure.URL.find("://"), std::string::npos) << enclosure.URL;
        }
    }
    if (files == 0)
        GTEST_SKIP() << "no feed with enclosures or Media RSS in the corpus";
    EXPECT_GT(enclosures, 0);
    EXPECT_GT(thumbnails, 0);
    EXPECT_GT(mediaTexts, 0) << "the video feeds' entries take their text from Media RSS";
}

} // namespace
