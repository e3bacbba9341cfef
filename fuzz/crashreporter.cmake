# The crash capture's readers of outside input: report files, and Mach-O images in task memory.
hx_fuzz(crash_report_reader crash_report_reader_fuzz.cpp LIBS hx_crashreporter)
hx_fuzz(macho_image macho_image_fuzz.cpp LIBS hx_crashreporter)
hx_fuzz(mach_exception_request mach_exception_request_fuzz.cpp LIBS hx_crashreporter)
