// The view every passcode pad shows: a title, four PIN dots (or, for a complex PIN, a secure field
// with OK), a detail line, the 3-by-4 keypad, Cancel and Delete, and the biometric button when
// biometric unlock is in use. The controls sit in a fixed-size content view (320 by 568 on a
// tablet) centred on the pad. The view holds no PIN: its controller drives it.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/toolkit/controls.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/view.h"
#include "ui/passcode/hxc_pad_button.h"
#include "ui/passcode/hxc_pin_selection_view.h"

class HXCPadLockScreenView : public toolkit::View {
public:
    // biometricIDName: the biometric key's kind ("TouchID", "FaceID") when the pad offers one.
    HXCPadLockScreenView(const toolkit::Rect& frame, bool complexPin,
                         std::optional<std::string> biometricIDName = std::nullopt);
    std::string className() const override { return "HXCPadLockScreenView"; }

    // The app's theme as class-level appearance defaults of the pad's views (launch).
    static void applyAppTheme();

    // Styles: set here, else the class's appearance, else the defaults.
    toolkit::Font enterPasscodeLabelFont() const { return enterFont_.value_or(toolkit::Font::system(18)); }
    void setEnterPasscodeLabelFont(toolkit::Font f) { enterFont_ = f, setNeedsLayout(); }
    toolkit::Font detailLabelFont() const { return detailFont_.value_or(toolkit::Font::system(14)); }
    void setDetailLabelFont(toolkit::Font f) { detailFont_ = f, setNeedsLayout(); }
    const std::optional<toolkit::Font>& deleteCancelLabelFont() const { return deleteCancelFont_; }
    void setDeleteCancelLabelFont(toolkit::Font f) { deleteCancelFont_ = f, setNeedsLayout(); }
    toolkit::Color labelColor() const { return labelColor_.value_or(toolkit::Color::whiteColor()); }
    void setLabelColor(toolkit::Color c) { labelColor_ = c, setNeedsLayout(); }
    bool cancelButtonDisabled() const { return cancelButtonDisabled_; }
    void setCancelButtonDisabled(bool disabled) { cancelButtonDisabled_ = disabled, setNeedsLayout(); }
    const std::shared_ptr<toolkit::View>& backgroundView() const { return backgroundView_; }
    // Replaces the view behind everything; it takes the pad's bounds and follows its size.
    void setBackgroundView(std::shared_ptr<toolkit::View> view);

    bool isComplexPin() const { return complexPin_; }
    const std::shared_ptr<toolkit::View>& contentView() const { return contentView_; }
    const std::shared_ptr<toolkit::Label>& enterPasscodeLabel() const { return enterPasscodeLabel_; }
    const std::shared_ptr<toolkit::Label>& detailLabel() const { return detailLabel_; }
    // Index = digit.
    const std::array<std::shared_ptr<HXCPadButton>, 10>& buttonArray() const { return buttons_; }
    const std::shared_ptr<toolkit::Button>& cancelButton() const { return cancelButton_; }
    const std::shared_ptr<toolkit::Button>& deleteButton() const { return deleteButton_; }
    const std::shared_ptr<toolkit::Button>& okButton() const { return okButton_; }
    // None unless biometric unlock is usable and switched on.
    const std::shared_ptr<toolkit::Button>& biometricIDButton() const { return biometricIDButton_; }
    // Simple PIN only (empty for a complex one).
    const std::vector<std::shared_ptr<HXCPinSelectionView>>& digitsArray() const { return digits_; }
    // Complex PIN only.
    const std::shared_ptr<toolkit::TextField>& digitsTextField() const { return digitsTextField_; }
    bool requiresRotationCorrection() const { return requiresRotationCorrection_; }
    double correctWidth() const { return contentView_->bounds().size.width; }
    double correctHeight() const { return contentView_->bounds().size.height; }

    // Button swaps and fades: 0.15 s, ease in (instant when not animated).
    void showCancelButtonAnimated(bool animated, std::function<void()> completion = {});
    void showDeleteButtonAnimated(bool animated, std::function<void()> completion = {});
    void showOKButton(bool show, bool animated, std::function<void()> completion = {});
    void showBiometricIDButton(bool show, bool animated, std::function<void()> completion = {});
    // Fades the detail line to text.
    void updateDetailLabelWithString(const std::string& text, bool animated);
    // Locked out: the keys dimmed and disabled, Cancel and the dots gone.
    void lockViewAnimated(bool animated, std::function<void()> completion = {});
    // The shake of a refused PIN (the dots, or the field of a complex PIN).
    void animateFailureNotification();
    // Every dot empty, Cancel back, OK hidden, the field emptied.
    void resetAnimated(bool animated);
    // The complex PIN's field shows length hidden characters.
    void updatePinTextfieldWithLength(size_t length);

    void layoutSubviews() override;
    void applyAppearance() override;

private:
    void performAnimations(std::function<void()> animations, bool animated, std::function<void()> completion);
    void layoutTitleArea();
    void layoutButtonArea();
    void prepareApperance();
    double pinRowY() const;

    bool complexPin_;
    std::optional<toolkit::Font> enterFont_, detailFont_, deleteCancelFont_;
    std::optional<toolkit::Color> labelColor_;
    bool cancelButtonDisabled_ = false;
    bool requiresRotationCorrection_ = false;
    std::shared_ptr<toolkit::View> backgroundView_;
    std::shared_ptr<toolkit::View> contentView_;
    std::shared_ptr<toolkit::Label> enterPasscodeLabel_, detailLabel_;
    std::array<std::shared_ptr<HXCPadButton>, 10> buttons_;
    std::shared_ptr<toolkit::Button> cancelButton_, deleteButton_, okButton_, biometricIDButton_;
    std::vector<std::shared_ptr<HXCPinSelectionView>> digits_;
    std::shared_ptr<toolkit::TextField> digitsTextField_;
};
