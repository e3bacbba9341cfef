// A list model's store with two threads in it, for tests of a list screen over a model of their
// own: a signed-in account with its store emptied, and a parsed reply of two threads (Ann's
// older than Ben's).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/connect_app_delegate.h"
#include "model/account.h"
#include "platform/foundation/notification_center.h"
#include "platform/toolkit/testing/harness.h"
#include "service/message_list_model.h"
#include "tests/support/signed_in_account.h"

namespace hxtest {

inline bool signInWithEmptyStore(HX_ConnectAppDelegate& app, const std::string& username) {
    app.setAccount(signedInAccount(username, std::nullopt, "AuthV2"));
    app.setMessageParsingQueue(dispatch::Queue::serial("parse"));
    return app.resetPersistentStore().ok();
}

// Parses the two threads through model and waits until they are stored and the model has said so
// (and until also holds, when given).
inline bool storeTwoThreads(HXMessageListModel& model, toolkit::testing::Harness& harness,
                            const std::function<bool()>& also = {}) {
    int saved = 0;
    foundation::NotificationCenter::defaultCenter().addObserver(&saved, "kOlderConversationMessagesLoadedNotification",
                                                                [&](const foundation::Notification&) { ++saved; });
    const std::string reply = R"({"thread":[
      {"id":"a","contact":[{"phoneNumber":"+15550001","name":"Ann"}],
       "item":[{"id":"a1","type":"smsIn","startTime":"1700000001000","messageText":"x"}]},
      {"id":"b","contact":[{"phoneNumber":"+15550002","name":"Ben"}],
       "item":[{"id":"b1","type":"smsIn","startTime":"1700000009000","messageText":"y"}]}]})";
    model.parseMessagesFromData_v2(std::make_shared<foundation::Data>(reply.begin(), reply.end()), 0, {});
    const bool stored = harness.clock().runUntil([&] { return saved > 0 && (!also || also()); }, 5);
    harness.settle();
    foundation::NotificationCenter::defaultCenter().removeObserver(&saved);
    return stored;
}

}  // namespace hxtest
