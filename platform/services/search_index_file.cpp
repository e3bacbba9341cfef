// The index as the system keeps it between launches: its file, the JSON form it was kept in before
// (read once and converted), and the JSON export.
#include <sqlite3.h>

#include <optional>
#include <system_error>

#include "platform/foundation/files.h"
#include "platform/foundation/json.h"
#include "platform/foundation/uuid.h"
#include "platform/services/search_index.h"

namespace services {

namespace {

constexpr const char* kIndexFileDomain = "SearchIndex";

foundation::Error badFile(const std::filesystem::path& path, const std::string& why) {
    return foundation::Error::withDescription(kIndexFileDomain, 1, path.string() + ": " + why);
}

foundation::Value itemValue(const SearchableItem& item) {
    const auto& a = item.attributeSet;
    return foundation::Value(foundation::Dictionary{{"id", item.uniqueIdentifier},
                                                    {"domain", item.domainIdentifier},
                                                    {"contentType", a.contentType},
                                                    {"account", a.accountIdentifier},
                                                    {"title", a.title},
                                                    {"description", a.contentDescription},
                                                    {"phoneCall", a.supportsPhoneCall}});
}

std::optional<SearchableItem> itemFromValue(const foundation::Value& entry) {
    const auto* d = entry.ifDictionary();
    if (!d || !d->get("id").isString() || d->get("id").asString().empty()) return std::nullopt;
    return SearchableItem{d->get("id").stringValue(),
                          d->get("domain").stringValue(),
                          {d->get("contentType").stringValue(), d->get("account").stringValue(),
                           d->get("title").stringValue(), d->get("description").stringValue(),
                           d->get("phoneCall").boolValue()}};
}

// The items of a JSON list as writeToFile writes it.
foundation::Result<std::vector<SearchableItem>> readItemList(const std::filesystem::path& path) {
    auto bytes = foundation::files::readData(path);
    if (!bytes.ok()) return bytes.error();
    auto parsed = foundation::parseJSON(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    if (!parsed.ok()) return badFile(path, "does not read");
    const auto* list = parsed->ifArray();
    if (!list) return badFile(path, "not a list of items");
    std::vector<SearchableItem> items;
    items.reserve(list->size());
    for (const auto& entry : *list) {
        auto item = itemFromValue(entry);
        if (!item) return badFile(path, "an item without an id");
        items.push_back(std::move(*item));
    }
    return items;
}

std::filesystem::path besidePath(const std::filesystem::path& path, const char* suffix) {
    return std::filesystem::path(path.string() + suffix);
}

uintmax_t sizeOrZero(const std::filesystem::path& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : size;
}

bool present(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found && !ec;
}

void removeQuietly(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

// Moves path out of the way to "<path>.set-aside", or the first free "<path>.set-aside-<n>" when
// an earlier one is there: nothing set aside before is replaced. Answers what it did.
std::string setAside(const std::filesystem::path& path) {
    if (!present(path)) return "";
    std::filesystem::path aside = besidePath(path, ".set-aside");
    for (int n = 1; present(aside); ++n) aside = besidePath(path, (".set-aside-" + std::to_string(n)).c_str());
    std::error_code ec;
    std::filesystem::rename(path, aside, ec);
    return ec ? "; " + path.string() + " could not be set aside: " + ec.message() : "; set aside as " + aside.string();
}

// The log and shared-memory files of a database file.
void removeCompanions(const std::filesystem::path& path) {
    removeQuietly(besidePath(path, "-wal"));
    removeQuietly(besidePath(path, "-shm"));
}

}  // namespace

foundation::Status SearchableIndex::writeToFile(const std::filesystem::path& path) const {
    foundation::Array list;
    for (const auto& item : items()) list.push_back(itemValue(item));
    auto text = foundation::toJSON(foundation::Value(std::move(list)));
    if (!text.ok()) return text.error();
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    if (ec) return badFile(path.parent_path(), ec.message());
    return foundation::files::writeAtomically(path, text->data(), text->size());
}

foundation::Status SearchableIndex::readFromFile(const std::filesystem::path& path) {
    std::vector<SearchableItem> items;
    if (present(path)) {
        auto read = readItemList(path);
        if (!read.ok()) return read.error();
        items = std::move(read).value();
    }
    std::lock_guard lock(mutex_);
    changeLocked("read", [&]() HX_REQUIRES(mutex_) {
        auto cleared = deleteAllLocked();
        return cleared ? indexLocked(items) : cleared;
    });
    return {};
}

// ---- the JSON form kept before

bool SearchableIndex::replayLocked(std::string_view line) {
    auto parsed = foundation::parseJSON(line);
    if (!parsed.ok() || !parsed->isDictionary() || parsed->asDictionary().size() != 1) return false;
    const auto& [key, value] = *parsed->asDictionary().begin();
    const std::string_view change = key.string();
    const auto* list = value.ifArray();
    if (!list) return false;
    if (change == "index") {
        std::vector<SearchableItem> items;
        items.reserve(list->size());
        for (const auto& entry : *list) {
            auto item = itemFromValue(entry);
            if (!item) return false;
            items.push_back(std::move(*item));
        }
        return indexLocked(items).ok();
    }
    std::vector<std::string> names;
    for (const auto& entry : *list) names.push_back(entry.stringValue());
    if (change == "delete") return deleteIdentifiersLocked(names).ok();
    if (change == "deleteDomains") return deleteDomainsLocked(names).ok();
    if (change == "deleteAll") return deleteAllLocked().ok();
    return false;
}

foundation::Status SearchableIndex::convertLocked(const std::filesystem::path& json, uintmax_t maxBytes) {
    const auto journal = besidePath(json, ".journal");
    if (const uintmax_t bytes = sizeOrZero(json) + sizeOrZero(journal); bytes > maxBytes)
        return badFile(json, "and its journal hold " + std::to_string(bytes) + " bytes, above the bound of " +
                                 std::to_string(maxBytes));
    if (auto begun = execLocked("BEGIN IMMEDIATE"); !begun) return begun;
    auto converted = [&]() HX_REQUIRES(mutex_) -> foundation::Status {
        if (present(json)) {
            auto items = readItemList(json);
            if (!items.ok()) return items.error();
            if (auto indexed = indexLocked(items.value()); !indexed) return indexed;
        }
        if (!present(journal)) return {};
        auto text = foundation::files::readString(journal);
        if (!text.ok()) return badFile(journal, "does not read");
        // A last line without its end was cut by a kill while it was written: it is left out; any
        // other line that does not read spoils the journal.
        std::string_view rest = *text;
        for (size_t end; (end = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(end + 1))
            if (end > 0 && !replayLocked(rest.substr(0, end)))
                return badFile(journal, "holds a change that does not read");
        return {};
    }();
    if (converted) converted = execLocked("COMMIT");
    if (!converted) (void)execLocked("ROLLBACK");
    return converted;
}

SearchableIndex::Kept SearchableIndex::keepInFile(const std::filesystem::path& path, uintmax_t maxBytes) {
    const auto json = path.parent_path() / kJSONFileName;
    const auto oldFiles = {json, besidePath(json, ".journal"), besidePath(json, ".generation")};
    Kept kept;
    std::lock_guard lock(mutex_);
    closeLocked();
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    auto startAfresh = [&](const std::string& why, std::initializer_list<std::filesystem::path> damaged) {
        kept.note = why;
        for (const auto& p : damaged) kept.note += setAside(p);
    };

    if (present(path)) {
        if (auto opened = openLocked(path); !opened) {
            startAfresh(opened.error().localizedDescription(), {path, besidePath(path, "-wal")});
            removeQuietly(besidePath(path, "-shm"));
        } else {
            // What a conversion that was cut short before it removed them left.
            for (const auto& p : oldFiles) removeQuietly(p);
        }
    } else if (present(json) || present(besidePath(json, ".journal"))) {
        // Converted into a file of its own, which takes the index's place whole once done.
        const auto converting = besidePath(path, ".converting");
        removeQuietly(converting);
        removeCompanions(converting);
        foundation::Status converted = openLocked(converting);
        if (converted) converted = convertLocked(json, maxBytes);
        if (converted) {
            auto recorded = foundation::files::readString(besidePath(json, ".generation"));
            converted = setGenerationLocked(recorded.ok() ? *recorded : std::string());
        }
        if (converted &&
            sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) != SQLITE_OK)
            converted = badFile(converting, "was not written whole");
        closeLocked();
        if (converted) {
            std::filesystem::rename(converting, path, ec);
            if (ec) converted = badFile(path, ec.message());
        }
        if (converted) {
            removeCompanions(converting);
            for (const auto& p : oldFiles) removeQuietly(p);
            if (auto opened = openLocked(path); !opened) converted = opened;
        } else {
            removeQuietly(converting);
            removeCompanions(converting);
            startAfresh(converted.error().localizedDescription(), {json, besidePath(json, ".journal")});
        }
    }
    if (!db_) {
        // No file yet, or one set aside: an empty index under a new generation.
        kept.startedEmpty = true;
        removeCompanions(path);
        foundation::Status opened = openLocked(path);
        if (opened) opened = setGenerationLocked(foundation::UUID::random().string());
        if (!opened) {
            // A home that takes no file: the index lives in a private one for this run.
            kept.note += (kept.note.empty() ? "" : "; ") + opened.error().localizedDescription() +
                         "; the index is not kept past this run";
            closeLocked();
            ensureOpenLocked();
            if (db_) (void)setGenerationLocked(foundation::UUID::random().string());
            return kept;
        }
    }
    keptPath_ = path;
    return kept;
}

}  // namespace services
