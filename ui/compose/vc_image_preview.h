// A picture attachment full screen on black: pinch and double tap zoom it (1 to 5), a single tap
// pauses and resumes a GIF, a flick of more than 200 points at zoom 1 closes it, the action button
// shares it (with a link preview titled as an image attachment) and a drag takes it to another app.
// Opened before its full-size picture is there, it shows a spinner until the download of its own
// attachment announces the picture.
#pragma once

#include <memory>
#include <string>

#include "app/roles/screen_roles.h"
#include "platform/foundation/notification_center.h"
#include "platform/graphics/animated_image.h"
#include "platform/system_screens/activity_view_controller.h"
#include "platform/toolkit/drag_drop.h"
#include "platform/toolkit/scroll_view.h"
#include "platform/toolkit/view_controller.h"

class HXCAnimatedImageView;
namespace toolkit {
class ActivityIndicatorView;
class GestureRecognizer;
class TapGestureRecognizer;
}  // namespace toolkit

class VC_ImagePreview : public toolkit::ViewController,
                        public toolkit::ScrollViewDelegate,
                        public system_screens::ActivityItemSource,
                        public toolkit::DragInteractionDelegate {
public:
    struct Roles {
        std::weak_ptr<HXStoreRole> store;
    };
    static constexpr long kLoadingTag = 999;
    static constexpr double kMaximumZoom = 5.0;
    static constexpr float kDismissDistance = 200.0f;
    static constexpr const char* kDownloadComplete = "kImageDownloadCompleteNotification";

    // mediaID names the attachment whose full-size picture this preview waits for ("" takes none).
    VC_ImagePreview(Roles roles, std::string mediaID);
    ~VC_ImagePreview() override;
    std::string className() const override { return "VC_ImagePreview"; }

    // The picture: a still one, or a GIF's animated image (which wins when both are set).
    void setImage(graphics::ImagePtr image) { image_ = std::move(image); }
    void setAnimatedImage(std::shared_ptr<graphics::HXCAnimatedImage> image) { animated_ = std::move(image); }
    const graphics::ImagePtr& image() const { return image_; }
    const std::shared_ptr<graphics::HXCAnimatedImage>& animatedImage() const { return animated_; }
    bool hasPicture() const { return image_ || animated_; }
    // Picture bytes: a GIF's as an animated picture, others as a still one; bytes that are no
    // picture leave none.
    void setPictureData(const foundation::Data& bytes);
    const std::string& mediaID() const { return mediaID_; }

    // The process-wide status-bar flag the present and dismiss animations set.
    static bool statusBarHidden();
    static void setStatusBarHidden(bool hidden);
    bool prefersStatusBarHidden() const override { return statusBarHidden(); }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillTransitionToSize(toolkit::Size size, toolkit::TransitionCoordinator* coordinator) override;

    // The download's notification: the picture under "image" (encoded bytes, or an image) for the
    // attachment under "id".
    void updateImage(const foundation::Notification& notification);
    void addGestureRecognizers();
    void doubleTap(toolkit::GestureRecognizer& recognizer);
    void tapped(toolkit::GestureRecognizer& recognizer);
    void swipe(toolkit::GestureRecognizer& recognizer);
    void dismiss();
    void showActions();
    // What a flick of (dx, dy) does at zoom: whether it closes the preview.
    static bool flickDismisses(double dx, double dy, double zoomScale);

    toolkit::ScrollView& scrollView() const { return *scrollView_; }
    HXCAnimatedImageView& imageView() const { return *imageView_; }
    toolkit::TapGestureRecognizer* singleTapRecognizer() const { return singleTap_.get(); }
    bool hasGestures() const { return doubleTap_ != nullptr; }

    // ---- scroll view, share sheet, drag
    toolkit::View* viewForZooming(toolkit::ScrollView& scrollView) override;
    void scrollViewDidZoom(toolkit::ScrollView& scrollView) override;
    system_screens::ActivityItem
    activityViewControllerPlaceholderItem(system_screens::ActivityViewController&) override;
    system_screens::ActivityItem activityViewControllerItemForActivityType(system_screens::ActivityViewController&,
                                                                           const std::string& activityType) override;
    std::optional<system_screens::LinkMetadata>
    activityViewControllerLinkMetadata(system_screens::ActivityViewController&) override;
    std::vector<toolkit::DragItemPtr> itemsForBeginning(toolkit::DragInteraction&, toolkit::DragSession&) override;

private:
    system_screens::ActivityItem shareItem() const;
    void layoutFrames();
    void moveNavigationBarToOrigin();

    Roles roles_;
    std::string mediaID_;
    graphics::ImagePtr image_;
    std::shared_ptr<graphics::HXCAnimatedImage> animated_;
    std::shared_ptr<toolkit::ScrollView> scrollView_;
    std::shared_ptr<HXCAnimatedImageView> imageView_;
    std::shared_ptr<toolkit::ActivityIndicatorView> loadingView_;
    std::shared_ptr<toolkit::TapGestureRecognizer> doubleTap_, singleTap_;
    bool observing_ = false;
};
