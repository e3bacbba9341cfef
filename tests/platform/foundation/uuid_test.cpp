#include "platform/foundation/uuid.h"

#include <gtest/gtest.h>

#include <set>

using namespace foundation;

TEST(UUID, RandomVersion4UpperCaseAndUnique) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const UUID u = UUID::random();
        const std::string s = u.string();
        ASSERT_EQ(s.size(), 36u);
        EXPECT_EQ(s[14], '4');
        EXPECT_NE(std::string("89AB").find(s[19]), std::string::npos) << s;
        for (char c : s) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || c == '-') << s;
        EXPECT_TRUE(seen.insert(s).second);
    }
}

TEST(UUID, ParseAndBytes) {
    auto u = UUID::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(u->bytes()[0], 0xE6);
    EXPECT_EQ(u->bytes()[15], 0x5F);
    EXPECT_EQ(UUID(u->bytes()), *u);
    for (const char* bad : {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
                            "G621E1F8-C36C-495A-93FC-0C247A3E6E5F", "E621E1F8-C36C-495A-93FC_0C247A3E6E5F",
                            "E621E1F8-C36C-495A-93FC-0C247A3E6E5F0"}) {
        EXPECT_FALSE(UUID::parse(bad)) << bad;
    }
    EXPECT_TRUE(UUID().isNil());
    EXPECT_EQ(UUID().string(), "00000000-0000-0000-0000-000000000000");
    EXPECT_NE(globallyUniqueString(), globallyUniqueString());
}
