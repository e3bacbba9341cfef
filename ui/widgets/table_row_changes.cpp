#include "ui/widgets/table_row_changes.h"

#include <algorithm>

std::optional<long> hxRowAfterChanges(long oldRow, const store::RowChanges& changes) {
    if (oldRow < 0) return std::nullopt;
    const auto old = static_cast<size_t>(oldRow);
    if (std::binary_search(changes.removed.begin(), changes.removed.end(), old)) return std::nullopt;
    size_t row = old - static_cast<size_t>(std::lower_bound(changes.removed.begin(), changes.removed.end(), old) -
                                           changes.removed.begin());
    // Insertions in ascending order push the row down one by one.
    for (size_t inserted : changes.inserted) {
        if (inserted > row) break;
        ++row;
    }
    return static_cast<long>(row);
}

foundation::Status hxShowRowChanges(toolkit::TableView& table, long section, const store::RowChanges& changes,
                                    bool keepPosition) {
    auto source = table.dataSource();
    const long before = table.numberOfSections();
    const long after = source ? source->numberOfSections(table) : 0;
    if (section >= before || section >= after) {
        table.reloadData();
        return {};
    }
    const auto selected = table.indexPathForSelectedRow();
    std::optional<toolkit::IndexPath> anchor;
    double anchorY = 0;
    if (keepPosition) {
        for (const auto& ip : table.indexPathsForVisibleRows())
            if (ip.section == section) {
                anchor = ip;
                anchorY = table.rectForRow(ip).minY();
                break;
            }
    }
    auto paths = [section](const std::vector<size_t>& rows) {
        std::vector<toolkit::IndexPath> out;
        out.reserve(rows.size());
        for (size_t r : rows) out.push_back({section, static_cast<long>(r)});
        return out;
    };
    // The reloads are of rows after the change; the table takes reloads by their rows before it.
    std::vector<size_t> reloadedBefore;
    if (!changes.updated.empty()) {
        const long oldCount = table.numberOfRows(section);
        for (long r = 0; r < oldCount; ++r)
            if (auto now = hxRowAfterChanges(r, changes);
                now && std::binary_search(changes.updated.begin(), changes.updated.end(), static_cast<size_t>(*now)))
                reloadedBefore.push_back(static_cast<size_t>(r));
    }
    auto status = table.performBatchUpdates([&] {
        if (!changes.removed.empty()) table.deleteRows(paths(changes.removed), toolkit::RowAnimation::None);
        if (!changes.inserted.empty()) table.insertRows(paths(changes.inserted), toolkit::RowAnimation::None);
        if (!reloadedBefore.empty()) table.reloadRows(paths(reloadedBefore), toolkit::RowAnimation::None);
        std::vector<long> sections;
        for (long s = std::min(before, after); s < std::max(before, after); ++s) sections.push_back(s);
        if (after > before) table.insertSections(sections, toolkit::RowAnimation::None);
        if (after < before) table.deleteSections(sections, toolkit::RowAnimation::None);
    });
    if (!status.ok()) return status;
    if (selected && selected->section == section && !table.indexPathForSelectedRow())
        if (auto now = hxRowAfterChanges(selected->row, changes))
            table.selectRow(toolkit::IndexPath{section, *now}, false);
    if (anchor)
        if (auto now = hxRowAfterChanges(anchor->row, changes)) {
            const double moved = table.rectForRow({section, *now}).minY() - anchorY;
            if (moved != 0) table.setContentOffset({table.contentOffset().x, table.contentOffset().y + moved}, false);
        }
    return {};
}
