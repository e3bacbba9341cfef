# The table-driven unwinders' readers of outside input: call-frame information and DWARF expressions.
hx_fuzz(unwind_cfi unwind_cfi_fuzz.cpp LIBS hx_crashreporter hx_kernel)
hx_fuzz(unwind_expression unwind_expression_fuzz.cpp LIBS hx_crashreporter hx_kernel)
hx_fuzz(unwind_compact unwind_compact_fuzz.cpp LIBS hx_crashreporter hx_kernel)
