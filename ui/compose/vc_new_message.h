// The new-message screen: recipients as tokens (typed numbers, picked contacts and favourites, hits
// of a contact search under the field), the text with its SMS segment counter, pictures on a bar
// above the keyboard, and Send, which sends an SMS (or with pictures an MMS) and keeps the screen
// open behind the progress overlay until the service confirms.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/roles/screen_roles.h"
#include "app/screens.h"
#include "platform/foundation/notification_center.h"
#include "platform/services/user_activity.h"
#include "platform/toolkit/drag_drop.h"
#include "platform/toolkit/table_view.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/view_controller.h"
#include "ui/widgets/hxc_token_field.h"
#include "ui/widgets/picture_tray.h"

namespace toolkit {
class Toolbar;
class Button;
class ImageView;
}  // namespace toolkit

class VC_NewMessage : public toolkit::ViewController,
                      public HXCTokenFieldDelegate,
                      public toolkit::TextViewDelegate,
                      public toolkit::TableViewDataSource,
                      public toolkit::TableViewDelegate,
                      public services::UserActivityDelegate {
public:
    static constexpr size_t kMaxRecipients = 20;
    static constexpr size_t kSegmentLength = 160;
    // A title of only these characters is a typed number.
    static constexpr std::string_view kNumberCharacters = "1234567890+-()*# ";
    // The user activity of an unsent message, which another device continues.
    static constexpr const char* kActivityType = "com.hxconnect.activity_sms";
    static constexpr double kCounterHeight = 20;
    // The views found by tag: the search container (starts hidden).
    static constexpr long kSearchContainerTag = 1;

    // The key commands: send, and close by Escape or Command-".".
    static const toolkit::KeyCommand kSendCommand;
    static const toolkit::KeyCommand kEscapeCommand;
    static const toolkit::KeyCommand kCloseCommand;

    struct Roles {
        std::weak_ptr<HXComposeRole> compose;
        std::weak_ptr<HXRoutingRole> routing;
        std::weak_ptr<HXAlertsRole> alerts;
        std::weak_ptr<HXSendingRole> sending;
        std::weak_ptr<HXLoadingOverlayRole> overlay;
    };
    // The dial pad's favourites list, which hands a picked favourite back as a recipient.
    struct Makers {
        std::function<std::shared_ptr<toolkit::ViewController>(HXScreens::FavoritesHandBack handBack)> favorites;
    };
    VC_NewMessage(Roles roles, Makers makers);
    ~VC_NewMessage() override;
    std::string className() const override { return "VC_NewMessage"; }

    // Set by the maker before the screen shows; the tokens are added when it appears.
    void setTokens(std::vector<std::shared_ptr<HXCToken>> tokens) { tokens_ = std::move(tokens); }
    void setConversationID(std::string id) { conversationID_ = std::move(id); }
    void setMessageText(std::string text) { messageText_ = std::move(text); }
    const std::string& conversationID() const { return conversationID_; }

    // The outlets, for the screen's own tests and layout.
    HXCTokenField& number() const { return *number_; }
    toolkit::TextView& message() const { return *message_; }
    toolkit::Label& charCount() const { return *charCount_; }
    toolkit::TableView& searchResultsTable() const { return *searchResultsTable_; }
    toolkit::View& searchContainer() const { return *searchContainer_; }
    const std::shared_ptr<toolkit::BarButtonItem>& sendButton() const { return sendButton_; }
    const HXComposeRole::ContactList& searchResults() const { return searchResults_; }
    // The attached pictures (none while pictures are not offered).
    const std::vector<HXMMSImage>& images() const;
    // Pictures are offered to a signed-in account: the tray exists then.
    bool picturesOffered() const { return pictures_ != nullptr; }
    std::shared_ptr<toolkit::Toolbar> pictureBar() const { return pictures_ ? pictures_->strip() : nullptr; }

    // A send of this screen is under way (Send does nothing meanwhile).
    bool isSending() const { return sending_; }
    const std::string& lastAcceptedFieldText() const { return lastAcceptedText_; }
    // The activity of the unsent message while the screen shows it; another device or another
    // application object continues the message from the information it saves (the text, the
    // account, the recipients, the conversation), never from this screen.
    const std::shared_ptr<services::UserActivity>& userActivity() const { return activity_; }

    // ---- recipients
    bool tokenFieldWillAddToken(HXCTokenField& field, HXCToken& token) override;
    void tokenFieldDidAddToken(HXCTokenField& field, HXCToken& token) override;
    void tokenFieldDidRemoveToken(HXCTokenField& field, HXCToken& token) override;
    bool shouldChangeCharactersInRange(toolkit::TextField& field, toolkit::Range range,
                                       const std::string& replacement) override;
    bool textFieldShouldReturn(toolkit::TextField& field) override;
    void textFieldDidBeginEditing(toolkit::TextField& field) override;
    void textFieldDidEndEditing(toolkit::TextField& field) override;
    void tokenFieldBeginEditing();
    void tokenFieldEndEditing();
    void tokenFieldFrameDidChange();
    void textFieldDidChange();
    void updateContactSearchResults();
    // A picked contact's phone: the token "Name (label)" (or the name) sending the number as it is.
    void selectedPhone(const std::string& number, const std::string& title);

    // The typed number rule: own numbers starting "+1" complete 7-digit locals with the area code,
    // "(xxx) xxx-xxxx" with "+1" and "1 (xxx) xxx-xxxx" with "+"; anything else stays as typed.
    static std::string completedNumber(const std::string& typed, const std::optional<std::string>& ownNumber);
    // What two recipients that are the same number share: the characters the service keeps of
    // a number (digits and "+"), or the text itself when it has none.
    static std::string sameNumberKey(const std::string& number);

    // ---- the text
    bool shouldChangeTextInRange(toolkit::TextView& view, toolkit::Range range, const std::string& text) override;
    void textViewDidChange(toolkit::TextView& view) override;
    struct Counter {
        long remaining = 0;
        long segments = 1;
        enum class Colour { Grey, Orange, Red } colour = Colour::Grey;
        std::string text;
    };
    // The counter for a text of this many UTF-16 units.
    static Counter counterFor(size_t length);

    // ---- search results
    long numberOfSections(toolkit::TableView&) override { return 1; }
    long numberOfRows(toolkit::TableView& table, long section) override;
    toolkit::TableViewCellPtr cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;
    void didSelectRow(toolkit::TableView& table, toolkit::IndexPath indexPath) override;

    // ---- actions
    void sendMessage();
    void cancel();
    // The send ended unsent (refused, failed, or dropped by the user): the progress overlay goes
    // and Send works again.
    void sendingFailed();
    // How this screen's send goes: sent or kept for later closes the screen.
    void sendAnswered(const HXSendAnswer& answer);
    void contactsButtonPressed();
    void HXCKeyDelayedAction();
    void openAddressBook();
    void openFavorites();
    void fontsUpdated();
    void keyboardWasShown(const foundation::Notification& notification);
    std::vector<toolkit::KeyCommand> keyCommands() const override;
    bool canPerformAction(const std::string& action, toolkit::Responder* sender) const override;
    void paste();
    // The system saves the activity: it takes the unsent message (text, account, recipients,
    // conversation) and leaves the search index.
    void userActivityWillSave(services::UserActivity& activity) override;
    // Another device took the message over: this one closes.
    void userActivityWasContinued(services::UserActivity& activity) override;
    // Send is enabled with a recipient and a text or a picture.
    void updateSendState();

    // ---- pictures (the tray: its strip is the bar above the keyboard, after the camera button)
    // The bar rebuilt and put above the keyboard; Send follows the pictures.
    void updateImagePreviews();
    // The source sheet, pointing down at the bar on a tablet.
    void cameraButtonPressed();
    void addImageFromPasteboard();
    void authorizeAndShowLibraryImagePicker();
    void authorizeAndShowCamera();
    // Adds a picture (an animated GIF over the limit is refused with the alert): false when refused
    // or when pictures are not offered.
    bool addPicture(HXMMSImage picture);

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void viewDidLayoutSubviews() override;

private:
    template <class Interface>
    std::shared_ptr<Interface> as() {
        return std::shared_ptr<Interface>(shared_from_this(), static_cast<Interface*>(this));
    }
    // The tray of a signed-in account's pictures, its bar led by the camera button.
    void makePictureTray();
    std::string sentinelFreeFieldText() const;
    bool overlayShown() const;
    std::string distinctRecipients(const char* separator) const;
    void makeUserActivityCurrent();
    void dropUserActivity();
    void stopObservingSend();
    void layoutContainers();

    Roles roles_;
    Makers makers_;
    std::vector<std::shared_ptr<HXCToken>> tokens_;
    std::string conversationID_;
    std::string messageText_;

    std::shared_ptr<HXCTokenField> number_;
    std::shared_ptr<toolkit::TextView> message_;
    std::shared_ptr<toolkit::Label> charCount_;
    std::shared_ptr<toolkit::TableView> searchResultsTable_;
    std::shared_ptr<toolkit::ImageView> searchShadow_;
    std::shared_ptr<toolkit::View> fieldContainer_;
    std::shared_ptr<toolkit::View> messageOuter_;
    std::shared_ptr<toolkit::View> messageInner_;
    std::shared_ptr<toolkit::View> searchContainer_;
    std::shared_ptr<toolkit::Button> contactsButton_;
    std::shared_ptr<toolkit::BarButtonItem> sendButton_;
    std::shared_ptr<toolkit::DropInteraction> dropInteraction_;
    // The pictures, made when the screen loads for a signed-in account.
    std::shared_ptr<HXPictureTray> pictures_;

    HXComposeRole::ContactList searchResults_;
    bool observingSend_ = false;
    bool sending_ = false;
    // The token field's text as last accepted (restored when a change is refused).
    std::string lastAcceptedText_;
    std::shared_ptr<services::UserActivity> activity_;
    // The keyboard has sized the message's container (phone).
    bool keyboardSized_ = false;
    // The text waits for a favourite to be picked (it takes the focus then).
    bool messageAwaitsFavorite_ = false;
    // Bumped by each search so that only the newest answer is shown.
    uint64_t searchGeneration_ = 0;
};
