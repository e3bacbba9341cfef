#include "service/conversation_pages.h"

#include <utility>

#include "platform/dispatch/dispatch.h"
#include "service/application_web_client.h"
#include "service/conversation_store.h"
#include "service/message_list_model.h"
#include "service/request_machinery.h"
#include "service/source_helpers.h"

namespace {

// The view index of the list that shows a view type: the SMS list 1, voicemail 2, history 3.
int viewIndexForViewType(int viewType) { return viewType; }

}  // namespace

HXConversationPages::HXConversationPages(std::weak_ptr<HXApplicationWebClient> app) : app_(std::move(app)) {}

int HXConversationPages::viewTypeForConversationType(int64_t type) {
    if (type < 0 || type > 62) return 3;
    const int64_t mask = int64_t{1} << type;
    if (mask & HXConversationStore::kSMSMask) return 1;
    if (mask & HXConversationStore::kVoicemailMask) return 2;
    return 3;
}

// The list the app shows for the kind parses, not one of the loader's own: its parse does more for
// it than its rows follow (the open conversation read as it is shown, the list's loading and
// refresh ended, its repairs counted). The loader's own list of a kind stands in where there is
// none.
std::shared_ptr<HXMessageListModel> HXConversationPages::parserFor(const std::string& conversationID) {
    auto a = app_.lock();
    if (!a) return nullptr;
    auto conversation = a->getConversationWithID(conversationID);
    const int viewType = viewTypeForConversationType(conversation ? conversation->value("type").int64Value(10) : 10);
    if (auto shown =
            std::dynamic_pointer_cast<HXMessageListModel>(a->messageListForViewIndex(viewIndexForViewType(viewType))))
        return shown;
    auto& own = ownParsers_[viewType];
    if (!own)
        own = std::make_shared<HXMessageListModel>(
            app_, HXMessageListModel::viewSettingsForType(viewType, a->endpoints().servicePageBase()));
    return own;
}

void HXConversationPages::loadNewest(const std::string& conversationID, HXPageCompletion done,
                                     std::weak_ptr<HXMessageListModel> parser) {
    auto a = app_.lock();
    // A caller that waits for the page joins one on its way (its request still out); a list that
    // opens the conversation asks again.
    if (done && newestOut_.serial && newestOut_.conversationID == conversationID && a &&
        a->requestInFlight(hxservice::api("api2thread/get?alt=json"))) {
        newestWaiting_[conversationID].push_back(std::move(done));
        return;
    }
    const uint64_t serial = ++serial_;
    auto answer = [weak = weak_from_this(), parser = std::move(parser), conversationID,
                   serial](std::shared_ptr<foundation::Data> data) {
        auto self = weak.lock();
        // A request replaced by a later one under the shared tag has been answered already.
        if (!self || self->newestOut_.serial != serial) return;
        self->newestOut_ = {};
        auto list = parser.lock();
        if (!list) list = self->parserFor(conversationID);
        if (data && !data->empty() && list) return self->pageArrived(std::move(data), true, list, {}, conversationID);
        self->answerNewest(conversationID, {.conversationID = conversationID});
    };
    if (!a || !a->loadConversationWithID(conversationID, std::nullopt, std::move(answer))) {
        if (done) done({.conversationID = conversationID});
        return;
    }
    // Every conversation's newest page goes under one tag: the one this request replaced is never
    // answered by the service, so its callers hear now that it brought nothing (those of the same
    // conversation wait for this one instead).
    const Out replaced = std::exchange(newestOut_, Out{serial, conversationID});
    if (replaced.serial && replaced.conversationID != conversationID)
        answerNewest(replaced.conversationID, {.conversationID = replaced.conversationID});
    if (done) newestWaiting_[conversationID].push_back(std::move(done));
}

void HXConversationPages::loadOlder(const std::string& conversationID, const std::string& token,
                                    HXPageCompletion done) {
    auto a = app_.lock();
    const uint64_t serial = ++serial_;
    auto answer = [weak = weak_from_this(), conversationID, token, serial](std::shared_ptr<foundation::Data> data) {
        auto self = weak.lock();
        if (!self) return;
        auto out = self->olderOut_.find(token);
        // A request replaced by a later one under its tag has been answered already.
        if (out == self->olderOut_.end() || out->second.serial != serial) return;
        HXPageCompletion done = std::move(out->second.done);
        self->olderOut_.erase(out);
        auto list = self->parserFor(conversationID);
        if (data && !data->empty() && list)
            return self->pageArrived(std::move(data), false, list, std::move(done), conversationID);
        if (done) done({.conversationID = conversationID});
    };
    if (!a || !a->loadConversationWithID(conversationID, token, std::move(answer))) {
        if (done) done({.conversationID = conversationID});
        return;
    }
    // The same page asked for again replaces the request under its tag: the earlier caller hears
    // that it brought nothing.
    Out replaced = std::exchange(olderOut_[token], Out{serial, conversationID, std::move(done)});
    if (replaced.serial && replaced.done) replaced.done({.conversationID = replaced.conversationID});
}

void HXConversationPages::pageArrived(std::shared_ptr<const foundation::Data> data, bool isLatest,
                                      const std::shared_ptr<HXMessageListModel>& parser, HXPageCompletion done,
                                      const std::string& conversationID) {
    if (!parser) {
        if (done) done({.conversationID = conversationID});
        if (isLatest && !conversationID.empty()) answerNewest(conversationID, {.conversationID = conversationID});
        return;
    }
    parser->parseConversationPage(
        std::move(data), isLatest,
        [weak = weak_from_this(), isLatest, done, conversationID](const HXPageAnswer& parsed) {
            HXPageAnswer answer = parsed;
            // A reply that could not be read names no conversation: the one asked for it is.
            if (answer.conversationID.empty()) answer.conversationID = conversationID;
            if (done) done(answer);
            // The callers of the conversation asked for hear of it, whatever the page calls itself.
            if (auto self = weak.lock(); self && isLatest)
                self->answerNewest(conversationID.empty() ? answer.conversationID : conversationID, answer);
        });
}

void HXConversationPages::answerNewest(const std::string& conversationID, const HXPageAnswer& answer) {
    auto it = newestWaiting_.find(conversationID);
    if (it == newestWaiting_.end()) return;
    auto waiting = std::move(it->second);
    newestWaiting_.erase(it);
    for (auto& done : waiting) done(answer);
}

std::shared_ptr<HXConversationPages> HXConversationPagesOf(HXApplicationWebClient& app) {
    auto& web = HXWebClientOf(app);
    if (!web.pages) web.pages = std::make_shared<HXConversationPages>(app.weakWebClient());
    return web.pages;
}
