#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// Keys keep the order in which they are written.
using Json = nlohmann::ordered_json;
using TArgs = std::vector<std::string>;

// The text as valid UTF-8: every byte that does not start a well-formed sequence becomes U+FFFD.
std::string JsonText(const std::string& bytes);

// Prints the value on one line to standard output.
void PrintJson(const Json& value);
// Prints {"error": message} and returns the failing exit code 1.
int PrintError(const std::string& message);

class TFeedListItem;

// An entry of the catalogue as feeds-read prints it, keys in the order the file stores them.
Json FeedEntryJson(const TFeedListItem& item);

// A scratch folder for a throw-away catalogue, removed with its contents at the end of the
// scope; Path() ends with "/", and is "" when no folder could be made.
class TScratchFolder {
public:
    TScratchFolder();
    ~TScratchFolder();
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

// The commands; each gets the arguments after its name and returns the exit code.
int CmdFeedsRead(const TArgs& args);
int CmdFeedsWrite(const TArgs& args);
int CmdTree(const TArgs& args);
int CmdDates(const TArgs& args);
int CmdUrl(const TArgs& args);
int CmdItems(const TArgs& args);
int CmdRender(const TArgs& args);
int CmdFetch(const TArgs& args);
int CmdRefresh(const TArgs& args);
int CmdOpmlImport(const TArgs& args);
int CmdOpmlExport(const TArgs& args);
int CmdDiscover(const TArgs& args);
int CmdState(const TArgs& args);
