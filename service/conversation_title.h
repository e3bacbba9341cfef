// The title a conversation shows, shared by the lists that open a conversation and the shell,
// which opens one from a URL or a notification.
#pragma once

#include <string>

// "Group Message" (localised) for a group, else the contact name without its phone label (the
// text from its last no-break space followed by "("), else the sender unless it is only digits
// and dial signs (a bare number gets no title: the screen shows the number elsewhere).
std::string HXConversationTitle(const std::string& sender, const std::string& abName);

// A contact name without the phone label the contacts cache appends (the text from its last
// no-break space followed by "(").
std::string HXContactNameWithoutLabel(const std::string& abName);

// The title of a picked recipient's token: "Name (label)", or the name alone; a contact without a
// name to show goes by its number.
std::string HXRecipientTitle(const std::string& name, const std::string& label, const std::string& number);
