// The toolkit's panels drawn as the snapshot tests draw them: in a phone window in light and then
// dark appearance, at 2x, with the bundled fonts.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/toolkit/window.h"
#include "tests/support/goldens.h"
#include "tests/support/test_support.h"

namespace toolkit_snapshots {

using hxtest::UsingFonts;

// A panel made by make, against the goldens "<prefix>_2x_light" and "<prefix>_2x_dark".
inline void expectGoldensInLightAndDarkAt2x(const std::function<std::shared_ptr<toolkit::View>()>& make,
                                            const std::string& prefix) {
    UsingFonts fonts;
    std::unique_ptr<toolkit::Window> window;
    std::shared_ptr<toolkit::View> panel;
    hxtest::expectSnapshotInLightAndDark(
        prefix + "_2x",
        [&](toolkit::InterfaceStyle style) {
            panel.reset();
            window = std::make_unique<toolkit::Window>(toolkit::ScreenProfile::iPhone8());
            window->setInterfaceStyle(style);
            panel = make();
            window->addSubview(panel);
            return panel.get();
        },
        2);
}

// A plain view of one colour.
inline std::shared_ptr<toolkit::View> box(toolkit::Rect frame, const toolkit::Color& colour) {
    auto v = toolkit::View::make(frame);
    v->setBackgroundColor(colour);
    return v;
}

}  // namespace toolkit_snapshots
