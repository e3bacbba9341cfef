// The system's picture picker: a screen the app presents for the photo library or the camera,
// which answers its delegate with a picked library asset (its reference URL), a taken picture or
// a cancel. The library shows its assets as a grid of pictures ("Photo 1", "Photo 2", ... to
// accessibility), a tap picking one; the camera shows its view and a shutter ("Take Picture")
// that takes what it shows (services::CaptureDevice::capturePicture). Tests choose through
// pickAsset, takePicture and cancel as well. Main thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/graphics/image.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/scroll_view.h"
#include "platform/toolkit/view_controller.h"

namespace system_screens {

enum class ImagePickerSourceType { PhotoLibrary = 0, Camera = 1 };

// What the user picked: a library asset by reference URL, or a camera's original picture.
struct ImagePickerInfo {
    std::optional<std::string> referenceURL;
    std::shared_ptr<const graphics::Image> originalImage;
};

class ImagePickerController;

class ImagePickerControllerDelegate {
public:
    virtual ~ImagePickerControllerDelegate() = default;
    // The presenter dismisses the picker (or leaves it open for another choice).
    virtual void imagePickerControllerDidFinishPicking(ImagePickerController& picker, const ImagePickerInfo& info) = 0;
    virtual void imagePickerControllerDidCancel(ImagePickerController& picker) = 0;
};

class ImagePickerController : public toolkit::ViewController {
public:
    std::string className() const override { return "UIImagePickerController"; }

    // The library always; the camera when the device has one.
    static bool isSourceTypeAvailable(ImagePickerSourceType type);

    ImagePickerSourceType sourceType = ImagePickerSourceType::PhotoLibrary;
    std::weak_ptr<ImagePickerControllerDelegate> delegate;

    // The user's choices. Each answers false (and tells nobody) when the picker is not on screen
    // or the choice does not fit its source: an asset from the library, a picture from the camera.
    bool pickAsset(const std::string& referenceURL);
    bool takePicture(std::shared_ptr<const graphics::Image> picture);
    // Without a delegate a cancel dismisses the picker itself.
    bool cancel();

    void loadView() override;
    void viewWillAppear(bool animated) override;
    void viewDidLayoutSubviews() override;

private:
    bool onScreen() const;
    std::shared_ptr<toolkit::Label> title_;
    std::shared_ptr<toolkit::Button> cancel_;
    // The library's grid (one button per asset, its URL beside it), or the camera's view and shutter.
    std::shared_ptr<toolkit::ScrollView> grid_;
    std::vector<std::pair<std::shared_ptr<toolkit::Button>, std::string>> assets_;
    std::shared_ptr<toolkit::ImageView> viewfinder_;
    std::shared_ptr<toolkit::Button> shutter_;
};

}  // namespace system_screens
