#include "ui/dialer/favorite.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include "model/cache.h"
#include "model/disk_cache.h"
#include "model/memory_cache.h"
#include "platform/dispatch/dispatch.h"
#include "platform/graphics/bitmap.h"
#include "platform/graphics/codecs.h"
#include "tests/support/contacts.h"

using services::Contact;
using services::ContactStore;

namespace {

constexpr double kNow = 1'700'000'000.0;

using hxtest::person;

foundation::Data png(int w, int h) {
    auto bitmap = graphics::Bitmap::make(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) (*bitmap)->row(y)[x] = 0xFF3366CCu;
    return *graphics::encodePNG(**bitmap);
}

class FavoriteModel : public ::testing::Test {
protected:
    void SetUp() override {
        ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
        root = std::filesystem::temp_directory_path() / ("hx_fav_" + std::to_string(::getpid()));
        sources.contacts = std::make_shared<ContactStore>();
        sources.thumbnails = HXCCache::create("FavTest", root);
        sources.contacts->addContact(
            person("Ann", "Lee", {{"mobile", "+1 555 0100", "ann-m"}, {"home", "+1 555 0101", "ann-h"}}, "ann"));
        Contact bo =
            person("Bo", "Kim", {{"work", "+44 20 7946 0000", "bo-w"}, {"home", "+44 20 7946 0000", "bo-h"}}, "bo");
        bo.thumbnailImageData = png(120, 80);
        sources.contacts->addContact(bo);
        sources.contacts->addContact(person("Cy", "Twin", {{"mobile", "1"}}, "cy1"));
        sources.contacts->addContact(person("Cy", "Twin", {{"mobile", "2"}}, "cy2"));
        sources.contacts->addContact(person("Dee, Jr.", "O|Neil 李", {{"mobile", "+86 10 1234 5678", "dee-m"}}, "dee"));
    }
    void TearDown() override {
        ContactStore::setAuthorizationStatus(services::AuthorizationStatus::NotDetermined);
        // The cache's disk writes finish before its folder goes.
        clock->runUntilIdle();
        sources.thumbnails.reset();
        std::filesystem::remove_all(root);
    }

    dispatch::ScopedVirtualClock clock{kNow};
    std::filesystem::path root;
    Favorite::Sources sources;
};

}  // namespace

TEST_F(FavoriteModel, LinesResolveByIdentifierByUniqueNameOrAreKeptAsTheyWere) {
    struct Case {
        const char* what;
        std::string line;
        // Expected: written back (nullopt: byte for byte), dropped (empty contact id), shown name, number.
        std::optional<std::string> written;
        bool unresolved;
        std::string name, number, label;
    };
    const std::vector<Case> cases = {
        {"by identifiers, unchanged", "ann,ann-h,Ann Lee,+1 555 0101,1600000000.000000", std::nullopt, false, "Ann Lee",
         "+1 555 0101", "home"},
        {"a stored fraction is read as whole seconds", "ann,ann-m,Ann Lee,+1 555 0100,1600000000.750000",
         "ann,ann-m,Ann Lee,+1 555 0100,1600000000.000000", false, "Ann Lee", "+1 555 0100", "mobile"},
        {"the number changed in the address book", "ann,ann-m,Ann Lee,+1 555 9999,1600000000.000000",
         "ann,ann-m,Ann Lee,+1 555 0100,1700000000.000000", false, "Ann Lee", "+1 555 0100", "mobile"},
        {"another device's identifiers: by name, then number", "X-1,X-2,Ann Lee,+1 555 0100,1600000000.000000",
         "ann,ann-m,Ann Lee,+1 555 0100,1700000000.000000", false, "Ann Lee", "+1 555 0100", "mobile"},
        {"escaped name reaches the search decoded", "gone,g,Dee%2c Jr. O%7cNeil 李,+86 10 1234 5678,1",
         "dee,dee-m,Dee%2c Jr. O%7cNeil 李,+86 10 1234 5678,1700000000.000000", false, "Dee, Jr. O|Neil 李",
         "+86 10 1234 5678", "mobile"},
        {"two contacts of that name: kept", "gone,g,Cy Twin,1,1500000000.250000", std::nullopt, true, "Cy Twin", "1",
         ""},
        {"nobody of that name: kept", "gone,g,Zed Nobody,+1 555,1500000000.000000", std::nullopt, true, "Zed Nobody",
         "+1 555", ""},
        {"a number with an escaped comma survives", "gone,g,Zed,1%2c2%7c3,5", std::nullopt, true, "Zed", "1,2|3", ""},
        {"a lone % stays as it is", "gone,g,100% Zed,50%,5", std::nullopt, true, "100% Zed", "50%", ""},
        {"the phone entry is gone", "ann,gone,Ann Lee,+1 555 0100,1", "", false, "Ann Lee", "", ""},
        {"the same number twice in one contact", "gone,g,Bo Kim,+44 20 7946 0000,1", "", false, "Bo Kim", "", ""},
        {"two fields resolve through the identifiers", "ann,ann-m", "ann,ann-m,Ann Lee,+1 555 0100,1700000000.000000",
         false, "Ann Lee", "+1 555 0100", "mobile"},
        {"the empty favourite", "-1,-1,,", std::nullopt, true, "", "", ""},
        {"one field", "lonely", std::nullopt, true, "", "", ""},
        {"an empty line is dropped", "", "", false, "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Favorite f(c.line, sources);
        EXPECT_EQ(f.isUnresolved(), c.unresolved);
        const std::string written = c.written ? *c.written : c.line;
        if (c.written && c.written->empty()) {
            EXPECT_TRUE(f.contactID().empty()) << "the list drops it";
            continue;
        }
        EXPECT_EQ(f.compositeString(), written);
        EXPECT_EQ(f.name(), c.name);
        EXPECT_EQ(f.number(), c.number);
        EXPECT_EQ(f.label(), c.label);
        // What is written reads back to the same favourite.
        EXPECT_EQ(Favorite(f.compositeString(), sources).compositeString(), f.compositeString());
    }
}

TEST_F(FavoriteModel, WithoutAccessToContactsEveryLineStaysAsItWas) {
    ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Denied);
    for (const char* line : {"ann,ann-m,Ann Lee,+1 555 0100,1600000000.000000", "ann,ann-m"}) {
        Favorite f(line, sources);
        EXPECT_TRUE(f.isUnresolved());
        EXPECT_EQ(f.compositeString(), line);
    }
}

TEST_F(FavoriteModel, APickedContactMakesALineWithEscapesAndSixDecimals) {
    auto dee = sources.contacts->unifiedContactWithIdentifier("dee", Favorite::fetchKeys());
    ASSERT_TRUE(dee.ok());
    Favorite f(*dee, dee->phoneNumbers[0], sources);
    EXPECT_EQ(f.compositeString(), "dee,dee-m,Dee%2c Jr. O%7cNeil 李,+86 10 1234 5678,1700000000.000000");
    EXPECT_EQ(f.label(), "mobile");
    EXPECT_FALSE(f.isUnresolved());
    EXPECT_EQ(Favorite::escaped("a,b|c%2c"), "a%2cb%7cc%2c");
    EXPECT_EQ(Favorite::percentDecoded("a%2cb%7Cc%41"), "a,b|cA");
    EXPECT_EQ(Favorite::percentDecoded("bad %zz"), "bad %zz");
    EXPECT_EQ(Favorite::percentDecoded("%ff"), "%ff") << "not UTF-8";
    EXPECT_EQ(Favorite::percentDecoded("end %4"), "end %4");
}

TEST_F(FavoriteModel, ThumbnailsAreKeptPerContactAndGoWithTheContact) {
    // Bo has a picture: resolving by identifier keeps a 40-point thumbnail.
    Favorite bo("bo,bo-w,Bo Kim,+44 20 7946 0000,1", sources);
    clock->runUntilIdle();
    auto cached = sources.thumbnails->objectForKey("Fav-bo");
    ASSERT_TRUE(cached && cached->image());
    EXPECT_LE(cached->image()->size().width, 40.0);
    EXPECT_LE(cached->image()->size().height, 40.0);
    EXPECT_EQ(bo.contactImage(), cached->image());
    // Ann has none: the default picture.
    Favorite ann("ann,ann-m,Ann Lee,+1 555 0100,1", sources);
    EXPECT_NE(ann.contactImage(), nullptr);
    EXPECT_NE(ann.contactImage(), cached->image());
    // Bo is deleted: the next resolution forgets his thumbnail.
    sources.contacts->removeAllContacts();
    Favorite gone("bo,bo-w,Bo Kim,+44 20 7946 0000,1", sources);
    EXPECT_TRUE(gone.isUnresolved());
    clock->runUntilIdle();
    EXPECT_FALSE(sources.thumbnails->objectForKey("Fav-bo"));
}

TEST_F(FavoriteModel, AnUnchangedThumbnailIsNotWrittenAgainButANewPictureIs) {
    auto fileOf = [&] {
        auto url = sources.thumbnails->diskCache()->fileURLForKey("Fav-bo");
        struct stat st {};
        return url && ::stat(url->c_str(), &st) == 0 ? static_cast<long long>(st.st_ino) : -1LL;
    };
    Favorite first("bo,bo-w,Bo Kim,+44 20 7946 0000,1", sources);
    clock->runUntilIdle();
    const long long written = fileOf();
    ASSERT_NE(written, -1);
    // Opening the list again in the same run: the same thumbnail stays as it was on the disk.
    Favorite again("bo,bo-w,Bo Kim,+44 20 7946 0000,1", sources);
    clock->runUntilIdle();
    EXPECT_EQ(fileOf(), written);
    // Bo changed his picture: the new one replaces the old.
    auto before = sources.thumbnails->objectForKey("Fav-bo");
    Contact bo = person("Bo", "Kim", {{"work", "+44 20 7946 0000", "bo-w"}}, "bo");
    auto bitmap = graphics::Bitmap::make(80, 80);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 80; ++x) (*bitmap)->row(y)[x] = 0xFF00AA00u;
    bo.thumbnailImageData = *graphics::encodePNG(**bitmap);
    sources.contacts->removeAllContacts();
    sources.contacts->addContact(bo);
    Favorite changed("bo,bo-w,Bo Kim,+44 20 7946 0000,1", sources);
    clock->runUntilIdle();
    EXPECT_NE(fileOf(), written);
    auto after = sources.thumbnails->objectForKey("Fav-bo");
    ASSERT_TRUE(before && after && after->image());
    EXPECT_EQ(after->image(), changed.contactImage());
    EXPECT_NE(after->image()->bitmap()->row(0)[0], before->image()->bitmap()->row(0)[0]);
    // Read back from the disk alone (a new run), the new picture is there.
    sources.thumbnails->memoryCache()->removeAllObjects();
    auto fromDisk = sources.thumbnails->objectForKey("Fav-bo");
    ASSERT_TRUE(fromDisk && fromDisk->image() && fromDisk->image()->bitmap());
    EXPECT_EQ(fromDisk->image()->bitmap()->row(0)[0], after->image()->bitmap()->row(0)[0]);
}

TEST_F(FavoriteModel, TwoDevicesWithTheirOwnIdentifiersResolveTheSamePeople) {
    // The second device holds Ann and Dee under identifiers of its own, and not Bo.
    Favorite::Sources other{std::make_shared<ContactStore>(), sources.thumbnails};
    other.contacts->addContact(
        person("Ann", "Lee", {{"home", "+1 555 0101", "B-ann-h"}, {"mobile", "+1 555 0100", "B-ann-m"}}, "B-ann"));
    other.contacts->addContact(person("Dee, Jr.", "O|Neil 李", {{"mobile", "+86 10 1234 5678", "B-dee-m"}}, "B-dee"));
    // Picked on the first device.
    std::vector<std::string> lines;
    for (const char* id : {"ann", "dee", "bo"}) {
        auto c = sources.contacts->unifiedContactWithIdentifier(id, Favorite::fetchKeys());
        ASSERT_TRUE(c.ok());
        lines.push_back(Favorite(*c, c->phoneNumbers.front(), sources).compositeString());
    }
    // Read on the second device: the same people and numbers under its identifiers; Bo, not
    // there, stays as written.
    std::vector<std::string> there;
    for (const auto& line : lines) there.push_back(Favorite(line, other).compositeString());
    EXPECT_EQ(there[0], "B-ann,B-ann-m,Ann Lee,+1 555 0100,1700000000.000000");
    EXPECT_EQ(there[1], "B-dee,B-dee-m,Dee%2c Jr. O%7cNeil 李,+86 10 1234 5678,1700000000.000000");
    EXPECT_EQ(there[2], lines[2]);
    // And back on the first device: its own identifiers again, nothing else changed.
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(i);
        Favorite back(there[i], sources);
        EXPECT_FALSE(back.isUnresolved());
        EXPECT_EQ(back.compositeString(), lines[i]);
    }
}
