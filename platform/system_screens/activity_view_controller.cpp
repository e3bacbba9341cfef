#include "platform/system_screens/activity_view_controller.h"

#include <algorithm>

#include "platform/foundation/files.h"
#include "platform/foundation/url.h"
#include "platform/foundation/uti.h"
#include "platform/services/media_track_reader.h"
#include "platform/services/photos.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/window.h"

namespace system_screens {

namespace {

constexpr const char* kURLType = "public.url";
constexpr const char* kActivityErrorDomain = "HXActivityErrorDomain";
enum : int64_t { kActivityCannotSave = 1, kActivityUnreadableFile = 2, kActivityPhotosDenied = 3 };

foundation::Error activityError(int64_t code, const std::string& description) {
    return foundation::Error::withDescription(kActivityErrorDomain, code, description);
}

// The picture format of bytes, if they are a picture.
std::optional<std::string> pictureType(const foundation::Data& data) {
    auto header = graphics::readImageHeader(data.data(), data.size());
    if (!header) return std::nullopt;
    return header.value().format;
}

// The bytes and type of a file URL naming a movie.
std::optional<std::pair<foundation::Data, std::string>> movieFile(const std::string& url) {
    const auto parsed = foundation::URL::parse(url);
    if (!parsed || !parsed->isFileURL()) return std::nullopt;
    auto bytes = foundation::files::readData(parsed->path());
    if (!bytes) return std::nullopt;
    auto tracks = services::readMediaTracks(bytes.value());
    if (!tracks || !services::firstVideoTrack(tracks.value())) return std::nullopt;
    auto type = foundation::typeIdentifierForFilenameExtension(parsed->pathExtension());
    return std::make_pair(std::move(bytes).value(), type.value_or(foundation::kTypeMPEG4));
}

bool saveable(const ActivityItem& item) {
    switch (item.kind) {
        case ActivityItem::Kind::Image:
            return item.image != nullptr;
        case ActivityItem::Kind::Data:
            return pictureType(item.data).has_value();
        case ActivityItem::Kind::URL: {
            // Decided by the URL alone: a file of a movie type.
            const auto parsed = foundation::URL::parse(item.text);
            if (!parsed || !parsed->isFileURL()) return false;
            auto type = foundation::typeIdentifierForFilenameExtension(parsed->pathExtension());
            return type && foundation::typeConformsTo(*type, foundation::kTypeMovie);
        }
        case ActivityItem::Kind::None:
        case ActivityItem::Kind::Text:
            return false;
    }
    return false;
}

}  // namespace

ActivityViewController::ActivityViewController(std::vector<Entry> items) : entries_(std::move(items)) {
    bool allSaveable = !entries_.empty();
    for (auto& entry : entries_) {
        ActivityItem placeholder;
        if (entry.item) {
            placeholder = *entry.item;
        } else if (auto source = entry.source.lock()) {
            placeholder = source->activityViewControllerPlaceholderItem(*this);
            if (!metadata_) metadata_ = source->activityViewControllerLinkMetadata(*this);
        }
        allSaveable = allSaveable && saveable(placeholder);
        placeholders_.push_back(std::move(placeholder));
    }
    titles_.push_back(kActivityCopyTitle);
    if (allSaveable) titles_.push_back(kActivitySaveTitle);
}

std::vector<ActivityItem> ActivityViewController::resolve(const std::string& activityType) {
    std::vector<ActivityItem> items;
    for (auto& entry : entries_) {
        if (entry.item) {
            items.push_back(*entry.item);
        } else if (auto source = entry.source.lock()) {
            items.push_back(source->activityViewControllerItemForActivityType(*this, activityType));
        }
    }
    return items;
}

std::optional<foundation::Error> ActivityViewController::copy(const std::vector<ActivityItem>& items) {
    std::vector<toolkit::Pasteboard::Item> pasteboardItems;
    for (const auto& item : items) {
        // Each item goes the way the pasteboard's own setters put it there.
        toolkit::Pasteboard one;
        switch (item.kind) {
            case ActivityItem::Kind::Image:
                one.setImage(item.image);
                break;
            case ActivityItem::Kind::Data:
                one.setData(item.data, pictureType(item.data).value_or(foundation::kTypeData));
                break;
            case ActivityItem::Kind::URL:
                one.setData(foundation::Data(item.text.begin(), item.text.end()), kURLType);
                break;
            case ActivityItem::Kind::Text:
                one.setString(item.text);
                break;
            case ActivityItem::Kind::None:
                break;
        }
        for (const auto& it : one.items()) pasteboardItems.push_back(it);
    }
    toolkit::Pasteboard::general().setItems(std::move(pasteboardItems));
    return std::nullopt;
}

std::optional<foundation::Error> ActivityViewController::save(const std::vector<ActivityItem>& items) {
    const auto status = services::PhotoLibrary::authorizationStatus();
    if (status == services::PhotoAuthorizationStatus::Denied ||
        status == services::PhotoAuthorizationStatus::Restricted)
        return activityError(kActivityPhotosDenied, "The app may not add to the photo library.");
    for (const auto& item : items) {
        foundation::Result<std::string> saved = activityError(kActivityCannotSave, "This item cannot be saved.");
        if (item.kind == ActivityItem::Kind::Image) {
            saved = services::PhotoLibrary::saveImage(item.image);
        } else if (item.kind == ActivityItem::Kind::Data) {
            // Picture bytes are kept as they are (an animated GIF stays animated).
            if (auto type = pictureType(item.data)) saved = services::PhotoLibrary::addAsset(item.data, *type);
        } else if (item.kind == ActivityItem::Kind::URL) {
            if (auto movie = movieFile(item.text))
                saved = services::PhotoLibrary::addAsset(movie->first, movie->second);
            else
                saved = activityError(kActivityUnreadableFile, "The movie file could not be read.");
        }
        if (!saved) return saved.error();
    }
    return std::nullopt;
}

bool ActivityViewController::perform(const std::string& title) {
    if (!presentingViewController()) return false;
    std::string type;
    if (title == kActivityCopyTitle) type = kActivityTypeCopyToPasteboard;
    if (title == kActivitySaveTitle) type = kActivityTypeSaveToCameraRoll;
    if (type.empty() || std::find(titles_.begin(), titles_.end(), title) == titles_.end()) return false;
    const auto items = resolve(type);
    auto error = type == kActivityTypeCopyToPasteboard ? copy(items) : save(items);
    finish(type, !error, std::move(error));
    return true;
}

bool ActivityViewController::cancel() {
    if (!presentingViewController()) return false;
    finish({}, false, std::nullopt);
    return true;
}

void ActivityViewController::finish(const std::string& activityType, bool completed,
                                    std::optional<foundation::Error> error) {
    // The completion may drop the last reference to the sheet: keep it until the end.
    auto keep = selfPtr();
    auto completion = completionWithItemsHandler;
    dismiss(true, [completion, activityType, completed, error] {
        if (completion) completion(activityType, completed, error);
    });
}

void ActivityViewController::loadView() {
    auto root = std::make_shared<toolkit::View>(toolkit::Rect{0, 0, 320, 260});
    root->setBackgroundColor(graphics::Color::secondarySystemBackground());
    root->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    setView(root);
    header_ = std::make_shared<toolkit::View>();
    header_->setBackgroundColor(graphics::Color::systemBackground());
    root->addSubview(header_);
    title_ = std::make_shared<toolkit::Label>();
    title_->setText(metadata_ ? metadata_->title : std::string());
    title_->setFont(graphics::Font::boldSystem(15));
    title_->setTextColor(graphics::Color::label());
    header_->addSubview(title_);
    if (metadata_ && metadata_->imageProvider) {
        if (auto picture = metadata_->imageProvider()) {
            auto imageView = std::make_shared<toolkit::ImageView>(picture);
            imageView->setContentMode(toolkit::ContentMode::ScaleAspectFill);
            imageView->setClipsToBounds(true);
            imageView->setTag(1);
            header_->addSubview(imageView);
        }
    }
    for (const auto& t : titles_) {
        auto button = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
        button->setTitle(t, toolkit::kStateNormal);
        button->setBackgroundColor(graphics::Color::systemBackground());
        button->addAction([this, t](toolkit::Control&, const toolkit::Event*) { perform(t); }, toolkit::kTouchUpInside);
        root->addSubview(button);
        buttons_.push_back(button);
    }
    close_ = std::make_shared<toolkit::Button>(toolkit::ButtonType::Close);
    close_->addAction([this](toolkit::Control&, const toolkit::Event*) { cancel(); }, toolkit::kTouchUpInside);
    root->addSubview(close_);
}

void ActivityViewController::viewDidLayoutSubviews() {
    const auto b = view()->bounds();
    const double top = b.origin.y + view()->safeAreaInsets().top;
    header_->setFrame({b.origin.x, top, b.size.width, 64});
    double x = 16;
    for (const auto& sub : header_->subviews())
        if (sub->tag() == 1) {
            sub->setFrame({16, 10, 44, 44});
            x = 70;
        }
    title_->setFrame({x, 10, b.size.width - x - 56, 44});
    close_->setFrame({b.size.width - 46, top + 16, 30, 30});
    double y = top + 80;
    for (const auto& button : buttons_) {
        button->setFrame({b.origin.x + 16, y, b.size.width - 32, 44});
        y += 52;
    }
}

}  // namespace system_screens
