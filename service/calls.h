// Placing calls: a callback through the service, a direct call through an access number the
// service reserves, or the phone's own dialer, as the account's callback choice says; the
// choosers around that choice; and the direct-call reply. State of the call in progress lives
// here and belongs to the main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "service/call_choice.h"
#include "service/proto/hxcpb.h"
#include "service/request_machinery.h"

class HXApplicationWebClient;

// A number reduced to the characters "1234567890+" (what the service's protobuf requests carry).
std::string HXKeepDialable(std::string_view number);

// The callback choice the screens take (HXCallChoiceRole) is the calls' own.
class HXCalls final : public HXCallChoiceRole, public std::enable_shared_from_this<HXCalls> {
public:
    explicit HXCalls(std::weak_ptr<HXApplicationWebClient> app) : app_(std::move(app)) {}

    // The call operations of the application (made on first use, kept by its web client).
    static std::shared_ptr<HXCalls> of(const std::shared_ptr<HXApplicationWebClient>& app);

    void placeCallTo(const std::string& number);
    void startDirectCall();
    void startiPhoneCallWithWarning(bool warn);
    void determineThisPhoneIDWithTag(int tag);
    // The callback-phone chooser's title (the callers add one action per call method).
    std::string forwardingNumberControllerTitle() const override;
    bool isNewForwardingPhoneID(int64_t phoneID) override;
    bool canChangeCallback() const override;
    bool canPlaceCalls() const override;
    bool callRequestInFlight() const override;
    // The "DIRECT_CALL" reply; false when the router's common tail must not run.
    bool directCallReply(const HXRoutedReply& reply);
    // The direct call's request ended without a reply (no network, a cut connection): no call
    // is starting any more, and the call key hears so.
    void directCallFailed();

    const std::optional<std::string>& pendingCallNumber() const { return pendingCallNumber_; }
    // The application's flags (HXApplicationWebClient::callPlaced, callHandOver).
    bool callPlaced() const;
    bool callHandOver() const;
    // The direct-call pending flag is the application's (the token flow replays it).
    bool directCallPending() const;
    void setDirectCallPending(bool v);
    // On the return to the foreground.
    void clearCallFlags();

    // A dialled number as the service takes it: digits and "+" only, in international form
    // ("+" kept; 11 digits starting with "1" and a leading "011" become "+" and the rest;
    // anything else is taken as a national number of the service's country, "+1").
    static std::string reducedNumber(std::string_view number);
    // Begins with "+" but not "+1", or with "011" but not "011 1".
    static bool isInternational(std::string_view number);
    // The access number of a reservation reply; none when the reply does not parse or lacks it.
    static std::optional<std::string> accessNumberFromReply(std::string_view bytes);

private:
    void placeCallback(const std::string& target);
    void presentCallbackChooser(const std::string& number);
    std::shared_ptr<HXApplicationWebClient> app() const { return app_.lock(); }

    std::weak_ptr<HXApplicationWebClient> app_;
    void setCallFlags(bool placed, bool handOver);

    std::optional<std::string> pendingCallNumber_;
};
