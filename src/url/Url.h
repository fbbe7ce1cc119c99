#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/SysUtils.h"

// Feed and page addresses. Every address the program fetches goes through ParseURL once; nothing
// downstream looks at the raw text again, so a leading blank or a "feed:" prefix cannot mean one
// thing to one part of the program and another to the next.

// A feed address that cannot be fetched: "Invalid feed address: " + DisplayURL(address), or
// "The address holds a password but is not secure".
class EURLError : public Exception {
public:
    using Exception::Exception;
};

// An http or https address, parsed by RFC 3986 from trimmed text.
struct TUrl {
    // "http" or "https".
    std::string Scheme;
    // The credentials written before the authority's last "@" ("https://user:pw@host/"),
    // percent-decoded; empty when none. Never part of Host.
    std::string User;
    std::string Password;
    // Lower-cased, never empty; an IPv6 literal without its brackets ("::1"). Holds no blank, no
    // "%" and none of the characters that end an authority or an HTML attribute.
    std::string Host;
    // The port written, else the scheme's own (80, 443).
    int Port = 80;
    // What the request line carries: the path (always beginning with "/", dot segments removed)
    // and the query, colons kept; spaces, '"', "<", ">" and bytes of 0x80 and above
    // percent-encoded. Never holds a control character or a space.
    std::string PathAndQuery;
    // Without its "#", encoded as the path is; never sent to a server.
    std::string Fragment;

    bool Secure() const { return Scheme == "https"; }
    bool HasCredentials() const { return !User.empty() || !Password.empty(); }
    // The Host header's value: the host (an IPv6 literal in brackets), with ":port" when the port
    // is not the scheme's default.
    std::string HostHeader() const;
    // The normalised address, credentials and fragment included: scheme, credentials
    // percent-encoded, HostHeader(), PathAndQuery, "#" and the fragment when not empty.
    // ParseURL(Text()) gives the same parts back.
    std::string Text() const;
};

// The address in text, trimmed (codes 0-32 at both ends) and parsed by RFC 3986; nullopt for
// anything that is not an http or https address with a host, or that holds a control character
// (bytes 0-31 and 127) anywhere. The scheme in any letter case; "feed://h/x" is "http://h/x",
// "feed:https://h/x" and "feed:http://h/x" are what follows "feed:"; text without a scheme
// ("example.com/rss", "localhost:8080") is read as http. Backslashes before the query count as
// slashes, and "http:/h" names the host h, as in a browser. The credentials end at the last "@"
// of the authority. A port is 1 to 65535 in digits ("h:" takes the scheme's own). Dot segments
// of the path are removed; a space, '"', "<", ">" and bytes from 0x80 in the path, query and
// fragment are percent-encoded (upper-case hex), existing "%XX" kept.
std::optional<TUrl> ParseURL(std::string_view text);

// As ParseURL for an address about to be fetched: raises EURLError "Invalid feed address: " +
// DisplayURL(text) when it does not parse, and "The address holds a password but is not secure"
// for credentials in a plain http address.
TUrl ParseFeedURL(std::string_view text);

// An address as shown to the user (status panel, error texts, tooltips, dialogs): any text, the
// password of its credentials, if any, as "***", and control characters as "%XX".
std::string DisplayURL(std::string_view address);

// The scheme of an absolute reference, lower-cased ("HTTPS://x" gives "https"); "" when it has none.
std::string URLScheme(std::string_view address);

// The address that reference names when found in the document at base, as RFC 3986 resolves it:
// a reference with a scheme as it is (dot segments removed), "//host/x" with base's scheme, "/x"
// on base's host, "x" and "../x" against base's folder, "?q" and "#f" on base's path; dot
// segments removed. Backslashes in base count as slashes; surrounding spaces of reference are
// ignored. Never raises; an empty reference gives base without its fragment.
std::string ResolveURL(const std::string& base, const std::string& reference);
