#include "platform/toolkit/layout_constraint.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "platform/toolkit/view.h"

namespace toolkit {

using LA = LayoutAttribute;

std::shared_ptr<LayoutConstraint> LayoutConstraint::make(View* item1, LayoutAttribute attr1, View* item2,
                                                         LayoutAttribute attr2, double multiplier, double constant) {
    auto c = std::make_shared<LayoutConstraint>();
    c->item1_ = item1;
    c->attr1_ = attr1;
    c->item2_ = item2;
    c->attr2_ = attr2;
    c->multiplier_ = multiplier;
    c->constant_ = constant;
    return c;
}

View* LayoutConstraint::holder() const {
    if (!item2_) return item1_;
    for (View* a = item1_; a; a = a->superview())
        if (item2_->isDescendantOf(a)) return a;
    return nullptr;
}

void LayoutConstraint::setConstant(double c) {
    constant_ = c;
    // A changed constant can move anything the holder's ancestors derive from it.
    for (View* v = heldBy_; v; v = v->superview()) v->setNeedsLayout();
}

void LayoutConstraint::setActive(bool active) {
    if (active == active_) return;
    if (active) {
        View* h = holder();
        if (!h) return;  // items without a common ancestor cannot be related
        heldBy_ = h;
        active_ = true;
        h->addConstraint(shared_from_this());
    } else {
        active_ = false;
        if (heldBy_) heldBy_->removeConstraint(this);
        heldBy_ = nullptr;
    }
}

void LayoutConstraint::activate(const std::vector<std::shared_ptr<LayoutConstraint>>& list) {
    for (auto& c : list) c->setActive(true);
}

void LayoutConstraint::deactivate(const std::vector<std::shared_ptr<LayoutConstraint>>& list) {
    for (auto& c : list) c->setActive(false);
}

namespace {

bool horizontal(LA a) {
    return a == LA::Left || a == LA::Right || a == LA::Leading || a == LA::Trailing || a == LA::Width ||
           a == LA::CenterX;
}

// An attribute of a view in the holder's coordinates (the holder itself counts from zero).
double valueOf(const View* v, LA a, const View* holder) {
    Rect f = v == holder ? Rect(0, 0, v->bounds().width(), v->bounds().height()) : v->frame();
    switch (a) {
        case LA::Left:
        case LA::Leading:
            return f.minX();
        case LA::Right:
        case LA::Trailing:
            return f.maxX();
        case LA::Top:
            return f.minY();
        case LA::Bottom:
            return f.maxY();
        case LA::Width:
            return f.width();
        case LA::Height:
            return f.height();
        case LA::CenterX:
            return f.midX();
        case LA::CenterY:
            return f.midY();
        default:
            return 0;
    }
}

std::vector<const LayoutConstraint*> activeOf(const View* v) {
    std::vector<const LayoutConstraint*> out;
    for (auto& c : v->constraints())
        if (c->isActive()) out.push_back(c.get());
    return out;
}

std::optional<double> fixedHeight(const View* v);

// The height of a view's own top-to-bottom chain of subviews with known heights ("V:|[a][b]|").
std::optional<double> chainHeight(const View* v) {
    auto cs = activeOf(v);
    const View* cur = v;
    LA curAttr = LA::Top;
    double total = 0;
    for (int guard = 0; guard < 32; ++guard) {
        const LayoutConstraint* next = nullptr;
        for (auto* c : cs)
            if (c->secondItem() == cur && c->secondAttribute() == curAttr && c->firstAttribute() == LA::Top &&
                c->firstItem() != v)
                next = c;
        if (!next) break;
        View* item = next->firstItem();
        auto h = fixedHeight(item);
        if (!h) return std::nullopt;
        total += next->constant() + *h;
        cur = item;
        curAttr = LA::Bottom;
    }
    if (cur == v) return std::nullopt;
    for (auto* c : cs)
        if (c->firstItem() == cur && c->firstAttribute() == LA::Bottom && c->secondItem() == v &&
            c->secondAttribute() == LA::Bottom)
            return total - c->constant();
    return std::nullopt;
}

std::optional<double> fixedHeight(const View* v) {
    for (auto* c : activeOf(v))
        if (c->firstItem() == v && c->firstAttribute() == LA::Height && !c->secondItem()) return c->constant();
    if (v->superview())
        for (auto* c : activeOf(v->superview()))
            if (c->firstItem() == v && c->firstAttribute() == LA::Height && !c->secondItem()) return c->constant();
    return chainHeight(v);
}

struct Axis {
    std::optional<double> lo, hi, size, center;
};

void resolveItem(View* item, View* holder, const std::vector<const LayoutConstraint*>& cs) {
    Axis h, v;
    for (auto* c : cs) {
        if (c->firstItem() != item) continue;
        double value = c->constant();
        if (c->secondItem()) value += c->multiplier() * valueOf(c->secondItem(), c->secondAttribute(), holder);
        Axis& ax = horizontal(c->firstAttribute()) ? h : v;
        switch (c->firstAttribute()) {
            case LA::Left:
            case LA::Leading:
            case LA::Top:
                ax.lo = value;
                break;
            case LA::Right:
            case LA::Trailing:
            case LA::Bottom:
                ax.hi = value;
                break;
            case LA::Width:
            case LA::Height:
                ax.size = value;
                break;
            case LA::CenterX:
            case LA::CenterY:
                ax.center = value;
                break;
            default:
                break;
        }
    }
    for (auto* c : activeOf(item))
        if (c->firstItem() == item && !c->secondItem()) {
            if (c->firstAttribute() == LA::Width) h.size = c->constant();
            if (c->firstAttribute() == LA::Height) v.size = c->constant();
        }
    if (!v.size && !(v.lo && v.hi)) v.size = chainHeight(item);
    Rect f = item->frame();
    auto solve = [](const Axis& a, double pos, double size, double* outPos, double* outSize) {
        double s = a.size.value_or(size);
        // A fixed size wins over a far edge: the holder's own height follows its chain.
        if (a.lo && a.hi && !a.size) {
            *outPos = *a.lo;
            *outSize = *a.hi - *a.lo;
            return;
        }
        if (a.lo)
            *outPos = *a.lo;
        else if (a.hi)
            *outPos = *a.hi - s;
        else if (a.center)
            *outPos = *a.center - s / 2;
        else
            *outPos = pos;
        *outSize = s;
    };
    double x, w, y, hh;
    solve(h, f.minX(), f.width(), &x, &w);
    solve(v, f.minY(), f.height(), &y, &hh);
    item->setFrame(Rect(x, y, std::max(0.0, w), std::max(0.0, hh)));
}

}  // namespace

void View::resolveConstraints() {
    auto cs = activeOf(this);
    if (cs.empty()) return;
    std::vector<View*> items;
    for (auto* c : cs)
        if (c->firstItem() != this && std::find(items.begin(), items.end(), c->firstItem()) == items.end())
            items.push_back(c->firstItem());
    // Two rounds let an item that hangs off a later sibling see that sibling's new frame.
    for (int round = 0; round < 2; ++round)
        for (View* item : items) resolveItem(item, this, cs);
}

// ---- Visual format

namespace {

struct Cursor {
    const std::string& s;
    size_t i = 0;
    bool at(char c) const { return i < s.size() && s[i] == c; }
    bool eat(char c) {
        if (!at(c)) return false;
        ++i;
        return true;
    }
    std::optional<double> number() {
        size_t start = i;
        while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '.')) ++i;
        if (start == i) return std::nullopt;
        return std::stod(s.substr(start, i - start));
    }
    std::string name() {
        size_t start = i;
        while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_')) ++i;
        return s.substr(start, i - start);
    }
};

foundation::Error formatError(const std::string& format, size_t offset, const std::string& what) {
    return foundation::Error::withDescription("LayoutConstraintVisualFormat", 1,
                                              what + " at offset " + std::to_string(offset) + " of \"" + format + "\"");
}

// A connection: "-" (standard 8), "-(n)-" / "-n-", or nothing (0).
std::optional<double> connection(Cursor& c, bool* bad) {
    if (!c.eat('-')) return 0.0;
    double gap = 8;
    if (c.eat('(')) {
        auto n = c.number();
        if (!n || !c.eat(')')) {
            *bad = true;
            return std::nullopt;
        }
        gap = *n;
        if (!c.eat('-')) {
            *bad = true;
            return std::nullopt;
        }
    } else if (auto n = c.number()) {
        gap = *n;
        if (!c.eat('-')) {
            *bad = true;
            return std::nullopt;
        }
    }
    return gap;
}

}  // namespace

foundation::Result<std::vector<std::shared_ptr<LayoutConstraint>>>
LayoutConstraint::withVisualFormat(const std::string& format, const std::map<std::string, View*>& views) {
    Cursor c{format};
    bool vertical = false;
    if (c.eat('V')) {
        if (!c.eat(':')) return formatError(format, c.i, "expected ':'");
        vertical = true;
    } else if (c.eat('H')) {
        if (!c.eat(':')) return formatError(format, c.i, "expected ':'");
    }
    LA lead = vertical ? LA::Top : LA::Leading;
    LA trail = vertical ? LA::Bottom : LA::Trailing;
    LA size = vertical ? LA::Height : LA::Width;
    std::vector<std::shared_ptr<LayoutConstraint>> out;
    bool leadingSuper = c.eat('|');
    View* prev = nullptr;
    std::optional<double> pendingGap;
    if (leadingSuper) {
        bool bad = false;
        pendingGap = connection(c, &bad);
        if (bad) return formatError(format, c.i, "bad connection");
    }
    while (c.eat('[')) {
        std::string n = c.name();
        auto it = views.find(n);
        if (n.empty() || it == views.end()) return formatError(format, c.i, "unknown view '" + n + "'");
        View* v = it->second;
        if (c.eat('(')) {
            c.eat('=');
            c.eat('=');
            auto w = c.number();
            if (!w || !c.eat(')')) return formatError(format, c.i, "bad size");
            out.push_back(make(v, size, nullptr, LA::NotAnAttribute, 1, *w));
        }
        if (!c.eat(']')) return formatError(format, c.i, "expected ']'");
        if (!v->superview()) return formatError(format, c.i, "view '" + n + "' has no superview");
        if (prev)
            out.push_back(make(v, lead, prev, trail, 1, pendingGap.value_or(0)));
        else if (leadingSuper)
            out.push_back(make(v, lead, v->superview(), lead, 1, pendingGap.value_or(0)));
        prev = v;
        bool bad = false;
        pendingGap = connection(c, &bad);
        if (bad) return formatError(format, c.i, "bad connection");
    }
    if (!prev) return formatError(format, c.i, "expected a view");
    if (c.eat('|'))
        out.push_back(make(prev, trail, prev->superview(), trail, 1, -pendingGap.value_or(0)));
    else if (pendingGap && *pendingGap != 0)
        return formatError(format, c.i, "a connection must end at a view or '|'");
    if (c.i != format.size()) return formatError(format, c.i, "unexpected character");
    return out;
}

}  // namespace toolkit
