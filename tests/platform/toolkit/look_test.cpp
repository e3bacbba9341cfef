// What a user sees of the toolkit's own look: text that stays readable in dark, selected and
// highlighted rows, masks, gradients, snapshot views, the keyboard with its accessory view,
// class-level appearance defaults, the card's dimming and the popover's arrow.
#include <gtest/gtest.h>

#include <functional>

#include "platform/foundation/notification_center.h"
#include "platform/graphics/graphics_context.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/appearance.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/renderer_controls.h"
#include "platform/toolkit/table_view.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/text_input.h"
#include "tests/platform/toolkit/snapshot_support.h"

using namespace toolkit;
using RGBA8 = std::array<uint8_t, 4>;
using toolkit::testing::Harness;

namespace {

RGBA8 at(const graphics::Bitmap& b, double x, double y, double scale = 1) {
    return b.rgbaAt(static_cast<int>(x * scale), static_cast<int>(y * scale));
}
int luminance(const RGBA8& p) { return (299 * p[0] + 587 * p[1] + 114 * p[2]) / 1000; }

// The lightest and darkest luminance over a rectangle of points.
std::pair<int, int> luminanceRange(const graphics::Bitmap& b, const Rect& r, double scale) {
    int lo = 255, hi = 0;
    for (int y = static_cast<int>(r.minY() * scale); y < static_cast<int>(r.maxY() * scale); ++y)
        for (int x = static_cast<int>(r.minX() * scale); x < static_cast<int>(r.maxX() * scale); ++x) {
            const int l = luminance(b.rgbaAt(x, y));
            lo = std::min(lo, l), hi = std::max(hi, l);
        }
    return {lo, hi};
}

// A window of the phone in one appearance with a page in the system background.
struct Page {
    explicit Page(InterfaceStyle style) : window(ScreenProfile::iPhone8()) {
        window.setInterfaceStyle(style);
        root = View::make(Rect(0, 0, 375, 667));
        root->setBackgroundColor(Color::systemBackground());
        window.addSubview(root);
    }
    Window window;
    std::shared_ptr<View> root;
};

class Rows : public TableViewDataSource {
public:
    explicit Rows(std::vector<std::string> texts) : texts_(std::move(texts)) {}
    long numberOfRows(TableView&, long) override { return static_cast<long>(texts_.size()); }
    TableViewCellPtr cellForRow(TableView& t, IndexPath ip) override {
        auto cell = t.dequeueReusableCell("row", ip);
        cell->textLabel().setText(texts_[static_cast<size_t>(ip.row)]);
        cell->textLabel().setNumberOfLines(0);
        ++made;
        return cell;
    }
    int made = 0;

private:
    std::vector<std::string> texts_;
};

std::shared_ptr<TableView> tableWith(std::shared_ptr<Rows> rows, Rect frame = Rect(0, 0, 375, 300)) {
    auto table = std::make_shared<TableView>(frame, TableViewStyle::Plain);
    table->registerCell("row", [] { return std::make_shared<TableViewCell>(); });
    table->setDataSource(rows);
    return table;
}

}  // namespace

TEST(Look, TextThatSetsNoColourIsReadableInBothAppearances) {
    hxtest::UsingFonts fonts;
    struct Case {
        const char* what;
        std::function<std::shared_ptr<View>()> make;
    };
    const std::vector<Case> cases = {
        {"label",
         [] {
             auto l = std::make_shared<Label>(Rect(10, 10, 200, 40));
             l->setText("Readable");
             return l;
         }},
        {"text field",
         [] {
             auto f = std::make_shared<TextField>(Rect(10, 10, 200, 40));
             f->setText("Readable");
             return f;
         }},
        {"text view",
         [] {
             auto t = std::make_shared<TextView>();
             t->setFrame(Rect(10, 10, 200, 40));
             t->setText("Readable");
             return t;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (InterfaceStyle style : {InterfaceStyle::light, InterfaceStyle::dark}) {
            Page page(style);
            page.root->addSubview(c.make());
            auto pixels = snapshot(*page.root, 2);
            ASSERT_TRUE(pixels);
            auto [lo, hi] = luminanceRange(*pixels, Rect(10, 10, 200, 40), 2);
            if (style == InterfaceStyle::dark) {
                EXPECT_GT(hi, 200) << "dark: the text draws light pixels on the black page";
            } else {
                EXPECT_LT(lo, 60) << "light: the text draws dark pixels on the white page";
            }
        }
    }
}

TEST(Look, AlertsAndActionSheetsFollowTheAppearance) {
    for (auto kind : {AlertControllerStyle::Alert, AlertControllerStyle::ActionSheet}) {
        Harness h;
        h.setRoot(std::make_shared<ViewController>());
        h.setInterfaceStyle(InterfaceStyle::dark);
        auto alert = AlertController::make("Title", "Message", kind);
        ASSERT_TRUE(alert->addAction(AlertAction::make("OK", AlertActionStyle::Default)));
        ASSERT_TRUE(alert->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel)));
        h.window().rootViewController()->present(alert, false);
        h.settle();
        auto pixels = snapshot(h.window(), 1);
        ASSERT_TRUE(pixels);
        // The panel sits in the middle (alert) or above the bottom (sheet); its fill is dark.
        View* title = h.find("Title");
        ASSERT_NE(title, nullptr);
        const Rect r = title->convertRectTo(title->bounds(), nullptr);
        const RGBA8 panel = at(*pixels, r.minX() - 8, r.midY());
        EXPECT_LT(luminance(panel), 80) << "the panel is dark in dark, not a light card";
    }
}

TEST(Look, APopoversTextIsReadableOnItsFrameInDark) {
    hxtest::UsingFonts fonts;
    Harness h(ScreenProfile::iPad(), 15);
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    h.setInterfaceStyle(InterfaceStyle::dark);
    auto content = std::make_shared<ViewController>();
    content->view()->setBackgroundColor(std::nullopt);
    auto text = std::make_shared<Label>(Rect(20, 20, 200, 40));
    text->setText("Popover text");
    content->view()->addSubview(text);
    content->setPreferredContentSize({320, 200});
    content->modalPresentationStyle = ModalPresentationStyle::Popover;
    auto* popover = content->popoverPresentationController();
    popover->sourceView = root->view();
    popover->sourceRect = Rect(300, 100, 40, 40);
    root->present(content, false);
    h.settle();
    auto pixels = snapshot(h.window(), 1);
    ASSERT_TRUE(pixels);
    const Rect r = text->convertRectTo(text->bounds(), nullptr);
    auto [lo, hi] = luminanceRange(*pixels, r, 1);
    EXPECT_LT(lo, 80) << "the frame under the text is dark";
    EXPECT_GT(hi, 200) << "the text on it is light";
}

TEST(Look, SelectedAndHighlightedRowsAreDrawnGreyUnlessTheyAskForNoSelection) {
    auto rows = std::make_shared<Rows>(std::vector<std::string>{"", "", "", ""});
    auto table = tableWith(rows);
    Window window(ScreenProfile::iPhone8());
    window.addSubview(table);
    table->layoutIfNeeded();
    table->selectRow(IndexPath{0, 0}, false);
    table->cellForRow({0, 1})->setHighlighted(true);
    table->cellForRow({0, 2})->setSelectionStyle(CellSelectionStyle::None);
    table->cellForRow({0, 2})->setSelected(true);
    // Where a row's pixels are in the table's snapshot (its content starts below the status bar).
    auto rowY = [&](long row, double y) { return table->rectForRow({0, row}).minY() - table->bounds().minY() + y; };
    auto pixels = snapshot(*table, 1);
    ASSERT_TRUE(pixels);
    const RGBA8 plain = at(*pixels, 200, rowY(3, 20));
    EXPECT_EQ(plain, (RGBA8{255, 255, 255, 255})) << "a plain table in light";
    EXPECT_NE(at(*pixels, 200, rowY(0, 20)), plain) << "the selected row";
    EXPECT_NE(at(*pixels, 200, rowY(1, 20)), plain) << "the highlighted row";
    EXPECT_EQ(at(*pixels, 200, rowY(2, 20)), plain) << "selection style none";
    // A selected background view stands in for the grey.
    auto custom = View::make(Rect());
    custom->setBackgroundColor(Color::red());
    table->cellForRow({0, 0})->setSelectedBackgroundView(custom);
    pixels = snapshot(*table, 1);
    EXPECT_EQ(at(*pixels, 200, rowY(0, 20)), (RGBA8{255, 0, 0, 255}));
    // Separators lie under the rows, from the inset on, over the rows' content.
    EXPECT_NE(at(*pixels, 100, rowY(3, 43.5)), plain);
    EXPECT_NE(at(*pixels, 100, rowY(0, 43.5)), (RGBA8{255, 0, 0, 255}));
    EXPECT_EQ(at(*pixels, 8, rowY(3, 43.5)), plain) << "left of the separator inset";
    table->setSeparatorStyle(SeparatorStyle::None);
    pixels = snapshot(*table, 1);
    EXPECT_EQ(at(*pixels, 100, rowY(3, 43.5)), plain);
}

TEST(Look, AMaskViewKeepsOnlyWhatItCoversByItsAlpha) {
    auto view = View::make(Rect(0, 0, 100, 100));
    view->setBackgroundColor(Color::red());
    auto mask = View::make(Rect(0, 0, 50, 100));
    mask->setBackgroundColor(Color::black());
    auto faint = View::make(Rect(50, 0, 50, 50));
    faint->setBackgroundColor(Color::white(0, 0.5));
    mask->addSubview(View::make(Rect()));
    auto maskRoot = View::make(Rect(0, 0, 100, 100));
    maskRoot->addSubview(mask);
    maskRoot->addSubview(faint);
    view->setMaskView(maskRoot);
    auto pixels = snapshot(*view, 1);
    ASSERT_TRUE(pixels);
    EXPECT_EQ(at(*pixels, 25, 50), (RGBA8{255, 0, 0, 255})) << "under the mask";
    EXPECT_EQ(at(*pixels, 75, 75), (RGBA8{0, 0, 0, 0})) << "outside the mask: clear";
    EXPECT_NEAR(at(*pixels, 75, 25)[3], 128, 2) << "half the mask's alpha, half the view's";
    // Subviews are masked with the view.
    auto child = View::make(Rect(60, 60, 30, 30));
    child->setBackgroundColor(Color::blue());
    view->addSubview(child);
    pixels = snapshot(*view, 1);
    EXPECT_EQ(at(*pixels, 75, 75), (RGBA8{0, 0, 0, 0}));
    // A shape layer mask clips to its path.
    auto shaped = View::make(Rect(0, 0, 100, 100));
    shaped->setBackgroundColor(Color::blue());
    shaped->layer().mask = std::make_shared<ShapeLayer>();
    shaped->layer().mask->path = graphics::Path::ellipse(Rect(0, 0, 100, 100));
    pixels = snapshot(*shaped, 1);
    EXPECT_EQ(at(*pixels, 50, 50), (RGBA8{0, 0, 255, 255}));
    EXPECT_EQ(at(*pixels, 2, 2), (RGBA8{0, 0, 0, 0}));
}

TEST(Look, GradientLayersRunFromTheirStartToTheirEndPoint) {
    auto view = View::make(Rect(0, 0, 40, 100));
    auto gradient = std::make_shared<GradientLayer>();
    gradient->colors = {Color::red(), Color::blue()};
    view->layer().gradientSublayers.push_back(gradient);
    auto pixels = snapshot(*view, 1);
    ASSERT_TRUE(pixels);
    EXPECT_GT(at(*pixels, 20, 1)[0], 240);
    EXPECT_GT(at(*pixels, 20, 98)[2], 240);
    const RGBA8 middle = at(*pixels, 20, 50);
    EXPECT_NEAR(middle[0], 128, 6);
    EXPECT_NEAR(middle[2], 128, 6);
    // Across instead, with the second colour from a third of the way.
    gradient->startPoint = {0, 0.5};
    gradient->endPoint = {1, 0.5};
    gradient->locations = {0, 1.0 / 3};
    pixels = snapshot(*view, 1);
    EXPECT_GT(at(*pixels, 1, 50)[0], 200);
    EXPECT_EQ(at(*pixels, 30, 50), (RGBA8{0, 0, 255, 255})) << "past the last stop the last colour holds";
}

TEST(Look, ASnapshotViewKeepsThePixelsOfTheMomentItWasTaken) {
    Window window(ScreenProfile::iPhone8());
    auto view = View::make(Rect(10, 10, 60, 40));
    view->setBackgroundColor(Color::red());
    window.addSubview(view);
    auto copy = snapshotView(*view, true);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->bounds().size, (Size{60, 40}));
    ASSERT_TRUE(copy->image());
    EXPECT_EQ(copy->image()->scale(), 2);
    view->setBackgroundColor(Color::blue());
    auto pixels = snapshot(*copy, 1);
    EXPECT_EQ(at(*pixels, 30, 20), (RGBA8{255, 0, 0, 255})) << "the copy does not follow the view";
}

TEST(Look, TheAccessoryViewRidesOnTheKeyboardAndCountsInItsFrame) {
    Harness h;
    h.setRoot(std::make_shared<ViewController>());
    auto field = std::make_shared<TextField>(Rect(10, 100, 300, 40));
    h.window().rootViewController()->view()->addSubview(field);
    auto strip = View::make(Rect(0, 0, 100, 44));
    strip->setBackgroundColor(Color::green());
    field->inputAccessory = strip;
    std::vector<Rect> ends;
    auto& centre = foundation::NotificationCenter::defaultCenter();
    centre.addObserver(this, kKeyboardWillChangeFrameNotification, [&](const foundation::Notification& n) {
        ends.push_back(*rectFromString(n.userInfo.get(kKeyboardFrameEndUserInfoKey).stringValue()));
    });
    ASSERT_TRUE(field->becomeFirstResponder());
    h.settle();
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0], Rect(0, 667 - 216 - 44, 375, 260)) << "the keys and the accessory";
    EXPECT_EQ(Keyboard::shared().frame(), ends[0]);
    EXPECT_EQ(strip->frame().width(), 375) << "the accessory spans the keyboard";
    auto pixels = snapshot(h.window(), 1);
    ASSERT_TRUE(pixels);
    EXPECT_EQ(at(*pixels, 200, ends[0].minY() + 22), (RGBA8{0, 255, 0, 255})) << "drawn on top of the keys";
    EXPECT_NE(at(*pixels, 200, ends[0].minY() + 60), (RGBA8{0, 255, 0, 255}));
    // Views added later stay under the keyboard.
    h.window().addSubview(View::make(Rect(0, 0, 375, 667)));
    EXPECT_EQ(h.window().subviews().back(), Keyboard::shared().view());
    // A new accessory after reloadInputViews moves the frame.
    auto taller = View::make(Rect(0, 0, 100, 60));
    field->inputAccessory = taller;
    field->reloadInputViews();
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[1].height(), 216 + 60);
    EXPECT_EQ(strip->superview(), nullptr) << "the old accessory left";
    // Without one the keyboard shrinks back; the same answer twice posts nothing.
    field->inputAccessory = nullptr;
    field->reloadInputViews();
    field->reloadInputViews();
    ASSERT_EQ(ends.size(), 3u);
    EXPECT_EQ(ends[2].height(), 216);
    // Hidden, it leaves the window.
    field->resignFirstResponder();
    EXPECT_EQ(Keyboard::shared().view(), nullptr);
    for (const auto& v : h.window().subviews()) EXPECT_EQ(dynamic_cast<KeyboardView*>(v.get()), nullptr);
    centre.removeObserver(this);
}

TEST(Look, ReloadingInputViewsOfAnInputWithoutTheFocusChangesNothing) {
    Harness h;
    h.setRoot(std::make_shared<ViewController>());
    auto a = std::make_shared<TextField>(Rect(10, 100, 300, 40));
    auto b = std::make_shared<TextField>(Rect(10, 150, 300, 40));
    h.window().rootViewController()->view()->addSubview(a);
    h.window().rootViewController()->view()->addSubview(b);
    ASSERT_TRUE(a->becomeFirstResponder());
    const Rect before = Keyboard::shared().frame();
    b->inputAccessory = View::make(Rect(0, 0, 10, 50));
    b->reloadInputViews();
    EXPECT_EQ(Keyboard::shared().frame(), before);
    // Taking the focus brings its accessory along.
    ASSERT_TRUE(b->becomeFirstResponder());
    EXPECT_EQ(Keyboard::shared().frame().height(), before.height() + 50);
}

class AutomaticRows : public ::testing::Test {
protected:
    void SetUp() override { setTextMeasurer(nullptr); }
    // Fixed metrics: 17-pt text is 8.5 pt a character and 20.4 pt a line, so a cell's label of
    // 343 pt takes eight five-character words a line.
    std::string longText(int lines) {
        std::string s;
        for (int i = 0; i < lines * 8 - 1; ++i) s += "word ";
        return s + "end";
    }
};

TEST_F(AutomaticRows, RowsOfAutomaticHeightAreAsHighAsTheirCells) {
    auto rows = std::make_shared<Rows>(std::vector<std::string>{"short", longText(3), "", longText(2)});
    auto table = tableWith(rows, Rect(0, 0, 375, 1000));
    table->setRowHeight(TableView::kAutomaticDimension);
    table->layoutIfNeeded();
    EXPECT_EQ(table->rectForRow({0, 0}).height(), 44) << "one line stays at the minimum";
    const double three = table->rectForRow({0, 1}).height();
    EXPECT_GT(three, 3 * 20);
    EXPECT_EQ(table->rectForRow({0, 2}).height(), 44);
    EXPECT_LT(table->rectForRow({0, 3}).height(), three);
    EXPECT_GT(table->rectForRow({0, 3}).height(), 44);
    EXPECT_EQ(table->rectForRow({0, 2}).minY(), table->rectForRow({0, 1}).maxY());
    EXPECT_EQ(table->contentSize().height, table->rectForRow({0, 3}).maxY());
    // The cell's own label is laid out over all its lines.
    EXPECT_GT(table->cellForRow({0, 1})->textLabel().frame().height(), 3 * 20);
}

TEST_F(AutomaticRows, EstimatedRowsAreMeasuredWhenTheyComeIntoView) {
    std::vector<std::string> texts(40, "one line");
    texts[30] = longText(4);
    auto rows = std::make_shared<Rows>(texts);
    auto table = tableWith(rows, Rect(0, 0, 375, 300));
    table->setRowHeight(TableView::kAutomaticDimension);
    table->setEstimatedRowHeight(100);
    Window window(ScreenProfile::iPhone8());
    window.addSubview(table);
    table->layoutIfNeeded();
    EXPECT_EQ(table->rectForRow({0, 0}).height(), 44) << "visible: measured";
    EXPECT_EQ(table->rectForRow({0, 30}).height(), 100) << "out of view: the estimate";
    EXPECT_LT(rows->made, 12) << "only the rows in view were asked for";
    table->setContentOffset({0, table->rectForRow({0, 30}).minY()});
    table->layoutIfNeeded();
    EXPECT_GT(table->rectForRow({0, 30}).height(), 4 * 20);
    EXPECT_NE(table->cellForRow({0, 30}), nullptr);
    EXPECT_EQ(table->cellForRow({0, 30})->frame(), table->rectForRow({0, 30}));
}

TEST_F(AutomaticRows, CellsWithContentOfTheirOwnAnswerTheirFittingHeight) {
    class TallCell : public TableViewCell {
    public:
        double fittingHeight(double width) override { return width / 5; }
    };
    auto rows = std::make_shared<Rows>(std::vector<std::string>{"a"});
    auto table = tableWith(rows, Rect(0, 0, 375, 600));
    table->registerCell("row", [] { return std::make_shared<TallCell>(); });
    table->setRowHeight(TableView::kAutomaticDimension);
    table->layoutIfNeeded();
    EXPECT_EQ(table->rectForRow({0, 0}).height(), 75);
    // A custom subview reaching down makes a plain cell taller.
    TableViewCell cell;
    cell.contentView().addSubview(View::make(Rect(0, 0, 10, 90)));
    EXPECT_EQ(cell.fittingHeight(320), 101);
}

class AppearanceDefaults : public ::testing::Test {
protected:
    void TearDown() override { Appearance::reset(); }
};

TEST_F(AppearanceDefaults, ViewsTakeTheirClassesValuesUnlessTheyHaveTheirOwn) {
    Appearance::of<Switch>().set("onTintColor", Color::systemBlue().withAlphaComponent(0.8));
    Appearance::of<NavigationBar>().set("barTintColor", Color::red());
    Appearance::of<TextField, SearchBar>().set("backgroundColor", Color::systemGray5());
    Window window(ScreenProfile::iPhone8());
    auto plain = std::make_shared<Switch>();
    auto own = std::make_shared<Switch>();
    own->onTintColor = Color::green();
    auto search = std::make_shared<SearchBar>();
    auto field = std::make_shared<TextField>();
    EXPECT_FALSE(plain->onTintColor) << "nothing before the window";
    for (auto v : std::initializer_list<std::shared_ptr<View>>{plain, own, search, field}) window.addSubview(v);
    EXPECT_EQ(plain->onTintColor, Color::systemBlue().withAlphaComponent(0.8));
    EXPECT_EQ(own->onTintColor, Color::green()) << "its own colour wins";
    EXPECT_EQ(search->searchTextField().backgroundColor(), Color::systemGray5()) << "inside a search bar";
    EXPECT_FALSE(field->backgroundColor()) << "not inside one";
    auto nav = std::make_shared<NavigationController>(std::make_shared<ViewController>());
    window.addSubview(nav->view());
    EXPECT_EQ(nav->navigationBar().barTintColor(), Color::red());
    // Applied once: a view set back in code keeps what it was given.
    plain->onTintColor.reset();
    plain->removeFromSuperview();
    window.addSubview(plain);
    EXPECT_FALSE(plain->onTintColor);
}

TEST(Look, SystemBarItemsSayWhatTheyAre) {
    struct Case {
        SystemItem item;
        const char* label;
    };
    for (const Case& c : {Case{SystemItem::Compose, "Compose"}, Case{SystemItem::Add, "Add"},
                          Case{SystemItem::Action, "Share"}, Case{SystemItem::Done, "Done"}}) {
        auto item = BarButtonItem::withSystemItem(c.item);
        auto view = makeBarItemView(item);
        EXPECT_EQ(view->accessibilityLabel(), c.label);
    }
    auto labelled = BarButtonItem::withSystemItem(SystemItem::Compose);
    labelled->accessibilityLabel = "New SMS";
    EXPECT_EQ(makeBarItemView(labelled)->accessibilityLabel(), "New SMS");
}

TEST(Look, BarItemsAreMeasuredAgainWhenTheMeasurerChanges) {
    setTextMeasurer(nullptr);
    Harness h(ScreenProfile::iPad(), 15);
    auto root = std::make_shared<ViewController>();
    root->navigationItem().setRightBarButtonItem(BarButtonItem::withTitle("Accounts"));
    h.setRoot(std::make_shared<NavigationController>(root));
    h.settle();
    View* item = h.find("Accounts");
    ASSERT_NE(item, nullptr);
    const double fixed = item->frame().width();
    {
        hxtest::UsingFonts fonts;
        h.settle();
        EXPECT_NE(item->frame().width(), fixed);
        EXPECT_EQ(item->frame().width(), barItemWidth(*item)) << "as wide as it is drawn";
    }
    h.settle();
    EXPECT_EQ(item->frame().width(), fixed);
}

TEST(Look, ACardDimsTheStripOfThePresenterAboveIt) {
    Harness h(ScreenProfile::iPhone8(), 15);
    auto root = std::make_shared<ViewController>();
    h.setRoot(root);
    root->view()->setBackgroundColor(Color::whiteColor());
    auto card = std::make_shared<ViewController>();
    card->modalPresentationStyle = ModalPresentationStyle::PageSheet;
    root->present(card, false);
    h.settle();
    auto pixels = snapshot(h.window(), 1);
    ASSERT_TRUE(pixels);
    // Between the status bar's carrier and its clock.
    EXPECT_LT(luminance(at(*pixels, 130, 10)), 180) << "the strip above the card is dimmed";
    card->dismiss(false);
    h.settle();
    pixels = snapshot(h.window(), 1);
    EXPECT_EQ(luminance(at(*pixels, 130, 10)), 255) << "and bright again without it";
}

TEST(Look, APopoversArrowNextToItsBarTakesTheBarsColour) {
    auto context = graphics::GraphicsContext::image({200, 200}, false, 1);
    ASSERT_TRUE(context.ok());
    const Rect frame(20, 40, 160, 140), anchor(90, 0, 20, 20);
    drawPopoverFrame(frame, kArrowUp, anchor, Color::whiteColor(), **context, Color::rgb(0, 0, 1));
    const auto& pixels = (*context)->pixels();
    EXPECT_EQ(pixels.rgbaAt(100, 36), (RGBA8{0, 0, 255, 255})) << "the arrow";
    EXPECT_EQ(pixels.rgbaAt(100, 100), (RGBA8{255, 255, 255, 255})) << "the body";
}

TEST(Look, SettersOfTheLookMarkDisplayOrLayoutOnlyWhenTheValueChanges) {
    auto table = std::make_shared<TableView>();
    auto cell = std::make_shared<TableViewCell>();
    auto image = std::make_shared<ImageView>();
    const auto tiny = graphics::Image::fromBitmap(*graphics::Bitmap::make(1, 1));
    auto nav = std::make_shared<NavigationController>(std::make_shared<ViewController>());
    NavigationBar& bar = nav->navigationBar();
    auto toolbar = std::make_shared<Toolbar>();
    struct Case {
        const char* what;
        View* view;
        std::function<void()> set;
        bool layout;
    };
    const std::vector<Case> cases = {
        {"opaque", image.get(), [&] { image->setOpaque(false); }, false},
        {"clips", image.get(), [&] { image->setClipsToBounds(true); }, false},
        {"content mode", image.get(), [&] { image->setContentMode(ContentMode::Center); }, false},
        {"highlighted image", image.get(), [&] { image->setHighlightedImage(tiny); }, false},
        {"bar style", &bar, [&] { bar.setBarStyle(BarStyle::Black); }, false},
        {"bar tint", &bar, [&] { bar.setBarTintColor(Color::red()); }, false},
        {"translucent", &bar, [&] { bar.setTranslucent(false); }, false},
        {"toolbar tint", toolbar.get(), [&] { toolbar->setBarTintColor(Color::red()); }, false},
        {"separator colour", table.get(), [&] { table->setSeparatorColor(Color::red()); }, false},
        {"header height", table.get(), [&] { table->setSectionHeaderHeight(40); }, true},
        {"accessory type", cell.get(), [&] { cell->setAccessoryType(CellAccessoryType::Checkmark); }, true},
        {"selection style", cell.get(), [&] { cell->setSelectionStyle(CellSelectionStyle::None); }, false},
        {"separator inset", cell.get(),
         [&] {
             cell->setSeparatorInset({0, 30, 0, 0});
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.view->layoutIfNeeded();
        uint64_t before = c.view->displayGeneration();
        c.set();
        EXPECT_GT(c.view->displayGeneration(), before);
        EXPECT_EQ(c.view->needsLayout(), c.layout);
        c.view->layoutIfNeeded();
        before = c.view->displayGeneration();
        c.set();
        EXPECT_EQ(c.view->displayGeneration(), before) << "the same value again changes nothing";
        EXPECT_FALSE(c.view->needsLayout());
    }
}

TEST(Look, TheGalleryOfTheNewPiecesLooksAsItsGoldens) {
    hxtest::UsingFonts fonts;
    std::unique_ptr<Harness> h;
    std::shared_ptr<TableView> table;
    std::shared_ptr<Rows> rows;
    std::shared_ptr<TextField> field;
    hxtest::expectSnapshotInLightAndDark(
        "look_gallery_2x",
        [&](InterfaceStyle style) -> View* {
            rows.reset(), table.reset(), field.reset();
            h.reset();
            h = std::make_unique<Harness>(ScreenProfile::iPhone8(), 15);
            auto root = std::make_shared<ViewController>();
            h->setRoot(root);
            h->setInterfaceStyle(style);
            View& page = *root->view();
            page.setBackgroundColor(Color::systemGroupedBackground());
            // Rows: selected, highlighted, with an accessory view, with a checkmark; separators.
            rows = std::make_shared<Rows>(
                std::vector<std::string>{"Selected row", "Highlighted row", "Accessory view", "Checkmark"});
            table = tableWith(rows, Rect(0, 20, 375, 176));
            table->setBackgroundColor(Color::secondarySystemGroupedBackground());
            table->setScrollEnabled(false);
            page.addSubview(table);
            table->layoutIfNeeded();
            table->selectRow(IndexPath{0, 0}, false);
            table->cellForRow({0, 1})->setHighlighted(true);
            auto toggle = std::make_shared<Switch>();
            toggle->setFrame(Rect(0, 0, 51, 31));
            toggle->setOn(true);
            table->cellForRow({0, 2})->setAccessoryView(toggle);
            table->cellForRow({0, 3})->setAccessoryType(CellAccessoryType::Checkmark);
            // A gradient, and a snapshot view of it, half as big.
            auto gradient = View::make(Rect(16, 212, 150, 90));
            gradient->layer().cornerRadius = 12;
            gradient->setClipsToBounds(true);
            auto layer = std::make_shared<GradientLayer>();
            layer->colors = {Color::systemBlue(), Color::rgb(0, 31 / 255.0, 83 / 255.0)};
            gradient->layer().gradientSublayers.push_back(layer);
            auto caption = std::make_shared<Label>(Rect(12, 60, 130, 22));
            caption->setText("Gradient");
            caption->setTextColor(Color::whiteColor());
            gradient->addSubview(caption);
            page.addSubview(gradient);
            auto copy = snapshotView(*gradient, true);
            copy->setFrame(Rect(182, 212, 75, 45));
            page.addSubview(copy);
            // Two stripes seen through a rounded bubble and a circle.
            auto stripes = View::make(Rect(272, 212, 87, 90));
            stripes->setBackgroundColor(Color::systemOrange());
            auto band = View::make(Rect(0, 30, 87, 30));
            band->setBackgroundColor(Color::systemGreen());
            stripes->addSubview(band);
            auto mask = View::make(Rect(0, 0, 87, 90));
            auto bubble = View::make(Rect(0, 0, 87, 60));
            bubble->setBackgroundColor(Color::black());
            bubble->layer().cornerRadius = 18;
            auto dot = View::make(Rect(30, 64, 26, 26));
            dot->setBackgroundColor(Color::black());
            dot->layer().cornerRadius = 13;
            mask->addSubview(bubble);
            mask->addSubview(dot);
            stripes->setMaskView(mask);
            page.addSubview(stripes);
            // Text in the label colours, none of them set by the page.
            auto title = std::make_shared<Label>(Rect(16, 312, 343, 24));
            title->setText("Text in the label colour");
            auto secondary = std::make_shared<Label>(Rect(16, 336, 343, 20));
            secondary->setFont(Font::system(15));
            secondary->setTextColor(Color::secondaryLabel());
            secondary->setText("and in the secondary one");
            page.addSubview(title);
            page.addSubview(secondary);
            // A focused field whose strip of pictures rides on the keyboard.
            field = std::make_shared<TextField>(Rect(16, 362, 343, 36));
            field->setBorderStyle(TextBorderStyle::RoundedRect);
            field->setPlaceholder("Reply");
            page.addSubview(field);
            auto strip = std::make_shared<Toolbar>(Rect(0, 0, 375, 52));
            std::vector<BarButtonItemPtr> items;
            for (const Color& c : {Color::systemRed(), Color::systemBlue()}) {
                auto picture = graphics::GraphicsContext::image({40, 40}, false, 2).value();
                picture->setFillColor(c);
                picture->addPath(graphics::Path::roundedRect(Rect(0, 0, 40, 40), 4));
                picture->fillPath();
                auto item = BarButtonItem::withImage(
                    picture->makeImage()->withRenderingMode(graphics::RenderingMode::alwaysOriginal));
                items.push_back(item);
            }
            items.push_back(BarButtonItem::withSystemItem(SystemItem::FlexibleSpace));
            strip->setItems(items);
            field->inputAccessory = strip;
            EXPECT_TRUE(field->becomeFirstResponder());
            h->settle();
            return &h->window();
        },
        2);
    h.reset();
}
