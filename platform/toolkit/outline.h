// The outline of what a window shows: the screen, the controllers and every visible view with its
// class, tag, frame in window coordinates, text and state, one per line, indented by depth. Tests
// compare it with golden files; the program's headless run writes one beside each snapshot.
#pragma once

#include <functional>
#include <string>

#include "platform/toolkit/window.h"

namespace toolkit {

struct OutlineOptions {
    bool frames = true;
    bool hidden = false;  // include hidden views
};

std::string outline(Window& window, const OutlineOptions& options = {});

// Calls fn for v and each view below it, depth first (front-most last), with its depth; hidden
// views and what is below them are skipped unless includeHidden. With parts false a control's
// own parts are replaced by what it shows in an outline (View::outlineSubviews).
void forEachView(View* v, const std::function<void(View*, int)>& fn, int depth = 0, bool includeHidden = false,
                 bool parts = true);

}  // namespace toolkit
