// This process's images, listed once for the benchmarks that walk stacks with the frame cursor's
// table readers.
#pragma once

#include "crashreporter/image_list.h"
#include "platform/kernel/loaded_images.h"

namespace hxbench {

inline zvcrash_async_image_list* imageList() {
    static zvcrash_async_image_list* list = [] {
        auto* l = new zvcrash_async_image_list;
        zvcrash_async_image_list_init(l, kernel::task_self());
        for (const auto& image : kernel::dyld_images())
            zvcrash_async_image_list_append(l, image.header, image.path.c_str());
        return l;
    }();
    return list;
}

}  // namespace hxbench
