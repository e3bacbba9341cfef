// What the user does with an attachment row of a text conversation: a tap opens it (a picture full
// screen, a contact card, the system player for sound and video), a long press of two seconds
// fetches it again, and the context menu copies, saves, shares or reloads it under a live preview,
// which a tap on it opens full size. Also the picture the share sheet asks the screen for.
#include <filesystem>

#include "model/cache.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "platform/graphics/color.h"
#include "platform/graphics/named_images.h"
#include "platform/services/audio_session.h"
#include "platform/services/contacts.h"
#include "platform/services/photos.h"
#include "platform/system_screens/contact_picker.h"
#include "platform/system_screens/player_view_controller.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/traits.h"
#include "platform/toolkit/window.h"
#include "service/list_parse_environment.h"
#include "ui/conversation/conversation_screens_shared.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/widgets/hxc_animated_image_view.h"
#include "ui/widgets/mms_pictures.h"

using foundation::localizedString;

namespace {

// The picture being shared from a menu.
foundation::Data& shareData() { return hxConversationScreensShared().shareData; }
std::string& shareType() { return hxConversationScreensShared().shareType; }

constexpr const char* kMPEG4Type = "public.mpeg-4";

bool isStillPictureType(const std::string& type) {
    return foundation::hasPrefix(type, "image/") && type != "image/gif";
}

graphics::ImagePtr decoded(const foundation::Data& bytes) {
    auto image = graphics::Image::fromEncoded(bytes);
    return image.ok() && !image.value()->decodeError() ? image.value() : nullptr;
}

// The share sheet's source for the screens: it reads the picture being shared.
class ConversationShareSource final : public system_screens::ActivityItemSource {
public:
    system_screens::ActivityItem
    activityViewControllerPlaceholderItem(system_screens::ActivityViewController&) override {
        return VC_Conversation::shareItem();
    }
    system_screens::ActivityItem activityViewControllerItemForActivityType(system_screens::ActivityViewController&,
                                                                           const std::string&) override {
        return VC_Conversation::shareItem();
    }
    std::optional<system_screens::LinkMetadata>
    activityViewControllerLinkMetadata(system_screens::ActivityViewController&) override {
        return VC_Conversation::shareLinkMetadata();
    }
};

const std::shared_ptr<ConversationShareSource>& shareSource() {
    static const auto source = std::make_shared<ConversationShareSource>();
    return source;
}

std::optional<foundation::Data> readFile(const std::string& path) {
    if (path.empty() || !foundation::files::exists(path)) return std::nullopt;
    auto bytes = foundation::files::readData(path);
    if (!bytes.ok()) return std::nullopt;
    return std::move(bytes).value();
}

}  // namespace

struct VC_Conversation::TappedAttachment {
    HXAttachment attachment;
    toolkit::IndexPath indexPath;
};

system_screens::ActivityItem VC_Conversation::shareItem() {
    if (isStillPictureType(shareType()))
        if (auto image = decoded(shareData())) return system_screens::ActivityItem::ofImage(image);
    return system_screens::ActivityItem::ofData(shareData());
}

std::optional<system_screens::LinkMetadata> VC_Conversation::shareLinkMetadata() {
    system_screens::LinkMetadata metadata;
    metadata.title = foundation::format(localizedString("Image Attachment%@"), std::string());
    auto image = decoded(shareData());
    metadata.imageProvider = [image] { return image; };
    metadata.iconProvider = [image] { return image; };
    return metadata;
}

void VC_Conversation::installAttachmentGestures() {
    if (!tableView_ || attachmentGesturesInstalled_) return;
    attachmentGesturesInstalled_ = true;
    auto weak = weakSelf<VC_Conversation>();
    auto tap = std::make_shared<toolkit::TapGestureRecognizer>([weak](toolkit::GestureRecognizer& r) {
        if (r.state() != toolkit::GestureState::Ended) return;
        if (auto self = weak.lock()) self->handleTap(r.locationInView(self->tableView_.get()));
    });
    // A double tap replies; it does not open what its first tap hit. A press that opened the row's
    // menu is no tap either.
    if (doubleTap_) tap->requireGestureRecognizerToFail(doubleTap_);
    for (const auto& recognizer : tableView_->gestureRecognizers())
        if (std::dynamic_pointer_cast<toolkit::LongPressGestureRecognizer>(recognizer))
            tap->requireGestureRecognizerToFail(recognizer);
    tap->setCancelsTouchesInView(false);
    tableView_->addGestureRecognizer(tap);
    // From system 13 on a press opens the row's menu, whose "Reload" does the same.
    if (toolkit::Device::current().systemVersionAtLeast(13)) return;
    auto press = std::make_shared<toolkit::LongPressGestureRecognizer>([weak](toolkit::GestureRecognizer& r) {
        if (r.state() != toolkit::GestureState::Ended) return;
        if (auto self = weak.lock()) self->handleLongTap(r.locationInView(self->tableView_.get()));
    });
    press->minimumPressDuration = kReloadPressSeconds;
    tableView_->addGestureRecognizer(press);
}

std::optional<VC_Conversation::TappedAttachment> VC_Conversation::attachmentAtPoint(toolkit::Point inTable) {
    if (conversationType() != 1 || !tableView_) return std::nullopt;
    auto indexPath = tableView_->indexPathForRowAtPoint(inTable);
    if (!indexPath) return std::nullopt;
    return attachmentAtRow(*indexPath);
}

std::optional<VC_Conversation::TappedAttachment> VC_Conversation::attachmentAtRow(toolkit::IndexPath indexPath) {
    if (conversationType() != 1 || !messageAt(indexPath.section)) return std::nullopt;
    auto attachment = attachmentAt(indexPath);
    if (!attachment || attachment->id.empty()) return std::nullopt;
    return TappedAttachment{*attachment, indexPath};
}

void VC_Conversation::handleTap(toolkit::Point inTable) {
    if (noteView_ && tableView_)
        if (auto* paper = noteView_->viewWithTag(kNoteImageTag)) {
            const toolkit::Point p = tableView_->convertPointTo(inTable, paper);
            if (paper->bounds().contains(p)) {
                editNote();
                return;
            }
        }
    // A tap while the reply is typed only closes the keyboard.
    if (inputToolbar_ && inputToolbar_->textView() && inputToolbar_->textView()->isFirstResponder()) {
        (void)inputToolbar_->textView()->resignFirstResponder();
        return;
    }
    auto tapped = attachmentAtPoint(inTable);
    if (!tapped) return;
    const HXAttachment& a = tapped->attachment;
    auto r = role();
    if (!r) return;
    if (foundation::hasPrefix(a.mimeType, "image/")) {
        rememberTapPoint(inTable);
        std::optional<foundation::Data> bytes;
        if (auto cache = r->mediaCache()) {
            const std::string key = foundation::format("%@_ORIGINAL", a.id);
            if (auto object = cache->objectForKey(key)) {
                if (object->value.isData())
                    bytes = object->value.asData();
                else
                    cache->removeObjectForKey(key);
            }
        }
        graphics::ImagePtr still;
        std::shared_ptr<graphics::HXCAnimatedImage> animated;
        if (bytes) {
            if (a.isGIF())
                animated = graphics::HXCAnimatedImage::animatedImageWithGIFData(*bytes);
            else
                still = decoded(*bytes);
        }
        auto preview = makeImagePreview(a.id, still, animated);
        if (!still && !animated) r->downloadFullSizeImage(a.id, a.mimeType);
        if (preview) presentImagePreview(preview);
        return;
    }
    const std::string path = r->localURLForMedia(a.id, a.mimeType);
    if (a.mimeType == "text/x-vcard") {
        openVCard(path);
        return;
    }
    if (foundation::files::exists(path)) {
        showAVPlayerForLocalMediaAtPath(path);
        return;
    }
    // Once per attachment while the screen shows: the player opens when the file is in.
    if (std::find(awaitedMedia_.begin(), awaitedMedia_.end(), a.id) == awaitedMedia_.end()) {
        awaitedMedia_.push_back(a.id);
        foundation::NotificationCenter::defaultCenter().addObserver(
            this, a.id, [weak = weakSelf<VC_Conversation>(), id = a.id, path](const foundation::Notification&) {
                auto self = weak.lock();
                if (!self) return;
                foundation::NotificationCenter::defaultCenter().removeObserver(self.get(), id);
                std::erase(self->awaitedMedia_, id);
                if (foundation::files::exists(path)) self->showAVPlayerForLocalMediaAtPath(path);
            });
    }
    r->downloadMediaIfNeeded(a.id, a.mimeType, false);
}

void VC_Conversation::stopAwaitingMedia() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    for (const auto& id : awaitedMedia_) center.removeObserver(this, id);
    awaitedMedia_.clear();
}

std::shared_ptr<toolkit::ViewController>
VC_Conversation::makeImagePreview(const std::string& mediaID, graphics::ImagePtr still,
                                  std::shared_ptr<graphics::HXCAnimatedImage> animated) {
    if (!makers_.imagePreview) return nullptr;
    return makers_.imagePreview(mediaID, std::move(still), std::move(animated), previewTransitioningDelegate());
}

void VC_Conversation::presentImagePreview(const std::shared_ptr<toolkit::ViewController>& nav, bool animated) {
    if (auto* presenter = navigationController())
        presenter->present(nav, animated);
    else
        present(nav, animated);
}

void VC_Conversation::openVCard(const std::string& path) {
    auto bytes = readFile(path);
    if (!bytes) return;
    auto cards = services::readVCards(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    if (!cards.ok() || cards.value().empty()) return;
    // The screen answers for the cards it opens when it takes their delegate's part.
    auto delegate = std::dynamic_pointer_cast<system_screens::ContactViewControllerDelegate>(shared_from_this());
    std::shared_ptr<toolkit::ViewController> shown;
    if (cards.value().size() > 1) {
        shown = makers_.vCardPicker ? makers_.vCardPicker(*bytes, delegate) : nullptr;
        if (!shown) return;
    } else {
        auto card = system_screens::ContactViewController::forUnknownContact(cards.value().front());
        card->edgesForExtendedLayout = 0;
        card->contactStore = services::ContactStore::shared();
        card->allowsEditing = false;
        card->allowsActions = false;
        card->view()->setTintColor(graphics::Color::systemBlue());
        card->delegate = delegate;
        auto routing = roles_.routing.lock();
        if (!(routing && routing->iPad()))
            if (auto* window = view()->window()) window->setBackgroundColor(view()->backgroundColor());
        shown = card;
    }
    if (auto* nav = navigationController()) nav->pushViewController(shown, true);
}

void VC_Conversation::showAVPlayerForLocalMediaAtPath(const std::string& path) {
    auto* nav = navigationController();
    if (!nav) return;
    if (dynamic_cast<system_screens::PlayerViewController*>(nav->presentedViewController())) return;
    auto controller = std::make_shared<system_screens::PlayerViewController>();
    // A path with a space, "#" or "%" is a file URL only when encoded as one.
    controller->player = system_screens::Player::withURL(foundation::URL::fileURL(path).string());
    controller->modalPresentationStyle = toolkit::ModalPresentationStyle::OverFullScreen;
    nav->present(controller, true, [player = controller->player] {
        auto& session = services::AudioSession::shared();
        (void)session.setCategory(services::kAudioSessionCategoryPlayback);
        (void)session.setActive(true);
        player->play();
    });
}

void VC_Conversation::reloadAttachment(toolkit::IndexPath indexPath, const HXAttachment& a) {
    auto r = role();
    if (!r || !tableView_) return;
    const std::string path = r->localURLForMedia(a.id, a.mimeType);
    HXMediaFiles{std::filesystem::path(path).parent_path().string(), r->mediaCache()}.remove(a.id, a.mimeType);
    // The row asks for its picture again, however often it asked while the screen showed.
    forgetAskedThumbnails(a.id);
    messageSizes_.erase(sizeCacheKey(indexPath.section));
    tableView_->reloadRows({indexPath}, toolkit::RowAnimation::Automatic);
}

void VC_Conversation::handleLongTap(toolkit::Point inTable) {
    if (auto tapped = attachmentAtPoint(inTable)) reloadAttachment(tapped->indexPath, tapped->attachment);
}

namespace {

void savePicture(const foundation::Data& bytes, bool gif) {
    if (gif)
        (void)services::PhotoLibrary::addAsset(bytes, toolkit::kTypeGIF);
    else if (auto image = decoded(bytes))
        (void)services::PhotoLibrary::saveImage(image);
}

std::shared_ptr<toolkit::MenuAction> menuAction(const std::string& title, const char* symbol,
                                                toolkit::MenuAction::Handler handler,
                                                unsigned attributes = toolkit::kMenuElementNone) {
    return toolkit::MenuAction::make(localizedString(title), graphics::systemImageNamed(symbol), std::move(handler),
                                     attributes);
}

}  // namespace

void VC_Conversation::presentShareSheet(std::vector<system_screens::ActivityViewController::Entry> items) {
    auto sheet = std::make_shared<system_screens::ActivityViewController>(std::move(items));
    sheet->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
    if (auto* popover = sheet->popoverPresentationController()) {
        popover->permittedArrowDirections = toolkit::kArrowAny;
        popover->sourceView = tableView_;
        popover->sourceRect = {lastTapPoint().x, lastTapPoint().y, 1, 1};
    }
    present(sheet, true);
}

toolkit::ContextMenuConfigurationPtr
VC_Conversation::contextMenuConfiguration(toolkit::TableView&, toolkit::IndexPath indexPath, toolkit::Point point) {
    // Menus with previews are the system's from 13 on.
    if (!toolkit::Device::current().systemVersionAtLeast(13)) return nullptr;
    auto tapped = attachmentAtRow(indexPath);
    auto r = role();
    if (!tapped || !r) return nullptr;
    rememberTapPoint(point);
    const HXAttachment a = tapped->attachment;
    auto weak = weakSelf<VC_Conversation>();
    if (foundation::hasPrefix(a.mimeType, "image/")) {
        auto cache = r->mediaCache();
        std::optional<foundation::Data> bytes;
        if (cache)
            if (auto object = cache->objectForKey(foundation::format("%@_ORIGINAL", a.id));
                object && object->value.isData())
                bytes = object->value.asData();
        if (!bytes) {
            bytes = thumbnailFor(a.id);
            r->downloadFullSizeImage(a.id, a.mimeType);
        }
        if (!bytes) return nullptr;
        const foundation::Data data = *bytes;
        const bool gif = a.isGIF();
        auto preview = [data, gif]() -> std::shared_ptr<toolkit::ViewController> {
            auto controller = std::make_shared<toolkit::ViewController>();
            std::shared_ptr<toolkit::ImageView> shown;
            toolkit::Size size;
            if (gif) {
                auto animated = graphics::HXCAnimatedImage::animatedImageWithGIFData(data);
                auto view = std::make_shared<HXCAnimatedImageView>();
                view->setAnimatedImage(animated);
                if (animated && animated->posterImage()) size = animated->posterImage()->size();
                shown = view;
            } else {
                auto image = decoded(data);
                shown = std::make_shared<toolkit::ImageView>(image);
                if (image) size = image->size();
            }
            shown->setContentMode(toolkit::ContentMode::ScaleAspectFill);
            shown->setClipsToBounds(true);
            controller->setView(shown);
            controller->setPreferredContentSize(size);
            return controller;
        };
        auto actions = [weak, data, gif, a, indexPath](const std::vector<toolkit::MenuElementPtr>&) {
            auto copy = menuAction("Copy Image", "doc.on.doc", [data, gif](toolkit::MenuAction&) {
                if (gif)
                    toolkit::Pasteboard::general().setData(data, toolkit::kTypeGIF);
                else if (auto image = decoded(data))
                    toolkit::Pasteboard::general().setImage(image);
            });
            auto save = menuAction("Save Image", "square.and.arrow.down", [weak, data, gif](toolkit::MenuAction&) {
                using services::PhotoAuthorizationStatus;
                switch (services::PhotoLibrary::authorizationStatus()) {
                    case PhotoAuthorizationStatus::NotDetermined:
                        services::PhotoLibrary::requestAuthorization([data, gif](PhotoAuthorizationStatus answer) {
                            if (answer != PhotoAuthorizationStatus::Denied) savePicture(data, gif);
                        });
                        break;
                    case PhotoAuthorizationStatus::Denied:
                        if (auto self = weak.lock())
                            if (auto a = self->alerts()) a->presentAlert(hxPhotoLibraryDeniedAlert());
                        break;
                    default:
                        savePicture(data, gif);
                }
            });
            auto share = menuAction("Share Image\u2026", "square.and.arrow.up", [weak, data, a](toolkit::MenuAction&) {
                shareData() = data;
                shareType() = a.mimeType;
                if (auto self = weak.lock()) {
                    std::vector<system_screens::ActivityViewController::Entry> items(1);
                    items[0].source = shareSource();
                    self->presentShareSheet(std::move(items));
                }
            });
            auto reload = menuAction(
                "Reload Image", "arrow.counterclockwise",
                [weak, a, indexPath](toolkit::MenuAction&) {
                    if (auto self = weak.lock()) self->reloadAttachment(indexPath, a);
                },
                toolkit::kMenuElementDestructive);
            return toolkit::Menu::make("", {copy, save, share, reload});
        };
        return toolkit::ContextMenuConfiguration::make("", preview, actions);
    }
    if (foundation::hasPrefix(a.mimeType, "video/")) {
        const std::string path = r->localURLForMedia(a.id, a.mimeType);
        if (!foundation::files::exists(path)) {
            r->downloadMediaIfNeeded(a.id, a.mimeType, false);
            return nullptr;
        }
        const std::string url = foundation::URL::fileURL(path).string();
        std::optional<toolkit::Size> thumbnail;
        if (auto bytes = thumbnailFor(a.id))
            if (auto image = decoded(*bytes)) thumbnail = image->size();
        auto preview = [url, thumbnail]() -> std::shared_ptr<toolkit::ViewController> {
            auto controller = std::make_shared<system_screens::PlayerViewController>();
            controller->showsPlaybackControls = false;
            controller->player = system_screens::Player::withURL(url);
            controller->player->play();
            toolkit::Size size;
            if (controller->player->hasVideo()) {
                const auto upright = controller->player->presentationSize();
                size = {upright.width * 2, upright.height * 2};
            } else if (thumbnail) {
                size = *thumbnail;
            }
            if (size.width > 0) controller->setPreferredContentSize(size);
            return controller;
        };
        auto actions = [weak, path, url, a, indexPath](const std::vector<toolkit::MenuElementPtr>&) {
            auto copy = menuAction("Copy Video", "doc.on.doc", [path](toolkit::MenuAction&) {
                if (auto bytes = readFile(path)) toolkit::Pasteboard::general().setData(*bytes, kMPEG4Type);
            });
            auto share = menuAction("Share Video\u2026", "square.and.arrow.up", [weak, url](toolkit::MenuAction&) {
                if (auto self = weak.lock()) {
                    std::vector<system_screens::ActivityViewController::Entry> items(1);
                    items[0].item = system_screens::ActivityItem::ofURL(url);
                    self->presentShareSheet(std::move(items));
                }
            });
            auto reload = menuAction(
                "Reload Video", "arrow.counterclockwise",
                [weak, a, indexPath](toolkit::MenuAction&) {
                    if (auto self = weak.lock()) self->reloadAttachment(indexPath, a);
                },
                toolkit::kMenuElementDestructive);
            return toolkit::Menu::make("", {copy, share, reload});
        };
        return toolkit::ContextMenuConfiguration::make("", preview, actions);
    }
    return nullptr;
}

void VC_Conversation::willPerformPreviewAction(toolkit::TableView&, toolkit::ContextMenuConfiguration&,
                                               toolkit::ContextMenuCommitAnimator& animator) {
    auto previewController = animator.previewViewController();
    if (!previewController) return;
    auto weak = weakSelf<VC_Conversation>();
    if (auto player = std::dynamic_pointer_cast<system_screens::PlayerViewController>(previewController)) {
        animator.preferredCommitStyle = toolkit::PreviewCommitStyle::Pop;
        player->modalPresentationStyle = toolkit::ModalPresentationStyle::OverFullScreen;
        player->showsPlaybackControls = true;
        animator.addCompletion([weak, player] {
            auto self = weak.lock();
            if (!self) return;
            if (auto* nav = self->navigationController())
                nav->present(player, true);
            else
                self->present(player, true);
        });
        return;
    }
    auto shownView = previewController->viewIfLoaded();
    graphics::ImagePtr still;
    std::shared_ptr<graphics::HXCAnimatedImage> animated;
    if (auto animatedView = std::dynamic_pointer_cast<HXCAnimatedImageView>(shownView);
        animatedView && animatedView->animatedImage())
        animated = animatedView->animatedImage();
    else if (auto imageView = std::dynamic_pointer_cast<toolkit::ImageView>(shownView))
        still = imageView->image();
    if (!still && !animated) return;
    auto preview = makeImagePreview("", still, animated);
    if (!preview) return;
    animator.preferredCommitStyle = toolkit::PreviewCommitStyle::Pop;
    animator.addCompletion([weak, preview] {
        if (auto self = weak.lock()) self->presentImagePreview(preview);
    });
}
