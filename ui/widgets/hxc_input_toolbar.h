// The reply bar: a toolbar holding an expanding text view, a "Send" button on the right, an
// optional camera button on the left and a two-line info label (a character counter, say) that
// shows once the text takes more than one line. The bar grows upward with its text view, keeps
// its controls inside the safe area and passes the text events on to its delegate. Send and the
// camera act on touch-down.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/graphics/image.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/controls.h"
#include "ui/widgets/hxc_expanding_text_view.h"

class HXCInputToolbar;

// Every operation is optional; a change the delegate does not judge is allowed.
class HXCInputToolbarDelegate {
public:
    virtual ~HXCInputToolbarDelegate() = default;
    // Send was touched, before the field is cleared.
    virtual void inputToolbarButtonPressed(HXCInputToolbar& toolbar, const std::string& text) {
        (void)toolbar, (void)text;
    }
    virtual void inputToolbarCameraButtonPressed(HXCInputToolbar& toolbar, toolkit::Button& button) {
        (void)toolbar, (void)button;
    }
    // The bar's frame took a height other than the last one.
    virtual void inputToolbarHeightChanged(HXCInputToolbar& toolbar, double height) { (void)toolbar, (void)height; }
    virtual bool inputToolbarTextViewShouldChangeTextInRange(HXCInputToolbar& toolbar, toolkit::Range range,
                                                             const std::string& replacementText) {
        (void)toolbar, (void)range, (void)replacementText;
        return true;
    }
    // After the text changed (Send already enabled or disabled).
    virtual void inputToolbarTextViewDidChange(HXCInputToolbar& toolbar, HXCExpandingTextView& textView) {
        (void)toolbar, (void)textView;
    }
    virtual void inputToolbarTextViewDidBeginEditing(HXCInputToolbar& toolbar, HXCExpandingTextView& textView) {
        (void)toolbar, (void)textView;
    }
    virtual void inputToolbarTextViewDidEndEditing(HXCInputToolbar& toolbar, HXCExpandingTextView& textView) {
        (void)toolbar, (void)textView;
    }
};

class HXCInputToolbar : public toolkit::Toolbar, public HXCExpandingTextViewDelegate {
    struct MadeByMake {};

public:
    // "Send" in bold Helvetica Neue 18, dark grey, no camera.
    static std::shared_ptr<HXCInputToolbar> make(const toolkit::Rect& frame);
    // The conversation screen's form: its font and tint, with or without the camera.
    static std::shared_ptr<HXCInputToolbar> make(const toolkit::Rect& frame, const toolkit::Font& buttonFont,
                                                 const toolkit::Color& buttonTintColor, bool withCameraButton = false);
    HXCInputToolbar(MadeByMake, const toolkit::Rect& frame);
    std::string className() const override { return "HXCInputToolbar"; }

    // The default button font: "HelveticaNeue-Bold" at 18 (bold).
    static toolkit::Font defaultButtonFont();
    void setupToolbar(const std::string& title, const toolkit::Font& buttonFont, const toolkit::Color& tintColor,
                      bool withCameraButton);

    const std::shared_ptr<HXCExpandingTextView>& textView() const { return textView_; }
    void setTextView(std::shared_ptr<HXCExpandingTextView> view) { textView_ = std::move(view); }
    const std::shared_ptr<toolkit::Button>& inputButton() const { return inputButton_; }
    void setInputButton(std::shared_ptr<toolkit::Button> button) { inputButton_ = std::move(button); }
    // None when the bar was made without one.
    const std::shared_ptr<toolkit::Button>& cameraButton() const { return cameraButton_; }
    void setCameraButton(std::shared_ptr<toolkit::Button> button) { cameraButton_ = std::move(button); }
    const std::shared_ptr<toolkit::Label>& infoLabel() const { return infoLabel_; }
    void setInfoLabel(std::shared_ptr<toolkit::Label> label) { infoLabel_ = std::move(label); }
    std::weak_ptr<HXCInputToolbarDelegate> inputDelegate() const { return inputDelegate_; }
    void setInputDelegate(std::weak_ptr<HXCInputToolbarDelegate> delegate) { inputDelegate_ = std::move(delegate); }

    // Extra room below the controls; a change grows (or shrinks) the bar upward by its difference.
    double bottomPadding() const { return bottomPadding_; }
    void setBottomPadding(double padding);
    // Tells the delegate a new height, shows the info label from the second line on, and lays
    // the controls out in the safe area.
    void setFrame(const toolkit::Rect& rect) override;
    void draw(graphics::GraphicsContext& context, const toolkit::Rect& rect) override;
    // The controls follow a safe area that changes under a frame that does not (a rotation).
    void safeAreaInsetsDidChange() override;

    void inputButtonPressed();
    void cameraButtonPressed();

    // As the text view's delegate.
    void expandingTextViewWillChangeHeight(HXCExpandingTextView& view, float height) override;
    std::optional<bool> expandingTextViewShouldChangeTextInRange(HXCExpandingTextView& view, toolkit::Range range,
                                                                 const std::string& replacementText) override;
    void expandingTextViewDidChange(HXCExpandingTextView& view) override;
    void expandingTextViewDidBeginEditing(HXCExpandingTextView& view) override;
    void expandingTextViewDidEndEditing(HXCExpandingTextView& view) override;

private:
    void layOutControls(const toolkit::Rect& rect);
    std::shared_ptr<HXCInputToolbarDelegate> owner() const { return inputDelegate_.lock(); }
    std::shared_ptr<HXCExpandingTextView> textView_;
    std::shared_ptr<toolkit::Button> inputButton_;
    std::shared_ptr<toolkit::Button> cameraButton_;
    std::shared_ptr<toolkit::Label> infoLabel_;
    std::weak_ptr<HXCInputToolbarDelegate> inputDelegate_;
    double lastHeight_ = 0;
    double newTextViewHeight_ = 0;
    double bottomPadding_ = 0;
    // The bar's stretched background and the screen scale it was made for (drawn every frame).
    graphics::ImagePtr background_;
    double backgroundScale_ = 0;
};
