#pragma once

#include <cstddef>
#include <string>

// The length of the well-formed UTF-8 sequence at s, with end the end of the text: 1 for ASCII,
// 0 when there is none (a stray or cut sequence, overlong forms, surrogates and code points above
// U+10FFFF).
inline std::size_t UTF8SequenceLength(const unsigned char* s, const unsigned char* end) {
    const unsigned char c = *s;
    if (c < 0x80)
        return 1;
    std::size_t length;
    unsigned lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        lo = c == 0xE0 ? 0xA0 : 0x80;
        hi = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        lo = c == 0xF0 ? 0x90 : 0x80;
        hi = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - s) < length || s[1] < lo || s[1] > hi)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (s[k] < 0x80 || s[k] > 0xBF)
            return 0;
    return length;
}

// The text as valid UTF-8: each byte that does not begin a well-formed sequence (overlong forms,
// surrogates and code points above U+10FFFF included) becomes U+FFFD; valid text is returned as is.
std::string SanitizeUTF8(std::string text);

// True when iconv can convert from the named character set to UTF-8 ("windows-1251", "koi8-r",
// "iso-8859-1", ...); names are compared without regard to case; false for the empty name.
bool IsKnownCharset(const std::string& charset);

// The text converted from the named character set to UTF-8. A byte that the character set does
// not define, or an incomplete sequence at the end, becomes U+FFFD; the result is always valid
// UTF-8. An unknown name returns the text unchanged. UTF-8 itself goes through SanitizeUTF8.
std::string CharsetToUTF8(const std::string& text, const std::string& charset);
