// The libplist side of property lists and keyed archives, shared by property_list.cpp and
// keyed_archiver.cpp. Not part of the public interface.
#pragma once

#include <plist/plist.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/value.h"

namespace foundation::detail {

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// Visits an array's items in order until visit returns false. The backend's indexed access
// walks the list from the start for arrays it parsed, so positional loops would be quadratic.
template <typename F>
void forEachArrayItem(plist_t array, F&& visit) {
    plist_array_iter iter = nullptr;
    plist_array_new_iter(array, &iter);
    if (!iter) return;
    for (;;) {
        plist_t item = nullptr;
        plist_array_next_item(array, iter, &item);
        if (!item || !visit(item)) break;
    }
    std::free(iter);
}

Error plistReadError(std::string message);
Error plistWriteError(std::string message);

// Parses binary or XML bytes into a libplist tree (UIDs kept), or an error.
Result<PlistPtr> parsePlistBytes(std::string_view bytes, PropertyListFormat* format);
// Serialises a tree to binary form.
Result<Data> plistToBinary(plist_t root);

// Scalars. A string must be valid UTF-8 without NUL characters; a date must fit the backend.
Result<PlistPtr> plistString(std::string_view s);
Result<PlistPtr> plistDate(Date d);
Date dateFromPlist(plist_t node);
// The node's string (STRING or KEY), checked for valid UTF-8.
Result<std::string> stringFromPlist(plist_t node);

// Whole plain values (no UIDs), depth-limited both ways.
Result<PlistPtr> plistFromValue(const Value& v, int depth = 0);
Result<Value> valueFromPlist(plist_t node, int depth = 0);

}  // namespace foundation::detail
