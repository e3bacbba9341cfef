#include "ui/conversation/conversation_row_texts.h"

#include "platform/foundation/dates.h"
#include "platform/foundation/format.h"
#include "ui/conversation/conversation_screens_shared.h"

namespace {

const foundation::DateFormatter& sharedRelativeFormatter() {
    auto& formatter = hxConversationScreensShared().relativeFormatter;
    if (!formatter) {
        formatter = std::make_unique<foundation::DateFormatter>();
        formatter->setDateStyle(foundation::DateFormatter::Style::Short);
        formatter->setTimeStyle(foundation::DateFormatter::Style::Short);
        formatter->setDoesRelativeDateFormatting(true);
    }
    return *formatter;
}

}  // namespace

std::string HXConversationRowTexts::keyOf(const std::optional<HX_Message>& message, long section) {
    std::string id = message ? message->messageID() : std::string();
    return id.empty() ? foundation::format("%ld", int64_t{section}) : id;
}

std::string HXConversationRowTexts::dateLabel(const std::optional<HX_Message>& message, foundation::Dictionary& sizes) {
    if (const auto& stored = sizes.get("dateString"); stored.isString()) return stored.asString();
    if (!message) return {};
    std::string text =
        sharedRelativeFormatter().string(foundation::Date{static_cast<double>(message->number()) / 1000.0});
    sizes.set("dateString", text);
    return text;
}

HXBubbleText HXConversationRowTexts::bubbleText(const HX_Message& message, foundation::Dictionary& sizes) {
    // A row shown again reads what was found for the same text.
    std::string text = message.text();
    if (const auto& told = sizes.get("bubbleSource"); told.isString() && told.asString() == text) {
        if (const auto& shown = sizes.get("bubbleText"); shown.isString()) return {shown.asString(), true};
        return {std::move(text), false};
    }
    ++languagesDetected_;
    HXBubbleText bubble = hxBubbleText(text);
    sizes.set("bubbleSource", std::move(text));
    if (bubble.rightToLeft)
        sizes.set("bubbleText", bubble.text);
    else
        sizes.remove("bubbleText");
    return bubble;
}
