#include "net/HTTPClientInternal.h"

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

} // namespace

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
