// Releasing trees: without recursion whatever their depth, and without allocating, since the
// release runs in destructors. This program counts every allocation through a replaced global
// operator new.
#include "xml/XMLNode.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <new>
#include <string>

namespace {

bool gCounting = false;
long gAllocations = 0;

void* Allocate(std::size_t size) {
    if (gCounting)
        ++gAllocations;
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

// The allocations made while run runs.
template <class F> long AllocationsDuring(F run) {
    gAllocations = 0;
    gCounting = true;
    run();
    gCounting = false;
    return gAllocations;
}

// A tree of every kind of node: parsed ones with many attributes and texts of their own, children
// added after loading, below them a document loaded on its own, and a subtree of a third document
// moved in over a parsed node.
std::unique_ptr<TXMLNode> MixedTree() {
    auto doc = std::make_unique<TXMLNode>();
    std::string tag = "<item";
    for (int i = 0; i < 12; ++i)
        tag += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
    doc->LoadFromString("<rss><channel>" + tag + "><title>t<![CDATA[x]]></title></item>" + tag +
                        "/></channel></rss>");
    TXMLNode& channel = doc->Child(0).Child(0);
    channel.Child(0).Value.SetRawText("own text");
    channel.Child(1).Attributes.ValueOf("added").SetRawText("v");
    TXMLNode& added = channel.AddChild();
    added.AddChild().LoadFromString("<a><b>1</b><c/></a>");
    added.AddChild().AddChild().Name = "deep";
    TXMLNode other;
    other.LoadFromString("<x><y><z>2</z></y></x>");
    channel.Child(0).Child(0) = std::move(other.Child(0));
    return doc;
}

} // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}

TEST(XMLReleaseTest, ReleasingAllocatesNothing) {
    std::unique_ptr<TXMLNode> doc;
    EXPECT_GT(AllocationsDuring([&] { doc = MixedTree(); }), 0); // the counting works
    EXPECT_EQ(doc->Child(0).Child(0).Child(0).Child(0).Name, "x");
    EXPECT_EQ(AllocationsDuring([&] { doc.reset(); }), 0);

    doc = MixedTree();
    EXPECT_EQ(AllocationsDuring([&] { doc->Child(0).Child(0).Clear(); }), 0);
    EXPECT_EQ(doc->Child(0).Child(0).ChildCount(), 0);
    EXPECT_EQ(AllocationsDuring([&] { doc->Clear(); }), 0);

    // A subtree that outlived its document, then moved over another node.
    doc = MixedTree();
    TXMLNode kept(std::move(doc->Child(0).Child(0).Child(0)));
    doc.reset();
    TXMLNode target;
    target.LoadFromString("<t><u/></t>");
    EXPECT_EQ(AllocationsDuring([&] { target.Child(0) = std::move(kept); }), 0);
    EXPECT_EQ(target.Child(0).Name, "item");
    EXPECT_EQ(target.Child(0).Child(0).Name, "x");
}

TEST(XMLReleaseTest, MillionLevelsDeepLoadAndRelease) {
    const int depth = 1000000;
    std::string text;
    text.reserve(depth * 8);
    for (int i = 0; i < depth; ++i)
        text += "<a>";
    text += "x";
    for (int i = 0; i < depth / 2; ++i)
        text += "</a>";
    auto doc = std::make_unique<TXMLNode>();
    doc->LoadFromString(text);
    ASSERT_EQ(doc->ChildCount(), 1);
    const TXMLNode* node = &doc->Child(0);
    int levels = 1;
    while (node->ChildCount() == 1) {
        node = &node->Child(0);
        ++levels;
    }
    EXPECT_EQ(levels, depth);
    EXPECT_EQ(node->Value.RawText(), "x");
    doc->LoadFromString(text + "<b/>"); // the old tree goes in Clear
    EXPECT_EQ(doc->ChildCount(), 1);
    EXPECT_EQ(AllocationsDuring([&] { doc.reset(); }), 0);
}

TEST(XMLReleaseTest, MillionAddedLevelsRelease) {
    auto doc = std::make_unique<TXMLNode>();
    TXMLNode* node = doc.get();
    for (int i = 0; i < 1000000; ++i) {
        node = &node->AddChild();
        // Now and then a level that is a loaded document of its own.
        if (i % 100000 == 0) {
            node->LoadFromString("<p><q/></p>");
            node = &node->Child(0).Child(0);
        }
    }
    EXPECT_EQ(AllocationsDuring([&] { doc.reset(); }), 0);
}
