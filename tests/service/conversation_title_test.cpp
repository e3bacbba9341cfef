// The title of a conversation, as the lists and the shell show it.
#include <gtest/gtest.h>

#include "service/conversation_title.h"

namespace {

TEST(ConversationTitle, GroupsContactNamesWithoutTheirLabelAndNamedSenders) {
    struct Case {
        const char* sender;
        const char* abName;
        const char* title;
    };
    const Case cases[] = {
        {"Group Message", "Ann", "Group Message"},
        {"+1 (555) 010-0000", "Ann Lee\u00A0(mobile)", "Ann Lee"},
        // Only the last label goes; a no-break space without "(" stays.
        {"x", "A\u00A0(B)\u00A0(home)", "A\u00A0(B)"},
        {"x", "Ann\u00A0Lee", "Ann\u00A0Lee"},
        {"x", "Ann (work)", "Ann (work)"},
        {"x", "\u00A0(", ""},
        {"+1 (555) 010-0000", "", ""},
        {"*#123# ", "", ""},
        {"555-0100 ext", "", "555-0100 ext"},
        {"Bank", "", "Bank"},
        {"", "", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(HXConversationTitle(c.sender, c.abName), c.title) << c.sender;
}

}  // namespace
