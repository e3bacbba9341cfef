// A 60-row table screen (cells with three labels and an image) on a 375 x 667 window: a full
// layout pass and a hit test of every visible row, and a scroll step of one row (cells leaving,
// coming back from the reuse queue, laid out, hit-tested), each against a plain loop that
// computes the same frames by hand. The memory a cell takes is counted by the allocations made
// while the screen's cells are created.
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/dispatch/dispatch.h"
#include "platform/toolkit/table_view_controller.h"
#include "platform/toolkit/window.h"

namespace {
std::atomic<size_t> gAllocated{0};
}  // namespace

// The replacements pair malloc with free; the compiler takes the deletes for a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t n) {
    gAllocated.fetch_add(n, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

using namespace toolkit;

namespace {

constexpr int kRows = 60;
constexpr double kRowHeight = 76;
constexpr double kImage = 44;
constexpr double kMargin = 16;
constexpr double kTimeWidth = 64;

class MessageCell : public TableViewCell {
public:
    MessageCell() : TableViewCell(TableViewCellStyle::Default, "message") {
        for (auto* l : {&name, &time, &preview}) {
            *l = std::make_shared<Label>();
            contentView().addSubview(*l);
        }
        preview->setNumberOfLines(2);
        avatar = std::make_shared<ImageView>();
        contentView().addSubview(avatar);
    }
    void layoutSubviews() override {
        TableViewCell::layoutSubviews();
        double w = contentView().bounds().width();
        avatar->setFrame(Rect(kMargin, 16, kImage, kImage));
        double x = kMargin + kImage + 12;
        name->setFrame(Rect(x, 10, w - x - kMargin - kTimeWidth, 20));
        time->setFrame(Rect(w - kMargin - kTimeWidth, 10, kTimeWidth, 20));
        preview->setFrame(Rect(x, 32, w - x - kMargin, 36));
    }
    std::shared_ptr<Label> name, time, preview;
    std::shared_ptr<ImageView> avatar;
};

class MessageList : public TableViewController {
public:
    ImagePtr image = makeImage("avatar", {kImage, kImage});
    // The texts are made once: the benchmark times the toolkit, not string formatting.
    std::vector<std::array<std::string, 3>> texts = [] {
        std::vector<std::array<std::string, 3>> t;
        for (int r = 0; r < kRows; ++r)
            t.push_back({"Contact " + std::to_string(r), "10:4" + std::to_string(r % 10),
                         "The message preview of row " + std::to_string(r)});
        return t;
    }();
    void viewDidLoad() override {
        tableView()->registerCell("message", [] { return std::make_shared<MessageCell>(); });
        tableView()->setRowHeight(kRowHeight);
    }
    long numberOfRows(TableView&, long) override { return kRows; }
    TableViewCellPtr cellForRow(TableView& t, IndexPath ip) override {
        auto cell = std::static_pointer_cast<MessageCell>(t.dequeueReusableCell("message", ip));
        const auto& row = texts[static_cast<size_t>(ip.row)];
        cell->name->setText(row[0]);
        cell->time->setText(row[1]);
        cell->preview->setText(row[2]);
        cell->avatar->setImage(image);
        return cell;
    }
};

struct Screen {
    dispatch::ScopedVirtualClock clock;
    std::unique_ptr<Window> window;
    std::shared_ptr<MessageList> list = std::make_shared<MessageList>();
    Screen() {
        dispatch::RunLoop::main();
        Device::current().setScreen(ScreenProfile::iPhone8());
        window = std::make_unique<Window>(ScreenProfile::iPhone8());
        window->setRootViewController(list);
        window->makeKeyAndVisible();
        flushLayout();
    }
    ~Screen() { window.reset(); }
    TableView& table() { return *list->tableView(); }
};

// Touches at the middle of every visible row; the count of hits on a row's views.
int hitRows(Window& window, TableView& table) {
    int hits = 0;
    double top = table.contentOffset().y;
    for (const IndexPath& ip : table.indexPathsForVisibleRows()) {
        Rect r = table.rectForRow(ip);
        Point p{r.midX(), r.midY() - top};
        if (View* v = window.hitTest(p, nullptr); v && v != &table) ++hits;
    }
    return hits;
}

void markAll(View& v) {
    v.setNeedsLayout();
    for (auto& s : v.subviews()) markAll(*s);
}

void BM_LayoutPassAndHitTest(benchmark::State& state) {
    Screen s;
    int hits = 0;
    for (auto _ : state) {
        markAll(*s.window);
        flushLayout();
        hits += hitRows(*s.window, s.table());
    }
    state.counters["visible_rows"] = static_cast<double>(s.table().indexPathsForVisibleRows().size());
    benchmark::DoNotOptimize(hits);
}
BENCHMARK(BM_LayoutPassAndHitTest)->Iterations(1000)->Unit(benchmark::kMicrosecond);

void BM_ScrollStep(benchmark::State& state) {
    Screen s;
    TableView& t = s.table();
    double top = t.minimumContentOffset().y, bottom = t.maximumContentOffset().y;
    double y = top;
    int hits = 0;
    for (auto _ : state) {
        y += kRowHeight;
        if (y > bottom) y = top;
        t.setContentOffset({0, y});
        flushLayout();
        hits += hitRows(*s.window, t);
    }
    benchmark::DoNotOptimize(hits);
}
BENCHMARK(BM_ScrollStep)->Iterations(1000)->Unit(benchmark::kMicrosecond);

// The same frames by hand: every visible row's cell, content view and four subviews in window
// coordinates, and the hit test as a search over the rows and their parts.
struct HandFrames {
    Rect cell, content, avatar, name, time, preview;
};

int handPass(std::vector<HandFrames>& frames, double offset, double width, double height, double topInset) {
    frames.clear();
    int first = std::max(0, static_cast<int>((offset) / kRowHeight));
    for (int r = first; r < kRows; ++r) {
        double y = r * kRowHeight - offset;
        if (y >= height) break;
        if (y + kRowHeight <= 0) continue;
        HandFrames f;
        f.cell = Rect(0, y, width, kRowHeight);
        f.content = f.cell;
        double x = kMargin + kImage + 12;
        f.avatar = Rect(kMargin, y + 16, kImage, kImage);
        f.name = Rect(x, y + 10, width - x - kMargin - kTimeWidth, 20);
        f.time = Rect(width - kMargin - kTimeWidth, y + 10, kTimeWidth, 20);
        f.preview = Rect(x, y + 32, width - x - kMargin, 36);
        frames.push_back(f);
    }
    int hits = 0;
    for (auto& f : frames) {
        Point p{f.cell.midX(), f.cell.midY()};
        if (p.y < topInset) continue;
        for (auto& g : frames)
            if (g.cell.contains(p)) {
                hits += g.avatar.contains(p) || g.name.contains(p) || g.time.contains(p) || g.preview.contains(p) ||
                        g.content.contains(p);
                break;
            }
    }
    return hits;
}

void BM_HandLayoutAndHitTest(benchmark::State& state) {
    std::vector<HandFrames> frames;
    int hits = 0;
    double offset = -20;
    for (auto _ : state) {
        hits += handPass(frames, offset, 375, 667, 0);
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(hits);
}
BENCHMARK(BM_HandLayoutAndHitTest)->Iterations(1000)->Unit(benchmark::kMicrosecond);

void BM_HandScrollStep(benchmark::State& state) {
    std::vector<HandFrames> frames;
    int hits = 0;
    double top = -20, bottom = kRows * kRowHeight - 667, y = top;
    for (auto _ : state) {
        y += kRowHeight;
        if (y > bottom) y = top;
        hits += handPass(frames, y, 375, 667, 0);
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(hits);
}
BENCHMARK(BM_HandScrollStep)->Iterations(1000)->Unit(benchmark::kMicrosecond);

void BM_MemoryPerCell(benchmark::State& state) {
    size_t bytes = 0;
    for (auto _ : state) {
        std::vector<std::shared_ptr<MessageCell>> cells;
        size_t before = gAllocated.load();
        for (int i = 0; i < kRows; ++i) cells.push_back(std::make_shared<MessageCell>());
        bytes = gAllocated.load() - before;
    }
    state.counters["bytes_per_cell"] = static_cast<double>(bytes) / kRows;
}
BENCHMARK(BM_MemoryPerCell)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
