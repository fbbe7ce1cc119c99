// The response side of the HTTP client on arbitrary bytes arriving in arbitrary pieces: it may
// reject a response with its messages but never crash, the content decoders stay within their
// bound, and the chunked decoder must give the same result whatever the pieces.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/HTTPClient.h"

namespace {

// Decodes body fed in pieces of the given size; "!" + message when it raises.
std::string DecodeInPieces(const std::string& body, size_t piece, bool& done) {
    detail::TChunkedDecoder decoder;
    done = false;
    try {
        for (size_t at = 0; at < body.size() && !done; at += piece)
            done = decoder.Feed(body.data() + at, std::min(piece, body.size() - at));
    } catch (const Exception& e) {
        return "!" + e.Message();
    }
    return decoder.Body;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const bool head = data[0] & 1;
    const size_t piece = 1 + data[1] % 64;
    const std::string wire(reinterpret_cast<const char*>(data) + 2, size - 2);

    THTTPClient client;
    client.Method = head ? "HEAD" : "GET";
    try {
        bool complete = false;
        for (size_t at = 0; at < wire.size() && !complete; at += piece) {
            client.Buffer.append(wire, at, piece);
            complete = client.ResponseComplete();
        }
        client.ParseResponse();
    } catch (const Exception&) {
        // Rejections are fine; crashes are not.
    }

    // Compressed bodies: rejected or decoded within the bound, never a crash.
    for (const char* coding : {"gzip", "deflate"}) {
        try {
            if (detail::DecodeContent(coding, wire, 1 << 20).size() > (1 << 20))
                std::abort();
        } catch (const Exception&) {
        }
    }

    bool doneWhole = false;
    bool donePieces = false;
    const std::string whole = DecodeInPieces(wire, wire.size() + 1, doneWhole);
    const std::string pieces = DecodeInPieces(wire, piece, donePieces);
    if (whole != pieces || doneWhole != donePieces)
        std::abort();
    return 0;
}
