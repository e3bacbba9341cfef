#include "crashreporter/crash_report.h"

#include <cstring>

#include "crashreporter/host_info.h"
#include "crashreporter/report_format.h"
#include "crashreporter/zvcrash.pb-c.h"
#include "platform/foundation/byte_reader.h"
#include "platform/foundation/strings.h"
#include "platform/kernel/mach.h"

namespace {

using foundation::Error;
using ReportMessage = Zvcrash__CrashReport;

Error invalid(const std::string& text) {
    Error error;
    zvcrash_populate_error(&error, ZVCrashReporterErrorCrashReportInvalid, text);
    return error;
}

// Frees the unpacked message however the decode ends.
struct Unpacked {
    ReportMessage* message = nullptr;
    ~Unpacked() {
        if (message) zvcrash__crash_report__free_unpacked(message, nullptr);
    }
};

// The report's text fields come from a file that a dying process or a damaged disk may have left
// with any bytes, and all of them end up in the JSON of the crash log. Optional text that is not
// well-formed UTF-8 reads as absent, as any text made from such bytes would. Required text keeps
// its place with each malformed byte read as U+FFFD: the report still becomes a crash log that
// can be sent, and the rest of the text stays readable.
std::optional<std::string> optString(const char* s) {
    if (!s) return std::nullopt;
    return foundation::stringFromUtf8(std::string_view(s));
}

std::string text(const char* s) {
    const std::string_view bytes(s);
    if (foundation::isValidUtf8(bytes)) return std::string(bytes);
    return foundation::utf8Repaired(bytes);
}

// An enumeration field as the integer the decoder stored. A stored file may hold any varint there
// (the decoder keeps it), and reading a value outside the enumeration through the enumeration's
// own type is undefined, so the field's bytes are read as the integer they are.
template <typename Enum>
int32_t storedInteger(const Enum& field) {
    static_assert(sizeof(Enum) == sizeof(int32_t), "the decoder stores enumerations as int");
    int32_t value = 0;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

// The stored value when the enumeration names it (first to last), else `unknown`.
uint32_t known(int32_t value, int32_t first, int32_t last, uint32_t unknown) {
    return value >= first && value <= last ? static_cast<uint32_t>(value) : unknown;
}

std::shared_ptr<const ZVCrashReportProcessorInfo> processorOf(const Zvcrash__CrashReport__Processor* p) {
    auto info = std::make_shared<ZVCrashReportProcessorInfo>();
    info->typeEncoding = p->has_encoding ? known(storedInteger(p->encoding),
                                                 ZVCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_UNKNOWN,
                                                 ZVCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH,
                                                 ZVCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_UNKNOWN)
                                         : 0;
    info->type = p->type;
    info->subtype = p->subtype;
    return info;
}

foundation::Result<ZVCrashReportStackFrameInfo> stackFrame(const Zvcrash__CrashReport__Thread__StackFrame* frame,
                                                           bool maskPointerAuthentication) {
    if (!frame) return invalid("Crash report is missing stack frame information");
    ZVCrashReportStackFrameInfo info;
    info.instructionPointer = maskPointerAuthentication ? (frame->pc & 0xFFFFFFFFFULL) : frame->pc;
    if (frame->symbol) {
        if (!frame->symbol->name) return invalid("Crash report is missing symbol information");
        auto symbol = std::make_shared<ZVCrashReportSymbolInfo>();
        symbol->symbolName = text(frame->symbol->name);
        symbol->startAddress = frame->symbol->start_address;
        symbol->endAddress = frame->symbol->has_end_address ? frame->symbol->end_address : 0;
        info.symbolInfo = symbol;
    }
    return info;
}

std::string hex(const uint8_t* bytes, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0xF]);
    }
    return text;
}

}  // namespace

foundation::Result<std::shared_ptr<const ZVCrashReport>> ZVCrashReport::initWithData(const std::vector<uint8_t>& data) {
    return initWithData(data.data(), data.size());
}

foundation::Result<std::shared_ptr<const ZVCrashReport>> ZVCrashReport::initWithData(const uint8_t* data,
                                                                                     size_t length) {
    if (!data || length < ZVCRASH_REPORT_HEADER_LENGTH + 1) return invalid("Could not decode truncated crash log");
    foundation::ByteReader reader(std::span<const uint8_t>(data, length));
    if (!reader.expect(std::string_view(ZVCRASH_REPORT_MAGIC, ZVCRASH_REPORT_MAGIC_LENGTH), "magic"))
        return invalid("Could not decode invalid crash log header");
    const uint8_t version = reader.u8("version");
    if (version != ZVCRASH_REPORT_VERSION)
        return invalid("Could not decode unsupported crash report version: " + std::to_string(version));
    const auto body = reader.bytes(reader.remaining(), "report");
    Unpacked unpacked;
    unpacked.message = zvcrash__crash_report__unpack(nullptr, body.size(), body.data());
    if (!unpacked.message) return invalid("An unknown error occured decoding the crash report");
    const ReportMessage* m = unpacked.message;

    auto report = std::shared_ptr<ZVCrashReport>(new ZVCrashReport());

    if (m->report_info && m->report_info->has_uuid) {
        if (m->report_info->uuid.len != 16) return invalid("Report UUID value is not a standard 16 bytes");
        report->uuid_ = std::vector<uint8_t>(m->report_info->uuid.data, m->report_info->uuid.data + 16);
    }

    std::shared_ptr<const ZVCrashReportProcessorInfo> machineProcessor;
    if (m->machine_info) {
        auto machine = std::make_shared<ZVCrashReportMachineInfo>();
        machine->modelName = optString(m->machine_info->model);
        if (m->machine_info->processor) {
            machine->processorInfo = processorOf(m->machine_info->processor);
        } else {
            return invalid("Crash report is missing processor info section");
        }
        machine->processorCount = m->machine_info->processor_count;
        machine->logicalProcessorCount = m->machine_info->logical_processor_count;
        machineProcessor = machine->processorInfo;
        report->machineInfo_ = machine;
    }

    if (!m->system_info) return invalid("Crash report is missing System Information section");
    if (!m->system_info->os_version) return invalid("Crash report is missing System Information OS version field");
    {
        auto& s = report->systemInfo_;
        s.operatingSystem = m->system_info->has_operating_system
                                ? known(storedInteger(m->system_info->operating_system),
                                        ZVCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__MAC_OS_X,
                                        ZVCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__APPLE_TVOS,
                                        ZVCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN)
                                : 0;
        s.operatingSystemVersion = text(m->system_info->os_version);
        s.operatingSystemBuild = optString(m->system_info->os_build);
        s.architecture =
            known(storedInteger(m->system_info->architecture), ZVCRASH__ARCHITECTURE__X86_32,
                  ZVCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN, ZVCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN);
        if (m->system_info->timestamp != 0)
            s.timestamp = foundation::Date{static_cast<double>(m->system_info->timestamp)};
        if (machineProcessor) {
            s.processorInfo = machineProcessor;
        } else {
            // By the report's architecture enumeration: X86_32, X86_64, ARMV6, PPC, PPC64, ARMV7.
            using namespace kernel;
            static const int32_t kTable[6][2] = {{CPU_TYPE_X86, CPU_SUBTYPE_X86_ALL},
                                                 {CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_ALL},
                                                 {CPU_TYPE_ARM, CPU_SUBTYPE_ARM_V6},
                                                 {CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_ALL},
                                                 {CPU_TYPE_POWERPC64, CPU_SUBTYPE_POWERPC_ALL},
                                                 {CPU_TYPE_ARM, CPU_SUBTYPE_ARM_V7}};
            if (s.architecture > 5) return invalid("Crash report has an unknown architecture");
            auto synth = std::make_shared<ZVCrashReportProcessorInfo>();
            synth->typeEncoding = 1;
            synth->type = kTable[s.architecture][0];
            synth->subtype = kTable[s.architecture][1];
            s.processorInfo = synth;
        }
    }

    if (!m->application_info) return invalid("Crash report is missing Application Information section");
    if (!m->application_info->identifier)
        return invalid("Crash report is missing Application Information app identifier field");
    if (!m->application_info->version)
        return invalid("Crash report is missing Application Information app version field");
    report->applicationInfo_.applicationIdentifier = text(m->application_info->identifier);
    report->applicationInfo_.applicationVersion = text(m->application_info->version);
    report->applicationInfo_.applicationMarketingVersion = optString(m->application_info->marketing_version);

    if (m->process_info) {
        auto p = std::make_shared<ZVCrashReportProcessInfo>();
        p->processName = optString(m->process_info->process_name);
        p->processID = m->process_info->process_id;
        p->processPath = optString(m->process_info->process_path);
        if (m->process_info->has_start_time)
            p->processStartTime = foundation::Date{static_cast<double>(m->process_info->start_time)};
        p->parentProcessName = optString(m->process_info->parent_process_name);
        p->parentProcessID = m->process_info->parent_process_id;
        p->native = m->process_info->native;
        report->processInfo_ = p;
    }

    if (!m->signal) return invalid("Crash report is missing Signal Information section");
    if (!m->signal->name) return invalid("Crash report is missing signal name field");
    if (!m->signal->code) return invalid("Crash report is missing signal code field");
    report->signalInfo_ = {text(m->signal->name), text(m->signal->code), m->signal->address};

    if (m->signal->mach_exception) {
        const auto* mach = m->signal->mach_exception;
        if (mach->n_codes >= 256) return invalid("Crash report includes too many Mach Exception codes");
        auto info = std::make_shared<ZVCrashReportMachExceptionInfo>();
        info->type = mach->type;
        info->codes.assign(mach->codes, mach->codes + mach->n_codes);
        report->machExceptionInfo_ = info;
    }

    // Pointer-authentication bits sit above bit 35 of arm64e code addresses.
    const bool maskPointers = machineProcessor &&
                              machineProcessor->type == static_cast<uint64_t>(kernel::CPU_TYPE_ARM64) &&
                              machineProcessor->subtype == static_cast<uint64_t>(kernel::CPU_SUBTYPE_ARM64E);

    if (m->n_threads == 0) return invalid("Crash report is missing thread state information");
    for (size_t i = 0; i < m->n_threads; ++i) {
        const auto* t = m->threads[i];
        ZVCrashReportThreadInfo thread;
        thread.threadNumber = t->thread_number;
        thread.crashed = t->crashed;
        for (size_t k = 0; k < t->n_frames; ++k) {
            auto frame = stackFrame(t->frames[k], maskPointers);
            if (!frame) return frame.error();
            thread.stackFrames.push_back(std::move(frame.value()));
        }
        for (size_t k = 0; k < t->n_registers; ++k) {
            if (!t->registers[k]->name) {
                Error error;
                zvcrash_populate_error(&error, ZVCrashReporterErrorCrashReportInvalid,
                                       "Missing register name in register value");
                return error;
            }
            thread.registers.push_back({text(t->registers[k]->name), t->registers[k]->value});
        }
        report->threads_.push_back(std::move(thread));
    }

    if (m->n_binary_images == 0) return invalid("Crash report is missing binary image information");
    for (size_t i = 0; i < m->n_binary_images; ++i) {
        const auto* b = m->binary_images[i];
        if (!b->name) {
            Error error;
            zvcrash_populate_error(&error, ZVCrashReporterErrorCrashReportInvalid,
                                   "Missing image name in image record");
            return error;
        }
        ZVCrashReportBinaryImageInfo image;
        image.imageBaseAddress = b->base_address;
        image.imageSize = b->size;
        image.imageName = text(b->name);
        if (b->has_uuid && b->uuid.len > 0) {
            image.hasImageUUID = true;
            image.imageUUID = hex(b->uuid.data, b->uuid.len);
        }
        if (b->code_type) image.codeType = processorOf(b->code_type);
        report->images_.push_back(std::move(image));
    }

    if (m->exception) {
        if (!m->exception->name) return invalid("Crash report is missing exception name field");
        if (!m->exception->reason) return invalid("Crash report is missing exception reason field");
        auto e = std::make_shared<ZVCrashReportExceptionInfo>();
        e->exceptionName = text(m->exception->name);
        e->exceptionReason = text(m->exception->reason);
        if (m->exception->n_frames > 0) {
            std::vector<ZVCrashReportStackFrameInfo> frames;
            for (size_t k = 0; k < m->exception->n_frames; ++k) {
                auto frame = stackFrame(m->exception->frames[k], maskPointers);
                if (!frame) return frame.error();
                frames.push_back(std::move(frame.value()));
            }
            e->stackFrames = std::move(frames);
        }
        report->exceptionInfo_ = e;
    }

    if (m->has_custom_data) {
        report->customData_ = std::vector<uint8_t>(m->custom_data.data, m->custom_data.data + m->custom_data.len);
    }
    return std::shared_ptr<const ZVCrashReport>(report);
}

const ZVCrashReportBinaryImageInfo* ZVCrashReport::imageForAddress(uint64_t address) const {
    for (const auto& image : images_) {
        if (address >= image.imageBaseAddress && address - image.imageBaseAddress < image.imageSize) return &image;
    }
    return nullptr;
}
