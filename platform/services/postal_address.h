// A postal address and its mailing-style text, as contacts keep addresses and geocoding names
// places.
#pragma once

#include <string>

namespace services {

struct PostalAddress {
    std::string street;
    std::string city;
    std::string state;
    std::string postalCode;
    std::string country;
    // ISO 3166 alpha-2, any letter case; empty when unknown.
    std::string isoCountryCode;
    friend bool operator==(const PostalAddress&, const PostalAddress&) = default;
};

// The address as written on an envelope, one line per part, empty parts left out: the street
// (its own line breaks kept), then where the country code is "us", "ca", "au" or unknown
// "City State ZIP", elsewhere "ZIP City" and the state on a line of its own, then the country.
std::string mailingAddressString(const PostalAddress& address);

}  // namespace services
