#pragma once

#include <string>
#include <string_view>

// The text of an item element as the news shows it: entity references decoded as DecodeEntities
// does and the result through ConvertCharset with the document's encoding. For UTF-8 documents
// (encoding "utf-8" or empty) valid text takes a single pass that decodes and checks at once;
// text with an invalid sequence gives the same U+FFFD replacements as the two steps apart.
std::string DecodeItemText(std::string_view raw, const std::string& encoding);
