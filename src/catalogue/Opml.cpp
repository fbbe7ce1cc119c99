#include "catalogue/Opml.h"

#include <cstdio>
#include <ctime>
#include <functional>
#include <unordered_set>

#include <sys/stat.h>

#include <pugixml.hpp>

#include "platform/Charset.h"
#include "platform/Files.h"
#include "url/Url.h"

const char* const kNotOpmlMessage = "The file is not an OPML subscription list";
const char* const kOpmlTooLargeMessage = "The file is too large for a subscription list";

namespace {

[[noreturn]] void NotOpml() {
    throw EOpmlError(kNotOpmlMessage);
}

bool HasName(const pugi::xml_node& node, std::string_view name) {
    return node.type() == pugi::node_element && SameTextAscii(node.name(), name);
}

// Services differ in the case of attribute names ("xmlUrl", "xmlurl"), so they are looked up
// without regard to it; "" when absent.
std::string_view Attribute(const pugi::xml_node& node, std::string_view name) {
    for (const pugi::xml_attribute& attribute : node.attributes())
        if (SameTextAscii(attribute.name(), name))
            return attribute.value();
    return {};
}

// The encoding that the XML declaration names, when the text has no byte order mark and the
// name is not UTF-8 or UTF-16 (which the parser finds itself); "" otherwise.
std::string DeclaredForeignEncoding(std::string_view text) {
    if (text.substr(0, 5) != "<?xml")
        return "";
    const std::string_view declaration = text.substr(0, text.find("?>"));
    const size_t at = declaration.find("encoding");
    if (at == std::string_view::npos)
        return "";
    const size_t open = declaration.find_first_of("\"'", at);
    if (open == std::string_view::npos)
        return "";
    const size_t close = declaration.find(declaration[open], open + 1);
    if (close == std::string_view::npos)
        return "";
    const std::string name(TrimView(declaration.substr(open + 1, close - open - 1)));
    const std::string lower = LowerCaseAscii(name);
    if (lower == "utf-8" || lower == "utf8" || lower.rfind("utf-16", 0) == 0)
        return "";
    return name;
}

void ReadOutlines(const pugi::xml_node& parent, std::vector<TOpmlOutline>& into) {
    for (const pugi::xml_node& node : parent.children()) {
        if (!HasName(node, "outline"))
            continue;
        TOpmlOutline outline;
        // A line break inside the attribute ("&#13;&#10;") is no part of any address: such an
        // outline is kept, marked, so that the import can say it left it out.
        const std::string_view written = TrimView(Attribute(node, "xmlUrl"));
        const std::optional<TUrl> address = ParseURL(written);
        outline.URL = address ? address->Text() : std::string(written);
        outline.BadAddress = !written.empty() && !address;
        outline.Name = std::string(TrimView(Attribute(node, "title")));
        if (outline.Name.empty())
            outline.Name = std::string(TrimView(Attribute(node, "text")));
        if (outline.URL.empty()) {
            ReadOutlines(node, outline.Children);
            if (!outline.Children.empty())
                into.push_back(std::move(outline));
            continue;
        }
        if (outline.Name.empty())
            outline.Name = address ? address->Host : outline.URL;
        into.push_back(std::move(outline));
        // A feed has no children in the catalogue; whatever a file nests in it stays with it.
        ReadOutlines(node, into);
    }
}

class TImporter {
public:
    explicit TImporter(TFeedList& feeds) : FFeeds(feeds) {
        for (const auto& item : feeds.Items)
            if (!item->FeedURL.empty()) {
                FKnownURLs.insert(item->FeedURL);
                // The catalogue keeps its addresses as written; a list brings them normalised.
                if (const std::optional<TUrl> address = ParseURL(item->FeedURL))
                    FKnownURLs.insert(address->Text());
            }
    }

    // Adds outlines below the folder that parentId makes on its first call, and the entries made
    // to into.
    void Add(const std::vector<TOpmlOutline>& outlines, const std::function<const std::string&()>& parentId,
             std::vector<TFeedTreeEntry>& into) {
        for (const TOpmlOutline& outline : outlines) {
            if (outline.BadAddress) {
                ++Result.BadAddresses;
                continue;
            }
            if (!outline.URL.empty()) {
                if (!FKnownURLs.insert(outline.URL).second)
                    continue;
                TFeedListItem* item = FFeeds.Add(parentId(), outline.Name, outline.URL);
                item->AggInclude = true;
                item->ShowAuthor = false;
                into.push_back(TFeedTreeEntry{item, {}});
                ++Result.Feeds;
                continue;
            }
            // The folder is made only once something goes into it, so that a list imported twice
            // leaves no empty folders behind.
            TFeedTreeEntry* folder = nullptr;
            const std::function<const std::string&()> folderId = [&]() -> const std::string& {
                if (!folder) {
                    TFeedListItem* item = FFeeds.Add(parentId(), outline.Name, "");
                    item->AggInclude = true;
                    into.push_back(TFeedTreeEntry{item, {}});
                    folder = &into.back();
                    ++Result.Folders;
                }
                return folder->Item->FeedID;
            };
            std::vector<TFeedTreeEntry> children;
            Add(outline.Children, folderId, children);
            if (folder)
                folder->Children = std::move(children);
        }
    }

    TOpmlImport Result;

private:
    TFeedList& FFeeds;
    std::unordered_set<std::string> FKnownURLs;
};

// Collects the written document, which pugixml hands over in pieces.
class TStringWriter : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override { Text.append(static_cast<const char*>(data), size); }
    std::string Text;
};

// Now in the form RSS and OPML date their documents: "Tue, 08 Dec 2026 15:30:00 GMT".
std::string RFC822Now() {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday % 7],
                  utc.tm_mday, kMonths[utc.tm_mon % 12], utc.tm_year + 1900, utc.tm_hour, utc.tm_min,
                  utc.tm_sec);
    return text;
}

int WriteOutlines(pugi::xml_node parent, const std::vector<TFeedTreeEntry>& entries) {
    int feeds = 0;
    for (const TFeedTreeEntry& entry : entries) {
        const TFeedListItem& item = *entry.Item;
        const std::string name = SanitizeUTF8(item.FeedName);
        pugi::xml_node outline = parent.append_child("outline");
        if (!item.FeedURL.empty())
            outline.append_attribute("type") = "rss";
        outline.append_attribute("text") = name.c_str();
        outline.append_attribute("title") = name.c_str();
        if (item.FeedURL.empty()) {
            feeds += WriteOutlines(outline, entry.Children);
        } else {
            outline.append_attribute("xmlUrl") = SanitizeUTF8(item.FeedURL).c_str();
            ++feeds;
        }
    }
    return feeds;
}

std::string OpmlText(const TFeedList& feeds, const std::string& parentId, const std::string& title,
                     int& feedCount) {
    pugi::xml_document document;
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";
    pugi::xml_node opml = document.append_child("opml");
    opml.append_attribute("version") = "2.0";
    pugi::xml_node head = opml.append_child("head");
    head.append_child("title").text() = SanitizeUTF8(title).c_str();
    head.append_child("dateCreated").text() = RFC822Now().c_str();
    pugi::xml_node body = opml.append_child("body");
    feedCount = WriteOutlines(body, BuildFeedTree(feeds, parentId));
    TStringWriter writer;
    document.save(writer, "  ", pugi::format_default, pugi::encoding_utf8);
    return std::move(writer.Text);
}

// "1 feed", "2 feeds".
std::string Counted(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

std::vector<TOpmlOutline> ParseOpml(std::string_view text) {
    pugi::xml_document document;
    pugi::xml_parse_result parsed;
    const std::string encoding = DeclaredForeignEncoding(text);
    if (!encoding.empty() && IsKnownCharset(encoding)) {
        const std::string converted = CharsetToUTF8(std::string(text), encoding);
        parsed = document.load_buffer(converted.data(), converted.size(), pugi::parse_default,
                                      pugi::encoding_utf8);
    } else {
        parsed = document.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_auto);
    }
    if (!parsed)
        NotOpml();
    const pugi::xml_node opml = document.document_element();
    if (!HasName(opml, "opml"))
        NotOpml();
    pugi::xml_node body;
    for (const pugi::xml_node& node : opml.children())
        if (HasName(node, "body")) {
            body = node;
            break;
        }
    if (!body)
        NotOpml();
    std::vector<TOpmlOutline> outlines;
    ReadOutlines(body, outlines);
    return outlines;
}

std::vector<TOpmlOutline> LoadOpmlFile(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && status.st_size > kOpmlMaxFileSize)
        throw EOpmlError(kOpmlTooLargeMessage);
    return ParseOpml(ReadFileToString(path));
}

TOpmlImport ImportOpml(TFeedList& feeds, const std::string& parentId,
                       const std::vector<TOpmlOutline>& outlines) {
    TImporter importer(feeds);
    importer.Add(
        outlines, [&parentId]() -> const std::string& { return parentId; }, importer.Result.Added);
    return std::move(importer.Result);
}

std::string OpmlImportSummary(const TOpmlImport& import) {
    std::string summary = "Imported " + Counted(import.Feeds, "feed", "feeds") + " and " +
                          Counted(import.Folders, "folder", "folders");
    if (import.BadAddresses > 0)
        summary +=
            ", " + Counted(import.BadAddresses, "feed", "feeds") + " skipped (not http or https addresses)";
    return summary;
}

std::string OpmlExportSummary(int feeds) {
    return "Exported " + Counted(feeds, "feed", "feeds");
}

std::string OpmlText(const TFeedList& feeds, const std::string& parentId, const std::string& title) {
    int feedCount = 0;
    return OpmlText(feeds, parentId, title, feedCount);
}

int ExportOpml(const TFeedList& feeds, const std::string& parentId, const std::string& title,
               const std::string& path) {
    int feedCount = 0;
    const std::string text = OpmlText(feeds, parentId, title, feedCount);
    WriteFileAtomically(path, text);
    return feedCount;
}
