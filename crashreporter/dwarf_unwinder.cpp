// The DWARF frame reader of the frame cursor: locate the image's call-frame data, find the FDE
// for the frame's pc, run its CIE's and its own programs and apply the rules.
#include "crashreporter/dwarf_unwinder.h"

using namespace zvcrash::ZV::async;

zvcrash_error_t zvcrash_async_dwarf_unwind_with_fde(const kernel::Task* task, zvcrash_async_dwarf_source* src,
                                                    const gnu_ehptr_reader* reader,
                                                    const zvcrash_async_dwarf_cie_info* cie,
                                                    const zvcrash_async_dwarf_fde_info* fde, uint64_t pc,
                                                    const zvcrash_async_thread_state* current,
                                                    zvcrash_async_thread_state* next) {
    dwarf_cfa_state state;
    zvcrash_error_t err = state.eval_program(src, pc, fde->pc_start, cie, reader, cie->initial_instructions_offset,
                                             cie->initial_instructions_length);
    if (err != ZVCRASH_ESUCCESS) return err;
    err = state.eval_program(src, pc, fde->pc_start, cie, reader, fde->instructions_offset, fde->instructions_length);
    if (err != ZVCRASH_ESUCCESS) return err;
    return state.apply_state(task, src, cie, current, next);
}

namespace {

// Finds the FDE for `lookup` in the image: through its index when it has one, else through an
// ELF image's search table (read in place for this process's images), else by the linear scan. Frame errors: 2 when the
// image has no call-frame data, 4 when no FDE covers the pc.
zvcrash_frame_error_t findFde(const kernel::Task* task, const zvcrash_async_image* image, uint64_t lookup,
                              zvcrash_async_dwarf_source* src, zvcrash_async_dwarf_fde_info* fde,
                              zvcrash_async_dwarf_cie_info* cie, bool* m64) {
    if (const zvcrash_async_fde_index* index = image->fde_index.load(std::memory_order_acquire)) {
        const zvcrash_async_dwarf_section* section = zvcrash_dwarf_fde_index_section(index);
        zvcrash_async_dwarf_section_source(section, task, src);
        *m64 = section->m64;
        const zvcrash_error_t err = zvcrash_async_dwarf_fde_index_lookup(index, src, lookup, fde, cie);
        if (err == ZVCRASH_ESUCCESS) return ZVCRASH_FRAME_ESUCCESS;
        if (err == ZVCRASH_ENOTFOUND) return ZVCRASH_FRAME_ENOTSUP;
        gnu_ehptr_reader reader(section->m64);
        return zvcrash_async_dwarf_find_fde_linear(src, &reader, section->start, section->debug_frame, lookup, fde,
                                                   cie) == ZVCRASH_ESUCCESS
                   ? ZVCRASH_FRAME_ESUCCESS
                   : ZVCRASH_FRAME_ENOTSUP;
    }
    if (image->search_table) {
        *m64 = true;
        const zvcrash_error_t err = zvcrash_async_dwarf_search_table_lookup(image->search_table, src, lookup, fde, cie);
        if (err == ZVCRASH_ESUCCESS) return ZVCRASH_FRAME_ESUCCESS;
        if (err == ZVCRASH_ENOTFOUND) return ZVCRASH_FRAME_ENOTSUP;
        // Damaged data: the scan below says the same or finds more.
    }
    if (image->format == ZVCRASH_IMAGE_FORMAT_ELF) {
        if (image->elf.eh_frame_hdr == 0) return ZVCRASH_FRAME_ENOFRAME;
        *m64 = true;
        return zvcrash_async_dwarf_elf_find_fde(task, image, lookup, true, src, fde, cie) == ZVCRASH_ESUCCESS
                   ? ZVCRASH_FRAME_ESUCCESS
                   : ZVCRASH_FRAME_ENOTSUP;
    }
    zvcrash_async_dwarf_section section;
    const zvcrash_error_t err = zvcrash_async_dwarf_find_section(task, image, &section);
    if (err == ZVCRASH_ENOTFOUND) return ZVCRASH_FRAME_ENOFRAME;
    if (err != ZVCRASH_ESUCCESS) return ZVCRASH_FRAME_ENOTSUP;
    zvcrash_async_dwarf_section_source(&section, task, src);
    *m64 = section.m64;
    gnu_ehptr_reader reader(section.m64);
    return zvcrash_async_dwarf_find_fde_linear(src, &reader, section.start, section.debug_frame, lookup, fde, cie) ==
                   ZVCRASH_ESUCCESS
               ? ZVCRASH_FRAME_ESUCCESS
               : ZVCRASH_FRAME_ENOTSUP;
}

}  // namespace

zvcrash_frame_error_t zvcrash_frame_dwarf_reader(const kernel::Task* task, zvcrash_async_image_list* image_list,
                                                 const zvcrash_async_thread_state* current,
                                                 const zvcrash_async_thread_state* previous,
                                                 zvcrash_async_thread_state* next) {
    if (!zvcrash_async_thread_state_has_reg(current, ZVCRASH_REG_IP)) return ZVCRASH_FRAME_EBADFRAME;
    const uint64_t pc = zvcrash_async_thread_state_get_reg(current, ZVCRASH_REG_IP);
    if (pc == 0) return ZVCRASH_FRAME_ENOTSUP;
    if (!image_list) return ZVCRASH_FRAME_ENOTSUP;
    // Above the first frame the pc is a return address: it may lie just past the end of a
    // function whose last instruction is a call that never returns, so the call itself is looked up.
    const uint64_t lookup = previous ? pc - 1 : pc;
    zvcrash_frame_error_t result = ZVCRASH_FRAME_ENOTSUP;
    zvcrash_async_image_list_set_reading(image_list, true);
    zvcrash_async_image* image = zvcrash_async_image_list_image_containing_address(image_list, lookup);
    if (image) {
        zvcrash_async_dwarf_source src;
        zvcrash_async_dwarf_fde_info fde;
        zvcrash_async_dwarf_cie_info cie;
        bool m64 = true;
        result = findFde(task, image, lookup, &src, &fde, &cie, &m64);
        if (result == ZVCRASH_FRAME_ESUCCESS) {
            gnu_ehptr_reader reader(m64);
            // A signal frame's pc is where execution resumes, not a return address.
            const uint64_t target = cie.signal_frame ? pc : lookup;
            dwarf_cfa_state state;
            zvcrash_error_t err = state.eval_program(&src, target, fde.pc_start, &cie, &reader,
                                                     cie.initial_instructions_offset, cie.initial_instructions_length);
            if (err == ZVCRASH_ESUCCESS) {
                err = state.eval_program(&src, target, fde.pc_start, &cie, &reader, fde.instructions_offset,
                                         fde.instructions_length);
            }
            if (err != ZVCRASH_ESUCCESS) {
                result = ZVCRASH_FRAME_ENOTSUP;
            } else {
                result = state.apply_state(task, &src, &cie, current, next) == ZVCRASH_ESUCCESS
                             ? ZVCRASH_FRAME_ESUCCESS
                             : ZVCRASH_FRAME_ENOFRAME;
            }
        }
    }
    zvcrash_async_image_list_set_reading(image_list, false);
    return result;
}
