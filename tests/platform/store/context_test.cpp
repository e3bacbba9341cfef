#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <functional>

#include <malloc.h>
#include <sqlite3.h>

#include "platform/foundation/notification_center.h"
#include "platform/store/fetched_results_controller.h"
#include "tests/platform/store/store_test_support.h"

namespace {

using foundation::Value;
using store::ConcurrencyType;
using store::Context;
using store::FetchRequest;
using store::Predicate;

class ContextTest : public ::testing::Test {
protected:
    dispatch::ScopedVirtualClock clock;
    hxtest::TempDir dir;
    std::string path = (dir / "ctx.sqlite").string();
    store::CoordinatorPtr coordinator = storetest::openStore(path);
    store::ContextPtr main = Context::create(ConcurrencyType::MainQueue);

    void SetUp() override { main->setPersistentStoreCoordinator(coordinator); }

    store::ContextPtr child() {
        auto c = Context::create(ConcurrencyType::PrivateQueue);
        c->setParentContext(main);
        return c;
    }

    store::ManagedObjectPtr conversation(const store::ContextPtr& ctx, const std::string& id, int type = 10) {
        auto c = ctx->insertNewObject("HX_Conversation").value();
        EXPECT_TRUE(c->setValue("conversationID", id).ok());
        EXPECT_TRUE(c->setValue("type", type).ok());
        return c;
    }

    store::ManagedObjectPtr message(const store::ContextPtr& ctx, const store::ManagedObjectPtr& conv, int64_t number) {
        auto m = ctx->insertNewObject("HX_Message").value();
        EXPECT_TRUE(m->setValue("number", number).ok());
        EXPECT_TRUE(m->setObject("Conversation", conv).ok());
        return m;
    }

    // The numbers of the conversation's messages, ascending.
    static std::vector<int64_t> numbers(const store::ManagedObjectPtr& c) {
        std::vector<int64_t> out;
        for (const auto& m : c->objects("Messages")) out.push_back(m->value("number").int64Value());
        std::sort(out.begin(), out.end());
        return out;
    }

    // Runs work in the root context and then in a child of it (saved into the root after), each
    // with a conversation id of its own, and checks what the store then holds of that
    // conversation's messages: column of each, in the order of their numbers.
    void inRootAndChild(const std::function<void(const store::ContextPtr& ctx, const std::string& id)>& work,
                        const std::string& column, const std::string& stored) {
        for (bool inChild : {false, true}) {
            SCOPED_TRACE(inChild ? "in a child" : "in the root");
            auto ctx = inChild ? child() : main;
            const std::string id = inChild ? "c" : "r";
            ctx->performAndWait([&] { work(ctx, id); });
            if (inChild) {
                ASSERT_TRUE(main->save().ok());
            }
            EXPECT_EQ(storetest::sqlite(path, "SELECT group_concat(x) FROM (SELECT " + column +
                                                  " AS x FROM HX_Message m JOIN HX_Conversation c ON m.Conversation = "
                                                  "c.Z_PK WHERE c.conversationID = '" +
                                                  id + "' ORDER BY m.number)"),
                      stored);
        }
    }

    size_t count(const store::ContextPtr& ctx, const std::string& entity, const char* format = nullptr) {
        FetchRequest r(entity);
        if (format) r.predicate = Predicate::parse(format).value();
        auto n = ctx->count(r);
        EXPECT_TRUE(n.ok());
        auto objects = ctx->fetch(r);
        EXPECT_TRUE(objects.ok());
        EXPECT_EQ(n.valueOr(0), objects.ok() ? objects->size() : 0u) << "count and fetch disagree for " << entity;
        return n.valueOr(0);
    }
};

TEST_F(ContextTest, ChangeTrackingAndRollback) {
    EXPECT_FALSE(main->hasChanges());
    auto c = conversation(main, "a");
    EXPECT_TRUE(main->hasChanges());
    EXPECT_TRUE(c->isInserted());
    ASSERT_TRUE(main->save().ok());
    EXPECT_FALSE(main->hasChanges());
    EXPECT_FALSE(c->isInserted());

    ASSERT_TRUE(c->setValue("isRead", true).ok());
    EXPECT_TRUE(c->isUpdated());
    EXPECT_EQ(main->updatedObjects(), std::vector<store::ManagedObjectPtr>{c});
    // Setting the same value again is no change.
    ASSERT_TRUE(main->save().ok());
    ASSERT_TRUE(c->setValue("isRead", true).ok());
    EXPECT_FALSE(main->hasChanges());
    EXPECT_FALSE(c->setValue("noSuchKey", 1).ok());

    auto d = conversation(main, "b");
    ASSERT_TRUE(c->setValue("note", "draft").ok());
    main->deleteObject(c);
    EXPECT_EQ(main->deletedObjects().size(), 1u);
    EXPECT_EQ(main->insertedObjects().size(), 1u);
    main->rollback();
    EXPECT_FALSE(main->hasChanges());
    EXPECT_EQ(d->managedObjectContext(), nullptr);
    EXPECT_TRUE(c->isFault());
    EXPECT_TRUE(c->value("note").isNull());  // the draft is gone, the row reloads
    EXPECT_EQ(c->value("isRead"), Value(true));
    EXPECT_EQ(count(main, "HX_Conversation"), 1u);
}

TEST_F(ContextTest, FaultsLoadOnFirstAccess) {
    auto c = conversation(main, "f");
    ASSERT_TRUE(c->setValue("note", "hello").ok());
    ASSERT_TRUE(main->save().ok());
    auto other = Context::create(ConcurrencyType::MainQueue);
    other->setPersistentStoreCoordinator(coordinator);
    auto fault = other->objectWithID(c->objectID());
    EXPECT_TRUE(fault->isFault());
    EXPECT_EQ(fault->value("note"), Value("hello"));
    EXPECT_FALSE(fault->isFault());
    EXPECT_EQ(other->existingObjectWithID(c->objectID()).value(), fault);
    // A row that is gone gives an error from existingObjectWithID, and empty values from a fault.
    main->deleteObject(c);
    ASSERT_TRUE(main->save().ok());
    auto third = Context::create(ConcurrencyType::MainQueue);
    third->setPersistentStoreCoordinator(coordinator);
    EXPECT_FALSE(third->existingObjectWithID(c->objectID()).ok());
    EXPECT_TRUE(third->objectWithID(c->objectID())->value("note").isNull());
}

TEST_F(ContextTest, RelationshipsKeepBothSidesAndDeleteRulesApply) {
    auto a = conversation(main, "a");
    auto b = conversation(main, "b");
    auto m1 = message(main, a, 1), m2 = message(main, a, 2), m3 = message(main, b, 3);
    EXPECT_EQ(a->objects("Messages").size(), 2u);
    ASSERT_TRUE(b->addObject("Messages", m1).ok());
    EXPECT_EQ(a->objects("Messages"), std::vector<store::ManagedObjectPtr>{m2});
    EXPECT_EQ(m1->object("Conversation"), b);
    ASSERT_TRUE(main->save().ok());
    EXPECT_EQ(storetest::sqlite(path,
                                "SELECT count(*) FROM HX_Message m JOIN HX_Conversation c ON m.Conversation=c.Z_PK "
                                "WHERE c.conversationID='b'"),
              "2");
    ASSERT_TRUE(b->removeObject("Messages", m3).ok());
    EXPECT_TRUE(m3->object("Conversation") == nullptr);
    EXPECT_FALSE(m1->setObject("Messages", a).ok());  // not a to-one

    // Cascade: deleting a conversation deletes its messages, also when loaded from the store.
    ASSERT_TRUE(main->save().ok());
    auto fresh = Context::create(ConcurrencyType::MainQueue);
    fresh->setPersistentStoreCoordinator(coordinator);
    auto freshB = fresh->objectWithID(b->objectID());
    fresh->deleteObject(freshB);
    EXPECT_EQ(fresh->deletedObjects().size(), 2u);
    EXPECT_EQ(count(fresh, "HX_Message"), 2u);  // pending deletes count already
    ASSERT_TRUE(fresh->save().ok());
    EXPECT_EQ(storetest::sqlite(path, "SELECT count(*) FROM HX_Message"), "2");
    EXPECT_EQ(storetest::sqlite(path, "SELECT count(*) FROM HX_Conversation"), "1");
}

TEST_F(ContextTest, PendingChangesShowInFetchesAndCountsAlongTheChain) {
    conversation(main, "stored", 10);
    ASSERT_TRUE(main->save().ok());
    auto unsavedInMain = conversation(main, "main-only", 10);
    auto ch = child();
    size_t seen = 0, unread = 0, stored = 0;
    ch->performAndWait([&] {
        seen = count(ch, "HX_Conversation", "type == 10");
        auto s = ch->fetch([] {
                       FetchRequest r("HX_Conversation");
                       r.predicate = Predicate::parse("conversationID == 'stored'").value();
                       return r;
                   }())
                     .value();
        ASSERT_EQ(s.size(), 1u);
        ASSERT_TRUE(s[0]->setValue("isRead", true).ok());
        conversation(ch, "child-only", 11);
        unread = count(ch, "HX_Conversation", "isRead == NO");
        stored = count(ch, "HX_Conversation");
    });
    EXPECT_EQ(seen, 2u);    // the parent's unsaved conversation is visible to the child
    EXPECT_EQ(unread, 2u);  // main-only and child-only; the child's change to "stored" counts
    EXPECT_EQ(stored, 3u);
    EXPECT_EQ(count(main, "HX_Conversation"), 2u);  // nothing pushed yet
    // The template lookup with variables.
    auto request = coordinator->model().fetchRequestFromTemplate(
        "cv_unread", foundation::Dictionary{{"TYPELIST", Value(foundation::Array{Value(10), Value(11)})}});
    ASSERT_TRUE(request.ok());
    size_t viaTemplate = 0;
    ch->performAndWait([&] {
        viaTemplate = ch->count(request.value()).value();
        ASSERT_TRUE(ch->save().ok());
    });
    EXPECT_EQ(viaTemplate, 2u);
    EXPECT_EQ(main->count(request.value()).value(), 2u);
    EXPECT_FALSE(coordinator->model().fetchRequestFromTemplate("cv_unread", {}).ok());
    EXPECT_FALSE(coordinator->model().fetchRequestFromTemplate("nope", {}).ok());
    ASSERT_TRUE(main->save().ok());
    EXPECT_EQ(storetest::sqlite(
                  path, "SELECT group_concat(conversationID || ':' || isRead) FROM HX_Conversation ORDER BY Z_PK"),
              "stored:1,main-only:0,child-only:0");
    (void)unsavedInMain;
}

TEST_F(ContextTest, AChildsSavedObjectsReadTheirStateBackAndMembersJoinWhateverTheOrder) {
    auto stored = conversation(main, "stored");
    ASSERT_TRUE(main->save().ok());
    auto ch = child();
    ch->performAndWait([&] {
        // The message joins a conversation that the child inserts after it.
        auto m = ch->insertNewObject("HX_Message").value();
        ASSERT_TRUE(m->setValue("number", 7).ok());
        ASSERT_TRUE(m->setValue("message", std::string(100, 'm')).ok());
        auto late = conversation(ch, "late");
        ASSERT_TRUE(m->setObject("Conversation", late).ok());
        auto s = ch->objectWithID(stored->objectID());
        ASSERT_TRUE(s->setValue("isRead", true).ok());
        ASSERT_TRUE(ch->save().ok());
        // After the save the child's objects still read what they held, and can change again.
        EXPECT_EQ(m->value("message").stringValue(), std::string(100, 'm'));
        EXPECT_EQ(m->object("Conversation"), late);
        EXPECT_EQ(late->objects("Messages"), std::vector<store::ManagedObjectPtr>{m});
        EXPECT_TRUE(s->value("isRead").boolValue());
        EXPECT_FALSE(ch->hasChanges());
        ASSERT_TRUE(m->setValue("number", 8).ok());
        EXPECT_TRUE(m->isUpdated());
        ASSERT_TRUE(ch->save().ok());
    });
    auto late = main->fetch([] {
                        FetchRequest r("HX_Conversation");
                        r.predicate = Predicate::parse("conversationID == 'late'").value();
                        return r;
                    }())
                    .value();
    ASSERT_EQ(late.size(), 1u);
    auto members = late[0]->objects("Messages");
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members[0]->value("number").int64Value(), 8);
    EXPECT_EQ(members[0]->value("message").stringValue(), std::string(100, 'm'));
    EXPECT_TRUE(stored->value("isRead").boolValue());
    ASSERT_TRUE(main->save().ok());
    EXPECT_EQ(storetest::sqlite(path, "SELECT group_concat(c.conversationID || ':' || m.number || ':' || "
                                      "length(m.message)) FROM HX_Message m JOIN HX_Conversation c ON "
                                      "m.Conversation = c.Z_PK"),
              "late:8:100");
}

TEST_F(ContextTest, NewRowsFromAChildStayRowsUntilUsedAndReachTheStoreEitherWay) {
    auto stored = conversation(main, "s");
    ASSERT_TRUE(main->save().ok());
    EXPECT_TRUE(stored->objects("Messages").empty());  // loaded, so it must learn of new members
    std::vector<std::string> heard;
    main->addChangeListener(
        [&](Context&, Context::ChangeKind kind, const Context::Changes& changes) {
            for (const auto* list : {&changes.inserted, &changes.updated})
                for (const auto& o : *list)
                    heard.push_back((kind == Context::ChangeKind::DidSave ? "save:" : "change:") + o->entity().name() +
                                    ":" + o->value("conversationID").stringValue());
        },
        "HX_Conversation");
    std::vector<size_t> savedURIs;
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.addObserver(this, store::kContextDidSaveNotification,
                       [&, ctx = main.get()](const foundation::Notification& n) {
                           if (n.object.get() != ctx) return;
                           const auto& inserted = n.userInfo.get(store::kInsertedObjectsKey).asArray();
                           for (const auto& uri : inserted)
                               EXPECT_NE(uri.asString().find("/p"), std::string::npos) << uri.asString();
                           savedURIs.push_back(inserted.size());
                       });
    // A child adds a conversation with two messages and a message to the stored conversation.
    auto push = [&](const std::string& id, int64_t first) {
        store::ObjectID messageID;
        auto ch = child();
        ch->performAndWait([&] {
            auto conv = conversation(ch, id);
            message(ch, conv, first);
            messageID = message(ch, conv, first + 1)->objectID();
            message(ch, ch->objectWithID(stored->objectID()), first + 2);
            ASSERT_TRUE(ch->save().ok());
        });
        clock->runUntilIdle();
        return messageID;
    };
    push("n1", 10);
    EXPECT_EQ(heard, std::vector<std::string>{"change:HX_Conversation:n1"});
    EXPECT_TRUE(main->hasChanges());
    EXPECT_EQ(numbers(stored), std::vector<int64_t>{12});
    // Saved as rows: nothing asked for the messages in between.
    ASSERT_TRUE(main->save().ok());
    EXPECT_FALSE(main->hasChanges());
    EXPECT_EQ(savedURIs, std::vector<size_t>{4});
    EXPECT_EQ(storetest::sqlite(path,
                                "SELECT group_concat(x) FROM (SELECT c.conversationID || ':' || m.number AS x FROM "
                                "HX_Message m JOIN HX_Conversation c ON m.Conversation = c.Z_PK ORDER BY m.number)"),
              "n1:10,n1:11,s:12");

    // Used before the save: by id, through a to-many, by a fetch and a count.
    auto held = push("n2", 20);
    auto m = main->objectWithID(held);
    EXPECT_EQ(m->value("number").int64Value(), 21);
    EXPECT_TRUE(m->isInserted());
    EXPECT_EQ(m->object("Conversation")->value("conversationID").stringValue(), "n2");
    EXPECT_EQ(numbers(m->object("Conversation")), (std::vector<int64_t>{20, 21}));
    EXPECT_EQ(count(main, "HX_Message"), 6u);
    EXPECT_EQ(count(main, "HX_Message", "number >= 20"), 3u);
    EXPECT_EQ(numbers(stored), (std::vector<int64_t>{12, 22}));
    ASSERT_TRUE(main->save().ok());

    // A failed write keeps the rows for the next one.
    push("n3", 30);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_FALSE(main->save().ok());
    sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
    EXPECT_TRUE(main->hasChanges());
    // So does a write refused only at its commit, after every row went in: a reader still holds
    // the file.
    ASSERT_EQ(sqlite3_exec(other, "BEGIN; SELECT count(*) FROM HX_Message;", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_FALSE(main->save().ok());
    sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_TRUE(main->hasChanges());
    ASSERT_TRUE(main->save().ok());
    EXPECT_EQ(savedURIs, (std::vector<size_t>{4, 4, 4}));
    EXPECT_EQ(storetest::sqlite(path, "SELECT count(*) || ':' || sum(number) FROM HX_Message"), "9:189");
    EXPECT_EQ(heard, (std::vector<std::string>{"change:HX_Conversation:n1", "save:HX_Conversation:n1",
                                               "change:HX_Conversation:n2", "save:HX_Conversation:n2",
                                               "change:HX_Conversation:n3", "save:HX_Conversation:n3"}));
    center.removeObserver(this);
}

// Objects an import is done with wait as rows: only those nobody holds or observes (and not one
// deleted before its first save), and they read, fetch, count and save as the objects would have.
TEST_F(ContextTest, InsertedObjectsNobodyHoldsWaitAsRowsAndReadAsTheObjectsWould) {
    inRootAndChild(
        [&](const store::ContextPtr& ctx, const std::string& id) {
            auto conv = conversation(ctx, id);
            const store::ManagedObjectPtr kept = message(ctx, conv, 1);
            const store::ObjectID heldID = message(ctx, conv, 2)->objectID();
            auto observed = message(ctx, conv, 3);
            int heard = 0;
            observed->addObserver("number", [&](store::ManagedObject&, const std::string&) { ++heard; });
            const store::ObjectID observedID = observed->objectID();
            observed.reset();
            (void)message(ctx, conv, 4);
            // Inserted and deleted before any save, then let go: nothing of it is ever written.
            ctx->deleteObject(message(ctx, conv, 5));
            const size_t atLeastTwo = count(ctx, "HX_Message", "number >= 2");  // this one's 2, 3, 4 and the store's
            const size_t before = ctx->insertedObjects().size();
            ctx->holdUnreferencedInserted("HX_Message");
            // The conversation is of another entity; the kept and observed messages stay objects.
            EXPECT_EQ(ctx->insertedObjects().size(), before);  // asking makes the rows objects again
            ctx->holdUnreferencedInserted("HX_Message");
            EXPECT_TRUE(ctx->hasChanges());
            auto again = ctx->objectWithID(heldID);
            EXPECT_EQ(again->value("number").int64Value(), 2);
            EXPECT_TRUE(again->isInserted());
            EXPECT_EQ(again->object("Conversation"), conv);
            EXPECT_TRUE(ctx->objectWithID(observedID)->setValue("number", 30).ok());
            EXPECT_EQ(heard, 1);  // the same object, still observed
            again.reset();
            ctx->holdUnreferencedInserted("HX_Message");
            EXPECT_EQ(numbers(conv), (std::vector<int64_t>{1, 2, 4, 30}));
            EXPECT_EQ(count(ctx, "HX_Message", "number >= 2"), atLeastTwo);
            EXPECT_TRUE(kept->setValue("number", 10).ok());
            ctx->holdUnreferencedInserted("HX_Message");
            ASSERT_TRUE(ctx->save().ok());
        },
        "m.number", "2,4,10,30");
}

TEST_F(ContextTest, ANewRowReadsSavesAndLinksAsTheObjectMadeFieldByFieldWould) {
    const store::Entity& e = *coordinator->model().entityNamed("HX_Message");
    const int owner = e.relationship("Conversation")->index;
    auto row = [&](const store::ContextPtr& ctx, const store::ManagedObjectPtr& conv, int64_t number) {
        std::pair<int, Value> values[] = {{e.attributeIndex("number"), Value(std::to_string(number))},
                                          {e.attributeIndex("from"), Value(int64_t{1})},
                                          {e.attributeIndex("message"), Value("row")}};
        const std::pair<int, store::ManagedObjectPtr> toOne[] = {{owner, conv}};
        auto id = ctx->insertNewRow("HX_Message", values, toOne);
        EXPECT_TRUE(id.ok());
        return id.ok() ? id.value() : nullptr;
    };
    inRootAndChild(
        [&](const store::ContextPtr& ctx, const std::string& id) {
            auto conv = conversation(ctx, id);
            (void)message(ctx, conv, 1);
            const store::ObjectID second = row(ctx, conv, 2);
            // Nobody holds it: it waits as a row, yet the conversation lists it at once.
            EXPECT_EQ(numbers(conv), (std::vector<int64_t>{1, 2}));
            EXPECT_EQ(count(ctx, "HX_Message", ("from == YES AND Conversation.conversationID == '" + id + "'").c_str()),
                      1u);
            auto object = ctx->objectWithID(second);
            EXPECT_TRUE(object->isInserted());
            EXPECT_EQ(object->value("isIndexedForSearch"), Value());
            EXPECT_EQ(object->value("message"), Value("row"));
            EXPECT_EQ(object->object("Conversation"), conv);
            (void)row(ctx, conv, 3);
            ASSERT_TRUE(ctx->save().ok());
        },
        "m.number || m.[from]", "10,21,31");

    // A saved conversation gaining a row is updated and its observers hear of it, as after setObject.
    auto saved = main->fetch(FetchRequest("HX_Conversation")).value().front();
    ASSERT_FALSE(saved->isUpdated());
    std::vector<size_t> heard;
    saved->addObserver("Messages", [&](store::ManagedObject& o, const std::string&) {
        heard.push_back(o.objects("Messages").size());
    });
    (void)saved->objects("Messages");
    (void)row(main, saved, 4);
    EXPECT_TRUE(saved->isUpdated());
    EXPECT_EQ(heard, std::vector<size_t>{4});

    // Where listeners want the entity's objects, it is one from the start, as insertNewObject's.
    const uint64_t token =
        main->addChangeListener([](Context&, Context::ChangeKind, const Context::Changes&) {}, "HX_Message");
    const size_t before = main->insertedObjects().size();
    const store::ObjectID watched = row(main, saved, 5);
    EXPECT_EQ(main->insertedObjects().size(), before + 1);
    EXPECT_EQ(main->insertedObjects().back()->objectID(), watched);
    main->removeChangeListener(token);

    // What cannot be made is refused, and nothing is inserted.
    auto other = child();
    auto foreign = other->insertNewObject("HX_Conversation").value();
    auto aMessage = main->objectWithID(watched);
    const std::pair<int, store::ManagedObjectPtr> refused[][1] = {
        {{owner + 1, saved}}, {{-1, saved}}, {{owner, aMessage}}, {{owner, foreign}}};
    for (const auto& toOne : refused) EXPECT_FALSE(main->insertNewRow("HX_Message", {}, toOne).ok());
    EXPECT_FALSE(main->insertNewRow("HX_Nothing", {}, {}).ok());
    ASSERT_TRUE(main->save().ok());
    EXPECT_EQ(storetest::sqlite(path, "SELECT count(*) FROM HX_Message"), "8");
}

TEST_F(ContextTest, PrefetchToOneReadsTheOwnersInOneBatchDownTheChain) {
    // More conversations than one batch of the store's read holds, each with one message.
    const int n = 300;
    for (int i = 0; i < n; ++i) {
        auto c = conversation(main, "c" + std::to_string(i));
        ASSERT_TRUE(c->setValue("note", "stored " + std::to_string(i)).ok());
        message(main, c, i);
    }
    message(main, nullptr, 1000);  // no owner
    ASSERT_TRUE(main->save().ok());
    ASSERT_EQ(storetest::sqlite(path, "DELETE FROM HX_Conversation WHERE conversationID = 'c7'"), "");

    auto root = Context::create(ConcurrencyType::MainQueue);
    root->setPersistentStoreCoordinator(coordinator);
    FetchRequest byNumber("HX_Message");
    byNumber.sortDescriptors = {{"number", true}};
    auto messages = root->fetch(byNumber).value();
    ASSERT_EQ(messages.size(), static_cast<size_t>(n + 1));
    // The same message twice, a null, and an object without the relationship.
    auto asked = messages;
    asked.push_back(messages[3]);
    asked.push_back(nullptr);
    auto someConversation = root->objectWithID(messages[5]->object("Conversation")->objectID());
    asked.push_back(someConversation);
    auto owners = root->prefetchToOne(asked, "Conversation");
    ASSERT_EQ(owners.size(), asked.size());
    EXPECT_EQ(owners[n], nullptr);  // the message without an owner
    EXPECT_EQ(owners[n + 1], owners[3]);
    EXPECT_EQ(owners[n + 2], nullptr);
    EXPECT_EQ(owners[n + 3], nullptr);
    // What the store says now no longer reaches objects that were read by the prefetch.
    ASSERT_EQ(storetest::sqlite(path, "UPDATE HX_Conversation SET note = 'changed later'"), "");
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(owners[i], messages[i]->object("Conversation"));
        if (i == 7) {
            // Its row is gone: it stays a fault and reads as empty.
            EXPECT_TRUE(owners[i]->isFault());
            EXPECT_TRUE(owners[i]->value("note").isNull());
            continue;
        }
        EXPECT_FALSE(owners[i]->isFault());
        EXPECT_EQ(owners[i]->value("note"), Value("stored " + std::to_string(i)));
    }
    auto none = [](const std::vector<store::ManagedObjectPtr>& v) {
        return std::all_of(v.begin(), v.end(), [](const auto& o) { return !o; });
    };
    EXPECT_TRUE(none(root->prefetchToOne(messages, "Messages")));  // a to-many
    EXPECT_TRUE(none(root->prefetchToOne(messages, "nonesuch")));

    // A child sees its parent's unsaved change, a row the parent holds for a grandchild's save,
    // and the store for the rest.
    ASSERT_TRUE(owners[1]->setValue("note", "unsaved").ok());
    owners.resize(2);  // the rest are forgotten here, so they come from the store
    store::ObjectID heldMessage;
    auto grandchild = Context::create(ConcurrencyType::PrivateQueue);
    grandchild->setParentContext(root);
    grandchild->performAndWait([&] {
        heldMessage = message(grandchild, conversation(grandchild, "new"), 2000)->objectID();
        ASSERT_TRUE(grandchild->save().ok());
    });
    clock->runUntilIdle();
    auto ch = Context::create(ConcurrencyType::PrivateQueue);
    ch->setParentContext(root);
    ch->performAndWait([&] {
        std::vector<store::ManagedObjectPtr> mine;
        for (int i : {1, 2}) mine.push_back(ch->objectWithID(messages[i]->objectID()));
        mine.push_back(ch->objectWithID(heldMessage));
        auto theirs = ch->prefetchToOne(mine, "Conversation");
        ASSERT_EQ(theirs.size(), 3u);
        for (const auto& o : theirs) EXPECT_FALSE(o->isFault());
        EXPECT_EQ(theirs[0]->value("note"), Value("unsaved"));
        EXPECT_EQ(theirs[1]->value("note"), Value("changed later"));
        EXPECT_EQ(theirs[2]->value("conversationID"), Value("new"));
    });
}

TEST_F(ContextTest, VisitPendingShowsWhatTheNextSaveWritesAndItsAmendmentsAreWritten) {
    auto stored = conversation(main, "s");
    auto updated = message(main, conversation(main, "q"), 1);
    auto gone = message(main, stored, 3);
    ASSERT_TRUE(main->save().ok());
    ASSERT_TRUE(updated->setValue("message", "changed").ok());
    main->deleteObject(gone);
    auto inserted = message(main, stored, 2);
    main->deleteObject(message(main, stored, 4));  // inserted and deleted: never written
    int heardChange = 0;
    inserted->addObserver("message", [&](store::ManagedObject&, const std::string&) { ++heardChange; });
    // A child's new conversation and messages wait here as rows.
    auto ch = child();
    ch->performAndWait([&] {
        auto conv = conversation(ch, "n");
        message(ch, conv, 10);
        message(ch, conv, 11);
        ASSERT_TRUE(ch->save().ok());
    });
    clock->runUntilIdle();

    const auto& entity = inserted->entity();
    const int text = entity.attributeIndex("message"), number = entity.attributeIndex("number");
    const int owner = entity.relationship("Conversation")->index;
    std::vector<std::string> visited;
    main->visitPending("HX_Message", [&](Context::PendingRow& row, const Context::PendingFinder& find) {
        const int64_t n = row.valueAt(number).int64Value();
        auto conv = find(row.toOneAt(owner));
        std::string where = "-";
        if (conv) {
            const auto& convEntity = conv.objectID()->entity();
            where = conv.valueAt(convEntity.attributeIndex("conversationID")).stringValue();
            conv.setValueAt(convEntity.attributeIndex("note"), "seen");
        }
        visited.push_back(std::to_string(n) + ":" + row.valueAt(text).stringValue() + ":" + where);
        row.setValueAt(text, "visited " + std::to_string(n));
        EXPECT_TRUE(row.valueAt(-1).isNull());
        EXPECT_EQ(row.toOneAt(99), nullptr);
    });
    // Inserted objects, then the rows a child left, then updated objects; what is deleted is not
    // written. A conversation that gains or loses members is written too; "q" is not.
    EXPECT_EQ(visited, (std::vector<std::string>{"2::s", "10::n", "11::n", "1:changed:-"}));
    EXPECT_EQ(heardChange, 1);
    EXPECT_EQ(inserted->value("message"), Value("visited 2"));
    ASSERT_TRUE(main->save().ok());
    EXPECT_FALSE(main->hasChanges());
    EXPECT_EQ(storetest::sqlite(path, "SELECT group_concat(number || '=' || message) FROM (SELECT * FROM HX_Message "
                                      "ORDER BY number)"),
              "1=visited 1,2=visited 2,10=visited 10,11=visited 11");
    EXPECT_EQ(storetest::sqlite(path, "SELECT group_concat(conversationID || '=' || ifnull(note, '')) FROM (SELECT * "
                                      "FROM HX_Conversation ORDER BY conversationID)"),
              "n=seen,q=,s=seen");
}

TEST_F(ContextTest, PerformRunsOnTheContextsQueueAndTheMergeIsAnnouncedOnMain) {
    auto ch = child();
    std::atomic<bool> ran{false}, onMain{true};
    std::vector<std::string> notified;
    main->addChangeListener([&](Context&, Context::ChangeKind kind, const Context::Changes& changes) {
        notified.push_back(std::string(kind == Context::ChangeKind::DidSave ? "save:" : "change:") +
                           std::to_string(changes.inserted.size()));
    });
    std::vector<std::string> posted;
    auto& center = foundation::NotificationCenter::defaultCenter();
    for (const char* name : {store::kContextDidSaveNotification, store::kContextObjectsDidChangeNotification})
        center.addObserver(this, name, [&, ctx = main.get()](const foundation::Notification& n) {
            if (n.object.get() != ctx) return;  // the child's own did-save is not ours
            const auto& inserted = n.userInfo.get(store::kInsertedObjectsKey);
            EXPECT_EQ(inserted.at(0).asString().rfind("x-hxstore://", 0), 0u);
            posted.push_back(n.name + ":" + std::to_string(inserted.size()));
        });
    ch->perform([&] {
        onMain = dispatch::isMainThread();
        conversation(ch, "x");
        ASSERT_TRUE(ch->save().ok());
        ran = true;
    });
    ASSERT_TRUE(clock->runUntil([&] { return ran.load() && !notified.empty(); }, 10));
    EXPECT_FALSE(onMain.load());
    EXPECT_EQ(notified, std::vector<std::string>{"change:1"});
    EXPECT_TRUE(main->hasChanges());
    ASSERT_TRUE(main->save().ok());
    EXPECT_EQ(notified, (std::vector<std::string>{"change:1", "save:1"}));
    // The same two reached the notification centre, with the context and the objects' URIs.
    EXPECT_EQ(posted, (std::vector<std::string>{std::string(store::kContextObjectsDidChangeNotification) + ":1",
                                                std::string(store::kContextDidSaveNotification) + ":1"}));
    center.removeObserver(this);
    // performAndWait on the main context from the main thread runs inline.
    bool inline_ = false;
    main->performAndWait([&] { inline_ = true; });
    EXPECT_TRUE(inline_);
}

TEST_F(ContextTest, KeyValueObservationOfAttributesAndToMany) {
    auto c = conversation(main, "k");
    std::vector<std::string> keys;
    auto token =
        c->addObserver("isStarred", [&](store::ManagedObject&, const std::string& key) { keys.push_back(key); });
    c->addObserver("Messages", [&](store::ManagedObject& o, const std::string& key) {
        keys.push_back(key + ":" + std::to_string(o.objects("Messages").size()));
    });
    ASSERT_TRUE(c->setValue("isStarred", true).ok());
    ASSERT_TRUE(c->setValue("isStarred", true).ok());  // no change, no callback
    ASSERT_TRUE(c->setValue("note", "n").ok());        // not observed
    auto m = message(main, c, 5);
    main->deleteObject(m);
    c->removeObserver(token);
    ASSERT_TRUE(c->setValue("isStarred", false).ok());
    EXPECT_EQ(keys, (std::vector<std::string>{"isStarred", "Messages:1", "Messages:0"}));

    // Several at once: each change is heard as if set alone, in order, and normalised; an
    // unchanged value, an unknown number and a second write of one attribute behave as alone.
    keys.clear();
    for (const char* key : {"isRead", "type"})
        c->addObserver(key, [&](store::ManagedObject& o, const std::string& k) {
            keys.push_back(k + "=" + o.value(k).stringValue());
        });
    const auto& e = c->entity();
    std::pair<int, Value> values[] = {{e.attributeIndex("type"), Value("11")},
                                      {e.attributeIndex("isRead"), Value(int64_t{1})},
                                      {-1, Value("ignored")},
                                      {e.attributeIndex("type"), Value(int64_t{11})},
                                      {e.attributeIndex("type"), Value(int64_t{2})}};
    c->setValuesAt(values);
    EXPECT_EQ(keys, (std::vector<std::string>{"type=11", "isRead=1", "type=2"}));
    EXPECT_EQ(c->value("isRead"), Value(true));
    EXPECT_EQ(c->value("type"), Value(int64_t{2}));

    // A child's save merged into the main context reaches the observers of the main object.
    ASSERT_TRUE(main->save().ok());
    std::vector<Value> seen;
    c->addObserver("note", [&](store::ManagedObject& o, const std::string&) { seen.push_back(o.value("note")); });
    auto ch = child();
    ch->performAndWait([&] {
        auto mine = ch->objectWithID(c->objectID());
        ASSERT_TRUE(mine->setValue("note", "from child").ok());
        ASSERT_TRUE(ch->save().ok());
    });
    EXPECT_EQ(seen, std::vector<Value>{Value("from child")});
    EXPECT_TRUE(c->isUpdated());
}

class Delegate : public store::FetchedResultsControllerDelegate {
public:
    int changes = 0;
    void controllerDidChangeContent(store::FetchedResultsController&) override { ++changes; }
};

TEST_F(ContextTest, FetchedResultsControllerFollowsSavesAndMerges) {
    for (int i = 0; i < 3; ++i) {
        auto c = conversation(main, "s" + std::to_string(i), 10);
        ASSERT_TRUE(c->setValue("lastdate", foundation::Date{100.0 + i}).ok());
    }
    conversation(main, "voicemail", 2);
    ASSERT_TRUE(main->save().ok());

    FetchRequest r("HX_Conversation");
    r.predicate =
        Predicate::parse("isTrash == NO AND type IN %@", {Value(foundation::Array{Value(10), Value(11)})}).value();
    r.sortDescriptors = {{"lastdate", false}};
    r.fetchBatchSize = 20;
    auto frc = store::FetchedResultsController::create(r, main, std::string("sms"));
    auto delegate = std::make_shared<Delegate>();
    frc->setDelegate(delegate);
    EXPECT_TRUE(frc->sections().empty());
    EXPECT_FALSE(frc->objectAtIndexPath({0, 0}).ok());
    ASSERT_TRUE(frc->performFetch().ok());
    ASSERT_EQ(frc->sections().size(), 1u);
    EXPECT_EQ(frc->sections()[0].numberOfObjects, 3u);
    EXPECT_EQ(frc->objectAtIndexPath({0, 0}).value()->value("conversationID"), Value("s2"));
    EXPECT_FALSE(frc->objectAtIndexPath({0, 3}).ok());
    EXPECT_FALSE(frc->objectAtIndexPath({1, 0}).ok());

    // A child inserts a matching conversation: after the merge the list has it, first.
    auto ch = child();
    ch->perform([&] {
        auto c = conversation(ch, "new", 11);
        c->setValue("lastdate", foundation::Date{500}).ok();
        ch->save().ok();
    });
    ASSERT_TRUE(clock->runUntil([&] { return delegate->changes == 1; }, 10));
    EXPECT_EQ(frc->fetchedObjects().size(), 4u);
    EXPECT_EQ(frc->fetchedObjects()[0]->value("conversationID"), Value("new"));

    // A change to a row outside the list does not disturb it; one that moves a row out does.
    std::atomic<bool> saved{false};
    ch->perform([&] {
        FetchRequest vm("HX_Conversation");
        vm.predicate = Predicate::parse("type == 2").value();
        ch->fetch(vm).value()[0]->setValue("note", "x").ok();
        ch->save().ok();
        saved = true;
    });
    ASSERT_TRUE(clock->runUntil([&] { return saved.load(); }, 10));
    clock->runUntilIdle();
    EXPECT_TRUE(main->hasChanges());  // the merge arrived...
    EXPECT_EQ(delegate->changes, 1);
    auto shown = frc->fetchedObjects()[1];
    ASSERT_TRUE(shown->setValue("isTrash", true).ok());
    ASSERT_TRUE(main->save().ok());
    EXPECT_EQ(delegate->changes, 2);
    EXPECT_EQ(frc->fetchedObjects().size(), 3u);
    EXPECT_FALSE(frc->indexPathForObject(shown).has_value());

    // A new predicate applies at the next fetch; the cache can be dropped by name.
    frc->fetchRequest().predicate = Predicate::parse("type == 2").value();
    ASSERT_TRUE(frc->performFetch().ok());
    EXPECT_EQ(frc->fetchedObjects().size(), 1u);
    store::FetchedResultsController::deleteCacheWithName(std::string("sms"));
    store::FetchedResultsController::deleteCacheWithName(std::nullopt);
}

TEST_F(ContextTest, ChildSaveFromAPrivateQueueWhileMainWaitsDoesNotDeadlock) {
    conversation(main, "base");
    ASSERT_TRUE(main->save().ok());
    auto ch = child();
    size_t seen = 0;
    // The main thread blocks on the child; the child reads and pushes into the main context.
    ch->performAndWait([&] {
        seen = ch->count(FetchRequest("HX_Conversation")).value();
        conversation(ch, "more");
        ASSERT_TRUE(ch->save().ok());
    });
    EXPECT_EQ(seen, 1u);
    EXPECT_EQ(main->insertedObjects().size(), 1u);
}

TEST_F(ContextTest, ConcurrentChildrenPushIntoOneParent) {
    constexpr int kChildren = 4, kEach = 50;
    std::atomic<int> finished{0};
    std::vector<store::ContextPtr> children;
    for (int k = 0; k < kChildren; ++k) {
        auto ch = child();
        children.push_back(ch);
        ch->perform([&, ch, k] {
            for (int i = 0; i < kEach; ++i) {
                auto c = conversation(ch, "k" + std::to_string(k) + "-" + std::to_string(i));
                message(ch, c, i);
                // Reads through the parent while the others write into it.
                (void)ch->count(FetchRequest("HX_Conversation"));
                if (i % 10 == 9) (void)ch->save();
            }
            ++finished;
        });
    }
    // The main thread keeps reading its own context meanwhile.
    ASSERT_TRUE(clock->runUntil(
        [&] {
            (void)main->count(FetchRequest("HX_Message"));
            return finished.load() == kChildren;
        },
        30));
    clock->runUntilIdle();
    ASSERT_TRUE(main->save().ok());
    EXPECT_EQ(storetest::sqlite(path, "SELECT count(*) FROM HX_Conversation"), std::to_string(kChildren * kEach));
    EXPECT_EQ(storetest::sqlite(path, "SELECT count(*) FROM HX_Message WHERE Conversation IS NOT NULL"),
              std::to_string(kChildren * kEach));
}

}  // namespace

TEST_F(ContextTest, RegistrationsAcrossSweepsKeepOneObjectPerRowAndForgetDeadOnes) {
    // Enough rows to cross several sweeps of the context's registry and of the coordinator's
    // identity table, with some objects kept alive and the rest dropped between fetches.
    constexpr int kRows = 9000;
    {
        auto writer = Context::create(ConcurrencyType::PrivateQueue);
        writer->setPersistentStoreCoordinator(coordinator);
        for (int i = 0; i < kRows; ++i) conversation(writer, "c" + std::to_string(i), i % 2 ? 10 : 11);
        ASSERT_TRUE(writer->save().ok());
    }
    std::vector<std::string> ids;
    for (int i = 0; i < kRows; ++i) ids.push_back("c" + std::to_string(i));
    std::sort(ids.begin(), ids.end());
    FetchRequest all("HX_Conversation");
    all.sortDescriptors = {{"conversationID", true}};
    auto first = main->fetch(all);
    ASSERT_TRUE(first.ok());
    ASSERT_EQ(first->size(), size_t(kRows));
    std::vector<store::ManagedObjectPtr> kept;
    for (size_t i = 0; i < first->size(); i += 7) kept.push_back((*first)[i]);
    ASSERT_TRUE(kept[3]->setValue("note", "edited, not saved").ok());
    first->clear();

    for (int round = 0; round < 3; ++round) {
        auto again = main->fetch(all);
        ASSERT_TRUE(again.ok());
        ASSERT_EQ(again->size(), size_t(kRows));
        for (size_t k = 0; k < kept.size(); ++k) EXPECT_EQ((*again)[k * 7], kept[k]) << round << " " << k;
        EXPECT_EQ((*again)[21]->value("note"), foundation::Value("edited, not saved"));
        // Objects nobody held were made afresh from their rows.
        for (size_t i : {size_t(1), size_t(4000), size_t(kRows - 1)}) {
            EXPECT_EQ((*again)[i]->value("conversationID").asString(), ids[i]);
            EXPECT_FALSE((*again)[i]->isFault());
        }
        EXPECT_EQ(main->objectWithID((*again)[5]->objectID()), (*again)[5]);
    }
    // A second context sees its own objects for the same rows.
    auto other = Context::create(ConcurrencyType::MainQueue);
    other->setPersistentStoreCoordinator(coordinator);
    auto theirs = other->fetch(all);
    ASSERT_TRUE(theirs.ok());
    EXPECT_NE((*theirs)[0], kept[0]);
    EXPECT_EQ((*theirs)[0]->objectID(), kept[0]->objectID());
    EXPECT_TRUE((*theirs)[21]->value("note").isNull());
}

// The identity an object hands out while it is new stays the row's identity once saved, in the root
// and from a child, whether or not the object is still held: the same object comes back for it in
// its context, a fetch of the row names it, and the store numbers the row as it says; another
// object of the same save, still held, stays itself.
TEST_F(ContextTest, AnIdentityHandedOutBeforeItsSaveNamesTheRowAfterIt) {
    for (bool inChild : {false, true}) {
        SCOPED_TRACE(inChild ? "in a child" : "in the root");
        auto ctx = inChild ? child() : main;
        const int64_t number = inChild ? 2042 : 1042;
        store::ObjectID id, conversationID;
        store::ManagedObjectPtr kept;
        ctx->performAndWait([&] {
            auto c = conversation(ctx, inChild ? "child-ids" : "root-ids");
            for (int i = 0; i < 40; ++i) {
                auto m = message(ctx, c, number + 1 + i);
                if (i == 20) kept = m;
            }
            auto m = message(ctx, c, number);
            ASSERT_TRUE(m->setValue("message", "the one asked about, long enough to be kept apart").ok());
            id = m->objectID();
            conversationID = c->objectID();
            EXPECT_TRUE(id->isTemporary());
            ASSERT_TRUE(ctx->save().ok());
        });
        if (inChild) {
            ASSERT_TRUE(main->save().ok());
        }
        ASSERT_FALSE(id->isTemporary());
        EXPECT_EQ(storetest::sqlite(path, "SELECT Z_PK || ':' || message FROM HX_Message WHERE number = " +
                                              std::to_string(number)),
                  std::to_string(id->primaryKey()) + ":the one asked about, long enough to be kept apart");
        EXPECT_NE(id->uriRepresentation().find("/p" + std::to_string(id->primaryKey())), std::string::npos);
        ctx->performAndWait([&] {
            auto again = ctx->objectWithID(id);
            ASSERT_TRUE(again);
            EXPECT_EQ(again->value("number"), Value(number));
            ASSERT_TRUE(again->object("Conversation"));
            EXPECT_EQ(again->object("Conversation")->objectID(), conversationID);
            FetchRequest request("HX_Message");
            request.predicate = Predicate::parse("number == %@", {Value(number)}).value();
            auto fetched = ctx->fetch(request);
            ASSERT_TRUE(fetched.ok());
            ASSERT_EQ(fetched->size(), 1u);
            EXPECT_EQ((*fetched)[0], again);
            EXPECT_EQ((*fetched)[0]->objectID(), id);
            // The object still held is itself, with what it was given.
            EXPECT_EQ(ctx->objectWithID(kept->objectID()), kept);
            EXPECT_EQ(kept->value("number"), Value(number + 21));
            EXPECT_FALSE(kept->hasChanges());
        });
        // Another context makes its own object for the row, of the same identity.
        auto other = Context::create(ConcurrencyType::MainQueue);
        other->setPersistentStoreCoordinator(coordinator);
        auto theirs = other->existingObjectWithID(id);
        ASSERT_TRUE(theirs.ok());
        EXPECT_EQ(theirs.value()->objectID(), id);
        EXPECT_EQ(theirs.value()->value("message"), Value("the one asked about, long enough to be kept apart"));
    }
    EXPECT_EQ(storetest::sqlite(path, "SELECT count(*) FROM HX_Message"), "82");
}

// A save lets the objects nobody holds go as rows, in their places among the others: the file gets
// every row in the order the objects were inserted, the objects still held keep what they were
// given, and one let go reads back from the file as it was written. A write that fails keeps them
// all for the next one, reading as the objects did; a rollback forgets them as it forgets objects.
TEST_F(ContextTest, ObjectsNobodyHoldsGoAtTheSaveInTheirPlacesAndAFailedSaveOrARollbackTreatsThemAsObjects) {
    std::vector<std::string> savedURIs;
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.addObserver(this, store::kContextDidSaveNotification, [&](const foundation::Notification& n) {
        if (n.object.get() != main.get()) return;
        for (const auto& uri : n.userInfo.get(store::kInsertedObjectsKey).asArray())
            savedURIs.push_back(uri.stringValue());
    });
    inRootAndChild(
        [&](const store::ContextPtr& ctx, const std::string& id) {
            auto conv = conversation(ctx, id);
            std::vector<store::ManagedObjectPtr> kept;
            std::vector<store::ObjectID> ids;
            for (int64_t i = 1; i <= 6; ++i) {
                auto m = message(ctx, conv, i);
                EXPECT_TRUE(m->setValue("message", id + std::to_string(i)).ok());
                ids.push_back(m->objectID());
                if (i % 2) kept.push_back(m);
            }
            // The text of the one before is not written again for a message with none.
            (void)message(ctx, conv, 7);
            conv.reset();
            ASSERT_TRUE(ctx->save().ok());
            for (size_t i = 0; i < kept.size(); ++i) {
                const int64_t number = 2 * static_cast<int64_t>(i) + 1;
                EXPECT_FALSE(kept[i]->hasChanges());
                EXPECT_EQ(kept[i]->value("number"), Value(number));
                EXPECT_EQ(kept[i]->value("message"), Value(id + std::to_string(number)));
                EXPECT_EQ(kept[i]->object("Conversation")->value("conversationID"), Value(id));
            }
            auto again = ctx->objectWithID(ids[3]);
            EXPECT_FALSE(again->hasChanges());
            EXPECT_EQ(again->value("message"), Value(id + "4"));
            EXPECT_EQ(numbers(again->object("Conversation")), (std::vector<int64_t>{1, 2, 3, 4, 5, 6, 7}));
        },
        "substr(m.message, 2)", "1,2,3,4,5,6");
    // In the order inserted, each conversation before its messages.
    EXPECT_EQ(
        storetest::sqlite(path, "SELECT group_concat(message) FROM (SELECT message FROM HX_Message ORDER BY Z_PK)"),
        "r1,r2,r3,r4,r5,r6,c1,c2,c3,c4,c5,c6");
    EXPECT_EQ(storetest::sqlite(path, "SELECT group_concat(number) FROM HX_Message WHERE message IS NULL"), "7,7");
    ASSERT_EQ(savedURIs.size(), 16u);
    for (const auto& uri : savedURIs) EXPECT_NE(uri.find("/p"), std::string::npos) << uri;

    // A write refused at its commit, after every row went in: a reader holds the file.
    auto conv = conversation(main, "f");
    std::vector<store::ObjectID> ids;
    for (int64_t i = 1; i <= 4; ++i) ids.push_back(message(main, conv, 10 * i)->objectID());
    auto refusedSave = [&] {
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, "BEGIN; SELECT count(*) FROM HX_Message;", nullptr, nullptr, nullptr), SQLITE_OK);
        EXPECT_FALSE(main->save().ok());
        sqlite3_exec(other, "ROLLBACK;", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        EXPECT_TRUE(main->hasChanges());
    };
    refusedSave();
    EXPECT_TRUE(ids[0]->isTemporary());
    EXPECT_EQ(numbers(conv), (std::vector<int64_t>{10, 20, 30, 40}));
    EXPECT_EQ(count(main, "HX_Message", "number >= 20"), 3u);
    auto second = main->objectWithID(ids[1]);
    EXPECT_TRUE(second->isInserted());
    EXPECT_EQ(second->value("number"), Value(int64_t{20}));
    EXPECT_EQ(second->object("Conversation"), conv);
    second.reset();
    // Forgotten by a rollback, whether they went back to being objects or not: a later save writes none.
    refusedSave();
    (void)main->objectWithID(ids[2]);
    main->rollback();
    EXPECT_FALSE(main->hasChanges());
    EXPECT_EQ(count(main, "HX_Message", "number >= 10"), 0u);
    (void)conversation(main, "after");
    ASSERT_TRUE(main->save().ok());
    EXPECT_EQ(storetest::sqlite(path, "SELECT count(*) FROM HX_Message WHERE number >= 10 OR Conversation IS NULL"),
              "0");
    EXPECT_EQ(storetest::sqlite(path, "SELECT count(*) FROM HX_Conversation WHERE conversationID = 'f'"), "0");
    center.removeObserver(this);
}

// A context that wrote many objects nobody holds afterwards gives the registry's memory back once
// the save ends, instead of keeping its nodes and buckets (and every smaller bucket array it went
// through) for as long as the context lives; an object still held stays registered.
TEST_F(ContextTest, ASaveOfObjectsNobodyHoldsGivesTheRegistrysMemoryBack) {
    auto writer = Context::create(ConcurrencyType::PrivateQueue);
    writer->setPersistentStoreCoordinator(coordinator);
    const size_t empty = writer->registryBytes();
    constexpr int kRows = 30000;
    auto kept = conversation(writer, "kept");
    for (int i = 0; i < kRows; ++i) conversation(writer, "r" + std::to_string(i));
    const size_t full = writer->registryBytes();
    EXPECT_GT(full, empty + size_t{kRows} * 16);
    ASSERT_TRUE(writer->save().ok());
    EXPECT_LT(writer->registryBytes(), empty + full / 16)
        << "the registry kept " << writer->registryBytes() << " of its " << full << " bytes";
    EXPECT_EQ(writer->objectWithID(kept->objectID()), kept);
    EXPECT_EQ(storetest::sqlite(path, "SELECT count(*) FROM HX_Conversation"), std::to_string(kRows + 1));
}

// A list's page registers a thousand objects or so: the registry costs those a few words each (no
// pool of nodes kept beside its table), and once a save has written them and nobody holds them,
// the room for them goes back, page after page, rather than staying for as long as the context
// lives. An object still held stays registered as itself.
TEST_F(ContextTest, APageOfObjectsCostsTheRegistryAFewWordsEachAndGoesBackWhenTheyGo) {
    auto writer = Context::create(ConcurrencyType::PrivateQueue);
    writer->setPersistentStoreCoordinator(coordinator);
    constexpr size_t kPage = 1000;
    auto kept = conversation(writer, "kept");
    for (int page = 0; page < 3; ++page) {
        for (size_t i = 0; i < kPage; ++i) conversation(writer, "p" + std::to_string(page) + "-" + std::to_string(i));
        const size_t full = writer->registryBytes();
        EXPECT_LE(full, kPage * 80) << "page " << page << ": " << full << " bytes for " << kPage << " objects";
        ASSERT_TRUE(writer->save().ok());
        EXPECT_LE(writer->registryBytes(), size_t{4096})
            << "page " << page << ": the registry kept " << writer->registryBytes() << " of its " << full << " bytes";
    }
    EXPECT_EQ(writer->objectWithID(kept->objectID()), kept);
    EXPECT_EQ(kept->value("conversationID").stringValue(), "kept");
    EXPECT_EQ(storetest::sqlite(path, "SELECT count(*) FROM HX_Conversation"), std::to_string(3 * kPage + 1));
}

// Before its model is finished, a context's new objects already start from each attribute's
// default and keep a slot for each relationship: what they start with is kept as the entity is
// declared, not made by finishing the model.
TEST(ContextUnfinishedModelTest, NewObjectsStartWithDefaultsAndRelationshipSlots) {
    dispatch::ScopedVirtualClock clock;
    auto model = std::make_shared<store::Model>();
    model->entity("HX_Conversation")
        .attribute("isRead", storetest::AttributeType::Boolean, false)
        .attribute("type", storetest::AttributeType::Integer32, "7")
        .attribute("note", storetest::AttributeType::String)
        .attribute("label", storetest::AttributeType::String, "none")
        .toMany("Messages", "HX_Message", "Conversation");
    model->entity("HX_Message")
        .attribute("from", storetest::AttributeType::Boolean, 1)
        .toOne("Conversation", "HX_Conversation", "Messages");
    auto context = Context::create(ConcurrencyType::MainQueue);
    context->setPersistentStoreCoordinator(store::Coordinator::create(model));
    auto c = context->insertNewObject("HX_Conversation");
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c.value()->value("isRead"), Value(false));
    EXPECT_EQ(c.value()->value("type"), Value(int64_t{7}));
    EXPECT_TRUE(c.value()->value("note").isNull());
    EXPECT_TRUE(c.value()->objects("Messages").empty());
    // Every object starts from the same defaults, and what one changes stays its own: neither
    // another object nor the next new one sees it.
    auto d = context->insertNewObject("HX_Conversation");
    ASSERT_TRUE(d.ok());
    ASSERT_TRUE(c.value()->setValue("label", "mine").ok());
    ASSERT_TRUE(c.value()->setValue("isRead", true).ok());
    ASSERT_TRUE(c.value()->setValue("type", 9).ok());
    EXPECT_EQ(d.value()->value("label"), Value("none"));
    EXPECT_EQ(d.value()->value("isRead"), Value(false));
    EXPECT_EQ(d.value()->value("type"), Value(int64_t{7}));
    auto e = context->insertNewObject("HX_Conversation");
    ASSERT_TRUE(e.ok());
    EXPECT_EQ(e.value()->value("label"), Value("none"));
    EXPECT_EQ(e.value()->value("isRead"), Value(false));
    EXPECT_EQ(c.value()->value("label"), Value("mine"));
    auto m = context->insertNewObject("HX_Message");
    ASSERT_TRUE(m.ok());
    EXPECT_EQ(m.value()->value("from"), Value(true));
    EXPECT_EQ(m.value()->object("Conversation"), nullptr);
}

// What held rows cost the heap, measured by the C library's allocator, is what heldBytes says, and
// less than a Value for each attribute would take: a row of a text, an id, a number and a flag
// keeps the bytes of those.
TEST_F(ContextTest, HeldRowsTakeTheHeapTheirValuesNeedAndHeldBytesSaysSo) {
#if defined(HX_SANITIZER_ADDRESS) || defined(HX_SANITIZER_THREAD)
    GTEST_SKIP() << "the sanitizer's allocator keeps no such count";
#endif
    const store::Entity& e = *coordinator->model().entityNamed("HX_Message");
    const int id = e.attributeIndex("id"), text = e.attributeIndex("message"), number = e.attributeIndex("number"),
              from = e.attributeIndex("from");
    constexpr int kRows = 2000;
    std::vector<std::pair<std::string, std::string>> given;
    size_t textBytes = 0;
    for (int i = 0; i < kRows; ++i) {
        given.emplace_back("m" + std::to_string(i), "A message of some sixty characters, number " + std::to_string(i));
        textBytes += given.back().second.size();
    }
    std::vector<store::ObjectID> ids;
    ids.reserve(kRows);
    auto heapInUse = [] {
        const struct mallinfo2 m = mallinfo2();
        return m.uordblks + m.hblkhd;  // small blocks and mapped ones (the list of rows) alike
    };
    const size_t before = heapInUse();
    for (int i = 0; i < kRows; ++i) {
        std::pair<int, Value> values[] = {{id, Value(std::move(given[i].first))},
                                          {text, Value(std::move(given[i].second))},
                                          {number, Value(int64_t{i})},
                                          {from, Value(i % 2 == 0)}};
        auto made = main->insertNewRow("HX_Message", values, {});
        ASSERT_TRUE(made.ok());
        ids.push_back(std::move(made.value()));
    }
    // The identities are the caller's (each in one block with its count); the rows, their list and
    // index are the context's.
    const size_t heap = heapInUse() - before - kRows * (sizeof(store::ObjectIdentity) + 24);
    EXPECT_LT(heap, kRows * (sizeof(store::Row) + e.attributes().size() * sizeof(Value)))
        << heap / kRows << " bytes a row";
    EXPECT_NEAR(static_cast<double>(main->heldBytes()), static_cast<double>(heap), 0.25 * static_cast<double>(heap));
    ASSERT_TRUE(main->save().ok());
    EXPECT_EQ(
        storetest::sqlite(path, "SELECT count(*), sum(length(message)), sum(number), sum([from]) FROM HX_Message"),
        "2000|" + std::to_string(textBytes) + "|1999000|1000");
}

// A held row keeps what its values need, not a Value for each attribute: a thousand new messages
// held in a child and then in its parent take less than the Values of their attributes would alone.
// Read and changed where they wait (a lookup from another child, a visit of the pending rows that
// marks each one and rewrites one text), then fetched and saved, every value comes back and is
// stored as it was given, type for type: texts, numbers, flags, an attachment list, a text in a
// transformable attribute, nulls.
TEST_F(ContextTest, HeldRowsKeepTheBytesOfTheirValuesAndGiveThemBackWhole) {
    const store::Entity& e = *coordinator->model().entityNamed("HX_Message");
    const int id = e.attributeIndex("id"), text = e.attributeIndex("message"), number = e.attributeIndex("number"),
              from = e.attributeIndex("from"), indexed = e.attributeIndex("isIndexedForSearch"),
              attachments = e.attributeIndex("attachments"), small = e.attributeIndex("small");
    const int owner = e.relationship("Conversation")->index;
    constexpr int kRows = 1000;
    auto attachmentsOf = [](int i) -> Value {
        if (i % 3 == 0) return Value("a transformable text " + std::to_string(i));
        if (i == 4) return foundation::Data{0, 1, 2, 0xff};
        if (i % 3 == 1) return {};
        foundation::Dictionary d;
        d.set("id", "att" + std::to_string(i));
        d.set("size", int64_t{i} * 1000);
        d.set("ratio", 0.5);
        return foundation::Array{Value(std::move(d)), Value(true)};
    };
    auto textOf = [](int i) { return "The text of message number " + std::to_string(i) + ", long enough"; };
    auto worker = child();
    std::vector<store::ObjectID> ids;
    worker->performAndWait([&] {
        auto c = conversation(worker, "held");
        ASSERT_TRUE(c->setValue("lastdate", foundation::Date{1.7e9 + 0.25}).ok());
        ASSERT_TRUE(c->setValue("score", 2.5).ok());
        for (int i = 0; i < kRows; ++i) {
            Value smallValue;
            if (i % 2) smallValue = Value(int64_t{i % 100});
            std::pair<int, Value> values[] = {{id, Value("m" + std::to_string(i))}, {text, Value(textOf(i))},
                                              {number, Value(int64_t{i})},          {from, Value(i % 2)},
                                              {attachments, attachmentsOf(i)},      {small, std::move(smallValue)}};
            const std::pair<int, store::ManagedObjectPtr> target[] = {{owner, c}};
            auto made = worker->insertNewRow("HX_Message", values, target);
            ASSERT_TRUE(made.ok());
            ids.push_back(made.value());
        }
        const size_t asValues = kRows * (sizeof(store::Row) + e.attributes().size() * sizeof(Value));
        EXPECT_LT(worker->heldBytes(), asValues) << worker->heldBytes() / kRows << " bytes a row";
        ASSERT_TRUE(worker->save().ok());
    });
    const size_t asValues = kRows * (sizeof(store::Row) + e.attributes().size() * sizeof(Value));
    EXPECT_LT(main->heldBytes(), asValues) << main->heldBytes() / kRows << " bytes a row";

    // Another child reads a held row through its parent.
    auto reader = child();
    reader->performAndWait([&] {
        auto m = reader->existingObjectWithID(ids[5]);
        ASSERT_TRUE(m.ok());
        EXPECT_EQ(m.value()->value("message"), Value(textOf(5)));
        EXPECT_EQ(m.value()->value("small"), Value(int64_t{5}));
        EXPECT_EQ(m.value()->value("attachments"), attachmentsOf(5));
        EXPECT_EQ(m.value()->object("Conversation")->value("conversationID"), Value("held"));
    });
    // The visit reads each row and marks it (a null flag becomes a flag, then a flag changes in
    // place); one text is rewritten.
    for (bool mark : {false, true}) {
        size_t visited = 0;
        main->visitPending("HX_Message", [&](store::Context::PendingRow& row, const store::Context::PendingFinder&) {
            const int i = static_cast<int>(row.valueAt(number).int64Value());
            const Value& t = row.valueAt(text);
            EXPECT_EQ(t, Value(textOf(i)));
            EXPECT_EQ(row.valueAt(from), Value(i % 2 == 1));
            EXPECT_EQ(row.valueAt(attachments), attachmentsOf(i));
            row.setValueAt(indexed, mark);
            EXPECT_EQ(row.valueAt(indexed), Value(mark));
            EXPECT_EQ(&t, &row.valueAt(text));  // still the same value, as long as the view lives
            if (i == 7 && mark) row.setValueAt(text, "rewritten");
            ++visited;
        });
        EXPECT_EQ(visited, size_t{kRows});
    }
    auto fetched = main->fetch(FetchRequest("HX_Message"));
    ASSERT_TRUE(fetched.ok());
    ASSERT_EQ(fetched->size(), size_t{kRows});
    for (const auto& m : fetched.value()) {
        const int i = static_cast<int>(m->value("number").int64Value());
        EXPECT_EQ(m->value("id"), Value("m" + std::to_string(i)));
        EXPECT_EQ(m->value("message"), Value(i == 7 ? std::string("rewritten") : textOf(i)));
        EXPECT_EQ(m->value("isIndexedForSearch"), Value(true));
        EXPECT_EQ(m->value("small"), i % 2 ? Value(int64_t{i % 100}) : Value());
    }
    fetched->clear();
    ASSERT_TRUE(main->save().ok());
    EXPECT_EQ(storetest::sqlite(path, "SELECT count(*), sum(number), sum([from]), sum(isIndexedForSearch), "
                                      "sum(small), count(small), sum(typeof(attachments) = 'text'), "
                                      "sum(typeof(attachments) = 'blob'), sum(attachments IS NULL) FROM HX_Message"),
              "1000|499500|500|1000|25000|500|0|668|332");
    EXPECT_EQ(storetest::sqlite(path, "SELECT message FROM HX_Message WHERE number = 7"), "rewritten");
    // A file written before transformable texts were given their byte form holds them as texts.
    storetest::sqlite(path, "UPDATE HX_Message SET attachments = 'an older text' WHERE number = 0");
    EXPECT_EQ(storetest::sqlite(path, "SELECT lastdate, score, type, typeof(note) FROM HX_Conversation"),
              "1700000000.25|2.5|10|null");
    // Read back from the file, each transformable value is what was given, type for type.
    auto again = Context::create(ConcurrencyType::MainQueue);
    again->setPersistentStoreCoordinator(storetest::openStore(path));
    auto stored = again->fetch(FetchRequest("HX_Message"));
    ASSERT_TRUE(stored.ok());
    ASSERT_EQ(stored->size(), size_t{kRows});
    for (const auto& m : stored.value()) {
        const int i = static_cast<int>(m->value("number").int64Value());
        EXPECT_EQ(m->value("attachments"), i == 0 ? Value("an older text") : attachmentsOf(i)) << i;
        EXPECT_EQ(m->value("from"), Value(i % 2 == 1)) << i;
    }
}

// Rows an import writes and nobody holds afterwards cost the coordinator's table of identities
// nothing, page after page, whether the root writes them itself or after a child's save, and the
// list that held them gives its room back once they are written or handed on; so do the
// conversations the import made and let go, which only its message rows named. A row
// whose identity someone still holds is registered, so that reading the row again gives that
// identity and the object registered for it.
TEST_F(ContextTest, RowsNobodyHoldsAfterTheirSaveLeaveNoIdentityBehind) {
    const store::Entity& e = *coordinator->model().entityNamed("HX_Message");
    const int number = e.attributeIndex("number");
    const int owner = e.relationship("Conversation")->index;
    constexpr int kRows = 5000, kPerConversation = 10;
    const size_t before = coordinator->identityTableBytes();
    store::ObjectID kept;
    int64_t next = 0;
    for (bool inChild : {false, true}) {
        SCOPED_TRACE(inChild ? "in a child" : "in the root");
        auto ctx = inChild ? child() : main;
        ctx->performAndWait([&] {
            store::ManagedObjectPtr c;
            for (int i = 0; i < kRows; ++i) {
                if (i % kPerConversation == 0) c = conversation(ctx, std::to_string(next));
                std::pair<int, Value> values[] = {{number, Value(++next)}};
                const std::pair<int, store::ManagedObjectPtr> toOne[] = {{owner, c}};
                auto id = ctx->insertNewRow("HX_Message", values, toOne);
                ASSERT_TRUE(id.ok());
                if (next == 7) kept = id.value();
            }
            c.reset();
            EXPECT_GE(ctx->heldBytes(), kRows * sizeof(store::Row));
            ASSERT_TRUE(ctx->save().ok());
            EXPECT_EQ(ctx->heldBytes(), 0u);
        });
        if (inChild) {
            EXPECT_GE(main->heldBytes(), kRows * sizeof(store::Row));
            // The merge's announcement, queued on the main queue, runs before a later save there.
            clock->runUntilIdle();
            ASSERT_TRUE(main->save().ok());
            EXPECT_EQ(main->heldBytes(), 0u);
        }
        EXPECT_LE(coordinator->identityTableBytes(), before + 4096)
            << "the table of identities grew to " << coordinator->identityTableBytes() << " bytes";
    }
    EXPECT_EQ(storetest::sqlite(path, "SELECT count(*) || ':' || sum(number) FROM HX_Message"),
              std::to_string(2 * kRows) + ":" + std::to_string(int64_t{2 * kRows} * (2 * kRows + 1) / 2));
    // Each message names its conversation, the one made just before it.
    EXPECT_EQ(storetest::sqlite(path, "SELECT count(*) FROM HX_Message m JOIN HX_Conversation c ON "
                                      "m.Conversation = c.Z_PK WHERE c.conversationID = (m.number - 1) / " +
                                          std::to_string(kPerConversation) + " * " + std::to_string(kPerConversation)),
              std::to_string(2 * kRows));
    ASSERT_TRUE(kept && !kept->isTemporary());
    auto fetched = main->fetch(FetchRequest("HX_Message"));
    ASSERT_TRUE(fetched.ok());
    ASSERT_EQ(fetched->size(), size_t{2 * kRows});
    auto seven = std::find_if(fetched->begin(), fetched->end(),
                              [](const auto& m) { return m->value("number") == Value(int64_t{7}); });
    ASSERT_NE(seven, fetched->end());
    EXPECT_EQ((*seven)->objectID(), kept);
    EXPECT_EQ(main->objectWithID(kept), *seven);
}
