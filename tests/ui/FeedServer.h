#pragma once

#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <utility>

#include "LoopbackHttpServer.h"

// A loopback server of feed documents for the window's tests: every path "/<name>" gets the
// document the test's function makes of the name; a name in held gets no answer until Release
// (or the server's end).
class TLoopbackFeeds {
public:
    // The body served for name; requests counts the requests for name so far, this one included.
    using TDocument = std::function<std::string(const std::string& name, int requests)>;

    explicit TLoopbackFeeds(TDocument document, std::set<std::string> held = {})
        : FDocument(std::move(document)), FHeld(std::move(held)),
          FServer([this](LoopbackConnection& c) { Serve(c); }) {}

    std::string Url(const std::string& name) const { return FServer.Url("/" + name); }
    void Release() { FReleased = true; }
    // How many requests for name have arrived.
    int Requests(const std::string& name) const {
        int count = 0;
        for (const std::string& request : FServer.Requests())
            count += request.find(" /" + name + " ") != std::string::npos ? 1 : 0;
        return count;
    }
    bool Requested(const std::string& name) const { return Requests(name) > 0; }

private:
    void Serve(LoopbackConnection& c) {
        const std::string request = c.ReadRequest();
        const size_t start = request.find(" /");
        const size_t end = request.find(' ', start + 1);
        if (start == std::string::npos || end == std::string::npos)
            return;
        const std::string name = request.substr(start + 2, end - start - 2);
        if (FHeld.count(name))
            while (!FReleased)
                if (!c.Sleep(20))
                    return;
        const std::string body = FDocument(name, Requests(name));
        c.Send("HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    }

    const TDocument FDocument;
    const std::set<std::string> FHeld;
    std::atomic<bool> FReleased{false};
    // Last: its thread serves as soon as it is made.
    LoopbackHttpServer FServer;
};
