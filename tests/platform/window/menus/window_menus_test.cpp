// The app's menus as a user sees and works them: the conversation's actions from its "…" button, a
// list row's menu and a picture attachment's menu, drawn (outline and pictures, light and dark,
// phone and tablet), and a story through the desktop window on SDL's offscreen driver: a held
// list row and a held picture show their menus, "Block Contact" chosen with the mouse reaches the
// service, and "Add Note" chosen with the arrow keys and Return opens the note editor.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/graphics/bitmap_compare.h"
#include "platform/toolkit/menu_panel.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/renderer.h"
#include "platform/window/front_end.h"
#include "platform/window/input_script.h"
#include "tests/platform/window/window_play.h"
#include "tests/ui/conversation/playback_support.h"
#include "ui/messages/vc_messages.h"

namespace {

using hxtest::kTextThread;
using toolkit::MenuPanel;
using toolkit::Point;
using toolkit::Rect;

constexpr const char* kPicture = "pm1";

Point centre(const Rect& r) { return {r.midX(), r.midY()}; }

// The conversation screen in the window, wherever the form put it.
VC_Conversation* shownConversation(toolkit::ViewController* vc) {
    if (!vc) return nullptr;
    if (auto* c = dynamic_cast<VC_Conversation*>(vc); c && c->viewIfLoaded() && c->viewIfLoaded()->window()) return c;
    for (const auto& child : vc->children())
        if (auto* c = shownConversation(child.get())) return c;
    return shownConversation(vc->presentedViewController());
}

template <typename Form>
struct MenusOn : hxtest::PlaybackFixture<Form> {
    explicit MenusOn(hxtest::DeviceForm form) : hxtest::PlaybackFixture<Form>(form, true, 15, true) {}
    void SetUp() override {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        hxtest::PlaybackFixture<Form>::SetUp();
        this->service->withAccount([](emulator::Account& a) {
            a.media[kPicture] = {.mimeType = "image/jpeg", .width = 320, .height = 240};
            return 0;
        });
    }
    void TearDown() override {
        frontEnd.reset();
        hxtest::PlaybackFixture<Form>::TearDown();
    }
    // The text conversation with one picture after its text, on screen and its picture loaded.
    VC_Conversation& openConversation() {
        foundation::Array attachments{
            foundation::Value(foundation::Dictionary{{"id", kPicture}, {"mimeType", "image/jpeg"}})};
        this->storeConversation(kTextThread, 1, "", attachments, "Look at this");
        auto& screen = this->open(kTextThread, 1);
        // The picture's menu is offered once the picture has come.
        auto offered = [&] { return screen.contextMenuConfiguration(screen.tableView(), {0, 1}, {}) != nullptr; };
        for (int turn = 0; turn < 100 && !offered(); ++turn) {
            EXPECT_TRUE(this->settleRequests());
            this->harness.advance(0.1);
        }
        EXPECT_TRUE(offered()) << "the picture came";
        return screen;
    }
    // The SMS list on screen, its rows from the service loaded.
    toolkit::TableView* listTable() {
        this->app->selectViewForIndex(1);
        this->harness.settle();
        auto* list = dynamic_cast<VC_Messages*>(this->app->viewControllerForIndex(1).get());
        if (!list) return nullptr;
        auto& table = *list->tableView();
        EXPECT_TRUE(this->harness.clock().runUntil(
            [&] {
                return table.numberOfSections() > 0 && table.numberOfRows(0) > 0 &&
                       HXWebClientOf(*this->app).requests.empty();
            },
            20));
        this->harness.settle();
        return &table;
    }
    Point windowPointOfRow(toolkit::TableView& table, toolkit::IndexPath ip) {
        return table.convertPointTo(centre(table.rectForRow(ip)), nullptr);
    }
    std::optional<Rect> rowFrame(const std::string& title) {
        if (MenuPanel* panel = MenuPanel::shown(&this->harness.window()))
            for (const auto& r : panel->rows())
                if (r.title == title) return r.frame;
        return std::nullopt;
    }

    // The window over the application's.
    void openWindow() {
        auto opened = windowing::FrontEnd::open(this->harness.window(), {});
        ASSERT_TRUE(opened.ok()) << opened.error().localizedDescription();
        frontEnd = std::move(*opened);
    }
    // A script's lines as the window's events, handled at once.
    void play(const std::string& lines) {
        hxtest::playInWindow(*frontEnd, lines, last);
        this->harness.settle();
    }
    std::string at(Point p) { return std::to_string(p.x) + " " + std::to_string(p.y); }
    // What the window shows is what the renderer draws, menu and all.
    void expectWindowShowsTheRenderer() {
        ASSERT_TRUE(frontEnd->drawFrame().ok());
        auto shown = frontEnd->readRenderTarget();
        ASSERT_TRUE(shown.ok());
        auto drawn = toolkit::snapshot(this->harness.window());
        ASSERT_TRUE(drawn);
        EXPECT_EQ(graphics::compareBitmaps(**shown, *drawn).differingPixels, 0);
    }

    std::unique_ptr<windowing::FrontEnd> frontEnd;
    Point last;
};

struct PhoneMenus : MenusOn<HX_ConnectAppDelegate_iPhone> {
    PhoneMenus() : MenusOn(hxtest::DeviceForm::phone) {}
};
struct TabletMenus : MenusOn<HX_ConnectAppDelegate_iPad> {
    TabletMenus() : MenusOn(hxtest::DeviceForm::tablet) {}
};

// The three menus of a form, each drawn and listed in both appearances.
template <typename Fixture>
void expectMenuGoldens(Fixture& f, const std::string& form) {
    auto* list = f.listTable();
    ASSERT_NE(list, nullptr);
    f.harness.longPress(f.windowPointOfRow(*list, {0, 0}), 0.6);
    // The preview loads its conversation.
    ASSERT_TRUE(f.settleRequests());
    f.harness.settle();
    ASSERT_NE(MenuPanel::shown(), nullptr) << "a held row shows its menu" << f.harness.outline();
    f.expectOutline("row_menu_" + form);
    f.expectSnapshot("row_menu_" + form, {.lightAndDark = true});
    ASSERT_TRUE(f.harness.pressKey(toolkit::kInputEscape));

    auto& screen = f.openConversation();
    ASSERT_TRUE(f.harness.tapBarButton("Conversation actions"));
    ASSERT_NE(MenuPanel::shown(), nullptr);
    f.expectOutline("conversation_actions_" + form);
    f.expectSnapshot("conversation_actions_" + form, {.lightAndDark = true});
    ASSERT_TRUE(f.harness.pressKey(toolkit::kInputEscape));

    auto session = f.harness.openContextMenu(screen.tableView(), {0, 1});
    ASSERT_TRUE(session && session->menu) << "the picture has loaded";
    f.expectOutline("attachment_menu_" + form);
    f.expectSnapshot("attachment_menu_" + form, {.lightAndDark = true});
}

}  // namespace

TEST_F(PhoneMenus, DrawnBesideTheirSourcesLightAndDark) { expectMenuGoldens(*this, "phone"); }
TEST_F(TabletMenus, DrawnBesideTheirSourcesLightAndDark) { expectMenuGoldens(*this, "tablet"); }

TEST_F(PhoneMenus, AUserHoldsARowAndAPictureBlocksTheContactAndAddsANoteInTheWindow) {
    openWindow();
    // A held row: its menu and the conversation's preview, until Escape.
    auto* list = listTable();
    ASSERT_NE(list, nullptr);
    play("press " + at(windowPointOfRow(*list, {0, 0})));
    EXPECT_EQ(MenuPanel::shown(), nullptr) << "not before the hold is long enough";
    harness.advance(0.6);
    play("release " + at(windowPointOfRow(*list, {0, 0})));
    ASSERT_NE(MenuPanel::shown(), nullptr);
    EXPECT_EQ(MenuPanel::shown()->style(), MenuPanel::Style::context);
    EXPECT_FALSE(MenuPanel::shown()->previewFrame().isEmpty());
    expectWindowShowsTheRenderer();
    play("press-key Escape");
    EXPECT_EQ(MenuPanel::shown(), nullptr);
    EXPECT_EQ(list->contextMenuSession(), nullptr);

    // A click on the row opens its conversation; "…", then "Block Contact" with the mouse: the
    // service is asked to block the number and answers.
    play("click " + at(windowPointOfRow(*list, {0, 0})));
    harness.advance(0.6);
    ASSERT_TRUE(settleRequests());
    auto* conversation = shownConversation(app->window()->rootViewController().get());
    ASSERT_NE(conversation, nullptr) << harness.outline();
    const size_t before = service->requests().size();
    auto* button = harness.find("Conversation actions");
    ASSERT_NE(button, nullptr);
    const Point dots = button->convertPointTo(centre(button->bounds()), nullptr);
    play("click " + at(dots));
    ASSERT_TRUE(rowFrame("Block Contact")) << harness.outline();
    expectWindowShowsTheRenderer();
    play("click " + at(centre(*rowFrame("Block Contact"))));
    EXPECT_EQ(MenuPanel::shown(), nullptr);
    ASSERT_TRUE(settleRequests());
    harness.settle();
    const auto requests = service->requests();
    int blocks = 0;
    for (size_t i = before; i < requests.size(); ++i)
        if (requests[i].path.find("thread/updateattributes") != std::string::npos &&
            requests[i].body.find(",true,null,null,[]]") != std::string::npos)
            ++blocks;
    EXPECT_EQ(blocks, 1) << "the block went to the service once";
    EXPECT_EQ(harness.visibleAlert(), nullptr) << "and the service took it";

    // "…" again, then "Add Note" with the arrow keys and Return: the note editor.
    play("click " + at(dots));
    ASSERT_NE(MenuPanel::shown(), nullptr) << harness.outline();
    for (int i = 0; i < 12 && MenuPanel::shown(); ++i) {
        play("press-key Down");
        auto* panel = MenuPanel::shown();
        if (panel->highlighted() && panel->rows()[*panel->highlighted()].title == "Add Note") break;
    }
    play("press-key Return");
    harness.advance(0.5);
    EXPECT_EQ(MenuPanel::shown(), nullptr);
    auto* top = dynamic_cast<toolkit::NavigationController*>(harness.topPresented());
    ASSERT_NE(top, nullptr) << harness.outline();
    EXPECT_EQ(top->topViewController()->className(), "VC_NoteEdit");

    // The editor closes; a held picture is copied from its menu.
    top->dismiss(false);
    harness.settle();
    auto& screen = openConversation();
    toolkit::Pasteboard::general().clear();
    const Point picture = windowPointOfRow(screen.tableView(), {0, 1});
    play("press " + at(picture));
    harness.advance(0.6);

    play("release " + at(picture));
    ASSERT_TRUE(rowFrame("Copy Image")) << harness.outline();
    play("click " + at(centre(*rowFrame("Copy Image"))));
    EXPECT_EQ(MenuPanel::shown(), nullptr);
    EXPECT_TRUE(toolkit::Pasteboard::general().hasImages()) << "the picture was copied";
}
