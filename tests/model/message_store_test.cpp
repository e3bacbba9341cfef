// The per-account message store through the application object: templates, the save path to
// disk, the opening rules of a damaged, incompatible or busy file, and per-user separation.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <fstream>

#include "app/connect_app_delegate.h"
#include "model/conversation.h"
#include "model/message_store.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/store/context.h"
#include "platform/store/coordinator.h"
#include "platform/store/store_error.h"
#include "tests/support/log_capture.h"
#include "tests/support/test_support.h"

namespace {

using foundation::Array;
using foundation::Date;
using foundation::Dictionary;
using foundation::Value;

class TestDelegate : public HX_ConnectAppDelegate {
public:
    std::string username;
    std::string currentUsername() const override { return username; }
};

class MessageStore : public ::testing::Test {
protected:
    void SetUp() override {
        foundation::setHomeDirectory(home.path());
        delegate = std::make_shared<TestDelegate>();
        delegate->setStoreBusyTimeout(0);
    }
    void TearDown() override { dispatch::setClock(nullptr); }

    store::ManagedObjectPtr conversation(const store::ContextPtr& ctx, const std::string& id, int type,
                                         Dictionary values = {}) {
        auto c = ctx->insertNewObject("HX_Conversation").value();
        EXPECT_TRUE(c->setValue("conversationID", id).ok());
        EXPECT_TRUE(c->setValue("type", type).ok());
        for (const auto& [k, v] : values) EXPECT_TRUE(c->setValue(k.string(), v).ok());
        return c;
    }
    size_t countOnDisk(const std::string& user) {
        auto coordinator = store::Coordinator::create(HXMessageStore::managedObjectModel());
        auto added = coordinator->addPersistentStore(HX_ConnectAppDelegate::storePathForAccount(user),
                                                     HXMessageStore::storeOptions(0));
        EXPECT_TRUE(added.ok());
        if (!added.ok()) return SIZE_MAX;
        auto main = store::Context::create(store::ConcurrencyType::MainQueue);
        main->setPersistentStoreCoordinator(coordinator);
        return main->count(store::FetchRequest("HX_Conversation")).value();
    }

    hxtest::TempDir home;
    std::shared_ptr<TestDelegate> delegate;
};

std::string bytesOf(const std::string& file) {
    auto read = foundation::files::readString(file);
    return read.ok() ? read.value() : "<" + read.error().localizedDescription() + ">";
}

std::vector<std::string> ids(const std::vector<store::ManagedObjectPtr>& objects) {
    std::vector<std::string> out;
    for (const auto& o : objects) out.push_back(o->value("conversationID").asString());
    std::sort(out.begin(), out.end());
    return out;
}

TEST_F(MessageStore, StoreNamesAndNoUser) {
    EXPECT_EQ(HXMessageStore::storeFileName(std::nullopt), "MessageData.sqlite");
    EXPECT_EQ(HXMessageStore::storeFileName("a.b@mail.example"), "MessageData-a.b@mail.example.sqlite");
    // A user name cannot climb out of the documents folder.
    auto path = std::filesystem::path(HX_ConnectAppDelegate::storePathForAccount("../../x/y"));
    EXPECT_EQ(path.parent_path(), foundation::documentsDirectory());
    EXPECT_EQ(delegate->managedObjectContext(), nullptr);
    EXPECT_TRUE(delegate->persistentStoreCoordinator().ok());
    EXPECT_EQ(delegate->persistentStoreCoordinator().value(), nullptr);
}

TEST_F(MessageStore, EachTemplateSelectsExactlyItsRows) {
    delegate->username = "t@example.com";
    auto main = delegate->managedObjectContext();
    ASSERT_TRUE(main);
    const Date d100{100}, d200{200}, d300{300};
    conversation(main, "sms-unread", 10, {{"isRead", false}, {"phoneNumber", "+15550001"}, {"lastdate", d200}});
    conversation(main, "sms-read", 10,
                 {{"isRead", true}, {"phoneNumber", "+15550002"}, {"lastdate", d100}, {"ABName", "Ann"}});
    conversation(main, "vm-unread", 2, {{"isRead", false}, {"phoneNumber", "+15550002"}, {"lastdate", d300}});
    conversation(
        main, "group", 10,
        {{"isRead", true}, {"sender", "Group Message"}, {"phoneNumber", "+15550003|+15550002"}, {"lastdate", d200}});
    conversation(main, "trash", 10, {{"isTrash", true}, {"isRead", true}, {"lastdate", d200}});
    auto m1 = main->insertNewObject("HX_Message").value();
    auto m2 = main->insertNewObject("HX_Message").value();
    ASSERT_TRUE(m1->setValue("id", "indexed").ok());
    ASSERT_TRUE(m1->setValue("isIndexedForSearch", true).ok());
    ASSERT_TRUE(m2->setValue("id", "plain").ok());
    ASSERT_TRUE(main->save().ok());

    auto model = delegate->managedObjectModel();
    auto run = [&](const std::string& name, Dictionary vars) {
        auto request = model->fetchRequestFromTemplate(name, vars);
        EXPECT_TRUE(request.ok()) << name;
        if (!request.ok()) return std::vector<std::string>{};
        auto rows = main->fetch(request.value());
        EXPECT_TRUE(rows.ok()) << name;
        return rows.ok() ? ids(rows.value()) : std::vector<std::string>{};
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(run("cv_unread", {{"TYPELIST", Array{10}}}), V{"sms-unread"});
    EXPECT_EQ(run("cv_unread", {{"TYPELIST", Array{2, 10}}}), (V{"sms-unread", "vm-unread"}));
    EXPECT_EQ(run("cv_type", {{"TYPELIST", Array{2}}}), V{"vm-unread"});
    EXPECT_EQ(run("cv_ID", {{"ID", "group"}}), V{"group"});
    EXPECT_EQ(run("cv_phone", {{"NUMBER", "+15550002"}}), (V{"sms-read", "vm-unread"}));
    // ABName != NAME: the nil name of vm-unread differs from "Ann" too.
    EXPECT_EQ(run("cv_phone_abname", {{"NUMBER", "+15550002"}, {"NAME", "Ann"}}), V{"vm-unread"});
    EXPECT_EQ(run("cv_group_abname", {{"NUMBER", "+15550002"}, {"GROUP_MESSAGE_HEADER", "Group Message"}}), V{"group"});
    EXPECT_EQ(run("cv_stale", {{"TYPELIST", Array{10}},
                               {"FIRSTMESSAGE", d100},
                               {"LASTMESSAGE", d200},
                               {"IDLIST", Array{"group"}},
                               {"ISTRASH", false},
                               {"ISSPAM", false}}),
              (V{"sms-read", "sms-unread"}));
    EXPECT_EQ(run("cv_stale", {{"TYPELIST", Array{10}},
                               {"FIRSTMESSAGE", d100},
                               {"LASTMESSAGE", d200},
                               {"IDLIST", Array{}},
                               {"ISTRASH", true},
                               {"ISSPAM", false}}),
              V{"trash"});
    auto unindexed = main->fetch(model->fetchRequestFromTemplate("msg_unindexed", {}).value());
    ASSERT_TRUE(unindexed.ok());
    ASSERT_EQ(unindexed.value().size(), 1u);
    EXPECT_EQ(unindexed.value()[0]->value("id").asString(), "plain");
}

TEST_F(MessageStore, AChildSaveAloneIsNotOnDiskARootSaveIs) {
    dispatch::ScopedVirtualClock clock;
    delegate->username = "disk@example.com";
    auto child = delegate->newChildContext();
    ASSERT_TRUE(child);
    EXPECT_EQ(delegate->mocAccessCount(), 1u);
    std::atomic<bool> saved{false};
    store::ContextPtr seen;
    HXMessageStore::performWithThreadContext(child, [&] {
        seen = HXMessageStore::currentThreadContext();
        conversation(child, "c1", 10);
        EXPECT_TRUE(child->save().ok());
        saved = true;
    });
    ASSERT_TRUE(clock->runUntil([&] { return saved.load(); }, 10));
    EXPECT_EQ(seen, child);
    EXPECT_EQ(HXMessageStore::currentThreadContext(), nullptr);
    EXPECT_EQ(countOnDisk("disk@example.com"), 0u);
    ASSERT_TRUE(delegate->managedObjectContext()->save().ok());
    EXPECT_EQ(countOnDisk("disk@example.com"), 1u);
    delegate->decreaseMocAccessCount();
    delegate->decreaseMocAccessCount();
    EXPECT_EQ(delegate->mocAccessCount(), 0u);
    // Journal mode DELETE leaves one file behind, as the sqlite3 tool confirms.
    auto path = HX_ConnectAppDelegate::storePathForAccount("disk@example.com");
    EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
    if (hxtest::haveProgram("sqlite3")) {
        std::string out;
        ASSERT_EQ(hxtest::runCommand("sqlite3 '" + path + "' 'PRAGMA journal_mode;'", &out), 0);
        EXPECT_EQ(out, "delete\n");
    }
}

// A damaged file (random bytes, a store cut in half, a text, another program's tables) used to be
// deleted at the first request of the store, with all a user kept in it. Now it goes aside beside
// the store, byte for byte, with one line on standard error, and a fresh store
// takes its place; a second damaged file does not replace the first one kept.
TEST_F(MessageStore, ADamagedFileIsSetAsideWithItsBytesAndALineAndAFreshStoreMade) {
    std::filesystem::create_directories(foundation::documentsDirectory());
    std::string halfStore;
    {
        // A real store with enough rows to span many pages, cut in half.
        delegate->username = "whole@example.com";
        auto main = delegate->managedObjectContext();
        for (int i = 0; i < 400; ++i)
            conversation(main, "c" + std::to_string(i), 10, {{"note", std::string(200, 'n')}});
        ASSERT_TRUE(main->save().ok());
        delegate = nullptr;
        auto whole = foundation::files::readString(HX_ConnectAppDelegate::storePathForAccount("whole@example.com"));
        ASSERT_TRUE(whole.ok());
        ASSERT_GT(whole.value().size(), 64u * 1024);
        halfStore = whole.value().substr(0, whole.value().size() / 2);
    }
    std::string random(8192, '\0');
    uint32_t seed = 75;
    for (auto& c : random) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    const std::string otherTables = [&] {
        const std::string scratch = (home.path() / "other.sqlite").string();
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open(scratch.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, "CREATE TABLE notes (x TEXT); INSERT INTO notes VALUES ('theirs');", nullptr,
                               nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
        return foundation::files::readString(scratch).value();
    }();
    const struct {
        const char* kind;
        std::string bytes;
    } cases[] = {{"random bytes", random},
                 {"half a store", halfStore},
                 {"a text", "this is not a database at all, just some text\n" + std::string(4000, 'x')},
                 {"another program's tables", otherTables}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        hxtest::LogCapture log;
        delegate = std::make_shared<TestDelegate>();
        delegate->setStoreBusyTimeout(0);
        delegate->username = "damaged@example.com";
        const auto path = HX_ConnectAppDelegate::storePathForAccount(delegate->username);
        std::filesystem::remove(path);
        ASSERT_TRUE(foundation::files::writeAtomically(path, c.bytes).ok());
        std::ofstream(path + "-journal") << "stale journal";
        auto main = delegate->managedObjectContext();
        ASSERT_TRUE(main);
        EXPECT_EQ(main->count(store::FetchRequest("HX_Conversation")).value(), 0u);
        conversation(main, "fresh", 10);
        ASSERT_TRUE(main->save().ok());
        EXPECT_EQ(countOnDisk(delegate->username), 1u);
        EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
        // Each damaged file is kept under the first free name, the earlier ones untouched.
        const std::string aside =
            path + (&c == &cases[0] ? ".unreadable" : ".unreadable-" + std::to_string(&c - cases + 1));
        EXPECT_EQ(bytesOf(aside), c.bytes);
        if (&c != &cases[0]) {
            EXPECT_EQ(bytesOf(path + ".unreadable"), random);
        }
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("the message store " + path + " could not be read"), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find("it was moved to " + aside), std::string::npos) << lines[0];
        delegate = nullptr;
    }
}

// A path the store cannot read as its own (a database whose Z_METADATA another program made, a
// folder) is set aside beside it, never deleted, and a fresh store made; before, it stayed shut at
// every launch with no store at all.
TEST_F(MessageStore, AnUnreadableStoreIsSetAsideAndCreatedAfresh) {
    std::filesystem::create_directories(foundation::documentsDirectory());
    // Another program's database with a Z_METADATA table of its own.
    delegate->username = "foreign@example.com";
    const auto foreign = HX_ConnectAppDelegate::storePathForAccount(delegate->username);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(foreign.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE Z_METADATA (Z_VERSION INTEGER, Z_PLIST BLOB); "
                           "INSERT INTO Z_METADATA VALUES (1, 'theirs');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    auto main = delegate->managedObjectContext();
    ASSERT_TRUE(main);
    conversation(main, "fresh", 10);
    ASSERT_TRUE(main->save().ok());
    EXPECT_EQ(countOnDisk(delegate->username), 1u);
    ASSERT_TRUE(std::filesystem::exists(foreign + ".unreadable"));
    ASSERT_EQ(sqlite3_open(std::string(foreign + ".unreadable").c_str(), &db), SQLITE_OK);
    std::string kept;
    sqlite3_exec(
        db, "SELECT Z_PLIST FROM Z_METADATA",
        [](void* out, int, char** values, char**) {
            *static_cast<std::string*>(out) = values[0] ? values[0] : "";
            return 0;
        },
        &kept, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(kept, "theirs") << "the other program's file is kept as it was";

    // A folder where the store belongs, twice: the first one set aside is not replaced.
    for (int round = 1; round <= 2; ++round) {
        auto d = std::make_shared<TestDelegate>();
        d->setStoreBusyTimeout(0);
        d->username = "folder@example.com";
        const auto path = HX_ConnectAppDelegate::storePathForAccount(d->username);
        std::filesystem::create_directories(path);
        std::ofstream(path + "/inside.txt") << "round " << round;
        auto context = d->managedObjectContext();
        ASSERT_TRUE(context) << round;
        EXPECT_EQ(context->count(store::FetchRequest("HX_Conversation")).value(), 0u);
        const std::string aside = path + (round == 1 ? ".unreadable" : ".unreadable-2");
        std::ifstream in(aside + "/inside.txt");
        std::string text;
        std::getline(in, text);
        EXPECT_EQ(text, "round " + std::to_string(round));
        std::filesystem::remove(path);  // the fresh store's file, for the next round's folder
    }
}

TEST_F(MessageStore, AnIncompatibleModelFileIsRecreated) {
    delegate->username = "old@example.com";
    auto path = HX_ConnectAppDelegate::storePathForAccount(delegate->username);
    std::filesystem::create_directories(foundation::documentsDirectory());
    {
        // A store whose conversations hold their type as text cannot be migrated by addition.
        auto model = std::make_shared<store::Model>();
        model->entity("HX_Conversation").attribute("type", store::AttributeType::String);
        ASSERT_TRUE(model->finish().ok());
        auto old = store::Coordinator::create(model);
        ASSERT_TRUE(old->addPersistentStore(path, HXMessageStore::storeOptions(0)).ok());
        auto ctx = store::Context::create(store::ConcurrencyType::MainQueue);
        ctx->setPersistentStoreCoordinator(old);
        ASSERT_TRUE(ctx->insertNewObject("HX_Conversation").value()->setValue("type", "x").ok());
        ASSERT_TRUE(ctx->save().ok());
    }
    hxtest::LogCapture log;
    auto main = delegate->managedObjectContext();
    ASSERT_TRUE(main);
    EXPECT_EQ(main->count(store::FetchRequest("HX_Conversation")).value(), 0u);
    // An older model of this store is emptied as before, not kept aside as damage.
    EXPECT_FALSE(std::filesystem::exists(path + ".unreadable"));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(MessageStore, ABusyFileIsKeptAndReportedThenOpensLater) {
    delegate->username = "busy@example.com";
    auto path = HX_ConnectAppDelegate::storePathForAccount(delegate->username);
    {
        auto main = delegate->managedObjectContext();
        conversation(main, "kept", 10);
        ASSERT_TRUE(main->save().ok());
    }
    auto second = std::make_shared<TestDelegate>();
    second->setStoreBusyTimeout(0);
    second->username = delegate->username;
    delegate.reset();  // closes the first connection
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr), SQLITE_OK);
    auto opened = second->openManagedObjectContext();
    ASSERT_FALSE(opened.ok());
    EXPECT_NE(opened.error().code, store::kIncompatibleVersionHashError);
    EXPECT_EQ(second->managedObjectContext(), nullptr);
    sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    // Nothing was deleted, and the next request opens the same file.
    auto main = second->managedObjectContext();
    ASSERT_TRUE(main);
    EXPECT_EQ(main->count(store::FetchRequest("HX_Conversation")).value(), 1u);
}

TEST_F(MessageStore, TwoUsersNeverShareRows) {
    delegate->username = "a@example.com";
    auto a = delegate->managedObjectContext();
    conversation(a, "of-a", 10);
    ASSERT_TRUE(a->save().ok());
    delegate->username = "b@example.com";
    auto b = delegate->managedObjectContext();
    ASSERT_NE(a, b);
    EXPECT_NE(delegate->persistentStoreCoordinator().value(), a->persistentStoreCoordinator());
    EXPECT_EQ(b->count(store::FetchRequest("HX_Conversation")).value(), 0u);
    conversation(b, "of-b", 10);
    ASSERT_TRUE(b->save().ok());
    delegate->username = "a@example.com";
    EXPECT_EQ(delegate->managedObjectContext(), a);
    EXPECT_EQ(ids(a->fetch(store::FetchRequest("HX_Conversation")).value()), std::vector<std::string>{"of-a"});
    EXPECT_EQ(countOnDisk("a@example.com"), 1u);
    EXPECT_EQ(countOnDisk("b@example.com"), 1u);
    // Resetting a's store leaves b's alone.
    ASSERT_TRUE(delegate->resetPersistentStore().ok());
    EXPECT_EQ(countOnDisk("a@example.com"), 0u);
    EXPECT_EQ(countOnDisk("b@example.com"), 1u);
}

TEST_F(MessageStore, FormattedNumberOfSpecialNumbersIsEmptyAndStored) {
    delegate->username = "f@example.com";
    auto main = delegate->managedObjectContext();
    for (const char* number : {"Group Message", "Unknown"}) {
        HX_Conversation c(conversation(main, number, 10, {{"phoneNumber", number}}));
        EXPECT_EQ(c.formattedNumber(), "");
        EXPECT_EQ(c.object()->value("formattedNumber"), Value(""));
    }
    HX_Conversation none(conversation(main, "none", 10));
    EXPECT_EQ(none.formattedNumber(), "");
    HX_Conversation stored(conversation(main, "s", 10, {{"phoneNumber", "+1555"}, {"formattedNumber", "kept"}}));
    EXPECT_EQ(stored.formattedNumber(), "kept");
    EXPECT_EQ(stored.contactImage(), nullptr);
}

}  // namespace
