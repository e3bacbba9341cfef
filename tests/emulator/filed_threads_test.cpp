// Spam and archived threads of a generated account: the other threads stay those of the seed
// without them, and the spam and archive lists (codes 5 and 6) hold exactly them, newest first,
// while the text list leaves them out.
#include <gtest/gtest.h>

#include <set>

#include <nlohmann/json.hpp>

#include "emulator/emulator.h"
#include "emulator/service_routes.h"

namespace {

emulator::Account account(int spam, int archived) {
    emulator::GeneratorOptions o;
    o.seed = 7;
    o.smsThreads = 40;
    o.voicemailThreads = 3;
    o.callThreads = 3;
    o.spamThreads = spam;
    o.archivedThreads = archived;
    return emulator::generateAccount(o);
}

std::string describe(const emulator::Thread& t) {
    std::string out = t.id + (t.read ? " R " : " U ") + t.contactName;
    for (const auto& m : t.items) out += " " + m.id + "@" + std::to_string(m.startTimeMs) + ":" + m.text;
    return out;
}

// Every id of list code, following the pages.
std::vector<std::string> listed(emulator::Emulator& service, int code) {
    const std::string token = service.issueAccessToken();
    std::vector<std::string> ids;
    std::string page = "null";
    for (int n = 0; n < 100; ++n) {
        emulator::RecordedRequest r;
        r.method = "POST";
        r.path = "/voice/v1/voiceclient/api2thread/list";
        r.target = r.path + "?alt=json";
        r.body = "[" + std::to_string(code) + ",20,1," + page + ",null,[null,true,true]]";
        r.headers = {{"Authorization", "Bearer " + token}, {"Content-Type", "application/json+protobuf"}};
        auto reply = emulator::routeServiceRequest(service, r);
        EXPECT_EQ(reply.status, 200) << reply.body;
        auto json = nlohmann::json::parse(reply.body, nullptr, false);
        if (!json.is_object()) return ids;
        int64_t earliest = 0;
        for (const auto& t : json.value("thread", nlohmann::json::array())) {
            ids.push_back(t["id"]);
            const int64_t last = std::stoll(t["item"][0]["startTime"].get<std::string>());
            earliest = earliest ? std::min(earliest, last) : last;
        }
        if (!json.contains("response") || earliest == 0) return ids;
        page = "\"" + std::to_string(earliest / 1000 - 1) + "000\"";
    }
    ADD_FAILURE() << "no last page";
    return ids;
}

}  // namespace

TEST(FiledThreads, TheSeedsOtherThreadsStayAndTheListsFileThem) {
    const auto plain = account(0, 0), filed = account(6, 4), again = account(6, 4);
    ASSERT_EQ(filed.threads.size(), plain.threads.size() + 10);
    for (size_t i = 0; i < plain.threads.size(); ++i) {
        EXPECT_EQ(describe(filed.threads[i]), describe(plain.threads[i])) << i;
        EXPECT_FALSE(filed.threads[i].spam || filed.threads[i].archived);
    }
    std::set<std::string> ids, spam, archived;
    for (size_t i = 0; i < filed.threads.size(); ++i) {
        const auto& t = filed.threads[i];
        EXPECT_EQ(describe(t), describe(again.threads[i])) << "the same seed, the same account";
        EXPECT_TRUE(ids.insert(t.id).second) << t.id;
        if (i < plain.threads.size()) continue;
        EXPECT_TRUE(t.isText());
        EXPECT_NE(t.spam, t.archived);
        (t.spam ? spam : archived).insert(t.id);
        // Within the span of the others.
        EXPECT_LE(t.lastTimeMs(), plain.threads.front().lastTimeMs());
        EXPECT_GE(t.lastTimeMs(), plain.threads.back().lastTimeMs() - 100000);
    }
    EXPECT_EQ(spam.size(), 6u);
    EXPECT_EQ(archived.size(), 4u);

    emulator::Emulator service{filed};
    const auto spamList = listed(service, 5), archiveList = listed(service, 6), texts = listed(service, 2);
    EXPECT_EQ(std::set<std::string>(spamList.begin(), spamList.end()), spam);
    EXPECT_EQ(std::set<std::string>(archiveList.begin(), archiveList.end()), archived);
    EXPECT_EQ(spamList.size(), spam.size());
    std::set<std::string> shownTexts(texts.begin(), texts.end());
    for (const auto& id : spam) EXPECT_FALSE(shownTexts.count(id));
    for (const auto& id : archived) EXPECT_FALSE(shownTexts.count(id));
    EXPECT_EQ(texts.size(), 40u);
}
