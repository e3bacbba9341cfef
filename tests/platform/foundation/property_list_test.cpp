#include "platform/foundation/property_list.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <fstream>
#include <iterator>

#include "tests/support/test_support.h"

using namespace foundation;

namespace {

Value sample() {
    return Dictionary{{"bool", true},
                      {"no", false},
                      {"int", static_cast<int64_t>(-9007199254740993LL)},
                      {"max", INT64_MAX},
                      {"small", -2},
                      {"real", 2.5},
                      {"text", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
                      {"data", Data{0, 1, 2, 255}},
                      {"date", Date{1700000000.25}},
                      {"list", Array{1, "two", Array{}, Dictionary{}}},
                      {"nested", Dictionary{{"user", Dictionary{{"n", 7}}}}}};
}

std::string python(const std::string& script, const std::filesystem::path& dir, const std::string& args) {
    { std::ofstream(dir / "script.py") << script; }
    std::string out;
    int rc = hxtest::runCommand("/usr/bin/python3 " + (dir / "script.py").string() + " " + args + " 2>&1", &out);
    EXPECT_EQ(rc, 0) << out;
    return out;
}

}  // namespace

TEST(PropertyList, BinaryRoundTripKeepsEveryType) {
    auto bytes = writeBinaryPropertyList(sample());
    ASSERT_TRUE(bytes.ok()) << bytes.error().description();
    PropertyListFormat format = PropertyListFormat::XML;
    auto back = readPropertyList(bytes.value(), &format);
    ASSERT_TRUE(back.ok()) << back.error().description();
    EXPECT_EQ(format, PropertyListFormat::Binary);
    EXPECT_EQ(back.value(), sample());
    EXPECT_TRUE(back.value()["real"].isDouble());
    EXPECT_TRUE(back.value()["bool"].isBool());
    EXPECT_EQ(back.value()["int"].int64Value(), -9007199254740993LL);
    // Insertion order survives the file.
    EXPECT_EQ(back.value().asDictionary().begin()->first.string(), "bool");
}

TEST(PropertyList, PythonReadsWhatWeWrite) {
    if (!hxtest::haveProgram("/usr/bin/python3")) GTEST_SKIP() << "no python3";
    hxtest::TempDir dir;
    ASSERT_TRUE(writePropertyListFile(sample(), dir / "out.plist").ok());
    const std::string script = "import plistlib,sys,datetime\n"
                               "raw=open(sys.argv[1],'rb').read()\n"
                               "assert raw.startswith(b'bplist00')\n"
                               "p=plistlib.loads(raw)\n"
                               "assert p['bool'] is True and p['no'] is False\n"
                               "assert p['int']==-9007199254740993 and p['max']==2**63-1 and p['small']==-2\n"
                               "assert p['real']==2.5 and isinstance(p['real'],float)\n"
                               "assert p['text']=='caf\\u00e9 \\U0001F600'\n"
                               "assert p['data']==bytes([0,1,2,255])\n"
                               "assert p['date']==datetime.datetime(2023,11,14,22,13,20,250000), p['date']\n"
                               "assert p['list']==[1,'two',[],{}]\n"
                               "assert p['nested']=={'user':{'n':7}}\n"
                               "assert list(p.keys())[:3]==['bool','no','int']\n"
                               "print('ok')\n";
    EXPECT_EQ(python(script, dir.path(), (dir / "out.plist").string()), "ok\n");
}

TEST(PropertyList, ReadsWhatPythonWritesInBothFormats) {
    if (!hxtest::haveProgram("/usr/bin/python3")) GTEST_SKIP() << "no python3";
    hxtest::TempDir dir;
    const std::string script =
        "import plistlib,sys,datetime\n"
        "v={'neg':-1,'min':-2**63,'u32':4294967295,'real':-0.5,'s':'\\u4e2d\\u6587','empty':'',\n"
        "   'd':b'\\x00\\xff','when':datetime.datetime(2001,1,1,0,0,1),'old':datetime.datetime(1990,5,6,7,8,9),\n"
        "   'arr':[True,False,[{'k':[]}]], 'dict':{}}\n"
        "open(sys.argv[1],'wb').write(plistlib.dumps(v,fmt=plistlib.FMT_BINARY))\n"
        "open(sys.argv[2],'wb').write(plistlib.dumps(v,fmt=plistlib.FMT_XML))\n"
        "open(sys.argv[3],'wb').write(plistlib.dumps({'ok':1,'a\\x00b':{'\\u4e2d\\x00':2}},fmt=plistlib.FMT_BINARY))\n"
        "open(sys.argv[4],'wb').write(plistlib.dumps({'big':2**63},fmt=plistlib.FMT_BINARY))\n"
        "print('ok')\n";
    ASSERT_EQ(python(script, dir.path(),
                     (dir / "b.plist").string() + " " + (dir / "x.plist").string() + " " +
                         (dir / "nul.plist").string() + " " + (dir / "big.plist").string()),
              "ok\n");
    // Keys with NUL characters cannot be carried (and would stop the backend): refused.
    auto nul = readPropertyListFile(dir / "nul.plist");
    ASSERT_FALSE(nul.ok());
    EXPECT_EQ(nul.error().code, kPropertyListReadCorruptError);
    // An integer above INT64_MAX would read with the wrong sign: refused too.
    EXPECT_FALSE(readPropertyListFile(dir / "big.plist").ok());
    const Value expected = Dictionary{{"neg", -1},
                                      {"min", INT64_MIN},
                                      {"u32", 4294967295LL},
                                      {"real", -0.5},
                                      {"s", "\xE4\xB8\xAD\xE6\x96\x87"},
                                      {"empty", ""},
                                      {"d", Data{0, 255}},
                                      {"when", Date{978307201}},
                                      {"old", Date{641977689}},
                                      {"arr", Array{true, false, Array{Dictionary{{"k", Array{}}}}}},
                                      {"dict", Dictionary{}}};
    for (const char* name : {"b.plist", "x.plist"}) {
        auto v = readPropertyListFile(dir / name);
        ASSERT_TRUE(v.ok()) << name << ": " << v.error().description();
        EXPECT_EQ(v.value(), expected) << name << ": " << v.value().description();
        EXPECT_TRUE(v.value()["arr"].at(0).isBool());
    }
}

TEST(PropertyList, ValuesAPropertyListCannotHoldAreRefused) {
    const Value refused[] = {
        Value(),
        Dictionary{{"a", Array{1, Value()}}},
        Dictionary{{7, "phone id as key"}},
        Value(std::string("nul\0inside", 10)),
        Dictionary{{Key(std::string("k\0", 2)), 1}},
        Value("\xC3\x28"),
        Value(Date{1e12}),
    };
    for (const Value& v : refused) {
        auto r = writeBinaryPropertyList(v);
        ASSERT_FALSE(r.ok()) << v.description();
        EXPECT_EQ(r.error().code, kPropertyListWriteInvalidError);
    }
    hxtest::TempDir dir;
    ASSERT_TRUE(writePropertyListFile(Dictionary{{"keep", 1}}, dir / "p.plist").ok());
    EXPECT_FALSE(writePropertyListFile(Dictionary{{1, 1}}, dir / "p.plist").ok());
    // The refused write left the earlier file alone and no temporary file behind.
    EXPECT_EQ(readPropertyListFile(dir / "p.plist").value(), Value(Dictionary{{"keep", 1}}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(PropertyList, CorruptInputIsAnErrorNotACrash) {
    auto good = writeBinaryPropertyList(sample()).value();
    std::vector<std::string> inputs = {
        "",
        "bplist00",
        "bplist00\xff\xff\xff\xff",
        "hello",
        "<?xml version=\"1.0\"?><plist><dict><key>a</key></plist>",
        "<plist version=\"1.0\"><integer>12x</integer></plist>",
        "<plist version=\"1.0\"><string>\xC3\x28</string></plist>",
    };
    for (size_t cut : {good.size() / 2, good.size() - 1, size_t(40)}) {
        inputs.emplace_back(reinterpret_cast<const char*>(good.data()), cut);
    }
    // Every single-byte corruption of the trailer and offset table.
    for (size_t i = good.size() - 40; i < good.size(); ++i) {
        for (uint8_t x : {0x01, 0x80, 0xFF}) {
            std::string bad(reinterpret_cast<const char*>(good.data()), good.size());
            bad[i] = static_cast<char>(bad[i] ^ x);
            inputs.push_back(bad);
        }
    }
    int failures = 0;
    for (const auto& in : inputs) {
        auto r = readPropertyList(in);
        if (!r.ok()) {
            EXPECT_EQ(r.error().code, kPropertyListReadCorruptError);
            ++failures;
        }
    }
    EXPECT_GE(failures, 10);
    std::string deep = "<plist version=\"1.0\">";
    for (int i = 0; i < 600; ++i) deep += "<array>";
    for (int i = 0; i < 600; ++i) deep += "</array>";
    deep += "</plist>";
    EXPECT_FALSE(readPropertyList(deep).ok());
    EXPECT_FALSE(readPropertyListFile("/nonexistent/x.plist").ok());
}

namespace {

std::vector<std::string> temporariesIn(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if (name.find(".tmp-") != std::string::npos) names.push_back(name);
    }
    return names;
}

// Kills a child that keeps rewriting dir/p.plist while it is in the middle of a write, until a
// kill leaves a temporary behind (the child may be between two writes when the signal lands).
bool killAWriterMidWrite(const std::filesystem::path& dir) {
    for (int trial = 0; trial < 50; ++trial) {
        pid_t child = ::fork();
        if (child == 0) {
            const Data blob(4 << 20, 0x5A);
            for (;;) (void)writePropertyListFile(Dictionary{{"blob", blob}}, dir / "p.plist");
        }
        if (child < 0) return false;
        bool seen = false;
        for (long spin = 0; spin < 20'000'000 && !seen; ++spin) seen = !temporariesIn(dir).empty();
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!temporariesIn(dir).empty()) return true;
    }
    return false;
}

}  // namespace

TEST(PropertyList, AKilledWriteLeavesNoTemporaryForGood) {
    hxtest::TempDir dir;
    // Reading the file removes what a killed writer left.
    ASSERT_TRUE(killAWriterMidWrite(dir.path()));
    (void)readPropertyListFile(dir / "p.plist");
    EXPECT_EQ(temporariesIn(dir.path()), std::vector<std::string>{});
    // So does the next write, which also leaves none of its own.
    ASSERT_TRUE(killAWriterMidWrite(dir.path()));
    ASSERT_TRUE(writePropertyListFile(Dictionary{{"after", 1}}, dir / "p.plist").ok());
    EXPECT_EQ(temporariesIn(dir.path()), std::vector<std::string>{});
    EXPECT_EQ(readPropertyListFile(dir / "p.plist").value(), Value(Dictionary{{"after", 1}}));

    // A temporary that a live writer still holds is left alone, as are other files' temporaries.
    const auto busy = dir / ".p.plist.tmp-1-1";
    const auto other = dir / ".q.plist.tmp-1-1";
    std::ofstream(other) << "x";
    int fd = ::open(busy.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    ASSERT_TRUE(writePropertyListFile(Dictionary{{"again", 2}}, dir / "p.plist").ok());
    (void)readPropertyListFile(dir / "p.plist");
    EXPECT_TRUE(std::filesystem::exists(busy));
    EXPECT_TRUE(std::filesystem::exists(other));
    ::close(fd);  // the writer is gone now
    (void)readPropertyListFile(dir / "p.plist");
    EXPECT_FALSE(std::filesystem::exists(busy));
    EXPECT_TRUE(std::filesystem::exists(other));
}

TEST(PropertyList, DatesSurviveEverySaveUnchanged) {
    hxtest::TempDir dir;
    // After 2001 with a fraction the stored double holds a hair below its microsecond, before
    // 2001 (negative in the file), on whole seconds, and the file format's epoch itself.
    const std::vector<double> dates = {1577836800.000274, 1700000000.25,    978307199.5, 978307200.0,
                                       641977689.125,     946684799.999999, 978307200.75};
    Array written;
    for (double d : dates) written.emplace_back(Date{d});
    Value current(written);
    for (int save = 0; save < 5; ++save) {
        ASSERT_TRUE(writePropertyListFile(current, dir / "d.plist").ok());
        auto back = readPropertyListFile(dir / "d.plist");
        ASSERT_TRUE(back.ok());
        ASSERT_EQ(back.value().asArray().size(), dates.size());
        for (size_t i = 0; i < dates.size(); ++i) {
            const double got = back.value().asArray()[i].ifDate()->secondsSince1970;
            EXPECT_NEAR(got, dates[i], 5e-7) << "date " << i << " after save " << save;
        }
        current = back.value();
    }
}
