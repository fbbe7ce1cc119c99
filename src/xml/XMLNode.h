#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xml/XMLEntities.h"

// The text a loaded document was parsed from, with the nodes read from it.
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
    int Count() const;
    // The name of pair i (0-based); raises EListError for an index out of range.
    const std::string& Name(int index) const;
    // The value of pair i (0-based); raises EListError for an index out of range.
    const TXMLValue& Value(int index) const;

private:
    friend class TXMLParser;
    friend class TXMLNode;
    struct TPair;
    struct TData;
    // Room for count pairs in one block, so that a start tag's attributes take one allocation.
    void Reserve(std::size_t count);
    TXMLValue& Lookup(std::string_view name);
    TPair& Pair(std::size_t index) const;
    // Gives every value a text of its own.
    void Detach();

    struct TDataDeleter {
        void operator()(TData* data) const noexcept;
    };
    // Most elements have no attributes: they pay for one pointer only.
    std::unique_ptr<TData, TDataDeleter> FData;
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
    // Releases the whole subtree without recursion and without allocating, however deep it is.
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
    // As LoadFromString, keeping a copy of the text as written beside the tree, so that
    // ContentMarkup can give the content of its elements.
    void LoadKeepingMarkup(std::string text);
    // The content of this element as its document wrote it, between the start tag and the closing
    // tag: child elements, entity references and CDATA sections as they stand ("<p>a &amp; b</p>").
    // Up to the end of the text when the element is never closed. "" for an element without
    // content, for a node not loaded by LoadKeepingMarkup, and for one moved out of its document.
    std::string_view ContentMarkup() const;
    // Clears the node and loads everything from the stream's current position to its end.
    void LoadFromStream(std::istream& stream);
    // Loads the file; raises EFOpenError "Cannot open file %s" (node unchanged) when it cannot be
    // read.
    void LoadFromFile(const std::string& fileName);

private:
    friend class TXMLParser;
    explicit TXMLNode(std::string_view name) : Name(name) {}
    TXMLNode* FindChild(const std::string& name) const;
    void Load(std::string&& text, bool keepMarkup);
    // Moves the other's fields in as they are, store reference included.
    void Relocate(TXMLNode& other) noexcept;
    // Lets go of this node's reference to its store, if it holds one.
    void ReleaseStore() noexcept;
    // Releases every child and its subtree.
    void ReleaseChildren() noexcept;

    // The children read from a document, as one array of pointers; they come first. The array
    // and the nodes lie in the document's store.
    TXMLNode** FParsed = nullptr;
    // Children appended one by one with AddChild; each stays where it is as more are added.
    std::unique_ptr<std::vector<std::unique_ptr<TXMLNode>>> FAdded;
    union {
        // The store the subtree refers into; null when nothing was loaded. A node that owns a
        // reference releases it when it dies.
        TXMLStore* FStore = nullptr;
        // While the node waits in ReleaseChildren, which has let go of its store: the next
        // node waiting. The walk needs no memory of its own this way.
        TXMLNode* FNextReleased;
    };
    std::uint32_t FParsedCount = 0;
    bool FOwnsStore = false;
};
