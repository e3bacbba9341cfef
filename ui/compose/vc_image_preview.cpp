// The full-screen picture: zoom, GIF play and pause, the flick that closes it, sharing and
// dragging, and the spinner until the picture's own download completes.
#include "ui/compose/vc_image_preview.h"

#include <algorithm>
#include <cmath>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/graphics/color.h"
#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/traits.h"
#include "ui/widgets/hxc_animated_image_view.h"

namespace {

bool gStatusBarHidden = false;

// A GIF's bytes make an animated picture, other picture bytes a still one; anything else none.
void pictureFromBytes(const foundation::Data& bytes, graphics::ImagePtr& still,
                      std::shared_ptr<graphics::HXCAnimatedImage>& animated) {
    static const std::string kGIF = "GIF8";
    if (bytes.size() >= kGIF.size() && std::equal(kGIF.begin(), kGIF.end(), bytes.begin())) {
        animated = graphics::HXCAnimatedImage::animatedImageWithGIFData(bytes);
        if (animated) return;
    }
    if (auto decoded = graphics::Image::fromEncoded(bytes); decoded.ok() && !decoded.value()->decodeError())
        still = decoded.value();
}

}  // namespace

void VC_ImagePreview::setPictureData(const foundation::Data& bytes) {
    image_.reset();
    animated_.reset();
    pictureFromBytes(bytes, image_, animated_);
}

bool VC_ImagePreview::statusBarHidden() { return gStatusBarHidden; }

void VC_ImagePreview::setStatusBarHidden(bool hidden) { gStatusBarHidden = hidden; }

VC_ImagePreview::VC_ImagePreview(Roles roles, std::string mediaID)
    : roles_(std::move(roles)), mediaID_(std::move(mediaID)) {
    extendedLayoutIncludesOpaqueBars = true;
}

VC_ImagePreview::~VC_ImagePreview() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

void VC_ImagePreview::loadView() {
    auto root = std::make_shared<toolkit::View>(toolkit::Rect{0, 0, 320, 480});
    root->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    setView(root);
}

void VC_ImagePreview::viewDidLoad() {
    auto root = view();
    root->setBackgroundColor(graphics::Color::black());
    imageView_ = std::make_shared<HXCAnimatedImageView>(root->frame());
    imageView_->setContentMode(toolkit::ContentMode::ScaleAspectFit);
    imageView_->setUserInteractionEnabled(true);
    scrollView_ = std::make_shared<toolkit::ScrollView>(root->frame());
    scrollView_->maximumZoomScale = kMaximumZoom;
    scrollView_->setContentSize(imageView_->frame().size);
    scrollView_->delegate = std::shared_ptr<toolkit::ScrollViewDelegate>(
        shared_from_this(), static_cast<toolkit::ScrollViewDelegate*>(this));
    scrollView_->contentInsetAdjustmentBehavior = toolkit::ContentInsetAdjustment::Never;
    root->accessibility().ignoresInvertColors = true;
    imageView_->accessibility().ignoresInvertColors = true;
    scrollView_->addSubview(imageView_);
    root->addSubview(scrollView_);
    if (!hasPicture()) {
        observing_ = true;
        foundation::NotificationCenter::defaultCenter().addObserver(
            this, kDownloadComplete, [weak = weakSelf<VC_ImagePreview>()](const foundation::Notification& n) {
                if (auto self = weak.lock()) self->updateImage(n);
            });
    }
}

void VC_ImagePreview::layoutFrames() {
    const toolkit::Rect frame = view()->frame();
    imageView_->setFrame(frame);
    scrollView_->setFrame(frame);
    scrollView_->setContentSize(frame.size);
}

void VC_ImagePreview::viewWillAppear(bool animated) {
    toolkit::ViewController::viewWillAppear(animated);
    layoutFrames();
    imageView_->setImage(animated_ ? animated_->posterImage() : image_);
    if (!hasPicture()) {
        if (!loadingView_) {
            loadingView_ =
                std::make_shared<toolkit::ActivityIndicatorView>(toolkit::ActivityIndicatorStyle::WhiteLarge);
            loadingView_->setTag(kLoadingTag);
            loadingView_->setAutoresizingMask(toolkit::kFlexibleLeftMargin | toolkit::kFlexibleRightMargin |
                                              toolkit::kFlexibleTopMargin | toolkit::kFlexibleBottomMargin);
        }
        const toolkit::Rect bounds = view()->bounds();
        loadingView_->setFrame({bounds.midX() - 18.5, bounds.midY() - 18.5, 37, 37});
        loadingView_->startAnimating();
        view()->addSubview(loadingView_);
    } else {
        addGestureRecognizers();
    }
}

void VC_ImagePreview::moveNavigationBarToOrigin() {
    if (auto* nav = navigationController()) {
        auto& bar = nav->navigationBar();
        bar.setFrame({0, 0, bar.frame().width(), bar.frame().height()});
    }
}

void VC_ImagePreview::viewDidAppear(bool animated) {
    toolkit::ViewController::viewDidAppear(animated);
    moveNavigationBarToOrigin();
    auto weak = weakSelf<VC_ImagePreview>();
    navigationItem().setLeftBarButtonItem(
        toolkit::BarButtonItem::withSystemItem(toolkit::SystemItem::Stop, [weak](toolkit::BarButtonItem&) {
            if (auto self = weak.lock()) self->dismiss();
        }));
    if (hasPicture()) {
        navigationItem().setRightBarButtonItem(
            toolkit::BarButtonItem::withSystemItem(toolkit::SystemItem::Action, [weak](toolkit::BarButtonItem&) {
                if (auto self = weak.lock()) self->showActions();
            }));
        if (animated_) imageView_->setAnimatedImage(animated_);
    }
}

void VC_ImagePreview::updateImage(const foundation::Notification& notification) {
    // Another attachment's picture is not this preview's; its download may still come.
    if (!mediaID_.empty()) {
        const auto& id = notification.userInfo.get("id");
        if (!id.isString() || id.asString() != mediaID_) return;
    }
    foundation::NotificationCenter::defaultCenter().removeObserver(this, kDownloadComplete);
    observing_ = false;
    graphics::ImagePtr still;
    std::shared_ptr<graphics::HXCAnimatedImage> animated;
    const auto& value = notification.userInfo.get("image");
    if (value.isData()) pictureFromBytes(value.asData(), still, animated);
    if (!still && !animated) return;
    dispatch::Queue::main()->async([weak = weakSelf<VC_ImagePreview>(), still, animated] {
        auto self = weak.lock();
        if (!self || !self->isViewLoaded()) return;
        if (auto* spinner = self->view()->viewWithTag(kLoadingTag)) spinner->removeFromSuperview();
        self->image_ = still;
        self->animated_ = animated;
        if (animated)
            self->imageView_->setAnimatedImage(animated);
        else
            self->imageView_->setImage(still);
        self->addGestureRecognizers();
        self->navigationItem().setRightBarButtonItem(
            toolkit::BarButtonItem::withSystemItem(toolkit::SystemItem::Action, [weak](toolkit::BarButtonItem&) {
                if (auto preview = weak.lock()) preview->showActions();
            }));
    });
}

void VC_ImagePreview::addGestureRecognizers() {
    scrollViewDidZoom(*scrollView_);
    if (doubleTap_) return;
    auto weak = weakSelf<VC_ImagePreview>();
    doubleTap_ = std::make_shared<toolkit::TapGestureRecognizer>([weak](toolkit::GestureRecognizer& r) {
        if (auto self = weak.lock()) self->doubleTap(r);
    });
    doubleTap_->numberOfTapsRequired = 2;
    imageView_->addGestureRecognizer(doubleTap_);
    if (animated_) {
        singleTap_ = std::make_shared<toolkit::TapGestureRecognizer>([weak](toolkit::GestureRecognizer& r) {
            if (auto self = weak.lock()) self->tapped(r);
        });
        singleTap_->requireGestureRecognizerToFail(doubleTap_);
        imageView_->addGestureRecognizer(singleTap_);
    }
    auto pan = std::make_shared<toolkit::PanGestureRecognizer>([weak](toolkit::GestureRecognizer& r) {
        if (auto self = weak.lock()) self->swipe(r);
    });
    pan->maximumNumberOfTouches = 1;
    imageView_->addGestureRecognizer(pan);
    imageView_->addInteraction(
        std::make_shared<toolkit::DragInteraction>(std::shared_ptr<toolkit::DragInteractionDelegate>(
            shared_from_this(), static_cast<toolkit::DragInteractionDelegate*>(this))));
}

void VC_ImagePreview::doubleTap(toolkit::GestureRecognizer& recognizer) {
    if (recognizer.state() != toolkit::GestureState::Ended) return;
    const double target =
        scrollView_->zoomScale() == scrollView_->minimumZoomScale ? kMaximumZoom : scrollView_->minimumZoomScale;
    scrollView_->setZoomScale(target, true);
}

void VC_ImagePreview::tapped(toolkit::GestureRecognizer& recognizer) {
    if (recognizer.state() != toolkit::GestureState::Ended) return;
    if (imageView_->isAnimating())
        imageView_->stopAnimating();
    else
        imageView_->startAnimating();
}

bool VC_ImagePreview::flickDismisses(double dx, double dy, double zoomScale) {
    if (zoomScale != 1.0) return false;
    const float x = static_cast<float>(dx), y = static_cast<float>(dy);
    return std::sqrt(x * x + y * y) > kDismissDistance;
}

void VC_ImagePreview::swipe(toolkit::GestureRecognizer& recognizer) {
    if (recognizer.state() != toolkit::GestureState::Ended) return;
    auto* pan = dynamic_cast<toolkit::PanGestureRecognizer*>(&recognizer);
    if (!pan) return;
    const toolkit::Point t = pan->translationInView(view().get());
    if (flickDismisses(t.x, t.y, scrollView_->zoomScale())) dismiss();
}

void VC_ImagePreview::dismiss() {
    navigationItem().setLeftBarButtonItem(nullptr);
    navigationItem().setRightBarButtonItem(nullptr);
    toolkit::ViewController* presented = navigationController();
    if (!presented) presented = this;
    presented->dismiss(true, [store = roles_.store] {
        if (auto s = store.lock()) s->requestReview();
    });
}

system_screens::ActivityItem VC_ImagePreview::shareItem() const {
    if (animated_) return system_screens::ActivityItem::ofData(animated_->data());
    return system_screens::ActivityItem::ofImage(image_);
}

void VC_ImagePreview::showActions() {
    if (!hasPicture()) return;
    std::vector<system_screens::ActivityViewController::Entry> items(1);
    if (toolkit::Device::current().systemVersion() >= 13)
        items[0].source = std::shared_ptr<system_screens::ActivityItemSource>(
            shared_from_this(), static_cast<system_screens::ActivityItemSource*>(this));
    else
        items[0].item = shareItem();
    auto sheet = std::make_shared<system_screens::ActivityViewController>(std::move(items));
    sheet->modalPresentationStyle = toolkit::ModalPresentationStyle::Popover;
    if (auto* popover = sheet->popoverPresentationController()) {
        popover->permittedArrowDirections = toolkit::kArrowAny;
        popover->barButtonItem = navigationItem().rightBarButtonItem();
    }
    present(sheet, true);
}

system_screens::ActivityItem
VC_ImagePreview::activityViewControllerPlaceholderItem(system_screens::ActivityViewController&) {
    return shareItem();
}

system_screens::ActivityItem
VC_ImagePreview::activityViewControllerItemForActivityType(system_screens::ActivityViewController&,
                                                           const std::string&) {
    return shareItem();
}

std::optional<system_screens::LinkMetadata>
VC_ImagePreview::activityViewControllerLinkMetadata(system_screens::ActivityViewController&) {
    system_screens::LinkMetadata metadata;
    metadata.title = foundation::format(foundation::localizedString("Image Attachment%@"), std::string());
    graphics::ImagePtr picture = image_, icon = image_;
    if (animated_) {
        if (auto decoded = graphics::Image::fromEncoded(animated_->data()); decoded.ok()) picture = decoded.value();
        icon = animated_->posterImage();
    }
    metadata.imageProvider = [picture] { return picture; };
    metadata.iconProvider = [icon] { return icon; };
    return metadata;
}

std::vector<toolkit::DragItemPtr> VC_ImagePreview::itemsForBeginning(toolkit::DragInteraction&, toolkit::DragSession&) {
    auto shown = imageView_ ? imageView_->image() : nullptr;
    if (!shown) return {};
    auto item = std::make_shared<toolkit::DragItem>(toolkit::ItemProvider::withImage(shown));
    item->previewProvider = [shown] {
        auto preview = std::make_shared<toolkit::ImageView>(shown);
        preview->setFrame({0, 0, shown->width(), shown->height()});
        return std::static_pointer_cast<toolkit::View>(preview);
    };
    return {item};
}

toolkit::View* VC_ImagePreview::viewForZooming(toolkit::ScrollView&) { return imageView_.get(); }

void VC_ImagePreview::scrollViewDidZoom(toolkit::ScrollView& scrollView) {
    const toolkit::Size picture = imageView_->frame().size;
    const toolkit::Size bounds = scrollView.bounds().size;
    const double v = std::max(0.0, (bounds.height - picture.height) * 0.5);
    const double u = std::max(0.0, (bounds.width - picture.width) * 0.5);
    if (v + u > 0) {
        scrollView.setContentInset({v, u, v, u});
        if ((u > 0 && v > 0) || scrollView.zoomScale() == 1.0) scrollView.setContentOffset({-u, -v});
    } else {
        scrollView.setContentSize(picture);
    }
}

void VC_ImagePreview::viewWillTransitionToSize(toolkit::Size size, toolkit::TransitionCoordinator* coordinator) {
    toolkit::ViewController::viewWillTransitionToSize(size, coordinator);
    if (!scrollView_) return;
    scrollView_->setZoomScale(1.0);
    auto weak = weakSelf<VC_ImagePreview>();
    auto alongside = [weak](toolkit::TransitionCoordinator&) {
        auto self = weak.lock();
        if (!self) return;
        self->scrollView_->setFrame(self->view()->frame());
        self->scrollView_->setContentSize(self->view()->frame().size);
        self->imageView_->setFrame(self->scrollView_->frame());
    };
    auto finished = [weak](toolkit::TransitionCoordinator&) {
        auto self = weak.lock();
        if (!self) return;
        self->setNeedsStatusBarAppearanceUpdate();
        self->moveNavigationBarToOrigin();
        self->layoutFrames();
        self->scrollViewDidZoom(*self->scrollView_);
    };
    if (coordinator)
        coordinator->animateAlongsideTransition(alongside, finished);
    else if (auto self = weak.lock()) {
        toolkit::TransitionCoordinator now(false, 0);
        alongside(now);
        finished(now);
    }
}
