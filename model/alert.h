// An alert or action sheet as the lower layers describe it to the shell, which presents it: a
// title, a message and buttons whose handlers run when the user picks them. It names no view, so
// the data model and the web client can ask for one without seeing the toolkit.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct HXAlertAction {
    enum class Style { Default, Cancel, Destructive };
    std::string title;
    Style style = Style::Default;
    std::function<void()> handler;
};

struct HXAlert {
    std::string title;
    std::string message;
    std::vector<HXAlertAction> actions;
    // The index in actions of the action the platform draws as the preferred one, if any.
    std::optional<size_t> preferredAction;
    // Shown as an action sheet (a choice among the actions) rather than a centred alert.
    bool actionSheet = false;
};
