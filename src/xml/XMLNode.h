#pragma once

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// The text with "&amp;", "&lt;", "&gt;", "&quot;", "&quote;", "&apos;" and "&amp;" again replaced
// one pass after the other, so "&amp;lt;" becomes "<"; numeric references such as "&#39;" stay.
std::string DecodeEntities(const std::string& text);

// One raw text as the parser took it from the document, entity references left as written.
class TXMLValue {
public:
    // The stored text, empty for a new value.
    const std::string& RawText() const { return FText; }
    // Replaces the stored text.
    void SetRawText(std::string text) { FText = std::move(text); }
    // DecodeEntities of the stored text; the stored text is left as it is.
    std::string DecodedText() const { return DecodeEntities(FText); }

private:
    friend class TXMLParser;
    std::string FText;
};

// The attributes of a start tag: pairs in the order their names first appeared, names unique
// without regard to ASCII case.
class TXMLAttributes {
public:
    TXMLAttributes() = default;
    TXMLAttributes(const TXMLAttributes&) = delete;
    TXMLAttributes& operator=(const TXMLAttributes&) = delete;
    TXMLAttributes(TXMLAttributes&&) noexcept = default;
    TXMLAttributes& operator=(TXMLAttributes&&) noexcept = default;
    ~TXMLAttributes();

    // Removes every pair; values handed out before become invalid.
    void Clear();
    // The value of the named attribute, ASCII case ignored; a missing name is appended with an
    // empty value, so a lookup of a missing attribute leaves an empty attribute behind.
    TXMLValue& ValueOf(const std::string& name);
    // The number of pairs.
    int Count() const { return FData ? static_cast<int>(FData->Pairs.size()) : 0; }
    // The name of pair i (0-based); raises EListError for an index out of range.
    const std::string& Name(int index) const;
    // The value of pair i (0-based); raises EListError for an index out of range.
    const TXMLValue& Value(int index) const;

private:
    friend class TXMLParser;
    // Room for count pairs, so that a start tag's attributes do not regrow the list.
    void Reserve(std::size_t count);

    struct TPair {
        std::string Name;
        TXMLValue Value;
    };
    struct TData {
        // Each pair on its own, so that a value handed out by ValueOf stays put when pairs are
        // added.
        std::vector<std::unique_ptr<TPair>> Pairs;
        // Upper-cased name -> index, built only once a tag has many attributes so that a hostile
        // tag cannot make the parser quadratic.
        std::unique_ptr<std::unordered_map<std::string, std::size_t>> Index;
    };
    // Most elements have no attributes: they pay for one pointer only.
    std::unique_ptr<TData> FData;
};

// One element node; a document is a node with an empty name whose children are the top-level
// constructs ("?xml", "!DOCTYPE", the root element, ...).
class TXMLNode {
public:
    TXMLNode() = default;
    TXMLNode(const TXMLNode&) = delete;
    TXMLNode& operator=(const TXMLNode&) = delete;
    // Takes over the other node with its subtree; the other is left empty.
    TXMLNode(TXMLNode&& other) noexcept;
    // Releases this node's subtree and takes over the other's; the other is left empty.
    TXMLNode& operator=(TXMLNode&& other) noexcept;
    // Releases the whole subtree without recursion, however deep it is.
    ~TXMLNode();

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
    // Clears the node and loads everything from the stream's current position to its end.
    void LoadFromStream(std::istream& stream);
    // Loads the file; raises EFOpenError "Cannot open file %s" (node unchanged) when it cannot be
    // read.
    void LoadFromFile(const std::string& fileName);

private:
    friend class TXMLParser;
    TXMLNode* FindChild(const std::string& name) const;
    // The children read from a document, in one block; they come first.
    std::unique_ptr<TXMLNode[]> FParsed;
    std::size_t FParsedCount = 0;
    // Children appended one by one with AddChild; each stays where it is as more are added.
    std::unique_ptr<std::vector<std::unique_ptr<TXMLNode>>> FAdded;
};
