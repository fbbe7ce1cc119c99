// Any bytes go through both date decoders, the zone reader and the URL splitting: none may
// crash or raise, decoded dates stay finite and can be shown, and the URL parts keep
// the shapes the HTTP client relies on.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "news/NewsDates.h"
#include "refresh/CacheFiles.h"
#include "url/Url.h"

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

// Years 1 to 9999, moved by a zone offset of at most about 2^31 hours and minutes; the page
// text must cope with every such value.
void CheckDate(TDateTime value) {
    Check(std::isfinite(value));
    Check(value > -1e8 && value < 1e8);
    if (value != 0)
        FormatNewsDate(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    CheckDate(DecodeRfc822Date(text));
    const TDateTime iso = DecodeIsoDate(text);
    CheckDate(iso);
    // Blanks and line breaks around an ISO date never change it.
    Check(DecodeIsoDate(" \n" + text + "\r\n\t") == iso);
    Check(std::isfinite(ZoneOffset(text)));
    const int month = MonthNumber(text);
    Check(month >= 1 && month <= 12);

    std::string_view rest = text;
    const std::string_view token = SplitToken(rest, ":");
    Check(token.size() + rest.size() <= text.size());

    const std::string host = ExtractURLHost(text);
    // Only a bracketed IPv6 literal gives a host with colons.
    Check(host.find('/') == std::string::npos);
    Check(host.find(':') == std::string::npos || text.find('[') != std::string::npos);
    Check(host.find('\\') == std::string::npos);
    const std::string path = ExtractURLPath(text);
    Check(!path.empty() && path[0] == '/' && path.find(':') == std::string::npos);
    Check(path.find('\\') == std::string::npos);
    ExtractURLPort(text);
    return 0;
}
