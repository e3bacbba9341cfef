#include "platform/web/dom.h"

#include <gtest/gtest.h>

namespace {

using web::Document;
using web::Node;

constexpr const char* kPage = R"(<!DOCTYPE html>
<html><head><title> Help </title><style>p{}</style></head>
<body style="margin-bottom: 10px; COLOR: red">
<div id="top" class="box wide"><p class="note">One <b>two</b></p><p>three</p></div>
<form id="f" action="/go"><input name="a" value="1"><select name="s"><option value="x">X<option selected>Y</select>
<textarea name="t">hello &amp; bye</textarea><input name="off" disabled value="no"><button name="b" value="go">Go</button></form>
<input form="f" name="outside" value="o">
<ul><li><span>1</span></li><li><span data-k="v w">2</span></li></ul>
</body></html>)";

std::vector<std::string> ids(const std::vector<Node*>& nodes) {
    std::vector<std::string> out;
    for (Node* n : nodes) out.push_back(n->tagName() + (n->hasAttribute("id") ? "#" + *n->attribute("id") : ""));
    return out;
}

TEST(Document, ParsesStructureAttributesAndStyles) {
    auto doc = Document::parseHTML(kPage).value();
    EXPECT_EQ(doc->title(), "Help");
    ASSERT_NE(doc->body(), nullptr);
    EXPECT_EQ(doc->body()->style("margin-bottom"), "10px");
    EXPECT_EQ(doc->body()->style("color"), "red");
    Node* top = doc->getElementById("top");
    ASSERT_NE(top, nullptr);
    EXPECT_TRUE(top->hasClass("wide"));
    EXPECT_FALSE(top->hasClass("wid"));
    EXPECT_EQ(doc->innerHTML(*top), "<p class=\"note\">One <b>two</b></p><p>three</p>");
    EXPECT_EQ(doc->getElementsByTagName("P").size(), 2u);

    top->setStyle("display", "none");
    EXPECT_FALSE(doc->getElementsByTagName("b")[0]->isRendered());
    EXPECT_EQ(doc->outerHTML(*top).substr(0, 54), "<div id=\"top\" class=\"box wide\" style=\"display: none;\">");
    top->setStyle("display", "");
    EXPECT_TRUE(doc->getElementsByTagName("b")[0]->isRendered());
}

TEST(Document, SelectorsMatchInDocumentOrder) {
    auto doc = Document::parseHTML(kPage).value();
    struct Case {
        const char* selector;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"span", {"span", "span"}},
        {"#top", {"div#top"}},
        {"div.box.wide", {"div#top"}},
        {".note b", {"b"}},
        {"div > b", {}},
        {"p > b", {"b"}},
        {"[data-k]", {"span"}},
        {"[data-k='v w']", {"span"}},
        {"[data-k=v]", {}},
        {"form#f input, li span", {"input", "input", "span", "span"}},
        {"b, p", {"p", "b", "p"}},
        {"ul *", {"li", "span", "li", "span"}},
    };
    for (const auto& c : cases) {
        auto r = doc->querySelectorAll(c.selector);
        ASSERT_TRUE(r.ok()) << c.selector;
        EXPECT_EQ(ids(*r), c.expected) << c.selector;
    }
    for (const char* bad : {"", ",", "a >", "[x", "a:hover", "#", "[x='y]"})
        EXPECT_FALSE(doc->querySelectorAll(bad).ok()) << bad;
}

TEST(Document, FormDataFollowsSubmissionRules) {
    auto doc = Document::parseHTML(kPage).value();
    Node* form = doc->getElementById("f");
    using Entries = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(doc->formData(*form), (Entries{{"a", "1"}, {"s", "Y"}, {"t", "hello & bye"}, {"outside", "o"}}));
    Node* button = doc->getElementsByTagName("button")[0];
    doc->getElementsByTagName("textarea")[0]->setValue("typed");
    auto withSubmitter = doc->formData(*form, button);
    EXPECT_EQ(withSubmitter, (Entries{{"a", "1"}, {"s", "Y"}, {"t", "typed"}, {"b", "go"}, {"outside", "o"}}));
    // Resetting the markup value resets the live value.
    Node* a = doc->querySelectorAll("input[name=a]").value()[0];
    a->setValue("live");
    EXPECT_EQ(a->value(), "live");
    a->setAttribute("value", "2");
    EXPECT_EQ(a->value(), "2");
}

TEST(Document, InnerHTMLRoundTripsAndMalformedMarkupIsRepaired) {
    auto doc = Document::parseHTML("<div id=d></div>").value();
    Node* d = doc->getElementById("d");
    ASSERT_TRUE(doc->setInnerHTML(*d, "<i>a &lt; b</i><br>\"q\"").ok());
    EXPECT_EQ(doc->innerHTML(*d), "<i>a &lt; b</i><br>\"q\"");
    ASSERT_TRUE(doc->setInnerHTML(*d, "").ok());
    EXPECT_EQ(doc->innerHTML(*d), "");

    const char* inputs[] = {"",
                            "plain text",
                            "<p><b>unclosed",
                            "</div></div>",
                            "<html><p>no body",
                            "<table><td>x</table>",
                            "\xff\xfe<\x00p>",
                            "<!-- c --><p a=\"&#0;\">"};
    for (const char* html : inputs) {
        auto r = Document::parseHTML(html);
        ASSERT_TRUE(r.ok()) << html;
        EXPECT_NE((*r)->body(), nullptr) << html;
    }
}

TEST(Document, DeepNestingIsCutAtTheDepthLimit) {
    std::string html;
    for (int i = 0; i < 5000; ++i) html += "<div>";
    html += "deep";
    auto doc = Document::parseHTML(html).value();
    size_t depth = 0;
    for (Node* n = doc->body(); n && !n->children().empty(); n = n->children()[0]) ++depth;
    EXPECT_LE(depth, Document::kMaximumDepth);
}

}  // namespace
