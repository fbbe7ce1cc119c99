#include "net/SocketLib.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "net/SocketLibInternal.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kConnectFailed = "A connection could not be established";
// The longest a connect or a send waits before it looks at the abort flag again.
constexpr int kAbortCheckMs = 100;
// How long an attempt to connect runs alone before the next address starts beside it.
constexpr int kNextAttemptMs = 250;

std::mutex gResolverLock;
TAddressResolver gResolver;

bool Raised(const std::atomic<bool>* flag) {
    return flag != nullptr && flag->load();
}

// Milliseconds until deadline, rounded up so that a wait never ends just before it; at least 0.
long long MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : (left + 999) / 1000;
}

// The system's addresses of a name (both families, in its order, without repeats), or the
// test's resolver when one is installed.
bool LookUp(const std::string& host, std::vector<TSocketAddress>& addresses) {
    TAddressResolver resolver;
    {
        std::lock_guard<std::mutex> lock(gResolverLock);
        resolver = gResolver;
    }
    if (resolver)
        return resolver(host, addresses) && !addresses.empty();
    addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) || a->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        TSocketAddress address;
        std::memcpy(&address.Storage, a->ai_addr, a->ai_addrlen);
        address.Length = a->ai_addrlen;
        const bool seen = std::any_of(addresses.begin(), addresses.end(), [&](const TSocketAddress& b) {
            return b.Length == address.Length && std::memcmp(&b.Storage, &address.Storage, b.Length) == 0;
        });
        if (!seen)
            addresses.push_back(address);
    }
    freeaddrinfo(found);
    return !addresses.empty();
}

// Puts fd back into blocking mode; false when that fails.
bool MakeBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != -1;
}

// Connects to the first of addresses that answers, in their order: the next attempt starts
// when the previous ones have not connected within kNextAttemptMs, or at once when they have all
// failed, and earlier attempts keep going beside it. All share the one bound of ms (<= 0: none).
// Returns the connected descriptor (blocking), or -1; created is false when not one socket
// could be made.
int ConnectFirst(const std::vector<TSocketAddress>& addresses, int ms, const std::atomic<bool>* abort,
                 bool& created) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    std::vector<int> pending;
    size_t next = 0;
    Clock::time_point nextStart = Clock::now();
    int winner = -1;
    created = false;
    while (winner == -1 && !Raised(abort) && (ms <= 0 || MillisecondsLeft(deadline) > 0)) {
        if (next < addresses.size() && (pending.empty() || Clock::now() >= nextStart)) {
            const TSocketAddress& address = addresses[next++];
            const int fd = socket(address.Family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (fd == -1)
                continue;
            created = true;
            if (connect(fd, reinterpret_cast<const sockaddr*>(&address.Storage), address.Length) == 0) {
                winner = fd;
            } else if (errno == EINPROGRESS || errno == EINTR) {
                // Interrupted, the connect goes on in the background just as one in progress.
                pending.push_back(fd);
                nextStart = Clock::now() + std::chrono::milliseconds(kNextAttemptMs);
            } else {
                close(fd);
            }
            continue;
        }
        if (pending.empty())
            break;
        long long slice = kAbortCheckMs;
        if (ms > 0)
            slice = std::min(slice, MillisecondsLeft(deadline));
        if (next < addresses.size())
            slice = std::min(slice, MillisecondsLeft(nextStart));
        std::vector<pollfd> polls;
        for (int fd : pending)
            polls.push_back(pollfd{fd, POLLOUT, 0});
        const int r = poll(polls.data(), polls.size(), static_cast<int>(slice));
        if (r < 0 && errno != EINTR)
            break;
        for (size_t i = polls.size(); r > 0 && i-- > 0;) {
            if (polls[i].revents == 0)
                continue;
            int error = 0;
            socklen_t length = sizeof(error);
            if (winner == -1 && getsockopt(polls[i].fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
                error == 0) {
                winner = polls[i].fd;
            } else {
                close(polls[i].fd);
                // A failed attempt hands over to the next address at once.
                nextStart = Clock::now();
            }
            pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    for (int fd : pending)
        close(fd);
    // Every later wait is an explicit one; the calls themselves block again.
    if (winner != -1 && !MakeBlocking(winner)) {
        close(winner);
        winner = -1;
    }
    return winner;
}

} // namespace

int WaitSocketReady(int fd, short events, int ms, const std::atomic<bool>* abort) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (Raised(abort))
            return -1;
        long long slice = kAbortCheckMs;
        if (ms > 0) {
            const long long left = MillisecondsLeft(deadline);
            if (left == 0)
                return 0;
            slice = std::min(slice, left);
        }
        pollfd p{fd, events, 0};
        const int r = poll(&p, 1, static_cast<int>(slice));
        if (r > 0)
            return 1;
        if (r < 0 && errno != EINTR)
            return -1;
    }
}

void SetAddressResolverForTesting(TAddressResolver resolver) {
    std::lock_guard<std::mutex> lock(gResolverLock);
    gResolver = std::move(resolver);
}

void SetHostResolverForTesting(THostResolver resolver) {
    if (!resolver) {
        SetAddressResolverForTesting(nullptr);
        return;
    }
    SetAddressResolverForTesting(
        [resolver = std::move(resolver)](const std::string& host, std::vector<TSocketAddress>& addresses) {
            in_addr address{};
            if (!resolver(host, address))
                return false;
            addresses.push_back(TSocketAddress::IPv4(address, 0));
            return true;
        });
}

bool IsIPv6Literal(const std::string& host) {
    in6_addr address;
    return host.find('\0') == std::string::npos && inet_pton(AF_INET6, host.c_str(), &address) == 1;
}

// ---- TSocketAddress ----

std::string TSocketAddress::Text() const {
    char text[INET6_ADDRSTRLEN] = "";
    if (Family() == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&Storage)->sin_addr, text, sizeof(text));
    else if (Family() == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&Storage)->sin6_addr, text, sizeof(text));
    return text;
}

int TSocketAddress::Port() const {
    if (Family() == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&Storage)->sin_port);
    if (Family() == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&Storage)->sin6_port);
    return 0;
}

void TSocketAddress::SetPort(int port) {
    const uint16_t value = htons(static_cast<uint16_t>(port & 0xFFFF));
    if (Family() == AF_INET)
        reinterpret_cast<sockaddr_in*>(&Storage)->sin_port = value;
    else if (Family() == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&Storage)->sin6_port = value;
}

TSocketAddress TSocketAddress::IPv4(const in_addr& address, int port) {
    TSocketAddress result;
    sockaddr_in* in = reinterpret_cast<sockaddr_in*>(&result.Storage);
    in->sin_family = AF_INET;
    in->sin_addr = address;
    result.Length = sizeof(sockaddr_in);
    result.SetPort(port);
    return result;
}

TSocketAddress TSocketAddress::IPv6(const in6_addr& address, int port) {
    TSocketAddress result;
    sockaddr_in6* in = reinterpret_cast<sockaddr_in6*>(&result.Storage);
    in->sin6_family = AF_INET6;
    in->sin6_addr = address;
    result.Length = sizeof(sockaddr_in6);
    result.SetPort(port);
    return result;
}

// ---- TBaseSocket ----

TBaseSocket::~TBaseSocket() {
    Disconnect();
}

std::vector<TSocketAddress> TBaseSocket::ResolveAddress(const std::string& host, int port) {
    std::vector<TSocketAddress> addresses;
    // A text with a zero byte inside is no address and no name either.
    if (host.empty() || host.find('\0') != std::string::npos)
        throw EBaseSocketError("The name \"" + host + "\" can not be resolved");
    in_addr v4{};
    in6_addr v6{};
    v4.s_addr = inet_addr(host.c_str());
    if (v4.s_addr != INADDR_NONE)
        addresses.push_back(TSocketAddress::IPv4(v4, port));
    else if (inet_pton(AF_INET6, host.c_str(), &v6) == 1)
        addresses.push_back(TSocketAddress::IPv6(v6, port));
    else if (!LookUp(host, addresses))
        throw EBaseSocketError("The name \"" + host + "\" can not be resolved");
    for (TSocketAddress& address : addresses)
        address.SetPort(port);
    return addresses;
}

void TBaseSocket::Connect(const std::string& host, int port) {
    Disconnect();
    const std::vector<TSocketAddress> addresses = ResolveAddress(host, port);
    // A port the address cannot hold would wrap round to another one (65616 to 80): refuse it.
    if (port < 1 || port > 65535 || Raised(AbortFlag))
        throw EBaseSocketError(kConnectFailed);
    bool created = false;
    Handle = ConnectFirst(addresses, Timeout, AbortFlag, created);
    if (!created)
        throw EBaseSocketError("Unable to create socket");
    if (Handle == -1)
        throw EBaseSocketError(kConnectFailed);
}

int TBaseSocket::Disconnect() {
    if (Handle == -1)
        return -1;
    shutdown(Handle, SHUT_RDWR);
    // close is not retried after EINTR: on Linux the descriptor is gone either way.
    const int result = close(Handle);
    Handle = -1;
    return result;
}

bool TBaseSocket::WaitForData(int ms) {
    if (Handle == -1)
        throw EBaseSocketError("Select error");
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{Handle, POLLIN, 0};
        const int r = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || (r > 0 && (p.revents & POLLNVAL)))
            throw EBaseSocketError("Select error");
        return r > 0;
    }
}

int TBaseSocket::DataAvailable() {
    int count = 0;
    if (Handle == -1 || ioctl(Handle, FIONREAD, &count) != 0)
        return -1;
    return count;
}

int TBaseSocket::ReceiveBuf(void* buffer, int size) {
    ssize_t r;
    do
        r = recv(Handle, buffer, size < 0 ? 0 : static_cast<size_t>(size), 0);
    while (r < 0 && errno == EINTR);
    return static_cast<int>(r);
}

int TBaseSocket::SendBuf(const void* buffer, int length) {
    ssize_t r;
    do
        r = send(Handle, buffer, length < 0 ? 0 : static_cast<size_t>(length), MSG_NOSIGNAL);
    while (r < 0 && errno == EINTR);
    return static_cast<int>(r);
}

TBaseSocket::TSendResult TBaseSocket::SendText(const std::string& text, int idleMs) {
    if (Handle == -1)
        return srFailed;
    size_t sent = 0;
    while (sent < text.size()) {
        // Wait for room first, so that a full buffer never blocks past a check of the flag.
        const int ready = WaitSocketReady(Handle, POLLOUT, idleMs, AbortFlag);
        if (ready == 0)
            return srTimedOut;
        if (ready < 0)
            return Raised(AbortFlag) ? srAborted : srFailed;
        const size_t piece = std::min<size_t>(text.size() - sent, 1 << 30);
        ssize_t r;
        do
            r = send(Handle, text.data() + sent, piece, MSG_NOSIGNAL | MSG_DONTWAIT);
        while (r < 0 && errno == EINTR);
        // Room reported but none taken: wait again.
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (r <= 0)
            return srFailed;
        sent += static_cast<size_t>(r);
    }
    return srSent;
}
