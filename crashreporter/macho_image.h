// A reader of Mach-O images loaded in a task: header, load commands, segments, sections, UUID and
// the symbol tables; 32- and 64-bit, either byte order. Every read is checked against a window.
// Building an image allocates (normal context); every other call is async-signal-safe.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crashreporter/async_reader.h"
#include "crashreporter/macho_format.h"
#include "crashreporter/task_memory.h"

struct zvcrash_async_macho_image {
    const kernel::Task* task;
    uint64_t header_addr;
    int64_t vmaddr_slide;
    char* name;
    zvcrash::macho::mach_header header;  // as read, in the image's byte order
    uint32_t header_size;
    uint32_t ncmds;
    zvcrash_async_mobject load_cmds;
    uint64_t text_vmaddr;
    uint64_t text_size;
    bool m64;
    const zvcrash_async_byteorder* byteorder;
    // The first malformed record met: code, field and the task address it was read at.
    zvcrash_async_fault fault;
};

struct zvcrash_async_macho_mapped_segment {
    zvcrash_async_mobject mobj;
    uint64_t fileoff;
    uint64_t filesize;
};

struct zvcrash_async_macho_symtab_entry {
    uint32_t n_strx;
    uint8_t n_type;
    uint8_t n_sect;
    uint16_t n_desc;
    uint64_t n_value;
    uint64_t normalized_value;
};

struct zvcrash_async_macho_symtab_reader {
    zvcrash_async_macho_image* image;
    zvcrash_async_macho_mapped_segment linkedit;
    const void* symtab;
    uint32_t nsyms;
    const void* symtab_global;
    uint32_t nsyms_global;
    const void* symtab_local;
    uint32_t nsyms_local;
    const char* string_table;
    size_t string_table_size;
};

zvcrash_error_t zvcrash_async_macho_image_init(zvcrash_async_macho_image* image, const kernel::Task* task,
                                               const char* name, uint64_t header);
void zvcrash_async_macho_image_free(zvcrash_async_macho_image* image);
bool zvcrash_async_macho_contains_address(const zvcrash_async_macho_image* image, uint64_t address);
uint32_t zvcrash_async_macho_cpu_type(const zvcrash_async_macho_image* image);
uint32_t zvcrash_async_macho_cpu_subtype(const zvcrash_async_macho_image* image);

// Load commands are local pointers into the image's load-command window.
const void* zvcrash_async_macho_next_command(zvcrash_async_macho_image* image, const void* previous);
const void* zvcrash_async_macho_find_command(zvcrash_async_macho_image* image, uint32_t type);
const void* zvcrash_async_macho_find_segment_cmd(zvcrash_async_macho_image* image, const char* segname);
// Copies the 16 bytes of LC_UUID; false when there is none.
bool zvcrash_async_macho_get_uuid(zvcrash_async_macho_image* image, uint8_t uuid[16]);

zvcrash_error_t zvcrash_async_macho_map_segment(zvcrash_async_macho_image* image, const char* segname,
                                                zvcrash_async_macho_mapped_segment* segment);
void zvcrash_async_macho_mapped_segment_free(zvcrash_async_macho_mapped_segment* segment);
// The task address and size of a section, slide applied.
zvcrash_error_t zvcrash_async_macho_find_section(zvcrash_async_macho_image* image, const char* segname,
                                                 const char* sectname, uint64_t* address, uint64_t* size);
zvcrash_error_t zvcrash_async_macho_map_section(zvcrash_async_macho_image* image, const char* segname,
                                                const char* sectname, zvcrash_async_mobject* mobj);

zvcrash_error_t zvcrash_async_macho_symtab_reader_init(zvcrash_async_macho_symtab_reader* reader,
                                                       zvcrash_async_macho_image* image);
// `table` is one of the reader's symbol-table pointers; the index must be below that table's count.
zvcrash_async_macho_symtab_entry zvcrash_async_macho_symtab_reader_read(zvcrash_async_macho_symtab_reader* reader,
                                                                        const void* table, uint32_t index);
// The NUL-terminated name at n_strx, or null when it does not lie wholly in the string table.
const char* zvcrash_async_macho_symtab_reader_symbol_name(zvcrash_async_macho_symtab_reader* reader, uint32_t n_strx);
void zvcrash_async_macho_symtab_reader_free(zvcrash_async_macho_symtab_reader* reader);
