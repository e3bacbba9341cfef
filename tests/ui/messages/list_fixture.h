// The message lists as the user meets them: the application object in a device form with the
// screen library, signed in against the loopback service, whose account is a generated one (seed
// 7) with spam and archived threads; helpers reach a view's list, its rows and the requests the
// service saw.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/connect_app_delegate_ipad.h"
#include "app/connect_app_delegate_iphone.h"
#include "emulator/emulator.h"
#include "model/account.h"
#include "platform/foundation/json.h"
#include "platform/foundation/user_defaults.h"
#include "platform/store/managed_object.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/scroll_view.h"
#include "platform/toolkit/table_view.h"
#include "service/message_list_model.h"
#include "service/request_machinery.h"
#include "tests/support/screen_fixture.h"
#include "tests/support/shell_recorder.h"
#include "ui/messages/vc_messages.h"
#include "ui/shell/ui_screens.h"

namespace hxtest {

struct ListAccount {
    int smsThreads = 45;
    int spamThreads = 4;
    int archivedThreads = 5;
};

template <typename Form>
struct ListFixture : ScreenFixture<RecordedApp<Form>> {
    using Base = ScreenFixture<RecordedApp<Form>>;
    // sharedDelegate: the application object answers as the process's, as in the program (numbers
    // are then formatted with its phone formatter).
    explicit ListFixture(DeviceForm form = DeviceForm::phone, int systemVersion = 15, bool fonts = false,
                         bool sharedDelegate = false)
        : Base({.form = form,
                .screens = std::make_shared<HXUIScreens>(),
                .emulator = true,
                .signedIn = true,
                .fonts = fonts,
                .sharedDelegate = sharedDelegate,
                .systemVersion = systemVersion}) {}

    // The service's threads: a generated account of seed 7.
    void useAccount(const ListAccount& shape) {
        this->service->withAccount([&](emulator::Account& a) {
            emulator::GeneratorOptions options;
            options.seed = 7;
            options.smsThreads = shape.smsThreads;
            options.spamThreads = shape.spamThreads;
            options.archivedThreads = shape.archivedThreads;
            options.itemsPerThread = 3;
            a.threads = emulator::generateAccount(options).threads;
            return 0;
        });
    }

    // Launches, opens a view and waits until its list has rows from the service.
    VC_Messages& launchAndShow(int view) {
        EXPECT_TRUE(this->launch());
        this->harness.settle();
        this->app->selectViewForIndex(view);
        this->harness.settle();
        // The account's first data (lists, unread, spam and archive) has all arrived.
        EXPECT_TRUE(this->harness.clock().runUntil(
            [&] {
                bool archive = false;
                for (const auto& b : bodies("api2thread/list")) archive = archive || b.rfind("[6,", 0) == 0;
                return archive && rows(view) > 0 && !loading(view) && HXWebClientOf(*this->app).requests.empty();
            },
            20))
            << "the list of view " << view << " never filled";
        this->harness.settle();
        return list(view);
    }

    VC_Messages& list(int view) {
        auto root = this->app->viewControllerForIndex(view);
        auto* l = dynamic_cast<VC_Messages*>(root.get());
        EXPECT_TRUE(l) << "view " << view << " holds " << (root ? root->className() : "nothing");
        return *l;
    }
    long rows(int view) {
        auto& l = list(view);
        if (!l.isViewLoaded() || l.tableView()->numberOfSections() == 0) return 0;
        return l.tableView()->numberOfRows(0);
    }
    bool loading(int view) {
        auto& l = list(view);
        return l.model() && l.model()->isLoadingMessages();
    }
    std::vector<std::string> rowIDs(VC_Messages& l) {
        std::vector<std::string> ids;
        auto table = l.tableView();
        const long n = table->numberOfSections() > 0 ? table->numberOfRows(0) : 0;
        for (long r = 0; r < n; ++r)
            if (auto c = l.conversationAtIndexPath({0, r})) ids.push_back(c->value("conversationID").stringValue());
        return ids;
    }
    // The service's thread ids, newest first, that pass a test.
    template <typename Pred>
    std::vector<std::string> serviceIDs(Pred pred) {
        return this->service->withAccount([&](emulator::Account& a) {
            std::vector<const emulator::Thread*> threads;
            for (const auto& t : a.threads)
                if (pred(t)) threads.push_back(&t);
            std::sort(threads.begin(), threads.end(),
                      [](auto* x, auto* y) { return x->lastTimeMs() > y->lastTimeMs(); });
            std::vector<std::string> ids;
            for (auto* t : threads) ids.push_back(t->id);
            return ids;
        });
    }
    // Bodies of the requests to an API endpoint ("api2thread/list", ...), oldest first.
    std::vector<std::string> bodies(const std::string& endpoint) {
        std::vector<std::string> out;
        for (const auto& r : this->service->requests())
            if (r.path.ends_with(endpoint)) out.push_back(r.body);
        return out;
    }
    bool settleUntil(const std::function<bool()>& done, double seconds = 10) {
        const bool ok = this->harness.clock().runUntil(done, seconds);
        this->harness.settle();
        return ok;
    }
};

}  // namespace hxtest
