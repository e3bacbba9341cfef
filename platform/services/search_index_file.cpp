// The index as the system keeps it between launches, and its search.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>

#include "platform/foundation/files.h"
#include "platform/foundation/json.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/uuid.h"
#include "platform/services/search_index.h"

namespace services {

namespace {

constexpr const char* kDomain = "SearchIndex";

foundation::Error badFile(const std::filesystem::path& path, const std::string& why) {
    return foundation::Error::withDescription(kDomain, 1, path.string() + ": " + why);
}

}  // namespace

std::vector<SearchableItem> SearchableIndex::search(std::string_view query, size_t limit) const {
    std::vector<std::string> words;
    for (auto& word : foundation::split(foundation::lowercase(query), " "))
        if (!word.empty()) words.push_back(std::move(word));
    std::vector<SearchableItem> found;
    if (words.empty() || limit == 0) return found;
    for (auto& item : items()) {
        const std::string text =
            foundation::lowercase(item.attributeSet.title + "\n" + item.attributeSet.contentDescription);
        bool all = true;
        for (const auto& word : words) all = all && text.find(word) != std::string::npos;
        if (!all) continue;
        found.push_back(std::move(item));
        if (found.size() == limit) break;
    }
    return found;
}

foundation::Status SearchableIndex::writeToFile(const std::filesystem::path& path) const {
    foundation::Array list;
    for (const auto& item : items()) {
        const auto& a = item.attributeSet;
        list.push_back(foundation::Value(foundation::Dictionary{{"id", item.uniqueIdentifier},
                                                                {"domain", item.domainIdentifier},
                                                                {"contentType", a.contentType},
                                                                {"account", a.accountIdentifier},
                                                                {"title", a.title},
                                                                {"description", a.contentDescription},
                                                                {"phoneCall", a.supportsPhoneCall}}));
    }
    auto text = foundation::toJSON(foundation::Value(std::move(list)));
    if (!text.ok()) return text.error();
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    if (ec) return badFile(path.parent_path(), ec.message());
    return foundation::files::writeAtomically(path, text->data(), text->size());
}

foundation::Status SearchableIndex::readFromFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        deleteAllSearchableItems();
        return {};
    }
    auto bytes = foundation::files::readData(path);
    if (!bytes.ok()) return bytes.error();
    auto parsed = foundation::parseJSON(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    if (!parsed.ok()) return parsed.error();
    const auto* list = parsed->ifArray();
    if (!list) return badFile(path, "not a list of items");
    std::vector<SearchableItem> items;
    items.reserve(list->size());
    for (const auto& entry : *list) {
        const auto* d = entry.ifDictionary();
        if (!d || !d->get("id").isString() || d->get("id").asString().empty())
            return badFile(path, "an item without an id");
        items.push_back(
            {d->get("id").stringValue(),
             d->get("domain").stringValue(),
             {d->get("contentType").stringValue(), d->get("account").stringValue(), d->get("title").stringValue(),
              d->get("description").stringValue(), d->get("phoneCall").boolValue()}});
    }
    deleteAllSearchableItems();
    indexSearchableItems(std::move(items));
    return {};
}

}  // namespace services

// ---- the index kept in a file

namespace services {

namespace {

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

std::filesystem::path besidePath(const std::filesystem::path& path, const char* suffix) {
    return std::filesystem::path(path.string() + suffix);
}

uintmax_t sizeOrZero(const std::filesystem::path& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : size;
}

// Appends line whole: one write for the line and its end, repeated only for what a short write
// left.
bool appendLine(const std::filesystem::path& path, const std::string& line) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return done == text.size();
}

}  // namespace

std::string SearchableIndex::journalLine(const char* change, const std::vector<SearchableItem>& items) {
    foundation::Array list;
    list.reserve(items.size());
    for (const auto& item : items) list.push_back(itemValue(item));
    auto text =
        foundation::toJSON(foundation::Value(foundation::Dictionary{{change, foundation::Value(std::move(list))}}));
    return text.ok() ? std::move(text).value() : std::string();
}

std::string SearchableIndex::journalLine(const char* change, const std::vector<std::string>& names) {
    foundation::Array list;
    list.reserve(names.size());
    for (const auto& name : names) list.emplace_back(name);
    auto text =
        foundation::toJSON(foundation::Value(foundation::Dictionary{{change, foundation::Value(std::move(list))}}));
    return text.ok() ? std::move(text).value() : std::string();
}

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
        indexLocked(std::move(items));
        return true;
    }
    std::vector<std::string> names;
    for (const auto& entry : *list) names.push_back(entry.stringValue());
    if (change == "delete")
        deleteIdentifiersLocked(names);
    else if (change == "deleteDomains")
        deleteDomainsLocked(names);
    else if (change == "deleteAll")
        deleteAllLocked();
    else
        return false;
    return true;
}

void SearchableIndex::journalLocked(const std::string& line) {
    if (line.empty() || !appendLine(besidePath(keptPath_, ".journal"), line)) {
        // A journal that cannot be appended to: the whole file instead.
        (void)writeKeptFileLocked();
        return;
    }
    journalBytes_ += line.size() + 1;
    // Folded in once it outgrows the file (and a floor, so that a small index is not rewritten
    // at every change).
    constexpr uintmax_t kFoldFloor = 1u << 20;
    if (journalBytes_ > std::max(kFoldFloor, keptBytes_)) (void)writeKeptFileLocked();
}

foundation::Status SearchableIndex::writeKeptFileLocked() {
    if (keptPath_.empty()) return {};
    foundation::Array list;
    for (const auto& item : itemsLocked()) list.push_back(itemValue(item));
    auto text = foundation::toJSON(foundation::Value(std::move(list)));
    if (!text.ok()) return text.error();
    std::error_code ec;
    std::filesystem::create_directories(keptPath_.parent_path(), ec);
    if (ec) return badFile(keptPath_.parent_path(), ec.message());
    if (auto written = foundation::files::writeAtomically(keptPath_, text->data(), text->size()); !written)
        return written;
    keptBytes_ = text->size();
    // The file now holds what the journal said; replayed again, the journal would change nothing.
    std::filesystem::remove(besidePath(keptPath_, ".journal"), ec);
    journalBytes_ = 0;
    return {};
}

foundation::Status SearchableIndex::writeKeptFile() {
    std::lock_guard lock(mutex_);
    return writeKeptFileLocked();
}

std::string SearchableIndex::generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

SearchableIndex::Kept SearchableIndex::keepInFile(const std::filesystem::path& path, uintmax_t maxBytes) {
    const auto journal = besidePath(path, ".journal"), generationFile = besidePath(path, ".generation");
    Kept kept;
    std::error_code ec;
    const bool haveFile = std::filesystem::exists(path, ec), haveJournal = std::filesystem::exists(journal, ec);
    auto setAside = [&](const std::string& why) {
        kept.startedEmpty = true;
        kept.note = why;
        for (const auto& p : {path, journal}) {
            std::error_code e;
            if (!std::filesystem::exists(p, e)) continue;
            const auto aside = besidePath(p, ".set-aside");
            std::filesystem::rename(p, aside, e);
            kept.note +=
                e ? "; " + p.string() + " could not be set aside: " + e.message() : "; set aside as " + aside.string();
        }
    };
    std::lock_guard lock(mutex_);
    deleteAllLocked();
    keptPath_.clear();
    const uintmax_t bytes = sizeOrZero(path) + sizeOrZero(journal);
    if (!haveFile && !haveJournal) {
        kept.startedEmpty = true;
    } else if (bytes > maxBytes) {
        setAside(path.string() + " and its journal hold " + std::to_string(bytes) + " bytes, above the bound of " +
                 std::to_string(maxBytes));
    } else {
        bool readable = true;
        std::string why;
        if (haveFile) {
            auto data = foundation::files::readData(path);
            auto parsed =
                data.ok()
                    ? foundation::parseJSON(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()))
                    : foundation::Result<foundation::Value>(data.error());
            const auto* list = parsed.ok() ? parsed->ifArray() : nullptr;
            std::vector<SearchableItem> items;
            if (list) {
                items.reserve(list->size());
                for (const auto& entry : *list) {
                    auto item = itemFromValue(entry);
                    if (!item) {
                        readable = false;
                        break;
                    }
                    items.push_back(std::move(*item));
                }
            } else {
                readable = false;
            }
            if (readable) indexLocked(std::move(items));
            if (!readable) why = path.string() + " does not read";
        }
        if (readable && haveJournal) {
            auto data = foundation::files::readString(journal);
            if (!data.ok()) {
                readable = false;
                why = journal.string() + " does not read";
            } else {
                // A last line without its end was cut by a kill while it was written: it is left
                // out; any other line that does not read spoils the journal.
                std::string_view rest = *data;
                while (readable && !rest.empty()) {
                    const size_t end = rest.find('\n');
                    if (end == std::string_view::npos) break;
                    if (end > 0 && !replayLocked(rest.substr(0, end))) {
                        readable = false;
                        why = journal.string() + " holds a change that does not read";
                    }
                    rest.remove_prefix(end + 1);
                }
            }
        }
        if (!readable) {
            deleteAllLocked();
            setAside(why);
        }
    }
    if (kept.startedEmpty) {
        generation_ = foundation::UUID::random().string();
        std::filesystem::create_directories(path.parent_path(), ec);
        (void)foundation::files::writeAtomically(generationFile, generation_);
    } else {
        auto recorded = foundation::files::readString(generationFile);
        generation_ = recorded.ok() ? *recorded : std::string();
    }
    keptPath_ = path;
    keptBytes_ = sizeOrZero(path);
    journalBytes_ = sizeOrZero(journal);
    // The journal read at launch is folded in now, so the next launch reads one file.
    if (journalBytes_ > 0 || (kept.startedEmpty && !std::filesystem::exists(path, ec))) (void)writeKeptFileLocked();
    return kept;
}

}  // namespace services
