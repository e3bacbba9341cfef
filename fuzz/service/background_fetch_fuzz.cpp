// Replies of the unread load made for the platform's background fetch, with arbitrary bodies:
// nothing crashes, and the platform's completion is answered exactly once, except for a reply
// that says the session has expired (code 401), which asks for a sign-in and answers nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz/service/app_fuzz_support.h"
#include "platform/foundation/json.h"

namespace {

// The history list: every parse it is asked for completes with new data.
class HistoryList : public HXMessageListReceiver {
public:
    void parseMessagesFromData(std::shared_ptr<const foundation::Data>, FetchCompletion completion) override {
        if (completion) completion(HXApplicationModel::BackgroundFetchNewData);
    }
    void parseMessagesFromData(std::shared_ptr<const foundation::Data>, int, FetchCompletion completion) override {
        if (completion) completion(HXApplicationModel::BackgroundFetchNewData);
    }
    void abortLoading() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzzsupport::AppUnderFuzz fuzz;
    fuzz.app->messageLists = {{3, std::make_shared<HistoryList>()}};
    fuzz.app->setIsInBackground(true);
    fuzz.app->setLastNotification(1'000'000);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = foundation::parseJSON(text);
    const bool expired = parsed.ok() && parsed->isDictionary() && parsed->asDictionary().get("error").isDictionary() &&
                         parsed->asDictionary().get("error").asDictionary().get("code").int64Value() == 401;
    int answers = 0;
    fuzz.app->getUnreadMessagesFromData(std::make_shared<const foundation::Data>(data, data + size),
                                        [&answers](int) { ++answers; });
    fuzz.settle();
    if (answers != (expired ? 0 : 1)) std::abort();
    return 0;
}
