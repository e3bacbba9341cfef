#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "platform/foundation/files.h"
#include "platform/security/keychain.h"
#include "tests/support/bytes.h"
#include "tests/support/log_capture.h"
#include "tests/support/test_support.h"

using namespace security;

namespace {

using hxtest::bytes;

KeychainItem item(std::string service, std::string account, std::string secret,
                  Accessibility accessibility = Accessibility::AfterFirstUnlock) {
    KeychainItem i;
    i.service = std::move(service);
    i.account = std::move(account);
    i.label = i.service;
    i.data = bytes(secret);
    i.accessibility = accessibility;
    return i;
}

KeychainChanges dataChange(std::string_view text) {
    KeychainChanges changes;
    changes.data = bytes(text);
    return changes;
}

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class KeychainTest : public ::testing::Test {
protected:
    hxtest::TempDir dir;
    std::filesystem::path file = dir / "Library/Keychains/keychain.json";
    Keychain keychain{file};
};

}  // namespace

TEST_F(KeychainTest, AddCopyUpdateDelete) {
    KeychainQuery query = KeychainQuery::item("HXC_AuthV2", "alice");
    EXPECT_EQ(keychain.copyMatching(query, nullptr), errSecItemNotFound);

    ASSERT_EQ(keychain.add(item("HXC_AuthV2", "alice", "s3cret", Accessibility::WhenUnlocked)), errSecSuccess);
    EXPECT_EQ(keychain.add(item("HXC_AuthV2", "alice", "other")), errSecDuplicateItem);
    ASSERT_EQ(keychain.add(item("HXC_AuthV2", "bob", "b")), errSecSuccess);
    ASSERT_EQ(keychain.add(item("HXC_OAuthDict", "alice", "{}")), errSecSuccess);

    // Attributes only: no data comes back.
    query.returnAttributes = true;
    KeychainMatch match;
    ASSERT_EQ(keychain.copyMatching(query, &match), errSecSuccess);
    EXPECT_EQ(match.service, "HXC_AuthV2");
    EXPECT_EQ(match.account, "alice");
    EXPECT_EQ(match.label, "HXC_AuthV2");
    EXPECT_EQ(match.accessibility, Accessibility::WhenUnlocked);
    EXPECT_FALSE(match.data.has_value());

    // Data only.
    query.returnAttributes = false;
    query.returnData = true;
    ASSERT_EQ(keychain.copyMatching(query, &match), errSecSuccess);
    EXPECT_EQ(match.data, bytes("s3cret"));
    EXPECT_FALSE(match.accessibility.has_value());

    // Update changes data and accessibility of the matched item only.
    KeychainChanges changes;
    changes.data = bytes("new");
    changes.accessibility = Accessibility::AfterFirstUnlock;
    ASSERT_EQ(keychain.update(KeychainQuery::item("HXC_AuthV2", "alice"), changes), errSecSuccess);
    query.returnAttributes = true;
    ASSERT_EQ(keychain.copyMatching(query, &match), errSecSuccess);
    EXPECT_EQ(match.data, bytes("new"));
    EXPECT_EQ(match.accessibility, Accessibility::AfterFirstUnlock);
    ASSERT_EQ(keychain.copyMatching(KeychainQuery::item("HXC_AuthV2", "bob"), &match), errSecSuccess);
    KeychainQuery bob = KeychainQuery::item("HXC_AuthV2", "bob");
    bob.returnData = true;
    ASSERT_EQ(keychain.copyMatching(bob, &match), errSecSuccess);
    EXPECT_EQ(match.data, bytes("b"));
    EXPECT_EQ(keychain.update(KeychainQuery::item("HXC_AuthV2", "carol"), changes), errSecItemNotFound);

    // Delete ignores the return flags; a second delete finds nothing.
    query.returnAttributes = query.returnData = true;
    EXPECT_EQ(keychain.remove(query), errSecSuccess);
    EXPECT_EQ(keychain.remove(query), errSecItemNotFound);
    EXPECT_EQ(keychain.copyMatching(query, nullptr), errSecItemNotFound);
    EXPECT_EQ(keychain.copyMatching(KeychainQuery::item("HXC_OAuthDict", "alice"), nullptr), errSecSuccess);
}

TEST_F(KeychainTest, LabelIsStoredButNotIdentity) {
    KeychainItem unlabeled = item("svc", "acct", "v");
    unlabeled.label.reset();
    ASSERT_EQ(keychain.add(unlabeled), errSecSuccess);
    // A second add with a label is still the same item.
    EXPECT_EQ(keychain.add(item("svc", "acct", "w")), errSecDuplicateItem);

    KeychainQuery query = KeychainQuery::item("svc", "acct");
    query.label = "some other label";
    query.returnAttributes = true;
    KeychainMatch match;
    ASSERT_EQ(keychain.copyMatching(query, &match), errSecSuccess);
    EXPECT_FALSE(match.label.has_value());

    KeychainChanges changes;
    changes.label = "svc";
    ASSERT_EQ(keychain.update(query, changes), errSecSuccess);
    ASSERT_EQ(keychain.copyMatching(query, &match), errSecSuccess);
    EXPECT_EQ(match.label, "svc");
    EXPECT_EQ(keychain.remove(query), errSecSuccess);
}

TEST_F(KeychainTest, RemoveAllOfAServiceAndCopyAll) {
    ASSERT_EQ(keychain.add(item("a.RurIdurev", "k1", "1")), errSecSuccess);
    ASSERT_EQ(keychain.add(item("a.RurIdurev", "k2", "2")), errSecSuccess);
    ASSERT_EQ(keychain.add(item("other", "k1", "3")), errSecSuccess);

    KeychainQuery service;
    service.service = "a.RurIdurev";
    service.returnAttributes = true;
    std::vector<KeychainMatch> all;
    ASSERT_EQ(keychain.copyAllMatching(service, &all), errSecSuccess);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].account, "k1");
    EXPECT_EQ(all[1].account, "k2");

    EXPECT_EQ(keychain.removeAll("a.RurIdurev"), errSecSuccess);
    EXPECT_EQ(keychain.removeAll("a.RurIdurev"), errSecItemNotFound);
    EXPECT_EQ(keychain.copyAllMatching(service, &all), errSecItemNotFound);
    EXPECT_EQ(keychain.copyMatching(KeychainQuery::item("other", "k1"), nullptr), errSecSuccess);
}

TEST_F(KeychainTest, LockedKeychainRefusesEverythingAndChangesNothing) {
    ASSERT_EQ(keychain.add(item("svc", "acct", "v")), errSecSuccess);
    const std::string before = fileText(file);
    keychain.setInteractionNotAllowed(true);
    KeychainQuery query = KeychainQuery::item("svc", "acct");
    EXPECT_EQ(keychain.add(item("svc", "x", "v")), errSecInteractionNotAllowed);
    EXPECT_EQ(keychain.copyMatching(query, nullptr), errSecInteractionNotAllowed);
    EXPECT_EQ(keychain.update(query, dataChange("z")), errSecInteractionNotAllowed);
    EXPECT_EQ(keychain.remove(query), errSecInteractionNotAllowed);
    EXPECT_EQ(keychain.removeAll("svc"), errSecInteractionNotAllowed);
    EXPECT_EQ(fileText(file), before);
    keychain.setInteractionNotAllowed(false);
    EXPECT_EQ(keychain.copyMatching(query, nullptr), errSecSuccess);
}

TEST_F(KeychainTest, FilePersistsPrivatelyAndAtomically) {
    ASSERT_EQ(keychain.add(item("svc", "acct", "persisted-secret")), errSecSuccess);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A second object over the same file sees the item (the file is the store).
    Keychain other(file);
    KeychainQuery query = KeychainQuery::item("svc", "acct");
    query.returnData = true;
    KeychainMatch match;
    ASSERT_EQ(other.copyMatching(query, &match), errSecSuccess);
    EXPECT_EQ(match.data, bytes("persisted-secret"));

    // No temporary file is left beside the store.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(file.parent_path())) ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST_F(KeychainTest, AnUnreadableFileIsMovedAsideAndTheStoreStartsEmpty) {
    std::filesystem::create_directories(file.parent_path());
    const auto aside = file.parent_path() / "keychain.json.unreadable";
    for (const std::string& garbage :
         {std::string("not json"), std::string("{\"format\":\"hx-keychain-1\",\"items\":[1]}"),
          std::string("{\"format\":\"hx-keychain-1\",\"items\":[{\"service\":\"s\","
                      "\"account\":\"a\",\"data\":\"zz\",\"accessibility\":"
                      "\"kSecAttrAccessibleAlways\"}]}"),
          std::string("[]")}) {
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out << garbage;
        }
        hxtest::LogCapture log;
        // Before the repair every call failed, so a sign-in lived in memory only.
        EXPECT_EQ(keychain.copyMatching(KeychainQuery::item("svc", "acct"), nullptr), errSecItemNotFound) << garbage;
        EXPECT_EQ(keychain.add(item("svc", "acct", "v")), errSecSuccess);
        KeychainQuery query = KeychainQuery::item("svc", "acct");
        query.returnData = true;
        KeychainMatch match;
        ASSERT_EQ(Keychain(file).copyMatching(query, &match), errSecSuccess);
        EXPECT_EQ(match.data, bytes("v"));
        // The unreadable bytes are kept for inspection, as privately as the store itself.
        EXPECT_EQ(fileText(aside), garbage);
        struct stat st {};
        ASSERT_EQ(::stat(aside.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        ASSERT_EQ(log.lines().size(), 1u) << garbage;
        EXPECT_NE(log.lines()[0].find(aside.string()), std::string::npos) << log.lines()[0];
        std::filesystem::remove(file);
    }
}

// An entry the store cannot be read from at all (a directory, a pipe) is set aside as damaged
// bytes are, and the store starts empty, where reading it used to throw.
TEST_F(KeychainTest, ADirectoryOrAPipeInTheStoresPlaceIsMovedAsideAndTheStoreStartsEmpty) {
    std::filesystem::create_directories(file.parent_path());
    const auto aside = file.parent_path() / "keychain.json.unreadable";
    for (const bool pipe : {false, true}) {
        if (pipe)
            ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
        else
            std::filesystem::create_directories(file / "inside");
        hxtest::LogCapture log;
        EXPECT_EQ(keychain.copyMatching(KeychainQuery::item("svc", "acct"), nullptr), errSecItemNotFound) << pipe;
        ASSERT_EQ(log.lines().size(), 1u) << pipe;
        EXPECT_NE(log.lines()[0].find("keychain.json.unreadable"), std::string::npos) << log.lines()[0];
        EXPECT_EQ(keychain.add(item("svc", "acct", "v")), errSecSuccess) << pipe;
        KeychainQuery query = KeychainQuery::item("svc", "acct");
        query.returnData = true;
        KeychainMatch match;
        ASSERT_EQ(Keychain(file).copyMatching(query, &match), errSecSuccess) << pipe;
        EXPECT_EQ(match.data, bytes("v"));
        std::filesystem::remove(file);
    }
    // The directory was kept where it went; the pipe found it in the way and took the next name.
    EXPECT_TRUE(std::filesystem::is_directory(aside / "inside"));
    EXPECT_EQ(std::filesystem::status(file.parent_path() / "keychain.json.unreadable-2").type(),
              std::filesystem::file_type::fifo);
}

TEST_F(KeychainTest, DescriptionNeverShowsTheSecret) {
    const KeychainItem i = item("svc", "acct", "hunter2-very-secret");
    const std::string text = i.description();
    EXPECT_EQ(text.find("hunter2"), std::string::npos);
    EXPECT_NE(text.find("acct"), std::string::npos);
    EXPECT_NE(text.find("19 bytes"), std::string::npos);
}

TEST_F(KeychainTest, ConcurrentWritersLoseNothing) {
    constexpr int kThreads = 8, kPerThread = 20;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Half the threads use their own object over the same file.
            Keychain own(file);
            Keychain& kc = t % 2 ? own : keychain;
            for (int i = 0; i < kPerThread; ++i) {
                const std::string account = std::to_string(t) + "-" + std::to_string(i);
                EXPECT_EQ(kc.add(item("svc", account, account)), errSecSuccess);
                EXPECT_EQ(kc.update(KeychainQuery::item("svc", account), dataChange("u" + account)), errSecSuccess);
            }
        });
    }
    for (auto& th : threads) th.join();
    KeychainQuery all;
    all.service = "svc";
    all.returnAttributes = all.returnData = true;
    std::vector<KeychainMatch> found;
    ASSERT_EQ(keychain.copyAllMatching(all, &found), errSecSuccess);
    ASSERT_EQ(found.size(), size_t{kThreads * kPerThread});
    for (const auto& m : found) EXPECT_EQ(m.data, bytes("u" + m.account));
}

TEST(KeychainDefault, LivesInTheAppHomeUnlessMovedElsewhere) {
    hxtest::TempDir dir;
    foundation::setHomeDirectory(dir / "home");
    Keychain::setDefaultPath({});
    EXPECT_EQ(Keychain::defaultPath(), dir / "home/Library/Keychains/keychain.json");
    EXPECT_EQ(Keychain::defaultKeychain()->path(), dir / "home/Library/Keychains/keychain.json");

    Keychain::setDefaultPath(dir / "kc.json");
    auto kc = Keychain::defaultKeychain();
    EXPECT_EQ(kc->path(), dir / "kc.json");
    EXPECT_EQ(Keychain::defaultKeychain(), kc);
    ASSERT_EQ(kc->add(item("s", "a", "v")), errSecSuccess);
    EXPECT_TRUE(std::filesystem::exists(dir / "kc.json"));
    Keychain::setDefaultPath({});
    EXPECT_EQ(Keychain::defaultKeychain()->path(), dir / "home/Library/Keychains/keychain.json");
    foundation::setHomeDirectory({});
}

TEST_F(KeychainTest, StoredFilesReadBackAndNewOnesStayPlainJSON) {
    // The layout that stores already hold: one-space indentation, keys in byte order.
    std::filesystem::create_directories(file.parent_path());
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << "{\n \"format\": \"hx-keychain-1\",\n \"items\": [\n  {\n"
               "   \"accessibility\": \"kSecAttrAccessibleAfterFirstUnlock\",\n   \"account\": \"alice\",\n"
               "   \"data\": \"736563726574\",\n   \"label\": \"caf\\u00e9\",\n   \"service\": \"svc\"\n  }\n ]\n}\n";
    }
    KeychainQuery query = KeychainQuery::item("svc", "alice");
    query.returnData = true;
    query.returnAttributes = true;
    KeychainMatch match;
    ASSERT_EQ(keychain.copyMatching(query, &match), errSecSuccess);
    EXPECT_EQ(match.data, bytes("secret"));
    EXPECT_EQ(match.label, std::optional<std::string>("caf\xc3\xa9"));

    ASSERT_EQ(keychain.add(item("svc", "bob", std::string("\0\xff", 2))), errSecSuccess);
    if (!hxtest::haveProgram("python3")) GTEST_SKIP() << "python3 missing";
    std::string out;
    ASSERT_EQ(hxtest::runCommand("python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); "
                                 "print(d[\"format\"], *[(i[\"account\"], i[\"data\"], i.get(\"label\")) "
                                 "for i in d[\"items\"]])' '" +
                                     file.string() + "'",
                                 &out),
              0);
    EXPECT_EQ(out, "hx-keychain-1 ('alice', '736563726574', 'café') ('bob', '00ff', 'svc')\n");
}
