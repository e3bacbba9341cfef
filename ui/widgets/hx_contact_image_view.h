// The contact picture of a conversation (the list rows' and the conversation screen's) and the
// add-contact button beside it: both dim to half their alpha while the tint is dimmed (a sheet or
// alert covers them); a picture that takes touches also drops its blue ring while dimmed.
#pragma once

#include "platform/toolkit/controls.h"

class HX_ContactImageView : public toolkit::ImageView {
public:
    HX_ContactImageView() = default;
    explicit HX_ContactImageView(toolkit::ImagePtr image) : toolkit::ImageView(std::move(image)) {}
    std::string className() const override { return "HX_ContactImageView"; }
    void tintColorDidChange() override;
};

class HX_AddContactButton : public toolkit::Button {
public:
    explicit HX_AddContactButton(toolkit::ButtonType type = toolkit::ButtonType::ContactAdd) : toolkit::Button(type) {}
    std::string className() const override { return "HX_AddContactButton"; }
    void tintColorDidChange() override;
};

// Whether the view's tint is dimmed: it or an ancestor dims.
bool hxTintIsDimmed(const toolkit::View& view);
