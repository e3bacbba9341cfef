// The edit menu's question order, the pasteboard, drag and drop, recorded haptics and sounds,
// toolbars, search bars and the main-thread check.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <thread>

#include "platform/graphics/graphics_context.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/feedback.h"
#include "platform/toolkit/menu_controller.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/text_input.h"

using namespace toolkit;
using Harness = toolkit::testing::Harness;
using Log = std::vector<std::string>;

namespace {

// A screen that answers the edit menu the way a dial pad does: copy and clear with a number
// shown, paste with strings on the pasteboard; it retitles its custom item while asked.
class NumberView : public View {
public:
    std::string number;
    Log asked;
    bool canBecomeFirstResponder() const override { return true; }
    bool canPerformAction(const std::string& action, Responder*) const override {
        const_cast<NumberView*>(this)->asked.push_back(action);
        if (action == "copy:" || action == "clear:") {
            if (action == "copy:" && !MenuController::shared().menuItems.empty())
                MenuController::shared().menuItems[0].title = "Clear " + number;
            return !number.empty();
        }
        if (action == "paste:") return Pasteboard::general().hasStrings();
        return false;
    }
};

ImagePtr redSquare() {
    graphics::beginImageContext({4, 4}, true, 1);
    graphics::currentContext()->setFillColor(Color::rgb(1, 0, 0));
    graphics::currentContext()->fillRect(Rect(0, 0, 4, 4));
    ImagePtr image = graphics::imageFromCurrentImageContext();
    graphics::endImageContext();
    return image;
}

}  // namespace

TEST(ToolkitEditMenu, AsksEachItemInOrderAndShowsTheAnswersWithTheirLatestTitles) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    auto view = std::make_shared<NumberView>();
    view->setFrame(Rect(0, 100, 375, 60));
    root->view()->addSubview(view);
    std::string cleared, copied;
    view->setActionHandler("clear:", [&](Responder*) { cleared = view->number, view->number.clear(); });
    view->setActionHandler("copy:", [&](Responder*) { Pasteboard::general().setString(view->number); });
    ASSERT_TRUE(view->becomeFirstResponder());

    auto& menu = MenuController::shared();
    menu.menuItems = {{"Clear", "clear:"}};
    menu.setTargetRect(Rect(187, 130, 0, 4), view.get());
    menu.showMenu();
    EXPECT_FALSE(menu.isMenuVisible()) << "nothing to offer: no number, an empty pasteboard";
    EXPECT_EQ(view->asked, (Log{"cut:", "copy:", "paste:", "delete:", "select:", "selectAll:", "clear:"}));

    view->number = "(201) 555-0101";
    view->asked.clear();
    menu.showMenu();
    ASSERT_TRUE(menu.isMenuVisible());
    std::vector<std::string> titles;
    for (auto& item : menu.visibleItems()) titles.push_back(item.title);
    EXPECT_EQ(titles, (std::vector<std::string>{"Copy", "Clear (201) 555-0101"})) << "the title set while asked";
    EXPECT_TRUE(h.tapMenuItem("Copy"));
    EXPECT_FALSE(menu.isMenuVisible());
    EXPECT_EQ(Pasteboard::general().string(), "(201) 555-0101");
    menu.showMenu();
    titles.clear();
    for (auto& item : menu.visibleItems()) titles.push_back(item.title);
    EXPECT_EQ(titles, (std::vector<std::string>{"Copy", "Paste", "Clear (201) 555-0101"}));
    EXPECT_TRUE(h.tapMenuItem("Clear (201) 555-0101"));
    EXPECT_EQ(cleared, "(201) 555-0101");
    EXPECT_FALSE(h.tapMenuItem("Copy")) << "the menu is gone";
}

namespace {

// A cell that holds a text view and answers the menu for it, as a message bubble does.
class Bubble : public View {
public:
    bool canBecomeFirstResponder() const override { return true; }
    bool canPerformAction(const std::string& action, Responder*) const override { return action == "look:"; }
};

}  // namespace

// Text that cannot be edited is selected only for the menu aimed at it: however the menu closes
// without a choice, the selection goes with it; a choice, or text that can be edited, keeps it.
TEST(ToolkitEditMenu, ReadOnlyTextSelectedForTheMenuGoesWhenItClosesWithoutAChoice) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    auto& menu = MenuController::shared();
    menu.reset();
    struct Case {
        const char* what;
        bool editable;
        std::function<void()> close;
        bool keepsSelection;
    };
    const Case cases[] = {
        {"a touch elsewhere", false,
         [&] {
             h.tap({20, 600});
         },
         false},
        {"Escape", false, [&] { EXPECT_TRUE(menu.handleKey(kInputEscape)); }, false},
        {"its owner hiding it", false, [&] { menu.hideMenu(); }, false},
        {"an item chosen", false, [&] { EXPECT_TRUE(h.tapMenuItem("Look")); }, true},
        {"editable text, its owner hiding it", true, [&] { menu.hideMenu(); }, true},
    };
    for (const auto& k : cases) {
        auto bubble = std::make_shared<Bubble>();
        bubble->setFrame(Rect(0, 100, 375, 80));
        root->view()->addSubview(bubble);
        int looked = 0;
        bubble->setActionHandler("look:", [&](Responder*) { ++looked; });
        auto text = std::make_shared<TextView>(Rect(10, 10, 355, 60));
        text->setEditable(k.editable);
        text->setText("Lunch tomorrow at noon");
        bubble->addSubview(text);
        h.settle();
        text->setSelectedRange({6, 8});
        ASSERT_TRUE(bubble->becomeFirstResponder()) << k.what;
        menu.menuItems = {{"Look", "look:"}};
        menu.setTargetRect(Rect(60, 10, 80, 20), text.get());
        menu.showMenu();
        ASSERT_TRUE(menu.isMenuVisible()) << k.what;
        k.close();
        h.settle();
        EXPECT_FALSE(menu.isMenuVisible()) << k.what;
        EXPECT_EQ(looked, k.keepsSelection && !k.editable ? 1 : 0) << k.what;
        EXPECT_EQ(text->selectedRange().location, 6u) << k.what;
        EXPECT_EQ(text->selectedRange().length, k.keepsSelection ? 8u : 0u) << k.what;
        bubble->removeFromSuperview();
    }
    menu.reset();
}

TEST(ToolkitPasteboard, TypesStringsAndImagesRoundTrip) {
    Harness h(ScreenProfile::iPhone8(), 15);
    Pasteboard& pb = Pasteboard::general();
    long changes = pb.changeCount();
    EXPECT_FALSE(pb.hasStrings());
    EXPECT_FALSE(pb.hasImages());
    pb.setStrings({"first", "second ✓"});
    EXPECT_EQ(pb.strings(), (std::vector<std::string>{"first", "second ✓"}));
    EXPECT_EQ(pb.string(), "first");
    EXPECT_EQ(pb.types(), (std::vector<std::string>{kTypeUTF8PlainText}));
    EXPECT_EQ(pb.changeCount(), changes + 1);

    // A drawn image goes as PNG and decodes to the same pixels.
    pb.setImage(redSquare());
    EXPECT_FALSE(pb.hasStrings());
    EXPECT_TRUE(pb.hasImages());
    EXPECT_EQ(pb.types(), (std::vector<std::string>{kTypePNG}));
    auto back = pb.image();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->format(), kTypePNG);
    EXPECT_EQ(back->bitmap()->rgbaAt(2, 2), (std::array<uint8_t, 4>{255, 0, 0, 255}));
    // Typed data keeps its type: a GIF stays a GIF.
    auto png = pb.dataForType(kTypePNG);
    ASSERT_TRUE(png);
    pb.setItems({{{"com.compuserve.gif", foundation::Data{'G', 'I', 'F'}}, {"public.mpeg-4", foundation::Data{1}}}});
    EXPECT_EQ(pb.types(), (std::vector<std::string>{"com.compuserve.gif", "public.mpeg-4"}));
    EXPECT_TRUE(pb.hasImages());
    EXPECT_EQ(pb.image(), nullptr) << "bytes that do not decode give no image";
    EXPECT_EQ(pb.dataForType("public.mpeg-4"), (foundation::Data{1}));
    EXPECT_FALSE(pb.dataForType(kTypePNG));
    auto decoded = graphics::Image::fromEncoded(*png);
    ASSERT_TRUE(decoded.ok());
    pb.setImage(decoded.value());
    EXPECT_EQ(pb.dataForType(kTypePNG), png) << "an image made from bytes keeps them";
}

namespace {
struct Dragger : DragInteractionDelegate {
    ImagePtr image = redSquare();
    std::vector<DragItemPtr> itemsForBeginning(DragInteraction&, DragSession& s) override {
        auto item = std::make_shared<DragItem>(ItemProvider::withImage(image));
        item->localObject = std::string("attachment 7");
        (void)s;
        return {item};
    }
    std::vector<DragItemPtr> itemsForAddingTo(DragInteraction&, DragSession&, Point) override {
        return {std::make_shared<DragItem>(ItemProvider::withData({'h', 'i'}, kTypeUTF8PlainText))};
    }
};

struct Dropper : DropInteractionDelegate {
    Log log;
    std::vector<foundation::Data> loaded;
    bool canHandle(DropInteraction&, DragSession& s) override {
        log.push_back("canHandle");
        return s.canLoadImages();
    }
    DropOperation sessionDidUpdate(DropInteraction& i, DragSession& s) override {
        Point p = s.locationInView(i.view());
        log.push_back("update " + describe(p));
        return DropOperation::Copy;
    }
    void performDrop(DropInteraction&, DragSession& s) override {
        log.push_back("perform");
        for (auto& item : s.items)
            item->itemProvider->loadDataRepresentation("public.image", [this](auto data, auto error) {
                if (data) loaded.push_back(*data);
                if (error) log.push_back("error");
            });
    }
};
}  // namespace

TEST(ToolkitDragDrop, DropsAskTheNearestInteractionAndLoadOnTheMainQueue) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    auto source = std::make_shared<View>(Rect(0, 100, 100, 100));
    auto target = std::make_shared<View>(Rect(0, 300, 375, 200));
    auto inner = std::make_shared<Label>(Rect(10, 10, 100, 30));
    inner->setUserInteractionEnabled(true);
    target->addSubview(inner);
    root->view()->addSubview(source);
    root->view()->addSubview(target);
    auto dragger = std::make_shared<Dragger>();
    auto dropper = std::make_shared<Dropper>();
    source->addInteraction(std::make_shared<DragInteraction>(dragger));
    target->addInteraction(std::make_shared<DropInteraction>(dropper));
    EXPECT_EQ(h.beginDrag(*target, {5, 5}), nullptr) << "no drag interaction there";
    auto session = h.beginDrag(*source, {50, 50});
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(std::any_cast<std::string>(session->items[0]->localObject), "attachment 7");
    EXPECT_EQ(session->locationInWindow, Point(50, 150));

    EXPECT_EQ(h.drop(*session, {40, 320}), DropOperation::Copy) << "the label's superview takes it";
    EXPECT_EQ(dropper->log, (Log{"canHandle", "update (40, 20)", "perform"}));
    ASSERT_EQ(dropper->loaded.size(), 1u);
    EXPECT_EQ(graphics::Image::fromEncoded(dropper->loaded[0]).value()->bitmap()->rgbaAt(0, 0)[0], 255);

    // Text only: the target cannot handle it; outside any target nothing happens.
    auto text = std::make_shared<DragSession>();
    text->items = {std::make_shared<DragItem>(ItemProvider::withData({'x'}, kTypeUTF8PlainText))};
    dropper->log.clear();
    EXPECT_EQ(h.drop(*text, {40, 320}), DropOperation::Cancel);
    EXPECT_EQ(dropper->log, (Log{"canHandle"}));
    EXPECT_EQ(h.drop(*session, {300, 50}), DropOperation::Cancel);
    auto& drag = static_cast<DragInteraction&>(*source->interactions()[0]);
    EXPECT_EQ(drag.addToSession(*session, {1, 1}), 1u);
    EXPECT_EQ(session->items.size(), 2u);
    source->removeInteraction(&drag);
    EXPECT_TRUE(source->interactions().empty());
    EXPECT_EQ(h.beginDrag(*source, {50, 50}), nullptr);
}

TEST(ToolkitFeedback, SoundsAndImpactsAreRecordedInOrder) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto dir = std::filesystem::temp_directory_path() / ("hx-sounds-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "dtmf-5.caf", std::ios::binary) << std::string("caff\0\1\0\0desc\0\0\0\0\0\0\0\x20", 20);
    std::ofstream(dir / "dtmf-6.caf") << "RIFF";
    std::ofstream(dir / "dtmf-7.caf", std::ios::binary)
        << std::string("RIFF\x24\0\0\0WAVEfmt ", 16) << std::string(4, '\0');
    auto& sounds = SystemSounds::shared();
    SystemSoundID five = sounds.create(dir / "dtmf-5.caf");
    EXPECT_NE(five, 0u);
    EXPECT_EQ(sounds.create(dir / "dtmf-#.caf"), 0u) << "a missing file makes no sound";
    EXPECT_EQ(sounds.create(dir / "dtmf-6.caf"), 0u) << "nor does one that holds no sound";
    EXPECT_EQ(sounds.create(dir), 0u) << "nor a folder";
    EXPECT_NE(sounds.create(dir / "dtmf-7.caf"), 0u) << "a WAVE file plays";
    sounds.setUISound(five, true);
    sounds.play(five);
    sounds.interfaceSoundsOn = false;
    sounds.play(five);
    sounds.play(1105);
    sounds.play(kSystemSoundVibrate);
    sounds.play(0);
    ImpactFeedbackGenerator light(ImpactStyle::Light);
    light.prepare();
    light.impactOccurred();
    sounds.dispose(five);
    sounds.interfaceSoundsOn = true;
    sounds.play(five);
    std::vector<std::pair<SystemSoundID, std::string>> plays;
    for (auto& p : sounds.plays()) plays.push_back({p.id, p.file});
    EXPECT_EQ(plays, (std::vector<std::pair<SystemSoundID, std::string>>{
                         {five, "dtmf-5.caf"}, {1105, ""}, {kSystemSoundVibrate, ""}}));
    EXPECT_EQ(sounds.impacts(), (std::vector<ImpactStyle>{ImpactStyle::Light}));
    std::filesystem::remove_all(dir);
}

TEST(ToolkitBars, ToolbarSpacesShareTheWidthAndItemsTakeTaps) {
    struct Case {
        std::vector<SystemItem> layout;  // None: a 44-point titled item
        std::vector<double> xs;
    };
    // 375 wide, 16-point margins, 8-point gaps, 44-point items.
    Case cases[] = {
        {{SystemItem::None, SystemItem::FlexibleSpace, SystemItem::None}, {16, 315}},
        {{SystemItem::FlexibleSpace, SystemItem::None, SystemItem::FlexibleSpace}, {165.5}},
        {{SystemItem::None, SystemItem::FixedSpace, SystemItem::None}, {16, 116}},
        {{SystemItem::None, SystemItem::None}, {16, 68}},
    };
    for (auto& c : cases) {
        Harness h(ScreenProfile::iPhone8(), 15);
        auto root = std::make_shared<ViewController>();
        h.setRoot(root);
        auto bar = std::make_shared<Toolbar>(Rect(0, 623, 375, 44));
        root->view()->addSubview(bar);
        std::vector<BarButtonItemPtr> items;
        int taps = 0;
        for (size_t i = 0; i < c.layout.size(); ++i) {
            if (c.layout[i] == SystemItem::None) {
                auto item = BarButtonItem::withTitle("i" + std::to_string(i), BarButtonStyle::Plain,
                                                     [&](BarButtonItem&) { ++taps; });
                item->width = 44;
                items.push_back(item);
            } else {
                auto item = BarButtonItem::withSystemItem(c.layout[i]);
                item->width = 40;
                items.push_back(item);
            }
        }
        bar->setItems(items);
        h.settle();
        std::vector<double> xs;
        for (auto& v : bar->itemViews()) xs.push_back(v->frame().minX());
        EXPECT_EQ(xs, c.xs);
        EXPECT_TRUE(h.tapBarButton(bar->itemViews().front()->outlineText()));
        EXPECT_EQ(taps, 1);
    }
}

namespace {
struct SearchLog : SearchBarDelegate {
    Log log;
    bool allowBegin = true;
    bool searchBarShouldBeginEditing(SearchBar&) override {
        log.push_back("shouldBegin");
        return allowBegin;
    }
    void searchBarTextDidBeginEditing(SearchBar&) override { log.push_back("didBegin"); }
    void searchBarTextDidEndEditing(SearchBar&) override { log.push_back("didEnd"); }
    void textDidChange(SearchBar&, const std::string& t) override { log.push_back("text " + t); }
    void selectedScopeButtonIndexDidChange(SearchBar&, long i) override { log.push_back("scope " + std::to_string(i)); }
    void searchBarCancelButtonClicked(SearchBar&) override { log.push_back("cancel"); }
    void searchBarSearchButtonClicked(SearchBar&) override { log.push_back("search"); }
};
}  // namespace

TEST(ToolkitBars, SearchBarReportsEditingScopesAndCancel) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    auto bar = std::make_shared<SearchBar>();
    auto d = std::make_shared<SearchLog>();
    bar->delegate = d;
    bar->setPlaceholder("Search messages");
    bar->setScopeButtonTitles({"All", "Unread", "Starred"});
    bar->setShowsScopeBar(true);
    bar->sizeToFit();
    bar->setFrame(Rect(0, 64, 375, bar->frame().height()));
    root->view()->addSubview(bar);
    EXPECT_EQ(bar->frame().height(), 100);
    d->allowBegin = false;
    h.tap(bar->searchTextField());
    EXPECT_FALSE(bar->isFirstResponder());
    d->allowBegin = true;
    h.tap(bar->searchTextField());
    EXPECT_TRUE(bar->isFirstResponder());
    h.typeText("an");
    bar->setText("set in code");
    bar->setShowsCancelButton(true);
    h.settle();
    EXPECT_LT(bar->searchTextField().frame().maxX(), bar->cancelButton()->frame().minX());
    h.pressReturn();
    h.tap(*bar->scopeButtons()[2]);
    h.tap(*bar->scopeButtons()[2]);
    EXPECT_EQ(bar->selectedScopeButtonIndex(), 2);
    EXPECT_TRUE(bar->scopeButtons()[2]->isSelected());
    EXPECT_TRUE(h.tap(*bar->cancelButton()));
    bar->resignFirstResponder();
    EXPECT_EQ(d->log, (Log{"shouldBegin", "shouldBegin", "didBegin", "text a", "text an", "search", "scope 2", "cancel",
                           "didEnd"}));

    auto blur = std::make_shared<VisualEffectView>(BlurEffectStyle::Dark);
    blur->setTag(997);
    blur->setFrame(Rect(0, 0, 375, 100));
    root->view()->addSubview(blur);
    EXPECT_EQ(blur->contentView().frame(), Rect(0, 0, 375, 100));
    EXPECT_EQ(h.findByTag(997)->outlineText(), "blur:dark");
}

TEST(ToolkitThreadDeathTest, ViewsTouchedOffTheMainThreadStopTheProcess) {
#if defined(HX_TOOLKIT_CHECK_THREAD)
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            Harness h(ScreenProfile::iPhone8(), 15);
            auto view = std::make_shared<View>(Rect(0, 0, 10, 10));
            std::thread worker([&] { view->setFrame(Rect(0, 0, 20, 20)); });
            worker.join();
        },
        "setFrame called off the main thread");
#else
    GTEST_SKIP() << "the check is compiled out of release builds";
#endif
}
