#pragma once

#include <string>
#include <string_view>

// The text with "&amp;", "&lt;", "&gt;", "&quot;", "&quote;", "&apos;" and "&amp;" again replaced
// one pass after the other, so "&amp;lt;" becomes "<"; numeric references such as "&#39;" stay.
std::string DecodeEntities(std::string_view text);
