// Any conversation the store can hold, shown as a row of each list layout: the fields come from
// the input (texts split at NUL bytes, then the type, flags and message count), and the row's
// texts must stay whole UTF-8 with the direction mark where the row says it is right to left.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "model/message_store.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "platform/store/context.h"
#include "platform/store/coordinator.h"
#include "ui/messages/message_list_table_view_cell.h"
#include "ui/widgets/right_to_left_text.h"

namespace {

constexpr const char* kTexts[] = {"ABName", "sender",          "phoneNumber",       "formattedNumber",
                                  "note",   "lastMessageText", "lastMessageLength", "cost"};

std::filesystem::path gHome;

void removeHome() {
    foundation::UserDefaults::resetStandardUserDefaults();  // written back now, not after this
    std::error_code ec;
    std::filesystem::remove_all(gHome, ec);
}

struct World {
    dispatch::VirtualClock clock;
    std::filesystem::path home;
    store::ContextPtr context;
    std::shared_ptr<MessageListTableViewCell> list, history;
    World() {
        dispatch::setClock(&clock);
        home = std::filesystem::temp_directory_path() / ("hx-list-rows-fuzz-" + std::to_string(::getpid()));
        // At exit the preferences are written back first, then the folder goes.
        gHome = home;
        std::atexit(removeHome);
        std::filesystem::create_directories(home);
        foundation::setHomeDirectory(home);
        auto coordinator = store::Coordinator::create(HXMessageStore::managedObjectModel());
        if (!coordinator->addPersistentStore((home / "rows.sqlite").string(), HXMessageStore::storeOptions(0)).ok())
            std::abort();
        context = store::Context::create(store::ConcurrencyType::MainQueue);
        context->setPersistentStoreCoordinator(coordinator);
        list = makeMessageTableCell();
        history = makeHistoryTableCell();
    }
};

void check(const MessageListRowPresentation& row) {
    for (const std::string* s : {&row.name, &row.message, &row.accessibilityHint, &row.statusText})
        if (!foundation::isValidUtf8(*s)) __builtin_trap();
    if (row.rightToLeft && row.message.rfind(kHXRightToLeftIsolate, 0) != 0) __builtin_trap();
    if (row.statusText.empty() != row.statusImage.empty()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World world;
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> texts;
    while (texts.size() < std::size(kTexts)) {
        const size_t end = in.find('\0');
        texts.emplace_back(in.substr(0, end));
        in = end == std::string_view::npos ? std::string_view() : in.substr(end + 1);
    }
    const int64_t type = in.size() > 0 ? static_cast<int8_t>(in[0]) : 0;
    const unsigned flags = in.size() > 1 ? static_cast<uint8_t>(in[1]) : 0;
    const int64_t count = in.size() > 3 ? static_cast<int16_t>(static_cast<uint8_t>(in[2]) | in[3] << 8) : 0;

    auto conversation = world.context->insertNewObject("HX_Conversation").value();
    bool valid = true;
    for (size_t i = 0; i < texts.size(); ++i) {
        valid = valid && foundation::isValidUtf8(texts[i]);
        (void)conversation->setValue(kTexts[i], texts[i]);
    }
    (void)conversation->setValue("type", type);
    (void)conversation->setValue("isRead", (flags & 1) != 0);
    (void)conversation->setValue("isStarred", (flags & 2) != 0);
    (void)conversation->setValue("isSpam", (flags & 4) != 0);
    (void)conversation->setValue("isSenderBlocked", (flags & 8) != 0);
    (void)conversation->setValue("numberOfMessages", count);
    foundation::UserDefaults::standardUserDefaults()->setBool((flags & 64) != 0, "showMessageCounts");
    const MessageListCellOptions options{.showNotesInMessageLists = (flags & 16) != 0,
                                         .graphicalEmoticons = (flags & 32) != 0};

    for (bool oneLine : {false, true}) {
        const auto row = presentMessageListRow(*conversation, oneLine, options);
        if (valid) check(row);
        auto& cell = oneLine ? world.history : world.list;
        cell->configure(conversation, {0, 0}, texts[0], options);
        cell->layoutIfNeeded();
        if (cell->titleLabel().text() != row.name) __builtin_trap();
    }
    if (messageListPhoneLabel(texts[0]).size() > texts[0].size()) __builtin_trap();
    world.clock.runUntilIdle();
    world.list->configure(nullptr, {0, 0}, {}, {});
    world.history->configure(nullptr, {0, 0}, {}, {});
    world.context->deleteObject(conversation);
    return 0;
}
