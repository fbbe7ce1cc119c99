// Item texts: entity decoding and the UTF-8 check in one pass over the raw text.
#include "news/NewsText.h"

#include <cstring>

#include "news/NewsTypeCls.h"
#include "platform/Charset.h"
#include "xml/XMLNode.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// The decoded text into out when it is valid UTF-8; false (out undefined) at the first invalid
// sequence. The decoded text is never longer than the raw one.
bool DecodeValidUTF8(std::string_view raw, std::string& out) {
    out.resize(raw.size());
    const char* s = raw.data();
    const char* const end = s + raw.size();
    char* to = out.data();
    for (;;) {
#ifdef __SSE2__
        // Sixteen bytes at a time up to the next "&" or byte from 0x80 up. Writing a whole block
        // is safe: the output is never ahead of the input.
        const __m128i amp = _mm_set1_epi8('&');
        while (end - s >= 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to), block);
            const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(block) |
                                                        _mm_movemask_epi8(_mm_cmpeq_epi8(block, amp)));
            if (mask != 0) {
                const unsigned skip = static_cast<unsigned>(__builtin_ctz(mask));
                s += skip;
                to += skip;
                break;
            }
            s += 16;
            to += 16;
        }
#endif
        while (s < end && *s != '&' && static_cast<unsigned char>(*s) < 0x80)
            *to++ = *s++;
        if (s == end)
            break;
        if (*s == '&') {
            s = DecodeEntityAt(s, end, to);
        } else {
            const size_t length = UTF8SequenceLength(reinterpret_cast<const unsigned char*>(s),
                                                     reinterpret_cast<const unsigned char*>(end));
            if (length == 0)
                return false;
            std::memcpy(to, s, length);
            s += length;
            to += length;
        }
    }
    out.resize(static_cast<size_t>(to - out.data()));
    return true;
}

} // namespace

std::string DecodeItemText(std::string_view raw, const std::string& encoding) {
    if (encoding.empty() || encoding == "utf-8") {
        std::string text;
        if (DecodeValidUTF8(raw, text))
            return text;
    }
    return ConvertCharset(DecodeEntities(raw), encoding);
}
