#include "xml/XMLNode.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <istream>
#include <new>
#include <sstream>
#include <string_view>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/Files.h"
#include "platform/SysUtils.h"

namespace {

// The position of the first of the Stops bytes in text[from, size), or size; the bytes up to
// readable (at least size) may be read. Markup is mostly short runs, so the search goes 16
// bytes at a time without a call.
template <char... Stops>
std::size_t FindFirstOf(const char* text, std::size_t from, std::size_t size, std::size_t readable) {
#if defined(__SSE2__)
    while (from < size && from + 16 <= readable) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + from));
        __m128i hits = _mm_setzero_si128();
        ((hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, _mm_set1_epi8(Stops)))), ...);
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
        if (mask != 0)
            return std::min(size, from + static_cast<std::size_t>(__builtin_ctz(mask)));
        from += 16;
    }
#else
    (void)readable;
#endif
    while (from < size && ((text[from] != Stops) && ...))
        ++from;
    return std::min(from, size);
}

// The position of the first byte after from with a code above 32, or size.
std::size_t SkipBlanks(const char* text, std::size_t from, std::size_t size) {
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(32);
    while (from + 16 <= size) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + from));
        const __m128i blank = _mm_cmpeq_epi8(_mm_min_epu8(block, space), block);
        const auto mask = ~static_cast<unsigned>(_mm_movemask_epi8(blank)) & 0xFFFFu;
        if (mask != 0)
            return from + static_cast<std::size_t>(__builtin_ctz(mask));
        from += 16;
    }
#endif
    while (from < size && IsBlankChar(text[from]))
        ++from;
    return from;
}

// Once a tag has this many attributes, ValueOf looks names up through a hash index.
constexpr std::size_t AttributeIndexThreshold = 8;

// A value that starts with a quote loses its first and its last character, whatever that is.
std::string_view StripQuotes(std::string_view value) {
    if (!value.empty() && (value[0] == '"' || value[0] == '\''))
        return value.size() >= 2 ? value.substr(1, value.size() - 2) : std::string_view();
    return value;
}

} // namespace

std::string DecodeEntities(std::string_view text) {
    const char* s = text.data();
    const char* const end = s + text.size();
    const void* amp = std::memchr(s, '&', text.size());
    if (!amp)
        return std::string(text);
    // Every reference is longer than what it decodes to.
    std::string result(text.size(), '\0');
    char* to = result.data();
    while (amp) {
        const auto* at = static_cast<const char*>(amp);
        std::memcpy(to, s, static_cast<std::size_t>(at - s));
        to += at - s;
        s = DecodeEntityAt(at, end, to);
        amp = std::memchr(s, '&', static_cast<std::size_t>(end - s));
    }
    std::memcpy(to, s, static_cast<std::size_t>(end - s));
    to += end - s;
    result.resize(static_cast<std::size_t>(to - result.data()));
    return result;
}

// ---------------------------------------------------------------------------------------------
// TXMLStore and TXMLValue

// The document text, copied once; the parser moves text runs within it so that a value made of
// several pieces can mostly still refer into it.
class TXMLStore {
public:
    explicit TXMLStore(std::string text) : Text(std::move(text)) {}

    // Room for bytes (a multiple of 8), not yet constructed; lives as long as the store.
    void* Allocate(std::size_t bytes) {
        if (bytes > FLeft) {
            // Chunks grow with the document, so that a large one takes few of them.
            const std::size_t chunk = std::max(bytes, FNextChunk);
            FChunks.emplace_back(
                new std::max_align_t[(chunk + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t)]);
            FNext = reinterpret_cast<char*>(FChunks.back().get());
            FLeft = chunk;
            FNextChunk = std::min<std::size_t>(FNextChunk * 2, 1 << 20);
        }
        void* room = FNext;
        FNext += bytes;
        FLeft -= bytes;
        return room;
    }

    std::atomic<long> References{1};
    std::string Text;

private:
    std::vector<std::unique_ptr<std::max_align_t[]>> FChunks;
    char* FNext = nullptr;
    std::size_t FLeft = 0;
    std::size_t FNextChunk = 16 * 1024;
};

TXMLValue& TXMLValue::operator=(const TXMLValue& other) {
    if (this != &other)
        SetRawText(std::string(other.RawText()));
    return *this;
}

void TXMLValue::SetRawText(std::string text) {
    if (FOwned)
        *FOwned = std::move(text);
    else
        FOwned = std::make_unique<std::string>(std::move(text));
    FData = FOwned->data();
    FSize = FOwned->size();
}

void TXMLValue::Detach() {
    if (!FOwned && FSize != 0)
        SetRawText(std::string(FData, FSize));
}

void TXMLValue::Relocate(TXMLValue& other) noexcept {
    FData = std::exchange(other.FData, "");
    FSize = std::exchange(other.FSize, 0);
    FOwned = std::move(other.FOwned);
}

// ---------------------------------------------------------------------------------------------
// TXMLAttributes

TXMLAttributes::TXMLAttributes(TXMLAttributes&& other) : FData(std::move(other.FData)) {
    Detach();
}

TXMLAttributes& TXMLAttributes::operator=(TXMLAttributes&& other) {
    if (this != &other) {
        FData = std::move(other.FData);
        Detach();
    }
    return *this;
}

TXMLAttributes::~TXMLAttributes() = default;

void TXMLAttributes::Detach() {
    for (int i = 0; i < Count(); ++i)
        Pair(static_cast<std::size_t>(i)).Value.Detach();
}

TXMLAttributes::TData* TXMLAttributes::TData::Create(std::size_t capacity) {
    static_assert(sizeof(TData) % alignof(TPair) == 0, "the pairs follow the data");
    void* block = ::operator new(sizeof(TData) + capacity * sizeof(TPair));
    TData* data = new (block) TData();
    // The pairs are constructed as they are taken.
    data->Parsed = reinterpret_cast<TPair*>(static_cast<char*>(block) + sizeof(TData));
    data->ParsedCapacity = capacity;
    return data;
}

TXMLAttributes::TData::~TData() {
    for (std::size_t i = 0; i < ParsedCount; ++i)
        Parsed[i].~TPair();
}

void TXMLAttributes::Reserve(std::size_t count) {
    // Only a new list gets its block; pairs beyond it are added one by one.
    if (!FData)
        FData.reset(TData::Create(count));
}

void TXMLAttributes::Clear() {
    FData.reset();
}

TXMLAttributes::TPair& TXMLAttributes::Pair(std::size_t index) const {
    return index < FData->ParsedCount ? FData->Parsed[index] : *FData->Added[index - FData->ParsedCount];
}

TXMLValue& TXMLAttributes::Lookup(std::string_view name) {
    if (!FData)
        FData.reset(TData::Create(0));
    TData& data = *FData;
    const std::size_t count = data.ParsedCount + data.Added.size();
    auto& index = data.Index;
    if (index) {
        std::string key = UpperCaseAscii(std::string(name));
        auto found = index->find(key);
        if (found != index->end())
            return Pair(found->second).Value;
        index->emplace(std::move(key), count);
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            TPair& pair = Pair(i);
            if (SameTextAscii(pair.Name, name))
                return pair.Value;
        }
        if (count + 1 >= AttributeIndexThreshold) {
            index = std::make_unique<std::unordered_map<std::string, std::size_t>>();
            for (std::size_t i = 0; i < count; ++i)
                index->emplace(UpperCaseAscii(Pair(i).Name), i);
            index->emplace(UpperCaseAscii(std::string(name)), count);
        }
    }
    if (data.Added.empty() && data.ParsedCount < data.ParsedCapacity) {
        TPair* pair = new (&data.Parsed[data.ParsedCount]) TPair{std::string(name), TXMLValue()};
        ++data.ParsedCount;
        return pair->Value;
    }
    data.Added.push_back(std::make_unique<TPair>());
    TPair& pair = *data.Added.back();
    pair.Name.assign(name.data(), name.size());
    return pair.Value;
}

const std::string& TXMLAttributes::Name(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(index);
    return Pair(static_cast<std::size_t>(index)).Name;
}

const TXMLValue& TXMLAttributes::Value(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(index);
    return Pair(static_cast<std::size_t>(index)).Value;
}

inline void TXMLNode::Relocate(TXMLNode& other) noexcept {
    Name = std::move(other.Name);
    Value.Relocate(other.Value);
    Attributes.FData = std::move(other.Attributes.FData);
    FParsed = std::exchange(other.FParsed, nullptr);
    FParsedCount = std::exchange(other.FParsedCount, 0);
    FAdded = std::move(other.FAdded);
    FStore = std::exchange(other.FStore, nullptr);
    FOwnsStore = std::exchange(other.FOwnsStore, false);
}

// ---------------------------------------------------------------------------------------------
// The parser

// Walks the document text once with an index; nothing is ever erased from its front. The
// element levels being parsed are kept on an explicit stack instead of the call stack, so that
// no nesting depth can exhaust it.
class TXMLParser {
    struct TLevel {
        TXMLNode* Root;         // the document, or null for an element
        std::size_t Index;      // the element's index in FScratch
        std::size_t FirstChild; // index in FScratch of its first child
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

    bool AtEnd() const { return FPos >= FText.size(); }

    // LoadFromString: top-level constructs until the text is used up.
    void ParseDocument(TXMLNode& doc) {
        OpenLevel(&doc, 0);
        while (!AtEnd())
            ParseElement();
        CloseLevel();
    }

    // Releases every descendant of node, block by block, without recursion. Store references
    // held inside the subtree are let go only at the end, as blocks further down may lie in them.
    static void ReleaseChildren(TXMLNode& node) {
        if (!node.FParsed && !node.FAdded)
            return;
        std::vector<std::pair<TXMLNode**, std::size_t>> blocks;
        std::vector<std::unique_ptr<TXMLNode>> singles;
        std::vector<TXMLNode> stores;
        const auto take = [&](TXMLNode& from) {
            if (from.FParsed)
                blocks.emplace_back(std::exchange(from.FParsed, nullptr),
                                    std::exchange(from.FParsedCount, 0));
            if (from.FAdded) {
                for (auto& child : *from.FAdded)
                    singles.push_back(std::move(child));
                from.FAdded.reset();
            }
            if (from.FOwnsStore) {
                stores.emplace_back();
                stores.back().FStore = std::exchange(from.FStore, nullptr);
                stores.back().FOwnsStore = std::exchange(from.FOwnsStore, false);
            }
        };
        if (node.FParsed)
            blocks.emplace_back(std::exchange(node.FParsed, nullptr), std::exchange(node.FParsedCount, 0));
        if (node.FAdded) {
            for (auto& child : *node.FAdded)
                singles.push_back(std::move(child));
            node.FAdded.reset();
        }
        while (!blocks.empty() || !singles.empty()) {
            if (!blocks.empty()) {
                const auto block = blocks.back();
                blocks.pop_back();
                for (std::size_t i = 0; i < block.second; ++i) {
                    take(*block.first[i]);
                    block.first[i]->~TXMLNode();
                }
            } else {
                std::unique_ptr<TXMLNode> single = std::move(singles.back());
                singles.pop_back();
                take(*single);
            }
        }
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

    // As Find, for a character that is usually close by.
    template <char C> std::size_t FindNear(std::size_t from) const {
        const std::size_t near = std::min(FText.size(), from + 64);
        const std::size_t hit = FindFirstOf<C>(FText.data(), from, near, FText.size());
        return hit < near ? hit : Find(C, near);
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

    // A new innermost level, its fields written in place: a level built aside and copied in
    // would be read back whole right after being written in halves, which stalls the copy.
    void OpenLevel(TXMLNode* root, std::size_t index) {
        TLevel& level = FStack.emplace_back();
        level.Root = root;
        level.Index = index;
        level.FirstChild = FScratch.size();
    }

    // Hands the children collected for the innermost open level over to its node, in one block.
    void CloseLevel() {
        const TLevel level = FStack.back();
        FStack.pop_back();
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
        const std::size_t stop = FindFirstOf<' ', '\r', '\n', '>'>(text, FPos, size, size);
        const std::size_t end = stop < size && text[stop] != '>' ? FindNear<'>'>(stop) : stop;
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
        struct TToken {
            std::string_view Name;
            std::string_view Value;
        };
        // A tag rarely has more attributes than fit here; the list then takes one allocation.
        // The room is left uninitialised: only the tokens counted are read.
        alignas(TToken) unsigned char room[16 * sizeof(TToken)];
        TToken* const local = reinterpret_cast<TToken*>(room);
        constexpr std::size_t localCount = 16;
        std::vector<TToken> more;
        std::size_t count = 0;
        const char* p = text.data();
        const char* const last = p + text.size();
        for (;;) {
            const auto left = static_cast<std::size_t>(last - p);
            // The tokens lie in the document, which may be read past their end.
            const auto readable = static_cast<std::size_t>(FText.data() + FText.size() - p);
            const char* stop = p + FindFirstOf<' ', '\r', '\n', '='>(p, 0, left, readable);
            const char* equals = nullptr;
            if (stop < last && *stop == '=') {
                equals = stop;
                stop += FindFirstOf<' ', '\r', '\n'>(stop, 0, static_cast<std::size_t>(last - stop),
                                                     readable - static_cast<std::size_t>(stop - p));
            }
            const std::string_view token(p, static_cast<std::size_t>(stop - p));
            TToken parsed;
            if (equals) {
                const auto at = static_cast<std::size_t>(equals - p);
                parsed.Name = TrimView(token.substr(0, at));
                parsed.Value = StripQuotes(TrimView(token.substr(at + 1)));
            } else {
                parsed.Name = TrimView(token);
            }
            if (count < localCount) {
                new (local + count) TToken(parsed);
            } else {
                if (more.empty())
                    more.assign(local, local + count);
                more.push_back(parsed);
            }
            ++count;
            if (stop >= last)
                break;
            p = stop + 1;
        }
        node.Attributes.Reserve(count);
        const TToken* tokens = more.empty() ? local : more.data();
        for (std::size_t i = 0; i < count; ++i) {
            TXMLValue& stored = node.Attributes.Lookup(tokens[i].Name);
            const std::string_view value = tokens[i].Value;
            stored.FOwned.reset();
            stored.FData = value.data();
            stored.FSize = value.size();
            if (value.data())
                FViewEnd = static_cast<std::size_t>(value.data() + value.size() - FBuffer);
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
            std::size_t open = SkipBlanks(text, FPos, size);
            if (open < size && text[open] != '<') {
                open = FindNear<'<'>(open);
                Append(value, false, FPos, open - FPos);
            }
            FPos = open;
            if (FPos >= size)
                return false;
            const char next = FPos + 1 < size ? text[FPos + 1] : '\0';
            if (next == '/') {
                // Closing tags are not matched by name: any one ends the content.
                const std::size_t close = FindNear<'>'>(FPos + 2);
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
            // An empty value may still point at a static "" (or nowhere): only a value with text
            // has a place in the buffer.
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
    // The open elements, outermost first.
    std::vector<TLevel> FStack;
    // The open elements and the children of all open levels, in document order; a level's
    // children get an array of their own when it closes. Nodes never move once made.
    std::vector<TXMLNode*> FScratch;
};

// ---------------------------------------------------------------------------------------------
// TXMLNode

void TXMLNode::ReleaseStore() noexcept {
    if (FOwnsStore && FStore->References.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete FStore;
    FStore = nullptr;
    FOwnsStore = false;
}

TXMLNode::TXMLNode(TXMLNode&& other) noexcept {
    // A node taken out of a document keeps the document text its subtree refers to.
    TXMLStore* store = other.FStore;
    const bool owns = other.FOwnsStore;
    if (store && !owns)
        store->References.fetch_add(1, std::memory_order_relaxed);
    Relocate(other);
    FOwnsStore = store != nullptr;
}

TXMLNode& TXMLNode::operator=(TXMLNode&& other) noexcept {
    if (this != &other) {
        // The other may be part of this node's subtree: it is taken out before that is released.
        TXMLNode taken(std::move(other));
        TXMLParser::ReleaseChildren(*this);
        ReleaseStore();
        Relocate(taken);
    }
    return *this;
}

void TXMLNode::ReleaseChildren() noexcept {
    TXMLParser::ReleaseChildren(*this);
}

void TXMLNode::Clear() {
    Name.clear();
    Attributes.Clear();
    TXMLParser::ReleaseChildren(*this);
}

TXMLNode& TXMLNode::AddChild() {
    if (!FAdded)
        FAdded = std::make_unique<std::vector<std::unique_ptr<TXMLNode>>>();
    FAdded->push_back(std::make_unique<TXMLNode>());
    return *FAdded->back();
}

TXMLNode& TXMLNode::Child(int index) const {
    if (index < 0 || index >= ChildCount())
        throw EListError(index);
    const auto i = static_cast<std::size_t>(index);
    return i < FParsedCount ? *FParsed[i] : *(*FAdded)[i - FParsedCount];
}

TXMLNode* TXMLNode::FindChild(const std::string& name) const {
    for (std::size_t i = 0; i < FParsedCount; ++i)
        if (SameTextAscii(FParsed[i]->Name, name))
            return FParsed[i];
    if (FAdded)
        for (const auto& child : *FAdded)
            if (SameTextAscii(child->Name, name))
                return child.get();
    return nullptr;
}

TXMLNode& TXMLNode::ChildByName(const std::string& name) const {
    TXMLNode* child = FindChild(name);
    if (!child)
        throw Exception("The \"" + name + "\" node is not found");
    return *child;
}

bool TXMLNode::HasChild(const std::string& name) const {
    return FindChild(name) != nullptr;
}

void TXMLNode::LoadFromString(const std::string& text) {
    // The caller's text may die first: the tree refers into a copy of its own.
    LoadFromString(std::string(text));
}

void TXMLNode::LoadFromString(std::string&& text) {
    auto store = std::make_unique<TXMLStore>(std::move(text));
    Clear();
    Value.Detach();
    ReleaseStore();
    FStore = store.release();
    FOwnsStore = true;
    TXMLParser parser(*FStore);
    parser.ParseDocument(*this);
}

void TXMLNode::LoadFromStream(std::istream& stream) {
    Clear();
    std::ostringstream content;
    if (stream.good())
        content << stream.rdbuf();
    LoadFromString(content.str());
}

void TXMLNode::LoadFromFile(const std::string& fileName) {
    // The file is read whole (and closed) first, so a file that cannot be read leaves the node
    // as it was.
    LoadFromString(ReadFileToString(fileName));
}
