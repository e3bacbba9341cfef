#include "platform/web/dom.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <set>

#include "platform/foundation/strings.h"

namespace web {

namespace {

constexpr const char* kDOMDomain = "HXWebDOMErrorDomain";

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

std::vector<std::pair<std::string, std::string>> parseStyle(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view decl = text.substr(start, end - start);
        size_t colon = decl.find(':');
        if (colon != std::string_view::npos) {
            std::string name = foundation::asciiLowercase(trim(decl.substr(0, colon)));
            std::string value = trim(decl.substr(colon + 1));
            if (!name.empty() && !value.empty()) {
                auto it = std::find_if(out.begin(), out.end(), [&](auto& p) { return p.first == name; });
                if (it != out.end())
                    it->second = value;
                else
                    out.emplace_back(std::move(name), std::move(value));
            }
        }
        start = end + 1;
    }
    return out;
}

std::string formatStyle(const std::vector<std::pair<std::string, std::string>>& styles) {
    std::string out;
    for (auto& [k, v] : styles) {
        if (!out.empty()) out += " ";
        out += k + ": " + v + ";";
    }
    return out;
}

bool isVoidElement(std::string_view tag) {
    static const std::set<std::string_view> kVoid = {"area",  "base", "br",   "col",   "embed",  "hr",    "img",
                                                     "input", "link", "meta", "param", "source", "track", "wbr"};
    return kVoid.count(tag) > 0;
}

// libxml2 keeps process-wide state that must be set up once before threads use it.
void initParser() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

}  // namespace

std::string escapeHTML(std::string_view text, bool withQuotes) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += withQuotes ? "<" : "&lt;";
                break;
            case '>':
                out += withQuotes ? ">" : "&gt;";
                break;
            case '"':
                out += withQuotes ? "&quot;" : "\"";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// ---- Node

std::optional<std::string> Node::attribute(std::string_view name) const {
    std::string key = foundation::asciiLowercase(name);
    if (key == "style" && isElement()) {
        if (styles_.empty() &&
            std::none_of(attributes_.begin(), attributes_.end(), [](auto& a) { return a.first == "style"; }))
            return std::nullopt;
        return formatStyle(styles_);
    }
    for (auto& [k, v] : attributes_)
        if (k == key) return v;
    return std::nullopt;
}

void Node::setAttribute(std::string_view name, std::string value) {
    std::string key = foundation::asciiLowercase(name);
    if (key == "style") styles_ = parseStyle(value);
    if (key == "value" && (name_ == "input")) value_.reset();
    if (key == "checked") checked_.reset();
    auto it = std::find_if(attributes_.begin(), attributes_.end(), [&](auto& a) { return a.first == key; });
    if (it != attributes_.end())
        it->second = std::move(value);
    else
        attributes_.emplace_back(std::move(key), std::move(value));
    if (document_) document_->touch();
}

void Node::removeAttribute(std::string_view name) {
    std::string key = foundation::asciiLowercase(name);
    if (key == "style") styles_.clear();
    if (key == "checked") checked_.reset();
    std::erase_if(attributes_, [&](auto& a) { return a.first == key; });
    if (document_) document_->touch();
}

bool Node::hasClass(std::string_view cls) const {
    auto classes = attribute("class");
    if (!classes || cls.empty()) return false;
    std::string_view s = *classes;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        size_t j = i;
        while (j < s.size() && !std::isspace(static_cast<unsigned char>(s[j]))) ++j;
        if (j > i && s.substr(i, j - i) == cls) return true;
        i = j;
    }
    return false;
}

std::string Node::style(std::string_view property) const {
    std::string key = foundation::asciiLowercase(property);
    for (auto& [k, v] : styles_)
        if (k == key) return v;
    return {};
}

void Node::setStyle(std::string_view property, std::string value) {
    std::string key = foundation::asciiLowercase(trim(property));
    if (key.empty()) return;
    value = trim(value);
    auto it = std::find_if(styles_.begin(), styles_.end(), [&](auto& p) { return p.first == key; });
    if (value.empty()) {
        if (it != styles_.end()) styles_.erase(it);
    } else if (it != styles_.end()) {
        it->second = std::move(value);
    } else {
        styles_.emplace_back(std::move(key), std::move(value));
    }
    if (document_) document_->touch();
}

bool Node::isRendered() const {
    for (const Node* n = this; n; n = n->parent_) {
        if (!n->isElement()) continue;
        std::string display = foundation::asciiLowercase(n->style("display"));
        if (display == "none" || n->hasAttribute("hidden")) return false;
        if (n->name_ == "head" || n->name_ == "script" || n->name_ == "style" || n->name_ == "template" ||
            n->name_ == "title" || n->name_ == "meta" || n->name_ == "link" || n->name_ == "noscript")
            return false;
        if (n->name_ == "input" && foundation::asciiLowercase(n->attribute("type").value_or("")) == "hidden")
            return false;
    }
    return true;
}

bool Node::isFormControl() const {
    return name_ == "input" || name_ == "textarea" || name_ == "select" || name_ == "button";
}

std::string Node::value() const {
    if (value_) return *value_;
    if (name_ == "textarea") return textContent();
    if (name_ == "select") {
        const Node* first = nullptr;
        std::vector<const Node*> stack(children_.rbegin(), children_.rend());
        while (!stack.empty()) {
            const Node* n = stack.back();
            stack.pop_back();
            if (n->name_ == "option") {
                if (!first) first = n;
                if (n->hasAttribute("selected")) return n->attribute("value").value_or(n->textContent());
            }
            stack.insert(stack.end(), n->children_.rbegin(), n->children_.rend());
        }
        return first ? first->attribute("value").value_or(first->textContent()) : std::string();
    }
    if (name_ == "option") return attribute("value").value_or(textContent());
    return attribute("value").value_or(
        name_ == "input" && (foundation::asciiLowercase(attribute("type").value_or("")) == "checkbox" ||
                             foundation::asciiLowercase(attribute("type").value_or("")) == "radio")
            ? "on"
            : "");
}

void Node::setValue(std::string value) {
    value_ = std::move(value);
    if (document_) document_->touch();
}

bool Node::checked() const { return checked_.value_or(hasAttribute("checked")); }

void Node::setChecked(bool on) {
    checked_ = on;
    if (document_) document_->touch();
}

std::string Node::textContent() const {
    if (!isElement()) return kind_ == Kind::Text ? data_ : std::string();
    std::string out;
    std::vector<const Node*> stack(children_.rbegin(), children_.rend());
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        if (n->kind_ == Kind::Text) out += n->data_;
        stack.insert(stack.end(), n->children_.rbegin(), n->children_.rend());
    }
    return out;
}

// ---- Document

Document::Document() { root_ = make(Node::Kind::Element, "html"); }

Document::~Document() = default;

Node* Document::make(Node::Kind kind, std::string name) {
    auto node = std::make_unique<Node>();
    node->kind_ = kind;
    node->name_ = std::move(name);
    node->id_ = static_cast<uint32_t>(nodes_.size());
    node->document_ = this;
    nodes_.push_back(std::move(node));
    return nodes_.back().get();
}

void Document::append(Node* parent, Node* child) {
    child->parent_ = parent;
    parent->children_.push_back(child);
}

foundation::Status Document::importChildren(void* from, Node* parent, size_t depth) {
    for (xmlNodePtr c = static_cast<xmlNodePtr>(from)->children; c; c = c->next) {
        if (nodes_.size() >= kMaximumNodes)
            return foundation::Error::withDescription(kDOMDomain, 2, "the page holds too many nodes");
        if (c->type == XML_ELEMENT_NODE) {
            Node* el = make(Node::Kind::Element, foundation::asciiLowercase(reinterpret_cast<const char*>(c->name)));
            for (xmlAttrPtr a = c->properties; a; a = a->next) {
                xmlChar* v = xmlNodeListGetString(c->doc, a->children, 1);
                std::string value = v ? reinterpret_cast<const char*>(v) : "";
                if (v) xmlFree(v);
                std::string key = foundation::asciiLowercase(reinterpret_cast<const char*>(a->name));
                if (el->hasAttribute(key)) continue;
                if (key == "style") el->styles_ = parseStyle(value);
                el->attributes_.emplace_back(std::move(key), std::move(value));
            }
            append(parent, el);
            // Deeper markup is dropped rather than recursed into without bound.
            if (depth < kMaximumDepth) {
                auto st = importChildren(c, el, depth + 1);
                if (!st) return st;
            }
        } else if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
            Node* t = make(Node::Kind::Text, {});
            t->data_ = c->content ? reinterpret_cast<const char*>(c->content) : "";
            append(parent, t);
        } else if (c->type == XML_COMMENT_NODE) {
            Node* t = make(Node::Kind::Comment, {});
            t->data_ = c->content ? reinterpret_cast<const char*>(c->content) : "";
            append(parent, t);
        }
    }
    return {};
}

foundation::Result<std::unique_ptr<Document>> Document::parseHTML(std::string_view html, std::string baseURL) {
    initParser();
    if (html.size() > static_cast<size_t>(INT32_MAX))
        return foundation::Error::withDescription(kDOMDomain, 1, "the page is too large");
    auto doc = std::make_unique<Document>();
    doc->baseURL_ = std::move(baseURL);
    if (html.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        // An empty page still has a body for scripts and layout.
        Node* body = doc->make(Node::Kind::Element, "body");
        doc->append(doc->root_, body);
        return doc;
    }
    htmlDocPtr parsed =
        htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8",
                       HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    if (!parsed) return foundation::Error::withDescription(kDOMDomain, 1, "the page could not be read");
    xmlNodePtr top = nullptr;
    for (xmlNodePtr c = parsed->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE && xmlStrcasecmp(c->name, BAD_CAST "html") == 0) top = c;
    foundation::Status st;
    if (top) {
        for (xmlAttrPtr a = top->properties; a; a = a->next) {
            xmlChar* v = xmlNodeListGetString(parsed, a->children, 1);
            doc->root_->attributes_.emplace_back(foundation::asciiLowercase(reinterpret_cast<const char*>(a->name)),
                                                 v ? reinterpret_cast<const char*>(v) : "");
            if (v) xmlFree(v);
        }
        st = doc->importChildren(top, doc->root_, 1);
    } else {
        // A fragment without <html>: everything goes into a body of its own.
        Node* body = doc->make(Node::Kind::Element, "body");
        doc->append(doc->root_, body);
        xmlNode holder{};
        holder.children = parsed->children;
        st = doc->importChildren(&holder, body, 2);
    }
    xmlFreeDoc(parsed);
    if (!st) return st.error();
    if (!doc->body()) {
        // Markup with <html> but no body: gather the non-head children into one.
        Node* body = doc->make(Node::Kind::Element, "body");
        std::vector<Node*> keep, moved;
        for (Node* c : doc->root_->children_) (c->name_ == "head" ? keep : moved).push_back(c);
        doc->root_->children_ = keep;
        doc->append(doc->root_, body);
        for (Node* c : moved) doc->append(body, c);
    }
    return doc;
}

Node* Document::body() const {
    for (Node* c : root_->children_)
        if (c->name_ == "body" || c->name_ == "frameset") return c;
    return nullptr;
}

Node* Document::head() const {
    for (Node* c : root_->children_)
        if (c->name_ == "head") return c;
    return nullptr;
}

std::string Document::title() const {
    for (Node* n : elementsIn(*root_))
        if (n->name_ == "title") return trim(n->textContent());
    return {};
}

std::vector<Node*> Document::elementsIn(const Node& node) const {
    std::vector<Node*> out;
    std::vector<Node*> stack{const_cast<Node*>(&node)};
    while (!stack.empty()) {
        Node* n = stack.back();
        stack.pop_back();
        if (n->isElement()) out.push_back(n);
        stack.insert(stack.end(), n->children_.rbegin(), n->children_.rend());
    }
    return out;
}

Node* Document::getElementById(std::string_view id) const {
    if (id.empty()) return nullptr;
    for (Node* n : elementsIn(*root_))
        if (auto v = n->attribute("id"); v && *v == id) return n;
    return nullptr;
}

std::vector<Node*> Document::getElementsByTagName(std::string_view tag) const {
    std::string t = foundation::asciiLowercase(tag);
    std::vector<Node*> out;
    for (Node* n : elementsIn(*root_))
        if (t == "*" || n->name_ == t) out.push_back(n);
    return out;
}

// ---- Selectors

namespace {

struct Simple {
    std::string tag;  // "" or "*": any
    std::vector<std::string> ids, classes;
    struct Attr {
        std::string name;
        std::optional<std::string> value;
    };
    std::vector<Attr> attrs;
};

struct Step {
    Simple simple;
    char combinator = ' ';  // how this step relates to the previous one: ' ' descendant, '>' child
};

using Complex = std::vector<Step>;

bool isIdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

foundation::Result<std::vector<Complex>> parseSelectors(std::string_view s) {
    auto bad = [&] {
        return foundation::Error::withDescription(kDOMDomain, 3, "unsupported selector: " + std::string(s));
    };
    std::vector<Complex> list;
    Complex current;
    size_t i = 0;
    char pending = ' ';
    auto ident = [&](std::string& out) {
        size_t b = i;
        while (i < s.size() && isIdentChar(s[i])) ++i;
        out = std::string(s.substr(b, i - b));
        return !out.empty();
    };
    while (true) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        if (i >= s.size() || s[i] == ',') {
            if (current.empty() || pending == '>') return bad();
            list.push_back(std::move(current));
            current.clear();
            pending = ' ';
            if (i >= s.size()) break;
            ++i;
            continue;
        }
        if (s[i] == '>') {
            if (current.empty()) return bad();
            pending = '>';
            ++i;
            continue;
        }
        Step step;
        step.combinator = pending;
        pending = ' ';
        bool any = false;
        while (i < s.size()) {
            char c = s[i];
            if (c == '*') {
                step.simple.tag = "*";
                ++i;
            } else if (isIdentChar(c)) {
                if (!ident(step.simple.tag)) return bad();
                step.simple.tag = foundation::asciiLowercase(step.simple.tag);
            } else if (c == '#' || c == '.') {
                ++i;
                std::string name;
                if (!ident(name)) return bad();
                (c == '#' ? step.simple.ids : step.simple.classes).push_back(name);
            } else if (c == '[') {
                ++i;
                Simple::Attr a;
                while (i < s.size() && s[i] == ' ') ++i;
                if (!ident(a.name)) return bad();
                a.name = foundation::asciiLowercase(a.name);
                while (i < s.size() && s[i] == ' ') ++i;
                if (i < s.size() && s[i] == '=') {
                    ++i;
                    while (i < s.size() && s[i] == ' ') ++i;
                    std::string v;
                    if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
                        char q = s[i++];
                        size_t b = i;
                        while (i < s.size() && s[i] != q) ++i;
                        if (i >= s.size()) return bad();
                        v = std::string(s.substr(b, i - b));
                        ++i;
                    } else if (!ident(v)) {
                        return bad();
                    }
                    a.value = v;
                    while (i < s.size() && s[i] == ' ') ++i;
                }
                if (i >= s.size() || s[i] != ']') return bad();
                ++i;
                step.simple.attrs.push_back(std::move(a));
            } else {
                break;
            }
            any = true;
        }
        if (!any) return bad();
        current.push_back(std::move(step));
    }
    return list;
}

bool matchesSimple(const Node& n, const Simple& s) {
    if (!n.isElement()) return false;
    if (!s.tag.empty() && s.tag != "*" && n.tagName() != s.tag) return false;
    for (auto& id : s.ids)
        if (n.attribute("id").value_or("") != id) return false;
    for (auto& c : s.classes)
        if (!n.hasClass(c)) return false;
    for (auto& a : s.attrs) {
        auto v = n.attribute(a.name);
        if (!v || (a.value && *v != *a.value)) return false;
    }
    return true;
}

// Right to left: the last step matches n, earlier steps match ancestors.
bool matchesComplex(const Node& n, const Complex& c, size_t index, const Node* scopeRoot) {
    if (!matchesSimple(n, c[index].simple)) return false;
    if (index == 0) return true;
    char comb = c[index].combinator;
    for (const Node* p = n.parent(); p && p != scopeRoot; p = p->parent()) {
        if (matchesComplex(*p, c, index - 1, scopeRoot)) return true;
        if (comb == '>') return false;
    }
    return false;
}

}  // namespace

foundation::Result<std::vector<Node*>> Document::querySelectorAll(std::string_view selectors, const Node* scope) const {
    auto parsed = parseSelectors(selectors);
    if (!parsed) return parsed.error();
    const Node* from = scope ? scope : root_;
    std::vector<Node*> out;
    for (Node* n : elementsIn(*from)) {
        if (scope && n == scope) continue;
        for (auto& complex : *parsed)
            if (matchesComplex(*n, complex, complex.size() - 1, scope ? scope->parent() : nullptr)) {
                out.push_back(n);
                break;
            }
    }
    return out;
}

// ---- Serialisation

std::string Document::outerHTML(const Node& node) const {
    if (node.kind() == Node::Kind::Text) {
        const Node* p = node.parent();
        if (p && (p->tagName() == "script" || p->tagName() == "style")) return node.data();
        return escapeHTML(node.data(), false);
    }
    if (node.kind() == Node::Kind::Comment) return "<!--" + node.data() + "-->";
    std::string out = "<" + node.tagName();
    bool wroteStyle = false;
    for (auto& [k, v] : node.attributes()) {
        if (k == "style") {
            if (node.styles().empty()) continue;
            out += " style=\"" + escapeHTML(formatStyle(node.styles()), true) + "\"";
            wroteStyle = true;
            continue;
        }
        out += " " + k + "=\"" + escapeHTML(v, true) + "\"";
    }
    if (!wroteStyle && !node.styles().empty()) out += " style=\"" + escapeHTML(formatStyle(node.styles()), true) + "\"";
    out += ">";
    if (isVoidElement(node.tagName())) return out;
    out += innerHTML(node);
    out += "</" + node.tagName() + ">";
    return out;
}

std::string Document::innerHTML(const Node& node) const {
    std::string out;
    for (const Node* c : node.children()) out += outerHTML(*c);
    return out;
}

foundation::Status Document::setInnerHTML(Node& node, std::string_view html) {
    if (!node.isElement()) return foundation::Error::withDescription(kDOMDomain, 4, "not an element");
    initParser();
    std::string wrapped = "<html><body>" + std::string(html) + "</body></html>";
    if (wrapped.size() > static_cast<size_t>(INT32_MAX))
        return foundation::Error::withDescription(kDOMDomain, 1, "the markup is too large");
    for (Node* c : node.children_) c->parent_ = nullptr;
    node.children_.clear();
    touch();
    if (html.empty()) return {};
    htmlDocPtr parsed =
        htmlReadMemory(wrapped.data(), static_cast<int>(wrapped.size()), nullptr, "UTF-8",
                       HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    if (!parsed) return {};
    xmlNodePtr body = nullptr;
    for (xmlNodePtr h = parsed->children; h && !body; h = h->next)
        if (h->type == XML_ELEMENT_NODE)
            for (xmlNodePtr b = h->children; b; b = b->next)
                if (b->type == XML_ELEMENT_NODE && xmlStrcasecmp(b->name, BAD_CAST "body") == 0) body = b;
    size_t depth = 0;
    for (const Node* p = &node; p; p = p->parent_) ++depth;
    foundation::Status st = body ? importChildren(body, &node, depth) : foundation::Status{};
    xmlFreeDoc(parsed);
    return st;
}

// ---- Forms

Node* Document::formOwner(const Node& element) const {
    if (auto id = element.attribute("form")) {
        Node* f = getElementById(*id);
        if (f && f->tagName() == "form") return f;
    }
    for (Node* p = element.parent(); p; p = p->parent())
        if (p->tagName() == "form") return p;
    return nullptr;
}

std::vector<std::pair<std::string, std::string>> Document::formData(const Node& form, const Node* submitter) const {
    std::vector<std::pair<std::string, std::string>> out;
    for (Node* n : elementsIn(*root_)) {
        if (!n->isFormControl() || formOwner(*n) != &form) continue;
        auto name = n->attribute("name");
        if (!name || name->empty() || n->hasAttribute("disabled")) continue;
        std::string type =
            foundation::asciiLowercase(n->attribute("type").value_or(n->tagName() == "button" ? "submit" : "text"));
        if (n->tagName() == "button" || (n->tagName() == "input" && (type == "submit" || type == "image"))) {
            if (n == submitter) out.emplace_back(*name, n->value());
            continue;
        }
        if (n->tagName() == "input" && (type == "reset" || type == "button" || type == "file")) continue;
        if (n->tagName() == "input" && (type == "checkbox" || type == "radio") && !n->checked()) continue;
        out.emplace_back(*name, n->value());
    }
    return out;
}

}  // namespace web
