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
    // The rows of the thread's message that show a preview picture (the play sign over it).
    int rowsWithPictures(VC_Conversation& s) {
        int shown = 0;
        for (long row = 0; row < s.tableView().numberOfRows(0); ++row)
            if (auto cell = s.tableView().cellForRow({0, row});
                cell && cell->viewWithTag(HXAttachmentRows::kPlaySignTag))
                ++shown;
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
