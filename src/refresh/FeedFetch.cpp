#include "refresh/FeedFetch.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <vector>

#include "cache/CacheFiles.h"
#include "dates/NewsDates.h"
#include "platform/Base64.h"
#include "platform/Files.h"
#include "platform/ProductName.h"
#include "platform/TimeZone.h"
#include "url/Url.h"

namespace {

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// What makes two exchanges the same request: everything but the credentials and the fragment.
std::string RequestKey(const TUrl& url) {
    return url.Scheme + "://" + url.HostHeader() + url.PathAndQuery;
}

// Ends the work on a feed of a stopped refresh; nothing of that feed is kept.
class ERefreshCancelled : public Exception {
public:
    ERefreshCancelled() : Exception("The refresh was stopped") {}
};

void FetchInto(TFeedOutcome& outcome, THTTPClient& client, bool force, const std::function<bool()>& cancelled,
               const std::function<void()>& downloading) {
    TRefreshFeed& feed = outcome.Feed;
    // Nothing of a feed whose address cannot be fetched changes but its error.
    const TUrl url = ParseFeedURL(feed.FeedURL);
    const TDownloadNeed need = NeedsDownload(feed, force, Now());
    if (need == dnNone)
        return;
    if (downloading)
        downloading();
    const auto checkNotCancelled = [&cancelled] {
        if (cancelled && cancelled())
            throw ERefreshCancelled();
    };
    client.Method = "GET";
    SetConditions(client, feed, need == dnConditional);
    FetchFollowingRedirects(client, url, checkNotCancelled);
    checkNotCancelled();
    client.Disconnect();
    const int status = client.StatusCode;
    // 304: the cached document is still the server's; nothing of the feed changes.
    if (status == 304)
        return;
    if (!IsSuccessStatus(status))
        throw EHTTPError("The server response is incorrect");
    std::string hash = DocumentHash(client.Content);
    // Most feeds are unchanged from one refresh to the next: the same bytes need no new file.
    if (!feed.Cached || hash != feed.Hash)
        outcome.TemporaryFile =
            WriteTemporaryFile(CacheFileName(feed.FeedID), client.Content, false, faOwnerOnly);
    outcome.Downloaded = true;
    feed.Hash = std::move(hash);
    try {
        feed.LastModifiedDate = DecodeRfc822Date(client.ResponseHeaders.Values("Last-Modified"));
    } catch (const std::exception&) {
        feed.LastModifiedDate = 0;
    }
    feed.ETag = Trim(client.ResponseHeaders.Values("ETag"));
}

} // namespace

std::string DefaultUserAgent() {
    return std::string(kProductTitle) + "/" + kProductVersion + " (+" + kProductSiteURL + ")";
}

void PrepareFeedSettings(THTTPSettings& settings) {
    settings.Timeout = 5000;
    settings.UserAgent = DefaultUserAgent();
    settings.RequestHeaders.SetValue("Accept-Encoding", "gzip, deflate");
}

void PrepareFeedClient(THTTPClient& client) {
    PrepareFeedSettings(client);
    client.Method = "GET";
}

std::string FormatHttpDate(TDateTime utc) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const double seconds = std::round(DateTimeToUnix(utc));
    // 253402300800 is 10000-01-01: the four digits of the year end there.
    if (!(seconds >= 0 && seconds < 253402300800.0))
        return std::string();
    const time_t unixTime = static_cast<time_t>(seconds);
    struct tm parts {};
    gmtime_r(&unixTime, &parts);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[parts.tm_wday],
                  parts.tm_mday, kMonths[parts.tm_mon], parts.tm_year + 1900, parts.tm_hour, parts.tm_min,
                  parts.tm_sec);
    return text;
}

TUrl RedirectTarget(const TUrl& current, const std::string& location) {
    const std::string reference = Trim(location);
    if (reference.empty())
        throw EHTTPError("The server response is incorrect");
    const std::string next = ResolveURL(current.Text(), reference);
    const std::string scheme = URLScheme(next);
    if (current.Secure() && scheme != "https")
        throw ERedirectError("The server redirects to an insecure address: " + DisplayURL(reference));
    if (scheme != "http" && scheme != "https")
        throw EHTTPError("The server response is incorrect");
    return ParseFeedURL(next);
}

bool SameOrigin(const TUrl& a, const TUrl& b) {
    return a.Scheme == b.Scheme && a.Host == b.Host && a.Port == b.Port;
}

void AimClient(THTTPClient& client, const TUrl& url) {
    client.Disconnect();
    client.Host = url.Host;
    client.Port = url.Port;
    client.Path = url.PathAndQuery;
    client.Secure = url.Secure();
    // Never in plain text: an empty value removes the header a previous address may have left.
    const bool authorize = url.HasCredentials() && url.Secure();
    client.RequestHeaders.SetValue("Authorization",
                                   authorize ? "Basic " + EncodeBase64(url.User + ":" + url.Password) : "");
}

TFetchResult FetchFollowingRedirects(THTTPClient& client, const TUrl& url,
                                     const std::function<void()>& beforeExchange) {
    TFetchResult result;
    result.FinalURL = url;
    std::vector<std::string> asked{RequestKey(url)};
    for (;;) {
        AimClient(client, result.FinalURL);
        if (beforeExchange)
            beforeExchange();
        client.StatusCode = 0;
        client.Execute();
        if (!IsRedirect(client.StatusCode))
            return result;
        TUrl next = RedirectTarget(result.FinalURL, client.ResponseHeaders.Values("Location"));
        // The user gave the credentials to one site: a server cannot pass them on, nor choose
        // others.
        const bool ownSite = SameOrigin(next, url);
        next.User = ownSite ? url.User : std::string();
        next.Password = ownSite ? url.Password : std::string();
        const std::string key = RequestKey(next);
        if (result.Redirects == kMaxRedirects || std::find(asked.begin(), asked.end(), key) != asked.end())
            throw ERedirectError("Too many redirects for " + DisplayURL(url.Text()));
        asked.push_back(key);
        result.FinalURL = next;
        ++result.Redirects;
    }
}

std::string DocumentHash(const std::string& bytes) {
    // FNV-1a, 64 bits.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char byte : bytes) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 1099511628211ull;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%zu:%016llx", bytes.size(), static_cast<unsigned long long>(hash));
    return text;
}

TFeedOutcome FetchFeed(THTTPClient& client, const TRefreshFeed& feed, bool force,
                       const std::function<bool()>& cancelled, const std::function<void()>& downloading) {
    TFeedOutcome outcome;
    outcome.Feed = feed;
    const auto start = std::chrono::steady_clock::now();
    client.StatusCode = 0;
    client.Disconnect();
    try {
        FetchInto(outcome, client, force, cancelled, downloading);
    } catch (const EHTTPError&) {
        outcome.ErrorText = "Unable to open " + DisplayURL(feed.FeedURL);
    } catch (const std::exception& e) {
        outcome.ErrorText = e.what();
    }
    if (!outcome.ErrorText.empty()) {
        // A failure keeps nothing of the download.
        if (!outcome.TemporaryFile.empty())
            DeleteFile(outcome.TemporaryFile);
        outcome.TemporaryFile.clear();
        outcome.Downloaded = false;
    }
    outcome.StatusCode = client.StatusCode;
    // The document is in its file now: the next feed's exchange need not keep it beside its own.
    client.Content = std::string();
    outcome.Milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}
