// The form reader of the sign-in pages, over libxml2's HTML parser and XPath.
#include <libxml/HTMLparser.h>
#include <libxml/xpath.h>

#include "platform/foundation/strings.h"
#include "service/application_web_client.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
struct ContextFree {
    void operator()(xmlXPathContext* c) const { xmlXPathFreeContext(c); }
};
struct ObjectFree {
    void operator()(xmlXPathObject* o) const { xmlXPathFreeObject(o); }
};

std::string trimmed(std::string s) {
    auto space = [](unsigned char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
    };
    while (!s.empty() && space(s.back())) s.pop_back();
    size_t i = 0;
    while (i < s.size() && space(s[i])) ++i;
    return s.substr(i);
}

std::string contentOf(xmlNode* node) {
    xmlChar* content = xmlNodeGetContent(node);
    std::string out = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return trimmed(std::move(out));
}

// The nodes of expression; none when the query fails or yields no node set at all (which is
// what libxml2 answers for a query that matches nothing).
std::optional<std::vector<xmlNode*>> query(xmlDoc* doc, const char* expression) {
    std::unique_ptr<xmlXPathContext, ContextFree> context(xmlXPathNewContext(doc));
    if (!context) return std::nullopt;
    std::unique_ptr<xmlXPathObject, ObjectFree> result(
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expression), context.get()));
    if (!result || result->type != XPATH_NODESET || !result->nodesetval) return std::nullopt;
    std::vector<xmlNode*> nodes;
    for (int i = 0; i < result->nodesetval->nodeNr; ++i) nodes.push_back(result->nodesetval->nodeTab[i]);
    return nodes;
}

}  // namespace

std::optional<foundation::Dictionary>
HXApplicationWebClient::parseFormFromData(std::string_view html, const std::optional<std::string>& partialURL,
                                          const foundation::Dictionary& fieldDict) {
    if (html.empty() || html.size() > static_cast<size_t>(INT32_MAX)) return std::nullopt;
    std::unique_ptr<xmlDoc, DocFree> doc(htmlReadMemory(html.data(), static_cast<int>(html.size()), "", nullptr,
                                                        HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET));
    if (!doc) return std::nullopt;
    auto actions = query(doc.get(), "//form[@id=\"challenge\"]/@action");
    const bool challenge = !partialURL && actions.has_value();
    if (!challenge) actions = query(doc.get(), "//form/@action");
    if (!actions || actions->empty()) return std::nullopt;
    size_t chosen = 0;
    if (partialURL && actions->size() >= 2) {
        for (size_t i = 0; i < actions->size(); ++i) {
            if (contentOf((*actions)[i]).find(*partialURL) != std::string::npos) {
                chosen = i;
                break;
            }
        }
    }
    const std::string action = contentOf((*actions)[chosen]);
    std::string inputQuery = challenge     ? "//form[@id=\"challenge\"]//input[@name]"
                             : chosen == 0 ? "//form//input[@name]"
                                           : "(//form)[" + std::to_string(chosen + 1) + "]//input[@name]";
    auto inputs = query(doc.get(), inputQuery.c_str());
    if (!inputs || inputs->empty()) return std::nullopt;
    foundation::Dictionary form;
    for (xmlNode* input : *inputs) {
        xmlChar* rawName = xmlGetProp(input, reinterpret_cast<const xmlChar*>("name"));
        std::string name = rawName ? trimmed(reinterpret_cast<const char*>(rawName)) : "";
        xmlFree(rawName);
        std::string value;
        if (xmlAttr* attr = xmlHasProp(input, reinterpret_cast<const xmlChar*>("value")))
            value = contentOf(reinterpret_cast<xmlNode*>(attr));
        if (!value.empty()) {
            form.set(name, foundation::Value(value));
        } else if (const auto* fill = fieldDict.find(foundation::asciiLowercase(name))) {
            form.set(name, *fill);
        }
    }
    form.set(kHXFormSubmissionURLKey, foundation::Value(action));
    return form;
}
