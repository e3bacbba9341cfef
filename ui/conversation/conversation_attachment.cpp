#include "ui/conversation/conversation_attachment.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/strings.h"

namespace {

constexpr double kBubbleMargin = 110;

const foundation::Value& firstPresent(const foundation::Dictionary& d, const char* a, const char* b) {
    const foundation::Value& first = d.get(a);
    return first.isNull() ? d.get(b) : first;
}

}  // namespace

HXAttachment HXAttachment::from(const foundation::Value& value) {
    HXAttachment a;
    if (!value.isDictionary()) return a;
    const auto& d = value.asDictionary();
    if (const auto& id = d.get("id"); id.isString()) a.id = id.asString();
    if (const auto& mime = firstPresent(d, "mimeType", "mime_type"); mime.isString()) a.mimeType = mime.asString();
    if (const auto& sizes = firstPresent(d, "imageMetaData", "image_meta_data"); sizes.isArray())
        a.sizes = sizes.asArray();
    // Without an id nothing can be fetched: drawn as an unsupported attachment.
    if (a.id.empty()) return a;
    if (foundation::hasPrefix(a.mimeType, "image/"))
        a.kind = HXAttachmentKind::Picture;
    else if (foundation::hasPrefix(a.mimeType, "video/"))
        a.kind = HXAttachmentKind::Video;
    else if (foundation::hasPrefix(a.mimeType, "audio/"))
        a.kind = HXAttachmentKind::Audio;
    else if (a.mimeType == "text/x-vcard")
        a.kind = HXAttachmentKind::ContactCard;
    return a;
}

std::string HXAttachment::rowText() const {
    using foundation::localizedString;
    switch (kind) {
        case HXAttachmentKind::Picture:
            // Without size variants nothing tells the bubble's size until the picture is in.
            if (!sizes.empty()) return {};
            break;
        case HXAttachmentKind::Audio:
        case HXAttachmentKind::Video: {
            std::string major = mimeType.substr(0, mimeType.find('/'));
            for (auto& c : major) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (!major.empty()) major[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(major[0])));
            return foundation::format(localizedString("%@ Attachment\n(tap to play)"), major);
        }
        case HXAttachmentKind::ContactCard:
            return localizedString("Contact Card\n(missing attachment)");
        case HXAttachmentKind::Unsupported:
            break;
    }
    return foundation::format(localizedString("[Unsupported Attachment]\n(%@)"), mimeType);
}

graphics::Size hxFittedVariantSize(double width, double height, double viewWidth) {
    if (!std::isfinite(width) || !std::isfinite(height) || width <= 0 || height <= 0) return {0, 0};
    const double room = std::isfinite(viewWidth) ? std::max(0.0, viewWidth - kBubbleMargin) : 0.0;
    if (width > room) {
        height = std::floor(room / width * height);
        width = room;
    }
    return {width, height};
}

double hxGIFScale(double pixelWidth, double tableWidth) {
    if (!std::isfinite(pixelWidth) || pixelWidth <= 0) return 1;
    const double room = std::isfinite(tableWidth) ? tableWidth - kBubbleMargin : 0;
    const double shown = std::min(pixelWidth, room);
    return shown >= 1 ? pixelWidth / shown : 1;
}
