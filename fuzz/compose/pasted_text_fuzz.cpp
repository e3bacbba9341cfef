// Text pasted into the new message's recipients and text: at most 20 recipients, each number
// held once (as the service reads numbers), no sentinel in a title, and a counter that adds up
// to whole segments.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>

#include "platform/foundation/strings.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "ui/compose/vc_new_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static toolkit::testing::Harness harness;
    // Without an application object: no own number, no contacts, nothing sent.
    auto screen = std::make_shared<VC_NewMessage>(VC_NewMessage::Roles{}, VC_NewMessage::Makers{});
    harness.setRoot(std::make_shared<toolkit::NavigationController>(screen));
    harness.settle();
    // The first byte splits the input: recipients first, then the text.
    const size_t cut = size ? std::min<size_t>(data[0], size - 1) + 1 : 0;
    const std::string recipients(reinterpret_cast<const char*>(data) + std::min<size_t>(1, size),
                                 cut > 0 ? cut - 1 : 0);
    const std::string text(reinterpret_cast<const char*>(data) + cut, size - cut);
    auto& field = screen->number();
    if (field.becomeFirstResponder()) {
        field.insertText(foundation::fromUtf16(foundation::toUtf16(recipients)));
        (void)harness.pressReturn();
    }
    harness.settle();
    if (field.tokens().size() > VC_NewMessage::kMaxRecipients) std::abort();
    std::set<std::string> numbers;
    for (const auto& t : field.tokens()) {
        if (t->title().find(HXCTokenField::kEmptySentinel) != std::string::npos ||
            t->title().find(HXCTokenField::kSelectedSentinel) != std::string::npos)
            std::abort();
        // One recipient per number as the service reads it.
        if (!numbers.insert(VC_NewMessage::sameNumberKey(t->representedObject().stringValue())).second) std::abort();
    }
    if (field.text().empty()) std::abort();
    if (screen->message().becomeFirstResponder())
        screen->message().insertText(foundation::fromUtf16(foundation::toUtf16(text)));
    const size_t length = foundation::utf16Length(screen->message().text());
    const auto counter = VC_NewMessage::counterFor(length);
    if (counter.remaining < 0 || counter.remaining > 160 || (length > 0 && counter.remaining == 160) ||
        static_cast<size_t>(counter.segments) * 160 != length + static_cast<size_t>(counter.remaining))
        std::abort();
    harness.setRoot(nullptr);
    return 0;
}
