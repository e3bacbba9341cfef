#include "ui/compose/vc_new_message.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "model/account.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/application.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/hxc_font.h"
#include "platform/graphics/named_images.h"
#include "platform/services/contacts.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/feedback.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/window.h"
#include "service/conversation_title.h"
#include "ui/widgets/caret_navigation.h"

using foundation::localizedString;

const toolkit::KeyCommand VC_NewMessage::kSendCommand{"d", toolkit::kModifierCommand | toolkit::kModifierShift,
                                                      "sendMessage", "Send Message"};
const toolkit::KeyCommand VC_NewMessage::kEscapeCommand{toolkit::kInputEscape, toolkit::kModifierNone,
                                                        "cancel:", "Cancel"};
const toolkit::KeyCommand VC_NewMessage::kCloseCommand{".", toolkit::kModifierCommand, "cancel:", "Cancel"};

namespace {

constexpr const char* kContactsUpdatedNotification = "kContactsCacheUpdatedNotification";
constexpr const char* kFavoriteSelectedNotification = "kFavoriteSelectedNotification";
constexpr const char* kContentSizeNotification = toolkit::kContentSizeCategoryDidChangeNotification;

bool onlyNumberCharacters(std::string_view text) {
    return !text.empty() && text.find_first_not_of(VC_NewMessage::kNumberCharacters) == std::string_view::npos;
}

std::string digitsOf(std::string_view text) {
    std::string d;
    for (char c : text)
        if (c >= '0' && c <= '9') d += c;
    return d;
}

bool isSentinel(const std::string& text) {
    return text == HXCTokenField::kEmptySentinel || text == HXCTokenField::kSelectedSentinel;
}

void styleAsPick(HXCToken& token) {
    token.setTintColor(toolkit::Color::systemBlue());
    token.setTextColor(toolkit::Color::systemBackground());
    token.setHighlightedTextColor(toolkit::Color::systemBackground());
}

}  // namespace

VC_NewMessage::VC_NewMessage(Roles roles, Makers makers) : roles_(std::move(roles)), makers_(std::move(makers)) {}

VC_NewMessage::~VC_NewMessage() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

// ---- pure rules

std::string VC_NewMessage::completedNumber(const std::string& typed, const std::optional<std::string>& ownNumber) {
    if (foundation::hasPrefix(typed, "+") || !ownNumber || !foundation::hasPrefix(*ownNumber, "+1") ||
        ownNumber->size() < 6)
        return typed;
    const std::string d = digitsOf(typed);
    const std::string g = PhoneExtensions::formattedPhoneNumberFromString(typed);
    const size_t glen = foundation::utf16Length(g);
    if (glen == 8 && d.size() == 7) return ownNumber->substr(0, 5) + typed;
    if (glen == 14 && d.size() == 10 && foundation::hasPrefix(g, "(")) return "+1" + typed;
    if (glen == 16 && d.size() == 11 && foundation::hasPrefix(g, "1 (")) return "+" + typed;
    return typed;
}

namespace {

// The counter's texts, looked up once (every key runs the counter).
const std::string& remainingFormat() {
    static const std::string format = localizedString("%ld characters remaining");
    return format;
}
const std::string& segmentsFormat() {
    static const std::string format = localizedString(" (%ld SMS)");
    return format;
}

}  // namespace

VC_NewMessage::Counter VC_NewMessage::counterFor(size_t length) {
    Counter c;
    const long l = static_cast<long>(length);
    c.segments = std::max(1L, (l + static_cast<long>(kSegmentLength) - 1) / static_cast<long>(kSegmentLength));
    c.remaining = static_cast<long>(kSegmentLength) * c.segments - l;
    c.text = foundation::format(remainingFormat(), c.remaining);
    if (c.segments > 1) c.text += foundation::format(segmentsFormat(), c.segments);
    const long inLast = l - static_cast<long>(kSegmentLength) * (c.segments - 1);
    c.colour = inLast < 151 ? Counter::Colour::Grey : inLast < 160 ? Counter::Colour::Orange : Counter::Colour::Red;
    return c;
}

// ---- views

void VC_NewMessage::loadView() {
    auto root = std::make_shared<toolkit::View>(toolkit::Rect{0, 0, 320, 480});
    root->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    root->setBackgroundColor(toolkit::Color::secondarySystemBackground());
    setView(root);

    fieldContainer_ = std::make_shared<toolkit::View>();
    number_ = HXCTokenField::make();
    charCount_ = std::make_shared<toolkit::Label>();
    charCount_->setFont(toolkit::Font::system(12));
    charCount_->setTextAlignment(toolkit::TextAlignment::right);
    fieldContainer_->addSubview(number_);
    fieldContainer_->addSubview(charCount_);

    messageOuter_ = std::make_shared<toolkit::View>();
    messageInner_ = std::make_shared<toolkit::View>();
    message_ = std::make_shared<toolkit::TextView>();
    messageInner_->addSubview(message_);
    messageOuter_->addSubview(messageInner_);

    searchContainer_ = std::make_shared<toolkit::View>();
    searchContainer_->setTag(kSearchContainerTag);
    searchResultsTable_ = std::make_shared<toolkit::TableView>(toolkit::TableViewStyle::Plain);
    searchShadow_ = std::make_shared<toolkit::ImageView>();
    searchContainer_->addSubview(searchResultsTable_);
    searchContainer_->addSubview(searchShadow_);

    // The message below the field, the results over both.
    root->addSubview(messageOuter_);
    root->addSubview(fieldContainer_);
    root->addSubview(searchContainer_);
}

void VC_NewMessage::viewDidLoad() {
    ViewController::viewDidLoad();
    edgesForExtendedLayout = 0;
    searchContainer_->setHidden(true);
    searchResults_.clear();
    setTitle(localizedString("New Message"));
    if (auto font = graphics::HXCFont::HXCFontForType(5)) message_->setFont(*font);
    // Swipes over the message move its caret.
    hxcAddGestureNavigation(*message_);
    message_->delegate = as<toolkit::TextViewDelegate>();
    searchResultsTable_->setDataSource(as<toolkit::TableViewDataSource>());
    searchResultsTable_->setTableDelegate(as<toolkit::TableViewDelegate>());

    auto alerts = roles_.alerts.lock();
    const auto account = alerts ? alerts->account() : nullptr;
    if (account && account->authV2()) {
        makePictureTray();
        updateImagePreviews();
        dropInteraction_ = std::make_shared<toolkit::DropInteraction>(pictures_);
        view()->addInteraction(dropInteraction_);
    }
    if (auto shadow = graphics::imageNamed("SearchShadow")) searchShadow_->setImage(shadow);

    navigationItem().setLeftBarButtonItem(toolkit::BarButtonItem::withSystemItem(
        toolkit::SystemItem::Cancel, [this](toolkit::BarButtonItem&) { cancel(); }));
    sendButton_ = toolkit::BarButtonItem::withTitle(localizedString("Send"), toolkit::BarButtonStyle::Done,
                                                    [this](toolkit::BarButtonItem&) { sendMessage(); });
    navigationItem().setRightBarButtonItem(sendButton_);
    setActionHandler(kSendCommand.action, [this](toolkit::Responder*) { sendMessage(); });
    setActionHandler(kCloseCommand.action, [this](toolkit::Responder*) { cancel(); });
    setActionHandler("paste:", [this](toolkit::Responder*) { paste(); });

    number_->setPromptText(localizedString("To:"));
    number_->setTokenizingCharacters(",");
    number_->setTokenDelegate(as<HXCTokenFieldDelegate>());
    number_->addAction([this](toolkit::Control&, const toolkit::Event*) { tokenFieldFrameDidChange(); },
                       HXCTokenField::kFrameDidChange);
    number_->addAction([this](toolkit::Control&, const toolkit::Event*) { tokenFieldBeginEditing(); },
                       toolkit::kEditingDidBegin);
    number_->addAction([this](toolkit::Control&, const toolkit::Event*) { tokenFieldEndEditing(); },
                       toolkit::kEditingDidEnd);

    contactsButton_ = std::make_shared<toolkit::Button>(toolkit::ButtonType::ContactAdd);
    contactsButton_->setImageEdgeInsets({-2, 1, 4, 1});
    contactsButton_->sizeToFit();
    contactsButton_->addAction([this](toolkit::Control&, const toolkit::Event*) { contactsButtonPressed(); },
                               toolkit::kTouchUpInside);
    auto hold = std::make_shared<toolkit::LongPressGestureRecognizer>([this](toolkit::GestureRecognizer& g) {
        if (g.state() == toolkit::GestureState::Began) HXCKeyDelayedAction();
    });
    hold->minimumPressDuration = 0.5;
    contactsButton_->addGestureRecognizer(hold);
    contactsButton_->accessibility().label =
        localizedString(HXPreferenceOf(roles_.alerts, HXPreference::OpenToFavorites) ? "Add number from favorites"
                                                                                     : "Add number from contacts");
    number_->setRightView(contactsButton_);
    number_->setRightViewMode(toolkit::ViewMode::Never);

    // On the tablet the screen is a sheet over the dimmed app: in the dark appearance its body
    // is the raised (secondary) background, not the black around it.
    auto routing = roles_.routing.lock();
    const auto body = routing && routing->iPad() ? toolkit::Color::dynamic(toolkit::Color::systemBackground(),
                                                                           toolkit::Color::secondarySystemBackground())
                                                 : toolkit::Color::systemBackground();
    number_->setTextColor(toolkit::Color::label());
    number_->setBackgroundColor(body);
    message_->setTextColor(toolkit::Color::label());
    message_->setBackgroundColor(body);
    charCount_->setBackgroundColor(toolkit::Color::clear());
    charCount_->setTextColor(toolkit::Color::systemGray());
    searchResultsTable_->setBackgroundColor(toolkit::Color::tertiarySystemBackground());
    searchContainer_->setBackgroundColor(toolkit::Color::tertiarySystemBackground());
}

void VC_NewMessage::viewDidLayoutSubviews() {
    ViewController::viewDidLayoutSubviews();
    layoutContainers();
}

void VC_NewMessage::layoutContainers() {
    const auto b = view()->bounds();
    const double top = b.origin.y + view()->safeAreaInsets().top;
    auto fieldFrame = number_->frame();
    if (fieldFrame.size.width != b.size.width)
        number_->setTokenFieldFrame({0, 0, b.size.width, fieldFrame.size.height});
    const double fieldBottom = number_->frame().maxY();
    fieldContainer_->setFrame({b.origin.x, top, b.size.width, fieldBottom + kCounterHeight});
    charCount_->setFrame({8, fieldBottom, b.size.width - 16, kCounterHeight});
    const double below = fieldContainer_->frame().maxY();
    if (!keyboardSized_)
        messageOuter_->setFrame({b.origin.x, below, b.size.width, std::max(0.0, b.maxY() - below)});
    else {
        auto f = messageOuter_->frame();
        messageOuter_->setFrame({b.origin.x, below, b.size.width, f.size.height});
    }
    messageInner_->setFrame(messageOuter_->bounds());
    message_->setFrame(messageInner_->bounds());
    const double resultsTop = below - kCounterHeight;
    searchContainer_->setFrame({b.origin.x, resultsTop, b.size.width, std::max(0.0, b.maxY() - resultsTop)});
    searchResultsTable_->setFrame(searchContainer_->bounds());
    searchShadow_->setFrame({0, 0, b.size.width, 19});
}

void VC_NewMessage::tokenFieldFrameDidChange() {
    // The field's container ends below the counter; the message starts there and the results
    // cover the counter row.
    layoutContainers();
}

void VC_NewMessage::keyboardWasShown(const foundation::Notification& notification) {
    const auto* end = notification.userInfo.find(toolkit::kKeyboardFrameEndUserInfoKey);
    auto frame = end && end->isString() ? toolkit::rectFromString(end->asString()) : std::nullopt;
    if (!frame || !view()->window()) return;
    const auto inView = view()->convertRectFrom(*frame, nullptr);
    const double barHeight = navigationController() ? navigationController()->navigationBar().frame().size.height : 0;
    const double screenHeight = view()->window()->bounds().size.height;
    const double statusBar = view()->window()->safeAreaInsets().top;
    auto f = messageOuter_->frame();
    f.size.height = std::max(0.0, screenHeight - statusBar - inView.size.height - barHeight);
    keyboardSized_ = true;
    messageOuter_->setFrame(f);
    messageInner_->setFrame(messageOuter_->bounds());
    message_->setFrame(messageInner_->bounds());
}

void VC_NewMessage::fontsUpdated() {
    if (auto font = graphics::HXCFont::HXCFontForType(5)) message_->setFont(*font);
}

// ---- appearance

void VC_NewMessage::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    auto initial = std::move(tokens_);
    tokens_.clear();
    for (const auto& token : initial) number_->addToken(token);
    if (!number_->tokens().empty()) {
        message_->becomeFirstResponder();
        if (!conversationID_.empty()) number_->setEnabled(false);
    } else {
        number_->becomeFirstResponder();
    }
    if (!messageText_.empty()) message_->setText(messageText_);
    textViewDidChange(*message_);
    auto& center = foundation::NotificationCenter::defaultCenter();
    auto compose = roles_.compose.lock();
    auto routing = roles_.routing.lock();
    if (routing && !routing->iPad())
        center.addObserver(this, toolkit::kKeyboardWillShowNotification,
                           [this](const foundation::Notification& n) { keyboardWasShown(n); });
    center.addObserver(this, kContentSizeNotification, [this](const foundation::Notification&) { fontsUpdated(); });
    message_->returnKeyType = HXPreferenceOf(roles_.alerts, HXPreference::SMSReturnKeySend)
                                  ? toolkit::ReturnKeyType::Send
                                  : toolkit::ReturnKeyType::Default;
    makeUserActivityCurrent();
}

void VC_NewMessage::viewDidAppear(bool animated) {
    ViewController::viewDidAppear(animated);
    if (auto* current = toolkit::Responder::currentFirstResponder()) current->resignFirstResponder();
    if (!number_->tokens().empty())
        message_->becomeFirstResponder();
    else
        number_->becomeFirstResponder();
    foundation::NotificationCenter::defaultCenter().addObserver(
        this, toolkit::kTextFieldTextDidChangeNotification, [this](const foundation::Notification& n) {
            if (n.object.get() == static_cast<void*>(static_cast<toolkit::Responder*>(number_.get())) || !n.object)
                textFieldDidChange();
        });
}

void VC_NewMessage::viewWillDisappear(bool animated) {
    ViewController::viewWillDisappear(animated);
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, toolkit::kKeyboardWillShowNotification);
    center.removeObserver(this, kContentSizeNotification);
    center.removeObserver(this, toolkit::kTextFieldTextDidChangeNotification);
}

void VC_NewMessage::viewDidDisappear(bool animated) {
    ViewController::viewDidDisappear(animated);
    if (auto* current = toolkit::Responder::currentFirstResponder()) current->resignFirstResponder();
    // On the tablet the master list takes the keyboard back, so its key commands work again.
    if (auto routing = roles_.routing.lock(); routing && routing->iPad()) routing->setFirstResponder();
}

// ---- recipients

std::string VC_NewMessage::sentinelFreeFieldText() const {
    return isSentinel(number_->text()) ? std::string() : number_->text();
}

bool VC_NewMessage::overlayShown() const {
    auto overlay = roles_.overlay.lock();
    return overlay && overlay->loadingOverlayShown();
}

bool VC_NewMessage::tokenFieldWillAddToken(HXCTokenField& field, HXCToken& token) {
    searchContainer_->setHidden(true);
    const auto held = field.tokens();
    if (std::any_of(held.begin(), held.end(), [&](const auto& t) { return t.get() == &token; })) return true;
    if (held.size() >= kMaxRecipients) return false;
    auto compose = roles_.compose.lock();
    if (token.representedObject().isNull()) {
        const std::string title = token.title();
        if (onlyNumberCharacters(title)) {
            auto alerts = roles_.alerts.lock();
            const auto account = alerts ? alerts->account() : nullptr;
            const std::string n = completedNumber(title, account ? account->HXnumber() : std::nullopt);
            const std::string formatted = PhoneExtensions::formattedPhoneNumberFromString(n);
            token.setRepresentedObject(foundation::Value(formatted));
            std::string name = compose ? compose->contactNameForNumber(formatted) : std::string();
            token.setTitle(name.empty() ? PhoneExtensions::formattedPhoneNumberFromString(title) : name);
        } else {
            token.setRepresentedObject(foundation::Value(PhoneExtensions::phoneNumberFromLetters(title)));
        }
    }
    const std::string key = sameNumberKey(token.representedObject().stringValue());
    for (const auto& object : field.tokenObjects()) {
        if (sameNumberKey(object.stringValue()) == key) {
            field.setText({});
            lastAcceptedText_.clear();
            return false;
        }
    }
    return true;
}

void VC_NewMessage::tokenFieldDidAddToken(HXCTokenField&, HXCToken&) {
    tokenFieldBeginEditing();
    lastAcceptedText_.clear();
    if (activity_) activity_->setNeedsSave(true);
}

void VC_NewMessage::tokenFieldDidRemoveToken(HXCTokenField&, HXCToken&) {
    tokenFieldBeginEditing();
    lastAcceptedText_.clear();
    if (activity_) activity_->setNeedsSave(true);
    updateSendState();
}

void VC_NewMessage::tokenFieldBeginEditing() {
    number_->setRightViewMode(number_->tokens().size() < kMaxRecipients ? toolkit::ViewMode::Always
                                                                        : toolkit::ViewMode::Never);
}

void VC_NewMessage::tokenFieldEndEditing() { number_->setRightViewMode(toolkit::ViewMode::Never); }

bool VC_NewMessage::textFieldShouldReturn(toolkit::TextField&) {
    message_->becomeFirstResponder();
    return true;
}

void VC_NewMessage::textFieldDidBeginEditing(toolkit::TextField&) {
    foundation::NotificationCenter::defaultCenter().addObserver(
        this, kContactsUpdatedNotification, [this](const foundation::Notification&) {
            dispatch::Queue::main()->async([weak = weakSelf<VC_NewMessage>()] {
                if (auto self = weak.lock()) self->updateContactSearchResults();
            });
        });
}

void VC_NewMessage::textFieldDidEndEditing(toolkit::TextField&) {
    foundation::NotificationCenter::defaultCenter().removeObserver(this, kContactsUpdatedNotification);
}

void VC_NewMessage::textFieldDidChange() {
    std::string r = sentinelFreeFieldText();
    auto& field = *number_;
    const toolkit::Range whole{0, foundation::utf16Length(field.text())};
    const bool accepted = field.internalDelegate().shouldChangeCharactersInRange(field, whole, r);
    auto& last = lastAcceptedText_;
    if (accepted) {
        last = field.text();
    } else {
        if (field.tokens().size() >= kMaxRecipients)
            last.clear();
        else if (field.text() == HXCTokenField::kSelectedSentinel)
            last = std::string(HXCTokenField::kSelectedSentinel);
        field.setText(last);
    }
    if (field.tokens().empty() && (last.empty() || last == HXCTokenField::kEmptySentinel))
        sendButton_->enabled = false;
    else
        sendButton_->enabled = !message_->text().empty() || !images().empty();
}

bool VC_NewMessage::shouldChangeCharactersInRange(toolkit::TextField& field, toolkit::Range range,
                                                  const std::string& replacement) {
    if (overlayShown()) return false;
    if (number_->tokens().size() >= kMaxRecipients) return false;
    std::u16string text = foundation::toUtf16(field.text());
    const auto r = toolkit::Range{std::min(range.location, text.size()),
                                  std::min(range.length, text.size() - std::min(range.location, text.size()))};
    text.replace(r.location, r.length, foundation::toUtf16(replacement));
    const std::string query = foundation::trim(foundation::fromUtf16(text));
    // The sentinels are not white space: a query that is only one is empty.
    std::string cleaned = foundation::replaceAll(query, HXCTokenField::kEmptySentinel, "");
    cleaned = foundation::trim(foundation::replaceAll(cleaned, HXCTokenField::kSelectedSentinel, ""));
    auto compose = roles_.compose.lock();
    if (!cleaned.empty() && kNumberCharacters.find(cleaned[0]) == std::string_view::npos &&
        services::ContactStore::authorizationStatus() == services::AuthorizationStatus::Authorized && compose) {
        const uint64_t generation = ++searchGeneration_;
        compose->searchContactsMatchingName(
            cleaned, [weak = weakSelf<VC_NewMessage>(), generation](HXComposeRole::ContactList hits) {
                auto self = weak.lock();
                // An older search that ends after a newer one shows nothing.
                if (!self || generation != self->searchGeneration_) return;
                self->searchResults_ = std::move(hits);
                self->searchContainer_->setHidden(false);
                self->searchResultsTable_->reloadData();
            });
    } else if (!searchContainer_->isHidden()) {
        ++searchGeneration_;
        searchContainer_->setHidden(true);
        searchResults_.clear();
        searchResultsTable_->reloadData();
    }
    updateSendState();
    return true;
}

void VC_NewMessage::updateContactSearchResults() { shouldChangeCharactersInRange(*number_, {0, 0}, ""); }

long VC_NewMessage::numberOfRows(toolkit::TableView&, long) { return static_cast<long>(searchResults_.size()); }

toolkit::TableViewCellPtr VC_NewMessage::cellForRow(toolkit::TableView& table, toolkit::IndexPath indexPath) {
    auto cell = table.dequeueReusableCell("SearchResultCell");
    if (!cell)
        cell = std::make_shared<toolkit::TableViewCell>(toolkit::TableViewCellStyle::Subtitle, "SearchResultCell");
    cell->textLabel().setFont(toolkit::Font::boldSystem(15));
    if (auto* detail = cell->detailTextLabel()) detail->setFont(toolkit::Font::system(12));
    std::string title, detail;
    if (indexPath.row >= 0 && static_cast<size_t>(indexPath.row) < searchResults_.size()) {
        const auto& entry = *searchResults_[static_cast<size_t>(indexPath.row)];
        title = entry.get("name").stringValue();
        const std::string label = entry.get("label").stringValue();
        const std::string number = entry.get("number").stringValue();
        detail = label.empty() ? number : foundation::format("%@ %@", label, number);
    }
    cell->textLabel().setText(title);
    if (auto* d = cell->detailTextLabel()) d->setText(detail);
    return cell;
}

void VC_NewMessage::didSelectRow(toolkit::TableView&, toolkit::IndexPath indexPath) {
    if (searchResults_.empty() || indexPath.row < 0 || static_cast<size_t>(indexPath.row) >= searchResults_.size())
        return;
    const auto entry = searchResults_[static_cast<size_t>(indexPath.row)];
    auto compose = roles_.compose.lock();
    if (compose) compose->recordContactSelection(entry);
    const std::string name = entry->get("name").stringValue();
    const std::string label = entry->get("label").stringValue();
    auto token = std::make_shared<HXCToken>(label.empty() ? name : foundation::format("%@ (%@)", name, label),
                                            foundation::Value(entry->get("number").stringValue()));
    styleAsPick(*token);
    number_->addToken(token);
    searchResults_.clear();
    searchContainer_->setHidden(true);
    sendButton_->enabled = !number_->tokens().empty() && (!message_->text().empty() || !images().empty());
    dispatch::Queue::main()->after(0.1, [weak = weakSelf<VC_NewMessage>()] {
        if (auto self = weak.lock()) self->searchContainer_->setHidden(true);
    });
}

void VC_NewMessage::selectedPhone(const std::string& number, const std::string& title) {
    auto token = std::make_shared<HXCToken>(title, foundation::Value(number));
    styleAsPick(*token);
    number_->addToken(token);
    number_->layoutTokensAnimated(true);
    message_->becomeFirstResponder();
    number_->setEnabled(true);
}

void VC_NewMessage::updateSendState() {
    if (!sendButton_) return;
    sendButton_->enabled = !number_->tokens().empty() && (!message_->text().empty() || !images().empty());
}

// ---- the text

bool VC_NewMessage::shouldChangeTextInRange(toolkit::TextView&, toolkit::Range, const std::string& text) {
    if (messageAwaitsFavorite_) {
        foundation::NotificationCenter::defaultCenter().removeObserver(message_.get(), kFavoriteSelectedNotification);
        messageAwaitsFavorite_ = false;
    }
    if (overlayShown()) return false;
    if (text == "\n" && HXPreferenceOf(roles_.alerts, HXPreference::SMSReturnKeySend)) {
        sendMessage();
        return false;
    }
    return true;
}

void VC_NewMessage::textViewDidChange(toolkit::TextView& view) {
    const auto c = counterFor(foundation::utf16Length(view.text()));
    charCount_->setText(c.text);
    charCount_->setTextColor(c.colour == Counter::Colour::Grey     ? toolkit::Color::systemGray()
                             : c.colour == Counter::Colour::Orange ? toolkit::Color::systemOrange()
                                                                   : toolkit::Color::systemRed());
    updateSendState();
    view.setNeedsDisplay();
    if (activity_) activity_->setNeedsSave(true);
}

// ---- sending and closing

std::string VC_NewMessage::sameNumberKey(const std::string& number) {
    static const foundation::CharacterSet dialable = foundation::CharacterSet::fromCharacters("1234567890+");
    std::string key = PhoneExtensions::extractCharactersFromStringUsingCharset(number, dialable);
    return key.empty() ? number : key;
}

std::string VC_NewMessage::distinctRecipients(const char* separator) const {
    // One entry per number as the service reads it: "+1 303 555 0177" of a contact and a typed
    // "+1 (303) 555-0177" are one recipient.
    std::set<std::string> seen;
    std::vector<std::string> numbers;
    for (const auto& object : number_->tokenObjects()) {
        const std::string n = object.stringValue();
        if (seen.insert(sameNumberKey(n)).second) numbers.push_back(n);
    }
    return foundation::join(numbers, separator);
}

void VC_NewMessage::sendMessage() {
    if (sending_ || number_->tokens().empty() || (message_->text().empty() && images().empty())) return;
    auto overlay = roles_.overlay.lock();
    auto sending = roles_.sending.lock();
    if (!overlay || !sending) return;
    sending_ = true;
    dropUserActivity();
    overlay->showLoadingOverlay(localizedString("Sending message\u2026"));
    if (!observingSend_) {
        observingSend_ = true;
        foundation::NotificationCenter::defaultCenter().addObserver(
            this, foundation::kApplicationDidEnterBackgroundNotification,
            [this](const foundation::Notification&) { cancel(); });
    }
    // This screen hears the end of its own send only: another screen's send, or a conversation
    // reload, leaves it alone.
    HXSendCompletion answered = [weak = weakSelf<VC_NewMessage>()](const HXSendAnswer& answer) {
        if (auto self = weak.lock()) self->sendAnswered(answer);
    };
    const std::string recipients = distinctRecipients("|");
    std::optional<std::string> conversation;
    if (auto routing = roles_.routing.lock(); routing && routing->currentViewIndex() == 1 && !conversationID_.empty())
        conversation = conversationID_;
    const std::optional<std::string> to = conversation ? std::nullopt : std::optional<std::string>(recipients);
    if (!images().empty()) {
        // The pictures stay attached until the service confirms: a failed send keeps them.
        sending->sendMMS(message_->text(), images(), to, conversation, std::move(answered));
    } else {
        sending->sendSMS(message_->text(), to, conversation, std::move(answered));
    }
}

void VC_NewMessage::sendAnswered(const HXSendAnswer& answer) {
    // A send ended after the screen was closed (or sent again) is not the one on screen.
    if (!sending_) return;
    switch (answer.kind) {
        case HXSendAnswer::Kind::Progress:
            break;
        case HXSendAnswer::Kind::Sent:
        case HXSendAnswer::Kind::Kept:
            cancel();
            break;
        case HXSendAnswer::Kind::Failed:
            sendingFailed();
            break;
    }
}

void VC_NewMessage::stopObservingSend() {
    foundation::NotificationCenter::defaultCenter().removeObserver(
        this, foundation::kApplicationDidEnterBackgroundNotification);
    observingSend_ = false;
}

void VC_NewMessage::cancel() {
    sending_ = false;
    stopObservingSend();
    dispatch::Queue::main()->async([weak = weakSelf<VC_NewMessage>()] {
        auto self = weak.lock();
        if (!self) return;
        const bool active =
            foundation::Application::shared().applicationState() == foundation::ApplicationState::Active;
        auto* host = self->navigationController() ? static_cast<toolkit::ViewController*>(self->navigationController())
                                                  : self.get();
        if (host->presentingViewController()) host->dismiss(active);
    });
    dropUserActivity();
}

void VC_NewMessage::sendingFailed() {
    if (!sending_) return;
    sending_ = false;
    if (auto overlay = roles_.overlay.lock(); overlay && overlay->loadingOverlayShown())
        overlay->removeLoadingOverlay();
}

// ---- contacts button and pickers

void VC_NewMessage::contactsButtonPressed() {
    if (HXPreferenceOf(roles_.alerts, HXPreference::OpenToFavorites))
        openFavorites();
    else
        openAddressBook();
}

void VC_NewMessage::HXCKeyDelayedAction() {
    toolkit::ImpactFeedbackGenerator(toolkit::ImpactStyle::Light).impactOccurred();
    if (HXPreferenceOf(roles_.alerts, HXPreference::OpenToFavorites))
        openAddressBook();
    else
        openFavorites();
}

void VC_NewMessage::openAddressBook() {
    auto compose = roles_.compose.lock();
    auto alerts = roles_.alerts.lock();
    if (!compose || !alerts || alerts->isABAccessRestricted()) return;
    toolkit::ViewController& presenter =
        navigationController() ? static_cast<toolkit::ViewController&>(*navigationController()) : *this;
    compose->presentContactPicker(presenter,
                                  [weak = weakSelf<VC_NewMessage>()](const std::string& n, const std::string& t) {
                                      auto self = weak.lock();
                                      if (!self || !self->isViewLoaded()) return false;
                                      self->selectedPhone(n, t);
                                      return true;
                                  });
}

void VC_NewMessage::openFavorites() {
    auto routing = roles_.routing.lock();
    if (!routing) return;
    toolkit::ViewController& presenter =
        navigationController() ? static_cast<toolkit::ViewController&>(*navigationController()) : *this;
    // The list hands the favourite back, closes and tells the screen; the text then takes the focus.
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(message_.get(), kFavoriteSelectedNotification);
    messageAwaitsFavorite_ = true;
    center.addObserver(message_.get(), kFavoriteSelectedNotification,
                       [weak = std::weak_ptr<toolkit::TextView>(message_)](const foundation::Notification&) {
                           if (auto m = weak.lock()) m->becomeFirstResponder();
                       });
    // The favourite's token: its number as stored, white text on the blue tint. A screen whose
    // view is gone takes none, and the list stays open.
    auto handBack = [weak = weakSelf<VC_NewMessage>()](const std::string& number, const std::string& name,
                                                       const std::string& label, toolkit::ViewController& list) {
        auto self = weak.lock();
        if (!self || !self->isViewLoaded()) return false;
        auto token = std::make_shared<HXCToken>(HXRecipientTitle(name, label, number), foundation::Value(number));
        token->setTintColor(toolkit::Color::systemBlue());
        token->setTextColor(toolkit::Color::whiteColor());
        token->setHighlightedTextColor(toolkit::Color::whiteColor());
        self->number_->addToken(token);
        list.dismiss(true);
        foundation::NotificationCenter::defaultCenter().post(kFavoriteSelectedNotification);
        return true;
    };
    auto favorites = makers_.favorites ? makers_.favorites(handBack) : nullptr;
    if (!favorites) {
        routing->screenNotBuilt("openFavorites");
        return;
    }
    auto navigation = std::make_shared<toolkit::NavigationController>(favorites);
    if (routing->iPad()) navigation->modalPresentationStyle = toolkit::ModalPresentationStyle::CurrentContext;
    presenter.present(navigation, true);
}

// ---- key commands and paste

std::vector<toolkit::KeyCommand> VC_NewMessage::keyCommands() const {
    return {kSendCommand, kEscapeCommand, kCloseCommand};
}

// ---- user activity

void VC_NewMessage::makeUserActivityCurrent() {
    auto& activity = activity_;
    if (!activity) {
        activity = std::make_shared<services::UserActivity>(kActivityType);
        activity->title = localizedString("Send SMS via HX Voice");
        activity->keywords = {"HX Voice", "HX", localizedString("SMS"), localizedString("text message")};
        activity->eligibleForSearch = true;
        activity->eligibleForPublicIndexing = true;
        activity->eligibleForHandoff = true;
    }
    // The screen on screen fills it in when the system saves it.
    activity->delegate = as<services::UserActivityDelegate>();
    activity->becomeCurrent();
}

void VC_NewMessage::dropUserActivity() {
    if (activity_) activity_->invalidate();
    activity_.reset();
}

void VC_NewMessage::userActivityWillSave(services::UserActivity& activity) {
    auto alerts = roles_.alerts.lock();
    const auto account = alerts ? alerts->account() : nullptr;
    if (!isViewLoaded() || !account || account->username().empty()) return;
    foundation::Dictionary info;
    info.set("messageText", message_->text());
    info.set("account", account->username());
    if (!number_->tokens().empty()) info.set("number", distinctRecipients(","));
    if (!conversationID_.empty()) info.set("conversationID", conversationID_);
    activity.userInfo = std::move(info);
    // The information now holds an unsent message: it stays out of the search index.
    activity.eligibleForSearch = false;
    activity.eligibleForPublicIndexing = false;
}

void VC_NewMessage::userActivityWasContinued(services::UserActivity&) { cancel(); }
