#include "crashreporter/symbol_lookup.h"

#include <sys/mman.h>

namespace {

struct Best {
    bool found = false;
    uint64_t value = 0;
    uint32_t strx = 0;
    uint64_t normalized = 0;
};

void searchTable(zvcrash_async_macho_symtab_reader* reader, const void* table, uint32_t count, uint64_t target,
                 Best* best) {
    for (uint32_t i = 0; i < count; ++i) {
        const zvcrash_async_macho_symtab_entry e = zvcrash_async_macho_symtab_reader_read(reader, table, i);
        // Section symbols only: no debugging entries, no undefined or absolute ones.
        if ((e.n_type & 0xEE) != 0x0E) continue;
        if (e.n_value > target) continue;
        if (!best->found || e.n_value > best->value) {
            best->found = true;
            best->value = e.n_value;
            best->strx = e.n_strx;
            best->normalized = e.normalized_value;
        }
    }
}

}  // namespace

zvcrash_error_t zvcrash_async_macho_find_symbol_by_pc(zvcrash_async_macho_image* image, uint64_t pc,
                                                      zvcrash_async_found_symbol_cb callback, void* context) {
    zvcrash_async_macho_symtab_reader reader;
    zvcrash_error_t err = zvcrash_async_macho_symtab_reader_init(&reader, image);
    if (err != ZVCRASH_ESUCCESS) return err;
    const uint64_t target = pc - static_cast<uint64_t>(image->vmaddr_slide);
    Best best;
    if (reader.symtab_global || reader.symtab_local) {
        if (reader.symtab_global) searchTable(&reader, reader.symtab_global, reader.nsyms_global, target, &best);
        if (reader.symtab_local) searchTable(&reader, reader.symtab_local, reader.nsyms_local, target, &best);
    } else {
        searchTable(&reader, reader.symtab, reader.nsyms, target, &best);
    }
    if (!best.found) {
        zvcrash_async_macho_symtab_reader_free(&reader);
        return ZVCRASH_ENOTFOUND;
    }
    const char* name = zvcrash_async_macho_symtab_reader_symbol_name(&reader, best.strx);
    if (!name) {
        zvcrash_async_macho_symtab_reader_free(&reader);
        return ZVCRASH_EINVAL;
    }
    callback(static_cast<uint64_t>(image->vmaddr_slide) + best.normalized, name, context);
    zvcrash_async_macho_symtab_reader_free(&reader);
    return ZVCRASH_ESUCCESS;
}

// ---- Object-runtime metadata ----

namespace {

enum ObjcSection { kConst = 0, kConstAx, kMethList, kSelRefs, kClassList, kCatList, kObjcData, kData };

constexpr size_t kClassCacheBytes = ZVCRASH_ASYNC_OBJC_CLASS_CACHE_SLOTS * 2 * sizeof(uint64_t);

void unmapSections(zvcrash_async_objc_cache* cache) {
    for (int i = 0; i < ZVCRASH_ASYNC_OBJC_SECTION_COUNT; ++i) {
        if (cache->mapped[i]) zvcrash_async_mobject_free(&cache->sections[i]);
        cache->mapped[i] = false;
    }
    cache->image_set = false;
}

// The first of the data segments that has the section.
bool mapDataSection(zvcrash_async_macho_image* image, const char* sect, zvcrash_async_mobject* mobj) {
    static const char* const kSegments[] = {"__DATA", "__DATA_CONST", "__DATA_DIRTY"};
    for (const char* seg : kSegments)
        if (zvcrash_async_macho_map_section(image, seg, sect, mobj) == ZVCRASH_ESUCCESS) return true;
    return false;
}

zvcrash_error_t setUpCache(zvcrash_async_macho_image* image, zvcrash_async_objc_cache* cache) {
    if (cache->image_set && cache->image_header == image->header_addr) return ZVCRASH_ESUCCESS;
    unmapSections(cache);
    cache->mapped[kConst] = mapDataSection(image, "__objc_const", &cache->sections[kConst]);
    cache->mapped[kClassList] = mapDataSection(image, "__objc_classlist", &cache->sections[kClassList]);
    cache->mapped[kCatList] = mapDataSection(image, "__objc_catlist", &cache->sections[kCatList]);
    cache->mapped[kObjcData] = zvcrash_async_macho_map_section(image, "__DATA", "__objc_data",
                                                               &cache->sections[kObjcData]) == ZVCRASH_ESUCCESS;
    cache->mapped[kConstAx] = zvcrash_async_macho_map_section(image, "__DATA", "__objc_const_ax",
                                                              &cache->sections[kConstAx]) == ZVCRASH_ESUCCESS;
    cache->mapped[kMethList] = zvcrash_async_macho_map_section(image, "__TEXT", "__objc_methlist",
                                                               &cache->sections[kMethList]) == ZVCRASH_ESUCCESS;
    cache->mapped[kSelRefs] = zvcrash_async_macho_map_section(image, "__DATA", "__objc_selrefs",
                                                              &cache->sections[kSelRefs]) == ZVCRASH_ESUCCESS;
    cache->mapped[kData] =
        zvcrash_async_macho_map_section(image, "__DATA", "__data", &cache->sections[kData]) == ZVCRASH_ESUCCESS;
    cache->image_set = true;
    cache->image_header = image->header_addr;
    // An image with classes but no categories (or the reverse) has only one of the two lists; that
    // must not hide its methods, so only an image with neither list has nothing to offer.
    if (!cache->mapped[kConst] || !cache->mapped[kObjcData] || (!cache->mapped[kClassList] && !cache->mapped[kCatList]))
        return ZVCRASH_ENOTFOUND;
    return ZVCRASH_ESUCCESS;
}

bool inSection(const zvcrash_async_objc_cache* cache, int index, uint64_t address, size_t length) {
    return cache->mapped[index] &&
           zvcrash_async_mobject_remap_address(&cache->sections[index], address, 0, length) != nullptr;
}

struct Walker {
    zvcrash_async_macho_image* image;
    zvcrash_async_objc_cache* cache;
    // Called per method with the addresses of the class-name and method-name strings; a non-success
    // result ends the walk with it.
    zvcrash_error_t (*visit)(Walker* w, bool isClass, uint64_t className, uint64_t methodName, uint64_t imp);
    uint64_t pc;
    bool haveBest;
    uint64_t best;
    bool done;
    zvcrash_async_objc_found_method_cb callback;
    void* context;
};

// A word of the image's width at `address`: from a mapped section when it is inside one, else
// from task memory.
zvcrash_error_t readRaw(Walker* w, uint64_t address, void* out, size_t length) {
    for (int i = 0; i < ZVCRASH_ASYNC_OBJC_SECTION_COUNT; ++i) {
        if (!w->cache->mapped[i]) continue;
        const void* local = zvcrash_async_mobject_remap_address(&w->cache->sections[i], address, 0, length);
        if (local) {
            zvcrash_async_memcpy(out, local, length);
            return ZVCRASH_ESUCCESS;
        }
    }
    return zvcrash_async_task_memcpy(w->image->task, address, 0, out, length) == ZVCRASH_ESUCCESS
               ? ZVCRASH_ESUCCESS
               : ZVCRASH_EINVALID_DATA;
}

zvcrash_error_t read32(Walker* w, uint64_t address, uint32_t* out) {
    uint32_t v;
    if (readRaw(w, address, &v, 4) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVALID_DATA;
    *out = w->image->byteorder->swap32(v);
    return ZVCRASH_ESUCCESS;
}

zvcrash_error_t readWord(Walker* w, uint64_t address, uint64_t* out) {
    if (w->image->m64) {
        uint64_t v;
        if (readRaw(w, address, &v, 8) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVALID_DATA;
        *out = w->image->byteorder->swap64(v);
        return ZVCRASH_ESUCCESS;
    }
    uint32_t v;
    if (read32(w, address, &v) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVALID_DATA;
    *out = v;
    return ZVCRASH_ESUCCESS;
}

zvcrash_error_t walkMethodList(Walker* w, uint64_t list, uint64_t className, bool isClass) {
    if (list == 0) return ZVCRASH_ESUCCESS;
    const bool m64 = w->image->m64;
    const int owners[] = {kConst, kConstAx, kMethList};
    int owner = -1;
    for (int o : owners)
        if (inSection(w->cache, o, list, 8)) {
            owner = o;
            break;
        }
    if (owner < 0) return ZVCRASH_EINVALID_DATA;
    const zvcrash_async_mobject* mobj = &w->cache->sections[owner];
    const auto* order = w->image->byteorder;
    uint32_t flags, count;
    if (zvcrash_async_mobject_read_uint32(mobj, order, list, 0, &flags) != ZVCRASH_ESUCCESS ||
        zvcrash_async_mobject_read_uint32(mobj, order, list, 4, &count) != ZVCRASH_ESUCCESS)
        return ZVCRASH_EINVALID_DATA;
    const uint32_t entsize = flags & 0xFFFC;
    const bool relative = m64 && (flags & 0x80000000u) != 0;
    const uint32_t needed = relative ? 12 : (m64 ? 24 : 12);
    if (entsize < needed) return ZVCRASH_EINVALID_DATA;
    // The whole list must lie in its section before any entry is read.
    if (!zvcrash_async_mobject_remap_address(mobj, list, 8, static_cast<size_t>(count) * entsize))
        return ZVCRASH_EINVALID_DATA;
    for (uint32_t i = 0; i < count && !w->done; ++i) {
        const uint64_t entry = list + 8 + static_cast<uint64_t>(i) * entsize;
        uint64_t name, imp;
        if (relative) {
            uint32_t n, p;
            if (zvcrash_async_mobject_read_uint32(mobj, order, entry, 0, &n) != ZVCRASH_ESUCCESS ||
                zvcrash_async_mobject_read_uint32(mobj, order, entry, 8, &p) != ZVCRASH_ESUCCESS)
                return ZVCRASH_EINVALID_DATA;
            name = entry + static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(n)));
            imp = entry + 8 + static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(p)));
        } else if (m64) {
            if (zvcrash_async_mobject_read_uint64(mobj, order, entry, 0, &name) != ZVCRASH_ESUCCESS ||
                zvcrash_async_mobject_read_uint64(mobj, order, entry, 16, &imp) != ZVCRASH_ESUCCESS)
                return ZVCRASH_EINVALID_DATA;
        } else {
            uint32_t n, p;
            if (zvcrash_async_mobject_read_uint32(mobj, order, entry, 0, &n) != ZVCRASH_ESUCCESS ||
                zvcrash_async_mobject_read_uint32(mobj, order, entry, 8, &p) != ZVCRASH_ESUCCESS)
                return ZVCRASH_EINVALID_DATA;
            name = n;
            imp = p;
        }
        // A name held in the selector references is read through the reference.
        if (inSection(w->cache, kSelRefs, name, m64 ? 8 : 4)) {
            uint64_t target;
            if (readWord(w, name, &target) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVALID_DATA;
            name = target;
        }
        const zvcrash_error_t err = w->visit(w, isClass, className, name, imp);
        if (err != ZVCRASH_ESUCCESS) return err;
    }
    return ZVCRASH_ESUCCESS;
}

uint64_t* classCacheSlot(zvcrash_async_objc_cache* cache, uint64_t data) {
    if (!cache->class_cache) {
        if (cache->class_cache_failed) return nullptr;
        void* p = ::mmap(nullptr, kClassCacheBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) {
            cache->class_cache_failed = true;
            return nullptr;
        }
        cache->class_cache = static_cast<uint64_t*>(p);
    }
    return cache->class_cache + ((data / 4) % ZVCRASH_ASYNC_OBJC_CLASS_CACHE_SLOTS) * 2;
}

// The read-only class data of a class record, through the class-data cache.
zvcrash_error_t findClassRo(Walker* w, uint64_t cls, uint64_t* ro) {
    const bool m64 = w->image->m64;
    uint64_t data;
    if (readWord(w, cls + (m64 ? 32 : 16), &data) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVALID_DATA;
    data &= m64 ? 0x7FFFFFFFFFF8ull : ~uint64_t{7};
    uint64_t* slot = classCacheSlot(w->cache, data);
    if (slot && slot[0] == data && data != 0) {
        *ro = slot[1];
        return ZVCRASH_ESUCCESS;
    }
    uint32_t flags;
    if (read32(w, data, &flags) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVALID_DATA;
    uint64_t result = data;
    if (flags & 0x80000000u) {
        // Realized: this is the writable record; its second word leads to the read-only one,
        // possibly through an extension record.
        if (readWord(w, data + 8, &result) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVALID_DATA;
        if (result & 1) {
            if (readWord(w, result & ~uint64_t{1}, &result) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVALID_DATA;
        }
    }
    if (slot && slot[0] == 0) {
        slot[0] = data;
        slot[1] = result;
    }
    *ro = result;
    return ZVCRASH_ESUCCESS;
}

zvcrash_error_t walkClass(Walker* w, uint64_t cls, bool isClass) {
    const bool m64 = w->image->m64;
    uint64_t ro;
    zvcrash_error_t err = findClassRo(w, cls, &ro);
    if (err != ZVCRASH_ESUCCESS) return err;
    uint64_t name, methods;
    if (readWord(w, ro + (m64 ? 24 : 16), &name) != ZVCRASH_ESUCCESS ||
        readWord(w, ro + (m64 ? 32 : 20), &methods) != ZVCRASH_ESUCCESS)
        return ZVCRASH_EINVALID_DATA;
    return walkMethodList(w, methods, name, isClass);
}

zvcrash_error_t classNameOf(Walker* w, uint64_t cls, uint64_t* name) {
    uint64_t ro;
    if (findClassRo(w, cls, &ro) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVALID_DATA;
    return readWord(w, ro + (w->image->m64 ? 24 : 16), name);
}

zvcrash_error_t walkModern(Walker* w) {
    zvcrash_error_t err = setUpCache(w->image, w->cache);
    if (err != ZVCRASH_ESUCCESS) return err;
    const bool m64 = w->image->m64;
    const uint64_t word = m64 ? 8 : 4;
    zvcrash_async_objc_cache* cache = w->cache;
    if (cache->mapped[kClassList]) {
        const zvcrash_async_mobject* list = &cache->sections[kClassList];
        const uint64_t base = zvcrash_async_mobject_base_address(list);
        const uint64_t n = zvcrash_async_mobject_length(list) / word;
        for (uint64_t i = 0; i < n && !w->done; ++i) {
            uint64_t cls;
            if (readWord(w, base + i * word, &cls) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVALID_DATA;
            const size_t recordSize = m64 ? 40 : 20;
            if (!inSection(cache, kObjcData, cls, recordSize) && !inSection(cache, kData, cls, recordSize))
                return ZVCRASH_EINVALID_DATA;
            err = walkClass(w, cls, false);
            if (err == ZVCRASH_ESUCCESS && !w->done) {
                uint64_t meta;
                err = readWord(w, cls, &meta);
                if (err == ZVCRASH_ESUCCESS) {
                    if (meta & 1) meta &= m64 ? 0xFFFFFFFF8ull : ~uint64_t{7};
                    err = walkClass(w, meta, true);
                }
            }
            if (err != ZVCRASH_ESUCCESS && err != ZVCRASH_ENOTFOUND) return err;
        }
    }
    if (cache->mapped[kCatList]) {
        const zvcrash_async_mobject* list = &cache->sections[kCatList];
        const uint64_t base = zvcrash_async_mobject_base_address(list);
        const uint64_t n = zvcrash_async_mobject_length(list) / word;
        for (uint64_t i = 0; i < n && !w->done; ++i) {
            uint64_t cat, cls, inst, meta;
            if (readWord(w, base + i * word, &cat) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVALID_DATA;
            if (!inSection(cache, kConst, cat, 4 * word)) return ZVCRASH_EINVALID_DATA;
            if (readWord(w, cat + word, &cls) != ZVCRASH_ESUCCESS ||
                readWord(w, cat + 2 * word, &inst) != ZVCRASH_ESUCCESS ||
                readWord(w, cat + 3 * word, &meta) != ZVCRASH_ESUCCESS)
                return ZVCRASH_EINVALID_DATA;
            // A category of a class in another image has no class here: its name stays empty.
            uint64_t name = 0;
            err = cls ? classNameOf(w, cls, &name) : ZVCRASH_ESUCCESS;
            if (err == ZVCRASH_ESUCCESS) err = walkMethodList(w, inst, name, false);
            if (err == ZVCRASH_ESUCCESS && !w->done) err = walkMethodList(w, meta, name, true);
            if (err != ZVCRASH_ESUCCESS && err != ZVCRASH_ENOTFOUND) return err;
        }
    }
    cache->modern_walk_completed = true;
    return ZVCRASH_ESUCCESS;
}

// The legacy (32-bit) metadata: module records lead to symbol tables of class and category
// definitions; a class's methods are one list or an array of lists.
zvcrash_error_t walkLegacyList(Walker* w, uint64_t list, uint64_t className, bool isClass) {
    if (list == 0) return ZVCRASH_ESUCCESS;
    uint32_t count;
    if (read32(w, list + 4, &count) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVALID_DATA;
    if (count > 0x100000) return ZVCRASH_EINVALID_DATA;
    for (uint32_t i = 0; i < count && !w->done; ++i) {
        uint32_t name, imp;
        const uint64_t entry = list + 8 + static_cast<uint64_t>(i) * 12;
        if (read32(w, entry, &name) != ZVCRASH_ESUCCESS || read32(w, entry + 8, &imp) != ZVCRASH_ESUCCESS)
            return ZVCRASH_EINVALID_DATA;
        const zvcrash_error_t err = w->visit(w, isClass, className, name, imp);
        if (err != ZVCRASH_ESUCCESS) return err;
    }
    return ZVCRASH_ESUCCESS;
}

zvcrash_error_t walkLegacyClass(Walker* w, uint64_t cls, bool isClass) {
    uint32_t name, info, lists;
    if (read32(w, cls + 8, &name) != ZVCRASH_ESUCCESS || read32(w, cls + 16, &info) != ZVCRASH_ESUCCESS ||
        read32(w, cls + 28, &lists) != ZVCRASH_ESUCCESS)
        return ZVCRASH_EINVALID_DATA;
    if (info & 0x4000) return walkLegacyList(w, lists, name, isClass);
    if (lists == 0) return ZVCRASH_ESUCCESS;
    // An array of lists ended by 0 or all ones; bounded so that a corrupt array cannot run on.
    for (uint32_t i = 0; i < 4096 && !w->done; ++i) {
        uint32_t list;
        if (read32(w, lists + 4ull * i, &list) != ZVCRASH_ESUCCESS) return ZVCRASH_EINVALID_DATA;
        if (list == 0 || list == 0xFFFFFFFFu) break;
        const zvcrash_error_t err = walkLegacyList(w, list, name, isClass);
        if (err != ZVCRASH_ESUCCESS) return err;
    }
    return ZVCRASH_ESUCCESS;
}

// ENOTFOUND when the image has no legacy metadata.
zvcrash_error_t walkLegacy(Walker* w) {
    zvcrash_async_mobject modules;
    if (zvcrash_async_macho_map_section(w->image, "__OBJC", "__module_info", &modules) != ZVCRASH_ESUCCESS)
        return ZVCRASH_ENOTFOUND;
    const uint64_t base = zvcrash_async_mobject_base_address(&modules);
    const uint64_t n = zvcrash_async_mobject_length(&modules) / 16;
    zvcrash_error_t err = ZVCRASH_ESUCCESS;
    for (uint64_t m = 0; m < n && !w->done && err == ZVCRASH_ESUCCESS; ++m) {
        uint32_t symtab;
        if (zvcrash_async_mobject_read_uint32(&modules, w->image->byteorder, base + m * 16, 12, &symtab) !=
            ZVCRASH_ESUCCESS) {
            err = ZVCRASH_EINVALID_DATA;
            break;
        }
        if (symtab == 0) continue;
        // Two 16-bit counts in the image's byte order: classes, then categories.
        uint16_t counts[2];
        if (readRaw(w, symtab + 8, counts, sizeof counts) != ZVCRASH_ESUCCESS) {
            err = ZVCRASH_EINVALID_DATA;
            break;
        }
        const uint16_t classes = w->image->byteorder->swap16(counts[0]);
        const uint16_t categories = w->image->byteorder->swap16(counts[1]);
        for (uint32_t i = 0; i < static_cast<uint32_t>(classes) + categories && !w->done; ++i) {
            uint32_t def;
            if (read32(w, symtab + 12 + 4ull * i, &def) != ZVCRASH_ESUCCESS) {
                err = ZVCRASH_EINVALID_DATA;
                break;
            }
            if (i < classes) {
                err = walkLegacyClass(w, def, false);
                uint32_t meta;
                if (err == ZVCRASH_ESUCCESS && !w->done) err = read32(w, def, &meta);
                if (err == ZVCRASH_ESUCCESS && !w->done) err = walkLegacyClass(w, meta, true);
            } else {
                // A category record: its name, the class's name, then instance and class method lists.
                uint32_t className, inst, cls;
                if (read32(w, def + 4, &className) != ZVCRASH_ESUCCESS ||
                    read32(w, def + 8, &inst) != ZVCRASH_ESUCCESS || read32(w, def + 12, &cls) != ZVCRASH_ESUCCESS) {
                    err = ZVCRASH_EINVALID_DATA;
                    break;
                }
                err = walkLegacyList(w, inst, className, false);
                if (err == ZVCRASH_ESUCCESS && !w->done) err = walkLegacyList(w, cls, className, true);
            }
            if (err != ZVCRASH_ESUCCESS) break;
        }
    }
    zvcrash_async_mobject_free(&modules);
    return err;
}

// Legacy metadata first unless a modern walk already completed for this report; the modern
// metadata when the legacy walk offered nothing.
zvcrash_error_t walkAll(Walker* w, bool* legacyOnly) {
    if (!w->cache->modern_walk_completed && !*legacyOnly) {
        const zvcrash_error_t err = walkLegacy(w);
        if (err != ZVCRASH_ESUCCESS && err != ZVCRASH_ENOTFOUND) return err;
        if (err == ZVCRASH_ESUCCESS && (w->haveBest || w->done)) {
            *legacyOnly = true;
            return ZVCRASH_ESUCCESS;
        }
    } else if (*legacyOnly) {
        return walkLegacy(w);
    }
    return walkModern(w);
}

zvcrash_error_t visitBest(Walker* w, bool, uint64_t, uint64_t, uint64_t imp) {
    if (imp <= w->pc && (!w->haveBest || imp > w->best)) {
        w->haveBest = true;
        w->best = imp;
    }
    return ZVCRASH_ESUCCESS;
}

zvcrash_error_t visitReport(Walker* w, bool isClass, uint64_t className, uint64_t methodName, uint64_t imp) {
    if (imp != w->best || w->done) return ZVCRASH_ESUCCESS;
    w->done = true;
    zvcrash_async_objc_string cname, mname;
    zvcrash_async_objc_string_init(&cname, w->image, className);
    zvcrash_async_objc_string_init(&mname, w->image, methodName);
    const char* c = "";
    const char* m = nullptr;
    zvcrash_error_t err = className ? zvcrash_async_objc_string_pointer(&cname, &c) : ZVCRASH_ESUCCESS;
    if (err == ZVCRASH_ESUCCESS) err = zvcrash_async_objc_string_pointer(&mname, &m);
    if (err == ZVCRASH_ESUCCESS) w->callback(isClass, c, m, imp, w->context);
    zvcrash_async_objc_string_free(&cname);
    zvcrash_async_objc_string_free(&mname);
    return err;
}

}  // namespace

zvcrash_error_t zvcrash_async_objc_cache_init(zvcrash_async_objc_cache* cache) {
    zvcrash_async_memset(cache, 0, sizeof *cache);
    return ZVCRASH_ESUCCESS;
}

void zvcrash_async_objc_cache_free(zvcrash_async_objc_cache* cache) {
    unmapSections(cache);
    if (cache->class_cache) ::munmap(cache->class_cache, kClassCacheBytes);
    cache->class_cache = nullptr;
}

void zvcrash_async_objc_string_init(zvcrash_async_objc_string* string, zvcrash_async_macho_image* image,
                                    uint64_t address) {
    zvcrash_async_memset(string, 0, sizeof *string);
    string->task = image->task;
    string->address = address;
}

namespace {

zvcrash_error_t mapString(zvcrash_async_objc_string* s) {
    if (s->mapped) return ZVCRASH_ESUCCESS;
    const uint64_t page = kernel::vm_page_size();
    uint64_t want = page - (s->address % page);
    for (;;) {
        zvcrash_async_mobject mobj;
        if (zvcrash_async_mobject_init(&mobj, s->task, s->address, want, false) != ZVCRASH_ESUCCESS)
            return ZVCRASH_EINVAL;
        const uint64_t have = zvcrash_async_mobject_length(&mobj);
        const auto* bytes = static_cast<const char*>(zvcrash_async_mobject_remap_address(&mobj, s->address, 0, have));
        for (uint64_t i = 0; bytes && i < have; ++i) {
            if (bytes[i] == 0) {
                s->mobj = mobj;
                s->mapped = true;
                s->length = i;
                return ZVCRASH_ESUCCESS;
            }
        }
        zvcrash_async_mobject_free(&mobj);
        // The window stopped short of what was asked: the next page is unreadable.
        if (have < want || want > UINT64_MAX - page) return ZVCRASH_EINVAL;
        want += page;
    }
}

}  // namespace

zvcrash_error_t zvcrash_async_objc_string_length(zvcrash_async_objc_string* string, size_t* length) {
    const zvcrash_error_t err = mapString(string);
    if (err != ZVCRASH_ESUCCESS) return err;
    *length = string->length;
    return ZVCRASH_ESUCCESS;
}

zvcrash_error_t zvcrash_async_objc_string_pointer(zvcrash_async_objc_string* string, const char** pointer) {
    const zvcrash_error_t err = mapString(string);
    if (err != ZVCRASH_ESUCCESS) return err;
    const void* p = zvcrash_async_mobject_remap_address(&string->mobj, string->address, 0, string->length + 1);
    if (!p) return ZVCRASH_EACCESS;
    *pointer = static_cast<const char*>(p);
    return ZVCRASH_ESUCCESS;
}

void zvcrash_async_objc_string_free(zvcrash_async_objc_string* string) {
    if (string->mapped) zvcrash_async_mobject_free(&string->mobj);
    string->mapped = false;
}

zvcrash_error_t zvcrash_async_objc_find_method(zvcrash_async_macho_image* image, zvcrash_async_objc_cache* cache,
                                               uint64_t pc, zvcrash_async_objc_found_method_cb callback,
                                               void* context) {
    Walker w{};
    w.image = image;
    w.cache = cache;
    w.pc = pc;
    w.callback = callback;
    w.context = context;
    w.visit = &visitBest;
    bool legacyOnly = false;
    zvcrash_error_t err = walkAll(&w, &legacyOnly);
    if (err != ZVCRASH_ESUCCESS) return err;
    if (!w.haveBest) return ZVCRASH_ENOTFOUND;
    w.visit = &visitReport;
    err = walkAll(&w, &legacyOnly);
    if (err != ZVCRASH_ESUCCESS) return err;
    return w.done ? ZVCRASH_ESUCCESS : ZVCRASH_ENOTFOUND;
}

namespace {

struct Record {
    char name[256];
    bool found;
    uint64_t address;
};

// An equal address replaces: the source offered second wins a tie.
bool accepts(const Record* r, uint64_t address) { return !(r->found && r->address > address); }

void offer(uint64_t address, const char* name, void* context) {
    auto* r = static_cast<Record*>(context);
    if (!accepts(r, address)) return;
    size_t i = 0;
    for (; name[i] && i < sizeof r->name - 1; ++i) r->name[i] = name[i];
    r->name[i] = 0;
    r->found = true;
    r->address = address;
}

void offerMethod(bool isClass, const char* className, const char* methodName, uint64_t imp, void* context) {
    auto* r = static_cast<Record*>(context);
    if (!accepts(r, imp)) return;
    const size_t cap = sizeof r->name - 1;
    size_t i = 0;
    r->name[i++] = isClass ? '+' : '-';
    r->name[i++] = '[';
    for (size_t k = 0; className[k] && k < 253 && i < cap; ++k) r->name[i++] = className[k];
    if (i < cap) r->name[i++] = ' ';
    for (size_t k = 0; methodName[k] && i < cap; ++k) r->name[i++] = methodName[k];
    if (i < cap) r->name[i++] = ']';
    r->name[i] = 0;
    r->found = true;
    r->address = imp;
}

}  // namespace

zvcrash_error_t zvcrash_async_find_symbol(zvcrash_async_macho_image* image, uint32_t strategy,
                                          zvcrash_async_objc_cache* cache, uint64_t pc,
                                          zvcrash_async_found_symbol_cb callback, void* context) {
    Record record;
    record.found = false;
    record.address = 0;
    record.name[0] = 0;
    bool tableOk = false;
    bool objcOk = false;
    if (strategy & ZVCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE)
        tableOk = zvcrash_async_macho_find_symbol_by_pc(image, pc, &offer, &record) == ZVCRASH_ESUCCESS;
    if ((strategy & ZVCRASH_ASYNC_SYMBOL_STRATEGY_OBJC) && cache)
        objcOk = zvcrash_async_objc_find_method(image, cache, pc, &offerMethod, &record) == ZVCRASH_ESUCCESS;
    if (!tableOk && !objcOk) return ZVCRASH_ENOTFOUND;
    if (!record.found) return ZVCRASH_EINTERNAL;
    callback(record.address, record.name, context);
    return ZVCRASH_ESUCCESS;
}
