// Comparing laid-out text in tests: every part of two boxes that a view measures or draws.
#pragma once

#include <gtest/gtest.h>

#include "platform/toolkit/text_metrics.h"

namespace toolkit_text {

inline void expectSameBox(const toolkit::TextBox& box, const toolkit::TextBox& expected) {
    EXPECT_EQ(box.size, expected.size);
    EXPECT_EQ(box.truncated, expected.truncated);
    ASSERT_EQ(box.lines.size(), expected.lines.size());
    for (size_t i = 0; i < box.lines.size(); ++i) {
        const toolkit::TextLine& a = box.lines[i];
        const toolkit::TextLine& b = expected.lines[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(a.content.string(), b.content.string());
        ASSERT_EQ(a.content.runs().size(), b.content.runs().size());
        for (size_t r = 0; r < a.content.runs().size(); ++r) {
            EXPECT_EQ(a.content.runs()[r].start, b.content.runs()[r].start);
            EXPECT_EQ(a.content.runs()[r].length, b.content.runs()[r].length);
            EXPECT_EQ(a.content.runs()[r].attributes, b.content.runs()[r].attributes);
        }
        EXPECT_EQ(a.frame, b.frame);
        EXPECT_EQ(a.baseline, b.baseline);
        EXPECT_EQ(a.start, b.start);
        EXPECT_EQ(a.end, b.end);
        EXPECT_EQ(a.cut, b.cut);
    }
}

}  // namespace toolkit_text
