#pragma once

#include <string>

#include "net/HTTPClient.h"
#include "platform/SysUtils.h"

// What the worker needs of one marked feed: a copy taken on the user-interface thread when the
// refresh starts. The freshness rule updates the copy's dates; a download its tag and hash.
struct TRefreshFeed {
    std::string FeedID;
    std::string FeedURL;
    std::string FeedName;
    TDateTime RefreshDate = 0;
    TDateTime LastModifiedDate = 0;
    // Where the entry stood in the catalogue then: where its outcome looks for it first.
    int Index = -1;
    // The entity tag of the cached document ("" for none), replaced by a download's.
    std::string ETag;
    // Whether the feed has a cache file.
    bool Cached = false;
    // DocumentHash of the cached document; "" while it is not known.
    std::string Hash;
};

// What the freshness rule asks of the refresh for one feed: nothing, the whole document, or the
// document only when it differs from the cached one (a conditional GET).
enum TDownloadNeed { dnNone, dnWhole, dnConditional };

// The freshness rule for feed at the moment now; makes no request and reads no file. dnWhole
// when forced (RefreshDate := now) or when the feed is not Cached (RefreshDate kept); dnNone
// within 10 minutes of RefreshDate (also a RefreshDate in the future); past them RefreshDate :=
// now and dnWhole when neither a LastModifiedDate nor an ETag is stored, else dnConditional.
TDownloadNeed NeedsDownload(TRefreshFeed& feed, bool force, TDateTime now);

// Puts the validators of feed into settings' request headers for a conditional GET:
// "If-Modified-Since" with LastModifiedDate as an HTTP date (none for 0) and "If-None-Match"
// with the ETag (none for ""); with conditional false, removes both. Other headers stay.
void SetConditions(THTTPSettings& settings, const TRefreshFeed& feed, bool conditional);
