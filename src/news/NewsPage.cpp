// The news page: templates, the description treatment and the page file.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "news/NewsDates.h"
#include "news/NewsTypeCls.h"
#include "platform/DataFolder.h"
#include "platform/Files.h"
#include "platform/SysUtils.h"

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

// Whether the text holds a byte other than the blanks (codes 0 to 32) that trimming removes.
bool HasVisibleByte(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return !IsBlankChar(c); });
}

const std::string_view kAnchorOpening = "<a target=\"_blank\" ";
const std::string_view kHiddenSource = "tempsrc=";

// The description treatment appended to out. Every "<a" (either case of the a) becomes
// kAnchorOpening; without pictures every "src=" (any case) becomes kHiddenSource. The two
// replacements are done in one pass: neither pattern can overlap the other, and the inserted
// opening neither begins nor ends with a part of "src=", so the second replacement finds in the
// first one's result exactly the matches it finds in the original. With StopAtBraces the pass
// gives up at the first "{" or "}" and returns false, out then holding a part of the result.
template <bool StopAtBraces, class TOut>
bool AppendPreparedDescription(std::string_view text, bool picturesShown, TOut& out) {
    const char* const end = text.data() + text.size();
    const char* from = text.data(); // the first byte not yet appended
    // Looks at one byte that may start or end a match; false at a brace.
    const auto visit = [&](const char* p) {
        switch (*p) {
        case '<':
            if (p + 1 < end && IsAsciiLetterLike(p[1], 'a')) {
                out.append(from, static_cast<size_t>(p - from));
                out.append(kAnchorOpening.data(), kAnchorOpening.size());
                from = p + 2;
            }
            return true;
        case '=':
            if (!picturesShown && p - from >= 3 && IsAsciiLetterLike(p[-3], 's') &&
                IsAsciiLetterLike(p[-2], 'r') && IsAsciiLetterLike(p[-1], 'c')) {
                out.append(from, static_cast<size_t>(p - 3 - from));
                out.append(kHiddenSource.data(), kHiddenSource.size());
                from = p + 1;
            }
            return true;
        case '{':
        case '}':
            return !StopAtBraces;
        default:
            return true;
        }
    };
    const char* p = text.data();
#ifdef __SSE2__
    // Sixteen bytes at a time; most blocks hold none of the bytes looked for.
    const __m128i less = _mm_set1_epi8('<');
    const __m128i equals = _mm_set1_epi8(picturesShown ? '<' : '=');
    const __m128i open = _mm_set1_epi8(StopAtBraces ? '{' : '<');
    const __m128i close = _mm_set1_epi8(StopAtBraces ? '}' : '<');
    for (; end - p >= 16; p += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(block, less), _mm_cmpeq_epi8(block, equals));
        if (StopAtBraces)
            hits =
                _mm_or_si128(hits, _mm_or_si128(_mm_cmpeq_epi8(block, open), _mm_cmpeq_epi8(block, close)));
        for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits)); mask != 0; mask &= mask - 1)
            if (!visit(p + __builtin_ctz(mask)))
                return false;
    }
#endif
    for (; p < end; ++p)
        if (!visit(p))
            return false;
    out.append(from, static_cast<size_t>(end - from));
    return true;
}

// The page's bytes on their way to the file: a plain growing block whose appends are inline, as
// a page is made of hundreds of thousands of small pieces.
class TPageBuffer {
public:
    explicit TPageBuffer(size_t capacity) : FData(new char[capacity]), FCapacity(capacity) {}
    void append(const char* data, size_t length) {
        if (length > FCapacity - FSize)
            Grow(length);
        std::memcpy(FData.get() + FSize, data, length);
        FSize += length;
    }
    const char* data() const { return FData.get(); }
    size_t size() const { return FSize; }
    // Keeps the first size bytes (size not above the current size).
    void truncate(size_t size) { FSize = size; }
    void clear() { FSize = 0; }

private:
    void Grow(size_t length) {
        const size_t capacity = std::max(FCapacity * 2, FSize + length);
        std::unique_ptr<char[]> data(new char[capacity]);
        std::memcpy(data.get(), FData.get(), FSize);
        FData = std::move(data);
        FCapacity = capacity;
    }

    std::unique_ptr<char[]> FData;
    size_t FCapacity;
    size_t FSize = 0;
};

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

    // Whether Fill may be tried for these values: the template is clean and the author, title and
    // date hold no brace (the link is put in last, so it may hold anything).
    bool CanFill(const std::string_view* values) const {
        if (!FClean)
            return false;
        // These values are short: a plain loop beats a library search per value and brace.
        for (int f : {Author, Title, Date})
            for (char c : values[f])
                if (c == '{' || c == '}')
                    return false;
        return true;
    }
    // The chunk for values in field order appended to out, the description (given untreated)
    // treated on the way. False when the description holds a brace: out then holds a part of the
    // chunk, which the caller takes back.
    bool Fill(const std::string_view* values, bool picturesShown, TPageBuffer& out) const {
        for (const TPart& part : FParts) {
            if (part.Field == Text)
                out.append(FText.data() + part.Offset, part.Length);
            else if (part.Field == Description) {
                if (!AppendPreparedDescription<true>(values[Description], picturesShown, out))
                    return false;
            } else
                out.append(values[part.Field].data(), values[part.Field].size());
        }
        return true;
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

// The page file, gathered in a large buffer that goes out in few writes; closed on every path.
// An existing page is written over in place and then cut to the new length: the file system keeps
// its blocks and cached pages instead of freeing tens of megabytes and allocating them again,
// which made emptying the previous page the slowest step of a render.
class TPageWriter {
public:
    explicit TPageWriter(const std::string& path)
        : FPath(path), FFile(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666)) {
        if (FFile < 0)
            throw EFCreateError(FPath);
    }
    // A render stopped by an error leaves the page as far as it got, without the old page's rest.
    ~TPageWriter() {
        if (FFile >= 0) {
            WriteOut();
            Truncate();
            ::close(FFile);
        }
    }
    TPageWriter(const TPageWriter&) = delete;
    TPageWriter& operator=(const TPageWriter&) = delete;

    // The buffer to append a line's text to; EndLine finishes the line.
    TPageBuffer& Buffer() { return FBuffer; }
    // A CR LF after what was appended; writes out a full buffer.
    void EndLine() {
        FBuffer.append(kLineBreak, 2);
        if (FBuffer.size() >= kFlushSize)
            Flush();
    }
    // The piece and a CR LF after it.
    void WriteLine(std::string_view piece) {
        FBuffer.append(piece.data(), piece.size());
        EndLine();
    }
    // Writes out the rest, cuts the file there and closes; a full disk shows here at the latest.
    void Close() {
        Flush();
        const bool truncated = Truncate();
        const int file = FFile;
        FFile = -1;
        if (::close(file) != 0 || !truncated)
            throw EFCreateError(FPath);
    }

private:
    static constexpr size_t kFlushSize = 1 << 20;

    // The buffer written at the current end of the page; false when the file took less.
    bool WriteOut() {
        const char* data = FBuffer.data();
        size_t left = FBuffer.size();
        while (left > 0) {
            const ssize_t done = ::write(FFile, data, left);
            if (done < 0 && errno == EINTR)
                continue;
            if (done <= 0)
                break;
            data += done;
            left -= static_cast<size_t>(done);
            FWritten += static_cast<off_t>(done);
        }
        FBuffer.clear();
        return left == 0;
    }
    void Flush() {
        if (!WriteOut())
            throw EFCreateError(FPath);
    }
    // Cuts off whatever the previous page had beyond what was written.
    bool Truncate() { return ::ftruncate(FFile, FWritten) == 0; }

    std::string FPath;
    int FFile;
    off_t FWritten = 0;
    TPageBuffer FBuffer{kFlushSize + kFlushSize / 4};
};

} // namespace

std::string TNewsType::LoadTemplate(const std::string& fileName) {
    return ReadFileToString(TemplateFolder() + fileName);
}

std::string TNewsType::PrepareDescription(const std::string& description, bool picturesShown) {
    // Links in the news open outside the news view; without pictures the browser loads nothing
    // that a src attribute names.
    std::string text;
    text.reserve(description.size() + description.size() / 8);
    AppendPreparedDescription<false>(description, picturesShown, text);
    return text;
}

void TNewsType::RenderPage(int filterIndex, const std::string& filterCaption, bool picturesShown) {
    // Read before the page is touched: a missing item template leaves the old page as it was.
    const std::string itemTemplate = LoadTemplate("item.html");
    TPageWriter page(PagePath);
    page.WriteLine(LoadTemplate("top.html"));

    const TItemTemplate fillable(itemTemplate);
    std::string author, description, date, chunk;
    TDateTime shownDate = 0;
    bool dateShown = false;
    bool written = false;
    for (size_t index = 0; index < NewsItems.size(); ++index) {
        const std::unique_ptr<TNewsItem>& item = NewsItems[index];
        if (!PassesAgeFilter(item->Date, filterIndex))
            continue;
        // The sorted items lie scattered in memory: ask early for the next records and the next
        // description (its first 4 KB), which the processor would otherwise wait for.
        if (index + 2 < NewsItems.size())
            __builtin_prefetch(NewsItems[index + 2].get());
        if (index + 1 < NewsItems.size()) {
            const std::string& next = NewsItems[index + 1]->Description;
            const size_t lines = std::min<size_t>(next.size(), 4096) / 64 + 1;
            for (size_t line = 0; line < lines; ++line)
                __builtin_prefetch(next.data() + 64 * line);
        }
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
        const std::string_view values[] = {author, item->Title, item->Description, date, item->Link};
        TPageBuffer& buffer = page.Buffer();
        const size_t chunkStart = buffer.size();
        if (fillable.CanFill(values) && fillable.Fill(values, picturesShown, buffer)) {
            page.EndLine();
        } else {
            buffer.truncate(chunkStart);
            description.clear();
            AppendPreparedDescription<false>(item->Description, picturesShown, description);
            // Each step sees what the steps before it put in: "{link}" inside a title becomes the link.
            chunk = ReplaceAll(itemTemplate, "{author}", author);
            chunk = ReplaceAll(chunk, "{title}", item->Title);
            chunk = ReplaceAll(chunk, "{description}", description);
            chunk = ReplaceAll(chunk, "{date}", date);
            chunk = ReplaceAll(chunk, "{link}", item->Link);
            page.WriteLine(chunk);
        }
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
