#pragma once

#include <string>
#include <string_view>

// The bytes base64 text stands for (RFC 4648's alphabet, "+" and "/"). Blanks and line breaks
// anywhere are skipped, as MIME writes the text in lines; the text ends at the first "=" or at a
// character outside the alphabet, and a final group of 2 or 3 characters gives its 1 or 2 bytes
// with or without padding. A lone character left over adds nothing.
std::string DecodeBase64(std::string_view text);

// bytes as base64 text with padding, in one line (as Basic authorization writes them).
std::string EncodeBase64(std::string_view bytes);
