// The pasteboard: items of typed representations (uniform type names to bytes), with the
// shortcuts for strings and images. Strings are stored as UTF-8 under "public.utf8-plain-text";
// images as PNG bytes under "public.png" (or the bytes they were made from under their own
// type). The change count moves with every write.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/value.h"
#include "platform/toolkit/graphics_types.h"

namespace toolkit {

inline constexpr const char* kTypeUTF8PlainText = "public.utf8-plain-text";
inline constexpr const char* kTypePNG = "public.png";
inline constexpr const char* kTypeJPEG = "public.jpeg";
inline constexpr const char* kTypeGIF = "com.compuserve.gif";

class Pasteboard {
public:
    using Item = std::vector<std::pair<std::string, foundation::Data>>;  // types in the order given

    static Pasteboard& general();

    const std::vector<Item>& items() const { return items_; }
    void setItems(std::vector<Item> items);
    // The types of the first item, in order.
    std::vector<std::string> types() const;
    std::optional<foundation::Data> dataForType(const std::string& type) const;
    // Replaces everything with one item holding the data under the type.
    void setData(foundation::Data data, const std::string& type);

    std::optional<std::string> string() const;
    std::vector<std::string> strings() const;
    void setString(const std::string& s);
    void setStrings(const std::vector<std::string>& strings);
    bool hasStrings() const;

    // The first item's image, decoded; none when no item holds one or its bytes do not decode.
    ImagePtr image() const;
    void setImage(const ImagePtr& image);
    bool hasImages() const;

    long changeCount() const { return changes_; }
    void clear();

private:
    std::vector<Item> items_;
    long changes_ = 0;
};

}  // namespace toolkit
