#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Parsing helpers of the HTTP client, visible to its tests.
namespace detail {

// The lines of text: a line ends at CR, at LF or at CR LF, and a zero byte ends the whole text.
// A final line without an end counts; "" gives no lines.
std::vector<std::string> SplitLines(const std::string& text);

// Whether a header block declares "chunked" as the last coding of its Transfer-Encoding header
// (name and value without regard to case).
bool DeclaresChunked(const std::string& headerBlock);

// The status code of the status line that begins text ("HTTP/1.1 304 Not Modified" gives
// 304); 0 when it is not "HTTP", a space and three digits followed by a space or the line's end.
int StatusOfHeaderBlock(const std::string& text);

// body decoded from the content codings that the Content-Encoding value codings lists, undone
// last one first: gzip and x-gzip (members one after another), deflate (zlib-wrapped or raw, as
// servers send both) and identity, in any letter case. A list with any other coding leaves body as
// it is. Raises EHTTPError "The server response is too large" as soon as the decoded text would
// pass limit (a bomb is never inflated whole), "The server response is incorrect" for a broken
// or unfinished stream. Bytes after the end of a stream are ignored.
std::string DecodeContent(const std::string& codings, const std::string& body, size_t limit);

// Incremental decoder of the chunked transfer coding, fed the body bytes as they arrive in pieces
// of any size. Chunk extensions and trailers are skipped; a bare LF is accepted as a line end.
class TChunkedDecoder {
public:
    // Appends the data of the chunks in bytes to Body; true once the last chunk and the trailer
    // section have ended (bytes after that are ignored). Raises EHTTPError "The server response
    // is incorrect" for a chunk size that is not hexadecimal or a chunk not ended by a line end.
    bool Feed(const char* bytes, size_t size);
    // Whether the end of the coding has been seen.
    bool Done() const { return FState == sDone; }
    // Starts again with an empty Body.
    void Reset();

    std::string Body;

private:
    enum TState {
        sSize,
        sSizeTail,
        sSizeLF,
        sData,
        sDataCR,
        sDataLF,
        sTrailerStart,
        sTrailer,
        sEndLF,
        sDone
    };
    TState FState = sSize;
    unsigned long long FRemaining = 0;
    int FDigits = 0;
    bool FInExtension = false;
    void StartChunk() {
        FState = sSize;
        FRemaining = 0;
        FDigits = 0;
        FInExtension = false;
    }
};

} // namespace detail
