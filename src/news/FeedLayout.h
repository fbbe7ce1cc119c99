#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xml/XMLNode.h"

// How the reader finds a feed's items and the elements of each item. A name matches as the usual
// feeds write it, prefix included and letter case ignored ("item", "dc:date", "rdf:RDF"), whether
// the document declares its namespace or not. A document that declares a known namespace under a
// prefix of its own (<a:feed xmlns:a="http://www.w3.org/2005/Atom">, <rss:item>, <d:date>) has
// those names found by namespace as well. Documents with only the usual prefixes never pay for
// that: their names are compared as written, and nothing else.

// The namespaces the reader knows by their URI.
enum class TFeedNamespace : std::uint8_t { None, Rss10, Atom10, Atom03, DublinCore, Content, Rdf, Media };

// The known namespace of a URI, compared exactly as XML does; None for any other.
TFeedNamespace NamespaceOfURI(std::string_view uri);

// A name the reader looks for: as the usual documents write it ("dc:date") and as the namespace
// and local name it stands for (Dublin Core, "date"). A name in no known namespace is matched as
// written only.
struct TFeedName {
    std::string_view Literal;
    TFeedNamespace Namespace = TFeedNamespace::None;
    std::string_view Local;
};

// The namespace declarations in force at an element, as far as the known namespaces go.
class TNamespaceScope {
public:
    // Whether the element declares a namespace: an attribute "xmlns" or "xmlns:prefix".
    static bool Declares(const TXMLNode& element);
    // The scope inside the element: this one with the element's own declarations, which hide
    // outer ones of the same prefix.
    TNamespaceScope Inside(const TXMLNode& element) const;
    // The known namespace of an element or attribute name in this scope ("a:feed", or "feed" in the
    // default namespace), with the name's local part in local. None for a prefix that is not
    // declared or stands for another namespace; an attribute name without a prefix has none.
    TFeedNamespace Resolve(std::string_view name, std::string_view& local, bool attribute = false) const;
    // Whether names of the namespace can be written otherwise than the usual documents write them:
    // it is declared under another prefix (RSS 1.0 and Atom under any prefix; Dublin Core other
    // than "dc", the content module other than "content", RDF other than "rdf", Media RSS other
    // than "media").
    bool Unusual(TFeedNamespace ns) const { return (FUnusual >> static_cast<unsigned>(ns)) & 1u; }

private:
    struct TBinding {
        std::string Prefix;
        // None for a namespace the reader does not know: the binding still hides outer ones.
        TFeedNamespace Namespace;
    };
    // Outermost first; "" is the default namespace.
    std::vector<TBinding> FBindings;
    // One bit per namespace, by its value.
    std::uint32_t FUnusual = 0;
};

// The scope inside element: outer itself when the element declares nothing (the usual case, which
// copies nothing), else room filled with the scope inside it.
const TNamespaceScope& ScopeInside(const TXMLNode& element, const TNamespaceScope& outer,
                                   TNamespaceScope& room);

// Whether node is named name: as written, or by namespace in the scope (the node's own
// declarations included).
bool IsNamed(const TXMLNode& node, const TFeedName& name, const TNamespaceScope& scope);

// For each name, the first direct child of element named so as written, else the first named so
// by namespace, or null. Each child stands for one name at most; the children are looked at once
// for all names.
void FindChildren(const TXMLNode& element, const TNamespaceScope& scope, const TFeedName* names,
                  const TXMLNode** found, std::size_t count);

// The first direct child of element named name, or null.
const TXMLNode* FindChild(const TXMLNode& element, const TFeedName& name, const TNamespaceScope& scope);

// The raw value of the element's attribute named name (as written, else by namespace); "" when
// it has none.
std::string_view AttributeByName(const TXMLNode& element, const TFeedName& name,
                                 const TNamespaceScope& scope);

// The formats the reader reads.
enum class TFeedFormat : std::uint8_t { None, Rss, Rdf, Atom };

// A loaded document as the reader sees a feed in it.
struct TFeedLayout {
    TFeedFormat Format = TFeedFormat::None;
    // The root element; null when the document is no feed.
    const TXMLNode* Root = nullptr;
    // The element whose children are the items: the RSS channel (null when the rss element has
    // none), else the root.
    const TXMLNode* Parent = nullptr;
    // The declarations in force inside Parent (inside Root when Parent is null).
    TNamespaceScope Scope;
    // The namespace of the format's own names ("item", "title", "link"): RSS 1.0, Atom 1.0, or
    // Atom 0.3 for a root in that namespace; None for RSS, whose names have no namespace.
    TFeedNamespace Own = TFeedNamespace::None;

    // "rss", "rdf:rdf", "feed", or "" for a document that is no feed.
    std::string RootName() const;
    // A name of this format as the usual documents write it: a "dc:", "content:" or "rdf:" name
    // in its namespace, one without a prefix in the format's own, any other as written only.
    TFeedName Name(std::string_view literal) const;
    // Whether a child of Parent is an item: "item", or "entry" in Atom.
    bool IsItem(const TXMLNode& child) const;
};

// Recognises a loaded document: a top-level "rss", else "rdf:rdf", else "feed" (looked up in that
// order, letter case ignored), else a root element that is RDF's RDF, or Atom 1.0's or Atom 0.3's
// feed, under the prefix the document declares. Never raises.
TFeedLayout FeedLayout(const TXMLNode& document);

// The text of an Atom 0.3 content or summary element, in the document's encoding, by its mode:
// "escaped" the HTML its text holds (entity references decoded), "base64" the bytes its text
// stands for, "xml" (the default) the markup written inside it as it stands when it holds
// elements (ContentMarkup; the document must be loaded keeping its markup), else its decoded text.
std::string Atom03ContentText(const TXMLNode& element);

// Whether the first start tag of a document's text names the Atom 0.3 namespace: such a
// document's content elements may hold markup that the reader takes as written.
bool RootNamesAtom03(std::string_view text);
