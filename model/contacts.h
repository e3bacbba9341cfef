// The rules of the contact list: how a device contact becomes entries, how numbers and names
// match, and how one or several matches are named. The application object's contact operations
// (application_model_contacts.cpp) keep the list; these functions only read what they get.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/application_model.h"
#include "platform/foundation/value.h"
#include "platform/graphics/image.h"
#include "platform/services/contacts.h"

inline constexpr const char* kContactsCacheUpdatedNotification = "kContactsCacheUpdatedNotification";
inline constexpr const char* kContactsAccessRestrictedMessage =
    "HX Connect currently does not have access to the contacts database. Please change the privacy setting in the "
    "'Settings' application in order for the application to be able to access your contacts.";

namespace hxcontacts {

using ContactEntry = HXApplicationModel::ContactEntry;
using ContactList = HXApplicationModel::ContactList;

// A formatted number in international form where the formatter left it national.
std::string normalizedNumber(std::string n);
// One entry per phone number (without "lastSelection"); format turns the raw number into the
// display form.
std::vector<foundation::Dictionary> entriesForContact(const services::Contact& contact,
                                                      const std::function<std::string(const std::string&)>& format);
// The image scaled to fit 40 x 40 points (proportions kept), drawn at the main screen's scale.
graphics::ImagePtr fittingThumbnail(const graphics::ImagePtr& image);
// Most recently picked first, then by name (stable).
void sortByRecency(ContactList& list);

// The entries of the contacts cache file (a property list): only the well-formed ones, a number
// and a record id both text; nothing when the file does not hold an array.
std::optional<ContactList> entriesFromCache(const foundation::Value& cache);

ContactList matchingPhone(const ContactList& list, std::string_view number);
ContactList matchingName(const ContactList& list, std::string_view query);
// The display name of the matches of one number ("" for none).
std::string displayName(const ContactList& matches, bool familyNameOrder);
// Whether names are shown family name first (the contact store's order).
bool familyNameOrder();

// The names of numbers among a copy of the contact list, for work off the main queue that may
// not reach the application object (the list parse).
struct Names {
    ContactList contacts;
    // Formats the members of a group; none: they are looked up as they are.
    std::shared_ptr<HXCPhoneFormat> formatter;
    bool familyNameOrder = false;

    // The display name of one number's matches ("" for none).
    std::string nameForNumber(std::string_view number) const;
    // A group's "a & b", "a, b, c" or "a & n others" from its "|"-separated numbers (each the
    // contact's name or its formatted number); numbers without a "|" unchanged.
    std::string groupName(std::string_view numbers) const;
    // A number formatted with the formatter (unchanged without one).
    std::string formatted(std::string_view number) const;
};

}  // namespace hxcontacts
