// An attachment of a message as the conversation's table reads it: a dictionary of the store
// ("id", "mimeType" or "mime_type", "imageMetaData" or "image_meta_data") turned into its kind,
// the text its row shows and the size of a picture's bubble. Outside input: any value is taken,
// and what it lacks makes it an unsupported attachment.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/value.h"
#include "platform/graphics/geometry.h"

enum class HXAttachmentKind { Picture, Video, Audio, ContactCard, Unsupported };

struct HXAttachment {
    std::string id;
    std::string mimeType;
    foundation::Array sizes;  // the picture's size variants
    HXAttachmentKind kind = HXAttachmentKind::Unsupported;

    static HXAttachment from(const foundation::Value& value);
    bool isGIF() const { return mimeType == "image/gif"; }
    // Pictures, video, audio and contact cards start as image rows (the cell's isImage).
    bool knownKind() const { return kind != HXAttachmentKind::Unsupported; }
    // The row's text: "Audio Attachment\n(tap to play)", "Contact Card\n(missing attachment)",
    // "[Unsupported Attachment]\n(<type>)" (also for a picture without size variants, shown until
    // the picture is in), none for other pictures.
    std::string rowText() const;
};

// A size variant's width and height fitted to a view of width viewWidth (at most viewWidth - 110
// wide, the height in proportion): never negative, zero where no room is left.
graphics::Size hxFittedVariantSize(double width, double height, double viewWidth);
// The scale of a GIF of pixelWidth shown in a table of tableWidth: pixels per point of the width
// it may take (min(pixelWidth, tableWidth - 110)); at least 1 where no room is left.
double hxGIFScale(double pixelWidth, double tableWidth);
