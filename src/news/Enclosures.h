#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "news/FeedLayout.h"
#include "news/NewsTypeCls.h"
#include "xml/XMLNode.h"

// An item's files and pictures: podcast enclosures, Atom enclosure links and Media RSS, read from
// the item's element, and the words and markup the page shows them with.

// Makes an address read from a document absolute, as the feed's item links are.
using TResolveAddress = std::function<std::string(std::string)>;

// Adds to item what its element (of a document whose root FeedRootName gives, with the namespace
// declarations in force inside it) says about files:
// RSS "enclosure" (url, type, length), Atom "link" with rel "enclosure" (href, type, length) and
// Media RSS "media:content" (url, type, fileSize), also inside "media:group", in document order.
// An address that repeats adds nothing but the type or length the first one lacked; an element
// without an address adds nothing; a length that is not a plain count of bytes gives 0.
// Also "media:thumbnail" (the first one's url) into Thumbnail, and "media:description" into a
// Description that holds nothing visible: as HTML when its type is "html", else as escaped text
// whose line breaks stay. Media RSS names count with the prefix "media:" and under whatever prefix
// the document declares for its namespace; an Atom link under Atom's. Attribute values are
// decoded, converted from encoding like item texts, trimmed and made absolute with resolve.
void ReadItemMedia(TNewsItem& item, const TXMLNode& element, const TNamespaceScope& scope,
                   std::string_view root, const std::string& encoding, const TResolveAddress& resolve);

// What the page calls a file: its kind from the MIME type's major part (Audio, Video, Image, else
// File; without a type, from the address's file extension), then in brackets the type's common
// name in capitals and the size in KB, MB or GB of 1024 with one decimal (bytes below 1 KB),
// each left out when unknown: "Audio (MP3, 23.4 MB)", "Video (MP4)", "File".
std::string EnclosureLabel(const TEnclosure& enclosure);

// The size as EnclosureLabel writes it: "812 bytes", "1.5 KB", "23.4 MB", "2.0 GB".
std::string FileSizeText(long long bytes);

// The item's files as the page lists them: <ul class="enclosures"> with one link per file whose
// address the page may use (SafePageURL against baseURL), labelled by EnclosureLabel; "" when no
// file qualifies.
std::string EnclosuresHtml(const std::vector<TEnclosure>& enclosures, const std::string& baseURL);
