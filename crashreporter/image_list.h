// Loaded images and the list the crash-time code reads without a lock. An image is either a
// Mach-O image (read by the Mach-O reader) or an ELF image (this host's own): both answer the same
// questions — where it starts, how far its code reaches, its UUID, its CPU type and its name — and
// each keeps what its format's unwinders need. Building and adding allocate (normal context);
// reading is async-signal-safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "crashreporter/macho_image.h"

enum zvcrash_image_format : uint32_t {
    ZVCRASH_IMAGE_FORMAT_MACHO = 1,
    ZVCRASH_IMAGE_FORMAT_ELF = 2,
};

struct zvcrash_async_elf_image {
    uint64_t load_bias;     // runtime address minus link-time address
    uint64_t eh_frame_hdr;  // PT_GNU_EH_FRAME's runtime address, 0 when absent
    uint64_t eh_frame_hdr_size;
    uint16_t machine;  // e_machine
};

struct zvcrash_image_node;
struct zvcrash_async_fde_index;
struct zvcrash_async_search_table;

struct zvcrash_async_image {
    uint32_t format;
    const kernel::Task* task;
    uint64_t header_addr;
    uint64_t text_size;  // [header_addr, header_addr + text_size) holds the image's code
    char* name;
    bool has_uuid;
    uint8_t uuid[16];
    uint32_t cpu_type;
    uint32_t cpu_subtype;
    zvcrash_async_macho_image macho;  // format Mach-O
    zvcrash_async_elf_image elf;      // format ELF
    zvcrash_image_node* node;         // the list node that last returned this image
    // Built when the image is added, or later off the launching thread for a list that defers it
    // (published once, never replaced); null: scan its frame data.
    std::atomic<zvcrash_async_fde_index*> fde_index;
    bool index_tried;  // a deferred build was tried (written by the indexing thread only)
    // An ELF image of this process with a search table: set before the image is listed; null
    // otherwise.
    zvcrash_async_search_table* search_table;
};

// Reads the image at `header` (an ELF or Mach-O header). Normal context.
zvcrash_error_t zvcrash_async_image_init(zvcrash_async_image* image, const kernel::Task* task, const char* name,
                                         uint64_t header);
zvcrash_error_t zvcrash_async_elf_image_init(zvcrash_async_image* image, const kernel::Task* task, const char* name,
                                             uint64_t header);
void zvcrash_async_image_free(zvcrash_async_image* image);
bool zvcrash_async_image_contains_address(const zvcrash_async_image* image, uint64_t address);

struct zvcrash_image_node {
    zvcrash_async_image* image;
    zvcrash_image_node* prev;
    std::atomic<zvcrash_image_node*> next;
};

struct zvcrash_image_list_shared {
    std::mutex write_lock;
    std::atomic<zvcrash_image_node*> head;
    zvcrash_image_node* tail;
    std::atomic<int32_t> refcount;
    zvcrash_image_node* free_list;
    std::atomic<uint32_t> macho_count;  // Mach-O images listed
};

struct zvcrash_async_image_list {
    const kernel::Task* task;
    zvcrash_image_list_shared* shared;
    bool defer_indexing;  // appends leave the FDE index to zvcrash_async_image_list_build_indexes
};

void zvcrash_async_image_list_init(zvcrash_async_image_list* list, const kernel::Task* task);
// Releases a list that no reader can reach any more (the process-wide list is never released).
void zvcrash_async_image_list_free(zvcrash_async_image_list* list);
// Builds the image and appends it; an image that can't be read is not added. Normal context.
void zvcrash_async_image_list_append(zvcrash_async_image_list* list, uint64_t header, const char* name);
// From now on appends skip the FDE index (the part of adding that reads the whole frame section).
void zvcrash_async_image_list_defer_indexing(zvcrash_async_image_list* list);
// Builds the index of every listed image that has none and was not tried yet; returns how many it
// built. Normal context, any thread; images of this process are read in place while the loader
// cannot unload them.
int zvcrash_async_image_list_build_indexes(zvcrash_async_image_list* list);
void zvcrash_async_image_list_remove(zvcrash_async_image_list* list, uint64_t header);
void zvcrash_async_image_list_set_reading(zvcrash_async_image_list* list, bool enable);
// How many Mach-O images the list holds (the compact-unwind reader reads no other).
uint32_t zvcrash_async_image_list_macho_count(const zvcrash_async_image_list* list);
zvcrash_async_image* zvcrash_async_image_list_next(zvcrash_async_image_list* list, zvcrash_async_image* current);
zvcrash_async_image* zvcrash_async_image_list_image_containing_address(zvcrash_async_image_list* list,
                                                                       uint64_t address);
