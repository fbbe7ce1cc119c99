#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>

#include "Inspect.h"
#include "platform/Charset.h"

namespace {

struct TCommand {
    const char* Name;
    const char* Usage;
    int (*Run)(const TArgs&);
};

const TCommand kCommands[] = {
    {"feeds-read", "feeds-read FILE            the entries of a feeds file", &CmdFeedsRead},
    {"feeds-write", "feeds-write IN.json OUT    write a feeds file from JSON entries", &CmdFeedsWrite},
    {"tree", "tree FILE                  the element tree of an XML document", &CmdTree},
    {"dates", "dates                      decode each line of standard input as a date", &CmdDates},
    {"url", "url ADDRESS                scheme, host, port and path of a feed address, or why it is refused",
     &CmdUrl},
    {"items", "items [--document-order] FILE...  the news items of cached feed documents, newest first",
     &CmdItems},
    {"render", "render FILE... [--pictures] [--filter N] [--url URL]  the news page of feed documents (HTML)",
     &CmdRender},
    {"fetch", "fetch URL [--head] [--out FILE]  one HTTP exchange", &CmdFetch},
    {"refresh",
     "refresh --data DIR [--force] [--parallel N] [--no-store]  refresh every feed of a data folder, one "
     "line per "
     "feed",
     &CmdRefresh},
    {"opml-import", "opml-import FILE           the entries an OPML import adds, as feeds-read prints them",
     &CmdOpmlImport},
    {"opml-export", "opml-export FEEDS_FILE OUT  write the feeds of a feeds file as OPML", &CmdOpmlExport},
    {"discover", "discover URL               the feeds a page names (none when it is a feed itself)",
     &CmdDiscover},
    {"state", "state --data DIR           per feed of a data folder: items in its document, unread",
     &CmdState},
};

void PrintUsage(std::ostream& out) {
    out << "Usage: tovel-inspect COMMAND [ARGS]\n"
           "Diagnostics for Tovel RSS Reader; every command prints JSON.\n\nCommands:\n";
    for (const TCommand& c : kCommands)
        out << "  " << c.Usage << "\n";
}

} // namespace

void PrintJson(const Json& value) {
    std::cout << value.dump(-1, ' ', false, Json::error_handler_t::replace) << std::endl;
}

int PrintError(const std::string& message) {
    PrintJson(Json{{"error", JsonText(message)}});
    return 1;
}

std::string JsonText(const std::string& bytes) {
    return SanitizeUTF8(bytes);
}

TScratchFolder::TScratchFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tovel-inspect-XXXXXX";
    if (::mkdtemp(pattern.data()))
        FPath = pattern + "/";
}

TScratchFolder::~TScratchFolder() {
    std::error_code ec;
    if (!FPath.empty())
        std::filesystem::remove_all(FPath, ec);
}

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintUsage(argc < 2 ? std::cerr : std::cout);
        return argc < 2 ? 2 : 0;
    }
    for (const TCommand& c : kCommands) {
        if (std::strcmp(argv[1], c.Name) != 0)
            continue;
        try {
            return c.Run(TArgs(argv + 2, argv + argc));
        } catch (const std::exception& e) {
            return PrintError(e.what());
        }
    }
    std::cerr << "tovel-inspect: unknown command '" << argv[1] << "'\n";
    PrintUsage(std::cerr);
    return 2;
}
