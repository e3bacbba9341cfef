// The conversation screen as it looks, phone and tablet, light and dark, against the loopback
// service's threads: a long text thread with its date lines, a group's senders, right-to-left
// texts, every kind of attachment, a call entry, the note under the bubbles, the reply bar at one,
// three and five lines with the counter in its colours and the picture strip, the sending
// progress, the note editor, and the phone lying down.
#include "platform/toolkit/bars.h"
#include "platform/toolkit/renderer.h"
#include "tests/ui/conversation/service_support.h"
#include "ui/conversation/conversation_table_view_cell.h"
#include "ui/widgets/hxc_animated_image_view.h"

namespace {

using hxtest::DeviceForm;

template <typename Form>
struct Looks : hxtest::ServiceThreads<Form> {
    explicit Looks(DeviceForm form) : hxtest::ServiceThreads<Form>(form) {}

    void prepareAccount(emulator::Account& a) override {
        emulator::Thread group;
        group.id = "tgroup";
        group.numbers = {"+15550155", "+15550166"};
        group.items = {{"g1", 1'759'990'000'000, "Who is bringing the cake?", "+15550155", "smsIn"},
                       {"g2", 1'759'990'060'000, "I can pick one up on the way", "+15550166", "smsIn"},
                       {"g3", 1'759'990'120'000, "Great, thanks! See you both at 7", "", "smsOut"}};
        a.threads.push_back(group);
        // Unread, the call entry is in the list loaded at the start.
        if (auto* calls = a.thread(this->threadIds[4])) calls->read = false;
    }
    void SetUp() override {
        hxtest::ServiceThreads<Form>::SetUp();
        this->app->selectViewForIndex(1);
        this->harness.advance(1.0);
        ASSERT_TRUE(this->runUntil([&] { return this->app->isIdle(); }));
    }
    VC_Conversation* show(const std::string& id) {
        EXPECT_TRUE(this->runUntil([&] { return this->app->getConversationWithID(id) != nullptr; })) << id;
        auto* s = this->openByURL("conversationID=" + foundation::queryItemEncoded(id) + "&messageNum=-5");
        // The thumbnails and contact pictures it asks for land before the picture is taken.
        this->harness.advance(1.0);
        EXPECT_TRUE(this->runUntil([&] { return this->app->isIdle(); }));
        this->harness.advance(1.0);
        this->harness.settle();
        if (s && s->inputToolbar() && s->inputToolbar()->textView()->isFirstResponder())
            s->inputToolbar()->textView()->resignFirstResponder();
        this->harness.settle();
        return s;
    }
    // An animated picture shows its first frame, still, in a picture: which frame it has reached
    // otherwise depends on how long the loads before it took.
    static void holdAnimationsAtTheirFirstFrame(toolkit::View& view) {
        if (auto* animated = dynamic_cast<HXCAnimatedImageView*>(&view); animated && animated->animatedImage()) {
            auto image = animated->animatedImage();
            animated->setAnimatedImage(nullptr);
            animated->setAnimatedImage(image);
            animated->stopAnimating();
        }
        for (const auto& sub : view.subviews()) holdAnimationsAtTheirFirstFrame(*sub);
    }
    void look(const std::string& name) {
        if (auto* window = &this->harness.window(); window->rootViewController())
            holdAnimationsAtTheirFirstFrame(*window->rootViewController()->view());
        this->expectOutline(name);
        this->expectSnapshot(name, {.lightAndDark = true});
    }
    HXMMSImage still(uint32_t rgba) {
        return HXMMSImage{nullptr, graphics::Image::fromEncoded(hxtest::pngOf(60, 40, rgba)).value()};
    }

    void commonLooks(const std::string& form) {
        auto* s = show(this->threadIds[0]);
        ASSERT_NE(s, nullptr);
        look("conversation_text_" + form);

        s = show(this->threadIds[3]);
        ASSERT_NE(s, nullptr);
        look("conversation_attachments_" + form);
        auto& table = s->tableView();
        table.setContentOffset({0, -table.contentInset().top}, false);
        this->harness.advance(1.0);
        EXPECT_TRUE(this->runUntil([&] { return this->app->isIdle(); }));
        look("conversation_attachments_top_" + form);

        // The reply at five lines with the counter orange, and two pictures waiting above the keyboard.
        s = show(hxtest::kThread);
        ASSERT_NE(s, nullptr);
        auto& field = *s->inputToolbar()->textView();
        ASSERT_TRUE(this->harness.tap(field));
        ASSERT_TRUE(this->harness.typeText(std::string(150, 'w') + " hello"));
        this->harness.settle();
        EXPECT_EQ(field.maximumNumberOfLines() <= 5, true);
        ASSERT_TRUE(s->addPicture(still(0xff3b30ffu)));
        ASSERT_TRUE(s->addPicture(still(0x34c759ffu)));
        s->updateImagePreviews();
        this->harness.settle();
        look("conversation_reply_five_lines_" + form);
        s->editNote();
        this->harness.settle();
        look("conversation_note_editor_" + form);
        ASSERT_TRUE(this->harness.tapBarButton("Cancel"));
        this->harness.settle();
    }

    void phoneLooks() {
        auto* s = show("tgroup");
        ASSERT_NE(s, nullptr);
        look("conversation_group_phone");

        s = show(this->threadIds[2]);
        ASSERT_NE(s, nullptr);
        look("conversation_arabic_phone");

        s = show(this->threadIds[4]);
        ASSERT_NE(s, nullptr);
        // Opened on a view selected only now: the row still starts below the bar.
        EXPECT_DOUBLE_EQ(s->tableView().contentInset().top, s->navigationController()->navigationBar().frame().maxY());
        EXPECT_DOUBLE_EQ(s->tableView().contentOffset().y, -s->tableView().contentInset().top);
        look("conversation_call_phone");

        // The note under the bubbles, and the reply at one line with the keyboard up.
        auto c = this->app->getConversationWithID(hxtest::kThread);
        ASSERT_TRUE(c);
        (void)c->setValue("note", std::string("Ask about the Friday delivery"));
        ASSERT_TRUE(this->app->managedObjectContext()->save().ok());
        s = show(hxtest::kThread);
        ASSERT_NE(s, nullptr);
        auto& field = *s->inputToolbar()->textView();
        ASSERT_TRUE(this->harness.tap(field));
        ASSERT_TRUE(this->harness.typeText("On my way"));
        this->harness.settle();
        look("conversation_note_reply_one_line_phone");

        // Three lines: the counter shows; then 160 characters fill the segment (red).
        ASSERT_TRUE(this->harness.typeText("\nBe there at 8\nSorry!"));
        this->harness.settle();
        EXPECT_EQ(field.numberOfLines(), 3);
        look("conversation_reply_three_lines_phone");
        field.setText(std::string(160, 'w'));
        this->harness.settle();
        look("conversation_reply_full_segment_phone");

        // Sending: the title and the bar in the navigation bar while the service holds the reply.
        field.setText("Running late");
        this->service->inject(emulator::Fault::Slow, "/voice/v1/voiceclient/api2thread/sendsms");
        ASSERT_TRUE(this->harness.tap(*s->inputToolbar()->inputButton()));
        this->harness.settle();
        look("conversation_sending_phone");
        this->service->releaseHeld();
        ASSERT_TRUE(this->runUntil([&] { return !s->isSendingReply(); }));

        // Lying down: the long thread.
        s = show(this->threadIds[0]);
        ASSERT_NE(s, nullptr);
        this->harness.rotate(toolkit::Orientation::LandscapeLeft);
        this->harness.settle();
        look("conversation_text_phone_landscape");
        this->harness.rotate(toolkit::Orientation::Portrait);
        this->harness.settle();
    }
};

struct PhoneLooks : Looks<HX_ConnectAppDelegate_iPhone> {
    PhoneLooks() : Looks(DeviceForm::phone) {}
};
struct TabletLooks : Looks<HX_ConnectAppDelegate_iPad> {
    TabletLooks() : Looks(DeviceForm::tablet) {}
};

}  // namespace

TEST_F(PhoneLooks, Conversations) {
    commonLooks("phone");
    phoneLooks();
}

TEST_F(TabletLooks, Conversations) { commonLooks("tablet"); }

// A row swiped open slides aside whole, its Delete in the room it leaves: a sent text's bubble
// with its text over it, a sent picture with its frame (once the bubble stayed while the text
// slid out of it, white on the screen's background).
TEST_F(PhoneLooks, ASwipedRowSlidesAsideWithItsBubble) {
    auto* s = show(threadIds[3]);
    ASSERT_NE(s, nullptr);
    auto& table = s->tableView();
    const long last = table.numberOfSections() - 1;
    ASSERT_EQ(table.numberOfRows(last), 2) << "a sent text and its picture";
    const struct {
        long row;
        const char* name;
    } rows[] = {{0, "conversation_swiped_text_phone"}, {1, "conversation_swiped_picture_phone"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        auto cell = std::dynamic_pointer_cast<ConversationTableViewCell>(table.cellForRow({last, r.row}));
        ASSERT_TRUE(cell && cell->backgroundView());
        auto* bubble = cell->backgroundView()->viewWithTag(1);
        ASSERT_NE(bubble, nullptr);
        auto inWindow = [](toolkit::View& v) { return v.convertRectTo(v.bounds(), nullptr); };
        const toolkit::Rect bubbleBefore = inWindow(*bubble), textBefore = inWindow(cell->messageView());
        ASSERT_FALSE(harness.swipeRow(table, {last, r.row}, toolkit::SwipeEdge::Trailing).empty());
        harness.settle();
        const toolkit::Rect bubbleAfter = inWindow(*bubble), textAfter = inWindow(cell->messageView());
        EXPECT_LT(textAfter.minX(), textBefore.minX()) << "the row slid aside";
        EXPECT_DOUBLE_EQ(bubbleAfter.minX() - bubbleBefore.minX(), textAfter.minX() - textBefore.minX())
            << "the bubble went with its text";
        EXPECT_DOUBLE_EQ(bubbleAfter.minY(), bubbleBefore.minY());
        look(r.name);
        table.hideSwipeActions();
        harness.settle();
    }
}
