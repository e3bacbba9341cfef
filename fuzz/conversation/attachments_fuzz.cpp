// Any attachment the store may hold: the input is read as JSON (what a reply's attachment becomes)
// and, failing that, split into an id and a type at the first NUL. Its kind follows the type, its
// row's text stays whole UTF-8 and names an unsupported type, and every size variant fits into
// views of widths taken from the input with a finite, non-negative size and a scale of at least 1.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/foundation/json.h"
#include "platform/foundation/strings.h"
#include "ui/conversation/conversation_attachment.h"

namespace {

double widthFrom(std::string_view in, size_t at) {
    if (in.size() < at + sizeof(double)) return 320;
    double w;
    std::memcpy(&w, in.data() + at, sizeof w);
    return w;
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

void checkSize(double width, double height, double view) {
    const graphics::Size s = hxFittedVariantSize(width, height, view);
    if (!std::isfinite(s.width) || !std::isfinite(s.height) || s.width < 0 || s.height < 0) __builtin_trap();
    const double room = std::isfinite(view) ? std::max(0.0, view - 110) : 0;
    // Wider than the room: as wide as the room, and never taller than it was.
    if (std::isfinite(width) && std::isfinite(height) && width > 0 && height > 0) {
        if (s.width > std::max(room, 0.0) && s.width > width) __builtin_trap();
        if (width > room && (s.width != room || s.height > height)) __builtin_trap();
    }
    const double scale = hxGIFScale(width, view);
    if (!std::isfinite(scale) || scale < 1) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    foundation::Value value;
    if (auto parsed = foundation::parseJSON(in); parsed.ok()) {
        value = parsed.value();
    } else {
        const size_t nul = in.find('\0');
        const std::string id(in.substr(0, nul));
        const std::string type(nul == std::string_view::npos ? std::string_view() : in.substr(nul + 1));
        value = foundation::Value(foundation::Dictionary{{"id", id}, {"mime_type", type}});
    }
    const HXAttachment a = HXAttachment::from(value);
    if (a.id.empty() && a.kind != HXAttachmentKind::Unsupported) __builtin_trap();
    if (!a.id.empty()) {
        const bool picture = startsWith(a.mimeType, "image/"), video = startsWith(a.mimeType, "video/"),
                   audio = startsWith(a.mimeType, "audio/"), card = a.mimeType == "text/x-vcard";
        const HXAttachmentKind expected = picture ? HXAttachmentKind::Picture
                                          : video ? HXAttachmentKind::Video
                                          : audio ? HXAttachmentKind::Audio
                                          : card  ? HXAttachmentKind::ContactCard
                                                  : HXAttachmentKind::Unsupported;
        if (a.kind != expected) __builtin_trap();
    }
    const std::string text = a.rowText();
    if (foundation::isValidUtf8(a.mimeType) && !foundation::isValidUtf8(text)) __builtin_trap();
    if (a.kind == HXAttachmentKind::Picture && !text.empty()) __builtin_trap();
    if (a.kind == HXAttachmentKind::Unsupported && text.find(a.mimeType) == std::string::npos) __builtin_trap();

    const double views[] = {widthFrom(in, 0), widthFrom(in, size / 2), 0, 110, 320, 1024};
    for (const auto& variant : a.sizes) {
        const foundation::Dictionary* d = variant.ifDictionary();
        if (!d) continue;
        for (double view : views) checkSize(d->get("width").doubleValue(), d->get("height").doubleValue(), view);
    }
    for (double view : views) checkSize(widthFrom(in, 3), widthFrom(in, 5), view);
    return 0;
}
