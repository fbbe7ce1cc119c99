#pragma once

#include <functional>
#include <string>
#include <vector>

#include "net/HTTPClient.h"
#include "news/FeedDiscovery.h"
#include "platform/Thread.h"
#include "refresh/FeedFetch.h"

// Fetching an address to find the feed behind it: the address may be a feed, or a page that
// names feeds.

// How a look at an address ended.
enum TDiscoveryOutcome {
    // The address answers with a feed: it is to be stored as it is.
    doIsFeed,
    // The address answers with a page that names feeds (Feeds).
    doFeedsFound,
    // The address answers with something else, or a page that names no feed.
    doNothingFound,
    // The fetch failed (ErrorText) or was stopped.
    doFailed
};

struct TDiscoveryResult {
    TDiscoveryOutcome Outcome = doFailed;
    // The address of the last exchange, after redirects, normalised (TUrl::Text); url as it was
    // given when it does not parse.
    std::string FinalURL;
    // doIsFeed: the feed document's own title ("" when it has none).
    std::string FeedTitle;
    // doFeedsFound: the feeds the page names, in its order.
    std::vector<TDiscoveredFeed> Feeds;
    // doFailed: why.
    std::string ErrorText;
};

// One GET of url, parsed by ParseFeedURL (an address that does not parse gives doFailed with its
// message and no request), through FetchFollowingRedirects (beforeExchange as there), then the
// answer read: a 2xx body that is a feed gives doIsFeed, an HTML page that names feeds doFeedsFound
// (relative links resolved against the address after redirects, titles in the charset of the
// Content-Type), any other 2xx body doNothingFound. Never raises: an error of the fetch, or an
// answer outside 2xx ("The server response is incorrect"), gives doFailed with its message.
TDiscoveryResult DiscoverFeedsAt(THTTPClient& client, const std::string& url,
                                 const std::function<void()>& beforeExchange = {});

// DiscoverFeedsAt on a thread of its own, with a client that PrepareFeedClient set up. Left to
// run, it releases itself when it ends (FreeOnTerminate), after the user-interface thread has
// been told of the result through OnDone. Cancel gives it up instead: OnDone never runs, and the
// caller owns the object from then on (a TWorkerKeeper releases it once its body has ended).
//
//   auto* discovery = TFeedDiscovery::Start(url, [](const TDiscoveryResult& result) { ... });
//   ...
//   discovery->Cancel();
//   keeper.Release(std::unique_ptr<TThread>(discovery), 1000);
class TFeedDiscovery : public TThread {
public:
    // A started discovery of url; onDone runs on the user-interface thread (CheckSynchronize).
    static TFeedDiscovery* Start(const std::string& url, std::function<void(const TDiscoveryResult&)> onDone);

    // User-interface thread: ends the exchange within one receive pass (a name lookup runs to its
    // end) and gives the thread up, so that OnDone never runs and it no longer releases itself.
    void Cancel();

    THTTPClient Client;
    const std::string URL;

protected:
    explicit TFeedDiscovery(std::string url);
    void Execute() override;

private:
    std::function<void(const TDiscoveryResult&)> FOnDone;
    TDiscoveryResult FResult;
};
