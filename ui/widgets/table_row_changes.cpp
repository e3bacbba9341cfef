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

namespace {

// The first visible row and where it is, to put it back there after the changes.
struct Anchor {
    toolkit::IndexPath path;
    double y = 0;
};

std::optional<Anchor> firstVisible(toolkit::TableView& table, std::optional<long> section) {
    for (const auto& ip : table.indexPathsForVisibleRows())
        if (!section || ip.section == *section) return Anchor{ip, table.rectForRow(ip).minY()};
    return std::nullopt;
}

void keepInPlace(toolkit::TableView& table, const Anchor& anchor, toolkit::IndexPath now) {
    const double moved = table.rectForRow(now).minY() - anchor.y;
    if (moved != 0) table.setContentOffset({table.contentOffset().x, table.contentOffset().y + moved}, false);
}

// The old indexes whose objects the changes mark as updated (given by their new indexes).
std::vector<size_t> updatedBefore(long oldCount, const store::RowChanges& changes) {
    std::vector<size_t> out;
    if (changes.updated.empty()) return out;
    for (long r = 0; r < oldCount; ++r)
        if (auto now = hxRowAfterChanges(r, changes);
            now && std::binary_search(changes.updated.begin(), changes.updated.end(), static_cast<size_t>(*now)))
            out.push_back(static_cast<size_t>(r));
    return out;
}

std::vector<long> asLongs(const std::vector<size_t>& v) { return std::vector<long>(v.begin(), v.end()); }

}  // namespace

foundation::Status hxShowSectionChanges(toolkit::TableView& table, const store::RowChanges& changes,
                                        bool keepPosition) {
    auto source = table.dataSource();
    const long before = table.numberOfSections();
    const long after = source ? source->numberOfSections(table) : 0;
    if (before + static_cast<long>(changes.inserted.size()) - static_cast<long>(changes.removed.size()) != after) {
        table.reloadData();
        return {};
    }
    const auto anchor = keepPosition ? firstVisible(table, std::nullopt) : std::nullopt;
    const auto reloaded = updatedBefore(before, changes);
    auto status = table.performBatchUpdates([&] {
        if (!changes.removed.empty()) table.deleteSections(asLongs(changes.removed), toolkit::RowAnimation::None);
        if (!changes.inserted.empty()) table.insertSections(asLongs(changes.inserted), toolkit::RowAnimation::None);
        if (!reloaded.empty()) table.reloadSections(asLongs(reloaded), toolkit::RowAnimation::None);
    });
    if (!status.ok()) return status;
    if (anchor)
        if (auto now = hxRowAfterChanges(anchor->path.section, changes))
            keepInPlace(table, *anchor, {*now, anchor->path.row});
    return {};
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
    const auto anchor = keepPosition ? firstVisible(table, section) : std::nullopt;
    auto paths = [section](const std::vector<size_t>& rows) {
        std::vector<toolkit::IndexPath> out;
        out.reserve(rows.size());
        for (size_t r : rows) out.push_back({section, static_cast<long>(r)});
        return out;
    };
    // The reloads are of rows after the change; the table takes reloads by their rows before it.
    const auto reloadedBefore = updatedBefore(table.numberOfRows(section), changes);
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
        if (auto now = hxRowAfterChanges(anchor->path.row, changes)) keepInPlace(table, *anchor, {section, *now});
    return {};
}
