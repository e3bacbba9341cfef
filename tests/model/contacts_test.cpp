#include "model/contacts.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <atomic>
#include <functional>
#include <map>

#include "app/connect_app_delegate.h"
#include "model/message_store.h"
#include "model/phone_extensions.h"
#include "model/phone_format.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/screen_scale.h"
#include "platform/services/contacts.h"
#include "platform/services/url_opener.h"
#include "platform/store/context.h"
#include "tests/support/contacts.h"
#include "tests/support/shell_recorder.h"
#include "tests/support/test_support.h"

using foundation::Dictionary;
using foundation::Value;
using hxcontacts::ContactEntry;
using hxcontacts::ContactList;

namespace {

ContactEntry entry(std::string number, std::optional<std::string> name, double last = 0,
                   std::optional<std::string> label = std::nullopt, std::string id = "r") {
    Dictionary d;
    d.set("number", Value(std::move(number)));
    if (name) d.set("name", Value(*name));
    d.set("recordID", Value(std::move(id)));
    if (label) d.set("label", Value(*label));
    d.set("lastSelection", Value(last));
    return std::make_shared<const Dictionary>(std::move(d));
}

std::vector<std::string> names(const ContactList& l) {
    std::vector<std::string> out;
    for (auto& e : l) out.push_back(e->get("name").stringValue("<none>"));
    return out;
}

using hxtest::person;

// ---- vCard

TEST(VCardTest, ReadsVersion3WithFoldingEscapesTypesAndPhoto) {
    const std::string text =
        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Smith;John;Q;Dr.;\r\nFN:Dr. John Q Smith\r\n"
        "NICKNAME:Johnny\\, J\r\nORG:Acme\\; Sons;Sales\r\n"
        "item1.TEL;TYPE=CELL,VOICE:+1 555 12\r\n 3 4567\r\nTEL;type=WORK;type=FAX:+1 555 000 1111\r\n"
        "TEL;HOME:555-2222\r\nPHOTO;ENCODING=b;TYPE=JPEG:AAEC\r\n AwQ=\r\nUID:abc-1\r\nEND:VCARD\r\n";
    auto cards = services::readVCards(text);
    ASSERT_TRUE(cards.ok()) << cards.error().description();
    ASSERT_EQ(cards->size(), 1u);
    const auto& c = cards->front();
    EXPECT_EQ(c.familyName, "Smith");
    EXPECT_EQ(c.givenName, "John");
    EXPECT_EQ(c.middleName, "Q");
    EXPECT_EQ(c.namePrefix, "Dr.");
    EXPECT_EQ(c.nickname, "Johnny, J");
    EXPECT_EQ(c.organizationName, "Acme; Sons");
    EXPECT_EQ(c.identifier, "abc-1");
    ASSERT_EQ(c.phoneNumbers.size(), 3u);
    EXPECT_EQ(c.phoneNumbers[0], (services::LabeledPhoneNumber{"mobile", "+1 555 123 4567"}));
    EXPECT_EQ(c.phoneNumbers[1].label, "workFax");
    EXPECT_EQ(c.phoneNumbers[2].label, "home");
    ASSERT_TRUE(c.thumbnailImageData);
    EXPECT_EQ(*c.thumbnailImageData, (foundation::Data{0, 1, 2, 3, 4}));
}

TEST(VCardTest, ReadsVersion4AndBothVersionsRoundTrip) {
    const std::string text =
        "BEGIN:VCARD\nVERSION:4.0\nFN:Mizar Ltd\nTEL;VALUE=uri;TYPE=\"voice,cell\":tel:+44-20-7946-0000\n"
        "PHOTO:data:image/png;base64,AAEC\nEND:VCARD\n";
    auto cards = services::readVCards(text);
    ASSERT_TRUE(cards.ok()) << cards.error().description();
    ASSERT_EQ(cards->size(), 1u);
    EXPECT_EQ(cards->front().givenName, "Mizar Ltd") << "without N the formatted name stands in";
    EXPECT_EQ(cards->front().phoneNumbers.at(0), (services::LabeledPhoneNumber{"mobile", "+44-20-7946-0000"}));
    EXPECT_FALSE(cards->front().identifier.empty());

    services::Contact c =
        person("Zoë", "Ünal, Jr; \\x", {{"mobile", "+1 555"}, {"Boat", "+2"}, {"workFax", "+3"}}, "id-9");
    c.nickname = std::string(100, 'n') + "\u00e9\u00e9\u00e9";
    c.organizationName = "Org\nLine";
    c.imageData = foundation::Data(300, 7);
    c.thumbnailImageData = c.imageData;
    for (int version : {3, 4}) {
        const std::string written = services::writeVCards({c, person("A", "B", {{"", "1"}}, "id-2")}, version);
        for (size_t start = 0, end; (end = written.find("\r\n", start)) != std::string::npos; start = end + 2)
            EXPECT_LE(end - start, 75u) << "version " << version;
        auto back = services::readVCards(written);
        ASSERT_TRUE(back.ok()) << back.error().description();
        ASSERT_EQ(back->size(), 2u);
        EXPECT_EQ(back->at(0), c) << "version " << version << "\n" << written;
        EXPECT_EQ(back->at(1).phoneNumbers.at(0).label, "");
    }
}

TEST(VCardTest, MalformedCardsAreErrors) {
    for (const char* bad : {"BEGIN:VCARD\nVERSION:3.0\nN:A;B\n", "BEGIN:VCARD\nVERSION:2.1\nEND:VCARD\n",
                            "BEGIN:VCARD\nVERSION:3.0\nno colon here\nEND:VCARD\n",
                            "BEGIN:VCARD\nVERSION:3.0\nBEGIN:VCARD\nEND:VCARD\n"}) {
        auto r = services::readVCards(bad);
        ASSERT_FALSE(r.ok()) << bad;
        EXPECT_EQ(r.error().domain, services::kContactsErrorDomain);
    }
    auto empty = services::readVCards("");
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty->empty());
}

TEST(ContactStoreTest, EnumerationFillsOnlyTheKeysAskedForAndStops) {
    services::ContactStore store;
    auto c = person("Ann", "Lee", {{"home", "1"}}, "a");
    c.nickname = "Annie";
    store.addContact(c);
    store.addContact(person("Bob", "Ray", {}, "b"));
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Denied);
    EXPECT_FALSE(store.enumerateContacts({}, [](const services::Contact&, bool*) {}).ok());
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    std::vector<services::Contact> seen;
    ASSERT_TRUE(store
                    .enumerateContacts({services::kContactGivenNameKey},
                                       [&](const services::Contact& x, bool* stop) {
                                           seen.push_back(x);
                                           *stop = true;
                                       })
                    .ok());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].givenName, "Ann");
    EXPECT_EQ(seen[0].identifier, "a");
    EXPECT_EQ(seen[0].nickname, "");
    EXPECT_TRUE(seen[0].phoneNumbers.empty());

    services::ContactStore::setDefaultSortOrder(services::ContactSortOrder::FamilyName);
    EXPECT_EQ(services::ContactFormatter::fullName(c), "Lee Ann");
    services::ContactStore::setDefaultSortOrder(services::ContactSortOrder::GivenName);
    EXPECT_EQ(services::ContactFormatter::fullName(c), "Ann Lee");
    EXPECT_FALSE(services::ContactFormatter::fullName(person("", " ", {})));
}

// ---- the rules of the list

TEST(ContactRulesTest, EntriesPerNumberWithNormalisedNumbers) {
    auto c = person("John", "Smith", {{"mobile", "a"}, {"workFax", "b"}, {"", "c"}, {"home", "d"}}, "rec-1");
    c.nickname = "  JJ ";
    c.organizationName = " ";
    const std::map<std::string, std::string> rendered = {
        {"a", "(555) 123-4567"}, {"b", "011 44 20 7946 0000"}, {"c", "1 (555) 000-0000"}, {"d", "555-1234"}};
    auto entries = hxcontacts::entriesForContact(c, [&](const std::string& raw) { return rendered.at(raw); });
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].get("number"), Value("+1 (555) 123-4567"));
    EXPECT_EQ(entries[1].get("number"), Value("+44 20 7946 0000"));
    EXPECT_EQ(entries[2].get("number"), Value("+1 (555) 000-0000"));
    EXPECT_EQ(entries[3].get("number"), Value("555-1234"));
    EXPECT_EQ(entries[0].get("recordID"), entries[1].get("recordID"));
    EXPECT_EQ(entries[0].get("name"), Value("John Smith"));
    EXPECT_EQ(entries[0].get("label"), Value("mobile"));
    EXPECT_EQ(entries[1].get("label"), Value("work fax"));
    EXPECT_FALSE(entries[2].contains("label"));
    EXPECT_EQ(entries[0].get("nickname"), Value("JJ"));
    EXPECT_FALSE(entries[0].contains("company"));
    EXPECT_TRUE(
        hxcontacts::entriesForContact(person("No", "Phone", {}), [](const std::string& s) { return s; }).empty());

    auto big = graphics::Image::fromBitmap(graphics::Bitmap::make(400, 200).value(), 2);
    EXPECT_DOUBLE_EQ(hxcontacts::fittingThumbnail(big)->width(), 40);
    EXPECT_DOUBLE_EQ(hxcontacts::fittingThumbnail(big)->height(), 20);
    auto small = graphics::Image::fromBitmap(graphics::Bitmap::make(20, 20).value(), 1);
    EXPECT_EQ(hxcontacts::fittingThumbnail(small)->size(), (graphics::Size{40, 40})) << "small pictures grow to fit";
    EXPECT_EQ(hxcontacts::fittingThumbnail(big)->scale(), graphics::mainScreenScale());
}

TEST(ContactRulesTest, MatchingByNumber) {
    ContactList list = {entry("+1 (555) 123-4567", "John Smith", 1), entry("+1 (555) 123-4567", "Jane Smith", 5),
                        entry("+1 (555) 123-4567", "john smith", 0), entry("5551234567", "Ten Digits"),
                        entry("+44 20 7946 0000", "London"),         entry("0+49 30 1234", "Berlin")};
    EXPECT_EQ(names(hxcontacts::matchingPhone(list, "+1 (555) 123-4567")),
              (std::vector<std::string>{"Jane Smith", "John Smith"}));
    EXPECT_EQ(names(hxcontacts::matchingPhone(list, "5551234567")), (std::vector<std::string>{"Ten Digits"}));
    EXPECT_TRUE(hxcontacts::matchingPhone(list, "1234567").empty()) << "no suffix search for short national numbers";
    EXPECT_EQ(names(hxcontacts::matchingPhone(list, "+49 30 1234")), (std::vector<std::string>{"Berlin"}))
        << "suffix with +";
    EXPECT_EQ(names(hxcontacts::matchingPhone(list, "20 7946 0000 ")), (std::vector<std::string>{}));
    EXPECT_EQ(names(hxcontacts::matchingPhone(list, "44 20 7946 0000")), (std::vector<std::string>{"London"}))
        << "15 characters";
    // The threshold itself: a suffix of exactly 14 characters is searched, one of 13 is not.
    EXPECT_EQ(names(hxcontacts::matchingPhone(list, "4 20 7946 0000")), (std::vector<std::string>{"London"}))
        << "14 characters";
    EXPECT_TRUE(hxcontacts::matchingPhone(list, " 20 7946 0000").empty()) << "13 characters";

    // Equal duplicates collapse; an entry with an empty name goes, one without a name stays.
    auto dup = entry("9", "Ann");
    ContactList more = {dup, entry("9", "Ann"), entry("9", ""), entry("9", std::nullopt), entry("9", "Bob", 3)};
    EXPECT_EQ(names(hxcontacts::matchingPhone(more, "9")), (std::vector<std::string>{"Bob", "<none>", "Ann"}));
}

TEST(ContactRulesTest, DisplayNamesOfOneTwoAndMoreMatches) {
    auto john = entry("1", "John Smith", 0, "mobile");
    auto jane = entry("1", "Jane Smith");
    EXPECT_EQ(hxcontacts::displayName({john}, false), "John Smith\xC2\xA0(mobile)");
    EXPECT_EQ(hxcontacts::displayName({jane, john}, false), "Jane or John Smith");
    EXPECT_EQ(hxcontacts::displayName({john, jane}, false), "John or Jane Smith\xC2\xA0(mobile)");
    EXPECT_EQ(hxcontacts::displayName({entry("1", "Ann Lee"), entry("1", "Bob Ray")}, false), "Ann Lee or Bob Ray");
    EXPECT_EQ(hxcontacts::displayName({entry("1", "Smith John"), entry("1", "Smith Jane")}, true),
              "Smith John or Jane");
    EXPECT_EQ(hxcontacts::displayName({john, jane, entry("1", "X")}, false), "John Smith or 2 others\xC2\xA0(mobile)");
    EXPECT_EQ(hxcontacts::displayName({}, false), "");
}

TEST(ContactRulesTest, MatchingByName) {
    ContactList list;
    auto add = [&](std::string name, std::string nick = "", std::string company = "") {
        Dictionary d{{"number", "1"}, {"recordID", "r"}, {"name", Value(name)}};
        if (!nick.empty()) d.set("nickname", Value(nick));
        if (!company.empty()) d.set("company", Value(company));
        list.push_back(std::make_shared<const Dictionary>(std::move(d)));
    };
    add("Tom Miller");
    add("Mike");
    add("Ann", "Mimi");
    add("Bob", "", "Mizar");
    add("Tommi");
    add("M\u00edra \u00c9mile");
    EXPECT_EQ(names(hxcontacts::matchingName(list, "mi")),
              (std::vector<std::string>{"Tom Miller", "Mike", "Ann", "Bob", "M\u00edra \u00c9mile"}));
    EXPECT_EQ(names(hxcontacts::matchingName(list, "EMI")), (std::vector<std::string>{"M\u00edra \u00c9mile"}));
    EXPECT_TRUE(hxcontacts::matchingName(list, "Mikey").empty());
}

// ---- the application object's list

// An application object with an account, so that it opens a message store.
class StoreDelegate : public hxtest::RecordedApp<> {
public:
    std::string username;
    std::string currentUsername() const override { return username; }
};

// The stored contact name of each conversation, read straight from the store file ("<null>" for
// none).
std::map<std::string, std::string> storedNames(const std::string& path) {
    std::map<std::string, std::string> out;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return out;
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT conversationID, ABName FROM HX_Conversation", -1, &st, nullptr) == SQLITE_OK)
        while (sqlite3_step(st) == SQLITE_ROW) {
            auto text = [&](int i) {
                const unsigned char* t = sqlite3_column_text(st, i);
                return t ? std::string(reinterpret_cast<const char*>(t)) : std::string("<null>");
            };
            out[text(0)] = text(1);
        }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}

class ContactsAppTest : public ::testing::Test {
protected:
    void SetUp() override {
        foundation::setHomeDirectory(home_.path());
        foundation::UserDefaults::resetStandardUserDefaults();
        services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
        store_ = std::make_shared<services::ContactStore>();
        store_->addContact(person("John", "Smith", {{"mobile", "+15551234567"}, {"home", "+15550001111"}}, "j"));
        store_->addContact(person("Jane", "Smith", {{"", "+15551234567"}}, "n"));
        store_->addContact(person("Nobody", "Phone", {}, "x"));
        app_.setContactStore(store_);
        observer_ = foundation::NotificationCenter::defaultCenter().addObserver(
            this, kContactsCacheUpdatedNotification, [this](const foundation::Notification&) { ++posts_; });
    }
    void TearDown() override {
        app_.waitForContactsLoad(10);
        foundation::NotificationCenter::defaultCenter().removeObserver(observer_);
        foundation::UserDefaults::resetStandardUserDefaults();
        foundation::setHomeDirectory({});
    }
    std::string formatted(const std::string& n) {
        auto f = app_.phoneFormatter();
        std::string out =
            hxcontacts::normalizedNumber(PhoneExtensions::formattedPhoneNumberFromStringWithFormatter(n, *f));
        app_.decreasePhoneFormatterAccessCount();
        return out;
    }
    hxtest::TempDir home_;
    std::shared_ptr<services::ContactStore> store_;
    StoreDelegate app_;
    std::atomic<int> posts_{0};
    foundation::NotificationCenter::ObserverId observer_{};
};

TEST_F(ContactsAppTest, FullLoadFillsTheListWritesTheCacheAndAnnouncesBoth) {
    app_.allContacts();
    ASSERT_TRUE(app_.waitForContactsLoad(10));
    EXPECT_EQ(posts_.load(), 2) << "when the load starts and when the list has arrived";
    auto list = app_.allContacts();
    ASSERT_TRUE(app_.waitForContactsLoad(10));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(app_.contactNameForNumber(formatted("+15551234567")), "Jane or John Smith");
    EXPECT_EQ(app_.recordIDForNumber(formatted("+15550001111")), "j");
    EXPECT_EQ(app_.recordIDForNumber(""), "");
    EXPECT_EQ(app_.contactNameForNumber(formatted("+15559999999")), "");

    // The cache file is a property list any reader can open.
    const auto cacheFile = foundation::cachesDirectory() / "contactsCache";
    ASSERT_TRUE(foundation::files::exists(cacheFile));
    if (hxtest::haveProgram("/usr/bin/python3")) {
        std::string out;
        ASSERT_EQ(
            hxtest::runCommand("/usr/bin/python3 -c \"import plistlib,sys; l=plistlib.load(open(sys.argv[1],'rb')); "
                               "print(len(l), sorted(set(e['recordID'] for e in l)))\" " +
                                   cacheFile.string(),
                               &out),
            0);
        EXPECT_EQ(out, "3 ['j', 'n']\n");
    }

    // A pick swaps in a new entry at the front; holders of the old one keep it unchanged.
    ContactEntry old = list.back();
    app_.updateLastSelectionForContact(old);
    auto after = app_.allContacts();
    ASSERT_EQ(after.size(), 3u);
    EXPECT_NE(after.front(), old);
    EXPECT_EQ(after.front()->get("number"), old->get("number"));
    EXPECT_GT(after.front()->get("lastSelection").doubleValue(), 0);
    EXPECT_EQ(old->get("lastSelection").doubleValue(), 0);
    auto picks = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey("lastContactSelection");
    ASSERT_TRUE(picks);
    EXPECT_TRUE(picks->contains(app_.hashForContact(*old)));

    // The next launch: the picked entry sorts first after a reload, and the cache file is read once.
    HX_ConnectAppDelegate next;
    next.setContactStore(store_);
    posts_ = 0;
    EXPECT_EQ(next.cachedContacts().size(), 3u);
    EXPECT_EQ(posts_.load(), 1);
    next.cachedContacts();
    EXPECT_EQ(posts_.load(), 1);
    next.allContacts();
    ASSERT_TRUE(next.waitForContactsLoad(10));
    EXPECT_EQ(next.allContacts().front()->get("number"), old->get("number"));
    EXPECT_EQ(next.cachedContacts().size(), 0u) << "dropped once the full load has started";
    ASSERT_TRUE(next.waitForContactsLoad(10));
}

TEST_F(ContactsAppTest, InTheBackgroundTheListComesFromTheCacheFile) {
    ContactList seed = {entry("+1 (555) 123-4567", "Cached Person", 0, std::nullopt, "c")};
    foundation::Array plist;
    for (auto& e : seed) plist.emplace_back(*e);
    plist.emplace_back(Value("not an entry"));
    ASSERT_TRUE(foundation::files::createDirectory(foundation::cachesDirectory()).ok() ||
                foundation::files::exists(foundation::cachesDirectory()));
    ASSERT_TRUE(foundation::writePropertyListFile(Value(plist), foundation::cachesDirectory() / "contactsCache").ok());
    app_.setIsInBackground(true);
    app_.allContacts();
    ASSERT_TRUE(app_.waitForContactsLoad(10));
    auto list = app_.allContacts();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->get("name"), Value("Cached Person"));
}

TEST_F(ContactsAppTest, LookupWritesTheNameIntoTheConversationsOnceAndNamesGroups) {
    app_.username = "me.user@example.com";
    app_.setStoreBusyTimeout(0);
    // The list loads on real threads; the store work afterwards runs on the virtual clock.
    app_.lookupPhone("+15551234567");  // nothing loaded yet: no store work at all
    EXPECT_EQ(app_.mocAccessCount(), 0u);
    app_.allContacts();
    ASSERT_TRUE(app_.waitForContactsLoad(10));
    dispatch::ScopedVirtualClock clock;

    auto main = app_.managedObjectContext();
    ASSERT_TRUE(main);
    auto add = [&](const std::string& id, const std::string& numbers, const std::string& sender,
                   std::optional<std::string> abName) {
        auto c = main->insertNewObject("HX_Conversation").value();
        (void)c->setValue("conversationID", id);
        (void)c->setValue("type", 10);
        (void)c->setValue("phoneNumber", numbers);
        (void)c->setValue("sender", sender);
        if (abName) (void)c->setValue("ABName", *abName);
    };
    add("known", "+15551234567", "+15551234567", "Stale Name");
    add("group", "+15550001111|+15551234567", "Group Message", std::nullopt);
    add("otherGroup", "+15550001111|+15552223333", "Group Message", "Untouched");
    add("notAGroup", "+15550001111|+15551234567", "Someone", "Untouched");
    add("stranger", "+15559999999", "+15559999999", "Old Stranger");
    add("nameless", "+15558887777", "+15558887777", std::nullopt);
    ASSERT_TRUE(main->save().ok());
    const std::string path = app_.storePathForAccount(app_.username);

    auto settle = [&] {
        EXPECT_TRUE(clock->runUntil([&] { return app_.mocAccessCount() == 0; }, 10));
        clock->runUntilIdle();
        EXPECT_EQ(app_.mocAccessCount(), 0u);
    };
    app_.lookupPhone("+15551234567");
    settle();
    auto names = storedNames(path);
    EXPECT_EQ(names["known"], "Jane or John Smith");
    EXPECT_EQ(names["group"], "John Smith & Jane or John Smith");
    EXPECT_EQ(names["otherGroup"], "Untouched") << "a group without the number keeps its name";
    EXPECT_EQ(names["notAGroup"], "Untouched") << "only group conversations are renamed by member";
    EXPECT_EQ(names["stranger"], "Old Stranger");

    // Each number is resolved once per load: a rename in between is not undone.
    main->performAndWait([&] {
        auto request = HXMessageStore::managedObjectModel()->fetchRequestFromTemplate(
            "cv_phone_abname", {{"NUMBER", Value("+15551234567")}, {"NAME", Value("")}});
        ASSERT_TRUE(request.ok());
        auto found = main->fetch(request.value());
        ASSERT_TRUE(found.ok());
        ASSERT_EQ(found->size(), 1u);
        (void)found->front()->setValue("ABName", Value("Renamed"));
        ASSERT_TRUE(main->save().ok());
    });
    app_.lookupPhone("+15551234567");
    settle();
    EXPECT_EQ(storedNames(path)["known"], "Renamed");

    // A number no contact has clears a stale name and gives a nameless conversation no name.
    app_.lookupPhone("+15559999999");
    app_.lookupPhone("+15558887777");
    app_.lookupPhone(std::nullopt);
    settle();
    names = storedNames(path);
    EXPECT_EQ(names["stranger"], "");
    EXPECT_TRUE(names["nameless"] == "<null>" || names["nameless"] == "") << names["nameless"];
    EXPECT_EQ(names["known"], "Renamed");

    // After a reset the number is resolved again.
    app_.resetContacts();
    clock->runUntilIdle();
    app_.setIsInBackground(true);  // the list comes from the cache file the first load wrote
    app_.allContacts();
    ASSERT_TRUE(clock->runUntil([&] { return !app_.allContacts().empty(); }, 10));
    app_.lookupPhone("+15551234567");
    settle();
    EXPECT_EQ(storedNames(path)["known"], "Jane or John Smith");
    EXPECT_EQ(app_.phoneFormatterAccessCount(), 0u);
}

TEST_F(ContactsAppTest, LookupWithoutAnAccountStoreDoesNothing) {
    app_.allContacts();
    ASSERT_TRUE(app_.waitForContactsLoad(10));
    app_.lookupPhone("+15551234567");  // no user name: no store, no child context
    EXPECT_EQ(app_.mocAccessCount(), 0u);
}

TEST_F(ContactsAppTest, GroupsAreNamedFromTheirMembers) {
    app_.allContacts();
    ASSERT_TRUE(app_.waitForContactsLoad(10));
    EXPECT_EQ(app_.updateGroupContactsForNumber("+15550001111"), "+15550001111");
    EXPECT_EQ(app_.updateGroupContactsForNumber("+15550001111|+15559999999"),
              "John Smith & " + formatted("+15559999999"));
    EXPECT_EQ(app_.updateGroupContactsForNumber("+15550001111|+15550001111|+15550001111"),
              "John Smith, John Smith, John Smith");
    EXPECT_EQ(app_.updateGroupContactsForNumber("+15550001111|2|3|4"), "John Smith & 3 others");
    EXPECT_EQ(app_.phoneFormatterAccessCount(), 0u);
}

TEST_F(ContactsAppTest, RefusedAccessKeepsTheListAndTellsTheUser) {
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Denied);
    app_.allContacts();
    ASSERT_TRUE(app_.waitForContactsLoad(10));
    EXPECT_TRUE(app_.allContacts().empty());
    EXPECT_TRUE(app_.isABAccessRestricted());
    auto alerts = app_.shell().alerts();
    ASSERT_FALSE(alerts.empty());
    const HXAlert& alert = alerts.back();
    EXPECT_EQ(alert.title, "Contacts Access Restricted");
    EXPECT_EQ(alert.message, kContactsAccessRestrictedMessage);
    ASSERT_EQ(alert.actions.size(), 2u);
    EXPECT_EQ(alert.actions[0].title, "Cancel");
    EXPECT_EQ(alert.actions[0].style, HXAlertAction::Style::Cancel);
    EXPECT_EQ(alert.preferredAction, std::optional<size_t>(1));
    // "Settings" opens the app's settings page through the application object.
    auto shared = std::make_shared<hxtest::RecordedApp<>>();
    EXPECT_TRUE(shared->isABAccessRestricted());
    services::URLOpener::setShared(nullptr);
    EXPECT_TRUE(shared->shell().tap("Settings"));
    EXPECT_EQ(shared->shell().count("openApplicationSettings"), 1u);
    EXPECT_EQ(services::URLOpener::shared()->openedURLs(), std::vector<std::string>{"app-settings:"});
    services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
    const size_t shown = app_.shell().alerts().size();
    EXPECT_FALSE(app_.isABAccessRestricted());
    EXPECT_EQ(app_.shell().alerts().size(), shown);
}

}  // namespace

// After resetContacts() a lookup or a reader reads the contacts again by itself: no screen has to
// ask for the list first (a lookup used to return while the list was empty, and nothing loaded it
// until the app next became active).
TEST_F(ContactsAppTest, AfterAResetTheNextLookupOrReaderReadsTheContactsAgain) {
    app_.username = "me.user@example.com";
    app_.setStoreBusyTimeout(0);
    app_.allContacts();
    ASSERT_TRUE(app_.waitForContactsLoad(10));
    dispatch::ScopedVirtualClock clock;
    auto main = app_.managedObjectContext();
    ASSERT_TRUE(main);
    auto c = main->insertNewObject("HX_Conversation").value();
    (void)c->setValue("conversationID", "known");
    (void)c->setValue("type", 10);
    (void)c->setValue("phoneNumber", "+15551234567");
    (void)c->setValue("sender", "+15551234567");
    (void)c->setValue("ABName", "Stale Name");
    ASSERT_TRUE(main->save().ok());
    const std::string path = app_.storePathForAccount(app_.username);
    auto settle = [&] {
        EXPECT_TRUE(clock->runUntil([&] { return app_.mocAccessCount() == 0; }, 10));
        clock->runUntilIdle();
    };

    app_.resetContacts();
    EXPECT_TRUE(HXContactListSnapshot(app_).empty());
    app_.lookupPhone("+15551234567");
    ASSERT_TRUE(app_.waitForContactsLoad(10));
    EXPECT_EQ(HXContactListSnapshot(app_).size(), 3u) << "the lookup read the contacts again";
    settle();
    app_.lookupPhone("+15551234567");
    settle();
    EXPECT_EQ(storedNames(path)["known"], "Jane or John Smith");

    // Each reader does the same after a reset.
    const std::vector<std::function<size_t()>> readers = {
        [&] { return app_.contactsMatchingName("Jo").size(); },
        [&] { return app_.contactNameForNumber(formatted("+15551234567")).empty() ? 0u : 1u; },
        [&] { return app_.recordIDForNumber(formatted("+15550001111")).empty() ? 0u : 1u; },
    };
    for (size_t i = 0; i < readers.size(); ++i) {
        SCOPED_TRACE(i);
        app_.resetContacts();
        (void)readers[i]();
        ASSERT_TRUE(app_.waitForContactsLoad(10));
        EXPECT_EQ(HXContactListSnapshot(app_).size(), 3u);
        EXPECT_GT(readers[i](), 0u);
    }
}
