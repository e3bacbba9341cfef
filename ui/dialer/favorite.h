// One favourite: one phone number of one device contact, stored as a single line (its composite
// string "contactID,phoneID,name,number,seconds") and resolved against the contacts each time it
// is read back, so a renamed contact or a changed number shows up. The list is mirrored to the
// user's other devices, where the same contact has other identifiers: then the contact is found
// by its name and the phone by its number.
//
// A line that finds no contact (another device's identifiers and a name that is not unique, no
// access to contacts) is not ours to rewrite: it keeps its stored name and number for display
// and writes itself back exactly as it was read, since it may resolve on the device that wrote it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/dates.h"
#include "platform/graphics/image.h"
#include "platform/services/contacts.h"

class HXCCache;

class Favorite {
public:
    // Where a favourite looks its contact up and keeps its thumbnail ("Fav-" + contact id).
    struct Sources {
        std::shared_ptr<services::ContactStore> contacts;
        std::shared_ptr<HXCCache> thumbnails;
        // The app's shared ones.
        static Sources shared();
    };

    // The empty favourite, the line "-1,-1,,".
    Favorite();
    // Parses a stored line and resolves it.
    explicit Favorite(std::string_view compositeString, const Sources& sources = Sources::shared());
    // A new favourite from a contact picked in the contact picker (fetched with its thumbnail).
    Favorite(const services::Contact& contact, const services::LabeledPhoneNumber& phone,
             const Sources& sources = Sources::shared());
    // The resolver: the given name and number are inputs of the search only; name, number and
    // label come from the contacts.
    Favorite(std::string contactID, std::string phoneID, std::string contactName, std::string phoneString,
             foundation::Date lastUpdate, const Sources& sources = Sources::shared());

    const std::string& contactID() const { return contactID_; }
    const std::string& phoneID() const { return phoneID_; }
    const std::string& name() const { return name_; }
    const std::string& number() const { return number_; }
    const std::string& label() const { return label_; }
    foundation::Date lastUpdate() const { return lastUpdate_; }
    // True when the line found no contact and is kept as it was stored.
    bool isUnresolved() const { return stored_.has_value(); }

    // The stored form: "%@,%@,%@,%@,%f" with "," and "|" of name and number escaped as "%2c" and
    // "%7c"; an unresolved favourite's own line, byte for byte.
    std::string compositeString() const;
    // The thumbnail (made by this resolution, else the cached one), else the app's default
    // contact picture; a contact found without a picture shows the default one.
    graphics::ImagePtr contactImage() const;

    // The escape and its inverse. Decoding turns every "%" and two hex digits into its byte; a
    // text with a "%" not followed by two hex digits, or that decodes to no valid UTF-8, stays as
    // it is.
    static std::string escaped(std::string_view text);
    static std::string percentDecoded(std::string_view text);
    // The keys a favourite fetches its contact with.
    static std::vector<std::string> fetchKeys();

private:
    void resolve(const std::string& givenName, const std::string& givenNumber, const Sources& sources);
    void storeThumbnail(const services::Contact& contact, const Sources& sources);

    std::string contactID_;
    std::string phoneID_;
    std::string name_;
    std::string number_;
    std::string label_;
    foundation::Date lastUpdate_;
    std::shared_ptr<HXCCache> thumbnails_;
    // What this resolution learnt of the picture: the thumbnail it made, or that the contact has
    // none, so showing the favourite needs no cache read.
    graphics::ImagePtr thumbnail_;
    bool withoutPicture_ = false;
    // The line as read, kept while the favourite is unresolved.
    std::optional<std::string> stored_;
    std::string line_;
};
