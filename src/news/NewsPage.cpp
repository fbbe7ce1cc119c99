// The news page: templates, the description treatment and the page file.
#include <cstdio>
#include <string>

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

inline char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// As ReplaceAll, with what (lower-case ASCII) matched without regard to ASCII case.
std::string ReplaceAllIgnoreCase(const std::string& text, const std::string& what, const std::string& with) {
    std::string out;
    const size_t n = text.size(), m = what.size();
    size_t from = 0;
    size_t i = 0;
    while (m <= n && i <= n - m) {
        // Look for the first character quickly, then compare the rest.
        if (LowerAscii(text[i]) != what[0]) {
            ++i;
            continue;
        }
        size_t k = 1;
        while (k < m && LowerAscii(text[i + k]) == what[k])
            ++k;
        if (k < m) {
            ++i;
            continue;
        }
        if (out.empty())
            out.reserve(n + n / 8);
        out.append(text, from, i - from);
        out += with;
        i += m;
        from = i;
    }
    if (from == 0)
        return text;
    out.append(text, from, std::string::npos);
    return out;
}

// The page file, written piece by piece and closed on every path.
class TPageWriter {
public:
    explicit TPageWriter(const std::string& path) : FPath(path), FFile(std::fopen(path.c_str(), "wb")) {
        if (!FFile)
            throw EFCreateError(FPath);
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
    std::string text = ReplaceAllIgnoreCase(description, "<a", "<a target=\"_blank\" ");
    // Without pictures the browser loads nothing that a src attribute names.
    if (!picturesShown)
        text = ReplaceAllIgnoreCase(text, "src=", "tempsrc=");
    return text;
}

void TNewsType::RenderPage(int filterIndex, const std::string& filterCaption, bool picturesShown) {
    // Read before the page is touched: a missing item template leaves the old page as it was.
    const std::string itemTemplate = LoadTemplate("item.html");
    TPageWriter page(PagePath);
    page.WriteLine(LoadTemplate("top.html"));

    bool written = false;
    for (const std::unique_ptr<TNewsItem>& item : NewsItems) {
        if (!PassesAgeFilter(item->Date, filterIndex))
            continue;
        written = true;
        std::string author = item->Feed ? item->Feed->FeedName : std::string();
        if (item->Feed && item->Feed->ShowAuthor && !Trim(item->Author).empty())
            author += ": " + item->Author;
        // Each step sees what the steps before it put in: "{link}" inside a title becomes the link.
        std::string chunk = ReplaceAll(itemTemplate, "{author}", author);
        chunk = ReplaceAll(chunk, "{title}", item->Title);
        chunk = ReplaceAll(chunk, "{description}", PrepareDescription(item->Description, picturesShown));
        chunk = ReplaceAll(chunk, "{date}",
                           item->Date != 0 ? FormatNewsDate(item->Date)
                                           : std::string("Unable to decode the date"));
        chunk = ReplaceAll(chunk, "{link}", item->Link);
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
