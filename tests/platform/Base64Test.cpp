#include "platform/Base64.h"

#include <gtest/gtest.h>
#include <string>

namespace {

TEST(Base64Test, GroupsPaddingAndLines) {
    // RFC 4648's test vectors, padded and not.
    EXPECT_EQ(DecodeBase64(""), "");
    EXPECT_EQ(DecodeBase64("Zg=="), "f");
    EXPECT_EQ(DecodeBase64("Zm8="), "fo");
    EXPECT_EQ(DecodeBase64("Zm9v"), "foo");
    EXPECT_EQ(DecodeBase64("Zm9vYg=="), "foob");
    EXPECT_EQ(DecodeBase64("Zm9vYmE"), "fooba");
    EXPECT_EQ(DecodeBase64("Zm9vYmFy"), "foobar");
    // Every byte value, with the last two characters of the alphabet.
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    const std::string encoded =
        "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+"
        "P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3BxcnN0dXZ3eHl6e3x9fn"
        "+AgYKDhIWGh4iJiouMjY6PkJGSk5SVlpeYmZqbnJ2en6ChoqOkpaanqKmqq6ytrq+wsbKztLW2t7i5uru8vb6/"
        "wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX2Nna29zd3t/g4eLj5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7/P3+/w==";
    EXPECT_EQ(DecodeBase64(encoded), all);
    EXPECT_EQ(EncodeBase64(all), encoded);
    // Each length of the last group: no padding, two, one.
    for (const char* bytes : {"", "f", "fo", "foo", "foob", "fooba", "foobar"})
        EXPECT_EQ(DecodeBase64(EncodeBase64(bytes)), bytes);
    EXPECT_EQ(EncodeBase64("f"), "Zg==");
    EXPECT_EQ(EncodeBase64("fo"), "Zm8=");
    // MIME lines and blanks anywhere.
    EXPECT_EQ(DecodeBase64("  Zm9v\r\nYmFy\n"), "foobar");
    EXPECT_EQ(DecodeBase64("Z m 9 v\tYg"), "foob");
}

TEST(Base64Test, TheTextEndsAtPaddingOrAForeignCharacter) {
    EXPECT_EQ(DecodeBase64("Zm8=Zm9v"), "fo");
    EXPECT_EQ(DecodeBase64("Zm9v!Zm9v"), "foo");
    EXPECT_EQ(DecodeBase64("Zm9v-_"), "foo");
    // A lone character left over holds no whole byte.
    EXPECT_EQ(DecodeBase64("Zm9vY"), "foo");
    EXPECT_EQ(DecodeBase64("="), "");
}

} // namespace
