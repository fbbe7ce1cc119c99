// The news page: templates, the description treatment and the page file.
#include <cstdio>
#include <string>
#include <vector>

#include "news/NewsDates.h"
#include "news/NewsTypeCls.h"
#include "platform/Files.h"

namespace {

const char kLineBreak[] = "\r\n";

// Every occurrence of what (matched exactly) replaced by with, scanning once from the start; the
// inserted text is not looked at again.
std::string ReplaceAll(const std::string& text, const std::string& what, const std::string& with) {
    size_t pos = text.find(what);
    if (pos == std::string::npos)
        return text;
    std::string out;
    out.reserve(text.size() + with.size());
    size_t from = 0;
    while (pos != std::string::npos) {
        out.append(text, from, pos - from);
        out += with;
        from = pos + what.size();
        pos = text.find(what, from);
    }
    out.append(text, from, std::string::npos);
    return out;
}

inline bool IsAsciiLetterLike(char c, char lower) {
    return c == lower || c == lower - ('a' - 'A');
}

// Every "<a" (either case of the a) replaced by with, in one pass; no rescan of inserted text.
std::string ReplaceAnchorOpenings(const std::string& text, const std::string& with) {
    std::string out;
    size_t from = 0;
    for (size_t pos = text.find('<'); pos != std::string::npos; pos = text.find('<', pos + 1)) {
        if (pos + 1 >= text.size() || !IsAsciiLetterLike(text[pos + 1], 'a'))
            continue;
        if (out.empty())
            out.reserve(text.size() + text.size() / 8);
        out.append(text, from, pos - from);
        out += with;
        from = pos + 2;
        ++pos;
    }
    if (from == 0)
        return text;
    out.append(text, from, std::string::npos);
    return out;
}

// Every "src=" (any case of the letters) replaced by with, in one pass. Looks for the rare "="
// and checks the three letters before it; matches cannot overlap, as none begins with "=".
std::string ReplaceSrcAttributes(const std::string& text, const std::string& with) {
    std::string out;
    size_t from = 0;
    for (size_t pos = text.find('='); pos != std::string::npos; pos = text.find('=', pos + 1)) {
        if (pos < 3 || pos - 3 < from || !IsAsciiLetterLike(text[pos - 3], 's') ||
            !IsAsciiLetterLike(text[pos - 2], 'r') || !IsAsciiLetterLike(text[pos - 1], 'c'))
            continue;
        if (out.empty())
            out.reserve(text.size() + text.size() / 8);
        out.append(text, from, pos - 3 - from);
        out += with;
        from = pos + 1;
    }
    if (from == 0)
        return text;
    out.append(text, from, std::string::npos);
    return out;
}

// The item template cut at its placeholders, for filling items in one pass. That gives the same
// chunk as the five replacements in their order only while no brace can form a placeholder
// afresh: the template has no braces outside its placeholders and the values have none.
class TItemTemplate {
public:
    enum TField { Author, Title, Description, Date, Link, Text };

    explicit TItemTemplate(const std::string& text) : FText(text) {
        static const char* const kNames[] = {"{author}", "{title}", "{description}", "{date}", "{link}"};
        size_t from = 0;
        for (;;) {
            const size_t open = text.find('{', from);
            if (open == std::string::npos)
                break;
            int field = Text;
            for (int f = Author; f < Text; ++f)
                if (text.compare(open, std::char_traits<char>::length(kNames[f]), kNames[f]) == 0)
                    field = f;
            if (field == Text) {
                FClean = false;
                return;
            }
            FParts.push_back({Text, from, open - from});
            FParts.push_back({field, 0, 0});
            from = open + std::char_traits<char>::length(kNames[field]);
        }
        FParts.push_back({Text, from, text.size() - from});
        FClean = CountBraces() == 0;
    }

    // Whether Fill may be used for these values (the link is put in last, so it may hold anything).
    bool CanFill(const std::string* values) const {
        if (!FClean)
            return false;
        for (int f = Author; f < Link; ++f)
            if (values[f].find('{') != std::string::npos || values[f].find('}') != std::string::npos)
                return false;
        return true;
    }
    // The chunk for values in field order into out.
    void Fill(const std::string* values, std::string& out) const {
        out.clear();
        for (const TPart& part : FParts) {
            if (part.Field == Text)
                out.append(FText, part.Offset, part.Length);
            else
                out += values[part.Field];
        }
    }

private:
    struct TPart {
        int Field;
        size_t Offset, Length;
    };
    // The closing braces in the literal parts.
    int CountBraces() const {
        int count = 0;
        for (const TPart& part : FParts)
            if (part.Field == Text)
                for (size_t i = part.Offset; i < part.Offset + part.Length; ++i)
                    count += FText[i] == '}';
        return count;
    }

    const std::string& FText;
    std::vector<TPart> FParts;
    bool FClean = true;
};

// The page file, written piece by piece and closed on every path.
class TPageWriter {
public:
    explicit TPageWriter(const std::string& path) : FPath(path), FFile(std::fopen(path.c_str(), "wb")) {
        if (!FFile)
            throw EFCreateError(FPath);
        // Pages of many items run to megabytes: fewer, larger writes.
        std::setvbuf(FFile, nullptr, _IOFBF, 1 << 18);
    }
    ~TPageWriter() {
        if (FFile)
            std::fclose(FFile);
    }
    TPageWriter(const TPageWriter&) = delete;
    TPageWriter& operator=(const TPageWriter&) = delete;

    // The piece and a CR LF after it.
    void WriteLine(const std::string& piece) {
        if (std::fwrite(piece.data(), 1, piece.size(), FFile) != piece.size() ||
            std::fwrite(kLineBreak, 1, 2, FFile) != 2)
            throw EFCreateError(FPath);
    }
    // Flushes and closes; a full disk shows here at the latest.
    void Close() {
        std::FILE* file = FFile;
        FFile = nullptr;
        if (std::fclose(file) != 0)
            throw EFCreateError(FPath);
    }

private:
    std::string FPath;
    std::FILE* FFile;
};

} // namespace

std::string TNewsType::LoadTemplate(const std::string& fileName) {
    return ReadFileToString(ProgramFolder() + "template/" + fileName);
}

std::string TNewsType::PrepareDescription(const std::string& description, bool picturesShown) {
    // Links in the news open outside the news view.
    std::string text = ReplaceAnchorOpenings(description, "<a target=\"_blank\" ");
    // Without pictures the browser loads nothing that a src attribute names.
    if (!picturesShown)
        text = ReplaceSrcAttributes(text, "tempsrc=");
    return text;
}

void TNewsType::RenderPage(int filterIndex, const std::string& filterCaption, bool picturesShown) {
    // Read before the page is touched: a missing item template leaves the old page as it was.
    const std::string itemTemplate = LoadTemplate("item.html");
    TPageWriter page(PagePath);
    page.WriteLine(LoadTemplate("top.html"));

    const TItemTemplate fillable(itemTemplate);
    std::string chunk;
    bool written = false;
    for (const std::unique_ptr<TNewsItem>& item : NewsItems) {
        if (!PassesAgeFilter(item->Date, filterIndex))
            continue;
        written = true;
        std::string author = item->Feed ? item->Feed->FeedName : std::string();
        if (item->Feed && item->Feed->ShowAuthor && !Trim(item->Author).empty())
            author += ": " + item->Author;
        std::string values[] = {
            std::move(author), item->Title, PrepareDescription(item->Description, picturesShown),
            item->Date != 0 ? FormatNewsDate(item->Date) : std::string("Unable to decode the date"),
            item->Link};
        if (fillable.CanFill(values)) {
            fillable.Fill(values, chunk);
        } else {
            // Each step sees what the steps before it put in: "{link}" inside a title becomes the link.
            chunk = ReplaceAll(itemTemplate, "{author}", values[0]);
            chunk = ReplaceAll(chunk, "{title}", values[1]);
            chunk = ReplaceAll(chunk, "{description}", values[2]);
            chunk = ReplaceAll(chunk, "{date}", values[3]);
            chunk = ReplaceAll(chunk, "{link}", values[4]);
        }
        page.WriteLine(chunk);
    }
    if (!written)
        page.WriteLine("There are no news for the selected filter (" + filterCaption + ")");

    page.WriteLine(LoadTemplate("bottom.html"));
    page.Close();
}

void TNewsType::WriteErrorPage(const std::string& errorText) {
    TPageWriter page(PagePath);
    page.WriteLine("<html><body><font face=\"arial\" color=\"red\">");
    page.WriteLine("Error: " + errorText);
    page.WriteLine("</font></body></html>");
    page.Close();
}
