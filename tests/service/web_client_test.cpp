// The web client's request machinery and media against the emulated service over loopback.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "app/connect_app_delegate.h"
#include "emulator/emulator.h"
#include "model/account.h"
#include "model/cache.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/application.h"
#include "platform/foundation/files.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/curl_transport.h"
#include "platform/net/event_loop.h"
#include "platform/net/scripted_transport.h"
#include "service/custom_cookie_jar.h"
#include "service/media_operations.h"
#include "service/request_machinery.h"
#include "tests/support/shell_recorder.h"
#include "tests/support/signed_in_account.h"

namespace {

struct WebClient : ::testing::Test {
    dispatch::ScopedVirtualClock clock;
    emulator::Emulator service;
    std::shared_ptr<hxtest::RecordedApp<>> app = std::make_shared<hxtest::RecordedApp<>>();
    std::map<std::string, int> posted;
    std::map<std::string, std::string> postedData;
    // What the askers of requests heard: how often, and the last reply ("(failed)" for none).
    std::map<std::string, int> answered;
    std::map<std::string, std::string> answeredData;
    HXReplyAnswer answer(const std::string& asker) {
        return [this, asker](std::shared_ptr<foundation::Data> data) {
            ++answered[asker];
            answeredData[asker] = data ? std::string(data->begin(), data->end()) : "(failed)";
        };
    }
    std::filesystem::path dir;

    void SetUp() override {
        dispatch::RunLoop::main();
        ASSERT_TRUE(service.start().ok());
        dir =
            std::filesystem::temp_directory_path() / ("hx_web_" + std::to_string(::getpid()) + "_" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        auto& web = HXWebClientOf(*app);
        web.endpoints = HXEndpoints::allAt(service.origin());
        web.cachesDirectory = dir.string();
        web.objectCache = HXCCache::create("objects", dir / "cache");
        app->setAccount(hxtest::signedInAccount("user@example.test", std::nullopt, "auth"));
        app->setCookieJar(std::make_shared<CustomCookieJar>());
        foundation::NotificationCenter::defaultCenter().addObserver(
            this, "", [this](const foundation::Notification& n) {
                ++posted[n.name];
                if (n.object) {
                    auto* d = static_cast<foundation::Data*>(n.object.get());
                    postedData[n.name].assign(d->begin(), d->end());
                }
            });
    }
    void TearDown() override {
        foundation::NotificationCenter::defaultCenter().removeObserver(this);
        net::Transport::setShared(nullptr);
        HXWebClientOf(*app).objectCache.reset();
        // The object cache's queues may still be finishing a write into the folder: retry the
        // removal a bounded number of times rather than fail the test on the race.
        std::error_code ec;
        for (int attempt = 0; attempt < 50 && std::filesystem::exists(dir); ++attempt) {
            std::filesystem::remove_all(dir, ec);
            if (ec) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::string page() { return service.origin() + "/voice/"; }
    std::string media() { return service.origin() + "/a/"; }
    size_t inFlight() { return HXWebClientOf(*app).requests.size(); }
    bool runUntil(const std::function<bool()>& p) { return clock->runUntil(p, 20); }
    std::string tagsInFlight() {
        std::string tags;
        for (const auto& tag : HXWebClientOf(*app).requests.tags()) tags += tag + " ";
        return tags;
    }
    // How often the web client asked the shell for call.
    size_t asked(const char* call) { return app->shell().count(call); }
};

}  // namespace

TEST_F(WebClient, ANewRequestUnderATagInFlightKeepsItsOwnReply) {
    const std::string tag = page() + "inbox/recent/sms/";
    service.script("/voice/inbox/recent/sms/first", {.body = "FIRST", .hold = true});
    service.script("/voice/inbox/recent/sms/second", {.body = "SECOND"});
    app->startAsyncLoadWithRequest(net::URLRequest(tag + "first"), tag, answer("first"));
    ASSERT_TRUE(runUntil([&] { return service.requestCount() == 1; }));
    app->startAsyncLoadWithRequest(net::URLRequest(tag + "second"), tag, answer("second"));
    ASSERT_TRUE(runUntil([&] { return answered["second"] == 1; }));
    EXPECT_EQ(answeredData["second"], "SECOND");
    EXPECT_EQ(inFlight(), 0u);
    service.releaseHeld();
    // The superseded reply ends unrouted: no second answer, nothing mixed in.
    clock->runUntil([] { return false; }, 2);
    EXPECT_EQ(answered["second"], 1);
    EXPECT_EQ(answered["first"], 0);
    EXPECT_EQ(answeredData["second"], "SECOND");
    // The reply went to the one who asked, once: no list notification carries it again.
    EXPECT_EQ(posted["kSMSNotification"], 0);
}

// A running connection holds itself until it ends. One replaced under its tag is no longer named
// by the table, yet must still end when its tag is cancelled or when the table goes with its app;
// else a reply that never comes keeps it, its transport and its buffers for good.
TEST_F(WebClient, AReplacedRequestEndsWithItsTagOrWithTheTable) {
    const std::string tag = page() + "inbox/recent/sms/";
    for (const bool byTag : {true, false}) {
        auto transport = net::ScriptedTransport::create(net::EventLoop::main());
        transport->setHandler([](const net::URLRequest&) { return net::ScriptedTransport::Reply::never(); });
        net::Transport::setShared(transport);
        std::weak_ptr<net::Transport> running = transport;
        transport.reset();
        app->startAsyncLoadWithRequest(net::URLRequest(tag + "first"), tag);
        app->startAsyncLoadWithRequest(net::URLRequest(tag + "second"), tag);
        app->startAsyncLoadWithRequest(net::URLRequest(page() + "other"), page() + "other");
        clock->runUntilIdle();
        net::Transport::setShared(nullptr);
        ASSERT_EQ(std::static_pointer_cast<net::ScriptedTransport>(running.lock())->requestCount(), 3u) << byTag;
        if (byTag) {
            app->cancelRequests({tag});
            clock->runUntilIdle();
            EXPECT_EQ(tagsInFlight(), page() + "other ") << byTag;
            EXPECT_FALSE(running.expired()) << "the other tag's request still runs";
            app->cancelRequests({page() + "other"});
        } else {
            // The app goes, and its web client's table with it.
            std::weak_ptr<hxtest::RecordedApp<>> gone = app;
            app = std::make_shared<hxtest::RecordedApp<>>();
            ASSERT_TRUE(gone.expired());
        }
        clock->runUntilIdle();
        EXPECT_TRUE(running.expired()) << (byTag ? "cancelled by tag" : "table destroyed");
    }
}

TEST_F(WebClient, TheRedirectToTheSignInPageEndsTheRequestAndSignsInOnlyInTheForeground) {
    for (bool background : {false, true}) {
        app->setIsInBackground(background);
        service.script("/voice/inbox/recent/all/", {.redirectTo = service.origin() + "/accounts/AccountLogin?x=1"});
        app->startAsyncLoadWithRequest(net::URLRequest(page() + "inbox/recent/all/"), page() + "inbox/recent/all/",
                                       answer("history"));
        const int before = posted["kCookiesExpiredNotification"];
        ASSERT_TRUE(runUntil([&] { return posted["kCookiesExpiredNotification"] == before + 1; }));
        EXPECT_EQ(inFlight(), 0u);
        EXPECT_EQ(answered["history"], 0);
    }
    EXPECT_EQ(asked("showLoadingOverlay"), 1u);  // the sign-in, in the foreground only
    for (const auto& r : service.requests()) EXPECT_NE(r.path, "/accounts/AccountLogin");
}

TEST_F(WebClient, RequestsCarryTheHeadersAndGzipRepliesArriveDecoded) {
    std::string body;
    for (int i = 0; i < 500; ++i) body += "{\"n\":" + std::to_string(i) + "}\n";
    service.script("/voice/inbox/search/", {.status = 404, .body = body, .contentEncoding = "gzip"});
    const std::string tag = page() + "inbox/search/?q=abc";
    app->startAsyncLoadWithRequest(net::URLRequest(tag), tag, answer("search"));
    ASSERT_TRUE(runUntil([&] { return answered["search"] == 1; }));
    // A 404 is answered like any reply; its body arrives decoded.
    EXPECT_EQ(answeredData["search"], body);
    auto r = service.requests().back();
    EXPECT_EQ(r.header("Accept-Encoding").value_or(""), "gzip, deflate");
    EXPECT_EQ(r.header("Connection").value_or("").find("eep-"), 1u);
}

TEST_F(WebClient, CookiesRoundTripThroughTheJarAndItsArchive) {
    service.script("/voice/inbox/recent/sms/", {.body = "x", .headers = {{"Set-Cookie", "HXT=abc123; Path=/"}}});
    const std::string tag = page() + "inbox/recent/sms/";
    app->startAsyncLoadWithRequest(net::URLRequest(tag), tag, answer("sms"));
    ASSERT_TRUE(runUntil([&] { return answered["sms"] == 1; }));
    auto archive = app->cookieJar()->archivedCookies();
    ASSERT_TRUE(archive.ok());
    auto cookies = CustomCookieJar::cookiesFromArchive(archive.value());
    ASSERT_TRUE(cookies.ok());
    app->setCookieJar(std::make_shared<CustomCookieJar>(cookies.value()));
    service.script("/voice/inbox/recent/sms/2", {.body = "y"});
    app->startAsyncLoadWithRequest(net::URLRequest(tag + "2"), tag, answer("sms"));
    ASSERT_TRUE(runUntil([&] { return answered["sms"] == 2; }));
    EXPECT_EQ(service.requests().back().header("Cookie").value_or(""), "HXT=abc123");
}

TEST_F(WebClient, FailuresAlertByCodeAndTag) {
    const std::string unread = page() + "inbox/recent/unread/";
    const std::string list = page() + "inbox/recent/voicemail/";
    // -1005: a dropped connection shows nothing, but the waiting list hears of the end.
    service.script("/voice/inbox/recent/voicemail/", {.body = std::string(4000, 'v'), .dropMidBody = true});
    app->startAsyncLoadWithRequest(net::URLRequest(list), list, answer("vm"));
    ASSERT_TRUE(runUntil([&] { return answered["vm"] == 1; }));
    EXPECT_EQ(answeredData["vm"], "(failed)");
    EXPECT_EQ(asked("alertNoConnection") + asked("alertSlowConnection"), 0u);
    // -1001: the list alerts; the unread poll, the unread counts and a token request do not.
    const std::string counts = "/voice/v1/voiceclient/threadinginfo/get?alt=json";
    for (const std::string& tag : {unread, counts, std::string("OAuth_issueToken"), list}) {
        service.script("/voice/inbox/recent/", {.hold = true});
        app->startAsyncLoadWithRequest(net::URLRequest(tag == list ? list : unread), tag);
        ASSERT_TRUE(clock->runUntil([&] { return inFlight() == 0; }, 200)) << tag;
        service.releaseHeld();
        EXPECT_EQ(asked("alertSlowConnection"), tag == list ? 1u : 0u) << tag;
    }
    // -1009: the same split.
    auto transport = net::CurlTransport::create(net::EventLoop::main());
    transport->setNetworkAvailable([](const std::string&) { return false; });
    net::Transport::setShared(transport);
    // The list of the current view hears of the abort, and the one whose request failed hears
    // of its end (no reply); the unread poll aborts nothing.
    auto shown = std::make_shared<HXMessageListStandIn>();
    app->shell().changeScript([&](HXShellRecorder::Script& s) {
        s.currentViewIndex = 2;
        s.messageLists[2] = shown;
    });
    const int failedBefore = answered["vm"];
    for (const std::string& tag : {unread, list}) {
        app->startAsyncLoadWithRequest(net::URLRequest(tag), tag, tag == list ? answer("vm") : HXReplyAnswer());
        ASSERT_TRUE(runUntil([&] { return inFlight() == 0; }));
    }
    EXPECT_EQ(asked("alertNoConnection"), 1u);
    EXPECT_EQ(shown->calls(), (std::vector<std::string>{"abortLoading"}));
    EXPECT_EQ(answered["vm"], failedBefore + 1);
    EXPECT_EQ(answeredData["vm"], "(failed)");
    // A completion waiting for a request is answered by that request's failure, not another's.
    bool completed = false;
    app->setCompletionHandler([&] { completed = true; }, list);
    app->startAsyncLoadWithRequest(net::URLRequest(unread), unread);
    ASSERT_TRUE(runUntil([&] { return inFlight() == 0; }));
    EXPECT_FALSE(completed);
    app->startAsyncLoadWithRequest(net::URLRequest(list), list);
    ASSERT_TRUE(runUntil([&] { return completed; }));
    EXPECT_FALSE(app->completionHandler());
}

TEST_F(WebClient, MediaIsDownloadedOnceStoredAndAnnounced) {
    service.script("/a/au/m1", {.body = "AUDIO"});
    HXMediaOperations::of(app)->downloadMediaIfNeeded("m1", "audio/mpeg");
    HXMediaOperations::of(app)->downloadMediaIfNeeded("m1", "audio/mpeg");
    ASSERT_TRUE(runUntil([&] { return posted["m1"] == 1; }));
    clock->runUntilIdle();
    EXPECT_EQ(service.requestCount(), 1u);
    auto stored = foundation::files::readString(dir / "user@example.test" / "m1.mp3");
    ASSERT_TRUE(stored.ok());
    EXPECT_EQ(stored.value(), "AUDIO");
    HXMediaOperations::of(app)->downloadMediaIfNeeded("m1", "audio/mpeg");  // already stored
    HXMediaOperations::of(app)->downloadMediaIfNeeded("p", "image/png");    // pictures go through "i/"
    clock->runUntilIdle();
    EXPECT_EQ(service.requestCount(), 1u);
    EXPECT_EQ(service.requests()[0].header("Referer").value_or(""), service.origin());
    // A voicemail id keeps "c." in its file and notification but not in its URL.
    service.script("/a/v/77", {.body = "VM"});
    HXMediaOperations::of(app)->downloadVMforID("c.77");
    ASSERT_TRUE(runUntil([&] { return posted["c.77"] == 1; }));
    EXPECT_EQ(service.requests().back().path, "/a/v/77");
    EXPECT_TRUE(foundation::files::exists(dir / "user@example.test" / "c.77.mp3"));
}

TEST_F(WebClient, AMediaIdIsOnePathSegmentOfItsURL) {
    struct Case {
        std::string id;
        std::string mimeType;
        std::string target;
    };
    const Case cases[] = {
        {"m1", "audio/mpeg", "/a/au/m1"},
        {"../../voice/inbox", "audio/mpeg", "/a/au/..%2F..%2Fvoice%2Finbox"},
        {"x?alt=json#top", "text/x-vcard", "/a/vc/x%3Falt%3Djson%23top"},
        {"a b%c&d=e", "video/mp4", "/a/vi/a%20b%25c%26d%3De?m=content"},
        {"..", "audio/mpeg", "/a/au/%2E%2E"},
        {".", "audio/mpeg", "/a/au/%2E"},
        {"\xC3\xBC-_.~", "audio/mpeg", "/a/au/%C3%BC-_.~"},
    };
    // Answered by the service whatever the id (a missing item is announced all the same).
    for (const char* kind : {"/a/au/", "/a/vc/", "/a/vi/"}) service.script(kind, {.status = 404}, 10);
    for (const auto& c : cases) {
        service.clearRequests();
        HXMediaOperations::of(app)->downloadMediaIfNeeded(c.id, c.mimeType);
        ASSERT_TRUE(runUntil([&] { return posted[c.id] == 1; })) << c.id;
        ASSERT_EQ(service.requests().size(), 1u) << c.id;
        EXPECT_EQ(service.requests()[0].target, c.target) << c.id;
    }
    // Voicemail and recorded calls the same way.
    service.clearRequests();
    service.script("/a/v/", {.status = 500});
    service.script("/a/cr/", {.body = "CALL"});
    HXMediaOperations::of(app)->downloadVMforID("c.7/../x");
    ASSERT_TRUE(runUntil([&] { return posted["c.7/../x"] == 1; }));
    ASSERT_EQ(service.requests().size(), 2u);
    EXPECT_EQ(service.requests()[0].target, "/a/v/7%2F..%2Fx");
    EXPECT_EQ(service.requests()[1].target, "/a/cr/cra:7%2F..%2Fx");
}

TEST_F(WebClient, MediaMayBeLargerThanAnApiReply) {
    const std::string audio(40u << 20, 'A');  // past the limit of API replies
    service.script("/a/au/big", {.body = audio});
    HXMediaOperations::of(app)->downloadMediaIfNeeded("big", "audio/mpeg");
    ASSERT_TRUE(runUntil([&] { return posted["big"] == 1; }));
    auto stored = foundation::files::attributes(dir / "user@example.test" / "big.mp3");
    ASSERT_TRUE(stored.ok());
    EXPECT_EQ(stored->size, audio.size());
}

namespace {

double statusMiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stod(line.substr(std::string(field).size())) / 1024.0;
    return 0;
}

// How far the resident size rises above where it stands now while `work` runs: what the process
// freed before goes back to the system first, and the kernel's peak is reset to the start.
double residentRiseMiB(const std::function<void()>& work) {
    using Mallctl = int (*)(const char*, void*, size_t*, void*, size_t);
    if (auto mallctl = reinterpret_cast<Mallctl>(::dlsym(RTLD_DEFAULT, "mallctl")))
        mallctl("arena.4096.purge", nullptr, nullptr, nullptr, 0);
    ::malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    const double start = statusMiB("VmRSS:");
    work();
    return statusMiB("VmHWM:") - start;
}

// Where the first byte of the file differs from the generated reply, or the length when equal.
uint64_t matchingBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> chunk(1 << 20);
    uint64_t at = 0;
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0)
        for (std::streamsize i = 0; i < in.gcount(); ++i, ++at)
            if (static_cast<uint8_t>(chunk[static_cast<size_t>(i)]) != emulator::generatedByte(at)) return at;
    return at;
}

}  // namespace

// A voicemail reply used to cost four times its size in memory (its buffer, a copy as text, the
// file written from them). It goes to a temporary beside its file as it arrives and moves into
// place whole, so the process never holds it; a reply past the media bound stops there, fails as
// a connection error does, and leaves no file, whole or partial.
TEST_F(WebClient, AVoicemailGoesToItsFileAsItArrivesAndAReplyPastTheBoundLeavesNone) {
    const uint64_t size = 96u << 20;
    service.script("/a/v/big", {.generatedBytes = size});
    const auto folder = dir / "user@example.test";
    const double rise = residentRiseMiB([&] {
        HXMediaOperations::of(app)->downloadVMforID("c.big");
        ASSERT_TRUE(clock->runUntil([&] { return posted["c.big"] == 1; }, 120));
    });
    EXPECT_LT(rise, 24.0) << "a 96 MiB reply held in memory would raise it by 96 MiB at least";
    ASSERT_EQ(foundation::files::attributes(folder / "c.big.mp3").value().size, size);
    EXPECT_EQ(matchingBytes(folder / "c.big.mp3"), size);

    const uint64_t over = (256u << 20) + 4096;
    service.script("/a/v/huge", {.generatedBytes = over});
    service.script("/a/au/huge", {.generatedBytes = over});
    const double overRise = residentRiseMiB([&] {
        HXMediaOperations::of(app)->downloadVMforID("huge");
        HXMediaOperations::of(app)->downloadMediaIfNeeded("huge", "audio/mpeg");
        ASSERT_TRUE(clock->runUntil([&] { return inFlight() == 0; }, 240)) << tagsInFlight();
    });
    EXPECT_LT(overRise, 24.0);
    EXPECT_NE(HXWebClientOf(*app).lastFailure.find("larger than"), std::string::npos)
        << HXWebClientOf(*app).lastFailure;
    EXPECT_EQ(posted["huge"], 0) << "a failed medium is not announced";
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) left.push_back(entry.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"c.big.mp3"}) << "no file, whole or partial, of the failed replies";
    EXPECT_TRUE(app->shell().alerts().empty());
}

TEST_F(WebClient, ErrorRepliesAreNotStoredAsMediaAndVoicemail500IsRetriedAsARecordedCall) {
    service.script("/a/i/p1", {.status = 404, .body = "<html>not found</html>"});
    app->startAsyncLoadWithRequest(net::URLRequest(media() + "i/p1?s=3"), media() + "i/_p1");
    service.script("/a/vi/v1", {.status = 403, .body = "denied"});
    HXMediaOperations::of(app)->downloadMediaIfNeeded("v1", "video/mp4", true);
    ASSERT_TRUE(runUntil([&] { return posted["p1"] == 1 && posted["v1"] == 1; }));
    EXPECT_EQ(HXWebClientOf(*app).objectCache->objectForKey("p1"), nullptr);
    EXPECT_EQ(HXWebClientOf(*app).objectCache->objectForKey("v1"), nullptr);
    // A later ask fetches again.
    service.script("/a/vi/v1", {.body = "THUMB"});
    HXMediaOperations::of(app)->downloadMediaIfNeeded("v1", "video/mp4", true);
    ASSERT_TRUE(runUntil([&] { return posted["v1"] == 2; }));
    auto object = HXWebClientOf(*app).objectCache->objectForKey("v1");
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->value.asData(), foundation::Data({'T', 'H', 'U', 'M', 'B'}));
    EXPECT_EQ(posted["kMessageReloadingCompleteNotification"], 3);

    service.script("/a/v/9", {.status = 500, .body = "oops"});
    service.script("/a/cr/cra:9", {.body = "CALL"});
    HXMediaOperations::of(app)->downloadVMforID("9");
    ASSERT_TRUE(runUntil([&] { return posted["9"] == 1; }));
    EXPECT_EQ(service.requests().back().path, "/a/cr/cra:9");
    auto stored = foundation::files::readString(dir / "user@example.test" / "9.mp3");
    ASSERT_TRUE(stored.ok());
    EXPECT_EQ(stored.value(), "CALL");
}

TEST(ReplyScanners, AuthV2AndSMSErrorCode) {
    const std::string page =
        "<script>_hx.pageProto['ClientFlags'] = [ [\"x\"],\n\"client_flags-response\", \"http://no\","
        " [\"https://h.example/a\",\"\",\"TOKEN123\",\"later\"]]</script>";
    EXPECT_EQ(HXParseAuthV2FromString(page).value_or("-"), "TOKEN123");
    EXPECT_FALSE(HXParseAuthV2FromString("no proto here https://x,\"y\"").has_value());
    EXPECT_FALSE(
        HXParseAuthV2FromString("_hx.pageProto['ClientFlags'] x = [client_flags.response https://a,\"b\"").has_value());
    EXPECT_EQ(HXSMSErrorCodeFromText("{\"a\":1,\n\"error_code\":\"E42\",\"error_code\":\"E2\"}").value_or("-"), "E42");
    EXPECT_FALSE(HXSMSErrorCodeFromText("{\"error\":1}").has_value());
}

TEST_F(WebClient, RowsAreTestedInOrderAndTheTailSkipsSignInAndMessageSends) {
    const std::string api = service.origin() + "/voice/v1/voiceclient/";
    service.script("/voice/v1/voiceclient/account/", {.body = "A"}, 2);
    service.script("/voice/sms/send/", {.body = "S"});
    service.script("/signin", {.body = "C"});
    // API tags are the request path, without the origin. The settings row takes "account/get"
    // exactly and every "account/update" tag; a reply without an account asks for a sign-in.
    app->startAsyncLoadWithRequest(net::URLRequest(api + "account/get?alt=json"),
                                   "/voice/v1/voiceclient/account/get?alt=json_X");
    app->startAsyncLoadWithRequest(net::URLRequest(api + "account/update?alt=json"),
                                   "/voice/v1/voiceclient/account/update?alt=json_DND");
    ASSERT_TRUE(runUntil([&] { return asked("displayLogin") == 1 && inFlight() == 0; }));
    EXPECT_EQ(asked("showLoadingOverlay Authenticating\u2026"), 1u);
    app->shell().clear();
    auto& application = foundation::Application::shared();
    application.setNetworkActivityIndicatorVisible(false);
    const auto shown = application.networkActivityIndicatorShowCount();
    app->startAsyncLoadWithRequest(net::URLRequest(page() + "sms/send/"), page() + "sms/send/k1");
    app->startAsyncLoadWithRequest(net::URLRequest(service.origin() + "/signin"), "ClientAuth");
    // "ClientAuth" removes its own entry first and skips the tail; the send's reply goes to the
    // message sender, which ends the send itself (here a refusal: "S" is no send reply).
    auto refused = [&] {
        for (const auto& a : app->shell().alerts())
            if (a.title == "Sending Message Failed") return true;
        return false;
    };
    ASSERT_TRUE(runUntil([&] { return refused() && service.requestCount() == 4 && inFlight() == 0; }))
        << tagsInFlight();
    // The status bar showed the indicator once for both.
    EXPECT_EQ(application.networkActivityIndicatorShowCount() - shown, 1u);
}

// The status bar's spinner shows while anything is in flight and goes once nothing is, whichever
// row took the last reply: the sign-in's (which removes its own entry and skips the tail), a
// message send's (which its sender ends), a settings reply and a failure.
TEST_F(WebClient, TheIndicatorGoesOnceNothingIsInFlightWhicheverRowTookTheLastReply) {
    service.script("/signin", {.body = "C"});
    service.script("/voice/sms/send/", {.body = "S"});
    service.script("/voice/v1/voiceclient/account/", {.body = "A"});
    const std::string api = service.origin() + "/voice/v1/voiceclient/";
    struct Case {
        const char* what;
        std::string url, tag;
    };
    const Case cases[] = {
        {"sign-in", service.origin() + "/signin", "ClientAuth"},
        {"message send", page() + "sms/send/", page() + "sms/send/k1"},
        {"settings", api + "account/get?alt=json", "/voice/v1/voiceclient/account/get?alt=json_X"},
        {"failure", "http://127.0.0.1:1/nothing", "nothing"},
    };
    auto& application = foundation::Application::shared();
    for (const Case& c : cases) {
        application.setNetworkActivityIndicatorVisible(false);
        const auto shown = application.networkActivityIndicatorShowCount();
        app->startAsyncLoadWithRequest(net::URLRequest(c.url), c.tag);
        ASSERT_TRUE(runUntil([&] { return inFlight() == 0; })) << c.what << ": " << tagsInFlight();
        clock->advance(1);
        EXPECT_GE(application.networkActivityIndicatorShowCount() - shown, 1u) << c.what;
        EXPECT_FALSE(application.isNetworkActivityIndicatorVisible()) << c.what;
    }
}

namespace {

// An entry of the current account's queue of unsent messages, as the message sender keeps it.
void queueEntryOf(HXApplicationWebClient& app, const std::string& key) {
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    auto all = defaults->dictionaryForKey("smsQueue").value_or(foundation::Dictionary());
    const auto& user = app.account()->username();
    auto mine = all.get(user).isDictionary() ? all.get(user).asDictionary() : foundation::Dictionary();
    mine.set(key,
             foundation::Dictionary{{"message", foundation::Value("m")}, {"number", foundation::Value("+15550100")}});
    all.set(user, mine);
    (void)defaults->setObject(all, "smsQueue");
}

std::optional<int64_t> entryTaskOf(HXApplicationWebClient& app, const std::string& key) {
    auto all = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey("smsQueue");
    if (!all) return std::nullopt;
    const auto& task = all->get(app.account()->username())[key]["backgroundTaskID"];
    return task.isInt() ? std::optional<int64_t>(task.int64Value()) : std::nullopt;
}

}  // namespace

TEST_F(WebClient, OfflineRequestsAreNotSentButMessageSendsAre) {
    auto queueEntry = [&](const std::string& key) { queueEntryOf(*app, key); };
    auto entryTask = [&](const std::string& key) { return entryTaskOf(*app, key); };
    auto& web = HXWebClientOf(*app);
    web.firstReachabilityHandled = true;
    app->setConnectionAvailable(false);
    app->showLoadingOverlay("Loading settings\u2026");
    const std::string list = page() + "inbox/recent/all/";
    app->startAsyncLoadWithRequest(net::URLRequest(list), list);
    EXPECT_EQ(asked("alertNoConnection"), 1u);
    EXPECT_EQ(asked("removeLoadingOverlay"), 1u);
    EXPECT_EQ(inFlight(), 0u);
    // The shell shows its one no-connection alert; the send failures below come on top of it.
    const size_t connectionAlerts = app->shell().alerts().size();
    EXPECT_EQ(connectionAlerts, 1u);
    app->shell().changeScript([](HXShellRecorder::Script& s) { s.locationSwitchTaskRunning = true; });
    service.script("/voice/inbox/recent/all/", {.body = "H"});
    app->startAsyncLoadWithRequest(net::URLRequest(list), list, answer("history"));
    ASSERT_TRUE(runUntil([&] { return answered["history"] == 1; }));
    app->shell().changeScript([](HXShellRecorder::Script& s) { s.locationSwitchTaskRunning = false; });
    // A message send goes out offline inside a background task of the platform's registry; its
    // -1009 failure ends the task and asks once, and not after a deferral.
    auto& platform = foundation::Application::shared();
    const size_t tasksBefore = platform.activeBackgroundTaskCount();
    app->account()->setUsername("queue@example.test");
    queueEntry("q1");
    auto transport = net::CurlTransport::create(net::EventLoop::main());
    transport->setNetworkAvailable([](const std::string&) { return false; });
    net::Transport::setShared(transport);
    const std::string send = page() + "sms/send/q1";
    app->startAsyncLoadWithRequest(net::URLRequest(page() + "sms/send/"), send);
    EXPECT_EQ(platform.activeBackgroundTaskCount(), tasksBefore + 1);
    EXPECT_TRUE(entryTask("q1").has_value());
    ASSERT_TRUE(runUntil([&] { return app->shell().alerts().size() > connectionAlerts; }));
    HXAlert shown = app->shell().alerts().back();
    EXPECT_EQ(shown.title, "No Network Connection");
    ASSERT_EQ(shown.actions.size(), 2u);
    EXPECT_EQ(shown.actions[1].title, "Send Later");
    EXPECT_FALSE(entryTask("q1").has_value());
    EXPECT_EQ(platform.activeBackgroundTaskCount(), tasksBefore);
    // "Send Later" keeps the entry, deferred; "Cancel" of a second ask would drop it.
    ASSERT_TRUE(app->shell().tap("Send Later"));
    EXPECT_EQ(app->smsQueueState("q1"), HXApplicationWebClient::QueueState::Queued);
    EXPECT_EQ(posted["kSMSReplySentNotification"], 1);
    app->startAsyncLoadWithRequest(net::URLRequest(page() + "sms/send/"), send);
    ASSERT_TRUE(runUntil([&] { return inFlight() == 0 && platform.activeBackgroundTaskCount() == tasksBefore; }));
    EXPECT_EQ(app->shell().alerts().size(), connectionAlerts + 1);
    queueEntry("q3");
    app->startAsyncLoadWithRequest(net::URLRequest(page() + "sms/send/"), page() + "sms/send/q3");
    ASSERT_TRUE(runUntil([&] { return app->shell().alerts().size() == connectionAlerts + 2; }));
    ASSERT_TRUE(app->shell().tap("Cancel"));
    EXPECT_EQ(app->smsQueueState("q3"), HXApplicationWebClient::QueueState::Absent);
    // A send whose connection cannot be made leaves no task id in its queue entry.
    queueEntry("q2");
    app->startAsyncLoadWithRequest(net::URLRequest("not a url"), page() + "sms/send/q2");
    EXPECT_FALSE(entryTask("q2").has_value());
    EXPECT_EQ(platform.activeBackgroundTaskCount(), tasksBefore);
}

TEST_F(WebClient, AFailedSettingsLoadClearsItsMarkAndReschedulesThePendingLocationSwitch) {
    app->setSettingsLoading(true);
    app->shell().changeScript([](HXShellRecorder::Script& s) { s.pendingLocationSwitch = "Office"; });
    service.script("/voice/v1/voiceclient/account/get", {.hold = true});
    const std::string tag = "/voice/v1/voiceclient/account/get?alt=json";
    app->startAsyncLoadWithRequest(net::URLRequest(service.origin() + tag), tag);
    ASSERT_TRUE(clock->runUntil([&] { return inFlight() == 0; }, 200));
    service.releaseHeld();
    EXPECT_FALSE(app->settingsLoading());
    // The pending switch starts again a minute later.
    EXPECT_FALSE(app->HX_ConnectAppDelegate::locationSwitchTaskRunning());
    clock->advance(60);
    EXPECT_TRUE(app->HX_ConnectAppDelegate::locationSwitchTaskRunning());
    EXPECT_EQ(app->HX_ConnectAppDelegate::pendingLocationSwitch(), "Office");
    // Unlike the polls, a settings fetch that times out tells the user the network is slow.
    EXPECT_EQ(asked("alertSlowConnection"), 1u);
    EXPECT_EQ(asked("alertNoConnection"), 0u);
}

TEST_F(WebClient, ASettingsFetchWithoutANetworkAlertsNothing) {
    auto transport = net::CurlTransport::create(net::EventLoop::main());
    transport->setNetworkAvailable([](const std::string&) { return false; });
    net::Transport::setShared(transport);
    const std::string tag = "/voice/v1/voiceclient/account/get?alt=json";
    app->startAsyncLoadWithRequest(net::URLRequest(service.origin() + tag), tag);
    ASSERT_TRUE(runUntil([&] { return inFlight() == 0; }));
    EXPECT_EQ(asked("alertSlowConnection") + asked("alertNoConnection"), 0u);
}

// A request gives up after 90 s without an answer in the foreground and after 300 s in the
// background, measured on the process clock from its start.
TEST_F(WebClient, RequestsTimeOutAfter90SecondsInTheForegroundAnd300InTheBackground) {
    const std::string list = page() + "inbox/recent/voicemail/";
    size_t sent = 0;
    for (bool background : {false, true}) {
        SCOPED_TRACE(background ? "background" : "foreground");
        app->setIsInBackground(background);
        service.script("/voice/inbox/recent/voicemail/", {.hold = true});
        const double start = dispatch::clock().now();
        app->startAsyncLoadWithRequest(net::URLRequest(list), list);
        ASSERT_TRUE(runUntil([&] { return service.requestCount() == sent + 1; }));
        ++sent;
        const double limit = background ? 300 : 90;
        clock->advance(limit - 1 - (dispatch::clock().now() - start));
        clock->runUntilIdle();
        EXPECT_EQ(inFlight(), 1u) << "still waiting a second before the limit";
        clock->advance(2);
        ASSERT_TRUE(runUntil([&] { return inFlight() == 0; }));
        EXPECT_LE(dispatch::clock().now() - start, limit + 1);
        service.releaseHeld();
    }
    EXPECT_EQ(asked("alertSlowConnection"), 2u);
}

TEST_F(WebClient, ApiRequestsNameTheWebClientAsXOriginAndTheApiAsOrigin) {
    auto& endpoints = HXWebClientOf(*app).endpoints;
    endpoints.webClient = "https://web.hx.test";
    endpoints.api = "https://api.hx.test";
    app->account()->setOAuthDict(hxtest::bearerToken("t0k", clock->wallNow() + 60));
    auto request = app->apiRequestWithDict(foundation::Dictionary{{"url", "/voice/v1/voiceclient/account/get?alt=json"},
                                                                  {"contentType", "application/json+protobuf"}});
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->valueForHTTPHeaderField("X-Origin").value_or(""), "https://web.hx.test");
    EXPECT_EQ(request->valueForHTTPHeaderField("Origin").value_or(""), "https://api.hx.test");
    EXPECT_EQ(request->valueForHTTPHeaderField("X-Requested-With").value_or(""), "XMLHttpRequest");
}

TEST_F(WebClient, LocalMediaFilesAreNamedByType) {
    struct Case {
        const char* mimeType;
        const char* file;
    } cases[] = {
        {"audio/mpeg", "m7.mp3"},
        {"audio/amr", "m7.mp3"},
        {"video/mp4", "m7.mov"},
        {"text/x-vcard", "m7.vcf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mimeType);
        EXPECT_EQ(std::filesystem::path(app->localURLForMedia("m7", c.mimeType)), dir / "user@example.test" / c.file);
    }
}

TEST_F(WebClient, ApiRequestsNeedATokenAndCarryTheirHeadersInOrder) {
    foundation::Dictionary d{{"url", "/voice/v1/voiceclient/account/get?alt=json"},
                             {"contentType", "application/json+protobuf"},
                             {"body", "[null,\"\xc3\xa9\"]"}};
    EXPECT_FALSE(app->apiRequestWithDict(d).has_value());
    EXPECT_EQ(inFlight(), 1u);  // the token is being fetched
    app->account()->setOAuthDict(hxtest::bearerToken("t0k", clock->wallNow() + 60));
    auto request = app->apiRequestWithDict(d);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->url(), service.origin() + "/voice/v1/voiceclient/account/get?alt=json");
    std::vector<std::string> names;
    for (const auto& [name, value] : request->allHTTPHeaderFields().fields()) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"Authorization", "X-Origin", "Origin", "Content-Type",
                                               "X-Requested-With", "Content-Length"}));
    EXPECT_EQ(request->valueForHTTPHeaderField("Content-Length").value_or(""), "11");
    EXPECT_EQ(request->httpMethod(), "POST");
    foundation::Array infos{foundation::Dictionary{{"size_spec", "s64"}}, foundation::Dictionary{{"sizeSpec", "s512"}}};
    auto info = app->imageInfoForSize("s512", infos);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->get("index").int64Value(), 1);
    EXPECT_FALSE(app->imageInfoForSize("s1", infos).has_value());
}
