#include "xml/XMLEntities.h"

#include <cstring>

namespace {

bool StartsWith(const char* at, const char* end, std::string_view word) {
    return static_cast<std::size_t>(end - at) >= word.size() &&
           std::memcmp(at, word.data(), word.size()) == 0;
}

// Decodes the reference at s (an "&" before end) onto to and returns where the text goes on. An
// "&amp;" counts as "&" before the other references are looked for, so "&amp;lt;" gives "<" and
// "&amp;amp;" gives "&": the seven passes come down to one because no reference holds an "&"
// after its first byte.
const char* DecodeEntityAt(const char* s, const char* end, char*& to) {
    static constexpr struct {
        std::string_view Word;
        char Decoded;
    } kReferences[] = {{"lt;", '<'},   {"gt;", '>'},    {"amp;", '&'},
                       {"quot;", '"'}, {"quote;", '"'}, {"apos;", '\''}};
    const char* rest = StartsWith(s + 1, end, "amp;") ? s + 5 : s + 1;
    for (const auto& reference : kReferences) {
        if (StartsWith(rest, end, reference.Word)) {
            *to++ = reference.Decoded;
            return rest + reference.Word.size();
        }
    }
    *to++ = '&';
    return rest;
}

} // namespace

std::string DecodeEntities(std::string_view text) {
    const char* s = text.data();
    const char* const end = s + text.size();
    const void* amp = text.empty() ? nullptr : std::memchr(s, '&', text.size());
    if (!amp)
        return std::string(text);
    // Every reference is longer than what it decodes to.
    std::string result(text.size(), '\0');
    char* to = result.data();
    while (amp) {
        const auto* at = static_cast<const char*>(amp);
        std::memcpy(to, s, static_cast<std::size_t>(at - s));
        to += at - s;
        s = DecodeEntityAt(at, end, to);
        amp = std::memchr(s, '&', static_cast<std::size_t>(end - s));
    }
    std::memcpy(to, s, static_cast<std::size_t>(end - s));
    to += end - s;
    result.resize(static_cast<std::size_t>(to - result.data()));
    return result;
}
