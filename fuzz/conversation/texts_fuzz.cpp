// Any message text: its bubble's text keeps every character, in order, and is right to left
// exactly when it starts with the override, which then starts each line; the numbers its menu may
// offer lie inside the text, are runs of the number characters (a "+" only in front), and reduce
// to what can be dialled. The bubble's cell reads its candidate from any selection, clamped.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/strings.h"
#include "ui/conversation/conversation_table_view_cell.h"
#include "ui/widgets/right_to_left_text.h"

namespace {

struct World {
    dispatch::VirtualClock clock;
    std::shared_ptr<ConversationTableViewCell> cell;
    World() {
        dispatch::setClock(&clock);
        cell = std::make_shared<ConversationTableViewCell>();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World world;
    if (size < 4) return 0;
    const size_t from = data[0] | data[1] << 8, length = data[2] | data[3] << 8;
    const std::string text(reinterpret_cast<const char*>(data) + 4, size - 4);
    const bool valid = foundation::isValidUtf8(text);

    const HXBubbleText shown = hxBubbleText(text);
    if (shown.rightToLeft && shown.text.rfind(kHXRightToLeftIsolate, 0) != 0) __builtin_trap();
    if (!shown.rightToLeft && shown.text != text) __builtin_trap();
    if (shown.rightToLeft) {
        // What is copied or dialled from the bubble is the text as written.
        if (hxWithoutIsolates(shown.text) != hxWithoutIsolates(text)) __builtin_trap();
        for (size_t at = shown.text.find('\n'); at != std::string::npos; at = shown.text.find('\n', at + 1))
            if (shown.text.compare(at + 1, kHXRightToLeftIsolate.size(), kHXRightToLeftIsolate) != 0 ||
                shown.text.compare(at - kHXPopIsolate.size(), kHXPopIsolate.size(), kHXPopIsolate) != 0)
                __builtin_trap();
    }
    if (valid && !foundation::isValidUtf8(shown.text)) __builtin_trap();

    for (const auto& match : hxPhoneNumberMatches(text)) {
        if (match.offset + match.text.size() > text.size() || text.compare(match.offset, match.text.size(), match.text))
            __builtin_trap();
        size_t signs = 0;
        for (size_t i = 0; i < match.text.size(); ++i) {
            const char c = match.text[i];
            if (c == '+' && i == 0) continue;
            if (std::string_view("0123456789-()*# ").find(c) == std::string_view::npos) __builtin_trap();
            ++signs;
        }
        if (signs < 7) __builtin_trap();
        const std::string reduced = hxReducedNumber(match.text);
        for (size_t i = 0; i < reduced.size(); ++i)
            if (std::string_view("0123456789*#").find(reduced[i]) == std::string_view::npos &&
                !(reduced[i] == '+' && i == 0))
                __builtin_trap();
    }

    if (valid) {
        world.cell->messageView().setText(text);
        world.cell->messageView().setSelectedRange({from, length});
        const std::string candidate = world.cell->candidateText();
        if (!foundation::isValidUtf8(candidate) || text.find(candidate) == std::string::npos) __builtin_trap();
        (void)world.cell->canPerformAction("callViaHX:", nullptr);
    }
    world.clock.runUntilIdle();
    return 0;
}
