#include "platform/services/search_index.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "platform/foundation/log.h"
#include "platform/foundation/strings.h"

namespace services {

namespace {

std::atomic<bool> indexingAvailable{true};

constexpr const char* kDomain = "SearchIndex";

// The pages an index keeps on the heap: the rest of its file is read again from the disk (the
// system's cache) when needed.
constexpr int kCacheKiB = 1024;

// The items in the order first indexed (seq), found by unique id through their conversation: an
// item's id names its conversation (conversationKey), which the conversation table numbers (n) as
// it first meets it, and an item is found by its conversation's number and its id. A new
// conversation's items then lie together at the end of that index, and only its one entry in the
// conversation table lands at a place of its own: an index by the id alone took a page of its
// own, somewhere in a tree as large as the index, for every conversation a save fed, so that the
// cost of a message grew with the index. A domain's deletion reads the table through (once a
// call, for all its domains): it is rare (a conversation or an account removed), while an index
// on the domain would take a page of the file for every conversation a save feeds.
constexpr int kSchemaVersion = 1;
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS conversation(n INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE);"
    "CREATE TABLE IF NOT EXISTS item(seq INTEGER PRIMARY KEY, conversation INTEGER NOT NULL, id TEXT NOT NULL,"
    " domain TEXT NOT NULL, contentType TEXT NOT NULL, account TEXT NOT NULL, title TEXT NOT NULL,"
    " description TEXT NOT NULL, phoneCall INTEGER NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS item_by_id ON item(conversation, id);";

constexpr const char* kColumns = "id, domain, contentType, account, title, description, phoneCall";

foundation::Error sqliteError(sqlite3* db, const std::string& what) {
    return foundation::Error::withDescription(kDomain, db ? sqlite3_extended_errcode(db) : SQLITE_CANTOPEN,
                                              what + ": " + (db ? sqlite3_errmsg(db) : "no file"));
}

std::string columnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement, column))) : std::string();
}

// The item of a row of kColumns, from column `first` on.
SearchableItem rowItem(sqlite3_stmt* statement, int first = 0) {
    return {columnText(statement, first),
            columnText(statement, first + 1),
            {columnText(statement, first + 2), columnText(statement, first + 3), columnText(statement, first + 4),
             columnText(statement, first + 5), sqlite3_column_int(statement, first + 6) != 0}};
}

void bindText(sqlite3_stmt* statement, int n, std::string_view text) {
    sqlite3_bind_text(statement, n, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

// The conversation an item's id names. The app's ids are "<conversation>.<number>.<user>", where
// the conversation's own id may hold dots ("t.+15551234567", "t.+15551234567.vm") and the
// message's number is digits alone: the key is what comes before the first part, after the first,
// that is digits alone. An id without one is a conversation of its own. (Which items share a key
// decides only where they lie in the file: every item is found by its key and its whole id.)
std::string_view conversationKey(std::string_view id) {
    for (size_t dot = id.find('.'); dot != std::string_view::npos;) {
        const size_t next = id.find('.', dot + 1);
        const std::string_view part = id.substr(dot + 1, next == std::string_view::npos ? next : next - dot - 1);
        if (!part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return id.substr(0, dot);
        dot = next;
    }
    return id;
}

// The numbers of conversations through one transaction, the last one remembered: the items of a
// call come a conversation at a time.
class ConversationNumbers {
public:
    ConversationNumbers(sqlite3* db, sqlite3_stmt* find, sqlite3_stmt* add) : db_(db), find_(find), add_(add) {}
    // The number of the conversation of id; 0 when it has none and add is false; -1 on failure.
    int64_t of(std::string_view id, bool add) {
        const std::string_view key = conversationKey(id);
        if (number_ > 0 && key == key_) return number_;
        bindText(find_, 1, key);
        int64_t number = 0;
        int done = sqlite3_step(find_);
        if (done == SQLITE_ROW) number = sqlite3_column_int64(find_, 0), done = SQLITE_DONE;
        sqlite3_reset(find_);
        if (done == SQLITE_DONE && number == 0 && add) {
            bindText(add_, 1, key);
            done = sqlite3_step(add_);
            sqlite3_reset(add_);
            number = sqlite3_last_insert_rowid(db_);
        }
        if (done != SQLITE_DONE) return -1;
        if (number > 0) key_.assign(key), number_ = number;
        return number;
    }

private:
    sqlite3* db_;
    sqlite3_stmt* find_;
    sqlite3_stmt* add_;
    std::string key_;
    int64_t number_ = 0;
};

// Lowercase as the search compares: the plain letters directly, the rest through the full rules.
std::string searchLowercase(std::string_view text) {
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
    return ascii ? foundation::asciiLowercase(text) : foundation::lowercase(text);
}

}  // namespace

// The prepared statements of the open file, finalized before it is closed.
struct SearchableIndex::Statements {
    sqlite3_stmt* upsert = nullptr;
    sqlite3_stmt* deleteId = nullptr;
    sqlite3_stmt* deleteSeq = nullptr;
    sqlite3_stmt* findConversation = nullptr;
    sqlite3_stmt* addConversation = nullptr;
    sqlite3_stmt* dropConversation = nullptr;

    ~Statements() {
        for (sqlite3_stmt* s : {upsert, deleteId, deleteSeq, findConversation, addConversation, dropConversation})
            sqlite3_finalize(s);
    }
    ConversationNumbers conversations(sqlite3* db) const { return {db, findConversation, addConversation}; }
};

SearchableIndex::SearchableIndex() = default;

SearchableIndex::~SearchableIndex() {
    std::lock_guard lock(mutex_);
    closeLocked();
}

std::shared_ptr<SearchableIndex> SearchableIndex::defaultSearchableIndex() {
    static const auto index = std::make_shared<SearchableIndex>();
    return index;
}

bool SearchableIndex::isIndexingAvailable() { return indexingAvailable.load(); }
void SearchableIndex::setIndexingAvailable(bool available) { indexingAvailable.store(available); }

// ---- the file

void SearchableIndex::closeLocked() const {
    statements_.reset();
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
    keptPath_.clear();
    generation_.clear();
}

foundation::Status SearchableIndex::execLocked(const char* sql) const {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) return sqliteError(db_, sql);
    return {};
}

int SearchableIndex::userVersionLocked() const {
    sqlite3_stmt* read = nullptr;
    int version = -1;
    if (sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &read, nullptr) == SQLITE_OK &&
        sqlite3_step(read) == SQLITE_ROW)
        version = sqlite3_column_int(read, 0);
    sqlite3_finalize(read);
    return version;
}

bool SearchableIndex::tableExistsLocked(const char* table) const {
    sqlite3_stmt* read = nullptr;
    bool exists = false;
    if (sqlite3_prepare_v2(db_, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1", -1, &read, nullptr) ==
        SQLITE_OK) {
        sqlite3_bind_text(read, 1, table, -1, SQLITE_STATIC);
        exists = sqlite3_step(read) == SQLITE_ROW;
    }
    sqlite3_finalize(read);
    return exists;
}

bool SearchableIndex::hasColumnsLocked(const char* table, const std::string& columns) const {
    sqlite3_stmt* probe = nullptr;
    const std::string sql = "SELECT " + columns + " FROM " + table + " LIMIT 0";
    const bool has = sqlite3_prepare_v2(db_, sql.c_str(), -1, &probe, nullptr) == SQLITE_OK;
    sqlite3_finalize(probe);
    return has;
}

foundation::Status SearchableIndex::convertItemsLocked(const Statements& statements) const {
    // Every item keeps its place in the order (its seq) and its whole id; the conversations are
    // numbered in the order their first items were indexed.
    sqlite3_stmt* read = nullptr;
    sqlite3_stmt* write = nullptr;
    const std::string readSQL = std::string("SELECT ") + kColumns + ", seq FROM item_before ORDER BY seq";
    const std::string writeSQL =
        std::string("INSERT INTO item(") + kColumns + ", conversation, seq) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)";
    foundation::Status done;
    if (sqlite3_prepare_v2(db_, readSQL.c_str(), -1, &read, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db_, writeSQL.c_str(), -1, &write, nullptr) != SQLITE_OK)
        done = sqliteError(db_, "the items before");
    auto conversations = statements.conversations(db_);
    int step = SQLITE_DONE;
    while (done && (step = sqlite3_step(read)) == SQLITE_ROW) {
        const auto* id = reinterpret_cast<const char*>(sqlite3_column_text(read, 0));
        const int64_t conversation =
            conversations.of(std::string_view(id ? id : "", static_cast<size_t>(sqlite3_column_bytes(read, 0))), true);
        if (conversation < 0) {
            done = sqliteError(db_, "a conversation");
            break;
        }
        for (int column = 0; column < 7; ++column)
            sqlite3_bind_value(write, column + 1, sqlite3_column_value(read, column));
        sqlite3_bind_int64(write, 8, conversation);
        sqlite3_bind_value(write, 9, sqlite3_column_value(read, 7));
        if (sqlite3_step(write) != SQLITE_DONE) done = sqliteError(db_, "an item before");
        sqlite3_reset(write);
    }
    if (done && step != SQLITE_DONE) done = sqliteError(db_, "the items before");
    sqlite3_finalize(read);
    sqlite3_finalize(write);
    if (done) done = execLocked("DROP TABLE item_before");
    return done;
}

foundation::Status SearchableIndex::openLocked(const std::filesystem::path& path) const {
    closeLocked();
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        auto error = sqliteError(db, path.string() + " does not open");
        sqlite3_close_v2(db);
        return error;
    }
    db_ = db;
    // Set while the tables are made or converted, in a transaction that a failure undoes.
    bool making = false;
    auto fail = [&](const std::string& why) HX_REQUIRES(mutex_) {
        auto error = sqliteError(db_, path.string() + " " + why);
        if (making) (void)execLocked("ROLLBACK");
        closeLocked();
        return error;
    };
    const std::string cache = "PRAGMA cache_size=-" + std::to_string(kCacheKiB);
    if (!execLocked(cache.c_str())) return fail("is not an index");
    if (!path.empty()) {
        // Each change is committed to the log before its call returns (a kill keeps it); the log
        // is folded into the file by the library as it grows, and cut back to a bound after.
        sqlite3_busy_timeout(db_, 2000);
        if (!execLocked("PRAGMA journal_mode=WAL") || !execLocked("PRAGMA synchronous=NORMAL") ||
            !execLocked("PRAGMA journal_size_limit=4194304"))
            return fail("is not an index");
    }
    // The first read of the file tells a file that is not a database.
    const int version = userVersionLocked();
    if (version < 0) return fail("is not an index");
    // A new file gets the tables of this layout; a file kept before the items were found through
    // their conversations has its items moved into them, in place, order and all.
    const bool fresh = !tableExistsLocked("item"), before = !fresh && version == 0;
    if (!fresh && !before && version != kSchemaVersion) return fail("is not an index");
    if (before && !hasColumnsLocked("item", std::string(kColumns) + ", seq")) return fail("is not an index");
    if (fresh || before) {
        if (!execLocked("BEGIN IMMEDIATE")) return fail("is not an index");
        making = true;
        if ((before && !execLocked("ALTER TABLE item RENAME TO item_before")) || !execLocked(kSchema))
            return fail(before ? "could not be converted" : "is not an index");
    }
    // A table of the same name with other columns is another program's file.
    if (!hasColumnsLocked("item", std::string(kColumns) + ", seq, conversation") ||
        !hasColumnsLocked("conversation", "n, key") || !hasColumnsLocked("meta", "key, value"))
        return fail("is not an index");
    auto statements = std::make_unique<Statements>();
    // An item handed again as it is (a list saved again) leaves its page of the file as it was.
    const std::string upsert = std::string("INSERT INTO item(") + kColumns +
                               ", conversation) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8) ON CONFLICT(conversation, id)"
                               " DO UPDATE SET domain=?2, contentType=?3, account=?4, title=?5, description=?6,"
                               " phoneCall=?7 WHERE domain<>?2 OR contentType<>?3 OR account<>?4 OR title<>?5"
                               " OR description<>?6 OR phoneCall<>?7";
    const std::pair<sqlite3_stmt**, std::string> prepared[] = {
        {&statements->upsert, upsert},
        {&statements->deleteId, "DELETE FROM item WHERE conversation=?1 AND id=?2"},
        {&statements->deleteSeq, "DELETE FROM item WHERE seq=?1"},
        {&statements->findConversation, "SELECT n FROM conversation WHERE key=?1"},
        {&statements->addConversation, "INSERT INTO conversation(key) VALUES(?1)"},
        {&statements->dropConversation,
         "DELETE FROM conversation WHERE n=?1 AND NOT EXISTS(SELECT 1 FROM item WHERE conversation=?1)"},
    };
    for (const auto& [statement, sql] : prepared)
        if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, statement, nullptr) != SQLITE_OK)
            return fail("is not an index");
    if (before && !convertItemsLocked(*statements)) return fail("could not be converted");
    if (making) {
        const std::string mark = "PRAGMA user_version=" + std::to_string(kSchemaVersion);
        if (!execLocked(mark.c_str()) || !execLocked("COMMIT"))
            return fail(before ? "could not be converted" : "is not an index");
        making = false;
    }
    statements_ = std::move(statements);
    sqlite3_stmt* read = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT value FROM meta WHERE key='generation'", -1, &read, nullptr) == SQLITE_OK &&
        sqlite3_step(read) == SQLITE_ROW)
        generation_ = columnText(read, 0);
    sqlite3_finalize(read);
    return {};
}

void SearchableIndex::ensureOpenLocked() const {
    if (db_) return;
    if (auto opened = openLocked(""); !opened)
        foundation::logFaultOnce("search-index",
                                 "the search index has no file: " + opened.error().localizedDescription());
}

foundation::Status SearchableIndex::setGenerationLocked(const std::string& generation) {
    sqlite3_stmt* write = nullptr;
    if (sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO meta(key, value) VALUES('generation', ?1)", -1, &write,
                           nullptr) != SQLITE_OK)
        return sqliteError(db_, "the generation");
    bindText(write, 1, generation);
    const int done = sqlite3_step(write);
    sqlite3_finalize(write);
    if (done != SQLITE_DONE) return sqliteError(db_, "the generation");
    generation_ = generation;
    return {};
}

template <typename Change>
void SearchableIndex::changeLocked(const char* what, Change&& change) {
    ensureOpenLocked();
    if (!db_) return;
    foundation::Status done = execLocked("BEGIN IMMEDIATE");
    if (done) done = change();
    if (done) done = execLocked("COMMIT");
    if (!done) {
        (void)execLocked("ROLLBACK");
        foundation::logFaultOnce("search-index", std::string("the search index did not take a change (") + what +
                                                     "): " + done.error().localizedDescription());
        return;
    }
    foundation::faultCleared("search-index");
}

// ---- changes

void SearchableIndex::indexSearchableItems(std::vector<SearchableItem> items) {
    std::lock_guard lock(mutex_);
    changeLocked("index", [&]() HX_REQUIRES(mutex_) { return indexLocked(items); });
}

foundation::Status SearchableIndex::indexLocked(const std::vector<SearchableItem>& items) {
    sqlite3_stmt* upsert = statements_->upsert;
    auto conversations = statements_->conversations(db_);
    for (const auto& item : items) {
        const int64_t conversation = conversations.of(item.uniqueIdentifier, true);
        if (conversation < 0) return sqliteError(db_, "an item's conversation");
        const auto& set = item.attributeSet;
        bindText(upsert, 1, item.uniqueIdentifier);
        bindText(upsert, 2, item.domainIdentifier);
        bindText(upsert, 3, set.contentType);
        bindText(upsert, 4, set.accountIdentifier);
        bindText(upsert, 5, set.title);
        bindText(upsert, 6, set.contentDescription);
        sqlite3_bind_int(upsert, 7, set.supportsPhoneCall ? 1 : 0);
        sqlite3_bind_int64(upsert, 8, conversation);
        const int done = sqlite3_step(upsert);
        sqlite3_reset(upsert);
        if (done != SQLITE_DONE) return sqliteError(db_, "an item");
    }
    sqlite3_clear_bindings(upsert);
    return {};
}

void SearchableIndex::deleteSearchableItemsWithIdentifiers(const std::vector<std::string>& uniqueIdentifiers) {
    std::lock_guard lock(mutex_);
    changeLocked("delete", [&]() HX_REQUIRES(mutex_) { return deleteIdentifiersLocked(uniqueIdentifiers); });
}

foundation::Status SearchableIndex::deleteIdentifiersLocked(const std::vector<std::string>& uniqueIdentifiers) {
    auto conversations = statements_->conversations(db_);
    std::vector<int64_t> emptied;
    for (const auto& id : uniqueIdentifiers) {
        const int64_t conversation = conversations.of(id, false);
        if (conversation < 0) return sqliteError(db_, "a deletion");
        if (conversation == 0) continue;
        sqlite3_bind_int64(statements_->deleteId, 1, conversation);
        bindText(statements_->deleteId, 2, id);
        const int done = sqlite3_step(statements_->deleteId);
        sqlite3_reset(statements_->deleteId);
        if (done != SQLITE_DONE) return sqliteError(db_, "a deletion");
        if (emptied.empty() || emptied.back() != conversation) emptied.push_back(conversation);
    }
    return dropConversationsLocked(std::move(emptied));
}

foundation::Status SearchableIndex::dropConversationsLocked(std::vector<int64_t> conversations) {
    // A conversation whose last item went is forgotten, so that the table holds only what the
    // items name.
    std::sort(conversations.begin(), conversations.end());
    conversations.erase(std::unique(conversations.begin(), conversations.end()), conversations.end());
    for (const int64_t conversation : conversations) {
        sqlite3_bind_int64(statements_->dropConversation, 1, conversation);
        const int done = sqlite3_step(statements_->dropConversation);
        sqlite3_reset(statements_->dropConversation);
        if (done != SQLITE_DONE) return sqliteError(db_, "a conversation's deletion");
    }
    return {};
}

void SearchableIndex::deleteSearchableItemsWithDomainIdentifiers(const std::vector<std::string>& domains) {
    std::lock_guard lock(mutex_);
    changeLocked("delete domains", [&]() HX_REQUIRES(mutex_) { return deleteDomainsLocked(domains); });
}

foundation::Status SearchableIndex::deleteDomainsLocked(const std::vector<std::string>& domains) {
    if (domains.empty()) return {};
    // Each domain itself and its sub-domains ("<domain>.<...>"): a row's domain is looked up whole
    // and by each of its beginnings before a dot, the domains of the call in a set.
    const std::unordered_set<std::string_view> wanted(domains.begin(), domains.end());
    std::vector<int64_t> doomed, emptied;
    sqlite3_stmt* scan = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT seq, conversation, domain FROM item", -1, &scan, nullptr) != SQLITE_OK)
        return sqliteError(db_, "a domain's deletion");
    int step;
    while ((step = sqlite3_step(scan)) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(scan, 2));
        const std::string_view domain(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(scan, 2)));
        bool match = wanted.count(domain) != 0;
        for (size_t dot = domain.find('.'); !match && dot != std::string_view::npos; dot = domain.find('.', dot + 1))
            match = wanted.count(domain.substr(0, dot)) != 0;
        if (!match) continue;
        doomed.push_back(sqlite3_column_int64(scan, 0));
        const int64_t conversation = sqlite3_column_int64(scan, 1);
        if (emptied.empty() || emptied.back() != conversation) emptied.push_back(conversation);
    }
    sqlite3_finalize(scan);
    if (step != SQLITE_DONE) return sqliteError(db_, "a domain's deletion");
    sqlite3_stmt* remove = statements_->deleteSeq;
    for (const int64_t seq : doomed) {
        sqlite3_bind_int64(remove, 1, seq);
        const int done = sqlite3_step(remove);
        sqlite3_reset(remove);
        if (done != SQLITE_DONE) return sqliteError(db_, "a domain's deletion");
    }
    return dropConversationsLocked(std::move(emptied));
}

void SearchableIndex::deleteAllSearchableItems() {
    std::lock_guard lock(mutex_);
    changeLocked("delete all", [&]() HX_REQUIRES(mutex_) { return deleteAllLocked(); });
}

foundation::Status SearchableIndex::deleteAllLocked() {
    return execLocked("DELETE FROM item; DELETE FROM conversation");
}

// ---- reading

std::vector<SearchableItem> SearchableIndex::items() const {
    std::lock_guard lock(mutex_);
    return itemsLocked();
}

std::vector<SearchableItem> SearchableIndex::itemsLocked() const {
    std::vector<SearchableItem> out;
    ensureOpenLocked();
    if (!db_) return out;
    sqlite3_stmt* all = nullptr;
    const std::string sql = std::string("SELECT ") + kColumns + " FROM item ORDER BY seq";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &all, nullptr) == SQLITE_OK)
        while (sqlite3_step(all) == SQLITE_ROW) out.push_back(rowItem(all));
    sqlite3_finalize(all);
    return out;
}

std::vector<SearchableItem> SearchableIndex::search(std::string_view query, size_t limit) const {
    std::vector<std::string> words;
    for (auto& word : foundation::split(searchLowercase(query), " "))
        if (!word.empty()) words.push_back(std::move(word));
    std::vector<SearchableItem> found;
    if (words.empty() || limit == 0) return found;
    std::lock_guard lock(mutex_);
    ensureOpenLocked();
    if (!db_) return found;
    // The items are read in order, a page at a time, and each one's texts compared as they lie
    // in the page: only a hit becomes an item. The words are compared as text, never handed to
    // the library as a query.
    sqlite3_stmt* all = nullptr;
    const std::string sql = std::string("SELECT title, description, ") + kColumns + " FROM item ORDER BY seq";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &all, nullptr) != SQLITE_OK) return found;
    std::string text;
    while (found.size() < limit && sqlite3_step(all) == SQLITE_ROW) {
        const auto* title = reinterpret_cast<const char*>(sqlite3_column_text(all, 0));
        const int titleBytes = sqlite3_column_bytes(all, 0);
        const auto* description = reinterpret_cast<const char*>(sqlite3_column_text(all, 1));
        const int descriptionBytes = sqlite3_column_bytes(all, 1);
        text.assign(title ? title : "", static_cast<size_t>(titleBytes));
        text += '\n';
        text.append(description ? description : "", static_cast<size_t>(descriptionBytes));
        const std::string lower = searchLowercase(text);
        if (std::all_of(words.begin(), words.end(),
                        [&](const std::string& word) { return lower.find(word) != std::string::npos; }))
            found.push_back(rowItem(all, 2));
    }
    sqlite3_finalize(all);
    return found;
}

int64_t SearchableIndex::pagesWritten() const {
    std::lock_guard lock(mutex_);
    int current = 0, highest = 0;
    if (!db_ || sqlite3_db_status(db_, SQLITE_DBSTATUS_CACHE_WRITE, &current, &highest, 0) != SQLITE_OK) return 0;
    return current;
}

std::string SearchableIndex::generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

foundation::Status SearchableIndex::writeKeptFile() {
    std::lock_guard lock(mutex_);
    if (keptPath_.empty() || !db_) return {};
    if (sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) != SQLITE_OK)
        return sqliteError(db_, keptPath_.string() + " was not written whole");
    return {};
}

}  // namespace services
