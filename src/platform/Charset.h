#pragma once

#include <string>
#include <string_view>

// The text as valid UTF-8: each byte that does not begin a well-formed sequence (overlong forms,
// surrogates and code points above U+10FFFF included) becomes U+FFFD; valid text is returned as
// is. The program's one UTF-8 check: whatever must be valid UTF-8 goes through here.
std::string SanitizeUTF8(std::string text);

// True when iconv can convert from the named character set to UTF-8 ("windows-1251", "koi8-r",
// "iso-8859-1", ...); names are compared without regard to case; false for the empty name.
bool IsKnownCharset(const std::string& charset);

// The text converted from the named character set to UTF-8. A byte that the character set does
// not define (for UTF-16 and UTF-32 a whole code unit: a lone surrogate, a value above U+10FFFF),
// or an incomplete sequence at the end, becomes U+FFFD; the result is always valid
// UTF-8. An unknown name returns the text unchanged. UTF-8 itself goes through SanitizeUTF8.
std::string CharsetToUTF8(const std::string& text, const std::string& charset);

// The charset parameter of a Content-Type value ("text/html; Charset='koi8-r'" gives "koi8-r"),
// lower-cased, its quotes (double or single) and surrounding blanks removed; "" when the value
// names none. Parameters are split at ";" and named without regard to case.
std::string CharsetParameter(std::string_view contentType);
