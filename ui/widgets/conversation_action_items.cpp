#include "ui/widgets/conversation_action_items.h"

#include "app/roles/screen_roles.h"
#include "platform/graphics/named_images.h"
#include "service/conversation_operations.h"

std::function<void()> hxCommonConversationAction(int code, const std::weak_ptr<HXConversationOperationsRole>& list,
                                                 const std::weak_ptr<HXConversationActionsRole>& conversations,
                                                 const std::string& id, const std::string& number) {
    switch (code) {
        case 0:
            return [list, id] {
                if (auto l = list.lock()) l->deleteConversationWithID(id);
            };
        case 1:
            return [conversations, number] {
                if (auto c = conversations.lock()) c->placeCallTo(number);
            };
        case 2:
            return [conversations, number] {
                if (auto c = conversations.lock()) c->newMessageToNumber(number, "", "");
            };
        case 3:
        case 4:
            return [list, id] {
                if (auto l = list.lock()) l->changeArchiveStateForConversationWithID(id);
            };
        case 5:
        case 6:
            return [list, id] {
                if (auto l = list.lock()) l->changeReadStatusForConversationWithID(id);
            };
        case 9:
            return [list, id] {
                if (auto l = list.lock()) l->createEmailForConversationWithID(id);
            };
        case 10:
        case 11:
            return [list, id, block = code == 10] {
                if (auto l = list.lock()) l->blockContact(block, id);
            };
        default:
            return {};
    }
}

std::vector<HXConversationActionItem> hxConversationActionItems(const std::vector<int>& codes,
                                                                const HXConversationActionSource& source,
                                                                const std::optional<HXReadToggle>& readToggle) {
    std::vector<HXConversationActionItem> items;
    auto add = [&](int code, std::function<void()> run) {
        if (!run) return;
        items.push_back({code, source.title ? source.title(code).value_or("") : std::string(),
                         source.image ? source.image(code) : std::nullopt, std::move(run)});
    };
    for (int code : codes) {
        add(code, source.action ? source.action(code) : std::function<void()>());
        if ((code == 3 || code == 4) && readToggle) add(readToggle->code, readToggle->run);
    }
    return items;
}

toolkit::MenuPtr hxConversationActionsMenu(const std::vector<HXConversationActionItem>& items, int systemVersion) {
    if (items.empty()) return nullptr;
    std::vector<toolkit::MenuElementPtr> others;
    toolkit::MenuPtr deleteMenu;
    for (const auto& item : items) {
        auto action = toolkit::MenuAction::make(
            item.title, item.image ? graphics::systemImageNamed(*item.image) : nullptr,
            [run = item.run](toolkit::MenuAction&) { run(); },
            item.destructive() ? toolkit::kMenuElementDestructive : toolkit::kMenuElementNone);
        if (!item.destructive()) {
            others.push_back(std::move(action));
            continue;
        }
        const unsigned options =
            systemVersion >= 15 ? toolkit::kMenuDisplayInline | toolkit::kMenuDestructive : toolkit::kMenuDestructive;
        deleteMenu = toolkit::Menu::make(action->title, {action}, options, action->image);
    }
    if (!deleteMenu) return toolkit::Menu::make(std::string(), std::move(others));
    return toolkit::Menu::make(
        std::string(),
        {toolkit::Menu::make(std::string(), std::move(others), toolkit::kMenuDisplayInline), deleteMenu});
}
