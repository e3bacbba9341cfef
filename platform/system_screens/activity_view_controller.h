// The system's share sheet: it shares the items it was made with, each a plain item (a picture,
// bytes, a URL, a text) or an item source it asks when it needs to: the placeholder when the sheet
// is made (which decides the activities offered), the link metadata for its header (title and
// picture), and the item itself for the activity the user chose. Two activities stand for the
// many of a device: "Copy" (to the general pasteboard) and "Save" (to the photo library, offered
// for pictures, picture bytes and movie files). The harness, like the user, picks one by title or
// cancels; the sheet closes itself and its completion hears what happened. Main thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/graphics/image.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/view_controller.h"

namespace system_screens {

inline constexpr const char* kActivityTypeCopyToPasteboard = "platform.activity.copy-to-pasteboard";
inline constexpr const char* kActivityTypeSaveToCameraRoll = "platform.activity.save-to-camera-roll";
inline constexpr const char* kActivityCopyTitle = "Copy";
inline constexpr const char* kActivitySaveTitle = "Save";

// One shareable thing.
struct ActivityItem {
    enum class Kind { None, Image, Data, URL, Text };
    Kind kind = Kind::None;
    graphics::ImagePtr image;
    foundation::Data data;
    std::string text;  // the URL's or the text's

    static ActivityItem ofImage(graphics::ImagePtr image) { return {Kind::Image, std::move(image), {}, {}}; }
    static ActivityItem ofData(foundation::Data data) { return {Kind::Data, nullptr, std::move(data), {}}; }
    static ActivityItem ofURL(std::string url) { return {Kind::URL, nullptr, {}, std::move(url)}; }
    static ActivityItem ofText(std::string text) { return {Kind::Text, nullptr, {}, std::move(text)}; }
};

// The header the sheet shows for its item.
struct LinkMetadata {
    std::string title;
    std::function<graphics::ImagePtr()> imageProvider;
    std::function<graphics::ImagePtr()> iconProvider;
};

class ActivityViewController;

class ActivityItemSource {
public:
    virtual ~ActivityItemSource() = default;
    virtual ActivityItem activityViewControllerPlaceholderItem(ActivityViewController& controller) = 0;
    virtual ActivityItem activityViewControllerItemForActivityType(ActivityViewController& controller,
                                                                   const std::string& activityType) = 0;
    virtual std::optional<LinkMetadata> activityViewControllerLinkMetadata(ActivityViewController&) {
        return std::nullopt;
    }
};

class ActivityViewController : public toolkit::ViewController {
public:
    // An item, or a source asked for it (held weakly, as the system does).
    struct Entry {
        std::optional<ActivityItem> item;
        std::weak_ptr<ActivityItemSource> source;
    };
    // activityType is empty for a cancel; error is set when the chosen activity failed.
    using Completion = std::function<void(const std::string& activityType, bool completed,
                                          const std::optional<foundation::Error>& error)>;

    // Asks every source for its placeholder and link metadata at once.
    explicit ActivityViewController(std::vector<Entry> items);
    std::string className() const override { return "UIActivityViewController"; }

    Completion completionWithItemsHandler;

    // The activities offered, by title, in order ("Copy", then "Save" when every item can be
    // saved).
    const std::vector<std::string>& activityTitles() const { return titles_; }
    const std::optional<LinkMetadata>& linkMetadata() const { return metadata_; }
    // What the sources' placeholders were.
    const std::vector<ActivityItem>& placeholders() const { return placeholders_; }

    // The user chose an activity by title: false (nothing happens) for one not offered or while
    // the sheet is not on screen. The sheet asks the sources for their items, performs the
    // activity, closes, and tells the completion.
    bool perform(const std::string& title);
    // The responder's perform(action, sender) stays callable beside it.
    using toolkit::ViewController::perform;
    bool cancel();

    void loadView() override;
    void viewDidLayoutSubviews() override;

private:
    std::vector<ActivityItem> resolve(const std::string& activityType);
    std::optional<foundation::Error> copy(const std::vector<ActivityItem>& items);
    std::optional<foundation::Error> save(const std::vector<ActivityItem>& items);
    void finish(const std::string& activityType, bool completed, std::optional<foundation::Error> error);

    std::vector<Entry> entries_;
    std::vector<ActivityItem> placeholders_;
    std::optional<LinkMetadata> metadata_;
    std::vector<std::string> titles_;
    std::shared_ptr<toolkit::View> header_;
    std::shared_ptr<toolkit::Label> title_;
    std::vector<std::shared_ptr<toolkit::Button>> buttons_;
    std::shared_ptr<toolkit::Button> close_;
};

}  // namespace system_screens
