#include "service/conversation_pages.h"

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
    auto waiting = newestWaiting_.find(conversationID);
    if (done && waiting != newestWaiting_.end() && a && a->requestInFlight(hxservice::api("api2thread/get?alt=json"))) {
        waiting->second.push_back(std::move(done));
        return;
    }
    auto answer = [weak = weak_from_this(), parser = std::move(parser),
                   conversationID](std::shared_ptr<foundation::Data> data) {
        auto self = weak.lock();
        if (!self) return;
        auto list = parser.lock();
        if (!list) list = self->parserFor(conversationID);
        if (data && !data->empty() && list) return self->pageArrived(std::move(data), true, list, {}, conversationID);
        self->answerNewest({.conversationID = conversationID});
    };
    if (!a || !a->loadConversationWithID(conversationID, std::nullopt, std::move(answer))) {
        if (done) done({.conversationID = conversationID});
        return;
    }
    auto& callers = newestWaiting_[conversationID];
    if (done) callers.push_back(std::move(done));
}

void HXConversationPages::loadOlder(const std::string& conversationID, const std::string& token,
                                    HXPageCompletion done) {
    auto a = app_.lock();
    auto answer = [weak = weak_from_this(), conversationID, done](std::shared_ptr<foundation::Data> data) {
        auto self = weak.lock();
        auto list = self ? self->parserFor(conversationID) : nullptr;
        if (data && !data->empty() && list)
            return self->pageArrived(std::move(data), false, list, done, conversationID);
        if (done) done({.conversationID = conversationID});
    };
    if (!a || !a->loadConversationWithID(conversationID, token, answer))
        if (done) done({.conversationID = conversationID});
}

void HXConversationPages::pageArrived(std::shared_ptr<const foundation::Data> data, bool isLatest,
                                      const std::shared_ptr<HXMessageListModel>& parser, HXPageCompletion done,
                                      const std::string& conversationID) {
    if (!parser) {
        if (done) done({.conversationID = conversationID});
        return;
    }
    parser->parseConversationPage(
        std::move(data), isLatest,
        [weak = weak_from_this(), isLatest, done, conversationID](const HXPageAnswer& parsed) {
            HXPageAnswer answer = parsed;
            // A reply that could not be read names no conversation: the one asked for it is.
            if (answer.conversationID.empty()) answer.conversationID = conversationID;
            if (done) done(answer);
            if (auto self = weak.lock(); self && isLatest) self->answerNewest(answer);
        });
}

void HXConversationPages::answerNewest(const HXPageAnswer& answer) {
    auto it = newestWaiting_.find(answer.conversationID);
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
