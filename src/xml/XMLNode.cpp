// Element nodes: ownership of subtrees, children and the lookups by name.
#include "xml/XMLNode.h"

#include <istream>
#include <sstream>
#include <utility>

#include "platform/Files.h"
#include "platform/SysUtils.h"
#include "xml/XMLStore.h"

TXMLNode::TXMLNode(TXMLNode&& other) noexcept {
    // A node taken out of a document keeps the document text its subtree refers to.
    TXMLStore* store = other.FStore;
    if (store && !other.FOwnsStore)
        store->AddReference();
    Relocate(other);
    FOwnsStore = store != nullptr;
}

TXMLNode& TXMLNode::operator=(TXMLNode&& other) noexcept {
    if (this != &other) {
        // The other may be part of this node's subtree: it is taken out before that is released.
        TXMLNode taken(std::move(other));
        ReleaseChildren();
        ReleaseStore();
        Relocate(taken);
    }
    return *this;
}

void TXMLNode::Relocate(TXMLNode& other) noexcept {
    Name = std::move(other.Name);
    Value.Relocate(other.Value);
    Attributes.FData = std::move(other.Attributes.FData);
    FParsed = std::exchange(other.FParsed, nullptr);
    FParsedCount = std::exchange(other.FParsedCount, 0);
    FAdded = std::move(other.FAdded);
    FStore = std::exchange(other.FStore, nullptr);
    FOwnsStore = std::exchange(other.FOwnsStore, false);
}

void TXMLNode::ReleaseStore() noexcept {
    if (FOwnsStore && FStore->DropReference())
        delete FStore;
    FStore = nullptr;
    FOwnsStore = false;
}

// The descendants wait in two lists linked through the nodes themselves, so the walk takes no
// memory and no call depth whatever the shape of the tree: nodes read from a document lie in a
// store and are only destroyed, nodes made by AddChild are deleted. A node is destroyed only
// once its children wait in a list, so no destructor inside the walk has a subtree to release.
// A store whose last owner goes is freed at the very end, since waiting nodes may lie in it.
void TXMLNode::ReleaseChildren() noexcept {
    TXMLNode* parsed = nullptr;
    TXMLNode* added = nullptr;
    TXMLStore* stores = nullptr;
    const auto wait = [&stores](TXMLNode* node, TXMLNode*& list) {
        if (node->FOwnsStore && node->FStore->DropReference()) {
            node->FStore->NextFreed = stores;
            stores = node->FStore;
        }
        node->FOwnsStore = false;
        node->FNextReleased = list;
        list = node;
    };
    const auto takeChildren = [&](TXMLNode& node) {
        // The array of parsed children lies in a store.
        for (std::uint32_t i = 0; i < node.FParsedCount; ++i)
            wait(node.FParsed[i], parsed);
        node.FParsed = nullptr;
        node.FParsedCount = 0;
        if (node.FAdded) {
            for (auto& child : *node.FAdded)
                wait(child.release(), added);
            node.FAdded.reset();
        }
    };
    takeChildren(*this);
    while (parsed || added) {
        const bool inStore = parsed != nullptr;
        TXMLNode* node = inStore ? parsed : added;
        (inStore ? parsed : added) = node->FNextReleased;
        node->FStore = nullptr;
        takeChildren(*node);
        if (inStore)
            node->~TXMLNode();
        else
            delete node;
    }
    while (stores)
        delete std::exchange(stores, stores->NextFreed);
}

void TXMLNode::Clear() {
    Name.clear();
    Attributes.Clear();
    ReleaseChildren();
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
