#include "service/list_parse_environment.h"

#include "model/account.h"
#include "model/phone_extensions.h"
#include "service/application_web_client.h"
#include "service/request_machinery.h"

std::shared_ptr<HXChildContext> HXChildContext::make(HXApplicationModel& model) {
    auto context = model.newChildContext();
    if (!context) return nullptr;
    return std::make_shared<HXChildContext>(HXModelReference(model), std::move(context));
}

HXChildContext::HXChildContext(HXModelReference model, store::ContextPtr context)
    : model_(std::move(model)), context_(std::move(context)) {}

HXChildContext::~HXChildContext() {
    if (saved_) return;
    dispatch::Queue::main()->async([model = model_] {
        if (auto self = model.lock()) self->decreaseMocAccessCount();
    });
}

void HXChildContext::save(std::function<void()> completion, HXApplicationModel::BackgroundFetchCompletion handler) {
    if (saved_.exchange(true)) return;
    HXSaveChildContext(model_, context_, std::move(completion), std::move(handler));
}

std::shared_ptr<const HXListParseEnvironment> HXMakeListParseEnvironment(HXApplicationWebClient& app) {
    auto env = std::make_shared<HXListParseEnvironment>();
    env->mainContext = app.managedObjectContext();
    if (!env->mainContext) return nullptr;
    env->child = HXChildContext::make(app);
    if (!env->child) return nullptr;
    env->app = app.weakWebClient();
    auto account = app.account();
    env->signedIn = account && account->authV2().has_value();
    env->inBackground = app.isInBackground();
    env->username = app.currentUsername();
    env->parsingQueue = app.messageParsingQueue();
    env->names = {HXContactListSnapshot(app), app.phoneFormatter(), hxcontacts::familyNameOrder()};
    app.decreasePhoneFormatterAccessCount();
    env->numberFormatter = PhoneExtensions::sharedFormatter();
    env->media = HXMediaFilesOf(app);
    env->endpoints = app.endpoints();
    env->cookieJar = app.cookieJar();
    return env;
}
