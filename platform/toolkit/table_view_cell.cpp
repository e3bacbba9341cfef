#include <algorithm>
#include <cmath>
#include <map>

#include "platform/graphics/graphics_context.h"
#include "platform/graphics/screen_scale.h"
#include "platform/toolkit/gesture_recognizer.h"
#include "platform/toolkit/table_view.h"
#include "platform/toolkit/text_metrics.h"

namespace toolkit {

namespace {
constexpr double kMargin = 16;
constexpr double kImageGap = 16;
constexpr double kEditingControlWidth = 38;
constexpr double kReorderWidth = 38;

// The editing controls' pictures, drawn once per screen scale: a red disc with a white bar
// (delete), a green disc with a white cross (insert), three grey lines (reorder).
enum class ControlPicture { Delete, Insert, Reorder };

ImagePtr controlPicture(ControlPicture kind) {
    static std::map<std::pair<int, double>, ImagePtr> drawn;
    const double scale = graphics::mainScreenScale();
    auto& image = drawn[{static_cast<int>(kind), scale}];
    if (image) return image;
    const graphics::Size size = kind == ControlPicture::Reorder ? graphics::Size{18, 13} : graphics::Size{22, 22};
    graphics::beginImageContext(size, false, scale);
    if (auto* ctx = graphics::currentContext()) {
        if (kind == ControlPicture::Reorder) {
            ctx->setFillColor(Color::systemGray());
            for (int i = 0; i < 3; ++i) ctx->fillRect({0, 5.5 * i, 18, 2});
        } else {
            ctx->setFillColor(kind == ControlPicture::Delete ? Color::systemRed() : Color::systemGreen());
            ctx->fillEllipse({0, 0, 22, 22});
            ctx->setFillColor(Color::whiteColor());
            ctx->fillRect({5, 9.75, 12, 2.5});
            if (kind == ControlPicture::Insert) ctx->fillRect({9.75, 5, 2.5, 12});
        }
    }
    image = graphics::imageFromCurrentImageContext();
    graphics::endImageContext();
    return image;
}

// A line of the label's text: of its font, or of its tallest run when it has attributed text.
double lineHeightOf(const Label& l) {
    const double plain = textMeasurer().lineHeight(l.font());
    if (!l.attributedText() || l.text().empty()) return std::ceil(plain);
    return std::ceil(l.textBox(0).lines.empty() ? plain : l.textBox(0).lines.front().frame.height());
}

const char* accessoryName(CellAccessoryType t) {
    switch (t) {
        case CellAccessoryType::DisclosureIndicator:
            return "disclosure";
        case CellAccessoryType::DetailDisclosureButton:
            return "detail-disclosure";
        case CellAccessoryType::Checkmark:
            return "checkmark";
        case CellAccessoryType::DetailButton:
            return "detail";
        default:
            return nullptr;
    }
}
}  // namespace

TableViewCell::TableViewCell(TableViewCellStyle style, std::string reuseIdentifier)
    : style_(style), reuseIdentifier_(std::move(reuseIdentifier)) {
    setFrame(Rect(0, 0, 320, 44));
    setClipsToBounds(true);
    content_ = std::make_shared<View>(bounds());
    content_->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    addSubview(content_);
}

Label& TableViewCell::textLabel() {
    if (!text_) {
        text_ = std::make_shared<Label>();
        text_->setFont(Font::system(17));
        content_->addSubview(text_);
        setNeedsLayout();
    }
    return *text_;
}

Label* TableViewCell::detailTextLabel() {
    if (style_ == TableViewCellStyle::Default) return nullptr;
    if (!detail_) {
        detail_ = std::make_shared<Label>();
        detail_->setFont(Font::system(style_ == TableViewCellStyle::Subtitle ? 12
                                      : style_ == TableViewCellStyle::Value2 ? 15
                                                                             : 17));
        // The platform's own secondary text: the secondary label colour of the appearance.
        if (style_ == TableViewCellStyle::Value1) detail_->setTextColor(Color::secondaryLabel());
        content_->addSubview(detail_);
        setNeedsLayout();
    }
    return detail_.get();
}

ImageView& TableViewCell::imageView() {
    if (!image_) {
        image_ = std::make_shared<ImageView>();
        content_->addSubview(image_);
        setNeedsLayout();
    }
    return *image_;
}

void TableViewCell::setAccessoryView(std::shared_ptr<View> view) {
    if (accessoryView_) accessoryView_->removeFromSuperview();
    accessoryView_ = std::move(view);
    if (accessoryView_) addSubview(accessoryView_);
    setNeedsLayout();
}

void TableViewCell::setSelectedBackgroundView(std::shared_ptr<View> view) {
    if (selectedBackground_) selectedBackground_->removeFromSuperview();
    selectedBackground_ = std::move(view);
    setSelected(selected_);
}

void TableViewCell::setSelected(bool selected, bool animated) {
    (void)animated;
    selected_ = selected;
    setNeedsDisplay();
    bool show = showsSelection();
    if (selectedBackground_) {
        if (show && selectedBackground_->superview() != this) insertSubview(selectedBackground_, 0);
        if (!show) selectedBackground_->removeFromSuperview();
        selectedBackground_->setFrame(bounds());
    }
    if (text_) text_->setHighlighted(show);
    if (detail_) detail_->setHighlighted(show);
    if (image_) image_->setHighlighted(show);
}

void TableViewCell::setSelectionStyle(CellSelectionStyle style) {
    if (setProperty(selectionStyle_, style)) setSelected(selected_);
}

void TableViewCell::setBackgroundView(std::shared_ptr<View> view) {
    if (backgroundView_ == view) return;
    if (backgroundView_ && backgroundView_->superview() == this) backgroundView_->removeFromSuperview();
    backgroundView_ = std::move(view);
    setNeedsLayout();
}

void TableViewCell::setHighlighted(bool highlighted, bool animated) {
    highlighted_ = highlighted;
    setSelected(selected_, animated);
}

void TableViewCell::setEditing(bool editing, bool animated) {
    (void)animated;
    editing_ = editing;
    if (editing_ && editingStyle_ != CellEditingStyle::None) {
        if (!editingControl_) {
            editingControl_ = std::make_shared<Button>(ButtonType::Custom);
            editingControl_->addAction(
                [this](Control&, const Event*) {
                    if (auto* t = table()) t->editingControlTapped(*this);
                },
                kTouchUpInside);
            addSubview(editingControl_);
        }
        const bool deletes = editingStyle_ == CellEditingStyle::Delete;
        editingControl_->accessibility().label = deletes ? "Delete" : "Insert";
        editingControl_->setImage(controlPicture(deletes ? ControlPicture::Delete : ControlPicture::Insert),
                                  kStateNormal);
        editingControl_->setHidden(false);
    } else if (editingControl_) {
        editingControl_->setHidden(true);
    }
    setNeedsLayout();
}

void TableViewCell::prepareForReuse() {
    setHighlighted(false);
    setSelected(false);
    removeSwipeView();
}

void TableViewCell::removeSwipeView() {
    if (swipeView_) swipeView_->removeFromSuperview(), swipeView_.reset();
    Rect b = bounds();
    if (b.origin.x == 0) return;
    b.origin.x = 0;
    setBounds(b);
}

double TableViewCell::fittingHeight(double width) {
    constexpr double kVerticalMargin = 11, kMinimumHeight = 44;
    // The labels get the width the layout gives them at this width.
    const Rect before = frame();
    setFrame(Rect(before.minX(), before.minY(), width, std::max(before.height(), kMinimumHeight)));
    layoutSubviews();
    auto linesHeight = [](const Label* l) {
        if (!l || l->text().empty()) return 0.0;
        return std::ceil(l->sizeThatFits({l->frame().width(), 0}).height);
    };
    const double text = linesHeight(text_.get()), detail = linesHeight(detail_.get());
    double labels = style_ == TableViewCellStyle::Subtitle ? text + detail : std::max(text, detail);
    if (image_ && image_->image()) labels = std::max(labels, image_->image()->size().height);
    double h = labels > 0 ? labels + 2 * kVerticalMargin : 0;
    // Content of the cell's own: as far down as it reaches, with the margin below.
    for (const auto& v : content_->subviews())
        if (!isStandardPart(v.get()) && !v->isHidden()) h = std::max(h, v->frame().maxY() + kVerticalMargin);
    setFrame(before);
    return std::max(h, kMinimumHeight);
}

class TableViewCell::ReorderGrip : public GestureRecognizerDelegate {
public:
    explicit ReorderGrip(TableViewCell* cell) : cell_(cell) {}
    bool shouldReceiveTouch(GestureRecognizer&, const Touch& touch) override {
        return cell_->inReorderGrip(touch.location);
    }

private:
    TableViewCell* cell_;
};

TableView* TableViewCell::table() const {
    for (View* v = superview(); v; v = v->superview())
        if (auto* t = dynamic_cast<TableView*>(v)) return t;
    return nullptr;
}

bool TableViewCell::isStandardPart(const View* v) const {
    return v == text_.get() || v == detail_.get() || v == image_.get();
}

void TableViewCell::layoutSubviews() {
    View::layoutSubviews();
    Rect b = bounds();
    double h = b.height();
    double left = 0, right = b.width();
    if (editingControl_ && !editingControl_->isHidden()) {
        editingControl_->setFrame(Rect(0, 0, kEditingControlWidth, h));
        left = kEditingControlWidth;
    }
    if (accessoryButton_) accessoryButton_->setHidden(true);
    if (!editing_) {
        if (accessoryView_) {
            Size s = accessoryView_->frame().size;
            accessoryView_->setFrame(Rect(right - kMargin - s.width, (h - s.height) / 2, s.width, s.height));
            right = right - kMargin - s.width - 8;
        } else if (accessoryType_ == CellAccessoryType::DetailButton ||
                   accessoryType_ == CellAccessoryType::DetailDisclosureButton) {
            if (!accessoryButton_) {
                accessoryButton_ = std::make_shared<Button>(ButtonType::DetailDisclosure);
                accessoryButton_->accessibility().label = "More Info";
                accessoryButton_->addAction(
                    [this](Control&, const Event*) {
                        if (auto* t = table()) t->accessoryTapped(*this);
                    },
                    kTouchUpInside);
                addSubview(accessoryButton_);
            }
            double w = accessoryType_ == CellAccessoryType::DetailButton ? 48 : 70;
            accessoryButton_->setHidden(false);
            accessoryButton_->setFrame(Rect(right - w, 0, 44, h));
            right -= w;
        } else if (accessoryType_ != CellAccessoryType::None) {
            right -= kMargin + 22;
        }
    } else if (reorder_) {
        right -= kReorderWidth;
    } else if (editingAccessoryType_ == CellAccessoryType::Checkmark ||
               editingAccessoryType_ == CellAccessoryType::DisclosureIndicator) {
        right -= kMargin + 22;
    }
    const bool reorders = editing_ && reorder_;
    if (reorders && !reorderControl_) {
        reorderControl_ = std::make_shared<ImageView>(controlPicture(ControlPicture::Reorder));
        reorderControl_->accessibility().label = "Reorder";
        addSubview(reorderControl_);
    }
    if (reorders && !reorderPan_) {
        reorderGrip_ = std::make_shared<ReorderGrip>(this);
        auto pan = std::make_shared<PanGestureRecognizer>([this](GestureRecognizer& g) { reorderPanned(g); });
        pan->setDelegate(reorderGrip_);
        reorderPan_ = pan;
        addGestureRecognizer(pan);
    }
    if (reorderControl_) {
        reorderControl_->setHidden(!reorders);
        if (reorders) reorderControl_->setFrame(Rect(b.width() - kReorderWidth + 10, (h - 13) / 2, 18, 13));
    }
    content_->setFrame(Rect(left, 0, std::max(0.0, right - left), h));
    double x = kMargin;
    double end = content_->bounds().width() - (right < b.width() ? 0 : kMargin);
    if (image_ && image_->image()) {
        Size s = image_->image()->size();
        image_->setFrame(Rect(x, (h - s.height) / 2, s.width, s.height));
        x += s.width + kImageGap;
    }
    double avail = std::max(0.0, end - x);
    // Labels that may wrap get as many lines as their text needs at this width.
    auto wrappedHeight = [&](const Label& l) {
        const double one = lineHeightOf(l);
        if (l.numberOfLines() == 1 || l.text().empty()) return one;
        return std::max(one, std::ceil(l.sizeThatFits({avail, 0}).height));
    };
    double th =
        text_ ? (style_ == TableViewCellStyle::Default || style_ == TableViewCellStyle::Subtitle ? wrappedHeight(*text_)
                                                                                                 : lineHeightOf(*text_))
              : 0;
    bool hasDetail = detail_ && !detail_->text().empty();
    switch (style_) {
        case TableViewCellStyle::Subtitle: {
            double dh = hasDetail ? wrappedHeight(*detail_) : 0;
            double top = std::round((h - th - dh) / 2);
            if (text_) text_->setFrame(Rect(x, top, avail, th));
            if (detail_) detail_->setFrame(Rect(x, top + th, avail, dh));
            break;
        }
        case TableViewCellStyle::Value1: {
            double dw = hasDetail ? std::min(avail, detail_->sizeThatFits({}).width) : 0;
            if (detail_) {
                double dh = lineHeightOf(*detail_);
                detail_->setFrame(Rect(x + avail - dw, std::round((h - dh) / 2), dw, dh));
            }
            if (text_) text_->setFrame(Rect(x, std::round((h - th) / 2), std::max(0.0, avail - dw - 8), th));
            break;
        }
        case TableViewCellStyle::Value2: {
            double tw = std::min(avail, 91.0);
            if (text_) {
                text_->setTextAlignment(TextAlignment::right);
                text_->setFrame(Rect(x, std::round((h - th) / 2), tw, th));
            }
            if (detail_) {
                double dh = lineHeightOf(*detail_);
                detail_->setFrame(Rect(x + tw + 6, std::round((h - dh) / 2), std::max(0.0, avail - tw - 6), dh));
            }
            break;
        }
        case TableViewCellStyle::Default:
            if (text_) text_->setFrame(Rect(x, std::round((h - th) / 2), avail, th));
            break;
    }
    // The backgrounds lie under the content, where it is: a swipe moves the bounds' origin to slide
    // the whole row aside, and they go with it.
    const Rect under(0, 0, b.width(), h);
    if (backgroundView_) {
        if (backgroundView_->superview() != this) insertSubview(backgroundView_, 0);
        backgroundView_->setFrame(under);
    }
    if (selectedBackground_) selectedBackground_->setFrame(under);
    if (swipeView_) {
        Rect f = swipeView_->frame();
        // The content has slid aside by the actions' width: they lie past its leading or trailing edge.
        swipeView_->setFrame(Rect(b.origin.x < 0 ? b.origin.x : b.origin.x + b.width() - f.width(), 0, f.width(), h));
        bringSubviewToFront(swipeView_.get());
    }
}

std::string TableViewCell::outlineText() const {
    std::string s = indexPath_ ? describe(*indexPath_) : std::string();
    auto add = [&](const std::string& t) {
        if (!t.empty()) s += (s.empty() ? "" : " ") + t;
    };
    if (text_) add(text_->text());
    if (detail_ && !detail_->text().empty()) add("| " + detail_->text());
    return s;
}

std::string TableViewCell::outlineState() const {
    std::vector<std::string> parts;
    if (!accessoryView_ || editing_)
        if (const char* a = accessoryName(shownAccessoryType())) parts.push_back(a);
    if (selected_) parts.push_back("selected");
    if (highlighted_) parts.push_back("highlighted");
    if (editing_ && editingStyle_ == CellEditingStyle::Delete) parts.push_back("editing-delete");
    if (editing_ && editingStyle_ == CellEditingStyle::Insert) parts.push_back("editing-insert");
    if (editing_ && reorder_) parts.push_back("reorder");
    std::string out;
    for (auto& p : parts) out += (out.empty() ? "" : ", ") + p;
    return out;
}

std::vector<View*> TableViewCell::outlineSubviews() const {
    std::vector<View*> out;
    if (image_ && image_->image()) out.push_back(image_.get());
    for (auto& v : content_->subviews())
        if (!isStandardPart(v.get())) out.push_back(v.get());
    if (accessoryView_ && !editing_) out.push_back(accessoryView_.get());
    if (swipeView_) out.push_back(swipeView_.get());
    return out;
}

bool TableViewCell::inReorderGrip(Point windowPoint) const {
    if (!editing_ || !reorder_ || !indexPath_) return false;
    const Point p = convertPointFrom(windowPoint, nullptr);
    return bounds().contains(p) && p.x >= bounds().width() - kReorderWidth;
}

void TableViewCell::reorderPanned(GestureRecognizer& g) {
    TableView* t = table();
    auto* pan = dynamic_cast<PanGestureRecognizer*>(&g);
    if (!t || !pan) return;
    switch (g.state()) {
        case GestureState::Began:
            if (!indexPath_) return;
            reorderFrom_ = indexPath_;
            reorderOrigin_ = frame();
            [[fallthrough]];
        case GestureState::Changed:
            if (reorderFrom_) setFrame(reorderOrigin_.offsetBy(0, pan->translationInView(t).y));
            break;
        case GestureState::Ended:
        case GestureState::Cancelled: {
            if (!reorderFrom_) return;
            const IndexPath from = *reorderFrom_;
            reorderFrom_.reset();
            const Point middle{frame().midX(), frame().midY()};
            setFrame(reorderOrigin_);
            if (g.state() == GestureState::Cancelled) return;
            // Past the last row it goes last; above the first, first.
            std::optional<IndexPath> to = t->indexPathForRowAtPoint(middle);
            if (!to && t->numberOfRows(from.section) > 0) {
                const long last = t->numberOfRows(from.section) - 1;
                to = IndexPath{from.section, middle.y < t->rectForRow({from.section, 0}).minY() ? 0 : last};
            }
            if (to && to->section == from.section) t->userMoveRow(from, *to);
            break;
        }
        default:
            break;
    }
}

void TableViewCell::touchesBegan(const TouchSet& touches, const Event*) {
    if (!touches.empty()) touchStart_ = touches.front()->location;
    if (auto* t = table()) t->cellTouchBegan(*this);
}

void TableViewCell::touchesEnded(const TouchSet& touches, const Event*) {
    const bool tap = !touches.empty() && std::hypot(touches.front()->location.x - touchStart_.x,
                                                    touches.front()->location.y - touchStart_.y) <=
                                             TapGestureRecognizer::kAllowableMovement;
    const bool inside = tap && bounds().contains(touches.front()->locationInView(this));
    if (auto* t = table()) t->cellTouchEnded(*this, inside);
}

void TableViewCell::touchesCancelled(const TouchSet&, const Event*) {
    if (auto* t = table()) t->cellTouchEnded(*this, false);
}

namespace {
Font cellTitleFont() { return Font::system(13); }
// The lines of a title at the width of its space.
size_t titleLines(const std::string& title, double width) {
    if (title.empty()) return 1;
    const double w = std::max(1.0, width - 2 * kMargin);
    return std::max<size_t>(1, textMeasurer().lines(title, cellTitleFont(), w, 0, LineBreakMode::wordWrap).size());
}
}  // namespace

Label& TableViewHeaderFooterView::textLabel() {
    if (!label_) {
        label_ = std::make_shared<Label>();
        label_->setFont(cellTitleFont());
        label_->setTextColor(Color::secondaryLabel());
        addSubview(label_);
    }
    return *label_;
}

void TableViewHeaderFooterView::setWrapsText(bool wraps) {
    if (wraps_ == wraps) return;
    wraps_ = wraps;
    textLabel().setNumberOfLines(wraps ? 0 : 1);
    textLabel().setLineBreakMode(wraps ? LineBreakMode::wordWrap : LineBreakMode::truncateTail);
    setNeedsLayout();
}

double TableViewHeaderFooterView::heightForTitle(const std::string& title, double width, double oneLine) {
    const double lh = std::ceil(textMeasurer().lineHeight(cellTitleFont()));
    return oneLine + static_cast<double>(titleLines(title, width) - 1) * lh;
}

void TableViewHeaderFooterView::layoutSubviews() {
    View::layoutSubviews();
    if (!label_) return;
    const double lh = std::ceil(textMeasurer().lineHeight(label_->font()));
    const Rect b = bounds();
    const double h = wraps_ ? lh * static_cast<double>(titleLines(label_->text(), b.width())) : lh;
    // The last line keeps its place above the bottom; the lines before it go up.
    label_->setFrame(Rect(kMargin, std::max(0.0, b.height() - h - 6), std::max(0.0, b.width() - 2 * kMargin), h));
}

}  // namespace toolkit
