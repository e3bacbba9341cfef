// What the system itself lays over the app in the window: the banner of a delivered notification
// (tapped, it opens the notification; its category's actions sit under its text, a text-input
// action asking for the text first), and a one-field prompt at the top (the address to open,
// or a search of the on-device index whose hits are listed under the field). Each is a card of
// toolkit views added to the window over everything else; the front end owns them. A notice
// tells what the system did with a URL the app opened.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/value.h"
#include "platform/services/device.h"
#include "platform/services/user_notifications.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/window.h"

namespace windowing {

class NotificationBanners {
public:
    // How long a banner stays when nothing is done with it.
    static constexpr double kShownFor = 6.0;

    explicit NotificationBanners(toolkit::Window& window);
    ~NotificationBanners();
    NotificationBanners(const NotificationBanners&) = delete;
    NotificationBanners& operator=(const NotificationBanners&) = delete;

    // Delivers the centre's requests that are due, each to be shown in turn; takes a banner away
    // once it has shown long enough, and shows the next. A banner whose text is being typed
    // counts from the last change of its text, so a field left alone goes as the others do.
    void update(double now);
    // A text-input action's field is open on the banner.
    bool isTyping() const { return typing_; }
    // Delivered and not yet shown.
    size_t waiting() const { return waiting_.size(); }
    // The banner on screen, nullptr when none.
    toolkit::View* banner() const { return card_.get(); }
    // The notification it shows.
    const std::optional<services::DeliveredNotification>& shown() const { return shown_; }
    void close();

private:
    struct FieldDelegate;
    void show(services::DeliveredNotification notification, double now);
    void respond(const std::string& action, std::optional<std::string> text);
    void askForText(const services::NotificationAction& action);

    toolkit::Window& window_;
    std::shared_ptr<toolkit::View> card_;
    std::optional<services::DeliveredNotification> shown_;
    std::deque<services::DeliveredNotification> waiting_;
    double shownAt_ = 0;
    bool typing_ = false;
    std::string typed_;
    std::shared_ptr<toolkit::TextField> field_;
    std::shared_ptr<FieldDelegate> fieldDelegate_;
};

// What the device shows when the app hands something to the system (a number to call, a page to
// open): a small card near the bottom of the window with the system's words for it, gone after a
// few seconds; touches pass through it. A newer one takes the place of the one shown.
class Notice {
public:
    static constexpr double kShownFor = 4.0;
    explicit Notice(toolkit::Window& window) : window_(window) {}
    ~Notice() { close(); }
    Notice(const Notice&) = delete;
    Notice& operator=(const Notice&) = delete;

    void show(const std::string& text, double now);
    // Takes the card away once it has shown long enough.
    void update(double now);
    void close();
    // The card on screen, nullptr when none, and its text.
    toolkit::View* card() const { return card_.get(); }
    const std::string& text() const { return text_; }

private:
    toolkit::Window& window_;
    std::shared_ptr<toolkit::View> card_;
    std::string text_;
    double shownAt_ = 0;
};

// A prompt with one field at the top of the window. Return hands the text to submit; Escape (or
// another prompt) closes it. A search prompt lists what submit returns under the field, each a
// button that hands its value to choose and closes the prompt.
class Prompt {
public:
    struct Hit {
        std::string title;
        std::string detail;
        std::string value;
    };
    struct Setup {
        std::string title;
        std::string placeholder;
        // Answers the hits to list (a prompt without hits closes on Return).
        std::function<std::vector<Hit>(const std::string& text)> submit;
        std::function<void(const std::string& value)> choose;
        bool listsHits = false;
    };

    static std::unique_ptr<Prompt> open(toolkit::Window& window, Setup setup);
    ~Prompt();
    Prompt(const Prompt&) = delete;
    Prompt& operator=(const Prompt&) = delete;

    void close();
    bool isOpen() const { return card_ != nullptr; }
    const std::vector<Hit>& hits() const { return hits_; }
    toolkit::TextField& field() const { return *field_; }

private:
    struct FieldDelegate;
    Prompt(toolkit::Window& window, Setup setup);
    void build();
    void submitted();
    void layoutHits();

    toolkit::Window& window_;
    Setup setup_;
    std::shared_ptr<toolkit::View> card_;
    std::shared_ptr<toolkit::TextField> field_;
    std::shared_ptr<FieldDelegate> fieldDelegate_;
    std::vector<std::shared_ptr<toolkit::View>> hitViews_;
    std::vector<Hit> hits_;
};

}  // namespace windowing
