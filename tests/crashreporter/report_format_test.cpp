// The field numbers and enumeration values that the crash-time writer encodes by hand, generated
// from the schema, checked against protoc-c's own reading of the same schema.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "crashreporter/report_format.h"
#include "crashreporter/zvcrash.pb-c.h"

namespace {

namespace R = zvcrash::fields::CrashReport;

struct Field {
    const ProtobufCMessageDescriptor* message;
    const char* name;
    uint32_t number;
};

TEST(ReportFormat, GeneratedFieldNumbersMatchTheCompiledSchema) {
    const std::vector<Field> fields = {
        {&zvcrash__crash_report__descriptor, "system_info", R::system_info},
        {&zvcrash__crash_report__descriptor, "application_info", R::application_info},
        {&zvcrash__crash_report__descriptor, "threads", R::threads},
        {&zvcrash__crash_report__descriptor, "binary_images", R::binary_images},
        {&zvcrash__crash_report__descriptor, "exception", R::exception},
        {&zvcrash__crash_report__descriptor, "signal", R::signal},
        {&zvcrash__crash_report__descriptor, "process_info", R::process_info},
        {&zvcrash__crash_report__descriptor, "machine_info", R::machine_info},
        {&zvcrash__crash_report__descriptor, "report_info", R::report_info},
        {&zvcrash__crash_report__descriptor, "custom_data", R::custom_data},
        {&zvcrash__crash_report__processor__descriptor, "encoding", R::Processor::encoding},
        {&zvcrash__crash_report__processor__descriptor, "type", R::Processor::type},
        {&zvcrash__crash_report__processor__descriptor, "subtype", R::Processor::subtype},
        {&zvcrash__crash_report__system_info__descriptor, "operating_system", R::SystemInfo::operating_system},
        {&zvcrash__crash_report__system_info__descriptor, "os_version", R::SystemInfo::os_version},
        {&zvcrash__crash_report__system_info__descriptor, "architecture", R::SystemInfo::architecture},
        {&zvcrash__crash_report__system_info__descriptor, "timestamp", R::SystemInfo::timestamp},
        {&zvcrash__crash_report__system_info__descriptor, "os_build", R::SystemInfo::os_build},
        {&zvcrash__crash_report__application_info__descriptor, "identifier", R::ApplicationInfo::identifier},
        {&zvcrash__crash_report__application_info__descriptor, "version", R::ApplicationInfo::version},
        {&zvcrash__crash_report__application_info__descriptor, "marketing_version",
         R::ApplicationInfo::marketing_version},
        {&zvcrash__crash_report__process_info__descriptor, "process_name", R::ProcessInfo::process_name},
        {&zvcrash__crash_report__process_info__descriptor, "process_id", R::ProcessInfo::process_id},
        {&zvcrash__crash_report__process_info__descriptor, "process_path", R::ProcessInfo::process_path},
        {&zvcrash__crash_report__process_info__descriptor, "parent_process_name", R::ProcessInfo::parent_process_name},
        {&zvcrash__crash_report__process_info__descriptor, "parent_process_id", R::ProcessInfo::parent_process_id},
        {&zvcrash__crash_report__process_info__descriptor, "native", R::ProcessInfo::native},
        {&zvcrash__crash_report__process_info__descriptor, "start_time", R::ProcessInfo::start_time},
        {&zvcrash__crash_report__machine_info__descriptor, "model", R::MachineInfo::model},
        {&zvcrash__crash_report__machine_info__descriptor, "processor", R::MachineInfo::processor},
        {&zvcrash__crash_report__machine_info__descriptor, "processor_count", R::MachineInfo::processor_count},
        {&zvcrash__crash_report__machine_info__descriptor, "logical_processor_count",
         R::MachineInfo::logical_processor_count},
        {&zvcrash__crash_report__symbol__descriptor, "name", R::Symbol::name},
        {&zvcrash__crash_report__symbol__descriptor, "start_address", R::Symbol::start_address},
        {&zvcrash__crash_report__symbol__descriptor, "end_address", R::Symbol::end_address},
        {&zvcrash__crash_report__thread__descriptor, "thread_number", R::Thread::thread_number},
        {&zvcrash__crash_report__thread__descriptor, "frames", R::Thread::frames},
        {&zvcrash__crash_report__thread__descriptor, "crashed", R::Thread::crashed},
        {&zvcrash__crash_report__thread__descriptor, "registers", R::Thread::registers},
        {&zvcrash__crash_report__thread__stack_frame__descriptor, "pc", R::Thread::StackFrame::pc},
        {&zvcrash__crash_report__thread__stack_frame__descriptor, "symbol", R::Thread::StackFrame::symbol},
        {&zvcrash__crash_report__thread__register_value__descriptor, "name", R::Thread::RegisterValue::name},
        {&zvcrash__crash_report__thread__register_value__descriptor, "value", R::Thread::RegisterValue::value},
        {&zvcrash__crash_report__binary_image__descriptor, "base_address", R::BinaryImage::base_address},
        {&zvcrash__crash_report__binary_image__descriptor, "size", R::BinaryImage::size},
        {&zvcrash__crash_report__binary_image__descriptor, "name", R::BinaryImage::name},
        {&zvcrash__crash_report__binary_image__descriptor, "uuid", R::BinaryImage::uuid},
        {&zvcrash__crash_report__binary_image__descriptor, "code_type", R::BinaryImage::code_type},
        {&zvcrash__crash_report__exception__descriptor, "name", R::Exception::name},
        {&zvcrash__crash_report__exception__descriptor, "reason", R::Exception::reason},
        {&zvcrash__crash_report__exception__descriptor, "frames", R::Exception::frames},
        {&zvcrash__crash_report__signal__descriptor, "name", R::Signal::name},
        {&zvcrash__crash_report__signal__descriptor, "code", R::Signal::code},
        {&zvcrash__crash_report__signal__descriptor, "address", R::Signal::address},
        {&zvcrash__crash_report__signal__descriptor, "mach_exception", R::Signal::mach_exception},
        {&zvcrash__crash_report__signal__mach_exception__descriptor, "type", R::Signal::MachException::type},
        {&zvcrash__crash_report__signal__mach_exception__descriptor, "codes", R::Signal::MachException::codes},
        {&zvcrash__crash_report__report_info__descriptor, "user_requested", R::ReportInfo::user_requested},
        {&zvcrash__crash_report__report_info__descriptor, "uuid", R::ReportInfo::uuid},
    };
    std::map<const ProtobufCMessageDescriptor*, unsigned> perMessage;
    for (const auto& f : fields) {
        SCOPED_TRACE(std::string(f.message->name) + "." + f.name);
        const ProtobufCFieldDescriptor* d = protobuf_c_message_descriptor_get_field_by_name(f.message, f.name);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->id, f.number);
        ++perMessage[f.message];
    }
    // Every field of every message the writer touches is named: none is written by a bare number.
    for (const auto& [message, count] : perMessage) EXPECT_EQ(message->n_fields, count) << message->name;
}

TEST(ReportFormat, GeneratedEnumerationValuesMatchTheCompiledSchema) {
    struct Value {
        const ProtobufCEnumDescriptor* enumeration;
        const char* name;
        uint32_t value;
    };
    const std::vector<Value> values = {
        {&zvcrash__crash_report__system_info__operating_system__descriptor, "IPHONE_OS",
         R::SystemInfo::OperatingSystem::IPHONE_OS},
        {&zvcrash__architecture__descriptor, "ARCHITECTURE_UNKNOWN",
         zvcrash::fields::Architecture::ARCHITECTURE_UNKNOWN},
        {&zvcrash__architecture__descriptor, "PPC64", zvcrash::fields::Architecture::PPC64},
        {&zvcrash__crash_report__processor__type_encoding__descriptor, "TYPE_ENCODING_MACH",
         R::Processor::TypeEncoding::TYPE_ENCODING_MACH},
    };
    for (const auto& v : values) {
        SCOPED_TRACE(v.name);
        const ProtobufCEnumValue* d = protobuf_c_enum_descriptor_get_value_by_name(v.enumeration, v.name);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(static_cast<uint32_t>(d->value), v.value);
    }
}

}  // namespace
