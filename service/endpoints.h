// Where the service is: the origins of its host roles.
#pragma once

#include <string>

// The origins ("scheme://host[:port]") of the service's host roles. Configuration, so tests and
// the local run can point every role at the emulator.
struct HXEndpoints {
    std::string service = "https://voice.hx.example";
    std::string signIn = "https://accounts.hx.example";
    std::string api = "https://clients.hx.example";
    std::string protobufApi = "https://pb.hx.example";
    std::string webClient = "https://web.hx.example";
    std::string contacts = "https://contacts.hx.example";
    // The domain suffix of the OAuth web client's identifier.
    std::string clientIdDomain = ".apps.hxusercontent.example";

    // Every role served by one origin (the emulator answers for all of them).
    static HXEndpoints allAt(const std::string& origin) {
        HXEndpoints e;
        e.service = e.signIn = e.api = e.protobufApi = e.webClient = e.contacts = origin;
        return e;
    }
    std::string servicePageBase() const { return service + "/voice/"; }
    std::string mediaBase() const { return webClient + "/a/"; }
};
