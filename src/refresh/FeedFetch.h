#pragma once

#include <functional>
#include <string>

#include "net/HTTPClient.h"
#include "platform/SysUtils.h"
#include "refresh/Freshness.h"
#include "url/Url.h"

// A redirect the refresh will not follow. Not an EHTTPError, so that its own message becomes
// the feed's error text rather than "Unable to open ".
class ERedirectError : public Exception {
public:
    using Exception::Exception;
};

// How the refresh names itself to servers, many of which refuse a request without a User-Agent:
// "<title>/<version> (+<site>)", "Tovel RSS Reader/1.00 (+https://tovelsoft.example/)".
std::string DefaultUserAgent();

// Sets settings up as every fetch of a feed or page does: 5000 ms to connect, DefaultUserAgent(),
// gzip and deflate accepted. The other settings stay.
void PrepareFeedSettings(THTTPSettings& settings);
// PrepareFeedSettings for client, and GET.
void PrepareFeedClient(THTTPClient& client);

// A UTC date-time as an HTTP date, "Sun, 06 Nov 1994 08:49:37 GMT" (RFC 1123, English names,
// rounded to the second); "" for a value before 1970 or past year 9999.
std::string FormatHttpDate(TDateTime utc);

// The most redirects one fetch follows; the next one fails with "Too many redirects for ".
constexpr int kMaxRedirects = 5;

// Disconnects client and aims it at url: Host, Port, Secure, and Path := url's PathAndQuery (the
// fragment is never sent). url's credentials, when it has any and is secure, go into the request
// headers as "Authorization: Basic " + base64(User ":" Password); otherwise any Authorization
// header is removed.
void AimClient(THTTPClient& client, const TUrl& url);

// The address a redirect from current to location leads to: location resolved against current
// and parsed as a feed's address is (ParseFeedURL, whose EURLError it raises). Raises
// ERedirectError "The server redirects to an insecure address: " + DisplayURL(location, trimmed)
// when current is https and the target is not; EHTTPError "The server response is incorrect"
// for an empty location or a target whose scheme is neither http nor https.
TUrl RedirectTarget(const TUrl& current, const std::string& location);

// Whether two addresses name the same site: scheme, host and port.
bool SameOrigin(const TUrl& a, const TUrl& b);

// What a fetch ended with, besides the client's own results of its last exchange.
struct TFetchResult {
    // The address of the last exchange: url itself when no redirect was followed. It carries
    // url's credentials only when it is on url's own site.
    TUrl FinalURL;
    // Redirects followed.
    int Redirects = 0;
};

// One request of url with client as the caller set it up (Method, RequestHeaders, UserAgent,
// Timeout), following 301, 302, 303, 307 and 308 answers to their Location, absolute or relative
// to the address just asked, at most kMaxRedirects times. Every hop keeps the method and request
// headers and aims the client anew (AimClient); beforeExchange runs before each exchange and may
// raise to end the fetch. url's credentials (secure, as ParseFeedURL leaves them) go to every hop
// on url's own site (SameOrigin) and to no other; those a Location writes are never used. http
// to https is followed; a redirect from https to any other scheme raises ERedirectError "The
// server redirects to an insecure address: " + Location; a sixth redirect, or one back to an
// address already asked, raises ERedirectError "Too many redirects for " + DisplayURL of url. A
// redirect without a Location, or to a scheme other than http and https, raises EHTTPError "The
// server response is incorrect"; one to an address that does not parse, EURLError. The client's
// StatusCode is 0 before each exchange, so after a failure it tells whether the server
// answered. Errors of the client itself propagate.
TFetchResult FetchFollowingRedirects(THTTPClient& client, const TUrl& url,
                                     const std::function<void()>& beforeExchange = {});

// The result of one feed, handed to the user-interface thread: the copy's dates, tag and hash as
// the rule and the download left them, the error text ("" after success) and the downloaded
// document in a temporary file beside the cache file ("" when nothing was downloaded or the
// cached document has the same bytes).
struct TFeedOutcome {
    TRefreshFeed Feed;
    std::string ErrorText;
    std::string TemporaryFile;
    // A whole document arrived and stands for the cache file (also when its bytes are those the
    // file holds already); its LastModifiedDate, ETag and Hash then replace the stored ones.
    bool Downloaded = false;
    // The status of the feed's last exchange (304 for an unchanged document); 0 when no request
    // was made or none was answered.
    int StatusCode = 0;
    // Wall-clock time spent on the feed, status texts included.
    double Milliseconds = 0;
};

// What identifies a document's bytes: their length and a 64-bit hash of them, as text.
std::string DocumentHash(const std::string& bytes);

// One feed of a refresh, with client (its settings as the caller set them): the freshness rule
// at Now() (NeedsDownload with force) and, when it asks for a request, downloading() and one GET
// of the feed's address following redirects (FetchFollowingRedirects), conditional when the rule
// says so. Reads no file: what the rule needs of the cache is in feed. An address that does not
// parse fails before anything else, so that no request is made and the dates stay as they were.
// 304 leaves everything as it was. A document (2xx) marks the outcome Downloaded, sets Hash,
// LastModifiedDate from "Last-Modified" (0 when missing) and ETag from "ETag" ("" when missing),
// and goes into a temporary file beside the cache file unless feed is Cached with the same Hash;
// any other status fails. A failure becomes ErrorText: "Unable to open " + the address as
// DisplayURL shows it for an EHTTPError, else the error's message; the outcome then has no
// temporary file. cancelled, when given, is asked before each exchange and after the last one:
// true fails the feed with "The refresh was stopped". Errors that are not std::exception
// propagate. StatusCode is the last exchange's (0 for none).
TFeedOutcome FetchFeed(THTTPClient& client, const TRefreshFeed& feed, bool force,
                       const std::function<bool()>& cancelled = {},
                       const std::function<void()>& downloading = {});
