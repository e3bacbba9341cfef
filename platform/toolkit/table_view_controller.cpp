#include "platform/toolkit/table_view_controller.h"

#include "platform/toolkit/traits.h"

namespace toolkit {

std::shared_ptr<TableView> TableViewController::tableView() {
    view();
    return table_;
}

void TableViewController::loadView() {
    table_ = std::make_shared<TableView>(Device::current().screen().bounds(), style_);
    table_->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    ViewControllerPtr me = selfPtr();
    table_->setDataSource(std::shared_ptr<TableViewDataSource>(me, static_cast<TableViewDataSource*>(this)));
    table_->setTableDelegate(std::shared_ptr<TableViewDelegate>(me, static_cast<TableViewDelegate*>(this)));
    setView(table_);
}

void TableViewController::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    if (!appearedOnce_) {
        appearedOnce_ = true;
        table_->reloadData();
        return;
    }
    if (clearsSelectionOnViewWillAppear)
        for (auto& ip : table_->indexPathsForSelectedRows()) table_->deselectRow(ip, animated);
}

void TableViewController::setEditing(bool editing, bool animated) {
    editing_ = editing;
    tableView()->setEditing(editing, animated);
}

}  // namespace toolkit

namespace toolkit {

void TableViewController::setRefreshControl(std::shared_ptr<RefreshControl> control) {
    refresh_ = std::move(control);
    tableView()->setRefreshControl(refresh_);
}

}  // namespace toolkit
