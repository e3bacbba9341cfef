// A conversation of two videos against the loopback service, opened while their films and preview
// pictures are still on their way: each film announces itself under the video's id before its
// picture does, and each row still shows its picture once that comes, in time for the user.
#include <chrono>
#include <thread>

#include "emulator/playback_media.h"
#include "platform/toolkit/menu_controller.h"
#include "tests/ui/conversation/service_support.h"
#include "ui/conversation/attachment_rows.h"

namespace {

std::string preview(const char* id) { return std::string("/a/vi/") + id + "?m=thumbnail"; }
std::string film(const char* id) { return std::string("/a/vi/") + id + "?m=content"; }

struct VideoRows : hxtest::ServiceConversation<HX_ConnectAppDelegate_iPhone> {
    VideoRows() : ServiceConversation(hxtest::DeviceForm::phone) {}
    void prepareAccount(emulator::Account& a) override {
        emulator::addPlaybackMedia(a);
        for (const char* id : {emulator::kVideoAttachmentID, emulator::kMovieAttachmentID}) {
            service->script(preview(id), emulator::ScriptedReply{.hold = true, .passThrough = true}, -1);
            service->script(film(id), emulator::ScriptedReply{.hold = true, .passThrough = true}, -1);
        }
    }
    // Real time for a request to reach the service (it is held there).
    bool untilAsked(const std::string& target) {
        for (int i = 0; i < 400; ++i) {
            for (const auto& r : service->requests())
                if (r.target == target) return true;
            runUntil([] { return false; }, 0.05);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // The rows of the thread's message that show a preview picture under the play sign (not the
    // drawing of a bubble that waits for it).
    int rowsWithPictures(VC_Conversation& s) {
        int shown = 0;
        for (long row = 0; row < s.tableView().numberOfRows(0); ++row) {
            auto cell = s.tableView().cellForRow({0, row});
            auto* picture = cell && cell->backgroundView()
                                ? dynamic_cast<toolkit::ImageView*>(cell->backgroundView()->viewWithTag(1))
                                : nullptr;
            if (picture && picture->image() && !picture->image()->isResizable() &&
                picture->viewWithTag(HXAttachmentRows::kPlaySignTag))
                ++shown;
        }
        return shown;
    }
};

}  // namespace

TEST_F(VideoRows, EachVideoShowsItsPictureWhenItComesAfterItsFilm) {
    ASSERT_TRUE(runUntil([&] { return app->getConversationWithID(emulator::kVideoThreadID) != nullptr; }));
    auto* s = openByURL("conversationID=" + foundation::queryItemEncoded(emulator::kVideoThreadID));
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->tableView().numberOfRows(0), 3) << "the text and two videos";
    EXPECT_EQ(rowsWithPictures(*s), 0);
    // The films first (the list asked for them too), then the pictures.
    for (const char* id : {emulator::kVideoAttachmentID, emulator::kMovieAttachmentID}) {
        ASSERT_TRUE(untilAsked(film(id))) << id;
        service->releaseHeld(film(id));
    }
    ASSERT_TRUE(runUntil([&] {
        return foundation::files::exists(app->localURLForMedia(emulator::kVideoAttachmentID, "video/mp4")) &&
               foundation::files::exists(app->localURLForMedia(emulator::kMovieAttachmentID, "video/quicktime"));
    }));
    harness.settle();
    EXPECT_EQ(rowsWithPictures(*s), 0);
    for (const char* id : {emulator::kVideoAttachmentID, emulator::kMovieAttachmentID})
        service->releaseHeld(preview(id));
    ASSERT_TRUE(runUntil([&] { return rowsWithPictures(*s) == 2; }, 10)) << harness.outline();
    // The name under them, pressed where it now is, offers its number.
    s->scrollToBottomWithAnimation(false);
    harness.settle();
    auto* label = s->contactHeader()->contactName();
    ASSERT_NE(label, nullptr);
    harness.longPress(label->convertPointTo({label->bounds().midX(), label->bounds().midY()}, nullptr), 0.8);
    ASSERT_TRUE(toolkit::MenuController::shared().isMenuVisible());
    EXPECT_EQ(toolkit::MenuController::shared().visibleItems().at(0).title, "Copy Number");
}

// As the user meets it: from the list, the video conversation opens while both videos and their
// preview pictures are still on their way. The rows stand at their final height from the start,
// so the other party's name under them stays where the user saw it while each picture comes in,
// and a long press there offers its number; each preview shows at its own size.
TEST_F(VideoRows, TheNameUnderTheVideosKeepsItsPlaceWhileTheirPicturesComeAndOffersItsNumber) {
    // The text list's tab, then the conversation's row in it.
    toolkit::View* texts = nullptr;
    for (auto* tab : harness.findAll("TabBarButton"))
        if (tab->outlineText().starts_with("SMS")) texts = tab;
    ASSERT_NE(texts, nullptr) << harness.outline();
    ASSERT_TRUE(harness.tap(*texts));
    ASSERT_TRUE(runUntil([&] { return harness.find("Have a look") != nullptr; })) << harness.outline();
    ASSERT_TRUE(harness.tapRowShowing("Have a look")) << harness.outline();
    harness.advance(0.6);
    harness.settle();
    auto* s = hxtest::findConversation(app->window()->rootViewController().get());
    ASSERT_NE(s, nullptr) << harness.outline();
    for (const char* id : {emulator::kVideoAttachmentID, emulator::kMovieAttachmentID})
        ASSERT_TRUE(untilAsked(preview(id))) << id;
    harness.settle();
    ASSERT_EQ(rowsWithPictures(*s), 0);
    auto* label = s->contactHeader()->contactName();
    ASSERT_NE(label, nullptr);
    auto seen = [&] { return label->convertPointTo({label->bounds().midX(), label->bounds().midY()}, nullptr); };
    auto heights = [&] {
        std::vector<double> h;
        for (long row = 0; row < s->tableView().numberOfRows(0); ++row)
            h.push_back(s->tableView().rectForRow({0, row}).height());
        return h;
    };
    const toolkit::Point aimed = seen();
    const auto rows = heights();
    for (const char* id : {emulator::kVideoAttachmentID, emulator::kMovieAttachmentID}) {
        const int shown = rowsWithPictures(*s);
        service->releaseHeld(preview(id));
        ASSERT_TRUE(runUntil([&] { return rowsWithPictures(*s) == shown + 1; }, 10)) << id << harness.outline();
        harness.settle();
        EXPECT_EQ(heights(), rows) << id;
        EXPECT_EQ(seen().y, aimed.y) << id;
    }
    // Each preview shows at its own size, neither cut nor blown up.
    const std::string previewBytes(emulator::videoPreview());
    auto own = graphics::Image::fromEncoded(foundation::Data(previewBytes.begin(), previewBytes.end()));
    ASSERT_TRUE(own.ok());
    for (long row : {1, 2}) EXPECT_EQ(s->messageSizeForRow({0, row}), own.value()->size()) << row;
    harness.longPress(aimed, 0.8);
    ASSERT_TRUE(toolkit::MenuController::shared().isMenuVisible()) << harness.outline();
    EXPECT_EQ(toolkit::MenuController::shared().visibleItems().at(0).title, "Copy Number");
}
