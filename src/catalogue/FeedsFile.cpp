#include "catalogue/FeedsFileInternal.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "platform/Files.h"
#include "platform/SysUtils.h"

namespace detail {

const char* const kFeedsFileCorrupted = "The feeds file is corrupted";

namespace {

const char* const kCrLf = "\r\n";

bool IsPlain(unsigned char c) {
    return c >= 32 && c != '\'';
}

[[noreturn]] void Corrupted() {
    throw Exception(kFeedsFileCorrupted);
}

void AppendStringProperty(std::string& out, const char* name, const std::string& value) {
    if (value.empty())
        return;
    out += "      ";
    out += name;
    out += " = ";
    AppendFeedsString(out, value, "        ");
    out += kCrLf;
}

void AppendNumberProperty(std::string& out, const char* name, double value) {
    // A value that is not a finite number could not be read back and would make the whole file
    // unreadable; it is kept out like "none".
    if (value == 0 || !std::isfinite(value))
        return;
    out += "      ";
    out += name;
    out += " = ";
    out += FeedsNumberText(value);
    out += kCrLf;
}

void AppendBooleanProperty(std::string& out, const char* name, bool value) {
    out += "      ";
    out += name;
    out += value ? " = True" : " = False";
    out += kCrLf;
}

// The tokens of the object notation. Names and numbers point into the file text; a string token
// holds its decoded pieces in a buffer that is reused from token to token.
enum class TTokenKind { Name, Number, String, Symbol, End };

struct TToken {
    TTokenKind Kind = TTokenKind::End;
    std::string_view Span;
    std::string Text;
    char Symbol = 0;
};

class TFeedsParser {
public:
    explicit TFeedsParser(const std::string& text) : FText(text) {}

    TFeedEntries Parse();

private:
    const std::string& FText;
    size_t FPos = 0;
    TToken FToken;

    void Next();
    void ReadName();
    void ReadNumber();
    void ReadString();
    // Stores the string value in target, joining "'a' + 'b'" into one.
    void TakeString(std::string& target);

    bool IsName(const char* word) const {
        return FToken.Kind == TTokenKind::Name && SameTextAscii(FToken.Span, word);
    }
    bool IsSymbol(char c) const { return FToken.Kind == TTokenKind::Symbol && FToken.Symbol == c; }
    void Expect(char c) {
        if (!IsSymbol(c))
            Corrupted();
        Next();
    }
    void SkipOptionalIndex();
    TFeedEntries ReadItems();
    std::unique_ptr<TFeedListItem> ReadItem();
    void ReadItemProperty(TFeedListItem& item, std::string_view name);
};

void TFeedsParser::Next() {
    const size_t n = FText.size();
    while (FPos < n && IsBlankChar(FText[FPos]))
        ++FPos;
    FToken.Kind = TTokenKind::End;
    FToken.Span = {};
    FToken.Text.clear();
    if (FPos >= n)
        return;
    const char c = FText[FPos];
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_')
        ReadName();
    else if ((c >= '0' && c <= '9') || c == '-')
        ReadNumber();
    else if (c == '\'' || c == '#')
        ReadString();
    else if (c == '=' || c == '<' || c == '>' || c == '[' || c == ']' || c == ':' || c == '+') {
        FToken.Kind = TTokenKind::Symbol;
        FToken.Symbol = c;
        ++FPos;
    } else
        Corrupted();
}

void TFeedsParser::ReadName() {
    const size_t start = FPos;
    while (FPos < FText.size()) {
        const char c = FText[FPos];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
            break;
        ++FPos;
    }
    FToken.Kind = TTokenKind::Name;
    FToken.Span = std::string_view(FText).substr(start, FPos - start);
}

void TFeedsParser::ReadNumber() {
    const size_t n = FText.size();
    const size_t start = FPos;
    auto digits = [&]() {
        const size_t from = FPos;
        while (FPos < n && FText[FPos] >= '0' && FText[FPos] <= '9')
            ++FPos;
        return FPos - from;
    };
    if (FText[FPos] == '-')
        ++FPos;
    if (digits() == 0)
        Corrupted();
    if (FPos < n && FText[FPos] == '.') {
        ++FPos;
        digits();
    }
    if (FPos < n && (FText[FPos] == 'E' || FText[FPos] == 'e')) {
        ++FPos;
        if (FPos < n && (FText[FPos] == '+' || FText[FPos] == '-'))
            ++FPos;
        if (digits() == 0)
            Corrupted();
    }
    FToken.Kind = TTokenKind::Number;
    FToken.Span = std::string_view(FText).substr(start, FPos - start);
}

void TFeedsParser::ReadString() {
    const size_t n = FText.size();
    FToken.Kind = TTokenKind::String;
    std::string& out = FToken.Text;
    while (FPos < n) {
        const char c = FText[FPos];
        if (c == '\'') {
            // A quoted run; two apostrophes stand for one and the run must close on its line.
            ++FPos;
            for (;;) {
                if (FPos >= n || FText[FPos] == '\r' || FText[FPos] == '\n')
                    Corrupted();
                if (FText[FPos] == '\'') {
                    if (FPos + 1 < n && FText[FPos + 1] == '\'') {
                        out += '\'';
                        FPos += 2;
                        continue;
                    }
                    ++FPos;
                    break;
                }
                const size_t from = FPos;
                while (FPos < n && FText[FPos] != '\'' && FText[FPos] != '\r' && FText[FPos] != '\n')
                    ++FPos;
                out.append(FText, from, FPos - from);
            }
        } else if (c == '#') {
            ++FPos;
            unsigned code = 0;
            size_t count = 0;
            while (FPos < n && FText[FPos] >= '0' && FText[FPos] <= '9') {
                code = code * 10 + static_cast<unsigned>(FText[FPos] - '0');
                if (code > 255)
                    Corrupted(); // not a character of an 8-bit text
                ++FPos;
                ++count;
            }
            if (count == 0)
                Corrupted();
            out += static_cast<char>(code);
        } else
            break;
    }
}

void TFeedsParser::TakeString(std::string& target) {
    if (FToken.Kind != TTokenKind::String)
        Corrupted();
    target = FToken.Text;
    Next();
    while (IsSymbol('+')) {
        Next();
        if (FToken.Kind != TTokenKind::String)
            Corrupted();
        target += FToken.Text;
        Next();
    }
}

void TFeedsParser::SkipOptionalIndex() {
    if (!IsSymbol('['))
        return;
    Next();
    if (FToken.Kind != TTokenKind::Number)
        Corrupted();
    Next();
    Expect(']');
}

TFeedEntries TFeedsParser::Parse() {
    Next();
    if (!IsName("object") && !IsName("inherited") && !IsName("inline"))
        Corrupted();
    Next();
    if (FToken.Kind != TTokenKind::Name)
        Corrupted();
    Next();
    if (IsSymbol(':')) {
        Next();
        if (FToken.Kind != TTokenKind::Name)
            Corrupted();
        Next();
    }
    SkipOptionalIndex();

    TFeedEntries items;
    while (!IsName("end")) {
        if (!IsName("Items"))
            Corrupted();
        Next();
        Expect('=');
        // Reading the collection again replaces what an earlier "Items" gave.
        items = ReadItems();
    }
    // Whatever follows the final "end" is not looked at.
    return items;
}

TFeedEntries TFeedsParser::ReadItems() {
    Expect('<');
    TFeedEntries items;
    while (!IsSymbol('>'))
        items.push_back(ReadItem());
    Next();
    return items;
}

std::unique_ptr<TFeedListItem> TFeedsParser::ReadItem() {
    if (!IsName("item"))
        Corrupted();
    Next();
    SkipOptionalIndex();
    auto item = std::make_unique<TFeedListItem>();
    while (!IsName("end")) {
        if (FToken.Kind != TTokenKind::Name)
            Corrupted();
        const std::string_view name = FToken.Span;
        Next();
        Expect('=');
        ReadItemProperty(*item, name);
    }
    Next();
    return item;
}

void TFeedsParser::ReadItemProperty(TFeedListItem& item, std::string_view name) {
    std::string* text = nullptr;
    if (SameTextAscii(name, "FeedName"))
        text = &item.FeedName;
    else if (SameTextAscii(name, "FeedURL"))
        text = &item.FeedURL;
    else if (SameTextAscii(name, "FeedID"))
        text = &item.FeedID;
    else if (SameTextAscii(name, "ParentID"))
        text = &item.ParentID;
    if (text) {
        TakeString(*text);
        return;
    }

    bool* flag = nullptr;
    if (SameTextAscii(name, "AggInclude"))
        flag = &item.AggInclude;
    else if (SameTextAscii(name, "ShowAuthor"))
        flag = &item.ShowAuthor;
    if (flag) {
        if (IsName("True"))
            *flag = true;
        else if (IsName("False"))
            *flag = false;
        else
            Corrupted();
        Next();
        return;
    }

    TDateTime* date = nullptr;
    if (SameTextAscii(name, "RefreshDate"))
        date = &item.RefreshDate;
    else if (SameTextAscii(name, "LastModifiedDate"))
        date = &item.LastModifiedDate;
    if (!date || FToken.Kind != TTokenKind::Number)
        Corrupted();
    const std::string_view s = FToken.Span;
    double value = 0;
    const auto result = std::from_chars(s.data(), s.data() + s.size(), value);
    if (result.ec != std::errc() || result.ptr != s.data() + s.size() || !std::isfinite(value))
        Corrupted();
    *date = value;
    Next();
}

} // namespace

std::string FeedsNumberText(double value) {
    if (value == 0)
        return "0";
    if (!std::isfinite(value))
        return std::isnan(value) ? "NAN" : (value < 0 ? "-INF" : "INF");

    // Fifteen significant digits, "d.dddddddddddddde[+-]x", never touched by the locale.
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
    std::string sci(buf, result.ptr);
    std::string out;
    size_t p = 0;
    if (sci[p] == '-') {
        out += '-';
        ++p;
    }
    const size_t ePos = sci.find('e');
    std::string digits;
    for (size_t i = p; i < ePos; ++i)
        if (sci[i] != '.')
            digits += sci[i];
    const int exponent = std::atoi(sci.c_str() + ePos + 1);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    if (exponent >= 15 || exponent <= -5) {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out.append(digits, 1, std::string::npos);
        }
        out += 'E';
        out += std::to_string(exponent);
        return out;
    }
    if (exponent < 0) {
        out += "0.";
        out.append(static_cast<size_t>(-exponent - 1), '0');
        out += digits;
        return out;
    }
    const size_t whole = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= whole) {
        out += digits;
        out.append(whole - digits.size(), '0');
    } else {
        out.append(digits, 0, whole);
        out += '.';
        out.append(digits, whole, std::string::npos);
    }
    return out;
}

void AppendFeedsString(std::string& out, const std::string& s, const std::string& deeperIndent) {
    const size_t n = s.size();
    if (n == 0) {
        out += "''";
        return;
    }
    if (n > 64) {
        out += kCrLf;
        out += deeperIndent;
    }
    // Positions count from 1: i is the current character, k the first one of the current line.
    size_t i = 1, k = 1;
    while (i <= n) {
        bool breakDue = false;
        const auto c = static_cast<unsigned char>(s[i - 1]);
        if (IsPlain(c)) {
            const size_t j = i;
            ++i;
            while (i <= n && IsPlain(static_cast<unsigned char>(s[i - 1])) && i - k < 64)
                ++i;
            breakDue = i - k >= 64;
            out += '\'';
            out.append(s, j - 1, i - j);
            out += '\'';
        } else {
            out += '#';
            if (c >= 100)
                out += static_cast<char>('0' + c / 100);
            if (c >= 10)
                out += static_cast<char>('0' + c / 10 % 10);
            out += static_cast<char>('0' + c % 10);
            ++i;
            breakDue = i - k >= 64;
        }
        if (breakDue && i <= n) {
            out += " +";
            out += kCrLf;
            out += deeperIndent;
            k = i;
        }
    }
}

std::string FeedsStringText(const std::string& s, const std::string& deeperIndent) {
    std::string out;
    AppendFeedsString(out, s, deeperIndent);
    return out;
}

std::string FeedsFileText(const TFeedEntries& items) {
    size_t size = 64;
    for (const auto& item : items)
        size +=
            230 + item->FeedName.size() + item->FeedURL.size() + item->FeedID.size() + item->ParentID.size();
    std::string out;
    out.reserve(size + size / 8);
    out += "object TFeedList\r\n  Items = <";
    for (const auto& item : items) {
        out += "\r\n    item\r\n";
        AppendStringProperty(out, "FeedName", item->FeedName);
        AppendStringProperty(out, "FeedURL", item->FeedURL);
        AppendStringProperty(out, "FeedID", item->FeedID);
        AppendStringProperty(out, "ParentID", item->ParentID);
        AppendBooleanProperty(out, "AggInclude", item->AggInclude);
        AppendBooleanProperty(out, "ShowAuthor", item->ShowAuthor);
        AppendNumberProperty(out, "RefreshDate", item->RefreshDate);
        AppendNumberProperty(out, "LastModifiedDate", item->LastModifiedDate);
        out += "    end";
    }
    out += ">\r\nend\r\n";
    return out;
}

TFeedEntries ParseFeedsText(const std::string& text) {
    return TFeedsParser(text).Parse();
}

TFeedEntries LoadFeedsFile(const std::string& path) {
    return ParseFeedsText(ReadFileToString(path));
}

void SaveFeedsFile(const std::string& path, const TFeedEntries& items) {
    // The catalogue tells what the user reads: the user's alone, whatever the old file allowed.
    WriteFileAtomically(path, FeedsFileText(items), true, faOwnerOnly);
}

} // namespace detail
