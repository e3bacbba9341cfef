// Swipes over a shown alert move the caret of its text field: three fingers to either end, one
// finger by a letter, two by a word.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/testing/harness.h"
#include "ui/widgets/caret_navigation.h"

namespace hxtest {

// Fills the alert's first field with "Work Day", swipes across the alert above the field and
// empties the field again.
inline void expectAlertCaretSwipes(toolkit::testing::Harness& harness) {
    auto* alert = harness.visibleAlert();
    ASSERT_NE(alert, nullptr);
    ASSERT_FALSE(alert->textFields().empty());
    ASSERT_TRUE(harness.fillAlertField(0, "Work Day"));
    auto& field = *alert->textFields()[0];
    const auto frame = field.convertRectTo(field.bounds(), nullptr);
    const double y = frame.minY() - 20;
    auto swipe = [&](int fingers, bool right) {
        harness.swipe({right ? frame.minX() : frame.maxX(), y}, {right ? frame.maxX() : frame.minX(), y}, fingers);
        harness.settle();
        return hxcSelectedRange(field);
    };
    EXPECT_EQ(swipe(3, false), (HXCTextRange{0, 0})) << alert->alertTitle().value_or("");
    EXPECT_EQ(swipe(2, true), (HXCTextRange{5, 0})) << alert->alertTitle().value_or("");
    EXPECT_EQ(swipe(1, true), (HXCTextRange{6, 0})) << alert->alertTitle().value_or("");
    EXPECT_EQ(swipe(3, true), (HXCTextRange{8, 0})) << alert->alertTitle().value_or("");
    EXPECT_EQ(swipe(1, false), (HXCTextRange{7, 0})) << alert->alertTitle().value_or("");
    field.setText("");
}

}  // namespace hxtest
