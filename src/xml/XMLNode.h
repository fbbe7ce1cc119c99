#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The text with "&amp;", "&lt;", "&gt;", "&quot;", "&quote;", "&apos;" and "&amp;" again replaced
// one pass after the other, so "&amp;lt;" becomes "<"; numeric references such as "&#39;" stay.
std::string DecodeEntities(std::string_view text);

// DecodeEntities in one pass, at one "&": decodes the reference at s (an "&" before end) onto
// to and returns where the text goes on. An "&amp;" counts as "&" before the other references
// are looked for, so "&amp;lt;" gives "<" and "&amp;amp;" gives "&"; that works in one pass
// because no reference holds an "&" after its first byte.
inline const char* DecodeEntityAt(const char* s, const char* end, char*& to) {
    const auto startsWith = [end](const char* at, std::string_view word) {
        return static_cast<std::size_t>(end - at) >= word.size() &&
               std::char_traits<char>::compare(at, word.data(), word.size()) == 0;
    };
    const char* rest = startsWith(s + 1, "amp;") ? s + 5 : s + 1;
    static constexpr struct {
        std::string_view Word;
        char Decoded;
    } kReferences[] = {{"lt;", '<'},   {"gt;", '>'},    {"amp;", '&'},
                       {"quot;", '"'}, {"quote;", '"'}, {"apos;", '\''}};
    for (const auto& reference : kReferences) {
        if (startsWith(rest, reference.Word)) {
            *to++ = reference.Decoded;
            return rest + reference.Word.size();
        }
    }
    *to++ = '&';
    return rest;
}

// The text a loaded document was parsed from, shared by every node that refers into it; freed
// when the last node holding a reference lets go.
class TXMLStore;

// One raw text as the parser took it from the document, entity references left as written.
// A value read from a document refers into the document's text; a copy or a moved value owns
// its text, so it stays valid on its own.
class TXMLValue {
public:
    TXMLValue() = default;
    // Copies and moves take their own copy of the text.
    TXMLValue(const TXMLValue& other) { SetRawText(std::string(other.RawText())); }
    TXMLValue(TXMLValue&& other) { SetRawText(std::string(other.RawText())); }
    TXMLValue& operator=(const TXMLValue& other);
    TXMLValue& operator=(TXMLValue&& other) { return *this = static_cast<const TXMLValue&>(other); }
    ~TXMLValue() = default;

    // The stored text, empty for a new value; valid until the value changes or its node dies.
    std::string_view RawText() const { return std::string_view(FData, FSize); }
    // Replaces the stored text.
    void SetRawText(std::string text);
    // DecodeEntities of the stored text; the stored text is left as it is.
    std::string DecodedText() const { return DecodeEntities(RawText()); }

private:
    friend class TXMLParser;
    friend class TXMLAttributes;
    friend class TXMLNode;
    // Turns a text that refers into a document into one of its own.
    void Detach();
    // Takes over the other's text as it is (a reference into a document stays one).
    void Relocate(TXMLValue& other) noexcept;

    const char* FData = "";
    std::size_t FSize = 0;
    // The value's own text; null while the value refers into a document (or is empty).
    std::unique_ptr<std::string> FOwned;
};

// The attributes of a start tag: pairs in the order their names first appeared, names unique
// without regard to ASCII case.
class TXMLAttributes {
public:
    TXMLAttributes() = default;
    TXMLAttributes(const TXMLAttributes&) = delete;
    TXMLAttributes& operator=(const TXMLAttributes&) = delete;
    // Takes over the other's pairs, their values with texts of their own; the other is left
    // empty.
    TXMLAttributes(TXMLAttributes&& other);
    TXMLAttributes& operator=(TXMLAttributes&& other);
    ~TXMLAttributes();

    // Removes every pair; values handed out before become invalid.
    void Clear();
    // The value of the named attribute, ASCII case ignored; a missing name is appended with an
    // empty value, so a lookup of a missing attribute leaves an empty attribute behind.
    TXMLValue& ValueOf(const std::string& name) { return Lookup(name); }
    // The number of pairs.
    int Count() const { return FData ? static_cast<int>(FData->ParsedCount + FData->Added.size()) : 0; }
    // The name of pair i (0-based); raises EListError for an index out of range.
    const std::string& Name(int index) const;
    // The value of pair i (0-based); raises EListError for an index out of range.
    const TXMLValue& Value(int index) const;

private:
    friend class TXMLParser;
    friend class TXMLNode;
    struct TPair {
        std::string Name;
        TXMLValue Value;
    };
    // Room for count pairs in one block, so that a start tag's attributes take one allocation.
    void Reserve(std::size_t count);
    TXMLValue& Lookup(std::string_view name);
    TPair& Pair(std::size_t index) const;
    // Gives every value a text of its own.
    void Detach();

    struct TData {
        // Room for capacity pairs right behind the data, in the same allocation.
        static TData* Create(std::size_t capacity);
        static void operator delete(void* data) { ::operator delete(data); }
        ~TData();
        // The first pairs, in one block that never moves; the rest each on its own, so that a
        // value handed out by ValueOf stays put when pairs are added.
        TPair* Parsed = nullptr;
        std::size_t ParsedCount = 0;
        std::size_t ParsedCapacity = 0;
        std::vector<std::unique_ptr<TPair>> Added;
        // Upper-cased name -> index, built only once a tag has many attributes so that a hostile
        // tag cannot make the parser quadratic.
        std::unique_ptr<std::unordered_map<std::string, std::size_t>> Index;

    private:
        TData() = default;
    };
    // Most elements have no attributes: they pay for one pointer only.
    std::unique_ptr<TData> FData;
};

// One element node; a document is a node with an empty name whose children are the top-level
// constructs ("?xml", "!DOCTYPE", the root element, ...).
class TXMLNode {
public:
    TXMLNode() noexcept {}
    TXMLNode(const TXMLNode&) = delete;
    TXMLNode& operator=(const TXMLNode&) = delete;
    // Takes over the other node with its subtree; the other is left empty. The node keeps the
    // document text alive, also when the other was part of a document that dies first.
    TXMLNode(TXMLNode&& other) noexcept;
    // Releases this node's subtree and takes over the other's; the other is left empty.
    TXMLNode& operator=(TXMLNode&& other) noexcept;
    // Releases the whole subtree without recursion, however deep it is.
    ~TXMLNode() {
        if (FParsed || FAdded)
            ReleaseChildren();
        if (FOwnsStore)
            ReleaseStore();
    }

    // The element name as written, prefix included ("dc:date", "?xml"); empty on a document.
    std::string Name;
    // The element's text content, raw.
    TXMLValue Value;
    // The attributes of the start tag.
    TXMLAttributes Attributes;

    // Empties Name and Attributes and releases all children; Value is left as it is.
    void Clear();
    // Appends a new empty child and returns it; it stays owned by this node.
    TXMLNode& AddChild();
    // The number of direct children.
    int ChildCount() const { return static_cast<int>(FParsedCount + (FAdded ? FAdded->size() : 0)); }
    // The child at index (0-based); raises EListError "List index out of bounds (%d)" outside
    // 0 .. ChildCount() - 1.
    TXMLNode& Child(int index) const;
    // The first direct child whose name equals name with ASCII letters upper-cased ("item" finds
    // ITEM but not items or dc:item); raises Exception 'The "name" node is not found' when none.
    TXMLNode& ChildByName(const std::string& name) const;
    // Whether ChildByName would find a child; never raises.
    bool HasChild(const std::string& name) const;

    // Clears the node and parses the text into its children; never raises on malformed markup.
    void LoadFromString(const std::string& text);
    // As LoadFromString, taking the text over instead of copying it.
    void LoadFromString(std::string&& text);
    // Clears the node and loads everything from the stream's current position to its end.
    void LoadFromStream(std::istream& stream);
    // Loads the file; raises EFOpenError "Cannot open file %s" (node unchanged) when it cannot be
    // read.
    void LoadFromFile(const std::string& fileName);

private:
    friend class TXMLParser;
    explicit TXMLNode(std::string_view name) : Name(name) {}
    TXMLNode* FindChild(const std::string& name) const;
    // Moves the other's fields in as they are, store reference included.
    void Relocate(TXMLNode& other) noexcept;
    // Lets go of this node's reference to its store, if it holds one.
    void ReleaseStore() noexcept;
    // Releases every child and its subtree.
    void ReleaseChildren() noexcept;
    // The children read from a document, as one array of pointers; they come first.
    TXMLNode** FParsed = nullptr;
    // Children appended one by one with AddChild; each stays where it is as more are added.
    std::unique_ptr<std::vector<std::unique_ptr<TXMLNode>>> FAdded;
    // The document text the subtree refers into; null when nothing was loaded. A node that owns
    // a reference releases it when it dies.
    TXMLStore* FStore = nullptr;
    // The children read from a document and their arrays lie in its store, which frees them all
    // at once.
    std::uint32_t FParsedCount = 0;
    bool FOwnsStore = false;
};
