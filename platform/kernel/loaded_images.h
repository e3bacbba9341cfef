// The dynamic loader's image notifications: callbacks for every image that is loaded or unloaded,
// fed from dl_iterate_phdr and kept current across dlopen/dlclose (both interposed here). Normal
// context only; callbacks run on the loading thread, outside the loader's lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kernel {

// `header` is the address of the image's ELF header in memory; `path` its file path (the
// executable's real path for the main program).
using ImageCallback = void (*)(uint64_t header, const char* path);

// Registers a callback; it is called at once for every image already loaded (as the loader does).
void dyld_register_func_for_add_image(ImageCallback callback);
void dyld_register_func_for_remove_image(ImageCallback callback);

struct LoadedImage {
    uint64_t header = 0;
    std::string path;
};

// Rescans the loader's list and calls the callbacks for what changed. dlopen and dlclose call it.
void dyld_refresh_images();

// The images currently known, in the loader's order.
std::vector<LoadedImage> dyld_images();

}  // namespace kernel
