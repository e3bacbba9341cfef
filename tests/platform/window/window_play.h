// Tests of the window: a script's lines played as the window system's events and handled at once.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/window/front_end.h"

namespace hxtest {

// Pushes the events of every step (clicks, keys, typing; no waits) and lets the window handle
// them; last is where the pointer was, moved by the steps.
inline void playInWindow(windowing::FrontEnd& frontEnd, const std::string& lines, toolkit::Point& last) {
    auto steps = windowing::parseInputScript(lines);
    ASSERT_TRUE(steps.ok()) << lines;
    for (const auto& step : *steps)
        for (SDL_Event event : windowing::eventsForStep(step, frontEnd.pointsToPixels(), frontEnd.windowID(), last))
            ASSERT_EQ(windowing::sdlLibrary().value()->PushEvent(&event), 1);
    frontEnd.pumpEvents();
}

}  // namespace hxtest
