#include "platform/toolkit/pasteboard.h"

#include "platform/toolkit/main_thread.h"

namespace toolkit {

namespace {
bool isImageType(const std::string& t) { return t == kTypePNG || t == kTypeJPEG || t == kTypeGIF; }

foundation::Data bytesOf(const std::string& s) { return foundation::Data(s.begin(), s.end()); }
}  // namespace

Pasteboard& Pasteboard::general() {
    static Pasteboard board;
    return board;
}

void Pasteboard::setItems(std::vector<Item> items) {
    TK_MAIN_THREAD("Pasteboard::setItems");
    items_ = std::move(items);
    ++changes_;
}

void Pasteboard::clear() { setItems({}); }

std::vector<std::string> Pasteboard::types() const {
    std::vector<std::string> out;
    if (!items_.empty())
        for (auto& [type, data] : items_.front()) out.push_back(type);
    return out;
}

std::optional<foundation::Data> Pasteboard::dataForType(const std::string& type) const {
    if (items_.empty()) return std::nullopt;
    for (auto& [t, data] : items_.front())
        if (t == type) return data;
    return std::nullopt;
}

void Pasteboard::setData(foundation::Data data, const std::string& type) { setItems({Item{{type, std::move(data)}}}); }

std::optional<std::string> Pasteboard::string() const {
    auto all = strings();
    if (all.empty()) return std::nullopt;
    return all.front();
}

std::vector<std::string> Pasteboard::strings() const {
    std::vector<std::string> out;
    for (auto& item : items_)
        for (auto& [t, data] : item)
            if (t == kTypeUTF8PlainText) {
                out.emplace_back(data.begin(), data.end());
                break;
            }
    return out;
}

void Pasteboard::setString(const std::string& s) { setStrings({s}); }

void Pasteboard::setStrings(const std::vector<std::string>& strings) {
    std::vector<Item> items;
    for (auto& s : strings) items.push_back(Item{{kTypeUTF8PlainText, bytesOf(s)}});
    setItems(std::move(items));
}

bool Pasteboard::hasStrings() const { return !strings().empty(); }

bool Pasteboard::hasImages() const {
    for (auto& item : items_)
        for (auto& [t, data] : item)
            if (isImageType(t)) return true;
    return false;
}

ImagePtr Pasteboard::image() const {
    for (auto& item : items_)
        for (auto& [t, data] : item)
            if (isImageType(t)) {
                auto image = graphics::Image::fromEncoded(data);
                return image.ok() ? image.value() : nullptr;
            }
    return nullptr;
}

void Pasteboard::setImage(const ImagePtr& image) {
    if (!image) {
        clear();
        return;
    }
    // The bytes the image came from keep their format; drawn images go as PNG.
    if (!image->format().empty() && isImageType(image->format())) {
        setData(image->encoded(), image->format());
        return;
    }
    auto png = image->archivedData();
    if (!png.ok()) return;
    setData(png.value(), kTypePNG);
}

}  // namespace toolkit
