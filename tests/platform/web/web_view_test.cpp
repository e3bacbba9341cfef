#include "platform/web/web_view.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "platform/foundation/bundle.h"
#include "platform/foundation/url.h"
#include "platform/graphics/bitmap.h"
#include "platform/graphics/codecs.h"
#include "platform/net/cookie_storage.h"
#include "platform/net/scripted_transport.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/text_input.h"
#include "tests/support/test_support.h"

namespace {

using net::ScriptedTransport;
using web::NavigationAction;
using web::NavigationPolicy;
using web::NavigationType;

constexpr const char* kIdentify = R"(<html><body>
<h1>Sign in</h1><p>Use your account</p>
<form action="/signin/identify/next" method="post">
<input type="email" name="identifier" id="identifierId" placeholder="Email">
<input type="submit" value="Next">
</form>
<a id="link-signup" href="/signup">Create account</a>
</body></html>)";

net::Cookie domainCookie(std::string name, std::string value, std::string domain, bool secure = false) {
    net::Cookie c;
    c.name = std::move(name);
    c.value = std::move(value);
    c.domain = std::move(domain);
    c.secure = secure;
    return c;
}

struct RecordingDelegate : web::NavigationDelegate {
    std::vector<NavigationAction> actions;
    std::function<NavigationPolicy(const NavigationAction&)> decide;
    int finished = 0;
    int failed = 0;
    void decidePolicyForNavigationAction(web::WebView&, const NavigationAction& action,
                                         const std::function<void(NavigationPolicy)>& handler) override {
        actions.push_back(action);
        handler(decide ? decide(action) : NavigationPolicy::Allow);
    }
    void didFinishNavigation(web::WebView&) override { ++finished; }
    void didFailNavigation(web::WebView&, const foundation::Error&) override { ++failed; }
};

class WebViewTest : public ::testing::Test {
protected:
    toolkit::testing::Harness harness;
    std::shared_ptr<ScriptedTransport> transport = ScriptedTransport::create(net::EventLoop::main());
    std::shared_ptr<web::MemoryCookieStore> store = std::make_shared<web::MemoryCookieStore>();
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<web::WebView> view;

    void SetUp() override {
        auto controller = std::make_shared<toolkit::ViewController>();
        harness.setRoot(controller);
        view = std::make_shared<web::WebView>(controller->view()->bounds(), store);
        view->transport = transport;
        view->navigationDelegate = delegate;
        controller->view()->addSubview(view);
        harness.settle();
    }
};

TEST_F(WebViewTest, RedirectsAreNavigationsTheDelegateDecidesAndCookiesStayInTheViewsStore) {
    net::HeaderMap setCookie;
    setCookie.add("Set-Cookie", "SID=abc; Domain=example.test; Path=/");
    setCookie.add("Set-Cookie", "HOST=1; Path=/signin");
    auto first = ScriptedTransport::Reply::redirect(302, "https://accounts.example.test/signin/identify");
    first.headers.add("Set-Cookie", "R=1; Path=/");
    transport->enqueue(first);
    transport->enqueue(ScriptedTransport::Reply::ok(kIdentify, setCookie));
    transport->enqueue(ScriptedTransport::Reply::redirect(303, "https://voice.example.test/voice/b/0"));

    view->load(net::URLRequest("https://accounts.example.test/start"));
    harness.settle();
    ASSERT_EQ(delegate->actions.size(), 2u);
    EXPECT_FALSE(delegate->actions[0].isRedirect);
    EXPECT_TRUE(delegate->actions[1].isRedirect);
    EXPECT_EQ(delegate->actions[1].request.url(), "https://accounts.example.test/signin/identify");
    EXPECT_EQ(delegate->finished, 1);
    // The redirect's cookie went with the redirected request, from the view's own store.
    auto sent = transport->requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_FALSE(sent[0].headers.get("Cookie"));
    EXPECT_EQ(sent[1].headers.get("Cookie").value_or(""), "R=1");
    EXPECT_EQ(store->allCookies().size(), 3u);
    EXPECT_TRUE(net::HTTPCookieStorage::sharedHTTPCookieStorage().cookies().empty());

    // Typing into the field through the harness changes the page's value; the submit button
    // posts the form, and the redirect into the service is offered to the delegate and refused.
    delegate->decide = [](const NavigationAction& a) {
        return a.request.url().starts_with("https://voice.example.test/voice/") ? NavigationPolicy::Cancel
                                                                                : NavigationPolicy::Allow;
    };
    auto fields = harness.findAll("TextField");
    ASSERT_EQ(fields.size(), 1u);
    ASSERT_TRUE(harness.tap(*fields[0]));
    ASSERT_TRUE(harness.typeText("ann@example.test"));
    EXPECT_EQ(view->document()->getElementById("identifierId")->value(), "ann@example.test");
    toolkit::View* next = harness.find("Next");
    ASSERT_NE(next, nullptr);
    ASSERT_TRUE(harness.tap(*next));
    harness.settle();
    ASSERT_EQ(delegate->actions.size(), 4u);
    EXPECT_EQ(delegate->actions[2].type, NavigationType::FormSubmitted);
    EXPECT_EQ(delegate->actions[3].type, NavigationType::Other);
    EXPECT_TRUE(delegate->actions[3].isRedirect);
    sent = transport->requests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2].method, "POST");
    EXPECT_EQ(sent[2].bodyText(), "identifier=ann%40example.test");
    EXPECT_EQ(sent[2].headers.get("Cookie").value_or(""), "HOST=1; R=1; SID=abc");
    EXPECT_FALSE(view->isLoading());

    // Links are link activations.
    delegate->decide = [](const NavigationAction&) { return NavigationPolicy::Cancel; };
    toolkit::View* link = harness.find("Create account");
    ASSERT_NE(link, nullptr);
    ASSERT_TRUE(harness.tap(*link));
    ASSERT_EQ(delegate->actions.size(), 5u);
    EXPECT_EQ(delegate->actions[4].type, NavigationType::LinkActivated);
    EXPECT_EQ(delegate->actions[4].request.url(), "https://accounts.example.test/signup");
}

TEST_F(WebViewTest, ScriptsCompleteOnTheMainLoopAndDisplayNoneLeavesTheLayout) {
    view->loadHTMLString(kIdentify, "https://accounts.example.test/");
    harness.settle();
    ASSERT_NE(view->document(), nullptr);
    double before = view->contentHeight();
    EXPECT_GT(before, 0);
    bool called = false;
    view->evaluateJavaScript("document.getElementById('link-signup').style.display='none'",
                             [&](foundation::Result<foundation::Value> r) {
                                 called = true;
                                 EXPECT_TRUE(r.ok());
                             });
    EXPECT_FALSE(called);
    harness.settle();
    EXPECT_TRUE(called);
    EXPECT_LT(view->contentHeight(), before);
    EXPECT_EQ(harness.find("Create account"), nullptr);

    foundation::Value height;
    view->evaluateJavaScript("document.body.scrollHeight-document.body.style.marginBottom",
                             [&](foundation::Result<foundation::Value> r) { height = r.valueOr({}); });
    harness.settle();
    EXPECT_EQ(height.doubleValue(), view->contentHeight());
    EXPECT_EQ(view->scrollView().contentSize().height, view->contentHeight());
}

TEST(WebCookieStore, MatchingFollowsDomainLabelsPathsAndSecurity) {
    web::MemoryCookieStore store;
    auto add = [&](const char* name, const char* domain, const char* path, bool secure) {
        net::Cookie c;
        c.name = name;
        c.value = "v";
        c.domain = domain;
        c.path = path;
        c.secure = secure;
        store.setCookie(c);
    };
    add("dom", ".example.test", "/", false);
    add("host", "example.test", "/", false);
    add("path", ".example.test", "/voice", false);
    add("sec", ".example.test", "/", true);
    struct Case {
        const char* url;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"http://example.test/", {"dom", "host"}},
        {"https://example.test/", {"dom", "host", "sec"}},
        {"http://a.example.test/voice/b", {"path", "dom"}},
        {"http://a.example.test/voicemail", {"dom"}},
        {"http://badexample.test/", {}},
        {"http://example.test.evil/", {}},
        {"tel:123", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> names;
        for (auto& k : store.cookiesForURL(c.url)) names.push_back(k.name);
        std::sort(names.begin(), names.end());
        auto expected = c.names;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names, expected) << c.url;
    }
}

TEST(WebCookieStore, RemovingDataModifiedSinceKeepsOlderCookies) {
    dispatch::ScopedVirtualClock clock;
    web::MemoryCookieStore store;
    net::Cookie c;
    c.domain = ".example.test";
    c.name = "old";
    store.setCookie(c);
    clock->advance(100);
    double cut = clocks::wallNow();
    c.name = "new";
    store.setCookie(c);
    store.removeDataModifiedSince(cut);
    ASSERT_EQ(store.allCookies().size(), 1u);
    EXPECT_EQ(store.allCookies()[0].name, "old");
    store.removeDataModifiedSince(0);
    EXPECT_TRUE(store.allCookies().empty());

    // The default store is the process-wide storage: what the app copies there is sent, and
    // removing everything since 1970 clears cookies the view never saw created.
    auto& shared = net::HTTPCookieStorage::sharedHTTPCookieStorage();
    shared.removeAllCookies();
    shared.setCookie(domainCookie("SID", "jar", ".example.test"));
    auto def = web::HTTPCookieStore::defaultStore();
    ASSERT_EQ(def->cookiesForURL("https://accounts.example.test/").size(), 1u);
    def->removeDataModifiedSince(0);
    EXPECT_TRUE(shared.cookies().empty());
}

}  // namespace

namespace {

// A re-sign-in with the default store: the account's cookies, copied into the process-wide
// storage beforehand, go with the sign-in page's request; the page's new cookies join them; the
// panel takes them all and then clears everything since 1970.
TEST(WebViewSharedStore, ReSignInSendsTheCopiedCookiesAndClearingEmptiesTheSharedStorage) {
    toolkit::testing::Harness harness;
    auto& shared = net::HTTPCookieStorage::sharedHTTPCookieStorage();
    shared.removeAllCookies();
    shared.setCookie(domainCookie("SID", "from-jar", ".example.test", true));
    shared.setCookie(domainCookie("OTHER", "from-jar", ".other.test", true));

    auto transport = ScriptedTransport::create(net::EventLoop::main());
    net::HeaderMap headers;
    headers.add("Set-Cookie", "LSID=new; Domain=example.test; Path=/; Secure");
    transport->enqueue(ScriptedTransport::Reply::ok(kIdentify, headers));
    auto controller = std::make_shared<toolkit::ViewController>();
    harness.setRoot(controller);
    auto view = std::make_shared<web::WebView>(controller->view()->bounds());
    view->transport = transport;
    controller->view()->addSubview(view);
    view->load(net::URLRequest("https://accounts.example.test/signin/identify?service=x"));
    harness.settle();

    auto sent = transport->requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].headers.get("Cookie").value_or(""), "SID=from-jar");
    std::vector<std::string> names;
    for (auto& c : view->cookieStore().allCookies()) names.push_back(c.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"LSID", "OTHER", "SID"}));

    view->cookieStore().removeDataModifiedSince(0);
    EXPECT_TRUE(shared.cookies().empty());
}

}  // namespace

namespace {

TEST_F(WebViewTest, EndlessRedirectsAndFailuresEndTheLoadWithAnError) {
    int served = 0;
    transport->setHandler([&](const net::URLRequest& r) {
        ++served;
        return ScriptedTransport::Reply::redirect(302, r.url() + "x");
    });
    view->load(net::URLRequest("https://loop.example.test/a"));
    harness.settle();
    EXPECT_FALSE(view->isLoading());
    EXPECT_EQ(delegate->failed, 1);
    EXPECT_EQ(served, web::WebView::kMaximumRedirects + 1);
    EXPECT_EQ(delegate->actions.size(), static_cast<size_t>(web::WebView::kMaximumRedirects + 1));

    // A new navigation starts a new count.
    transport->setHandler(nullptr);
    transport->enqueue(ScriptedTransport::Reply::fail(-1009));
    view->load(net::URLRequest("https://offline.example.test/"));
    harness.settle();
    EXPECT_EQ(delegate->failed, 2);
    EXPECT_EQ(view->document(), nullptr);

    // A page past the size the view takes fails instead of growing without bound.
    ScriptedTransport::Reply huge = ScriptedTransport::Reply::ok(std::string(web::WebView::kMaximumPageBytes + 1, 'x'));
    huge.chunkSize = 1 << 20;
    transport->enqueue(huge);
    view->load(net::URLRequest("https://big.example.test/"));
    harness.settle();
    EXPECT_EQ(delegate->failed, 3);
    EXPECT_FALSE(view->isLoading());
    EXPECT_EQ(view->document(), nullptr);
}

}  // namespace

namespace {

// Reading the form while the user types (the sign-in panel does so before every navigation)
// must not rebuild the field under the user's fingers; a script that sets the value does.
TEST_F(WebViewTest, TypingKeepsTheFieldAndScriptsThatSetValuesShowThem) {
    view->loadHTMLString(kIdentify, "https://accounts.example.test/");
    harness.settle();
    auto fields = harness.findAll("TextField");
    ASSERT_EQ(fields.size(), 1u);
    toolkit::View* field = fields[0];
    ASSERT_TRUE(harness.tap(*field));
    ASSERT_TRUE(harness.typeText("ann"));
    foundation::Value form;
    view->evaluateJavaScript(
        "var object={};(new FormData(document.getElementsByTagName('form')[0])).forEach(function(value, "
        "key){object[key]=value;});object;",
        [&](foundation::Result<foundation::Value> r) { form = r.valueOr({}); });
    harness.settle();
    EXPECT_EQ(form, foundation::Value(foundation::Dictionary{{"identifier", "ann"}}));
    ASSERT_EQ(harness.findAll("TextField").size(), 1u);
    EXPECT_EQ(harness.findAll("TextField")[0], field);
    EXPECT_TRUE(field->isFirstResponder());
    ASSERT_TRUE(harness.typeText("@example.test"));
    EXPECT_EQ(view->document()->getElementById("identifierId")->value(), "ann@example.test");

    view->evaluateJavaScript("document.getElementById('identifierId').value=" +
                                 web::javaScriptStringLiteral("o'neil@example.test"),
                             nullptr);
    harness.settle();
    auto now = harness.findAll("TextField");
    ASSERT_EQ(now.size(), 1u);
    EXPECT_EQ(static_cast<toolkit::TextField*>(now[0])->text(), "o'neil@example.test");
}

}  // namespace

namespace {

// A bundle of resources with one picture in it, and things beside and inside it that a page
// must never read.
struct LocalPictures {
    hxtest::TempDir dir;
    std::filesystem::path resources = dir / "resources";
    std::filesystem::path outside = dir / "outside.png";
    std::string png;

    LocalPictures() {
        std::filesystem::create_directories(resources / "img");
        auto bitmap = graphics::Bitmap::make(7, 5).value();
        auto encoded = graphics::encodePNG(*bitmap).value();
        png.assign(encoded.begin(), encoded.end());
        write(resources / "img" / "pic.png", png);
        write(outside, png);
        std::filesystem::create_symlink(outside, resources / "img" / "out.png");
        std::filesystem::create_symlink(resources / "img" / "pic.png", resources / "img" / "same.png");
        std::filesystem::create_symlink("/dev/zero", resources / "img" / "zero.png");
        ::mkfifo((resources / "img" / "fifo.png").c_str(), 0644);
        std::filesystem::create_directories(resources / "img" / "dir.png");
        // Larger than any picture a page of ours holds (sparse: it takes no room).
        write(resources / "img" / "huge.png", png);
        std::filesystem::resize_file(resources / "img" / "huge.png", 64u << 20);
        foundation::Bundle::main().setResourcesDirectory(resources);
    }
    ~LocalPictures() { foundation::Bundle::main().setResourcesDirectory({}); }

    static void write(const std::filesystem::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    std::string base() const { return foundation::URL::fileURL(resources.string()).string() + "/"; }
};

// The sizes of the pictures the page shows (an image view only appears for a picture it read,
// as none of these name a size).
std::vector<std::pair<double, double>> shownPictures(web::WebView& view) {
    std::vector<std::pair<double, double>> out;
    for (auto& v : view.scrollView().subviews())
        if (v->className() == "ImageView") out.emplace_back(v->frame().size.width, v->frame().size.height);
    return out;
}

}  // namespace

TEST_F(WebViewTest, OnlyBundlePagesShowLocalPicturesAndOnlyFromInsideTheBundle) {
    LocalPictures local;
    const std::pair<double, double> picture{7, 5};
    struct Case {
        std::string src;
        bool shown;
    };
    const Case fromBundle[] = {
        {"img/pic.png", true},
        {"img/same.png", true},  // a link that stays inside
        {local.base() + "img/pic.png", true},
        {"img/out.png", false},  // a link out of the bundle
        {"../outside.png", false},
        {"img/../../outside.png", false},
        {foundation::URL::fileURL(local.outside.string()).string(), false},
        {"file:///etc/hostname", false},
        {"img/zero.png", false},
        {"img/fifo.png", false},  // would block the main thread for good
        {"img/dir.png", false},
        {"img/huge.png", false},
        {"img/missing.png", false},
    };
    for (const auto& c : fromBundle) {
        view->loadHTMLString("<body><p>x</p><img src='" + c.src + "'></body>", local.base());
        harness.settle();
        auto shown = shownPictures(*view);
        if (c.shown)
            EXPECT_EQ(shown, (std::vector<std::pair<double, double>>{picture})) << c.src;
        else
            EXPECT_TRUE(shown.empty()) << c.src;
    }

    // A page from anywhere else reads no local file, not even the bundle's.
    const std::string remote = "<body><img src='" + local.base() + "img/pic.png'><img src='file:///dev/zero'></body>";
    view->loadHTMLString(remote, "https://accounts.example.test/");
    harness.settle();
    EXPECT_TRUE(shownPictures(*view).empty());
    const int finished = delegate->finished;
    transport->enqueue(ScriptedTransport::Reply::ok(remote));
    view->load(net::URLRequest("https://accounts.example.test/page"));
    harness.settle();
    ASSERT_EQ(delegate->finished, finished + 1);
    EXPECT_TRUE(shownPictures(*view).empty());
    // Nor does a local page outside the bundle.
    view->loadHTMLString("<body><img src='outside.png'></body>",
                         foundation::URL::fileURL(local.dir.path().string()).string() + "/");
    harness.settle();
    EXPECT_TRUE(shownPictures(*view).empty());
}
