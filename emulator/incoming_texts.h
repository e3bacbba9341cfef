// Texts that arrive for an account while a client runs: the service's side of a new message, from
// the number of a thread the account has or from a number it has never met. The local run has them
// come now and then (hx_emulator --texts-every) and on demand through the route below.
#pragma once

#include <cstdint>
#include <string>

#include "emulator/emulator.h"

namespace emulator {

// What arrived: its thread, its sender and its text.
struct DeliveredText {
    std::string threadId;
    std::string fromNumber;
    std::string text;
};

// The route a client asks for a text with: POST "/emulator/deliver-text" (from the number of a
// thread), "/emulator/deliver-text?from=new" (from a new number). Answered with the
// DeliveredText as JSON {"threadId":..., "fromNumber":..., "text":...}.
inline constexpr const char* kDeliverTextPath = "/emulator/deliver-text";

// A text arrives in the account: from the number of its newest text thread with one number (not
// spam, archived or blocked) or, with fromNewNumber (or when it has no such thread), from a number
// none of its threads holds, in a thread of its own. The thread becomes unread; the text is dated
// nowMs, or a second after the account's newest item when that is later.
DeliveredText deliverText(Account& account, bool fromNewNumber, int64_t nowMs);

}  // namespace emulator
