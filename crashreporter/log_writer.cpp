#include "crashreporter/log_writer.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/random.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "crashreporter/frame_cursor.h"
#include "crashreporter/host_info.h"
#include "crashreporter/report_format.h"
#include "crashreporter/symbol_lookup.h"
#include "platform/kernel/sysctl.h"

// --- Names -------------------------------------------------------------------------------------

namespace {

struct SignalName {
    int signo;
    const char* name;
};

// First match wins, so SIGABRT is named before its alias SIGIOT.
const SignalName kSignalNames[] = {
    {SIGHUP, "SIGHUP"},       {SIGINT, "SIGINT"},   {SIGQUIT, "SIGQUIT"},   {SIGILL, "SIGILL"},   {SIGTRAP, "SIGTRAP"},
    {SIGABRT, "SIGABRT"},     {SIGIOT, "SIGIOT"},   {SIGFPE, "SIGFPE"},     {SIGKILL, "SIGKILL"}, {SIGBUS, "SIGBUS"},
    {SIGSEGV, "SIGSEGV"},     {SIGSYS, "SIGSYS"},   {SIGPIPE, "SIGPIPE"},   {SIGALRM, "SIGALRM"}, {SIGTERM, "SIGTERM"},
    {SIGURG, "SIGURG"},       {SIGSTOP, "SIGSTOP"}, {SIGTSTP, "SIGTSTP"},   {SIGCONT, "SIGCONT"}, {SIGCHLD, "SIGCHLD"},
    {SIGTTIN, "SIGTTIN"},     {SIGTTOU, "SIGTTOU"}, {SIGIO, "SIGIO"},       {SIGXCPU, "SIGXCPU"}, {SIGXFSZ, "SIGXFSZ"},
    {SIGVTALRM, "SIGVTALRM"}, {SIGPROF, "SIGPROF"}, {SIGWINCH, "SIGWINCH"}, {SIGUSR1, "SIGUSR1"}, {SIGUSR2, "SIGUSR2"},
};

struct CodeName {
    int signo;
    int code;
    const char* name;
};

const CodeName kCodeNames[] = {
    // Code 0 of the fault signals has a name; SIGABRT's and SIGTRAP's code 0 stay "#0".
    {SIGILL, 0, "ILL_NOOP"},
    {SIGFPE, 0, "FPE_NOOP"},
    {SIGSEGV, 0, "SEGV_NOOP"},
    {SIGBUS, 0, "BUS_NOOP"},
    {SIGILL, ILL_ILLOPC, "ILL_ILLOPC"},
    {SIGILL, ILL_ILLTRP, "ILL_ILLTRP"},
    {SIGILL, ILL_PRVOPC, "ILL_PRVOPC"},
    {SIGILL, ILL_ILLOPN, "ILL_ILLOPN"},
    {SIGILL, ILL_ILLADR, "ILL_ILLADR"},
    {SIGILL, ILL_PRVREG, "ILL_PRVREG"},
    {SIGILL, ILL_COPROC, "ILL_COPROC"},
    {SIGILL, ILL_BADSTK, "ILL_BADSTK"},
    {SIGFPE, FPE_FLTDIV, "FPE_FLTDIV"},
    {SIGFPE, FPE_FLTOVF, "FPE_FLTOVF"},
    {SIGFPE, FPE_FLTUND, "FPE_FLTUND"},
    {SIGFPE, FPE_FLTRES, "FPE_FLTRES"},
    {SIGFPE, FPE_FLTINV, "FPE_FLTINV"},
    {SIGFPE, FPE_FLTSUB, "FPE_FLTSUB"},
    {SIGFPE, FPE_INTDIV, "FPE_INTDIV"},
    {SIGFPE, FPE_INTOVF, "FPE_INTOVF"},
    {SIGSEGV, SEGV_MAPERR, "SEGV_MAPERR"},
    {SIGSEGV, SEGV_ACCERR, "SEGV_ACCERR"},
    {SIGBUS, BUS_ADRALN, "BUS_ADRALN"},
    {SIGBUS, BUS_ADRERR, "BUS_ADRERR"},
    {SIGBUS, BUS_OBJERR, "BUS_OBJERR"},
    {SIGTRAP, TRAP_BRKPT, "TRAP_BRKPT"},
    {SIGTRAP, TRAP_TRACE, "TRAP_TRACE"},
};

}  // namespace

const char* zvcrash_async_signal_signame(int signo) {
    for (const auto& entry : kSignalNames)
        if (entry.signo == signo) return entry.name;
    return nullptr;
}

uint64_t zvcrash_async_signal_address(const siginfo_t* info) {
    if (!info) return 0;
    // A signal sent by a process (kill, tgkill, sigqueue: abort() raises SIGABRT so) carries the
    // sender's pid and uid where a fault carries its address.
    switch (info->si_code) {
        case SI_USER:
        case SI_TKILL:
        case SI_QUEUE:
            return 0;
        default:
            return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(info->si_addr));
    }
}

const char* zvcrash_async_signal_sigcode(int signo, int code) {
    for (const auto& entry : kCodeNames)
        if (entry.signo == signo && entry.code == code) return entry.name;
    return nullptr;
}

// --- Threads -----------------------------------------------------------------------------------

void zvcrash_async_thread_list_suspend(zvcrash_async_thread_list* list, int timeout_ms) {
    int count = kernel::task_threads(list->threads, kernel::kMaxThreads);
    list->count = count < 0 ? 0 : count;
    kernel::threads_stop(list->threads, list->count, timeout_ms);
    list->stopped = true;
}

void zvcrash_async_thread_list_resume(zvcrash_async_thread_list* list) {
    if (!list->stopped) return;
    kernel::threads_resume_all();
    list->stopped = false;
}

// --- Preparation (normal context) --------------------------------------------------------------

namespace {

void setString(zvcrash_log_string* out, const std::string& value) {
    std::free(out->data);
    out->data = ::strdup(value.c_str());
    out->len = out->data ? value.size() : 0;
}

void freeString(zvcrash_log_string* s) {
    std::free(s->data);
    s->data = nullptr;
    s->len = 0;
}

std::string sysctlString(const char* name) {
    char* value = zvcrash_sysctlbyname_string(name);
    if (!value) return {};
    std::string result = value;
    std::free(value);
    return result;
}

// "major.minor" and ".patch" when the patch is 1 or more, from the kernel release.
std::string osVersion() {
    std::string release = sysctlString("kern.osrelease");
    long parts[3] = {0, 0, 0};
    const char* p = release.c_str();
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (*p != '.') break;
            ++p;
        }
        if (*p < '0' || *p > '9') break;
        long v = 0;
        while (*p >= '0' && *p <= '9') v = v * 10 + (*p++ - '0');
        parts[i] = v;
    }
    std::string text = std::to_string(parts[0]) + "." + std::to_string(parts[1]);
    if (parts[2] >= 1) text += "." + std::to_string(parts[2]);
    return text;
}

}  // namespace

zvcrash_error_t zvcrash_log_writer_init(zvcrash_log_writer_t* writer, const std::string& app_identifier,
                                        const std::string& app_version, const std::string* app_marketing_version,
                                        uint32_t symbolication_strategy, bool user_requested) {
    std::memset(writer, 0, sizeof *writer);
    writer->symbolication_strategy = symbolication_strategy;
    writer->report_info.user_requested = user_requested;
    if (::getrandom(writer->report_info.uuid, 16, 0) != 16) {
        for (auto& b : writer->report_info.uuid) b = static_cast<uint8_t>(std::rand());
    }
    writer->report_info.uuid[6] = static_cast<uint8_t>((writer->report_info.uuid[6] & 0x0F) | 0x40);
    writer->report_info.uuid[8] = static_cast<uint8_t>((writer->report_info.uuid[8] & 0x3F) | 0x80);
    setString(&writer->application_info.app_identifier, app_identifier);
    setString(&writer->application_info.app_version, app_version);
    if (app_marketing_version) setString(&writer->application_info.app_marketing_version, *app_marketing_version);

    auto process = ZVCrashProcessInfo::currentProcessInfo();
    if (!process) return ZVCRASH_EINVAL;
    writer->process_info.process_id = static_cast<uint32_t>(process->processID());
    if (process->processName()) setString(&writer->process_info.process_name, *process->processName());
    writer->process_info.start_time = static_cast<uint64_t>(process->startTime().tv_sec);
    const std::string path = kernel::executable_path();
    if (!path.empty()) setString(&writer->process_info.process_path, path);
    writer->process_info.parent_process_id = static_cast<uint32_t>(process->parentProcessID());
    if (auto parent = ZVCrashProcessInfo::initWithProcessID(process->parentProcessID());
        parent && parent->processName()) {
        setString(&writer->process_info.parent_process_name, *parent->processName());
    }

    const std::string model = sysctlString("hw.machine");
    if (!model.empty()) setString(&writer->machine_info.model, model);
    int32_t value = 0;
    if (zvcrash_sysctlbyname_int32("hw.cputype", &value))
        writer->machine_info.cpu_type = static_cast<uint64_t>(static_cast<int64_t>(value));
    if (zvcrash_sysctlbyname_int32("hw.cpusubtype", &value))
        writer->machine_info.cpu_subtype = static_cast<uint64_t>(static_cast<int64_t>(value));
    if (zvcrash_sysctlbyname_int32("hw.physicalcpu_max", &value))
        writer->machine_info.processor_count = static_cast<uint32_t>(value);
    if (zvcrash_sysctlbyname_int32("hw.logicalcpu_max", &value))
        writer->machine_info.logical_processor_count = static_cast<uint32_t>(value);

    writer->process_info.native = true;
    if (zvcrash_sysctlbyname_int32("sysctl.proc_native", &value) && value == 0) writer->process_info.native = false;

    setString(&writer->system_info.build, sysctlString("kern.osversion"));
    setString(&writer->system_info.version, osVersion());
    return ZVCRASH_ESUCCESS;
}

void zvcrash_log_writer_set_exception(zvcrash_log_writer_t* writer, const std::string& name, const std::string* reason,
                                      const std::vector<uint64_t>* return_addresses) {
    auto& e = writer->uncaught_exception;
    e.name = ::strdup(name.c_str());
    e.reason = ::strdup(reason ? reason->c_str() : "");
    e.callstack = nullptr;
    e.callstack_count = 0;
    if (return_addresses && !return_addresses->empty()) {
        e.callstack = static_cast<uint64_t*>(std::malloc(sizeof(uint64_t) * return_addresses->size()));
        if (e.callstack) {
            std::memcpy(e.callstack, return_addresses->data(), sizeof(uint64_t) * return_addresses->size());
            e.callstack_count = return_addresses->size();
        }
    }
    e.has_exception = true;
}

void zvcrash_log_writer_set_custom_data(zvcrash_log_writer_t* writer, const std::vector<uint8_t>* data) {
    // Publish "no data" first, so that a crash in between never sees a freed buffer.
    uint8_t* old = writer->custom_data.data;
    writer->custom_data.len = 0;
    writer->custom_data.data = nullptr;
    std::free(old);
    if (!data || data->empty()) return;
    auto* copy = static_cast<uint8_t*>(std::malloc(data->size()));
    if (!copy) return;
    std::memcpy(copy, data->data(), data->size());
    writer->custom_data.data = copy;
    writer->custom_data.len = data->size();
}

zvcrash_error_t zvcrash_log_writer_close(zvcrash_log_writer_t*) { return ZVCRASH_ESUCCESS; }

void zvcrash_log_writer_free(zvcrash_log_writer_t* writer) {
    freeString(&writer->system_info.version);
    freeString(&writer->system_info.build);
    freeString(&writer->machine_info.model);
    freeString(&writer->application_info.app_identifier);
    freeString(&writer->application_info.app_version);
    freeString(&writer->application_info.app_marketing_version);
    freeString(&writer->process_info.process_name);
    freeString(&writer->process_info.process_path);
    freeString(&writer->process_info.parent_process_name);
    std::free(writer->uncaught_exception.name);
    std::free(writer->uncaught_exception.reason);
    std::free(writer->uncaught_exception.callstack);
    writer->uncaught_exception = {};
    std::free(writer->custom_data.data);
    writer->custom_data.data = nullptr;
    writer->custom_data.len = 0;
}

// --- Crash-time write --------------------------------------------------------------------------

namespace {

using File = zvcrash_async_file_t;
namespace Report = zvcrash::fields::CrashReport;

const char* str(const zvcrash_log_string& s) { return s.data ? s.data : ""; }

size_t packU32(File* f, uint32_t field, uint32_t v) { return zvcrash_writer_pack(f, field, ZVCRASH_FIELD_UINT32, &v); }
size_t packU64(File* f, uint32_t field, uint64_t v) { return zvcrash_writer_pack(f, field, ZVCRASH_FIELD_UINT64, &v); }
size_t packI64(File* f, uint32_t field, int64_t v) { return zvcrash_writer_pack(f, field, ZVCRASH_FIELD_INT64, &v); }
size_t packEnum(File* f, uint32_t field, uint32_t v) { return zvcrash_writer_pack(f, field, ZVCRASH_FIELD_ENUM, &v); }
size_t packBool(File* f, uint32_t field, bool v) {
    uint8_t b = v ? 1 : 0;
    return zvcrash_writer_pack(f, field, ZVCRASH_FIELD_BOOL, &b);
}
size_t packString(File* f, uint32_t field, const char* s) {
    return zvcrash_writer_pack(f, field, ZVCRASH_FIELD_STRING, s);
}
size_t packBytes(File* f, uint32_t field, const void* data, size_t len) {
    zvcrash_data_pair pair{len, data};
    return zvcrash_writer_pack(f, field, ZVCRASH_FIELD_BYTES, &pair);
}

// Writes one length-delimited sub-message: its size from a dry run, then tag, length and body.
template <typename Body>
size_t packMessage(File* f, uint32_t field, Body&& body) {
    const uint32_t length = static_cast<uint32_t>(body(nullptr));
    size_t n = zvcrash_writer_pack(f, field, ZVCRASH_FIELD_MESSAGE, &length);
    if (f) body(f);
    return n + length;
}

size_t writeProcessor(File* f, uint64_t type, uint64_t subtype) {
    size_t n = packEnum(f, Report::Processor::encoding, Report::Processor::TypeEncoding::TYPE_ENCODING_MACH);
    n += packU64(f, Report::Processor::type, type);
    n += packU64(f, Report::Processor::subtype, subtype);
    return n;
}

// One thread's content, gathered once so that the sizing pass and the writing pass agree.
struct ThreadCapture {
    kernel::thread_t thread;
    bool crashed;
    bool has_state;
    zvcrash_async_thread_state registers;  // the thread's own state (first frame)
    uint32_t frame_count;
    uint64_t frames[ZVCRASH_MAX_FRAMES];
};

void captureThread(ThreadCapture* capture, const zvcrash_async_thread_state* state, zvcrash_async_image_list* images) {
    capture->frame_count = 0;
    capture->has_state = state != nullptr;
    if (!state) return;
    zvcrash_async_thread_state_copy(&capture->registers, state);
    zvcrash_frame_cursor cursor;
    if (zvcrash_frame_cursor_init(&cursor, kernel::task_self(), state, images) != ZVCRASH_ESUCCESS) return;
    while (capture->frame_count < ZVCRASH_MAX_FRAMES) {
        if (zvcrash_frame_cursor_next(&cursor) != ZVCRASH_FRAME_ESUCCESS) break;
        uint64_t pc;
        if (zvcrash_frame_cursor_get_reg(&cursor, ZVCRASH_REG_IP, &pc) != ZVCRASH_FRAME_ESUCCESS) break;
        capture->frames[capture->frame_count++] = pc;
    }
    zvcrash_frame_cursor_free(&cursor);
}

// What a frame needs to carry a symbol: the strategy's sources, the images and the metadata cache
// of this report. A null symbolizer (or strategy 0) writes bare frames.
struct Symbolizer {
    uint32_t strategy;
    zvcrash_async_image_list* images;
    zvcrash_async_objc_cache* cache;
};

struct FoundSymbol {
    bool found;
    uint64_t start;
    char name[256];
};

void takeSymbol(uint64_t address, const char* name, void* context) {
    auto* out = static_cast<FoundSymbol*>(context);
    size_t n = 0;
    while (name && name[n] && n < sizeof out->name - 1) {
        out->name[n] = name[n];
        ++n;
    }
    out->name[n] = '\0';
    out->start = address;
    out->found = true;
}

// The symbol for pc through the symbol lookup, when the strategy asks for one and an image of the
// list holds pc. Runs once per pass: sizing and writing must agree, and the lookup is
// deterministic over memory that holds still while the other threads are suspended.
bool lookupSymbol(const Symbolizer* s, uint64_t pc, FoundSymbol* out) {
    out->found = false;
    if (!s || s->strategy == ZVCRASH_ASYNC_SYMBOL_STRATEGY_NONE || !s->images) return false;
    zvcrash_async_image_list_set_reading(s->images, true);
    zvcrash_async_image* image = zvcrash_async_image_list_image_containing_address(s->images, pc);
    if (image && image->format == ZVCRASH_IMAGE_FORMAT_MACHO)
        zvcrash_async_find_symbol(&image->macho, s->strategy, s->cache, pc, &takeSymbol, out);
    zvcrash_async_image_list_set_reading(s->images, false);
    return out->found;
}

size_t writeFrame(File* f, uint64_t pc, const Symbolizer* symbolizer) {
    size_t n = packU64(f, Report::Thread::StackFrame::pc, pc);
    FoundSymbol symbol;
    if (lookupSymbol(symbolizer, pc, &symbol)) {
        n += packMessage(f, Report::Thread::StackFrame::symbol, [&](File* g) {
            return packString(g, Report::Symbol::name, symbol.name) +
                   packU64(g, Report::Symbol::start_address, symbol.start);
        });
    }
    return n;
}

size_t writeThreadBody(File* f, const ThreadCapture* t, uint32_t number, const Symbolizer* symbolizer) {
    size_t n = packU32(f, Report::Thread::thread_number, number);
    n += packBool(f, Report::Thread::crashed, t->crashed);
    if (t->crashed && t->has_state && t->frame_count > 0) {
        const int count = zvcrash_async_thread_state_get_reg_count(&t->registers);
        for (int i = 0; i < count; ++i) {
            const char* name = zvcrash_async_thread_state_get_reg_name(&t->registers, i);
            const uint64_t value = zvcrash_async_thread_state_has_reg(&t->registers, i)
                                       ? zvcrash_async_thread_state_get_reg(&t->registers, i)
                                       : 0;
            n += packMessage(f, Report::Thread::registers, [&](File* g) {
                return packString(g, Report::Thread::RegisterValue::name, name) +
                       packU64(g, Report::Thread::RegisterValue::value, value);
            });
        }
    }
    for (uint32_t i = 0; i < t->frame_count; ++i) {
        const uint64_t pc = t->frames[i];
        n += packMessage(f, Report::Thread::frames, [&](File* g) { return writeFrame(g, pc, symbolizer); });
    }
    return n;
}

size_t writeImageBody(File* f, const zvcrash_async_image* image) {
    size_t n = packU64(f, Report::BinaryImage::size, image->text_size);
    n += packU64(f, Report::BinaryImage::base_address, image->header_addr);
    n += packString(f, Report::BinaryImage::name, image->name ? image->name : "");
    if (image->has_uuid) n += packBytes(f, Report::BinaryImage::uuid, image->uuid, 16);
    const uint64_t type = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(image->cpu_type)));
    const uint64_t subtype = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(image->cpu_subtype)));
    n += packMessage(f, Report::BinaryImage::code_type, [&](File* g) { return writeProcessor(g, type, subtype); });
    return n;
}

size_t writeSignalBody(File* f, const zvcrash_log_signal_info* info) {
    char nameBuffer[16], codeBuffer[16];
    const int signo = info->bsd_info ? info->bsd_info->signo : 0;
    const int code = info->bsd_info ? info->bsd_info->code : 0;
    const char* name = zvcrash_async_signal_signame(signo);
    if (!name) {
        zvcrash_async_format_hash_int(nameBuffer, sizeof nameBuffer, signo);
        name = nameBuffer;
    }
    const char* codeName = zvcrash_async_signal_sigcode(signo, code);
    if (!codeName) {
        zvcrash_async_format_hash_int(codeBuffer, sizeof codeBuffer, code);
        codeName = codeBuffer;
    }
    size_t n = packString(f, Report::Signal::name, name);
    n += packString(f, Report::Signal::code, codeName);
    n += packU64(f, Report::Signal::address, info->bsd_info ? info->bsd_info->address : 0);
    if (info->mach_info) {
        const zvcrash_log_mach_signal_info* mach = info->mach_info;
        n += packMessage(f, Report::Signal::mach_exception, [&](File* g) {
            size_t m = packU64(g, Report::Signal::MachException::type,
                               static_cast<uint64_t>(static_cast<int64_t>(mach->type)));
            for (uint32_t i = 0; i < mach->code_count; ++i)
                m += packU64(g, Report::Signal::MachException::codes, mach->code[i]);
            return m;
        });
    }
    return n;
}

size_t writeExceptionBody(File* f, const zvcrash_log_writer_t* w, const Symbolizer* symbolizer) {
    const auto& e = w->uncaught_exception;
    size_t n = packString(f, Report::Exception::name, e.name ? e.name : "");
    n += packString(f, Report::Exception::reason, e.reason ? e.reason : "");
    const size_t count = e.callstack_count < ZVCRASH_MAX_FRAMES ? e.callstack_count : ZVCRASH_MAX_FRAMES;
    for (size_t i = 0; i < count; ++i) {
        const uint64_t pc = e.callstack[i];
        n += packMessage(f, Report::Exception::frames, [&](File* g) { return writeFrame(g, pc, symbolizer); });
    }
    return n;
}

int64_t currentTime() {
    time_t now = 0;
    if (::time(&now) == static_cast<time_t>(-1)) return 0;
    return static_cast<int64_t>(now);
}

// What one report's section writers read: the writer's recorded facts, the moment of the report
// (read once, so the sizing pass and the writing pass agree) and the symbolizer for frames.
struct ReportSource {
    const zvcrash_log_writer_t* writer;
    int64_t timestamp;
    const zvcrash_log_signal_info* signal_info;
    const Symbolizer* symbolizer;
};

// Each section's writer is called twice: with a null file to size it, then to write it.
size_t writeReportInfo(File* f, const ReportSource& r) {
    return packBool(f, Report::ReportInfo::user_requested, r.writer->report_info.user_requested) +
           packBytes(f, Report::ReportInfo::uuid, r.writer->report_info.uuid, 16);
}

size_t writeSystemInfo(File* f, const ReportSource& r) {
    using namespace Report::SystemInfo;
    size_t n = packEnum(f, operating_system, OperatingSystem::IPHONE_OS);
    n += packString(f, os_version, str(r.writer->system_info.version));
    n += packString(f, os_build, str(r.writer->system_info.build));
    // The processor is in machine_info and in each image's code type.
    n += packEnum(f, architecture, zvcrash::fields::Architecture::ARCHITECTURE_UNKNOWN);
    n += packI64(f, timestamp, r.timestamp);
    return n;
}

size_t writeMachineInfo(File* f, const ReportSource& r) {
    using namespace Report::MachineInfo;
    const auto& m = r.writer->machine_info;
    size_t n = 0;
    if (m.model.data) n += packString(f, model, m.model.data);
    n += packMessage(f, processor, [&](File* g) { return writeProcessor(g, m.cpu_type, m.cpu_subtype); });
    n += packU32(f, processor_count, m.processor_count);
    n += packU32(f, logical_processor_count, m.logical_processor_count);
    return n;
}

size_t writeApplicationInfo(File* f, const ReportSource& r) {
    using namespace Report::ApplicationInfo;
    const auto& a = r.writer->application_info;
    return packString(f, identifier, str(a.app_identifier)) + packString(f, version, str(a.app_version)) +
           packString(f, marketing_version, str(a.app_marketing_version));
}

size_t writeProcessInfo(File* f, const ReportSource& r) {
    using namespace Report::ProcessInfo;
    const auto& p = r.writer->process_info;
    size_t n = packString(f, process_name, str(p.process_name));
    n += packU32(f, process_id, p.process_id);
    n += packString(f, process_path, str(p.process_path));
    n += packString(f, parent_process_name, str(p.parent_process_name));
    n += packU32(f, parent_process_id, p.parent_process_id);
    n += packBool(f, native, p.native);
    n += packU64(f, start_time, p.start_time);
    return n;
}

size_t writeSignal(File* f, const ReportSource& r) { return writeSignalBody(f, r.signal_info); }
size_t writeException(File* f, const ReportSource& r) { return writeExceptionBody(f, r.writer, r.symbolizer); }

using SectionWriter = size_t (*)(File*, const ReportSource&);

size_t packSection(File* f, uint32_t field, SectionWriter write, const ReportSource& r) {
    return packMessage(f, field, [&](File* g) { return write(g, r); });
}

// The sections every report has, in the order they are written; the signal closes the report.
struct Section {
    uint32_t field;
    SectionWriter write;
};
constexpr Section kLeadingSections[] = {
    {Report::report_info, writeReportInfo},   {Report::system_info, writeSystemInfo},
    {Report::machine_info, writeMachineInfo}, {Report::application_info, writeApplicationInfo},
    {Report::process_info, writeProcessInfo},
};

// The file's room: what must always be there is counted first, then what is kept room for, then
// threads and images as long as they fit. A limit of 0 means no limit.
struct Budget {
    uint64_t limit;
    uint64_t used;
    bool take(uint64_t size) {
        if (limit != 0 && used + size > limit) return false;
        used += size;
        return true;
    }
};

void writeThreads(File* file, Budget* budget, const ReportSource& r, kernel::thread_t crashed_thread,
                  zvcrash_async_image_list* image_list, const zvcrash_async_thread_state* current_state,
                  const zvcrash_async_thread_list* threads) {
    const kernel::thread_t self = kernel::thread_self();
    ThreadCapture capture;
    uint32_t number = 0;
    for (int i = 0; i < threads->count; ++i) {
        const kernel::thread_t thread = threads->threads[i];
        zvcrash_async_thread_state state;
        const zvcrash_async_thread_state* statePtr = nullptr;
        if (thread == self) {
            if (!current_state) continue;
            statePtr = current_state;
        } else if (zvcrash_async_thread_state_mach_thread_init(&state, thread) == ZVCRASH_ESUCCESS) {
            statePtr = &state;
        }
        capture.thread = thread;
        capture.crashed = thread == crashed_thread;
        captureThread(&capture, statePtr, image_list);
        const uint32_t n = number;
        auto body = [&](File* f) { return writeThreadBody(f, &capture, n, r.symbolizer); };
        if (!budget->take(packMessage(nullptr, Report::threads, body))) continue;
        packMessage(file, Report::threads, body);
        ++number;
    }
}

void writeImages(File* file, Budget* budget, zvcrash_async_image_list* image_list) {
    if (!image_list) return;
    zvcrash_async_image_list_set_reading(image_list, true);
    for (zvcrash_async_image* image = zvcrash_async_image_list_next(image_list, nullptr); image;
         image = zvcrash_async_image_list_next(image_list, image)) {
        auto body = [&](File* f) { return writeImageBody(f, image); };
        if (!budget->take(packMessage(nullptr, Report::binary_images, body))) continue;
        packMessage(file, Report::binary_images, body);
    }
    zvcrash_async_image_list_set_reading(image_list, false);
}

}  // namespace

zvcrash_error_t zvcrash_log_writer_write(zvcrash_log_writer_t* writer, kernel::thread_t crashed_thread,
                                         zvcrash_async_image_list* image_list, zvcrash_async_file_t* file,
                                         const zvcrash_log_signal_info* signal_info,
                                         const zvcrash_async_thread_state* current_state,
                                         zvcrash_async_thread_list* threads) {
    static zvcrash_async_thread_list sOwnList;  // used only when the caller brings none
    const bool ownList = threads == nullptr;
    if (ownList) {
        threads = &sOwnList;
        zvcrash_async_thread_list_suspend(threads, 250);
    }
    // The metadata cache lives for this report only: prepared before the threads are walked.
    zvcrash_async_objc_cache objcCache;
    zvcrash_async_objc_cache_init(&objcCache);
    const Symbolizer symbolizer{writer->symbolication_strategy, image_list, &objcCache};
    const ReportSource source{writer, currentTime(), signal_info, &symbolizer};

    Budget budget{file->limit_bytes, file->total_bytes + 8};
    for (const Section& s : kLeadingSections) budget.used += packSection(nullptr, s.field, s.write, source);
    budget.used += packSection(nullptr, Report::signal, writeSignal, source);
    const bool withException = writer->uncaught_exception.has_exception &&
                               budget.take(packSection(nullptr, Report::exception, writeException, source));
    const bool withCustom =
        writer->custom_data.data && writer->custom_data.len > 0 &&
        budget.take(packBytes(nullptr, Report::custom_data, writer->custom_data.data, writer->custom_data.len));

    zvcrash_async_file_write(file, ZVCRASH_REPORT_MAGIC, ZVCRASH_REPORT_MAGIC_LENGTH);
    const uint8_t version = ZVCRASH_REPORT_VERSION;
    zvcrash_async_file_write(file, &version, 1);
    for (const Section& s : kLeadingSections) packSection(file, s.field, s.write, source);
    writeThreads(file, &budget, source, crashed_thread, image_list, current_state, threads);
    writeImages(file, &budget, image_list);
    if (withException) packSection(file, Report::exception, writeException, source);
    packSection(file, Report::signal, writeSignal, source);
    if (withCustom) packBytes(file, Report::custom_data, writer->custom_data.data, writer->custom_data.len);

    zvcrash_async_objc_cache_free(&objcCache);
    if (ownList) zvcrash_async_thread_list_resume(threads);
    return ZVCRASH_ESUCCESS;
}
