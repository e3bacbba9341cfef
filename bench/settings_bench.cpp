// The quick settings' costs against plain peers, in one run:
// - a 120-step radius drag re-rendering the location screen's map header at 2x (circle, radius
//   line, handle, label, per tile) against plain cairo drawing the same shapes once per step;
// - the quick-settings list reading 200 presets (unarchived, reconciled, hashed, labelled and
//   laid out) against unarchiving them alone;
// - 10,000 fixes through the location manager over 100 monitored circles against a plain loop of
//   the same distance checks.
#include <benchmark/benchmark.h>

#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>

#include "app/roles/screen_roles.h"
#include "model/account.h"
#include "model/quick_setting.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/graphics_context.h"
#include "platform/services/location_manager.h"
#include "platform/system_screens/map_view.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "ui/settings/hx_resizable_circle_renderer.h"
#include "ui/settings/vc_quick_settings.h"

namespace {

constexpr services::Coordinate kCentre{48.2082, 16.3738};
using Renderer = HXResizableMKCircleRenderer;

// ---- the drag

struct MapDelegate : system_screens::MapViewDelegate {
    std::shared_ptr<system_screens::OverlayRenderer>
    rendererForOverlay(system_screens::MapView&, const std::shared_ptr<system_screens::MapOverlay>& overlay) override {
        auto renderer = std::make_shared<Renderer>(std::static_pointer_cast<system_screens::MapCircle>(overlay));
        renderer->setStrokeColor(graphics::Color::systemBlue().withAlphaComponent(0.7));
        renderer->setFillColor(graphics::Color::systemBlue().withAlphaComponent(0.2));
        renderer->setLineWidth(4);
        renderer->setRadius(Renderer::drawnRadius.load());
        renderer->setShowRadius(true);
        return renderer;
    }
};

void BM_DragHeader(benchmark::State& state) {
    auto delegate = std::make_shared<MapDelegate>();
    auto map = std::make_shared<system_screens::MapView>(toolkit::Rect{0, 0, 375, 190});
    map->setDelegate(delegate);
    map->setRegion(kCentre, 1000, 1000, false);
    Renderer::setLineWidthBasis(-375);
    // The slowest step of all (a drag frame must come within 16 ms).
    double slowest = 0;
    for (auto _ : state) {
        for (int step = 0; step < 120; ++step) {
            const auto start = std::chrono::steady_clock::now();
            const double radius = 400 + step * 5;
            Renderer::drawnRadius.store(radius);
            for (const auto& o : std::vector(map->overlays())) map->removeOverlay(o);
            map->addOverlay(std::make_shared<system_screens::MapCircle>(kCentre, radius));
            auto context = graphics::GraphicsContext::image({375, 190}, true, 2).value();
            map->draw(*context, map->bounds());
            benchmark::DoNotOptimize(context->pixels().data());
            slowest = std::max(
                slowest, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
    }
    state.SetItemsProcessed(state.iterations() * 120);
    state.counters["slowest_step_ms"] = slowest;
}

void BM_DragPlainCairo(benchmark::State& state) {
    for (auto _ : state) {
        for (int step = 0; step < 120; ++step) {
            const double r = (400 + step * 5) * 375.0 / 1000 * (190.0 / 375);  // points, as the map shows it
            cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 750, 380);
            cairo_t* cr = cairo_create(surface);
            cairo_scale(cr, 2, 2);
            cairo_set_source_rgb(cr, 0.949, 0.937, 0.914);
            cairo_paint(cr);
            const double cx = 187.5, cy = 95, w = 3.2;
            cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
            cairo_set_source_rgba(cr, 0, 0.478, 1, 0.2);
            cairo_fill_preserve(cr);
            cairo_set_source_rgba(cr, 0, 0.478, 1, 0.7);
            cairo_set_line_width(cr, 4);
            cairo_stroke(cr);
            const double dashes[] = {6 * w, 5 * w};
            cairo_set_dash(cr, dashes, 2, 0);
            cairo_set_line_width(cr, w);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
            cairo_move_to(cr, cx, cy);
            cairo_line_to(cr, cx + r, cy);
            cairo_stroke(cr);
            cairo_arc(cr, cx + r, cy, 4 * w, 0, 2 * M_PI);
            cairo_fill(cr);
            cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
            cairo_set_font_size(cr, 8 * w);
            cairo_move_to(cr, cx + 8 * w, cy - 1.3 * 8 * w + 8 * w);
            cairo_show_text(cr, "1,000 m");
            cairo_destroy(cr);
            cairo_surface_flush(surface);
            benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
            cairo_surface_destroy(surface);
        }
    }
    state.SetItemsProcessed(state.iterations() * 120);
}

// ---- 200 presets

class BenchRole : public HXQuickSettingsRole, public HXAlertsRole {
public:
    std::shared_ptr<HX_Account> account_ = std::make_shared<HX_Account>();
    std::shared_ptr<HX_Account> account() const override { return account_; }
    bool connectionAvailable() const override { return false; }
    bool isABAccessRestricted() override { return false; }
    void presentAlert(const HXAlert&) override {}
    void presentAlert(const std::shared_ptr<toolkit::AlertController>&, toolkit::ViewController*) override {}
    std::shared_ptr<HX_QuickSetting> currentSettings() const override {
        return account_->quickSetting(true, false, *foundation::UserDefaults::standardUserDefaults());
    }
    void selectQuickSettingWithName(const std::string&) override {}
    std::shared_ptr<services::LocationManager> locationManager() const override { return nullptr; }
    void monitorQuickSettingRegions() override {}
    void openApplicationSettings() override {}
};

std::shared_ptr<BenchRole> presets() {
    auto role = std::make_shared<BenchRole>();
    for (int64_t id = 1; id <= 3; ++id) {
        auto phone = std::make_shared<HX_Phone>();
        phone->setPhoneId(id);
        phone->setName("Phone " + std::to_string(id));
        role->account_->phones()[id] = phone;
    }
    for (int i = 0; i < 200; ++i) {
        auto preset = role->currentSettings();
        preset->setDndEnabled(i % 2);
        preset->setRegion(std::make_shared<services::CircularRegion>(kCentre, 100 + i, "Preset " + std::to_string(i)));
        preset->setRegionTitle("Place " + std::to_string(i));
        role->account_->quickSettings()["Preset " + std::to_string(i)] = preset->archived().value();
    }
    return role;
}

void BM_PresetsListed(benchmark::State& state) {
    toolkit::testing::Harness harness;
    auto role = presets();
    for (auto _ : state) {
        auto list = std::make_shared<VC_QuickSettings>(VC_QuickSettings::Roles{.quickSettings = role, .alerts = role},
                                                       VC_QuickSettings::Makers{});
        harness.setRoot(std::make_shared<toolkit::NavigationController>(list));
        harness.settle();
        benchmark::DoNotOptimize(list->sortedSettings().size());
    }
    state.SetItemsProcessed(state.iterations() * 200);
}

void BM_PresetsUnarchived(benchmark::State& state) {
    auto role = presets();
    for (auto _ : state) {
        size_t n = 0;
        for (const auto& [name, archive] : role->account_->quickSettings())
            n += HX_QuickSetting::unarchived(archive).ok();
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(state.iterations() * 200);
}

// ---- 10,000 fixes over 100 regions

std::vector<services::Coordinate> fixes() {
    std::vector<services::Coordinate> out;
    for (int i = 0; i < 10000; ++i)
        out.push_back({kCentre.latitude + (i % 200) * 0.0005, kCentre.longitude + (i / 200) * 0.0005});
    return out;
}
std::vector<services::CircularRegion> regions() {
    std::vector<services::CircularRegion> out;
    for (int i = 0; i < 100; ++i)
        out.emplace_back(services::Coordinate{kCentre.latitude + (i % 10) * 0.01, kCentre.longitude + (i / 10) * 0.01},
                         300, "R" + std::to_string(i));
    return out;
}

void BM_FixesThroughManager(benchmark::State& state) {
    dispatch::VirtualClock clock;
    dispatch::setClock(&clock);
    dispatch::RunLoop::main();
    services::LocationServices::shared().setAuthorizationStatus(services::LocationAuthorization::Always);
    auto manager = services::LocationManager::make();
    for (const auto& r : regions()) manager->startMonitoringForRegion(r);
    const auto route = fixes();
    for (auto _ : state) {
        for (const auto& c : route) services::LocationFeed::fix({.coordinate = c});
        clock.runUntilIdle();
    }
    state.SetItemsProcessed(state.iterations() * 10000);
    dispatch::setClock(nullptr);
}

void BM_FixesPlainLoop(benchmark::State& state) {
    const auto route = fixes();
    const auto rs = regions();
    std::vector<int> inside(rs.size(), 0);
    for (auto _ : state) {
        for (const auto& c : route)
            for (size_t i = 0; i < rs.size(); ++i) {
                const double d = services::distanceBetween(rs[i].center(), c);
                inside[i] = d <= rs[i].radius() ? 1 : d > rs[i].radius() + 50 ? 0 : inside[i];
            }
        benchmark::DoNotOptimize(inside.data());
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}

}  // namespace

// The map's tiles may be drawn off the calling thread: the CPU time is the whole process's.
BENCHMARK(BM_DragHeader)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_DragPlainCairo)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_PresetsListed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PresetsUnarchived)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FixesThroughManager)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FixesPlainLoop)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
