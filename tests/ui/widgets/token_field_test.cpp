// The recipient field: the sentinels, the token keys, tokenizing, the line layout against a
// hand-computed placement, the height events on the virtual clock and the summary at the end of
// editing.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/toolkit/animation.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/toolkit/text_metrics.h"
#include "platform/toolkit/view_controller.h"
#include "ui/widgets/hxc_token_field.h"

namespace {

const std::string kEmpty(HXCTokenField::kEmptySentinel);
const std::string kSelected(HXCTokenField::kSelectedSentinel);

// Records what the field asks and tells; vetoes on request.
struct TokenFieldOwner : HXCTokenFieldDelegate {
    std::vector<std::string> events;
    bool refuseAdds = false;
    bool refuseRemoves = false;
    bool tokenFieldWillAddToken(HXCTokenField&, HXCToken& token) override {
        events.push_back("will add " + token.title());
        return !refuseAdds;
    }
    void tokenFieldDidAddToken(HXCTokenField&, HXCToken& token) override { events.push_back("add " + token.title()); }
    bool tokenFieldWillRemoveToken(HXCTokenField&, HXCToken& token) override {
        events.push_back("will remove " + token.title());
        return !refuseRemoves;
    }
    void tokenFieldDidRemoveToken(HXCTokenField&, HXCToken& token) override {
        events.push_back("remove " + token.title());
    }
    bool textFieldShouldReturn(toolkit::TextField&) override {
        events.push_back("return");
        return true;
    }
};

struct TokenField : ::testing::Test {
    toolkit::testing::Harness harness;
    std::shared_ptr<toolkit::ViewController> screen = std::make_shared<toolkit::ViewController>();
    std::shared_ptr<HXCTokenField> field = HXCTokenField::make();
    std::shared_ptr<TokenFieldOwner> owner = std::make_shared<TokenFieldOwner>();
    std::vector<unsigned> frameEvents;

    void SetUp() override {
        harness.setRoot(screen);
        screen->view()->addSubview(field);
        field->setTokenFieldFrame({0, 80, 320, 40});
        field->setTokenDelegate(owner);
        field->addAction([this](toolkit::Control&, const toolkit::Event*) { frameEvents.push_back(24); },
                         HXCTokenField::kFrameWillChange);
        field->addAction([this](toolkit::Control&, const toolkit::Event*) { frameEvents.push_back(25); },
                         HXCTokenField::kFrameDidChange);
        harness.settle();
    }
    std::vector<std::string> titles() const { return field->tokenTitles(); }
    double lineHeight() const { return toolkit::textMeasurer().lineHeight(field->font()); }
    double topMargin() const { return std::floor(static_cast<float>(lineHeight() * 3 / 7)); }
    double lineStep() const { return topMargin() + std::ceil(static_cast<float>(lineHeight())) + 3; }
};

}  // namespace

TEST_F(TokenField, ANewFieldHoldsTheEmptySentinelThePromptAndOneLine) {
    EXPECT_EQ(field->text(), kEmpty);
    auto* prompt = dynamic_cast<toolkit::Label*>(field->leftView().get());
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(prompt->text(), "To:");
    EXPECT_EQ(field->placeholderLabel(), nullptr);
    EXPECT_EQ(field->numberOfLines(), 1);
    EXPECT_EQ(field->frame().size.height, std::ceil(topMargin() - 1 + lineStep()));
    // Nothing to copy or select in an empty field; the sentinel never counts as text.
    EXPECT_FALSE(field->canPerformAction("copy:", nullptr));
    EXPECT_FALSE(field->canPerformAction("selectAll:", nullptr));
    field->setText("abc");
    EXPECT_TRUE(field->canPerformAction("copy:", nullptr));
    field->setText("");
    EXPECT_EQ(field->text(), kEmpty);
}

TEST_F(TokenField, PiecesLoseBothSentinelsAndSurroundingSpace) {
    struct Case {
        std::string text;
        std::vector<std::string> pieces;
    };
    const Case cases[] = {
        {kEmpty + "5551234", {"5551234"}},
        {kEmpty + " 555 , 666 ,", {"555", "666", ""}},
        {kSelected + "a" + kEmpty + "b,c", {"ab", "c"}},
        {"\t\n x \n", {"x"}},
        {kEmpty, {""}},
        {"Zoë Ünal,日本", {"Zoë Ünal", "日本"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(HXCTokenField::piecesOfText(c.text, ","), c.pieces);
    }
    EXPECT_EQ(HXCTokenField::piecesOfText("a;b,c", ";,"), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(TokenField, TypedTextBecomesTokensAtACommaOnReturnAndWhenEditingEnds) {
    ASSERT_TRUE(field->becomeFirstResponder());
    ASSERT_TRUE(harness.typeText("555 1234"));
    EXPECT_EQ(field->text(), kEmpty + "555 1234");
    ASSERT_TRUE(harness.typeText(","));
    // The typed number's title carries no sentinel: it reads as digits to the owner.
    EXPECT_EQ(titles(), (std::vector<std::string>{"555 1234"}));
    EXPECT_EQ(field->text(), kEmpty) << "the comma is not inserted";
    ASSERT_TRUE(harness.typeText("Ann"));
    ASSERT_TRUE(harness.pressReturn());
    EXPECT_EQ(titles(), (std::vector<std::string>{"555 1234", "Ann"}));
    ASSERT_TRUE(harness.typeText("Bo"));
    field->resignFirstResponder();
    EXPECT_EQ(titles(), (std::vector<std::string>{"555 1234", "Ann", "Bo"}));
    EXPECT_EQ(owner->events, (std::vector<std::string>{"will add 555 1234", "add 555 1234", "will add Ann", "add Ann",
                                                       "return", "will add Bo", "add Bo"}));
}

TEST_F(TokenField, ForcedSearchPicksKeepTheCommaAndTheKeyboard) {
    field->setForcePickSearchResult(true);
    ASSERT_TRUE(field->becomeFirstResponder());
    ASSERT_TRUE(harness.typeText("a,b"));
    EXPECT_EQ(field->text(), kEmpty + "a,b");
    EXPECT_TRUE(field->tokens().empty());
    field->resignFirstResponder();
    EXPECT_TRUE(field->tokens().empty());
    EXPECT_TRUE(field->isFirstResponder()) << "with no tokens the field asks for the keyboard again";
}

TEST_F(TokenField, BackspaceSelectsThenDeletesAndALetterReplacesTheSelectedToken) {
    ASSERT_TRUE(field->becomeFirstResponder());
    field->addTokenWithTitle("one", foundation::Value("1"));
    field->addTokenWithTitle("two", foundation::Value("2"));
    ASSERT_TRUE(harness.pressBackspace());
    ASSERT_EQ(field->selectedToken(), field->tokens().back());
    EXPECT_TRUE(field->tokens().back()->isSelected());
    EXPECT_EQ(field->text(), kSelected);
    // The caret hides while a token is selected.
    EXPECT_EQ(field->textRectForBounds(field->bounds()), (toolkit::Rect{0, -20, 0, 0}));
    ASSERT_TRUE(harness.pressBackspace());
    EXPECT_EQ(titles(), (std::vector<std::string>{"one"}));
    EXPECT_EQ(field->text(), kEmpty);
    ASSERT_TRUE(harness.pressBackspace());
    ASSERT_TRUE(harness.typeText("x"));
    EXPECT_TRUE(field->tokens().empty());
    EXPECT_EQ(field->text(), kEmpty + "x") << "the letter is typed after the sentinel";
    EXPECT_EQ(field->selectedToken(), nullptr);
    // A vetoing owner keeps the token, unselected.
    field->addTokenWithTitle("three");
    owner->refuseRemoves = true;
    ASSERT_TRUE(harness.pressBackspace());
    ASSERT_EQ(field->selectedToken(), field->tokens().back());
    ASSERT_TRUE(harness.pressBackspace());
    EXPECT_EQ(titles(), (std::vector<std::string>{"three"}));
    EXPECT_EQ(field->selectedToken(), nullptr);
}

TEST_F(TokenField, AddingVetoedDuplicatesAndEmptyTitles) {
    EXPECT_EQ(field->addTokenWithTitle(""), nullptr);
    EXPECT_TRUE(owner->events.empty());
    auto token = field->addTokenWithTitle("a");
    field->addToken(token);
    EXPECT_EQ(field->tokens().size(), 1u) << "the same token is held once";
    owner->refuseAdds = true;
    EXPECT_NE(field->addTokenWithTitle("b"), nullptr);
    EXPECT_EQ(titles(), (std::vector<std::string>{"a"}));
    // Objects fall back on titles; a token with neither is skipped.
    owner->refuseAdds = false;
    field->addTokenWithTitle("c", foundation::Value("+15551234"));
    auto untitled = std::make_shared<HXCToken>();
    field->addToken(untitled);
    const auto objects = field->tokenObjects();
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0].asString(), "a");
    EXPECT_EQ(objects[1].asString(), "+15551234");
}

TEST_F(TokenField, TokensWrapAsAHandPlacementSays) {
    ASSERT_TRUE(field->becomeFirstResponder());
    const char* names[] = {"Alexandra Brown", "Bo", "Christopher Columbus", "Di", "Eve Evergreen", "F", "Gus"};
    for (const char* n : names) field->addTokenWithTitle(n);
    harness.settle();
    // The placement worked out from the tokens' own sizes.
    const double width = field->bounds().size.width;
    const double leftMargin = field->leftViewWidth() + 12, rightMargin = field->rightViewWidth() + 5;
    double x = leftMargin, y = topMargin() - 1;
    int lines = 1;
    for (const auto& token : field->tokens()) {
        const auto size = token->bounds().size;
        if (x + size.width + rightMargin > width) ++lines, x = 5, y += lineStep();
        EXPECT_EQ(token->frame().origin, (toolkit::Point{x, y})) << token->title();
        x += size.width + 4;
        if (width - x - rightMargin < 50) ++lines, x = 5, y += lineStep();
    }
    EXPECT_GT(lines, 1);
    EXPECT_EQ(field->numberOfLines(), lines);
    EXPECT_EQ(field->frame().size.height, std::ceil(static_cast<float>(y + lineStep())));
    EXPECT_EQ(field->tokenCaret(), (toolkit::Point{x, y}));
    // The typing area follows the caret.
    const auto typing = field->textRectForBounds(field->bounds());
    EXPECT_EQ(typing.origin, (toolkit::Point{x + 2, y + 3}));
}

TEST_F(TokenField, AHeightChangeSendsWillAtOnceAndDidWhenTheAnimationEnds) {
    toolkit::Animations::setTimed(true);
    ASSERT_TRUE(field->becomeFirstResponder());
    frameEvents.clear();
    field->addTokenWithTitle("A name long enough to fill the whole first line");
    EXPECT_EQ(frameEvents, (std::vector<unsigned>{24}));
    harness.advance(0.29);
    EXPECT_EQ(frameEvents, (std::vector<unsigned>{24}));
    harness.advance(0.02);
    EXPECT_EQ(frameEvents, (std::vector<unsigned>{24, 25}));
    // Laid out again at the same height: nothing is sent.
    field->layoutTokensAnimated(true);
    harness.advance(0.5);
    EXPECT_EQ(frameEvents, (std::vector<unsigned>{24, 25}));
    toolkit::Animations::setTimed(false);
}

TEST_F(TokenField, EndingEditingShowsTheTitlesOrTheRecipientCount) {
    struct Case {
        std::vector<std::string> names;
        std::string summary;
    };
    const Case cases[] = {
        {{}, kEmpty},
        {{"Al", "Bo", "Cy"}, "Al, Bo, Cy"},
        {{"Alexandra Brown", "Christopher Columbus", "Dorothea Evergreen"}, "3 recipients"},
        {{"Alexandra Brown Christopher Columbus Dorothea Evergreen"},
         "Alexandra Brown Christopher Columbus Dorothea Evergreen"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.summary);
        field->removeAllTokens();
        ASSERT_TRUE(field->becomeFirstResponder());
        for (const auto& n : c.names) field->addTokenWithTitle(n);
        field->resignFirstResponder();
        EXPECT_EQ(field->text(), c.summary);
        EXPECT_EQ(field->tokens().size(), c.names.size()) << "the list stays";
        for (const auto& t : field->tokens()) EXPECT_EQ(t->superview(), nullptr);
        // Editing again puts them back with an empty text.
        ASSERT_TRUE(field->becomeFirstResponder());
        for (const auto& t : field->tokens()) EXPECT_EQ(t->superview(), field.get());
        EXPECT_EQ(field->text(), c.names.empty() ? kEmpty : kEmpty);
        field->resignFirstResponder();
    }
}

TEST_F(TokenField, TappingATokenSelectsItAndTappingAnotherMovesTheSelection) {
    ASSERT_TRUE(field->becomeFirstResponder());
    auto a = field->addTokenWithTitle("Al");
    auto b = field->addTokenWithTitle("Bo");
    harness.settle();
    ASSERT_TRUE(harness.tap(*a));
    EXPECT_EQ(field->selectedToken(), a);
    ASSERT_TRUE(harness.tap(*b));
    EXPECT_EQ(field->selectedToken(), b);
    EXPECT_FALSE(a->isSelected());
    field->setEditable(false);
    field->deselectSelectedToken();
    ASSERT_TRUE(harness.tap(*a));
    EXPECT_EQ(field->selectedToken(), nullptr) << "a field that cannot be edited selects nothing";
    field->resignFirstResponder();
    EXPECT_FALSE(field->becomeFirstResponder());
}

TEST_F(TokenField, APlaceholderShowsOnlyOverAnEmptyField) {
    field->setPlaceholder("Name or number");
    ASSERT_NE(field->placeholderLabel(), nullptr);
    ASSERT_TRUE(field->becomeFirstResponder());
    field->addTokenWithTitle("Al");
    EXPECT_TRUE(field->placeholderLabel()->isHidden());
    field->removeAllTokens();
    ASSERT_TRUE(harness.typeText("x"));
    ASSERT_TRUE(harness.pressBackspace());
    EXPECT_FALSE(field->placeholderLabel()->isHidden());
    field->setPlaceholder("");
    EXPECT_EQ(field->placeholderLabel(), nullptr);
}
