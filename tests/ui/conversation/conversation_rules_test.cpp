// The conversation's rules that need no screen, as tables: the phone numbers a bubble offers to
// call, the reply counter, attachments' kinds, texts and sizes, the progress step, the reply
// field's lines, the contact card's call URL, the contact name's label and the phone label.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/url.h"
#include "service/conversation_title.h"
#include "ui/conversation/conversation_attachment.h"
#include "ui/conversation/conversation_table_view_cell.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/widgets/call_url.h"

namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

// The query of a URL read back as its reader reads it: items at "&", names from values at "=",
// each percent-decoded.
std::map<std::string, std::string> queryOf(const std::string& url) {
    std::map<std::string, std::string> out;
    const auto q = url.find('?');
    if (q == std::string::npos) return out;
    std::string rest = url.substr(q + 1);
    EXPECT_EQ(rest.find('#'), std::string::npos) << "a raw # cuts the query: " << url;
    size_t start = 0;
    while (start <= rest.size()) {
        const size_t end = std::min(rest.find('&', start), rest.size());
        const std::string item = rest.substr(start, end - start);
        const size_t eq = item.find('=');
        const std::string name = eq == std::string::npos ? "" : item.substr(0, eq);
        const std::string value = eq == std::string::npos ? item : item.substr(eq + 1);
        out[name] = foundation::percentDecode(value).value_or("(bad escape)");
        start = end + 1;
    }
    return out;
}

}  // namespace

TEST(ConversationRules, ABubbleOffersTheOneNumberItHoldsWithItsPlus) {
    struct Case {
        std::string text;
        std::vector<std::string> numbers;  // as dialled
    };
    const Case cases[] = {
        {"call me on +44 20 7946 0958 today", {"+442079460958"}},
        {"+1 (555) 010-3000", {"+15550103000"}},
        {"123456", {}},  // six digits are no number
        {"1234567", {"1234567"}},
        {"555 0103 or 555 0104", {"5550103", "5550104"}},
        {"dial 555-0103# now", {"5550103#"}},
        {"3+4445556666", {"4445556666"}},  // a plus after a word is an operator
        {"", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> dialled;
        for (const auto& m : hxPhoneNumberMatches(c.text)) dialled.push_back(hxReducedNumber(m.text));
        EXPECT_EQ(dialled, c.numbers) << c.text;
    }
}

// The bubble's menu offers to call or text a number only when its text, or the selected part of
// it, holds exactly one.
TEST(ConversationRules, TheBubblesMenuOffersANumberOnlyWhereItHoldsExactlyOne) {
    dispatch::ScopedVirtualClock clock;
    auto cell = std::make_shared<ConversationTableViewCell>();
    struct Case {
        std::string text;
        foundation::Range selected;
        bool offered;
    };
    const Case cases[] = {
        {"call 555 0103", {0, 0}, true},
        {"555 0103 or 555 0104", {0, 0}, false},
        {"555 0103 or 555 0104", {12, 8}, true},  // the second one selected
        {"no number here", {0, 0}, false},
    };
    for (const auto& c : cases) {
        cell->messageView().setText(c.text);
        cell->messageView().setSelectedRange(c.selected);
        EXPECT_EQ(cell->canPerformAction("callViaHX:", nullptr), c.offered) << c.text;
        EXPECT_EQ(cell->canPerformAction("smsViaHX:", nullptr), c.offered) << c.text;
    }
}

TEST(ConversationRules, TheReplyCounterCountsSegmentsAndColoursTheFullOne) {
    using C = VC_Conversation::Counter::Colour;
    struct Case {
        size_t length;
        long lines;
        const char* text;
        C colour;
    };
    const Case cases[] = {
        {0, 1, "0/160\n ", C::Secondary},         {150, 2, "150/160\n ", C::Secondary},
        {151, 2, "151/160\n ", C::Orange},        {159, 3, "159/160\n ", C::Orange},
        {160, 2, "160/160\n ", C::Red},           {161, 3, "1/160\n(2 SMS) ", C::Secondary},
        {200, 2, "200/160\n ", C::Secondary},     {320, 3, "160/160\n(2 SMS) ", C::Red},
        {311, 3, "151/160\n(2 SMS) ", C::Orange},
    };
    for (const auto& c : cases) {
        const auto counter = VC_Conversation::counterFor(c.length, c.lines);
        EXPECT_EQ(counter.text, c.text) << c.length << " on " << c.lines;
        EXPECT_EQ(counter.colour, c.colour) << c.length;
    }
}

TEST(ConversationRules, AttachmentsAreSortedByTypeAndWhatTheyLackMakesThemUnsupported) {
    using K = HXAttachmentKind;
    struct Case {
        Value value;
        K kind;
        std::string text;
    };
    const Case cases[] = {
        // A picture tells its bubble's size by its variants; without them it is shown as
        // unsupported until the picture is in.
        {Value(Dictionary{{"id", "a"}, {"mimeType", "image/jpeg"}, {"imageMetaData", Array{Value(Dictionary{})}}}),
         K::Picture, ""},
        {Value(Dictionary{{"id", "a"}, {"mimeType", "image/jpeg"}}), K::Picture,
         "[Unsupported Attachment]\n(image/jpeg)"},
        {Value(Dictionary{{"id", "a"}, {"mime_type", "image/gif"}, {"image_meta_data", Array{Value(Dictionary{})}}}),
         K::Picture, ""},
        {Value(Dictionary{{"id", "a"}, {"mimeType", "video/mp4"}}), K::Video, "Video Attachment\n(tap to play)"},
        {Value(Dictionary{{"id", "a"}, {"mimeType", "audio/amr"}}), K::Audio, "Audio Attachment\n(tap to play)"},
        {Value(Dictionary{{"id", "a"}, {"mimeType", "text/x-vcard"}}), K::ContactCard,
         "Contact Card\n(missing attachment)"},
        {Value(Dictionary{{"id", "a"}, {"mimeType", "application/pdf"}}), K::Unsupported,
         "[Unsupported Attachment]\n(application/pdf)"},
        // A contact card is exactly "text/x-vcard"; other texts are no card.
        {Value(Dictionary{{"id", "a"}, {"mimeType", "text/plain"}}), K::Unsupported,
         "[Unsupported Attachment]\n(text/plain)"},
        {Value(Dictionary{{"id", "a"}, {"mimeType", "text/x-vcards"}}), K::Unsupported,
         "[Unsupported Attachment]\n(text/x-vcards)"},
        // Without an id nothing can be fetched.
        {Value(Dictionary{{"mimeType", "image/png"}}), K::Unsupported, "[Unsupported Attachment]\n(image/png)"},
        {Value(Dictionary{{"id", int64_t{7}}, {"mimeType", "image/png"}}), K::Unsupported,
         "[Unsupported Attachment]\n(image/png)"},
        {Value("not a dictionary"), K::Unsupported, "[Unsupported Attachment]\n()"},
        {Value(), K::Unsupported, "[Unsupported Attachment]\n()"},
    };
    for (const auto& c : cases) {
        const auto a = HXAttachment::from(c.value);
        EXPECT_EQ(a.kind, c.kind);
        EXPECT_EQ(a.rowText(), c.text);
    }
    const auto sized =
        HXAttachment::from(Value(Dictionary{{"id", "p"},
                                            {"mimeType", "image/png"},
                                            {"image_meta_data", Array{Value(Dictionary{{"width", int64_t{10}}})}}}));
    EXPECT_EQ(sized.sizes.size(), 1u);
}

TEST(ConversationRules, APicturesBubbleFitsTheViewAndNeverGoesNegative) {
    struct Case {
        double width, height, view;
        double w, h;
    };
    const Case cases[] = {
        {200, 100, 375, 200, 100},  // fits
        {512, 384, 375, 265, 198},  // cut to 375 - 110, height in proportion
        {512, 384, 110, 0, 0},      // no room left
        {512, 384, 60, 0, 0},       // a view narrower than the margin
        {512, 384, 111, 1, 0},     {0, 384, 375, 0, 0},       {-5, 10, 375, 0, 0},
        {NAN, 10, 375, 0, 0},      {10, INFINITY, 375, 0, 0},
    };
    for (const auto& c : cases) {
        const auto s = hxFittedVariantSize(c.width, c.height, c.view);
        EXPECT_EQ(s.width, c.w) << c.width << "x" << c.height << " in " << c.view;
        EXPECT_EQ(s.height, c.h) << c.width << "x" << c.height << " in " << c.view;
        EXPECT_GE(s.width, 0);
        EXPECT_GE(s.height, 0);
    }
    struct Scale {
        double pixels, table, scale;
    };
    const Scale scales[] = {{400, 375, 400.0 / 265}, {100, 375, 1}, {400, 110, 1}, {400, 50, 1}, {0, 375, 1}};
    for (const auto& s : scales) EXPECT_DOUBLE_EQ(hxGIFScale(s.pixels, s.table), s.scale) << s.pixels << " " << s.table;
}

TEST(ConversationRules, TheProgressStepsByThePicturesBeingSent) {
    const std::pair<size_t, int> cases[] = {{0, 15}, {1, 25}, {2, 14}, {3, 10}, {33, 1}};
    for (const auto& [pictures, step] : cases) EXPECT_EQ(VC_Conversation::progressStep(pictures), step) << pictures;
}

TEST(ConversationRules, TheReplyFieldGrowsToTheLinesThatFit) {
    struct Case {
        bool iPad, landscape, focus;
        double available, line;
        long lines;
    };
    const Case cases[] = {
        {false, false, false, 0, 20, 5},  {false, true, false, 0, 20, 3},   {true, true, true, 10, 20, 5},
        {false, false, true, 500, 20, 5}, {false, true, true, 500, 20, 3},  {false, false, true, 65, 20, 3},
        {false, false, true, 39, 20, 1},  {false, false, true, -10, 20, 1}, {false, false, true, 100, 0, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VC_Conversation::maximumInputLines(c.iPad, c.landscape, c.focus, c.available, c.line), c.lines)
            << c.iPad << c.landscape << c.focus << " " << c.available;
}

TEST(ConversationRules, ACardsCallURLKeepsTheNumberWholeWhenRead) {
    struct Case {
        std::string number;
        bool skip;
        std::string method;
        std::map<std::string, std::string> query;
    };
    const Case cases[] = {
        {"+44 20 7946-0958", true, "DirectCall", {{"number", "+442079460958"}, {"callmethod", "DirectCall"}}},
        {"*67#5550103", true, "Work & Home", {{"number", "*67#5550103"}, {"callmethod", "Work & Home"}}},
        {"(555) 010-3000", false, "", {{"", "5550103000"}}},
        {"#31#+15550103", false, "", {{"", "#31#+15550103"}}},
    };
    for (const auto& c : cases) {
        const std::string url = hxCallURLForNumber(c.number, c.skip, c.method);
        EXPECT_TRUE(url.starts_with("hxconnect://call?")) << url;
        EXPECT_EQ(queryOf(url), c.query) << url;
    }
}

TEST(ConversationRules, AContactNameLosesOnlyItsLabelAfterTheNoBreakSpace) {
    const std::pair<std::string, std::string> cases[] = {
        {"Ann Lee\u00A0(mobile)", "Ann Lee"},
        {"Ann (Work) Lee", "Ann (Work) Lee"},  // an ordinary space is part of the
                                               // name
        {"Ann (Jr)\u00A0(home)", "Ann (Jr)"},
        {"A\u00A0(x)\u00A0(y)", "A\u00A0(x)"},
        {"Ann", "Ann"},
        {"", ""},
    };
    for (const auto& [abName, name] : cases) EXPECT_EQ(HXContactNameWithoutLabel(abName), name) << abName;
}

TEST(ConversationRules, ACallsLastTextGivesTheLabelOfTheNumberAdded) {
    struct Case {
        int64_t type;
        std::string last;
        std::string label;
    };
    const Case cases[] = {
        {0, "Missed call - Work", "Work"}, {16, "Call - a - Home ", "Home"}, {17, "x - ", "mobile"},
        {10, "text - Work", "mobile"},     {1, "no dash", "mobile"},         {3, "y - Work", "mobile"},
        {-1, "y - Work", "mobile"},        {99, "y - Work", "mobile"},
    };
    for (const auto& c : cases) EXPECT_EQ(HXContactHeader::phoneLabelFor(c.type, c.last), c.label) << c.type;
}
