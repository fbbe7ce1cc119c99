#include "platform/Charset.h"

#include <cstdint>
#include <initializer_list>

#include <gtest/gtest.h>

namespace {

const std::string kPrivetUTF8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"; // Привет
const std::string kFFFD = "\xEF\xBF\xBD";

TEST(SanitizeUTF8, KeepsValidTextAndReplacesEachBadByte) {
    EXPECT_EQ(SanitizeUTF8(""), "");
    EXPECT_EQ(SanitizeUTF8("plain <b>ascii</b>"), "plain <b>ascii</b>");
    EXPECT_EQ(SanitizeUTF8(kPrivetUTF8), kPrivetUTF8);
    EXPECT_EQ(SanitizeUTF8("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80"); // four-byte emoji
    EXPECT_EQ(SanitizeUTF8(std::string("a\0b", 3)), std::string("a\0b", 3));

    // A Latin-1 byte in the middle, a lone continuation byte, a truncated sequence at the end.
    EXPECT_EQ(SanitizeUTF8("caf\xE9!"), "caf" + kFFFD + "!");
    EXPECT_EQ(SanitizeUTF8("\x80x"), kFFFD + "x");
    EXPECT_EQ(SanitizeUTF8("ab\xD0"), "ab" + kFFFD);
    EXPECT_EQ(SanitizeUTF8("\xE2\x82"), kFFFD + kFFFD);
}

TEST(SanitizeUTF8, RejectsOverlongSurrogatesAndOutOfRange) {
    EXPECT_EQ(SanitizeUTF8("\xC0\xAF"), kFFFD + kFFFD);                         // overlong "/"
    EXPECT_EQ(SanitizeUTF8("\xE0\x80\xAF"), kFFFD + kFFFD + kFFFD);             // overlong, three bytes
    EXPECT_EQ(SanitizeUTF8("\xED\xA0\x80"), kFFFD + kFFFD + kFFFD);             // UTF-16 surrogate
    EXPECT_EQ(SanitizeUTF8("\xF4\x90\x80\x80"), kFFFD + kFFFD + kFFFD + kFFFD); // above U+10FFFF
    EXPECT_EQ(SanitizeUTF8("\xFF"), kFFFD);
}

TEST(CharsetToUTF8, ConvertsCyrillicSingleByteCharsets) {
    EXPECT_EQ(CharsetToUTF8("\xCF\xF0\xE8\xE2\xE5\xF2", "windows-1251"), kPrivetUTF8);
    EXPECT_EQ(CharsetToUTF8("\xCF\xF0\xE8\xE2\xE5\xF2", "WINDOWS-1251"), kPrivetUTF8);
    EXPECT_EQ(CharsetToUTF8("\xF0\xD2\xC9\xD7\xC5\xD4", "koi8-r"), kPrivetUTF8);
    // ASCII markup around converted text is kept byte for byte.
    EXPECT_EQ(CharsetToUTF8("<p>\xCF\xF0\xE8\xE2\xE5\xF2</p>", "windows-1251"), "<p>" + kPrivetUTF8 + "</p>");
}

TEST(CharsetToUTF8, ConvertsWesternCharsets) {
    EXPECT_EQ(CharsetToUTF8("caf\xE9", "iso-8859-1"), "caf\xC3\xA9");
    // 0x80 is the euro sign in windows-1252 but a control character in Latin-1.
    EXPECT_EQ(CharsetToUTF8("\x80", "windows-1252"), "\xE2\x82\xAC");
    EXPECT_EQ(CharsetToUTF8("\x80", "iso-8859-1"), "\xC2\x80");
}

TEST(CharsetToUTF8, UndefinedBytesBecomeReplacementCharacters) {
    // 0x81 has no character in windows-1252; the text around it survives.
    EXPECT_EQ(CharsetToUTF8("a\x81"
                            "b",
                            "windows-1252"),
              "a" + kFFFD + "b");
    // Shift_JIS text cut inside a two-byte character.
    EXPECT_EQ(CharsetToUTF8("x\x82", "shift_jis"), "x" + kFFFD);
}

TEST(CharsetToUTF8, Utf8IsRepairedAndUnknownNamesLeaveTheText) {
    EXPECT_EQ(CharsetToUTF8(kPrivetUTF8, "utf-8"), kPrivetUTF8);
    EXPECT_EQ(CharsetToUTF8("bad\xFF", "UTF-8"), "bad" + kFFFD);
    EXPECT_EQ(CharsetToUTF8("bad\xFF", "utf8"), "bad" + kFFFD);
    EXPECT_EQ(CharsetToUTF8("raw\xFF", "no-such-charset"), "raw\xFF");
    EXPECT_EQ(CharsetToUTF8("raw\xFF", ""), "raw\xFF");
    EXPECT_TRUE(IsKnownCharset("koi8-r"));
    EXPECT_FALSE(IsKnownCharset("no-such-charset"));
    EXPECT_FALSE(IsKnownCharset(""));
}

// Code points as UTF-32 code units, little or big endian.
std::string UTF32(std::initializer_list<uint32_t> codePoints, bool littleEndian) {
    std::string out;
    for (uint32_t c : codePoints)
        for (int i = 0; i < 4; ++i)
            out += static_cast<char>(c >> (littleEndian ? 8 * i : 24 - 8 * i));
    return out;
}

TEST(CharsetToUTF8, WideCharsetsReplaceABadCodeUnitAndStayInStep) {
    for (bool le : {true, false}) {
        const char* charset = le ? "UTF-32LE" : "UTF-32BE";
        SCOPED_TRACE(charset);
        EXPECT_EQ(CharsetToUTF8(UTF32({0x41F, 0x440, 0x438, 0x432, 0x435, 0x442, 0x1F600}, le), charset),
                  kPrivetUTF8 + "\xF0\x9F\x98\x80");
        // Above U+10FFFF and a surrogate: one U+FFFD each, and the units after them are read whole.
        EXPECT_EQ(CharsetToUTF8(UTF32({'<', 0x110000, 'a', 0xD800, 'b', 0xFFFFFFFF, 'c'}, le), charset),
                  "<" + kFFFD + "a" + kFFFD + "b" + kFFFD + "c");
        // A unit cut off at the end.
        EXPECT_EQ(CharsetToUTF8(UTF32({'a'}, le) + std::string("\0\0", 2), charset), "a" + kFFFD);
    }
    // A lone high surrogate in UTF-16 costs its own unit only.
    EXPECT_EQ(CharsetToUTF8(std::string("a\0\x00\xD8"
                                        "b\0c\0",
                                        8),
                            "UTF-16LE"),
              "a" + kFFFD + "bc");
    EXPECT_EQ(CharsetToUTF8(std::string("\0a\xDC\x00\0b", 6), "UTF-16BE"), "a" + kFFFD + "b");
}

TEST(CharsetToUTF8, LongTextIsConvertedWhole) {
    std::string text(100000, '\xE0'); // Cyrillic small a in windows-1251
    const std::string out = CharsetToUTF8(text, "windows-1251");
    ASSERT_EQ(out.size(), 200000u);
    EXPECT_EQ(out.substr(199998), "\xD0\xB0");
}

} // namespace

// Page reading and the feed search take the charset from a Content-Type value the same way.
TEST(CharsetParameter, ReadsTheNamedParameterWhateverItsQuotesAndCase) {
    EXPECT_EQ(CharsetParameter("text/html; charset=KOI8-R"), "koi8-r");
    EXPECT_EQ(CharsetParameter("text/html;charset=\"windows-1251\""), "windows-1251");
    EXPECT_EQ(CharsetParameter("text/html; Charset='iso-8859-1' ; q=1"), "iso-8859-1");
    EXPECT_EQ(CharsetParameter("text/html; format=flowed; CHARSET = utf-8"), "utf-8");
    // Only a parameter of that very name counts, and the media type itself is not a parameter.
    EXPECT_EQ(CharsetParameter("text/html; xcharset=koi8-r"), "");
    EXPECT_EQ(CharsetParameter("charset=koi8-r"), "");
    EXPECT_EQ(CharsetParameter("text/html"), "");
    EXPECT_EQ(CharsetParameter(""), "");
}
