// A table's rows following a store's row changes (store::RowChanges): one batch of removals,
// insertions and reloads in a section, instead of reading the whole table again. The selection
// stays (a reloaded row is selected again), and trailing sections the data source added or removed
// meanwhile (a "load more" row's) join the same batch.
//
// keepPosition: rows inserted or removed above the first visible row move the content by their
// height, so that the rows in view stay where they are (a conversation's older messages arriving
// at the top); without it the content offset stays, as a reload keeps it.
#pragma once

#include "platform/foundation/error.h"
#include "platform/store/fetched_results_controller.h"
#include "platform/toolkit/table_view.h"

// The new index of an old row of the section, none for a removed row.
std::optional<long> hxRowAfterChanges(long oldRow, const store::RowChanges& changes);

// An error when the table's counts disagree with the changes (the table has then read everything
// again, as the toolkit does for any batch it cannot apply).
foundation::Status hxShowRowChanges(toolkit::TableView& table, long section, const store::RowChanges& changes,
                                    bool keepPosition);

// The same for a table whose store rows are its sections (one section per object, as a
// conversation shows a message with its attachments): sections removed, inserted and reloaded.
foundation::Status hxShowSectionChanges(toolkit::TableView& table, const store::RowChanges& changes, bool keepPosition);
