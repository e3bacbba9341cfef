#include "ui/widgets/default_contact_image.h"

#include "platform/foundation/thread_annotations.h"
#include "platform/graphics/named_images.h"

namespace {

foundation::Mutex gMutex;
graphics::ImagePtr gImage HX_GUARDED_BY(gMutex);

}  // namespace

graphics::ImagePtr defaultContactImage() {
    std::lock_guard lock(gMutex);
    if (!gImage)
        if (auto named = graphics::imageNamed("defaultContactImage"))
            gImage = named->withRenderingMode(graphics::RenderingMode::alwaysTemplate);
    return gImage;
}

void releaseDefaultContactImage() {
    graphics::ImagePtr dropped;
    {
        std::lock_guard lock(gMutex);
        dropped.swap(gImage);
    }
}
