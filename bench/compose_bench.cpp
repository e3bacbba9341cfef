// Typing 2,000 characters into the new message's text, one key at a time as the keyboard sends
// them (the screen's change check, the counter and its redraw after each), against the same keys
// typed into a bare text view of the toolkit. The goal is 1.5x a bare keystroke.
#include <benchmark/benchmark.h>

#include <memory>

#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/text_input.h"
#include "ui/compose/vc_new_message.h"

namespace {

constexpr int kKeys = 2000;
const char* const kText = "The quick brown fox jumps over the lazy dog, 0123456789. ";

void typeInto(toolkit::TextView& view) {
    view.setText({});
    const std::string text(kText);
    for (int i = 0; i < kKeys; ++i) view.insertText(std::string(1, text[static_cast<size_t>(i) % text.size()]));
}

void BM_TypeIntoNewMessage(benchmark::State& state) {
    toolkit::testing::Harness harness;
    auto screen = std::make_shared<VC_NewMessage>(VC_NewMessage::Roles{}, VC_NewMessage::Makers{});
    harness.setRoot(std::make_shared<toolkit::NavigationController>(screen));
    harness.settle();
    if (!screen->message().becomeFirstResponder()) state.SkipWithError("the text takes no focus");
    for (auto _ : state) {
        typeInto(screen->message());
        harness.settle();
    }
    // Every key reached the text and the counter followed it.
    if (screen->message().text().size() != static_cast<size_t>(kKeys) ||
        screen->charCount().text() != VC_NewMessage::counterFor(kKeys).text)
        state.SkipWithError("the keys did not all arrive");
    state.counters["segments"] = static_cast<double>(VC_NewMessage::counterFor(kKeys).segments);
}

void BM_TypeIntoBareTextView(benchmark::State& state) {
    toolkit::testing::Harness harness;
    auto controller = std::make_shared<toolkit::ViewController>();
    harness.setRoot(std::make_shared<toolkit::NavigationController>(controller));
    auto view = std::make_shared<toolkit::TextView>(toolkit::Rect{0, 0, 320, 200});
    controller->view()->addSubview(view);
    harness.settle();
    if (!view->becomeFirstResponder()) state.SkipWithError("the text view takes no focus");
    for (auto _ : state) {
        typeInto(*view);
        harness.settle();
    }
    if (view->text().size() != static_cast<size_t>(kKeys)) state.SkipWithError("the keys did not all arrive");
}

}  // namespace

BENCHMARK(BM_TypeIntoNewMessage)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TypeIntoBareTextView)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
