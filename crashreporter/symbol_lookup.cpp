#include "crashreporter/symbol_lookup.h"

namespace {

struct Best {
    bool found = false;
    uint64_t value = 0;
    uint32_t strx = 0;
    uint64_t normalized = 0;
};

void searchTable(zvcrash_async_macho_symtab_reader* reader, const void* table, uint32_t count, uint64_t target, Best* best) {
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

zvcrash_error_t zvcrash_async_macho_find_symbol_by_pc(zvcrash_async_macho_image* image, uint64_t pc, zvcrash_async_found_symbol_cb callback,
                                                      void* context) {
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

namespace {

struct Record {
    char name[256];
    bool found;
    uint64_t address;
};

void offer(uint64_t address, const char* name, void* context) {
    auto* r = static_cast<Record*>(context);
    if (r->found && r->address > address) return;
    size_t i = 0;
    for (; name[i] && i < sizeof r->name - 1; ++i) r->name[i] = name[i];
    r->name[i] = 0;
    r->found = true;
    r->address = address;
}

}  // namespace

zvcrash_error_t zvcrash_async_find_symbol(zvcrash_async_macho_image* image, uint32_t strategy, uint64_t pc,
                                          zvcrash_async_found_symbol_cb callback, void* context) {
    Record record;
    record.found = false;
    record.address = 0;
    record.name[0] = 0;
    bool tableOk = false;
    if (strategy & ZVCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE) tableOk = zvcrash_async_macho_find_symbol_by_pc(image, pc, &offer, &record) == ZVCRASH_ESUCCESS;
    if (!tableOk) return ZVCRASH_ENOTFOUND;
    if (!record.found) return ZVCRASH_EINTERNAL;
    callback(record.address, record.name, context);
    return ZVCRASH_ESUCCESS;
}
