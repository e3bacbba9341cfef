// Symbol lookup at crash time from a Mach-O image's symbol table and its object-runtime class and
// method metadata: the best symbol at or below a pc, read through memory objects. Async-signal-safe.
#pragma once

#include <cstdint>

#include "crashreporter/image_list.h"
#include "crashreporter/macho_image.h"

inline constexpr uint32_t ZVCRASH_ASYNC_SYMBOL_STRATEGY_NONE = 0;
inline constexpr uint32_t ZVCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE = 1;

inline constexpr uint32_t ZVCRASH_ASYNC_SYMBOL_STRATEGY_OBJC = 2;

// Per-report cache of an image's object-runtime metadata sections and of class-record lookups.
// Prepared before the threads are walked and released after; used by the reporting thread only.
inline constexpr int ZVCRASH_ASYNC_OBJC_SECTION_COUNT = 8;
inline constexpr size_t ZVCRASH_ASYNC_OBJC_CLASS_CACHE_SLOTS = 1024;

struct zvcrash_async_objc_cache {
    bool modern_walk_completed;
    bool image_set;
    uint64_t image_header;
    bool mapped[ZVCRASH_ASYNC_OBJC_SECTION_COUNT];
    zvcrash_async_mobject sections[ZVCRASH_ASYNC_OBJC_SECTION_COUNT];
    // (class data address, read-only class data address) pairs; null until first needed, and stays
    // null (cache disabled) when the kernel refuses the pages.
    uint64_t* class_cache;
    bool class_cache_failed;
};

// A NUL-terminated string in the task, mapped page by page until its terminator is inside.
struct zvcrash_async_objc_string {
    const kernel::Task* task;
    uint64_t address;
    zvcrash_async_mobject mobj;
    bool mapped;
    size_t length;
};

zvcrash_error_t zvcrash_async_objc_cache_init(zvcrash_async_objc_cache* cache);
void zvcrash_async_objc_cache_free(zvcrash_async_objc_cache* cache);

void zvcrash_async_objc_string_init(zvcrash_async_objc_string* string, zvcrash_async_macho_image* image,
                                    uint64_t address);
zvcrash_error_t zvcrash_async_objc_string_length(zvcrash_async_objc_string* string, size_t* length);
zvcrash_error_t zvcrash_async_objc_string_pointer(zvcrash_async_objc_string* string, const char** pointer);
void zvcrash_async_objc_string_free(zvcrash_async_objc_string* string);

using zvcrash_async_objc_found_method_cb = void (*)(bool is_class_method, const char* class_name,
                                                    const char* method_name, uint64_t imp, void* context);

// The method whose implementation address is the highest at or below pc, over every class,
// metaclass and category of the image; the callback runs once. "Not found" when none.
zvcrash_error_t zvcrash_async_objc_find_method(zvcrash_async_macho_image* image, zvcrash_async_objc_cache* cache,
                                               uint64_t pc, zvcrash_async_objc_found_method_cb callback, void* context);

using zvcrash_async_found_symbol_cb = void (*)(uint64_t address, const char* name, void* context);

// Symbol-table search: the entry with the highest value at or below pc - slide (the first of
// equal values); "Not found" when none, "Invalid argument" when its name leaves the string table.
zvcrash_error_t zvcrash_async_macho_find_symbol_by_pc(zvcrash_async_macho_image* image, uint64_t pc,
                                                      zvcrash_async_found_symbol_cb callback, void* context);

// The best symbol of the enabled sources, name cut to 255 characters; a metadata method is named
// "+[Class sel]" or "-[Class sel]" and wins a tie. "Not found" when no source yields one. The
// cache may be null when the metadata source is not enabled.
zvcrash_error_t zvcrash_async_find_symbol(zvcrash_async_macho_image* image, uint32_t strategy,
                                          zvcrash_async_objc_cache* cache, uint64_t pc,
                                          zvcrash_async_found_symbol_cb callback, void* context);
