// Reads an HTML form out of a service page: its action URL and the values of its named inputs,
// so that a page the sign-in host puts in the way can be answered by posting the form back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

inline constexpr const char* kHXFormSubmissionURLKey = "hxc_FormSubmissionURL";

// The form of html: the form with id "challenge" when there is one and no partialURL is given,
// else the first form whose action contains partialURL (the first form without one). The result
// maps each input name to its value; an empty value is taken from fieldDict under the input's
// lower-case name, or left out. The action is stored under kHXFormSubmissionURLKey. None when
// the page has no such form or the form has no named input.
std::optional<foundation::Dictionary> HXParseFormFromData(std::string_view html,
                                                          const std::optional<std::string>& partialURL,
                                                          const foundation::Dictionary& fieldDict);
