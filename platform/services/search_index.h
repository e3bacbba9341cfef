// The on-device search index: searchable items with a unique id, a domain id and their
// attributes. The default index lives in memory; the system keeps it across launches, which the
// run does by reading it from a file of the app home at the start and writing it back at the end
// (readFromFile, writeToFile). The system's search finds items by their texts.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/flat_map.h"
#include "platform/foundation/thread_annotations.h"

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
    static std::shared_ptr<SearchableIndex> defaultSearchableIndex();
    // Whether this device offers search indexing (yes unless a test turns it off).
    static bool isIndexingAvailable();
    static void setIndexingAvailable(bool available);

    // An item with the unique id of an indexed one replaces it.
    void indexSearchableItems(std::vector<SearchableItem> items);
    void deleteSearchableItemsWithIdentifiers(const std::vector<std::string>& uniqueIdentifiers);
    // Deletes the items of each domain and of its sub-domains ("<domain>.<...>").
    void deleteSearchableItemsWithDomainIdentifiers(const std::vector<std::string>& domains);
    void deleteAllSearchableItems();

    std::vector<SearchableItem> items() const;

    // ---- the system's side

    // Items whose title or description holds every word of query (in any case), at most limit,
    // in the order first indexed. An empty query finds nothing.
    std::vector<SearchableItem> search(std::string_view query, size_t limit) const;
    // Every item as JSON, written atomically.
    foundation::Status writeToFile(const std::filesystem::path& path) const;
    // Replaces the index with the items of a file writeToFile wrote; a missing file is an empty
    // index, a file that does not read is an error and leaves the index as it was.
    foundation::Status readFromFile(const std::filesystem::path& path);

    // The index the system keeps from launch to launch. keepInFile reads the file at path (as
    // writeToFile writes it) and the journal beside it ("<path>.journal", one line per change
    // since the file was last written whole), and from then on keeps the file in step with every
    // change: each change is appended to the journal as one line, and the journal is folded into
    // the file (written atomically) once it has grown. A run ended by a kill so loses nothing it
    // handed over. The index starts empty, under a new generation ("<path>.generation"), when
    // there is no file, when the file does not read, or when file and journal together are above
    // maxBytes; such files are set aside beside it ("<path>.set-aside", never removed), and
    // whoever marked items as handed over hands them again (see generation).
    struct Kept {
        bool startedEmpty = false;
        // What was set aside and why ("" when nothing was).
        std::string note;
    };
    static constexpr uintmax_t kKeptFileBound = 8u << 20;
    Kept keepInFile(const std::filesystem::path& path, uintmax_t maxBytes = kKeptFileBound);
    // Names the index's life since it last started empty ("" for a file kept before generations
    // were given, and for an index not kept in a file). A caller that records the generation it
    // handed its items to knows, when it differs, that they must be handed over again.
    std::string generation() const;
    // Writes the whole index into its file and empties the journal (nothing when not kept).
    foundation::Status writeKeptFile();

private:
    // Strings shared by many items (content type, account, domain, title), kept once each and
    // counted by use, so that one no item uses any more is dropped.
    class StringPool {
    public:
        static constexpr uint32_t kNone = UINT32_MAX;
        // The number of text, with one more use. Number `likely` (or kNone) is tried first:
        // items come in runs that share their strings.
        uint32_t intern(std::string&& text, uint32_t likely);
        // One use fewer of number n.
        void release(uint32_t n);
        const std::string& operator[](uint32_t n) const { return entries_[n].text; }
        size_t size() const { return entries_.size(); }
        void clear();

    private:
        struct Entry {
            std::string text;
            uint32_t uses = 0;
        };
        std::deque<Entry> entries_;  // a deque: the lookup's keys view these strings in place
        std::vector<uint32_t> unused_;
        foundation::FlatMap<std::string_view, uint32_t> numbers_;
    };

    // The unique ids and descriptions, one after another in large blocks that never move: an
    // item's strings cost no allocation of their own, and the caller's strings are all freed
    // together. What deleted or replaced items leave behind is reclaimed by compactLocked.
    class TextStore {
    public:
        std::string_view add(std::string_view text);
        // Takes back text, the last one added.
        void removeLast(std::string_view text);
        size_t size() const { return size_; }
        void clear();

    private:
        std::vector<std::unique_ptr<char[]>> blocks_;
        size_t used_ = 0, capacity_ = 0;  // of the last block
        size_t size_ = 0;                 // bytes added
    };

    // An item as kept: its shared strings by number in the pool.
    struct Stored {
        std::string_view uniqueIdentifier;
        std::string_view contentDescription;
        uint32_t domain = StringPool::kNone, contentType = StringPool::kNone, accountIdentifier = StringPool::kNone,
                 title = StringPool::kNone;
        bool supportsPhoneCall = false;
        bool deleted = false;
    };

    // Gives up the pooled strings of an item.
    void releaseLocked(const Stored& stored) HX_REQUIRES(mutex_);
    void deleteLocked(Stored& stored) HX_REQUIRES(mutex_);
    // Drops deleted items and unused text once they are as large as what is in use.
    void compactLocked() HX_REQUIRES(mutex_);

    // The journal line of a change, appended when the index is kept in a file; the journal is
    // folded into the file once it has grown.
    void journalLocked(const std::string& line) HX_REQUIRES(mutex_);
    static std::string journalLine(const char* change, const std::vector<SearchableItem>& items);
    static std::string journalLine(const char* change, const std::vector<std::string>& names);
    // Applies one journal line; false when it does not read.
    bool replayLocked(std::string_view line) HX_REQUIRES(mutex_);
    foundation::Status writeKeptFileLocked() HX_REQUIRES(mutex_);
    std::vector<SearchableItem> itemsLocked() const HX_REQUIRES(mutex_);
    void indexLocked(std::vector<SearchableItem> items) HX_REQUIRES(mutex_);
    void deleteIdentifiersLocked(const std::vector<std::string>& uniqueIdentifiers) HX_REQUIRES(mutex_);
    void deleteDomainsLocked(const std::vector<std::string>& domains) HX_REQUIRES(mutex_);
    void deleteAllLocked() HX_REQUIRES(mutex_);

    mutable foundation::Mutex mutex_;
    std::filesystem::path keptPath_ HX_GUARDED_BY(mutex_);
    uintmax_t keptBytes_ HX_GUARDED_BY(mutex_) = 0, journalBytes_ HX_GUARDED_BY(mutex_) = 0;
    std::string generation_ HX_GUARDED_BY(mutex_);
    std::vector<Stored> items_ HX_GUARDED_BY(mutex_);  // in the order first indexed, with deleted places
    size_t deleted_ HX_GUARDED_BY(mutex_) = 0;
    // Each item's position in items_, by unique id: a list's save indexes a hundred thousand at
    // once. An open table of hash and position, the id itself read from the item, so that a
    // lookup costs one probe into one array where a node-based map costs a bucket and a node.
    class Positions {
    public:
        static constexpr uint32_t kAbsent = UINT32_MAX;
        // The position of id, or kAbsent.
        uint32_t find(std::string_view id, const std::vector<Stored>& items) const;
        // The position of id; when it has none, it gets `position` (the place it is about to take
        // in items), and added is true.
        std::pair<uint32_t, bool> findOrAdd(std::string_view id, uint32_t position, const std::vector<Stored>& items) {
            return findOrAdd(id, hashOf(id), position, items);
        }
        // The same, with the hash of id worked out before (hashOf).
        std::pair<uint32_t, bool> findOrAdd(std::string_view id, uint32_t hash, uint32_t position,
                                            const std::vector<Stored>& items);
        // Room for n ids in all without growing: the table's slots stay where they are meanwhile.
        void reserve(size_t n);
        // Asks the processor to bring what a lookup of the id of this hash reads into its cache,
        // so that a batch can ask a few ids ahead while it handles the current one: the slot
        // (stage 0), then the item that slot names (stage 1), then that item's id (stage 2). Each
        // stage reads what the one before brought in.
        void prefetch(uint32_t hash, int stage, const std::vector<Stored>& items) const;
        static uint32_t hashOf(std::string_view id);
        void erase(std::string_view id, const std::vector<Stored>& items);
        void clear();

    private:
        struct Slot {
            uint32_t hash = 0;
            uint32_t position = kAbsent;  // kAbsent: empty
        };
        // The slot holding id, or the empty slot where its probe ends.
        size_t probe(std::string_view id, uint32_t hash, const std::vector<Stored>& items) const;
        void grow();
        std::vector<Slot> slots_;  // a power of two long, at most half full
        size_t size_ = 0;
    };
    Positions positions_ HX_GUARDED_BY(mutex_);
    TextStore texts_ HX_GUARDED_BY(mutex_);
    size_t unusedText_ HX_GUARDED_BY(mutex_) = 0;  // bytes of texts_ no item uses
    StringPool strings_ HX_GUARDED_BY(mutex_);
};

}  // namespace services
