#include "platform/toolkit/responder.h"

#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/text_input.h"

namespace toolkit {

namespace {
Responder* gFirstResponder = nullptr;
Responder* gFoundResponder = nullptr;
}  // namespace

Responder* firstResponder() { return gFirstResponder; }

Responder::Responder() {
    setActionHandler("findFirstResponder:", [this](Responder* sender) { findFirstResponder(sender); });
}

Responder::~Responder() {
    if (gFirstResponder == this) gFirstResponder = nullptr;
    if (gFoundResponder == this) gFoundResponder = nullptr;
}

bool Responder::isFirstResponder() const { return gFirstResponder == this; }

bool Responder::becomeFirstResponder() {
    TK_MAIN_THREAD("becomeFirstResponder");
    if (gFirstResponder == this) return true;
    if (!canBecomeFirstResponder()) return false;
    if (gFirstResponder && !gFirstResponder->resignFirstResponder()) return false;
    gFirstResponder = this;
    return true;
}

bool Responder::resignFirstResponder() {
    TK_MAIN_THREAD("resignFirstResponder");
    if (gFirstResponder != this) return true;
    if (!canResignFirstResponder()) return false;
    gFirstResponder = nullptr;
    return true;
}

void Responder::dropFocusSilently() {
    if (gFirstResponder == this) gFirstResponder = nullptr;
}

void Responder::reloadInputViews() {
    if (isFirstResponder()) Keyboard::shared().reloadInputViews(*this);
}

void Responder::setActionHandler(const std::string& action, ActionHandler handler) {
    if (handler)
        actions_[action] = std::move(handler);
    else
        actions_.erase(action);
}

bool Responder::handlesAction(const std::string& action) const { return actions_.count(action) != 0; }

bool Responder::canPerformAction(const std::string& action, Responder*) const { return handlesAction(action); }

bool Responder::perform(const std::string& action, Responder* sender) {
    auto it = actions_.find(action);
    if (it == actions_.end()) return false;
    auto handler = it->second;  // the handler may replace itself
    handler(sender);
    return true;
}

Responder* Responder::targetForAction(const std::string& action, Responder* sender) {
    for (Responder* r = this; r; r = r->nextResponder())
        if (r->canPerformAction(action, sender)) return r;
    return nullptr;
}

void Responder::findFirstResponder(Responder*) { gFoundResponder = this; }

Responder* Responder::currentFirstResponder() {
    gFoundResponder = nullptr;
    // Sent with no target, the action reaches the first responder itself: only it records.
    if (gFirstResponder) gFirstResponder->perform("findFirstResponder:", nullptr);
    return gFoundResponder;
}

bool sendAction(const std::string& action, Responder* target, Responder* sender, Responder* fallback) {
    TK_MAIN_THREAD("sendAction");
    if (target) return target->perform(action, sender);
    Responder* start = gFirstResponder ? gFirstResponder : fallback;
    if (!start) return false;
    Responder* r = start->targetForAction(action, sender);
    return r && r->perform(action, sender);
}

bool dispatchKeyCommand(const std::string& input, unsigned modifiers, Responder* fallback) {
    TK_MAIN_THREAD("dispatchKeyCommand");
    Responder* start = gFirstResponder ? gFirstResponder : fallback;
    for (Responder* r = start; r; r = r->nextResponder()) {
        for (const KeyCommand& k : r->keyCommands()) {
            if (k.input != input || k.modifiers != modifiers) continue;
            // The command's action goes up the chain from the responder that offered it.
            if (Responder* t = r->targetForAction(k.action, nullptr)) return t->perform(k.action, nullptr);
        }
    }
    return false;
}

}  // namespace toolkit
