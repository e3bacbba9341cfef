// The responder chain: objects that can take the keyboard focus, answer actions named by their
// selector strings ("copy:", "paste:") and offer key commands. An action without a target travels
// from the first responder along nextResponder() to the first object that can perform it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace toolkit {

class Responder;
using ResponderPtr = std::shared_ptr<Responder>;

enum KeyModifier : unsigned {
    kModifierNone = 0,
    kModifierShift = 1u << 17,
    kModifierControl = 1u << 18,
    kModifierAlternate = 1u << 19,
    kModifierCommand = 1u << 20,
};

// Special key inputs (the platform's escape and arrow strings).
inline constexpr const char* kInputEscape = "\x1b";
inline constexpr const char* kInputUpArrow = "UIKeyInputUpArrow";
inline constexpr const char* kInputDownArrow = "UIKeyInputDownArrow";
inline constexpr const char* kInputLeftArrow = "UIKeyInputLeftArrow";
inline constexpr const char* kInputRightArrow = "UIKeyInputRightArrow";

struct KeyCommand {
    std::string input;
    unsigned modifiers = kModifierNone;
    std::string action;
    std::string discoverabilityTitle;
};

class Responder : public std::enable_shared_from_this<Responder> {
public:
    using ActionHandler = std::function<void(Responder* sender)>;

    virtual ~Responder();

    // The next object up the chain, or none.
    virtual Responder* nextResponder() const { return nullptr; }

    virtual bool canBecomeFirstResponder() const { return false; }
    virtual bool canResignFirstResponder() const { return true; }
    // Takes the focus from the current first responder (which may refuse to give it up).
    virtual bool becomeFirstResponder();
    virtual bool resignFirstResponder();
    bool isFirstResponder() const;

    // Actions this object performs itself, by selector string. Subclasses and owners register
    // them; canPerformAction answers from this table unless overridden.
    void setActionHandler(const std::string& action, ActionHandler handler);
    bool handlesAction(const std::string& action) const;
    virtual bool canPerformAction(const std::string& action, Responder* sender) const;
    // Runs the registered handler; false when there is none.
    virtual bool perform(const std::string& action, Responder* sender);
    // The first object from here up the chain that can perform the action.
    Responder* targetForAction(const std::string& action, Responder* sender);

    virtual std::vector<KeyCommand> keyCommands() const { return {}; }

    // Shake and other motion events travel the chain like keys.
    virtual void motionBegan() {
        if (auto* n = nextResponder()) n->motionBegan();
    }
    virtual void motionEnded() {
        if (auto* n = nextResponder()) n->motionEnded();
    }

    // The focus moved away without asking (its view left the window).
    void dropFocusSilently();

    // The accessory above the keyboard while this object has the focus.
    virtual std::shared_ptr<class View> inputAccessoryView() const { return nullptr; }
    // Asks the keyboard to read the accessory view again.
    void reloadInputViews();

    // "findFirstResponder:" records its receiver; currentFirstResponder() sends it to the first
    // responder, so it answers what the chain would answer.
    static Responder* currentFirstResponder();
    void findFirstResponder(Responder* sender);

protected:
    Responder();

private:
    std::map<std::string, ActionHandler> actions_;
};

// The responder with the focus, or none (main thread).
Responder* firstResponder();

// Sends an action to target, or with no target along the chain from the first responder (and,
// when nothing has the focus, from fallback). Returns whether someone performed it.
bool sendAction(const std::string& action, Responder* target, Responder* sender, Responder* fallback = nullptr);

// Looks a key press up along the chain from the first responder (or fallback): the first
// responder whose key commands match input and modifiers, and that can perform the command's
// action, performs it. Returns whether one did.
bool dispatchKeyCommand(const std::string& input, unsigned modifiers, Responder* fallback = nullptr);

}  // namespace toolkit
