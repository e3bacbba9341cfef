#include "service/conversation_title.h"

#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"

std::string HXConversationTitle(const std::string& sender, const std::string& abName) {
    if (sender == "Group Message") return foundation::localizedString("Group Message");
    if (!abName.empty()) return HXContactNameWithoutLabel(abName);
    static const std::string kDialSigns = "1234567890-+()*# ";
    return sender.find_first_not_of(kDialSigns) == std::string::npos ? std::string() : sender;
}

std::string HXContactNameWithoutLabel(const std::string& abName) {
    static const std::string kLabelStart = "\u00A0(";
    const auto at = abName.rfind(kLabelStart);
    return at == std::string::npos ? abName : abName.substr(0, at);
}

std::string HXRecipientTitle(const std::string& name, const std::string& label, const std::string& number) {
    if (name.empty()) return number;
    return label.empty() ? name : foundation::format("%@ (%@)", name, label);
}
