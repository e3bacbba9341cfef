// The per-image FDE index: built in normal context when an image is added, by the same walk as the
// linear scan, so that the crash-time lookup is a binary search over parsed FDEs and their CIEs.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "crashreporter/dwarf_unwinder.h"

struct zvcrash_async_fde_index {
    zvcrash_async_dwarf_section section;
    const kernel::Task* task;  // whose memory holds the section
    uint32_t count;
    uint32_t cie_count;
    // Sorted by pc_start, without overlaps: at most one entry covers a pc.
    zvcrash_async_fde_index_entry* entries;
    zvcrash_async_dwarf_cie_info* cies;
    // The walk reached the section's terminator or end: a pc outside every entry has no FDE.
    bool complete;
};

zvcrash_async_fde_index* zvcrash_dwarf_fde_index_build(const zvcrash_async_image* image) {
    // The linker's own search table finds an ELF image's FDE as fast, read in place at crash time:
    // an index would only read the whole frame section into memory and keep a copy of that table.
    if (zvcrash_async_dwarf_elf_has_search_table(image->task, image)) return nullptr;
    zvcrash_async_dwarf_section section;
    if (zvcrash_async_dwarf_find_section(image->task, image, &section) != ZVCRASH_ESUCCESS) return nullptr;
    return zvcrash_dwarf_fde_index_build_section(image->task, &section);
}

zvcrash_async_fde_index* zvcrash_dwarf_fde_index_build_section(const kernel::Task* task,
                                                               const zvcrash_async_dwarf_section* frames) {
    const zvcrash_async_dwarf_section section = *frames;
    auto* src = static_cast<zvcrash_async_dwarf_source*>(std::malloc(sizeof(zvcrash_async_dwarf_source)));
    if (!src) return nullptr;
    zvcrash_async_dwarf_section_source(&section, task, src);
    gnu_ehptr_reader reader(section.m64);
    struct Found {
        zvcrash_async_fde_index_entry entry;
        uint64_t pc_end;
    };
    std::vector<Found> entries;
    std::vector<zvcrash_async_dwarf_cie_info> cies;
    bool complete = true;
    uint32_t lastCie = UINT32_MAX;
    for (uint64_t at = section.start; at < section.end;) {
        uint64_t next;
        bool isCie = false, terminator = false;
        if (zvcrash_async_dwarf_next_entry(src, at, section.debug_frame, &next, &isCie, &terminator) !=
            ZVCRASH_ESUCCESS) {
            complete = false;  // the scan would answer "Invalid argument" past here: leave it to the scan
            break;
        }
        if (terminator) break;
        if (!isCie) {
            zvcrash_async_dwarf_fde_info fde;
            zvcrash_async_dwarf_cie_info cie;
            // FDEs mostly share the CIE of the one before: that one is handed in, not parsed again.
            const zvcrash_async_dwarf_cie_info* known = lastCie < cies.size() ? &cies[lastCie] : nullptr;
            if (zvcrash_async_dwarf_fde_info_init(&fde, &cie, src, &reader, at, section.debug_frame, section.start,
                                                  known) == ZVCRASH_ESUCCESS &&
                fde.pc_start < fde.pc_end) {
                uint32_t slot = lastCie < cies.size() && cies[lastCie].cie_offset == cie.cie_offset ? lastCie : 0;
                while (slot < cies.size() && cies[slot].cie_offset != cie.cie_offset) ++slot;
                if (slot == cies.size()) cies.push_back(cie);
                lastCie = slot;
                // An FDE too far into its section for the entry's offset: no index, the scan stays.
                if (at - section.start > UINT32_MAX) {
                    std::free(src);
                    return nullptr;
                }
                entries.push_back({{fde.pc_start, static_cast<uint32_t>(at - section.start), slot}, fde.pc_end});
            }
        }
        at = next;
    }
    std::free(src);
    if (entries.empty() || cies.size() > UINT32_MAX || entries.size() > UINT32_MAX) return nullptr;
    // The scan answers the first FDE in section order that covers pc; with overlapping ranges a
    // sorted search could answer another, so such an image keeps the scan.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.entry.pc_start < b.entry.pc_start; });
    for (size_t i = 1; i < entries.size(); ++i)
        if (entries[i].entry.pc_start < entries[i - 1].pc_end) return nullptr;

    auto* index = static_cast<zvcrash_async_fde_index*>(std::calloc(1, sizeof(zvcrash_async_fde_index)));
    if (!index) return nullptr;
    index->entries = static_cast<zvcrash_async_fde_index_entry*>(
        std::malloc(entries.size() * sizeof(zvcrash_async_fde_index_entry)));
    index->cies =
        static_cast<zvcrash_async_dwarf_cie_info*>(std::malloc(cies.size() * sizeof(zvcrash_async_dwarf_cie_info)));
    if (!index->entries || !index->cies) {
        zvcrash_dwarf_fde_index_free(index);
        return nullptr;
    }
    for (size_t i = 0; i < entries.size(); ++i) index->entries[i] = entries[i].entry;
    std::copy(cies.begin(), cies.end(), index->cies);
    index->count = static_cast<uint32_t>(entries.size());
    index->cie_count = static_cast<uint32_t>(cies.size());
    index->section = section;
    index->task = task;
    index->complete = complete;
    return index;
}

void zvcrash_dwarf_fde_index_free(zvcrash_async_fde_index* index) {
    if (!index) return;
    std::free(index->entries);
    std::free(index->cies);
    std::free(index);
}

uint32_t zvcrash_dwarf_fde_index_count(const zvcrash_async_fde_index* index) { return index ? index->count : 0; }

size_t zvcrash_dwarf_fde_index_bytes(const zvcrash_async_fde_index* index) {
    if (!index) return 0;
    return sizeof *index + index->count * sizeof(zvcrash_async_fde_index_entry) +
           index->cie_count * sizeof(zvcrash_async_dwarf_cie_info);
}

zvcrash_error_t zvcrash_async_dwarf_fde_index_lookup(const zvcrash_async_fde_index* index, uint64_t pc,
                                                     zvcrash_async_dwarf_fde_info* fde,
                                                     zvcrash_async_dwarf_cie_info* cie) {
    zvcrash_async_dwarf_source src;
    zvcrash_async_dwarf_section_source(&index->section, index->task, &src);
    return zvcrash_async_dwarf_fde_index_lookup(index, &src, pc, fde, cie);
}

zvcrash_error_t zvcrash_async_dwarf_fde_index_lookup(const zvcrash_async_fde_index* index,
                                                     zvcrash_async_dwarf_source* src, uint64_t pc,
                                                     zvcrash_async_dwarf_fde_info* fde,
                                                     zvcrash_async_dwarf_cie_info* cie) {
    // The last entry starting at or below pc.
    uint32_t lo = 0, hi = index->count;
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (index->entries[mid].pc_start <= pc)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo > 0) {
        const zvcrash_async_fde_index_entry& e = index->entries[lo - 1];
        const zvcrash_async_dwarf_cie_info& known = index->cies[e.cie];
        gnu_ehptr_reader reader(index->section.m64);
        // The FDE as the build read it, with the CIE it parsed then.
        if (zvcrash_async_dwarf_fde_info_init(fde, cie, src, &reader, index->section.start + e.fde,
                                              index->section.debug_frame, index->section.start,
                                              &known) != ZVCRASH_ESUCCESS ||
            fde->pc_start != e.pc_start)
            return ZVCRASH_ENOTSUP;  // the memory changed under the index: the caller scans
        if (pc < fde->pc_end) return ZVCRASH_ESUCCESS;
    }
    // An incomplete walk cannot rule the pc out: the caller scans.
    return index->complete ? ZVCRASH_ENOTFOUND : ZVCRASH_ENOTSUP;
}

const zvcrash_async_dwarf_section* zvcrash_dwarf_fde_index_section(const zvcrash_async_fde_index* index) {
    return &index->section;
}
