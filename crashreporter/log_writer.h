// The crash report writer: a record prepared in normal context with every fact that does not
// change during the life of the process, and a crash-time write that stops the other threads,
// walks every thread's stack, lists the loaded images and writes the report in one pass over an
// open descriptor, without locks and without allocation.
//
// File: "zvcrash", the version byte 1, then one zvcrash.CrashReport message (zvcrash.proto).
#pragma once

#include <csignal>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crashreporter/async_file.h"
#include "crashreporter/image_list.h"
#include "crashreporter/thread_state.h"
#include "platform/kernel/thread_state.h"

inline constexpr uint64_t ZVCRASH_REPORT_LIMIT = 1024 * 1024;
inline constexpr uint32_t ZVCRASH_MAX_FRAMES = 512;

// A NUL-terminated copy and its length without the NUL.
struct zvcrash_log_string {
    size_t len;
    char* data;
};

struct zvcrash_log_writer_t {
    uint32_t symbolication_strategy;
    struct {
        bool user_requested;
        uint8_t uuid[16];
    } report_info;
    struct {
        zvcrash_log_string version;
        zvcrash_log_string build;
    } system_info;
    struct {
        zvcrash_log_string model;
        uint64_t cpu_type;
        uint64_t cpu_subtype;
        uint32_t processor_count;
        uint32_t logical_processor_count;
    } machine_info;
    struct {
        zvcrash_log_string app_identifier;
        zvcrash_log_string app_version;
        zvcrash_log_string app_marketing_version;
    } application_info;
    struct {
        zvcrash_log_string process_name;
        uint32_t process_id;
        zvcrash_log_string process_path;
        uint64_t start_time;
        zvcrash_log_string parent_process_name;
        uint32_t parent_process_id;
        bool native;
    } process_info;
    struct {
        bool has_exception;
        char* name;
        char* reason;
        uint64_t* callstack;
        size_t callstack_count;
    } uncaught_exception;
    struct {
        size_t len;
        uint8_t* data;
    } custom_data;
};

struct zvcrash_log_bsd_signal_info {
    int32_t signo;
    int32_t code;
    uint64_t address;
};

struct zvcrash_log_mach_signal_info {
    int32_t type;
    const uint64_t* code;
    uint32_t code_count;
};

struct zvcrash_log_signal_info {
    const zvcrash_log_bsd_signal_info* bsd_info;
    const zvcrash_log_mach_signal_info* mach_info;  // null when there is no Mach exception
};

// The task's threads, listed and stopped for one write. Pre-allocate it: it is too large for a
// signal stack.
struct zvcrash_async_thread_list {
    int count;
    bool stopped;
    kernel::thread_t threads[kernel::kMaxThreads];
};

// Lists and stops every thread but the caller (waiting at most `timeout_ms` for each to park).
// Async-signal-safe.
void zvcrash_async_thread_list_suspend(zvcrash_async_thread_list* list, int timeout_ms);
void zvcrash_async_thread_list_resume(zvcrash_async_thread_list* list);

// Normal context.
zvcrash_error_t zvcrash_log_writer_init(zvcrash_log_writer_t* writer, const std::string& app_identifier,
                                        const std::string& app_version, const std::string* app_marketing_version,
                                        uint32_t symbolication_strategy, bool user_requested);
void zvcrash_log_writer_set_exception(zvcrash_log_writer_t* writer, const std::string& name, const std::string* reason,
                                      const std::vector<uint64_t>* return_addresses);
void zvcrash_log_writer_set_custom_data(zvcrash_log_writer_t* writer, const std::vector<uint8_t>* data);
zvcrash_error_t zvcrash_log_writer_close(zvcrash_log_writer_t* writer);
void zvcrash_log_writer_free(zvcrash_log_writer_t* writer);

// The crash-time entry point. `current_state` is the calling thread's registers (the calling
// thread is left out when null). `threads` is a list the caller already stopped and will resume
// itself, or null to have the write stop and resume the threads around it. The report never
// outgrows the file's byte limit: the fixed sections, the signal and (when they fit) the exception
// and custom data come first in the budget; whole threads and images are written while they fit.
zvcrash_error_t zvcrash_log_writer_write(zvcrash_log_writer_t* writer, kernel::thread_t crashed_thread,
                                         zvcrash_async_image_list* image_list, zvcrash_async_file_t* file,
                                         const zvcrash_log_signal_info* signal_info,
                                         const zvcrash_async_thread_state* current_state,
                                         zvcrash_async_thread_list* threads);

// Signal and code names in the host's numbering; null when the table has none (the report then
// holds "#" and the number). Async-signal-safe.
const char* zvcrash_async_signal_signame(int signo);
const char* zvcrash_async_signal_sigcode(int signo, int code);
// The faulting address of a signal; 0 for one that a process sent, whose si_addr is the sender.
uint64_t zvcrash_async_signal_address(const siginfo_t* info);
