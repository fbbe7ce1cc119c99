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

// "address:port" for each address.
std::vector<std::string> Texts(const std::vector<TSocketAddress>& addresses) {
    std::vector<std::string> texts;
    for (const TSocketAddress& address : addresses)
        texts.push_back(address.Text() + ":" + std::to_string(address.Port()));
    return texts;
}

TEST(SocketLibTest, ResolveAddressGivesLiteralsAsTheyAreAndNamesInTheResolversOrder) {
    ScopedHostResolver names({{"feeds.test", "127.0.0.2"}});
    names.Set("dual.test", {"::1", "127.0.0.3"});
    TBaseSocket socket;
    const std::vector<TSocketAddress> v4 = socket.ResolveAddress("127.0.0.1", 0x12345);
    ASSERT_EQ(1u, v4.size());
    EXPECT_EQ(AF_INET, v4[0].Family());
    EXPECT_EQ(sizeof(sockaddr_in), v4[0].Length);
    const sockaddr_in& in = reinterpret_cast<const sockaddr_in&>(v4[0].Storage);
    EXPECT_EQ(htons(0x2345), in.sin_port) << "the low 16 bits of the port";
    EXPECT_EQ(htonl(INADDR_LOOPBACK), in.sin_addr.s_addr);
    const char zero[8] = {};
    EXPECT_EQ(0, std::memcmp(zero, in.sin_zero, sizeof(zero)));
    // inet_addr's short forms stay addresses.
    EXPECT_EQ(std::vector<std::string>{"127.0.0.1:80"}, Texts(socket.ResolveAddress("127.1", 80)));

    const std::vector<TSocketAddress> v6 = socket.ResolveAddress("::1", 443);
    ASSERT_EQ(1u, v6.size());
    EXPECT_EQ(AF_INET6, v6[0].Family());
    EXPECT_EQ(sizeof(sockaddr_in6), v6[0].Length);
    EXPECT_EQ(std::vector<std::string>{"::1:443"}, Texts(v6));

    EXPECT_EQ(std::vector<std::string>{"127.0.0.2:80"}, Texts(socket.ResolveAddress("feeds.test", 80)));
    EXPECT_EQ((std::vector<std::string>{"::1:8080", "127.0.0.3:8080"}),
              Texts(socket.ResolveAddress("dual.test", 8080)));
    // Literals are never looked up by name; all ones is no address and is, and so is a literal in
    // brackets, which belong to URLs.
    EXPECT_EQ((std::vector<std::string>{"feeds.test", "dual.test"}), names.Asked());
    EXPECT_ANY_THROW(socket.ResolveAddress("255.255.255.255", 80));
    EXPECT_EQ("255.255.255.255", names.Asked().back());
    EXPECT_ANY_THROW(socket.ResolveAddress("[::1]", 80));
    EXPECT_EQ("[::1]", names.Asked().back());
}

TEST(SocketLibTest, UnresolvableNamesAreQuotedInTheMessage) {
    const ScopedHostResolver names;
    TBaseSocket socket;
    EXPECT_EQ("The name \"no-such-host.test\" can not be resolved",
              ErrorOf([&] { socket.ResolveAddress("no-such-host.test", 80); }));
    EXPECT_EQ("The name \"\" can not be resolved", ErrorOf([&] { socket.ResolveAddress("", 80); }));
    EXPECT_EQ("The name \"" + std::string("127.0.0.1\0x", 11) + "\" can not be resolved",
              ErrorOf([&] { socket.ResolveAddress(std::string("127.0.0.1\0x", 11), 80); }));
    // Neither an empty name nor one with a zero byte reaches the resolver.
    EXPECT_EQ(std::vector<std::string>{"no-such-host.test"}, names.Asked());
    // A failed resolve during Connect opens nothing.
    EXPECT_EQ("The name \"no-such-host.test\" can not be resolved",
              ErrorOf([&] { socket.Connect("no-such-host.test", 80); }));
    EXPECT_EQ(-1, socket.Handle);
    EXPECT_EQ(-1, socket.Disconnect());
}

TEST(SocketLibTest, RefusedConnectionRaisesAndDisconnectIsIdempotent) {
    const RefusedPort refused;
    TBaseSocket socket;
    EXPECT_EQ("A connection could not be established",
              ErrorOf([&] { socket.Connect("127.0.0.1", refused.Port()); }));
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
    EXPECT_EQ(-1, socket.Handle);
}

TEST(SocketLibTest, ConnectNotAcceptedWithinTheTimeoutFails) {
    const UnansweredPort unanswered;
    TBaseSocket socket;
    socket.Timeout = 300;
    EXPECT_EQ("A connection could not be established",
              ErrorOf([&] { socket.Connect("127.0.0.1", unanswered.Port()); }));
}

TEST(SocketLibTest, AnAddressThatDoesNotAnswerLetsTheNextOneConnectWithinTheSameBound) {
    std::atomic<int> served{0};
    LoopbackHttpServer server([&](LoopbackConnection& connection) {
        ++served;
        connection.WaitForClientClose(5000);
    });
    // The first address of the name takes connections on the server's port but never answers;
    // alone it would use up the whole bound, so only an attempt started beside it can connect.
    std::unique_ptr<UnansweredPort> unanswered;
    try {
        unanswered = std::make_unique<UnansweredPort>("127.0.0.2", server.Port());
    } catch (const std::exception& e) {
        GTEST_SKIP() << "127.0.0.2 cannot be used here: " << e.what();
    }
    ScopedHostResolver names;
    names.Set("slow.test", {"127.0.0.2", "127.0.0.1"});
    // 127.0.0.3 refuses at once: the next attempt starts without waiting.
    names.Set("refusing.test", {"127.0.0.3", "127.0.0.1"});
    names.Set("dead.test", {"127.0.0.3", "127.0.0.2"});
    TBaseSocket socket;
    socket.Timeout = 2000;
    socket.Connect("slow.test", server.Port());
    EXPECT_NE(-1, socket.Handle);
    socket.Connect("refusing.test", server.Port());
    EXPECT_NE(-1, socket.Handle);
    socket.Disconnect();
    socket.Timeout = 300;
    EXPECT_EQ("A connection could not be established",
              ErrorOf([&] { socket.Connect("dead.test", server.Port()); }));
    EXPECT_EQ(-1, socket.Handle);
    for (int i = 0; i < 1000 && served < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(2, served.load());
}

TEST(SocketLibTest, ConnectsToAnIPv6LiteralAndToANameWithOnlyAnIPv6Address) {
    if (!IPv6LoopbackAvailable())
        GTEST_SKIP() << "::1 cannot be bound here";
    LoopbackHttpServer server(
        [](LoopbackConnection& connection) {
            connection.Send("v6");
            connection.WaitForClientClose(5000);
        },
        "::1");
    const ScopedHostResolver names({{"v6.test", "::1"}});
    for (const char* host : {"::1", "v6.test"}) {
        TBaseSocket socket;
        socket.Timeout = 2000;
        socket.Connect(host, server.Port());
        sockaddr_storage peer{};
        socklen_t length = sizeof(peer);
        ASSERT_EQ(0, getpeername(socket.Handle, reinterpret_cast<sockaddr*>(&peer), &length));
        EXPECT_EQ(AF_INET6, peer.ss_family) << host;
        ASSERT_TRUE(socket.WaitForData(5000));
        char text[2];
        EXPECT_EQ(2, socket.ReceiveBuf(text, 2)) << host;
    }
}

TEST(SocketLibTest, RaisedAbortFlagStopsConnectAndSendBeforeTheyStart) {
    std::atomic<bool> abort{true};
    LoopbackHttpServer server([](LoopbackConnection& connection) { connection.ReadRequest(); });
    TBaseSocket socket;
    socket.AbortFlag = &abort;
    EXPECT_EQ("A connection could not be established",
              ErrorOf([&] { socket.Connect("127.0.0.1", server.Port()); }));
    abort = false;
    socket.Connect("127.0.0.1", server.Port());
    abort = true;
    EXPECT_EQ(TBaseSocket::srAborted, socket.SendText("GET / HTTP/1.1\r\n\r\n"));
    socket.Disconnect();
    server.Stop();
    for (const std::string& request : server.Requests())
        EXPECT_EQ("", request);
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
        failed = socket.SendText(text) == TBaseSocket::srFailed;
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
    EXPECT_EQ(TBaseSocket::srSent, socket.SendText(std::string(8 * 1024 * 1024, 'y')));
    socket.Disconnect();
    // SendText returns once the kernel holds the last bytes; stopping the server before its
    // handler has read them would cut the transfer short.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!readToTheEnd && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    server.Stop();
    EXPECT_EQ(8u * 1024 * 1024, received.load());
}
