#include "LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "platform/SysUtils.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waits up to ms for fd to be readable; 1 readable, 0 not yet, -1 failed.
int PollRead(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    const int r = poll(&p, 1, ms);
    if (r < 0 && errno == EINTR)
        return 0;
    return r;
}

// The body length announced in a header block (0 when there is none).
size_t AnnouncedLength(const std::string& head) {
    const std::string upper = UpperCaseAscii(head);
    const size_t p = upper.find("\nCONTENT-LENGTH:");
    if (p == std::string::npos)
        return 0;
    int n = 0;
    const size_t from = p + 16;
    return TryStrToInt(Trim(head.substr(from, head.find('\n', from) - from)), n) && n > 0
               ? static_cast<size_t>(n)
               : 0;
}

// A TCP socket bound to text (an IPv4 or IPv6 address) and port, or a port the system picks
// when port is 0 (listening when asked), and that port; raises what when any step fails.
int BindLoopback(bool listening, int& port, const char* what, const std::string& text = "127.0.0.1") {
    sockaddr_storage address{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        length = sizeof(sockaddr_in);
    } else if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        length = sizeof(sockaddr_in6);
    } else {
        throw std::runtime_error(what);
    }
    const int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd == -1)
        throw std::runtime_error(what);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || (listening && listen(fd, 64) != 0) ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        throw std::runtime_error(what);
    }
    port = ntohs(address.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
    return fd;
}

} // namespace

// ---- LoopbackConnection ----

bool LoopbackConnection::Stopping() const {
    return FServer.FStopping;
}

std::string LoopbackConnection::ReadRequest() {
    for (;;) {
        const size_t end = FPending.find("\r\n\r\n");
        if (end != std::string::npos) {
            const size_t total = end + 4 + AnnouncedLength(FPending.substr(0, end + 2));
            if (FPending.size() >= total) {
                std::string request = FPending.substr(0, total);
                FPending.erase(0, total);
                FServer.RecordRequest(request);
                return request;
            }
        }
        if (Stopping() || FFd == -1)
            break;
        const int ready = PollRead(FFd, 20);
        if (ready < 0)
            break;
        if (ready == 0)
            continue;
        char buffer[4096];
        const ssize_t got = recv(FFd, buffer, sizeof(buffer), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        FPending.append(buffer, static_cast<size_t>(got));
    }
    std::string partial;
    partial.swap(FPending);
    FServer.RecordRequest(partial);
    return partial;
}

bool LoopbackConnection::Send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        if (FFd == -1)
            return false;
        const ssize_t r = send(FFd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        sent += static_cast<size_t>(r);
    }
    return true;
}

bool LoopbackConnection::Trickle(const std::string& bytes, size_t pieceSize, int pauseMs) {
    pieceSize = std::max<size_t>(pieceSize, 1);
    for (size_t at = 0; at < bytes.size(); at += pieceSize) {
        if (!Send(bytes.substr(at, pieceSize)))
            return false;
        if (at + pieceSize < bytes.size() && !Sleep(pauseMs))
            return false;
    }
    return true;
}

bool LoopbackConnection::Sleep(int ms) {
    return !FServer.WaitStop(ms);
}

bool LoopbackConnection::WaitForClientClose(int ms) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!Stopping() && FFd != -1 && Clock::now() < deadline) {
        const int ready = PollRead(FFd, 20);
        if (ready < 0)
            return true;
        if (ready == 0)
            continue;
        char buffer[4096];
        const ssize_t got = recv(FFd, buffer, sizeof(buffer), 0);
        if (got == 0 || (got < 0 && errno != EINTR))
            return true;
    }
    return false;
}

void LoopbackConnection::Close() {
    if (FFd == -1)
        return;
    {
        std::lock_guard<std::mutex> lock(FServer.FMutex);
        auto& fds = FServer.FOpenFds;
        fds.erase(std::remove(fds.begin(), fds.end(), FFd), fds.end());
    }
    close(FFd);
    FFd = -1;
}

// ---- LoopbackHttpServer ----

bool IPv6LoopbackAvailable() {
    try {
        int port = 0;
        close(BindLoopback(true, port, "", "::1"));
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

LoopbackHttpServer::LoopbackHttpServer(THandler handler, const std::string& address)
    : FHandler(std::move(handler)), FAddress(address) {
    FListenFd = BindLoopback(true, FPort, ("loopback server: cannot listen on " + address).c_str(), address);
    FAcceptThread = std::thread([this] { AcceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    Stop();
}

std::unique_ptr<LoopbackHttpServer> LoopbackHttpServer::Replying(const std::string& response) {
    return std::make_unique<LoopbackHttpServer>([response](LoopbackConnection& connection) {
        connection.ReadRequest();
        connection.Send(response);
    });
}

std::unique_ptr<LoopbackHttpServer> LoopbackHttpServer::Silent() {
    return std::make_unique<LoopbackHttpServer>([](LoopbackConnection& connection) {
        connection.ReadRequest();
        connection.WaitForClientClose(3600 * 1000);
    });
}

std::string LoopbackHttpServer::Url(const std::string& path) const {
    const bool v6 = FAddress.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + FAddress + "]" : FAddress) + ":" + std::to_string(FPort) + path;
}

std::vector<std::string> LoopbackHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FRequests;
}

void LoopbackHttpServer::RecordRequest(const std::string& request) {
    std::lock_guard<std::mutex> lock(FMutex);
    FRequests.push_back(request);
}

bool LoopbackHttpServer::WaitStop(int ms) {
    std::unique_lock<std::mutex> lock(FMutex);
    return FStopSignal.wait_for(lock, std::chrono::milliseconds(ms), [this] { return FStopping.load(); });
}

void LoopbackHttpServer::AcceptLoop() {
    while (!FStopping) {
        if (PollRead(FListenFd, 20) <= 0)
            continue;
        const int fd = accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd == -1)
            continue;
        ++FConnections;
        {
            std::lock_guard<std::mutex> lock(FMutex);
            FOpenFds.push_back(fd);
        }
        FWorkers.emplace_back([this, fd] {
            LoopbackConnection connection(*this, fd);
            try {
                FHandler(connection);
            } catch (...) {
                // A failing handler only ends its own connection.
            }
            connection.Close();
        });
    }
}

void LoopbackHttpServer::Stop() {
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FStopping && !FAcceptThread.joinable())
            return;
        FStopping = true;
    }
    FStopSignal.notify_all();
    if (FAcceptThread.joinable())
        FAcceptThread.join();
    {
        // Wakes handlers blocked in a send to a client that does not read.
        std::lock_guard<std::mutex> lock(FMutex);
        for (int fd : FOpenFds)
            shutdown(fd, SHUT_RDWR);
    }
    for (std::thread& worker : FWorkers)
        worker.join();
    FWorkers.clear();
    if (FListenFd != -1)
        close(FListenFd);
    FListenFd = -1;
}

RefusedPort::RefusedPort() {
    FFd = BindLoopback(false, FPort, "refused port: cannot bind 127.0.0.1");
}

RefusedPort::~RefusedPort() {
    close(FFd);
}

// ---- UnansweredPort ----

UnansweredPort::UnansweredPort() {
    FListenFd = BindLoopback(false, FPort, "unanswered port: cannot bind 127.0.0.1");
    Fill("127.0.0.1");
}

UnansweredPort::UnansweredPort(const std::string& address, int port) : FPort(port) {
    FListenFd = BindLoopback(false, FPort, ("unanswered port: cannot bind " + address).c_str(), address);
    Fill(address);
}

void UnansweredPort::Fill(const std::string& text) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, text.c_str(), &address.sin_addr);
    address.sin_port = htons(static_cast<uint16_t>(FPort));
    // With a backlog of 0 the queue holds one connection; fill it until an attempt stays
    // unanswered (that one is kept too, and stays pending).
    bool full = false;
    if (listen(FListenFd, 0) == 0) {
        for (int i = 0; i < 16 && !full; ++i) {
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (fd == -1)
                break;
            FFillers.push_back(fd);
            pollfd p{fd, POLLOUT, 0};
            full = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 &&
                   errno == EINPROGRESS && poll(&p, 1, 200) == 0;
        }
    }
    if (!full) {
        Release();
        throw std::runtime_error("unanswered port: the listener's queue does not fill");
    }
}

UnansweredPort::~UnansweredPort() {
    Release();
}

void UnansweredPort::Release() {
    if (FListenFd != -1)
        close(FListenFd);
    FListenFd = -1;
    for (int fd : FFillers)
        close(fd);
    FFillers.clear();
}
