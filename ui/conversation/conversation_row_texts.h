// What the conversation's rows keep per message while the thread is shown, by the message's id
// (else its section): each row's size per width, the date text and the bubble text, whose
// language is told once per message text. A row shown again reads them instead of making them
// anew; the screen forgets them when the messages change, the fonts change or memory runs low.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>

#include "model/conversation.h"
#include "platform/foundation/value.h"
#include "ui/conversation/conversation_table_view_cell.h"

class HXConversationRowTexts {
public:
    // The key a message's sizes are kept under: its id, else its section.
    static std::string keyOf(const std::optional<HX_Message>& message, long section);
    foundation::Dictionary& sizesOf(const std::optional<HX_Message>& message, long section) {
        return kept_[keyOf(message, section)];
    }
    void forget(const std::string& key) { kept_.erase(key); }
    void clear() { kept_.clear(); }
    // The message's date as a date line shows it (relative to today), formatted once.
    static std::string dateLabel(const std::optional<HX_Message>& message, foundation::Dictionary& sizes);
    // The message's text as its bubble shows it (hxBubbleText), its language told once per text.
    HXBubbleText bubbleText(const HX_Message& message, foundation::Dictionary& sizes);

    // How many times the screen looked a message up by its section (noted by the screen), and
    // how many texts' languages were told.
    void noteLookup() const { ++messagesLookedUp_; }
    size_t messagesLookedUp() const { return messagesLookedUp_; }
    size_t languagesDetected() const { return languagesDetected_; }

private:
    std::unordered_map<std::string, foundation::Dictionary> kept_;
    mutable size_t messagesLookedUp_ = 0;
    size_t languagesDetected_ = 0;
};
