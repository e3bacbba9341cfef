// Rendering a list screen at 2x: a 375 x 667 window holding 60 rows of 44 points (icon, title,
// detail, badge, separator), text measured and drawn with the bundled fonts; alone, with
// attributed titles and details (a bold coloured name, a kerned grey detail), and as the app
// shows it, under a navigation bar (back button, title, two items) inside a tab bar of five tabs
// with a badge. The goal is one frame within 16 ms on one core, so a window can refresh at 60 Hz;
// the attributed list within 8 ms. The last one is a whole frame of the tablet's window (status
// bar included) with the sign-in page open in a popover over the list, as the desktop window draws
// it 60 times a second.
#include <benchmark/benchmark.h>

#include "platform/graphics/graphics_context.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/font_text_measurer.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/window.h"
#include "platform/web/web_view.h"
#include "ui/widgets/hxc_badge_view.h"

namespace {

std::shared_ptr<toolkit::View> listScreen(bool attributed = false, double width = 375) {
    using namespace toolkit;
    auto screen = View::make(Rect(0, 0, width, 667));
    screen->setBackgroundColor(Color::systemBackground());
    auto dot = graphics::Bitmap::make(58, 58).value();
    for (int y = 0; y < 58; ++y) {
        for (int x = 0; x < 58; ++x) dot->setRGBA(x, y, 30, 120, static_cast<uint8_t>(x * 4), 255);
    }
    auto picture = graphics::Image::fromBitmap(dot, 2);
    for (int row = 0; row < 60; ++row) {
        auto cell = View::make(Rect(0, 64 + row * 44.0, 375, 44));
        cell->setBackgroundColor(Color::secondarySystemGroupedBackground());
        auto icon = std::make_shared<ImageView>(picture);
        icon->setFrame(Rect(12, 7, 29, 29));
        icon->layer().cornerRadius = 14.5;
        icon->setClipsToBounds(true);
        cell->addSubview(icon);
        auto title = std::make_shared<Label>(Rect(52, 4, 250, 20));
        title->setFont(Font::boldSystem(15));
        title->setTextColor(Color::label());
        title->setText("Conversation " + std::to_string(row + 1) + " with a long name");
        if (attributed) {
            graphics::TextAttributes name{Font::boldSystem(15), Color::systemRed()};
            AttributedString text("Conversation " + std::to_string(row + 1), name);
            text.append(" with a long name", {Font::system(15), Color::label()});
            title->setAttributedText(text);
        }
        cell->addSubview(title);
        auto detail = std::make_shared<Label>(Rect(52, 23, 250, 17));
        detail->setFont(Font::system(13));
        detail->setTextColor(Color::secondaryLabel());
        detail->setText("See you tomorrow at the station, bring the tickets please");
        if (attributed) {
            graphics::TextAttributes kerned{Font::system(13), Color::secondaryLabel(), 0.5};
            AttributedString text("See you tomorrow ", kerned);
            text.append("at the station", {Font::italicSystem(13), Color::systemBlue()});
            text.append(", bring the tickets please", kerned);
            detail->setAttributedText(text);
        }
        cell->addSubview(detail);
        auto badge = std::make_shared<HXCBadgeView>();
        badge->setText(std::to_string(row % 12 + 1));
        badge->setTintColor(Color::systemRed());
        badge->setFrame(Rect({320, 7}, badge->sizeThatFits({})));
        cell->addSubview(badge);
        auto separator = View::make(Rect(52, 43.5, 323, 0.5));
        separator->setBackgroundColor(Color::separator());
        cell->addSubview(separator);
        screen->addSubview(cell);
    }
    return screen;
}

// The 60-row list screen drawn at 2x, plain or with attributed cells.
void renderListScreen2x(benchmark::State& state, bool attributed) {
    toolkit::setTextMeasurer(&toolkit::FontTextMeasurer::shared());
    toolkit::Window window(toolkit::ScreenProfile::iPhone8());
    auto screen = listScreen(attributed);
    window.addSubview(screen);
    for (auto _ : state) {
        auto context = graphics::GraphicsContext::image({375, 667}, true, 2).value();
        toolkit::renderView(*screen, *context);
        benchmark::DoNotOptimize(context->pixels().data());
    }
    toolkit::setTextMeasurer(nullptr);
}

void BM_RenderListScreen2x(benchmark::State& state) { renderListScreen2x(state, false); }
BENCHMARK(BM_RenderListScreen2x)->Unit(benchmark::kMillisecond);

void BM_RenderAttributedListScreen2x(benchmark::State& state) { renderListScreen2x(state, true); }
BENCHMARK(BM_RenderAttributedListScreen2x)->Unit(benchmark::kMillisecond);

// A template icon for the tabs.
toolkit::ImagePtr tabIcon() {
    auto b = graphics::Bitmap::make(50, 50).value();
    for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 50; ++x) {
            if ((x - 24.5) * (x - 24.5) + (y - 24.5) * (y - 24.5) < 400) b->setRGBA(x, y, 0, 0, 0, 255);
        }
    }
    return graphics::Image::fromBitmap(b, 2)->withRenderingMode(graphics::RenderingMode::alwaysTemplate);
}

void BM_RenderListScreenWithBars2x(benchmark::State& state) {
    using namespace toolkit;
    setTextMeasurer(&FontTextMeasurer::shared());
    {
        Window window(ScreenProfile::iPhone8());
        auto tabs = std::make_shared<TabBarController>();
        std::vector<ViewControllerPtr> children;
        for (const char* title : {"Call", "SMS", "Voicemail", "History", "Settings"}) {
            auto root = std::make_shared<ViewController>();
            root->setTitle(title);
            auto nav = std::make_shared<NavigationController>(root);
            nav->tabBarItem().title = title;
            nav->tabBarItem().image = tabIcon();
            children.push_back(nav);
        }
        children[1]->tabBarItem().badgeValue = "12";
        tabs->setViewControllers(children);
        tabs->setSelectedIndex(1);
        window.setRootViewController(tabs);
        window.makeKeyAndVisible();
        auto list = std::make_shared<ViewController>();
        list->setTitle("Conversations");
        list->view()->addSubview(listScreen());
        list->navigationItem().setRightBarButtonItems(
            {BarButtonItem::withSystemItem(SystemItem::Compose), BarButtonItem::withSystemItem(SystemItem::Edit)});
        std::static_pointer_cast<NavigationController>(children[1])->pushViewController(list, false);
        flushLayout();
        for (auto _ : state) {
            auto context = graphics::GraphicsContext::image({375, 667}, true, 2).value();
            renderView(window, *context);
            benchmark::DoNotOptimize(context->pixels().data());
        }
    }
    setTextMeasurer(nullptr);
}
BENCHMARK(BM_RenderListScreenWithBars2x)->Unit(benchmark::kMillisecond);

// The identify page the service serves, as the sign-in panel shows it.
const char* kSignInPage =
    "<html><head><title>Sign in</title></head><body><h1>Sign in</h1><p>to continue to HX Voice</p>"
    "<form id=\"challenge\" method=\"post\" action=\"/signin/challenge\"><input type=\"email\" name=\"Email\" "
    "id=\"Email\" placeholder=\"Email or phone\"/><input type=\"password\" name=\"Passwd\" "
    "placeholder=\"Password\"/><input type=\"submit\" id=\"next\" value=\"Next\"/></form>"
    "<a id=\"link-signup\" href=\"/signup\">Sign up</a><span>Create account</span>"
    "<p>English (United States)</p><a href=\"/help\">Help</a><a href=\"/privacy\">Privacy</a>"
    "<a href=\"/terms\">Terms</a></body></html>";

void BM_WindowFrameTabletSignIn2x(benchmark::State& state) {
    using namespace toolkit;
    setTextMeasurer(&FontTextMeasurer::shared());
    {
        Window window(ScreenProfile::iPad());
        auto list = std::make_shared<ViewController>();
        list->setTitle("Messages");
        list->view()->addSubview(listScreen(false, 768));
        auto sign = BarButtonItem::withSystemItem(SystemItem::Compose);
        list->navigationItem().setRightBarButtonItems({sign});
        auto nav = std::make_shared<NavigationController>(list);
        window.setRootViewController(nav);
        window.makeKeyAndVisible();
        flushLayout();
        auto page = std::make_shared<ViewController>();
        page->setTitle("Sign in");
        auto web = std::make_shared<web::WebView>(Rect(0, 0, 320, 496));
        web->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
        web->loadHTMLString(kSignInPage, "https://accounts.example.test/signin/identify");
        page->view()->addSubview(web);
        auto panel = std::make_shared<NavigationController>(page);
        panel->modalPresentationStyle = ModalPresentationStyle::Popover;
        panel->setPreferredContentSize({320, 496});
        panel->popoverPresentationController()->sourceView = list->view();
        panel->popoverPresentationController()->sourceRect = Rect(700, 20, 44, 44);
        nav->present(panel, false);
        flushLayout();
        // As the desktop window draws a frame: into the same context each time.
        auto canvas = graphics::GraphicsContext::image({768, 1024}, false, 2).value();
        for (auto _ : state) {
            renderWindow(window, *canvas);
            benchmark::DoNotOptimize(canvas->pixels().data());
        }
    }
    setTextMeasurer(nullptr);
}
BENCHMARK(BM_WindowFrameTabletSignIn2x)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
