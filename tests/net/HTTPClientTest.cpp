#include "net/HTTPClient.h"

#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "LoopbackHttpServer.h"

using detail::DeclaresChunked;
using detail::DecodeContent;
using detail::SplitLines;
using detail::StatusOfHeaderBlock;
using detail::TChunkedDecoder;

namespace {

const char* const kIncorrect = "The server response is incorrect";
const char* const kTimedOut = "The server did not answer in time";

// The message of whatever the action raises, or "(no error)".
std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no error)";
}

// A client aimed at server with short bounds, so that a fault shows as a time-out, not a hang.
void Aim(THTTPClient& client, const LoopbackHttpServer& server, const std::string& path = "/feed.xml") {
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.Path = path;
    client.Timeout = 2000;
    client.IdleTimeout = 3000;
    client.ExchangeTimeout = 10000;
}

// A server that answers every request with response and then keeps the connection open until
// the client closes it: only a complete response can end the exchange in time.
std::unique_ptr<LoopbackHttpServer> AnswersAndStays(const std::string& response) {
    return std::make_unique<LoopbackHttpServer>([response](LoopbackConnection& connection) {
        connection.ReadRequest();
        connection.Send(response);
        connection.WaitForClientClose(60000);
    });
}

// Runs client.Execute on a thread of its own, raises Aborted once inside() holds, and returns
// what Execute raised. Should Execute not end, unstick ends the hang so the test can fail.
std::string ExecuteAborted(THTTPClient& client, const std::function<bool()>& inside,
                           const std::function<void()>& unstick) {
    std::promise<std::string> outcome;
    std::future<std::string> ended = outcome.get_future();
    std::thread worker([&] { outcome.set_value(ErrorOf([&] { client.Execute(); })); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!inside() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // A moment more for the wait to begin; the outcome is the same if the abort comes earlier.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    client.Aborted = true;
    // A generous watchdog, not a measure: one pass is 100 ms.
    if (ended.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "the exchange went on after the abort";
        unstick();
    }
    worker.join();
    return ended.get();
}

// text compressed as a server would send it: windowBits 31 gzip, 15 zlib-wrapped deflate, -15
// raw deflate.
std::string Compress(const std::string& text, int windowBits) {
    z_stream stream{};
    EXPECT_EQ(Z_OK, deflateInit2(&stream, 9, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY));
    std::string out(deflateBound(&stream, text.size()) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(Z_STREAM_END, deflate(&stream, Z_FINISH));
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::string Chunked(const std::string& body, size_t piece) {
    std::string wire;
    char size[32];
    for (size_t at = 0; at < body.size(); at += piece) {
        const std::string part = body.substr(at, piece);
        std::snprintf(size, sizeof(size), "%zx\r\n", part.size());
        wire += size + part + "\r\n";
    }
    return wire + "0\r\n\r\n";
}

std::string Decode(const std::string& body) {
    TChunkedDecoder decoder;
    EXPECT_TRUE(decoder.Feed(body.data(), body.size())) << body;
    return decoder.Body;
}

} // namespace

// ---- The pieces ----

TEST(HTTPClientTest, DefaultsAndBounds) {
    THTTPClient client;
    EXPECT_EQ(80, client.Port);
    EXPECT_EQ("/", client.Path);
    EXPECT_EQ("GET", client.Method);
    EXPECT_EQ(3128, client.ProxyPort);
    EXPECT_EQ(0, client.Timeout);
    EXPECT_FALSE(client.KeepAlive);
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(-1, client.Socket.Handle);
    EXPECT_EQ(30000, client.IdleTimeout);
    EXPECT_EQ(120000, client.ExchangeTimeout);
    EXPECT_EQ(64u * 1024 * 1024, client.MaxResponseLength);
}

TEST(HTTPClientTest, NameValueListRules) {
    TNameValueList list;
    list.SetValue("Last-Modified", "a");
    list.SetValue("ETag", "b");
    list.SetValue("last-modified", "c");
    ASSERT_EQ(2, list.Count());
    EXPECT_EQ("last-modified=c", list.Strings(0)) << "replaced in place";
    EXPECT_EQ("c", list.Values("LAST-MODIFIED"));
    EXPECT_EQ("", list.Values("Missing"));
    list.SetValue("LAST-modified", "");
    ASSERT_EQ(1, list.Count());
    EXPECT_EQ("ETag", list.Names(0));
    list.SetValue("Missing", "");
    EXPECT_EQ(1, list.Count());
    // The name ends at the first "=", so a value may hold "=" and a name may not.
    list.SetValue("Q", "x=y");
    EXPECT_EQ("x=y", list.Values("q"));
    EXPECT_EQ("List index out of bounds (2)", ErrorOf([&] { list.Strings(2); }));
}

TEST(HTTPClientTest, BuildRequestBytes) {
    THTTPClient client;
    client.Host = "example.org";
    client.Path = "/rss.xml";
    client.BuildRequest();
    EXPECT_EQ("GET /rss.xml HTTP/1.1\r\nHost: example.org\r\nConnection: Close\r\n\r\n", client.Buffer);

    client.Method = "HEAD";
    client.Port = 8080;
    client.KeepAlive = true;
    client.UserAgent = "Tovel/1.0";
    client.BuildRequest();
    EXPECT_EQ("HEAD /rss.xml HTTP/1.1\r\nHost: example.org:8080\r\nConnection: Keep-Alive\r\n"
              "User-Agent: Tovel/1.0\r\n\r\n",
              client.Buffer);

    // An emptied UserAgent leaves the entry stored before.
    client.UserAgent.clear();
    client.Method = "POST";
    client.KeepAlive = false;
    client.PostData = std::string("a\0b\r\n", 5);
    client.ProxyHost = "proxy";
    client.Port = 81;
    client.BuildRequest();
    EXPECT_EQ("POST http://example.org:81/rss.xml HTTP/1.1\r\nHost: example.org:81\r\n"
              "Connection: Close\r\nUser-Agent: Tovel/1.0\r\nContent-Length: 5\r\n\r\n" +
                  client.PostData,
              client.Buffer);

    client.Port = 80;
    client.PostData.clear();
    client.BuildRequest();
    EXPECT_EQ(0u, client.Buffer.find("POST http://example.org/rss.xml HTTP/1.1\r\nHost: example.org\r\n"));

    // An IPv6 literal is written in brackets, on the request line and in the Host header.
    client.Host = "::1";
    client.Port = 8080;
    client.BuildRequest();
    EXPECT_EQ(0u, client.Buffer.find("POST http://[::1]:8080/rss.xml HTTP/1.1\r\nHost: [::1]:8080\r\n"));
    // A secure connection goes to the server itself: no absolute target.
    client.Secure = true;
    client.BuildRequest();
    EXPECT_EQ(0u, client.Buffer.find("POST /rss.xml HTTP/1.1\r\nHost: [::1]:8080\r\n"));
}

// The Host header names the port whenever it is not the scheme's own, so that a server holding
// several sites on one port finds the right one.
TEST(HTTPClientTest, HostHeaderNamesAPortOtherThanTheSchemes) {
    struct TCase {
        const char* Host;
        int Port;
        bool Secure;
        const char* Header;
    } cases[] = {
        {"example.org", 80, false, "example.org"},
        {"example.org", 8080, false, "example.org:8080"},
        {"example.org", 443, false, "example.org:443"},
        {"example.org", 443, true, "example.org"},
        {"example.org", 80, true, "example.org:80"},
        {"example.org", 8443, true, "example.org:8443"},
        {"::1", 80, false, "[::1]"},
        {"::1", 8080, true, "[::1]:8080"},
    };
    for (const TCase& c : cases) {
        THTTPClient client;
        client.Host = c.Host;
        client.Port = c.Port;
        client.Secure = c.Secure;
        client.BuildRequest();
        EXPECT_EQ(0u,
                  client.Buffer.find(std::string("GET / HTTP/1.1\r\nHost: ") + c.Header + "\r\nConnection"))
            << c.Host << " " << c.Port << " " << c.Secure << ": " << client.Buffer;
    }
}

// No control character of a caller's reaches the wire: a line break in the target or a header
// would start a request or header of its own. The request is refused before any connection.
TEST(HTTPClientTest, ControlCharactersInTheRequestAreRefused) {
    struct TCase {
        const char* Name;
        std::function<void(THTTPClient&)> Set;
        const char* Message;
    } cases[] = {
        {"path", [](THTTPClient& c) { c.Path = "/a HTTP/1.1\r\nHost: x\r\n\r\nGET /b"; },
         "The request holds a control character in its target"},
        {"path tab", [](THTTPClient& c) { c.Path = "/a\tb"; },
         "The request holds a control character in its target"},
        {"method", [](THTTPClient& c) { c.Method = "GET\n"; },
         "The request holds a control character in its method"},
        {"host", [](THTTPClient& c) { c.Host = "127.0.0.1\r\nX-A: b"; },
         "The request holds a control character in its host"},
        {"header", [](THTTPClient& c) { c.RequestHeaders.SetValue("If-None-Match", "\"a\"\r\nX-B: c"); },
         "The request holds a control character in its header If-None-Match"},
        {"user agent", [](THTTPClient& c) { c.UserAgent = std::string("Reader\0", 7); },
         "The request holds a control character in its header User-Agent"},
        {"delete", [](THTTPClient& c) { c.RequestHeaders.SetValue("X-A", "b\x7f"); },
         "The request holds a control character in its header X-A"},
    };
    for (const TCase& c : cases) {
        auto server = LoopbackHttpServer::Replying("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        THTTPClient client;
        Aim(client, *server);
        c.Set(client);
        EXPECT_EQ(c.Message, ErrorOf([&] { client.Execute(); })) << c.Name;
        EXPECT_EQ(0, server->Connections()) << c.Name;
        EXPECT_EQ(std::string::npos, client.Buffer.find("\r\n")) << c.Name;
        EXPECT_FALSE(client.Connected) << c.Name;
    }
    // A body is bytes of its own: it may hold anything.
    auto server = LoopbackHttpServer::Replying("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    THTTPClient client;
    Aim(client, *server);
    client.Method = "POST";
    client.PostData = "a\r\nb\x01";
    client.Execute();
    EXPECT_EQ("ok", client.Content);
}

TEST(HTTPClientTest, StatusLines) {
    THTTPClient client;
    client.ParseStatusLine("HTTP/1.1 200 OK");
    EXPECT_EQ(200, client.StatusCode);
    EXPECT_EQ("OK", client.StatusText);
    client.ParseStatusLine("HTTP/1.1 301 Moved Permanently ");
    EXPECT_EQ(301, client.StatusCode);
    EXPECT_EQ("Moved Permanently", client.StatusText);

    EXPECT_EQ("Not Found", ErrorOf([&] { client.ParseStatusLine("HTTP/1.1 404 Not Found"); }));
    EXPECT_EQ(404, client.StatusCode);
    EXPECT_EQ("Internal Server Error",
              ErrorOf([&] { client.ParseStatusLine("HTTP/1.0 500 Internal Server Error"); }));
    for (const char* line : {"HTTP/1.0 200", "ICY 200 OK", "http/1.1 200 OK", "HTTP/1.1", "HTTP/1.1 2x0 OK",
                             "HTTP/1.1  200 OK", "HTT"})
        EXPECT_EQ(kIncorrect, ErrorOf([&] { client.ParseStatusLine(line); })) << line;
}

TEST(HTTPClientTest, LinesAndHeaderFields) {
    EXPECT_EQ((std::vector<std::string>{"a", "b", "", "c", "d"}), SplitLines("a\r\nb\r\rc\nd"));
    EXPECT_EQ((std::vector<std::string>{"a"}), SplitLines(std::string("a\r\n\0b\r\n", 7)));
    EXPECT_TRUE(SplitLines("").empty());

    THTTPClient client;
    client.Buffer = "HTTP/1.1 200 OK\r\nlast-modified: Tue, 15 Nov 1994 12:45:26 GMT\r\n"
                    "X-Tight:value\r\nX-Wide:   spaced \r\n  \r\nNoColon\r\nX-Rep: 1\r\nx-rep: 2\r\n"
                    "X-Gone: 1\r\nX-Gone: \r\n\r\nbody";
    client.ResponseComplete();
    client.ParseResponse();
    EXPECT_EQ("Tue, 15 Nov 1994 12:45:26 GMT", client.ResponseHeaders.Values("Last-Modified"));
    // The byte after the colon is skipped whatever it is, and the value is not trimmed.
    EXPECT_EQ("alue", client.ResponseHeaders.Values("X-Tight"));
    EXPECT_EQ("  spaced ", client.ResponseHeaders.Values("x-wide"));
    EXPECT_EQ("x-rep=2", client.ResponseHeaders.Strings(3));
    EXPECT_EQ("", client.ResponseHeaders.Values("X-Gone"));
    EXPECT_EQ(4, client.ResponseHeaders.Count());
    EXPECT_EQ("body", client.Content);
    EXPECT_EQ("", client.Buffer);
}

TEST(HTTPClientTest, CompletenessByContentLength) {
    THTTPClient client;
    client.Buffer = "HTTP/1.1 200 OK\r\ncontent-length: 3\r\n\r\nab";
    EXPECT_FALSE(client.ResponseComplete());
    EXPECT_EQ(38, client.HeaderLength);
    client.Buffer += "c";
    EXPECT_TRUE(client.ResponseComplete());
    // More bytes than announced: not complete, read until the close.
    client.Buffer += "d";
    EXPECT_FALSE(client.ResponseComplete());

    // Byte by byte, the header block's end is found across the pieces.
    THTTPClient bytewise;
    const std::string wire = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    for (size_t i = 0; i < wire.size(); ++i) {
        bytewise.Buffer += wire[i];
        EXPECT_EQ(i + 1 == wire.size(), bytewise.ResponseComplete()) << i;
    }

    THTTPClient tight;
    tight.Buffer = "HTTP/1.1 200 OK\r\nContent-Length:3\r\n\r\nabc";
    EXPECT_FALSE(tight.ResponseComplete());
    EXPECT_EQ(0, tight.ContentLength);

    THTTPClient head;
    head.Method = "HEAD";
    head.Buffer = "HTTP/1.1 200 OK\r\nContent-Length: 300\r\n";
    EXPECT_FALSE(head.ResponseComplete());
    head.Buffer += "\r\n";
    EXPECT_TRUE(head.ResponseComplete());

    THTTPClient bad;
    bad.Buffer = "HTTP/1.1 200 OK\r\nContent-Length: 12abc \r\n\r\n";
    EXPECT_EQ("'12abc' is not a valid integer value", ErrorOf([&] { bad.ResponseComplete(); }));
}

TEST(HTTPClientTest, AnswersWithoutABodyEndWithTheirHeaderBlock) {
    EXPECT_EQ(304, StatusOfHeaderBlock("HTTP/1.1 304 Not Modified\r\n"));
    EXPECT_EQ(204, StatusOfHeaderBlock("HTTP/1.0 204\r\n"));
    for (const char* line : {"HTTP/1.1 3040 X\r\n", "HTTP/1.1 30 X\r\n", "ICY 200 OK\r\n", "HTTP/1.1", ""})
        EXPECT_EQ(0, StatusOfHeaderBlock(line)) << line;

    for (const char* status : {"204 No Content", "304 Not Modified", "101 Switching Protocols"}) {
        THTTPClient client;
        client.Buffer = std::string("HTTP/1.1 ") + status + "\r\nContent-Length: 50\r\nETag: \"x\"\r\n\r\n";
        EXPECT_TRUE(client.ResponseComplete()) << status;
        client.ParseResponse();
        EXPECT_EQ("", client.Content);
        EXPECT_EQ("\"x\"", client.ResponseHeaders.Values("ETag"));
    }

    // An interim answer is passed over; the real one follows on the same connection.
    THTTPClient client;
    client.Buffer = "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n";
    EXPECT_FALSE(client.ResponseComplete());
    client.Buffer += "ok";
    EXPECT_TRUE(client.ResponseComplete());
    client.ParseResponse();
    EXPECT_EQ(200, client.StatusCode);
    EXPECT_EQ("ok", client.Content);
}

TEST(HTTPClientTest, ContentCodings) {
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "<item><title>News " + std::to_string(i) + "</title></item>\n";
    const size_t limit = 1 << 20;
    EXPECT_EQ(text, DecodeContent("gzip", Compress(text, 31), limit));
    EXPECT_EQ(text, DecodeContent(" X-GZIP ", Compress(text, 31), limit));
    EXPECT_EQ(text, DecodeContent("deflate", Compress(text, 15), limit)) << "zlib-wrapped";
    EXPECT_EQ(text, DecodeContent("Deflate", Compress(text, -15), limit)) << "raw";
    EXPECT_EQ(text, DecodeContent("identity, gzip", Compress(text, 31), limit));
    // Codings undone last one first; gzip members one after another are one body.
    EXPECT_EQ(text, DecodeContent("deflate, gzip", Compress(Compress(text, 15), 31), limit));
    EXPECT_EQ("abcdef", DecodeContent("gzip", Compress("abc", 31) + Compress("def", 31), limit));
    // A coding the client does not know leaves the body as it came.
    EXPECT_EQ("br-bytes", DecodeContent("gzip, br", "br-bytes", limit));

    const std::string gz = Compress(text, 31);
    std::string flipped = gz;
    flipped[gz.size() / 2] = static_cast<char>(flipped[gz.size() / 2] ^ 0x55);
    std::string badCheck = gz;
    badCheck[gz.size() - 6] = static_cast<char>(badCheck[gz.size() - 6] ^ 1);
    for (const std::string& broken : {std::string("plain text"), gz.substr(0, gz.size() / 2),
                                      gz.substr(0, gz.size() - 4), flipped, badCheck})
        EXPECT_EQ(kIncorrect, ErrorOf([&] { DecodeContent("gzip", broken, limit); })) << broken.size();
    EXPECT_EQ(kIncorrect, ErrorOf([&] { DecodeContent("deflate", "\x78\x9c garbage", limit); }));

    // A bomb: 256 MiB of zeros in a quarter of a megabyte stops at the limit.
    const std::string bomb = Compress(std::string(256u << 20, '\0'), 31);
    EXPECT_LT(bomb.size(), 300u * 1024);
    EXPECT_EQ("The server response is too large", ErrorOf([&] { DecodeContent("gzip", bomb, limit); }));
    EXPECT_EQ(limit, DecodeContent("gzip", Compress(std::string(limit, 'x'), 31), limit).size());
}

TEST(HTTPClientTest, ChunkedDecoding) {
    EXPECT_TRUE(DeclaresChunked("HTTP/1.1 200 OK\r\ntransfer-encoding:  Chunked \r\n"));
    EXPECT_TRUE(DeclaresChunked("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n"));
    EXPECT_FALSE(DeclaresChunked("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip\r\n"));
    EXPECT_FALSE(DeclaresChunked("HTTP/1.1 200 OK\r\nX-Transfer-Encoding: chunked\r\n"));

    EXPECT_EQ("Wikipedia in\r\n\r\nchunks.",
              Decode("4\r\nWiki\r\n5;name=\"v\"\r\npedia\r\nE \r\n in\r\n\r\nchunks.\r\n0\r\n\r\n"));
    EXPECT_EQ("abc", Decode("03\r\nabc\r\n0; ext\r\nExpires: never\r\nX: y\r\n\r\n"));
    EXPECT_EQ("abc", Decode("3\nabc\n0\n\n"));

    // Every split into two pieces gives the same body and the same end.
    const std::string wire = "4\r\nWiki\r\n1a;x=1\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\nT: 1\r\n\r\n";
    for (size_t cut = 0; cut <= wire.size(); ++cut) {
        TChunkedDecoder decoder;
        const bool first = decoder.Feed(wire.data(), cut);
        EXPECT_EQ(cut == wire.size(), first) << cut;
        EXPECT_TRUE(decoder.Feed(wire.data() + cut, wire.size() - cut)) << cut;
        EXPECT_EQ("Wikiabcdefghijklmnopqrstuvwxyz", decoder.Body) << cut;
    }

    for (const char* bad : {"\r\n", "g\r\n", "3\r\nabcX\r\n0\r\n\r\n", "3 x\r\nabc\r\n", "3\rabc",
                            "ffffffffffffffffff\r\n", "0\r\n\rX"}) {
        TChunkedDecoder decoder;
        EXPECT_EQ(kIncorrect, ErrorOf([&] { decoder.Feed(bad, std::strlen(bad)); })) << bad;
    }
}

// ---- Exchanges with a scripted server ----

TEST(HTTPClientTest, SendsExactlyTheRequestAndEndsWithContentLength) {
    auto server = AnswersAndStays("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc");
    THTTPClient client;
    Aim(client, *server);
    client.Execute();
    EXPECT_EQ(200, client.StatusCode);
    EXPECT_EQ("OK", client.StatusText);
    EXPECT_EQ("abc", client.Content);
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(-1, client.Socket.Handle);
    ASSERT_EQ(1u, server->Requests().size());
    EXPECT_EQ("GET /feed.xml HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server->Port()) +
                  "\r\nConnection: Close\r\n\r\n",
              server->Requests()[0]);
}

TEST(HTTPClientTest, HeadEndsWithTheHeaderBlock) {
    auto server = AnswersAndStays("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\nLast-Modified: X\r\n\r\n");
    THTTPClient client;
    Aim(client, *server);
    client.Method = "HEAD";
    client.Execute();
    EXPECT_EQ("X", client.ResponseHeaders.Values("last-modified"));
    EXPECT_EQ("", client.Content);
    EXPECT_EQ(0u, server->Requests()[0].find("HEAD /feed.xml HTTP/1.1\r\n"));
}

TEST(HTTPClientTest, ResponsesReadUntilTheClose) {
    struct TCase {
        std::string Response;
        std::string Content;
    };
    const TCase cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length:3\r\n\r\nabcdef", "abcdef"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\nxyz", "xyz"},
        {"HTTP/1.1 200 OK\r\n\r\nno length", "no length"},
        {"HTTP/1.1 301 Moved Permanently\r\nLocation: /new\r\n\r\n<a href=\"/new\">moved</a>",
         "<a href=\"/new\">moved</a>"},
    };
    for (const TCase& c : cases) {
        auto server = LoopbackHttpServer::Replying(c.Response);
        THTTPClient client;
        Aim(client, *server);
        client.Execute();
        EXPECT_EQ(c.Content, client.Content) << c.Response;
    }
}

TEST(HTTPClientTest, ResponsesRejected) {
    struct TCase {
        std::string Response;
        std::string Message;
    };
    const TCase cases[] = {
        {"", kIncorrect},
        {"HTTP/1.1 200 OK\nContent-Length: 3\n\nabc", kIncorrect},
        {"HTTP/1.0 200\r\n\r\n", kIncorrect},
        {"ICY 200 OK\r\n\r\n", kIncorrect},
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found", "Not Found"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", kIncorrect},
        {"HTTP/1.1 200 OK\r\nContent-Length: many\r\n\r\n", "'many' is not a valid integer value"},
        // Cut short by the server before the announced end: no document at all.
        {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort", kIncorrect},
        {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n", kIncorrect},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n3\r\nwor", kIncorrect},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", kIncorrect},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n", kIncorrect},
        // The status outranks the cut.
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 900\r\n\r\nnot", "Not Found"},
    };
    for (const TCase& c : cases) {
        auto server = LoopbackHttpServer::Replying(c.Response);
        THTTPClient client;
        Aim(client, *server);
        EXPECT_EQ(c.Message, ErrorOf([&] { client.Execute(); })) << c.Response;
        EXPECT_FALSE(client.Connected);
        EXPECT_EQ(-1, client.Socket.Handle);
    }
}

TEST(HTTPClientTest, CompressedBodiesAreDecodedAfterTheChunking) {
    const std::string feed =
        "<?xml version=\"1.0\"?><rss><channel>" + std::string(5000, 'n') + "</channel></rss>";
    struct TCase {
        std::string Head;
        std::string Body;
        std::string Expected;
    };
    const std::string gz = Compress(feed, 31);
    const TCase cases[] = {
        {"Content-Encoding: gzip\r\nTransfer-Encoding: chunked", Chunked(gz, 100), feed},
        {"Content-Encoding: deflate\r\nContent-Length: " + std::to_string(Compress(feed, -15).size()),
         Compress(feed, -15), feed},
        {"Content-Encoding: x-gzip\r\nContent-Length: " + std::to_string(gz.size()), gz, feed},
        {"Content-Encoding: gzip\r\nContent-Length: 11", "not gzipped", kIncorrect},
        {"Content-Encoding: gzip\r\nTransfer-Encoding: chunked", Chunked(gz.substr(0, gz.size() - 9), 100),
         kIncorrect},
    };
    for (const TCase& c : cases) {
        auto server = AnswersAndStays("HTTP/1.1 200 OK\r\n" + c.Head + "\r\n\r\n" + c.Body);
        THTTPClient client;
        Aim(client, *server);
        client.RequestHeaders.SetValue("Accept-Encoding", "gzip, deflate");
        if (c.Expected == kIncorrect) {
            EXPECT_EQ(kIncorrect, ErrorOf([&] { client.Execute(); })) << c.Head;
            continue;
        }
        client.Execute();
        EXPECT_EQ(c.Expected, client.Content) << c.Head;
        EXPECT_NE(std::string::npos, server->Requests()[0].find("\r\nAccept-Encoding: gzip, deflate\r\n"));
    }
    // The decoded size is bounded as the response is.
    auto server = LoopbackHttpServer::Replying("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" +
                                               Compress(std::string(64u << 20, ' '), 31));
    THTTPClient client;
    Aim(client, *server);
    client.MaxResponseLength = 1 << 20;
    EXPECT_EQ("The server response is too large", ErrorOf([&] { client.Execute(); }));
}

TEST(HTTPClientTest, NotModifiedWithoutALengthIsCompleteAtOnce) {
    // The server keeps the connection open: only the header block can end the exchange.
    auto server = AnswersAndStays("HTTP/1.1 304 Not Modified\r\nETag: \"v2\"\r\n\r\n");
    THTTPClient client;
    Aim(client, *server);
    client.IdleTimeout = 2000;
    client.Execute();
    EXPECT_EQ(304, client.StatusCode);
    EXPECT_EQ("", client.Content);
    EXPECT_EQ("\"v2\"", client.ResponseHeaders.Values("etag"));
}

TEST(HTTPClientTest, IPv6LiteralHostOnTheLoopback) {
    if (!IPv6LoopbackAvailable())
        GTEST_SKIP() << "::1 cannot be bound here";
    LoopbackHttpServer server(
        [](LoopbackConnection& connection) {
            connection.ReadRequest();
            connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nv6");
        },
        "::1");
    THTTPClient client;
    Aim(client, server);
    client.Host = "::1";
    client.Execute();
    EXPECT_EQ("v6", client.Content);
    EXPECT_EQ("GET /feed.xml HTTP/1.1\r\nHost: [::1]:" + std::to_string(server.Port()) +
                  "\r\nConnection: Close\r\n\r\n",
              server.Requests()[0]);
}

TEST(HTTPClientTest, ChunkedBodyArrivingInPiecesEndsAtItsLastChunk) {
    const std::string body = std::string(3000, 'a') + "<rss/>";
    std::string wire = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 2\r\n\r\n";
    wire += "bb8;ext=1\r\n" + body.substr(0, 3000) + "\r\n6\r\n<rss/>\r\n0\r\nTrailer: t\r\n\r\n";
    LoopbackHttpServer server([wire](LoopbackConnection& connection) {
        connection.ReadRequest();
        connection.Trickle(wire, 700, 5);
        connection.WaitForClientClose(60000);
    });
    THTTPClient client;
    Aim(client, server);
    client.Execute();
    EXPECT_EQ(body, client.Content);
    EXPECT_EQ("chunked", client.ResponseHeaders.Values("Transfer-Encoding"));
}

TEST(HTTPClientTest, ServersThatNeverFinishTimeOut) {
    {
        auto server = LoopbackHttpServer::Silent();
        THTTPClient client;
        Aim(client, *server);
        client.IdleTimeout = 300;
        EXPECT_EQ(kTimedOut, ErrorOf([&] { client.Execute(); }));
        EXPECT_FALSE(client.Connected);
        EXPECT_EQ(-1, client.Socket.Handle);
    }
    {
        // A byte every 20 ms keeps the connection alive, but the whole exchange is bounded.
        LoopbackHttpServer server([](LoopbackConnection& connection) {
            connection.ReadRequest();
            connection.Send("HTTP/1.1 200 OK\r\n\r\n");
            while (connection.Send("x") && connection.Sleep(20)) {
            }
        });
        THTTPClient client;
        Aim(client, server);
        client.IdleTimeout = 5000;
        client.ExchangeTimeout = 400;
        EXPECT_EQ(kTimedOut, ErrorOf([&] { client.Execute(); }));
    }
    {
        // Kept connections are closed too.
        auto server = LoopbackHttpServer::Silent();
        THTTPClient client;
        Aim(client, *server);
        client.KeepAlive = true;
        client.IdleTimeout = 200;
        EXPECT_EQ(kTimedOut, ErrorOf([&] { client.Execute(); }));
        EXPECT_FALSE(client.Connected);
        EXPECT_EQ(-1, client.Socket.Handle);
    }
}

TEST(HTTPClientTest, ResponseOverTheLimitIsRefused) {
    auto server = LoopbackHttpServer::Replying("HTTP/1.1 200 OK\r\n\r\n" + std::string(5000, 'z'));
    THTTPClient client;
    Aim(client, *server);
    client.MaxResponseLength = 4096;
    EXPECT_EQ("The server response is too large", ErrorOf([&] { client.Execute(); }));
    EXPECT_EQ(-1, client.Socket.Handle);
}

TEST(HTTPClientTest, AbortedFromAnotherThreadEndsTheExchange) {
    std::atomic<bool> delivered{false};
    LoopbackHttpServer server([&delivered](LoopbackConnection& connection) {
        connection.ReadRequest();
        connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\npartial");
        // The bytes leave the send queue once the client's side holds them.
        int queued = 1;
        while (ioctl(connection.Handle(), SIOCOUTQ, &queued) == 0 && queued > 0 && connection.Sleep(1)) {
        }
        delivered = true;
        connection.WaitForClientClose(60000);
    });
    THTTPClient client;
    Aim(client, server);
    client.IdleTimeout = 60000;
    client.ExchangeTimeout = 60000;
    client.Connect();
    // A second descriptor of the client's socket shows when the client has read what arrived:
    // the abort comes after that, however the threads are scheduled.
    const int peek = dup(client.Socket.Handle);
    std::thread stopper([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        int waiting = 1;
        while (std::chrono::steady_clock::now() < deadline &&
               (!delivered || (ioctl(peek, FIONREAD, &waiting) == 0 && waiting > 0)))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        client.Aborted = true;
    });
    client.Execute();
    stopper.join();
    close(peek);
    EXPECT_EQ("partial", client.Content);
    EXPECT_EQ(-1, client.Socket.Handle);
}

TEST(HTTPClientTest, AbortStaysUntilTheOwnerClearsIt) {
    auto server = LoopbackHttpServer::Replying("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    THTTPClient client;
    Aim(client, *server);
    // A stop that lands before the exchange starts is not lost: nothing goes out.
    client.Aborted = true;
    EXPECT_NE("(no error)", ErrorOf([&] { client.Execute(); }));
    EXPECT_NE("(no error)", ErrorOf([&] { client.Execute(); }));
    EXPECT_TRUE(server->Requests().empty());
    EXPECT_FALSE(client.Connected);
    client.Aborted = false;
    client.Execute();
    EXPECT_EQ("ok", client.Content);
}

TEST(HTTPClientTest, AbortEndsAConnectTheServerNeverAnswers) {
    auto unanswered = std::make_unique<UnansweredPort>();
    const ScopedHostResolver names({{"feeds.test", "127.0.0.1"}});
    THTTPClient client;
    client.Host = "feeds.test";
    client.Port = unanswered->Port();
    // Without a bound of its own, only the abort can end this connect.
    client.Timeout = 0;
    EXPECT_EQ("A connection could not be established",
              ExecuteAborted(
                  client, [&] { return !names.Asked().empty(); }, [&] { unanswered.reset(); }));
    EXPECT_FALSE(client.Connected);
}

TEST(HTTPClientTest, AbortEndsASendTheServerNeverReads) {
    std::atomic<int> serverEnd{-1};
    std::atomic<bool> clientDone{false};
    LoopbackHttpServer server([&](LoopbackConnection& connection) {
        serverEnd = connection.Handle();
        // Nothing is read until the exchange has ended: the client's send fills every buffer.
        while (!clientDone && connection.Sleep(5)) {
        }
        connection.ReadRequest();
    });
    THTTPClient client;
    Aim(client, server);
    client.IdleTimeout = 60000;
    client.ExchangeTimeout = 60000;
    client.Method = "POST";
    client.PostData = std::string(32 * 1024 * 1024, 'p');
    const auto arrived = [&] {
        int waiting = 0;
        return serverEnd != -1 && ioctl(serverEnd, FIONREAD, &waiting) == 0 && waiting > 0;
    };
    // The receive loop that follows a given-up send ends at once, with no response.
    EXPECT_EQ(kIncorrect, ExecuteAborted(client, arrived, [&] { server.Stop(); }));
    clientDone = true;
    EXPECT_FALSE(client.Connected);
    server.Stop();
    ASSERT_EQ(1u, server.Requests().size());
    EXPECT_LT(server.Requests()[0].size(), client.PostData.size());
}

TEST(HTTPClientTest, SendToAServerThatNeverReadsTimesOut) {
    LoopbackHttpServer server([](LoopbackConnection& connection) {
        while (connection.Sleep(20)) {
        }
    });
    THTTPClient client;
    Aim(client, server);
    client.IdleTimeout = 300;
    client.PostData = std::string(32 * 1024 * 1024, 'p');
    EXPECT_EQ(kTimedOut, ErrorOf([&] { client.Execute(); }));
    EXPECT_EQ(-1, client.Socket.Handle);
}

TEST(HTTPClientTest, KeptConnectionIsReusedUntilTheServerCloses) {
    LoopbackHttpServer server([](LoopbackConnection& connection) {
        for (int i = 0; i < 2; ++i) {
            if (connection.ReadRequest().empty())
                return;
            connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nr" + std::to_string(i));
        }
        // After two answers this server closes the kept connection.
    });
    THTTPClient client;
    Aim(client, server);
    client.KeepAlive = true;
    client.Execute();
    EXPECT_EQ("r0", client.Content);
    EXPECT_TRUE(client.Connected);
    client.Execute();
    EXPECT_EQ("r1", client.Content);
    // Wait until the server's close is visible, then the next exchange needs a new connection.
    ASSERT_TRUE(client.Socket.WaitForData(5000));
    client.Execute();
    EXPECT_EQ("r0", client.Content);
    EXPECT_EQ(2, server.Connections());
    EXPECT_EQ("GET /feed.xml HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) +
                  "\r\nConnection: Keep-Alive\r\n\r\n",
              server.Requests()[1]);
    client.Disconnect();
    EXPECT_FALSE(client.Connected);
}

TEST(HTTPClientTest, ProxyGetsTheConnectionAndTheAbsoluteTarget) {
    auto server = AnswersAndStays("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    THTTPClient client;
    Aim(client, *server);
    client.Host = "feeds.example.invalid";
    client.Port = 81;
    client.ProxyHost = "127.0.0.1";
    client.ProxyPort = server->Port();
    client.Execute();
    EXPECT_EQ("ok", client.Content);
    EXPECT_EQ("GET http://feeds.example.invalid:81/feed.xml HTTP/1.1\r\nHost: feeds.example.invalid:81\r\n"
              "Connection: Close\r\n\r\n",
              server->Requests()[0]);
}

TEST(HTTPClientTest, ServerGoneBeforeTheRequestIsSentIsAnErrorNotACrash) {
    // The server closes at once; a large body meets a reset connection (SIGPIPE without care).
    LoopbackHttpServer server([](LoopbackConnection& connection) { connection.Close(); });
    THTTPClient client;
    Aim(client, server);
    client.Method = "POST";
    client.PostData = std::string(4 * 1024 * 1024, 'p');
    EXPECT_EQ(kIncorrect, ErrorOf([&] { client.Execute(); }));
    EXPECT_FALSE(client.Connected);
}
