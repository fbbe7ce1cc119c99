// The reader against the plain-way steps of LiteralReader.h: the same tree for random markup
// built from the pieces that matter to the parser, and for every public corpus feed.
#include "LiteralReader.h"
#include "xml/XMLNode.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <random>
#include <string>

#include "TempDir.h"
#include "platform/Files.h"

namespace {

void Dump(const TXMLNode& node, std::string& out) {
    out += "[" + node.Name + "|" + std::string(node.Value.RawText()) + "|";
    for (int i = 0; i < node.Attributes.Count(); ++i)
        out += node.Attributes.Name(i) + "=" + std::string(node.Attributes.Value(i).RawText()) + ";";
    for (int i = 0; i < node.ChildCount(); ++i)
        Dump(node.Child(i), out);
    out += "]";
}

void Dump(const literal::TNode& node, std::string& out) {
    out += "[" + node.Name + "|" + node.Value + "|";
    for (const auto& pair : node.Attributes)
        out += pair.first + "=" + pair.second + ";";
    for (const auto& child : node.Children)
        Dump(child, out);
    out += "]";
}

std::string Ours(const std::string& text) {
    TXMLNode doc;
    doc.LoadFromString(text);
    std::string out;
    Dump(doc, out);
    return out;
}

std::string Literal(const std::string& text) {
    std::string out;
    Dump(literal::Load(text), out);
    return out;
}

TEST(XMLNodeAgreementTest, RandomMarkupGivesTheTreeOfThePlainSteps) {
    // Short pieces for the odd cases, long ones so that runs cross the scanner's blocks.
    const std::string pieces[] = {
        "<",
        ">",
        "/",
        "?",
        "!",
        "<!--",
        "-->",
        "<![CDATA[",
        "]]>",
        " ",
        "\n",
        "\r",
        "\t",
        "a",
        "B",
        "=",
        "\"",
        "'",
        "x y",
        "</",
        "/>",
        "?>",
        "<a>",
        "</a>",
        "<b c='d e'>",
        "&amp;",
        "<?xml version=\"1.0\"?>",
        "<!DOCTYPE rss>",
        "<a\nb=c>",
        "<a\r\nb = \"q\" />",
        "=\"\"",
        "A=1 a=2",
        std::string(17, ' '),
        std::string(23, 'n'),
        "<" + std::string(31, 'e') + " k=" + std::string(19, 'v') + ">",
        "<i u=\"https://example.com/some/long/path.mp3\" length=\"123456\" type=\"audio/mpeg\"/>",
        "\n      ",
        "text that runs on for more than one block of sixteen bytes"};
    std::mt19937 random(20261208);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int count = static_cast<int>(random() % 40);
        for (int i = 0; i < count; ++i)
            text += pieces[random() % std::size(pieces)];
        ASSERT_EQ(Ours(text), Literal(text)) << "document: " << text;
    }
}

TEST(XMLNodeAgreementTest, PublicCorpusGivesTheTreeOfThePlainSteps) {
    const std::string folder = CorpusFolder();
    DIR* dir = folder.empty() ? nullptr : opendir(folder.c_str());
    if (!dir)
        GTEST_SKIP() << "public corpus not found beside the repository";
    int files = 0;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name == "MANIFEST.tsv")
            continue;
        std::string text;
        try {
            text = ReadFileToString(folder + "/" + name);
        } catch (const std::exception&) {
            continue; // a folder
        }
        EXPECT_EQ(Ours(text), Literal(text)) << name;
        ++files;
    }
    closedir(dir);
    EXPECT_GT(files, 0);
}

} // namespace
