#include <iostream>
#include <string>

#include "Inspect.h"
#include "news/NewsDates.h"
#include "refresh/CacheFiles.h"
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

// The host, path and port that a refresh would use for the address.
int CmdUrl(const TArgs& args) {
    if (args.size() != 1) {
        std::cerr << "Usage: tovel-inspect url URL\n";
        return 2;
    }
    const std::string& url = args[0];
    PrintJson(Json{{"host", JsonText(ExtractURLHost(url))},
                   {"path", JsonText(ExtractURLPath(url))},
                   {"port", ExtractURLPort(url)}});
    return 0;
}
