// What the user does with an attachment row of a text conversation: a tap opens it (a picture full
// screen, a contact card, the system player for sound and video), a long press of two seconds
// fetches it again, and the context menu copies, saves, shares or reloads it under a live preview,
// which a tap on it opens full size. Also the picture the share sheet asks for, dragging a picture
// out of its bubble and the picture preview's zoom.
#include <algorithm>
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
#include "platform/toolkit/traits.h"
#include "platform/toolkit/window.h"
#include "service/list_parse_environment.h"
#include "ui/conversation/attachment_rows.h"
#include "ui/conversation/conversation_screens_shared.h"
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
        return HXAttachmentRows::shareItem();
    }
    system_screens::ActivityItem activityViewControllerItemForActivityType(system_screens::ActivityViewController&,
                                                                           const std::string&) override {
        return HXAttachmentRows::shareItem();
    }
    std::optional<system_screens::LinkMetadata>
    activityViewControllerLinkMetadata(system_screens::ActivityViewController&) override {
        return HXAttachmentRows::shareLinkMetadata();
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

// The full-size picture kept for an id, if any (anything else kept under its key goes when
// dropInvalid).
std::optional<foundation::Data> originalPicture(const std::shared_ptr<HXCCache>& cache, const std::string& id,
                                                bool dropInvalid) {
    if (!cache) return std::nullopt;
    const std::string key = foundation::format("%@_ORIGINAL", id);
    auto object = cache->objectForKey(key);
    if (!object) return std::nullopt;
    if (object->value.isData()) return object->value.asData();
    if (dropInvalid) cache->removeObjectForKey(key);
    return std::nullopt;
}

toolkit::Point& tapPoint() { return hxConversationScreensShared().lastTapPoint; }

HXAttachmentRows::PreviewTransitionMaker& previewTransitionMaker() {
    return hxConversationScreensShared().previewTransitionMaker;
}

void savePicture(const foundation::Data& bytes, bool gif) {
    if (gif)
        (void)services::PhotoLibrary::addAsset(bytes, toolkit::kTypeGIF);
    else if (auto image = decoded(bytes))
        (void)services::PhotoLibrary::saveImage(image);
}

// "Save Image": asks for the library once; refused, it says so (denied).
void savePictureAsked(const foundation::Data& data, bool gif, const std::function<void()>& denied) {
    using services::PhotoAuthorizationStatus;
    switch (services::PhotoLibrary::authorizationStatus()) {
        case PhotoAuthorizationStatus::NotDetermined:
            services::PhotoLibrary::requestAuthorization([data, gif](PhotoAuthorizationStatus answer) {
                if (answer != PhotoAuthorizationStatus::Denied) savePicture(data, gif);
            });
            break;
        case PhotoAuthorizationStatus::Denied:
            denied();
            break;
        default:
            savePicture(data, gif);
    }
}

std::shared_ptr<toolkit::MenuAction> menuAction(const std::string& title, const char* symbol,
                                                toolkit::MenuAction::Handler handler,
                                                unsigned attributes = toolkit::kMenuElementNone) {
    return toolkit::MenuAction::make(localizedString(title), graphics::systemImageNamed(symbol), std::move(handler),
                                     attributes);
}

// The live preview of a picture's menu: the picture (an animated one playing) at its own size.
std::shared_ptr<toolkit::ViewController> picturePreview(const foundation::Data& data, bool gif) {
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
}

// The live preview of a video's menu: the film playing (its still as the poster), at its upright
// size doubled (or its still's size while the film tells none).
std::shared_ptr<toolkit::ViewController> videoPreview(const std::string& url, graphics::ImagePtr poster) {
    auto controller = std::make_shared<system_screens::PlayerViewController>();
    controller->showsPlaybackControls = false;
    controller->posterImage = poster;
    controller->player = system_screens::Player::withURL(url);
    controller->player->play();
    toolkit::Size size;
    if (controller->player->hasVideo()) {
        const auto upright = controller->player->presentationSize();
        size = {upright.width * 2, upright.height * 2};
    } else if (poster) {
        size = poster->size();
    }
    if (size.width > 0) controller->setPreferredContentSize(size);
    return controller;
}

// Presented over the screen's navigation controller, or the screen itself without one.
void presentFrom(toolkit::ViewController& screen, const std::shared_ptr<toolkit::ViewController>& shown) {
    if (auto* nav = screen.navigationController())
        nav->present(shown, true);
    else
        screen.present(shown, true);
}

}  // namespace

system_screens::ActivityItem HXAttachmentRows::shareItem() {
    if (isStillPictureType(shareType()))
        if (auto image = decoded(shareData())) return system_screens::ActivityItem::ofImage(image);
    return system_screens::ActivityItem::ofData(shareData());
}

std::optional<system_screens::LinkMetadata> HXAttachmentRows::shareLinkMetadata() {
    system_screens::LinkMetadata metadata;
    metadata.title = foundation::format(localizedString("Image Attachment%@"), std::string());
    auto image = decoded(shareData());
    metadata.imageProvider = [image] { return image; };
    metadata.iconProvider = [image] { return image; };
    return metadata;
}

void HXAttachmentRows::installGestures(const std::shared_ptr<toolkit::GestureRecognizer>& doubleTap) {
    auto tableView = table();
    if (!tableView || gesturesInstalled_) return;
    gesturesInstalled_ = true;
    auto weak = weak_from_this();
    auto tap = std::make_shared<toolkit::TapGestureRecognizer>([weak](toolkit::GestureRecognizer& r) {
        if (r.state() != toolkit::GestureState::Ended) return;
        auto self = weak.lock();
        if (auto tableView = self ? self->table() : nullptr) self->tap(r.locationInView(tableView.get()));
    });
    // A double tap replies; it does not open what its first tap hit. A press that opened the row's
    // menu is no tap either.
    if (doubleTap) tap->requireGestureRecognizerToFail(doubleTap);
    for (const auto& recognizer : tableView->gestureRecognizers())
        if (std::dynamic_pointer_cast<toolkit::LongPressGestureRecognizer>(recognizer))
            tap->requireGestureRecognizerToFail(recognizer);
    tap->setCancelsTouchesInView(false);
    tableView->addGestureRecognizer(tap);
    // From system 13 on a press opens the row's menu, whose "Reload" does the same.
    if (toolkit::Device::current().systemVersionAtLeast(13)) return;
    auto press = std::make_shared<toolkit::LongPressGestureRecognizer>([weak](toolkit::GestureRecognizer& r) {
        if (r.state() != toolkit::GestureState::Ended) return;
        auto self = weak.lock();
        if (auto tableView = self ? self->table() : nullptr) self->handleLongTap(r.locationInView(tableView.get()));
    });
    press->minimumPressDuration = kReloadPressSeconds;
    tableView->addGestureRecognizer(press);
}

std::optional<HXAttachmentRows::Row> HXAttachmentRows::rowAtPoint(toolkit::Point inTable) {
    auto tableView = table();
    if (!setup_.textConversation || !tableView) return std::nullopt;
    auto indexPath = tableView->indexPathForRowAtPoint(inTable);
    if (!indexPath) return std::nullopt;
    return row(*indexPath);
}

std::optional<HXAttachmentRows::Row> HXAttachmentRows::row(toolkit::IndexPath indexPath) {
    if (!setup_.textConversation) return std::nullopt;
    auto attachment = setup_.attachmentAt(indexPath);
    if (!attachment || attachment->id.empty()) return std::nullopt;
    return Row{*attachment, indexPath};
}

void HXAttachmentRows::tap(toolkit::Point inTable) {
    if (setup_.screenTap && setup_.screenTap(inTable)) return;
    auto tapped = rowAtPoint(inTable);
    if (!tapped) return;
    const HXAttachment& a = tapped->attachment;
    auto r = role();
    if (!r) return;
    if (foundation::hasPrefix(a.mimeType, "image/")) return openPicture(a, inTable);
    const std::string path = r->localURLForMedia(a.id, a.mimeType);
    if (a.mimeType == "text/x-vcard") return openVCard(path);
    if (foundation::files::exists(path)) return showAVPlayerForLocalMediaAtPath(path, posterFor(a));
    awaitPlayer(a, path);
    r->downloadMediaIfNeeded(a.id, a.mimeType, false);
}

void HXAttachmentRows::openPicture(const HXAttachment& a, toolkit::Point inTable) {
    auto r = role();
    if (!r) return;
    rememberTapPoint(inTable);
    auto bytes = originalPicture(r->mediaCache(), a.id, true);
    graphics::ImagePtr still;
    std::shared_ptr<graphics::HXCAnimatedImage> animated;
    if (bytes) {
        if (a.isGIF())
            animated = graphics::HXCAnimatedImage::animatedImageWithGIFData(*bytes);
        else
            still = decoded(*bytes);
    }
    auto preview = makeImagePreview(a.id, still, animated);
    if (!still && !animated) r->downloadFullSizeImageForAttachment(a.id, a.mimeType);
    if (preview) presentImagePreview(preview);
}

void HXAttachmentRows::awaitPlayer(const HXAttachment& a, const std::string& path) {
    // Once per attachment while the screen shows: the player opens when the file is in.
    if (std::find(awaitedMedia_.begin(), awaitedMedia_.end(), a.id) != awaitedMedia_.end()) return;
    awaitedMedia_.push_back(a.id);
    foundation::NotificationCenter::defaultCenter().addObserver(
        this, a.id, [weak = weak_from_this(), id = a.id, a, path](const foundation::Notification&) {
            auto self = weak.lock();
            if (!self) return;
            foundation::NotificationCenter::defaultCenter().removeObserver(self.get(), id);
            std::erase(self->awaitedMedia_, id);
            if (foundation::files::exists(path)) self->showAVPlayerForLocalMediaAtPath(path, self->posterFor(a));
        });
}

void HXAttachmentRows::stopAwaitingMedia() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    for (const auto& id : awaitedMedia_) center.removeObserver(this, id);
    awaitedMedia_.clear();
}

std::shared_ptr<toolkit::ViewController>
HXAttachmentRows::makeImagePreview(const std::string& mediaID, graphics::ImagePtr still,
                                   std::shared_ptr<graphics::HXCAnimatedImage> animated) {
    if (!setup_.imagePreview) return nullptr;
    return setup_.imagePreview(mediaID, std::move(still), std::move(animated), shared_from_this());
}

void HXAttachmentRows::presentImagePreview(const std::shared_ptr<toolkit::ViewController>& preview) {
    if (auto screen = setup_.screen.lock()) presentFrom(*screen, preview);
}

void HXAttachmentRows::openVCard(const std::string& path) {
    auto screen = setup_.screen.lock();
    auto bytes = readFile(path);
    if (!screen || !bytes) return;
    auto cards = services::readVCards(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    if (!cards.ok() || cards.value().empty()) return;
    std::shared_ptr<toolkit::ViewController> shown;
    if (cards.value().size() > 1) {
        shown = setup_.vCardPicker ? setup_.vCardPicker(*bytes, {}) : nullptr;
        if (!shown) return;
    } else {
        auto card = system_screens::ContactViewController::forUnknownContact(cards.value().front());
        card->edgesForExtendedLayout = 0;
        card->contactStore = services::ContactStore::shared();
        card->allowsEditing = false;
        card->allowsActions = false;
        card->view()->setTintColor(graphics::Color::systemBlue());
        auto routing = setup_.routing.lock();
        if (!(routing && routing->iPad()))
            if (auto* window = screen->view()->window()) window->setBackgroundColor(screen->view()->backgroundColor());
        shown = card;
    }
    if (auto* nav = screen->navigationController()) nav->pushViewController(shown, true);
}

graphics::ImagePtr HXAttachmentRows::posterFor(const HXAttachment& a) {
    if (a.kind != HXAttachmentKind::Video) return nullptr;
    auto thumbnail = thumbnailFor(a.id);
    return thumbnail ? thumbnail->image : nullptr;
}

void HXAttachmentRows::showAVPlayerForLocalMediaAtPath(const std::string& path, graphics::ImagePtr poster) {
    auto screen = setup_.screen.lock();
    auto* nav = screen ? screen->navigationController() : nullptr;
    if (!nav) return;
    if (dynamic_cast<system_screens::PlayerViewController*>(nav->presentedViewController())) return;
    auto controller = std::make_shared<system_screens::PlayerViewController>();
    // A path with a space, "#" or "%" is a file URL only when encoded as one.
    controller->player = system_screens::Player::withURL(foundation::URL::fileURL(path).string());
    controller->posterImage = std::move(poster);
    controller->modalPresentationStyle = toolkit::ModalPresentationStyle::OverFullScreen;
    nav->present(controller, true, [player = controller->player] {
        auto& session = services::AudioSession::shared();
        (void)session.setCategory(services::kAudioSessionCategoryPlayback);
        (void)session.setActive(true);
        player->play();
    });
}

void HXAttachmentRows::reload(toolkit::IndexPath indexPath, const HXAttachment& a) {
    auto r = role();
    auto tableView = table();
    if (!r || !tableView) return;
    const std::string path = r->localURLForMedia(a.id, a.mimeType);
    HXMediaFiles{std::filesystem::path(path).parent_path().string(), r->mediaCache()}.remove(a.id, a.mimeType);
    // The row asks for its picture again, however often it asked while the screen showed.
    forgetAskedThumbnails(a.id);
    setup_.forgetSizes(indexPath.section);
    tableView->reloadRows({indexPath}, toolkit::RowAnimation::Automatic);
}

void HXAttachmentRows::handleLongTap(toolkit::Point inTable) {
    if (auto tapped = rowAtPoint(inTable)) reload(tapped->indexPath, tapped->attachment);
}

void HXAttachmentRows::presentShareSheet(std::vector<system_screens::ActivityViewController::Entry> items) {
    auto screen = setup_.screen.lock();
    if (!screen) return;
    auto sheet = std::make_shared<system_screens::ActivityViewController>(std::move(items));
    sheet->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
    if (auto* popover = sheet->popoverPresentationController()) {
        popover->permittedArrowDirections = toolkit::kArrowAny;
        popover->sourceView = table();
        popover->sourceRect = {lastTapPoint().x, lastTapPoint().y, 1, 1};
    }
    screen->present(sheet, true);
}

toolkit::ContextMenuConfigurationPtr HXAttachmentRows::contextMenu(toolkit::IndexPath indexPath, toolkit::Point point) {
    // Menus with previews are the system's from 13 on.
    if (!toolkit::Device::current().systemVersionAtLeast(13)) return nullptr;
    auto tapped = row(indexPath);
    if (!tapped || !role()) return nullptr;
    rememberTapPoint(point);
    const HXAttachment& a = tapped->attachment;
    if (foundation::hasPrefix(a.mimeType, "image/")) return pictureMenu(a, indexPath);
    if (foundation::hasPrefix(a.mimeType, "video/")) return videoMenu(a, indexPath);
    return nullptr;
}

// A menu's "Reload": the row's media goes and the row asks for it again.
std::shared_ptr<toolkit::MenuAction> HXAttachmentRows::reloadAction(const std::string& title,
                                                                    const std::weak_ptr<HXAttachmentRows>& weak,
                                                                    const HXAttachment& a,
                                                                    toolkit::IndexPath indexPath) {
    return menuAction(
        title, "arrow.counterclockwise",
        [weak, a, indexPath](toolkit::MenuAction&) {
            if (auto self = weak.lock()) self->reload(indexPath, a);
        },
        toolkit::kMenuElementDestructive);
}

toolkit::ContextMenuConfigurationPtr HXAttachmentRows::pictureMenu(const HXAttachment& a,
                                                                   toolkit::IndexPath indexPath) {
    auto r = role();
    auto bytes = originalPicture(r->mediaCache(), a.id, false);
    if (!bytes) {
        if (auto thumbnail = thumbnailFor(a.id)) bytes = std::move(thumbnail->bytes);
        r->downloadFullSizeImageForAttachment(a.id, a.mimeType);
    }
    if (!bytes) return nullptr;
    auto preview = [data = *bytes, gif = a.isGIF()] { return picturePreview(data, gif); };
    auto actions = [weak = weak_from_this(), data = *bytes, a, indexPath](const std::vector<toolkit::MenuElementPtr>&) {
        return pictureActions(weak, data, a, indexPath);
    };
    return toolkit::ContextMenuConfiguration::make("", preview, actions);
}

toolkit::MenuPtr HXAttachmentRows::pictureActions(const std::weak_ptr<HXAttachmentRows>& weak,
                                                  const foundation::Data& data, const HXAttachment& a,
                                                  toolkit::IndexPath indexPath) {
    const bool gif = a.isGIF();
    auto copy = menuAction("Copy Image", "doc.on.doc", [data, gif](toolkit::MenuAction&) {
        if (gif)
            toolkit::Pasteboard::general().setData(data, toolkit::kTypeGIF);
        else if (auto image = decoded(data))
            toolkit::Pasteboard::general().setImage(image);
    });
    auto save = menuAction("Save Image", "square.and.arrow.down", [weak, data, gif](toolkit::MenuAction&) {
        savePictureAsked(data, gif, [weak] {
            if (auto self = weak.lock())
                if (auto alerts = self->setup_.alerts.lock()) alerts->presentAlert(hxPhotoLibraryDeniedAlert());
        });
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
    return toolkit::Menu::make("", {copy, save, share, reloadAction("Reload Image", weak, a, indexPath)});
}

toolkit::ContextMenuConfigurationPtr HXAttachmentRows::videoMenu(const HXAttachment& a, toolkit::IndexPath indexPath) {
    auto r = role();
    const std::string path = r->localURLForMedia(a.id, a.mimeType);
    if (!foundation::files::exists(path)) {
        r->downloadMediaIfNeeded(a.id, a.mimeType, false);
        return nullptr;
    }
    auto preview = [url = foundation::URL::fileURL(path).string(), poster = posterFor(a)] {
        return videoPreview(url, poster);
    };
    auto actions = [weak = weak_from_this(), path, a, indexPath](const std::vector<toolkit::MenuElementPtr>&) {
        return videoActions(weak, path, a, indexPath);
    };
    return toolkit::ContextMenuConfiguration::make("", preview, actions);
}

toolkit::MenuPtr HXAttachmentRows::videoActions(const std::weak_ptr<HXAttachmentRows>& weak, const std::string& path,
                                                const HXAttachment& a, toolkit::IndexPath indexPath) {
    auto copy = menuAction("Copy Video", "doc.on.doc", [path](toolkit::MenuAction&) {
        if (auto bytes = readFile(path)) toolkit::Pasteboard::general().setData(*bytes, kMPEG4Type);
    });
    auto share = menuAction("Share Video\u2026", "square.and.arrow.up",
                            [weak, url = foundation::URL::fileURL(path).string()](toolkit::MenuAction&) {
                                if (auto self = weak.lock()) {
                                    std::vector<system_screens::ActivityViewController::Entry> items(1);
                                    items[0].item = system_screens::ActivityItem::ofURL(url);
                                    self->presentShareSheet(std::move(items));
                                }
                            });
    return toolkit::Menu::make("", {copy, share, reloadAction("Reload Video", weak, a, indexPath)});
}

void HXAttachmentRows::willPerformPreviewAction(toolkit::ContextMenuCommitAnimator& animator) {
    auto previewController = animator.previewViewController();
    if (!previewController) return;
    auto weak = weak_from_this();
    if (auto player = std::dynamic_pointer_cast<system_screens::PlayerViewController>(previewController)) {
        animator.preferredCommitStyle = toolkit::PreviewCommitStyle::Pop;
        player->modalPresentationStyle = toolkit::ModalPresentationStyle::OverFullScreen;
        player->showsPlaybackControls = true;
        animator.addCompletion([screen = setup_.screen, player] {
            if (auto shown = screen.lock()) presentFrom(*shown, player);
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

// ---- dragging a picture out of its bubble, and the picture preview's zoom

void HXAttachmentRows::rememberTapPoint(toolkit::Point inTable) { tapPoint() = inTable; }

toolkit::Point HXAttachmentRows::lastTapPoint() { return tapPoint(); }

std::shared_ptr<toolkit::DragInteraction> HXAttachmentRows::makeDragInteraction() {
    return std::make_shared<toolkit::DragInteraction>(
        std::shared_ptr<toolkit::DragInteractionDelegate>(shared_from_this()));
}

std::vector<toolkit::DragItemPtr> HXAttachmentRows::itemsForBeginning(toolkit::DragInteraction&,
                                                                      toolkit::DragSession& session) {
    auto tableView = table();
    return tableView ? dragItemsAt(session.locationInView(tableView.get()), nullptr)
                     : std::vector<toolkit::DragItemPtr>{};
}

std::vector<toolkit::DragItemPtr> HXAttachmentRows::itemsForAddingTo(toolkit::DragInteraction&,
                                                                     toolkit::DragSession& session, toolkit::Point) {
    auto tableView = table();
    return tableView ? dragItemsAt(session.locationInView(tableView.get()), &session)
                     : std::vector<toolkit::DragItemPtr>{};
}

std::vector<toolkit::DragItemPtr> HXAttachmentRows::dragItemsAt(toolkit::Point inTable,
                                                                const toolkit::DragSession* adding) {
    auto tableView = table();
    if (!tableView) return {};
    const auto indexPath = tableView->indexPathForRowAtPoint(inTable);
    if (!indexPath) return {};
    if (adding)
        for (const auto& item : adding->items)
            if (const auto* carried = std::any_cast<toolkit::IndexPath>(&item->localObject);
                carried && *carried == *indexPath)
                return {};
    const auto a = setup_.attachmentAt(*indexPath);
    if (!a || !foundation::hasPrefix(a->mimeType, "image/")) return {};
    auto r = role();
    auto cache = r ? r->mediaCache() : nullptr;
    if (!cache) return {};
    std::optional<foundation::Data> bytes = originalPicture(cache, a->id, false);
    if (!bytes)
        if (auto thumbnail = cache->objectForKey(a->id); thumbnail && thumbnail->value.isData())
            bytes = thumbnail->value.asData();
    if (!bytes) return {};
    auto image = graphics::Image::fromEncoded(*bytes);
    if (!image.ok()) return {};
    auto item = std::make_shared<toolkit::DragItem>(toolkit::ItemProvider::withImage(image.value()));
    item->localObject = *indexPath;
    item->previewProvider = [picture = image.value()] {
        auto preview = std::make_shared<toolkit::ImageView>(picture);
        preview->setFrame({0, 0, picture->width(), picture->height()});
        return std::static_pointer_cast<toolkit::View>(preview);
    };
    return {item};
}

void HXAttachmentRows::setPreviewTransitionMaker(PreviewTransitionMaker maker) {
    previewTransitionMaker() = std::move(maker);
}

std::shared_ptr<toolkit::AnimatedTransitioning>
HXAttachmentRows::animationControllerForPresented(toolkit::ViewController& presented, toolkit::ViewController&,
                                                  toolkit::ViewController&) {
    return previewTransition(presented, true);
}

std::shared_ptr<toolkit::AnimatedTransitioning>
HXAttachmentRows::animationControllerForDismissed(toolkit::ViewController& dismissed) {
    return previewTransition(dismissed, false);
}

std::shared_ptr<toolkit::AnimatedTransitioning> HXAttachmentRows::previewTransition(toolkit::ViewController& controller,
                                                                                    bool presenting) {
    auto screen = setup_.screen.lock();
    auto* nav = dynamic_cast<toolkit::NavigationController*>(&controller);
    if (!screen || !nav || nav->viewControllers().empty() || !nav->viewControllers().front() ||
        nav->viewControllers().front()->className() != "VC_ImagePreview")
        return nullptr;
    toolkit::Point source = lastTapPoint();
    const toolkit::View* rootView = nullptr;
    if (auto* window = screen->view()->window())
        if (auto root = window->rootViewController(); root && root->isViewLoaded()) rootView = root->view().get();
    if (auto tableView = table(); tableView && rootView) source = tableView->convertPointTo(source, rootView);
    if (const auto& maker = previewTransitionMaker()) return maker(presenting, source);
    return setup_.previewTransition ? setup_.previewTransition(presenting, source) : nullptr;
}
