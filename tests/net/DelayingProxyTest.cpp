#include "DelayingProxy.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "NginxFixture.h"
#include "TempDir.h"
#include "TestCertificates.h"
#include "net/HTTPClient.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kFeed = "<?xml version=\"1.0\"?>\n<rss><channel><title>Relayed</title></channel></rss>\n";

// A plain socket connected to address:port; -1 when the connect fails.
int ConnectPlain(const std::string& address, int port) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &target.sin_addr);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd != -1 && connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof(target)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Waits up to 5 s for condition; whether it came true.
bool Eventually(const std::function<bool()>& condition) {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
    while (!condition() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return condition();
}

void Aim(THTTPClient& client, const DelayingProxy& proxy, const std::string& host, const std::string& path) {
    client.Host = host;
    client.Port = proxy.Port(host);
    client.Path = path;
    client.Timeout = 5000;
    client.IdleTimeout = 5000;
}

class DelayingProxyTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Nginx.Start())
            GTEST_SKIP() << Nginx.Error();
        Nginx.WriteFile("feed.xml", kFeed);
    }

    NginxFixture Nginx;
};

} // namespace

TEST(DelayingProxyHosts, AreDistinctLoopbackAddressesFromTwo) {
    EXPECT_EQ((std::vector<std::string>{"127.0.0.2", "127.0.0.3", "127.0.0.4"}), LoopbackHosts(3));
    EXPECT_TRUE(LoopbackHosts(0).empty());
}

TEST(DelayingProxyHosts, OtherAddressesAreRefused) {
    DelayingProxy outside({"127.0.0.2", "192.0.2.1"}, "127.0.0.1", 80, 0);
    EXPECT_FALSE(outside.Ok());
    EXPECT_NE(std::string::npos, outside.Error().find("192.0.2.1")) << outside.Error();
    DelayingProxy target({"127.0.0.2"}, "192.0.2.1", 80, 0);
    EXPECT_FALSE(target.Ok());
}

TEST_F(DelayingProxyTest, RelaysTheDocumentNoEarlierThanTheDelayAndCountsEachHost) {
    const int delayMs = 300;
    DelayingProxy proxy(LoopbackHosts(2), "127.0.0.1", Nginx.Port(), delayMs);
    ASSERT_TRUE(proxy.Ok()) << proxy.Error();
    EXPECT_NE(proxy.Port("127.0.0.2"), proxy.Port("127.0.0.3"));
    EXPECT_EQ("http://127.0.0.3:" + std::to_string(proxy.Port("127.0.0.3")) + "/a",
              proxy.Url("127.0.0.3", "/a"));
    EXPECT_EQ(0, proxy.Port("127.0.0.9"));

    THTTPClient client;
    Aim(client, proxy, "127.0.0.2", "/feed.xml");
    const Clock::time_point start = Clock::now();
    client.Execute();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_EQ(200, client.StatusCode);
    EXPECT_EQ(kFeed, client.Content);
    EXPECT_GE(elapsed.count(), delayMs - 10);

    // A missing document passes through as nginx answered it.
    proxy.SetDelay(0);
    Aim(client, proxy, "127.0.0.3", "/missing.xml");
    EXPECT_THROW(client.Execute(), EHTTPError);
    EXPECT_EQ(404, client.StatusCode);
    Aim(client, proxy, "127.0.0.3", "/feed.xml");
    client.Execute();
    EXPECT_EQ(kFeed, client.Content);

    EXPECT_EQ(1, proxy.Accepted("127.0.0.2"));
    EXPECT_EQ(2, proxy.Accepted("127.0.0.3"));
    EXPECT_TRUE(Eventually([&proxy] { return proxy.OpenConnections() == 0; }));
    proxy.ResetCounts();
    EXPECT_EQ(0, proxy.Accepted("127.0.0.3"));
    EXPECT_EQ(0, proxy.PeakConnections());
}

TEST_F(DelayingProxyTest, PeaksCountConnectionsOpenAtOnceAndTheEndStopsThem) {
    auto proxy = std::make_unique<DelayingProxy>(LoopbackHosts(3), "127.0.0.1", Nginx.Port(), 0);
    ASSERT_TRUE(proxy->Ok()) << proxy->Error();
    const int first = proxy->Port("127.0.0.2");
    const int second = proxy->Port("127.0.0.3");
    std::vector<int> sockets = {ConnectPlain("127.0.0.2", first), ConnectPlain("127.0.0.2", first),
                                ConnectPlain("127.0.0.2", first), ConnectPlain("127.0.0.3", second)};
    for (int fd : sockets)
        ASSERT_NE(-1, fd);
    ASSERT_TRUE(Eventually([&proxy] { return proxy->OpenConnections() == 4; }));
    EXPECT_EQ(3, proxy->PeakConnections("127.0.0.2"));
    EXPECT_EQ(1, proxy->PeakConnections("127.0.0.3"));
    EXPECT_EQ(4, proxy->PeakConnections());

    // A client that closes ends its relay; the peaks stay.
    close(sockets[0]);
    close(sockets[1]);
    EXPECT_TRUE(Eventually([&proxy] { return proxy->OpenConnections() == 2; }));
    EXPECT_EQ(3, proxy->PeakConnections("127.0.0.2"));
    // A fresh connection after the drop: the peak is the most at once, not the number accepted.
    const int again = ConnectPlain("127.0.0.3", second);
    ASSERT_TRUE(Eventually([&proxy] { return proxy->OpenConnections() == 3; }));
    EXPECT_EQ(4, proxy->PeakConnections());
    EXPECT_EQ(2, proxy->PeakConnections("127.0.0.3"));
    EXPECT_EQ(2, proxy->Accepted("127.0.0.3"));

    // A client that closes one connection and at once opens the next never has two open, even
    // before the relay of the first has woken up.
    const int third = proxy->Port("127.0.0.4");
    int swapped = ConnectPlain("127.0.0.4", third);
    for (int i = 1; i <= 20; ++i) {
        ASSERT_TRUE(Eventually([&proxy, i] { return proxy->Accepted("127.0.0.4") == i; }));
        close(swapped);
        swapped = ConnectPlain("127.0.0.4", third);
    }
    EXPECT_EQ(1, proxy->PeakConnections("127.0.0.4"));
    close(swapped);

    // The end closes the connections still open: their clients read the end.
    proxy.reset();
    char byte;
    EXPECT_EQ(0, recv(sockets[2], &byte, 1, 0));
    EXPECT_EQ(0, recv(again, &byte, 1, 0));
    close(sockets[2]);
    close(sockets[3]);
    close(again);
}

TEST_F(DelayingProxyTest, TlsPassesThroughAndTheCertificateNamesTheTarget) {
    const TestCertificates& certificates = TestCertificates::Get();
    if (!certificates.Ok())
        GTEST_SKIP() << certificates.Error();
    const ScopedEnv trust("SSL_CERT_FILE", certificates.CAFile.c_str());
    NginxFixture nginx;
    nginx.EnableTls(certificates.Good.Certificate, certificates.Good.Key);
    if (!nginx.Start())
        GTEST_SKIP() << nginx.Error();
    nginx.WriteFile("feed.xml", kFeed);
    // 127.0.0.1 itself is a host too: the certificate names that address and no other.
    DelayingProxy proxy({"127.0.0.1", "127.0.0.2"}, "127.0.0.1", nginx.TlsPort(), 50);
    ASSERT_TRUE(proxy.Ok()) << proxy.Error();
    EXPECT_EQ("https://127.0.0.2:" + std::to_string(proxy.Port("127.0.0.2")) + "/x",
              proxy.Url("127.0.0.2", "/x", true));

    THTTPClient client;
    client.Secure = true;
    Aim(client, proxy, "127.0.0.1", "/feed.xml");
    client.Execute();
    EXPECT_EQ(kFeed, client.Content);

    Aim(client, proxy, "127.0.0.2", "/feed.xml");
    try {
        client.Execute();
        FAIL() << "no error";
    } catch (const ETLSError& e) {
        EXPECT_EQ("The secure connection to 127.0.0.2 failed: IP address mismatch", e.Message());
    }
}
