// ELF images of this host: base is the ELF header, the code extent is that of the executable
// PT_LOAD segments, the UUID is the first 16 bytes of the GNU build id.
#include <cstdlib>
#include <cstring>
#include <elf.h>

#include "crashreporter/image_list.h"

namespace {

uint32_t machCpuType(uint16_t machine, uint32_t* subtype) {
    switch (machine) {
        case EM_X86_64:
            *subtype = kernel::CPU_SUBTYPE_X86_64_ALL;
            return kernel::CPU_TYPE_X86_64;
        case EM_AARCH64:
            *subtype = kernel::CPU_SUBTYPE_ARM64_ALL;
            return kernel::CPU_TYPE_ARM64;
        case EM_386:
            *subtype = 3;
            return kernel::CPU_TYPE_X86;
        case EM_ARM:
            *subtype = 9;
            return kernel::CPU_TYPE_ARM;
        default:
            *subtype = 0;
            return 0;
    }
}

}  // namespace

zvcrash_error_t zvcrash_async_elf_image_init(zvcrash_async_image* image, const kernel::Task* task, const char* name,
                                             uint64_t header) {
    Elf64_Ehdr eh;
    if (zvcrash_async_task_memcpy(task, header, 0, &eh, sizeof eh) != ZVCRASH_ESUCCESS) return ZVCRASH_EINTERNAL;
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
        eh.e_ident[EI_DATA] != ELFDATA2LSB || eh.e_phentsize != sizeof(Elf64_Phdr) || eh.e_phnum == 0 ||
        eh.e_phnum > 256) {
        return ZVCRASH_EINVAL;
    }
    Elf64_Phdr phdrs[256];
    if (zvcrash_async_task_memcpy(task, header, static_cast<int64_t>(eh.e_phoff), phdrs,
                                  sizeof(Elf64_Phdr) * eh.e_phnum) != ZVCRASH_ESUCCESS) {
        return ZVCRASH_EINVAL;
    }
    // The segment that maps file offset 0 holds the header, which fixes the load bias.
    bool haveBias = false;
    uint64_t bias = 0;
    for (int i = 0; i < eh.e_phnum; ++i) {
        if (phdrs[i].p_type == PT_LOAD && phdrs[i].p_offset == 0) {
            bias = header - phdrs[i].p_vaddr;
            haveBias = true;
            break;
        }
    }
    if (!haveBias) return ZVCRASH_EINVAL;

    zvcrash_async_memset(image, 0, sizeof *image);
    image->format = ZVCRASH_IMAGE_FORMAT_ELF;
    image->task = task;
    image->header_addr = header;
    image->elf.load_bias = bias;
    image->elf.machine = eh.e_machine;
    image->cpu_type = machCpuType(eh.e_machine, &image->cpu_subtype);
    uint64_t codeEnd = header;
    for (int i = 0; i < eh.e_phnum; ++i) {
        const Elf64_Phdr& ph = phdrs[i];
        if (ph.p_type == PT_LOAD && (ph.p_flags & PF_X)) {
            uint64_t end = bias + ph.p_vaddr + ph.p_memsz;
            if (end > codeEnd) codeEnd = end;
        } else if (ph.p_type == PT_GNU_EH_FRAME) {
            image->elf.eh_frame_hdr = bias + ph.p_vaddr;
            image->elf.eh_frame_hdr_size = ph.p_memsz;
        } else if (ph.p_type == PT_NOTE && !image->has_uuid && ph.p_memsz >= 12 && ph.p_memsz <= 65536) {
            // Walk the notes for NT_GNU_BUILD_ID.
            uint64_t at = bias + ph.p_vaddr;
            uint64_t end = at + ph.p_memsz;
            while (at + 12 <= end) {
                uint32_t nh[3];
                if (zvcrash_async_task_memcpy(task, at, 0, nh, sizeof nh) != ZVCRASH_ESUCCESS) break;
                const uint64_t nameSize = (nh[0] + 3ULL) & ~3ULL, descSize = (nh[1] + 3ULL) & ~3ULL;
                const uint64_t desc = at + 12 + nameSize;
                if (nh[2] == NT_GNU_BUILD_ID && nh[0] == 4 && nh[1] >= 16 && desc + nh[1] <= end) {
                    if (zvcrash_async_task_memcpy(task, desc, 0, image->uuid, 16) == ZVCRASH_ESUCCESS)
                        image->has_uuid = true;
                    break;
                }
                at = desc + descSize;
            }
        }
    }
    image->text_size = codeEnd - header;
    image->name = ::strdup(name ? name : "");
    return ZVCRASH_ESUCCESS;
}
