#include "xml/XMLEntities.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "RandomText.h"
#include "SequentialDecode.h"
#include "xml/XMLNode.h"

namespace {

// DecodeEntities of a text in a heap block of exactly its size, so that a read past the end of
// a reference cut short is caught by the address sanitizer.
std::string DecodeExact(const std::string& text) {
    const auto block = std::make_unique<char[]>(text.size());
    text.copy(block.get(), text.size());
    return DecodeEntities(std::string_view(block.get(), text.size()));
}

} // namespace

TEST(DecodeEntitiesTest, ReplacesInFixedOrderAndLeavesOthers) {
    EXPECT_EQ(DecodeEntities("Fish &amp; chips"), "Fish & chips");
    // "&amp;" goes first, so doubly escaped markup comes out as markup.
    EXPECT_EQ(DecodeEntities("&amp;lt;b&amp;gt;"), "<b>");
    EXPECT_EQ(DecodeEntities("&amp;amp;"), "&");
    EXPECT_EQ(DecodeEntities("&amp;amp;amp;"), "&amp;");
    EXPECT_EQ(DecodeEntities("&quot;a&quote;&apos;"), "\"a\"'");
    EXPECT_EQ(DecodeEntities("&#39; &#x2019; &nbsp; &AMP; &lt"), "&#39; &#x2019; &nbsp; &AMP; &lt");
    EXPECT_EQ(DecodeEntities(std::string("a\0&lt;b", 7)), std::string("a\0<b", 4));
    EXPECT_EQ(DecodeEntities(std::string_view()), "");

    TXMLValue value;
    value.SetRawText("1 &lt; 2");
    EXPECT_EQ(value.DecodedText(), "1 < 2");
    EXPECT_EQ(value.RawText(), "1 &lt; 2");
}

TEST(DecodeEntitiesTest, AgreesWithTheSevenPasses) {
    for (const char* text : {"&amp;amp;lt;", "&&lt;gt;", "&amp;quote;", "&amp;amp;amp;amp;", "&lt;&gt;&amp;",
                             "&quot;e;", "&quote", "&amp", "&", "&&&amp;;", "&l&amp;t;", "&amp;&amp;lt;;",
                             "x&apos;&amp;apos;&amp;amp;apos;", "&amp;quot;e;", "&lt;amp;"})
        EXPECT_EQ(DecodeExact(text), SequentialDecode(text)) << text;
    // Random runs of references, their pieces and what may stand between them; texts that end
    // inside a reference are among them.
    TRandomText random(20261208);
    const std::vector<std::string> pieces = {"&",  "amp;", "lt;", "gt;", "quot;", "quote;", "apos;", "&amp;",
                                             "am", "quo",  "l",   "t",   ";",     "e",      "x",     "&#39;"};
    for (int n = 0; n < 20000; ++n) {
        const std::string text = random.Text(10, pieces);
        ASSERT_EQ(DecodeExact(text), SequentialDecode(text)) << text;
    }
}
