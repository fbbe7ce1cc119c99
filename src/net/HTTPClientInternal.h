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
