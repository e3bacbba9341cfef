#include "emulator/service_routes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "emulator/incoming_texts.h"
#include "emulator/media_pictures.h"
#include "platform/clock/clock.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "service/proto/hxcpb.h"

namespace emulator {

namespace {

using nlohmann::json;

constexpr std::string_view kApi = "/voice/v1/voiceclient/";

std::string percentDecode(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> formItems(const std::string& body) { return queryItems("?" + body); }

std::string queryValue(const std::string& target, const std::string& name) {
    for (const auto& [k, v] : queryItems(target))
        if (k == name) return v;
    return {};
}

ServiceReply jsonReply(const json& body, int status = 200) {
    ServiceReply r;
    r.status = status;
    r.body = body.dump();
    return r;
}

ServiceReply errorReply(int code, const std::string& message, const std::string& status) {
    return jsonReply({{"error", {{"code", code}, {"message", message}, {"status", status}}}}, code);
}

ServiceReply textReply(int status, std::string body, std::string type = "text/html; charset=utf-8") {
    ServiceReply r;
    r.status = status;
    r.contentType = std::move(type);
    r.body = std::move(body);
    return r;
}

ServiceReply protobufReply(const google::protobuf::MessageLite& message) {
    ServiceReply r;
    r.contentType = "application/x-protobuf";
    r.body = hxcpb::serialize(message).value_or("");
    return r;
}

std::string hostOrigin(const RecordedRequest& request) {
    return "http://" + request.header("Host").value_or("127.0.0.1");
}

// The value of the named cookie the request carries (the first, if several).
std::optional<std::string> cookieValue(const RecordedRequest& request, const std::string& cookieName) {
    auto cookies = request.header("Cookie");
    if (!cookies) return std::nullopt;
    size_t at = 0;
    while (at < cookies->size()) {
        size_t end = cookies->find(';', at);
        if (end == std::string::npos) end = cookies->size();
        std::string pair = cookies->substr(at, end - at);
        while (!pair.empty() && pair.front() == ' ') pair.erase(pair.begin());
        if (foundation::hasPrefix(pair, cookieName + "=")) return pair.substr(cookieName.size() + 1);
        at = end + 1;
    }
    return std::nullopt;
}

// The request carries the session cookie of the account it is answered for.
bool hasSession(Emulator& emulator, const RecordedRequest& request, const std::string& cookieName) {
    if (!emulator.signedIn()) return false;
    return cookieValue(request, cookieName) == emulator.sessionValue();
}

ServiceReply signInRedirect(const RecordedRequest& request) {
    ServiceReply r = textReply(302, "<html><body>Moved</body></html>");
    r.headers.emplace_back("Location", hostOrigin(request) + "/accounts/AccountLogin?continue=" + request.path);
    return r;
}

std::optional<std::string> bearerToken(const RecordedRequest& request) {
    auto auth = request.header("Authorization");
    if (!auth || auth->compare(0, 7, "Bearer ") != 0) return std::nullopt;
    return auth->substr(7);
}

// ---- threads as the JSON API lists them

// The sizes of the picture an attachment shows (a picture's, a video's preview's) as the service
// scales it; none for one that shows no picture.
std::optional<json> sizeVariants(const std::map<std::string, Media>& media, const std::string& id) {
    auto it = media.find(id);
    auto shown = it == media.end() ? std::nullopt : shownPictureSize(it->second);
    if (!shown) return std::nullopt;
    json variants = json::array();
    for (const auto& [spec, side] : {std::pair{"s128", 128}, std::pair{"s512", kThumbnailSide}}) {
        const PictureSize size = fittedPictureSize(*shown, side);
        variants.push_back({{"sizeSpec", spec}, {"width", size.width}, {"height", size.height}});
    }
    return variants;
}

// A group's texts travel as multimedia messages that name their sender.
json itemJson(const Message& m, bool group, const std::map<std::string, Media>& media) {
    json item = {{"id", m.id}, {"type", m.type}, {"startTime", std::to_string(m.startTimeMs)}};
    const bool audio = m.type == "voicemail" || m.type == "recording";
    if (audio) {
        json words = json::array();
        size_t at = 0;
        while (at < m.text.size()) {
            size_t end = m.text.find(' ', at);
            if (end == std::string::npos) end = m.text.size();
            if (end > at) words.push_back({{"word", m.text.substr(at, end - at)}});
            at = end + 1;
        }
        if (!words.empty()) item["transcript"] = {{"wordTokens", words}};
        item["duration"] = std::to_string(m.durationSeconds);
        if (m.type == "recording") {
            // The service files a recorded call as an inbound call carrying its recording.
            item["type"] = "inbound";
            item["attachment"] = json::array({{{"callRecording", {{"attachmentId", m.attachments.at(0).id}}}}});
        }
    } else if (m.type == "smsIn" || m.type == "smsOut") {
        if (m.attachments.empty() && !group) {
            item["messageText"] = m.text;
        } else {
            json attachments = json::array();
            for (const auto& a : m.attachments) {
                json attachment = {{"id", a.id}, {"mimeType", a.mimeType}};
                if (auto variants = sizeVariants(media, a.id)) attachment["imageMetaData"] = std::move(*variants);
                attachments.push_back(std::move(attachment));
            }
            item["mmsMessage"] = {{"text", m.text}, {"attachment", attachments}};
            if (!m.fromNumber.empty()) item["mmsMessage"]["senderPhoneNumber"] = m.fromNumber;
        }
    } else {
        item["duration"] = std::to_string(m.durationSeconds);
    }
    return item;
}

// A thread with its newest `limit` items older than `beforeMs` (0: no bound), newest first.
json threadJson(const Thread& t, const std::map<std::string, Media>& media, size_t limit, int64_t beforeMs = 0) {
    json items = json::array();
    size_t listed = 0;
    bool more = false;
    int64_t oldest = 0;
    for (auto it = t.items.rbegin(); it != t.items.rend(); ++it) {
        if (beforeMs > 0 && it->startTimeMs >= beforeMs) continue;
        if (listed == limit) {
            more = true;
            break;
        }
        items.push_back(itemJson(*it, t.numbers.size() > 1, media));
        oldest = it->startTimeMs;
        ++listed;
    }
    json contacts = json::array();
    // The service names a party it knows no name for by its number.
    for (const auto& n : t.numbers)
        contacts.push_back(
            {{"phoneNumber", n}, {"name", t.contactName.empty() ? n : t.contactName}, {"blocked", t.blocked}});
    json views = json::array();
    if (t.spam) views.push_back("allSpamThreads");
    if (t.archived) views.push_back("allArchivedThreads");
    views.push_back(t.isText() ? "textThreads" : (t.isVoicemail() ? "voicemailAndRecordingThreads" : "callThreads"));
    json thread = {{"id", t.id}, {"read", t.read}, {"item", items}, {"contact", contacts}, {"view", views}};
    if (t.numbers.size() > 1) thread["headingContactsPhoneNumberKey"] = t.numbers;
    if (more) thread["paginationToken"] = std::to_string(oldest);
    return thread;
}

// The list codes of "api2thread/list": 1 unread, 2 SMS, 3 history, 4 voicemail, 5 spam, 6 archive.
bool inList(const Thread& t, int code) {
    switch (code) {
        case 1:
            return !t.read && !t.spam && !t.archived;
        case 2:
            return t.isText() && !t.spam && !t.archived;
        case 3:
            return !t.isText() && !t.spam && !t.archived;
        case 4:
            return t.isVoicemail() && !t.spam && !t.archived;
        case 5:
            return t.spam;
        case 6:
            return t.archived && !t.spam;
        default:
            return false;
    }
}

// One page of threads, newest first. The page token is an upper bound in milliseconds whose
// whole second is included; "response" > "conversation" lists the page's ids while older
// threads follow, and is left out on the last page, whose "response" is an empty object.
json listPage(std::vector<const Thread*> threads, const std::map<std::string, Media>& media, size_t pageSize,
              size_t itemsPerThread) {
    std::sort(threads.begin(), threads.end(),
              [](const Thread* a, const Thread* b) { return a->lastTimeMs() > b->lastTimeMs(); });
    json out = {{"thread", json::array()}};
    json ids = json::array();
    for (size_t i = 0; i < threads.size() && i < pageSize; ++i) {
        out["thread"].push_back(threadJson(*threads[i], media, itemsPerThread));
        ids.push_back({{"id", threads[i]->id}});
    }
    if (threads.size() > pageSize)
        out["response"] = {{"conversation", ids}};
    else
        out["response"] = json::object();
    return out;
}

int64_t tokenValue(const json& v) {
    if (v.is_string()) {
        try {
            return std::stoll(v.get<std::string>());
        } catch (...) {
            return -1;
        }
    }
    if (v.is_number_integer()) return v.get<int64_t>();
    return 0;
}

size_t sizeArg(const json& body, size_t index, size_t fallback, size_t limit) {
    if (!body.is_array() || body.size() <= index || !body[index].is_number_integer()) return fallback;
    auto v = body[index].get<int64_t>();
    return v <= 0 ? fallback : std::min<size_t>(static_cast<size_t>(v), limit);
}

// ---- account settings

json accountJson(const Account& a) {
    json linked = json::array();
    for (const auto& p : a.phones)
        linked.push_back({{"name", p.name},
                          {"phoneNumber", {{"e164", p.e164}}},
                          {"forwardingModalities", {{"calls", p.forwarding}}},
                          {"verificationState", {{"currentlyVerified", p.verified}}}});
    json voip = json::array();
    for (const auto& d : a.voipDevices)
        voip.push_back({{"name", d.name},
                        {"sipDeviceId", d.sipDeviceId},
                        {"clientType", d.clientType},
                        {"forwardingModalities", {{"calls", d.forwarding}}}});
    const Settings& s = a.settings;
    json greetings = json::array();
    for (const auto& [id, name] : s.greetings) {
        json g = {{"greetingId", id}};
        if (name.empty())
            g["predefinedName"] = "systemStandard";
        else
            g["customName"] = name;
        greetings.push_back(g);
    }
    json account = {
        {"primaryDid", a.serviceNumber},
        {"communication",
         {{"doNotDisturb", {{"enabled", s.doNotDisturb}}},
          {"useDidAsCallerId", s.useDidAsCallerId},
          {"callScreening", s.directConnect ? "none" : "basic"},
          {"transcription", {{"enableForVoicemail", s.voicemailTranscription}}},
          {"enableInCallCommands", s.inCallCommands},
          {"enableGlobalSpamFiltering", s.globalSpamFiltering},
          {"emailForwardingModalities",
           {{"voicemails", s.emailVoicemails}, {"sms", s.emailSMS}, {"missedCalls", s.emailMissedCalls}}},
          {"voicemailGreeting", {{"item", greetings}, {"active", {{"defaultId", s.activeGreeting}}}}}}},
        {"billing",
         {{"credit",
           {{"currencyCode", s.currencyCode}, {"units", std::to_string(s.creditUnits)}, {"nanos", s.creditNanos}}}}},
        {"phones", {{"linkedPhone", linked}, {"linkedVoipDevice", voip}}}};
    return {{"account", account}};
}

const json* at(const json& j, std::initializer_list<size_t> path) {
    const json* cur = &j;
    for (size_t i : path) {
        if (!cur->is_array() || cur->size() <= i) return nullptr;
        cur = &(*cur)[i];
    }
    return cur;
}

// Applies an "account/update" body [value, mask, null, 1]: the mask marks with true the places
// of the value that change. False when the body is not one the service understands.
bool applyUpdate(Account& a, const json& body) {
    if (!body.is_array() || body.size() < 2 || !body[0].is_array() || !body[1].is_array()) return false;
    const json& value = body[0];
    const json& mask = body[1];
    auto marked = [&](std::initializer_list<size_t> path) {
        const json* m = at(mask, path);
        return m && m->is_boolean() && m->get<bool>();
    };
    auto boolAt = [&](std::initializer_list<size_t> path, bool& field) {
        if (!marked(path)) return true;
        const json* v = at(value, path);
        if (!v || !v->is_boolean()) return false;
        field = v->get<bool>();
        return true;
    };
    Settings& s = a.settings;
    bool ok = boolAt({3, 0}, s.globalSpamFiltering) && boolAt({3, 1, 0}, s.doNotDisturb) &&
              boolAt({3, 2, 0}, s.voicemailTranscription) && boolAt({3, 5}, s.inCallCommands) &&
              boolAt({3, 7, 0}, s.emailSMS) && boolAt({3, 7, 1}, s.emailMissedCalls) &&
              boolAt({3, 7, 2}, s.emailVoicemails) && boolAt({3, 14}, s.useDidAsCallerId);
    if (!ok) return false;
    if (marked({3, 8})) {
        const json* v = at(value, {3, 8});
        if (!v || !v->is_number_integer() || (v->get<int>() != 1 && v->get<int>() != 2)) return false;
        s.directConnect = v->get<int>() == 1;
    }
    if (marked({3, 10, 1, 0})) {
        const json* v = at(value, {3, 10, 1, 0});
        if (!v || !v->is_string()) return false;
        std::string id = v->get<std::string>();
        if (std::none_of(s.greetings.begin(), s.greetings.end(), [&](const auto& g) { return g.first == id; }))
            return false;
        s.activeGreeting = id;
    }
    // Forwarding to a linked phone ([null,null,P], P[1][0] = E) or a VoIP client (P[4][0] = E).
    if (const json* phone = at(value, {2, 1, 0})) {
        const json* number = at(*phone, {0, 1});
        const json* status = at(*phone, {4, 0});
        if (!number || !number->is_string() || !status || !status->is_boolean()) return false;
        auto it = std::find_if(a.phones.begin(), a.phones.end(),
                               [&](const Phone& p) { return p.e164 == number->get<std::string>(); });
        if (it == a.phones.end()) return false;
        it->forwarding = status->get<bool>();
    }
    if (const json* device = at(value, {2, 4, 0})) {
        const json* id = at(*device, {0});
        const json* status = at(*device, {4, 0});
        if (!id || !id->is_string() || !status || !status->is_boolean()) return false;
        auto it = std::find_if(a.voipDevices.begin(), a.voipDevices.end(),
                               [&](const VoipDevice& d) { return d.sipDeviceId == id->get<std::string>(); });
        if (it == a.voipDevices.end()) return false;
        it->forwarding = status->get<bool>();
    }
    return true;
}

// ---- the JSON and protobuf APIs

// A dialable number: an optional "+" and 3 to 15 digits.
bool validNumber(const std::string& n) {
    std::string_view digits = n;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    return digits.size() >= 3 && digits.size() <= 15 &&
           std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

ServiceReply sendSMS(Emulator& emulator, const RecordedRequest& request) {
    auto message = hxcpb::parse<HXCPB_SendSMSRequest>(request.body);
    if (!message || !message->has_messagetext() || !message->has_randomid())
        return textReply(400, "INVALID_ARGUMENT", "text/plain");
    if (!message->has_conversationid() && message->targetnumber_size() == 0)
        return textReply(400, "INVALID_ARGUMENT: no recipient", "text/plain");
    for (const auto& n : message->targetnumber())
        if (!validNumber(n)) return jsonReply({{"error_code", "INVALID_NUMBER"}, {"number", n}}, 400);
    return emulator.withAccount([&](Account& a) -> ServiceReply {
        auto answer = [](const SentMessage& sent) {
            HXCPB_SendSMSResponse reply;
            reply.set_conversationid(sent.threadId);
            reply.set_messageid(sent.messageId);
            reply.set_timestamp(sent.timestamp);
            return protobufReply(reply);
        };
        // The random id names the message across attempts: a repeat is answered as the first was.
        for (const auto& earlier : a.sent)
            if (earlier.randomId == message->randomid()) return answer(earlier);
        Thread* thread = nullptr;
        if (message->has_conversationid()) {
            thread = a.thread(message->conversationid());
            if (!thread) return jsonReply({{"error_code", "THREAD_NOT_FOUND"}}, 404);
        } else {
            std::string id = "t.";
            for (int i = 0; i < message->targetnumber_size(); ++i) id += (i ? "," : "") + message->targetnumber(i);
            thread = a.thread(id);
            if (!thread) {
                Thread t;
                t.id = id;
                t.numbers.assign(message->targetnumber().begin(), message->targetnumber().end());
                a.threads.push_back(std::move(t));
                thread = &a.threads.back();
            }
        }
        SentMessage sent;
        sent.randomId = message->randomid();
        sent.text = message->messagetext();
        sent.conversationId = message->conversationid();
        sent.targets.assign(message->targetnumber().begin(), message->targetnumber().end());
        Message m;
        m.id = "s" + std::to_string(message->randomid());
        m.text = message->messagetext();
        m.type = "smsOut";
        // Dated by the service's clock (the process clock: a test's virtual one), after the thread's last.
        m.startTimeMs =
            std::max<int64_t>(thread->lastTimeMs() + 1000, static_cast<int64_t>(std::floor(clocks::wallNow() * 1000)));
        if (message->has_attachment()) {
            sent.imageType = message->attachment().imagetype();
            sent.attachmentBytes = message->attachment().data().size();
            Attachment p{"img" + m.id, message->attachment().imagetype() == 4 ? "image/gif" : "image/jpeg"};
            a.media[p.id] = {p.mimeType, message->attachment().data()};
            m.attachments.push_back(p);
        }
        sent.threadId = thread->id;
        sent.messageId = m.id;
        sent.timestamp = static_cast<uint32_t>(m.startTimeMs / 1000);
        thread->items.push_back(m);
        thread->read = true;
        a.sent.push_back(sent);
        return answer(sent);
    });
}

ServiceReply updateAttributes(Emulator& emulator, const json& body) {
    // [["ID",blocked,spam,read,[],archived],[mask...],1]: the mask's true places change.
    if (!body.is_array() || body.size() < 2 || !body[0].is_array() || body[0].empty() || !body[0][0].is_string() ||
        !body[1].is_array())
        return errorReply(400, "Request contains an invalid argument.", "INVALID_ARGUMENT");
    const json& value = body[0];
    const json& mask = body[1];
    std::string id = value[0].get<std::string>();
    auto marked = [&](size_t i) { return mask.size() > i && mask[i].is_boolean() && mask[i].get<bool>(); };
    auto flag = [&](size_t i) -> std::optional<bool> {
        if (!marked(i)) return std::nullopt;
        if (value.size() <= i || !value[i].is_boolean()) return std::nullopt;
        return value[i].get<bool>();
    };
    return emulator.withAccount([&](Account& a) -> ServiceReply {
        Thread* t = a.thread(id);
        if (!t) return errorReply(404, "Thread not found", "NOT_FOUND");
        json attributes = json::object();
        if (auto v = flag(1)) attributes["contactBlocked"] = t->blocked = *v;
        if (auto v = flag(2)) attributes["contactSpammer"] = t->spam = *v;
        if (auto v = flag(3)) attributes["read"] = t->read = *v;
        if (auto v = flag(5)) attributes["archived"] = t->archived = *v;
        if (attributes.empty()) return errorReply(400, "Request contains an invalid argument.", "INVALID_ARGUMENT");
        return jsonReply({{"attributes", attributes}});
    });
}

ServiceReply apiRoute(Emulator& emulator, const RecordedRequest& request, const std::string& endpoint) {
    auto token = bearerToken(request);
    const bool protobufBody = foundation::hasPrefix(endpoint, "api2thread/sendsms");
    if (!token || !emulator.isValidAccessToken(*token)) {
        if (protobufBody) return textReply(401, "Invalid Credentials", "text/plain");
        return errorReply(401, "Request had invalid authentication credentials.", "UNAUTHENTICATED");
    }
    if (protobufBody) return sendSMS(emulator, request);
    json body = json::parse(request.body, nullptr, false);
    auto invalid = [] { return errorReply(400, "Request contains an invalid argument.", "INVALID_ARGUMENT"); };
    if (endpoint == "account/get?alt=json")
        return emulator.withAccount([&](Account& a) { return jsonReply(accountJson(a)); });
    if (foundation::hasPrefix(endpoint, "account/update?alt=json")) {
        return emulator.withAccount([&](Account& a) {
            // A refused change leaves the account as it was.
            Account before = a;
            if (!applyUpdate(a, body)) {
                a = std::move(before);
                return errorReply(400, "Request contains an invalid argument.", "INVALID_ARGUMENT");
            }
            return jsonReply(accountJson(a));
        });
    }
    if (foundation::hasPrefix(endpoint, "threadinginfo/get")) {
        return emulator.withAccount([&](Account& a) {
            int unreadText = 0, unreadVoicemail = 0;
            for (const auto& t : a.threads) {
                // An archived thread stays in its kind's view (threadJson lists it there), so its
                // unread count counts it too; spam is a view of its own.
                if (t.read || t.spam) continue;
                if (t.isText()) ++unreadText;
                if (t.isVoicemail()) ++unreadVoicemail;
            }
            return jsonReply(
                {{"info",
                  {{"viewInfo",
                    {{{"view", "textThreads"}, {"unreadThreadCount", unreadText}},
                     {{"view", "voicemailAndRecordingThreads"}, {"unreadThreadCount", unreadVoicemail}}}}}}});
        });
    }
    if (foundation::hasPrefix(endpoint, "api2thread/list")) {
        // [code, threads, items per thread, page token, null, [null,true,true]]
        if (!body.is_array() || body.empty() || !body[0].is_number_integer()) return invalid();
        int code = body[0].get<int>();
        if (code < 1 || code > 6) return invalid();
        size_t pageSize = sizeArg(body, 1, 20, 1000);
        size_t items = sizeArg(body, 2, 15, 100);
        int64_t bound = body.size() > 3 ? tokenValue(body[3]) : 0;
        if (bound < 0) return invalid();
        return emulator.withAccount([&](Account& a) {
            std::vector<const Thread*> listed;
            for (const auto& t : a.threads)
                if (inList(t, code) && (bound == 0 || t.lastTimeMs() / 1000 <= bound / 1000)) listed.push_back(&t);
            return jsonReply(listPage(std::move(listed), a.media, pageSize, items));
        });
    }
    if (foundation::hasPrefix(endpoint, "api2thread/search")) {
        // ["text", 200, null, null, null, [null,true,true]]
        if (!body.is_array() || body.empty() || !body[0].is_string()) return invalid();
        std::string wanted = foundation::asciiLowercase(body[0].get<std::string>());
        size_t limit = sizeArg(body, 1, 200, 200);
        return emulator.withAccount([&](Account& a) {
            std::vector<const Thread*> found;
            for (const auto& t : a.threads) {
                bool hit =
                    wanted.empty() || foundation::asciiLowercase(t.contactName).find(wanted) != std::string::npos;
                for (const auto& n : t.numbers) hit = hit || n.find(wanted) != std::string::npos;
                for (const auto& m : t.items)
                    hit = hit || foundation::asciiLowercase(m.text).find(wanted) != std::string::npos;
                if (hit) found.push_back(&t);
            }
            json page = listPage(std::move(found), a.media, limit, 15);
            page.erase("response");
            return jsonReply(page);
        });
    }
    if (foundation::hasPrefix(endpoint, "api2thread/get")) {
        // ["ID", items, page token or null, [null,true,true]]
        if (!body.is_array() || body.empty() || !body[0].is_string()) return invalid();
        std::string id = body[0].get<std::string>();
        size_t items = sizeArg(body, 1, 100, 100);
        int64_t before = body.size() > 2 ? tokenValue(body[2]) : 0;
        if (before < 0) return invalid();
        return emulator.withAccount([&](Account& a) {
            if (const Thread* t = a.thread(id)) return jsonReply({{"thread", threadJson(*t, a.media, items, before)}});
            return errorReply(404, "Thread not found", "NOT_FOUND");
        });
    }
    if (foundation::hasPrefix(endpoint, "thread/updateattributes")) return updateAttributes(emulator, body);
    if (foundation::hasPrefix(endpoint, "thread/delete")) {
        if (!body.is_array() || body.empty() || !body[0].is_string()) return invalid();
        std::string id = body[0].get<std::string>();
        return emulator.withAccount([&](Account& a) {
            auto removed = std::erase_if(a.threads, [&](const Thread& t) { return t.id == id; });
            return removed ? jsonReply(json::object()) : errorReply(404, "Thread not found", "NOT_FOUND");
        });
    }
    if (foundation::hasPrefix(endpoint, "threaditem/delete")) {
        if (!body.is_array() || body.empty() || !body[0].is_string()) return invalid();
        std::string id = body[0].get<std::string>();
        return emulator.withAccount([&](Account& a) {
            for (auto& t : a.threads) {
                if (std::erase_if(t.items, [&](const Message& m) { return m.id == id; }) == 0) continue;
                if (t.items.empty()) std::erase_if(a.threads, [&](const Thread& x) { return x.items.empty(); });
                return jsonReply(json::object());
            }
            return errorReply(404, "Item not found", "NOT_FOUND");
        });
    }
    if (foundation::hasPrefix(endpoint, "communication/startclicktocall")) {
        // [["phnnmbr","target"],["phnnmbr","phone to ring back"]]
        const json* target = at(body, {0, 1});
        const json* callback = at(body, {1, 1});
        if (!target || !target->is_string() || !callback || !callback->is_string()) return invalid();
        if (!validNumber(target->get<std::string>())) return jsonReply({{"ok", false}, {"data", {{"code", 1}}}});
        return emulator.withAccount([&](Account& a) {
            auto it = std::find_if(a.phones.begin(), a.phones.end(), [&](const Phone& p) {
                return p.e164 == callback->get<std::string>() && p.verified;
            });
            if (it == a.phones.end())
                return jsonReply(
                    {{"ok", false}, {"error", {{"message", "The callback number is not linked &amp; verified."}}}});
            a.callbacks.push_back({target->get<std::string>(), callback->get<std::string>()});
            return jsonReply({{"ok", true}});
        });
    }
    return errorReply(404, "Not found", "NOT_FOUND");
}

ServiceReply reserveRoute(Emulator& emulator, const RecordedRequest& request) {
    auto token = bearerToken(request);
    if (!token || !emulator.isValidAccessToken(*token)) return textReply(401, "Invalid Credentials", "text/plain");
    auto message = hxcpb::parse<HXCPB_DirectCallRequest>(request.body);
    if (!message || !message->has_target() || !message->target().has_number() ||
        !validNumber(message->target().number().numberstring()))
        return textReply(400, "INVALID_ARGUMENT", "text/plain");
    return emulator.withAccount([&](Account& a) {
        HXCPB_DirectCallResponse reply;
        auto* server = reply.mutable_response();
        server->set_timestamp(1700000000u);
        const std::string source = message->has_source() ? message->source().numberstring() : "";
        bool linked = std::any_of(a.phones.begin(), a.phones.end(),
                                  [&](const Phone& p) { return p.e164 == source && p.verified; });
        if (!linked) {
            // No access number for a device that is not one of the account's phones.
            server->set_resultcode(7);
            return protobufReply(reply);
        }
        a.reservations.push_back({source, message->target().number().numberstring()});
        server->mutable_accessnumber()->set_numberstring(a.accessNumber);
        server->set_resultcode(0);
        return protobufReply(reply);
    });
}

// The audio a voicemail or recording route names by its conversation's id, as the app asks for
// it: the newest voicemail's or recording's, by its item id first on the voicemail route and by
// its recording attachment's id first on the recording route.
// The account keeps audio by item id; none when the thread has no such item.
std::map<std::string, Media>::iterator threadAudio(Account& a, const std::string& threadID, bool recording) {
    Thread* t = a.thread(threadID);
    if (!t) t = a.thread("c." + threadID);
    if (!t) return a.media.end();
    for (auto m = t->items.rbegin(); m != t->items.rend(); ++m) {
        if (m->type != "voicemail" && m->type != "recording") continue;
        std::vector<std::string> ids;
        for (const auto& attachment : m->attachments) ids.push_back(attachment.id);
        ids.insert(recording ? ids.end() : ids.begin(), m->id);
        for (const auto& id : ids)
            if (auto it = a.media.find(id); it != a.media.end()) return it;
    }
    return a.media.end();
}

ServiceReply mediaRoute(Emulator& emulator, const RecordedRequest& request) {
    std::string rest = request.path.substr(3);  // after "/a/"
    std::string id, kind;
    for (const char* k : {"v/", "cr/cra:", "au/", "vi/", "vc/", "i/"})
        if (foundation::hasPrefix(rest, k)) id = rest.substr(std::string_view(k).size()), kind = k;
    if (id.empty()) return textReply(404, "<html><body>Not Found</body></html>");
    return emulator.withAccount([&](Account& a) -> ServiceReply {
        auto it = a.media.find(id);
        // Voicemail ids may have lost their "c." on the way into the URL.
        if (it == a.media.end()) it = a.media.find("c." + id);
        if (it == a.media.end() && (kind == "v/" || kind == "cr/cra:")) it = threadAudio(a, id, kind == "cr/cra:");
        if (it == a.media.end()) return textReply(404, "<html><body>Not Found</body></html>");
        // A video's preview picture, where it has one.
        if (queryValue(request.target, "m") == "thumbnail" && !it->second.preview.empty())
            return textReply(200, it->second.preview, "image/jpeg");
        // "s" asks for a size: 1 the original, any other (the lists' 3) the thumbnail.
        int size = 1;
        for (const auto& item : queryItems(request.target))
            if (item.first == "s") size = std::atoi(item.second.c_str());
        return textReply(200, mediaAtSize(it->first, it->second, size), it->second.mimeType);
    });
}

// ---- sign-in pages

// The provider's footer pages. The sign-in panel follows any link its page offers and has no back
// button of its own (nor a Cancel on a first sign-in), so each page leads back to the sign-in
// with the service page it was to continue to.
struct FooterPage {
    std::string_view path, title, text;
};
constexpr FooterPage kFooterPages[] = {
    {"/signin/help", "Help", "Sign in with the name of your account here. The service names them under the field."},
    {"/signin/privacy", "Privacy", "This provider keeps the name you sign in with and a session cookie."},
    {"/signin/terms", "Terms", "Signing in here lets the app use the service on your behalf."},
};

std::string continueQuery(const std::string& continueURL) {
    return "?continue=" + foundation::queryItemEncoded(continueURL);
}

std::string footerLinks(const std::string& continueURL) {
    std::string links;
    for (const auto& page : kFooterPages)
        links += "<a href=\"" + std::string(page.path) + foundation::htmlEscaped(continueQuery(continueURL)) + "\">" +
                 std::string(page.title) + "</a>";
    return links;
}

std::optional<ServiceReply> footerPage(const std::string& path, const std::string& continueURL) {
    for (const auto& page : kFooterPages)
        if (path == page.path)
            return textReply(200, "<html><head><title>" + std::string(page.title) + "</title></head><body><h1>" +
                                      std::string(page.title) + "</h1><p>" + std::string(page.text) +
                                      "</p><a id=\"back\" href=\"/signin/identify" +
                                      foundation::htmlEscaped(continueQuery(continueURL)) +
                                      "\">Back to sign in</a></body></html>");
    return std::nullopt;
}

// The identify page: the account-name form (the app fills and submits it; the password is the
// provider's business and any will do here), a sign-up link and a "Create account" offer, the
// two elements the app's sign-in panel hides, and the provider's footer. Under its field it names
// the accounts the service knows; after an unknown name it says so above the field, which keeps
// what was typed.
ServiceReply signInForm(Emulator& emulator, const std::string& action, const std::string& continueURL,
                        const std::optional<std::string>& unknownName = std::nullopt) {
    std::string names;
    for (const auto& name : emulator.usernames()) names += (names.empty() ? "" : ", ") + name;
    std::string refusal;
    if (unknownName)
        refusal = "<p id=\"error\" style=\"color:#d93025\">" +
                  foundation::htmlEscaped(unknownName->empty() ? std::string("Enter an email.")
                                                               : "There is no account " + *unknownName +
                                                                     " here. Use one of the accounts named below.") +
                  "</p>";
    return textReply(200, "<html><head><title>Sign in</title></head><body><h1>Sign in</h1>"
                          "<p>to continue to HX Voice</p>" +
                              refusal + "<form id=\"challenge\" method=\"post\" action=\"" +
                              foundation::htmlEscaped(action) +
                              "\"><input type=\"email\" name=\"Email\" id=\"Email\" placeholder=\"Email or phone\"" +
                              (unknownName ? " value=\"" + foundation::htmlEscaped(*unknownName) + "\"" : "") +
                              "/><p id=\"accounts\">Accounts here: " + foundation::htmlEscaped(names) +
                              "</p><input type=\"password\" name=\"Passwd\" placeholder=\"Password\"/>"
                              "<input type=\"hidden\" name=\"continue\" value=\"" +
                              foundation::htmlEscaped(continueURL) +
                              "\"/><input type=\"submit\" id=\"next\" value=\"Next\"/></form>"
                              "<a id=\"link-signup\" href=\"/signup\">Sign up</a>"
                              "<span>Create account</span><p>English (United States)</p>" +
                              footerLinks(continueURL) + "</body></html>");
}

std::string consentToken(Emulator& emulator) { return "consent-" + emulator.sessionValue(); }

ServiceReply consentPage(Emulator& emulator, const RecordedRequest& request) {
    return textReply(200, "<html><body><h1>New features</h1><form id=\"challenge\" method=\"post\" action=\"" +
                              hostOrigin(request) +
                              "/signin/consent/save\">"
                              "<input type=\"hidden\" name=\"consent_token\" value=\"" +
                              consentToken(emulator) + "\"/><input type=\"hidden\" name=\"continue\" value=\"" +
                              foundation::htmlEscaped(request.path) +
                              "\"/><input type=\"checkbox\" name=\"agree\"/>"
                              "<input type=\"submit\" name=\"submit\" value=\"Continue\"/></form></body></html>");
}

ServiceReply clientFlagsPage(Emulator& emulator) {
    std::string token = "AuthV2-" + emulator.sessionValue();
    return textReply(200, "<html><head><script>_hx.pageProto['ClientFlags'] = [[\"client_flags.response\",null,"
                          "\"https://www.example.test/voice\",\"" +
                              token + "\"]];</script></head><body></body></html>");
}

ServiceReply signInHost(Emulator& emulator, const RecordedRequest& request, const std::string& cookieName) {
    const std::string& path = request.path;
    if (path == "/o/oauth2/tokenrpc") {
        std::string action = queryValue(request.target, "action");
        if (!hasSession(emulator, request, cookieName)) return jsonReply({{"error", "USER_LOGGED_OUT"}});
        std::string user = emulator.withAccount([](Account& a) { return a.username; });
        if (action == "listSessions")
            return jsonReply({{"sessions", {{{"login_hint", "hint-" + user}, {"email", user}}}}});
        if (action == "issueToken") {
            // The session holds every account signed in with it: a hint of another one it knows
            // serves that account.
            const std::string hint = queryValue(request.target, "login_hint");
            const auto known = emulator.usernames();
            if (!foundation::hasPrefix(hint, "hint-") ||
                std::find(known.begin(), known.end(), hint.substr(5)) == known.end())
                return jsonReply({{"error", "invalid_grant"}});
            return jsonReply({{"access_token", emulator.issueAccessToken(hint.substr(5))},
                              {"token_type", "Bearer"},
                              {"expires_in", std::to_string(emulator.tokenLifetime())},
                              {"scope", queryValue(request.target, "scope")},
                              {"session_state", {{"extraQueryParams", {{"authuser", "0"}}}}}});
        }
        return jsonReply({{"error", "unsupported_action"}}, 400);
    }
    if (path == "/signin/identify" || path == "/accounts/AccountLogin" || path == "/ServiceLogin") {
        std::string next = queryValue(request.target, "continue");
        return signInForm(emulator, "/signin/challenge", next.empty() ? hostOrigin(request) + "/voice/" : next);
    }
    if (auto page = footerPage(path, queryValue(request.target, "continue"))) return *page;
    if (path == "/signin/challenge" && request.method == "POST") {
        std::optional<std::string> email, identifier;
        std::string next;
        for (const auto& [k, v] : formItems(request.body)) {
            if (k == "Email") email = v;
            if (k == "identifier") identifier = v;
            if (k == "continue") next = v;
        }
        // A form with both fields signs in the "Email" one, as the app reads it.
        if (!email) email = identifier;
        // The name signed in picks the account the service serves from now on.
        if (!emulator.switchToAccount(email.value_or("")))
            return signInForm(emulator, "/signin/challenge", next, email.value_or(""));
        emulator.setSignedIn(true);
        ServiceReply r = textReply(302, "<html><body>Moved</body></html>");
        r.headers.emplace_back("Set-Cookie",
                               cookieName + "=" + emulator.sessionValueFor(*email) + "; Path=/; HttpOnly");
        if (next.empty()) next = "/voice/";
        r.headers.emplace_back("Location", next.front() == '/' ? hostOrigin(request) + next : next);
        return r;
    }
    if (path == "/signin/consent/save") {
        if (!hasSession(emulator, request, cookieName)) return signInRedirect(request);
        std::string token;
        for (const auto& [k, v] : formItems(request.body))
            if (k == "consent_token") token = v;
        if (request.method != "POST" || token != consentToken(emulator))
            return textReply(400, "<html><body>The form has expired.</body></html>");
        emulator.withAccount([](Account& a) { return a.consentPending = false; });
        return clientFlagsPage(emulator);
    }
    return textReply(404, "<html><body>Not Found</body></html>");
}

}  // namespace

std::vector<std::pair<std::string, std::string>> queryItems(const std::string& target) {
    std::vector<std::pair<std::string, std::string>> items;
    size_t q = target.find('?');
    if (q == std::string::npos) return items;
    std::string_view query(target);
    query.remove_prefix(q + 1);
    while (!query.empty()) {
        size_t amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        size_t eq = pair.find('=');
        items.emplace_back(percentDecode(pair.substr(0, eq)),
                           eq == std::string_view::npos ? std::string() : percentDecode(pair.substr(eq + 1)));
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return items;
}

// The methods an API route answers, or none for the pages (which take what a browser sends).
std::optional<std::vector<std::string_view>> allowedMethods(const RecordedRequest& request) {
    const std::string& path = request.path;
    if (path == "/o/oauth2/tokenrpc") return std::vector<std::string_view>{"GET"};
    if (path == "/voice/v1/proxynumbers/reserve" || foundation::hasPrefix(request.target, kApi) ||
        foundation::hasPrefix(path, "/v2/people"))
        return std::vector<std::string_view>{"POST"};
    if (foundation::hasPrefix(path, "/a/")) return std::vector<std::string_view>{"GET", "HEAD"};
    if (path == kDeliverTextPath) return std::vector<std::string_view>{"POST"};
    return std::nullopt;
}

ServiceReply routeServiceRequest(Emulator& emulator, const RecordedRequest& request) {
    // A request with a token is answered from the token's account, whichever is served now.
    struct AnsweredAccount {
        explicit AnsweredAccount(std::optional<std::string> user) { Emulator::answerFor(std::move(user)); }
        ~AnsweredAccount() { Emulator::answerFor(std::nullopt); }
        AnsweredAccount(const AnsweredAccount&) = delete;
        AnsweredAccount& operator=(const AnsweredAccount&) = delete;
    };
    std::string cookieName = emulator.withAccount([](Account& a) { return a.sessionCookie; });
    const auto token = bearerToken(request);
    const auto cookie = cookieValue(request, cookieName);
    const AnsweredAccount answered(token    ? emulator.accessTokenOwner(*token)
                                   : cookie ? emulator.sessionOwner(*cookie)
                                            : std::nullopt);
    const std::string& path = request.path;

    if (auto allowed = allowedMethods(request);
        allowed && std::find(allowed->begin(), allowed->end(), request.method) == allowed->end()) {
        ServiceReply reply = errorReply(405, "Method not allowed.", "METHOD_NOT_ALLOWED");
        std::string allow;
        for (auto m : *allowed) allow += (allow.empty() ? "" : ", ") + std::string(m);
        reply.headers.emplace_back("Allow", allow);
        return reply;
    }

    if (foundation::hasPrefix(path, "/o/oauth2/") || foundation::hasPrefix(path, "/signin/") ||
        path == "/accounts/AccountLogin" || path == "/ServiceLogin")
        return signInHost(emulator, request, cookieName);

    // Protobuf API host and JSON API host.
    if (path == "/voice/v1/proxynumbers/reserve") return reserveRoute(emulator, request);
    if (foundation::hasPrefix(request.target, kApi))
        return apiRoute(emulator, request, request.target.substr(kApi.size()));

    // Media below the web-client host.
    if (foundation::hasPrefix(path, "/a/")) {
        if (!hasSession(emulator, request, cookieName)) return signInRedirect(request);
        return mediaRoute(emulator, request);
    }

    // A text arrives for the account served, as the local run asks for one.
    if (path == kDeliverTextPath) {
        const bool fromNew = queryValue(request.target, "from") == "new";
        const auto text = emulator.withAccount([&](Account& a) {
            return deliverText(a, fromNew, static_cast<int64_t>(std::floor(clocks::wallNow() * 1000)));
        });
        return jsonReply({{"threadId", text.threadId}, {"fromNumber", text.fromNumber}, {"text", text.text}});
    }

    // Contacts host.
    if (foundation::hasPrefix(path, "/v2/people")) {
        auto token = bearerToken(request);
        if (!token || !emulator.isValidAccessToken(*token))
            return errorReply(401, "Request had invalid authentication credentials.", "UNAUTHENTICATED");
        json body = json::parse(request.body, nullptr, false);
        if (!body.is_object() || !body.contains("name") || !body.contains("phone"))
            return errorReply(400, "Request contains an invalid argument.", "INVALID_ARGUMENT");
        AddedContact c;
        c.name = body["name"].value("display_name", "");
        c.number = body["phone"].value("value", "");
        c.type = body["phone"].value("type", "");
        emulator.withAccount([&](Account& a) {
            a.addedContacts.push_back(c);
            for (auto& t : a.threads)
                if (t.numbers.size() == 1 && t.numbers[0] == c.number) t.contactName = c.name;
            return 0;
        });
        return jsonReply({{"personResponse", {{"responseStatus", "SUCCESS"}, {"person", {{"name", c.name}}}}}});
    }

    // The service host's pages: the page itself (what ClientAuth fetches), then legacy pages.
    if (foundation::hasPrefix(path, "/voice")) {
        if (!hasSession(emulator, request, cookieName)) return signInRedirect(request);
        if (path == "/voice" || path == "/voice/" || foundation::hasPrefix(path, "/voice/b/")) {
            if (emulator.withAccount([](Account& a) { return a.consentPending; }))
                return consentPage(emulator, request);
            return clientFlagsPage(emulator);
        }
        if (foundation::hasPrefix(path, "/voice/inbox/")) return jsonReply({{"ok", true}});
        return textReply(404, "<html><body>Not Found</body></html>");
    }
    return textReply(404, "<html><body>Not Found</body></html>");
}

}  // namespace emulator
