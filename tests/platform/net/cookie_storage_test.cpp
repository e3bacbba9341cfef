#include "platform/net/cookie_storage.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(HTTPCookieStorage, ANamesakeIsReplacedOthersAreKeptInOrder) {
    net::HTTPCookieStorage storage;
    storage.setCookie({.name = "a", .value = "1", .domain = "h.example"});
    storage.setCookie({.name = "a", .value = "2", .domain = ".h.example"});  // another domain
    storage.setCookie({.name = "a", .value = "3", .domain = "h.example", .path = "/p"});
    storage.setCookie({.name = "a", .value = "4", .domain = "h.example"});  // replaces the first
    auto cookies = storage.cookies();
    ASSERT_EQ(cookies.size(), 3u);
    EXPECT_EQ(cookies[0].value, "4");
    EXPECT_EQ(cookies[1].value, "2");
    EXPECT_EQ(cookies[2].value, "3");
    storage.deleteCookie({.name = "a", .domain = ".h.example"});
    EXPECT_EQ(storage.cookies().size(), 2u);
    storage.removeAllCookies();
    EXPECT_TRUE(storage.cookies().empty());
}

TEST(HTTPCookieStorage, IsOneStoreForTheProcessAndTakesWritersFromManyThreads) {
    auto& shared = net::HTTPCookieStorage::sharedHTTPCookieStorage();
    EXPECT_EQ(&shared, &net::HTTPCookieStorage::sharedHTTPCookieStorage());
    shared.removeAllCookies();
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&shared, t] {
            for (int i = 0; i < 200; ++i)
                shared.setCookie({.name = "c" + std::to_string(i % 50), .value = std::to_string(t), .domain = "d"});
        });
    for (auto& w : writers) w.join();
    EXPECT_EQ(shared.cookies().size(), 50u);
    shared.removeAllCookies();
}

}  // namespace
