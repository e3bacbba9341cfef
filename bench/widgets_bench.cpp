// Typing 200 characters into a bare reply field (the expanding text view, which measures its
// height after every key), one key at a time as the keyboard sends them, against the same keys
// typed into a bare text view of the toolkit: what the field's growth rule costs per key.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/bench_typing.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/view_controller.h"
#include "ui/widgets/hxc_expanding_text_view.h"

namespace {

constexpr int kKeys = 200;
const char* const kText = "The quick brown fox jumps over the lazy dog, 0123456789. ";

void typeInto(toolkit::TextView& view) { hxbench::typeKeys(view, kKeys, kText); }

void BM_TypeIntoExpandingTextView(benchmark::State& state) {
    toolkit::testing::Harness harness;
    auto controller = std::make_shared<toolkit::ViewController>();
    harness.setRoot(controller);
    auto field = HXCExpandingTextView::make({7, 300, 229, 26});
    controller->view()->addSubview(field);
    harness.settle();
    if (!field->becomeFirstResponder()) state.SkipWithError("the field takes no focus");
    for (auto _ : state) {
        field->setText({});
        typeInto(*field->internalTextView());
        harness.settle();
    }
    // Every key arrived and the field grew to its maximum on the way.
    if (field->text().size() != static_cast<size_t>(kKeys) || field->frame().size.height <= field->minimumHeight() + 6)
        state.SkipWithError("the keys did not all arrive");
}

void BM_TypeIntoBareTextView(benchmark::State& state) {
    toolkit::testing::Harness harness;
    auto controller = std::make_shared<toolkit::ViewController>();
    harness.setRoot(controller);
    auto view = std::make_shared<toolkit::TextView>(toolkit::Rect{11, 300, 221, 28});
    controller->view()->addSubview(view);
    harness.settle();
    if (!view->becomeFirstResponder()) state.SkipWithError("the text view takes no focus");
    for (auto _ : state) {
        view->setText({});
        typeInto(*view);
        harness.settle();
    }
    if (view->text().size() != static_cast<size_t>(kKeys)) state.SkipWithError("the keys did not all arrive");
}

}  // namespace

BENCHMARK(BM_TypeIntoExpandingTextView)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TypeIntoBareTextView)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
