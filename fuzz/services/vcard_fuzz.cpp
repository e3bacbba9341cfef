// The vCard reader over arbitrary bytes: an error or cards, never a crash; and what it reads,
// once written and read back, is stable in both versions.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/services/contacts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    auto cards = services::readVCards(text);
    if (!cards.ok()) return 0;
    for (int version : {3, 4}) {
        auto once = services::readVCards(services::writeVCards(*cards, version));
        if (!once.ok() || once->size() != cards->size()) std::abort();
        auto twice = services::readVCards(services::writeVCards(*once, version));
        if (!twice.ok() || *twice != *once) std::abort();
    }
    return 0;
}
