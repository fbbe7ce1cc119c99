#include "refresh/DiscoveryFetch.h"

namespace {

// Ends a stopped discovery at its next exchange.
class EDiscoveryCancelled : public Exception {
public:
    EDiscoveryCancelled() : Exception("The search for feeds was stopped") {}
};

// The charset parameter of a Content-Type value, lower-cased; "" when there is none.
std::string ContentTypeCharset(const std::string& contentType) {
    const std::string lower = LowerCaseAscii(contentType);
    const size_t at = lower.find("charset=");
    if (at == std::string::npos)
        return std::string();
    std::string value = lower.substr(at + 8);
    value = value.substr(0, value.find(';'));
    value = Trim(value);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return value;
}

} // namespace

TDiscoveryResult DiscoverFeedsAt(THTTPClient& client, const std::string& url,
                                 const std::function<void()>& beforeExchange) {
    TDiscoveryResult result;
    result.FinalURL = url;
    try {
        const TUrl address = ParseFeedURL(url);
        result.FinalURL = FetchFollowingRedirects(client, address, beforeExchange).FinalURL.Text();
        client.Disconnect();
        if (client.StatusCode < 200 || client.StatusCode > 299)
            throw EHTTPError("The server response is incorrect");
        if (IsFeedDocument(client.Content, &result.FeedTitle)) {
            result.Outcome = doIsFeed;
            return result;
        }
        result.Feeds = FindFeedLinks(client.Content, result.FinalURL,
                                     ContentTypeCharset(client.ResponseHeaders.Values("Content-Type")));
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
        if (!self->Terminated() && self->FOnDone)
            self->FOnDone(self->FResult);
    };
    discovery->Resume();
    return discovery;
}

void TFeedDiscovery::Cancel() {
    // The stopped state first: a body that sees its exchange end sees it too.
    Terminate();
    Client.Aborted = true;
    FOnDone = nullptr;
}

void TFeedDiscovery::Execute() {
    FResult = DiscoverFeedsAt(Client, URL, [this] {
        if (Terminated())
            throw EDiscoveryCancelled();
    });
}
