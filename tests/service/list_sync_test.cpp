// The message lists against the stateful emulator over loopback: a whole SMS list is paged into
// the store, a refresh after the service deleted and added threads leaves the store equal to
// the service, and the list screen's hooks are called as the list loads.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "app/connect_app_delegate.h"
#include "emulator/emulator.h"
#include "emulator/service_routes.h"
#include "model/account.h"
#include "model/cache.h"
#include "model/message_store.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/notification_center.h"
#include "platform/net/cookie.h"
#include "platform/net/transport.h"
#include "platform/store/context.h"
#include "service/conversation_store.h"
#include "service/custom_cookie_jar.h"
#include "service/message_list_model.h"
#include "service/request_machinery.h"
#include "tests/service/recording_list_view.h"
#include "tests/service/web_fixture.h"

namespace {

// A list that counts its aborted loads.
class RecordingList : public HXMessageListModel {
public:
    using HXMessageListModel::HXMessageListModel;
    std::atomic<int> aborts{0};
    void abortLoading() override {
        ++aborts;
        HXMessageListModel::abortLoading();
    }
};

struct StoredMessage {
    std::string text;
    bool from = false;
};
struct StoredConversation {
    int64_t type = 0;
    bool read = false;
    std::map<std::string, StoredMessage> messages;
};

struct ListSync : hxtest::WebFixture {
    std::shared_ptr<hxtest::RecordingListView> view = std::make_shared<hxtest::RecordingListView>();
    std::shared_ptr<RecordingList> list;

    void start(emulator::Account seededAccount) {
        startService(std::move(seededAccount));
        app->setMessageParsingQueue(dispatch::Queue::serial("com.hxconnect.messageparser.queue"));
        ASSERT_TRUE(app->resetPersistentStore().ok());
        list = std::make_shared<RecordingList>(
            app, HXMessageListModel::smsViewSettings(HXWebClientOf(*app).endpoints.servicePageBase()), view);
        app->shell().changeScript([this](HXShellRecorder::Script& script) {
            script.messageLists[1] = list;
            script.currentViewIndex = 1;
        });
    }
    // Drives the list as a user scrolling to its end: a refresh from the first page, then the
    // load-more row whenever the list stops with pages left. Returns the requests sent.
    int syncToEnd() {
        list->loadMessages(HXMessageListModel::Sender::None);
        int requests = 1;
        for (int round = 0; round < 300; ++round) {
            const int before = view->refreshes;
            EXPECT_TRUE(clock->runUntil([&] { return view->refreshes > before && inFlight() == 0; }, 60));
            clock->runUntilIdle();
            if (inFlight() || list->isLoadingMessages()) continue;  // the list went on by itself
            if (list->reloadPage() == 0) return requests;
            list->loadMessages(HXMessageListModel::Sender::TableCell);
            ++requests;
        }
        ADD_FAILURE() << "the list never reached its end";
        return requests;
    }
    // The list loads its first page and the service answers it with page.
    void loadListAnswered(const std::string& page) {
        service->script("/voice/v1/voiceclient/api2thread/list", {.body = page});
        list->loadMessages(HXMessageListModel::Sender::None);
        ASSERT_TRUE(clock->runUntil([&] { return view->refreshes > 0 && inFlight() == 0; }, 60));
        clock->runUntilIdle();
    }
    // The service's own answer to the list's first page, as a background fetch hands it over.
    std::shared_ptr<const foundation::Data> firstListPage() {
        emulator::RecordedRequest request;
        request.method = "POST";
        request.target = "/voice/v1/voiceclient/api2thread/list?alt=json";
        request.path = "/voice/v1/voiceclient/api2thread/list";
        request.body = "[2,100,15,null,null,[null,true,true]]";
        request.headers = {{"Authorization", "Bearer " + token}};
        const std::string reply = emulator::routeServiceRequest(*service, request).body;
        return std::make_shared<const foundation::Data>(reply.begin(), reply.end());
    }
    std::map<std::string, StoredConversation> stored() {
        std::map<std::string, StoredConversation> out;
        auto context = app->managedObjectContext();
        context->performAndWait([&] {
            auto rows = context->fetch(store::FetchRequest(HXMessageStore::kConversationEntity));
            ASSERT_TRUE(rows.ok());
            for (const auto& c : rows.value()) {
                StoredConversation s;
                s.type = c->value("type").int64Value();
                s.read = c->value("isRead").boolValue();
                for (const auto& m : c->objects("Messages"))
                    s.messages[m->value("id").stringValue()] = {m->value("message").stringValue(),
                                                                m->value("from").boolValue()};
                out[c->value("conversationID").stringValue()] = std::move(s);
            }
        });
        return out;
    }
    // What the service lists now, as the store should hold it.
    std::map<std::string, StoredConversation> listed() {
        return service->withAccount([](emulator::Account& a) {
            std::map<std::string, StoredConversation> out;
            for (const auto& t : a.threads) {
                if (!t.isText() || t.spam || t.archived) continue;
                StoredConversation s;
                s.read = t.read;
                // The type follows the items in the order listed (newest first): the oldest wins.
                s.type =
                    HXConversationStore::typeCodeForMask(HXConversationStore::maskForItemType(t.items.front().type));
                for (const auto& m : t.items) s.messages[m.id] = {m.text, m.type == "smsOut"};
                out[t.id] = std::move(s);
            }
            return out;
        });
    }
    void expectStoreEqualsService() {
        auto have = stored(), want = listed();
        EXPECT_EQ(have.size(), want.size());
        for (const auto& [id, w] : want) {
            auto it = have.find(id);
            if (it == have.end()) {
                ADD_FAILURE() << "missing " << id;
                continue;
            }
            EXPECT_EQ(it->second.type, w.type) << id;
            EXPECT_EQ(it->second.read, w.read) << id;
            ASSERT_EQ(it->second.messages.size(), w.messages.size()) << id;
            for (const auto& [mid, m] : w.messages) {
                EXPECT_EQ(it->second.messages[mid].text, m.text) << id << " " << mid;
                EXPECT_EQ(it->second.messages[mid].from, m.from) << id << " " << mid;
            }
        }
        for (const auto& [id, h] : have) EXPECT_TRUE(want.count(id)) << "stale " << id;
    }
};

emulator::Account seeded(int threads) {
    emulator::GeneratorOptions o;
    o.seed = 2026;
    o.smsThreads = threads;
    return emulator::generateAccount(o);
}

}  // namespace

TEST_F(ListSync, AThousandThreadsArePagedIntoTheStoreAndARefreshFollowsTheService) {
    start(seeded(1000));
    const int requests = syncToEnd();
    EXPECT_EQ(list->reloadPage(), 0u);
    // 50 full pages and the empty one that tells the list it has ended.
    EXPECT_EQ(requests, 51);
    expectStoreEqualsService();
    EXPECT_EQ(logins(), 0u);
    EXPECT_GT(view->contentChanges, 0);
    EXPECT_GT(view->reloads, 0);
    // Every list request asked for 20 threads of 15 items, the first without a page token.
    auto recorded = service->requests();
    std::vector<std::string> bodies;
    for (const auto& r : recorded)
        if (r.path == "/voice/v1/voiceclient/api2thread/list") bodies.push_back(r.body);
    ASSERT_EQ(bodies.size(), 51u);
    EXPECT_EQ(bodies[0], "[2,20,15,null,null,[null,true,true]]");
    EXPECT_EQ(bodies[1].rfind("[2,20,15,\"", 0), 0u) << bodies[1];

    // The service deletes threads (one inside the first page, one between the first two pages,
    // some further back, the oldest) and gets new ones; a refresh from the first page follows.
    std::vector<std::string> deleted = service->withAccount([](emulator::Account& a) {
        std::vector<std::string> ids;
        for (size_t i : {3, 14, 60, 61, 997, 999}) ids.push_back(a.threads[i].id);
        std::erase_if(a.threads,
                      [&](const emulator::Thread& t) { return std::find(ids.begin(), ids.end(), t.id) != ids.end(); });
        emulator::addGeneratedTextThreads(a, 9, 7, 3);
        // A thread read elsewhere and one that got a new reply.
        a.threads[10].read = !a.threads[10].read;
        return ids;
    });
    syncToEnd();
    EXPECT_EQ(list->reloadPage(), 0u);
    auto have = stored();
    for (const auto& id : deleted) EXPECT_EQ(have.count(id), 0u) << "not removed: " << id;
    expectStoreEqualsService();
}

TEST_F(ListSync, AReplyThatIsNotAListEndsTheLoadingAndStoresNothing) {
    start(seeded(30));
    for (emulator::Fault fault : {emulator::Fault::ServerErrorEmpty, emulator::Fault::Drop}) {
        service->inject(fault, "/voice/v1/voiceclient/api2thread/list");
        const int aborts = list->aborts;
        list->loadMessages(HXMessageListModel::Sender::None);
        EXPECT_TRUE(clock->runUntil([&] { return list->aborts > aborts && !list->isLoadingMessages(); }, 30))
            << int(fault);
        clock->runUntilIdle();
        EXPECT_TRUE(stored().empty());
    }
    // A 401 reply to the list renews the session.
    service->inject(emulator::Fault::Unauthorized, "/voice/v1/voiceclient/api2thread/list");
    list->loadMessages(HXMessageListModel::Sender::None);
    EXPECT_TRUE(clock->runUntil([&] { return logins() == 1; }, 30));
    clock->runUntilIdle();
    EXPECT_TRUE(stored().empty());
}

TEST_F(ListSync, SearchTextIsEscapedIntoTheBodyAndPercentEncodedIntoTheTag) {
    start(seeded(30));
    list->setSearchText("say \"hi\" \\ o'clock & more");
    list->loadMessages(HXMessageListModel::Sender::ListScreen);
    EXPECT_TRUE(clock->runUntil([&] { return service->requestCount() == 1; }, 30));
    auto r = service->requests().at(0);
    EXPECT_EQ(r.path, "/voice/v1/voiceclient/api2thread/search");
    EXPECT_EQ(r.body, R"(["say \"hi\" \\ o'clock & more",200,null,null,null,[null,true,true]])");
    clock->runUntil([&] { return inFlight() == 0; }, 30);
    clock->runUntilIdle();
}

TEST_F(ListSync, ARefreshWaitsForTheUnreadListAndTheBadgeLeavesOutTheOpenConversation) {
    start(seeded(12));
    auto& web = HXWebClientOf(*app);
    const std::string unread = web.endpoints.servicePageBase() + "inbox/recent/unread/";
    web.requests.put(unread, HXRequestEntry{std::make_shared<foundation::Data>(), nullptr});
    list->loadMessages(HXMessageListModel::Sender::None);
    clock->advance(1.6);
    EXPECT_EQ(service->requestCount(), 0u);  // asked again every half second while it runs
    web.requests.erase(unread);
    clock->advance(0.5);
    ASSERT_TRUE(runUntil([&] { return view->refreshes > 0 && inFlight() == 0; }));
    clock->runUntilIdle();
    EXPECT_EQ(requestsTo("/voice/v1/voiceclient/api2thread/list").size(), 1u);

    // The SMS badge counts the unread conversations, less the one open on screen.
    auto badgeView = std::make_shared<hxtest::RecordingListView>();
    auto badge = std::make_shared<HXMessageListModel>(
        app, HXMessageListModel::smsViewSettings(web.endpoints.servicePageBase()), badgeView);
    const size_t unreadStored = [&] {
        size_t n = 0;
        for (const auto& [id, c] : stored()) n += !c.read;
        return n;
    }();
    ASSERT_GT(unreadStored, 0u);
    badge->updateBadgeValue();
    badgeView->openRead = false;
    badge->updateBadgeValue();
    auto calls = app->shell().calls();
    std::vector<std::string> counts;
    for (const auto& c : calls)
        if (c.rfind("setUnreadCount", 0) == 0) counts.push_back(c);
    EXPECT_EQ(counts, (std::vector<std::string>{"setUnreadCount " + std::to_string(unreadStored) + " 1",
                                                "setUnreadCount " + std::to_string(unreadStored - 1) + " 1"}));
}

TEST_F(ListSync, APictureIdIsOneSegmentOfItsRequestsPath) {
    start(seeded(40));
    hxtest::TempDir cacheRoot;
    auto cache = HXCCache::create(std::string("SegmentTest"), cacheRoot.path());
    HXWebClientOf(*app).objectCache = cache;
    // The service names a picture with characters that mean something in a path.
    const std::string odd = "p/../q x?#%";
    const bool renamed = service->withAccount([&](emulator::Account& a) {
        for (auto& t : a.threads)
            for (auto& m : t.items)
                for (auto& p : m.attachments)
                    if (p.mimeType.rfind("image/", 0) == 0) {
                        auto media = a.media.extract(p.id);
                        if (media.empty()) continue;
                        media.key() = odd;
                        a.media.insert(std::move(media));
                        p.id = odd;
                        return true;
                    }
        return false;
    });
    ASSERT_TRUE(renamed) << "the seeded account holds pictures";
    auto data = firstListPage();
    std::atomic<int> answers{0};
    list->parseMessagesFromData(data, [&](int) { ++answers; });
    ASSERT_TRUE(runUntil([&] { return answers > 0; }));
    clock->runUntilIdle();
    // Asked for under its own name, escaped as one segment, and nowhere else.
    std::vector<std::string> targets;
    for (const auto& r : service->requests())
        if (r.target.find("q%20x") != std::string::npos || r.path.find("/q") != std::string::npos)
            targets.push_back(r.target);
    EXPECT_EQ(targets, (std::vector<std::string>{"/a/i/p%2F..%2Fq%20x%3F%23%25?s=1"}));
    EXPECT_TRUE(cache->objectForKey(odd));
}

TEST_F(ListSync, ABackgroundFetchBringsTheNewPicturesAlongBeforeItSaves) {
    start(seeded(40));
    hxtest::TempDir cacheRoot;
    auto cache = HXCCache::create(std::string("PrefetchTest"), cacheRoot.path());
    HXWebClientOf(*app).objectCache = cache;
    std::vector<std::string> pictures = service->withAccount([](emulator::Account& a) {
        std::vector<std::string> ids;
        for (const auto& t : a.threads)
            for (const auto& m : t.items)
                for (const auto& p : m.attachments)
                    if (p.mimeType.rfind("image/", 0) == 0) ids.push_back(p.id);
        return ids;
    });
    ASSERT_GE(pictures.size(), 2u) << "the seeded account holds pictures";
    auto data = firstListPage();

    // The fetch is answered once, after every picture reached the cache and the rows the store.
    std::atomic<int> answers{0};
    size_t cachedAtAnswer = 0;
    list->parseMessagesFromData(data, [&](int) {
        ++answers;
        for (const auto& id : pictures) cachedAtAnswer += cache->objectForKey(id) != nullptr;
    });
    ASSERT_TRUE(runUntil([&] { return answers > 0; }));
    clock->runUntilIdle();
    EXPECT_EQ(answers, 1);
    EXPECT_EQ(cachedAtAnswer, pictures.size());
    EXPECT_EQ(stored().size(), 40u);
    for (const auto& id : pictures) {
        auto asked = requestsTo("/a/i/" + id);
        ASSERT_EQ(asked.size(), 1u) << id;
        // The s512 entry of the picture's sizes is its second.
        EXPECT_EQ(asked[0].target, "/a/i/" + id + "?s=1");
        EXPECT_NE(asked[0].header("Cookie").value_or("").find("SID=" + service->sessionValue()), std::string::npos);
        EXPECT_EQ(asked[0].header("Referer").value_or(""), HXWebClientOf(*app).endpoints.webClient);
        EXPECT_EQ(asked[0].header("Accept-Encoding").value_or(""), "gzip, deflate");
        auto object = cache->objectForKey(id);
        ASSERT_TRUE(object && object->value.ifData());
        // What the service drew for the picture, as it served it: a JPEG.
        const std::string served = service->withAccount([&](emulator::Account& a) { return a.media.at(id).bytes; });
        EXPECT_EQ(served.rfind("\xFF\xD8\xFF", 0), 0u);
        EXPECT_EQ(std::string(object->value.ifData()->begin(), object->value.ifData()->end()), served);
    }

    // Pictures already here are not fetched again; a missing one is not kept as its error page.
    const std::string gone = pictures.front();
    cache->removeObjectForKey(gone);
    service->withAccount([&](emulator::Account& a) { return a.media.erase(gone); });
    const size_t before = service->requests().size();
    list->parseMessagesFromData(data, [&](int) { ++answers; });
    ASSERT_TRUE(runUntil([&] { return answers > 1; }));
    clock->runUntilIdle();
    EXPECT_EQ(service->requests().size(), before + 1);
    EXPECT_EQ(requestsTo("/a/i/" + gone).size(), 2u);
    EXPECT_FALSE(cache->objectForKey(gone));
}

TEST_F(ListSync, TheSpamAndArchiveRowsLoadTheirOwnListsAndShowOnlyTheirThreads) {
    emulator::GeneratorOptions o;
    o.seed = 7;
    o.smsThreads = 30;
    o.itemsPerThread = 2;
    o.spamThreads = 4;
    o.archivedThreads = 3;
    start(emulator::generateAccount(o));
    HXMessageListModel::setListFilterIndex(-1);
    // The history list parses the spam and archive replies.
    auto historyView = std::make_shared<hxtest::RecordingListView>();
    auto history = std::make_shared<RecordingList>(
        app, HXMessageListModel::historyViewSettings(HXWebClientOf(*app).endpoints.servicePageBase()), historyView);
    app->shell().changeScript([&](HXShellRecorder::Script& script) { script.messageLists[3] = history; });
    auto filed = service->withAccount([](emulator::Account& a) {
        std::vector<std::pair<int64_t, std::string>> spam, archived;
        for (const auto& t : a.threads) {
            if (t.spam) spam.emplace_back(t.lastTimeMs(), t.id);
            if (t.archived) archived.emplace_back(t.lastTimeMs(), t.id);
        }
        return std::pair{spam, archived};
    });
    auto newestFirst = [](std::vector<std::pair<int64_t, std::string>> threads) {
        std::sort(threads.rbegin(), threads.rend());
        std::vector<std::string> ids;
        for (const auto& t : threads) ids.push_back(t.second);
        return ids;
    };
    auto shown = [&] {
        std::vector<std::string> ids;
        for (const auto& c : list->fetchedResultsController()->fetchedObjects())
            ids.push_back(c->value("conversationID").stringValue());
        return ids;
    };
    struct Case {
        long row;
        int code;
        std::vector<std::string> expected;
    };
    const Case cases[] = {{5, 5, newestFirst(filed.first)}, {4, 6, newestFirst(filed.second)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        list->dropdownDidSelectRow(c.row);
        const size_t before = requestsTo("/voice/v1/voiceclient/api2thread/list").size();
        list->loadMessages(HXMessageListModel::Sender::TableCell);
        ASSERT_TRUE(runUntil([&] {
            return requestsTo("/voice/v1/voiceclient/api2thread/list").size() > before && inFlight() == 0 &&
                   !list->isLoadingMessages();
        }));
        clock->runUntilIdle();
        const auto sent = requestsTo("/voice/v1/voiceclient/api2thread/list");
        ASSERT_GT(sent.size(), before);
        EXPECT_EQ(sent[before].body.substr(0, 3), "[" + std::to_string(c.code) + ",");
        list->filterTable();
        EXPECT_EQ(shown(), c.expected);
    }
    // All holds the archived threads but no spam; the inbox neither (nothing else was loaded).
    list->dropdownDidSelectRow(0);
    EXPECT_EQ(shown(), newestFirst(filed.second));
    list->dropdownDidSelectRow(1);
    EXPECT_EQ(shown(), std::vector<std::string>{});
    EXPECT_EQ(stored().size(), filed.first.size() + filed.second.size());
    HXMessageListModel::setListFilterIndex(-1);
}

namespace {

// The JSON of a text thread as the service lists it, with items of the given ids and texts
// (texts put in as they are: the bytes need not be UTF-8), newest first.
std::string threadJSON(const std::string& id, const std::vector<std::pair<std::string, std::string>>& items,
                       int64_t newestMs) {
    std::string out = "{\"id\":\"" + id +
                      "\",\"read\":true,\"view\":[\"textThreads\"],\"contact\":[{\"phoneNumber\":\"" + id.substr(2) +
                      "\",\"name\":\"" + id.substr(2) + "\"}],\"item\":[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ",";
        out += "{\"id\":\"" + items[i].first + "\",\"type\":\"smsIn\",\"startTime\":\"" +
               std::to_string(newestMs - int64_t(i) * 1000) + "\",\"messageText\":\"" + items[i].second + "\"}";
    }
    return out + "]}";
}

// Malformed UTF-8 of every kind, and the U+FFFD each reads as (one per byte that starts no
// well-formed sequence).
struct BadBytes {
    const char* what;
    std::string bytes;
    size_t replaced;
};
const BadBytes kBadBytes[] = {
    {"bytes that are never UTF-8", "\xff\xfe", 2},
    {"an overlong form", "\xc0\xaf", 2},
    {"an encoded surrogate", "\xed\xa0\x80", 3},
    {"a 4-byte sequence cut short", "\xf0\x9f\x98", 3},
};

std::string replacements(size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += "\xef\xbf\xbd";
    return out;
}

}  // namespace

// A page with malformed UTF-8 in a message's text is stored whole, each malformed byte read as
// U+FFFD and counted, where the page used to be dropped (a list of 20 threads, a conversation
// page of 4 messages); the well-formed texts are stored as they came.
TEST_F(ListSync, MalformedTextInAPageIsReadAsReplacementsAndThePageStored) {
    start(seeded(0));
    const int64_t newest = static_cast<int64_t>(dispatch::wallNow()) * 1000;
    std::string page = "{\"thread\":[";
    size_t expectedReplaced = 0;
    for (int i = 0; i < 20; ++i) {
        if (i) page += ",";
        std::string text = "text " + std::to_string(i);
        if (i % 5 == 0) {
            const auto& bad = kBadBytes[i / 5];
            text = "bad" + bad.bytes + "end";
            expectedReplaced += bad.replaced;
        }
        page +=
            threadJSON("t.+155501000" + std::to_string(10 + i), {{"m" + std::to_string(i), text}}, newest - i * 60'000);
    }
    page += "]}";
    loadListAnswered(page);
    auto have = stored();
    ASSERT_EQ(have.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        const auto& messages = have["t.+155501000" + std::to_string(10 + i)].messages;
        ASSERT_EQ(messages.size(), 1u) << i;
        const std::string want =
            i % 5 == 0 ? "bad" + replacements(kBadBytes[i / 5].replaced) + "end" : "text " + std::to_string(i);
        EXPECT_EQ(messages.begin()->second.text, want) << kBadBytes[i / 5].what;
    }
    EXPECT_EQ(list->replyRepairs().replacedSequences, expectedReplaced);

    // A conversation's page: every message bad in its own way, all four stored.
    const std::string conversation = "t.+15550100010";
    std::vector<std::pair<std::string, std::string>> items;
    for (size_t k = 0; k < 4; ++k) items.emplace_back("c" + std::to_string(k), "page" + kBadBytes[k].bytes);
    service->script("/voice/v1/voiceclient/api2thread/get",
                    {.body = "{\"thread\":" + threadJSON(conversation, items, newest + 60'000) + "}"});
    list->loadConversation(conversation);
    ASSERT_TRUE(clock->runUntil([&] { return stored()[conversation].messages.count("c3") == 1; }, 60));
    clock->runUntilIdle();
    auto messages = stored()[conversation].messages;
    for (size_t k = 0; k < 4; ++k)
        EXPECT_EQ(messages["c" + std::to_string(k)].text, "page" + replacements(kBadBytes[k].replaced))
            << kBadBytes[k].what;
    EXPECT_EQ(list->replyRepairs().replacedSequences, 2 * expectedReplaced);
    EXPECT_EQ(list->replyRepairs().threadsBeyondBound, 0u);
}

// A reply far larger than the page asked for is stored up to ten times the page, the rest left
// out and counted: 250 threads to a request for 20, 1,500 messages to one for 100.
TEST_F(ListSync, APageIsStoredUpToTenTimesWhatWasAskedFor) {
    start(seeded(0));
    const int64_t newest = static_cast<int64_t>(dispatch::wallNow()) * 1000;
    std::string page = "{\"thread\":[";
    for (int i = 0; i < 250; ++i) {
        if (i) page += ",";
        page +=
            threadJSON("t.+1555020" + std::to_string(1000 + i), {{"m" + std::to_string(i), "hi"}}, newest - i * 60'000);
    }
    page += "]}";
    loadListAnswered(page);
    auto have = stored();
    EXPECT_EQ(have.size(), 200u);
    EXPECT_EQ(have.count("t.+15550201000"), 1u) << "the page's first threads are the ones kept";
    EXPECT_EQ(list->replyRepairs().threadsBeyondBound, 50u);

    const std::string conversation = "t.+15550201000";
    std::vector<std::pair<std::string, std::string>> items;
    for (int k = 0; k < 1500; ++k) items.emplace_back("c" + std::to_string(k), "message " + std::to_string(k));
    service->script("/voice/v1/voiceclient/api2thread/get",
                    {.body = "{\"thread\":" + threadJSON(conversation, items, newest + 3'600'000) + "}"});
    list->loadConversation(conversation);
    ASSERT_TRUE(clock->runUntil([&] { return list->replyRepairs().itemsBeyondBound > 0 && inFlight() == 0; }, 60));
    clock->runUntilIdle();
    auto messages = stored()[conversation].messages;
    // The newest 1,000 of the page, and the one listed before: a page not read whole does not
    // cover what is older.
    EXPECT_EQ(messages.size(), 1001u);
    EXPECT_EQ(messages.count("c0"), 1u);
    EXPECT_EQ(messages.count("c999"), 1u);
    EXPECT_EQ(messages.count("c1000"), 0u);
    EXPECT_EQ(list->replyRepairs().itemsBeyondBound, 500u);
}

// A page from which nothing can be stored (items of a type the app does not know, a thread
// without an id) still moves the list back to where the page ends, so each page is asked for
// once; the same page again does not move the marker and ends the list. What was left out is
// counted. The list used to ask for its first page again and again.
TEST_F(ListSync, APageOfUnknownItemTypesIsAskedForOnceAndItsSkipsCounted) {
    start(seeded(0));
    const int64_t newest = static_cast<int64_t>(dispatch::wallNow()) * 1000 - 3'600'000;
    std::string page = "{\"response\":{\"conversation\":[{\"id\":\"x\"}]},\"thread\":[";
    for (int i = 0; i < 20; ++i) {
        const std::string id = "t.+15550300" + std::to_string(100 + i);
        page += "{\"id\":\"" + id + "\",\"view\":[\"textThreads\"],\"item\":[{\"id\":\"r" + std::to_string(i) +
                "\",\"type\":\"rcsIn\",\"startTime\":\"" + std::to_string(newest - i * 60'000) +
                "\",\"messageText\":\"hello\"}]},";
    }
    // A thread without an id, the page's oldest.
    page += "{\"item\":[{\"id\":\"q\",\"type\":\"smsIn\",\"startTime\":\"" + std::to_string(newest - 3'600'000) +
            "\",\"messageText\":\"lost\"}]}]}";
    service->script("/voice/v1/voiceclient/api2thread/list", {.body = page}, 50);
    const std::string listPath = "/voice/v1/voiceclient/api2thread/list";
    // Scrolled to the end as a user would, the load-more row pressed whenever the list stops.
    list->loadMessages(HXMessageListModel::Sender::None);
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(clock->runUntil([&] { return inFlight() == 0 && !list->isLoadingMessages(); }, 60));
        clock->runUntilIdle();
        if (inFlight() || list->isLoadingMessages()) continue;
        if (list->reloadPage() == 0 || requestsTo(listPath).size() > 10) break;
        list->loadMessages(HXMessageListModel::Sender::TableCell);
    }
    auto sent = requestsTo(listPath);
    ASSERT_EQ(sent.size(), 2u) << "the same page asked for again and again";
    EXPECT_EQ(sent[0].body, "[2,20,15,null,null,[null,true,true]]");
    // The second page ends a second before the oldest thread, the one without an id.
    EXPECT_EQ(sent[1].body,
              "[2,20,15,\"" + std::to_string((newest - 3'600'000) / 1000 * 1000 - 1000) + "\",null,[null,true,true]]");
    EXPECT_EQ(list->reloadPage(), 0u);
    EXPECT_TRUE(stored().empty());
    EXPECT_EQ(list->replyRepairs().itemsSkipped, 40u);
    EXPECT_EQ(list->replyRepairs().threadsSkipped, 42u);
}
