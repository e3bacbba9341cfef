// The DWARF call-frame unwinder: finds the FDE that covers a pc (through the sorted search table
// of an ELF image's PT_GNU_EH_FRAME when there is one, else by a linear scan), parses its CIE, runs
// the CFA programs through a bounded register-rule state machine and applies the rules to make the
// caller's register state. Every byte of unwind data is read through a bounds-checked window over
// task memory; nothing allocates or locks, so the whole unwinder is async-signal-safe.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crashreporter/async_reader.h"
#include "crashreporter/frame_cursor.h"
#include "crashreporter/image_list.h"
#include "crashreporter/task_memory.h"
#include "crashreporter/thread_state.h"

// The frame section being read: a bounded window [start, end) over a task's memory. Call-frame
// data is read through async readers over it (see async_reader.h), which copy through the
// window's line cache, or read in place for an image of this very process whose window lies in
// its loaded segments (those stay mapped while the image is listed).
struct zvcrash_async_dwarf_source {
    const kernel::Task* task;
    uint64_t start;
    uint64_t end;
    bool in_place;
    zvcrash_async_line_cache cache;
    // Why the last failing call over this source failed: its code, field and address.
    zvcrash_async_fault fault;
};

void zvcrash_async_dwarf_source_init(zvcrash_async_dwarf_source* src, const kernel::Task* task, uint64_t start,
                                     uint64_t end);
// A reader over the source's window positioned at `address` (outside -> a failed reader).
zvcrash_async_reader zvcrash_async_dwarf_source_reader(zvcrash_async_dwarf_source* src, uint64_t address);
// "Invalid argument" for a range outside the window, the task's error for an unreadable one.
zvcrash_error_t zvcrash_async_dwarf_source_read(zvcrash_async_dwarf_source* src, uint64_t address, void* dest,
                                                size_t length);
// Records why a call over the source failed and answers the code.
zvcrash_error_t zvcrash_async_dwarf_source_failed(zvcrash_async_dwarf_source* src, const zvcrash_async_reader* reader);

// Single reads at address + offset (the LEB128 forms also report the bytes consumed); a failure
// leaves its reason in the source's fault.
zvcrash_error_t zvcrash_async_dwarf_read_uintmax(zvcrash_async_dwarf_source* src, uint64_t address, int64_t offset,
                                                 int width, uint64_t* out);
zvcrash_error_t zvcrash_async_dwarf_read_uleb128(zvcrash_async_dwarf_source* src, uint64_t address, int64_t offset,
                                                 uint64_t* out, uint64_t* consumed);
zvcrash_error_t zvcrash_async_dwarf_read_sleb128(zvcrash_async_dwarf_source* src, uint64_t address, int64_t offset,
                                                 int64_t* out, uint64_t* consumed);

// Reads DW_EH_PE-encoded pointers of one word width. Bases that a caller does not set make their
// applications unsupported.
struct gnu_ehptr_reader {
    bool m64;
    bool has_frame_section_base;
    uint64_t frame_section_base;
    bool has_text_base;
    uint64_t text_base;
    bool has_data_base;
    uint64_t data_base;
    bool has_func_base;
    uint64_t func_base;

    explicit gnu_ehptr_reader(bool is64);
    zvcrash_error_t read(zvcrash_async_dwarf_source* src, uint64_t address, int64_t offset, uint8_t encoding,
                         uint64_t* value, uint64_t* consumed) const;
    // Reads one pointer at the reader's position and moves past it; failures stay in the reader.
    uint64_t read(zvcrash_async_reader* reader, uint8_t encoding, const char* field) const;
};

struct zvcrash_async_dwarf_cie_info {
    uint64_t cie_entry;   // address of the entry (its length field), as an FDE's CIE pointer names it
    uint64_t cie_offset;  // address of the content (after the length field)
    uint64_t cie_length;
    uint64_t cie_id;
    uint8_t cie_version;
    uint8_t address_size;
    uint8_t segment_size;
    uint64_t code_alignment_factor;
    int64_t data_alignment_factor;
    uint64_t return_address_register;
    bool has_z;
    bool has_lsda_encoding;
    uint8_t lsda_encoding;
    bool has_personality;
    uint64_t personality_address;
    bool has_pointer_encoding;
    uint8_t pointer_encoding;
    bool signal_frame;
    uint64_t initial_instructions_offset;  // address
    uint64_t initial_instructions_length;
};

struct zvcrash_async_dwarf_fde_info {
    uint64_t fde_offset;  // address of the content
    uint64_t fde_length;
    uint64_t cie_offset;  // address of the CIE entry
    uint64_t pc_start;
    uint64_t pc_end;
    uint64_t instructions_offset;
    uint64_t instructions_length;
};

// Addresses here are task addresses inside the source window. `debug_frame` selects the
// __debug_frame conventions (CIE ids of all ones, CIE pointers relative to `section_start`).
zvcrash_error_t zvcrash_async_dwarf_cie_info_init(zvcrash_async_dwarf_cie_info* info, zvcrash_async_dwarf_source* src,
                                                  const gnu_ehptr_reader* reader, uint64_t address);
zvcrash_error_t zvcrash_async_dwarf_fde_info_init(zvcrash_async_dwarf_fde_info* info, zvcrash_async_dwarf_cie_info* cie,
                                                  zvcrash_async_dwarf_source* src, const gnu_ehptr_reader* reader,
                                                  uint64_t address, bool debug_frame, uint64_t section_start,
                                                  const zvcrash_async_dwarf_cie_info* known_cie = nullptr);
// Reads the entry header at `address`: the address after the entry, whether it is a CIE (by the
// id conventions of the section kind) and whether it is the zero-length terminator.
zvcrash_error_t zvcrash_async_dwarf_next_entry(zvcrash_async_dwarf_source* src, uint64_t address, bool debug_frame,
                                               uint64_t* next, bool* is_cie, bool* terminator);
// Linear scan of a frame section from `address` to the window's end for the FDE with
// pc_start <= pc < pc_end.
zvcrash_error_t zvcrash_async_dwarf_find_fde_linear(zvcrash_async_dwarf_source* src, const gnu_ehptr_reader* reader,
                                                    uint64_t address, bool debug_frame, uint64_t pc,
                                                    zvcrash_async_dwarf_fde_info* fde,
                                                    zvcrash_async_dwarf_cie_info* cie);
// The search table of an .eh_frame_hdr at `hdr`: the FDE address for pc, "Not found" when the
// table has none or the pc precedes it, "Operation not supported" when there is no table (the
// caller then scans from *eh_frame).
zvcrash_error_t zvcrash_async_dwarf_eh_frame_hdr_lookup(zvcrash_async_dwarf_source* hdrsrc, bool m64, uint64_t hdr,
                                                        uint64_t pc, uint64_t* eh_frame, uint64_t* fde_address);

// Where an image's call-frame data lies: .eh_frame of an ELF image (through its PT_GNU_EH_FRAME
// header), __TEXT,__eh_frame of a Mach-O image, or its __DWARF,__debug_frame when it has no
// __eh_frame.
struct zvcrash_async_dwarf_section {
    uint64_t start;
    uint64_t end;
    bool debug_frame;
    bool in_place;  // an image of this process: read where it is mapped
    bool m64;
};

// "Not found" when the image has no call-frame data.
zvcrash_error_t zvcrash_async_dwarf_find_section(const kernel::Task* task, const zvcrash_async_image* image,
                                                 zvcrash_async_dwarf_section* section);
void zvcrash_async_dwarf_section_source(const zvcrash_async_dwarf_section* section, const kernel::Task* task,
                                        zvcrash_async_dwarf_source* src);

// The per-image FDE index, built when an image is added (normal context: it allocates) and read at
// crash time without allocating. It holds every FDE that the linear scan from the section's start
// would accept, sorted by start, with its parsed CIE, so a lookup gives the FDE the scan gives.
// An image whose FDE ranges overlap gets no index (the scan stays), nor does an ELF image whose
// .eh_frame_hdr has the linker's search table (zvcrash_async_dwarf_elf_has_search_table), which
// serves the same lookup in place. Each entry keeps only where its range starts and where its FDE
// lies: the one FDE a lookup lands on is read again then (with its CIE from the index), a quarter
// of the memory that parsed FDEs would take.
struct zvcrash_async_fde_index_entry {
    uint64_t pc_start;
    uint32_t fde;  // the FDE's entry, from the section's start
    uint32_t cie;  // into the index's CIEs
};
struct zvcrash_async_fde_index;
zvcrash_async_fde_index* zvcrash_dwarf_fde_index_build(const zvcrash_async_image* image);
zvcrash_async_fde_index* zvcrash_dwarf_fde_index_build_section(const kernel::Task* task,
                                                               const zvcrash_async_dwarf_section* section);
void zvcrash_dwarf_fde_index_free(zvcrash_async_fde_index* index);
uint32_t zvcrash_dwarf_fde_index_count(const zvcrash_async_fde_index* index);
// What the index takes in memory.
size_t zvcrash_dwarf_fde_index_bytes(const zvcrash_async_fde_index* index);
const zvcrash_async_dwarf_section* zvcrash_dwarf_fde_index_section(const zvcrash_async_fde_index* index);
// "Not found" when no FDE covers pc; "Operation not supported" when the index cannot tell (its
// walk stopped at malformed data) and the caller must scan.
zvcrash_error_t zvcrash_async_dwarf_fde_index_lookup(const zvcrash_async_fde_index* index, uint64_t pc,
                                                     zvcrash_async_dwarf_fde_info* fde,
                                                     zvcrash_async_dwarf_cie_info* cie);
// The same over src, a source of the index's section (zvcrash_async_dwarf_section_source) that the
// caller made already: nothing of the size of a source goes on the stack again.
zvcrash_error_t zvcrash_async_dwarf_fde_index_lookup(const zvcrash_async_fde_index* index,
                                                     zvcrash_async_dwarf_source* src, uint64_t pc,
                                                     zvcrash_async_dwarf_fde_info* fde,
                                                     zvcrash_async_dwarf_cie_info* cie);

// An ELF image of this process whose .eh_frame_hdr holds the linker's search table: the table is
// searched where it is mapped, and the CIEs that lookups parse are kept (a handful per image), so a
// lookup reads only the table's probes and the one FDE. Built when the image is added (normal
// context: it allocates); the lookup is async-signal-safe (it fills a free CIE slot lock-free).
struct zvcrash_async_search_table;
zvcrash_async_search_table* zvcrash_dwarf_search_table_build(const zvcrash_async_image* image);
void zvcrash_dwarf_search_table_free(zvcrash_async_search_table* table);
// What the record takes in memory (its CIE slots included).
size_t zvcrash_dwarf_search_table_bytes(const zvcrash_async_search_table* table);
// "Not found" when no FDE covers pc; another error when the table or the FDE it names is unusable
// (the caller then searches another way). `src` is made over the image's .eh_frame.
zvcrash_error_t zvcrash_async_dwarf_search_table_lookup(zvcrash_async_search_table* table,
                                                        zvcrash_async_dwarf_source* src, uint64_t pc,
                                                        zvcrash_async_dwarf_fde_info* fde,
                                                        zvcrash_async_dwarf_cie_info* cie);

namespace zvcrash::ZV::async {

enum dwarf_cfa_reg_rule_t : uint8_t {
    DWARF_CFA_REG_RULE_OFFSET = 0,
    DWARF_CFA_REG_RULE_VAL_OFFSET = 1,
    DWARF_CFA_REG_RULE_REGISTER = 2,
    DWARF_CFA_REG_RULE_EXPRESSION = 3,
    DWARF_CFA_REG_RULE_VAL_EXPRESSION = 4,
    DWARF_CFA_REG_RULE_SAME_VALUE = 5,
    // Set by DW_CFA_undefined: unlike a register with no rule at all, an explicitly undefined
    // return address marks the outermost frame.
    DWARF_CFA_REG_RULE_UNDEFINED = 6,
};

enum dwarf_cfa_rule_type : uint8_t {
    DWARF_CFA_RULE_UNDEFINED = 0,
    DWARF_CFA_RULE_EXPRESSION = 1,
    DWARF_CFA_RULE_REGISTER = 2,
    DWARF_CFA_RULE_REGISTER_SIGNED = 3,
};

struct dwarf_cfa_rule {
    dwarf_cfa_rule_type type;
    uint32_t reg;
    int64_t offset;       // unsigned offsets are kept as their bit pattern
    uint64_t expression;  // address of the expression block
    uint64_t expression_len;
};

// Register rules: at most 6 levels (the initial one and 5 remembered), 100 rule entries shared by
// all levels, 14 hash chains per level.
class dwarf_cfa_state {
public:
    static constexpr int kLevels = 6;
    static constexpr int kEntries = 100;
    static constexpr int kBuckets = 14;
    static constexpr uint8_t kNone = 255;

    dwarf_cfa_state();
    bool set_register(uint32_t reg, dwarf_cfa_reg_rule_t rule, int64_t value);
    bool get_register_rule(uint32_t reg, dwarf_cfa_reg_rule_t* rule, int64_t* value) const;
    void remove_register(uint32_t reg);
    void set_cfa_register(uint32_t reg, uint64_t offset);
    void set_cfa_register_signed(uint32_t reg, int64_t offset);
    void set_cfa_expression(uint64_t address, uint64_t length);
    dwarf_cfa_rule get_cfa_rule() const { return levels_[level_].cfa; }
    bool push_state();
    bool pop_state();
    int level() const { return level_; }
    uint8_t register_count() const { return levels_[level_].count; }

    // Runs the program at [address, address + length) of `src` from location `pc_start` while the
    // location stays at or below `pc`.
    zvcrash_error_t eval_program(zvcrash_async_dwarf_source* src, uint64_t pc, uint64_t pc_start,
                                 const zvcrash_async_dwarf_cie_info* cie, const gnu_ehptr_reader* reader,
                                 uint64_t address, uint64_t length);
    zvcrash_error_t apply_state(const kernel::Task* task, zvcrash_async_dwarf_source* src,
                                const zvcrash_async_dwarf_cie_info* cie, const zvcrash_async_thread_state* current,
                                zvcrash_async_thread_state* next) const;

    // Iteration over the current level, bucket by bucket, each chain in order.
    struct iterator {
        const dwarf_cfa_state* state;
        int bucket;
        uint8_t entry;
        bool next(uint32_t* reg, dwarf_cfa_reg_rule_t* rule, int64_t* value);
    };
    iterator iterate() const { return iterator{this, -1, kNone}; }

private:
    struct entry {
        int64_t value;
        uint32_t reg;
        dwarf_cfa_reg_rule_t rule;
        uint8_t next;
    };
    struct level_state {
        dwarf_cfa_rule cfa;
        uint8_t count;
        uint16_t used;  // bit b: buckets[b] holds an entry
        uint8_t buckets[kBuckets];
    };
    uint8_t alloc();
    void release_level(int level);

    entry entries_[kEntries];
    uint8_t free_;    // released entries, linked through `next`
    uint8_t unused_;  // entries from here on were never handed out
    level_state levels_[kLevels];
    int level_;
};

// Inline: apply_state calls it for every rule of every frame.
inline bool dwarf_cfa_state::iterator::next(uint32_t* reg, dwarf_cfa_reg_rule_t* rule, int64_t* value) {
    const level_state& l = state->levels_[state->level_];
    if (entry != kNone) entry = state->entries_[entry].next;
    if (entry == kNone) {
        // The next bucket that holds an entry, from the level's mask of them.
        const uint32_t later = bucket + 1 >= kBuckets ? 0u : (l.used >> (bucket + 1)) << (bucket + 1);
        if (later == 0) {
            bucket = kBuckets;
            return false;
        }
        bucket = __builtin_ctz(later);
        entry = l.buckets[bucket];
    }
    const auto& e = state->entries_[entry];
    *reg = e.reg;
    *rule = e.rule;
    *value = e.value;
    return true;
}

}  // namespace zvcrash::ZV::async

// Evaluates the expression block [address, address + length) of `src` with `initial` pushed in
// order; registers come from `state`, memory reads from `task`.
zvcrash_error_t zvcrash_async_dwarf_expression_eval(zvcrash_async_dwarf_source* src, const kernel::Task* task,
                                                    const zvcrash_async_thread_state* state, uint64_t address,
                                                    uint64_t length, const uint64_t* initial, int initial_count,
                                                    uint64_t* result);

// One step over a located FDE: evaluates and applies its rules for the frame `current` whose
// lookup pc is `pc`. Exposed for tests and the benchmark.
zvcrash_error_t zvcrash_async_dwarf_unwind_with_fde(const kernel::Task* task, zvcrash_async_dwarf_source* src,
                                                    const gnu_ehptr_reader* reader,
                                                    const zvcrash_async_dwarf_cie_info* cie,
                                                    const zvcrash_async_dwarf_fde_info* fde, uint64_t pc,
                                                    const zvcrash_async_thread_state* current,
                                                    zvcrash_async_thread_state* next);

// Locates the FDE for `pc` in the ELF image's unwind data. With `use_table` false the search table
// is ignored and .eh_frame is scanned linearly (tests compare both).
zvcrash_error_t zvcrash_async_dwarf_elf_find_fde(const kernel::Task* task, const zvcrash_async_image* image,
                                                 uint64_t pc, bool use_table, zvcrash_async_dwarf_source* src,
                                                 zvcrash_async_dwarf_fde_info* fde, zvcrash_async_dwarf_cie_info* cie);

// Whether the ELF image's .eh_frame_hdr holds a search table the lookup above can use (one every
// linker writes): such an image needs no FDE index of its own.
bool zvcrash_async_dwarf_elf_has_search_table(const kernel::Task* task, const zvcrash_async_image* image);

// The frame reader of the cursor's table.
zvcrash_frame_error_t zvcrash_frame_dwarf_reader(const kernel::Task* task, zvcrash_async_image_list* image_list,
                                                 const zvcrash_async_thread_state* current,
                                                 const zvcrash_async_thread_state* previous,
                                                 zvcrash_async_thread_state* next);
