#include "crashreporter/image_list.h"

#include <cstdlib>
#include <cstring>
#include <link.h>
#include <new>

#include "crashreporter/dwarf_unwinder.h"

zvcrash_error_t zvcrash_async_image_init(zvcrash_async_image* image, const kernel::Task* task, const char* name,
                                         uint64_t header) {
    zvcrash_async_memset(image, 0, sizeof *image);
    uint8_t magic[4];
    if (zvcrash_async_task_memcpy(task, header, 0, magic, sizeof magic) != ZVCRASH_ESUCCESS) return ZVCRASH_EINTERNAL;
    if (magic[0] == 0x7f && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F') {
        return zvcrash_async_elf_image_init(image, task, name, header);
    }
    zvcrash_error_t err = zvcrash_async_macho_image_init(&image->macho, task, name, header);
    if (err != ZVCRASH_ESUCCESS) return err;
    image->format = ZVCRASH_IMAGE_FORMAT_MACHO;
    image->task = task;
    image->header_addr = header;
    image->text_size = image->macho.text_size;
    image->name = ::strdup(name ? name : "");
    image->has_uuid = zvcrash_async_macho_get_uuid(&image->macho, image->uuid);
    image->cpu_type = zvcrash_async_macho_cpu_type(&image->macho);
    image->cpu_subtype = zvcrash_async_macho_cpu_subtype(&image->macho);
    return ZVCRASH_ESUCCESS;
}

void zvcrash_async_image_free(zvcrash_async_image* image) {
    zvcrash_dwarf_fde_index_free(image->fde_index.exchange(nullptr));
    zvcrash_dwarf_search_table_free(image->search_table);
    image->search_table = nullptr;
    if (image->format == ZVCRASH_IMAGE_FORMAT_MACHO) zvcrash_async_macho_image_free(&image->macho);
    std::free(image->name);
    image->name = nullptr;
}

bool zvcrash_async_image_contains_address(const zvcrash_async_image* image, uint64_t address) {
    return address >= image->header_addr && address - image->header_addr < image->text_size;
}

void zvcrash_async_image_list_init(zvcrash_async_image_list* list, const kernel::Task* task) {
    list->task = task;
    list->defer_indexing = false;
    auto* shared = new zvcrash_image_list_shared();
    shared->head.store(nullptr);
    shared->tail = nullptr;
    shared->refcount.store(0);
    shared->free_list = nullptr;
    shared->macho_count.store(0);
    list->shared = shared;
}

void zvcrash_async_image_list_free(zvcrash_async_image_list* list) {
    zvcrash_image_list_shared* s = list->shared;
    if (!s) return;
    for (zvcrash_image_node* heads[2] = {s->head.load(), s->free_list}; auto* n : heads) {
        while (n) {
            zvcrash_image_node* next = n->next.load();
            if (n->image) {
                zvcrash_async_image_free(n->image);
                std::free(n->image);
            }
            delete n;
            n = next;
        }
    }
    delete s;
    list->shared = nullptr;
}

void zvcrash_async_image_list_append(zvcrash_async_image_list* list, uint64_t header, const char* name) {
    auto* image = static_cast<zvcrash_async_image*>(std::calloc(1, sizeof(zvcrash_async_image)));
    if (!image) return;
    if (zvcrash_async_image_init(image, list->task, name, header) != ZVCRASH_ESUCCESS) {
        std::free(image);
        return;
    }
    // Here, not at crash time: building reads the whole frame section and allocates.
    if (!list->defer_indexing) image->fde_index.store(zvcrash_dwarf_fde_index_build(image));
    // Cheap (the header only), so never deferred.
    image->search_table = zvcrash_dwarf_search_table_build(image);
    zvcrash_image_list_shared* s = list->shared;
    std::lock_guard guard(s->write_lock);
    zvcrash_image_node* node = s->free_list;
    if (node) {
        s->free_list = node->next.load(std::memory_order_relaxed);
        // The parked node still names the removed image; with no reader inside, nothing can
        // reach that image any more.
        if (node->image && s->refcount.load() == 0) {
            zvcrash_async_image_free(node->image);
            std::free(node->image);
        }
    } else {
        node = new zvcrash_image_node();
    }
    node->image = image;
    node->prev = nullptr;
    node->next.store(nullptr);
    if (image->format == ZVCRASH_IMAGE_FORMAT_MACHO) s->macho_count.fetch_add(1);
    // The node is whole before the sequentially consistent compare-and-swap below publishes it:
    // that releases the writes above to a reader's acquiring load of head or next.
    if (s->head.load() == nullptr) {
        s->tail = node;
        zvcrash_image_node* expected = nullptr;
        s->head.compare_exchange_strong(expected, node);
    } else {
        zvcrash_image_node* expected = nullptr;
        s->tail->next.compare_exchange_strong(expected, node);
        node->prev = s->tail;
        s->tail = node;
    }
}

void zvcrash_async_image_list_remove(zvcrash_async_image_list* list, uint64_t header) {
    zvcrash_image_list_shared* s = list->shared;
    zvcrash_async_image_list_set_reading(list, true);
    zvcrash_image_node* found = nullptr;
    for (zvcrash_image_node* n = s->head.load(); n; n = n->next.load()) {
        if (n->image->header_addr == header) {
            found = n;
            break;
        }
    }
    if (found) {
        std::lock_guard guard(s->write_lock);
        zvcrash_image_node* n = s->head.load();
        while (n && n != found) n = n->next.load();
        if (n) {
            zvcrash_image_node* next = n->next.load();
            if (n == s->head.load()) {
                zvcrash_image_node* expected = n;
                s->head.compare_exchange_strong(expected, next);
            } else {
                zvcrash_image_node* expected = n;
                n->prev->next.compare_exchange_strong(expected, next);
            }
            if (next)
                next->prev = n->prev;
            else
                s->tail = n->prev;
            if (n->image->format == ZVCRASH_IMAGE_FORMAT_MACHO) s->macho_count.fetch_sub(1);
            // A reader may stand on this node: park it for reuse instead of freeing it.
            if (s->refcount.load() >= 1) {
                n->prev = nullptr;
                n->next.store(s->free_list);
                s->free_list = n;
            } else {
                delete n;
            }
        }
    }
    zvcrash_async_image_list_set_reading(list, false);
}

void zvcrash_async_image_list_set_reading(zvcrash_async_image_list* list, bool enable) {
    if (enable)
        list->shared->refcount.fetch_add(1);
    else
        list->shared->refcount.fetch_sub(1);
}

uint32_t zvcrash_async_image_list_macho_count(const zvcrash_async_image_list* list) {
    return list->shared ? list->shared->macho_count.load() : 0;
}

zvcrash_async_image* zvcrash_async_image_list_next(zvcrash_async_image_list* list, zvcrash_async_image* current) {
    zvcrash_image_node* node = current ? current->node->next.load(std::memory_order_acquire)
                                       : list->shared->head.load(std::memory_order_acquire);
    if (!node) return nullptr;
    node->image->node = node;
    return node->image;
}

zvcrash_async_image* zvcrash_async_image_list_image_containing_address(zvcrash_async_image_list* list,
                                                                       uint64_t address) {
    for (zvcrash_async_image* image = zvcrash_async_image_list_next(list, nullptr); image;
         image = zvcrash_async_image_list_next(list, image)) {
        if (zvcrash_async_image_contains_address(image, address)) return image;
    }
    return nullptr;
}

void zvcrash_async_image_list_defer_indexing(zvcrash_async_image_list* list) { list->defer_indexing = true; }

namespace {

struct IndexPass {
    zvcrash_async_image* image;
    bool loaded;
};

// The header address an image of this process is listed under: its first segment's.
uint64_t loadedHeader(const dl_phdr_info* info) {
    for (int i = 0; i < info->dlpi_phnum; ++i)
        if (info->dlpi_phdr[i].p_type == PT_LOAD && info->dlpi_phdr[i].p_offset == 0)
            return info->dlpi_addr + info->dlpi_phdr[i].p_vaddr;
    return 0;
}

}  // namespace

int zvcrash_async_image_list_build_indexes(zvcrash_async_image_list* list) {
    int built = 0;
    // While reading, removed images are parked, not freed.
    zvcrash_async_image_list_set_reading(list, true);
    for (zvcrash_async_image* image = zvcrash_async_image_list_next(list, nullptr); image;
         image = zvcrash_async_image_list_next(list, image)) {
        if (image->index_tried || image->fde_index.load() != nullptr) continue;
        image->index_tried = true;
        if (image->task != kernel::task_self()) {
            if (auto* index = zvcrash_dwarf_fde_index_build(image)) {
                image->fde_index.store(index);
                ++built;
            }
            continue;
        }
        // Read in place inside the loader's iteration: it holds the lock that unloading takes, so
        // the image cannot go away while its tables are read. One image per iteration, so that a
        // dlopen elsewhere waits for one image's index at most.
        IndexPass pass{image, false};
        dl_iterate_phdr(
            [](dl_phdr_info* info, size_t, void* data) {
                auto* p = static_cast<IndexPass*>(data);
                if (loadedHeader(info) != p->image->header_addr) return 0;
                p->loaded = true;
                if (auto* index = zvcrash_dwarf_fde_index_build(p->image)) p->image->fde_index.store(index);
                return 1;
            },
            &pass);
        if (pass.loaded && image->fde_index.load() != nullptr) ++built;
    }
    zvcrash_async_image_list_set_reading(list, false);
    return built;
}
