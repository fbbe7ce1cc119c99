#include "platform/Guid.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

TEST(GuidTest, TextFormIsUpperCaseVersion4AndUnique) {
    const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const std::string g = NewGuidText();
        ASSERT_EQ(g.size(), 36u);
        ASSERT_TRUE(std::regex_match(g, form)) << g;
        seen.insert(g);
    }
    EXPECT_EQ(seen.size(), 1000u);
}
