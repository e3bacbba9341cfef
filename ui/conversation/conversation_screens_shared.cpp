#include "ui/conversation/conversation_screens_shared.h"

HXConversationScreensShared& hxConversationScreensShared() {
    static HXConversationScreensShared shared;
    return shared;
}
