#include "platform/window/sheets.h"

#include <algorithm>

#include "platform/dispatch/dispatch.h"
#include "platform/services/device.h"
#include "platform/toolkit/controls.h"

namespace windowing {

namespace {

constexpr double kMargin = 8, kPadding = 12, kMaxWidth = 420, kRowHeight = 36, kGap = 6;
constexpr double kTitleHeight = 20, kBodyHeight = 40, kCornerRadius = 13;
// A notice keeps clear of a tab bar or a reply bar.
constexpr double kBarClearance = 64;
// A banner's title and body, above its actions; a prompt's title, above its field.
constexpr double kBannerTextHeight = kPadding + kTitleHeight + kBodyHeight + kGap;
constexpr double kPromptFieldTop = kPadding + kTitleHeight + kGap;

// A rounded card at the top of the window, inside its safe area, over everything else.
std::shared_ptr<toolkit::View> makeCard(toolkit::Window& window, double height) {
    const toolkit::Rect safe = window.safeAreaLayoutFrame();
    const double width = std::min(kMaxWidth, window.bounds().width() - 2 * kMargin);
    auto card =
        toolkit::View::make(toolkit::Rect((window.bounds().width() - width) / 2, safe.minY() + kGap, width, height));
    card->setBackgroundColor(toolkit::Color::secondarySystemBackground());
    card->layer().cornerRadius = kCornerRadius;
    card->layer().shadowOpacity = 0.25;
    card->layer().shadowRadius = 8;
    card->layer().shadowOffset = {0, 2};
    card->setClipsToBounds(false);
    return card;
}

std::shared_ptr<toolkit::Label> makeLabel(const toolkit::Rect& frame, const std::string& text, toolkit::Font font,
                                          int lines) {
    auto label = std::make_shared<toolkit::Label>(frame);
    label->setText(text);
    label->setFont(std::move(font));
    label->setTextColor(toolkit::Color::label());
    label->setNumberOfLines(lines);
    return label;
}

std::shared_ptr<toolkit::Button> makeButton(const toolkit::Rect& frame, const std::string& title,
                                            std::function<void()> action) {
    auto button = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
    button->setFrame(frame);
    button->setTitle(title, toolkit::kStateNormal);
    button->setBackgroundColor(toolkit::Color::systemGray5());
    button->layer().cornerRadius = 8;
    button->addAction([action = std::move(action)](toolkit::Control&, const toolkit::Event*) { action(); },
                      toolkit::kTouchUpInside);
    return button;
}

std::optional<services::NotificationCategory> categoryNamed(const std::string& identifier) {
    if (identifier.empty()) return std::nullopt;
    for (auto& category : services::NotificationSettings::shared().notificationCategories())
        if (category.identifier == identifier) return category;
    return std::nullopt;
}

}  // namespace

// ---- banners

struct NotificationBanners::FieldDelegate : toolkit::TextFieldDelegate {
    std::function<void()> returned;
    bool textFieldShouldReturn(toolkit::TextField&) override {
        if (returned) returned();
        return false;
    }
};

NotificationBanners::NotificationBanners(toolkit::Window& window) : window_(window) {}

NotificationBanners::~NotificationBanners() { close(); }

void NotificationBanners::update(double now) {
    for (auto& n : services::UserNotificationCenter::currentNotificationCenter()->deliverDueRequests(now))
        waiting_.push_back(std::move(n));
    if (typing_ && field_ && field_->text() != typed_) {
        typed_ = field_->text();
        shownAt_ = now;
        // The loop wakes when the field is due to go, however idle the window is then.
        dispatch::Queue::main()->after(kShownFor + 0.05, [] {});
    }
    if (card_ && now - shownAt_ >= kShownFor) close();
    if (!card_ && !waiting_.empty()) {
        auto next = std::move(waiting_.front());
        waiting_.pop_front();
        show(std::move(next), now);
    }
}

void NotificationBanners::close() {
    if (field_ && field_->isFirstResponder()) field_->resignFirstResponder();
    if (card_) card_->removeFromSuperview();
    card_.reset();
    field_.reset();
    shown_.reset();
    typing_ = false;
    typed_.clear();
}

void NotificationBanners::show(services::DeliveredNotification notification, double now) {
    close();
    const auto& content = notification.request.content;
    const auto category = categoryNamed(content.categoryIdentifier);
    const bool actions = category && !category->actions.empty();
    auto card = makeCard(window_, kBannerTextHeight + (actions ? kRowHeight + kPadding : 0));
    const double width = card->bounds().width();
    // The whole text is the tap target: it opens the notification.
    auto open = std::make_shared<toolkit::Button>(toolkit::ButtonType::Custom);
    open->setFrame(toolkit::Rect(0, 0, width, kBannerTextHeight));
    open->accessibility().label = content.title.empty() ? content.body : content.title;
    open->addAction(
        [this](toolkit::Control&, const toolkit::Event*) {
            respond(services::kNotificationDefaultActionIdentifier, std::nullopt);
        },
        toolkit::kTouchUpInside);
    card->addSubview(open);
    card->addSubview(makeLabel(toolkit::Rect(kPadding, kPadding, width - 2 * kPadding, kTitleHeight), content.title,
                               toolkit::Font::boldSystem(15), 1));
    card->addSubview(makeLabel(toolkit::Rect(kPadding, kPadding + kTitleHeight, width - 2 * kPadding, kBodyHeight),
                               content.body, toolkit::Font::system(15), 2));
    if (actions) {
        const size_t n = category->actions.size();
        const double w = (width - 2 * kPadding - kGap * static_cast<double>(n - 1)) / static_cast<double>(n);
        for (size_t i = 0; i < n; ++i) {
            const auto action = category->actions[i];
            const toolkit::Rect frame(kPadding + static_cast<double>(i) * (w + kGap), kBannerTextHeight, w, kRowHeight);
            card->addSubview(makeButton(frame, action.title, [this, action] {
                if (action.textInput)
                    askForText(action);
                else
                    respond(action.identifier, std::nullopt);
            }));
        }
    }
    window_.addSubview(card);
    card_ = std::move(card);
    shown_ = std::move(notification);
    shownAt_ = now;
}

void NotificationBanners::askForText(const services::NotificationAction& action) {
    if (!card_) return;
    // The actions give way to the field and its button.
    for (const auto& view : std::vector<std::shared_ptr<toolkit::View>>(card_->subviews()))
        if (view->frame().minY() >= kBannerTextHeight) view->removeFromSuperview();
    const double width = card_->bounds().width();
    const double buttonWidth = 72;
    field_ = std::make_shared<toolkit::TextField>(
        toolkit::Rect(kPadding, kBannerTextHeight, width - 2 * kPadding - buttonWidth - kGap, kRowHeight));
    field_->setPlaceholder(action.textInputPlaceholder);
    field_->setBorderStyle(toolkit::TextBorderStyle::RoundedRect);
    field_->returnKeyType = toolkit::ReturnKeyType::Send;
    const std::string identifier = action.identifier;
    auto send = [this, identifier] { respond(identifier, field_ ? field_->text() : std::string()); };
    fieldDelegate_ = std::make_shared<FieldDelegate>();
    fieldDelegate_->returned = send;
    field_->delegate = fieldDelegate_;
    card_->addSubview(field_);
    card_->addSubview(
        makeButton(toolkit::Rect(width - kPadding - buttonWidth, kBannerTextHeight, buttonWidth, kRowHeight),
                   action.textInputButtonTitle.empty() ? action.title : action.textInputButtonTitle, send));
    typing_ = true;
    typed_.clear();
    // Opening the field counts as the first change: the time starts again.
    shownAt_ = dispatch::clock().now();
    dispatch::Queue::main()->after(kShownFor + 0.05, [] {});
    field_->becomeFirstResponder();
}

void NotificationBanners::respond(const std::string& action, std::optional<std::string> text) {
    if (!shown_) return;
    services::NotificationResponse response{action, shown_->request.content.userInfo, std::move(text)};
    // The banner goes before the app acts: what the response opens is not covered by it.
    close();
    services::UserNotificationCenter::currentNotificationCenter()->respond(response);
}

// ---- notices

void Notice::show(const std::string& text, double now) {
    close();
    const toolkit::Rect safe = window_.safeAreaLayoutFrame();
    const double width = std::min(kMaxWidth, window_.bounds().width() - 2 * kMargin);
    const double height = kPadding + kTitleHeight * 2 + kPadding;
    auto card = makeCard(window_, height);
    // Above the bars at the bottom (tab bar, reply bar), which stay usable under it: it takes no
    // touches.
    card->setFrame(
        toolkit::Rect((window_.bounds().width() - width) / 2, safe.maxY() - height - kBarClearance, width, height));
    card->setBackgroundColor(toolkit::Color::systemGray6());
    card->setUserInteractionEnabled(false);
    auto label = makeLabel(toolkit::Rect(kPadding, kPadding, width - 2 * kPadding, kTitleHeight * 2), text,
                           toolkit::Font::system(15), 2);
    label->setTextAlignment(toolkit::TextAlignment::center);
    card->addSubview(label);
    window_.addSubview(card);
    card_ = std::move(card);
    text_ = text;
    shownAt_ = now;
}

void Notice::update(double now) {
    if (card_ && now - shownAt_ >= kShownFor) close();
}

void Notice::close() {
    if (card_) card_->removeFromSuperview();
    card_.reset();
    text_.clear();
}

// ---- prompts

struct Prompt::FieldDelegate : toolkit::TextFieldDelegate {
    Prompt* prompt = nullptr;
    bool textFieldShouldReturn(toolkit::TextField&) override {
        if (prompt) prompt->submitted();
        return false;
    }
};

std::unique_ptr<Prompt> Prompt::open(toolkit::Window& window, Setup setup) {
    std::unique_ptr<Prompt> prompt(new Prompt(window, std::move(setup)));
    prompt->build();
    return prompt;
}

Prompt::Prompt(toolkit::Window& window, Setup setup) : window_(window), setup_(std::move(setup)) {}

Prompt::~Prompt() { close(); }

void Prompt::build() {
    card_ = makeCard(window_, kPromptFieldTop + kRowHeight + kPadding);
    const double width = card_->bounds().width();
    card_->addSubview(makeLabel(toolkit::Rect(kPadding, kPadding, width - 2 * kPadding, kTitleHeight), setup_.title,
                                toolkit::Font::boldSystem(15), 1));
    field_ = std::make_shared<toolkit::TextField>(
        toolkit::Rect(kPadding, kPromptFieldTop, width - 2 * kPadding, kRowHeight));
    field_->setPlaceholder(setup_.placeholder);
    field_->setBorderStyle(toolkit::TextBorderStyle::RoundedRect);
    field_->returnKeyType = setup_.listsHits ? toolkit::ReturnKeyType::Search : toolkit::ReturnKeyType::Go;
    fieldDelegate_ = std::make_shared<FieldDelegate>();
    fieldDelegate_->prompt = this;
    field_->delegate = fieldDelegate_;
    card_->addSubview(field_);
    window_.addSubview(card_);
    field_->becomeFirstResponder();
}

void Prompt::close() {
    if (fieldDelegate_) fieldDelegate_->prompt = nullptr;
    if (field_ && field_->isFirstResponder()) field_->resignFirstResponder();
    if (card_) card_->removeFromSuperview();
    card_.reset();
}

void Prompt::submitted() {
    const std::string text = field_->text();
    std::vector<Hit> hits = setup_.submit ? setup_.submit(text) : std::vector<Hit>{};
    if (!setup_.listsHits) return close();
    hits_ = std::move(hits);
    layoutHits();
}

void Prompt::layoutHits() {
    for (auto& view : hitViews_) view->removeFromSuperview();
    hitViews_.clear();
    const double width = card_->bounds().width();
    double y = kPromptFieldTop + kRowHeight + kGap;
    if (hits_.empty()) {
        auto none = makeLabel(toolkit::Rect(kPadding, y, width - 2 * kPadding, kTitleHeight), "No Results",
                              toolkit::Font::system(15), 1);
        none->setTextColor(toolkit::Color::secondaryLabel());
        card_->addSubview(none);
        hitViews_.push_back(none);
        y += kTitleHeight + kGap;
    }
    for (const auto& hit : hits_) {
        const std::string value = hit.value;
        auto button = makeButton(toolkit::Rect(kPadding, y, width - 2 * kPadding, kRowHeight * 1.5),
                                 hit.detail.empty() ? hit.title : hit.title + "\n" + hit.detail, [this, value] {
                                     auto choose = setup_.choose;
                                     close();
                                     if (choose) choose(value);
                                 });
        button->titleLabel()->setNumberOfLines(2);
        button->titleLabel()->setFont(toolkit::Font::system(14));
        card_->addSubview(button);
        hitViews_.push_back(button);
        y += kRowHeight * 1.5 + kGap;
    }
    toolkit::Rect frame = card_->frame();
    frame.size.height = y + kPadding - kGap;
    card_->setFrame(frame);
}

}  // namespace windowing
