// Any bytes go through both date decoders, their fallbacks and the zone reader: none may crash or
// raise, and decoded dates stay finite and can be shown.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "dates/NewsDates.h"

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

    const TDateTime rfc = DecodeRfc822Date(text);
    CheckDate(rfc);
    const TDateTime iso = DecodeIsoDate(text);
    CheckDate(iso);
    // Blanks and line breaks around an ISO date never change it.
    Check(DecodeIsoDate(" \n" + text + "\r\n\t") == iso);
    // Each form falls back to the other only when it gives nothing.
    Check(DecodeRfc822OrIsoDate(text) == (rfc != 0 ? rfc : iso));
    Check(DecodeIsoOrRfc822Date(text) == (iso != 0 ? iso : rfc));
    Check(std::isfinite(ZoneOffset(text)));
    const int month = MonthNumber(text);
    Check(month >= 1 && month <= 12);

    std::string_view rest = text;
    const std::string_view token = SplitToken(rest, ":");
    Check(token.size() + rest.size() <= text.size());
    return 0;
}
