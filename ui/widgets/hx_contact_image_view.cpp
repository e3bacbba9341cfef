#include "ui/widgets/hx_contact_image_view.h"

bool hxTintIsDimmed(const toolkit::View& view) {
    for (const toolkit::View* v = &view; v; v = v->superview())
        if (v->tintAdjustmentMode() == toolkit::TintAdjustmentMode::Dimmed) return true;
    return false;
}

void HX_ContactImageView::tintColorDidChange() {
    const bool dimmed = hxTintIsDimmed(*this);
    setAlpha(dimmed ? 0.5 : 1.0);
    // Only a picture that opens the contact wears the ring.
    if (isUserInteractionEnabled())
        layer().borderColor = dimmed ? toolkit::Color::clear() : toolkit::Color::systemBlue();
}

void HX_AddContactButton::tintColorDidChange() {
    toolkit::Button::tintColorDidChange();
    setAlpha(hxTintIsDimmed(*this) ? 0.5 : 1.0);
}
