// The dial pad and call screen, view 0's root: a twelve-key pad whose number is shown formatted
// as it is typed, key tones, the matching contact's name, the callee's local time, the account's
// credit and call method, the call key, the callback chooser, the device contacts and the
// favourites, an edit menu (copy, paste, clear), and the user activity for search.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/dial_pad_screen.h"
#include "app/roles/screen_roles.h"
#include "app/screens.h"
#include "platform/dispatch/run_loop.h"
#include "platform/services/user_activity.h"
#include "platform/system_screens/contact_picker.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/feedback.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/view_controller.h"
#include "ui/dialer/dialed_number.h"
#include "ui/dialer/hx_dial_pad_button.h"
#include "ui/dialer/local_time.h"

class HXContactPhonePicker;

class VC_Call : public toolkit::ViewController, public HXDialPadScreen {
public:
    // Key tags (the key value is the tag, except that 100 counts as 0).
    static constexpr long kTagZero = 100, kTagStar = 10, kTagHash = 11, kTagContacts = 12, kTagDelete = -1,
                          kTagCall = 99;

    struct Roles {
        std::weak_ptr<HXDialPadRole> dialPad;
        std::weak_ptr<HXRoutingRole> routing;
        std::weak_ptr<HXConversationActionsRole> conversations;
        std::weak_ptr<HXAlertsRole> alerts;
        std::weak_ptr<HXCallChoiceRole> callChoice;
    };
    // The screens it opens, made by the screen library (ui/shell): the favourites list, which
    // hands a picked number back through handBack; an empty maker opens nothing.
    struct Makers {
        std::function<std::shared_ptr<toolkit::ViewController>(HXScreens::FavoritesHandBack handBack)> favorites;
    };
    VC_Call(Roles roles, Makers makers);
    ~VC_Call() override;
    std::string className() const override { return "VC_Call"; }

    // ---- outlets
    std::shared_ptr<toolkit::Label> phoneNumber;
    std::shared_ptr<toolkit::View> phoneNumberArea;
    std::shared_ptr<toolkit::Label> forwardingLabel;
    std::shared_ptr<toolkit::Label> creditLabel;
    std::shared_ptr<toolkit::Label> contactLabel;
    std::shared_ptr<toolkit::Label> localtimeLabel;
    std::shared_ptr<toolkit::ActivityIndicatorView> callStarted;

    // ---- operations
    void keyPressed(toolkit::View* sender);
    // With the delete key: it was released; without: a repeat.
    void deleteKeyUp(toolkit::View* sender);
    void insertPlus(toolkit::GestureRecognizer* recognizer);
    void insertPause(toolkit::GestureRecognizer* recognizer);
    void keyDelayedAction(toolkit::GestureRecognizer* recognizer);
    void showMenu(toolkit::GestureRecognizer* recognizer);
    void changeForwardingNumber(toolkit::GestureRecognizer* recognizer);
    void startUpdates() override;
    void stopUpdates();
    void setCallButtonState() override;
    void updateCreditAndForwardingLabel();
    void updateContactLabelForNumber(const std::string& number) override;
    void clearNumber();
    void openAddressBook();
    void openFavorites() override;
    bool showFavoritesButtonHelp();
    void selectedPhone(const services::LabeledPhoneNumber& phone, const services::Contact& contact);
    void showDialedNumber(const std::string& number) override;
    void proposeCallMethod(int64_t phoneID) override;
    void calculateLocalTime();
    void updateLocale();
    void adaptViewToCurrentPresentationStyle();
    void dismissPad();

    // The edit menu's actions.
    bool canBecomeFirstResponder() const override { return true; }
    bool canPerformAction(const std::string& action, toolkit::Responder* sender) const override;
    // The digits 0 to 9 typed on a keyboard, each as a tap on its key.
    std::vector<toolkit::KeyCommand> keyCommands() const override;
    void copyNumber();
    void pasteNumber();

    // The number as typed, shown and kept by the pad's typing rules.
    const HXDialedNumber& dialedNumber() const { return number_; }

    // The key-tone table (12 entries by key value, 0 while not created) and the user activity;
    // process-wide, main thread only.
    static const std::array<toolkit::SystemSoundID, 12>& keyTones();
    static std::shared_ptr<services::UserActivity> currentUserActivity();

    // The local-time state (database, cached zone, formatters), shared by every dial pad.
    static HXLocalTime& localTime();

    HXDialPadButton* key(long tag) const;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void viewDidLayoutSubviews() override;
    void viewWillTransitionToSize(toolkit::Size size, toolkit::TransitionCoordinator* coordinator) override;

private:
    // Shows the number's text in the label.
    void showNumber();
    void refresh();
    // The observations of running updates (startUpdates without the local time).
    void observeUpdates();
    void playTone(int keyValue);
    void appendCharacter(const std::string& c);
    void callKeyPressed();
    // The method's name under the call key and in the key's accessibility label.
    void showCallMethod(const std::string& method);
    void lookUpContact(const std::string& number);
    void publishUserActivity();
    void observe(const char* name, void (VC_Call::*handler)());
    void stopObserving(const char* name);
    std::shared_ptr<HXDialPadRole> dialPadRole() const { return roles_.dialPad.lock(); }
    std::shared_ptr<HXAlertsRole> alerts() const { return roles_.alerts.lock(); }
    std::shared_ptr<HXCallChoiceRole> callChoice() const { return roles_.callChoice.lock(); }

    Roles roles_;
    Makers makers_;
    // The number typed, picked or pasted; the label shows its text.
    HXDialedNumber number_;
    // Hears the device contact picker; its handler may use this, as the screen owns it.
    std::shared_ptr<HXContactPhonePicker> picker_;
    std::shared_ptr<toolkit::LongPressGestureRecognizer> callLongPress_;
    std::shared_ptr<toolkit::View> pad_;
    // Every lookup started gets the next number; only the newest may write the label.
    uint64_t lookupGeneration_ = 0;
    // The call method an outside "call" URL chose, stored only when the Call key is pressed.
    std::optional<int64_t> proposedMethod_;
    bool updatesRunning_ = false;
};
