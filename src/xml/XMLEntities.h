#pragma once

#include <string>
#include <string_view>

// The text with "&amp;", "&lt;", "&gt;", "&quot;", "&quote;", "&apos;" and "&amp;" again replaced
// one pass after the other, so "&amp;lt;" becomes "<"; numeric references such as "&#39;" stay.
std::string DecodeEntities(std::string_view text);

// DecodeEntities at one "&", for decoders that copy a text in one pass: decodes the reference at
// s (an "&" before end) onto to, advances to, and returns where the text goes on. At most as
// many bytes are written as are read. An "&amp;" counts as "&" before the other references are
// looked for, so "&amp;lt;" gives "<" and "&amp;amp;" gives "&"; one pass suffices because no
// reference holds an "&" after its first byte.
const char* DecodeEntityAt(const char* s, const char* end, char*& to);
