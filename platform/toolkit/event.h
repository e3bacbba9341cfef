// Touches and touch events as the window delivers them: each touch remembers the view it began
// in and the gesture recognisers that watch it.
#pragma once

#include <memory>
#include <vector>

#include "platform/toolkit/geometry.h"

namespace toolkit {

class View;
class Window;
class GestureRecognizer;

enum class TouchPhase { Began, Moved, Stationary, Ended, Cancelled };

struct Touch {
    int identifier = 0;
    Point location;  // in the window
    Point previousLocation;
    TouchPhase phase = TouchPhase::Began;
    int tapCount = 1;
    double timestamp = 0;
    std::weak_ptr<View> view;
    Window* window = nullptr;
    // Held weakly, as the view: the views own their recognisers, and a recogniser keeps the
    // touches of its sequence, so a strong link back would keep both alive past their view (a
    // double tap waiting for its second tap). A recogniser whose view has gone hears no more.
    std::vector<std::weak_ptr<GestureRecognizer>> recognizers;
    // A recogniser took the touch over and the view was told it was cancelled.
    bool viewCancelled = false;

    Point locationInView(const View* view) const;
    Point previousLocationInView(const View* view) const;
};

struct Event {
    std::vector<std::shared_ptr<Touch>> touches;
    double timestamp = 0;
};

}  // namespace toolkit
