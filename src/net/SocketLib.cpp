#include "net/SocketLib.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

const char* const cConnectFailed = "A connection could not be established";

// Waits for the non-blocking connect on fd to finish, within ms when ms > 0; true when it
// connected.
bool FinishConnect(int fd, int ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int wait = -1;
        if (ms > 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            wait = static_cast<int>(left);
        }
        pollfd p{fd, POLLOUT, 0};
        const int r = poll(&p, 1, wait);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        int error = 0;
        socklen_t len = sizeof(error);
        return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
    }
}

// Sets how long a send (and a connect) on fd may block; 0 removes the bound.
bool SetSendTimeout(int fd, int ms) {
    timeval limit{};
    limit.tv_sec = ms / 1000;
    limit.tv_usec = (ms % 1000) * 1000;
    return setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit)) == 0;
}

} // namespace

TBaseSocket::~TBaseSocket() {
    Disconnect();
}

sockaddr_in TBaseSocket::ResolveAddress(const std::string& host, int port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    // A text with a zero byte inside is no dotted address and no name either.
    const bool clean = host.find('\0') == std::string::npos;
    in_addr_t numeric = clean ? inet_addr(host.c_str()) : INADDR_NONE;
    if (numeric == INADDR_NONE) {
        addrinfo hints;
        std::memset(&hints, 0, sizeof(hints));
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (!clean || host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 ||
            found == nullptr)
            throw EBaseSocketError("The name \"" + host + "\" can not be resolved");
        numeric = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
        freeaddrinfo(found);
    }
    address.sin_addr.s_addr = numeric;
    address.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
    return address;
}

void TBaseSocket::Connect(const std::string& host, int port) {
    Disconnect();
    Handle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (Handle == -1)
        throw EBaseSocketError("Unable to create socket");
    const sockaddr_in address = ResolveAddress(host, port);
    // A port the address cannot hold would wrap round to another one (65616 to 80): refuse it.
    if (port < 1 || port > 65535)
        throw EBaseSocketError(cConnectFailed);
    const sockaddr* target = reinterpret_cast<const sockaddr*>(&address);
    // A positive Timeout bounds the blocking connect through the send time-out (which Linux
    // applies to connect), taken off again afterwards: fewer calls than a non-blocking connect
    // and a wait for it.
    if (Timeout > 0 && !SetSendTimeout(Handle, Timeout))
        throw EBaseSocketError(cConnectFailed);
    int r = connect(Handle, target, sizeof(address));
    // Interrupted, the connect goes on in the background; a time-out gives EINPROGRESS.
    if (r != 0 && errno == EINTR)
        r = FinishConnect(Handle, Timeout) ? 0 : -1;
    if (r != 0 || (Timeout > 0 && !SetSendTimeout(Handle, 0)))
        throw EBaseSocketError(cConnectFailed);
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
    using Clock = std::chrono::steady_clock;
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

bool TBaseSocket::SendText(const std::string& text) {
    size_t sent = 0;
    while (sent < text.size()) {
        const size_t piece = std::min<size_t>(text.size() - sent, 1 << 30);
        const int r = SendBuf(text.data() + sent, static_cast<int>(piece));
        if (r <= 0)
            return false;
        sent += static_cast<size_t>(r);
    }
    return true;
}
