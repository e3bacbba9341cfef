#pragma once

#include "platform/graphics/graphics_context.h"

namespace graphics {

// Whether the context's clip is whole pixels only (no antialiased edge or curve): paint laid wholly
// opaque over a pixel inside it then leaves nothing of what was there.
bool clipIsWholePixels(const GraphicsContext& c);

}  // namespace graphics
