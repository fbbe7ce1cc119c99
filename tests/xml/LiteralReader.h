#pragma once
// The reader's steps done the plain way, for comparison: the remaining text is one string
// consumed from its front, and elements recurse. Slow and shallow-only, but obviously right.

#include <string>
#include <utility>
#include <vector>

namespace literal {

struct TNode {
    std::string Name;
    std::string Value;
    std::vector<std::pair<std::string, std::string>> Attributes;
    std::vector<TNode> Children;
};

inline bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

inline std::string Trim(const std::string& s) {
    std::size_t first = 0, last = s.size();
    while (first < last && IsBlank(s[first]))
        ++first;
    while (last > first && IsBlank(s[last - 1]))
        --last;
    return s.substr(first, last - first);
}

inline bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 32);
        if (x != y)
            return false;
    }
    return true;
}

inline void ParseElement(TNode& node, std::string& rest);

inline void ParseAttributes(TNode& node, std::string text) {
    while (!text.empty()) {
        const std::size_t space = text.find(' ');
        const std::string token = text.substr(0, space);
        text.erase(0, space == std::string::npos ? text.size() : space + 1);
        const std::size_t equals = token.find('=');
        const std::string name = Trim(token.substr(0, equals));
        std::string value = equals == std::string::npos ? "" : Trim(token.substr(equals + 1));
        if (!value.empty() && (value[0] == '"' || value[0] == '\''))
            value = value.size() >= 2 ? value.substr(1, value.size() - 2) : "";
        bool found = false;
        for (auto& pair : node.Attributes)
            if (SameText(pair.first, name)) {
                pair.second = value;
                found = true;
                break;
            }
        if (!found)
            node.Attributes.emplace_back(name, value);
    }
}

inline void ParseContent(TNode& node, std::string& rest) {
    node.Value.clear();
    for (;;) {
        const std::size_t open = std::min(rest.find('<'), rest.size());
        const std::string run = rest.substr(0, open);
        if (!Trim(run).empty())
            node.Value += run;
        rest.erase(0, open);
        if (rest.empty())
            return;
        if (rest.compare(1, 8, "![CDATA[") == 0) {
            const std::size_t close = std::min(rest.find("]]>"), rest.size());
            node.Value += " " + rest.substr(9, close - 9);
            rest.erase(0, std::min(close + 3, rest.size()));
        } else if (rest.compare(1, 3, "!--") == 0) {
            // A comment inside content is skipped.
            const std::size_t close = rest.find("-->", 4);
            rest.erase(0, close == std::string::npos ? rest.size() : close + 3);
        } else if (rest.size() > 1 && rest[1] == '/') {
            const std::size_t close = rest.find('>');
            rest.erase(0, close == std::string::npos ? rest.size() : close + 1);
            return;
        } else {
            node.Children.emplace_back();
            ParseElement(node.Children.back(), rest);
        }
    }
}

inline void ParseElement(TNode& node, std::string& rest) {
    const std::size_t first = rest.find('<');
    if (first != std::string::npos && rest.compare(first + 1, 3, "!--") == 0) {
        const std::size_t close = rest.find("-->");
        rest.erase(0, close == std::string::npos ? rest.size() : close + 3);
    }
    const std::size_t open = rest.find('<');
    if (open != std::string::npos)
        rest.erase(0, open + 1);
    const std::size_t end = std::min(rest.find('>'), rest.size());
    const bool closedByItself = end > 0 && (rest[end - 1] == '/' || rest[end - 1] == '?');
    const bool hasContent = !closedByItself && !(!rest.empty() && rest[0] == '!');
    std::string tag = rest.substr(0, end);
    rest.erase(0, std::min(end + 1, rest.size()));
    if (closedByItself)
        tag.pop_back();
    for (char& c : tag)
        if (c == '\r' || c == '\n')
            c = ' ';
    const std::size_t space = tag.find(' ');
    node.Name = tag.substr(0, space);
    const std::string attributes = space == std::string::npos ? "" : Trim(tag.substr(space + 1));
    if (!attributes.empty())
        ParseAttributes(node, attributes);
    if (hasContent)
        ParseContent(node, rest);
}

// The document's top-level nodes.
inline TNode Load(std::string rest) {
    TNode document;
    while (!rest.empty()) {
        document.Children.emplace_back();
        ParseElement(document.Children.back(), rest);
    }
    return document;
}

} // namespace literal
