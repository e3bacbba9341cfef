// A contact for tests: names, labelled numbers and the store's identifier.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/services/contacts.h"

namespace hxtest {

inline services::Contact person(std::string given, std::string family, std::vector<services::LabeledPhoneNumber> phones,
                                std::string id = "") {
    services::Contact c;
    c.givenName = std::move(given);
    c.familyName = std::move(family);
    c.phoneNumbers = std::move(phones);
    c.identifier = std::move(id);
    return c;
}

}  // namespace hxtest
