#include "platform/toolkit/menu.h"

#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/menu_panel.h"
#include "platform/toolkit/view.h"
#include "platform/toolkit/window.h"

namespace toolkit {

std::shared_ptr<MenuAction> MenuAction::make(std::string title, ImagePtr image, Handler handler, unsigned attributes) {
    auto a = std::make_shared<MenuAction>();
    a->title = std::move(title);
    a->image = std::move(image);
    a->handler = std::move(handler);
    a->attributes = attributes;
    return a;
}

bool MenuAction::perform() {
    if (attributes & (kMenuElementDisabled | kMenuElementHidden)) return false;
    if (handler) handler(*this);
    return true;
}

MenuPtr Menu::make(std::string title, std::vector<MenuElementPtr> children, unsigned options, ImagePtr image) {
    auto m = std::make_shared<Menu>();
    m->title = std::move(title);
    m->children = std::move(children);
    m->options = options;
    m->image = std::move(image);
    return m;
}

std::shared_ptr<MenuAction> Menu::findAction(const std::string& t) const {
    for (auto& c : children) {
        if (auto a = std::dynamic_pointer_cast<MenuAction>(c); a && a->title == t) return a;
        if (auto m = std::dynamic_pointer_cast<Menu>(c))
            if (auto found = m->findAction(t)) return found;
    }
    return nullptr;
}

std::shared_ptr<MenuAction> Menu::findChoosableAction(const std::string& t) const {
    auto action = findAction(t);
    if (!action || (action->attributes & (kMenuElementDisabled | kMenuElementHidden))) return nullptr;
    return action;
}

std::vector<MenuEntry> Menu::displayEntries() const {
    std::vector<MenuEntry> out;
    auto separated = [&] { return out.empty() || out.back().isSeparator(); };
    for (auto& c : children) {
        if (auto a = std::dynamic_pointer_cast<MenuAction>(c)) {
            if (!(a->attributes & kMenuElementHidden)) out.push_back({a, nullptr});
        } else if (auto m = std::dynamic_pointer_cast<Menu>(c)) {
            if (m->options & kMenuDisplayInline) {
                // An inline group stands between separators; an empty one leaves no trace.
                auto group = m->displayEntries();
                if (group.empty()) continue;
                if (!separated()) out.push_back({});
                out.insert(out.end(), group.begin(), group.end());
                out.push_back({});
            } else {
                out.push_back({nullptr, m});
            }
        }
    }
    if (!out.empty() && out.back().isSeparator()) out.pop_back();
    return out;
}

std::vector<std::string> Menu::displayTitles() const {
    std::vector<std::string> out;
    for (const MenuEntry& e : displayEntries())
        out.push_back(e.action ? e.action->title : e.submenu ? e.submenu->title + " >" : "-");
    return out;
}

ContextMenuConfigurationPtr ContextMenuConfiguration::make(std::string identifier, PreviewProvider preview,
                                                           ActionProvider actions) {
    auto c = std::make_shared<ContextMenuConfiguration>();
    c->identifier = std::move(identifier);
    c->previewProvider = std::move(preview);
    c->actionProvider = std::move(actions);
    return c;
}

void ContextMenuCommitAnimator::finish() {
    auto list = std::move(completions_);
    completions_.clear();
    for (auto& c : list) c();
}

PresentedMenu& PresentedMenu::shared() {
    static PresentedMenu menu;
    return menu;
}

void PresentedMenu::show(MenuPtr menu, const std::shared_ptr<View>& anchor) {
    TK_MAIN_THREAD("PresentedMenu::show");
    menu_ = std::move(menu);
    anchor_ = anchor;
    // Drawn beside its button, in the button's window.
    Window* window = anchor ? anchor->window() : nullptr;
    if (!window || !menu_) {
        MenuPanel::close(this);
        return;
    }
    const Rect source = anchor->convertRectTo(anchor->bounds(), nullptr);
    MenuPanel::show(
        this, *window, menu_, source, MenuPanel::Style::button, nullptr,
        {[this](const std::shared_ptr<MenuAction>& action) { perform(action); }, [this] { dismiss(); }, {}});
}

void PresentedMenu::dismiss() {
    TK_MAIN_THREAD("PresentedMenu::dismiss");
    MenuPanel::close(this);
    menu_.reset();
    anchor_.reset();
}

bool PresentedMenu::perform(const std::shared_ptr<MenuAction>& action) {
    TK_MAIN_THREAD("PresentedMenu::perform");
    if (!menu_ || !action || (action->attributes & (kMenuElementDisabled | kMenuElementHidden))) return false;
    // The handler may show a menu of its own: this one is gone first.
    dismiss();
    return action->perform();
}

bool PresentedMenu::perform(const std::string& title) {
    TK_MAIN_THREAD("PresentedMenu::perform");
    return menu_ && perform(menu_->findChoosableAction(title));
}

}  // namespace toolkit
