// The platform's background fetch: the unread counts, then the unread list when there is
// something unread, on a session of its own.
#include <atomic>

#include "app/connect_app_delegate.h"
#include "platform/dispatch/dispatch.h"
#include "platform/net/cookie.h"
#include "platform/net/url_session.h"
#include "service/custom_cookie_jar.h"
#include "service/request_machinery.h"

namespace {

// The platform's completion, answered exactly once: the first answer wins, and a fetch whose
// every path let go of the completion without answering is answered as failed then. Each answer
// first lets the passcode lock cover the app, on the main queue.
class FetchAnswer {
public:
    FetchAnswer(HXApplicationModel::BackgroundFetchCompletion platform, std::function<void()> beforeAnswer)
        : platform_(std::move(platform)), beforeAnswer_(std::move(beforeAnswer)) {}
    ~FetchAnswer() { answer(HXApplicationModel::BackgroundFetchFailed); }
    void answer(int result) {
        if (answered_.exchange(true)) return;
        dispatch::Queue::main()->async([platform = platform_, before = beforeAnswer_, result] {
            if (before) before();
            if (platform) platform(result);
        });
    }

private:
    HXApplicationModel::BackgroundFetchCompletion platform_;
    std::function<void()> beforeAnswer_;
    std::atomic<bool> answered_{false};
};

foundation::Dictionary apiDescription(const char* endpoint, const char* body) {
    return foundation::Dictionary{
        {"url", std::string(kHXApiPath) + endpoint}, {"contentType", "application/json+protobuf"}, {"body", body}};
}

}  // namespace

void HX_ConnectAppDelegate::applicationPerformFetchWithCompletionHandler(BackgroundFetchCompletion completion) {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, foundation::kApplicationDidBecomeActiveNotification);
    center.addObserver(this, foundation::kApplicationDidBecomeActiveNotification,
                       [this](const foundation::Notification&) { resumeActive(); });

    std::weak_ptr<HX_ConnectAppDelegate> weak = weakSelf();
    auto fetch = std::make_shared<FetchAnswer>(std::move(completion), [weak] {
        if (auto self = weak.lock()) self->showPasscodeLockIfNeeded();
    });
    // The completion handed on: holding it keeps the fetch unanswered; dropping every copy
    // answers it as failed.
    BackgroundFetchCompletion answer = [fetch](int result) { fetch->answer(result); };

    const std::string page = webClient().endpoints.servicePageBase();
    std::optional<std::string> cookieHeader;
    if (auto jar = cookieJar()) {
        std::lock_guard lock(jar->lock());
        if (auto cookies = jar->cookiesForURL(page + "inbox/recent/unread/"))
            cookieHeader = net::Cookie::requestHeaderValue(*cookies);
    }
    if (!cookieHeader) return answer(BackgroundFetchNoData);

    auto configuration = net::URLSessionConfiguration::defaultSessionConfiguration();
    configuration.timeoutIntervalForRequest = 25.0;
    configuration.httpAdditionalHeaders.set("Referer", page);
    configuration.httpAdditionalHeaders.set("Cookie", *cookieHeader);
    configuration.httpAdditionalHeaders.set("Accept-Encoding", "gzip, deflate");
    auto session = net::URLSession::sessionWithConfiguration(std::move(configuration));

    auto counts = apiRequestWithDict(apiDescription("threadinginfo/get?alt=json", "[]"));
    if (!counts) return answer(BackgroundFetchNoData);

    // The session answers on its own queue: its completions take the reply to the main queue and
    // lock the application object only there.
    using Use = std::function<void(HX_ConnectAppDelegate&, std::shared_ptr<const foundation::Data>)>;
    auto onMain = [weak, session, answer](const foundation::Data& data, const std::optional<foundation::Error>& error,
                                          Use use) {
        auto fail = [session, answer] {
            session->invalidateAndCancel();
            answer(BackgroundFetchFailed);
        };
        if (error) return fail();
        dispatch::Queue::main()->async(
            [weak, fail, bytes = std::make_shared<const foundation::Data>(data), use = std::move(use)] {
                auto app = weak.lock();
                if (!app) return fail();
                use(*app, bytes);
            });
    };
    auto task = session->dataTaskWithRequest(std::move(*counts), [onMain, session, answer](
                                                                     const foundation::Data& data,
                                                                     const std::optional<net::HTTPURLResponse>&,
                                                                     const std::optional<foundation::Error>& error) {
        onMain(data, error,
               [onMain, session, answer](HX_ConnectAppDelegate& app, std::shared_ptr<const foundation::Data> reply) {
                   const auto counts =
                       app.unreadCountsFromReply(
                              std::string_view(reinterpret_cast<const char*>(reply->data()), reply->size()))
                           .value_or(std::pair<int64_t, int64_t>{0, 0});
                   const int64_t sms = counts.first, voicemail = counts.second;
                   auto setCounts = [&] {
                       app.setUnreadCount(sms, 1);
                       app.setUnreadCount(voicemail, 2);
                   };
                   if (sms + voicemail < 1) {
                       setCounts();
                       return answer(BackgroundFetchNoData);
                   }
                   auto list = app.apiRequestWithDict(
                       apiDescription("api2thread/list?alt=json", "[1,20,15,null,null,[null,true,true]]"));
                   if (!list) return answer(BackgroundFetchNoData);
                   setCounts();
                   auto listTask = session->dataTaskWithRequest(
                       std::move(*list), [onMain, session, answer](const foundation::Data& body,
                                                                   const std::optional<net::HTTPURLResponse>&,
                                                                   const std::optional<foundation::Error>& failure) {
                           onMain(body, failure,
                                  [session, answer](HX_ConnectAppDelegate& app,
                                                    std::shared_ptr<const foundation::Data> unread) {
                                      app.getUnreadMessagesFromData(std::move(unread), answer);
                                      session->finishTasksAndInvalidate();
                                  });
                       });
                   listTask->resume();
               });
    });
    task->resume();
}
