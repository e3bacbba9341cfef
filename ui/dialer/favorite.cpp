#include "ui/dialer/favorite.h"

#include <cstdio>

#include "model/cache.h"
#include "model/memory_cache.h"
#include "platform/foundation/strings.h"
#include "platform/graphics/image_operations.h"
#include "ui/widgets/default_contact_image.h"

namespace {

std::string thumbnailKey(const std::string& contactID) { return "Fav-" + contactID; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Two images of the same size and scale whose pixels are equal.
bool samePixels(const graphics::Image& a, const graphics::Image& b) {
    if (a.size() != b.size() || a.scale() != b.scale()) return false;
    auto pa = a.bitmap(), pb = b.bitmap();
    return pa && pb && (pa == pb || *pa == *pb);
}

std::string fullName(const services::Contact& c) { return services::ContactFormatter::fullName(c).value_or(""); }

}  // namespace

Favorite::Sources Favorite::Sources::shared() { return {services::ContactStore::shared(), HXCCache::sharedCache()}; }

std::vector<std::string> Favorite::fetchKeys() {
    std::vector<std::string> keys = {services::kContactPhoneNumbersKey, services::kContactThumbnailImageDataKey,
                                     services::kContactImageDataAvailableKey};
    for (auto& k : services::ContactFormatter::descriptorForRequiredKeys()) keys.push_back(std::move(k));
    return keys;
}

std::string Favorite::escaped(std::string_view text) {
    return foundation::replaceAll(foundation::replaceAll(text, ",", "%2c"), "|", "%7c");
}

std::string Favorite::percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const int hi = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
        const int lo = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
        if (hi < 0 || lo < 0) return std::string(text);
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    if (!foundation::isValidUtf8(out)) return std::string(text);
    return out;
}

Favorite::Favorite() : Favorite(std::string_view("-1,-1,,")) {}

Favorite::Favorite(std::string_view compositeString, const Sources& sources) : line_(compositeString) {
    const std::vector<std::string> fields = foundation::split(compositeString, ",");
    auto field = [&](size_t i) { return i < fields.size() ? fields[i] : std::string(); };
    foundation::Date date = foundation::now();
    if (fields.size() > 4)
        date = foundation::Date{static_cast<double>(foundation::parseLeadingInteger(fields[4]).value_or(0))};
    contactID_ = field(0);
    phoneID_ = field(1);
    lastUpdate_ = date;
    thumbnails_ = sources.thumbnails;
    resolve(field(2), percentDecoded(field(3)), sources);
}

Favorite::Favorite(std::string contactID, std::string phoneID, std::string contactName, std::string phoneString,
                   foundation::Date lastUpdate, const Sources& sources)
    : contactID_(std::move(contactID)), phoneID_(std::move(phoneID)), lastUpdate_(lastUpdate) {
    thumbnails_ = sources.thumbnails;
    char seconds[64];
    std::snprintf(seconds, sizeof seconds, "%f", foundation::timeIntervalSince1970(lastUpdate_));
    line_ = contactID_ + "," + phoneID_ + "," + escaped(contactName) + "," + escaped(phoneString) + "," + seconds;
    resolve(contactName, phoneString, sources);
}

Favorite::Favorite(const services::Contact& contact, const services::LabeledPhoneNumber& phone, const Sources& sources)
    : contactID_(contact.identifier),
      phoneID_(phone.identifier),
      name_(fullName(contact)),
      number_(phone.stringValue),
      label_(services::localizedStringForLabel(phone.label)),
      lastUpdate_(foundation::now()),
      thumbnails_(sources.thumbnails) {
    storeThumbnail(contact, sources);
}

void Favorite::resolve(const std::string& givenName, const std::string& givenNumber, const Sources& sources) {
    if (contactID_.empty()) {
        phoneID_.clear();
        name_.clear();
        number_.clear();
        label_.clear();
        lastUpdate_ = foundation::Date{0};
        return;
    }
    std::optional<services::Contact> contact;
    if (sources.contacts) {
        if (auto byID = sources.contacts->unifiedContactWithIdentifier(contactID_, fetchKeys()); byID.ok())
            contact = std::move(*byID);
    }
    if (!contact) {
        // The identifier is gone here: so is the thumbnail kept under it.
        if (sources.thumbnails) {
            sources.thumbnails->objectForKey(thumbnailKey(contactID_),
                                             [](HXCCache& cache, const std::string& key, const HXCCache::Object& o) {
                                                 if (o) cache.removeObjectForKey(key, {});
                                             });
        }
        const std::string name = percentDecoded(givenName);
        if (!name.empty() && sources.contacts) {
            auto keys = fetchKeys();
            keys.emplace_back(services::kContactIdentifierKey);
            auto matches = sources.contacts->unifiedContactsMatchingName(name, keys);
            if (matches.ok() && matches->size() == 1) {
                contact = std::move(matches->front());
                contactID_ = contact->identifier;
                phoneID_.clear();
            }
        }
        if (!contact) {
            // Found nowhere: shown with what was stored and written back unchanged.
            name_ = name;
            number_ = givenNumber;
            label_.clear();
            stored_ = line_;
            return;
        }
    }
    name_ = fullName(*contact);
    auto take = [&](const services::LabeledPhoneNumber& p) {
        number_ = p.stringValue;
        label_ = services::localizedStringForLabel(p.label);
    };
    if (!phoneID_.empty()) {
        const services::LabeledPhoneNumber* found = nullptr;
        int count = 0;
        for (const auto& p : contact->phoneNumbers)
            if (p.identifier == phoneID_) found = &p, ++count;
        if (count == 1) {
            take(*found);
            if (number_ != givenNumber) lastUpdate_ = foundation::now();
        } else {
            contactID_.clear();
            phoneID_.clear();
        }
    }
    if (!contactID_.empty() && phoneID_.empty()) {
        const services::LabeledPhoneNumber* found = nullptr;
        int count = 0;
        for (const auto& p : contact->phoneNumbers)
            if (p.stringValue == givenNumber) found = &p, ++count;
        if (count == 1) {
            phoneID_ = found->identifier;
            take(*found);
            lastUpdate_ = foundation::now();
        } else {
            contactID_.clear();
            phoneID_.clear();
        }
    }
    storeThumbnail(*contact, sources);
}

void Favorite::storeThumbnail(const services::Contact& contact, const Sources& sources) {
    if (contactID_.empty()) return;
    if (!contact.imageDataAvailable() || !contact.thumbnailImageData) {
        withoutPicture_ = true;
        return;
    }
    if (!sources.thumbnails) return;
    auto image = graphics::Image::fromEncoded(*contact.thumbnailImageData);
    if (!image.ok()) return;
    auto thumbnail = graphics::imageScaledToFitSize(*image, {40, 40});
    if (!thumbnail) return;
    thumbnail_ = thumbnail;
    // The same thumbnail already held (the list opened before in this run): writing it again
    // would only rewrite the same file on the cache's disk, for every favourite at every opening.
    const std::string key = thumbnailKey(contactID_);
    if (auto held = sources.thumbnails->memoryCache()->objectForKey(key); held && held->image())
        if (samePixels(*held->image(), *thumbnail)) return;
    sources.thumbnails->setObject(HXCCachedObject::withImage(thumbnail), key, {});
}

std::string Favorite::compositeString() const {
    if (stored_) return *stored_;
    char seconds[64];
    std::snprintf(seconds, sizeof seconds, "%f", foundation::timeIntervalSince1970(lastUpdate_));
    return contactID_ + "," + phoneID_ + "," + escaped(name_) + "," + escaped(number_) + "," + seconds;
}

graphics::ImagePtr Favorite::contactImage() const {
    if (thumbnail_) return thumbnail_;
    if (withoutPicture_) return defaultContactImage();
    if (!contactID_.empty() && thumbnails_) {
        if (auto object = thumbnails_->objectForKey(thumbnailKey(contactID_)); object && object->image())
            return object->image();
    }
    return defaultContactImage();
}
