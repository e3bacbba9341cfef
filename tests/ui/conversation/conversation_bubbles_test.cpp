// How bubbles show what they hold, drawn with the bundled fonts against the loopback service:
// right-to-left texts with their digits as written (read off the shaped text, not the string),
// copied and dialled without a direction mark; videos in a bubble of their preview's own size
// with the play sign over it, or their text in a bubble while no preview is there; a picture
// without size variants shown as unsupported until the picture tells its size.
#include "emulator/playback_media.h"
#include "model/cache.h"
#include "platform/graphics/color.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/text_input.h"
#include "tests/support/pixels.h"
#include "tests/ui/conversation/playback_support.h"
#include "ui/conversation/conversation_table_view_cell.h"
#include "ui/widgets/right_to_left_text.h"

namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;
using hxtest::kTextThread;

const std::string kCallMe = "\xD8\xA7\xD8\xAA\xD8\xB5\xD9\x84 \xD8\xA8\xD9\x8A \xD8\xB9\xD9\x84\xD9\x89";  // Arabic
const std::string kAtHour = "\xD8\xA7\xD9\x84\xD8\xB3\xD8\xA7\xD8\xB9\xD8\xA9";  // Arabic "the hour"
const std::string kShalom = "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D";                  // Hebrew

struct Bubbles : hxtest::PlaybackFixture<HX_ConnectAppDelegate_iPhone> {
    Bubbles() : PlaybackFixture(hxtest::DeviceForm::phone, true, 15, true) {}

    // One message per text (incoming), or one message holding the attachments.
    void storeTexts(const std::vector<std::string>& texts) {
        auto context = app->managedObjectContext();
        storeConversation(kTextThread, 1, "", std::nullopt, texts.front());
        auto c = app->getConversationWithID(kTextThread);
        int64_t when = 1'700'000'060'000;
        for (size_t i = 1; i < texts.size(); ++i) {
            auto m = context->insertNewObject(HXMessageStore::kMessageEntity).value();
            (void)m->setValue("id", "m" + std::to_string(i));
            (void)m->setValue("number", when += 60'000);
            (void)m->setValue("message", texts[i]);
            (void)m->setObject("Conversation", c);
        }
        ASSERT_TRUE(context->save().ok());
        harness.settle();
    }
    std::shared_ptr<ConversationTableViewCell> cellAt(toolkit::IndexPath indexPath) {
        auto& table = screen->tableView();
        table.scrollToRow(indexPath, toolkit::ScrollPosition::Middle, false);
        harness.settle();
        return std::dynamic_pointer_cast<ConversationTableViewCell>(table.cellForRow(indexPath));
    }
    static toolkit::View* bubbleOf(ConversationTableViewCell& cell) {
        return cell.backgroundView() ? cell.backgroundView()->viewWithTag(1) : nullptr;
    }
    std::shared_ptr<HXCCache> cache() { return app->screenRoles().media.lock()->mediaCache(); }
};

// Where each character of a run of the bubble's text is drawn, from the text view's own layout:
// the caret before each of them stands right of the one before, so the run reads left to right.
void expectReadsLeftToRight(const toolkit::TextView& view, const std::string& run) {
    const std::string& shown = view.text();
    const size_t at = shown.find(run);
    ASSERT_NE(at, std::string::npos) << run;
    const size_t first = foundation::utf16Length(shown.substr(0, at));
    double previous = -1e9;
    for (size_t i = 1; i < run.size(); ++i) {
        const double x = view.caretRectForPosition({first + i}).minX();
        EXPECT_GT(x, previous) << run << ": character " << i << " is drawn out of its order";
        previous = x;
    }
}

}  // namespace

TEST_F(Bubbles, RightToLeftTextsKeepTheirNumbersAsWrittenAndGiveThemBackWithoutMarks) {
    const std::string number = "+44 20 7946 0958";
    storeTexts({kCallMe + " " + number, kAtHour + " 10", kShalom + "\n" + "555-0142 " + kShalom});
    auto& s = open(kTextThread, 1);
    ASSERT_EQ(s.tableView().numberOfSections(), 3);
    struct Case {
        long section;
        std::vector<std::string> runs;
    } cases[] = {{0, {number}}, {1, {"10"}}, {2, {"555-0142"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.section);
        auto cell = cellAt({c.section, 0});
        ASSERT_TRUE(cell);
        auto& view = cell->messageView();
        EXPECT_EQ(view.textAlignment(), toolkit::TextAlignment::right);
        for (const auto& run : c.runs) expectReadsLeftToRight(view, run);
        // Every line is right to left around its numbers: the words still run from the right.
        EXPECT_EQ(view.text().rfind(kHXRightToLeftIsolate, 0), 0u);
        EXPECT_EQ(view.text().find("\xE2\x80\xAE"), std::string::npos) << "no override forces the digits";
    }

    // Copied and dialled as written.
    auto cell = cellAt({0, 0});
    auto& view = cell->messageView();
    view.selectAll();
    ASSERT_TRUE(cell->canPerformAction("copy:", nullptr));
    ASSERT_TRUE(cell->perform("copy:", nullptr));
    EXPECT_EQ(toolkit::Pasteboard::general().string().value_or("<none>"), kCallMe + " " + number);
    view.setSelectedRange({0, 0});
    EXPECT_FALSE(cell->canPerformAction("copy:", nullptr)) << "nothing selected, nothing to copy";
    EXPECT_EQ(cell->candidateText(), kCallMe + " " + number);
    ASSERT_TRUE(cell->canPerformAction("callViaHX:", nullptr));
    expectSnapshot("conversation_right_to_left_phone", {.lightAndDark = true});
}

TEST_F(Bubbles, AVideoIsItsPreviewUnderThePlaySignAtTheSizeItsVariantsTellOrItsOwnOrItsTextInABubble) {
    const foundation::Data widePreview = hxtest::pngOf(800, 400, 0x34c759ffu);
    const std::string wide(widePreview.begin(), widePreview.end());
    service->withAccount([&](emulator::Account& a) {
        a.media["vsmall"] = {"video/mp4", std::string(emulator::videoClip()), std::string(emulator::videoPreview())};
        a.media["vwide"] = {"video/mp4", std::string(emulator::videoClip()), wide};
        a.media["vnone"] = {"video/mp4", std::string(emulator::videoClip()), {}};
        a.media["pic"] = {.mimeType = "image/jpeg", .width = 320, .height = 240};
        a.media["vheld"] = {"video/mp4", std::string(emulator::videoClip()), std::string(emulator::videoPreview())};
        return 0;
    });
    // The service's size variants of a video are its preview's (96 x 64).
    const Array variants{Value(Dictionary{{"sizeSpec", "s512"}, {"width", 96}, {"height", 64}})};
    const Array attachments{
        Value(Dictionary{{"id", "vsmall"}, {"mimeType", "video/mp4"}, {"imageMetaData", Value(variants)}}),
        Value(Dictionary{{"id", "vwide"}, {"mimeType", "video/mp4"}}),
        Value(Dictionary{{"id", "vnone"}, {"mimeType", "video/mp4"}}),
        Value(Dictionary{{"id", "pic"}, {"mimeType", "image/jpeg"}}),
        Value(Dictionary{{"id", "vheld"}, {"mimeType", "video/mp4"}, {"imageMetaData", Value(variants)}})};
    service->inject(emulator::Fault::Slow, "/a/i/pic");
    service->inject(emulator::Fault::Slow, "/a/vi/vheld?m=thumbnail");
    storeConversation(kTextThread, 1, "", attachments, "");
    auto& s = open(kTextThread, 1);
    ASSERT_TRUE(harness.clock().runUntil(
        [&] { return cache()->objectForKey("vwide") != nullptr && cache()->objectForKey("vsmall") != nullptr; }, 30));
    harness.advance(1);
    harness.settle();
    const double room = s.view()->bounds().width() - 110;

    // With its preview, or (sized by its variants) with the bubble that waits for it: the row's
    // size, the picture shown and the play sign centred over it.
    struct Case {
        long row;
        toolkit::Size size;  // the row's bubble
        bool preview;
    } videos[] = {{0, {96, 64}, true}, {1, {room, std::floor(room / 2)}, true}, {4, {96, 64}, false}};
    for (const auto& c : videos) {
        SCOPED_TRACE(c.row);
        EXPECT_EQ(s.messageSizeForRow({0, c.row}), c.size);
        auto cell = cellAt({0, c.row});
        ASSERT_TRUE(cell);
        EXPECT_EQ(cell->messageView().textColor(), graphics::Color::clear()) << "no text over the picture";
        auto* bubble = dynamic_cast<toolkit::ImageView*>(bubbleOf(*cell));
        ASSERT_TRUE(bubble && bubble->image());
        if (c.preview)
            EXPECT_EQ(bubble->image()->size(), c.size) << "the preview is not stretched";
        else
            EXPECT_TRUE(bubble->image()->isResizable()) << "the bubble of its side, to be filled";
        EXPECT_LE(cell->convertRectTo(bubble->frame(), nullptr).maxX(), s.view()->bounds().width()) << "cut";
        auto* sign = dynamic_cast<toolkit::ImageView*>(bubble->viewWithTag(HXAttachmentRows::kPlaySignTag));
        ASSERT_TRUE(sign) << "no play sign";
        EXPECT_EQ(sign->image()->name(), "VM_play");
        EXPECT_EQ(sign->tintColor(), graphics::Color::whiteColor());
        EXPECT_NEAR(sign->frame().midX(), bubble->bounds().midX(), 0.5);
        EXPECT_NEAR(sign->frame().midY(), bubble->bounds().midY(), 0.5);
        EXPECT_EQ(sign->accessibility().isElement, std::optional<bool>(false));
    }

    // No preview: the text, readable, in the bubble of its side; no play sign over nothing.
    auto none = cellAt({0, 2});
    ASSERT_TRUE(none);
    EXPECT_EQ(none->messageView().text(), "Video Attachment\n(tap to play)");
    EXPECT_NE(none->messageView().textColor(), graphics::Color::clear());
    auto* bubble = dynamic_cast<toolkit::ImageView*>(bubbleOf(*none));
    ASSERT_TRUE(bubble && bubble->image());
    EXPECT_TRUE(bubble->image()->isResizable()) << "the text stands without its bubble";
    EXPECT_FALSE(bubble->viewWithTag(HXAttachmentRows::kPlaySignTag));

    // A picture without size variants: unsupported until the picture is in, then its own size.
    auto waiting = cellAt({0, 3});
    ASSERT_TRUE(waiting);
    EXPECT_EQ(waiting->messageView().text(), "[Unsupported Attachment]\n(image/jpeg)");
    EXPECT_NE(waiting->messageView().textColor(), graphics::Color::clear());
    const toolkit::Size before = s.messageSizeForRow({0, 3});
    EXPECT_LT(before.height, 100);
    expectSnapshot("conversation_videos_phone", {.lightAndDark = true});

    ASSERT_TRUE(releaseWhenSeen("/a/i/pic"));
    ASSERT_TRUE(harness.clock().runUntil([&] { return cache()->objectForKey("pic") != nullptr; }, 30));
    harness.settle();
    auto kept = graphics::Image::fromEncoded(cache()->objectForKey("pic")->value.asData());
    ASSERT_TRUE(kept.ok());
    const toolkit::Size picture =
        hxFittedVariantSize(kept.value()->width(), kept.value()->height(), s.view()->bounds().width());
    EXPECT_EQ(s.messageSizeForRow({0, 3}), picture);
    auto shown = cellAt({0, 3});
    ASSERT_TRUE(shown);
    EXPECT_DOUBLE_EQ(s.tableView().rectForRow({0, 3}).height(), *s.heightForRow(s.tableView(), {0, 3}));
    EXPECT_GT(s.tableView().rectForRow({0, 3}).height(), picture.height) << "the row is the picture's";
    auto* drawn = dynamic_cast<toolkit::ImageView*>(bubbleOf(*shown));
    ASSERT_TRUE(drawn && drawn->image());
    EXPECT_EQ(drawn->image()->size(), picture);

    // The preview that was on its way fills the bubble that waited for it: the row keeps its size.
    const double waited = s.tableView().rectForRow({0, 4}).height();
    ASSERT_TRUE(
        harness.clock().runUntil([&] { return service->scriptedRequestsAwaited("/a/vi/vheld?m=thumbnail") == 0; }, 30));
    service->releaseHeld("/a/vi/vheld?m=thumbnail");
    ASSERT_TRUE(harness.clock().runUntil([&] { return cache()->objectForKey("vheld") != nullptr; }, 30));
    harness.settle();
    EXPECT_EQ(s.tableView().rectForRow({0, 4}).height(), waited);
    auto previewed = cellAt({0, 4});
    ASSERT_TRUE(previewed);
    auto* filled = dynamic_cast<toolkit::ImageView*>(bubbleOf(*previewed));
    ASSERT_TRUE(filled && filled->image());
    EXPECT_EQ(filled->image()->size(), (toolkit::Size{96, 64}));
}
