// The news page: templates, the values made safe for where they land, and the page file.
#include <algorithm>
#include <array>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "dates/NewsDates.h"
#include "news/Enclosures.h"
#include "news/HtmlCleaner.h"
#include "news/NewsTypeCls.h"
#include "platform/DataFolder.h"
#include "platform/Files.h"
#include "platform/SysUtils.h"
#include "url/Url.h"

namespace {

const char kLineBreak[] = "\r\n";

// The placeholders of the item template, in the order of their values. Letter case counts.
enum TPlaceholder { kAuthor, kTitle, kDescription, kDate, kLink, kUnread, kEnclosures, kPlaceholderCount };
const std::string_view kPlaceholderNames[kPlaceholderCount] = {
    "{author}", "{title}", "{description}", "{date}", "{link}", "{unread}", "{enclosures}"};
using TPlaceholderValues = std::array<std::string_view, kPlaceholderCount>;

// The item template cut once into its text and its placeholders, so that each item is filled in
// one pass over the pieces: what a value holds is never read as a placeholder, and a title made
// of "{description}" two hundred times stays two hundred short words.
class TItemTemplate {
public:
    explicit TItemTemplate(std::string text) : FText(std::move(text)) {
        size_t literal = 0;
        for (size_t at = FText.find('{'); at != std::string::npos; at = FText.find('{', at + 1)) {
            for (int placeholder = 0; placeholder < kPlaceholderCount; ++placeholder) {
                const std::string_view name = kPlaceholderNames[placeholder];
                if (FText.compare(at, name.size(), name) != 0)
                    continue;
                FPieces.push_back({literal, at - literal, -1});
                FPieces.push_back({0, 0, placeholder});
                literal = at + name.size();
                at = literal - 1;
                break;
            }
        }
        FPieces.push_back({literal, FText.size() - literal, -1});
    }

    void AppendFilled(std::string& out, const TPlaceholderValues& values) const {
        for (const TPiece& piece : FPieces) {
            if (piece.Placeholder < 0)
                out.append(FText, piece.From, piece.Length);
            else
                out.append(values[piece.Placeholder]);
        }
    }

private:
    // Template text from From, Length bytes long, or the value of a placeholder (not -1).
    struct TPiece {
        size_t From;
        size_t Length;
        int Placeholder;
    };
    std::string FText;
    std::vector<TPiece> FPieces;
};

// Whether the text holds a byte other than the blanks (codes 0 to 32) that trimming removes.
bool HasVisibleByte(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return !IsBlankChar(c); });
}

// An item's description as the page shows it, with its thumbnail above it when pictures are shown
// and the description has no picture of its own.
std::string ItemDescription(const TNewsItem& item, bool picturesShown) {
    const std::string base = TNewsType::ItemBaseURL(item);
    if (item.Thumbnail.empty() || !picturesShown)
        return CleanDescriptionHtml(item.Description, base, picturesShown);
    bool holdsPicture = false;
    std::string description = CleanDescriptionHtml(item.Description, base, picturesShown, holdsPicture);
    const std::string picture =
        holdsPicture ? std::string() : PictureHtml(item.Thumbnail, base, picturesShown);
    if (picture.empty())
        return description;
    return "<p class=\"thumbnail\">" + picture + "</p>" + description;
}

// The descriptions of the items as the page shows them. Cleaning is the page's one big cost (the
// HTML parser reads some 10 MB a second), so the cores share it, each item into its own place.
std::vector<std::string> PrepareDescriptions(const std::vector<const TNewsItem*>& items, bool picturesShown) {
    std::vector<std::string> descriptions(items.size());
    std::atomic<size_t> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    const auto work = [&] {
        try {
            for (size_t i = next++; i < items.size(); i = next++)
                descriptions[i] = ItemDescription(*items[i], picturesShown);
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failureLock);
            failure = std::current_exception();
            next = items.size();
        }
    };
    // A few dozen items are not worth a thread.
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t helpers = std::min<size_t>(cores, items.size() / 32 + 1) - 1;
    std::vector<std::thread> threads;
    for (size_t i = 0; i < helpers; ++i)
        threads.emplace_back(work);
    work();
    for (std::thread& thread : threads)
        thread.join();
    if (failure)
        std::rethrow_exception(failure);
    return descriptions;
}

// The key of an item in the page: a 64-bit FNV-1a hash of its feed's id and its identity, in hex.
// The view keeps the reader's place by it over a new render, where the item's place K may change.
void AppendItemKey(std::string& out, const TNewsItem& item) {
    uint64_t hash = 14695981039346656037ull;
    const auto add = [&hash](std::string_view text) {
        for (const char c : text) {
            hash ^= static_cast<unsigned char>(c);
            hash *= 1099511628211ull;
        }
    };
    if (item.Feed)
        add(item.Feed->FeedID);
    add(std::string_view("\n", 1));
    add(item.Id);
    static const char kDigits[] = "0123456789abcdef";
    for (int shift = 60; shift >= 0; shift -= 4)
        out += kDigits[(hash >> shift) & 15];
}

void AppendLine(std::string& page, std::string_view piece) {
    page.append(piece.data(), piece.size());
    page += kLineBreak;
}

} // namespace

std::string TNewsType::LoadTemplate(const std::string& fileName) {
    return ReadFileToString(TemplateFolder() + fileName);
}

std::string TNewsType::PrepareDescription(const std::string& description, bool picturesShown,
                                          const std::string& baseURL) {
    return CleanDescriptionHtml(description, baseURL, picturesShown);
}

std::string TNewsType::ItemBaseURL(const TNewsItem& item) {
    const std::string scheme = URLScheme(item.Link);
    if (scheme == "http" || scheme == "https")
        return std::string(TrimView(item.Link));
    return item.Feed ? FeedBaseURL(*item.Feed) : std::string();
}

void TNewsType::RenderPage(int filterIndex, const std::string& filterCaption, bool picturesShown) {
    // Read before the page is touched: a missing item template leaves the old page as it was.
    const TItemTemplate itemTemplate(LoadTemplate("item.html"));
    // The page goes to a file of its own that replaces the old one in one step, so the view never
    // reads half a page. A missing top or bottom template still replaces it with what came before
    // that template (nothing, or the top and the items), then stops the render.
    TFileReplacement page(PagePath, false);
    const auto writeTemplate = [&page](const char* fileName) {
        std::string text;
        try {
            text = LoadTemplate(fileName);
        } catch (const EFOpenError&) {
            page.Commit();
            throw;
        }
        page.Write(text);
        page.Write(kLineBreak);
    };
    writeTemplate("top.html");

    // The old page's items are about to be replaced: none of them may be found through it.
    FRendered.clear();
    std::vector<const TNewsItem*> shown;
    for (const std::unique_ptr<TNewsItem>& item : NewsItems)
        if (filterIndex == kUnreadFilter ? item->Unread : PassesAgeFilter(item->Date, filterIndex))
            shown.push_back(item.get());
    const std::vector<std::string> descriptions = PrepareDescriptions(shown, picturesShown);

    std::string author, date, title, link, enclosures, line;
    TDateTime shownDate = 0;
    bool dateShown = false;
    for (size_t i = 0; i < shown.size(); ++i) {
        const TNewsItem* item = shown[i];
        author.clear();
        if (item->Feed) {
            AppendEscapedHtml(author, item->Feed->FeedName);
            if (item->Feed->ShowAuthor && HasVisibleByte(item->Author)) {
                author += ": ";
                AppendEscapedHtml(author, item->Author);
            }
        }
        // Items of one moment follow each other after the sort: their date text is made once.
        if (!dateShown || item->Date != shownDate) {
            date = EscapeHtml(item->Date != 0 ? FormatNewsDate(item->Date) : "Unable to decode the date");
            shownDate = item->Date;
            dateShown = true;
        }
        title = CleanTitleHtml(item->Title);
        link = EscapeHtml(SafePageURL(item->Link, std::string(), true));
        enclosures.clear();
        if (!item->Enclosures.empty())
            enclosures = EnclosuresHtml(item->Enclosures, ItemBaseURL(*item));
        line.clear();
        // The wrapper stands outside the template, so that a user's template needs nothing of
        // it and no cleaner of descriptions ever sees it.
        line += "<div data-item=\"";
        line += std::to_string(i);
        line += "\" data-key=\"";
        AppendItemKey(line, *item);
        line += "\">";
        itemTemplate.AppendFilled(line, {author, title, descriptions[i], date, link,
                                         item->Unread ? std::string_view("unread") : std::string_view(),
                                         enclosures});
        line += "</div>";
        line += kLineBreak;
        page.Write(line);
    }
    if (shown.empty()) {
        page.Write("There are no news for the selected filter (" + EscapeHtml(filterCaption) + ")");
        page.Write(kLineBreak);
    }
    writeTemplate("bottom.html");
    page.Commit();
    FRendered = std::move(shown);
}

void TNewsType::WriteErrorPage(const std::string& errorText) {
    // The text carries addresses, names from documents and the TLS library's words: any of them
    // may hold markup, which must show as text.
    std::string page;
    AppendLine(page, "<html><body><font face=\"arial\" color=\"red\">");
    AppendLine(page, "Error: " + EscapeHtml(errorText));
    AppendLine(page, "</font></body></html>");
    FRendered.clear();
    WriteFileAtomically(PagePath, page, false);
}
