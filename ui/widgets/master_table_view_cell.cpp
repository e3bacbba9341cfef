#include "ui/widgets/master_table_view_cell.h"

#include "platform/toolkit/traits.h"

using toolkit::Color;
using toolkit::Rect;

MasterTableViewCell::MasterTableViewCell()
    : TableViewCell(toolkit::TableViewCellStyle::Default, kMasterTableCellIdentifier) {}

std::shared_ptr<MasterTableViewCell> makeMasterTableCell() {
    auto cell = std::make_shared<MasterTableViewCell>();
    cell->setFrame(Rect(0, 0, 258, 44));
    toolkit::View& content = cell->contentView();
    auto background = toolkit::View::make(content.bounds());
    background->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    auto image = std::make_shared<toolkit::ImageView>();
    image->setFrame(Rect(15, 9, 26, 26));
    image->setContentMode(toolkit::ContentMode::ScaleAspectFit);
    auto label = std::make_shared<toolkit::Label>(Rect(53, 0, 150, 44));
    label->setFont(toolkit::Font::system(17));
    auto badge = std::make_shared<HXCBadgeView>(Rect(206, 10, 30, 24));
    badge->setAutoresizingMask(toolkit::kFlexibleLeftMargin);
    for (const auto& v : std::initializer_list<std::shared_ptr<toolkit::View>>{background, image, label, badge}) {
        content.addSubview(v);
    }
    // Laid out for 44 points, the icon, title and badge stay centred in a taller row.
    for (const auto& v : std::initializer_list<std::shared_ptr<toolkit::View>>{image, label, badge})
        v->setAutoresizingMask(v->autoresizingMask() | toolkit::kFlexibleTopMargin | toolkit::kFlexibleBottomMargin);
    cell->bgView = background;
    cell->cellImage = image;
    cell->cellLabel = label;
    cell->badgeView = badge;
    cell->prepareForReuse();
    return cell;
}

void MasterTableViewCell::prepareForReuse() {
    TableViewCell::prepareForReuse();
    badgeValue = 0;
    if (auto badge = badgeView.lock()) {
        badge->setTintColor(Color::red());
        badge->setTextColor(Color::whiteColor());
    }
}

void MasterTableViewCell::layoutSubviews() {
    TableViewCell::layoutSubviews();
    auto badge = badgeView.lock();
    if (badge) badge->setHidden(badgeValue < 1);
    if (toolkit::Device::current().systemVersionAtLeast(13)) {
        setBackgroundColor(Color::groupTableViewBackground());
        if (auto label = cellLabel.lock()) label->setTextColor(Color::label());
        if (auto image = cellImage.lock()) image->setTintColor(Color::systemBlue());
    }
    if (badge && badgeValue >= 1) {
        badge->setText(std::to_string(badgeValue));
        badge->sizeToFit();
        Rect f = badge->frame();
        f.origin.x = contentView().bounds().maxX() - 4 - f.size.width;
        badge->setFrame(f);
    }
}
