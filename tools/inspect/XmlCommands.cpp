#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "Inspect.h"
#include "platform/SysUtils.h"
#include "xml/XMLNode.h"

namespace {

std::string Quoted(const std::string& bytes) {
    return Json(JsonText(bytes)).dump(-1, ' ', false, Json::error_handler_t::replace);
}

// [name, raw value, [[attribute, raw value], ...], [children...]] for every node, written with
// an explicit stack so that no nesting depth can exhaust the call stack.
std::string TreeJson(const TXMLNode& root) {
    std::string out;
    // Each entry: a node and the index of its next child to write.
    std::vector<std::pair<const TXMLNode*, int>> stack;
    auto open = [&](const TXMLNode& node) {
        out += "[" + Quoted(node.Name) + "," + Quoted(std::string(node.Value.RawText())) + ",[";
        for (int i = 0; i < node.Attributes.Count(); ++i) {
            out += i ? ",[" : "[";
            out += Quoted(node.Attributes.Name(i)) + "," +
                   Quoted(std::string(node.Attributes.Value(i).RawText())) + "]";
        }
        out += "],[";
        stack.emplace_back(&node, 0);
    };
    open(root);
    while (!stack.empty()) {
        auto& [node, next] = stack.back();
        if (next == node->ChildCount()) {
            out += "]]";
            stack.pop_back();
            continue;
        }
        if (next > 0)
            out += ",";
        const TXMLNode& child = node->Child(next++);
        open(child);
    }
    return out;
}

} // namespace

// The loaded document as nested JSON, the document node at the top.
int CmdTree(const TArgs& args) {
    if (args.size() != 1)
        return PrintError("usage: tovel-inspect tree FILE");
    try {
        TXMLNode doc;
        doc.LoadFromFile(args[0]);
        std::cout << TreeJson(doc) << std::endl;
        return 0;
    } catch (const Exception& e) {
        return PrintError(e.Message());
    }
}
