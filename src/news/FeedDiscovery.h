#pragma once

#include <string>
#include <string_view>
#include <vector>

// Finding the feed behind a web page's address: the feeds a page names in its head, and whether
// a fetched body is a feed itself.

// One feed that a page names with <link rel="alternate" type=... href=... title=...>.
struct TDiscoveredFeed {
    // The link's title, entities decoded, as UTF-8, trimmed; "" when it has none.
    std::string Title;
    // The href resolved against the page's address (or its <base href>), normalised
    // (TUrl::Text()); always an http or https address.
    std::string URL;
    // "application/rss+xml", "application/atom+xml", "application/rdf+xml",
    // "application/feed+json" or "application/json".
    std::string Type;
};

// The feeds named by the <link> elements of an HTML page's head, in document order, each
// address once (the first link wins); links that do not resolve to an http or https address
// (ParseURL; "feed:" forms count as the addresses they stand for) are left out. A link counts when its rel
// lists "alternate" among its space-separated words and its type is one of the four feed types (letter case
// and parameters after ";" ignored), or application/json with "feed" in its href or title (JSON Feed 1.0's
// announcement, told apart from a blog's content API). Tag and attribute names in any letter case,
// attributes in any order, values double-quoted, single-quoted or bare; entities in values decoded. A
// relative href is resolved against pageURL, or against the page's first <base href> (itself resolved against
// pageURL) when there is one. The scan stops at </head> or <body>; comments and the content of script and
// style elements are skipped. charset is the one the server named (Content-Type); "" lets a <meta charset> or
// http-equiv declaration of the page decide, else titles are read as UTF-8.
std::vector<TDiscoveredFeed> FindFeedLinks(std::string_view html, const std::string& pageURL,
                                           const std::string& charset = std::string());

// Whether body is a feed as the news reader recognises one (a root rss, rdf:RDF or feed
// element, or a JSON Feed). When it is and title is given, *title receives the feed's own title
// (the channel's title, or the Atom or JSON feed's), entities decoded, as UTF-8, trimmed; "" when
// it has none.
bool IsFeedDocument(const std::string& body, std::string* title = nullptr);

// The text of an HTML attribute value with its character references replaced in one pass:
// "&#NN;" and "&#xHH;" (the ";" may be missing before a character that cannot continue the
// number), the five of XML and the named ones that page titles use most ("&raquo;", "&nbsp;",
// "&ndash;", ...). Unknown or malformed references stay as written.
std::string DecodeHtmlReferences(std::string_view text);
