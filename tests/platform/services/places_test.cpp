// Geocoding over a placemark table, Web-Mercator map points and mailing-style addresses.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/services/contacts.h"
#include "platform/services/geocoder.h"
#include "platform/services/location_manager.h"
#include "platform/services/location_route.h"
#include "platform/services/map_geometry.h"
#include "platform/services/postal_address.h"
#include "tests/support/bytes.h"

namespace {

using services::Coordinate;

using hxtest::bytes;

const char* kTable = R"({"placemarks": [
  {"name": "Stephansplatz", "latitude": 48.2085, "longitude": 16.3731, "radius": 30,
   "address": {"Street": "Stephansplatz 1", "City": "Wien", "ZIP": "1010", "Country": "Austria", "countryCode": "AT"}},
  {"name": "Market Hall", "latitude": 48.1986, "longitude": 16.3627, "address": {"City": "Wien"}},
  {"name": "Golden Gate Park", "latitude": 37.7694, "longitude": -122.4862, "radius": 1500,
   "address": {"Street": "501 Stanyan St", "City": "San Francisco", "State": "CA", "ZIP": "94117",
               "Country": "United States", "countryCode": "US"}}
]})";

struct Geocoding : ::testing::Test {
    dispatch::ScopedVirtualClock clock;
    services::Geocoder geocoder;
    void SetUp() override {
        dispatch::RunLoop::main();
        ASSERT_TRUE(services::Geocoder::loadPlacemarks(bytes(kTable)).ok());
    }
    void TearDown() override { services::Geocoder::reset(); }
    // The names found, or "error N"; the answer comes only once the answer delay has passed.
    std::string ask(const std::function<void(services::Geocoder::Completion)>& start) {
        std::optional<std::string> answer;
        start([&](const std::vector<services::Placemark>& found, const std::optional<foundation::Error>& error) {
            if (error) {
                answer = "error " + std::to_string(error->code);
                return;
            }
            std::string names;
            for (const auto& p : found) names += (names.empty() ? "" : ", ") + p.name;
            answer = names;
        });
        clock->runUntilIdle();
        EXPECT_FALSE(answer) << "answered before the delay";
        clock->advance(services::Geocoder::kAnswerDelay);
        clock->runUntilIdle();
        return answer.value_or("no answer");
    }
    std::string forward(const std::string& text) {
        return ask([&](auto done) { geocoder.geocodeAddressString(text, done); });
    }
    std::string reverse(Coordinate c) {
        return ask([&](auto done) { geocoder.reverseGeocodeLocation(c, done); });
    }
};

TEST_F(Geocoding, TextFindsPlacesByNameOrAddressAndCoordinatesTheNearestWithinReach) {
    struct {
        std::string text;
        std::string answer;
    } forwards[] = {
        {"stephansplatz", "Stephansplatz"},
        {"Wien", "Stephansplatz, Market Hall"},
        {"94117", "Golden Gate Park"},
        {"Atlantis", "error 8"},
        {"", "error 8"},
    };
    for (const auto& f : forwards) EXPECT_EQ(forward(f.text), f.answer) << f.text;
    EXPECT_EQ(reverse({48.2080, 16.3735}), "Stephansplatz");
    EXPECT_EQ(reverse({48.1990, 16.3630}), "Market Hall");
    EXPECT_EQ(reverse({37.7694, -122.5030}), "Golden Gate Park");  // 1.5 km out, inside its own reach
    EXPECT_EQ(reverse({0, 0}), "error 8");
}

TEST_F(Geocoding, InjectedFailuresAnswerTheNextRequestsInTurn) {
    services::Geocoder::failNextRequest(services::kLocationErrorNetwork);
    services::Geocoder::failNextRequest(services::kLocationErrorGeocodeFoundPartialResult);
    EXPECT_EQ(forward("Wien"), "error 2");
    EXPECT_EQ(reverse({48.2080, 16.3735}), "error 9");
    EXPECT_EQ(forward("Wien"), "Stephansplatz, Market Hall");
}

TEST(PlacemarkTable, AMalformedTableIsRefusedAndTheLoadedOneKept) {
    ASSERT_TRUE(services::Geocoder::loadPlacemarks(bytes(kTable)).ok());
    const char* bad[] = {
        "",
        "[]",
        R"({"placemarks": {}})",
        R"({"placemarks": [1]})",
        R"({"placemarks": [{"latitude": 1, "longitude": 2}]})",
        R"({"placemarks": [{"name": "x", "latitude": "1", "longitude": 2}]})",
        R"({"placemarks": [{"name": "x", "latitude": 91, "longitude": 2}]})",
        R"({"placemarks": [{"name": "x", "latitude": 1, "longitude": 2, "radius": -5}]})",
        R"({"placemarks": [{"name": "x", "latitude": 1, "longitude": 2, "address": []}]})",
        R"({"placemarks": [{"name": "x", "latitude": 1, "longitude": 2, "address": {"City": 7}}]})",
    };
    for (const char* table : bad) EXPECT_FALSE(services::Geocoder::loadPlacemarks(bytes(table)).ok()) << table;
    EXPECT_EQ(services::Geocoder::placemarks().size(), 3u);
    EXPECT_FALSE(services::Geocoder::loadPlacemarksFromFile("/nonexistent/placemarks.json").ok());
    services::Geocoder::reset();
}

TEST(MapGeometry, WebMercatorPointsAndScale) {
    struct {
        Coordinate c;
        double x, y;
    } points[] = {
        {{0, 0}, 134217728, 134217728},
        {{0, -180}, 0, 134217728},
        {{85.0511287798066, 180}, 268435456, 0},
        {{-85.0511287798066, 0}, 134217728, 268435456},
        {{48.2082, 16.3738}, 146426918.19, 93079553.97},  // python3 math, same formula
    };
    for (const auto& p : points) {
        const auto m = services::mapPointForCoordinate(p.c);
        EXPECT_NEAR(m.x, p.x, 0.5) << p.c.latitude;
        EXPECT_NEAR(m.y, p.y, 0.5) << p.c.latitude;
        const auto back = services::coordinateForMapPoint(m);
        EXPECT_NEAR(back.latitude, p.c.latitude, 1e-9);
        EXPECT_NEAR(back.longitude, p.c.longitude, 1e-9);
    }
    // 2^28 points round the equator; twice as many per metre at 60°.
    EXPECT_NEAR(services::mapPointsPerMeterAtLatitude(0) * 40075016.68557849, 268435456, 1e-3);
    EXPECT_NEAR(services::mapPointsPerMeterAtLatitude(60), 2 * services::mapPointsPerMeterAtLatitude(0), 1e-9);
    const auto box = services::boundingMapRectForCircle({0, 0}, 1000);
    EXPECT_NEAR(box.width, 2000 * services::mapPointsPerMeterAtLatitude(0), 1e-6);
    EXPECT_NEAR(box.midX(), 134217728, 1e-6);
}

TEST(MailingAddress, LinesFollowTheCountrysOrder) {
    struct {
        services::PostalAddress address;
        std::string text;
    } cases[] = {
        {{"501 Stanyan St", "San Francisco", "CA", "94117", "United States", "US"},
         "501 Stanyan St\nSan Francisco CA 94117\nUnited States"},
        {{"Stephansplatz 1", "Wien", "", "1010", "Austria", "at"}, "Stephansplatz 1\n1010 Wien\nAustria"},
        {{"Calle 5", "Sevilla", "Andalucía", "41001", "", "ES"}, "Calle 5\n41001 Sevilla\nAndalucía"},
        {{"", "Springfield", "", "", "", ""}, "Springfield"},
        {{"Flat 2\nHigh St 1", "", "", "", "UK", "GB"}, "Flat 2\nHigh St 1\nUK"},
        {{}, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(services::mailingAddressString(c.address), c.text) << c.text;
}

TEST(ContactAddresses, ADRLinesAreReadAndWrittenBack) {
    const std::string card = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nTEL;TYPE=CELL:+1 555 0100\r\n"
                             "ADR;TYPE=HOME:;;1 Main St\\nApt 2;Springfield;IL;62701;USA\r\n"
                             "ADR;TYPE=WORK:;;;;;;\r\nADR:;;Ring 3\\; Hof;Wien;;1010;Austria\r\nEND:VCARD\r\n";
    auto read = services::readVCards(card);
    ASSERT_TRUE(read.ok());
    ASSERT_EQ(read.value().size(), 1u);
    const auto& addresses = read.value()[0].postalAddresses;
    ASSERT_EQ(addresses.size(), 2u);  // an empty ADR is no address
    EXPECT_EQ(addresses[0].value,
              (services::PostalAddress{"1 Main St\nApt 2", "Springfield", "IL", "62701", "USA", ""}));
    EXPECT_EQ(addresses[1].value.street, "Ring 3; Hof");
    auto again = services::readVCards(services::writeVCards(read.value(), 3));
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.value()[0].postalAddresses, addresses);
}

TEST(LocationRoute, LinesAreReadOrRefusedByLineAndField) {
    auto route = services::parseLocationRoute("# a walk\n0,48.2082,16.3738\n\n30, 48.2166 ,16.3738,10\r\n30,1,2\n");
    ASSERT_TRUE(route.ok());
    ASSERT_EQ(route.value().size(), 3u);
    EXPECT_EQ(route.value()[1].seconds, 30);
    EXPECT_EQ(route.value()[1].location.coordinate, (Coordinate{48.2166, 16.3738}));
    EXPECT_EQ(route.value()[1].location.horizontalAccuracy, 10);
    struct {
        const char* csv;
        const char* error;
    } bad[] = {
        {"0,1\n", "route line 1: expected seconds,latitude,longitude[,accuracy]"},
        {"0,1,2,3,4\n", "route line 1: expected seconds,latitude,longitude[,accuracy]"},
        {"# x\nsoon,1,2\n", "route line 2: seconds is not a number"},
        {"0,north,2\n", "route line 1: latitude is not a number"},
        {"0,91,2\n", "route line 1: latitude out of range"},
        {"0,1,-181\n", "route line 1: longitude out of range"},
        {"0,1,2,-1\n", "route line 1: accuracy is negative"},
        {"5,1,2\n4,1,2\n", "route line 2: seconds go back"},
        {"0,nan,2\n", "route line 1: latitude is not a number"},
    };
    for (const auto& b : bad) {
        auto parsed = services::parseLocationRoute(b.csv);
        ASSERT_FALSE(parsed.ok()) << b.csv;
        EXPECT_EQ(parsed.error().localizedDescription(), b.error);
    }
}

TEST(LocationRoute, AReplayFeedsEachFixAtItsTime) {
    dispatch::ScopedVirtualClock clock;
    dispatch::RunLoop::main();
    services::LocationFeed::reset();
    services::replayLocationRoute(services::parseLocationRoute("0,1,1\n10,2,2\n").value());
    clock->runUntilIdle();
    ASSERT_TRUE(services::LocationFeed::lastFix());
    EXPECT_EQ(services::LocationFeed::lastFix()->coordinate, (Coordinate{1, 1}));
    clock->advance(9);
    EXPECT_EQ(services::LocationFeed::lastFix()->coordinate, (Coordinate{1, 1}));
    clock->advance(1);
    clock->runUntilIdle();
    EXPECT_EQ(services::LocationFeed::lastFix()->coordinate, (Coordinate{2, 2}));
    services::LocationFeed::reset();
}

}  // namespace
