// The on-device search index: searchable items with a unique id, a domain id and their
// attributes. The items live in an SQLite file, not in memory: a store of half a million messages
// has an item for each, and the index holds only the file's page cache, whatever its size. The
// default index starts in a private file the system removes at the end of the process; the run
// keeps it from launch to launch in a file of the app home (keepInFile). The system's search finds
// items by their texts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/thread_annotations.h"

struct sqlite3;
struct sqlite3_stmt;

namespace services {

inline constexpr const char* kContentTypeMessage = "public.message";
inline constexpr const char* kContentTypeAudio = "public.audio";

struct SearchableItemAttributeSet {
    std::string contentType;
    std::string accountIdentifier;
    std::string title;
    std::string contentDescription;
    bool supportsPhoneCall = false;
};

struct SearchableItem {
    std::string uniqueIdentifier;
    std::string domainIdentifier;
    SearchableItemAttributeSet attributeSet;
};

class SearchableIndex {
public:
    SearchableIndex();
    ~SearchableIndex();
    SearchableIndex(const SearchableIndex&) = delete;
    SearchableIndex& operator=(const SearchableIndex&) = delete;

    static std::shared_ptr<SearchableIndex> defaultSearchableIndex();
    // Whether this device offers search indexing (yes unless a test turns it off).
    static bool isIndexingAvailable();
    static void setIndexingAvailable(bool available);

    // An item with the unique id of an indexed one replaces it (and keeps its place in the order).
    // Each call is one transaction of the file: what it hands over is there after a kill.
    void indexSearchableItems(std::vector<SearchableItem> items);
    void deleteSearchableItemsWithIdentifiers(const std::vector<std::string>& uniqueIdentifiers);
    // Deletes the items of each domain and of its sub-domains ("<domain>.<...>").
    void deleteSearchableItemsWithDomainIdentifiers(const std::vector<std::string>& domains);
    void deleteAllSearchableItems();

    // Every item, in the order first indexed.
    std::vector<SearchableItem> items() const;

    // ---- the system's side

    // Items whose title or description holds every word of query (in any case), at most limit,
    // in the order first indexed. An empty query finds nothing. The words are plain text, never
    // a query language.
    std::vector<SearchableItem> search(std::string_view query, size_t limit) const;
    // Every item as JSON, written atomically.
    foundation::Status writeToFile(const std::filesystem::path& path) const;
    // Replaces the index with the items of a file writeToFile wrote; a missing file is an empty
    // index, a file that does not read is an error and leaves the index as it was.
    foundation::Status readFromFile(const std::filesystem::path& path);

    // The index the system keeps from launch to launch, in the SQLite file at path: every change
    // is committed to it before the call returns, so a run ended by a kill loses nothing it
    // handed over. An index kept before in JSON (kJSONFileName beside path, as writeToFile wrote
    // it, with its journal "<json>.journal" of changes since it was last written whole and its
    // "<json>.generation") is converted once, generation and all, and its files removed once the
    // converted file is in place; a file of the layout before items were found through their
    // conversations is converted in place as it opens, in one transaction (items, order and
    // generation kept), and one that cannot be is set aside as below. The index starts empty,
    // under a new generation, when there is no file, when the file is not an index (damaged
    // bytes, another database), when the JSON does not read, or when the JSON and its journal are
    // above maxBytes (they would be read whole); such files are set aside beside it
    // ("<file>.set-aside", or the first free "<file>.set-aside-<n>": nothing set aside before is
    // replaced), and whoever marked items as handed over hands them again (see generation).
    struct Kept {
        bool startedEmpty = false;
        // What was set aside and why ("" when nothing was).
        std::string note;
    };
    static constexpr const char* kJSONFileName = "index.json";
    static constexpr uintmax_t kKeptFileBound = 8u << 20;
    Kept keepInFile(const std::filesystem::path& path, uintmax_t maxBytes = kKeptFileBound);
    // Names the index's life since it last started empty ("" for a file kept before generations
    // were given). A caller that records the generation it handed its items to knows, when it
    // differs, that they must be handed over again.
    std::string generation() const;
    // The pages of its file (or, kept, of the file's log) the index has written since it was opened:
    // what its changes cost the disk, which a new conversation's items must not raise as the index
    // grows.
    int64_t pagesWritten() const;
    // Folds the file's write-ahead log into it, so that the file alone holds the index (nothing
    // when not kept).
    foundation::Status writeKeptFile();

private:
    struct Statements;

    // Opens the file at path (a private temporary one for ""), with the index's tables; an error
    // names what is wrong with the file. On success the index is that file's.
    // (Const, as are the file's members: a reader opens the private file on first use.)
    foundation::Status openLocked(const std::filesystem::path& path) const HX_REQUIRES(mutex_);
    void closeLocked() const HX_REQUIRES(mutex_);
    int userVersionLocked() const HX_REQUIRES(mutex_);  // -1 when the file does not read
    bool tableExistsLocked(const char* table) const HX_REQUIRES(mutex_);
    bool hasColumnsLocked(const char* table, const std::string& columns) const HX_REQUIRES(mutex_);
    // Moves the items of a file kept before conversations numbered them (renamed item_before) into
    // the tables of this layout; within the caller's transaction.
    foundation::Status convertItemsLocked(const Statements& statements) const HX_REQUIRES(mutex_);
    // The private file, opened when the index has none.
    void ensureOpenLocked() const HX_REQUIRES(mutex_);
    // One transaction around change; a failure is logged once (the file refuses every change
    // alike) and rolled back.
    template <typename Change>
    void changeLocked(const char* what, Change&& change) HX_REQUIRES(mutex_);
    foundation::Status execLocked(const char* sql) const HX_REQUIRES(mutex_);
    foundation::Status indexLocked(const std::vector<SearchableItem>& items) HX_REQUIRES(mutex_);
    foundation::Status deleteIdentifiersLocked(const std::vector<std::string>& uniqueIdentifiers) HX_REQUIRES(mutex_);
    foundation::Status deleteDomainsLocked(const std::vector<std::string>& domains) HX_REQUIRES(mutex_);
    foundation::Status dropConversationsLocked(std::vector<int64_t> conversations) HX_REQUIRES(mutex_);
    foundation::Status deleteAllLocked() HX_REQUIRES(mutex_);
    std::vector<SearchableItem> itemsLocked() const HX_REQUIRES(mutex_);
    // Applies one line of the JSON journal; false when it does not read.
    bool replayLocked(std::string_view line) HX_REQUIRES(mutex_);
    // Reads the JSON index kept before, and its journal, into the open file (one transaction);
    // an error says what does not read.
    foundation::Status convertLocked(const std::filesystem::path& json, uintmax_t maxBytes) HX_REQUIRES(mutex_);
    foundation::Status setGenerationLocked(const std::string& generation) HX_REQUIRES(mutex_);

    mutable foundation::Mutex mutex_;
    mutable sqlite3* db_ HX_GUARDED_BY(mutex_) = nullptr;
    mutable std::unique_ptr<Statements> statements_ HX_GUARDED_BY(mutex_);
    mutable std::filesystem::path keptPath_ HX_GUARDED_BY(mutex_);
    mutable std::string generation_ HX_GUARDED_BY(mutex_);
};

}  // namespace services
