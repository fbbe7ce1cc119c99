#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/FeedListCls.h"

// The rules of the tree commands (fill, order, rename, move, delete, edit, dropped addresses and
// the LiveJournal correction) on the catalogue alone, so that they are tested without a window.

// One entry of the tree that the catalogue forms below "root", with its children in catalogue
// order. Only folders get children.
struct TFeedTreeEntry {
    TFeedListItem* Item = nullptr;
    std::vector<TFeedTreeEntry> Children;
};

// The entries below parentId, folders with their own children, in catalogue order. Entries whose
// ParentID names no folder reachable from parentId are left out. Each entry appears at most once,
// so a file whose identifiers repeat or name each other in a circle still gives a finite tree.
std::vector<TFeedTreeEntry> BuildFeedTree(const TFeedList& feeds, const std::string& parentId = "root");

// Every descendant of entry, deepest first: for each child in order, its own descendants, then
// the child itself.
std::vector<TFeedListItem*> DescendantsDeepestFirst(const TFeedTreeEntry& entry);

// The order of two sibling nodes by their image index (0 folder, 1 feed, 2 failed feed) and
// text: negative when the first goes first. Feeds go before folders; within one image, names
// compare with ASCII letters folded and other bytes by value. Images 1 and 2 of unequal texts
// compare as equal.
int CompareFeedNodes(int imageIndex1, std::string_view text1, int imageIndex2, std::string_view text2);

// Whether text may become a name: anything but the empty or blank text (codes 0 to 32 only).
bool IsAcceptableName(std::string_view text);

// Whether a dropped text is taken as a feed address: it names the scheme http, https or feed
// ("feed://h/x", "feed:https://h/x"), in any letter case, and parses as an address (ParseURL;
// blanks around it are trimmed). Text without a scheme ("example.com") is not, so that a dropped
// word never becomes an address.
bool IsDroppedFeedURL(std::string_view text);

// The form in which an address entering through the dialog, a drop, a subscription list or a
// found feed link is stored: TUrl::Text() of ParseURL(url), so "feed:https://h/x" becomes
// "https://h/x", " HTTP://H/a b" becomes "http://h/a%20b" and "example.com/rss" becomes
// "http://example.com/rss". "" when url does not parse.
std::string NormalizeFeedURL(std::string_view url);

// Deletes entry together with descendantsDeepestFirst (in that order, before entry itself),
// calling beforeRelease for each just before it is released. Only when entry is a feed is its
// own cache file deleted; the cache files of feeds inside a deleted folder stay.
void DeleteFeedEntries(TFeedList& feeds, TFeedListItem& entry,
                       const std::vector<TFeedListItem*>& descendantsDeepestFirst,
                       const std::function<void(const TFeedListItem&)>& beforeRelease);

// Takes the four values of the feed dialog into item. When url differs from the item's FeedURL
// (case-sensitive), the feed's cache file is deleted first, so that the next refresh downloads
// the new address; returns whether it differed. The dates are left as they are.
bool ApplyFeedProperties(TFeedListItem& item, const std::string& name, const std::string& url,
                         bool aggInclude, bool showAuthor);

// Whether url is a LiveJournal blog address that is not yet a feed address: it parses, its host
// contains "livejournal" and the whole address does not contain "/data/", both in any letter case.
bool NeedsLiveJournalCorrection(const std::string& url);

// The feed address of a LiveJournal blog: "/" appended unless url ends with one, then
// "data/rss/".
std::string LiveJournalFeedURL(const std::string& url);
