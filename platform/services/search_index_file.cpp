// The index as the system keeps it between launches, and its search.
#include <system_error>

#include "platform/foundation/files.h"
#include "platform/foundation/json.h"
#include "platform/foundation/strings.h"
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
