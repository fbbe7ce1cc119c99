#include "discovery/DiscoveryFetch.h"

#include "platform/Charset.h"

namespace {

// Ends a stopped discovery at its next exchange.
class EDiscoveryCancelled : public Exception {
public:
    EDiscoveryCancelled() : Exception("The search for feeds was stopped") {}
};

} // namespace

TDiscoveryResult DiscoverFeedsAt(THTTPClient& client, const std::string& url,
                                 const std::function<void()>& beforeExchange) {
    TDiscoveryResult result;
    result.FinalURL = url;
    try {
        const TUrl address = ParseFeedURL(url);
        result.FinalURL = FetchFollowingRedirects(client, address, beforeExchange).FinalURL.Text();
        client.Disconnect();
        if (!IsSuccessStatus(client.StatusCode))
            throw EHTTPError("The server response is incorrect");
        if (IsFeedDocument(client.Content, &result.FeedTitle)) {
            result.Outcome = doIsFeed;
            return result;
        }
        result.Feeds = FindFeedLinks(client.Content, result.FinalURL,
                                     CharsetParameter(client.ResponseHeaders.Values("Content-Type")));
        result.Outcome = result.Feeds.empty() ? doNothingFound : doFeedsFound;
    } catch (const std::exception& e) {
        result.Outcome = doFailed;
        result.ErrorText = e.what();
    }
    return result;
}

TFeedDiscovery::TFeedDiscovery(std::string url) : URL(std::move(url)) {
    PrepareFeedClient(Client);
    FreeOnTerminate = true;
}

TFeedDiscovery* TFeedDiscovery::Start(const std::string& url,
                                      std::function<void(const TDiscoveryResult&)> onDone) {
    auto* discovery = new TFeedDiscovery(url);
    discovery->FOnDone = std::move(onDone);
    discovery->OnTerminate = [](TThread* sender) {
        auto* self = static_cast<TFeedDiscovery*>(sender);
        if (self->FOnDone)
            self->FOnDone(self->FResult);
    };
    discovery->Resume();
    return discovery;
}

void TFeedDiscovery::Cancel() {
    // The stopped state first: a body that sees its exchange end sees it too.
    Terminate();
    Client.Aborted = true;
    GiveUp();
}

void TFeedDiscovery::Execute() {
    FResult = DiscoverFeedsAt(Client, URL, [this] {
        if (Terminated())
            throw EDiscoveryCancelled();
    });
}
