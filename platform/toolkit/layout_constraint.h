// Layout constraints as records, resolved in one pass by the view that holds them: each active
// constraint fixes one edge, centre or size of its first item from its second item (or a
// constant). There is no solver: an item's frame keeps whatever its constraints leave open, and
// a height left open is the fitting height of the item's own top-to-bottom chain when it has
// one. Visual formats cover the forms the screens use ("H:|[v]|", "V:|[s][v]|", "H:[v(==44)]",
// "H:|-(8)-[v]-(8)-|").
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/error.h"

namespace toolkit {

class View;

enum class LayoutAttribute {
    NotAnAttribute,
    Left,
    Right,
    Top,
    Bottom,
    Leading,
    Trailing,
    Width,
    Height,
    CenterX,
    CenterY
};

class LayoutConstraint : public std::enable_shared_from_this<LayoutConstraint> {
public:
    // item1.attr1 == item2.attr2 * multiplier + constant (item2 may be none for sizes).
    static std::shared_ptr<LayoutConstraint> make(View* item1, LayoutAttribute attr1, View* item2,
                                                  LayoutAttribute attr2, double multiplier, double constant);
    View* firstItem() const { return item1_; }
    View* secondItem() const { return item2_; }
    LayoutAttribute firstAttribute() const { return attr1_; }
    LayoutAttribute secondAttribute() const { return attr2_; }
    double multiplier() const { return multiplier_; }
    double constant() const { return constant_; }
    void setConstant(double c);
    bool isActive() const { return active_; }
    // Activating adds the constraint to the nearest common ancestor of its items.
    void setActive(bool active);
    static void activate(const std::vector<std::shared_ptr<LayoutConstraint>>& list);
    static void deactivate(const std::vector<std::shared_ptr<LayoutConstraint>>& list);

    // Constraints of a visual format over named views; the views must share the superview the
    // '|' marks stand for. Errors name the offset that could not be read.
    static foundation::Result<std::vector<std::shared_ptr<LayoutConstraint>>>
    withVisualFormat(const std::string& format, const std::map<std::string, View*>& views);

private:
    View* holder() const;
    View* item1_ = nullptr;
    View* item2_ = nullptr;
    LayoutAttribute attr1_ = LayoutAttribute::NotAnAttribute;
    LayoutAttribute attr2_ = LayoutAttribute::NotAnAttribute;
    double multiplier_ = 1;
    double constant_ = 0;
    bool active_ = false;
    View* heldBy_ = nullptr;
};
using LayoutConstraintPtr = std::shared_ptr<LayoutConstraint>;

}  // namespace toolkit
