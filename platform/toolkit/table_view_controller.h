// The table view controller: a table as its view, itself the table's data source and delegate,
// clearing the selection when it appears again (unless told not to) and holding the table's
// refresh control.
#pragma once

#include <memory>

#include "platform/toolkit/table_view.h"
#include "platform/toolkit/view_controller.h"

namespace toolkit {

class TableViewController : public ViewController, public TableViewDataSource, public TableViewDelegate {
public:
    explicit TableViewController(TableViewStyle style = TableViewStyle::Plain) : style_(style) {}
    std::string className() const override { return "TableViewController"; }

    std::shared_ptr<TableView> tableView();
    bool clearsSelectionOnViewWillAppear = true;
    const std::shared_ptr<RefreshControl>& refreshControl() const { return refresh_; }
    void setRefreshControl(std::shared_ptr<RefreshControl> control);

    void loadView() override;
    void viewWillAppear(bool animated) override;
    void setEditing(bool editing, bool animated);
    bool isEditing() const { return editing_; }

    long numberOfRows(TableView&, long) override { return 0; }
    TableViewCellPtr cellForRow(TableView&, IndexPath) override { return nullptr; }

private:
    TableViewStyle style_;
    std::shared_ptr<TableView> table_;
    std::shared_ptr<RefreshControl> refresh_;
    bool editing_ = false;
    bool appearedOnce_ = false;
};

}  // namespace toolkit
