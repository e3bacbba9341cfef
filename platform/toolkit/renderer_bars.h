// The bars' own look, for the renderer: the navigation bar (its background reaching up behind
// the status bar, the hairline under it, the title between the items), the tab bar and the
// toolbar (background, hairline above them, which clipping the bar hides), and each bar item.
// The toolbar draws its chrome from its draw(), so that a subclass drawing for itself replaces it.
#pragma once

#include "platform/graphics/graphics_context.h"
#include "platform/toolkit/graphics_types.h"

namespace toolkit {

class NavigationBar;
class TabBar;
class Toolbar;
class BarItemView;

void drawNavigationBar(const NavigationBar& bar, graphics::GraphicsContext& c);
// Lets go of the titles' layouts the navigation bars keep between frames.
void forgetNavigationBarTitles();
// The colour the navigation bar's background is filled with.
Color navigationBarBackground(const NavigationBar& bar);
void drawTabBar(const TabBar& bar, graphics::GraphicsContext& c);
void drawToolbar(const Toolbar& bar, graphics::GraphicsContext& c);
void drawBarItem(const BarItemView& item, graphics::GraphicsContext& c);

}  // namespace toolkit
