// Opening the favourites: 500 stored favourites over 10,000 contacts, read, resolved and laid out
// by the list, against a plain loop of the same contact fetches and thumbnail scalings. The list
// should cost at most 1.5 times the loop.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "app/roles/screen_roles.h"
#include "bench/bench_scratch.h"
#include "model/account.h"
#include "model/cache.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/bitmap.h"
#include "platform/graphics/codecs.h"
#include "platform/graphics/image_operations.h"
#include "tests/support/quiet_alerts_role.h"
#include "ui/dialer/vc_favorites.h"

namespace {

using Role = hxtest::QuietAlertsRole;

const hxbench::ScratchFolder scratchFolder("hx-dialer-bench");

struct World {
    dispatch::VirtualClock clock;
    std::filesystem::path home;
    std::shared_ptr<Role> role = std::make_shared<Role>();
    Favorite::Sources sources;
    std::vector<std::string> lines;
    World() {
        dispatch::setClock(&clock);
        home = scratchFolder.path();
        std::filesystem::create_directories(home);
        foundation::setHomeDirectory(home);
        services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
        sources.contacts = std::make_shared<services::ContactStore>();
        sources.thumbnails = HXCCache::create("DialerBench", home);
        auto bitmap = graphics::Bitmap::make(120, 120);
        const foundation::Data picture = *graphics::encodePNG(**bitmap);
        for (int i = 0; i < 10000; ++i) {
            services::Contact c;
            c.identifier = "c" + std::to_string(i);
            c.givenName = "Given" + std::to_string(i);
            c.familyName = "Family" + std::to_string(i % 97);
            c.phoneNumbers = {{"mobile", "+1 555 " + std::to_string(100000 + i), "p" + std::to_string(i)}};
            if (i % 5 == 0) c.thumbnailImageData = picture;
            sources.contacts->addContact(std::move(c));
        }
        for (int i = 0; i < 500; ++i) {
            const int k = i * 20;
            lines.push_back("c" + std::to_string(k) + ",p" + std::to_string(k) + ",Given" + std::to_string(k) +
                            " Family" + std::to_string(k % 97) + ",+1 555 " + std::to_string(100000 + k) +
                            ",1700000000.000000");
        }
        role->user = std::make_shared<HX_Account>();
        role->user->setUsername("me@example.test");
        foundation::Array a;
        for (const auto& l : lines) a.push_back(foundation::Value(l));
        foundation::Dictionary all;
        all.set("me@example.test", foundation::Value(std::move(a)));
        (void)foundation::UserDefaults::standardUserDefaults()->setObject(foundation::Value(all), "favorites");
    }
};

World& world() {
    static World w;
    return w;
}

void BM_OpenFavorites(benchmark::State& state) {
    World& w = world();
    VC_Favorites::Roles roles;
    roles.alerts = w.role;
    for (auto _ : state) {
        auto list = std::make_shared<VC_Favorites>(roles, VC_Favorites::HandBack{}, w.sources);
        // Loading the view runs viewDidLoad (and with it the resolution) once, as a real opening does.
        list->view();
        // The rows a phone's screen shows.
        auto table = list->tableView();
        for (long r = 0; r < std::min(12L, table->numberOfRows(0)); ++r)
            benchmark::DoNotOptimize(list->cellForRow(*table, {0, r}));
        // The thumbnails go to the cache's disk on its own queue, after the list is shown.
        state.PauseTiming();
        w.clock.runUntilIdle();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenFavorites)->Iterations(5)->Unit(benchmark::kMillisecond);

// The same fetches by identifier and the same thumbnail scalings, in a plain loop.
void BM_PlainLoop(benchmark::State& state) {
    World& w = world();
    for (auto _ : state) {
        for (const auto& line : w.lines) {
            const std::string id = line.substr(0, line.find(','));
            auto c = w.sources.contacts->unifiedContactWithIdentifier(id, Favorite::fetchKeys());
            if (c.ok() && c->thumbnailImageData) {
                auto image = graphics::Image::fromEncoded(*c->thumbnailImageData);
                if (image.ok()) benchmark::DoNotOptimize(graphics::imageScaledToFitSize(*image, {40, 40}));
            }
        }
    }
}
BENCHMARK(BM_PlainLoop)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
