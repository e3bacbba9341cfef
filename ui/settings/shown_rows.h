// What the small tables of the quick settings show, worked out from their data rather than read
// from cells: each row (or section) a key that says which one it is and what it shows. Two
// drawings compared give the row-level changes that the one table adaptor
// (ui/widgets/table_row_changes.h) shows, instead of the table being read whole again.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "platform/store/fetched_results_controller.h"

struct HXShownRow {
    std::string key;
    std::string content;
    bool operator==(const HXShownRow&) const = default;
};

// Rows (or sections) from before to after, whose keys are unique and keep their order where both
// hold them: removed by their old index, inserted and changed by their new one.
inline store::RowChanges HXShownChanges(const std::vector<HXShownRow>& before, const std::vector<HXShownRow>& after) {
    std::unordered_map<std::string, size_t> oldIndex;
    for (size_t i = 0; i < before.size(); ++i) oldIndex.emplace(before[i].key, i);
    store::RowChanges out;
    std::vector<bool> kept(before.size(), false);
    size_t next = 0;  // the first old index a kept row may have
    for (size_t j = 0; j < after.size(); ++j) {
        auto it = oldIndex.find(after[j].key);
        if (it == oldIndex.end() || it->second < next) {
            out.inserted.push_back(j);
            continue;
        }
        kept[it->second] = true;
        next = it->second + 1;
        if (!(before[it->second] == after[j])) out.updated.push_back(j);
    }
    for (size_t i = 0; i < before.size(); ++i)
        if (!kept[i]) out.removed.push_back(i);
    return out;
}
