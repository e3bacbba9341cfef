// Forwarding of the application's reported exceptions. The Info key
// "RurIdurevApplicationForwarderEnabled" = NO turns it off; this platform has nothing to swap in,
// so registering only says which way the key points.
#pragma once

class ZIVOApplicationForwarder {
public:
    ZIVOApplicationForwarder() = delete;
    static void registerForwarding();
};
