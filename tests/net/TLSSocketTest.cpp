#include "net/TLSSocket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <future>
#include <random>
#include <string>
#include <thread>

#include "LoopbackHttpServer.h"
#include "NginxFixture.h"
#include "TempDir.h"
#include "TestCertificates.h"
#include "net/HTTPClient.h"

namespace {

const char* const kFeed = "<?xml version=\"1.0\"?>\n<rss><channel><title>Secure</title></channel></rss>\n";

// What Execute raised: "tls: " and the message for ETLSError, the bare message for the others,
// "(no error)" when it returned.
std::string Outcome(THTTPClient& client) {
    try {
        client.Execute();
    } catch (const ETLSError& e) {
        return "tls: " + e.Message();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no error)";
}

int LocalPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                               : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

// The server side of TLS for scripted servers: the handshake with the good certificate, then
// the request read and the script run over the session.
class TlsScript {
public:
    // How the server ends after its answer.
    enum TEnd { eStall, eCloseNotify, eBareClose };

    TlsScript(const TestCertificates& certificates, std::string answer, TEnd end, size_t piece = 0)
        : FAnswer(std::move(answer)), FEnd(end), FPiece(piece) {
        // OpenSSL's server side writes with write(): a client that has gone must not end the tests.
        signal(SIGPIPE, SIG_IGN);
        FContext = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_chain_file(FContext, certificates.Good.Certificate.c_str());
        SSL_CTX_use_PrivateKey_file(FContext, certificates.Good.Key.c_str(), SSL_FILETYPE_PEM);
    }
    ~TlsScript() { SSL_CTX_free(FContext); }
    TlsScript(const TlsScript&) = delete;
    TlsScript& operator=(const TlsScript&) = delete;

    // The handler of a LoopbackHttpServer.
    void operator()(LoopbackConnection& connection) const {
        SSL* ssl = SSL_new(FContext);
        SSL_set_fd(ssl, connection.Handle());
        std::string request;
        char buffer[4096];
        if (SSL_accept(ssl) == 1) {
            while (request.find("\r\n\r\n") == std::string::npos) {
                const int n = SSL_read(ssl, buffer, sizeof(buffer));
                if (n <= 0)
                    break;
                request.append(buffer, static_cast<size_t>(n));
            }
            const size_t piece = FPiece == 0 ? FAnswer.size() : FPiece;
            for (size_t at = 0; at < FAnswer.size(); at += piece) {
                SSL_write(ssl, FAnswer.data() + at, static_cast<int>(std::min(piece, FAnswer.size() - at)));
                if (FPiece != 0)
                    connection.Sleep(1);
            }
            if (FEnd == eStall)
                connection.WaitForClientClose(60000);
            else if (FEnd == eCloseNotify)
                SSL_shutdown(ssl);
        }
        connection.Close();
        SSL_free(ssl);
    }

private:
    SSL_CTX* FContext;
    std::string FAnswer;
    TEnd FEnd;
    size_t FPiece;
};

// Trusts the test CA through SSL_CERT_FILE while it lives (clients made afterwards read it).
class TLSSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Certificates.Ok())
            GTEST_SKIP() << Certificates.Error();
        Trust = std::make_unique<ScopedEnv>("SSL_CERT_FILE", Certificates.CAFile.c_str());
    }

    // Starts nginx serving the feed over https with the given certificate.
    bool StartNginx(const TestCertificates::TPair& pair, bool ipv6 = false) {
        Nginx.EnableTls(pair.Certificate, pair.Key);
        if (ipv6)
            Nginx.EnableIPv6();
        if (!Nginx.Start())
            return false;
        Nginx.WriteFile("feed.xml", kFeed);
        return true;
    }

    void Aim(THTTPClient& client, const std::string& host, int port, const std::string& path = "/feed.xml") {
        client.Secure = true;
        client.Host = host;
        client.Port = port;
        client.Path = path;
        client.Timeout = 5000;
        client.IdleTimeout = 5000;
        client.ExchangeTimeout = 20000;
    }

    const TestCertificates& Certificates = TestCertificates::Get();
    std::unique_ptr<ScopedEnv> Trust;
    NginxFixture Nginx;
    // Names resolve here, never through the system.
    ScopedHostResolver Names{{"localhost", "127.0.0.1"}, {"wrong.test", "127.0.0.1"}};
};

} // namespace

TEST_F(TLSSocketTest, AGoodCertificateCarriesTheExchangeByNameAndByAddress) {
    if (!StartNginx(Certificates.Good))
        GTEST_SKIP() << Nginx.Error();
    for (const char* host : {"localhost", "127.0.0.1"}) {
        THTTPClient client;
        Aim(client, host, Nginx.TlsPort());
        client.Execute();
        EXPECT_EQ(200, client.StatusCode) << host;
        EXPECT_EQ(kFeed, client.Content) << host;
        EXPECT_FALSE(client.Connected);
        EXPECT_EQ(-1, client.Socket.Handle);
    }
    // The plain port of the same server is no TLS server.
    THTTPClient plain;
    Aim(plain, "localhost", Nginx.Port());
    EXPECT_EQ(0u, Outcome(plain).find("tls: The secure connection to localhost failed: "));
}

TEST_F(TLSSocketTest, AKeptSecureConnectionServesSeveralRequestsAndLargeBodies) {
    if (!StartNginx(Certificates.Good))
        GTEST_SKIP() << Nginx.Error();
    std::string big(3 * 1024 * 1024 + 17, '\0');
    std::mt19937 random(7);
    for (char& c : big)
        c = static_cast<char>(random());
    Nginx.WriteFile("big.bin", big);
    THTTPClient client;
    Aim(client, "localhost", Nginx.TlsPort(), "/big.bin");
    client.KeepAlive = true;
    client.Execute();
    ASSERT_EQ(big.size(), client.Content.size());
    EXPECT_TRUE(big == client.Content);
    // TLS 1.3 session tickets arrive after the handshake: a readable socket without application
    // data is no close, so the connection is used again.
    const int port = LocalPort(client.Socket.Handle);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    client.Path = "/feed.xml";
    client.Execute();
    EXPECT_EQ(kFeed, client.Content);
    EXPECT_EQ(port, LocalPort(client.Socket.Handle));
    client.Disconnect();
    EXPECT_EQ(-1, client.Socket.Handle);
}

TEST_F(TLSSocketTest, InvalidCertificatesAreRefusedWithTheirReason) {
    struct TCase {
        const TestCertificates::TPair& Pair;
        std::string Host;
        std::string Reason;
    };
    const TCase cases[] = {
        {Certificates.WrongHost, "localhost", "hostname mismatch"},
        {Certificates.Good, "wrong.test", "hostname mismatch"},
        {Certificates.WrongHost, "127.0.0.1", "IP address mismatch"},
        // The subject's common name is never taken for a host name.
        {Certificates.CommonNameOnly, "localhost", "hostname mismatch"},
        {Certificates.Expired, "localhost", "certificate has expired"},
        {Certificates.SelfSigned, "localhost", "self-signed certificate"},
    };
    for (const TCase& c : cases) {
        NginxFixture nginx;
        nginx.EnableTls(c.Pair.Certificate, c.Pair.Key);
        if (!nginx.Start())
            GTEST_SKIP() << nginx.Error();
        THTTPClient client;
        Aim(client, c.Host, nginx.TlsPort());
        EXPECT_EQ("tls: The secure connection to " + c.Host + " failed: " + c.Reason, Outcome(client))
            << c.Pair.Certificate;
        EXPECT_FALSE(client.Connected);
        EXPECT_EQ(-1, client.Socket.Handle);
    }
}

TEST_F(TLSSocketTest, TheCAIsFoundThroughTheEnvironmentOnly) {
    if (!StartNginx(Certificates.Good))
        GTEST_SKIP() << Nginx.Error();
    TempDir empty;
    {
        // Neither the system's store nor an empty folder knows the test CA.
        const ScopedEnv file("SSL_CERT_FILE", empty.Write("none.pem", "").c_str());
        const ScopedEnv dir("SSL_CERT_DIR", empty.Path().c_str());
        THTTPClient client;
        Aim(client, "localhost", Nginx.TlsPort());
        EXPECT_EQ("tls: The secure connection to localhost failed: unable to get local issuer certificate",
                  Outcome(client));
    }
    {
        // A hashed folder holding it, as SSL_CERT_DIR gives it.
        const ScopedEnv file("SSL_CERT_FILE", empty.File("none.pem").c_str());
        const ScopedEnv dir("SSL_CERT_DIR", Certificates.CADir.c_str());
        THTTPClient client;
        Aim(client, "localhost", Nginx.TlsPort());
        client.Execute();
        EXPECT_EQ(kFeed, client.Content);
    }
}

TEST_F(TLSSocketTest, AnIPv6LiteralIsCheckedAgainstTheCertificatesAddresses) {
    if (!IPv6LoopbackAvailable())
        GTEST_SKIP() << "::1 cannot be bound here";
    if (!StartNginx(Certificates.Good, true))
        GTEST_SKIP() << Nginx.Error();
    THTTPClient client;
    Aim(client, "::1", Nginx.TlsPort());
    client.Execute();
    EXPECT_EQ(kFeed, client.Content);
    sockaddr_storage peer{};
    socklen_t length = sizeof(peer);
    client.KeepAlive = true;
    client.Execute();
    ASSERT_EQ(0, getpeername(client.Socket.Handle, reinterpret_cast<sockaddr*>(&peer), &length));
    EXPECT_EQ(AF_INET6, peer.ss_family);
    client.Disconnect();
}

TEST_F(TLSSocketTest, HandshakesThatDoNotFinishAreBoundedAndCanBeAborted) {
    // A server that takes the connection and never says a word.
    std::atomic<bool> helloArrived{false};
    LoopbackHttpServer server([&](LoopbackConnection& connection) {
        char byte;
        while (!connection.Stopping() && recv(connection.Handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT) != 1)
            connection.Sleep(2);
        helloArrived = true;
        connection.WaitForClientClose(60000);
    });
    {
        THTTPClient client;
        Aim(client, "127.0.0.1", server.Port());
        client.Timeout = 300;
        EXPECT_EQ("tls: The secure connection to 127.0.0.1 failed: the server did not complete the handshake "
                  "in time",
                  Outcome(client));
        EXPECT_EQ(-1, client.Socket.Handle);
    }
    helloArrived = false;
    THTTPClient client;
    Aim(client, "127.0.0.1", server.Port());
    // Without a connect bound the idle bound holds; here only the abort can end it.
    client.Timeout = 0;
    client.IdleTimeout = 60000;
    std::promise<std::string> outcome;
    std::future<std::string> ended = outcome.get_future();
    std::thread worker([&] { outcome.set_value(Outcome(client)); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!helloArrived && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    client.Aborted = true;
    // A generous watchdog, not a measure: the handshake looks at the flag every 100 ms.
    if (ended.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "the handshake went on after the abort";
        server.Stop();
    }
    worker.join();
    EXPECT_EQ("A connection could not be established", ended.get());
    EXPECT_FALSE(client.Connected);
}

TEST_F(TLSSocketTest, TheExchangeRulesHoldOverTLSAsOverPlainConnections) {
    const std::string body = std::string(20000, 'x') + "</rss>";
    const std::string whole =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    struct TCase {
        std::string Answer;
        TlsScript::TEnd End;
        size_t Piece;
        std::string Expected;
    };
    const TCase cases[] = {
        // Complete by its length while the server keeps the session open.
        {whole, TlsScript::eStall, 0, body},
        // Read until the end of the session, in many small records.
        {"HTTP/1.1 200 OK\r\n\r\n" + body, TlsScript::eCloseNotify, 997, body},
        {"HTTP/1.1 200 OK\r\n\r\n" + body, TlsScript::eBareClose, 0, body},
        // Cut short, with or without a close_notify.
        {whole.substr(0, whole.size() - 10), TlsScript::eCloseNotify, 0, "The server response is incorrect"},
        {whole.substr(0, whole.size() - 10), TlsScript::eBareClose, 0, "The server response is incorrect"},
        // Nothing after the handshake and the request.
        {"", TlsScript::eStall, 0, "The server did not answer in time"},
    };
    for (const TCase& c : cases) {
        const TlsScript script(Certificates, c.Answer, c.End, c.Piece);
        LoopbackHttpServer server([&script](LoopbackConnection& connection) { script(connection); });
        THTTPClient client;
        Aim(client, "localhost", server.Port());
        client.IdleTimeout = 500;
        const std::string outcome = Outcome(client);
        EXPECT_EQ(c.Expected, outcome == "(no error)" ? client.Content : outcome)
            << c.Answer.size() << " " << c.End;
        EXPECT_EQ(-1, client.Socket.Handle);
    }

    {
        // A kept connection that the server has left with a close_notify is seen as closed, and
        // the next exchange is made on a new one.
        const TlsScript script(Certificates, whole, TlsScript::eCloseNotify);
        LoopbackHttpServer server([&script](LoopbackConnection& connection) { script(connection); });
        THTTPClient client;
        Aim(client, "localhost", server.Port());
        client.KeepAlive = true;
        client.Execute();
        EXPECT_TRUE(client.Connected);
        ASSERT_TRUE(client.Socket.WaitForData(5000));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        client.Execute();
        EXPECT_EQ(body, client.Content);
        EXPECT_EQ(2, server.Connections());
        client.Disconnect();
    }

    if (!StartNginx(Certificates.Good))
        GTEST_SKIP() << Nginx.Error();
    // The size limit holds over TLS as well.
    Nginx.WriteFile("big.bin", std::string(200000, 'b'));
    THTTPClient limited;
    Aim(limited, "localhost", Nginx.TlsPort(), "/big.bin");
    limited.MaxResponseLength = 100000;
    EXPECT_EQ("The server response is too large", Outcome(limited));
}
