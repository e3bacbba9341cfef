#include "emulator/service_routes.h"

#include <nlohmann/json.hpp>

#include "platform/foundation/strings.h"
#include "service/proto/hxcpb.h"

namespace emulator {

namespace {

using nlohmann::json;

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

ServiceReply textReply(int status, std::string body, std::string type = "text/html; charset=utf-8") {
    ServiceReply r;
    r.status = status;
    r.contentType = std::move(type);
    r.body = std::move(body);
    return r;
}

std::string hostOrigin(const RecordedRequest& request) {
    return "http://" + request.header("Host").value_or("127.0.0.1");
}

bool hasSession(Emulator& emulator, const RecordedRequest& request, const std::string& cookieName) {
    auto cookies = request.header("Cookie");
    if (!cookies) return false;
    std::string wanted = cookieName + "=" + emulator.sessionValue();
    size_t at = 0;
    while (at < cookies->size()) {
        size_t end = cookies->find(';', at);
        if (end == std::string::npos) end = cookies->size();
        std::string pair = cookies->substr(at, end - at);
        while (!pair.empty() && pair.front() == ' ') pair.erase(pair.begin());
        if (pair == wanted) return true;
        at = end + 1;
    }
    return false;
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

json threadJson(const Thread& t) {
    json items = json::array();
    for (const auto& m : t.items) {
        json item = {{"id", m.id}, {"type", m.type}, {"startTime", std::to_string(m.startTimeMs)}};
        if (!m.text.empty()) item["messageText"] = m.text;
        if (!m.fromNumber.empty()) item["contact"] = {{"phoneNumber", m.fromNumber}};
        items.push_back(item);
    }
    json contacts = json::array();
    for (const auto& n : t.numbers) contacts.push_back({{"phoneNumber", n}, {"name", ""}, {"blocked", false}});
    return {{"id", t.id}, {"read", t.read}, {"item", items}, {"contact", contacts}};
}

ServiceReply accountJson(const Account& a) {
    json linked = json::array();
    for (const auto& p : a.phones)
        linked.push_back({{"name", p.name},
                          {"phoneNumber", {{"e164", p.e164}}},
                          {"forwardingModalities", {{"calls", p.forwarding}}},
                          {"verificationState", {{"currentlyVerified", p.verified}}}});
    auto flag = [&](const std::string& key) {
        auto it = a.settings.find(key);
        return it != a.settings.end() && it->second == "true";
    };
    json account = {
        {"primaryDid", a.serviceNumber},
        {"communication",
         {{"doNotDisturb", {{"enabled", flag("doNotDisturb")}}}, {"useDidAsCallerId", flag("useDidAsCallerId")}}},
        {"phones", {{"linkedPhone", linked}, {"linkedVoipDevice", json::array()}}}};
    return jsonReply({{"account", account}});
}

ServiceReply apiRoute(Emulator& emulator, const RecordedRequest& request, const std::string& endpoint) {
    auto token = bearerToken(request);
    bool protobufBody = foundation::hasPrefix(endpoint, "api2thread/sendsms");
    if (!token || !emulator.isValidAccessToken(*token)) {
        if (protobufBody) return textReply(401, "Invalid Credentials", "text/plain");
        return jsonReply({{"error", {{"code", 401}, {"message", "Request had invalid authentication credentials."}}}},
                         401);
    }
    if (protobufBody) {
        auto message = hxcpb::parse<HXCPB_SendSMSRequest>(request.body);
        if (!message || !message->has_messagetext()) return textReply(400, "INVALID_ARGUMENT", "text/plain");
        HXCPB_SendSMSResponse reply;
        emulator.withAccount([&](Account& a) {
            Thread* thread = nullptr;
            if (message->has_conversationid()) {
                for (auto& t : a.threads)
                    if (t.id == message->conversationid()) thread = &t;
            }
            if (!thread) {
                Thread t;
                std::string numbers;
                for (const auto& n : message->targetnumber()) {
                    t.numbers.push_back(n);
                    numbers += (numbers.empty() ? "" : "|") + n;
                }
                t.id = "t." + numbers;
                a.threads.push_back(t);
                thread = &a.threads.back();
            }
            Message m;
            m.id = "s" + std::to_string(message->randomid());
            m.text = message->messagetext();
            m.type = 11;
            thread->items.push_back(m);
            reply.set_conversationid(thread->id);
            reply.set_messageid(m.id);
            reply.set_timestamp(1700000000u);
        });
        ServiceReply r;
        r.contentType = "application/x-protobuf";
        r.body = hxcpb::serialize(reply).value_or("");
        return r;
    }
    json body = json::parse(request.body, nullptr, false);
    if (endpoint == "account/get?alt=json" || foundation::hasPrefix(endpoint, "account/update?alt=json"))
        return emulator.withAccount([&](Account& a) { return accountJson(a); });
    if (foundation::hasPrefix(endpoint, "threadinginfo/get")) {
        return emulator.withAccount([&](Account& a) {
            int unreadText = 0, unreadVoicemail = 0;
            for (const auto& t : a.threads) {
                if (t.read) continue;
                bool voicemail = !t.items.empty() && t.items.back().type == 2;
                (voicemail ? unreadVoicemail : unreadText)++;
            }
            return jsonReply(
                {{"info",
                  {{"viewInfo",
                    {{{"view", "textThreads"}, {"unreadThreadCount", unreadText}},
                     {{"view", "voicemailAndRecordingThreads"}, {"unreadThreadCount", unreadVoicemail}}}}}}});
        });
    }
    if (foundation::hasPrefix(endpoint, "api2thread/list")) {
        int listCode = body.is_array() && !body.empty() && body[0].is_number_integer() ? body[0].get<int>() : 0;
        return emulator.withAccount([&](Account& a) {
            json threads = json::array();
            for (const auto& t : a.threads) {
                bool voicemail = !t.items.empty() && t.items.back().type == 2;
                if ((listCode == 1 && t.read) || (listCode == 2 && voicemail) || (listCode == 4 && !voicemail))
                    continue;
                threads.push_back(threadJson(t));
            }
            return jsonReply({{"thread", threads}});
        });
    }
    if (foundation::hasPrefix(endpoint, "api2thread/get")) {
        std::string id = body.is_array() && !body.empty() && body[0].is_string() ? body[0].get<std::string>() : "";
        return emulator.withAccount([&](Account& a) {
            for (const auto& t : a.threads)
                if (t.id == id) return jsonReply({{"thread", threadJson(t)}});
            return jsonReply({{"error", {{"code", 404}, {"message", "Thread not found"}}}}, 404);
        });
    }
    if (foundation::hasPrefix(endpoint, "thread/updateattributes")) {
        // [["ID",blocked,spam,read,[]],[mask...],1]
        if (!body.is_array() || body.empty() || !body[0].is_array() || body[0].empty() || !body[0][0].is_string())
            return jsonReply({{"error", {{"code", 400}}}}, 400);
        std::string id = body[0][0].get<std::string>();
        json attributes = json::object();
        if (body[0].size() > 3 && body[0][3].is_boolean()) {
            bool read = body[0][3].get<bool>();
            emulator.withAccount([&](Account& a) {
                for (auto& t : a.threads)
                    if (t.id == id) t.read = read;
                return 0;
            });
            attributes["read"] = read;
        }
        if (body[0].size() > 2 && body[0][2].is_boolean()) attributes["contactSpammer"] = body[0][2].get<bool>();
        if (body[0].size() > 1 && body[0][1].is_boolean()) attributes["contactBlocked"] = body[0][1].get<bool>();
        if (body[0].size() > 5 && body[0][5].is_boolean()) attributes["archived"] = body[0][5].get<bool>();
        return jsonReply({{"attributes", attributes}});
    }
    if (foundation::hasPrefix(endpoint, "thread/delete")) {
        std::string id = body.is_array() && !body.empty() && body[0].is_string() ? body[0].get<std::string>() : "";
        emulator.withAccount([&](Account& a) {
            std::erase_if(a.threads, [&](const Thread& t) { return t.id == id; });
            return 0;
        });
        return jsonReply(json::object());
    }
    if (foundation::hasPrefix(endpoint, "threaditem/delete")) return jsonReply(json::object());
    if (foundation::hasPrefix(endpoint, "communication/startclicktocall")) return jsonReply({{"ok", true}});
    return jsonReply({{"error", {{"code", 404}, {"message", "Not found"}}}}, 404);
}

ServiceReply reserveRoute(Emulator& emulator, const RecordedRequest& request) {
    auto token = bearerToken(request);
    if (!token || !emulator.isValidAccessToken(*token)) return textReply(401, "Invalid Credentials", "text/plain");
    auto message = hxcpb::parse<HXCPB_DirectCallRequest>(request.body);
    if (!message || !message->has_target() || !message->target().has_number() ||
        message->target().number().numberstring().empty())
        return textReply(400, "INVALID_ARGUMENT", "text/plain");
    HXCPB_DirectCallResponse reply;
    auto* server = reply.mutable_response();
    server->mutable_accessnumber()->set_numberstring(emulator.withAccount([](Account& a) { return a.accessNumber; }));
    server->set_timestamp(1700000000u);
    server->set_resultcode(0);
    ServiceReply r;
    r.contentType = "application/x-protobuf";
    r.body = hxcpb::serialize(reply).value_or("");
    return r;
}

ServiceReply mediaRoute(Emulator& emulator, const RecordedRequest& request) {
    std::string rest = request.path.substr(3);  // after "/a/"
    std::string id;
    for (const char* kind : {"v/", "cr/cra:", "au/", "vi/", "vc/", "i/"})
        if (foundation::hasPrefix(rest, kind)) id = rest.substr(std::string_view(kind).size());
    if (id.empty()) return textReply(404, "<html><body>Not Found</body></html>");
    return emulator.withAccount([&](Account& a) -> ServiceReply {
        auto it = a.media.find(id);
        if (it == a.media.end()) return textReply(404, "<html><body>Not Found</body></html>");
        return textReply(200, it->second.bytes, it->second.mimeType);
    });
}

ServiceReply signInForm(const std::string& action) {
    return textReply(200, "<html><body><form id=\"hxc_form\" method=\"post\" action=\"" + action +
                              "\"><input type=\"email\" name=\"identifier\" id=\"identifierId\"/>"
                              "<input type=\"hidden\" name=\"continue\" value=\"/voice/\"/></form></body></html>");
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

ServiceReply routeServiceRequest(Emulator& emulator, const RecordedRequest& request) {
    const std::string& path = request.path;
    std::string cookieName = emulator.withAccount([](Account& a) { return a.sessionCookie; });

    // Sign-in host.
    if (path == "/o/oauth2/tokenrpc") {
        std::string action = queryValue(request.target, "action");
        if (!hasSession(emulator, request, cookieName)) return jsonReply({{"error", "USER_LOGGED_OUT"}});
        if (action == "listSessions") {
            std::string user = emulator.withAccount([](Account& a) { return a.username; });
            return jsonReply({{"sessions", {{{"login_hint", "hint-" + user}, {"email", user}}}}});
        }
        if (action == "issueToken") {
            if (queryValue(request.target, "login_hint").empty()) return jsonReply({{"error", "invalid_grant"}});
            return jsonReply({{"access_token", emulator.issueAccessToken()},
                              {"token_type", "Bearer"},
                              {"expires_in", "3599"},
                              {"scope", queryValue(request.target, "scope")}});
        }
        return jsonReply({{"error", "unsupported_action"}}, 400);
    }
    if (path == "/accounts/AccountLogin" || path == "/ServiceLogin") return signInForm("/signin/consent/save");
    if (path == "/signin/consent/save") {
        ServiceReply r = textReply(302, "<html><body>Moved</body></html>");
        r.headers.emplace_back("Set-Cookie", cookieName + "=" + emulator.sessionValue() + "; Path=/; HttpOnly");
        r.headers.emplace_back("Location", hostOrigin(request) + "/voice/b/0");
        return r;
    }

    // Protobuf API host and JSON API host.
    if (path == "/voice/v1/proxynumbers/reserve") return reserveRoute(emulator, request);
    static const std::string kApi = "/voice/v1/voiceclient/";
    if (foundation::hasPrefix(request.target, kApi))
        return apiRoute(emulator, request, request.target.substr(kApi.size()));

    // Media below the web-client host.
    if (foundation::hasPrefix(path, "/a/")) {
        if (!hasSession(emulator, request, cookieName)) return signInRedirect(request);
        return mediaRoute(emulator, request);
    }

    // Contacts host.
    if (foundation::hasPrefix(path, "/v2/people")) {
        if (!bearerToken(request)) return jsonReply({{"error", {{"code", 401}}}}, 401);
        return jsonReply({{"personResponse", {{"responseStatus", "SUCCESS"}}}});
    }

    // The service host's legacy pages.
    if (foundation::hasPrefix(path, "/voice/")) {
        if (!hasSession(emulator, request, cookieName)) return signInRedirect(request);
        if (path == "/voice/b/0" || path == "/voice/") {
            std::string token = "AuthV2-" + emulator.sessionValue();
            return textReply(200, "<html><head><script>_hx.pageProto['ClientFlags'] = [[\"client_flags.response\",null,"
                                  "\"https://www.example.test/voice\",\"" +
                                      token + "\"]];</script></head><body></body></html>");
        }
        if (foundation::hasPrefix(path, "/voice/inbox/")) return jsonReply({{"ok", true}});
        return textReply(404, "<html><body>Not Found</body></html>");
    }
    return textReply(404, "<html><body>Not Found</body></html>");
}

}  // namespace emulator
