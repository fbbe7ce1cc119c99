#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <random>
#include <string>

#include "NginxFixture.h"
#include "net/HTTPClient.h"

namespace {

// Tue, 15 Nov 1994 12:45:26 GMT.
const time_t kModified = 784903526;

// The local port of a connected socket; 0 when it has none.
int LocalPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

class HTTPClientNginxTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Nginx.Start())
            GTEST_SKIP() << Nginx.Error();
    }

    // Writes a served file with a known modification time.
    void Serve(const std::string& name, const std::string& bytes) {
        const std::string path = Nginx.WriteFile(name, bytes);
        const timespec times[2] = {{kModified, 0}, {kModified, 0}};
        ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
    }

    void Aim(THTTPClient& client, const std::string& path) {
        client.Host = "127.0.0.1";
        client.Port = Nginx.Port();
        client.Path = path;
        client.Timeout = 5000;
        client.IdleTimeout = 5000;
    }

    NginxFixture Nginx;
};

} // namespace

TEST_F(HTTPClientNginxTest, GetAndHeadOfAFeed) {
    const std::string feed = "<?xml version=\"1.0\"?>\n<rss><channel><title>T</title></channel></rss>\n";
    Serve("feed.xml", feed);

    THTTPClient client;
    Aim(client, "/feed.xml");
    client.Execute();
    EXPECT_EQ(200, client.StatusCode);
    EXPECT_EQ("OK", client.StatusText);
    EXPECT_EQ(feed, client.Content);
    EXPECT_EQ("Tue, 15 Nov 1994 12:45:26 GMT", client.ResponseHeaders.Values("LAST-MODIFIED"));
    EXPECT_EQ(std::to_string(feed.size()), client.ResponseHeaders.Values("content-length"));

    client.Method = "HEAD";
    client.Execute();
    EXPECT_EQ(200, client.StatusCode);
    EXPECT_EQ("", client.Content);
    EXPECT_EQ("Tue, 15 Nov 1994 12:45:26 GMT", client.ResponseHeaders.Values("Last-Modified"));
    EXPECT_FALSE(client.Connected);
}

TEST_F(HTTPClientNginxTest, MissingFileRaisesTheReasonPhrase) {
    THTTPClient client;
    Aim(client, "/missing.xml");
    try {
        client.Execute();
        FAIL() << "no error";
    } catch (const EHTTPError& e) {
        EXPECT_EQ("Not Found", e.Message());
    }
    EXPECT_EQ(404, client.StatusCode);
    EXPECT_FALSE(client.Connected);
}

TEST_F(HTTPClientNginxTest, OneMegabyteArrivesByteForByte) {
    std::string bytes(1024 * 1024, '\0');
    std::mt19937 random(42);
    for (char& c : bytes)
        c = static_cast<char>(random());
    Serve("big.bin", bytes);
    THTTPClient client;
    Aim(client, "/big.bin");
    client.Execute();
    ASSERT_EQ(bytes.size(), client.Content.size());
    EXPECT_TRUE(bytes == client.Content);
}

TEST_F(HTTPClientNginxTest, KeptConnectionServesSeveralRequests) {
    Serve("a.xml", "first");
    Serve("b.xml", "second");
    THTTPClient client;
    Aim(client, "/a.xml");
    client.KeepAlive = true;
    client.Execute();
    EXPECT_EQ("first", client.Content);
    // A new connection could get the same descriptor number, never the same local port.
    const int port = LocalPort(client.Socket.Handle);
    client.Path = "/b.xml";
    client.Execute();
    EXPECT_EQ("second", client.Content);
    EXPECT_EQ(port, LocalPort(client.Socket.Handle));
    client.Disconnect();
}

TEST_F(HTTPClientNginxTest, GzipAnswersAreDecodedAndOnlyGivenWhenAsked) {
    NginxFixture nginx;
    nginx.EnableGzip();
    if (!nginx.Start())
        GTEST_SKIP() << nginx.Error();
    std::string feed = "<?xml version=\"1.0\"?>\n<rss><channel>";
    for (int i = 0; i < 500; ++i)
        feed += "<item><title>Item " + std::to_string(i) + "</title></item>\n";
    feed += "</channel></rss>\n";
    nginx.WriteFile("feed.xml", feed);

    THTTPClient client;
    client.Host = "127.0.0.1";
    client.Port = nginx.Port();
    client.Path = "/feed.xml";
    client.Timeout = 5000;
    client.IdleTimeout = 5000;
    // The bare client asks for no coding, and gets none.
    client.Execute();
    EXPECT_EQ("", client.ResponseHeaders.Values("Content-Encoding"));
    EXPECT_EQ(feed, client.Content);

    client.RequestHeaders.SetValue("Accept-Encoding", "gzip, deflate");
    client.Execute();
    EXPECT_EQ("gzip", client.ResponseHeaders.Values("Content-Encoding"));
    EXPECT_EQ("chunked", client.ResponseHeaders.Values("Transfer-Encoding"));
    EXPECT_EQ(feed, client.Content);
}
