// The conversation action codes (what a conversation offers: call, archive, delete, ...) as the
// items of a menu or of a preview, shared by the lists' context menu and the conversation screen's
// bar menu and preview. Each screen says what a code does where it offers it; the titles and
// symbols are the application object's.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/toolkit/menu.h"

class HXConversationOperationsRole;
class HXConversationActionsRole;

struct HXConversationActionItem {
    int code = 0;
    std::string title;
    std::optional<std::string> image;  // a system symbol's name
    std::function<void()> run;
    // Code 0, delete: shown as destructive.
    bool destructive() const { return code == 0; }
};

struct HXConversationActionSource {
    std::function<std::optional<std::string>(int code)> title;
    std::function<std::optional<std::string>(int code)> image;
    // What a code does here; an empty function leaves the code out.
    std::function<std::function<void()>(int code)> action;
};

// What the codes that do the same wherever they are offered do for the conversation id (with its
// number): 0 delete, 1 call, 2 text, 3 and 4 archive or back to the inbox, 5 and 6 the read status,
// 9 the mail, 10 and 11 block or unblock. None for any other code.
std::function<void()> hxCommonConversationAction(int code, const std::weak_ptr<HXConversationOperationsRole>& list,
                                                 const std::weak_ptr<HXConversationActionsRole>& conversations,
                                                 const std::string& id, const std::string& number);

// The read status offered right after the archive code (3 or 4): code 5 "Mark as read" or 6
// "Mark as unread".
struct HXReadToggle {
    int code = 5;
    std::function<void()> run;
};

// The items of the codes in their order, then the read toggle after the archive code when given.
std::vector<HXConversationActionItem> hxConversationActionItems(const std::vector<int>& codes,
                                                                const HXConversationActionSource& source,
                                                                const std::optional<HXReadToggle>& readToggle = {});

// A menu of the items: the others in an untitled inline menu, then delete alone in a destructive
// submenu of its own title and symbol (shown inline from 15 on). Without delete, a menu of the
// items; none without items.
toolkit::MenuPtr hxConversationActionsMenu(const std::vector<HXConversationActionItem>& items, int systemVersion);
