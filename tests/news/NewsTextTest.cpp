#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "news/NewsText.h"
#include "news/NewsTypeCls.h"
#include "xml/XMLNode.h"

namespace {

// The two steps apart, as the extractors define the item texts.
std::string TwoSteps(const std::string& raw, const std::string& encoding) {
    return ConvertCharset(DecodeEntities(raw), encoding);
}

TEST(NewsTextTest, ReferencesDecodeAsInTheirReplacementOrder) {
    EXPECT_EQ(DecodeItemText("a &lt;b&gt; &quot;c&quote; &apos;d&apos; &amp; e", "utf-8"),
              "a <b> \"c\" 'd' & e");
    // "&amp;" is replaced before the others are looked for, then once more at the end.
    EXPECT_EQ(DecodeItemText("&amp;lt; &amp;amp; &amp;amp;amp; &amp;&lt; &&amp;", ""), "< & &amp; &< &&");
    EXPECT_EQ(DecodeItemText("&#39; &lt &LT; & &", ""), "&#39; &lt &LT; & &");
    EXPECT_EQ(DecodeItemText("tail &amp", ""), "tail &amp");
    EXPECT_EQ(DecodeItemText("", "utf-8"), "");
}

TEST(NewsTextTest, InvalidUTF8AndOtherCharsetsGoTheTwoStepWay) {
    EXPECT_EQ(DecodeItemText("caf\xC3\xA9 &amp; \xE2\x82\xAC", "utf-8"), "caf\xC3\xA9 & \xE2\x82\xAC");
    EXPECT_EQ(DecodeItemText("bad \xC3&amp;\xA9 \xED\xA0\x80", "utf-8"),
              "bad \xEF\xBF\xBD&\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(DecodeItemText("caf\xE9 &lt;", "windows-1252"), "caf\xC3\xA9 <");
    EXPECT_EQ(DecodeItemText("caf\xE9 &lt;", "no-such-charset"), "caf\xE9 <");
}

// Random texts of references, their pieces, valid and broken sequences, long enough for every
// case to fall at every place of a 16-byte block, agree with the two steps.
TEST(NewsTextTest, OnePassAgreesWithTheTwoStepsOnRandomTexts) {
    const std::vector<std::string> pieces = {"&",
                                             "amp;",
                                             "lt;",
                                             "gt;",
                                             "quot;",
                                             "quote;",
                                             "apos;",
                                             "a",
                                             "x ",
                                             ";",
                                             "\xC3\xA9",
                                             "\xE2\x82\xAC",
                                             "\xF0\x9F\x98\x80",
                                             "\xC3",
                                             "\xA9",
                                             "\xED\xA0\x80",
                                             "\xC0\xAF",
                                             "\xF4\x90\x80\x80",
                                             "\xE2\x82",
                                             "\xF0\x9F\x98",
                                             "0123456789abcdef"};
    unsigned state = 5;
    for (int n = 0; n < 30000; ++n) {
        state = state * 1103515245u + 12345u;
        const int length = static_cast<int>((state >> 16) % 40);
        std::string raw;
        for (int i = 0; i < length; ++i) {
            state = state * 1103515245u + 12345u;
            raw += pieces[(state >> 16) % pieces.size()];
        }
        const std::string encoding = n % 3 == 0 ? "" : "utf-8";
        ASSERT_EQ(DecodeItemText(raw, encoding), TwoSteps(raw, encoding)) << raw;
    }
}

} // namespace
