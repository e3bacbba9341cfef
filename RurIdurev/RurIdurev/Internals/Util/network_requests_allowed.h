// The SDK-wide "network requests allowed" switch, persisted under "NetworkRequestsAllowed"
// (absent means allowed). Readers on the channel queue get it from an atomic, without any lock,
// so that a sender holding its own lock never has to wait for the facade's.
#pragma once

class ZIVONetworkRequestsAllowed {
public:
    ZIVONetworkRequestsAllowed() = delete;

    // Loaded from the preference store on first read, then kept in step by set().
    static bool isAllowed();
    // Stores the value and makes it visible to every reader at once.
    static void set(bool allowed);
    // Forgets the loaded value (the next read goes to the store again).
    static void reset();
};

inline constexpr const char* kZIVONetworkRequestsAllowedKey = "NetworkRequestsAllowed";
