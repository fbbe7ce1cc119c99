#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/FeedListCls.h"
#include "platform/SysUtils.h"
#include "xml/XMLNode.h"

// A file an item offers beside its text: a podcast's audio, a video, a document.
struct TEnclosure {
    // As the document gives it, made absolute against the feed's address like an item link.
    std::string URL;
    // The MIME type the document declares ("audio/mpeg"); "" when it gives none.
    std::string Type;
    // In bytes; 0 when the document gives no usable length.
    long long Length = 0;
};

// One news item of the current view. Texts are UTF-8 except Link, which is kept as the
// document stores it.
class TNewsItem {
public:
    // The catalogue entry the item came from; not owned.
    TFeedListItem* Feed = nullptr;
    std::string Title;
    // An HTML fragment, shown on the page as it is.
    std::string Description;
    std::string Link;
    // Empty for Atom entries.
    std::string Author;
    // UTC; 0 when the item has no date or its date could not be decoded.
    TDateTime Date = 0;
    // What keeps the item the same within its feed from one download to the next (ItemIdentity).
    std::string Id;
    // Whether the user has not read the item yet; the window sets it before a render.
    bool Unread = false;
    // The item's files, in document order, without repeats.
    std::vector<TEnclosure> Enclosures;
    // The address of a picture that stands for the item (Media RSS thumbnail); "" when none.
    std::string Thumbnail;
};

// The news filter's entry that shows the unread items of any age; the entries before it are the
// age limits of the news dates.
constexpr int kUnreadFilter = 6;

// The text as UTF-8 from a document that declared the (lower-cased) encoding: "utf-8" and the
// empty name (no declaration; XML's default) give the text with invalid sequences replaced by
// U+FFFD; another charset that iconv knows is converted; an unknown name returns the text as is.
std::string ConvertCharset(std::string text, const std::string& encoding);

// The character set of a document whose code units are wider than a byte, told by its first
// bytes as XML's appendix on encoding detection does: a byte-order mark, or a first "<" written
// as a 16- or 32-bit unit ("UTF-32LE", "UTF-32BE", "UTF-16LE", "UTF-16BE"); "" for
// byte-oriented documents. UTF-32 goes first, since its little-endian mark and its "<" begin
// like those of UTF-16.
std::string WideCharset(std::string_view text);

// Reads a feed document's text into document as the renderer does: a UTF-16 or UTF-32 document
// (told by WideCharset) as its UTF-8 form. Returns that wide charset, "" for any other document.
std::string LoadFeedText(TXMLNode& document, std::string text);

// The feed's address as the relative links of its items resolve against: parsed as it is
// fetched, without its credentials; "" when it does not parse.
std::string FeedBaseURL(const TFeedListItem& feed);

// An item's link (or another address it gives) made absolute against the feed's address
// (FeedBaseURL) when it is relative ("/2024/post", "post.html", "//host/x"); an absolute or empty
// one stays byte for byte, and so does every one of a feed without an address.
std::string ResolveItemLink(std::string link, const TFeedListItem& feed);

// The root element that makes a loaded document a feed, as the reader recognises it: "rss",
// "rdf:rdf" or "feed" (looked up in that order, letter case ignored); "" for any other document.
std::string FeedRootName(const TXMLNode& document);

// The news renderer: the items of the current view, read from the marked feeds' cache files,
// and the page "gen.html" written from them through the templates.
class TNewsType {
public:
    // The renderer reads its feeds from the given catalogue, which must outlive it. PagePath is
    // fixed here from the program folder.
    explicit TNewsType(TFeedList& feeds);
    ~TNewsType();
    TNewsType(const TNewsType&) = delete;
    TNewsType& operator=(const TNewsType&) = delete;

    // Owned items, in insertion order until SortItems runs.
    std::vector<std::unique_ptr<TNewsItem>> NewsItems;
    // The last document read; reloaded for every feed.
    TXMLNode Document;
    // The encoding of the last document read, lower-cased; empty when it had no declaration or
    // its declaration named none (read as UTF-8).
    std::string EncodingName;
    // DataFolder() + "gen.html".
    std::string PagePath;

    // Releases every item (and forgets the rendered ones).
    void ClearItems();
    // A new empty item appended at the end of NewsItems.
    TNewsItem* AddItem();
    // The number of items.
    int ItemCount() const { return static_cast<int>(NewsItems.size()); }
    // The item at a 0-based index; raises EListError "List index out of bounds (%d)" outside.
    TNewsItem* Item(int index) const;
    // Releases every item of one catalogue entry; called before the entry itself is released,
    // so that no item refers to it afterwards. Other items keep their order.
    void DropFeedItems(const TFeedListItem* feed);

    // Appends the items of the feed's cache file. A feed without a cache file adds nothing and
    // raises nothing; "Cannot open file %s" for an unreadable one; "The server returns data
    // that has an unknown format." for a root other than rss, rdf:rdf or feed.
    void LoadFeed(TFeedListItem& feed);
    // As LoadFeed, with the document text given instead of read from the cache file. UTF-16 and
    // UTF-32 documents, little or big endian (told by a byte-order mark, or by the zero bytes
    // around a first "<"), are read as UTF-8; a code unit that is no character becomes U+FFFD.
    // A text that opens with "{" is read as a JSON Feed (ReadJsonFeed).
    void LoadFeedFromString(TFeedListItem& feed, std::string text);
    // The extractors over Document; each appends the items it finds. ReadRss raises
    // 'The "channel" node is not found' when the rss element has no channel. Common dialects
    // stand in only for a missing standard element: RSS content:encoded for description and
    // dc:creator for author, Atom summary for content and updated for published. The Atom link
    // is the first one whose rel is "alternate" or absent, else the first. A relative item link
    // is resolved against the feed's FeedURL; an absolute one is kept byte for byte.
    void ReadRss(TFeedListItem& feed);
    void ReadRdf(TFeedListItem& feed);
    void ReadAtom(TFeedListItem& feed);

    // Clears the items, loads every marked entry of the catalogue (flat, folders included),
    // stores each failure's message in that entry's ErrorText and goes on, then sorts.
    // ErrorText of entries that load is left as it was. A failing entry also loses its
    // LastModifiedDate (set to 0) and its stored ETag, so that the next check downloads its
    // document again rather than keeping the unusable one.
    void LoadMarkedFeeds();
    // Newest first; undated items go after every item dated after 1899-12-30. Equal dates do not
    // keep their order (five undated items a..e come out d, e, c, a, b).
    void SortItems();

    // Writes the page to PagePath: top, each item passing the filter through the item template
    // (or the no-news line with filterCaption), bottom. The filter is an age limit of the news
    // dates, or kUnreadFilter: the items with Unread set, whatever their age. Each item's chunk is
    // wrapped in <div data-item="K" data-key="...">...</div>, K its place among the items shown
    // (from 0, the order of RenderedItems), the key 16 hex digits that stand for its feed and its
    // identity, so that the view can find the items in the page, and an item again in a new page. The item template
    // is filled in one pass: "{author}", "{title}", "{description}", "{date}", "{link}",
    // "{unread}" ("unread" for an unread item, else nothing) and "{enclosures}" (the item's files,
    // EnclosuresHtml; nothing without them) take their values (letter case
    // counts), any other "{...}" stays, and a value put in is never read again, so a title
    // holding "{description}" shows those letters. Each value is made safe for where it lands:
    // the feed name and author, and the date, escaped as text; the title through CleanTitleHtml;
    // the description through PrepareDescription, with the item's Thumbnail above it when
    // pictures are shown and the cleaned description shows no picture of its own; the link
    // escaped for an attribute, and empty unless it is an absolute http, https or mailto address.
    // The page is made in memory and replaces the old one whole (a temporary file beside it,
    // renamed), so the view never reads half a page. A missing "item.html" raises
    // "Cannot open file %s" before the page is touched; a missing "top.html" leaves it empty and a
    // missing "bottom.html" leaves it without its end. "Cannot create file %s" when the page
    // cannot be written; the old page then stays.
    void RenderPage(int filterIndex, const std::string& filterCaption, bool picturesShown);
    // The items of the last page RenderPage wrote, in page order: the item with data-item K is
    // RenderedItems()[K]. Empty after an error page, and emptied whenever items are released.
    const std::vector<const TNewsItem*>& RenderedItems() const { return FRendered; }
    // Replaces the page at PagePath, as RenderPage does, with the error page for errorText, whose
    // &, <, >, " and ' are escaped; raises "Cannot create file %s" when it cannot.
    void WriteErrorPage(const std::string& errorText);
    // The bytes of TemplateFolder() + fileName, read anew at every call; raises
    // EFOpenError "Cannot open file %s" with the full path.
    static std::string LoadTemplate(const std::string& fileName);
    // A description as the page shows it: CleanDescriptionHtml, relative addresses resolved
    // against baseURL (the item's link, else its feed's address; none resolve when it is empty).
    static std::string PrepareDescription(const std::string& description, bool picturesShown,
                                          const std::string& baseURL = std::string());
    // The address the item's relative addresses resolve against: its link when that is an
    // absolute http or https address, else its feed's address.
    static std::string ItemBaseURL(const TNewsItem& item);

private:
    // Recognises the format of the Document just read and runs its extractor.
    void ReadDocument(TFeedListItem& feed);

    TFeedList& FFeeds;
    std::vector<const TNewsItem*> FRendered;
};
