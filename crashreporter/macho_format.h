// The Mach-O records the image reader reads, with the format's names: headers, load commands,
// segments, sections, the symbol tables and UUID. Every record is read whole (by its size) and its
// fields are converted from the image's byte order.
#pragma once

#include <cstdint>

namespace zvcrash::macho {

inline constexpr uint32_t MH_MAGIC = 0xfeedface;
inline constexpr uint32_t MH_CIGAM = 0xcefaedfe;
inline constexpr uint32_t MH_MAGIC_64 = 0xfeedfacf;
inline constexpr uint32_t MH_CIGAM_64 = 0xcffaedfe;

inline constexpr uint32_t LC_SEGMENT = 0x1;
inline constexpr uint32_t LC_SYMTAB = 0x2;
inline constexpr uint32_t LC_DYSYMTAB = 0xb;
inline constexpr uint32_t LC_SEGMENT_64 = 0x19;
inline constexpr uint32_t LC_UUID = 0x1b;

inline constexpr uint16_t N_ARM_THUMB_DEF = 0x0008;

struct mach_header {
    uint32_t magic, cputype, cpusubtype, filetype, ncmds, sizeofcmds, flags;
};
static_assert(sizeof(mach_header) == 28);

struct mach_header_64 {
    uint32_t magic, cputype, cpusubtype, filetype, ncmds, sizeofcmds, flags, reserved;
};
static_assert(sizeof(mach_header_64) == 32);

struct load_command {
    uint32_t cmd, cmdsize;
};

struct segment_command {
    uint32_t cmd, cmdsize;
    char segname[16];
    uint32_t vmaddr, vmsize, fileoff, filesize;
    int32_t maxprot, initprot;
    uint32_t nsects, flags;
};
static_assert(sizeof(segment_command) == 56);

struct segment_command_64 {
    uint32_t cmd, cmdsize;
    char segname[16];
    uint64_t vmaddr, vmsize, fileoff, filesize;
    int32_t maxprot, initprot;
    uint32_t nsects, flags;
};
static_assert(sizeof(segment_command_64) == 72);

struct section {
    char sectname[16];
    char segname[16];
    uint32_t addr, size, offset, align, reloff, nreloc, flags, reserved1, reserved2;
};
static_assert(sizeof(section) == 68);

struct section_64 {
    char sectname[16];
    char segname[16];
    uint64_t addr, size;
    uint32_t offset, align, reloff, nreloc, flags, reserved1, reserved2, reserved3;
};
static_assert(sizeof(section_64) == 80);

struct symtab_command {
    uint32_t cmd, cmdsize, symoff, nsyms, stroff, strsize;
};
static_assert(sizeof(symtab_command) == 24);

struct dysymtab_command {
    uint32_t cmd, cmdsize;
    uint32_t ilocalsym, nlocalsym, iextdefsym, nextdefsym, iundefsym, nundefsym;
    uint32_t tocoff, ntoc, modtaboff, nmodtab, extrefsymoff, nextrefsyms;
    uint32_t indirectsymoff, nindirectsyms, extreloff, nextrel, locreloff, nlocrel;
};
static_assert(sizeof(dysymtab_command) == 80);

struct uuid_command {
    uint32_t cmd, cmdsize;
    uint8_t uuid[16];
};
static_assert(sizeof(uuid_command) == 24);

// nlist entries are packed: 12 bytes in 32-bit images, 16 in 64-bit ones.
struct __attribute__((packed)) nlist {
    uint32_t n_strx;
    uint8_t n_type, n_sect;
    uint16_t n_desc;
    uint32_t n_value;
};
static_assert(sizeof(nlist) == 12);

struct __attribute__((packed)) nlist_64 {
    uint32_t n_strx;
    uint8_t n_type, n_sect;
    uint16_t n_desc;
    uint64_t n_value;
};
static_assert(sizeof(nlist_64) == 16);

}  // namespace zvcrash::macho
