// The shell until it is built: every request that the data model and the web client send up to
// the application object lands here. It records each call in order (tests read them back) and
// answers the questions from values that tests script, so nothing asked of the shell is dropped
// unseen. The message-list stand-in does the same for the list screens.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/alert.h"
#include "platform/foundation/thread_annotations.h"
#include "service/message_list_screen.h"

// Calls recorded in order, safe to use from any thread.
class HXCallRecord {
public:
    void record(std::string call);
    std::vector<std::string> calls() const;
    // How many recorded calls are name itself or name followed by a space and arguments.
    size_t count(std::string_view name) const;
    void clear();

private:
    mutable foundation::Mutex mutex_;
    std::vector<std::string> calls_ HX_GUARDED_BY(mutex_);
};

class HXShellStandIn : public HXCallRecord {
public:
    // What the stand-in answers.
    struct Script {
        bool useSpotlight = false;
        bool loadingOverlayShown = false;
        bool locationSwitchTaskRunning = false;
        std::optional<std::string> pendingLocationSwitch;
        // The view shown now, and the list screens of the views 1 to 3 that exist.
        int currentViewIndex = 4;
        std::map<int, std::shared_ptr<HXMessageListScreen>> messageLists;
        // Whether a message list is the visible screen, and whether the device can send mail.
        bool messageListIsShowing = false;
        bool canSendMail = true;
    };
    Script script() const;
    // The list a test scripted for the view, without copying the whole script (list replies ask).
    std::shared_ptr<HXMessageListScreen> scriptedMessageList(int viewIndex) const;
    void changeScript(const std::function<void(Script&)>& change);

    // The alerts presented, in order; an alert's buttons are tapped with tap().
    std::vector<HXAlert> alerts() const;
    void recordAlert(const HXAlert& alert);
    // Runs the handler of the button titled title of the last alert presented; false without one.
    bool tap(std::string_view title);

private:
    mutable foundation::Mutex mutex_;
    Script script_ HX_GUARDED_BY(mutex_);
    std::vector<HXAlert> alerts_ HX_GUARDED_BY(mutex_);
};

class HXMessageListStandIn : public HXMessageListScreen, public HXCallRecord {
public:
    // The bytes of the parses asked for, in order; each completion is answered with fetchResult.
    std::vector<std::string> parsedData() const;
    std::atomic<int> fetchResult{0};

    void parseMessagesFromData(std::shared_ptr<const foundation::Data> data, FetchCompletion completion) override;
    void parseMessagesFromData(std::shared_ptr<const foundation::Data> data, int flags,
                               FetchCompletion completion) override;
    void parseMessagesForConversationFromData(std::shared_ptr<const foundation::Data> data, bool isLatest) override;
    void messagesReceived(std::shared_ptr<const foundation::Data> data, bool searchResults) override;
    void abortLoading() override;

private:
    void recordParse(std::string call, const std::shared_ptr<const foundation::Data>& data);
    mutable foundation::Mutex dataMutex_;
    std::vector<std::string> parsedData_ HX_GUARDED_BY(dataMutex_);
};
