#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "RurIdurev/RurIdurev/Internals/Util/dispatcher_util.h"
#include "RurIdurev/RurIdurev/Internals/Util/ordered_dictionary.h"
#include "RurIdurev/RurIdurev/Internals/Util/platform_adapters.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/application.h"
#include "platform/foundation/bundle.h"
#include "platform/services/url_opener.h"
#include "tests/RurIdurev/telemetry/log_capture.h"
#include "tests/support/bytes.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

class SdkFiles : public ::testing::Test {
protected:
    void SetUp() override {
        zivo_platform::setApplicationSupportDirectoryForTesting(dir / "Library/Application Support");
        ZIVOUtility::resetRurIdurevDirectoryForTesting();
    }
    void TearDown() override {
        zivo_platform::setApplicationSupportDirectoryForTesting({});
        ZIVOUtility::resetRurIdurevDirectoryForTesting();
    }
    hxtest::TempDir dir;
};

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

using hxtest::bytes;

}  // namespace

TEST_F(SdkFiles, DirectoryAndFileOperations) {
    const fs::path root = ZIVOUtility::rurIdurevDirectoryURL();
    EXPECT_EQ(root, dir / "Library/Application Support/com.dorazadav.ruridurev");
    EXPECT_TRUE(fs::is_directory(root));

    auto url = ZIVOUtility::createFileAtPathComponent(std::string("crashes/a.bin"), bytes("one"), true, false);
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(*url, root / "crashes/a.bin");
    EXPECT_EQ(readText(*url), "one");
    // Without force an existing file is left as it is and its URL answered.
    EXPECT_EQ(ZIVOUtility::createFileAtPathComponent(std::string("crashes/a.bin"), bytes("two"), true, false), url);
    EXPECT_EQ(readText(*url), "one");
    EXPECT_EQ(ZIVOUtility::createFileAtPathComponent(std::string("crashes/a.bin"), bytes("two"), false, true), url);
    EXPECT_EQ(readText(*url), "two");
    EXPECT_EQ(ZIVOUtility::createFileAtPathComponent(std::nullopt, bytes("x"), true, true), std::nullopt);
    // No data writes an empty file.
    auto empty = ZIVOUtility::createFileAtPathComponent(std::string("e"), std::nullopt, true, true);
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(fs::file_size(*empty), 0u);

    EXPECT_TRUE(ZIVOUtility::fileExistsForPathComponent("crashes/a.bin"));
    EXPECT_EQ(ZIVOUtility::loadDataForPathComponent("crashes/a.bin"), bytes("two"));
    EXPECT_EQ(ZIVOUtility::loadDataForPathComponent("missing"), std::nullopt);
    auto listing = ZIVOUtility::contentsOfDirectory(std::string("crashes"));
    ASSERT_TRUE(listing.has_value());
    EXPECT_EQ(*listing, std::vector<fs::path>{root / "crashes/a.bin"});
    EXPECT_EQ(ZIVOUtility::contentsOfDirectory(std::string("")), std::nullopt);

    LogCapture capture;
    EXPECT_EQ(ZIVOUtility::contentsOfDirectory(std::string("nowhere")), std::nullopt);
    EXPECT_TRUE(ZIVOUtility::deleteItemForPathComponent("crashes"));
    EXPECT_FALSE(ZIVOUtility::fileExistsForPathComponent("crashes/a.bin"));
    EXPECT_FALSE(ZIVOUtility::deleteItemForPathComponent("crashes"));
    auto debug = capture.messages(ZIVOLogLevelDebug);
    ASSERT_EQ(debug.size(), 2u);
    EXPECT_EQ(debug[0].rfind("Couldn't get files in the directory \"nowhere\": ", 0), 0u) << debug[0];
    EXPECT_EQ(debug[1].rfind("Couldn't remove item at " + (root / "crashes").string() + ": ", 0), 0u) << debug[1];

    // A file where a directory must go: the creation fails with its line.
    auto blocker = ZIVOUtility::createFileAtPathComponent(std::string("block"), bytes("x"), true, true);
    ASSERT_TRUE(blocker.has_value());
    EXPECT_EQ(ZIVOUtility::createFileAtPathComponent(std::string("block/inner"), bytes("y"), true, true), std::nullopt);
    EXPECT_TRUE(capture.contains("Couldn't create new file at path " + (root / "block/inner").string()));
}

// The environment comes from what the main bundle holds: a provisioning profile marks a
// development or ad-hoc build, a sandbox receipt a TestFlight install; neither is the App Store.
TEST(AppEnvironment, ProfileThenSandboxReceiptElseTheStore) {
    hxtest::TempDir dir;
    foundation::Bundle::main().setResourcesDirectory(dir.path());
    struct Case {
        const char* name;
        std::vector<std::string> files;
        int environment;
        bool profile, sandbox;
    } cases[] = {
        {"nothing", {}, ZIVOEnvironmentAppStore, false, false},
        {"store receipt", {"StoreKit/receipt"}, ZIVOEnvironmentAppStore, false, false},
        {"sandbox receipt", {"StoreKit/sandboxReceipt"}, ZIVOEnvironmentTestFlight, false, true},
        {"profile", {"embedded.mobileprovision"}, ZIVOEnvironmentOther, true, false},
        {"profile wins", {"embedded.mobileprovision", "StoreKit/sandboxReceipt"}, ZIVOEnvironmentOther, true, true},
        {"other profile name",
         {"Embedded.mobileprovision", "embedded.provision"},
         ZIVOEnvironmentAppStore,
         false,
         false},
        {"receipt folder named like the receipt", {"StoreKit/sandboxReceipt/x"}, ZIVOEnvironmentAppStore, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(dir.path());
        std::filesystem::create_directories(dir.path());
        for (const auto& file : c.files) {
            std::filesystem::create_directories((dir / file).parent_path());
            std::ofstream(dir / file) << "x";
        }
        EXPECT_EQ(ZIVOUtility::hasEmbeddedMobileProvision(), c.profile);
        EXPECT_EQ(ZIVOUtility::isAppStoreReceiptSandbox(), c.sandbox);
        EXPECT_EQ(ZIVOUtility::currentAppEnvironment(), c.environment);
    }
    // An Info value of the old form decides nothing.
    std::filesystem::remove_all(dir.path());
    zivo_platform::setInfoValueForTesting("RurIdurevAppEnvironment", 99);
    EXPECT_EQ(ZIVOUtility::currentAppEnvironment(), ZIVOEnvironmentAppStore);
    zivo_platform::setInfoValueForTesting("RurIdurevAppEnvironment", {});
    foundation::Bundle::main().setResourcesDirectory({});
}

TEST(ApplicationState, ThePlatformsStateOutsideAnExtensionAndUnknownInside) {
    auto& app = ZIVOUtility::sharedApp();
    EXPECT_EQ(&app, &foundation::Application::shared());
    for (auto state : {foundation::ApplicationState::Inactive, foundation::ApplicationState::Background,
                       foundation::ApplicationState::Active}) {
        app.setApplicationState(state);
        EXPECT_EQ(ZIVOUtility::sharedAppState(), static_cast<int>(state));
        EXPECT_EQ(ZIVOUtility::applicationState(), static_cast<int>(state));
    }
    app.setApplicationState(foundation::ApplicationState::Background);
    for (const char* path : {"/apps/Share.appex/share", "/x/Widget.appex/Frameworks/y"}) {
        zivo_platform::setExecutablePathForTesting(path);
        EXPECT_EQ(ZIVOUtility::applicationState(), ZIVOApplicationStateUnknown) << path;
        EXPECT_EQ(ZIVOUtility::sharedAppState(), ZIVOApplicationStateBackground) << path;
    }
    // Only a folder named so: a file or a name that merely contains the word does not count.
    for (const char* path : {"/apps/Share.appex", "/apps/Share.appexample/share", "/apps/appex/share"}) {
        zivo_platform::setExecutablePathForTesting(path);
        EXPECT_EQ(ZIVOUtility::applicationState(), ZIVOApplicationStateBackground) << path;
    }
    zivo_platform::setExecutablePathForTesting({});
    app.setApplicationState(foundation::ApplicationState::Active);
}

TEST(ApplicationDelegate, TheDelegateTheAppNamedWhileItLives) {
    struct AppObject : foundation::ApplicationDelegate {};
    auto& app = ZIVOUtility::sharedApp();
    app.setDelegate({});
    EXPECT_EQ(ZIVOUtility::sharedAppDelegate(), nullptr);
    auto first = std::make_shared<AppObject>();
    auto second = std::make_shared<AppObject>();
    app.setDelegate(first);
    EXPECT_EQ(ZIVOUtility::sharedAppDelegate(), first);
    app.setDelegate(second);
    EXPECT_EQ(ZIVOUtility::sharedAppDelegate(), second);
    // Held weakly: the slot neither keeps a dropped application object alive nor answers it.
    std::weak_ptr<AppObject> watch = second;
    second.reset();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(ZIVOUtility::sharedAppDelegate(), nullptr);
}

TEST(DateFormatter, OneSharedInstanceMadeOnceUntilReset) {
    ZIVOUtility::resetDateFormatterInstance();
    // Threads that all ask at once for the first time get the same one.
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::vector<const ZIVODateFormatter*> seen(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            ++ready;
            while (ready.load() < kThreads) {}
            seen[i] = ZIVOUtility::dateFormatter().get();
        });
    for (auto& t : threads) t.join();
    for (auto* f : seen) EXPECT_EQ(f, seen[0]);

    const auto held = ZIVOUtility::dateFormatter();
    EXPECT_EQ(held.get(), seen[0]);
    EXPECT_EQ(ZIVOUtility::dateToISO8601({1709647629.5}), "2024-03-05T14:07:09.500Z");
    EXPECT_EQ(ZIVOUtility::dateFormatter(), held);
    // Dropped: the next conversion makes a new formatter, which formats and parses the same way.
    ZIVOUtility::resetDateFormatterInstance();
    EXPECT_EQ(ZIVOUtility::dateToISO8601({1709647629.5}), "2024-03-05T14:07:09.500Z");
    const auto fresh = ZIVOUtility::dateFormatter();
    EXPECT_NE(fresh, held);
    EXPECT_EQ(ZIVOUtility::dateFromISO8601("2024-03-05T14:07:09.500Z"), std::optional(foundation::Date{1709647629.5}));
    EXPECT_EQ(ZIVOUtility::dateFormatter(), fresh);
}

TEST(ApplicationOpenURL, OpensOnTheNextMainTurnAndFailsAtOnceWhereItCannot) {
    dispatch::RunLoop::main();
    dispatch::ScopedVirtualClock clock{1'700'000'000.0};
    services::URLOpener::setShared(nullptr);
    std::vector<int> results;
    auto record = [&](int r) { results.push_back(r); };
    // Openable: nothing happens before the main queue turns, then the opener hears it and the
    // completion gets 1.
    ZIVOUtility::sharedAppOpenUrl("https://example.test/help", {}, record);
    EXPECT_TRUE(results.empty());
    EXPECT_TRUE(services::URLOpener::shared()->openedURLs().empty());
    clock->runUntilIdle();
    EXPECT_EQ(results, std::vector<int>{1});
    EXPECT_EQ(services::URLOpener::shared()->openedURLs(), std::vector<std::string>{"https://example.test/help"});
    // No application for the scheme, or inside an extension: 2 at once, nothing opened.
    results.clear();
    ZIVOUtility::sharedAppOpenUrl("nosuchscheme://x", {}, record);
    EXPECT_EQ(results, std::vector<int>{2});
    zivo_platform::setExecutablePathForTesting("/apps/Share.appex/share");
    ZIVOUtility::sharedAppOpenUrl("https://example.test/other", {}, record);
    zivo_platform::setExecutablePathForTesting({});
    EXPECT_EQ(results, (std::vector<int>{2, 2}));
    // A missing completion is allowed.
    ZIVOUtility::sharedAppOpenUrl("tel:5551234", {}, {});
    clock->runUntilIdle();
    EXPECT_EQ(services::URLOpener::shared()->openedURLs().size(), 2u);
    services::URLOpener::setShared(nullptr);
}

TEST(Obfuscate, CaseInsensitiveReplaceAndBadPattern) {
    LogCapture capture;
    EXPECT_EQ(
        ZIVOUtility::obfuscateString(std::string("App-Secret: abc; app-secret: def"), "(app-secret: )[a-z]+", "$1***"),
        "App-Secret: ***; app-secret: ***");
    EXPECT_EQ(ZIVOUtility::obfuscateString(std::nullopt, "x", "y"), std::nullopt);
    EXPECT_EQ(ZIVOUtility::obfuscateString(std::string("text"), "(", "y"), std::nullopt);
    auto errors = capture.messages(ZIVOLogLevelError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("Couldn't create regular expression with pattern\"(\": ", 0), 0u) << errors[0];
}

TEST(OrderedDictionary, KeepsFirstInsertionOrder) {
    ZIVOOrderedDictionary dict;
    dict.setObject("1", "b");
    dict.setObject("2", "a");
    dict.setObject("3", "b");
    EXPECT_EQ(dict.count(), 2u);
    EXPECT_EQ(dict.keyEnumerator(), (std::vector<foundation::Key>{"b", "a"}));
    EXPECT_EQ(*dict.objectForKey("b"), foundation::Value("3"));
    ZIVOOrderedDictionary other;
    other.setObject("2", "a");
    other.setObject("3", "b");
    EXPECT_FALSE(dict.isEqualToDictionary(other));  // same contents, other order
    auto copy = dict.mutableCopy();
    EXPECT_TRUE(copy.isEqualToDictionary(dict));
    dict.removeAllObjects();
    EXPECT_EQ(dict.count(), 0u);
    EXPECT_TRUE(dict.keyEnumerator().empty());
    EXPECT_EQ(copy.count(), 2u);
}

TEST(DispatcherUtil, BoundedWaitLetsALateBlockRunSafely) {
    auto queue = dispatch::Queue::serial("test.dispatcher");
    std::atomic<int> ran{0};
    ZIVODispatcherUtil::dispatchSyncWithTimeout(5, queue, [&ran] { ++ran; });
    EXPECT_EQ(ran.load(), 1);
    // A queue held busy: the wait gives up, the block runs later and owns what it uses.
    auto gate = std::make_shared<dispatch::Semaphore>(0);
    queue->async([gate] { gate->wait(); });
    auto counter = std::make_shared<std::atomic<int>>(0);
    ZIVODispatcherUtil::dispatchSyncWithTimeout(0.01, queue, [counter] { ++*counter; });
    EXPECT_EQ(counter->load(), 0);
    gate->signal();
    queue->sync([] {});
    EXPECT_EQ(counter->load(), 1);
}
