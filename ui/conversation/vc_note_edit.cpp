#include "ui/conversation/vc_note_edit.h"

#include <algorithm>

#include "model/conversation.h"
#include "platform/foundation/bundle.h"
#include "platform/graphics/color.h"
#include "platform/graphics/hxc_font.h"
#include "platform/graphics/named_images.h"
#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/traits.h"
#include "ui/widgets/caret_navigation.h"

namespace {

constexpr const char* kClassName = "VC_NoteEdit";
constexpr const char* kContentSizeChanged = toolkit::kContentSizeCategoryDidChangeNotification;

}  // namespace

const toolkit::KeyCommand VC_NoteEdit::kEscapeCommand{"\x1b", toolkit::kModifierNone, "cancel:", "Cancel"};
const toolkit::KeyCommand VC_NoteEdit::kCloseCommand{".", toolkit::kModifierCommand, "cancel:", "Cancel"};
const toolkit::KeyCommand VC_NoteEdit::kSaveCommand{"s", toolkit::kModifierCommand, "save:", "Save"};

VC_NoteEdit::VC_NoteEdit(Roles roles, std::string conversationID)
    : roles_(std::move(roles)), conversationID_(std::move(conversationID)) {
    setActionHandler("cancel:", [this](toolkit::Responder*) { cancel(); });
    setActionHandler("save:", [this](toolkit::Responder*) { save(); });
}

VC_NoteEdit::~VC_NoteEdit() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

bool VC_NoteEdit::onTablet() const {
    auto routing = roles_.routing.lock();
    return routing ? routing->iPad() : toolkit::Device::current().isPad();
}

std::string VC_NoteEdit::storedNote() const {
    auto role = roles_.conversation.lock();
    auto object = role ? role->getConversationWithID(conversationID_) : nullptr;
    return object ? HX_ConversationFields(*object).note() : std::string();
}

void VC_NoteEdit::loadView() {
    auto root = std::make_shared<toolkit::View>(toolkit::Rect{0, 0, 320, 320});
    background_ = std::make_shared<toolkit::ImageView>(graphics::imageNamed("note"));
    background_->setFrame(root->bounds());
    background_->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    note_ = std::make_shared<toolkit::TextView>();
    note_->setFrame(root->bounds().insetBy(12, 12));
    note_->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    note_->setBackgroundColor(graphics::Color::clear());
    note_->accessibility().label = foundation::localizedString("Note");
    root->addSubview(background_);
    root->addSubview(note_);
    setView(root);
}

void VC_NoteEdit::viewDidLoad() {
    // The paper starts below the bar: the first lines are never typed under it.
    edgesForExtendedLayout = 0;
    view()->setBackgroundColor(graphics::Color::systemBackground());
    note_->setTextColor(graphics::Color::black());
    note_->delegate =
        std::shared_ptr<toolkit::TextViewDelegate>(shared_from_this(), static_cast<toolkit::TextViewDelegate*>(this));
    hxcAddGestureNavigation(*note_);
    if (onTablet()) {
        setPreferredContentSize({320, 320});
        if (auto* nav = navigationController()) nav->setPreferredContentSize({320, 320});
    }
    setTitle(foundation::localizedString("Note"));
    auto weak = weakSelf<VC_NoteEdit>();
    navigationItem().setLeftBarButtonItem(
        toolkit::BarButtonItem::withSystemItem(toolkit::SystemItem::Cancel, [weak](toolkit::BarButtonItem&) {
            if (auto self = weak.lock()) self->cancel();
        }));
    navigationItem().setRightBarButtonItem(
        toolkit::BarButtonItem::withSystemItem(toolkit::SystemItem::Save, [weak](toolkit::BarButtonItem&) {
            if (auto self = weak.lock()) self->save();
        }));
}

void VC_NoteEdit::viewDidLayoutSubviews() {
    toolkit::ViewController::viewDidLayoutSubviews();
    // The stack lays every view out under its bar; this one keeps the paper below it, so the
    // first lines are never typed under the bar.
    const toolkit::Rect b = view()->bounds();
    const double top = edgesForExtendedLayout & 1 ? 0 : std::min(b.height(), view()->safeAreaInsets().top);
    const toolkit::Rect paper{b.minX(), b.minY() + top, b.width(), b.height() - top};
    background_->setFrame(paper);
    note_->setFrame(paper.insetBy(12, 12));
}

void VC_NoteEdit::viewWillAppear(bool animated) {
    toolkit::ViewController::viewWillAppear(animated);
    if (auto font = graphics::HXCFont::HXCFontForType(4)) note_->setFont(*font);
    note_->setText(storedNote());
    if (onTablet())
        if (auto role = roles_.noteDraft.lock()) {
            auto cache = role->popoverCache();
            if (cache && cache->get("type").stringValue() == kClassName &&
                cache->get("conversationID").stringValue() == conversationID_ && cache->get("note").isString())
                note_->setText(cache->get("note").asString());
            else
                role->setPopoverCache({});
        }
    note_->becomeFirstResponder();
    auto& center = foundation::NotificationCenter::defaultCenter();
    auto weak = weakSelf<VC_NoteEdit>();
    if (!onTablet())
        for (const char* name :
             {toolkit::kKeyboardWillChangeFrameNotification, toolkit::kKeyboardDidChangeFrameNotification})
            center.addObserver(this, name, [weak](const foundation::Notification& n) {
                if (auto self = weak.lock()) self->keyboardFrameChange(n);
            });
    center.addObserver(this, kContentSizeChanged, [weak](const foundation::Notification&) {
        if (auto self = weak.lock()) self->fontsUpdated();
    });
}

void VC_NoteEdit::viewDidAppear(bool animated) {
    toolkit::ViewController::viewDidAppear(animated);
    if (!onTablet()) {
        note_->resignFirstResponder();
        note_->becomeFirstResponder();
    } else if (!note_->isFirstResponder()) {
        // The popover puts the note in the window only as it appears: the keyboard comes now.
        note_->becomeFirstResponder();
    }
}

void VC_NoteEdit::viewWillDisappear(bool animated) {
    toolkit::ViewController::viewWillDisappear(animated);
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this, kContentSizeChanged);
    if (onTablet()) {
        if (auto role = roles_.noteDraft.lock()) {
            auto cache = role->popoverCache();
            if (cache && !cache->contains("discardCache"))
                role->setPopoverCache(
                    {{"type", kClassName}, {"conversationID", conversationID_}, {"note", note_->text()}});
        }
    } else {
        center.removeObserver(this, toolkit::kKeyboardWillChangeFrameNotification);
        center.removeObserver(this, toolkit::kKeyboardDidChangeFrameNotification);
    }
}

void VC_NoteEdit::viewDidDisappear(bool animated) {
    toolkit::ViewController::viewDidDisappear(animated);
    if (note_->isFirstResponder()) note_->resignFirstResponder();
    if (onTablet())
        if (auto routing = roles_.routing.lock()) routing->setFirstResponder();
}

std::vector<toolkit::KeyCommand> VC_NoteEdit::keyCommands() const {
    return {kEscapeCommand, kCloseCommand, kSaveCommand};
}

void VC_NoteEdit::save() {
    const std::string text = note_->text();
    if (text != storedNote())
        if (auto role = roles_.conversation.lock()) role->setNote(text, conversationID_);
    if (onTablet()) {
        if (auto routing = roles_.routing.lock()) routing->dismissPopoverAnimated(true);
        // Presented by a screen rather than the shell's popover: it closes itself.
        if (auto* nav = navigationController(); nav && nav->presentingViewController()) nav->dismiss(true);
    } else {
        auto* host = navigationController() ? static_cast<toolkit::ViewController*>(navigationController()) : this;
        host->dismiss(true);
    }
}

void VC_NoteEdit::cancel() {
    if (onTablet())
        if (auto role = roles_.noteDraft.lock()) role->setPopoverCache({{"discardCache", "YES"}});
    auto* host = navigationController() ? static_cast<toolkit::ViewController*>(navigationController()) : this;
    host->dismiss(true);
}

void VC_NoteEdit::textViewDidChange(toolkit::TextView& view) { view.setNeedsDisplay(); }

void VC_NoteEdit::keyboardFrameChange(const foundation::Notification& notification) {
    const foundation::Value endValue = notification.userInfo.get(toolkit::kKeyboardFrameEndUserInfoKey);
    const auto end = endValue.isString() ? toolkit::rectFromString(endValue.asString()) : std::nullopt;
    if (!end) return;
    // The note ends at the keyboard's top: the screen's height less the bars above and the
    // keyboard, measured from where the view begins (under the bars when it extends below them).
    const auto frame = view()->frame();
    auto* superview = view()->superview();
    const double keyboardTop =
        superview ? superview->convertRectFrom(*end, nullptr).minY() : view()->convertRectFrom(*end, nullptr).minY();
    view()->setFrame({frame.minX(), frame.minY(), frame.width(), std::max(0.0, keyboardTop - frame.minY())});
}

void VC_NoteEdit::fontsUpdated() {
    graphics::HXCFont::clearFontCache();
    if (auto font = graphics::HXCFont::HXCFontForType(5)) note_->setFont(*font);
}
