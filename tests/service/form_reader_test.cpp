// The form reader against an independent reading of the same pages by python3's HTML parser.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/foundation/json.h"
#include "service/application_web_client.h"
#include "tests/support/test_support.h"

namespace {

using foundation::Dictionary;

struct Page {
    const char* name;
    std::string html;
    std::optional<std::string> partial;
};

const Page kPages[] = {
    {"challenge form wins over the first", R"(<form action="/first"><input name="a" value="1"></form>
        <form id="challenge" action=" /signin/consent/save "><input name="state" value=" s&amp;1 ">
        <input name="Email" value=""><input name="skip" value=""><input type="submit" name="go" value="Go"></form>)",
     std::nullopt},
    {"a wanted action picks the second form",
     R"(<form action="/a"><input name="x" value="1"></form><form action="/b/consent"><input name="y" value="2">
        <div><input name="EMAIL"></div></form>)",
     "consent"},
    {"a wanted action that no form has takes the first",
     R"(<form action="/a"><input name="x" value="1"></form><form action="/b"><input name="y" value="2"></form>)",
     "zzz"},
    {"no challenge form: the first form, with the named inputs of every form",
     R"(<form action="/a"><input name="x" value="1"></form><form action="/b"><input name="z" value="3"></form>)",
     std::nullopt},
    {"no named input", R"(<form id="challenge" action="/a"><input value="1"></form>)", std::nullopt},
    {"no form", "<p>hello</p>", std::nullopt},
};

// The same rules read with python3's own HTML parser: prints the form as JSON, or "null".
const char* kOracle = R"PY(
import html.parser, json, sys
page = open(sys.argv[1], encoding='utf-8').read()
partial = sys.argv[2] if len(sys.argv) > 2 else None
fill = {'email': 'user@example.test'}
class P(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(); self.forms = []; self.depth = 0
    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == 'form':
            self.forms.append({'id': a.get('id'), 'action': a.get('action'), 'inputs': []})
        elif tag == 'input' and self.forms and 'name' in a:
            self.forms[-1]['inputs'].append(((a['name'] or '').strip(), (a.get('value') or '').strip()))
p = P(); p.feed(page)
def out(v): print(json.dumps(v)); sys.exit(0)
challenge = [f for f in p.forms if f['id'] == 'challenge' and f['action'] is not None]
generic = partial is not None or not challenge
forms = [f for f in p.forms if f['action'] is not None] if generic else challenge
if not forms: out(None)
chosen = forms[0]
if partial is not None and len(forms) >= 2:
    chosen = next((f for f in forms if partial in f['action'].strip()), forms[0])
# The first generic form is read with the named inputs of every form, as the reader's query does.
inputs = [i for f in p.forms for i in f['inputs']] if generic and chosen is p.forms[0] else chosen['inputs']
if not inputs: out(None)
result = {}
for name, value in inputs:
    if value: result[name] = value
    elif name.lower() in fill: result[name] = fill[name.lower()]
result['hxc_FormSubmissionURL'] = chosen['action'].strip()
out(result)
)PY";

TEST(FormReader, ReadsTheFormsAnIndependentParserReads) {
    if (!hxtest::haveProgram("python3")) GTEST_SKIP() << "python3 not installed";
    hxtest::TempDir dir;
    const auto script = dir / "oracle.py";
    std::ofstream(script) << kOracle;
    const Dictionary fill{{"email", "user@example.test"}};
    int read = 0;
    for (const auto& page : kPages) {
        const auto file = dir / "page.html";
        std::ofstream(file, std::ios::trunc) << page.html;
        std::string out;
        ASSERT_EQ(hxtest::runCommand("python3 '" + script.string() + "' '" + file.string() + "'" +
                                         (page.partial ? " '" + *page.partial + "'" : std::string()),
                                     &out),
                  0)
            << page.name;
        auto expected = foundation::parseJSON(out);
        ASSERT_TRUE(expected.ok()) << page.name << ": " << out;
        auto form = HXApplicationWebClient::parseFormFromData(page.html, page.partial, fill);
        if (expected->isNull()) {
            EXPECT_FALSE(form) << page.name;
            continue;
        }
        ASSERT_TRUE(form) << page.name;
        EXPECT_EQ(*form, expected->asDictionary()) << page.name << ": " << out;
        ++read;
    }
    EXPECT_EQ(read, 4);  // the table keeps both kinds of page
}

TEST(FormReader, KeepsTheInputOrderAndTheFirstValueAttribute) {
    auto form = HXApplicationWebClient::parseFormFromData(
        R"(<form id="challenge" action="/x"><input name="b" value="2"><input name="a" value="1"></form>)", std::nullopt,
        {});
    ASSERT_TRUE(form);
    std::vector<std::string> keys;
    for (const auto& [key, value] : *form) keys.push_back(key.string());
    EXPECT_EQ(keys, (std::vector<std::string>{"b", "a", kHXFormSubmissionURLKey}));
    EXPECT_FALSE(HXApplicationWebClient::parseFormFromData("", std::nullopt, {}));
}

}  // namespace
