#include "emulator/account_json.h"

#include "platform/foundation/base64.h"

namespace emulator {

// Fields missing from a document keep their defaults, so a state written before a field existed
// still reads.
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Attachment, id, mimeType)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Message, id, startTimeMs, text, fromNumber, type, durationSeconds,
                                                attachments)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Thread, id, read, spam, archived, blocked, numbers, contactName, items)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Phone, name, e164, forwarding, verified)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(VoipDevice, name, sipDeviceId, clientType, forwarding)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Settings, doNotDisturb, useDidAsCallerId, directConnect,
                                                voicemailTranscription, inCallCommands, globalSpamFiltering,
                                                emailVoicemails, emailSMS, emailMissedCalls, greetings, activeGreeting,
                                                currencyCode, creditUnits, creditNanos)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Callback, target, callbackNumber)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Reservation, source, target)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(SentMessage, randomId, text, conversationId, targets, imageType,
                                                attachmentBytes, threadId, messageId, timestamp)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(AddedContact, name, number, type)

// Media are bytes of any kind: kept as base64.
void to_json(nlohmann::json& j, const Media& m) {
    j = {{"mimeType", m.mimeType},
         {"bytes", foundation::base64Encode(std::string_view(m.bytes))},
         {"width", m.width},
         {"height", m.height},
         {"thumbnail", foundation::base64Encode(std::string_view(m.thumbnail))}};
    if (!m.preview.empty()) j["preview"] = foundation::base64Encode(std::string_view(m.preview));
}
void from_json(const nlohmann::json& j, Media& m) {
    m.mimeType = j.value("mimeType", std::string());
    auto bytes = foundation::base64Decode(j.value("bytes", std::string()));
    if (!bytes) throw nlohmann::json::other_error::create(501, "a media item's bytes are not base64", &j);
    m.bytes.assign(bytes->begin(), bytes->end());
    auto preview = foundation::base64Decode(j.value("preview", std::string()));
    if (!preview) throw nlohmann::json::other_error::create(501, "a media item's preview is not base64", &j);
    m.preview.assign(preview->begin(), preview->end());
    m.width = j.value("width", 0);
    m.height = j.value("height", 0);
    auto thumbnail = foundation::base64Decode(j.value("thumbnail", std::string()));
    if (!thumbnail) throw nlohmann::json::other_error::create(501, "a media item's thumbnail is not base64", &j);
    m.thumbnail.assign(thumbnail->begin(), thumbnail->end());
}

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(Account, username, serviceNumber, phones, voipDevices, threads,
                                                settings, media, accessNumber, sessionCookie, consentPending, callbacks,
                                                reservations, sent, addedContacts, nextItemNumber)

nlohmann::json accountToJSON(const Account& account) { return account; }

Account accountFromJSON(const nlohmann::json& document) { return document.get<Account>(); }

}  // namespace emulator
