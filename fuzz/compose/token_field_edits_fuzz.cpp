// Edit sequences on the recipient field, as keys, taps and focus changes: the text is never
// empty, a token is held once, and no title carries either sentinel.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>

#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/view_controller.h"
#include "ui/widgets/hxc_token_field.h"

namespace {

bool holdsSentinel(const std::string& s) {
    return s.find(HXCTokenField::kEmptySentinel) != std::string::npos ||
           s.find(HXCTokenField::kSelectedSentinel) != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static toolkit::testing::Harness harness;
    auto screen = std::make_shared<toolkit::ViewController>();
    harness.setRoot(screen);
    auto field = HXCTokenField::make({0, 60, 320, 40});
    screen->view()->addSubview(field);
    (void)field->becomeFirstResponder();
    static const char* const kTyped[] = {"a",  "7",  ",", " ",        "\u200B", "\u200D", "\U0001F600",
                                         "Zo", "\n", ";", "555 1234", "\u00e9", "\t"};
    for (size_t i = 0; i < size; ++i) {
        const uint8_t op = data[i];
        switch (op % 8) {
            case 0:
            case 1:
            case 2:
                (void)harness.typeText(kTyped[(op / 8) % (sizeof kTyped / sizeof *kTyped)]);
                break;
            case 3:
                (void)harness.backspace();
                break;
            case 4:
                (void)harness.pressReturn();
                break;
            case 5:
                if (field->isFirstResponder())
                    (void)field->resignFirstResponder();
                else
                    (void)field->becomeFirstResponder();
                break;
            case 6:
                if (!field->tokens().empty()) {
                    auto token = field->tokens()[(op / 8) % field->tokens().size()];
                    if (token->superview()) (void)harness.tap(*token);
                }
                break;
            case 7:
                field->setForcePickSearchResult(!field->forcePickSearchResult());
                break;
        }
        harness.settle();
        if (field->text().empty()) std::abort();
        std::set<const HXCToken*> seen;
        for (const auto& t : field->tokens()) {
            if (!seen.insert(t.get()).second) std::abort();
            if (holdsSentinel(t->title())) std::abort();
        }
    }
    field->removeFromSuperview();
    return 0;
}
