// The freshness rule of the refresh: whether a feed's document must be downloaded again.
#include "refresh/Freshness.h"

#include <cmath>

#include "refresh/FeedFetch.h"

namespace {

// Minimum interval between two checks of a feed.
constexpr double kMinCheckIntervalMs = 10 * 60 * 1000;

// Milliseconds from earlier to later, rounded, so that day fractions that cannot hold 600 s
// exactly still compare right at the boundaries.
double MillisecondsBetween(TDateTime earlier, TDateTime later) {
    return std::round((later - earlier) * 86400000.0);
}

} // namespace

TDownloadNeed NeedsDownload(TRefreshFeed& feed, bool force, TDateTime now) {
    if (force) {
        feed.RefreshDate = now;
        return dnWhole;
    }
    if (!feed.Cached)
        return dnWhole;
    // A RefreshDate in the future (the clock was set back) keeps the feed skipped.
    if (MillisecondsBetween(feed.RefreshDate, now) < kMinCheckIntervalMs)
        return dnNone;
    feed.RefreshDate = now;
    // Without a validator the server cannot tell whether the cached document is current.
    if (feed.LastModifiedDate == 0 && feed.ETag.empty())
        return dnWhole;
    return dnConditional;
}

void SetConditions(THTTPSettings& settings, const TRefreshFeed& feed, bool conditional) {
    // An empty value removes the header: a whole download must not be answered with 304.
    const bool dated = conditional && feed.LastModifiedDate != 0;
    settings.RequestHeaders.SetValue("If-Modified-Since", dated ? FormatHttpDate(feed.LastModifiedDate) : "");
    settings.RequestHeaders.SetValue("If-None-Match", conditional ? feed.ETag : "");
}
