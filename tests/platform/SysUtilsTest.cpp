#include "platform/SysUtils.h"

#include <gtest/gtest.h>

TEST(SysUtilsTest, MessagesOfTheGeneralErrors) {
    EXPECT_EQ(EListError(7).Message(), "List index out of bounds (7)");
    EXPECT_EQ(EListError(-1).Message(), "List index out of bounds (-1)");
    EXPECT_EQ(EFOpenError("/a/b").Message(), "Cannot open file /a/b");
    EXPECT_STREQ(EFCreateError("/x").what(), "Cannot create file /x");
}

TEST(SysUtilsTest, TrimRemovesControlCharactersAndSpaces) {
    EXPECT_EQ(Trim(std::string("\t\r\n \x01 a b \0\x1f", 12)), "a b");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(TrimLeft("  a "), "a ");
    EXPECT_EQ(TrimRight("  a \n"), "  a");
    EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0"); // bytes above 127 are text
}

TEST(SysUtilsTest, IntegersAreSignAndDigitsOnlyWithinRange) {
    int v = 42;
    EXPECT_TRUE(TryStrToInt("123", v));
    EXPECT_EQ(v, 123);
    EXPECT_TRUE(TryStrToInt("-2147483648", v));
    EXPECT_EQ(v, -2147483648LL);
    EXPECT_TRUE(TryStrToInt("+2147483647", v));
    EXPECT_EQ(v, 2147483647);
    v = 5;
    for (const char* bad : {"", "+", "-", " 1", "1 ", "2147483648", "-2147483649", "1a", "0x10", "1.0",
                            "99999999999999999999"}) {
        EXPECT_FALSE(TryStrToInt(bad, v)) << bad;
        EXPECT_EQ(v, 5) << bad;
    }
    EXPECT_EQ(StrToInt("007"), 7);
    try {
        StrToInt("12x");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'12x' is not a valid integer value");
    }
}

TEST(SysUtilsTest, AsciiCaseOnlyTouchesLetters) {
    EXPECT_EQ(UpperCaseAscii("rdf:rdf \xE4z"), "RDF:RDF \xE4Z");
    EXPECT_EQ(LowerCaseAscii("UTF-8"), "utf-8");
    EXPECT_TRUE(SameTextAscii("Channel", "cHANNEL"));
    EXPECT_FALSE(SameTextAscii("item", "items"));
}

TEST(SysUtilsTest, DatesCountDaysFrom1899December30) {
    TDateTime d = -1;
    ASSERT_TRUE(TryEncodeDate(1899, 12, 30, d));
    EXPECT_EQ(d, 0);
    ASSERT_TRUE(TryEncodeDate(1899, 12, 31, d));
    EXPECT_EQ(d, 1);
    ASSERT_TRUE(TryEncodeDate(2006, 2, 18, d));
    EXPECT_EQ(d, 38766);
    ASSERT_TRUE(TryEncodeDate(1, 1, 1, d));
    EXPECT_EQ(d, -693593);
    ASSERT_TRUE(TryEncodeDate(2000, 2, 29, d));
    EXPECT_FALSE(TryEncodeDate(1900, 2, 29, d));
    EXPECT_FALSE(TryEncodeDate(2023, 2, 30, d));
    EXPECT_FALSE(TryEncodeDate(2023, 13, 1, d));
    EXPECT_FALSE(TryEncodeDate(0, 1, 1, d));
    EXPECT_FALSE(TryEncodeDate(10000, 1, 1, d));
    TDateTime t = -1;
    ASSERT_TRUE(TryEncodeTime(6, 0, 0, 0, t));
    EXPECT_DOUBLE_EQ(t, 0.25);
    EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, t));
    EXPECT_FALSE(TryEncodeTime(1, 60, 0, 0, t));
    EXPECT_FALSE(TryEncodeTime(1, 0, 60, 0, t));
}
