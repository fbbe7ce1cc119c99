#include <iostream>
#include <string>

#include "Inspect.h"
#include "dates/NewsDates.h"
#include "url/Url.h"

// One JSON line per line of standard input (its "\n" or "\r\n" removed): the text and what both
// date decoders make of it, 0 for a failure.
int CmdDates(const TArgs& args) {
    if (!args.empty()) {
        std::cerr << "Usage: tovel-inspect dates < LINES\n";
        return 2;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        PrintJson(
            Json{{"text", JsonText(line)}, {"rfc822", DecodeRfc822Date(line)}, {"iso", DecodeIsoDate(line)}});
    }
    return 0;
}

// The parts of an address as a refresh would fetch it, or why it would not: one JSON line with
// scheme, host, port and path (the query included), else an "error" with the refusal's text.
int CmdUrl(const TArgs& args) {
    if (args.size() != 1) {
        std::cerr << "Usage: tovel-inspect url ADDRESS\n";
        return 2;
    }
    try {
        const TUrl url = ParseFeedURL(args[0]);
        PrintJson(Json{{"scheme", url.Scheme},
                       {"host", JsonText(url.Host)},
                       {"port", url.Port},
                       {"path", JsonText(url.PathAndQuery)}});
    } catch (const EURLError& e) {
        PrintJson(Json{{"error", JsonText(e.Message())}});
        return 1;
    }
    return 0;
}
