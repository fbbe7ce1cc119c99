#include "refresh/FeedFetch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "platform/ProductName.h"
#include "platform/TimeZone.h"

#include "refresh/CacheFiles.h"
#include "url/Url.h"

namespace {

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Whether the scheme of an address the fetch would go to is one it speaks.
bool IsWebURL(const std::string& url) {
    const size_t colon = url.find("://");
    if (colon == std::string::npos)
        return false;
    const std::string scheme = LowerCaseAscii(url.substr(0, colon));
    return scheme == "http" || scheme == "https";
}

} // namespace

std::string DefaultUserAgent() {
    return std::string(kProductTitle) + "/" + kProductVersion + " (+" + kProductSiteURL + ")";
}

void PrepareFeedClient(THTTPClient& client) {
    client.Timeout = 5000;
    client.UserAgent = DefaultUserAgent();
    client.Method = "GET";
    client.RequestHeaders.SetValue("Accept-Encoding", "gzip, deflate");
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

std::string RedirectTarget(const std::string& current, const std::string& location) {
    if (Trim(location).empty())
        throw EHTTPError("The server response is incorrect");
    const std::string next = ResolveURL(current, location);
    if (IsSecureURL(current) && !IsSecureURL(next))
        throw ERedirectError("The server redirects to an insecure address: " + Trim(location));
    if (!IsWebURL(next))
        throw EHTTPError("The server response is incorrect");
    return next;
}

void AimClient(THTTPClient& client, const std::string& url) {
    client.Disconnect();
    client.Host = ExtractURLHost(url);
    client.Path = ExtractURLPath(url);
    client.Port = ExtractURLPort(url);
    client.Secure = IsSecureURL(url);
}

TFetchResult FetchFollowingRedirects(THTTPClient& client, const std::string& url,
                                     const std::function<void()>& beforeExchange) {
    TFetchResult result;
    result.FinalURL = url;
    std::vector<std::string> asked{url};
    for (;;) {
        AimClient(client, result.FinalURL);
        if (beforeExchange)
            beforeExchange();
        client.StatusCode = 0;
        client.Execute();
        if (!IsRedirect(client.StatusCode))
            return result;
        const std::string next = RedirectTarget(result.FinalURL, client.ResponseHeaders.Values("Location"));
        if (result.Redirects == kMaxRedirects || std::find(asked.begin(), asked.end(), next) != asked.end())
            throw ERedirectError("Too many redirects for " + url);
        asked.push_back(next);
        result.FinalURL = next;
        ++result.Redirects;
    }
}
