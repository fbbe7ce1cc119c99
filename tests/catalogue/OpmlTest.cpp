#include "catalogue/Opml.h"

#include <algorithm>
#include <cstdlib>

#include <unistd.h>

#include <gtest/gtest.h>

#include "TempDir.h"
#include "catalogue/FeedsFileInternal.h"

namespace {

// Every entry reachable from parentId as "Folder/Sub/Name <url>" (folders without the address),
// in tree order.
void CollectPaths(const std::vector<TFeedTreeEntry>& entries, const std::string& prefix,
                  std::vector<std::string>& into) {
    for (const TFeedTreeEntry& entry : entries) {
        const TFeedListItem& item = *entry.Item;
        if (item.FeedURL.empty()) {
            into.push_back(prefix + item.FeedName + "/");
            CollectPaths(entry.Children, prefix + item.FeedName + "/", into);
        } else {
            into.push_back(prefix + item.FeedName + " <" + item.FeedURL + ">");
        }
    }
}

std::vector<std::string> Paths(const TFeedList& list, const std::string& parentId = "root") {
    std::vector<std::string> paths;
    CollectPaths(BuildFeedTree(list, parentId), "", paths);
    return paths;
}

std::vector<std::string> Sorted(std::vector<std::string> texts) {
    std::sort(texts.begin(), texts.end());
    return texts;
}

std::string Opml(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"2.0\"><head><title>t</title></head>"
           "<body>" +
           body + "</body></opml>";
}

TEST(OpmlImport, NestedFoldersGetTheirFlagsAndFolderComesFirst) {
    TempDir dir;
    TFeedList list(dir.File("feeds.data"));
    TFeedListItem* target = list.Add("root", "Target", "");
    const TOpmlImport import = ImportOpml(list, target->FeedID, ParseOpml(Opml(R"(
        <outline text="Top feed" xmlUrl="http://127.0.0.1/top"/>
        <outline text="Tech">
          <outline text="Deep">
            <outline text="Deep feed" xmlUrl="http://127.0.0.1/deep"/>
          </outline>
          <outline text="Tech feed" xmlUrl="http://127.0.0.1/tech"/>
        </outline>)")));

    EXPECT_EQ(import.Feeds, 3);
    EXPECT_EQ(import.Folders, 2);
    EXPECT_EQ(OpmlImportSummary(import), "Imported 3 feeds and 2 folders");
    EXPECT_EQ(Paths(list), (std::vector<std::string>{"Target/", "Target/Top feed <http://127.0.0.1/top>",
                                                     "Target/Tech/", "Target/Tech/Deep/",
                                                     "Target/Tech/Deep/Deep feed <http://127.0.0.1/deep>",
                                                     "Target/Tech/Tech feed <http://127.0.0.1/tech>"}));
    // Every folder stands before the entries inside it, so a reader of the file meets parents first.
    for (int i = 1; i < list.Count(); ++i) {
        const TFeedListItem* item = list.Item(i);
        EXPECT_TRUE(item->AggInclude) << item->FeedName;
        EXPECT_FALSE(item->ShowAuthor) << item->FeedName;
        EXPECT_EQ(item->FeedID.size(), 36u);
        bool parentEarlier = item->ParentID == target->FeedID;
        for (int j = 0; j < i; ++j)
            parentEarlier = parentEarlier || list.Item(j)->FeedID == item->ParentID;
        EXPECT_TRUE(parentEarlier) << item->FeedName;
    }
    // The tree of added entries is the one the window shows below the target.
    ASSERT_EQ(import.Added.size(), 2u);
    EXPECT_EQ(import.Added[1].Item->FeedName, "Tech");
    ASSERT_EQ(import.Added[1].Children.size(), 2u);
    EXPECT_EQ(import.Added[1].Children[0].Children[0].Item->FeedName, "Deep feed");
}

TEST(OpmlImport, NamesComeWholeWithEntitiesAndNonAsciiText) {
    const std::vector<TOpmlOutline> outlines =
        ParseOpml(Opml("<outline text=\"ignored\" title=\"  Bob&apos;s &amp; Alice&#39;s   notes &lt;3 \" "
                       "xmlUrl=\" http://127.0.0.1/a \"/>"
                       "<outline text=\"Caf\xC3\xA9 &#x41F;&#1088;&#1080;\xD0\xB2\xD0\xB5\xD1\x82 "
                       "\xE6\x97\xA5\xE6\x9C\xAC\" "
                       "title=\"\" xmlUrl=\"http://127.0.0.1/b?x=1&amp;y=2\"/>"
                       "<outline xmlUrl=\"http://feeds.example.org:8080/rss\"/>"
                       "<outline text=\"\" title=\"   \" xmlUrl=\"https://[::1]:8443/x\"/>"));
    ASSERT_EQ(outlines.size(), 4u);
    // Title first, trimmed only at its ends; the address trimmed.
    EXPECT_EQ(outlines[0].Name, "Bob's & Alice's   notes <3");
    EXPECT_EQ(outlines[0].URL, "http://127.0.0.1/a");
    // An empty title falls back to the text; references become UTF-8.
    EXPECT_EQ(outlines[1].Name,
              "Caf\xC3\xA9 \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_EQ(outlines[1].URL, "http://127.0.0.1/b?x=1&y=2");
    // Neither: the host of the address.
    EXPECT_EQ(outlines[2].Name, "feeds.example.org");
    EXPECT_EQ(outlines[3].Name, "::1");
}

TEST(OpmlImport, DuplicatesAndEmptyOutlinesAreNotAdded) {
    TempDir dir;
    TFeedList list(dir.File("feeds.data"));
    TFeedListItem* old = list.Add("root", "Old", "http://127.0.0.1/old");
    const std::string text = Opml(R"(
        <outline text="Old again" xmlUrl="http://127.0.0.1/old"/>
        <outline text="Other case" xmlUrl="http://127.0.0.1/OLD"/>
        <outline text="Twice" xmlUrl="http://127.0.0.1/twice"/>
        <outline text="Empty folder"></outline>
        <outline text="Just a note"/>
        <outline text="Only duplicates"><outline text="x" xmlUrl="http://127.0.0.1/twice"/></outline>
        <outline text="Holds notes"><outline text="note"/><outline text="also empty"><outline/></outline></outline>
        <outline text="Folder"><outline text="Twice here" xmlUrl="http://127.0.0.1/twice"/>
          <outline text="New" xmlUrl="http://127.0.0.1/new"/></outline>)");
    const TOpmlImport first = ImportOpml(list, "root", ParseOpml(text));
    EXPECT_EQ(first.Feeds, 3);
    EXPECT_EQ(first.Folders, 1);
    EXPECT_EQ(OpmlImportSummary(first), "Imported 3 feeds and 1 folder");
    EXPECT_EQ(Paths(list),
              (std::vector<std::string>{"Old <http://127.0.0.1/old>", "Other case <http://127.0.0.1/OLD>",
                                        "Twice <http://127.0.0.1/twice>", "Folder/",
                                        "Folder/New <http://127.0.0.1/new>"}));
    EXPECT_EQ(old->FeedName, "Old");

    // The same list again adds nothing, not even empty folders.
    const TOpmlImport second = ImportOpml(list, "root", ParseOpml(text));
    EXPECT_EQ(second.Feeds + second.Folders, 0);
    EXPECT_TRUE(second.Added.empty());
    EXPECT_EQ(list.Count(), 5);
    EXPECT_EQ(OpmlImportSummary(second), "Imported 0 feeds and 0 folders");
}

TEST(OpmlImport, WhatIsNotASubscriptionListChangesNothing) {
    TempDir dir;
    TFeedList list(dir.File("feeds.data"));
    list.Add("root", "Kept", "http://127.0.0.1/kept");
    const std::string before = detail::FeedsFileText(list.Items);
    for (const std::string& text :
         {std::string(), std::string("not xml at all"),
          Opml("<outline text=\"a\" xmlUrl=\"http://127.0.0.1/a\">"),
          std::string("<rss version=\"2.0\"><channel><title>x</title></channel></rss>"),
          std::string("<opml version=\"2.0\"><head><title>no body</title></head></opml>"),
          std::string("<opml><body><outline text=\"cut off\" xmlUrl=\"http://127.0.0.1/c\"/>")}) {
        try {
            ImportOpml(list, "root", ParseOpml(text));
            ADD_FAILURE() << "accepted: " << text;
        } catch (const EOpmlError& e) {
            EXPECT_STREQ(e.what(), "The file is not an OPML subscription list");
        }
    }
    EXPECT_EQ(detail::FeedsFileText(list.Items), before);
    EXPECT_THROW(LoadOpmlFile(dir.File("missing.opml")), EFOpenError);
    // An empty body is a list with nothing in it.
    EXPECT_TRUE(ParseOpml("<opml version=\"1.0\"><body/></opml>").empty());
}

// Addresses come in normalised; one the reader cannot fetch is counted and left out, so that a
// line break inside an attribute never reaches a request line.
TEST(OpmlImport, AddressesNormalisedAndUnfetchableOnesLeftOut) {
    TempDir dir;
    TFeedList list(dir.File("feeds.data"));
    list.Add("root", "Old", "HTTP://127.0.0.1/old");
    const std::vector<TOpmlOutline> outlines = ParseOpml(Opml(R"x(
        <outline text="Old" xmlUrl="http://127.0.0.1/old"/>
        <outline text="Split" xmlUrl="http://127.0.0.1/a&#13;&#10;Host: other"/>
        <outline text="Ends" xmlUrl="&#13;&#10;feed:https://127.0.0.1/ends&#13;&#10;"/>
        <outline xmlUrl="HTTPS://User:Pw@Example.ORG:443/wiki/Special:Feed?a b"/>
        <outline text="Script" xmlUrl="javascript:alert(1)"/>
        <outline text="File" xmlUrl="file:///etc/passwd"/>)x"));
    ASSERT_EQ(outlines.size(), 6u);
    EXPECT_TRUE(outlines[1].BadAddress);
    EXPECT_EQ(outlines[2].URL, "https://127.0.0.1/ends");
    EXPECT_EQ(outlines[3].URL, "https://User:Pw@example.org/wiki/Special:Feed?a%20b");
    EXPECT_EQ(outlines[3].Name, "example.org");

    const TOpmlImport import = ImportOpml(list, "root", outlines);
    EXPECT_EQ(import.Feeds, 2);
    EXPECT_EQ(import.BadAddresses, 3);
    EXPECT_EQ(OpmlImportSummary(import),
              "Imported 2 feeds and 0 folders, 3 feeds skipped (not http or https addresses)");
    EXPECT_EQ(Paths(list),
              (std::vector<std::string>{"Old <HTTP://127.0.0.1/old>", "Ends <https://127.0.0.1/ends>",
                                        "example.org <https://User:Pw@example.org/wiki/"
                                        "Special:Feed?a%20b>"}));
}

// A file above 16 MB is refused before it is read; a sparse file costs no disk.
TEST(OpmlImport, LargeFilesAreRefusedUnread) {
    TempDir dir;
    const std::string path =
        dir.Write("huge.opml", Opml("<outline text=\"a\" xmlUrl=\"http://127.0.0.1/a\"/>"));
    ASSERT_EQ(truncate(path.c_str(), kOpmlMaxFileSize), 0);
    // Exactly the limit is still read, whatever its zero bytes make of it.
    try {
        LoadOpmlFile(path);
    } catch (const EOpmlError& e) {
        EXPECT_STRNE(e.what(), kOpmlTooLargeMessage);
    }
    ASSERT_EQ(truncate(path.c_str(), kOpmlMaxFileSize + 1), 0);
    try {
        LoadOpmlFile(path);
        ADD_FAILURE() << "read a file above the limit";
    } catch (const EOpmlError& e) {
        EXPECT_STREQ(e.what(), "The file is too large for a subscription list");
    }
}

// A service's flat export: one level, text only, no titles, no type.
TEST(OpmlShapes, FlatServiceExportWithTextOnly) {
    const std::vector<TOpmlOutline> outlines = ParseOpml(R"(<?xml version="1.0" encoding="UTF-8"?>
<opml version="1.1">
    <head>
        <title>Subscriptions</title>
    </head>
    <body>
        <outline text="Planet Example" xmlUrl="http://127.0.0.1/planet/rss20.xml" />
        <outline text="Kernel news" xmlUrl="http://127.0.0.1/kernel/feed.atom" />
        <outline text="Weather &amp; Roads" xmlUrl="http://127.0.0.1/weather?city=1&amp;lang=en" />
    </body>
</opml>
)");
    ASSERT_EQ(outlines.size(), 3u);
    EXPECT_EQ(outlines[2].Name, "Weather & Roads");
    EXPECT_EQ(outlines[2].URL, "http://127.0.0.1/weather?city=1&lang=en");
    for (const TOpmlOutline& outline : outlines)
        EXPECT_TRUE(outline.Children.empty());
}

// A desktop reader's export: category outlines with text and title, feeds with type, htmlUrl and
// description, a BOM and an OPML 2.0 head with owner fields; attribute case as some readers
// write it.
TEST(OpmlShapes, ReaderExportWithCategoriesAndExtraAttributes) {
    const std::vector<TOpmlOutline> outlines = ParseOpml("\xEF\xBB\xBF"
                                                         R"(<?xml version="1.0" encoding="utf-8"?>
<!-- exported by a reader -->
<opml version="2.0">
  <head>
    <title>My feeds</title>
    <dateCreated>Mon, 07 Dec 2026 10:00:00 GMT</dateCreated>
    <ownerName>Somebody</ownerName>
    <expansionState>1,3</expansionState>
  </head>
  <body>
    <outline text="Linux" title="Linux">
      <outline type="rss" text="LWN" title="LWN.net" xmlUrl="http://127.0.0.1/lwn/rss"
               htmlUrl="http://127.0.0.1/lwn/" description="Linux news" version="RSS2"/>
      <outline text="Desktops" title="Desktops">
        <outline type="atom" text="Planet" title="Planet Desktop" XMLURL="http://127.0.0.1/planet/atom.xml"/>
      </outline>
    </outline>
    <outline type="rss" text="Top" title="Top level" xmlUrl="http://127.0.0.1/top.xml" htmlUrl="http://127.0.0.1/"/>
  </body>
</opml>)");
    ASSERT_EQ(outlines.size(), 2u);
    EXPECT_EQ(outlines[0].Name, "Linux");
    EXPECT_TRUE(outlines[0].URL.empty());
    ASSERT_EQ(outlines[0].Children.size(), 2u);
    EXPECT_EQ(outlines[0].Children[0].Name, "LWN.net");
    EXPECT_EQ(outlines[0].Children[1].Children.at(0).Name, "Planet Desktop");
    EXPECT_EQ(outlines[0].Children[1].Children.at(0).URL, "http://127.0.0.1/planet/atom.xml");
    EXPECT_EQ(outlines[1].Name, "Top level");
}

// An OPML 1.0 file as early tools wrote it: a head with dateCreated, outlines without title,
// a declared single-byte encoding, a feed outline that nests others.
TEST(OpmlShapes, Opml10WithTitlelessOutlinesAndLatin1) {
    const std::vector<TOpmlOutline> outlines =
        ParseOpml("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                  "<opml version=\"1.0\">\n"
                  "<head><title>mySubscriptions</title>\n"
                  "<dateCreated>Sat, 18 Jun 2005 12:11:52 GMT</dateCreated>\n"
                  "</head>\n<body>\n"
                  "<outline text=\"Caf\xE9 news\" type=\"rss\" "
                  "xmlUrl=\"http://127.0.0.1/cafe.xml\">\n"
                  "  <outline text=\"inside\" type=\"rss\" "
                  "xmlUrl=\"http://127.0.0.1/inside.xml\"/>\n"
                  "</outline>\n"
                  "<outline type=\"rss\" xmlUrl=\"http://127.0.0.1:81/bare\"/>\n"
                  "</body>\n</opml>\n");
    ASSERT_EQ(outlines.size(), 3u);
    EXPECT_EQ(outlines[0].Name, "Caf\xC3\xA9 news");
    EXPECT_TRUE(outlines[0].Children.empty());
    // What a feed outline nests stands beside it.
    EXPECT_EQ(outlines[1].Name, "inside");
    EXPECT_EQ(outlines[2].Name, "127.0.0.1");
}

TEST(OpmlExport, RoundTripGivesTheSameFeedsNamesAndPaths) {
    TempDir dir;
    TFeedList list(dir.File("feeds.data"));
    TFeedListItem* tech = list.Add("root", "Tech & \"Science\" <1>", "");
    list.Add(tech->FeedID, "Bob's feed", "http://127.0.0.1/a?x=1&y=2");
    TFeedListItem* deep = list.Add(tech->FeedID, "D\xC3\xA9j\xC3\xA0 vu  twice", "");
    list.Add(deep->FeedID, "\xE6\x97\xA5\xE6\x9C\xAC", "http://127.0.0.1/jp");
    list.Add(deep->FeedID, "Empty inside", "");
    list.Add("root", "Top", "https://127.0.0.1:8443/top.xml");
    list.Add("no-such-folder", "Orphan", "http://127.0.0.1/orphan");

    const std::string path = dir.File("out.opml");
    EXPECT_EQ(ExportOpml(list, "root", "Subscriptions", path), 3);
    const std::string text = dir.Read("out.opml");
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << text;
    EXPECT_NE(text.find("<opml version=\"2.0\">"), std::string::npos);
    EXPECT_NE(text.find("<dateCreated>"), std::string::npos);
    EXPECT_NE(text.find("type=\"rss\" text=\"Top\" title=\"Top\" xmlUrl=\"https://127.0.0.1:8443/top.xml\""),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("Orphan"), std::string::npos);

    TFeedList back(dir.File("back.data"));
    ImportOpml(back, "root", LoadOpmlFile(path));
    // A folder with nothing in it does not come back; everything else does.
    std::vector<std::string> expected = Paths(list);
    expected.erase(std::find(expected.begin(), expected.end(),
                             "Tech & \"Science\" <1>/D\xC3\xA9j\xC3\xA0 vu  twice/Empty inside/"));
    EXPECT_EQ(Sorted(Paths(back)), Sorted(expected));

    // A folder's own subtree, without the folder itself.
    EXPECT_EQ(ExportOpml(list, deep->FeedID, "Deep", dir.File("deep.opml")), 1);
    const std::vector<TOpmlOutline> outlines = LoadOpmlFile(dir.File("deep.opml"));
    ASSERT_EQ(outlines.size(), 1u);
    EXPECT_EQ(outlines[0].URL, "http://127.0.0.1/jp");
}

TEST(OpmlExport, ReplacesAFileOrRaisesCannotCreate) {
    TempDir dir;
    TFeedList list(dir.File("feeds.data"));
    list.Add("root", "A", "http://127.0.0.1/a");
    const std::string missing = dir.File("no-such-folder/out.opml");
    try {
        ExportOpml(list, "root", "t", missing);
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + missing);
    }
    dir.Write("old.opml", "old");
    ExportOpml(list, "root", "t", dir.File("old.opml"));
    EXPECT_EQ(LoadOpmlFile(dir.File("old.opml")).size(), 1u);
}

// The diagnostic commands chain as the tool's help promises: an import's entries go straight into
// a feeds file, and that file exports to a list that reads back the same.
TEST(OpmlInspect, ImportOutputGoesStraightToFeedsWrite) {
    TempDir dir;
    dir.Write("list.opml",
              Opml("<outline text=\"Tech\"><outline title=\"A &amp; B\" xmlUrl=\"http://127.0.0.1/a\"/>"
                   "</outline><outline text=\"Top\" xmlUrl=\"http://127.0.0.1/t\"/>"));
    const std::string tool = TOVEL_INSPECT_PATH;
    const std::string commands = "cd '" + dir.Path() + "' && '" + tool +
                                 "' opml-import list.opml > list.json && '" + tool +
                                 "' feeds-write list.json feeds.data > /dev/null && '" + tool +
                                 "' opml-export feeds.data out.opml > /dev/null";
    ASSERT_EQ(std::system(commands.c_str()), 0) << dir.Read("list.json");

    TFeedList list(dir.File("copy.data"));
    list.Items = detail::LoadFeedsFile(dir.File("feeds.data"));
    const std::vector<std::string> expected{"Tech/", "Tech/A & B <http://127.0.0.1/a>",
                                            "Top <http://127.0.0.1/t>"};
    EXPECT_EQ(Paths(list), expected);
    EXPECT_TRUE(list.Item(1)->AggInclude);

    TFeedList back(dir.File("back.data"));
    ImportOpml(back, "root", LoadOpmlFile(dir.File("out.opml")));
    EXPECT_EQ(Paths(back), expected);
}

} // namespace
