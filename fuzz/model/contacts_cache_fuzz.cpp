// The contacts cache file as a damaged or foreign file may hold it, read into the contact list
// and used the way number lookup and the recipient search use it. Every entry kept is found
// again by its own number.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "model/contacts.h"
#include "platform/foundation/property_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto value = foundation::readPropertyList(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!value.ok()) return 0;
    auto entries = hxcontacts::entriesFromCache(value.value());
    if (!entries) return 0;
    hxcontacts::ContactList list = std::move(*entries);
    hxcontacts::sortByRecency(list);
    size_t checked = 0;
    for (const auto& entry : list) {
        if (!entry || ++checked > 64) break;
        const std::string& number = entry->get("number").asString();
        auto matches = hxcontacts::matchingPhone(list, number);
        if (matches.empty()) std::abort();
        (void)hxcontacts::displayName(matches, true);
        (void)hxcontacts::displayName(matches, false);
        if (const std::string* name = entry->get("name").ifString()) (void)hxcontacts::matchingName(list, *name);
        (void)hxcontacts::normalizedNumber(number);
    }
    return 0;
}
