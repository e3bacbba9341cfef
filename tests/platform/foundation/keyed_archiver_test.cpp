#include "platform/foundation/keyed_archiver.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <thread>

#include "platform/foundation/property_list.h"
#include "tests/support/test_support.h"

using namespace foundation;

namespace {

struct TestPhone : Archivable {
    std::string name;
    int64_t phoneId = 0;
    bool forwarded = false;
    bool verified = true;

    std::string className() const override { return "TestPhone"; }
    void encode(Coder& c) const override {
        c.encodeString("name", name);
        c.encodeInt64("phoneId", phoneId);
        c.encodeBool("forwarded", forwarded);
        c.encodeBool("verified", verified);
    }
    static std::shared_ptr<TestPhone> decode(Decoder& d) {
        auto p = std::make_shared<TestPhone>();
        p->name = d.decodeString("name").value_or("");
        p->phoneId = d.decodeInt32("phoneId");
        p->forwarded = d.decodeBool("forwarded");
        p->verified = d.containsValue("verified") ? d.decodeBool("verified") : true;
        return p;
    }
};

struct TestAccount : Archivable {
    std::string username;
    std::optional<std::string> balance;
    std::map<int64_t, std::shared_ptr<TestPhone>> phones;
    std::vector<std::shared_ptr<TestPhone>> history;
    int64_t forwardingPhoneID = 0;
    int64_t thisPhoneID = -1;
    bool callOptions = false;
    Dictionary quickSettings;  // name -> archive data
    Dictionary refreshDates;   // tag -> date
    bool legacy = false;       // written like an old version: no callOptions, no thisPhoneID

    std::string className() const override { return "TestAccount"; }
    void encode(Coder& c) const override {
        c.encodeString("username", username);
        if (balance) c.encodeString("balance", *balance);
        c.encodeDictionary("phones", phones);
        c.encodeArray("history", history);
        c.encodeInt64("forwardingPhoneID", forwardingPhoneID);
        if (!legacy) {
            c.encodeInt64("thisPhoneID", thisPhoneID);
            c.encodeBool("callOptions", callOptions);
        }
        c.encodeValue("quickSettings", quickSettings.empty() ? Value() : Value(quickSettings));
        c.encodeValue("refreshDates", refreshDates);
        c.encodeValue("$odd", "dollar key");
    }
    static std::shared_ptr<TestAccount> decode(Decoder& d) {
        auto a = std::make_shared<TestAccount>();
        a->username = d.decodeString("username").value_or("");
        a->balance = d.decodeString("balance");
        if (auto phones = d.decodeDictionary<TestPhone>("phones")) {
            for (auto& [k, p] : *phones) a->phones[k.number()] = p;
        }
        a->history = d.decodeArray<TestPhone>("history").value_or(std::vector<std::shared_ptr<TestPhone>>{});
        a->forwardingPhoneID = d.decodeInt32("forwardingPhoneID");
        a->thisPhoneID = d.containsValue("thisPhoneID") ? d.decodeInt32("thisPhoneID") : -1;
        a->callOptions = d.containsValue("callOptions") ? d.decodeBool("callOptions") : true;
        a->quickSettings = d.decodeValue("quickSettings").asDictionary();
        a->refreshDates = d.decodeValue("refreshDates").asDictionary();
        if (d.decodeString("$odd") != std::optional<std::string>("dollar key")) return nullptr;
        return a;
    }
};

// Refuses every archive, as a class does when required values are missing.
struct Refusing : Archivable {
    std::string className() const override { return "TestRefusing"; }
    void encode(Coder&) const override {}
};

// Encodes itself by reference: a cycle the encoder must stop.
struct SelfReferencing : Archivable {
    std::string className() const override { return "TestSelf"; }
    void encode(Coder& c) const override { c.encodeObject("me", *this); }
};

class KeyedArchiver : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        auto& r = ArchiveClassRegistry::shared();
        r.registerClass<TestPhone>("TestPhone");
        r.registerClass<TestAccount>("TestAccount");
        r.registerClass("TestRefusing", [](Decoder&) { return std::shared_ptr<Archivable>(); });
        r.registerClass("TestThrowing",
                        [](Decoder&) -> std::shared_ptr<Archivable> { throw std::runtime_error("boom"); });
    }

    static std::shared_ptr<TestAccount> sampleAccount() {
        auto a = std::make_shared<TestAccount>();
        a->username = "user@example.test";
        a->balance = "$1.25";
        for (int64_t id : {int64_t{1}, int64_t{2}, int64_t{0x1'0000'0003}}) {
            auto p = std::make_shared<TestPhone>();
            p->name = "Phone \xC3\xA9 " + std::to_string(id);
            p->phoneId = id;
            p->forwarded = id == 2;
            a->phones[id] = p;
        }
        a->history = {a->phones[1], a->phones[2], a->phones[1]};
        a->forwardingPhoneID = -2;
        a->thisPhoneID = -1;
        a->callOptions = false;
        TestPhone qs;
        qs.name = "nested archive";
        a->quickSettings.set("Home", archivedData(qs).value());
        a->refreshDates.set("SMS", Date{1700000000.123456789});
        return a;
    }
};

UnarchiveOptions allowing(std::set<std::string> classes) {
    UnarchiveOptions options;
    options.allowedClasses = std::move(classes);
    return options;
}

Result<std::shared_ptr<TestAccount>> roundTrip(const TestAccount& a, UnarchiveOptions options = {}) {
    auto data = archivedData(a);
    if (!data.ok()) return data.error();
    return unarchivedObject<TestAccount>(data.value(), std::move(options));
}

std::string runPython(const std::filesystem::path& dir, const std::string& script, const std::string& args) {
    { std::ofstream(dir / "script.py") << script; }
    std::string out;
    int rc = hxtest::runCommand("/usr/bin/python3 " + (dir / "script.py").string() + " " + args + " 2>&1", &out);
    EXPECT_EQ(rc, 0) << out;
    return out;
}

Data readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

TEST_F(KeyedArchiver, RoundTripKeepsKindsDefaultsAndNumberKeys) {
    auto a = sampleAccount();
    auto back = roundTrip(*a);
    ASSERT_TRUE(back.ok()) << back.error().description();
    const TestAccount& b = *back.value();
    EXPECT_EQ(b.username, "user@example.test");
    EXPECT_EQ(b.balance, "$1.25");
    ASSERT_EQ(b.phones.size(), 3u);
    EXPECT_EQ(b.phones.at(2)->name, "Phone \xC3\xA9 2");
    EXPECT_TRUE(b.phones.at(2)->forwarded);
    EXPECT_FALSE(b.phones.at(1)->forwarded);
    // 64-bit ids read through their 32-bit value, sign-extended: -1 and -2 survive.
    EXPECT_EQ(b.forwardingPhoneID, -2);
    EXPECT_EQ(b.thisPhoneID, -1);
    EXPECT_EQ(b.phones.at(0x1'0000'0003)->phoneId, 3);
    EXPECT_FALSE(b.callOptions);
    EXPECT_EQ(b.refreshDates.get("SMS"), Value(Date{1700000000.123456789}));
    auto nested = unarchivedObject<TestPhone>(b.quickSettings.get("Home").asData());
    ASSERT_TRUE(nested.ok());
    EXPECT_EQ(nested.value()->name, "nested archive");
    // One object encoded in several places comes back as one shared object.
    ASSERT_EQ(b.history.size(), 3u);
    EXPECT_EQ(b.history[0], b.history[2]);
    EXPECT_EQ(b.history[0], b.phones.at(1));

    // An archive from an older version lacks keys: the callers' defaults apply.
    auto old = sampleAccount();
    old->legacy = true;
    old->balance.reset();
    old->quickSettings.clear();
    auto legacy = roundTrip(*old);
    ASSERT_TRUE(legacy.ok()) << legacy.error().description();
    EXPECT_EQ(legacy.value()->thisPhoneID, -1);
    EXPECT_TRUE(legacy.value()->callOptions);
    EXPECT_FALSE(legacy.value()->balance.has_value());
    EXPECT_TRUE(legacy.value()->quickSettings.empty());
}

TEST_F(KeyedArchiver, PresenceNilAndTypedReads) {
    Coder c;
    c.encodeValue("nil", Value());
    c.encodeBool("flag", true);
    c.encodeInt64("big", 0x7FFF'FFFF'FFFFLL);
    c.encodeDouble("pi", 3.25);
    c.encodeValue("plain", Dictionary{{"list", Array{1, "two", Data{3}, Date{5}}}, {9, false}});
    c.encodeValue("words", "text");
    auto data = c.finish();
    ASSERT_TRUE(data.ok());
    auto d = Decoder::open(data.value());
    ASSERT_TRUE(d.ok());
    Decoder& r = **d;
    EXPECT_TRUE(r.containsValue("nil"));
    EXPECT_FALSE(r.containsValue("missing"));
    EXPECT_TRUE(r.decodeValue("nil").isNull());
    EXPECT_EQ(r.decodeString("missing"), std::nullopt);
    EXPECT_EQ(r.decodeInt64("missing", 7), 7);
    EXPECT_TRUE(r.decodeBool("flag"));
    EXPECT_EQ(r.decodeInt64("flag"), 1);
    EXPECT_EQ(r.decodeInt64("big"), 0x7FFF'FFFF'FFFFLL);
    EXPECT_EQ(r.decodeInt32("big"), -1);
    EXPECT_EQ(r.decodeInt64("pi"), 3);
    EXPECT_EQ(r.decodeDouble("pi"), 3.25);
    EXPECT_EQ(r.decodeValue("plain"), Value(Dictionary{{"list", Array{1, "two", Data{3}, Date{5}}}, {9, false}}));
    EXPECT_TRUE(r.decodeValue("plain")["list"].at(0).isInt());
    EXPECT_FALSE(r.failed());
    // A value of the wrong kind fails the whole decoding.
    EXPECT_EQ(r.decodeInt64("words", 4), 4);
    EXPECT_TRUE(r.failed());
    EXPECT_EQ(r.error()->code, kArchiveReadCorruptError);
}

TEST_F(KeyedArchiver, WrongTypesAreErrors) {
    Coder c;
    c.encodeValue("number", 5);
    c.encodeObject("phone", std::make_shared<TestPhone>());
    auto data = c.finish().value();
    auto expectFailure = [&](const std::function<void(Decoder&)>& read) {
        auto d = Decoder::open(data);
        ASSERT_TRUE(d.ok());
        read(**d);
        EXPECT_TRUE((*d)->failed());
    };
    expectFailure([](Decoder& d) { (void)d.decodeString("number"); });
    expectFailure([](Decoder& d) { (void)d.decodeData("number"); });
    expectFailure([](Decoder& d) { (void)d.decodeObject<TestPhone>("number"); });
    expectFailure([](Decoder& d) { (void)d.decodeObject<TestAccount>("phone"); });
    expectFailure([](Decoder& d) { (void)d.decodeValue("phone"); });
    expectFailure([](Decoder& d) { (void)d.decodeArray<TestPhone>("phone"); });
    expectFailure([](Decoder& d) { (void)d.decodeBool("phone"); });
}

TEST_F(KeyedArchiver, SecureDecodingChecksEveryClass) {
    auto a = sampleAccount();
    std::set<std::string> all = {"TestAccount", "TestPhone", "NSString", "NSNumber",
                                 "NSData",      "NSDate",    "NSArray",  "NSDictionary"};
    EXPECT_TRUE(roundTrip(*a, allowing(all)).ok());
    for (const std::string& missing : all) {
        auto list = all;
        list.erase(missing);
        auto r = roundTrip(*a, allowing(list));
        ASSERT_FALSE(r.ok()) << missing;
        EXPECT_NE(r.error().localizedDescription().find(missing), std::string::npos)
            << r.error().localizedDescription();
    }
    // Mutable variants allow the same kinds.
    auto mutableNames = all;
    mutableNames.erase("NSArray");
    mutableNames.erase("NSData");
    mutableNames.insert({"NSMutableArray", "NSMutableData"});
    EXPECT_TRUE(roundTrip(*a, allowing(mutableNames)).ok());
}

TEST_F(KeyedArchiver, RenamedClassesAndRegistries) {
    struct OldPhone : TestPhone {
        std::string className() const override { return "ZVOldPhone"; }
    };
    auto data = archivedData(OldPhone{}).value();
    UnarchiveOptions renaming;
    renaming.classNameMap = {{"ZVOldPhone", "TestPhone"}};
    EXPECT_FALSE(unarchivedObject<TestPhone>(data).ok());  // not registered under the old name
    auto mapped = unarchivedObject<TestPhone>(data, renaming);
    ASSERT_TRUE(mapped.ok()) << mapped.error().description();
    // The allow list applies to the current name.
    UnarchiveOptions secure = allowing({"TestPhone", "NSString"});
    secure.classNameMap = renaming.classNameMap;
    EXPECT_TRUE(unarchivedObject<TestPhone>(data, secure).ok());
    secure.allowedClasses = std::set<std::string>{"ZVOldPhone", "NSString"};
    EXPECT_FALSE(unarchivedObject<TestPhone>(data, secure).ok());
    ArchiveClassRegistry empty;
    UnarchiveOptions other;
    other.registry = &empty;
    EXPECT_FALSE(unarchivedObject<TestPhone>(archivedData(TestPhone{}).value(), other).ok());
}

TEST_F(KeyedArchiver, FactoriesThatRefuseOrThrowAreErrors) {
    EXPECT_FALSE(unarchivedAny(archivedData(Refusing{}).value()).ok());
    struct Throwing : Refusing {
        std::string className() const override { return "TestThrowing"; }
    };
    auto r = unarchivedAny(archivedData(Throwing{}).value());
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().localizedDescription().find("boom"), std::string::npos);
}

TEST_F(KeyedArchiver, EncodingRefusesWhatCannotBeStored) {
    EXPECT_FALSE(archivedData(Value(Array{1, Value()})).ok());
    EXPECT_FALSE(archivedData(Value("\xFF")).ok());
    EXPECT_FALSE(archivedData(SelfReferencing{}).ok());
    Coder c;
    c.encodeBool(std::string_view("a\0b", 3), true);
    EXPECT_FALSE(c.finish().ok());
    std::vector<std::shared_ptr<TestPhone>> withNil = {nullptr};
    EXPECT_FALSE(archivedDataWithArray(withNil).ok());
}

TEST_F(KeyedArchiver, RootFormsAndPlainValues) {
    std::vector<std::shared_ptr<TestPhone>> phones = {std::make_shared<TestPhone>(), std::make_shared<TestPhone>()};
    phones[1]->name = "second";
    auto list = unarchivedArray<TestPhone>(archivedDataWithArray(phones).value());
    ASSERT_TRUE(list.ok());
    ASSERT_EQ(list.value().size(), 2u);
    EXPECT_EQ(list.value()[1]->name, "second");
    Value plain = Dictionary{{"a", Array{Data{1, 2}, 3.5, true}}};
    EXPECT_EQ(unarchivedValue(archivedData(plain).value()).value(), plain);
    auto any = unarchivedAny(archivedData(Value(Data{9})).value());
    ASSERT_TRUE(any.ok());
    EXPECT_EQ(any.value().value, Value(Data{9}));
    auto obj = unarchivedAny(archivedData(*phones[1]).value());
    ASSERT_TRUE(obj.ok());
    ASSERT_TRUE(std::dynamic_pointer_cast<TestPhone>(obj.value().object));
    EXPECT_FALSE(unarchivedObject<TestPhone>(archivedData(Value()).value()).ok());  // nil root
}

TEST_F(KeyedArchiver, PythonPlistlibReadsTheArchive) {
    if (!hxtest::haveProgram("/usr/bin/python3")) GTEST_SKIP() << "no python3";
    hxtest::TempDir dir;
    auto data = archivedData(*sampleAccount());
    ASSERT_TRUE(data.ok());
    {
        std::ofstream out(dir / "a.archive", std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.value().data()),
                  static_cast<std::streamsize>(data.value().size()));
    }
    const std::string script = "import plistlib,sys\n"
                               "p=plistlib.load(open(sys.argv[1],'rb'))\n"
                               "objs=p['$objects']\n"
                               "assert objs[0]=='$null'\n"
                               "def cls(o): return objs[o['$class'].data]['$classname']\n"
                               "root=objs[p['$top']['root'].data]\n"
                               "assert cls(root)=='TestAccount'\n"
                               "assert objs[root['username'].data]=='user@example.test'\n"
                               "assert root['forwardingPhoneID']==-2 and root['callOptions'] is False\n"
                               "assert objs[root['$$odd'].data]=='dollar key'\n"
                               "phones=objs[root['phones'].data]\n"
                               "assert cls(phones)=='NSDictionary'\n"
                               "keys=[objs[k.data] for k in phones['keys']]\n"
                               "assert keys==[1,2,0x100000003], keys\n"
                               "p2=objs[phones['objects'][1].data]\n"
                               "assert cls(p2)=='TestPhone' and p2['forwarded'] is True and p2['phoneId']==2\n"
                               "hist=objs[root['history'].data]\n"
                               "assert hist['objects'][0]==hist['objects'][2]==phones['objects'][0]\n"
                               "qs=objs[root['quickSettings'].data]\n"
                               "inner=plistlib.loads(objs[qs['objects'][0].data])\n"
                               "assert inner['$archiver']=='HXKeyedArchive'\n"
                               "print('ok')\n";
    EXPECT_EQ(runPython(dir.path(), script, (dir / "a.archive").string()), "ok\n");
}

TEST_F(KeyedArchiver, HostileArchivesFailCleanly) {
    if (!hxtest::haveProgram("/usr/bin/python3")) GTEST_SKIP() << "no python3";
    hxtest::TempDir dir;
    const std::string script =
        "import plistlib,sys,os\n"
        "U=plistlib.UID\n"
        "def arc(objs,root=1,name='HXKeyedArchive'):\n"
        "  return "
        "plistlib.dumps({'$archiver':name,'$version':1,'$top':{'root':U(root)},'$objects':objs},fmt=plistlib.FMT_"
        "BINARY)\n"
        "A={'$classname':'NSArray','$classes':['NSArray']}\n"
        "D={'$classname':'NSDictionary','$classes':['NSDictionary']}\n"
        "P={'$classname':'TestPhone','$classes':['TestPhone']}\n"
        "out={}\n"
        "out['self_array']=arc(['$null',{'$class':U(2),'objects':[U(1)]},A])\n"
        "out['object_cycle']=arc(['$null',{'$class':U(2),'name':U(3),'phoneId':U(1)},P,'x'])\n"
        "out['account_cycle']=arc(['$null',{'$class':U(2),'username':U(3),'phones':U(4),'$$odd':U(6)},"
        "{'$classname':'TestAccount'},'u',{'$class':U(5),'keys':[U(7)],'objects':[U(1)]},D,'dollar key',1])\n"
        "out['bad_uid']=arc(['$null',{'$class':U(2),'objects':[U(99)]},A])\n"
        "out['bad_root']=arc(['$null'],root=5)\n"
        "out['bad_class_ref']=arc(['$null',{'$class':U(77)}])\n"
        "out['class_not_dict']=arc(['$null',{'$class':U(2)},'str'])\n"
        "out['no_null']=arc(['x',{'$class':U(2)},A])\n"
        "out['wrong_archiver']=arc(['$null','x'],name='other')\n"
        "out['unknown_class']=arc(['$null',{'$class':U(2)},{'$classname':'Nope'}])\n"
        "out['key_count']=arc(['$null',{'$class':U(2),'keys':[U(3),U(3)],'objects':[U(3)]},D,'k'])\n"
        "out['bad_key_type']=arc(['$null',{'$class':U(2),'keys':[U(3)],'objects':[U(3)]},D,b'data'])\n"
        "out['items_not_uids']=arc(['$null',{'$class':U(2),'objects':[1,2]},A])\n"
        "out['phone_wrong_types']=arc(['$null',{'$class':U(2),'name':5,'phoneId':'x'},P])\n"
        "objs=['$null',A]\n"
        "for i in range(2000): objs.append({'$class':U(1),'objects':[U(len(objs)+1)]})\n"
        "objs.append('leaf')\n"
        "out['deep']=arc(objs,root=2)\n"
        "objs=['$null',A]\n"
        "for i in range(60): objs.append({'$class':U(1),'objects':[U(len(objs)+1)]*2})\n"
        "objs.append('x'*1000)\n"
        "out['dag_bomb']=arc(objs,root=2)\n"
        "for k,v in out.items(): open(os.path.join(sys.argv[1],k+'.bin'),'wb').write(v)\n"
        "print(len(out))\n";
    ASSERT_EQ(runPython(dir.path(), script, dir.path().string()), "16\n");
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        if (entry.path().extension() != ".bin") continue;
        Data bytes = readFile(entry.path());
        auto any = unarchivedAny(bytes);
        EXPECT_FALSE(any.ok()) << entry.path().filename();
        if (!any.ok()) {
            EXPECT_EQ(any.error().code, kArchiveReadCorruptError);
        }
        EXPECT_FALSE(unarchivedObject<TestPhone>(bytes).ok()) << entry.path().filename();
        EXPECT_FALSE(unarchivedValue(bytes).ok()) << entry.path().filename();
    }
}

TEST_F(KeyedArchiver, RandomCorruptionNeverCrashes) {
    auto good = archivedData(*sampleAccount()).value();
    std::mt19937 rng(1234);
    int decoded = 0;
    for (int round = 0; round < 3000; ++round) {
        Data bad = good;
        const int flips = 1 + static_cast<int>(rng() % 4);
        for (int f = 0; f < flips; ++f) bad[rng() % bad.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
        if (round % 7 == 0) bad.resize(rng() % bad.size());
        auto r = unarchivedObject<TestAccount>(bad);
        if (r.ok()) ++decoded;
    }
    // Some corruptions hit only string bytes and still decode; most must not.
    EXPECT_LT(decoded, 3000);
}

// A worker may still be decoding (a telemetry flush on a pool thread) while the process exits:
// the shared registry must outlive the exit handlers, or the worker reads a destroyed table (a
// race the thread sanitizer reports, and a crash or garbage in any build). The child decodes on a
// thread of its own and exits beside it; it must end cleanly.
TEST(KeyedArchiverExit, AThreadStillDecodingWhileTheProcessExitsReadsALiveRegistry) {
    hxtest::TempDir dir;
    for (int i = 0; i < 3; ++i) {
        auto run = hxtest::runChild("KeyedArchiverExitChild.Run", {"HX_ARCHIVER_EXIT_CHILD=1"},
                                    (dir / ("output-" + std::to_string(i) + ".txt")).string());
        EXPECT_TRUE(run.said("decoding")) << run.output;
        EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.output;
    }
}

TEST(KeyedArchiverExitChild, Run) {
    if (!std::getenv("HX_ARCHIVER_EXIT_CHILD")) GTEST_SKIP() << "a child of KeyedArchiverExit";
    ArchiveClassRegistry::shared().registerClass<TestPhone>("TestPhone");
    TestPhone phone;
    phone.name = "worker";
    const auto data = archivedData(phone).value();
    std::atomic<bool> started{false};
    std::thread([data, &started] {
        for (;;) {
            if (!unarchivedObject<TestPhone>(data).ok()) std::_Exit(3);
            started.store(true);
        }
    }).detach();
    while (!started.load()) std::this_thread::yield();
    hxtest::tellParent("decoding");
    std::exit(0);
}
