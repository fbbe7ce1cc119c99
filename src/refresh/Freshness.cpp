// The freshness rule of the refresh: whether a feed's document must be downloaded again.
#include <cmath>

#include "news/NewsDates.h"
#include "platform/Files.h"
#include "platform/TimeZone.h"
#include "refresh/CacheFiles.h"
#include "refresh/FeedsRefresh.h"

std::atomic<bool> ForceRefresh{false};

namespace {

// Minimum interval between two checks of a feed, and the Last-Modified tolerance.
constexpr double kMinCheckIntervalMs = 10 * 60 * 1000;
constexpr double kLastModifiedToleranceMs = 1000;
// What a failed or date-less HEAD answer counts as: older than any real document.
constexpr TDateTime kNoHeadDate = 1.0;

// Milliseconds from earlier to later, rounded, so that day fractions that cannot hold 600 s
// exactly still compare right at the boundaries.
double MillisecondsBetween(TDateTime earlier, TDateTime later) {
    return std::round((later - earlier) * 86400000.0);
}

} // namespace

bool TFeedsRefresher::NeedsDownload(TRefreshFeed& feed) {
    if (FForce) {
        feed.RefreshDate = Now();
        return true;
    }
    if (!FileExists(CacheFileName(feed.FeedID)))
        return true;
    const TDateTime now = Now();
    // A RefreshDate in the future (the clock was set back) keeps the feed skipped.
    if (MillisecondsBetween(feed.RefreshDate, now) < kMinCheckIntervalMs)
        return false;
    feed.RefreshDate = now;
    if (feed.LastModifiedDate == 0)
        return true;
    const TDateTime serverDate = HeadLastModified();
    return MillisecondsBetween(feed.LastModifiedDate, serverDate) >= kLastModifiedToleranceMs;
}

TDateTime TFeedsRefresher::HeadLastModified() {
    try {
        Client.Method = "HEAD";
        CheckNotCancelled();
        Client.Execute();
        const TDateTime date = DecodeRfc822Date(Client.ResponseHeaders.Values("Last-Modified"));
        return date == 0 ? kNoHeadDate : date;
    } catch (const std::exception&) {
        // A refused, failed or malformed probe counts as "unchanged": the cached file is kept.
        return kNoHeadDate;
    }
}
