#include "platform/toolkit/outline.h"

#include <cstdio>
#include <sstream>

#include "platform/toolkit/menu.h"
#include "platform/toolkit/menu_panel.h"
#include "platform/toolkit/status_bar.h"
#include "platform/toolkit/view_controller.h"

namespace toolkit {

void forEachView(View* v, const std::function<void(View*, int)>& fn, int depth, bool includeHidden, bool parts) {
    if (v->isHidden() && !includeHidden) return;
    fn(v, depth);
    if (!parts) {
        for (View* s : v->outlineSubviews()) forEachView(s, fn, depth + 1, includeHidden, parts);
        return;
    }
    for (auto& s : std::vector<ViewPtr>(v->subviews())) forEachView(s.get(), fn, depth + 1, includeHidden, parts);
}

namespace {

std::string outlineNumber(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

const char* styleName(InterfaceStyle s) { return s == InterfaceStyle::dark ? "dark" : "light"; }

}  // namespace

std::string outline(Window& window, const OutlineOptions& o) {
    flushLayout();
    std::ostringstream out;
    const ScreenProfile& p = window.profile();
    TraitCollection t = window.windowTraits();
    Rect b = p.bounds();
    out << "Screen " << outlineNumber(b.width()) << "x" << outlineNumber(b.height()) << " @" << outlineNumber(p.scale)
        << "x " << (p.idiom == Idiom::Pad ? "pad" : "phone") << " iOS " << Device::current().systemVersion() << " "
        << styleName(t.style) << " " << contentSizeCategoryName(t.contentSize) << "\n";
    // The status bar's parts that come and go with the app's state.
    if (Rect activity = networkActivityIndicatorFrame(window); !activity.isEmpty())
        out << "NetworkActivityIndicator " << describe(activity) << "\n";
    forEachView(
        &window,
        [&](View* v, int depth) {
            std::string pad(static_cast<size_t>(depth) * 2, ' ');
            if (ViewController* c = v->owningController()) {
                out << pad << "<" << c->className();
                if (!c->title().empty()) out << " \"" << c->title() << "\"";
                if (c->presentingViewController()) out << " presented";
                out << ">\n";
            }
            out << pad << v->className();
            if (v->tag() != 0) out << " #" << v->tag();
            if (o.frames) out << " " << describe(v->convertRectTo(v->bounds(), nullptr));
            if (std::string text = v->outlineText(); !text.empty()) out << " \"" << text << "\"";
            if (std::string state = v->outlineState(); !state.empty()) out << " [" << state << "]";
            if (v->isHidden()) out << " hidden";
            if (v->alpha() < 1) out << " alpha=" << outlineNumber(v->alpha());
            if (std::string label = v->accessibility().label; !label.empty() && label != v->outlineText())
                out << " label=\"" << label << "\"";
            out << "\n";
        },
        0, o.hidden, false);
    // A menu shown from a button floats above everything, pointing at its button.
    if (const MenuPtr& menu = PresentedMenu::shared().menu()) {
        out << "Menu";
        if (auto anchor = PresentedMenu::shared().anchor()) out << " from \"" << anchor->outlineText() << "\"";
        out << ":";
        for (const std::string& t : menu->displayTitles()) out << " \"" << t << "\"";
        out << "\n";
    }
    // A context menu over the window: the row it came from and the preview lifted out above it.
    if (MenuPanel* panel = MenuPanel::shown(&window); panel && panel->style() == MenuPanel::Style::context) {
        out << "ContextMenu " << describe(panel->source());
        if (panel->preview()) out << " preview <" << panel->preview()->className() << ">";
        out << ":";
        if (panel->menu())
            for (const std::string& t : panel->menu()->displayTitles()) out << " \"" << t << "\"";
        out << "\n";
    }
    return out.str();
}

}  // namespace toolkit
