// The answer a send gives the one who started it.
#pragma once

#include <functional>
#include <string>

// How a send goes, told to the one who started it while the notifications tell everyone else:
// progress any number of times, then one end: sent (into the conversation the service names,
// "" when it names none), kept in the queue for later (by the user's choice, or because the service
// could not take it now), or failed (not sent now; Send may be tried again, and a copy the queue
// keeps goes with it, not beside it). Always on the main queue.
struct HXSendAnswer {
    enum class Kind { Progress, Sent, Kept, Failed };
    Kind kind = Kind::Progress;
    std::string conversationID;
    bool isEnd() const { return kind != Kind::Progress; }
};
using HXSendCompletion = std::function<void(const HXSendAnswer&)>;
