// The parser: a document's text into a tree of nodes in the document's store.
#include "xml/XMLNode.h"

#include <cstring>
#include <new>
#include <vector>

#include "platform/SysUtils.h"
#include "xml/XMLStore.h"

namespace {

// A value that starts with a quote loses its first and its last character, whatever that is.
std::string_view StripQuotes(std::string_view value) {
    if (!value.empty() && (value[0] == '"' || value[0] == '\''))
        return value.size() >= 2 ? value.substr(1, value.size() - 2) : std::string_view();
    return value;
}

// The first of the Stops bytes in [from, to), or to.
template <char... Stops> const char* FindFirstOf(const char* from, const char* to) {
    while (from < to && ((*from != Stops) && ...))
        ++from;
    return from;
}

} // namespace

// Walks the document text once with an index; nothing is ever erased from its front. The
// element levels being parsed are kept on an explicit stack instead of the call stack, so that
// no nesting depth can exhaust it. Values refer into the text, which the parser may rearrange
// behind what it has read (see Append).
class TXMLParser {
    struct TLevel {
        TXMLNode* Root;           // the document, or null for an element
        std::size_t Index;        // the element's index in FScratch
        std::size_t FirstChild;   // index in FScratch of its first child
        std::size_t ContentStart; // where its content begins in the text
    };

public:
    explicit TXMLParser(TXMLStore& store)
        : FStore(&store), FBuffer(store.Text.data()), FText(store.Text.data(), store.Text.size()) {}

    // Nodes not yet handed to a parent (only when the parse stopped on an error) are released.
    ~TXMLParser() {
        for (TXMLNode* node : FScratch)
            if (node)
                node->~TXMLNode();
    }
    TXMLParser(const TXMLParser&) = delete;
    TXMLParser& operator=(const TXMLParser&) = delete;

    // LoadFromString: top-level constructs until the text is used up.
    void ParseDocument(TXMLNode& doc) {
        OpenLevel(&doc, 0);
        while (FPos < FText.size())
            ParseElement();
        CloseLevel();
    }

private:
    std::size_t Find(char c, std::size_t from) const {
        if (from >= FText.size())
            return FText.size();
        const void* hit = std::memchr(FText.data() + from, c, FText.size() - from);
        return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - FText.data()) : FText.size();
    }

    std::size_t Find(std::string_view what, std::size_t from) const {
        const std::size_t hit = FText.find(what, from);
        return hit == std::string_view::npos ? FText.size() : hit;
    }

    bool StartsWith(std::size_t at, std::string_view what) const {
        return FText.size() - at >= what.size() &&
               std::memcmp(FText.data() + at, what.data(), what.size()) == 0;
    }

    // The node of an open level: the document itself or an element in FScratch.
    TXMLNode& NodeOf(const TLevel& level) { return level.Root ? *level.Root : *FScratch[level.Index]; }

    // A new node of that name in the store, where it stays, appended to FScratch.
    TXMLNode& NewNode(std::string_view name) {
        FScratch.push_back(nullptr);
        TXMLNode* node = new (FStore->Allocate(sizeof(TXMLNode))) TXMLNode(name);
        node->FStore = FStore;
        FScratch.back() = node;
        return *node;
    }

    // Reads one element into a new node appended to FScratch: its tag and, unless it has no
    // content, everything up to its closing tag.
    void ParseElement() {
        const std::size_t base = FStack.size();
        for (;;) {
            if (ParseTag())
                OpenLevel(nullptr, FScratch.size() - 1);
            // The open levels' content, until a child starts or the element has ended.
            for (;;) {
                if (FStack.size() == base)
                    return;
                if (ParseContent(NodeOf(FStack.back())))
                    break;
                CloseLevel();
            }
        }
    }

    void OpenLevel(TXMLNode* root, std::size_t index) {
        FStack.push_back({root, index, FScratch.size(), FPos});
    }

    // Hands the children collected for the innermost open level over to its node, in one block.
    void CloseLevel() {
        const TLevel level = FStack.back();
        FStack.pop_back();
        // The parser moves text only behind what it has read, so positions are those of the text
        // as written.
        if (FStore->KeepsMarkup && !level.Root)
            FStore->ContentSpans[FScratch[level.Index]] = {level.ContentStart, FContentEnd};
        const std::size_t count = FScratch.size() - level.FirstChild;
        if (count == 0)
            return;
        auto** block = static_cast<TXMLNode**>(FStore->Allocate(count * sizeof(TXMLNode*)));
        std::memcpy(block, FScratch.data() + level.FirstChild, count * sizeof(TXMLNode*));
        FScratch.resize(level.FirstChild);
        TXMLNode& owner = NodeOf(level);
        owner.FParsed = block;
        owner.FParsedCount = static_cast<std::uint32_t>(count);
    }

    // Everything of ParseElement but the content: the new node; returns whether the tag has
    // content.
    bool ParseTag() {
        const std::size_t size = FText.size();
        const char* const text = FText.data();
        // One comment where an element may start is skipped; the "-->" is searched for from the
        // start of the remaining text.
        std::size_t open = FPos < size && text[FPos] == '<' ? FPos : Find('<', FPos);
        if (open < size && StartsWith(open + 1, "!--")) {
            const std::size_t close = Find("-->", FPos);
            FPos = close < size ? close + 3 : size;
            open = Find('<', FPos);
        }
        // Text before the first "<" (white space, a byte-order mark) is dropped.
        if (open < size)
            FPos = open + 1;
        // Most tags are a bare name: one scan finds where the name or the tag ends.
        const auto stop =
            static_cast<std::size_t>(FindFirstOf<' ', '\r', '\n', '>'>(text + FPos, text + size) - text);
        const std::size_t end = stop < size && text[stop] != '>' ? Find('>', stop) : stop;
        std::string_view tag(text + FPos, end - FPos);
        FPos = end < size ? end + 1 : size;

        bool hasContent = true;
        if (!tag.empty() && (tag.back() == '/' || tag.back() == '?')) {
            hasContent = false;
            tag.remove_suffix(1);
        }
        if (!tag.empty() && tag.front() == '!')
            hasContent = false;

        // Only a space (or a line break) ends the name; a tab belongs to it. Removing a final
        // "/" or "?" never removes that space.
        if (stop >= end) {
            NewNode(tag);
        } else {
            const auto space = static_cast<std::size_t>(text + stop - tag.data());
            TXMLNode& node = NewNode(tag.substr(0, space));
            const std::string_view attributes = TrimView(tag.substr(space + 1));
            if (!attributes.empty())
                ParseAttributes(node, attributes);
        }
        return hasContent;
    }

    // Attributes are split at every space, quoted or not: title='a b' gives title (empty) and b'.
    void ParseAttributes(TXMLNode& node, std::string_view text) {
        const char* p = text.data();
        const char* const last = p + text.size();
        // The tokens are counted first, so that the list takes one allocation.
        std::size_t count = 1;
        for (const char* at = p; at < last; ++at)
            count += *at == ' ' || *at == '\r' || *at == '\n';
        node.Attributes.Reserve(count);
        for (;;) {
            const char* const stop = FindFirstOf<' ', '\r', '\n'>(p, last);
            const std::string_view token(p, static_cast<std::size_t>(stop - p));
            const std::size_t equals = token.find('=');
            std::string_view value;
            if (equals != std::string_view::npos)
                value = StripQuotes(TrimView(token.substr(equals + 1)));
            TXMLValue& stored = node.Attributes.Lookup(TrimView(token.substr(0, equals)));
            stored.FOwned.reset();
            stored.FData = value.data() ? value.data() : "";
            stored.FSize = value.size();
            if (value.data())
                FViewEnd = static_cast<std::size_t>(value.data() + value.size() - FBuffer);
            if (stop >= last)
                break;
            p = stop + 1;
        }
    }

    // Collects the node's text until its content ends (false) or a child element starts (true;
    // its tag is next in the text).
    bool ParseContent(TXMLNode& node) {
        const std::size_t size = FText.size();
        const char* const text = FText.data();
        TXMLValue& value = node.Value;
        for (;;) {
            // A text run is kept with its white space unless it is only white space; the run
            // between two tags mostly is.
            std::size_t open = FPos;
            while (open < size && IsBlankChar(text[open]))
                ++open;
            if (open < size && text[open] != '<') {
                open = Find('<', open);
                Append(value, false, FPos, open - FPos);
            }
            FPos = open;
            if (FPos >= size) {
                FContentEnd = size;
                return false;
            }
            const char next = FPos + 1 < size ? text[FPos + 1] : '\0';
            if (next == '/') {
                // Closing tags are not matched by name: any one ends the content.
                FContentEnd = FPos;
                const std::size_t close = Find('>', FPos + 2);
                FPos = close < size ? close + 1 : size;
                return false;
            }
            if (next == '!') {
                if (StartsWith(FPos + 2, "[CDATA[")) {
                    // The section's content goes in verbatim after one space; an unterminated
                    // section takes the rest of the document.
                    const std::size_t close = Find("]]>", FPos + 9);
                    Append(value, true, FPos + 9, close - FPos - 9);
                    FPos = close < size ? close + 3 : size;
                    continue;
                }
                if (StartsWith(FPos + 2, "--")) {
                    // A comment inside content is skipped; taken as an element it would swallow
                    // the closing tag after it and misplace the rest of the document.
                    const std::size_t close = Find("-->", FPos + 4);
                    FPos = close < size ? close + 3 : size;
                    continue;
                }
            }
            return true;
        }
    }

    // Appends the text at start (after a space when spaced) to the value. A value refers into the
    // document as long as its pieces can be moved together there: while it is the last text
    // taken, everything between its end and the new piece is markup already read.
    void Append(TXMLValue& value, bool spaced, std::size_t start, std::size_t length) {
        const std::size_t total = length + (spaced ? 1 : 0);
        if (!value.FOwned) {
            // An empty value may still point at a static "": only a value with text has a place
            // in the buffer.
            if (value.FSize == 0 || value.FData + value.FSize == FBuffer + FViewEnd) {
                // A fresh value starts at its piece; a CDATA section's space goes on the "[" before.
                std::size_t to = value.FSize == 0 ? start - (spaced ? 1 : 0) : FViewEnd;
                if (value.FSize == 0)
                    value.FData = FBuffer + to;
                if (spaced)
                    FBuffer[to++] = ' ';
                if (to != start)
                    std::memmove(FBuffer + to, FBuffer + start, length);
                value.FSize += total;
                FViewEnd = to + length;
                return;
            }
            value.Detach();
        }
        std::string& text = *value.FOwned;
        text.reserve(text.size() + total);
        if (spaced)
            text += ' ';
        text.append(FBuffer + start, length);
        value.FData = text.data();
        value.FSize = text.size();
    }

    TXMLStore* FStore;
    char* FBuffer;
    std::string_view FText;
    std::size_t FPos = 0;
    // Where the text taken last ends in the buffer; nothing after it is referred to.
    std::size_t FViewEnd = 0;
    // Where the content that ended last ends: its closing tag, or the end of the text.
    std::size_t FContentEnd = 0;
    // The open elements, outermost first.
    std::vector<TLevel> FStack;
    // The open elements and the children of all open levels, in document order; a level's
    // children get an array of their own when it closes. Nodes never move once made.
    std::vector<TXMLNode*> FScratch;
};

void TXMLNode::LoadFromString(std::string&& text) {
    Load(std::move(text), false);
}

void TXMLNode::LoadKeepingMarkup(std::string text) {
    Load(std::move(text), true);
}

void TXMLNode::Load(std::string&& text, bool keepMarkup) {
    auto store = std::make_unique<TXMLStore>(keepMarkup ? text : std::move(text));
    if (keepMarkup) {
        store->Source = std::move(text);
        store->KeepsMarkup = true;
    }
    Clear();
    Value.Detach();
    ReleaseStore();
    FStore = store.release();
    FOwnsStore = true;
    TXMLParser parser(*FStore);
    parser.ParseDocument(*this);
}

std::string_view TXMLNode::ContentMarkup() const {
    if (!FStore || !FStore->KeepsMarkup)
        return std::string_view();
    const auto span = FStore->ContentSpans.find(this);
    if (span == FStore->ContentSpans.end())
        return std::string_view();
    return std::string_view(FStore->Source)
        .substr(span->second.first, span->second.second - span->second.first);
}
