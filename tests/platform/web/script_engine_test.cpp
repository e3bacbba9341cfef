#include "platform/web/script_engine.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/web/dom.h"
#include "tests/support/test_support.h"

namespace {

using foundation::Value;
using web::Document;
using web::ScriptEngine;

// The scripts the screens evaluate, byte for byte.
constexpr const char* kFormReader =
    "var object={};(new FormData(document.getElementsByTagName('form')[0])).forEach(function(value, "
    "key){object[key]=value;});object;";
constexpr const char* kHideCreateAccount =
    "document.querySelectorAll('span').forEach(function(element){if(element.innerHTML=='Create "
    "account'){element.style.display='none';}});";
constexpr const char* kPageHeight = "document.body.scrollHeight-document.body.style.marginBottom";
constexpr const char* kPageHeightSpaced = "document.body.scrollHeight - document.body.style.marginBottom";

constexpr const char* kSignInPage = R"(<html><body>
<form action="/signin/identify" method="post">
  <input type="email" name="identifier" id="identifierId" value="">
  <input type="hidden" name="flow" value="identify">
  <input type="checkbox" name="remember" value="yes">
  <input type="submit" name="go" value="Next">
</form>
<a id="link-signup" href="/signup">Sign up</a>
<span>Create account</span><span>Create account </span><span>Help</span>
<script>document.body.innerHTML = 'owned';</script>
</body></html>)";

std::unique_ptr<Document> parse(const char* html) {
    auto doc = Document::parseHTML(html, "https://accounts.example.test/");
    EXPECT_TRUE(doc.ok());
    return std::move(doc).value();
}

TEST(ScriptEngine, FormReaderReturnsTheFirstFormsSuccessfulControls) {
    auto doc = parse(kSignInPage);
    ScriptEngine engine(*doc);
    auto r = engine.evaluate(kFormReader);
    ASSERT_TRUE(r.ok()) << r.error().description();
    // The unchecked box and the submit button do not submit; the empty field does.
    EXPECT_EQ(*r, Value(foundation::Dictionary{{"identifier", ""}, {"flow", "identify"}}));

    doc->getElementById("identifierId")->setValue("ann@example.test");
    doc->querySelectorAll("input[name=remember]").value()[0]->setChecked(true);
    r = engine.evaluate(kFormReader);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r, Value(foundation::Dictionary{
                      {"identifier", "ann@example.test"}, {"flow", "identify"}, {"remember", "yes"}}));
}

TEST(ScriptEngine, APageWithoutAFormReadsAsNoFieldsAndScriptErrorsAreValues) {
    auto doc = parse("<p>no form here</p>");
    ScriptEngine engine(*doc);
    auto empty = engine.evaluate(kFormReader);
    ASSERT_TRUE(empty.ok()) << empty.error().description();
    EXPECT_EQ(*empty, Value(foundation::Dictionary{}));
    auto r = engine.evaluate("document.getElementsByTagName('form')[0].action");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, web::kScriptErrorException);
    EXPECT_NE(r.error().localizedDescription().find("TypeError"), std::string::npos);
    // The page keeps answering.
    auto again = engine.evaluate("1+1");
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(*again, Value(2));
}

TEST(ScriptEngine, HideAndFillScriptsChangeTheDocument) {
    auto doc = parse(kSignInPage);
    ScriptEngine engine(*doc);
    std::string element = "document.getElementById('link-signup')";
    ASSERT_TRUE(engine.evaluate(element + ".style.display='none'").ok());
    EXPECT_EQ(doc->getElementById("link-signup")->style("display"), "none");
    EXPECT_FALSE(doc->getElementById("link-signup")->isRendered());

    ASSERT_TRUE(engine.evaluate(kHideCreateAccount).ok());
    auto spans = doc->getElementsByTagName("span");
    ASSERT_EQ(spans.size(), 3u);
    EXPECT_EQ(spans[0]->style("display"), "none");
    EXPECT_EQ(spans[1]->style("display"), "");  // a trailing blank is another text
    EXPECT_EQ(spans[2]->style("display"), "");

    // A user name with quotes, a backslash and a line break stays text when put in as a literal.
    std::string name = "o'brien\"\\\n</script>@example.test";
    auto r = engine.evaluate("document.getElementById('identifierId').value=" + web::javaScriptStringLiteral(name));
    ASSERT_TRUE(r.ok()) << r.error().description();
    EXPECT_EQ(doc->getElementById("identifierId")->value(), name);
    EXPECT_EQ(*r, Value(name));
}

TEST(ScriptEngine, PageScriptsNeverRun) {
    auto doc = parse(kSignInPage);
    ScriptEngine engine(*doc);
    auto r = engine.evaluate("document.body.innerHTML.indexOf('owned') >= 0 && document.forms.length");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r, Value(1));
    EXPECT_EQ(doc->getElementsByTagName("form").size(), 1u);
}

TEST(ScriptEngine, PageHeightSubtractsTheBottomMargin) {
    struct Case {
        const char* style;
        double expected;  // NaN when the margin has a unit
    };
    const Case cases[] = {{"", 640}, {"margin-bottom: 40", 600}, {"margin-bottom: 10px", NAN}};
    for (const auto& c : cases) {
        std::string html = std::string("<body style='") + c.style + "'><p>x</p></body>";
        auto doc = parse(html.c_str());
        ScriptEngine engine(*doc);
        engine.setHeightProvider([&](const web::Node& n) { return n.tagName() == "body" ? 640.0 : 0.0; });
        for (const char* script : {kPageHeight, kPageHeightSpaced}) {
            auto r = engine.evaluate(script);
            ASSERT_TRUE(r.ok()) << c.style;
            if (std::isnan(c.expected))
                EXPECT_TRUE(r->isNull()) << c.style;  // NaN has no JSON form
            else
                EXPECT_EQ(r->doubleValue(-1), c.expected) << c.style;
        }
    }
}

TEST(ScriptEngine, ResultsConvertThroughJSON) {
    auto doc = parse("<div id=a class='x y'><b>bold</b> &amp; text</div>");
    ScriptEngine engine(*doc);
    struct Case {
        const char* script;
        Value expected;
    };
    const Case cases[] = {
        {"undefined", Value()},
        {"null", Value()},
        {"'text'", Value("text")},
        {"1.5", Value(1.5)},
        {"true", Value(true)},
        {"[1,'a',null]", Value(foundation::Array{1, "a", Value()})},
        {"({a:{b:[]}})", Value(foundation::Dictionary{{"a", foundation::Dictionary{{"b", foundation::Array{}}}}})},
        {"(function(){})", Value()},
        {"document.getElementById('a')", Value(foundation::Dictionary{})},
        {"document.getElementById('nope')", Value()},
        {"document.getElementById('a').innerHTML", Value("<b>bold</b> &amp; text")},
        {"document.querySelectorAll('.x.y b').length", Value(1)},
        {"document.getElementById('a') === document.querySelector('#a')", Value(true)},
        {"document.getElementById('a').tagName", Value("DIV")},
    };
    for (const auto& c : cases) {
        auto r = engine.evaluate(c.script);
        ASSERT_TRUE(r.ok()) << c.script << ": " << r.error().description();
        EXPECT_EQ(*r, c.expected) << c.script << " gave " << r->description();
    }
    // A cycle cannot be written as JSON: an error value.
    auto cyclic = engine.evaluate("var o={}; o.o=o; o");
    ASSERT_FALSE(cyclic.ok());
    EXPECT_EQ(cyclic.error().code, web::kScriptErrorException);
    auto bad = engine.evaluate("document.querySelectorAll('a:hover')");
    ASSERT_FALSE(bad.ok());
    EXPECT_NE(bad.error().localizedDescription().find("SyntaxError"), std::string::npos);
}

TEST(ScriptEngine, EndlessLoopsEndWithATimeout) {
    auto doc = parse("<p>x</p>");
    ScriptEngine engine(*doc, {.seconds = 0.05, .heapBytes = 16u << 20});
    // Catching the timeout must not let the loop go on.
    for (const char* script :
         {"while(true){}", "for(;;){try{while(1){}}catch(e){}}", "(function f(){try{for(;;);}finally{for(;;);}})()"}) {
        auto r = engine.evaluate(script);
        ASSERT_FALSE(r.ok()) << script;
        EXPECT_EQ(r.error().code, web::kScriptErrorTimeout) << script << ": " << r.error().description();
    }
    auto after = engine.evaluate("document.getElementsByTagName('p').length");
    ASSERT_TRUE(after.ok());
    EXPECT_EQ(*after, Value(1));
}

TEST(ScriptEngine, AllocationBombsStopAtTheHeapCapAndThePageStaysUsable) {
    auto doc = parse("<p id=p>x</p>");
    const size_t cap = 16u << 20;
    ScriptEngine engine(*doc, {.seconds = 5, .heapBytes = cap});
    for (const char* script : {"(function(){var a=[]; for(;;) a.push(new Array(1000).join('x') + a.length);})()",
                               "(function(){var s='x'; for(;;) s = s + s;})()",
                               "(function(){var o={}; for(var i=0;;i++) o['k'+i]={i:i};})()"}) {
        auto r = engine.evaluate(script);
        ASSERT_FALSE(r.ok()) << script;
        EXPECT_EQ(r.error().code, web::kScriptErrorOutOfMemory) << script << ": " << r.error().description();
        EXPECT_LE(engine.peakHeapBytes(), cap);
        auto after = engine.evaluate("document.getElementById('p').innerHTML");
        ASSERT_TRUE(after.ok()) << r.error().description();
        EXPECT_EQ(*after, Value("x"));
    }
    // The bombs' garbage went back: the heap is far below its cap again.
    EXPECT_LT(engine.heapBytesInUse(), cap / 4);
}

TEST(ScriptEngine, InnerHTMLAssignmentIsBoundedByTheNodeCap) {
    auto doc = parse("<div id=d></div>");
    // The cap, not the time limit, must end it: the sanitizer builds take many times longer.
    ScriptEngine engine(*doc, {.seconds = 10 * hxtest::kSanitizerSlowdown, .heapBytes = 16u << 20});
    auto r = engine.evaluate(
        "var d=document.getElementById('d'); for(var i=0;i<100000;i++) d.innerHTML='<b>1</b><b>2</b><b>3</b>';");
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().localizedDescription().find("too many nodes"), std::string::npos);
    EXPECT_LE(doc->nodeCount(), Document::kMaximumNodes);
}

TEST(ScriptEngine, StringLiteralsRoundTripThroughTheEngine) {
    auto doc = parse("");
    ScriptEngine engine(*doc);
    const std::string texts[] = {"",
                                 "plain",
                                 "a'b\"c",
                                 "back\\slash",
                                 "line\nbreak\r\t",
                                 std::string("nul\0x", 5),
                                 "sep\xE2\x80\xA8"
                                 "ara\xE2\x80\xA9tor",
                                 "\xC3\xA9t\xC3\xA9 \xF0\x9F\x93\x9E",
                                 "</script>"};
    for (const auto& t : texts) {
        auto r = engine.evaluate(web::javaScriptStringLiteral(t));
        ASSERT_TRUE(r.ok()) << t;
        EXPECT_EQ(*r, Value(t));
    }
}

}  // namespace

namespace {

// Every cap, down to none at all: the engine answers with a value or an error, never stops the
// process; caps too small for the page's object model report that the engine could not start.
TEST(ScriptEngine, TinyHeapCapsGiveErrorsNeverAborts) {
    auto doc = web::Document::parseHTML("<p id=p>x</p>").value();
    int started = 0;
    for (size_t cap : {size_t{0}, size_t{1} << 10, size_t{16} << 10, size_t{64} << 10, size_t{128} << 10,
                       size_t{192} << 10, size_t{256} << 10, size_t{512} << 10, size_t{1} << 20}) {
        web::ScriptEngine engine(*doc, {.seconds = 1, .heapBytes = cap});
        for (int round = 0; round < 2; ++round) {
            auto r = engine.evaluate("document.getElementById('p').innerHTML + [1,2,3].join('')");
            if (r.ok()) {
                EXPECT_EQ(*r, foundation::Value("x123")) << cap;
                ++started;
            } else {
                EXPECT_TRUE(r.error().code == web::kScriptErrorEngine || r.error().code == web::kScriptErrorOutOfMemory)
                    << cap << ": " << r.error().description();
            }
            EXPECT_LE(engine.peakHeapBytes(), cap);
        }
    }
    EXPECT_GT(started, 0);
}

}  // namespace
