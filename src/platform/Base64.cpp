#include "platform/Base64.h"

#include <algorithm>

namespace {

// The 6-bit value of a base64 character; -1 for a blank, which is skipped, -2 for anything else.
int SextetOf(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v')
        return -1;
    return -2;
}

} // namespace

std::string DecodeBase64(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3 + 2);
    unsigned bits = 0;
    int pending = 0;
    for (char c : text) {
        const int sextet = SextetOf(c);
        if (sextet == -1)
            continue;
        if (sextet < 0)
            break;
        bits = (bits << 6 | static_cast<unsigned>(sextet)) & 0xFFFu;
        pending += 6;
        // Each 8 bits gathered are a byte; the bits of a lone last character make none.
        if (pending >= 8) {
            pending -= 8;
            bytes += static_cast<char>((bits >> pending) & 0xFFu);
        }
    }
    return bytes;
}

std::string EncodeBase64(std::string_view bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        unsigned group = 0;
        for (size_t k = 0; k < 3; ++k)
            group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k)
            text += k <= n ? kDigits[(group >> (18 - 6 * k)) & 63] : '=';
    }
    return text;
}
