#include "net/SocketLib.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackHttpServer.h"

namespace {

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EBaseSocketError& e) {
        return e.Message();
    }
    return "(no error)";
}

} // namespace

TEST(SocketLibTest, ResolveAddressFillsTheIPv4AddressWithTheLowSixteenBitsOfThePort) {
    TBaseSocket socket;
    const sockaddr_in address = socket.ResolveAddress("127.0.0.1", 0x12345);
    EXPECT_EQ(AF_INET, address.sin_family);
    EXPECT_EQ(0x2345, ntohs(address.sin_port));
    EXPECT_EQ(htonl(INADDR_LOOPBACK), address.sin_addr.s_addr);
    const char zero[8] = {};
    EXPECT_EQ(0, std::memcmp(zero, address.sin_zero, sizeof(zero)));

    EXPECT_EQ(htonl(INADDR_LOOPBACK), socket.ResolveAddress("localhost", 80).sin_addr.s_addr);
}

TEST(SocketLibTest, UnresolvableNamesAreQuotedInTheMessage) {
    TBaseSocket socket;
    EXPECT_EQ("The name \"no-such-host.invalid\" can not be resolved",
              ErrorOf([&] { socket.ResolveAddress("no-such-host.invalid", 80); }));
    EXPECT_EQ("The name \"\" can not be resolved", ErrorOf([&] { socket.ResolveAddress("", 80); }));
    EXPECT_EQ("The name \"" + std::string("127.0.0.1\0x", 11) + "\" can not be resolved",
              ErrorOf([&] { socket.ResolveAddress(std::string("127.0.0.1\0x", 11), 80); }));
    // A failed resolve during Connect leaves the new handle open until the next Disconnect.
    EXPECT_EQ("The name \"no-such-host.invalid\" can not be resolved",
              ErrorOf([&] { socket.Connect("no-such-host.invalid", 80); }));
    EXPECT_NE(-1, socket.Handle);
    EXPECT_EQ(0, socket.Disconnect());
}

TEST(SocketLibTest, RefusedConnectionRaisesAndDisconnectIsIdempotent) {
    const RefusedPort refused;
    TBaseSocket socket;
    EXPECT_EQ("A connection could not be established",
              ErrorOf([&] { socket.Connect("127.0.0.1", refused.Port()); }));
    EXPECT_EQ(0, socket.Disconnect());
    EXPECT_EQ(-1, socket.Handle);
    EXPECT_EQ(-1, socket.Disconnect());
    EXPECT_EQ("Select error", ErrorOf([&] { socket.WaitForData(0); }));
    EXPECT_EQ(-1, socket.DataAvailable());
}

TEST(SocketLibTest, PortsOutsideTheSixteenBitRangeAreNeverConnected) {
    // 65616 would otherwise wrap round to port 80 of the host.
    TBaseSocket socket;
    for (int port : {0, -1, 65536, 65616})
        EXPECT_EQ("A connection could not be established",
                  ErrorOf([&] { socket.Connect("127.0.0.1", port); }))
            << port;
    EXPECT_EQ(0, socket.Disconnect());
}

TEST(SocketLibTest, ConnectNotAcceptedWithinTheTimeoutFails) {
    // A listener whose accept queue is full drops further connection attempts unanswered.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
    ASSERT_EQ(0, listen(listener, 0));
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin_port);
    std::vector<std::unique_ptr<TBaseSocket>> fillers;
    std::string outcome;
    for (int i = 0; i < 8 && outcome.empty(); ++i) {
        auto socket = std::make_unique<TBaseSocket>();
        socket->Timeout = 300;
        try {
            socket->Connect("127.0.0.1", port);
        } catch (const EBaseSocketError& e) {
            outcome = e.Message();
        }
        fillers.push_back(std::move(socket));
    }
    close(listener);
    EXPECT_EQ("A connection could not be established", outcome);
}

TEST(SocketLibTest, ReadsWaitingBytesAndSeesThePeersClose) {
    LoopbackHttpServer server([](LoopbackConnection& connection) {
        connection.Send("hello");
        connection.WaitForClientClose(200);
    });
    TBaseSocket socket;
    socket.Connect("127.0.0.1", server.Port());
    ASSERT_TRUE(socket.WaitForData(5000));
    // The five bytes may arrive in pieces; read them all.
    std::string got;
    while (got.size() < 5 && socket.WaitForData(5000)) {
        char buffer[16];
        const int n = socket.ReceiveBuf(buffer, socket.DataAvailable());
        ASSERT_GT(n, 0);
        got.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ("hello", got);
    // The server closes after its wait: readable with nothing waiting.
    ASSERT_TRUE(socket.WaitForData(5000));
    EXPECT_EQ(0, socket.DataAvailable());
    EXPECT_EQ(0, socket.ReceiveBuf(&got[0], 1));
}

TEST(SocketLibTest, WaitForDataPollsWithZero) {
    auto server = LoopbackHttpServer::Silent();
    TBaseSocket socket;
    socket.Timeout = 300;
    socket.Connect("127.0.0.1", server->Port());
    // The bound of the connect does not stay on the connection's sends.
    timeval limit{1, 1};
    socklen_t size = sizeof(limit);
    ASSERT_EQ(0, getsockopt(socket.Handle, SOL_SOCKET, SO_SNDTIMEO, &limit, &size));
    EXPECT_EQ(0, limit.tv_sec + limit.tv_usec);
    EXPECT_FALSE(socket.WaitForData(0));
    EXPECT_FALSE(socket.WaitForData(20));
    EXPECT_EQ(0, socket.DataAvailable());
}

TEST(SocketLibTest, ConnectClosesThePreviousConnectionFirst) {
    std::atomic<int> closedByClient{0};
    LoopbackHttpServer server([&](LoopbackConnection& connection) {
        if (connection.WaitForClientClose(5000))
            ++closedByClient;
    });
    TBaseSocket socket;
    socket.Connect("127.0.0.1", server.Port());
    socket.Connect("127.0.0.1", server.Port());
    socket.Disconnect();
    // Stopping the server ends its handlers' waits: only stop once both have seen their close.
    for (int i = 0; i < 1000 && closedByClient.load() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    server.Stop();
    EXPECT_EQ(2, server.Connections());
    EXPECT_EQ(2, closedByClient.load());
}

TEST(SocketLibTest, SendingToAGoneServerFailsWithoutKillingTheProcess) {
    LoopbackHttpServer server([](LoopbackConnection& connection) { connection.Close(); });
    TBaseSocket socket;
    socket.Connect("127.0.0.1", server.Port());
    ASSERT_TRUE(socket.WaitForData(5000));
    // The first send may still be accepted; the reset then makes later ones fail (EPIPE, which
    // would be SIGPIPE without MSG_NOSIGNAL).
    const std::string text(64 * 1024, 'x');
    bool failed = false;
    for (int i = 0; i < 50 && !failed; ++i)
        failed = !socket.SendText(text);
    EXPECT_TRUE(failed);
    EXPECT_EQ(-1, socket.SendBuf("x", 1));
}

TEST(SocketLibTest, SendTextDeliversLargeTextsWhole) {
    std::atomic<size_t> received{0};
    std::atomic<bool> readToTheEnd{false};
    LoopbackHttpServer server([&](LoopbackConnection& connection) {
        char buffer[65536];
        ssize_t n;
        // Read slowly at first so that the client's send buffer fills.
        connection.Sleep(50);
        while ((n = recv(connection.Handle(), buffer, sizeof(buffer), 0)) > 0)
            received += static_cast<size_t>(n);
        readToTheEnd = true;
    });
    TBaseSocket socket;
    socket.Connect("127.0.0.1", server.Port());
    EXPECT_TRUE(socket.SendText(std::string(8 * 1024 * 1024, 'y')));
    socket.Disconnect();
    // SendText returns once the kernel holds the last bytes; stopping the server before its
    // handler has read them would cut the transfer short.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!readToTheEnd && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    server.Stop();
    EXPECT_EQ(8u * 1024 * 1024, received.load());
}
