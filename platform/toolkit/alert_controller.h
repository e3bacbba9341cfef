// Alerts and action sheets: a title, a message, actions in three styles, text fields (alerts
// only) and a preferred action. Tapping an action's button dismisses the alert and then runs the
// action's handler. An alert lays itself over the presenter without covering it (the presenter
// does not disappear); an action sheet on a pad is a popover, whose cancel button is not shown:
// a tap outside it counts as cancel. Return and Escape choose the preferred and cancel actions.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/view_controller.h"

namespace toolkit {

enum class AlertActionStyle { Default, Cancel, Destructive };
enum class AlertControllerStyle { ActionSheet, Alert };

class AlertAction {
public:
    using Handler = std::function<void(AlertAction&)>;
    static std::shared_ptr<AlertAction> make(std::string title, AlertActionStyle style, Handler handler = {});
    AlertAction(std::string title, AlertActionStyle style, Handler handler)
        : title_(std::move(title)), style_(style), handler_(std::move(handler)) {}

    const std::string& title() const { return title_; }
    AlertActionStyle style() const { return style_; }
    bool isEnabled() const { return enabled_; }
    // Takes effect on the shown button at once.
    void setEnabled(bool enabled);
    // The image shown beside the title (the keyed "image" value).
    ImagePtr image;

private:
    friend class AlertController;
    std::string title_;
    AlertActionStyle style_;
    Handler handler_;
    bool enabled_ = true;
    std::weak_ptr<Button> button_;
};
using AlertActionPtr = std::shared_ptr<AlertAction>;

// The button of one action; the outline shows the action's style.
class AlertActionButton : public Button {
public:
    explicit AlertActionButton(AlertActionPtr action) : action_(std::move(action)) {}
    std::string className() const override { return "AlertActionButton"; }
    std::string outlineState() const override;
    const AlertActionPtr& action() const { return action_; }
    bool preferred = false;

private:
    AlertActionPtr action_;
};

class AlertController : public ViewController {
public:
    static std::shared_ptr<AlertController> make(std::optional<std::string> title, std::optional<std::string> message,
                                                 AlertControllerStyle style);
    AlertController(std::optional<std::string> title, std::optional<std::string> message, AlertControllerStyle style);
    std::string className() const override { return "AlertController"; }

    AlertControllerStyle preferredStyle() const { return style_; }
    const std::optional<std::string>& alertTitle() const { return title_; }
    const std::optional<std::string>& message() const { return message_; }
    void setMessage(std::optional<std::string> message);

    // An alert has at most one cancel action; a second is refused.
    foundation::Status addAction(const AlertActionPtr& action);
    const std::vector<AlertActionPtr>& actions() const { return actions_; }
    // One of the alert's actions (or none); shown emphasised, and Return picks it.
    foundation::Status setPreferredAction(const AlertActionPtr& action);
    const AlertActionPtr& preferredAction() const { return preferred_; }
    // Alerts only; the handler configures the field before it is shown.
    foundation::Status addTextField(const std::function<void(TextField&)>& configure = {});
    const std::vector<std::shared_ptr<TextField>>& textFields() const { return fields_; }

    // What a tap on the action's button does: nothing while it is disabled or the alert is
    // going away; otherwise dismiss, then the handler.
    void performAction(const AlertActionPtr& action);
    // The buttons in the order shown (the cancel action of a sheet in a popover is not shown).
    std::vector<std::shared_ptr<AlertActionButton>> actionButtons() const;

    // Keys while shown: Return chooses the preferred action, Escape the cancel action (when
    // they exist and are enabled); the alert takes the focus for them and gives it back after.
    std::vector<KeyCommand> keyCommands() const override;
    bool canPerformAction(const std::string& action, Responder* sender) const override;
    bool canBecomeFirstResponder() const override { return true; }

    void loadView() override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void viewDidLayoutSubviews() override;
    void popoverWillDismissFromOutsideTap() override;

    static constexpr double kAlertWidth = 270;
    static constexpr double kButtonHeight = 44;
    static constexpr double kFieldHeight = 24;

private:
    void build();
    bool inPopover() const { return presentationStyleInUse() == ModalPresentationStyle::Popover; }
    std::optional<std::string> title_;
    std::optional<std::string> message_;
    AlertControllerStyle style_;
    std::vector<AlertActionPtr> actions_;
    AlertActionPtr preferred_;
    std::vector<std::shared_ptr<TextField>> fields_;
    std::shared_ptr<View> panel_;
    std::shared_ptr<Label> titleLabel_, messageLabel_;
    std::vector<std::shared_ptr<AlertActionButton>> buttons_;
    bool acting_ = false;
    // Who had the focus before the alert took it.
    std::weak_ptr<Responder> focusBefore_;
    AlertActionPtr cancelAction() const;
};

}  // namespace toolkit
