// Any bytes go through the address parse and the reference resolution: nothing may crash, a
// parsed address's normalised text parses back to the same parts, and the request line and Host
// header built from it never hold a control character but the line ends the client adds.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "url/Url.h"

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

bool HoldsControl(std::string_view text) {
    for (const char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 32 || b == 127)
            return true;
    }
    return false;
}

bool SameParts(const TUrl& a, const TUrl& b) {
    return a.Scheme == b.Scheme && a.User == b.User && a.Password == b.Password && a.Host == b.Host &&
           a.Port == b.Port && a.PathAndQuery == b.PathAndQuery && a.Fragment == b.Fragment;
}

void CheckAddress(std::string_view text) {
    const std::optional<TUrl> url = ParseURL(text);
    Check(!HoldsControl(DisplayURL(text)));
    if (!url)
        return;
    Check(url->Scheme == "http" || url->Scheme == "https");
    Check(!url->Host.empty());
    Check(url->Port >= 1 && url->Port <= 65535);
    Check(!url->PathAndQuery.empty() && url->PathAndQuery[0] == '/');
    const std::string requestLine = "GET " + url->PathAndQuery + " HTTP/1.1";
    const std::string hostLine = "Host: " + url->HostHeader();
    Check(!HoldsControl(requestLine) && !HoldsControl(hostLine));
    // No space may split the request line into more than three parts.
    Check(url->PathAndQuery.find(' ') == std::string::npos);

    const std::string normal = url->Text();
    const std::optional<TUrl> again = ParseURL(normal);
    Check(again.has_value());
    Check(SameParts(*url, *again));
    Check(again->Text() == normal);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckAddress(text);

    // The base before the first line end, the reference after it: what a feed or a redirect
    // names must be as safe to parse as what the user typed.
    const size_t end = text.find('\n');
    if (end != std::string_view::npos) {
        const std::string base(text.substr(0, end));
        const std::string resolved = ResolveURL(base, std::string(text.substr(end + 1)));
        CheckAddress(base);
        CheckAddress(resolved);
    }
    return 0;
}
