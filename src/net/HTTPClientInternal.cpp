#include "net/HTTPClientInternal.h"

#include <zlib.h>

#include <algorithm>

#include "net/HTTPClient.h"
#include "platform/SysUtils.h"

namespace detail {

namespace {

[[noreturn]] void Malformed() {
    throw EHTTPError("The server response is incorrect");
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The decoded text of one zlib stream format (windowBits as inflateInit2 takes it); gzip members
// that follow one another are decoded one after another.
std::string Inflate(const std::string& input, int windowBits, size_t limit) {
    z_stream stream{};
    if (inflateInit2(&stream, windowBits) != Z_OK)
        throw EHTTPError("The server response is incorrect");
    struct TEnd {
        z_stream& Stream;
        ~TEnd() { inflateEnd(&Stream); }
    } end{stream};
    const bool gzip = windowBits > 15;
    std::string output;
    size_t used = 0;
    for (;;) {
        // zlib counts in 32 bits: the input goes in in slices.
        if (stream.avail_in == 0 && used < input.size()) {
            const size_t slice = std::min<size_t>(input.size() - used, 1u << 30);
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data() + used));
            stream.avail_in = static_cast<uInt>(slice);
            used += slice;
        }
        const size_t old = output.size();
        const size_t room = 64 * 1024;
        output.resize(old + room);
        stream.next_out = reinterpret_cast<Bytef*>(&output[old]);
        stream.avail_out = static_cast<uInt>(room);
        const int r = inflate(&stream, Z_NO_FLUSH);
        output.resize(old + room - stream.avail_out);
        if (output.size() > limit)
            throw EHTTPError("The server response is too large");
        if (r == Z_STREAM_END) {
            const size_t left = stream.avail_in + (input.size() - used);
            const size_t at = input.size() - left;
            if (gzip && left >= 2 && static_cast<unsigned char>(input[at]) == 0x1f &&
                static_cast<unsigned char>(input[at + 1]) == 0x8b) {
                inflateReset(&stream);
                continue;
            }
            return output;
        }
        // Z_BUF_ERROR with room to write means the input ended before the stream did.
        if (r != Z_OK)
            throw EHTTPError("The server response is incorrect");
    }
}

} // namespace

int StatusOfHeaderBlock(const std::string& text) {
    if (text.compare(0, 4, "HTTP") != 0)
        return 0;
    const size_t space = text.find(' ');
    if (space == std::string::npos || text.size() < space + 4)
        return 0;
    int status = 0;
    for (size_t i = space + 1; i < space + 4; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return 0;
        status = status * 10 + (text[i] - '0');
    }
    const char after = text.size() > space + 4 ? text[space + 4] : '\r';
    return after == ' ' || after == '\r' || after == '\n' ? status : 0;
}

std::string DecodeContent(const std::string& codings, const std::string& body, size_t limit) {
    std::vector<std::string> list;
    size_t from = 0;
    for (;;) {
        const size_t comma = codings.find(',', from);
        const std::string coding = LowerCaseAscii(Trim(codings.substr(from, comma - from)));
        if (coding == "gzip" || coding == "x-gzip" || coding == "deflate")
            list.push_back(coding);
        else if (!coding.empty() && coding != "identity")
            return body;
        if (comma == std::string::npos)
            break;
        from = comma + 1;
    }
    std::string text = body;
    for (auto coding = list.rbegin(); coding != list.rend(); ++coding) {
        int windowBits = 16 + MAX_WBITS;
        if (*coding == "deflate") {
            // A zlib header: method 8, a window of at most 32 KiB, and a check of 31.
            const bool wrapped =
                text.size() >= 2 && (static_cast<unsigned char>(text[0]) & 0x8f) == 0x08 &&
                ((static_cast<unsigned char>(text[0]) << 8) | static_cast<unsigned char>(text[1])) % 31 == 0;
            windowBits = wrapped ? MAX_WBITS : -MAX_WBITS;
        }
        text = Inflate(text, windowBits, limit);
    }
    return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    const size_t end = std::min(text.find('\0'), text.size());
    size_t i = 0;
    while (i < end) {
        size_t j = i;
        while (j < end && text[j] != '\r' && text[j] != '\n')
            ++j;
        lines.push_back(text.substr(i, j - i));
        if (j < end && text[j] == '\r')
            ++j;
        if (j < end && text[j] == '\n')
            ++j;
        i = j;
    }
    return lines;
}

bool DeclaresChunked(const std::string& headerBlock) {
    bool chunked = false;
    const std::vector<std::string> lines = SplitLines(headerBlock);
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const size_t colon = line.find(':');
        if (colon == std::string::npos || !SameTextAscii(Trim(line.substr(0, colon)), "Transfer-Encoding"))
            continue;
        // The codings are listed in the order they were applied; chunked must come last.
        std::string value = LowerCaseAscii(Trim(line.substr(colon + 1)));
        const size_t comma = value.rfind(',');
        if (comma != std::string::npos)
            value = Trim(value.substr(comma + 1));
        chunked = value == "chunked";
    }
    return chunked;
}

void TChunkedDecoder::Reset() {
    Body.clear();
    FState = sSize;
    FRemaining = 0;
    FDigits = 0;
    FInExtension = false;
}

bool TChunkedDecoder::Feed(const char* bytes, size_t size) {
    size_t i = 0;
    while (i < size && FState != sDone) {
        const char c = bytes[i];
        switch (FState) {
        case sSize: {
            const int h = HexValue(c);
            if (h < 0) {
                if (FDigits == 0)
                    Malformed();
                FState = sSizeTail;
                break;
            }
            // A size beyond 2^56 cannot be real and would overflow.
            if (FRemaining >> 56)
                Malformed();
            FRemaining = FRemaining * 16 + static_cast<unsigned>(h);
            ++FDigits;
            ++i;
            break;
        }
        case sSizeTail:
            // Whitespace may follow the size, and everything after ";" is an extension.
            if (c == '\r')
                FState = sSizeLF;
            else if (c == '\n')
                FState = FRemaining == 0 ? sTrailerStart : sData;
            else if (c == ';')
                FInExtension = true;
            else if (!FInExtension && c != ' ' && c != '\t')
                Malformed();
            ++i;
            break;
        case sSizeLF:
            if (c != '\n')
                Malformed();
            FState = FRemaining == 0 ? sTrailerStart : sData;
            ++i;
            break;
        case sData: {
            const size_t take = static_cast<size_t>(std::min<unsigned long long>(FRemaining, size - i));
            Body.append(bytes + i, take);
            i += take;
            FRemaining -= take;
            if (FRemaining == 0)
                FState = sDataCR;
            break;
        }
        case sDataCR:
            if (c == '\r')
                FState = sDataLF;
            else if (c == '\n')
                StartChunk();
            else
                Malformed();
            ++i;
            break;
        case sDataLF:
            if (c != '\n')
                Malformed();
            StartChunk();
            ++i;
            break;
        case sTrailerStart:
            // An empty line ends the trailer section; any other line is a trailer field.
            if (c == '\r')
                FState = sEndLF;
            else if (c == '\n')
                FState = sDone;
            else
                FState = sTrailer;
            ++i;
            break;
        case sTrailer:
            if (c == '\n')
                FState = sTrailerStart;
            ++i;
            break;
        case sEndLF:
            if (c != '\n')
                Malformed();
            FState = sDone;
            ++i;
            break;
        case sDone:
            break;
        }
    }
    return FState == sDone;
}

} // namespace detail
