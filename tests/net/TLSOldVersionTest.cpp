// A server that speaks only TLS versions older than 1.2, reached with a system configuration that
// allows them. OpenSSL reads its configuration once, at its first use in the process, so this is a
// program of its own: the permissive configuration is in place before anything here uses OpenSSL.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <string>

#include "LoopbackHttpServer.h"
#include "TempDir.h"
#include "TestCertificates.h"
#include "net/HTTPClient.h"
#include "net/TLSSocket.h"

namespace {

// What a system may carry for old servers: every version from TLS 1.0 on, and every cipher.
const char kPermissiveConfig[] = "openssl_conf = init\n"
                                 "[init]\nssl_conf = ssl\n"
                                 "[ssl]\nsystem_default = permissive\n"
                                 "[permissive]\nMinProtocol = TLSv1\nCipherString = DEFAULT@SECLEVEL=0\n";

// A TLS server on loopback that accepts only the one protocol version, answers one request with a
// small feed and closes.
class TOldTlsServer {
public:
    TOldTlsServer(const TestCertificates::TPair& pair, int version) {
        signal(SIGPIPE, SIG_IGN);
        FContext = SSL_CTX_new(TLS_server_method());
        SSL_CTX_set_security_level(FContext, 0);
        SSL_CTX_set_cipher_list(FContext, "DEFAULT@SECLEVEL=0");
        SSL_CTX_set_min_proto_version(FContext, version);
        SSL_CTX_set_max_proto_version(FContext, version);
        SSL_CTX_use_certificate_chain_file(FContext, pair.Certificate.c_str());
        SSL_CTX_use_PrivateKey_file(FContext, pair.Key.c_str(), SSL_FILETYPE_PEM);
        FServer = std::make_unique<LoopbackHttpServer>([this](LoopbackConnection& connection) {
            SSL* ssl = SSL_new(FContext);
            SSL_set_fd(ssl, connection.Handle());
            if (SSL_accept(ssl) == 1) {
                char buffer[4096];
                SSL_read(ssl, buffer, sizeof(buffer));
                const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\n<rss/>";
                SSL_write(ssl, answer.data(), static_cast<int>(answer.size()));
                SSL_shutdown(ssl);
            }
            connection.Close();
            SSL_free(ssl);
        });
    }
    ~TOldTlsServer() {
        FServer.reset();
        SSL_CTX_free(FContext);
    }
    TOldTlsServer(const TOldTlsServer&) = delete;
    TOldTlsServer& operator=(const TOldTlsServer&) = delete;

    int Port() const { return FServer->Port(); }

private:
    SSL_CTX* FContext;
    std::unique_ptr<LoopbackHttpServer> FServer;
};

// The version a plain OpenSSL client of this process agrees on with the server at port, with no
// settings of its own (0 when the handshake fails): shows that the configuration lets the old
// version through, so a refusal comes from the reader itself.
int VersionWithDefaultSettings(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int version = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
        SSL_CTX* context = SSL_CTX_new(TLS_client_method());
        SSL* ssl = SSL_new(context);
        SSL_set_fd(ssl, fd);
        if (SSL_connect(ssl) == 1)
            version = SSL_version(ssl);
        SSL_free(ssl);
        SSL_CTX_free(context);
    }
    ::close(fd);
    return version;
}

class TLSOldVersionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The certificates are made by the openssl command, which must not read the permissive
        // configuration; this process reads it at its first use of OpenSSL, after this.
        TestCertificates::Get();
        Config = new TempDir();
        Environment = new ScopedEnv("OPENSSL_CONF", Config->Write("openssl.cnf", kPermissiveConfig).c_str());
    }
    static void TearDownTestSuite() {
        delete Environment;
        delete Config;
    }
    void SetUp() override {
        if (!Certificates.Ok())
            GTEST_SKIP() << Certificates.Error();
    }

    static TempDir* Config;
    static ScopedEnv* Environment;
    const TestCertificates& Certificates = TestCertificates::Get();
    const ScopedEnv Trust{"SSL_CERT_FILE", Certificates.CAFile.c_str()};
};

TempDir* TLSOldVersionTest::Config = nullptr;
ScopedEnv* TLSOldVersionTest::Environment = nullptr;

} // namespace

TEST_F(TLSOldVersionTest, AServerWithOnlyTLS10Or11IsRefusedWhateverTheSystemAllows) {
    for (const int version : {TLS1_VERSION, TLS1_1_VERSION}) {
        SCOPED_TRACE(version);
        const TOldTlsServer server(Certificates.Good, version);
        ASSERT_EQ(version, VersionWithDefaultSettings(server.Port()))
            << "the permissive configuration did not take effect";

        THTTPClient client;
        client.Secure = true;
        client.Host = "127.0.0.1";
        client.Port = server.Port();
        client.Path = "/feed.xml";
        client.Timeout = 5000;
        client.IdleTimeout = 5000;
        std::string outcome = "(no error)";
        try {
            client.Execute();
        } catch (const ETLSError& e) {
            outcome = e.Message();
        } catch (const Exception& e) {
            outcome = "not a TLS error: " + e.Message();
        }
        EXPECT_EQ(
            "The secure connection to 127.0.0.1 failed: the server supports only TLS versions older than "
            "1.2",
            outcome);
        EXPECT_FALSE(client.Connected);
        EXPECT_EQ(-1, client.Socket.Handle);
    }
}
