// The lists' list types and search: the dropdown's rows and titles, the predicate of every row of
// every list and of searches in each scope against an independent reading of the same rows in
// python3, the stored row chosen again on coming on screen, the page counters and paging
// observers a choice changes, the history's types following "showFullHistory", and the voicemail
// prefetch asked from many threads at once.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <thread>

#include "app/connect_app_delegate.h"
#include "model/account.h"
#include "model/message_store.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/json.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/store/context.h"
#include "service/message_list_model.h"
#include "tests/service/recording_list_view.h"
#include "tests/support/signed_in_account.h"
#include "tests/support/test_support.h"

namespace {

using foundation::Value;
using L = HXMessageListModel;

struct ListFilter : ::testing::Test {
    dispatch::ScopedVirtualClock clock{1'760'000'100.0};
    std::shared_ptr<HX_ConnectAppDelegate> app = std::make_shared<HX_ConnectAppDelegate>();
    std::vector<std::shared_ptr<hxtest::RecordingListView>> views;
    std::shared_ptr<foundation::UserDefaults> defaults = foundation::UserDefaults::standardUserDefaults();

    void SetUp() override {
        dispatch::RunLoop::main();
        app->setAccount(
            hxtest::signedInAccount("filter-" + std::to_string(::getpid()) + "@example.test", std::nullopt, "AuthV2"));
        ASSERT_TRUE(app->resetPersistentStore().ok());
        L::setListFilterIndex(-1);
        for (const char* key : {"SMS_Filter", "VM_Filter", "History_Filter", "showFullHistory"})
            defaults->removeObjectForKey(key);
    }
    void TearDown() override {
        clock->runUntilIdle();
        L::setListFilterIndex(-1);
    }
    std::shared_ptr<L> list(int viewType) {
        views.push_back(std::make_shared<hxtest::RecordingListView>());
        return std::make_shared<L>(app, L::viewSettingsForType(viewType, "https://voice.test/voice/"), views.back());
    }
    static std::vector<std::string> ids(const std::shared_ptr<L>& l) {
        std::vector<std::string> out;
        for (const auto& c : l->fetchedResultsController()->fetchedObjects())
            out.push_back(c->value("conversationID").stringValue());
        return out;
    }
};

// Names, notes and texts that a search has to find or not: letter case, diacritics in composed
// and decomposed form, quotes, backslashes, "%" and "*" (which a LIKE would take as patterns),
// letters whose folding changes their length.
const char* const kNames[] = {"Zoë Åström",
                              "ZOE ASTROM",
                              "Zoe\xcc\x88 Ma\xcc\x81rquez",
                              "O'Brien \"Bob\"",
                              "100% sure",
                              "100 percent",
                              "back\\slash",
                              "Straße Bauer",
                              "STRASSE",
                              "İlkay",
                              "ﬁnn the ﬁsh",
                              "Ünal",
                              "*star*",
                              "",
                              "Ann Ng",
                              "Ñandú"};
const char* const kTexts[] = {
    "See you at 5", "can't wait", "50% off today", "Crème brûlée?", "\"quoted\" words", "plain", "FINN here",
    "ünïcödé",      "",           "a_b c%d"};

}  // namespace

TEST_F(ListFilter, DropdownRowsTitlesAndListTypes) {
    auto sms = list(1), vm = list(2), history = list(3);
    EXPECT_EQ(sms->numberOfDropdownRows(), 6);
    EXPECT_EQ(vm->numberOfDropdownRows(), 6);
    EXPECT_EQ(history->numberOfDropdownRows(), 7);
    const std::vector<std::string> messages{"All", "Inbox", "Unread", "Starred", "Archive", "Spam"};
    const std::vector<std::string> calls{"All", "Placed", "Received", "Missed", "Recorded", "Starred", "Spam"};
    for (long r = -2; r < 9; ++r) {
        const auto at = [&](const std::vector<std::string>& t) {
            return r >= 0 && r < static_cast<long>(t.size()) ? t[static_cast<size_t>(r)] : std::string();
        };
        EXPECT_EQ(sms->dropDownTitleForIndex(r), at(messages)) << r;
        EXPECT_EQ(vm->dropDownTitleForIndex(r), at(messages)) << r;
        EXPECT_EQ(history->dropDownTitleForIndex(r), at(calls)) << r;
    }
    // Only All, Spam, Starred and Archive are list types of their own; the rest is 0.
    EXPECT_EQ((std::vector<int>{sms->listTypeForIndex(-1), sms->listTypeForIndex(0), sms->listTypeForIndex(1),
                                sms->listTypeForIndex(2), sms->listTypeForIndex(3), sms->listTypeForIndex(4),
                                sms->listTypeForIndex(5), sms->listTypeForIndex(6)}),
              (std::vector<int>{0, 3, 0, 0, 1, 8, 2, 0}));
    EXPECT_EQ(
        (std::vector<int>{history->listTypeForIndex(0), history->listTypeForIndex(1), history->listTypeForIndex(4),
                          history->listTypeForIndex(5), history->listTypeForIndex(6)}),
        (std::vector<int>{3, 0, 0, 1, 2}));
    EXPECT_EQ(L::listTitleForType(0), std::nullopt);
    EXPECT_EQ(L::listTitleForType(11), std::nullopt);
    EXPECT_EQ(L::listTitleForType(9), std::optional<std::string>("Missed"));

    // The settings each list keeps.
    const auto s = sms->viewSettings(), v = vm->viewSettings(), h = history->viewSettings();
    EXPECT_EQ(s.get("filterKey").stringValue(), "SMS_Filter");
    EXPECT_EQ(v.get("filterKey").stringValue(), "VM_Filter");
    EXPECT_EQ(h.get("filterKey").stringValue(), "History_Filter");
    EXPECT_EQ(foundation::toJSON(s.get("labels")).value(), R"(["sms"])");
    EXPECT_EQ(foundation::toJSON(v.get("labels")).value(), R"(["voicemail","recorded"])");
    EXPECT_EQ(foundation::toJSON(h.get("labels")).value(), R"(["all"])");
    EXPECT_EQ(s.get("rowHeight").doubleValue(), 0.0);
    EXPECT_TRUE(h.get("rowHeight").isNumber());
}

TEST_F(ListFilter, TheStoredRowIsChosenOnComingOnScreenAndOneOutsideTheTableChoosesRowZero) {
    auto sms = list(1), history = list(3);
    // No stored row: row 0 (the shared row starts at -1).
    EXPECT_EQ(sms->selectStoredRow(), std::optional<long>(0));
    EXPECT_EQ(L::listFilterIndex(), 0);
    EXPECT_EQ(sms->selectStoredRow(), std::nullopt) << "the same row is not chosen again";
    struct Case {
        int64_t stored;
        long chosen;
    };
    for (const Case c : {Case{6, 0}, Case{-1, 0}, Case{-7, 0}, Case{5, 5}, Case{int64_t{1} << 40, 0}, Case{3, 3}}) {
        L::setListFilterIndex(99);
        defaults->setInteger(c.stored, "SMS_Filter");
        EXPECT_EQ(sms->selectStoredRow(), std::optional<long>(c.chosen)) << c.stored;
        EXPECT_EQ(L::listFilterIndex(), c.chosen);
        EXPECT_EQ(defaults->integerForKey("SMS_Filter"), c.chosen) << "the row chosen is stored";
    }
    // History's Spam (row 6) is outside the text list's rows: switching lists picks each one's own.
    history->dropdownDidSelectRow(6);
    EXPECT_EQ(history->selectedListType(), L::Spam);
    EXPECT_EQ(sms->selectStoredRow(), std::optional<long>(3));
    EXPECT_EQ(sms->selectedListType(), L::Starred);
    EXPECT_EQ(history->selectStoredRow(), std::optional<long>(6));
}

TEST_F(ListFilter, ChoosingARowResetsItsPageAndObservesSpamOrArchivePagingOnlyWhileChosen) {
    auto sms = list(1);
    auto& center = foundation::NotificationCenter::defaultCenter();
    auto postPaging = [&](int64_t spam, int64_t archive) {
        center.post("kAdditionalSpamMessagesReloadCompleteNotification", nullptr, {{"spamPage", Value(spam)}});
        center.post("kAdditionalArchiveMessagesReloadCompleteNotification", nullptr, {{"archivePage", Value(archive)}});
    };
    auto pages = [&] { return std::vector<uint64_t>{sms->reloadPage(), sms->spamPage(), sms->archivePage()}; };
    sms->setReloadPage(0);
    sms->setSpamPage(0);
    sms->setArchivePage(0);
    sms->dropdownDidSelectRow(5);  // Spam
    EXPECT_EQ(pages(), (std::vector<uint64_t>{0, 1, 0}));
    postPaging(77, 88);
    EXPECT_EQ(pages(), (std::vector<uint64_t>{0, 77, 0})) << "only the spam paging is observed";
    // The same row again refilters but changes no counter and no observer.
    const int scrolls = views.back()->scrolls;
    sms->dropdownDidSelectRow(5);
    EXPECT_EQ(pages(), (std::vector<uint64_t>{0, 77, 0}));
    EXPECT_EQ(views.back()->scrolls, scrolls + 1) << "the dropdown's filter scrolls to the top";
    sms->dropdownDidSelectRow(4);  // Archive
    EXPECT_EQ(pages(), (std::vector<uint64_t>{0, 77, 1}));
    postPaging(5, 6);
    EXPECT_EQ(pages(), (std::vector<uint64_t>{0, 77, 6})) << "spam paging no longer observed";
    sms->dropdownDidSelectRow(0);
    EXPECT_EQ(pages(), (std::vector<uint64_t>{1, 77, 6}));
    postPaging(9, 9);
    EXPECT_EQ(pages(), (std::vector<uint64_t>{1, 77, 6})) << "neither observed while All is chosen";
    EXPECT_EQ(sms->selectedListType(), L::Normal);

    // Signed out, only row 0 resets a counter (reloadPage).
    app->account()->setAuthV2(std::nullopt);
    sms->setReloadPage(0);
    sms->dropdownDidSelectRow(5);
    EXPECT_EQ(pages(), (std::vector<uint64_t>{0, 77, 6}));
    sms->dropdownDidSelectRow(0);
    EXPECT_EQ(pages(), (std::vector<uint64_t>{1, 77, 6}));
    // A paging notice with a negative page never wraps to a huge marker.
    sms->spamOrArchiveReloadComplete({{"spamPage", Value(int64_t{-3})}, {"archivePage", Value("x")}});
    EXPECT_EQ(pages(), (std::vector<uint64_t>{1, 0, 6}));
}

TEST_F(ListFilter, HistoryTypesFollowShowFullHistory) {
    defaults->setBool(false, "showFullHistory");
    EXPECT_EQ(L::viewSettingsForType(3, "w/").get("typeMask").int64Value(), 242067);
    defaults->setBool(true, "showFullHistory");
    EXPECT_EQ(L::viewSettingsForType(3, "w/").get("typeMask").int64Value(), 245143);
    EXPECT_EQ(L::viewSettingsForType(1, "w/").get("typeMask").int64Value(), 3072);
    EXPECT_EQ(L::viewSettingsForType(2, "w/").get("typeMask").int64Value(), 20);

    defaults->setBool(false, "showFullHistory");
    auto history = list(3), sms = list(1);
    auto context = app->managedObjectContext();
    for (auto [id, type] : {std::pair{"call", 1}, std::pair{"text", 10}, std::pair{"vm", 2}}) {
        auto c = context->insertNewObject(HXMessageStore::kConversationEntity).value();
        (void)c->setValue("conversationID", std::string(id));
        (void)c->setValue("type", int64_t{type});
        (void)c->setValue("lastdate", foundation::Date{1'700'000'000.0 + type});
    }
    ASSERT_TRUE(context->save().ok());
    history->selectStoredRow();
    EXPECT_EQ(ids(history), std::vector<std::string>{"call"});
    // Turning it on brings texts and voicemail in from the store, scrolled to the top.
    defaults->setBool(true, "showFullHistory");
    const int scrolls = views[0]->scrolls;
    foundation::NotificationCenter::defaultCenter().post("kHistoryItemsSettingDidChangeNotification");
    EXPECT_EQ(ids(history), (std::vector<std::string>{"text", "vm", "call"}));
    EXPECT_EQ(views[0]->scrolls, scrolls + 1);
    EXPECT_EQ(sms->viewSettings().get("typeMask").int64Value(), 3072) << "the other lists keep theirs";
}

TEST_F(ListFilter, AFilterNobodyAskedForWaitsForTheNextFetchAndTheSearchBarDoesNotScroll) {
    auto sms = list(1);
    auto frc = sms->fetchedResultsController();
    clock->runUntilIdle();  // the controller's own first filter
    auto& view = *views.back();
    const int reloads = view.tableReloads, scrolls = view.scrolls;
    auto context = app->managedObjectContext();
    auto c = context->insertNewObject(HXMessageStore::kConversationEntity).value();
    (void)c->setValue("conversationID", std::string("x"));
    (void)c->setValue("type", int64_t{10});
    (void)c->setValue("sender", std::string("Xavier"));
    ASSERT_TRUE(context->save().ok());
    sms->setSearchText("nobody");
    sms->filterTable(L::FilterSender::None);
    EXPECT_EQ(view.tableReloads, reloads) << "fetched before: no fetch now";
    EXPECT_EQ(ids(sms), std::vector<std::string>{"x"});
    sms->filterTable(L::FilterSender::SearchBar);
    EXPECT_TRUE(ids(sms).empty());
    EXPECT_EQ(view.tableReloads, reloads + 1);
    EXPECT_EQ(view.scrolls, scrolls);
    sms->setSearchText("XAV");
    sms->filterTable(L::FilterSender::Other);
    EXPECT_EQ(ids(sms), std::vector<std::string>{"x"});
    EXPECT_EQ(view.scrolls, scrolls + 1);
}

namespace {

// Which conversations each case shows, read from the rows alone: the dropdown's row tables, the
// search by scope, and letter case and diacritics folded (casefold, canonical decomposition with
// its marks dropped).
const char* const kFilterOracle = R"PY(
import json, sys, unicodedata
rows, cases, actual = (json.load(open(p)) for p in sys.argv[1:4])
MASKS = {1: 3072, 2: 20, 3: 245143}
def fold(s):
    s = unicodedata.normalize("NFD", s.casefold())
    return "".join(ch for ch in s if unicodedata.category(ch) != "Mn").casefold()
def has(field, text): return fold(text) in fold(field or "")
def types(mask): return {t for t in range(64) if mask >> t & 1}
def shown(case):
    view, row, scope, text = case["view"], case["row"], case["scope"], case["text"]
    mask = MASKS[view]
    ok = lambda c: not c["isTrash"] and not c["isSpam"]
    if view == 3:
        mask = {1: 242048, 2: 2, 3: 1, 4: 16}.get(row, mask)
        if row == 5: ok = lambda c: c["isStarred"] and not c["isTrash"] and not c["isSpam"]
        if row == 6: ok = lambda c: c["isSpam"]
    else:
        ok = {0: ok,
              1: lambda c: not c["isArchived"] and not c["isSpam"] and not c["isTrash"],
              2: lambda c: not c["isRead"] and not c["isSpam"] and not c["isTrash"],
              3: lambda c: c["isStarred"] and not c["isSpam"] and not c["isTrash"],
              4: lambda c: c["isArchived"] and not c["isSpam"] and not c["isTrash"],
              5: lambda c: c["isSpam"]}.get(row, lambda c: True)
    def found(c):
        if not text: return True
        note_scope = (view == 3 and scope == 1) or (view != 3 and scope == 2)
        if note_scope: return has(c["note"], text)
        if scope == 1: return any(has(m, text) for m in c["messages"])
        return has(c["sender"], text) or has(c["ABName"], text)
    picked = [c for c in rows if c["type"] in types(mask) and ok(c) and found(c)]
    picked.sort(key=lambda c: -c["lastdate"])
    return [c["id"] for c in picked]
failures = 0
for case, got in zip(cases, actual):
    want = shown(case)
    if want != got:
        failures += 1
        print("%s: expected %s, shown %s" % (json.dumps(case, ensure_ascii=False), want, got))
print("cases %d" % len(cases), file=sys.stderr)
)PY";

}  // namespace

TEST_F(ListFilter, EveryRowAndSearchShowsWhatAnIndependentReadingOfTheRowsGives) {
    if (!hxtest::haveProgram("python3")) GTEST_SKIP() << "python3 not installed";
    defaults->setBool(true, "showFullHistory");
    // 96 conversations of every type the lists know and some they do not, flags in every
    // combination, names, notes and texts from the tables above.
    const int kTypes[] = {0, 1, 2, 3, 4, 7, 8, 9, 10, 11, 12, 13, 15, 16, 17, 10, 11, 10, 2, 4};
    auto context = app->managedObjectContext();
    foundation::Array rows;
    for (int i = 0; i < 96; ++i) {
        const int type = kTypes[i % std::size(kTypes)];
        const bool spam = i % 7 == 3, trash = i % 11 == 5, archived = i % 4 == 1, read = i % 3 != 0,
                   starred = i % 5 == 2;
        const std::string sender = kNames[i % std::size(kNames)];
        const std::string name = i % 3 == 0 ? std::string(kNames[(i * 5 + 3) % std::size(kNames)]) : std::string();
        const std::string note = i % 4 == 2 ? std::string(kTexts[(i * 3) % std::size(kTexts)]) : std::string();
        const std::string id = "c" + std::to_string(i);
        auto c = context->insertNewObject(HXMessageStore::kConversationEntity).value();
        (void)c->setValue("conversationID", id);
        (void)c->setValue("type", int64_t{type});
        (void)c->setValue("isSpam", spam);
        (void)c->setValue("isTrash", trash);
        (void)c->setValue("isArchived", archived);
        (void)c->setValue("isRead", read);
        (void)c->setValue("isStarred", starred);
        (void)c->setValue("sender", sender);
        if (!name.empty()) (void)c->setValue("ABName", name);
        if (!note.empty()) (void)c->setValue("note", note);
        (void)c->setValue("lastdate", foundation::Date{1'700'000'000.0 + (i * 37) % 96 * 60});
        foundation::Array texts;
        for (int m = 0; m < i % 3; ++m) {
            const std::string text = kTexts[(i + m * 7) % std::size(kTexts)];
            auto message = context->insertNewObject(HXMessageStore::kMessageEntity).value();
            (void)message->setValue("id", id + "-" + std::to_string(m));
            (void)message->setValue("message", text);
            (void)message->setObject("Conversation", c);
            texts.emplace_back(text);
        }
        rows.emplace_back(foundation::Dictionary{{"id", Value(id)},
                                                 {"type", Value(int64_t{type})},
                                                 {"isSpam", Value(spam)},
                                                 {"isTrash", Value(trash)},
                                                 {"isArchived", Value(archived)},
                                                 {"isRead", Value(read)},
                                                 {"isStarred", Value(starred)},
                                                 {"sender", Value(sender)},
                                                 {"ABName", name.empty() ? Value() : Value(name)},
                                                 {"note", note.empty() ? Value() : Value(note)},
                                                 {"lastdate", Value(int64_t{1'700'000'000 + (i * 37) % 96 * 60})},
                                                 {"messages", Value(texts)}});
    }
    ASSERT_TRUE(context->save().ok());

    // Every row of every list with no search (the first row -1 and one past the table too), then
    // twenty searches in each scope under a few rows.
    const char* const kSearches[] = {"zoe",  "ZOË", "zoë",        "astrom", "o'brien", "\"bob\"", "100%",
                                     "%",    "\\",  "strasse",    "ß",      "ilkay",   "fin",     "FISH",
                                     "unal", "*",   "creme brul", "50%",    "nandu",   "a_b c%"};
    std::shared_ptr<L> lists[] = {list(1), list(2), list(3)};
    foundation::Array cases, actual;
    auto run = [&](int view, long row, int scope, const std::string& text) {
        auto& l = lists[view - 1];
        L::setListFilterIndex(row);
        l->setSearchScope(scope);
        l->setSearchText(text);
        l->filterTable(L::FilterSender::SearchBar);
        cases.emplace_back(foundation::Dictionary{{"view", Value(int64_t{view})},
                                                  {"row", Value(int64_t{row})},
                                                  {"scope", Value(int64_t{scope})},
                                                  {"text", Value(text)}});
        foundation::Array shown;
        for (const auto& id : ids(l)) shown.emplace_back(id);
        actual.emplace_back(shown);
    };
    for (int view = 1; view <= 3; ++view) {
        for (long row = -1; row <= lists[view - 1]->numberOfDropdownRows(); ++row) run(view, row, 0, "");
        for (const char* text : kSearches)
            for (int scope = 0; scope < (view == 3 ? 2 : 3); ++scope)
                for (long row : {0L, 3L, 5L}) run(view, row, scope, text);
    }
    hxtest::TempDir dir;
    auto write = [&](const std::string& name, const Value& v) {
        std::ofstream(dir / name) << foundation::toJSON(v).value();
        return "'" + (dir / name).string() + "'";
    };
    std::ofstream(dir / "oracle.py") << kFilterOracle;
    std::string differences;
    ASSERT_EQ(hxtest::runCommand("python3 '" + (dir / "oracle.py").string() + "' " + write("rows.json", rows) + " " +
                                     write("cases.json", cases) + " " + write("actual.json", actual),
                                 &differences),
              0);
    EXPECT_EQ(differences, "");
    // The cases are not vacuous: every search text finds something somewhere, many cases show
    // rows and some show none.
    size_t empty = 0;
    std::map<std::string, size_t> found;
    for (size_t i = 0; i < actual.size(); ++i) {
        const size_t n = actual[i].asArray().size();
        empty += n == 0;
        found[cases[i].asDictionary().get("text").stringValue()] += n;
    }
    for (const char* text : kSearches) EXPECT_GT(found[text], 0u) << text;
    EXPECT_GT(empty, 10u);
    EXPECT_GT(actual.size() - empty, 100u);
}

// A parse that ends on a worker reads the list-type tables while the process may be exiting: they
// outlive the static destructors. A child keeps reading them on a thread of its own while its main
// thread exits; the sanitizer builds report a read of a destroyed table (a race with its
// destruction, or a use after free) and fail the child's exit.
TEST(ListTypeTables, AThreadStillReadingThemWhileTheProcessExitsFindsThemWhole) {
    hxtest::TempDir dir;
    const auto run = hxtest::runChild("ListTypeTablesChild.ExitsWhileAThreadReadsThem", {"HX_LIST_TABLES_CHILD=1"},
                                      (dir.path() / "output.txt").string());
    ASSERT_TRUE(run.said("reading")) << run.output;
    ASSERT_TRUE(WIFEXITED(run.status)) << run.output;
    EXPECT_EQ(WEXITSTATUS(run.status), 0) << run.output;
}

TEST(ListTypeTablesChild, ExitsWhileAThreadReadsThem) {
    if (!std::getenv("HX_LIST_TABLES_CHILD")) GTEST_SKIP() << "the child of the test above";
    static std::atomic<long> seen{0};
    std::thread([] {
        for (;;) {
            long sum = 0;
            for (int64_t view : {2, 3})
                for (int type : HXMessageListModel::listTypesOfRows(view)) sum += type;
            seen.store(sum);
        }
    }).detach();
    while (seen.load() == 0) std::this_thread::yield();
    hxtest::tellParent("reading");
    std::exit(0);
}

TEST_F(ListFilter, VoicemailPrefetchAsksOncePerIdFromManyThreads) {
    // Signed out, the downloads asked for end at once, without a request.
    app->account()->setAuthV2(std::nullopt);
    auto vm = list(2);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) vm->prefetchVM("vm" + std::to_string((i + t) % 20));
            vm->prefetchVM("");
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(vm->vmPrefetchList().size(), 20u);
    vm->clearVMPrefetchList();
    EXPECT_TRUE(vm->vmPrefetchList().empty());
}

TEST_F(ListFilter, AnySearchTextIsTakenAsTextAndOnlyNarrowsTheList) {
    // Texts made of what a format or a pattern could mistake for syntax, and bytes that are not
    // UTF-8: each parses, and shows a part of what the row shows without a search.
    auto context = app->managedObjectContext();
    for (int i = 0; i < 12; ++i) {
        auto c = context->insertNewObject(HXMessageStore::kConversationEntity).value();
        (void)c->setValue("conversationID", "c" + std::to_string(i));
        (void)c->setValue("type", int64_t{i % 2 ? 10 : 11});
        (void)c->setValue("sender", std::string(i % 3 ? "%@ \"x\" 'y' \\ *?" : "plain"));
        (void)c->setValue("note", std::string("AND OR NOT == %d %K $VAR"));
        (void)c->setValue("lastdate", foundation::Date{1'700'000'000.0 + i});
    }
    ASSERT_TRUE(context->save().ok());
    auto sms = list(1);
    L::setListFilterIndex(0);
    sms->filterTable(L::FilterSender::SearchBar);
    const auto all = ids(sms);
    ASSERT_EQ(all.size(), 12u);
    const std::string pieces[] = {"%@", "%K", "$VAR", "\"", "'",    "\\",   "*",    "?",   "%", "AND", " OR ",     "==",
                                  "(",  ")",  "{",    "}",  "\xff", "\xc3", "\x00", "ANY", "x", "é",   "e\xcc\x81"};
    uint64_t state = 0x2545F4914F6CDD1Dull;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    size_t narrowed = 0;
    for (int round = 0; round < 300; ++round) {
        std::string text;
        for (uint64_t n = 1 + next() % 4; n > 0; --n) text += pieces[next() % std::size(pieces)];
        const int scope = static_cast<int>(next() % 4);  // 3 is no scope of the bar
        sms->setSearchText(text);
        sms->setSearchScope(scope);
        auto predicate = sms->listPredicate();
        ASSERT_TRUE(predicate.ok()) << text;
        sms->filterTable(L::FilterSender::SearchBar);
        const auto shown = ids(sms);
        for (const auto& id : shown) EXPECT_NE(std::find(all.begin(), all.end(), id), all.end()) << text;
        narrowed += shown.size() < all.size();
    }
    EXPECT_GT(narrowed, 250u);
    // The note's words are found as words, not read as the format's.
    sms->setSearchScope(2);
    sms->setSearchText("%d %K $VAR");
    sms->filterTable(L::FilterSender::SearchBar);
    EXPECT_EQ(ids(sms).size(), 12u);
    sms->setSearchScope(0);
    sms->setSearchText("%@ \"X\"");
    sms->filterTable(L::FilterSender::SearchBar);
    EXPECT_EQ(ids(sms).size(), 8u);
}
