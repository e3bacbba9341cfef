// A small document model of a loaded page: elements with their attributes, text, the live
// values of form controls, inline styles as a property map, and the serialisation scripts read
// as innerHTML. Pages are parsed by libxml2's HTML reader, which repairs whatever it is given.
// A page's own <script> elements are kept as inert elements: nothing ever runs them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/error.h"

namespace web {

class Document;

class Node {
public:
    enum class Kind { Element, Text, Comment };

    Kind kind() const { return kind_; }
    bool isElement() const { return kind_ == Kind::Element; }
    // Lower-case tag name of an element; empty for other nodes.
    const std::string& tagName() const { return name_; }
    // The text of a text or comment node.
    const std::string& data() const { return data_; }
    void setData(std::string data) { data_ = std::move(data); }

    Node* parent() const { return parent_; }
    const std::vector<Node*>& children() const { return children_; }
    // The document-wide number of this node; scripts refer to nodes by it.
    uint32_t id() const { return id_; }

    // ---- Attributes (names lower case, in source order)
    const std::vector<std::pair<std::string, std::string>>& attributes() const { return attributes_; }
    std::optional<std::string> attribute(std::string_view name) const;
    bool hasAttribute(std::string_view name) const { return attribute(name).has_value(); }
    // Setting "style" replaces the style map; setting "value" on a control also resets its
    // live value, as a page's markup does before any typing.
    void setAttribute(std::string_view name, std::string value);
    void removeAttribute(std::string_view name);
    bool hasClass(std::string_view cls) const;

    // ---- Styles: the inline style as ordered CSS property names (lower case, hyphenated).
    std::string style(std::string_view property) const;
    void setStyle(std::string_view property, std::string value);  // an empty value removes it
    const std::vector<std::pair<std::string, std::string>>& styles() const { return styles_; }
    // Neither this element nor an ancestor has display:none (or the hidden attribute).
    bool isRendered() const;

    // ---- Form controls
    bool isFormControl() const;
    // The live value: what the user typed or a script set, else the markup's: the "value"
    // attribute of an input, the text of a textarea, the selected option of a select.
    std::string value() const;
    void setValue(std::string value);
    bool checked() const;
    void setChecked(bool on);

    // The text content of the subtree (all text nodes in order).
    std::string textContent() const;

private:
    friend class Document;
    Kind kind_ = Kind::Element;
    std::string name_;
    std::string data_;
    Node* parent_ = nullptr;
    std::vector<Node*> children_;
    uint32_t id_ = 0;
    std::vector<std::pair<std::string, std::string>> attributes_;
    std::vector<std::pair<std::string, std::string>> styles_;
    std::optional<std::string> value_;
    std::optional<bool> checked_;
    Document* document_ = nullptr;
};

class Document {
public:
    // Every node a document ever makes is counted against this bound, so a script that keeps
    // replacing innerHTML runs out of room with an error instead of exhausting the process.
    static constexpr size_t kMaximumNodes = 200000;
    static constexpr size_t kMaximumDepth = 256;

    // Parses HTML bytes (any encoding the reader can detect; UTF-8 by default). Never fails on
    // malformed markup; fails only on input the reader refuses outright.
    static foundation::Result<std::unique_ptr<Document>> parseHTML(std::string_view html, std::string baseURL = {});

    Document();
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    const std::string& baseURL() const { return baseURL_; }
    Node* documentElement() const { return root_; }
    Node* body() const;
    Node* head() const;
    std::string title() const;

    // The node with this id while it still belongs to the document (detached nodes stay valid
    // until the document goes, but are no longer found by queries).
    Node* nodeById(uint32_t id) const { return id < nodes_.size() ? nodes_[id].get() : nullptr; }

    Node* getElementById(std::string_view id) const;
    std::vector<Node*> getElementsByTagName(std::string_view tag) const;
    // The selectors scripts use: type, #id, .class, [attr], [attr=value] (value optionally
    // quoted), *, compounds of those, descendant (space) and child (>) combinators and
    // comma-separated lists. Results are in document order, without duplicates.
    foundation::Result<std::vector<Node*>> querySelectorAll(std::string_view selectors,
                                                            const Node* scope = nullptr) const;

    // Markup of node's children (element attributes in order, a style attribute from the style
    // map, text escaped as HTML serialises it).
    std::string innerHTML(const Node& node) const;
    std::string outerHTML(const Node& node) const;
    // Replaces node's children with the parsed fragment.
    foundation::Status setInnerHTML(Node& node, std::string_view html);

    // The entries a form submits, in document order: named, enabled controls; checkboxes and
    // radios only when checked; submit buttons only when they are the submitter.
    std::vector<std::pair<std::string, std::string>> formData(const Node& form, const Node* submitter = nullptr) const;
    // The form an element belongs to (its "form" attribute's id, else the nearest form ancestor).
    Node* formOwner(const Node& element) const;

    // Every element of the subtree in document order (node itself first when it is one).
    std::vector<Node*> elementsIn(const Node& node) const;
    // Bumped by every change a layout depends on (structure, attributes, styles, values).
    uint64_t generation() const { return generation_; }
    void touch() { ++generation_; }
    size_t nodeCount() const { return nodes_.size(); }

private:
    Node* make(Node::Kind kind, std::string name);
    void append(Node* parent, Node* child);
    foundation::Status importChildren(void* libxmlNode, Node* parent, size_t depth);

    std::vector<std::unique_ptr<Node>> nodes_;
    Node* root_ = nullptr;
    std::string baseURL_;
    uint64_t generation_ = 0;
};

// Escapes text for an HTML text node or (withQuotes) a double-quoted attribute value.
std::string escapeHTML(std::string_view text, bool withQuotes);

}  // namespace web
