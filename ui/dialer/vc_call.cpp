#include "ui/dialer/vc_call.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "app/contact_phone_picker.h"
#include "app/passcode_lock_control.h"
#include "model/account.h"
#include "model/phone.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/named_images.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/feedback.h"
#include "platform/toolkit/menu_controller.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/traits.h"
#include "service/reachability.h"
#include "ui/widgets/letterpress.h"

namespace {

using foundation::localizedString;
using toolkit::Color;

const char* const kClearDialpad = kClearDialpadNumberNotification;
const char* const kReachability = kNetworkReachabilityChangedNotification;
const char* const kCallButtonUpdate = "kCallButtonUpdateNotification";
const char* const kSettingsUpdate = "kSettingsUpdateNotification";
const char* const kWillResignActive = foundation::kApplicationWillResignActiveNotification;
const char* const kDidBecomeActive = foundation::kApplicationDidBecomeActiveNotification;

// Process-wide, as the screen class's own state: main thread only.
std::array<toolkit::SystemSoundID, 12> gKeyTones{};
std::shared_ptr<services::UserActivity> gActivity;
dispatch::TimerPtr gMinuteTimer;

HXLocalTime& sharedLocalTime() { return VC_Call::localTime(); }

std::shared_ptr<foundation::UserDefaults> defaults() { return foundation::UserDefaults::standardUserDefaults(); }

long keyValue(long tag) { return tag == VC_Call::kTagZero ? 0 : tag; }

std::string digitKeyAction(long digit) { return "dialDigit" + std::to_string(digit) + ":"; }

std::string keyCharacter(long value) {
    if (value == 10) return "*";
    if (value == 11) return "#";
    return std::to_string(value);
}

bool accountHasFavorites(const HX_Account& account) {
    auto stored = defaults()->objectForKey("favorites");
    const foundation::Dictionary* d = stored.ifDictionary();
    if (!d) return false;
    const foundation::Array* list = d->get(account.username()).ifArray();
    return list && !list->empty();
}

}  // namespace

VC_Call::VC_Call(Roles roles, Makers makers)
    : roles_(std::move(roles)),
      makers_(std::move(makers)),
      picker_(std::make_shared<HXContactPhonePicker>(
          [this](const services::LabeledPhoneNumber& phone, const services::Contact& contact) {
              selectedPhone(phone, contact);
          })) {
    setActionHandler("copy:", [this](toolkit::Responder*) { copyNumber(); });
    setActionHandler("paste:", [this](toolkit::Responder*) { pasteNumber(); });
    setActionHandler("clear:", [this](toolkit::Responder*) { clearNumber(); });
    // A digit typed on a keyboard presses its key.
    for (long digit = 0; digit <= 9; ++digit)
        setActionHandler(digitKeyAction(digit), [this, digit](toolkit::Responder*) {
            if (auto* k = key(digit == 0 ? kTagZero : digit)) keyPressed(k);
        });
}

std::vector<toolkit::KeyCommand> VC_Call::keyCommands() const {
    std::vector<toolkit::KeyCommand> commands;
    for (long digit = 0; digit <= 9; ++digit)
        commands.push_back({std::to_string(digit), toolkit::kModifierNone, digitKeyAction(digit), {}});
    return commands;
}

VC_Call::~VC_Call() {
    foundation::NotificationCenter::defaultCenter().removeObserver(this);
    dispatch::RunLoop::main().cancelPerforms(this);
    for (auto& id : gKeyTones) {
        if (id) toolkit::SystemSounds::shared().dispose(id);
        id = 0;
    }
    if (gMinuteTimer) gMinuteTimer->invalidate();
    gMinuteTimer.reset();
    sharedLocalTime().forgetZoneAndRegion();
    sharedLocalTime().close();
    sharedLocalTime().resetFormatters();
    sharedLocalTime().forgetLocale();
}

const std::array<toolkit::SystemSoundID, 12>& VC_Call::keyTones() { return gKeyTones; }

HXLocalTime& VC_Call::localTime() {
    static HXLocalTime* time = new HXLocalTime();
    return *time;
}
std::shared_ptr<services::UserActivity> VC_Call::currentUserActivity() { return gActivity; }

HXDialPadButton* VC_Call::key(long tag) const {
    if (!pad_) return nullptr;
    return dynamic_cast<HXDialPadButton*>(pad_->viewWithTag(tag));
}

// ---- building the screen

void VC_Call::loadView() {
    auto root = std::make_shared<toolkit::View>();
    root->setFrame({0, 0, 320, 500});
    auto label = [&](double size, toolkit::TextAlignment alignment) {
        auto l = std::make_shared<toolkit::Label>();
        l->setFont(toolkit::Font::system(size));
        l->setTextAlignment(alignment);
        root->addSubview(l);
        return l;
    };
    phoneNumberArea = std::make_shared<toolkit::View>();
    root->addSubview(phoneNumberArea);
    phoneNumber = label(32, toolkit::TextAlignment::center);
    phoneNumber->setAdjustsFontSizeToFitWidth(true);
    contactLabel = label(15, toolkit::TextAlignment::center);
    localtimeLabel = label(12, toolkit::TextAlignment::center);
    creditLabel = label(12, toolkit::TextAlignment::right);
    forwardingLabel = std::make_shared<toolkit::Label>();
    forwardingLabel->setFont(toolkit::Font::system(13));
    forwardingLabel->setTextAlignment(toolkit::TextAlignment::center);
    forwardingLabel->setAdjustsFontSizeToFitWidth(true);
    forwardingLabel->setMinimumScaleFactor(0.5);
    callStarted = std::make_shared<toolkit::ActivityIndicatorView>(toolkit::ActivityIndicatorStyle::WhiteLarge);
    pad_ = std::make_shared<toolkit::View>();
    root->addSubview(pad_);
    static const char* const kLetters[] = {"", "", "ABC", "DEF", "GHI", "JKL", "MNO", "PQRS", "TUV", "WXYZ"};
    auto addKey = [&](long tag, const std::string& title) {
        auto k = std::make_shared<HXDialPadButton>();
        k->setTag(tag);
        if (!title.empty()) k->setTitle(title, toolkit::kStateNormal);
        k->titleLabel()->setFont(toolkit::Font::system(32, toolkit::FontWeight::light));
        k->setCornerRadius(10);
        k->setBorderWidth(1);
        k->setBorderColor(Color::systemGray());
        std::weak_ptr<VC_Call> weak = weakSelf<VC_Call>();
        k->addAction([this](toolkit::Control& sender, const toolkit::Event*) { keyPressed(&sender); },
                     toolkit::kTouchDown);
        if (tag == kTagDelete)
            k->addAction([this](toolkit::Control& sender, const toolkit::Event*) { deleteKeyUp(&sender); },
                         toolkit::kTouchUpInside | toolkit::kTouchUpOutside);
        pad_->addSubview(k);
        return k;
    };
    for (long d = 1; d <= 9; ++d) {
        addKey(d, std::to_string(d));
        auto letters = std::make_shared<toolkit::Label>();
        letters->setTag(100 + d);
        letters->setText(kLetters[d]);
        letters->setFont(toolkit::Font::system(10, toolkit::FontWeight::semibold));
        letters->setTextAlignment(toolkit::TextAlignment::center);
        pad_->addSubview(letters);
    }
    addKey(kTagZero, "0");
    auto plus = std::make_shared<toolkit::Label>();
    plus->setTag(111);
    plus->setText("+");
    plus->setFont(toolkit::Font::system(12, toolkit::FontWeight::semibold));
    plus->setTextAlignment(toolkit::TextAlignment::center);
    pad_->addSubview(plus);
    addKey(kTagStar, "");
    addKey(kTagHash, "");
    addKey(kTagContacts, "");
    addKey(kTagDelete, "");
    auto call = addKey(kTagCall, "");
    call->setBackgroundColor(Color::systemGreen());
    // The call method is pressed into the call key under its title (the key's own colours), so
    // the user sees which phone rings before pressing it.
    pad_->addSubview(forwardingLabel);
    pad_->addSubview(callStarted);
    setView(root);
}

void VC_Call::viewDidLayoutSubviews() {
    auto root = view();
    const toolkit::Rect b = root->bounds();
    const toolkit::EdgeInsets safe = root->safeAreaInsets();
    const double top = b.origin.y + safe.top;
    const double bottom = b.origin.y + b.size.height - safe.bottom;
    const bool landscape = b.size.width > b.size.height;
    // Portrait: the labels above the keys across the whole width. Landscape: the labels in the
    // left half, the keys in the right half, so all five rows keep their room on a low screen.
    // Both keep clear of the sides' safe areas (a landscape notch).
    const double x0 = b.origin.x + safe.left;
    const double usable = std::max(0.0, b.size.width - safe.left - safe.right);
    const double infoWidth = landscape ? usable / 2 : usable;
    const double infoTop = landscape ? top + std::max(0.0, (bottom - top - 122) / 2) : top;
    const double w = infoWidth;
    creditLabel->setFrame(landscape ? toolkit::Rect{x0 + 8, infoTop + 4, w - 16, 16}
                                    : toolkit::Rect{x0 + w - 168, infoTop + 4, 160, 16});
    localtimeLabel->setFrame({x0 + 8, infoTop + 20, w - 16, 16});
    phoneNumber->setFrame({x0 + 16, infoTop + 38, w - 32, 40});
    phoneNumberArea->setFrame({x0, infoTop + 34, w, 48});
    contactLabel->setFrame({x0 + 16, infoTop + 80, w - 32, 20});
    // Keys: three columns of circles, the bottom row holds contacts, call and delete.
    const double padLeft = x0 + (landscape ? infoWidth : 0);
    const double padWidth = usable - (landscape ? infoWidth : 0);
    const double padTop = landscape ? top + 6 : top + 104;
    const double padHeight = std::max(0.0, bottom - padTop - 6);
    const double side = std::floor(std::min({75.0, (padWidth - 64) / 3, padHeight / 5.6}));
    const double gapX = std::min(28.0, (padWidth - 3 * side) / 4), gapY = std::max(4.0, (padHeight - 5 * side) / 5);
    const double left = (padWidth - 3 * side - 2 * gapX) / 2;
    pad_->setFrame({padLeft, padTop, padWidth, padHeight});
    // Titles and letters scale with the key: the digit sits above its letters.
    const auto digitFont =
        toolkit::Font::system(std::clamp(std::round(side * 0.43), 16.0, 32.0), toolkit::FontWeight::light);
    const auto lettersFont =
        toolkit::Font::system(std::clamp(std::round(side * 0.14), 8.0, 10.0), toolkit::FontWeight::semibold);
    const double lettersHeight = std::ceil(lettersFont.pointSize() * 1.25);
    static const long kGrid[5][3] = {
        {1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {kTagStar, kTagZero, kTagHash}, {kTagContacts, kTagCall, kTagDelete}};
    for (int r = 0; r < 5; ++r) {
        for (int c = 0; c < 3; ++c) {
            const long t = kGrid[r][c];
            const toolkit::Rect frame{left + c * (side + gapX), r * (side + gapY), side, side};
            auto* k = key(t);
            if (!k) continue;
            k->setFrame(frame);
            const long letters = t >= 1 && t <= 9 ? 100 + t : t == kTagZero ? 111 : 0;
            if (t == kTagCall) {
                const auto font = toolkit::Font::system(std::clamp(std::round(side * 0.3), 12.0, 32.0));
                k->titleLabel()->setFont(font);
                // With a method shown under it, the title moves up to leave it the key's lower part.
                const bool method = !forwardingLabel->text().empty();
                k->setTitleEdgeInsets({0, 0, method ? std::round(side * 0.26) : 0.0, 0});
                const auto methodFont = toolkit::Font::system(std::clamp(std::round(side * 0.17), 9.0, 13.0));
                forwardingLabel->setFont(methodFont);
                const double methodHeight = std::ceil(methodFont.pointSize() * 1.25);
                // Within the round key's face: as wide as its chord at the label's edge farther
                // from the middle.
                const double top = std::round(side * 0.55);
                const double dy = std::max(std::abs(top - side / 2), std::abs(top + methodHeight - side / 2));
                const double width =
                    std::max(0.0, std::floor(2 * std::sqrt(std::max(0.0, side * side / 4 - dy * dy))) - 2);
                forwardingLabel->setFrame(
                    {frame.origin.x + (side - width) / 2, frame.origin.y + top, width, methodHeight});
                // "Call" pressed into the key, at the key's size.
                k->setAttributedTitle(hxLetterpressed(localizedString("Call"), font, Color::groupTableViewBackground()),
                                      toolkit::kStateNormal);
            } else if (letters) {
                k->titleLabel()->setFont(digitFont);
                k->setTitleEdgeInsets({0, 0, std::round(side * 0.16), 0});
                if (auto* l = dynamic_cast<toolkit::Label*>(pad_->viewWithTag(letters))) {
                    if (letters != 111) l->setFont(lettersFont);
                    l->setFrame({frame.origin.x, frame.origin.y + side * 0.66, side, lettersHeight});
                }
            }
        }
    }
    if (auto* call = key(kTagCall)) callStarted->setFrame(call->frame());
}

void VC_Call::viewDidLoad() {
    callStarted->color = Color::systemBlue();
    view()->setBackgroundColor(Color::groupTableViewBackground());
    if (auto* nav = navigationController()) nav->navigationBar().setBarTintColor(Color::groupTableViewBackground());
    if (auto* call = key(kTagCall)) {
        call->setTitle(localizedString("Call"), toolkit::kStateNormal);
        call->setTitleColor(Color::groupTableViewBackground(), toolkit::kStateNormal);
        call->setAttributedTitle(
            hxLetterpressed(localizedString("Call"), call->titleLabel()->font(), Color::groupTableViewBackground()),
            toolkit::kStateNormal);
    }
    forwardingLabel->setTextColor(Color::groupTableViewBackground());
    creditLabel->setTextColor(Color::systemGray());
    if (auto path = foundation::Bundle::main().pathForResource("tz")) sharedLocalTime().open(*path);
    if (auto* contacts = key(kTagContacts)) {
        contacts->accessibility().label = ("Contacts & Favorites");
        contacts->accessibility().traits = 0u;
    }
    if (auto* del = key(kTagDelete)) {
        del->accessibility().label = ("Delete");
        del->accessibility().traits = 0u;
        // The glyph is drawn in the label colour so that it stays visible in dark mode.
        if (auto image = graphics::imageNamed("Delete")) {
            del->setImage(image->withRenderingMode(graphics::RenderingMode::alwaysTemplate), toolkit::kStateNormal);
            del->setTintColor(Color::label());
        }
    }
    if (toolkit::Device::current().isPad()) setPreferredContentSize({320, 500});
    auto longPress = [this](toolkit::View* target, void (VC_Call::*action)(toolkit::GestureRecognizer*)) {
        auto r = std::make_shared<toolkit::LongPressGestureRecognizer>(
            [this, action](toolkit::GestureRecognizer& g) { (this->*action)(&g); });
        r->minimumPressDuration = 0.5;
        target->addGestureRecognizer(r);
    };
    longPress(phoneNumberArea.get(), &VC_Call::showMenu);
    longPress(key(kTagContacts), &VC_Call::keyDelayedAction);
    longPress(key(kTagZero), &VC_Call::insertPlus);
    longPress(key(kTagStar), &VC_Call::insertPause);
    for (auto [tag, name] : {std::pair{kTagStar, "Asterisk"}, std::pair{kTagHash, "Numbersign"}}) {
        auto image = graphics::imageNamed(name);
        if (!image) continue;
        image = image->withRenderingMode(graphics::RenderingMode::alwaysTemplate);
        key(tag)->setImage(image, toolkit::kStateNormal);
        key(tag)->setImage(image->withTintColor(Color::whiteColor()), toolkit::kStateHighlighted);
    }
    if (toolkit::Device::current().systemVersionAtLeast(13)) {
        for (long tag : {1L, 2L, 3L, 4L, 5L, 6L, 7L, 8L, 9L, kTagZero}) {
            key(tag)->setTitleColor(Color::secondaryLabel(), toolkit::kStateNormal);
            key(tag)->setTitleColor(Color::whiteColor(), toolkit::kStateHighlighted);
            if (auto* letters = key(tag)->lettersLabel()) letters->setTextColor(Color::tertiaryLabel());
        }
    }
}

void VC_Call::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    const bool toFavorites = HXPreferenceOf(roles_.alerts, HXPreference::OpenToFavorites);
    if (auto image = graphics::imageNamed(toFavorites ? "Favorites_Contacts" : "Contacts_Favorites"))
        key(kTagContacts)
            ->setImage(image->withRenderingMode(graphics::RenderingMode::alwaysTemplate), toolkit::kStateNormal);
    sharedLocalTime().forgetZone();
    startUpdates();
    contactLabel->setText("");
    if (!number_.empty()) updateContactLabelForNumber(number_.shown());
    setCallButtonState();
    observe(kReachability, &VC_Call::setCallButtonState);
    observe(kClearDialpad, &VC_Call::clearNumber);
}

void VC_Call::viewDidAppear(bool animated) {
    ViewController::viewDidAppear(animated);
    adaptViewToCurrentPresentationStyle();
    updateCreditAndForwardingLabel();
    publishUserActivity();
}

void VC_Call::viewWillDisappear(bool animated) {
    ViewController::viewWillDisappear(animated);
    stopUpdates();
    resignFirstResponder();
}

void VC_Call::viewDidDisappear(bool animated) {
    ViewController::viewDidDisappear(animated);
    stopObserving(kReachability);
    stopObserving(kClearDialpad);
    stopObserving(foundation::kCurrentLocaleDidChangeNotification);
    sharedLocalTime().resetFormatters();
    if (gActivity) gActivity->invalidate();
    gActivity.reset();
    if (auto routing = roles_.routing.lock(); routing && toolkit::Device::current().isPad())
        routing->setFirstResponder();
}

void VC_Call::viewWillTransitionToSize(toolkit::Size size, toolkit::TransitionCoordinator* coordinator) {
    ViewController::viewWillTransitionToSize(size, coordinator);
    std::weak_ptr<VC_Call> weak = weakSelf<VC_Call>();
    auto done = [weak] {
        if (auto self = weak.lock()) self->adaptViewToCurrentPresentationStyle();
    };
    if (!coordinator ||
        !coordinator->animateAlongsideTransition({}, [done](toolkit::TransitionCoordinator&) { done(); }))
        done();
}

void VC_Call::adaptViewToCurrentPresentationStyle() {
    auto routing = roles_.routing.lock();
    if (routing && routing->iPad()) {
        if (routing->isSplitViewCollapsed())
            navigationItem().setLeftBarButtonItem(toolkit::BarButtonItem::withSystemItem(
                toolkit::SystemItem::Cancel, [this](toolkit::BarButtonItem&) { dismissPad(); }));
        else
            navigationItem().setLeftBarButtonItem(nullptr);
        creditLabel->setTextAlignment(toolkit::TextAlignment::right);
        localtimeLabel->setTextAlignment(toolkit::TextAlignment::center);
        return;
    }
    const auto b = view()->bounds().size;
    const bool landscape = b.width > b.height;
    creditLabel->setTextAlignment(landscape ? toolkit::TextAlignment::center : toolkit::TextAlignment::right);
    localtimeLabel->setTextAlignment(landscape ? toolkit::TextAlignment::right : toolkit::TextAlignment::center);
}

void VC_Call::dismissPad() { dismiss(true); }

// ---- observers

void VC_Call::observe(const char* name, void (VC_Call::*handler)()) {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, name);
    center.addObserver(this, name, [weak = weakSelf<VC_Call>(), handler](const foundation::Notification&) {
        // Posted from any thread: the screen is touched on the main queue only.
        dispatch::Queue::main()->async([weak, handler] {
            if (auto self = weak.lock()) (self.get()->*handler)();
        });
    });
}

void VC_Call::stopObserving(const char* name) {
    foundation::NotificationCenter::defaultCenter().removeObserver(this, name);
}

void VC_Call::startUpdates() {
    calculateLocalTime();
    observeUpdates();
}

void VC_Call::observeUpdates() {
    updatesRunning_ = true;
    stopObserving(kDidBecomeActive);
    observe(kReachability, &VC_Call::setCallButtonState);
    observe(kCallButtonUpdate, &VC_Call::setCallButtonState);
    observe(foundation::kApplicationSignificantTimeChangeNotification, &VC_Call::calculateLocalTime);
    observe(kWillResignActive, &VC_Call::stopUpdates);
    observe(kSettingsUpdate, &VC_Call::updateCreditAndForwardingLabel);
}

void VC_Call::stopUpdates() {
    updatesRunning_ = false;
    if (gMinuteTimer) gMinuteTimer->invalidate();
    gMinuteTimer.reset();
    for (const char* name : {kReachability, foundation::kApplicationSignificantTimeChangeNotification,
                             kWillResignActive, kSettingsUpdate, kCallButtonUpdate})
        stopObserving(name);
    observe(kClearDialpad, &VC_Call::clearNumber);
    observe(kDidBecomeActive, &VC_Call::startUpdates);
}

// ---- the number

void VC_Call::showNumber() { phoneNumber->setText(number_.shown()); }

void VC_Call::showDialedNumber(const std::string& number) {
    view();
    proposedMethod_.reset();
    // A number that replaces the shown one is looked up afresh.
    sharedLocalTime().forgetZone();
    number_.show(number);
    showNumber();
}

void VC_Call::proposeCallMethod(int64_t phoneID) {
    view();
    proposedMethod_ = phoneID;
    updateCreditAndForwardingLabel();
}

void VC_Call::refresh() {
    setCallButtonState();
    startUpdates();
}

void VC_Call::playTone(int value) {
    auto& tone = gKeyTones.at(static_cast<size_t>(value));
    if (!tone) {
        auto path = foundation::Bundle::main().pathForResource("dtmf-" + keyCharacter(value), "caf");
        if (!path) return;  // looked up again on the next press
        tone = toolkit::SystemSounds::shared().create(*path);
        if (!tone) return;
        toolkit::SystemSounds::shared().setUISound(tone, true);
    }
    toolkit::SystemSounds::shared().play(tone);
}

void VC_Call::appendCharacter(const std::string& c) {
    number_.append(c);
    showNumber();
}

void VC_Call::keyPressed(toolkit::View* sender) {
    if (!sender) return;
    toolkit::ImpactFeedbackGenerator(toolkit::ImpactStyle::Light).impactOccurred();
    const long value = keyValue(sender->tag());
    if (value >= 0 && value <= 11) {
        playTone(static_cast<int>(value));
        appendCharacter(keyCharacter(value));
        updateContactLabelForNumber(number_.shown());
    } else if (value == kTagContacts) {
        if (showFavoritesButtonHelp()) return;
        if (HXPreferenceOf(roles_.alerts, HXPreference::OpenToFavorites))
            openFavorites();
        else
            openAddressBook();
    } else if (value == kTagDelete) {
        if (!number_.filtered().empty())
            dispatch::RunLoop::main().perform(
                selfPtr(), "deleteKeyUp:", foundation::Value(), 0.5,
                [this](const foundation::Value&) { deleteKeyUp(nullptr); }, true);
    } else if (value == kTagCall) {
        callKeyPressed();
        return;
    }
    refresh();
}

void VC_Call::callKeyPressed() {
    auto alerts = this->alerts();
    if (!number_.empty()) {
        if (alerts && alerts->connectionAvailable()) {
            key(kTagCall)->setHidden(true);
            forwardingLabel->setHidden(true);
            callStarted->startAnimating();
        }
        const auto account = alerts ? alerts->account() : nullptr;
        const std::string own = account ? account->HXnumber().value_or("") : "";
        const std::string number = HXDialedNumber::numberToCall(number_.shown(), own);
        // The method an outside URL chose becomes the account's now that the user calls.
        if (auto proposed = std::exchange(proposedMethod_, std::nullopt);
            proposed && callChoice() && callChoice()->isNewForwardingPhoneID(*proposed))
            foundation::NotificationCenter::defaultCenter().post("kChangedCallbackNumberNotification");
        if (auto calls = roles_.conversations.lock()) calls->placeCallTo(number);
        // A call that ended before any request (no token, the phone's own dialer) must not
        // leave the key hidden.
        setCallButtonState();
        return;
    }
    auto last = defaults()->objectForKey("lastDialedNumber");
    if (const std::string* text = last.ifString(); text && !text->empty()) {
        number_.showFiltered(*text);
        showNumber();
        sharedLocalTime().forgetZone();
        defaults()->removeObjectForKey("lastDialedNumber");
        refresh();
        updateContactLabelForNumber(HXDialedNumber::filter(*text));
    } else if (alerts && alerts->account() && alerts->account()->phones().size() >= 2) {
        changeForwardingNumber(nullptr);
    }
    refresh();
}

void VC_Call::deleteKeyUp(toolkit::View* sender) {
    if (number_.empty()) return;
    if (sender) dispatch::RunLoop::main().cancelPerform(this, "deleteKeyUp:", foundation::Value());
    number_.deleteLast();
    showNumber();
    sharedLocalTime().forgetZone();
    if (!sender && !number_.empty()) {
        dispatch::RunLoop::main().perform(
            selfPtr(), "deleteKeyUp:", foundation::Value(), 0.1,
            [this](const foundation::Value&) { deleteKeyUp(nullptr); }, true);
        return;
    }
    refresh();
    updateContactLabelForNumber(number_.shown());
}

void VC_Call::insertPlus(toolkit::GestureRecognizer* recognizer) {
    if (recognizer && recognizer->state() != toolkit::GestureState::Began) return;
    appendCharacter("+");
    std::weak_ptr<VC_Call> weak = weakSelf<VC_Call>();
    dispatch::Queue::main()->async([weak] {
        if (auto self = weak.lock()) self->startUpdates();
    });
}

void VC_Call::insertPause(toolkit::GestureRecognizer* recognizer) {
    if (recognizer && recognizer->state() != toolkit::GestureState::Began) return;
    number_.appendPause();
    showNumber();
    std::weak_ptr<VC_Call> weak = weakSelf<VC_Call>();
    dispatch::Queue::main()->async([weak] {
        if (auto self = weak.lock()) self->startUpdates();
    });
}

void VC_Call::clearNumber() {
    ++lookupGeneration_;  // a lookup still running writes nothing
    if (std::exchange(proposedMethod_, std::nullopt)) updateCreditAndForwardingLabel();
    number_.clear();
    showNumber();
    contactLabel->setText("");
    localtimeLabel->setText("");
    sharedLocalTime().forgetZoneAndRegion();
    setCallButtonState();
}

// ---- contact lookup

void VC_Call::updateContactLabelForNumber(const std::string& n) {
    // Any queue: the lookup is made, and the label written, on the main queue's terms.
    std::weak_ptr<VC_Call> weak = weakSelf<VC_Call>();
    dispatch::Queue::main()->async([weak, n] {
        if (auto self = weak.lock()) self->lookUpContact(n);
    });
}

void VC_Call::lookUpContact(const std::string& n) {
    auto role = dialPadRole();
    if (!role) return;
    const uint64_t generation = ++lookupGeneration_;
    auto lookup = role->contactNameLookup();
    auto alerts = this->alerts();
    const auto account = alerts ? alerts->account() : nullptr;
    const std::string own = account ? account->HXnumber().value_or("") : "";
    std::weak_ptr<VC_Call> weak = weakSelf<VC_Call>();
    dispatch::Queue::global(dispatch::Priority::Background)->async([weak, lookup, n, own, generation] {
        std::string name = lookup(HXDialedNumber::numberForLookup(n));
        if (name.empty() && HXDialedNumber::isSevenDigitLocal(n, own))
            name = lookup(PhoneExtensions::formattedPhoneNumberFromString(own.substr(0, 5) + n));
        dispatch::Queue::main()->async([weak, name, generation] {
            auto self = weak.lock();
            // Only the newest lookup names the number: an older one ending late would name
            // another number.
            if (self && generation == self->lookupGeneration_) self->contactLabel->setText(name);
        });
    });
}

// ---- call key, credit and call method

void VC_Call::setCallButtonState() {
    std::weak_ptr<VC_Call> weak = weakSelf<VC_Call>();
    auto apply = [weak] {
        auto self = weak.lock();
        if (!self || !self->isViewLoaded()) return;
        auto choice = self->callChoice();
        const bool busy = choice && choice->callRequestInFlight();
        if (auto* call = self->key(kTagCall)) call->setHidden(busy);
        self->forwardingLabel->setHidden(busy);
        if (busy)
            self->callStarted->startAnimating();
        else
            self->callStarted->stopAnimating();
    };
    if (dispatch::isMainThread())
        apply();
    else
        dispatch::Queue::main()->async(apply);
}

void VC_Call::updateCreditAndForwardingLabel() {
    auto alerts = this->alerts();
    auto choice = callChoice();
    auto account = alerts ? alerts->account() : nullptr;
    const std::string balance = account ? account->balance().value_or("") : "";
    creditLabel->setText(balance.empty() ? "" : foundation::format("%@: %@", localizedString("Credit"), balance));
    if (choice && choice->canChangeCallback() && !callLongPress_) {
        callLongPress_ = std::make_shared<toolkit::LongPressGestureRecognizer>(
            [this](toolkit::GestureRecognizer& g) { changeForwardingNumber(&g); });
        callLongPress_->minimumPressDuration = 0.5;
        key(kTagCall)->addGestureRecognizer(callLongPress_);
    }
    std::string method;
    if (account) {
        const int64_t shown = proposedMethod_.value_or(account->forwardingPhoneID());
        for (const auto& phone : account->callMethods(choice && choice->canPlaceCalls()))
            if (phone && phone->phoneId() == shown) {
                method = phone->name();
                break;
            }
    }
    showCallMethod(method);
}

void VC_Call::showCallMethod(const std::string& method) {
    auto* call = key(kTagCall);
    call->accessibility().label =
        foundation::format("%@. . %@", call->titleForState(toolkit::kStateNormal).value_or(""), method);
    forwardingLabel->setText(method);
    // The key's title makes room for the method, or takes the key's middle again.
    view()->setNeedsLayout();
}

void VC_Call::changeForwardingNumber(toolkit::GestureRecognizer* recognizer) {
    if (recognizer && recognizer->state() != toolkit::GestureState::Began) return;
    auto alerts = this->alerts();
    auto choice = callChoice();
    auto account = alerts ? alerts->account() : nullptr;
    if (!account || !choice) return;
    auto sheet = toolkit::AlertController::make(choice->forwardingNumberControllerTitle(), std::nullopt,
                                                toolkit::AlertControllerStyle::ActionSheet);
    std::weak_ptr<VC_Call> weak = weakSelf<VC_Call>();
    for (const auto& phone : account->callMethods(choice->canPlaceCalls())) {
        if (!phone) continue;
        const int64_t id = phone->phoneId();
        const std::string name = phone->name();
        (void)sheet->addAction(toolkit::AlertAction::make(
            name,
            id == account->forwardingPhoneID() ? toolkit::AlertActionStyle::Destructive
                                               : toolkit::AlertActionStyle::Default,
            [weak, id, name](toolkit::AlertAction&) {
                auto self = weak.lock();
                if (!self) return;
                auto r = self->callChoice();
                const bool proposed = std::exchange(self->proposedMethod_, std::nullopt).has_value();
                if (r && r->isNewForwardingPhoneID(id)) {
                    self->showCallMethod(name);
                    foundation::NotificationCenter::defaultCenter().post("kChangedCallbackNumberNotification");
                } else if (proposed) {
                    self->updateCreditAndForwardingLabel();
                }
                if (!self->number_.empty()) self->keyPressed(self->key(kTagCall));
            }));
    }
    if (auto* popover = sheet->popoverPresentationController()) {
        popover->sourceView = view();
        popover->sourceRect = key(kTagCall)->frame();
    }
    alerts->presentAlert(sheet, this);
}

// ---- contacts and favourites

bool VC_Call::showFavoritesButtonHelp() {
    auto alerts = this->alerts();
    auto account = alerts ? alerts->account() : nullptr;
    if (account && accountHasFavorites(*account)) return false;
    auto warnings = defaults()->dictionaryForKey("displayedWarnings").value_or(foundation::Dictionary{});
    if (warnings.contains("FavoritesHelp")) return false;
    auto alert = toolkit::AlertController::make(
        localizedString("Contacts & Favorites"),
        localizedString("This button allows to open either your device's contacts (short tap) or favorite contacts "
                        "defined within the application (tap & hold).\nYou can change the primary action of the "
                        "button in the Settings."),
        toolkit::AlertControllerStyle::Alert);
    std::weak_ptr<VC_Call> weak = weakSelf<VC_Call>();
    (void)alert->addAction(toolkit::AlertAction::make(
        localizedString("Favorites"), toolkit::AlertActionStyle::Default, [weak](toolkit::AlertAction&) {
            defaults()->setBool(true, HXPreferenceKeyOf(HXPreference::OpenToFavorites).key);
            if (auto self = weak.lock()) self->openFavorites();
        }));
    (void)alert->addAction(toolkit::AlertAction::make(
        localizedString("Contacts"), toolkit::AlertActionStyle::Default, [weak](toolkit::AlertAction&) {
            defaults()->setBool(false, HXPreferenceKeyOf(HXPreference::OpenToFavorites).key);
            if (auto self = weak.lock()) self->openAddressBook();
        }));
    if (alerts) alerts->presentAlert(alert, this);
    warnings.set("FavoritesHelp", foundation::Value(true));
    (void)defaults()->setObject(foundation::Value(std::move(warnings)), "displayedWarnings");
    return true;
}

void VC_Call::keyDelayedAction(toolkit::GestureRecognizer* recognizer) {
    if (recognizer && recognizer->state() != toolkit::GestureState::Began) return;
    toolkit::ImpactFeedbackGenerator(toolkit::ImpactStyle::Light).impactOccurred();
    if (HXPreferenceOf(roles_.alerts, HXPreference::OpenToFavorites))
        openAddressBook();
    else
        openFavorites();
}

void VC_Call::openAddressBook() {
    auto alerts = this->alerts();
    if (!alerts || alerts->isABAccessRestricted()) return;
    auto picker = picker_->makePicker();
    toolkit::ViewController* from = this;
    if (toolkit::Device::current().isPad()) {
        if (auto* nav = navigationController()) from = nav;
    } else if (auto* tabs = tabBarController()) {
        from = tabs;
    }
    from->present(picker, true);
}

void VC_Call::openFavorites() {
    view();
    std::weak_ptr<VC_Call> weak = weakSelf<VC_Call>();
    // The list hands a picked number back to this pad, whatever view is current then.
    auto handBack = [weak](const std::string& number, const std::string& name, const std::string& label,
                           toolkit::ViewController& list) {
        auto self = weak.lock();
        if (!self || !self->isViewLoaded()) return false;
        sharedLocalTime().forgetZone();
        self->number_.showFormatted(number);
        self->showNumber();
        ++self->lookupGeneration_;
        self->contactLabel->setText(label.empty() ? name : foundation::format("%@ (%@)", name, label));
        list.dismiss(true);
        if (HXPreferenceOf(self->roles_.alerts, HXPreference::SkipDialpad)) {
            dispatch::RunLoop::main().perform(
                self->selfPtr(), "keyPressed:", foundation::Value(), 0.1,
                [weak](const foundation::Value&) {
                    if (auto s = weak.lock()) s->keyPressed(s->key(kTagCall));
                },
                true);
        } else {
            self->startUpdates();
        }
        return true;
    };
    auto favorites = makers_.favorites ? makers_.favorites(handBack) : nullptr;
    if (!favorites) return;
    auto nav = std::make_shared<toolkit::NavigationController>(favorites);
    if (toolkit::Device::current().isPad()) {
        nav->modalPresentationStyle = toolkit::ModalPresentationStyle::CurrentContext;
        if (auto* parent = navigationController()) {
            parent->present(nav, true);
            return;
        }
    }
    present(nav, true);
}

void VC_Call::selectedPhone(const services::LabeledPhoneNumber& phone, const services::Contact& contact) {
    const std::string name = services::ContactFormatter::fullName(contact).value_or("");
    const std::string label = services::localizedStringForLabel(phone.label);
    ++lookupGeneration_;
    contactLabel->setText(label.empty() ? name : name + foundation::format(" (%@)", label));
    sharedLocalTime().forgetZone();
    number_.showFormatted(phone.stringValue);
    showNumber();
    startUpdates();
    if (HXPreferenceOf(roles_.alerts, HXPreference::SkipDialpad)) {
        std::weak_ptr<VC_Call> weak = weakSelf<VC_Call>();
        dispatch::RunLoop::main().perform(
            selfPtr(), "keyPressed:", foundation::Value(), 0.1,
            [weak](const foundation::Value&) {
                if (auto s = weak.lock()) s->keyPressed(s->key(kTagCall));
            },
            true);
    }
}

// ---- edit menu

void VC_Call::showMenu(toolkit::GestureRecognizer* recognizer) {
    if (recognizer && recognizer->state() != toolkit::GestureState::Began) return;
    becomeFirstResponder();
    if (number_.empty() && toolkit::Pasteboard::general().strings().empty()) return;
    auto& menu = toolkit::MenuController::shared();
    menu.menuItems = {{localizedString("Clear"), "clear:"}};
    const auto f = phoneNumber->frame();
    menu.setTargetRect({f.size.width / 2, f.origin.y + f.size.height / 2, 0, 4.0}, view().get());
    menu.showMenu(true);
}

bool VC_Call::canPerformAction(const std::string& action, toolkit::Responder*) const {
    const bool shown = !number_.empty();
    if (action == "copy:" || action == "clear:") return shown;
    if (action.starts_with("dialDigit")) return isViewLoaded() && handlesAction(action);
    if (action == "paste:") return !toolkit::Pasteboard::general().strings().empty();
    return false;
}

void VC_Call::copyNumber() { toolkit::Pasteboard::general().setString(number_.shown()); }

void VC_Call::pasteNumber() {
    const std::string pasted = toolkit::Pasteboard::general().string().value_or("");
    sharedLocalTime().forgetZone();
    number_.paste(pasted);
    showNumber();
    if (!number_.empty()) updateContactLabelForNumber(number_.shown());
    refresh();
}

// ---- local time

void VC_Call::calculateLocalTime() {
    auto& time = sharedLocalTime();
    if (!time.isOpen()) {
        localtimeLabel->setText("");
        return;
    }
    // Stopping drops the pending minute timer; a refresh made while the updates run (the minute
    // timer, a clock change, a locale change) keeps them running, or the pad would stop hearing
    // the call key's, the clock's and the settings' changes after its first minute.
    const bool running = updatesRunning_;
    stopUpdates();
    const std::string text = number_.shown();
    const foundation::Date now = foundation::now();
    const std::string label = time.labelFor(text, now);
    localtimeLabel->setText(label);
    if (!label.empty()) {
        std::weak_ptr<VC_Call> weak = weakSelf<VC_Call>();
        gMinuteTimer =
            dispatch::Timer::scheduled(HXLocalTime::secondsUntilNextRefresh(now), false, [weak](dispatch::Timer&) {
                if (auto self = weak.lock()) self->calculateLocalTime();
            });
        observe(foundation::kCurrentLocaleDidChangeNotification, &VC_Call::updateLocale);
    }
    if (running) observeUpdates();
    if (!text.empty()) {
        phoneNumber->accessibility().label = (localizedString("phone number"));
        std::string hint;
        for (char32_t c : foundation::toCodePoints(text)) {
            foundation::appendUtf8(hint, c);
            hint += ", ";
        }
        hint = foundation::replaceAll(hint, ",, ", localizedString("comma") + ", ");
        phoneNumber->accessibility().hint = (hint);
    } else {
        phoneNumber->accessibility().label = (localizedString("empty phone number"));
        phoneNumber->accessibility().hint = ("");
    }
}

void VC_Call::updateLocale() {
    sharedLocalTime().forgetLocale();
    sharedLocalTime().resetFormatters();
    if (!number_.empty()) {
        number_.reformat();
        showNumber();
        calculateLocalTime();
    }
}

// ---- user activity

void VC_Call::publishUserActivity() {
    auto activity = std::make_shared<services::UserActivity>("com.hxconnect.activity_call");
    activity->title = localizedString("Call phone number via HX Voice");
    activity->keywords = {"HX Voice", "HX", localizedString("Call")};
    foundation::Dictionary info;
    info.set("id", foundation::Value("com.hxconnect.activity_call"));
    activity->userInfo = info;
    activity->requiredUserInfoKeys = {"id"};
    activity->eligibleForSearch = true;
    activity->eligibleForPublicIndexing = true;
    activity->eligibleForHandoff = false;
    if (gActivity) gActivity->invalidate();
    gActivity = activity;
    activity->becomeCurrent();
}
