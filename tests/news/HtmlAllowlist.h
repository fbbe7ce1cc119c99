#pragma once

// An independent check of cleaned HTML: parsed again by gumbo as the browser reads a description,
// what element or attribute stands outside the allowlist. Kept apart from the cleaner's own tables
// so that a slip in them shows here.
#include <gumbo.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace htmlcheck {

inline bool OneOf(const char* name, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return std::strcmp(n, name) == 0; });
}

inline bool HasScheme(std::string_view url, std::initializer_list<const char*> schemes) {
    for (const char* scheme : schemes) {
        const size_t length = std::strlen(scheme);
        if (url.size() > length && url[length] == ':') {
            bool same = true;
            for (size_t i = 0; i < length; ++i)
                same = same && std::tolower(static_cast<unsigned char>(url[i])) == scheme[i];
            if (same)
                return true;
        }
    }
    return false;
}

// "" when every element and attribute of html is allowed (titleOnly: the title's inline markup
// without attributes), else what is not. Also the depth of the deepest element.
inline std::string FindOutsideAllowlist(std::string_view html, bool picturesShown, bool titleOnly = false,
                                        size_t* depth = nullptr) {
    GumboOptions options = kGumboDefaultOptions;
    options.fragment_context = GUMBO_TAG_DIV;
    GumboOutput* output = gumbo_parse_with_options(&options, html.data(), html.size());
    std::string found;
    struct TEntry {
        const GumboNode* Node;
        size_t Depth;
    };
    std::vector<TEntry> stack;
    for (unsigned i = 0; i < output->root->v.element.children.length; ++i)
        stack.push_back({static_cast<const GumboNode*>(output->root->v.element.children.data[i]), 1});
    size_t deepest = 0;
    while (!stack.empty() && found.empty()) {
        const TEntry entry = stack.back();
        stack.pop_back();
        const GumboNode& node = *entry.Node;
        if (node.type == GUMBO_NODE_COMMENT || node.type == GUMBO_NODE_TEMPLATE) {
            found = "a comment or template";
            break;
        }
        if (node.type != GUMBO_NODE_ELEMENT)
            continue;
        deepest = std::max(deepest, entry.Depth);
        const GumboElement& element = node.v.element;
        const char* tag = gumbo_normalized_tagname(element.tag);
        if (element.tag_namespace != GUMBO_NAMESPACE_HTML || element.tag == GUMBO_TAG_UNKNOWN) {
            found = std::string("element ") + (element.tag == GUMBO_TAG_UNKNOWN ? "unknown" : tag);
            break;
        }
        const bool allowed =
            titleOnly
                ? OneOf(tag, {"b", "i", "em", "strong", "code", "sub", "sup", "span"})
                : OneOf(tag,
                        {"p",      "br",         "hr",    "h1",      "h2",         "h3",    "h4",    "h5",
                         "h6",     "blockquote", "pre",   "code",    "ul",         "ol",    "li",    "dl",
                         "dt",     "dd",         "table", "caption", "thead",      "tbody", "tfoot", "tr",
                         "th",     "td",         "a",     "figure",  "figcaption", "b",     "i",     "em",
                         "strong", "s",          "u",     "small",   "sub",        "sup",   "span",  "div",
                         "abbr",   "q",          "cite",  "time",    "del",        "ins",   "mark"}) ||
                      (picturesShown && element.tag == GUMBO_TAG_IMG);
        if (!allowed) {
            found = std::string("element ") + tag;
            break;
        }
        bool target = false, rel = false;
        for (unsigned i = 0; i < element.attributes.length && found.empty(); ++i) {
            const auto& attribute = *static_cast<const GumboAttribute*>(element.attributes.data[i]);
            const std::string what = std::string(tag) + " " + attribute.name + "=" + attribute.value;
            if (titleOnly)
                found = "attribute " + what;
            else if (std::strcmp(attribute.name, "href") == 0)
                found = HasScheme(attribute.value, {"http", "https", "mailto"}) ? "" : "attribute " + what;
            else if (OneOf(attribute.name, {"src", "cite"}))
                found = HasScheme(attribute.value, {"http", "https"}) ? "" : "attribute " + what;
            else if (std::strcmp(attribute.name, "target") == 0)
                target = element.tag == GUMBO_TAG_A && std::strcmp(attribute.value, "_blank") == 0;
            else if (std::strcmp(attribute.name, "rel") == 0)
                rel = element.tag == GUMBO_TAG_A && std::strcmp(attribute.value, "noopener noreferrer") == 0;
            else if (!OneOf(attribute.name,
                            {"alt", "title", "width", "height", "colspan", "rowspan", "datetime"}))
                found = "attribute " + what;
        }
        if (found.empty() && element.tag == GUMBO_TAG_A && !(target && rel))
            found = "a link without target and rel";
        for (unsigned i = 0; i < element.children.length; ++i)
            stack.push_back({static_cast<const GumboNode*>(element.children.data[i]), entry.Depth + 1});
    }
    gumbo_destroy_output(&options, output);
    if (depth)
        *depth = deepest;
    return found;
}

} // namespace htmlcheck
