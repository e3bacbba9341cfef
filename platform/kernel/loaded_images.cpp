#include "platform/kernel/loaded_images.h"

#include <dlfcn.h>
#include <link.h>
#include <mutex>

#include "platform/kernel/sysctl.h"

namespace kernel {
namespace {

struct Registry {
    std::recursive_mutex lock;
    std::vector<LoadedImage> images;
    std::vector<ImageCallback> onAdd;
    std::vector<ImageCallback> onRemove;
    bool scanned = false;
};

Registry& registry() {
    static Registry* r = new Registry();  // never destroyed: callbacks may run during exit
    return *r;
}

int collect(dl_phdr_info* info, size_t, void* data) {
    auto* out = static_cast<std::vector<LoadedImage>*>(data);
    uint64_t header = 0;
    bool found = false;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const auto& ph = info->dlpi_phdr[i];
        if (ph.p_type == PT_LOAD && ph.p_offset == 0) {
            header = info->dlpi_addr + ph.p_vaddr;
            found = true;
            break;
        }
    }
    if (!found) return 0;
    LoadedImage image;
    image.header = header;
    image.path = info->dlpi_name ? info->dlpi_name : "";
    if (out->empty() && image.path.empty()) image.path = executable_path();
    out->push_back(std::move(image));
    return 0;
}

std::vector<LoadedImage> scan() {
    std::vector<LoadedImage> now;
    ::dl_iterate_phdr(&collect, &now);
    return now;
}

bool contains(const std::vector<LoadedImage>& list, uint64_t header) {
    for (const auto& image : list)
        if (image.header == header) return true;
    return false;
}

}  // namespace

void dyld_refresh_images() {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    std::vector<LoadedImage> now = scan();
    std::vector<LoadedImage> added, removed;
    for (const auto& image : now)
        if (!contains(r.images, image.header)) added.push_back(image);
    for (const auto& image : r.images)
        if (!contains(now, image.header)) removed.push_back(image);
    r.images = std::move(now);
    r.scanned = true;
    for (const auto& image : removed)
        for (auto cb : r.onRemove) cb(image.header, image.path.c_str());
    for (const auto& image : added)
        for (auto cb : r.onAdd) cb(image.header, image.path.c_str());
}

void dyld_register_func_for_add_image(ImageCallback callback) {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    if (!r.scanned) dyld_refresh_images();
    r.onAdd.push_back(callback);
    for (const auto& image : r.images) callback(image.header, image.path.c_str());
}

void dyld_register_func_for_remove_image(ImageCallback callback) {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    r.onRemove.push_back(callback);
}

std::vector<LoadedImage> dyld_images() {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    if (!r.scanned) dyld_refresh_images();
    return r.images;
}

}  // namespace kernel

// The loader has no notification hooks, so the program's own dlopen/dlclose forward to the C
// library's and then rescan. Only programs that link this file see the interposition.
extern "C" {

void* dlopen(const char* file, int mode) {
    using Fn = void* (*)(const char*, int);
    static Fn real = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "dlopen"));
    void* handle = real ? real(file, mode) : nullptr;
    if (handle) kernel::dyld_refresh_images();
    return handle;
}

int dlclose(void* handle) {
    using Fn = int (*)(void*);
    static Fn real = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "dlclose"));
    int result = real ? real(handle) : -1;
    if (result == 0) kernel::dyld_refresh_images();
    return result;
}
}
