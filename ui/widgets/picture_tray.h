// The pictures a screen attaches to the text it sends (the new message's and the conversation's
// reply): the list in the order added, the strip of their thumbnails above the keyboard (a tap
// removes one), the source sheet, the camera's and the library's flows with the system picker it
// answers for, the clipboard and paste, and drops. Animated GIFs over the limit are refused with
// "Image too Large"; dropped pictures are stills and get no size test.
//
// The screen owns the tray and hands it only what it uses: itself to present from (weakly), the
// way its alerts go, and what to do when the pictures change (it places the strip itself). The
// tray is the picker's, the drop interaction's and the sheet's delegate; each holds it weakly.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "model/alert.h"
#include "platform/system_screens/image_picker.h"
#include "platform/toolkit/drag_drop.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/view_controller.h"
#include "ui/widgets/mms_pictures.h"

namespace toolkit {
class Toolbar;
}  // namespace toolkit

class HXPictureTray : public system_screens::ImagePickerControllerDelegate,
                      public toolkit::DropInteractionDelegate,
                      public HXPictureAttacher,
                      public std::enable_shared_from_this<HXPictureTray> {
public:
    struct Setup {
        // The screen the sheet and the picker are presented from.
        std::weak_ptr<toolkit::ViewController> screen;
        // How the screen shows an alert (the GIF limit, a refused permission).
        std::function<void(const HXAlert&)> presentAlert;
        // The pictures changed (added, removed, picked): the screen rebuilds and places the strip.
        std::function<void()> changed;
        // The picker closed without a picture (it is already dismissed).
        std::function<void()> pickerCancelled;
        // Made anew for every strip, before the thumbnails (the new message's camera button).
        std::function<toolkit::BarButtonItemPtr()> leadingItem;
        toolkit::ModalPresentationStyle pickerStyle = toolkit::ModalPresentationStyle::FormSheet;
    };
    static std::shared_ptr<HXPictureTray> make(Setup setup);

    const std::vector<HXMMSImage>& pictures() const { return pictures_; }
    // Adds a picture (an animated GIF over the limit is refused with the alert): false when refused
    // or when it holds no picture.
    bool add(HXMMSImage picture);
    void clear() { pictures_.clear(); }

    // A new strip: the leading item, one thumbnail per picture (a tap removes that picture), a
    // flexible space. None when it would hold no item but the space.
    const std::shared_ptr<toolkit::Toolbar>& rebuildStrip();
    const std::shared_ptr<toolkit::Toolbar>& strip() const { return strip_; }
    // The picture of a thumbnail of the current strip goes, and the screen hears of it.
    void remove(const toolkit::BarButtonItem& item);

    // The clipboard's picture, added (or refused); the screen hears of it either way.
    void addFromPasteboard();
    // The edit action "paste:" is offered while the screen's field has the focus and the clipboard
    // holds a picture; pasting adds it only then.
    static bool canPaste(bool fieldHasFocus);
    void paste();

    // The source sheet, anchored by the screen where it shows as a popover; straight to the library
    // when the sheet would offer nothing else.
    void chooseSource(const std::function<void(toolkit::PopoverPresentationController&)>& anchor);
    void authorizeCamera();
    void authorizeLibrary();

    // ---- as the sources reach it
    void attachClipboardPicture() override { addFromPasteboard(); }
    // The system picker of that source, presented from the screen on the main queue.
    void showPicker(system_screens::ImagePickerSourceType type) override;
    void presentPictureAlert(const HXAlert& alert) override;
    void imagePickerControllerDidFinishPicking(system_screens::ImagePickerController& picker,
                                               const system_screens::ImagePickerInfo& info) override;
    void imagePickerControllerDidCancel(system_screens::ImagePickerController& picker) override;
    bool canHandle(toolkit::DropInteraction& interaction, toolkit::DragSession& session) override;
    toolkit::DropOperation sessionDidUpdate(toolkit::DropInteraction& interaction,
                                            toolkit::DragSession& session) override;
    void performDrop(toolkit::DropInteraction& interaction, toolkit::DragSession& session) override;

private:
    explicit HXPictureTray(Setup setup) : setup_(std::move(setup)) {}
    void changed() const;

    Setup setup_;
    std::vector<HXMMSImage> pictures_;
    std::shared_ptr<toolkit::Toolbar> strip_;
    // Items before the thumbnails on the current strip.
    size_t leading_ = 0;
};
