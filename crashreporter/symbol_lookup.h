// Symbol lookup at crash time from a Mach-O image's symbol table: the best symbol at or below a
// pc, read through the image's memory objects. Async-signal-safe.
#pragma once

#include <cstdint>

#include "crashreporter/image_list.h"
#include "crashreporter/macho_image.h"

inline constexpr uint32_t ZVCRASH_ASYNC_SYMBOL_STRATEGY_NONE = 0;
inline constexpr uint32_t ZVCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE = 1;

using zvcrash_async_found_symbol_cb = void (*)(uint64_t address, const char* name, void* context);

// Symbol-table search: the entry with the highest value at or below pc - slide (the first of
// equal values); "Not found" when none, "Invalid argument" when its name leaves the string table.
zvcrash_error_t zvcrash_async_macho_find_symbol_by_pc(zvcrash_async_macho_image* image, uint64_t pc, zvcrash_async_found_symbol_cb callback,
                                                      void* context);

// The best symbol of the enabled sources (only the symbol table is read here), name cut to 255
// characters; "Not found" when no source yields one.
zvcrash_error_t zvcrash_async_find_symbol(zvcrash_async_macho_image* image, uint32_t strategy, uint64_t pc,
                                          zvcrash_async_found_symbol_cb callback, void* context);
