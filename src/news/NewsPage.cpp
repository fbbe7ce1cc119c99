// The news page: templates, the description treatment and the page file.
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>

#include "news/NewsDates.h"
#include "news/NewsTypeCls.h"
#include "platform/DataFolder.h"
#include "platform/Files.h"
#include "platform/SysUtils.h"

namespace {

const char kLineBreak[] = "\r\n";

// The first match of what in text at or after from, or npos. With ignoreCase the ASCII letters of
// what (given in lower case) match in either case; the search then goes by what's first byte that
// is not a letter ("<" of "<a", "=" of "src="), which has one case only.
size_t FindMatch(const std::string& text, std::string_view what, size_t from, bool ignoreCase) {
    if (!ignoreCase)
        return text.find(what, from);
    const size_t anchor = what.find_first_not_of("abcdefghijklmnopqrstuvwxyz");
    for (size_t at = text.find(what[anchor], from + anchor); at != std::string::npos;
         at = text.find(what[anchor], at + 1)) {
        if (SameTextAscii(std::string_view(text).substr(at - anchor, what.size()), what))
            return at - anchor;
    }
    return std::string::npos;
}

// Appends text to out with every occurrence of what replaced by with, scanning once from the
// start, so the inserted text is not looked at again.
void AppendReplaced(std::string& out, const std::string& text, std::string_view what, std::string_view with,
                    bool ignoreCase = false) {
    size_t from = 0;
    for (size_t pos = FindMatch(text, what, 0, ignoreCase); pos != std::string::npos;
         pos = FindMatch(text, what, from, ignoreCase)) {
        out.append(text, from, pos - from);
        out += with;
        from = pos + what.size();
    }
    out.append(text, from, std::string::npos);
}

// Every occurrence of what in text replaced by with, as AppendReplaced; text is left alone when
// what does not occur.
void ReplaceAll(std::string& text, std::string_view what, std::string_view with, bool ignoreCase = false) {
    if (FindMatch(text, what, 0, ignoreCase) == std::string::npos)
        return;
    std::string out;
    out.reserve(text.size() + with.size());
    AppendReplaced(out, text, what, with, ignoreCase);
    text.swap(out);
}

// Whether the text holds a byte other than the blanks (codes 0 to 32) that trimming removes.
bool HasVisibleByte(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return !IsBlankChar(c); });
}

void AppendLine(std::string& page, std::string_view piece) {
    page.append(piece.data(), piece.size());
    page += kLineBreak;
}

} // namespace

std::string TNewsType::LoadTemplate(const std::string& fileName) {
    return ReadFileToString(TemplateFolder() + fileName);
}

std::string TNewsType::PrepareDescription(const std::string& description, bool picturesShown) {
    // Links in the news open outside the news view; without pictures the browser loads nothing
    // that a src attribute names.
    std::string text;
    text.reserve(description.size() + description.size() / 8);
    AppendReplaced(text, description, "<a", "<a target=\"_blank\" ", true);
    if (!picturesShown)
        ReplaceAll(text, "src=", "tempsrc=", true);
    return text;
}

void TNewsType::RenderPage(int filterIndex, const std::string& filterCaption, bool picturesShown) {
    // Read before the page is touched: a missing item template leaves the old page as it was.
    const std::string itemTemplate = LoadTemplate("item.html");
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

    std::string author, date, chunk, line;
    TDateTime shownDate = 0;
    bool dateShown = false;
    bool written = false;
    for (const std::unique_ptr<TNewsItem>& item : NewsItems) {
        if (!PassesAgeFilter(item->Date, filterIndex))
            continue;
        written = true;
        author.clear();
        if (item->Feed) {
            author = item->Feed->FeedName;
            if (item->Feed->ShowAuthor && HasVisibleByte(item->Author))
                author.append(": ").append(item->Author);
        }
        // Items of one moment follow each other after the sort: their date text is made once.
        if (!dateShown || item->Date != shownDate) {
            date = item->Date != 0 ? FormatNewsDate(item->Date) : std::string("Unable to decode the date");
            shownDate = item->Date;
            dateShown = true;
        }
        // Each step sees what the steps before it put in: "{link}" inside a title becomes the link.
        chunk = itemTemplate;
        ReplaceAll(chunk, "{author}", author);
        ReplaceAll(chunk, "{title}", item->Title);
        ReplaceAll(chunk, "{description}", PrepareDescription(item->Description, picturesShown));
        ReplaceAll(chunk, "{date}", date);
        line.clear();
        AppendReplaced(line, chunk, "{link}", item->Link);
        line += kLineBreak;
        page.Write(line);
    }
    if (!written) {
        page.Write("There are no news for the selected filter (" + filterCaption + ")");
        page.Write(kLineBreak);
    }
    writeTemplate("bottom.html");
    page.Commit();
}

void TNewsType::WriteErrorPage(const std::string& errorText) {
    // The text carries addresses, names from documents and the TLS library's words: any of them
    // may hold markup, which must show as text.
    std::string escaped = errorText;
    ReplaceAll(escaped, "&", "&amp;"); // first, so the entities below stay whole
    ReplaceAll(escaped, "<", "&lt;");
    ReplaceAll(escaped, ">", "&gt;");
    ReplaceAll(escaped, "\"", "&quot;");
    std::string page;
    AppendLine(page, "<html><body><font face=\"arial\" color=\"red\">");
    AppendLine(page, "Error: " + escaped);
    AppendLine(page, "</font></body></html>");
    WriteFileAtomically(PagePath, page, false);
}
