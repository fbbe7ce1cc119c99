// The reader never rejects input: every byte sequence must load, and the tree must be walkable
// and releasable, without a crash. Loaded keeping its markup, it gives the same tree, and each
// element's markup is part of the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "SequentialDecode.h"
#include "xml/XMLNode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    // The one-pass decoding must agree with the seven passes on any text.
    if (DecodeEntities(input) != SequentialDecode(input))
        std::abort();
    TXMLNode doc;
    doc.LoadFromString(input);
    TXMLNode kept;
    kept.LoadKeepingMarkup(input);
    // Walk the trees without recursion and touch what callers read.
    std::vector<std::pair<const TXMLNode*, const TXMLNode*>> pending{{&doc, &kept}};
    size_t total = 0;
    while (!pending.empty()) {
        const TXMLNode* node = pending.back().first;
        const TXMLNode* twin = pending.back().second;
        pending.pop_back();
        if (node->Name != twin->Name || node->Value.RawText() != twin->Value.RawText() ||
            node->ChildCount() != twin->ChildCount() || node->Attributes.Count() != twin->Attributes.Count())
            std::abort();
        const std::string_view markup = twin->ContentMarkup();
        if (!markup.empty() && (markup.size() > input.size() || !node->ContentMarkup().empty()))
            std::abort();
        total += node->Name.size() + node->Value.DecodedText().size();
        for (int i = 0; i < node->Attributes.Count(); ++i)
            total += node->Attributes.Name(i).size() + node->Attributes.Value(i).RawText().size();
        if (node->ChildCount() > 0)
            total += node->HasChild(node->Child(0).Name) ? 1 : 0;
        for (int i = 0; i < node->ChildCount(); ++i)
            pending.push_back({&node->Child(i), &twin->Child(i)});
    }
    return total == SIZE_MAX ? 1 : 0;
}
