// The rule-file reader over arbitrary bytes: reading the header and any record, and formatting
// and validating numbers with what was read, stay within the buffer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "model/phone_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    foundation::Data bytes(data, data + size);
    HXCPhoneFormat formatter(bytes, "us");
    static const char* const numbers[] = {"5551234567",
                                          "+15551234567",
                                          "011 44 20 7946 0958",
                                          "+44 20 7946 0958",
                                          "+33 1 23 45 67 89",
                                          "1",
                                          "+",
                                          "+999",
                                          "0",
                                          "00 49 30 123456"};
    for (const char* n : numbers) {
        (void)formatter.format(n);
        (void)formatter.isPhoneNumberValid(n);
    }
    // Every calling code the header names, read and described.
    for (int code = 1; code < 1000; ++code) {
        if (auto info = formatter.callingCodeInfo(std::to_string(code))) (void)info->description();
    }
    return 0;
}
