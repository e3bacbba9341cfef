// The shell's popovers of strings, shown as HXCPopoverView: its choices, long presses and
// dismissal reach the shell's delegate, with the handle the shell was given.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/screens.h"

std::shared_ptr<HXOptionsPopover> showOptionsPopover(graphics::Point point, toolkit::View& view,
                                                     const std::vector<std::string>& strings,
                                                     std::weak_ptr<HXOptionsPopoverDelegate> delegate);
