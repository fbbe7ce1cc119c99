#pragma once

#include <arpa/inet.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/SocketLibInternal.h"

class LoopbackHttpServer;

// One accepted connection, handed to the server's handler on its own thread. Every wait returns
// early once the server is stopping, so a handler that "never answers" still ends.
class LoopbackConnection {
public:
    LoopbackConnection(LoopbackHttpServer& server, int fd) : FServer(server), FFd(fd) {}
    LoopbackConnection(const LoopbackConnection&) = delete;
    LoopbackConnection& operator=(const LoopbackConnection&) = delete;

    // Reads one request: up to the blank line and then Content-Length body bytes. Returns what
    // arrived ("" or a partial request when the client closed or the server is stopping) and
    // records it in the server's Requests().
    std::string ReadRequest();
    // Sends all bytes; false when the client has gone.
    bool Send(const std::string& bytes);
    // Sends bytes in pieces of pieceSize with a pause of pauseMs between them; false when the
    // client has gone or the server is stopping.
    bool Trickle(const std::string& bytes, size_t pieceSize, int pauseMs);
    // Pauses ms milliseconds, or less when the server is stopping; false when it is stopping.
    bool Sleep(int ms);
    // Waits until the client closes its side (or the server stops); true for a client close.
    bool WaitForClientClose(int ms);
    // Closes the connection at once (the handler may then return).
    void Close();
    // Whether the server is being stopped.
    bool Stopping() const;
    int Handle() const { return FFd; }

private:
    LoopbackHttpServer& FServer;
    int FFd;
    std::string FPending;
};

// A scripted HTTP server on 127.0.0.1 (or another loopback address, "::1" included) and a free
// port, for tests: every accepted connection runs the handler on a thread of its own, and the
// connection is closed when the handler returns. The destructor stops accepting, wakes every
// waiting handler and joins all threads.
class LoopbackHttpServer {
public:
    using THandler = std::function<void(LoopbackConnection&)>;

    // Raises std::runtime_error when address cannot be listened on.
    explicit LoopbackHttpServer(THandler handler, const std::string& address = "127.0.0.1");
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    // A server that reads each request, sends response as it is and closes.
    static std::unique_ptr<LoopbackHttpServer> Replying(const std::string& response);
    // A server that reads each request and then keeps the connection open without a byte.
    static std::unique_ptr<LoopbackHttpServer> Silent();

    int Port() const { return FPort; }
    // "http://<address>:<port>" followed by path, an IPv6 address in brackets.
    std::string Url(const std::string& path = "/") const;
    // The requests read so far by ReadRequest, in order.
    std::vector<std::string> Requests() const;
    // Connections accepted so far.
    int Connections() const { return FConnections; }
    // Stops as the destructor does (idempotent).
    void Stop();

private:
    friend class LoopbackConnection;
    void AcceptLoop();
    void RecordRequest(const std::string& request);
    bool WaitStop(int ms);

    THandler FHandler;
    std::string FAddress;
    int FListenFd = -1;
    int FPort = 0;
    std::atomic<bool> FStopping{false};
    std::atomic<int> FConnections{0};
    mutable std::mutex FMutex;
    std::condition_variable FStopSignal;
    std::vector<std::string> FRequests;
    std::vector<int> FOpenFds;
    std::vector<std::thread> FWorkers;
    std::thread FAcceptThread;
};

// A port of 127.0.0.1 that refuses every connection while the object lives: it is bound but never
// listens, so the system hands it to no other socket meanwhile (a port merely found free could be
// taken by another test's server before the connect).
class RefusedPort {
public:
    RefusedPort();
    ~RefusedPort();
    RefusedPort(const RefusedPort&) = delete;
    RefusedPort& operator=(const RefusedPort&) = delete;

    int Port() const { return FPort; }

private:
    int FFd = -1;
    int FPort = 0;
};

// A port of 127.0.0.1 whose listener never accepts and whose queue is already full: the system
// drops every further connection attempt unanswered, so a connect to it waits until its own
// bound while the object lives (once it is gone, the next attempt is refused).
class UnansweredPort {
public:
    UnansweredPort();
    // The same on a given IPv4 loopback address and port (say 127.0.0.2 and the port of a server
    // on 127.0.0.1, for a name whose first address never answers).
    UnansweredPort(const std::string& address, int port);
    ~UnansweredPort();
    UnansweredPort(const UnansweredPort&) = delete;
    UnansweredPort& operator=(const UnansweredPort&) = delete;

    int Port() const { return FPort; }

private:
    void Fill(const std::string& address);
    void Release();
    int FListenFd = -1;
    int FPort = 0;
    std::vector<int> FFillers;
};

// Whether a socket can listen on ::1 here (tests of IPv6 skip otherwise).
bool IPv6LoopbackAvailable();

// While it lives, the socket layer resolves names through names (host name to an address of
// either family, "127.0.0.1" or "::1") alone: any other name fails to resolve, and the system's
// resolver is never asked. Install it before starting a thread that connects.
class ScopedHostResolver {
public:
    explicit ScopedHostResolver(std::initializer_list<std::pair<const std::string, std::string>> names = {}) {
        for (const auto& name : names)
            FNames[name.first].push_back(name.second);
        SetAddressResolverForTesting([this](const std::string& host, std::vector<TSocketAddress>& addresses) {
            std::lock_guard<std::mutex> lock(FMutex);
            FAsked.push_back(host);
            const auto found = FNames.find(host);
            if (found == FNames.end())
                return false;
            for (const std::string& text : found->second) {
                in_addr v4{};
                in6_addr v6{};
                if (inet_pton(AF_INET, text.c_str(), &v4) == 1)
                    addresses.push_back(TSocketAddress::IPv4(v4, 0));
                else if (inet_pton(AF_INET6, text.c_str(), &v6) == 1)
                    addresses.push_back(TSocketAddress::IPv6(v6, 0));
            }
            return !addresses.empty();
        });
    }
    ~ScopedHostResolver() { SetAddressResolverForTesting(nullptr); }
    ScopedHostResolver(const ScopedHostResolver&) = delete;
    ScopedHostResolver& operator=(const ScopedHostResolver&) = delete;

    // Makes name resolve to these addresses, tried in this order (a name with several addresses).
    void Set(const std::string& name, std::vector<std::string> addresses) {
        std::lock_guard<std::mutex> lock(FMutex);
        FNames[name] = std::move(addresses);
    }

    // The names looked up so far, in order.
    std::vector<std::string> Asked() const {
        std::lock_guard<std::mutex> lock(FMutex);
        return FAsked;
    }

private:
    std::map<std::string, std::vector<std::string>> FNames;
    mutable std::mutex FMutex;
    std::vector<std::string> FAsked;
};
