// A message list's view for tests: shown unless told otherwise, and counting what the list's
// model asked of it.
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "service/message_list_view.h"

namespace hxtest {

struct RecordingListView : HXMessageListView {
    std::atomic<bool> shown{true};
    std::atomic<int> refreshes{0}, tableReloads{0}, reloads{0}, scrolls{0}, contentChanges{0};
    // The read state of the conversation on top of the list (none: no conversation is shown).
    std::optional<bool> openRead;

    bool isShownScreen() const override { return shown; }
    void beginRefreshing(const std::string&) override {}
    void endRefreshing() override { ++refreshes; }
    void updateLastRefreshDate() override {}
    void reloadTable() override { ++tableReloads; }
    void reloadVisibleCells() override { ++reloads; }
    void scrollToTopWithAnimation(bool) override { ++scrolls; }
    void controllerDidChangeContent() override { ++contentChanges; }
    std::optional<bool> shownConversationIsRead() const override { return openRead; }
    void showBackButtonCount(uint64_t) override {}
};

}  // namespace hxtest
