#pragma once

#include <memory>
#include <string>
#include <vector>

#include "catalogue/FeedListCls.h"

namespace detail {

using TFeedEntries = std::vector<std::unique_ptr<TFeedListItem>>;

// The message of every file that cannot be understood.
extern const char* const kFeedsFileCorrupted;

// A date-time as the nearest decimal of at most 15 significant digits with "." whatever the
// locale; exponent form ("1.5E-5", "1E15") when the first digit lies 5 or more places after the
// point or there would be more than 15 digits before it.
std::string FeedsNumberText(double value);

// A text as apostrophe runs and #code pieces; texts longer than 64 characters start on a new line
// at deeperIndent and are cut into 64-character lines joined by " +". The empty text is "''".
std::string FeedsStringText(const std::string& s, const std::string& deeperIndent);
// As FeedsStringText, appending to out.
void AppendFeedsString(std::string& out, const std::string& s, const std::string& deeperIndent);

// The whole file text for the entries, lines ended by CR LF.
std::string FeedsFileText(const TFeedEntries& items);

// The entries of a file text; raises "The feeds file is corrupted" for anything it cannot
// understand. Text after the final "end" is ignored.
TFeedEntries ParseFeedsText(const std::string& text);

// Reads and parses the file; "Cannot open file %s" when it cannot be read.
TFeedEntries LoadFeedsFile(const std::string& path);

// Replaces the file via a temporary file and a rename; "Cannot create file %s" with path.
void SaveFeedsFile(const std::string& path, const TFeedEntries& items);

} // namespace detail
