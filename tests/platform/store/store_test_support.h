// The message-store model the tests run against, and small helpers around it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/store/context.h"
#include "platform/store/coordinator.h"
#include "platform/store/model.h"
#include "platform/store/store_error.h"
#include "tests/support/test_support.h"

namespace storetest {

using store::AttributeType;

// Conversations and their messages, with the templates the app declares.
inline store::ModelPtr messageModel(bool extraAttribute = false) {
    auto model = std::make_shared<store::Model>();
    auto& c = model->entity("HX_Conversation");
    c.attribute("conversationID", AttributeType::String, {}, true)
        .attribute("isRead", AttributeType::Boolean, false)
        .attribute("isSpam", AttributeType::Boolean, false)
        .attribute("isStarred", AttributeType::Boolean, false)
        .attribute("isTrash", AttributeType::Boolean, false)
        .attribute("isArchived", AttributeType::Boolean, false)
        .attribute("lastdate", AttributeType::Date, {}, true)
        .attribute("lastMessageText", AttributeType::String)
        .attribute("note", AttributeType::String)
        .attribute("phoneNumber", AttributeType::String, {}, true)
        .attribute("sender", AttributeType::String)
        .attribute("type", AttributeType::Integer32, 0, true)
        .attribute("numberOfMessages", AttributeType::Integer32, 0)
        .attribute("ABName", AttributeType::String)
        .attribute("score", AttributeType::Double)
        .toMany("Messages", "HX_Message", "Conversation", store::DeleteRule::Cascade)
        .index({"type", "lastdate"});
    if (extraAttribute) c.attribute("paginationToken", AttributeType::String);
    auto& m = model->entity("HX_Message");
    m.attribute("id", AttributeType::String)
        .attribute("message", AttributeType::String)
        .attribute("number", AttributeType::Integer64, {}, true)
        .attribute("from", AttributeType::Boolean, false)
        .attribute("isIndexedForSearch", AttributeType::Boolean)
        .attribute("attachments", AttributeType::Transformable)
        .attribute("small", AttributeType::Integer16)
        .toOne("Conversation", "HX_Conversation", "Messages");
    EXPECT_TRUE(model->addFetchRequestTemplate("cv_unread", "HX_Conversation", "isRead == NO AND type IN $TYPELIST"));
    EXPECT_TRUE(model->addFetchRequestTemplate("cv_type", "HX_Conversation", "type IN $TYPELIST"));
    EXPECT_TRUE(model->addFetchRequestTemplate("cv_ID", "HX_Conversation", "conversationID == $ID"));
    EXPECT_TRUE(model->addFetchRequestTemplate("cv_phone_abname", "HX_Conversation",
                                               "phoneNumber == $NUMBER AND ABName != $NAME"));
    EXPECT_TRUE(model->addFetchRequestTemplate("cv_group_abname", "HX_Conversation",
                                               "sender == $GROUP_MESSAGE_HEADER AND phoneNumber CONTAINS $NUMBER"));
    EXPECT_TRUE(model->addFetchRequestTemplate(
        "cv_stale", "HX_Conversation",
        "type IN $TYPELIST AND lastdate BETWEEN {$FIRSTMESSAGE, $LASTMESSAGE} AND NOT (conversationID IN $IDLIST) "
        "AND isTrash == $ISTRASH AND isSpam == $ISSPAM"));
    EXPECT_TRUE(model->addFetchRequestTemplate("msg_unindexed", "HX_Message", "isIndexedForSearch != YES"));
    EXPECT_TRUE(model->finish());
    return model;
}

inline store::StoreOptions storeOptions() {
    store::StoreOptions o;
    o.migratePersistentStoresAutomatically = true;
    o.inferMappingModelAutomatically = true;
    o.sqlitePragmas.set("journal_mode", "DELETE");
    o.busyTimeoutSeconds = 0;
    return o;
}

inline store::CoordinatorPtr openStore(const std::string& path, store::ModelPtr model = messageModel()) {
    auto coordinator = store::Coordinator::create(std::move(model));
    auto added = coordinator->addPersistentStore(path, storeOptions());
    EXPECT_TRUE(added.ok()) << (added.ok() ? "" : added.error().description());
    return coordinator;
}

// Runs a query with the sqlite3 command-line tool and returns what it printed.
inline std::string sqlite(const std::string& path, const std::string& sql) {
    std::string out;
    hxtest::runCommand("sqlite3 '" + path + "' \"" + sql + "\" 2>&1", &out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

}  // namespace storetest
