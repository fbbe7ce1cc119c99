#include "news/FeedLayout.h"

#include <cstring>

#include "platform/Base64.h"
#include "platform/SysUtils.h"

namespace {

// The usual prefix of each namespace; "" where the usual documents write its names without one
// (RSS 1.0 and Atom, whose documents declare them as the default namespace).
std::string_view UsualPrefix(TFeedNamespace ns) {
    switch (ns) {
    case TFeedNamespace::DublinCore:
        return "dc";
    case TFeedNamespace::Content:
        return "content";
    case TFeedNamespace::Rdf:
        return "rdf";
    case TFeedNamespace::Media:
        return "media";
    default:
        return "";
    }
}

// The prefix of a declaration's attribute name ("" for "xmlns"), or false when it is none.
bool DeclaredPrefix(std::string_view name, std::string_view& prefix) {
    if (name.size() < 5 || std::memcmp(name.data(), "xmlns", 5) != 0)
        return false;
    if (name.size() == 5) {
        prefix = std::string_view();
        return true;
    }
    if (name[5] != ':')
        return false;
    prefix = name.substr(6);
    return true;
}

bool ResolvesTo(const TXMLNode& node, const TFeedName& name, const TNamespaceScope& scope) {
    TNamespaceScope room;
    std::string_view local;
    const TFeedNamespace ns = ScopeInside(node, scope, room).Resolve(node.Name, local);
    return ns != TFeedNamespace::None && ns == name.Namespace && SameTextAscii(local, name.Local);
}

// Whether a node that is not named name as written could still be named so by namespace.
bool MayResolve(const TXMLNode& node, TFeedNamespace ns, const TNamespaceScope& scope) {
    return ns != TFeedNamespace::None && (scope.Unusual(ns) || TNamespaceScope::Declares(node));
}

} // namespace

TFeedNamespace NamespaceOfURI(std::string_view uri) {
    static const struct {
        std::string_view URI;
        TFeedNamespace Namespace;
    } kKnown[] = {
        {"http://purl.org/rss/1.0/", TFeedNamespace::Rss10},
        {"http://www.w3.org/2005/Atom", TFeedNamespace::Atom10},
        {"http://purl.org/atom/ns#", TFeedNamespace::Atom03},
        {"http://purl.org/dc/elements/1.1/", TFeedNamespace::DublinCore},
        {"http://purl.org/rss/1.0/modules/content/", TFeedNamespace::Content},
        {"http://www.w3.org/1999/02/22-rdf-syntax-ns#", TFeedNamespace::Rdf},
        {"http://search.yahoo.com/mrss/", TFeedNamespace::Media},
    };
    for (const auto& known : kKnown)
        if (uri == known.URI)
            return known.Namespace;
    return TFeedNamespace::None;
}

bool TNamespaceScope::Declares(const TXMLNode& element) {
    const int count = element.Attributes.Count();
    std::string_view prefix;
    for (int i = 0; i < count; ++i)
        if (DeclaredPrefix(element.Attributes.Name(i), prefix))
            return true;
    return false;
}

TNamespaceScope TNamespaceScope::Inside(const TXMLNode& element) const {
    TNamespaceScope scope = *this;
    const int count = element.Attributes.Count();
    std::string_view prefix;
    for (int i = 0; i < count; ++i) {
        if (!DeclaredPrefix(element.Attributes.Name(i), prefix))
            continue;
        // Values are raw: a URI with an entity reference in it names no known namespace.
        const TFeedNamespace ns = NamespaceOfURI(TrimView(element.Attributes.Value(i).RawText()));
        scope.FBindings.push_back({std::string(prefix), ns});
        if (ns != TFeedNamespace::None && !SameTextAscii(prefix, UsualPrefix(ns)))
            scope.FUnusual |= 1u << static_cast<unsigned>(ns);
    }
    return scope;
}

TFeedNamespace TNamespaceScope::Resolve(std::string_view name, std::string_view& local,
                                        bool attribute) const {
    const std::size_t colon = name.find(':');
    std::string_view prefix;
    local = name;
    if (colon != std::string_view::npos) {
        prefix = name.substr(0, colon);
        local = name.substr(colon + 1);
    } else if (attribute) {
        return TFeedNamespace::None;
    }
    // The innermost declaration of the prefix counts.
    for (auto binding = FBindings.rbegin(); binding != FBindings.rend(); ++binding)
        if (SameTextAscii(binding->Prefix, prefix))
            return binding->Namespace;
    return TFeedNamespace::None;
}

const TNamespaceScope& ScopeInside(const TXMLNode& element, const TNamespaceScope& outer,
                                   TNamespaceScope& room) {
    if (!TNamespaceScope::Declares(element))
        return outer;
    room = outer.Inside(element);
    return room;
}

bool IsNamed(const TXMLNode& node, const TFeedName& name, const TNamespaceScope& scope) {
    if (SameTextAscii(node.Name, name.Literal))
        return true;
    return MayResolve(node, name.Namespace, scope) && ResolvesTo(node, name, scope);
}

void FindChildren(const TXMLNode& element, const TNamespaceScope& scope, const TFeedName* names,
                  const TXMLNode** found, std::size_t count) {
    constexpr std::size_t kMaxNames = 16;
    if (count > kMaxNames) {
        FindChildren(element, scope, names, found, kMaxNames);
        FindChildren(element, scope, names + kMaxNames, found + kMaxNames, count - kMaxNames);
        return;
    }
    // By namespace only where the names as written may not be enough.
    bool unusual = false;
    for (std::size_t n = 0; n < count; ++n) {
        found[n] = nullptr;
        unusual = unusual || scope.Unusual(names[n].Namespace);
    }
    // A name as written comes first: the names found by namespace wait here for the end.
    const TXMLNode* byNamespace[kMaxNames] = {};
    std::size_t missing = count;
    const int children = element.ChildCount();
    for (int i = 0; i < children && missing > 0; ++i) {
        const TXMLNode& child = element.Child(i);
        bool named = false;
        for (std::size_t n = 0; n < count; ++n) {
            // Lengths first: most names differ in length, and that test is inline.
            if (!found[n] && child.Name.size() == names[n].Literal.size() &&
                SameTextAscii(child.Name, names[n].Literal)) {
                found[n] = &child;
                --missing;
                named = true;
                break;
            }
        }
        if (named || !(unusual || TNamespaceScope::Declares(child)))
            continue;
        TNamespaceScope room;
        std::string_view local;
        const TFeedNamespace ns = ScopeInside(child, scope, room).Resolve(child.Name, local);
        if (ns == TFeedNamespace::None)
            continue;
        for (std::size_t n = 0; n < count; ++n) {
            if (!found[n] && !byNamespace[n] && names[n].Namespace == ns &&
                SameTextAscii(names[n].Local, local)) {
                byNamespace[n] = &child;
                break;
            }
        }
    }
    for (std::size_t n = 0; n < count; ++n)
        if (!found[n])
            found[n] = byNamespace[n];
}

const TXMLNode* FindChild(const TXMLNode& element, const TFeedName& name, const TNamespaceScope& scope) {
    const TXMLNode* found = nullptr;
    FindChildren(element, scope, &name, &found, 1);
    return found;
}

std::string_view AttributeByName(const TXMLNode& element, const TFeedName& name,
                                 const TNamespaceScope& scope) {
    const TXMLAttributes& attributes = element.Attributes;
    const int count = attributes.Count();
    for (int i = 0; i < count; ++i)
        if (SameTextAscii(attributes.Name(i), name.Literal))
            return attributes.Value(i).RawText();
    if (!MayResolve(element, name.Namespace, scope))
        return std::string_view();
    TNamespaceScope room;
    const TNamespaceScope& inside = ScopeInside(element, scope, room);
    std::string_view local;
    for (int i = 0; i < count; ++i)
        if (inside.Resolve(attributes.Name(i), local, true) == name.Namespace &&
            SameTextAscii(local, name.Local))
            return attributes.Value(i).RawText();
    return std::string_view();
}

std::string TFeedLayout::RootName() const {
    switch (Format) {
    case TFeedFormat::Rss:
        return "rss";
    case TFeedFormat::Rdf:
        return "rdf:rdf";
    case TFeedFormat::Atom:
        return "feed";
    default:
        return std::string();
    }
}

TFeedName TFeedLayout::Name(std::string_view literal) const {
    const std::size_t colon = literal.find(':');
    if (colon == std::string_view::npos)
        return {literal, Own, literal};
    const std::string_view prefix = literal.substr(0, colon);
    for (TFeedNamespace ns : {TFeedNamespace::DublinCore, TFeedNamespace::Content, TFeedNamespace::Rdf})
        if (prefix == UsualPrefix(ns))
            return {literal, ns, literal.substr(colon + 1)};
    return {literal, TFeedNamespace::None, literal};
}

bool TFeedLayout::IsItem(const TXMLNode& child) const {
    const std::string_view tag = Format == TFeedFormat::Atom ? "entry" : "item";
    if (SameTextAscii(child.Name, tag))
        return true;
    return MayResolve(child, Own, Scope) && ResolvesTo(child, {tag, Own, tag}, Scope);
}

TFeedLayout FeedLayout(const TXMLNode& document) {
    TFeedLayout layout;
    static const struct {
        const char* Name;
        TFeedFormat Format;
    } kRoots[] = {{"rss", TFeedFormat::Rss}, {"rdf:rdf", TFeedFormat::Rdf}, {"feed", TFeedFormat::Atom}};
    for (const auto& root : kRoots) {
        if (document.HasChild(root.Name)) {
            layout.Format = root.Format;
            layout.Root = &document.ChildByName(root.Name);
            break;
        }
    }
    if (!layout.Root) {
        // A root under a prefix of the document's own: the first element, by its namespace.
        for (int i = 0; i < document.ChildCount() && !layout.Root; ++i) {
            const TXMLNode& top = document.Child(i);
            if (top.Name.empty() || top.Name[0] == '?' || top.Name[0] == '!')
                continue;
            std::string_view local;
            const TFeedNamespace ns = TNamespaceScope().Inside(top).Resolve(top.Name, local);
            if (ns == TFeedNamespace::Rdf && SameTextAscii(local, "rdf"))
                layout.Format = TFeedFormat::Rdf;
            else if ((ns == TFeedNamespace::Atom10 || ns == TFeedNamespace::Atom03) &&
                     SameTextAscii(local, "feed"))
                layout.Format = TFeedFormat::Atom;
            else
                break;
            layout.Root = &top;
        }
        if (!layout.Root)
            return layout;
    }
    layout.Scope = TNamespaceScope().Inside(*layout.Root);
    switch (layout.Format) {
    case TFeedFormat::Rss:
        if (layout.Root->HasChild("channel")) {
            layout.Parent = &layout.Root->ChildByName("channel");
            if (TNamespaceScope::Declares(*layout.Parent))
                layout.Scope = layout.Scope.Inside(*layout.Parent);
        }
        break;
    case TFeedFormat::Rdf:
        layout.Parent = layout.Root;
        layout.Own = TFeedNamespace::Rss10;
        break;
    default: {
        layout.Parent = layout.Root;
        std::string_view local;
        layout.Own = layout.Scope.Resolve(layout.Root->Name, local) == TFeedNamespace::Atom03
                         ? TFeedNamespace::Atom03
                         : TFeedNamespace::Atom10;
        break;
    }
    }
    return layout;
}

std::string Atom03ContentText(const TXMLNode& element) {
    std::string_view mode;
    const TXMLAttributes& attributes = element.Attributes;
    for (int i = 0; i < attributes.Count() && mode.empty(); ++i)
        if (SameTextAscii(attributes.Name(i), "mode"))
            mode = TrimView(attributes.Value(i).RawText());
    if (SameTextAscii(mode, "base64"))
        return DecodeBase64(element.Value.DecodedText());
    if (!SameTextAscii(mode, "escaped") && element.ChildCount() > 0) {
        const std::string_view markup = TrimView(element.ContentMarkup());
        if (!markup.empty())
            return std::string(markup);
    }
    return element.Value.DecodedText();
}

bool RootNamesAtom03(std::string_view text) {
    std::size_t pos = 0;
    for (;;) {
        pos = text.find('<', pos);
        if (pos == std::string_view::npos || pos + 1 >= text.size())
            return false;
        const char next = text[pos + 1];
        std::string_view end = ">";
        if (next == '?')
            end = "?>";
        else if (text.compare(pos + 1, 3, "!--") == 0)
            end = "-->";
        else if (next != '!') {
            const std::size_t close = text.find('>', pos);
            return text.substr(pos, close == std::string_view::npos ? close : close - pos)
                       .find("http://purl.org/atom/ns#") != std::string_view::npos;
        }
        pos = text.find(end, pos + 1);
        if (pos == std::string_view::npos)
            return false;
        pos += end.size();
    }
}
