#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "catalogue/FeedCommands.h"
#include "catalogue/FeedListCls.h"
#include "platform/SysUtils.h"

// Subscription lists in OPML 1.0 and 2.0, the form every other reader imports and exports.

// A file that is not a subscription list: not well-formed XML, a root other than "opml", or no
// "body".
class EOpmlError : public Exception {
public:
    using Exception::Exception;
};

// "The file is not an OPML subscription list".
extern const char* const kNotOpmlMessage;
// "The file is too large for a subscription list".
extern const char* const kOpmlTooLargeMessage;
// The largest subscription list read: 16 MB, far above the biggest a person keeps, so that a
// wrong file is refused before it is read whole.
constexpr long long kOpmlMaxFileSize = 16LL * 1024 * 1024;

// One outline of a subscription list as the catalogue will take it: a feed when URL is not
// empty, else a folder with its children.
struct TOpmlOutline {
    std::string Name;
    // The address normalised (TUrl::Text()); the trimmed text as written when BadAddress is set.
    std::string URL;
    // Whether the address is not one the reader can fetch (ParseURL: another scheme, a line break
    // inside it, no host). Such a feed is not imported; the import counts it.
    bool BadAddress = false;
    std::vector<TOpmlOutline> Children;
};

// The outlines of an OPML text, in file order. An outline with an "xmlUrl" is a feed named by
// its "title", else its "text", else the host of its address (names trimmed, the address
// normalised or marked BadAddress); one
// without an address is a folder when it has children that are kept, and is skipped otherwise.
// Outlines inside a feed's outline become its siblings. Attribute names are compared without
// regard to case. UTF-8, UTF-16 and any encoding the XML declaration names that iconv knows.
// Raises EOpmlError with kNotOpmlMessage for a text that is not a subscription list.
std::vector<TOpmlOutline> ParseOpml(std::string_view text);
// ParseOpml of a whole file; "Cannot open file %s" when it cannot be read, and EOpmlError with
// kOpmlTooLargeMessage, before anything is read, for a file above kOpmlMaxFileSize.
std::vector<TOpmlOutline> LoadOpmlFile(const std::string& path);

// What an import added: the new entries as a tree (the folders with their new children) and
// their numbers.
struct TOpmlImport {
    std::vector<TFeedTreeEntry> Added;
    int Feeds = 0;
    int Folders = 0;
    // Feeds left out because their address is not one the reader can fetch.
    int BadAddresses = 0;
};

// Adds the outlines below the folder parentId, each folder before its children, with
// AggInclude set and ShowAuthor clear. A feed whose address some entry of the catalogue already
// has (the same text or the same normalised address; an earlier outline of the same list counts)
// is not added, nor one marked BadAddress, and a folder is added only when something inside it is.
TOpmlImport ImportOpml(TFeedList& feeds, const std::string& parentId,
                       const std::vector<TOpmlOutline>& outlines);

// "Imported 3 feeds and 1 folder": the status text after an import; ", 2 feeds skipped (not
// http or https addresses)" follows when feeds were left out for their address.
std::string OpmlImportSummary(const TOpmlImport& import);

// "Exported 1 feed": the status text after an export of that many feeds.
std::string OpmlExportSummary(int feeds);

// An OPML 2.0 document in UTF-8 of every entry below the folder parentId ("root" for all):
// folders as nested outlines with "text" and "title", feeds with type "rss", "text", "title" and
// "xmlUrl". title goes into the head. Texts that are not valid UTF-8 get U+FFFD in their place.
std::string OpmlText(const TFeedList& feeds, const std::string& parentId, const std::string& title);
// Writes OpmlText to path atomically (a temporary file, then a rename); the number of feeds
// written. Raises "Cannot create file %s" with path, leaving any old file as it was.
int ExportOpml(const TFeedList& feeds, const std::string& parentId, const std::string& title,
               const std::string& path);
