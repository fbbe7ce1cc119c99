#include <exception>

#include "Inspect.h"
#include "net/HTTPClient.h"
#include "platform/Files.h"
#include "refresh/FeedFetch.h"
#include "url/Url.h"

// fetch URL [--head] [--out FILE]: one exchange as the refresh makes it (the address parsed and
// the client aimed the same way, https over TLS, credentials only over it, a default client with
// a 5 s connect time-out; no redirect followed), the body optionally saved to FILE.
int CmdFetch(const TArgs& args) {
    std::string url;
    std::string out;
    bool head = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--head")
            head = true;
        else if (args[i] == "--out" && i + 1 < args.size())
            out = args[++i];
        else if (url.empty() && args[i].compare(0, 2, "--") != 0)
            url = args[i];
        else
            return PrintError("usage: tovel-inspect fetch URL [--head] [--out FILE]");
    }
    if (url.empty())
        return PrintError("usage: tovel-inspect fetch URL [--head] [--out FILE]");
    try {
        THTTPClient client;
        AimClient(client, ParseFeedURL(url));
        client.Timeout = 5000;
        if (head)
            client.Method = "HEAD";
        client.Execute();
        if (!out.empty())
            WriteFileAtomically(out, client.Content);
        Json headers = Json::array();
        for (int i = 0; i < client.ResponseHeaders.Count(); ++i) {
            const std::string name = client.ResponseHeaders.Names(i);
            headers.push_back({JsonText(name), JsonText(client.ResponseHeaders.Values(name))});
        }
        PrintJson(Json{{"status", client.StatusCode},
                       {"reason", JsonText(client.StatusText)},
                       {"headers", std::move(headers)},
                       {"content_length", client.Content.size()}});
        return 0;
    } catch (const std::exception& e) {
        return PrintError(e.what());
    }
}
