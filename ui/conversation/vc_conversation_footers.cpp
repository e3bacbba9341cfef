// The footers under the bubbles: the call footer, the other party's contact header (HXContactHeader),
// and, for a voicemail or a recorded call, the player's footer ("PlayMessageFooter") below it; the
// table's insets, the reply field's line limit, the keyboard, and the sending progress bar in the
// navigation bar.
#include <algorithm>
#include <cmath>

#include "model/account.h"
#include "platform/foundation/bundle.h"
#include "platform/graphics/color.h"
#include "platform/graphics/hxc_font.h"
#include "platform/graphics/named_images.h"
#include "platform/services/audio_session.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/text_metrics.h"
#include "platform/toolkit/traits.h"
#include "platform/toolkit/window.h"
#include "ui/conversation/conversation_screens_shared.h"
#include "ui/conversation/vc_conversation.h"

namespace {

using foundation::localizedString;

// Percent of a reply's sending shown in the navigation bar.
int& sendingProgressPercent() { return hxConversationScreensShared().sendingProgress; }

}  // namespace

void VC_Conversation::addFooterView() {
    if (!tableView_) return;
    if (!isPeeking() && !tableView_->tableFooterView() && !footerView_) {
        const double width = view()->bounds().width();
        footerView_ = contactHeader_->makeView(width);
        const bool recorded = conversation_ && conversation_->type() == 4;
        if (conversationType() == 2 || recorded) {
            auto player = HXVoicemailPlayer::makeFooter(width, view()->backgroundColor());
            toolkit::View& playerView = *player.playMessageView;
            playerView.setTag(kPlayerTag);
            const double gap = toolkit::Device::current().isPad() ? 15 : 0;
            const double footerHeight = footerView_->frame().height();
            playerView.setFrame({playerView.frame().minX(), footerHeight + gap, width, playerView.frame().height()});
            footerView_->setFrame({0, 0, width, footerHeight + playerView.frame().height() + gap});
            footerView_->addSubview(player.playMessageView);
            makeVoicemailPlayer(std::move(player.views));
        }
        if (conversationType() == 1) addReplyBar();
        footerView_->setTag(kFooterTag);
        footerView_->setBackgroundColor(view()->backgroundColor());
        // A group conversation shows no call footer; the reply bar's place stays below the table.
        if (!isGroup()) tableView_->setTableFooterView(footerView_);
    }
    layoutTable();
}

void VC_Conversation::layoutTable() {
    if (!tableView_) return;
    const auto* p = parent();
    const auto parentView = p ? p->viewIfLoaded() : nullptr;
    const toolkit::EdgeInsets safe = parentView ? parentView->safeAreaInsets() : view()->safeAreaInsets();
    double top = safe.top;
    if (auto* nav = navigationController(); nav && !nav->isNavigationBarHidden()) {
        // A stack shown only now (its view just selected) has not placed its bar yet.
        if (nav->navigationBar().frame().isEmpty()) nav->view()->layoutIfNeeded();
        top = std::max(top, nav->navigationBar().frame().maxY());
    }
    const double bottom = isPeeking() || isGroup() ? 0 : safe.bottom;
    tableView_->setContentInset({top, 0, bottom, 0});
    tableView_->scrollIndicatorInsets = {top, 0, bottom, 0};
}

long VC_Conversation::maximumInputLines(bool iPad, bool landscape, bool replyHasFocus, double available,
                                        double lineHeight) {
    const long limit = iPad || !landscape ? 5 : 3;
    if (iPad || !replyHasFocus) return limit;
    if (lineHeight <= 0 || !std::isfinite(available)) return 1;
    const long lines = std::min(limit, static_cast<long>(std::floor(available / lineHeight)));
    return lines < 2 ? 1 : lines;
}

long VC_Conversation::maximumInputLines(bool replyHasFocus) const {
    const auto& screen = toolkit::Device::current().screen();
    auto font = graphics::HXCFont::HXCFontForType(5);
    const double lineHeight = font ? toolkit::textMeasurer().lineHeight(*font) : 0;
    const double field = inputToolbar_ ? inputToolbar_->textView()->frame().height() : 0;
    const double available =
        tableView_ ? tableView_->frame().height() - viewIfLoaded()->safeAreaInsets().top + field : 0;
    // The window's shape tells the orientation the screen is laid out for (also while it turns).
    bool landscape = screen.isLandscape();
    if (const auto own = viewIfLoaded(); own && own->window())
        landscape = own->window()->bounds().width() > own->window()->bounds().height();
    return maximumInputLines(screen.idiom == toolkit::Idiom::Pad, landscape, replyHasFocus, available, lineHeight);
}

void VC_Conversation::keyboardFrameChange(const foundation::Notification& notification) {
    if (!inputToolbar_ || !tableView_) return;
    const auto* endValue = notification.userInfo.find(toolkit::kKeyboardFrameEndUserInfoKey);
    const auto end = endValue && endValue->isString() ? toolkit::rectFromString(endValue->asString()) : std::nullopt;
    if (!end) return;
    const auto* durationValue = notification.userInfo.find(toolkit::kKeyboardAnimationDurationUserInfoKey);
    const double duration = durationValue ? durationValue->doubleValue() : 0;
    const toolkit::Rect keyboard = view()->convertRectFrom(*end, nullptr);
    const bool tablet = toolkit::Device::current().isPad();
    // A phone's keyboard sliding in sideways (an interactive pop) is not where it will stay.
    if (!tablet && keyboard.minX() < 0) return;
    const toolkit::Rect safe = view()->safeAreaLayoutFrame();
    const double padding = std::max(0.0, keyboard.minY() - safe.minY() - safe.height());
    auto weak = weakSelf<VC_Conversation>();
    toolkit::animate(
        duration, 0, toolkit::kAnimationBeginFromCurrentState,
        [weak, keyboard, padding, tablet] {
            auto self = weak.lock();
            if (!self) return;
            const double bottom = self->view()->bounds().height();
            double top = keyboard.minY();
            // An undocked tablet keyboard leaves the bottom edge free.
            if (tablet && bottom - keyboard.maxY() > top) top = bottom;
            if (top > 0) {
                auto& bar = *self->inputToolbar_;
                bar.setBottomPadding(padding);
                const toolkit::Rect f = bar.frame();
                bar.setFrame({f.minX(), top - f.height(), f.width(), f.height()});
                const toolkit::Rect table = self->tableView_->frame();
                self->tableView_->setFrame(
                    {table.minX(), table.minY(), table.width(), std::max(0.0, bar.frame().minY() - table.minY())});
            }
            if (!self->isGroup()) {
                auto footer = self->tableView_->tableFooterView();
                const double footerTop = footer ? footer->frame().minY() : self->tableView_->contentSize().height;
                self->tableView_->scrollRectToVisible({0, footerTop - 1, 1, 1}, false);
            } else {
                self->scrollToBottomWithAnimation(false);
            }
        },
        [weak](bool) {
            auto self = weak.lock();
            if (!self || !self->inputToolbar_) return;
            auto& field = *self->inputToolbar_->textView();
            auto& inner = *field.internalTextView();
            inner.setFrame(inner.frame());
            field.textViewDidChange(inner);
        });
}

int VC_Conversation::sendingProgress() { return sendingProgressPercent(); }

int VC_Conversation::progressStep(size_t pictures) {
    return pictures > 0 ? static_cast<int>(100 / (3 * pictures + 1)) : 15;
}

void VC_Conversation::startSendingProgress() {
    sendingProgressPercent() = 0;
    auto title = std::make_shared<toolkit::View>(toolkit::Rect{0, 0, 160, 30});
    auto label = std::make_shared<toolkit::Label>(toolkit::Rect{0, 4, 160, 20});
    label->setBackgroundColor(graphics::Color::clear());
    // Black as the title is drawn in light; the label colour keeps it readable on a dark bar.
    label->setTextColor(toolkit::Device::current().systemVersionAtLeast(13) ? graphics::Color::label()
                                                                            : graphics::Color::black());
    label->setFont(graphics::Font::boldSystem(17));
    label->setTextAlignment(toolkit::TextAlignment::center);
    label->setText(localizedString("Sending\u2026"));
    label->setAutoresizingMask(toolkit::kFlexibleTopMargin);
    title->addSubview(label);
    navigationItem().setTitleView(title);
    if (auto* nav = navigationController()) {
        auto& bar = nav->navigationBar();
        auto progress = std::make_shared<toolkit::ProgressView>();
        progress->setTag(kProgressBarTag);
        const double h = 2;
        progress->setFrame({0, bar.frame().height() - h, view()->bounds().width(), h});
        progress->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleTopMargin);
        bar.addSubview(progress);
    }
}

void VC_Conversation::increaseSendingProgress() {
    auto* nav = navigationController();
    if (nav && nav->isBeingDismissed()) return;
    sendingProgressPercent() += progressStep(sendingImages_);
    if (!nav) return;
    if (auto* bar = dynamic_cast<toolkit::ProgressView*>(nav->navigationBar().viewWithTag(kProgressBarTag)))
        bar->setProgress(std::min(sendingProgressPercent(), 100) / 100.0, true);
}

void VC_Conversation::removeSendingProgress() {
    sendingReply_ = false;
    navigationItem().setTitleView(nullptr);
    if (auto* nav = navigationController())
        if (auto* bar = nav->navigationBar().viewWithTag(kProgressBarTag)) bar->removeFromSuperview();
    updateTitle();
}
