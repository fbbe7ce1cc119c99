#include "xml/XMLNode.h"

#include <cstdio>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

#include "TempDir.h"
#include "platform/SysUtils.h"

namespace {

// A compact picture of a subtree: name, 'value' when not empty, {attribute=value ...} when any,
// (children ...) when any. Small documents only: it recurses.
std::string Shape(const TXMLNode& node) {
    std::string s = node.Name;
    if (!node.Value.RawText().empty())
        s += "'" + std::string(node.Value.RawText()) + "'";
    if (node.Attributes.Count() > 0) {
        s += "{";
        for (int i = 0; i < node.Attributes.Count(); ++i)
            s += (i ? " " : "") + node.Attributes.Name(i) + "=" +
                 std::string(node.Attributes.Value(i).RawText());
        s += "}";
    }
    if (node.ChildCount() > 0) {
        s += "(";
        for (int i = 0; i < node.ChildCount(); ++i)
            s += (i ? " " : "") + Shape(node.Child(i));
        s += ")";
    }
    return s;
}

// The shapes of a document's top-level nodes, separated by " | ".
std::string Parse(const std::string& text) {
    TXMLNode doc;
    doc.LoadFromString(text);
    std::string s;
    for (int i = 0; i < doc.ChildCount(); ++i)
        s += (i ? " | " : "") + Shape(doc.Child(i));
    return s;
}

} // namespace

TEST(XMLNodeParseTest, TextPiecesAroundChildrenAndSections) {
    // Pieces of one element's text joined across sections, comments and child elements, with
    // the children's own texts and attributes kept intact.
    EXPECT_EQ(Parse("<a>1<![CDATA[2]]>3<!-- c -->4<b k='v'>x<![CDATA[y]]></b>5<![CDATA[6]]><c>z</c>7</a>"),
              "a'1 2345 67'(b'x y'{k=v} c'z')");
    EXPECT_EQ(Parse("<a><![CDATA[]]><![CDATA[x]]><b/><![CDATA[]]></a>"), "a'  x '(b)");
    EXPECT_EQ(Parse("<a><b>1</b>2<![CDATA[3]]><c>4</c>5</a><d>6<![CDATA[7]]></d>"),
              "a'2 35'(b'1' c'4') | d'6 7'");
}

TEST(XMLNodeLoadTest, TextsOutliveTheirSources) {
    auto doc = std::make_unique<TXMLNode>();
    {
        std::string text = "<r a='1'><i>one<![CDATA[ two]]></i><j b='2'>three</j></r>";
        doc->LoadFromString(text);
        text.assign(text.size(), 'x'); // the caller's text changes and dies
    }
    EXPECT_EQ(Shape(*doc), "(r{a=1}(i'one  two' j'three'{b=2}))");

    // A subtree taken out of the document keeps its texts when the document dies or reloads.
    TXMLNode taken(std::move(doc->Child(0).Child(1)));
    TXMLNode assigned;
    assigned = std::move(doc->Child(0).Child(0));
    TXMLValue value = doc->Child(0).Attributes.Value(0);
    TXMLAttributes attributes = std::move(doc->Child(0).Attributes);
    doc->Child(0).Value = taken.Value;
    doc->LoadFromString("<other>text</other>");
    EXPECT_EQ(Shape(*doc), "(other'text')");
    doc.reset();
    EXPECT_EQ(Shape(taken), "j'three'{b=2}");
    EXPECT_EQ(Shape(assigned), "i'one  two'");
    EXPECT_EQ(value.RawText(), "1");
    EXPECT_EQ(attributes.ValueOf("a").RawText(), "1");
    // Attributes taken out of a document grow like any others.
    for (int i = 0; i < 10; ++i)
        attributes.ValueOf("n" + std::to_string(i)).SetRawText(std::to_string(i));
    EXPECT_EQ(attributes.Count(), 11);
    EXPECT_EQ(attributes.ValueOf("A").RawText(), "1");
    EXPECT_EQ(attributes.ValueOf("N9").RawText(), "9");

    // A node of one document that takes over another document, released with the first.
    TXMLNode first, second;
    first.LoadFromString("<a><b>1</b></a>");
    second.LoadFromString("<c><d>2</d></c>");
    first.Child(0).Child(0) = std::move(second);
    second.LoadFromString("<e/>");
    EXPECT_EQ(Shape(first), "(a((c(d'2'))))");
    // A node moved over its own ancestor.
    first = std::move(first.Child(0).Child(0).Child(0));
    EXPECT_EQ(Shape(first), "c(d'2')");
    // Reloading a node whose own text came from its old document.
    TXMLNode& d = first.Child(0);
    d.LoadFromString("<f>3</f>");
    EXPECT_EQ(Shape(first), "c('2'(f'3'))"); // Clear empties the name, not the value
}

TEST(XMLNodeParseTest, TopLevelConstructs) {
    TXMLNode doc;
    doc.LoadFromString("\xEF\xBB\xBF\n<?xml version='1.0' encoding=\"UTF-8\"?>\n"
                       "<!DOCTYPE rss SYSTEM \"x.dtd\">\n<rss version=\"2.0\"><channel/></rss>\n");
    ASSERT_EQ(doc.ChildCount(), 4);
    EXPECT_EQ(doc.Name, "");
    TXMLNode& decl = doc.Child(0);
    EXPECT_EQ(decl.Name, "?xml");
    EXPECT_EQ(decl.Attributes.ValueOf("ENCODING").RawText(), "UTF-8");
    EXPECT_EQ(decl.Attributes.ValueOf("version").RawText(), "1.0");
    EXPECT_EQ(decl.ChildCount(), 0);
    EXPECT_EQ(doc.Child(1).Name, "!DOCTYPE");
    EXPECT_EQ(doc.Child(1).Attributes.Count(), 3); // rss, SYSTEM, "x.dtd" as a name
    EXPECT_EQ(Shape(doc.Child(2)), "rss{version=2.0}(channel)");
    // The final line break becomes a last node with an empty name.
    EXPECT_EQ(Shape(doc.Child(3)), "");

    EXPECT_EQ(Parse("<!-- a --><r/>"), "r");
    EXPECT_EQ(Parse("<!-- a --><!-- b --><r/>"), "!--{b= --=} | r");
    EXPECT_EQ(Parse("<!-- never closed <r/>"), "");
    EXPECT_EQ(Parse("<?php echo 1 ?><r/>"), "?php{echo= 1=} | r");
    EXPECT_EQ(Parse("<r/>trailing"), "r | trailing");
    EXPECT_EQ(Parse(""), "");
    EXPECT_EQ(Parse("no markup"), "no{markup=}");
}

TEST(XMLNodeParseTest, TextContent) {
    EXPECT_EQ(Parse("<title>Fish &amp; chips</title>"), "title'Fish &amp; chips'");
    EXPECT_EQ(Parse("<d><![CDATA[<p>Hi</p>]]></d>"), "d' <p>Hi</p>'");
    EXPECT_EQ(Parse("<d>a<![CDATA[]]>b<![CDATA[x]]></d>"), "d'a b x'");
    EXPECT_EQ(Parse("<p>Hello <b>big</b> world</p>"), "p'Hello  world'(b'big')");
    EXPECT_EQ(Parse("<p>\n  <a/>\n  <b/>\n</p>"), "p(a b)");
    EXPECT_EQ(Parse("<p> x </p>"), "p' x '");
    // Any closing tag ends the element.
    EXPECT_EQ(Parse("<a>text</b><c/>"), "a'text' | c");
    EXPECT_EQ(Parse("<a>x</"), "a'x'");
    // Truncated documents keep what they have.
    EXPECT_EQ(Parse("<rss><title>abc"), "rss(title'abc')");
    EXPECT_EQ(Parse("<d><![CDATA[<b>rest</d>"), "d' <b>rest</d>'");
    EXPECT_EQ(Parse("<d><![CDATA"), "d(![CDATA)");
    EXPECT_EQ(Parse("<a"), "a");
    EXPECT_EQ(Parse("<"), "");
    EXPECT_EQ(Parse("<a><>x</a>"), "a('x')");
    // Zero bytes are ordinary text.
    EXPECT_EQ(Parse(std::string("<a>x\0y</a>", 10)), std::string("a'x\0y'", 6));
}

TEST(XMLNodeParseTest, CommentsInsideContentAreSkipped) {
    // The comment must not turn "</a>" into a child and swallow what follows.
    EXPECT_EQ(Parse("<r><a>x<!-- c --></a><b>y</b></r>"), "r(a'x' b'y')");
    EXPECT_EQ(Parse("<a>x<!-- <b>not</b> -->z</a>"), "a'xz'");
    EXPECT_EQ(Parse("<a><!--1--><!--2--><b/></a>"), "a(b)");
    EXPECT_EQ(Parse("<a><!---->x</a>"), "a'x'");
    EXPECT_EQ(Parse("<a>x<!-- never closed </a><b/>"), "a'x'");
}

TEST(XMLNodeParseTest, StartTags) {
    EXPECT_EQ(Parse("<br/><link href='x' /><link href='y'/>"), "br | link{href=x} | link{href=y}");
    // Values are cut at spaces, quotes or not.
    EXPECT_EQ(Parse("<a title='a b'/>"), "a{title= b'=}");
    EXPECT_EQ(Parse("<a x=1  y=2/>"), "a{x=1 = y=2}");
    EXPECT_EQ(Parse("<a x='1' X=\"2\" y='3/>"), "a{x=2 y=}");
    EXPECT_EQ(Parse("<a x=' y=\" z=ab'/>"), "a{x= y= z=ab'}");
    EXPECT_EQ(Parse("<a x= y/>"), "a{x= y=}");
    EXPECT_EQ(Parse("<a k=v=w/>"), "a{k=v=w}");
    // A tab does not end the name; line breaks do, as spaces.
    EXPECT_EQ(Parse("<a\tb='1' c='2'/>"), "a\tb='1'{c=2}");
    EXPECT_EQ(Parse("<a\r\nb='1'\nc='2'\r\n/>"), "a{b=1 c=2}");
    EXPECT_EQ(Parse("<a b\t=\t'1'/>"), "a{b=1}");
    // The "/" only counts as the last character of the tag.
    EXPECT_EQ(Parse("<a href=/x>t</a>"), "a't'{href=/x}");
    EXPECT_EQ(Parse("<a href=x/>t</a>"), "a{href=x} | /a");
}

TEST(XMLNodeParseTest, MarkupOfEveryLengthAndAtTheEnd) {
    // Names, attribute runs, texts and closing tags of many lengths, ending flush with the
    // document or followed by more.
    for (std::size_t n = 1; n <= 70; ++n) {
        const std::string name(n, 'n'), text(n, 't'), value(n, 'v');
        const std::string attrs = "k=" + value + " K='x' " + std::string(n, 'm');
        SCOPED_TRACE(n);
        EXPECT_EQ(Parse("<" + name + ">" + text + "</" + name + ">"), name + "'" + text + "'");
        EXPECT_EQ(Parse("<" + name + " " + attrs + ">" + text + "</" + name + ">"),
                  name + "'" + text + "'{k=x " + std::string(n, 'm') + "=}");
        EXPECT_EQ(Parse("<" + name + "/>" + std::string(n, ' ') + "<b/>"), name + " | b");
        EXPECT_EQ(Parse(std::string(n, ' ') + "<a>" + std::string(n, '\n') + "<b/>" + std::string(n, '\t') +
                        "</a>"),
                  "a(b)");
        // Unterminated at the very end: the tag, the text, the closing tag.
        EXPECT_EQ(Parse("<" + name), name);
        EXPECT_EQ(Parse("<" + name + " " + attrs), name + "{k=x " + std::string(n, 'm') + "=}");
        EXPECT_EQ(Parse("<a>" + text), "a'" + text + "'");
        EXPECT_EQ(Parse("<a>" + text + "</" + name), "a'" + text + "'");
    }
}

TEST(XMLNodeLookupTest, ChildrenByIndexAndName) {
    TXMLNode doc;
    doc.LoadFromString("<rdf:RDF><Item>1</Item><items>2</items><dc:item>3</dc:item><ITEM>4</ITEM>"
                       "<\xC3\xA9t\xC3\xA9/></rdf:RDF>");
    EXPECT_TRUE(doc.HasChild("rdf:rdf"));
    EXPECT_FALSE(doc.HasChild("rdf"));
    TXMLNode& root = doc.ChildByName("RDF:rdf");
    EXPECT_EQ(root.ChildByName("item").Value.RawText(), "1");
    EXPECT_EQ(root.ChildByName("ITEMS").Value.RawText(), "2");
    EXPECT_TRUE(root.HasChild("\xC3\xA9T\xC3\xA9"));
    EXPECT_FALSE(root.HasChild("\xC3\x89T\xC3\x89"));
    EXPECT_FALSE(root.HasChild(""));
    try {
        root.ChildByName("Channel");
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "The \"Channel\" node is not found");
    }
    EXPECT_EQ(root.Child(4).Name, "\xC3\xA9t\xC3\xA9");
    for (int bad : {5, -1}) {
        try {
            root.Child(bad);
            FAIL() << "no exception for " << bad;
        } catch (const EListError& e) {
            EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(bad) + ")");
        }
    }
}

TEST(XMLNodeLookupTest, AttributeValueOfIsFindOrCreate) {
    TXMLAttributes attributes;
    TXMLValue& first = attributes.ValueOf("Href");
    first.SetRawText("x");
    EXPECT_EQ(attributes.ValueOf("missing").RawText(), "");
    EXPECT_EQ(attributes.Count(), 2);
    EXPECT_EQ(attributes.Name(1), "missing");
    // Many names: the hash index takes over and must agree with the list.
    for (int i = 0; i < 50; ++i)
        attributes.ValueOf("a" + std::to_string(i)).SetRawText(std::to_string(i));
    EXPECT_EQ(attributes.Count(), 52);
    EXPECT_EQ(attributes.ValueOf("A17").RawText(), "17");
    EXPECT_EQ(attributes.ValueOf("HREF").RawText(), "x");
    EXPECT_EQ(&attributes.ValueOf("href"), &first); // values stay put as pairs are added
    EXPECT_EQ(attributes.Count(), 52);
    EXPECT_THROW(attributes.Name(52), EListError);
    attributes.Clear();
    EXPECT_EQ(attributes.Count(), 0);
    EXPECT_EQ(attributes.ValueOf("a17").RawText(), "");
    EXPECT_EQ(attributes.Count(), 1);

    std::string tag = "<a";
    for (int i = 0; i < 20; ++i)
        tag += " n" + std::to_string(i) + "='" + std::to_string(i) + "' N" + std::to_string(i) + "=x";
    TXMLNode doc;
    doc.LoadFromString(tag + "/>");
    EXPECT_EQ(doc.Child(0).Attributes.Count(), 20);
    EXPECT_EQ(doc.Child(0).Attributes.Name(19), "n19");
    EXPECT_EQ(doc.Child(0).Attributes.Value(19).RawText(), "x");
}

TEST(XMLNodeLoadTest, ReloadAndClear) {
    TXMLNode doc;
    doc.Value.SetRawText("kept");
    doc.LoadFromString("<a x='1'><b/></a>");
    doc.LoadFromString("<c/>");
    EXPECT_EQ(Shape(doc), "'kept'(c)");
    TXMLNode& c = doc.Child(0);
    c.Name = "n";
    c.Attributes.ValueOf("k");
    c.AddChild().AddChild();
    c.Value.SetRawText("v");
    c.Clear();
    EXPECT_EQ(Shape(c), "'v'");
}

TEST(XMLNodeLoadTest, ChildrenAddedAfterLoadingFollowTheParsedOnes) {
    TXMLNode doc;
    doc.LoadFromString("<r><a/><b>1</b></r>");
    TXMLNode& root = doc.Child(0);
    TXMLNode& b = root.Child(1);
    TXMLNode& added = root.AddChild();
    added.Name = "B";
    root.AddChild().Name = "c";
    EXPECT_EQ(&root.Child(1), &b); // earlier references stay valid
    EXPECT_EQ(&root.Child(2), &added);
    EXPECT_EQ(Shape(root), "r(a b'1' B c)");
    EXPECT_EQ(&root.ChildByName("B"), &b); // parsed children come first
    EXPECT_EQ(&root.ChildByName("C"), &root.Child(3));
    EXPECT_THROW(root.Child(4), EListError);

    TXMLNode moved(std::move(root));
    EXPECT_EQ(Shape(moved), "r(a b'1' B c)");
    EXPECT_EQ(Shape(root), "");
    root = std::move(moved);
    EXPECT_EQ(root.ChildCount(), 4);
    EXPECT_EQ(moved.ChildCount(), 0);
}

TEST(XMLNodeLoadTest, StreamsAndFiles) {
    std::istringstream stream("skip<a>1</a>");
    stream.seekg(4);
    TXMLNode doc;
    doc.LoadFromStream(stream);
    EXPECT_EQ(Shape(doc), "(a'1')");

    TempDir dir;
    doc.LoadFromFile(dir.Write("f.xml", std::string("<a>x\0</a>", 9)));
    EXPECT_EQ(doc.Child(0).Value.RawText(), std::string("x\0", 2));

    for (const std::string& bad : {dir.File("missing.xml"), dir.Path(), dir.File("f.xml/under")}) {
        try {
            doc.LoadFromFile(bad);
            FAIL() << "no exception for " << bad;
        } catch (const EFOpenError& e) {
            EXPECT_EQ(e.Message(), "Cannot open file " + bad);
        }
        EXPECT_EQ(Shape(doc), "(a'x" + std::string(1, '\0') + "')"); // unchanged
    }
}

TEST(XMLNodeLoadTest, PublicCorpusLoads) {
    const std::string folder = CorpusFolder();
    if (folder.empty())
        GTEST_SKIP() << "public corpus not found beside the repository";
    DIR* dir = opendir(folder.c_str());
    ASSERT_NE(dir, nullptr);
    int feeds = 0;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name[0] == '.' || name == "MANIFEST.tsv" || name == "README.md")
            continue;
        TXMLNode doc;
        doc.LoadFromFile(folder + name);
        if (doc.HasChild("rss") || doc.HasChild("feed") || doc.HasChild("rdf:RDF"))
            ++feeds;
    }
    closedir(dir);
    std::printf("%d of the corpus files have an rss, feed or rdf:RDF root\n", feeds);
    EXPECT_GT(feeds, 80);
}

// The content of each element as written, though the parser rearranges the text it keeps:
// mixed content, sections, comments and references stay where they stood.
TEST(XMLNodeMarkupTest, ContentAsWrittenWhenTheMarkupIsKept) {
    const std::string text = "<?xml version=\"1.0\"?><!-- c --><feed><entry><content mode=\"xml\">"
                             "<div><p>Hello <b>world</b> again<br/>end &amp; <!-- note -->more"
                             "<![CDATA[<raw>]]></p></div></content><empty/><none></none></entry>"
                             "<open>left <i>open";
    TXMLNode doc;
    doc.LoadKeepingMarkup(text);
    const TXMLNode& entry = doc.ChildByName("feed").ChildByName("entry");
    const TXMLNode& content = entry.ChildByName("content");
    EXPECT_EQ(content.ContentMarkup(), "<div><p>Hello <b>world</b> again<br/>end &amp; <!-- note -->more"
                                       "<![CDATA[<raw>]]></p></div>");
    EXPECT_EQ(content.ChildByName("div").ChildByName("p").ChildByName("b").ContentMarkup(), "world");
    // The tree itself is read as from LoadFromString.
    EXPECT_EQ(content.ChildByName("div").ChildByName("p").Value.RawText(),
              "Hello  againend &amp; more <raw>");
    EXPECT_EQ(entry.ChildByName("empty").ContentMarkup(), "");
    EXPECT_EQ(entry.ChildByName("none").ContentMarkup(), "");
    // An element never closed runs to the end of the text.
    EXPECT_EQ(doc.ChildByName("feed").ChildByName("open").ContentMarkup(), "left <i>open");
    EXPECT_EQ(doc.ContentMarkup(), "");

    // Without the markup kept, and once a node is moved out of its document, there is none.
    TXMLNode plain;
    plain.LoadFromString(text);
    EXPECT_EQ(plain.ChildByName("feed").ChildByName("entry").ChildByName("content").ContentMarkup(), "");
    TXMLNode moved(std::move(doc.ChildByName("feed").ChildByName("entry").ChildByName("content")));
    EXPECT_EQ(moved.ContentMarkup(), "");
    // A reload without the markup forgets it.
    doc.LoadFromString(text);
    EXPECT_EQ(doc.ChildByName("feed").ChildByName("entry").ChildByName("content").ContentMarkup(), "");
}
