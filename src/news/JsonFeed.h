#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "catalogue/FeedListCls.h"
#include "news/NewsTypeCls.h"

// JSON Feed, versions 1 and 1.1: a feed written as one JSON object whose "version" names the
// format and whose "items" hold the news.

// Whether text opens as a JSON object: its first byte after JSON's blanks (and a UTF-8 byte-order
// mark) is "{". An XML document never does, so the test is all it costs to read one.
bool IsJsonText(std::string_view text);

// One JSON Feed document as read, before its addresses are resolved against a feed's.
struct TJsonFeed {
    // The feed's own title, as UTF-8; "" when it has none.
    std::string Title;
    // Each item's fields as the news view shows them (Feed not set). Link, each enclosure's URL
    // and Thumbnail stay as the document writes them; Id is the item's identity (ItemIdentity.h).
    std::vector<TNewsItem> Items;
};

// Reads text as a JSON Feed: an object whose "version" begins with
// "https://jsonfeed.org/version/1" (or "http://"), followed by nothing or by ".minor". Bytes that
// are no UTF-8 become U+FFFD first. Raises "The server returns data that has an unknown
// format." for a text that is no JSON, JSON nested deeper than 512 levels, and JSON that is no
// JSON Feed. Per item: the description is content_html, else content_text, else summary (both
// of them plain text, escaped, their line breaks kept as <br>); the date is date_published, else
// date_modified (RFC 3339, or RFC 822 as some feeds write it); the link is url, else
// external_url; the author is the names of "authors" (1.1) joined with ", ", else the name of
// "author" (1.0), else the feed's own; "attachments" are the enclosures (url, mime_type,
// size_in_bytes; each address once); "image" is the thumbnail. Fields of the wrong JSON type
// count as missing; items that are no objects are skipped.
TJsonFeed ParseJsonFeed(std::string text);

// Appends the items of a JSON Feed document to news as a feed's items, with their links,
// enclosures and thumbnails resolved against the feed's address as item links are. Document and
// EncodingName are cleared: the document is no XML. Raises as ParseJsonFeed.
void ReadJsonFeed(TNewsType& news, TFeedListItem& feed, std::string text);

// The identities of the items of a JSON Feed document, in document order. Raises as
// ParseJsonFeed.
std::vector<std::string> JsonFeedItemIds(std::string text);
