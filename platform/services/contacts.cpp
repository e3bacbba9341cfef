#include "platform/services/contacts.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/base64.h"
#include "platform/foundation/files.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/uuid.h"

namespace services {

namespace {

std::atomic<AuthorizationStatus> gStatus{AuthorizationStatus::NotDetermined};
std::atomic<bool> gAnswer{true};
std::atomic<ContactSortOrder> gSortOrder{ContactSortOrder::GivenName};

// A whole file of cards is bounded so a hostile card cannot exhaust memory.
constexpr size_t kMaxVCardText = 64u << 20;

foundation::Error vcardError(const std::string& message) {
    return foundation::Error::withDescription(kContactsErrorDomain, kContactsErrorVCardMalformed, message);
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return std::string(s.substr(b, e - b));
}

// Splits at unescaped separators, undoing the escapes of each part.
std::vector<std::string> splitEscaped(std::string_view s, char separator) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '\\' && i + 1 < s.size()) {
            char n = s[++i];
            parts.back() += (n == 'n' || n == 'N') ? '\n' : n;
        } else if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

std::string unescape(std::string_view s) { return splitEscaped(s, '\0').front(); }

std::string escape(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case ',':
                out += "\\,";
                break;
            case ';':
                out += "\\;";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                break;
            default:
                out += c;
        }
    }
    return out;
}

struct Line {
    std::string name;
    std::vector<std::pair<std::string, std::string>> params;  // upper-cased name, value
    std::string value;
};

std::optional<Line> parseLine(std::string_view raw) {
    // The name and parameters end at the first colon outside a quoted parameter value.
    bool quoted = false;
    size_t colon = std::string_view::npos;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '"')
            quoted = !quoted;
        else if (raw[i] == ':' && !quoted) {
            colon = i;
            break;
        }
    }
    if (colon == std::string_view::npos) return std::nullopt;
    Line line;
    line.value = std::string(raw.substr(colon + 1));
    std::string_view head = raw.substr(0, colon);
    std::vector<std::string> fields;
    std::string cur;
    quoted = false;
    for (char c : head) {
        if (c == '"')
            quoted = !quoted;
        else if (c == ';' && !quoted) {
            fields.push_back(cur);
            cur.clear();
        } else
            cur += c;
    }
    fields.push_back(cur);
    std::string name = upper(trim(fields[0]));
    if (auto dot = name.rfind('.'); dot != std::string::npos) name = name.substr(dot + 1);  // group prefix
    if (name.empty()) return std::nullopt;
    line.name = name;
    for (size_t i = 1; i < fields.size(); ++i) {
        auto eq = fields[i].find('=');
        if (eq == std::string::npos)
            line.params.emplace_back("TYPE", fields[i]);  // bare type (older cards)
        else
            line.params.emplace_back(upper(trim(fields[i].substr(0, eq))), fields[i].substr(eq + 1));
    }
    return line;
}

std::set<std::string> typesOf(const Line& line) {
    std::set<std::string> types;
    for (const auto& [k, v] : line.params) {
        if (k != "TYPE") continue;
        for (auto& t : splitEscaped(v, ',')) types.insert(trim(t));
    }
    return types;
}

std::string labelForTypes(const std::set<std::string>& given) {
    std::set<std::string> t;
    for (const auto& s : given) t.insert(upper(s));
    if (t.count("IPHONE")) return kLabelPhoneNumberiPhone;
    if (t.count("FAX")) return t.count("WORK") ? kLabelPhoneNumberWorkFax : kLabelPhoneNumberHomeFax;
    if (t.count("PAGER")) return kLabelPhoneNumberPager;
    if (t.count("CELL")) return kLabelPhoneNumberMobile;
    if (t.count("MAIN") || (t.count("PREF") && t.size() == 1)) return kLabelPhoneNumberMain;
    if (t.count("HOME")) return kLabelHome;
    if (t.count("WORK")) return kLabelWork;
    // A custom label keeps the case it was written in.
    for (const auto& s : given) {
        if (upper(s.substr(0, 2)) == "X-" && s.size() > 2) return s.substr(2);
    }
    return t.empty() ? std::string() : kLabelOther;
}

std::string typesForLabel(const std::string& label) {
    if (label == kLabelPhoneNumberMobile) return "CELL";
    if (label == kLabelPhoneNumberiPhone) return "IPHONE,CELL";
    if (label == kLabelPhoneNumberMain) return "MAIN";
    if (label == kLabelPhoneNumberHomeFax) return "HOME,FAX";
    if (label == kLabelPhoneNumberWorkFax) return "WORK,FAX";
    if (label == kLabelPhoneNumberPager) return "PAGER";
    if (label == kLabelHome) return "HOME";
    if (label == kLabelWork) return "WORK";
    if (label == kLabelOther) return "OTHER";
    std::string custom;
    for (char c : label) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') custom += c;
    }
    return custom.empty() ? std::string() : "X-" + custom;
}

std::optional<foundation::Data> photoData(const Line& line) {
    std::string value = trim(line.value);
    if (value.rfind("data:", 0) == 0) {
        auto comma = value.find(',');
        if (comma == std::string::npos || value.substr(0, comma).find(";base64") == std::string::npos)
            return std::nullopt;
        return foundation::base64Decode(value.substr(comma + 1), foundation::Base64Decoding::IgnoreUnknownCharacters);
    }
    for (const auto& [k, v] : line.params) {
        if (k == "ENCODING" && (upper(v) == "B" || upper(v) == "BASE64"))
            return foundation::base64Decode(value, foundation::Base64Decoding::IgnoreUnknownCharacters);
    }
    return std::nullopt;  // a photo by URL is not fetched
}

void fold(std::string& out, const std::string& line) {
    // 75 octets per line, never cutting a UTF-8 sequence; continuation lines start with a blank.
    size_t pos = 0, limit = 75;
    while (line.size() - pos > limit) {
        size_t cut = pos + limit;
        while (cut > pos && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
        if (cut == pos) cut = pos + limit;  // not UTF-8 at all: cut where the limit falls
        out.append(line, pos, cut - pos);
        out += "\r\n ";
        pos = cut;
        limit = 74;
    }
    out.append(line, pos, std::string::npos);
    out += "\r\n";
}

foundation::Error noAccess() {
    return foundation::Error::withDescription(kContactsErrorDomain, kContactsErrorAuthorizationDenied,
                                              "Access to contacts was denied.");
}

// The contact with only the keys asked for (and its identifier, which is always fetched).
Contact withKeys(const Contact& full, const std::set<std::string>& want) {
    Contact c;
    c.identifier = full.identifier;
    if (want.count(kContactGivenNameKey)) c.givenName = full.givenName;
    if (want.count(kContactFamilyNameKey)) c.familyName = full.familyName;
    if (want.count(kContactMiddleNameKey)) c.middleName = full.middleName;
    if (want.count(kContactNamePrefixKey)) c.namePrefix = full.namePrefix;
    if (want.count(kContactNameSuffixKey)) c.nameSuffix = full.nameSuffix;
    if (want.count(kContactNicknameKey)) c.nickname = full.nickname;
    if (want.count(kContactOrganizationNameKey)) c.organizationName = full.organizationName;
    if (want.count(kContactPhoneNumbersKey)) c.phoneNumbers = full.phoneNumbers;
    if (want.count(kContactPostalAddressesKey)) c.postalAddresses = full.postalAddresses;
    // Availability is answered from the image itself, so asking for it brings the image along.
    if (want.count(kContactImageDataKey) || want.count(kContactImageDataAvailableKey)) c.imageData = full.imageData;
    if (want.count(kContactThumbnailImageDataKey)) c.thumbnailImageData = full.thumbnailImageData;
    if (want.count(kContactTypeKey)) c.contactType = full.contactType;
    return c;
}

std::string hexIdentifier(std::string_view seed) {
    const uint64_t a = foundation::stableHash64(seed);
    const uint64_t b = foundation::stableHash64(std::string(seed) + "\x01");
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(a >> 32),
                  static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(a & 0xFFFF),
                  static_cast<unsigned>(b >> 48), static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFULL));
    return buf;
}

// Gives the contact and its phone values the identifiers they lack (or that hold ",").
void adopt(Contact& contact) {
    if (contact.identifier.empty() || contact.identifier.find(',') != std::string::npos)
        contact.identifier = contact.identifier.empty() ? foundation::globallyUniqueString()
                                                        : hexIdentifier("contact\n" + contact.identifier);
    for (size_t i = 0; i < contact.phoneNumbers.size(); ++i) {
        std::string& id = contact.phoneNumbers[i].identifier;
        if (!id.empty() && id.find(',') == std::string::npos) continue;
        id = hexIdentifier("phone\n" + contact.identifier + "\n" + std::to_string(i));
    }
    // Two values of one contact never share an identifier.
    std::set<std::string> seen;
    for (size_t i = 0; i < contact.phoneNumbers.size(); ++i) {
        std::string& id = contact.phoneNumbers[i].identifier;
        for (int salt = 0; !seen.insert(id).second; ++salt)
            id = hexIdentifier("phone\n" + contact.identifier + "\n" + std::to_string(i) + "\n" + std::to_string(salt));
    }
}

std::vector<std::string> nameWords(std::string_view text) {
    std::vector<std::string> words;
    for (std::string& w : foundation::split(text, foundation::CharacterSet::whitespaceAndNewline()))
        if (!w.empty()) words.push_back(std::move(w));
    return words;
}

}  // namespace

std::string localizedStringForLabel(std::string_view label) {
    if (label == kLabelPhoneNumberHomeFax) return "home fax";
    if (label == kLabelPhoneNumberWorkFax) return "work fax";
    return std::string(label);
}

std::optional<std::string> ContactFormatter::fullName(const Contact& c) {
    if (c.contactType == ContactType::Organization) {
        std::string name = trim(c.organizationName);
        if (!name.empty()) return name;
    }
    std::vector<const std::string*> parts;
    if (gSortOrder.load() == ContactSortOrder::FamilyName)
        parts = {&c.namePrefix, &c.familyName, &c.givenName, &c.middleName, &c.nameSuffix};
    else
        parts = {&c.namePrefix, &c.givenName, &c.middleName, &c.familyName, &c.nameSuffix};
    std::string out;
    for (const std::string* p : parts) {
        std::string t = trim(*p);
        if (t.empty()) continue;
        if (!out.empty()) out += ' ';
        out += t;
    }
    if (out.empty()) return std::nullopt;
    return out;
}

std::vector<std::string> ContactFormatter::descriptorForRequiredKeys() {
    return {kContactNamePrefixKey, kContactGivenNameKey, kContactMiddleNameKey,      kContactFamilyNameKey,
            kContactNameSuffixKey, kContactTypeKey,      kContactOrganizationNameKey};
}

std::optional<std::string> phoneNumberWithStringValue(std::string_view text) {
    static const foundation::CharacterSet digits = foundation::CharacterSet::decimalDigits();
    static const foundation::CharacterSet signs = foundation::CharacterSet::fromCharacters("*#,;");
    static const foundation::CharacterSet separators = foundation::CharacterSet::fromCharacters(" \u00A0-.()/");
    const std::string trimmed = foundation::trim(text);
    bool digit = false;
    bool first = true;
    for (char32_t cp : foundation::toCodePoints(trimmed)) {
        if (digits.contains(cp))
            digit = true;
        else if (!(cp == U'+' && first) && !signs.contains(cp) && !separators.contains(cp))
            return std::nullopt;
        first = false;
    }
    if (!digit) return std::nullopt;
    return trimmed;
}

std::string abbreviatedName(std::string_view givenName, std::string_view familyName) {
    auto initial = [](std::string_view name) {
        const std::u32string cps = foundation::toCodePoints(foundation::trim(name));
        std::string out;
        if (cps.empty()) return out;
        auto combining = [](char32_t cp) {
            return (cp >= 0x300 && cp <= 0x36F) || (cp >= 0x1AB0 && cp <= 0x1AFF) || (cp >= 0x1DC0 && cp <= 0x1DFF) ||
                   (cp >= 0x20D0 && cp <= 0x20FF) || (cp >= 0xFE20 && cp <= 0xFE2F);
        };
        foundation::appendUtf8(out, cps[0]);
        for (size_t i = 1; i < cps.size() && combining(cps[i]); ++i) foundation::appendUtf8(out, cps[i]);
        return foundation::uppercase(out);
    };
    return initial(givenName) + initial(familyName);
}

std::shared_ptr<ContactStore> ContactStore::shared() {
    static std::once_flag once;
    static std::shared_ptr<ContactStore> store;
    std::call_once(once, [] {
        store = std::make_shared<ContactStore>();
        if (foundation::files::exists(contactsFilePath())) (void)store->loadVCardFile(contactsFilePath());
    });
    return store;
}

std::filesystem::path ContactStore::contactsFilePath() {
    return foundation::libraryDirectory() / "Contacts" / "contacts.vcf";
}

AuthorizationStatus ContactStore::authorizationStatus() { return gStatus.load(); }
void ContactStore::setAuthorizationStatus(AuthorizationStatus status) { gStatus.store(status); }
void ContactStore::setAnswerToAccessRequest(bool grant) { gAnswer.store(grant); }
ContactSortOrder ContactStore::defaultSortOrder() { return gSortOrder.load(); }
void ContactStore::setDefaultSortOrder(ContactSortOrder order) { gSortOrder.store(order); }

void ContactStore::requestAccess(std::function<void(bool, std::optional<foundation::Error>)> completion) {
    AuthorizationStatus expected = AuthorizationStatus::NotDetermined;
    gStatus.compare_exchange_strong(expected,
                                    gAnswer.load() ? AuthorizationStatus::Authorized : AuthorizationStatus::Denied);
    const bool granted = gStatus.load() == AuthorizationStatus::Authorized;
    dispatch::Queue::global(dispatch::Priority::Default)->async([completion = std::move(completion), granted] {
        if (granted)
            completion(true, std::nullopt);
        else
            completion(false,
                       foundation::Error::withDescription(kContactsErrorDomain, kContactsErrorAuthorizationDenied,
                                                          "Access to contacts was denied."));
    });
}

foundation::Status ContactStore::enumerateContacts(const std::vector<std::string>& keys,
                                                   const std::function<void(const Contact&, bool* stop)>& block) const {
    if (authorizationStatus() != AuthorizationStatus::Authorized) return noAccess();
    std::set<std::string> want(keys.begin(), keys.end());
    std::vector<Contact> snapshot;
    {
        std::lock_guard lock(mutex_);
        snapshot = contacts_;
    }
    for (const Contact& full : snapshot) {
        Contact c = withKeys(full, want);
        bool stop = false;
        block(c, &stop);
        if (stop) break;
    }
    return {};
}

foundation::Result<Contact> ContactStore::unifiedContactWithIdentifier(std::string_view identifier,
                                                                       const std::vector<std::string>& keys) const {
    if (authorizationStatus() != AuthorizationStatus::Authorized) return noAccess();
    const std::set<std::string> want(keys.begin(), keys.end());
    {
        std::lock_guard lock(mutex_);
        for (const Contact& full : contacts_)
            if (!identifier.empty() && full.identifier == identifier) return withKeys(full, want);
    }
    return foundation::Error::withDescription(kContactsErrorDomain, kContactsErrorRecordDoesNotExist,
                                              "No contact has the identifier \"" + std::string(identifier) + "\".");
}

std::vector<Contact> ContactStore::systemContacts(const std::vector<std::string>& keys) const {
    const std::set<std::string> want(keys.begin(), keys.end());
    std::vector<Contact> out;
    std::lock_guard lock(mutex_);
    for (const Contact& full : contacts_) out.push_back(withKeys(full, want));
    return out;
}

bool ContactStore::contactMatchesName(const Contact& contact, std::string_view name) {
    const auto wanted = nameWords(name);
    if (wanted.empty()) return false;
    std::vector<std::string> have;
    for (const std::string* field : {&contact.givenName, &contact.middleName, &contact.familyName, &contact.nickname,
                                     &contact.organizationName, &contact.namePrefix, &contact.nameSuffix})
        for (std::string& w : nameWords(*field)) have.push_back(std::move(w));
    const unsigned options = foundation::kCaseInsensitive | foundation::kDiacriticInsensitive;
    return std::all_of(wanted.begin(), wanted.end(), [&](const std::string& w) {
        return std::any_of(have.begin(), have.end(),
                           [&](const std::string& h) { return foundation::hasPrefix(h, w, options); });
    });
}

foundation::Result<std::vector<Contact>>
ContactStore::unifiedContactsMatchingName(std::string_view name, const std::vector<std::string>& keys) const {
    if (authorizationStatus() != AuthorizationStatus::Authorized) return noAccess();
    const std::set<std::string> want(keys.begin(), keys.end());
    std::vector<Contact> out;
    std::lock_guard lock(mutex_);
    for (const Contact& full : contacts_)
        if (contactMatchesName(full, name)) out.push_back(withKeys(full, want));
    return out;
}

foundation::Status ContactStore::executeSaveRequest(const SaveRequest& request) {
    if (authorizationStatus() != AuthorizationStatus::Authorized) return noAccess();
    for (const SaveRequest::Addition& a : request.additions()) {
        if (a.containerIdentifier && *a.containerIdentifier != kDefaultContainerIdentifier)
            return foundation::Error::withDescription(kContactsErrorDomain, kContactsErrorRecordDoesNotExist,
                                                      "No container has the identifier \"" + *a.containerIdentifier +
                                                          "\".");
    }
    if (request.additions().empty()) return {};
    {
        std::lock_guard lock(mutex_);
        std::vector<Contact> changed = contacts_;
        for (const SaveRequest::Addition& a : request.additions()) {
            Contact contact = a.contact;
            // A saved contact is a new record: the identifiers a card or a copy brought are not kept.
            contact.identifier.clear();
            for (LabeledPhoneNumber& p : contact.phoneNumbers) p.identifier.clear();
            adopt(contact);
            changed.push_back(std::move(contact));
        }
        // A store kept in a file saves nothing that the file did not take.
        if (!keptFile_.empty()) {
            const std::string cards = writeVCards(changed);
            std::error_code ec;
            std::filesystem::create_directories(keptFile_.parent_path(), ec);
            if (auto written =
                    foundation::files::writeAtomically(keptFile_, foundation::Data(cards.begin(), cards.end()));
                !written.ok())
                return foundation::Error::withDescription(kContactsErrorDomain, kContactsErrorWriteFailed,
                                                          "The contacts could not be saved to " + keptFile_.string() +
                                                              ": " + written.error().localizedDescription());
        }
        contacts_ = std::move(changed);
    }
    foundation::NotificationCenter::defaultCenter().post(kContactStoreDidChangeNotification);
    return {};
}

foundation::Status ContactStore::keepInFile(const std::filesystem::path& path) {
    if (path.empty()) {
        std::lock_guard lock(mutex_);
        keptFile_.clear();
        return {};
    }
    std::optional<foundation::Error> unreadable;
    if (foundation::files::exists(path)) {
        if (auto loaded = loadVCardFile(path); !loaded.ok()) {
            std::string message = "The contacts file " + path.string() + " cannot be read (" +
                                  loaded.error().localizedDescription() + ")";
            if (auto aside = foundation::files::setAside(path); aside.ok())
                message += "; it was kept as " + aside->string() + " and the device starts with no contacts.";
            else
                message += " nor moved aside (" + aside.error().localizedDescription() +
                           "); the device's contacts are not kept this run.";
            unreadable =
                foundation::Error::withDescription(kContactsErrorDomain, kContactsErrorVCardMalformed, message);
            std::lock_guard lock(mutex_);
            contacts_.clear();
            // Still in the way: nothing is written over it.
            if (foundation::files::exists(path)) return *unreadable;
        }
    }
    std::lock_guard lock(mutex_);
    keptFile_ = path;
    if (unreadable) return *unreadable;
    return {};
}

std::filesystem::path ContactStore::keptFile() const {
    std::lock_guard lock(mutex_);
    return keptFile_;
}

void ContactStore::addContact(Contact contact) {
    adopt(contact);
    std::lock_guard lock(mutex_);
    contacts_.push_back(std::move(contact));
}

bool ContactStore::updateContact(Contact contact) {
    std::lock_guard lock(mutex_);
    for (Contact& stored : contacts_) {
        if (contact.identifier.empty() || stored.identifier != contact.identifier) continue;
        adopt(contact);
        stored = std::move(contact);
        return true;
    }
    return false;
}

void ContactStore::removeAllContacts() {
    std::lock_guard lock(mutex_);
    contacts_.clear();
}

size_t ContactStore::count() const {
    std::lock_guard lock(mutex_);
    return contacts_.size();
}

foundation::Status ContactStore::loadVCardFile(const std::filesystem::path& path) {
    auto text = foundation::files::readString(path);
    if (!text.ok()) return text.error();
    auto cards = readVCards(*text);
    if (!cards.ok()) return cards.error();
    for (Contact& c : *cards) adopt(c);
    std::lock_guard lock(mutex_);
    contacts_ = std::move(*cards);
    return {};
}

foundation::Result<std::vector<Contact>> readVCards(std::string_view text) {
    if (text.size() > kMaxVCardText) return vcardError("The vCard text is too large.");
    // Unfold: a line break followed by a blank or tab continues the line.
    std::vector<std::string> lines;
    std::string cur;
    size_t i = 0;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") i = 3;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            if (i + 1 < text.size() && (text[i + 1] == ' ' || text[i + 1] == '\t')) {
                ++i;
                continue;
            }
            lines.push_back(std::move(cur));
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) lines.push_back(std::move(cur));

    std::vector<Contact> out;
    std::optional<Contact> card;
    std::string version;
    std::string formatted;
    bool haveN = false;
    size_t lineNumber = 0;
    for (const std::string& raw : lines) {
        ++lineNumber;
        if (trim(raw).empty()) continue;
        auto line = parseLine(raw);
        if (!line) return vcardError("Line " + std::to_string(lineNumber) + " of the vCard has no value.");
        if (line->name == "BEGIN" && upper(trim(line->value)) == "VCARD") {
            if (card) return vcardError("A vCard starts inside another one.");
            card.emplace();
            version.clear();
            formatted.clear();
            haveN = false;
            continue;
        }
        if (!card) continue;  // text between cards is not ours to judge
        if (line->name == "END" && upper(trim(line->value)) == "VCARD") {
            if (version != "3.0" && version != "4.0")
                return vcardError("Unsupported vCard version \"" + version + "\".");
            if (!haveN && card->contactType == ContactType::Organization) {
                if (card->organizationName.empty()) card->organizationName = formatted;
            } else if (!haveN) {
                card->givenName = formatted;
            }
            if (card->identifier.empty()) card->identifier = foundation::globallyUniqueString();
            out.push_back(std::move(*card));
            card.reset();
            continue;
        }
        const std::string& name = line->name;
        if (name == "VERSION")
            version = trim(line->value);
        else if (name == "KIND" || name == "X-KIND") {
            const std::string kind = foundation::asciiLowercase(trim(line->value));
            card->contactType =
                kind == "org" || kind == "organization" ? ContactType::Organization : ContactType::Person;
        } else if (name == "UID")
            card->identifier = unescape(trim(line->value));
        else if (name == "FN")
            formatted = trim(unescape(line->value));
        else if (name == "N") {
            auto parts = splitEscaped(line->value, ';');
            parts.resize(std::max<size_t>(parts.size(), 5));
            card->familyName = trim(parts[0]);
            card->givenName = trim(parts[1]);
            card->middleName = trim(parts[2]);
            card->namePrefix = trim(parts[3]);
            card->nameSuffix = trim(parts[4]);
            haveN = !(card->familyName.empty() && card->givenName.empty() && card->middleName.empty());
        } else if (name == "NICKNAME")
            card->nickname = trim(splitEscaped(line->value, ',').front());
        else if (name == "ORG")
            card->organizationName = trim(splitEscaped(line->value, ';').front());
        else if (name == "TEL") {
            std::string number = trim(unescape(line->value));
            // Only a URI value carries the scheme; in a text value "tel:" is part of the number.
            bool uri = version == "4.0";
            for (const auto& [k, v] : line->params) uri = uri || (k == "VALUE" && upper(trim(v)) == "URI");
            if (uri && number.rfind("tel:", 0) == 0) number = number.substr(4);
            if (!number.empty()) card->phoneNumbers.push_back({labelForTypes(typesOf(*line)), number});
        } else if (name == "ADR") {
            // post office box; extended address; street; locality; region; postal code; country
            auto parts = splitEscaped(line->value, ';');
            parts.resize(std::max<size_t>(parts.size(), 7));
            PostalAddress address{.street = trim(parts[2]),
                                  .city = trim(parts[3]),
                                  .state = trim(parts[4]),
                                  .postalCode = trim(parts[5]),
                                  .country = trim(parts[6])};
            if (!(address == PostalAddress{}))
                card->postalAddresses.push_back({labelForTypes(typesOf(*line)), address});
        } else if (name == "PHOTO") {
            if (auto data = photoData(*line)) {
                card->imageData = *data;
                card->thumbnailImageData = std::move(*data);
            }
        }
    }
    if (card) return vcardError("The last vCard has no end.");
    return out;
}

std::string writeVCards(const std::vector<Contact>& contacts, int version) {
    const bool v4 = version >= 4;
    std::string out;
    for (const Contact& c : contacts) {
        fold(out, "BEGIN:VCARD");
        fold(out, v4 ? "VERSION:4.0" : "VERSION:3.0");
        if (c.contactType == ContactType::Organization) fold(out, "KIND:org");
        fold(out, "N:" + escape(c.familyName) + ";" + escape(c.givenName) + ";" + escape(c.middleName) + ";" +
                      escape(c.namePrefix) + ";" + escape(c.nameSuffix));
        fold(out, "FN:" + escape(ContactFormatter::fullName(c).value_or(c.organizationName)));
        if (!c.nickname.empty()) fold(out, "NICKNAME:" + escape(c.nickname));
        if (!c.organizationName.empty()) fold(out, "ORG:" + escape(c.organizationName));
        for (const auto& p : c.phoneNumbers) {
            std::string types = typesForLabel(p.label);
            std::string line = "TEL";
            if (!types.empty()) line += v4 ? ";TYPE=\"" + types + "\"" : ";TYPE=" + types;
            if (v4)
                line += ";VALUE=uri:tel:" + escape(p.stringValue);
            else
                line += ":" + escape(p.stringValue);
            fold(out, line);
        }
        for (const auto& a : c.postalAddresses) {
            std::string types = typesForLabel(a.label);
            std::string line = "ADR";
            if (!types.empty()) line += v4 ? ";TYPE=\"" + types + "\"" : ";TYPE=" + types;
            fold(out, line + ":;;" + escape(a.value.street) + ";" + escape(a.value.city) + ";" + escape(a.value.state) +
                          ";" + escape(a.value.postalCode) + ";" + escape(a.value.country));
        }
        const auto& photo = c.imageData ? c.imageData : c.thumbnailImageData;
        if (photo && !photo->empty()) {
            if (v4)
                fold(out, "PHOTO:data:application/octet-stream;base64," + foundation::base64Encode(*photo));
            else
                fold(out, "PHOTO;ENCODING=b:" + foundation::base64Encode(*photo));
        }
        if (!c.identifier.empty()) fold(out, "UID:" + escape(c.identifier));
        fold(out, "END:VCARD");
    }
    return out;
}

}  // namespace services
