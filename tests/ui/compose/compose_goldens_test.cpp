// The new-message screen as it looks, phone and tablet, light and dark: tokens on several lines
// while editing, the "3 recipients" summary, search results over the counter, thumbnails above
// the keyboard.
#include "platform/services/contacts.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/renderer.h"
#include "tests/ui/compose/compose_support.h"

namespace {

template <typename Form>
struct Looks : hxtest::ComposeFixture<Form> {
    explicit Looks(hxtest::DeviceForm form) : hxtest::ComposeFixture<Form>(form) {}
    void SetUp() override {
        hxtest::ComposeFixture<Form>::SetUp();
        ASSERT_TRUE(this->launch());
        ASSERT_TRUE(this->runUntil([&] { return this->app->account() && this->app->account()->authV2(); }));
        // What the screens behind load when they appear (a list's first page, the unread counts)
        // lands before any picture is taken.
        this->harness.advance(1.0);
        ASSERT_TRUE(this->runUntil([&] { return this->app->isIdle(); }));
        services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
        for (auto [given, family, number] :
             {std::tuple{"Zoë", "Quinn", "+1 303 555 0177"}, std::tuple{"Zora", "Neale", "+1 303 555 0188"}}) {
            services::Contact c;
            c.givenName = given, c.familyName = family;
            c.phoneNumbers.push_back({"mobile", number});
            services::ContactStore::shared()->addContact(c);
        }
        this->app->resetContacts();
        (void)this->app->allContacts();
        ASSERT_TRUE(this->runUntil([&] { return this->app->contactsMatchingName("Zo").size() == 2; }));
    }
    void allLooks(const std::string& form) {
        auto* s = this->open("+15550103000,+15550104000,+13035550111,+13035550122,+13035550133", "See you at 8");
        ASSERT_NE(s, nullptr);
        ASSERT_TRUE(s->number().becomeFirstResponder());
        this->harness.settle();
        EXPECT_GT(s->number().numberOfLines(), 1);
        this->expectOutline("compose_tokens_" + form);
        this->expectSnapshot("compose_tokens_" + form, {.lightAndDark = true});

        // Three recipients too wide for one line: the count stands for them.
        s->cancel();
        this->harness.settle();
        s = this->open("+15550103000,+15550104000,+13035550111", "");
        ASSERT_TRUE(s->message().becomeFirstResponder());
        this->harness.settle();
        this->expectOutline("compose_summary_" + form);
        this->expectSnapshot("compose_summary_" + form, {.lightAndDark = true});

        ASSERT_TRUE(s->number().becomeFirstResponder());
        ASSERT_TRUE(this->harness.typeText("Zo"));
        ASSERT_TRUE(this->runUntil([&] { return s->searchResults().size() == 2; }));
        this->expectOutline("compose_search_" + form);
        this->expectSnapshot("compose_search_" + form, {.lightAndDark = true});

        ASSERT_TRUE(this->harness.pressBackspace(2));
        const std::vector<uint32_t> colours = {0xff3b30ffu, 0x34c759ffu, 0x007affffu};
        for (uint32_t colour : colours)
            ASSERT_TRUE(s->addPicture(
                HXMMSImage{nullptr, graphics::Image::fromEncoded(hxtest::pngOf(60, 40, colour)).value()}));
        s->updateImagePreviews();
        this->harness.settle();
        this->expectOutline("compose_thumbnails_" + form);
        this->expectSnapshot("compose_thumbnails_" + form, {.lightAndDark = true});
        // The window shows each thumbnail in its picture's colour, in order (a few thumbnails are
        // too small a share of the picture for the golden's tolerance to notice).
        toolkit::flushLayout();
        auto pixels = toolkit::snapshot(this->harness.window(), 1);
        ASSERT_TRUE(pixels);
        const auto views = s->pictureBar()->itemViews();
        ASSERT_EQ(views.size(), 4u);  // the camera and three thumbnails
        for (size_t i = 0; i < colours.size(); ++i) {
            const auto& v = *views[i + 1];
            const auto centre = v.convertPointTo({v.bounds().size.width / 2, v.bounds().size.height / 2}, nullptr);
            EXPECT_EQ(hxtest::rgbaWord(pixels->rgbaAt(static_cast<int>(centre.x), static_cast<int>(centre.y))),
                      colours[i])
                << "thumbnail " << i + 1;
        }
    }
};

struct PhoneLooks : Looks<HX_ConnectAppDelegate_iPhone> {
    PhoneLooks() : Looks(hxtest::DeviceForm::phone) {}
};
struct TabletLooks : Looks<HX_ConnectAppDelegate_iPad> {
    TabletLooks() : Looks(hxtest::DeviceForm::tablet) {}
};

}  // namespace

TEST_F(PhoneLooks, TokensSummarySearchAndThumbnails) { allLooks("phone"); }

TEST_F(TabletLooks, TokensSummarySearchAndThumbnailsInAFormSheet) {
    allLooks("tablet");
    auto root = app->window()->rootViewController();
    ASSERT_NE(root->presentedViewController(), nullptr);
    EXPECT_EQ(root->presentedViewController()->modalPresentationStyle, toolkit::ModalPresentationStyle::FormSheet);
}
