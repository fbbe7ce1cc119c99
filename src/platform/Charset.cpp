#include "platform/Charset.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <utility>

#include "platform/SysUtils.h"

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence at s, with end the end of the text: 1 for ASCII,
// 0 when there is none (a stray or cut sequence, overlong forms, surrogates and code points above
// U+10FFFF).
size_t UTF8SequenceLength(const unsigned char* s, const unsigned char* end) {
    const unsigned char c = *s;
    if (c < 0x80)
        return 1;
    size_t length;
    unsigned lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        lo = c == 0xE0 ? 0xA0 : 0x80;
        hi = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        lo = c == 0xF0 ? 0x90 : 0x80;
        hi = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (static_cast<size_t>(end - s) < length || s[1] < lo || s[1] > hi)
        return 0;
    for (size_t k = 2; k < length; ++k)
        if (s[k] < 0x80 || s[k] > 0xBF)
            return 0;
    return length;
}

bool IsUTF8Name(const std::string& charset) {
    return SameTextAscii(charset, "utf-8") || SameTextAscii(charset, "utf8");
}

// The bytes of one code unit of the character set: 4 for UTF-32 and UCS-4, 2 for UTF-16 and
// UCS-2, else 1. A unit that the converter refuses is skipped whole, so that the text after it
// is read in step.
size_t CodeUnitSize(const std::string& charset) {
    const std::string name = UpperCaseAscii(charset);
    if (name.rfind("UTF-32", 0) == 0 || name.rfind("UTF32", 0) == 0 || name.rfind("UCS-4", 0) == 0)
        return 4;
    if (name.rfind("UTF-16", 0) == 0 || name.rfind("UTF16", 0) == 0 || name.rfind("UCS-2", 0) == 0)
        return 2;
    return 1;
}

// One iconv descriptor, closed at the end of the scope.
class TIconv {
public:
    explicit TIconv(const std::string& charset) : FHandle(iconv_open("UTF-8", charset.c_str())) {}
    ~TIconv() {
        if (Valid())
            iconv_close(FHandle);
    }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;

    bool Valid() const { return FHandle != reinterpret_cast<iconv_t>(-1); }
    iconv_t Handle() const { return FHandle; }

private:
    iconv_t FHandle;
};

} // namespace

std::string SanitizeUTF8(std::string text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    // Most feeds are valid: hand back the text itself unless something needs replacing. Runs of
    // ASCII go eight bytes at a time.
    while (i < n) {
        while (i + 8 <= n) {
            uint64_t word;
            std::memcpy(&word, s + i, 8);
            if (word & 0x8080808080808080ull)
                break;
            i += 8;
        }
        if (i >= n)
            break;
        const size_t len = UTF8SequenceLength(s + i, s + n);
        if (len == 0)
            break;
        i += len;
    }
    if (i == n)
        return text;
    std::string out(text, 0, i);
    out.reserve(n + 16);
    while (i < n) {
        const size_t len = UTF8SequenceLength(s + i, s + n);
        if (len == 0) {
            out += kReplacement;
            ++i;
        } else {
            out.append(text, i, len);
            i += len;
        }
    }
    return out;
}

bool IsKnownCharset(const std::string& charset) {
    if (charset.empty())
        return false;
    if (IsUTF8Name(charset))
        return true;
    return TIconv(charset).Valid();
}

std::string CharsetToUTF8(const std::string& text, const std::string& charset) {
    if (IsUTF8Name(charset))
        return SanitizeUTF8(text);
    if (charset.empty())
        return text;
    TIconv conv(charset);
    if (!conv.Valid())
        return text;
    if (text.empty())
        return text;

    const size_t unit = CodeUnitSize(charset);
    std::string out;
    out.resize(text.size() * 2 + 16);
    // iconv takes non-const input on glibc; it never writes through it.
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    size_t written = 0;
    while (inLeft > 0) {
        char* outPtr = &out[written];
        size_t outLeft = out.size() - written;
        const size_t rc = iconv(conv.Handle(), &in, &inLeft, &outPtr, &outLeft);
        written = out.size() - outLeft;
        if (rc != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
        } else if (errno == EILSEQ) {
            // A code unit the character set does not define (a byte, a lone surrogate, a value
            // above U+10FFFF): mark it and go on after it.
            const size_t skipped = std::min(unit, inLeft);
            out.resize(written);
            out += kReplacement;
            written = out.size();
            out.resize(written + inLeft * 2 + 16);
            in += skipped;
            inLeft -= skipped;
        } else {
            // EINVAL: the text ends inside a multi-byte sequence.
            out.resize(written);
            out += kReplacement;
            written = out.size();
            inLeft = 0;
        }
    }
    // Flush any shift state (stateful encodings such as ISO-2022-JP).
    for (;;) {
        if (out.size() - written < 16)
            out.resize(written + 16);
        char* outPtr = &out[written];
        size_t outLeft = out.size() - written;
        const size_t rc = iconv(conv.Handle(), nullptr, nullptr, &outPtr, &outLeft);
        written = out.size() - outLeft;
        if (rc != static_cast<size_t>(-1) || errno != E2BIG)
            break;
        out.resize(out.size() * 2);
    }
    out.resize(written);
    // The converter's output is UTF-8 already; this also guards against converters that pass
    // bytes through.
    return SanitizeUTF8(std::move(out));
}

std::string CharsetParameter(std::string_view contentType) {
    // The media type itself comes before the first ";".
    size_t start = contentType.find(';');
    while (start != std::string_view::npos) {
        const size_t end = contentType.find(';', start + 1);
        const std::string_view parameter =
            contentType.substr(start + 1, end == std::string_view::npos ? end : end - start - 1);
        start = end;
        const size_t equals = parameter.find('=');
        if (equals == std::string_view::npos ||
            LowerCaseAscii(std::string(TrimView(parameter.substr(0, equals)))) != "charset")
            continue;
        std::string_view value = TrimView(parameter.substr(equals + 1));
        if (!value.empty() && (value.front() == '"' || value.front() == '\''))
            value.remove_prefix(1);
        if (!value.empty() && (value.back() == '"' || value.back() == '\''))
            value.remove_suffix(1);
        return LowerCaseAscii(std::string(TrimView(value)));
    }
    return std::string();
}
