#include "platform/foundation/files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <vector>

#include "platform/foundation/url.h"
#include "tests/support/test_support.h"

using namespace foundation;
namespace fs = std::filesystem;

namespace {

class HomeFixture : public ::testing::Test {
protected:
    void SetUp() override { setHomeDirectory(tmp.path() / "home"); }
    void TearDown() override { setHomeDirectory({}); }
    hxtest::TempDir tmp;
};

}  // namespace

TEST(AppHome, RootFromTheEnvironment) {
    hxtest::TempDir tmp;
    const char* old = std::getenv("HXCONNECT_HOME");
    const std::string saved = old ? old : "";
    ::setenv("HXCONNECT_HOME", (tmp.path() / "envhome").c_str(), 1);
    EXPECT_EQ(homeDirectory(), tmp.path() / "envhome");
    ::unsetenv("HXCONNECT_HOME");
    const char* oldXdg = std::getenv("XDG_DATA_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    ::setenv("XDG_DATA_HOME", (tmp.path() / "xdg").c_str(), 1);
    EXPECT_EQ(homeDirectory(), tmp.path() / "xdg" / "hxconnect");
    if (oldXdg)
        ::setenv("XDG_DATA_HOME", savedXdg.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
    if (old) ::setenv("HXCONNECT_HOME", saved.c_str(), 1);
}

TEST_F(HomeFixture, StandardDirectoriesExist) {
    EXPECT_EQ(homeDirectory(), tmp.path() / "home");
    for (const fs::path& p : {documentsDirectory(), cachesDirectory(), applicationSupportDirectory(),
                              preferencesDirectory(), temporaryDirectory()}) {
        EXPECT_TRUE(files::isDirectory(p)) << p;
    }
    EXPECT_EQ(cachesDirectory(), tmp.path() / "home" / "Library" / "Caches");
    EXPECT_EQ(applicationSupportDirectory(), tmp.path() / "home" / "Library" / "Application Support");
}

TEST_F(HomeFixture, AtomicWriteReadAndErrors) {
    const fs::path dir = documentsDirectory() / "a" / "b";
    ASSERT_TRUE(files::createDirectory(dir).ok());
    ASSERT_TRUE(files::createDirectory(dir).ok());  // existing is fine
    const fs::path file = dir / "f.bin";
    ASSERT_TRUE(files::writeAtomically(file, std::string_view("one")).ok());
    ASSERT_TRUE(files::writeAtomically(file, Data{0, 1, 2}).ok());
    EXPECT_EQ(files::readData(file).value(), (Data{0, 1, 2}));
    Status refused = files::writeAtomically(file, std::string_view("x"), WriteMode::FailIfExists);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, kFileWriteFileExistsError);
    EXPECT_EQ(files::readData(file).value(), (Data{0, 1, 2}));  // untouched
    // No temporary files are left behind.
    EXPECT_EQ(files::listDirectory(dir)->size(), 1u);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(
        st.st_mode & 0777, 0644u & ~[] {
            mode_t m = ::umask(0);
            ::umask(m);
            return m;
        }());

    auto missing = files::readData(dir / "nope");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, kFileReadNoSuchFileError);
    EXPECT_EQ(missing.error().userInfo.get(kFilePathErrorKey).asString(), (dir / "nope").string());
    EXPECT_EQ(missing.error().userInfo.get(kUnderlyingErrorKey)["code"].int64Value(), ENOENT);
    Status noDir = files::writeAtomically(dir / "missing" / "f", std::string_view("x"));
    ASSERT_FALSE(noDir.ok());
    EXPECT_EQ(noDir.error().code, kFileNoSuchFileError);
    EXPECT_EQ(files::remove(dir / "nope").error().code, kFileNoSuchFileError);
    EXPECT_FALSE(files::createDirectory(file / "sub").ok());
}

// Only regular files are read: a directory, a pipe with no writer (whose open would wait for one)
// and a device fail at once with their own codes; setAside moves any of them out of the way, a
// file kept earlier giving way and a directory kept earlier not.
TEST_F(HomeFixture, OnlyRegularFilesAreReadAndAnythingElseCanBeSetAside) {
    const fs::path dir = documentsDirectory();
    ASSERT_TRUE(files::createDirectory(dir / "dir").ok());
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    struct Case {
        fs::path path;
        int err;
    } cases[] = {{dir / "dir", EISDIR}, {dir / "fifo", ENODEV}, {"/dev/zero", ENODEV}};
    for (const auto& c : cases) {
        auto read = files::readData(c.path);
        ASSERT_FALSE(read.ok()) << c.path;
        EXPECT_EQ(read.error().userInfo.get(kUnderlyingErrorKey)["code"].int64Value(), c.err) << c.path;
        auto mapped = files::mapFile(c.path);
        ASSERT_FALSE(mapped.ok()) << c.path;
    }

    // A file kept earlier gives way; a directory kept earlier does not, and the entry takes the
    // first free numbered name.
    ASSERT_TRUE(files::writeAtomically(dir / "fifo.unreadable", std::string_view("earlier")).ok());
    ASSERT_TRUE(files::createDirectory(dir / "dir.unreadable" / "inside").ok());
    struct Aside {
        fs::path from, to;
        bool isDirectory;
        unsigned mode;
    } asides[] = {{dir / "dir", dir / "dir.unreadable-2", true, 0700},
                  {dir / "fifo", dir / "fifo.unreadable", false, 0600}};
    for (const auto& a : asides) {
        auto moved = files::setAside(a.from);
        ASSERT_TRUE(moved.ok()) << a.from;
        EXPECT_EQ(moved.value(), a.to);
        EXPECT_FALSE(fs::exists(fs::symlink_status(a.from))) << a.from;
        EXPECT_EQ(fs::is_directory(a.to), a.isDirectory) << a.to;
        struct stat st {};
        ASSERT_EQ(::stat(a.to.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, a.mode) << a.to;
    }
    EXPECT_TRUE(fs::is_directory(dir / "dir.unreadable" / "inside"));
    EXPECT_FALSE(files::setAside(dir / "gone").ok());
}

// A mapping reads as readData reads, fails where it fails, and stays valid when moved.
TEST_F(HomeFixture, AMappedFileReadsAsTheReadOne) {
    const fs::path dir = cachesDirectory();
    Data pages(3 * 4096 + 123);
    for (size_t i = 0; i < pages.size(); ++i) pages[i] = uint8_t(i * 7 + i / 251);
    ASSERT_TRUE(files::writeAtomically(dir / "pages", pages).ok());
    ASSERT_TRUE(files::writeAtomically(dir / "empty", Data{}).ok());

    for (const char* name : {"pages", "empty"}) {
        auto mapped = files::mapFile(dir / name);
        ASSERT_TRUE(mapped.ok()) << name;
        files::MappedFile moved = std::move(*mapped);
        const auto bytes = moved.bytes();
        EXPECT_EQ(Data(bytes.begin(), bytes.end()), files::readData(dir / name).value()) << name;
    }
    for (const fs::path& bad : {dir / "nope", dir}) {
        auto mapped = files::mapFile(bad);
        auto read = files::readData(bad);
        ASSERT_FALSE(mapped.ok()) << bad;
        EXPECT_EQ(mapped.error().code, read.error().code) << bad;
        EXPECT_EQ(mapped.error().userInfo.get(kFilePathErrorKey).asString(), bad.string());
    }
}

TEST_F(HomeFixture, ListingMoveCopyRemove) {
    const fs::path dir = cachesDirectory() / "c";
    ASSERT_TRUE(files::createDirectory(dir / "sub").ok());
    ASSERT_TRUE(files::writeAtomically(dir / "b.txt", std::string(10000, 'x')).ok());
    ASSERT_TRUE(files::writeAtomically(dir / ".hidden", std::string_view("h")).ok());
    ASSERT_TRUE(files::writeAtomically(dir / "sub" / "inner", std::string_view("i")).ok());
    ASSERT_TRUE(files::setModificationDate(dir / "b.txt", Date{1600000000.5}).ok());

    auto all = files::listDirectory(dir);
    ASSERT_TRUE(all.ok());
    ASSERT_EQ(all->size(), 3u);
    auto visible = files::listDirectory(dir, true);
    ASSERT_EQ(visible->size(), 2u);
    EXPECT_EQ((*visible)[0].name, "b.txt");
    EXPECT_EQ((*visible)[0].extension(), "txt");
    EXPECT_EQ((*visible)[1].name, "sub");
    EXPECT_TRUE((*visible)[1].attributes.isDirectory);
    const FileAttributes& a = (*visible)[0].attributes;
    EXPECT_EQ(a.size, 10000u);
    EXPECT_NEAR(a.modificationDate.secondsSince1970, 1600000000.5, 1e-6);
    if (hxtest::haveProgram("python3")) {
        std::string out;
        ASSERT_EQ(hxtest::runCommand("python3 -c \"import os; s=os.stat('" + (dir / "b.txt").string() +
                                         "'); print(s.st_blocks*512, s.st_mtime)\"",
                                     &out),
                  0);
        EXPECT_EQ(std::stoull(out), a.allocatedSize);
        EXPECT_NEAR(std::stod(out.substr(out.find(' '))), 1600000000.5, 1e-3);
    }

    ASSERT_TRUE(files::copy(dir, cachesDirectory() / "copy").ok());
    EXPECT_EQ(files::readString(cachesDirectory() / "copy" / "sub" / "inner").value(), "i");
    EXPECT_EQ(files::copy(dir, cachesDirectory() / "copy").error().code, kFileWriteFileExistsError);
    ASSERT_TRUE(files::move(cachesDirectory() / "copy", documentsDirectory() / "moved").ok());
    EXPECT_FALSE(files::exists(cachesDirectory() / "copy"));
    EXPECT_EQ(files::readString(documentsDirectory() / "moved" / "b.txt")->size(), 10000u);
    EXPECT_EQ(files::move(dir, documentsDirectory() / "moved").error().code, kFileWriteFileExistsError);
    ASSERT_TRUE(files::remove(dir).ok());
    EXPECT_FALSE(files::exists(dir));
    EXPECT_FALSE(files::listDirectory(dir).ok());
}

TEST_F(HomeFixture, MoveAcrossFileSystems) {
    if (!files::isDirectory("/dev/shm")) GTEST_SKIP();
    const fs::path shm = fs::path("/dev/shm") / ("hxtest-" + std::to_string(::getpid()));
    ASSERT_TRUE(files::createDirectory(shm / "d").ok());
    ASSERT_TRUE(files::writeAtomically(shm / "d" / "f", std::string_view("payload")).ok());
    ASSERT_TRUE(files::move(shm / "d", documentsDirectory() / "d").ok());
    EXPECT_EQ(files::readString(documentsDirectory() / "d" / "f").value(), "payload");
    EXPECT_FALSE(files::exists(shm / "d"));
    (void)files::remove(shm);
}

TEST_F(HomeFixture, SafePathComponentIsInjectiveAndUsable) {
    for (const char* same : {"alice", "5551234567", "media-id_42.jpg", "\xC3\xA9l\xC3\xA8ve", "a.b", "x..", "a b"}) {
        EXPECT_EQ(safePathComponent(same), same);
    }
    EXPECT_EQ(safePathComponent("a/b"), "a%2Fb");
    EXPECT_EQ(safePathComponent("."), "%2E");
    EXPECT_EQ(safePathComponent(".."), "%2E.");
    EXPECT_EQ(safePathComponent(""), "%");
    EXPECT_EQ(safePathComponent("100%"), "100%25");
    EXPECT_EQ(safePathComponent(std::string_view("a\0b", 3)), "a%00b");

    const std::vector<std::string> names = {"",
                                            ".",
                                            "..",
                                            "...",
                                            "/",
                                            "//",
                                            "%",
                                            "%25",
                                            "%2F",
                                            "a/b",
                                            "a%2Fb",
                                            "a%252Fb",
                                            ".a",
                                            "%2Ea",
                                            std::string("\0", 1),
                                            "%00",
                                            "a.",
                                            "x/../y",
                                            std::string(300, 'a'),
                                            std::string(300, 'a') + "b",
                                            std::string(199, 'a') + "%%%%"};
    std::set<std::string> seen;
    for (const auto& n : names) {
        const std::string c = safePathComponent(n);
        EXPECT_TRUE(seen.insert(c).second) << "collision for " << n;
        EXPECT_EQ(c.find('/'), std::string::npos);
        EXPECT_EQ(c.find('\0'), std::string::npos);
        EXPECT_NE(c, ".");
        EXPECT_NE(c, "..");
        EXPECT_FALSE(c.empty());
        EXPECT_NE(c[0], '.');
        EXPECT_LE(c.size(), 255u);
        if (n.size() < 200) {
            EXPECT_EQ(percentDecodeBytes(c == "%" ? "" : c), Data(n.begin(), n.end())) << n;
        }
        // Every component names a real file inside the directory, never outside it.
        const fs::path p = documentsDirectory() / c;
        ASSERT_TRUE(files::writeAtomically(p, std::string_view("x")).ok()) << c;
        EXPECT_EQ(p.parent_path(), documentsDirectory());
    }
    EXPECT_EQ(files::listDirectory(documentsDirectory(), true)->size(), names.size());
}

TEST_F(HomeFixture, BoundedNamesFitBesideTheirAffixesOnTheRealFileSystem) {
    // Side files that writers make beside a stored file: SQLite's journal and an atomic write's
    // temporary are the longest.
    const std::string prefix = "MessageData-", extension = ".sqlite", journal = "-journal";
    const size_t affix = prefix.size() + extension.size() + journal.size();
    std::set<std::string> seen;
    for (size_t length : {1, 100, 200, 227, 228, 229, 236, 237, 238, 255, 256, 300, 1000, 4096}) {
        for (char fill : {'a', '.', '%', '/'}) {
            std::string name(length, fill);
            if (fill == '.') name[0] = 'x';  // keep one name per length free of escapes
            auto bounded = boundedPathComponent(name, affix);
            ASSERT_TRUE(bounded.ok()) << length;
            const std::string& c = *bounded;
            EXPECT_LE(c.size() + affix, kMaxFileNameBytes) << length;
            EXPECT_TRUE(seen.insert(c).second) << "collision at " << length << fill;
            // Short names keep the name they have always had.
            if (safePathComponent(name).size() + affix <= kMaxFileNameBytes) {
                EXPECT_EQ(c, safePathComponent(name));
            } else {
                EXPECT_NE(c.find("%~"), std::string::npos);
            }
            for (const std::string& side : {prefix + c + extension, prefix + c + extension + journal}) {
                ASSERT_TRUE(files::writeAtomically(documentsDirectory() / side, std::string_view("x")).ok() ||
                            side.size() + kAtomicWriteAffixBytes > kMaxFileNameBytes)
                    << side.size();
                std::FILE* f = std::fopen((documentsDirectory() / side).c_str(), "w");
                ASSERT_NE(f, nullptr) << side.size() << ": " << std::strerror(errno);
                std::fclose(f);
            }
        }
    }
    // Names just past the room differ in their tails only: the hash keeps them apart.
    const std::string a = std::string(240, 'n') + "1", b = std::string(240, 'n') + "2";
    EXPECT_NE(*boundedPathComponent(a, affix), *boundedPathComponent(b, affix));
    // The old unbounded form stays what it was for names past the limit on their own.
    EXPECT_EQ(*boundedPathComponent(std::string(300, 'a'), 0), safePathComponent(std::string(300, 'a')));
    EXPECT_EQ(safePathComponent(std::string(300, 'a')).size(), 218u);
}

TEST_F(HomeFixture, BoundedNamesRefuseAffixesThatLeaveNoRoom) {
    EXPECT_TRUE(boundedPathComponent("x", kMaxFileNameBytes - 18).ok());
    EXPECT_EQ(boundedPathComponent(std::string(300, 'x'), kMaxFileNameBytes - 18)->size(), 18u);
    for (size_t affix : {kMaxFileNameBytes - 17, kMaxFileNameBytes, size_t(10000)}) {
        auto r = boundedPathComponent("short", affix);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().domain, kCocoaErrorDomain);
        EXPECT_EQ(r.error().code, kFileNameTooLongError);
        EXPECT_NE(r.error().localizedDescription().find("255"), std::string::npos);
        EXPECT_FALSE(boundedFileName("short", affix).ok());
    }
    // An escaped component is kept as it is when it fits, hashed on its own bytes when it does not.
    EXPECT_EQ(*boundedFileName("a%2Eb", kAtomicWriteAffixBytes), "a%2Eb");
    const std::string longer(300, 'k');
    auto c = boundedFileName(longer, kAtomicWriteAffixBytes);
    ASSERT_TRUE(c.ok());
    EXPECT_LE(c->size() + kAtomicWriteAffixBytes, kMaxFileNameBytes);
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(stableHash64(longer)));
    EXPECT_EQ(*c, std::string(200, 'k') + "%~" + hash);
}

TEST_F(HomeFixture, TemporariesOfKilledWritersAreSweptAndLiveOnesKept) {
    const fs::path dir = cachesDirectory() / "media";
    ASSERT_TRUE(files::createDirectory(dir).ok());
    auto touch = [&](const std::string& name) {
        FILE* f = std::fopen((dir / name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("partial", f);
        std::fclose(f);
    };
    // What a kill inside the writer leaves: its temporary, of this name and of others.
    const std::string stale[] = {".voicemail.mp3.0123456789abcdef", ".other.mov.fedcba9876543210"};
    for (const auto& name : stale) touch(name);
    // A child killed in the middle of its own write leaves one too, locked only while it lived.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int fd = ::open((dir / ".killed.bin.00112233445566aa").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ::flock(fd, LOCK_EX);
        ::kill(::getpid(), SIGKILL);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    // A writer still at work holds its temporary locked; other hidden files are not ours.
    const std::string live = ".voicemail.mp3.aaaaaaaaaaaaaaaa";
    touch(live);
    int held = ::open((dir / live).c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const std::string kept[] = {".hidden", ".notes.0123456789ABCDEF", ".x.0123456789abcde", "x.0123456789abcdef"};
    for (const auto& name : kept) touch(name);

    ASSERT_TRUE(files::writeAtomically(dir / "voicemail.mp3", std::string_view("audio")).ok());
    std::set<std::string> left;
    auto listed = files::listDirectory(dir);
    ASSERT_TRUE(listed.ok());
    for (const auto& e : *listed) left.insert(e.name);
    std::set<std::string> expected(std::begin(kept), std::end(kept));
    expected.insert(live);
    expected.insert("voicemail.mp3");
    EXPECT_EQ(left, expected);
    ::close(held);

    // Once its writer is gone, a sweep takes it too.
    files::removeStaleTemporaries(dir);
    EXPECT_FALSE(files::exists(dir / live));
    EXPECT_TRUE(files::exists(dir / "voicemail.mp3"));
}

TEST_F(HomeFixture, ConcurrentWritersNeverSweepEachOthersTemporaries) {
    const fs::path dir = documentsDirectory() / "busy";
    ASSERT_TRUE(files::createDirectory(dir).ok());
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            const std::string payload(20000, static_cast<char>('a' + t));
            for (int i = 0; i < 50; ++i)
                if (!files::writeAtomically(dir / ("f" + std::to_string(t)), std::string_view(payload)).ok())
                    ++failures;
        });
    for (auto& w : writers) w.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(files::listDirectory(dir)->size(), 4u);
}

// A launch sweeps the whole home: killed writers' temporaries in folders nobody writes into again
// go, at any depth; a live writer's, other hidden files and whatever a symbolic link leads to stay.
TEST_F(HomeFixture, ALaunchSweepReachesEveryFolderBelowTheHomeButNotThroughLinks) {
    hxtest::TempDir outside;
    const fs::path home = homeDirectory();
    const fs::path deep = documentsDirectory() / "u" / "media" / "2026";
    ASSERT_TRUE(files::createDirectory(deep).ok());
    fs::create_directory_symlink(outside.path(), documentsDirectory() / "linked");
    auto touch = [](const fs::path& path) { std::ofstream(path) << "partial"; };
    const std::vector<fs::path> stale = {home / ".top.0123456789abcdef",
                                         preferencesDirectory() / ".keychain.json.fedcba9876543210",
                                         deep / ".clip.mp3.00112233445566aa"};
    for (const auto& p : stale) touch(p);
    const std::vector<fs::path> kept = {deep / ".hidden", deep / "clip.mp3", outside / ".far.0123456789abcdef"};
    for (const auto& p : kept) touch(p);
    const fs::path live = cachesDirectory() / ".row.bin.aaaaaaaaaaaaaaaa";
    touch(live);
    int held = ::open(live.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    files::removeStaleTemporariesBelow(home);
    for (const auto& p : stale) EXPECT_FALSE(files::exists(p)) << p;
    for (const auto& p : kept) EXPECT_TRUE(files::exists(p)) << p;
    EXPECT_TRUE(files::exists(live));
    ::close(held);
}
