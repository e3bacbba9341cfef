#include "model/contacts.h"

#include <algorithm>

#include "model/phone_extensions.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/strings.h"
#include "platform/graphics/image_operations.h"

using foundation::Dictionary;
using foundation::Value;

namespace hxcontacts {

namespace {

constexpr const char* kNoBreakSpace = "\xC2\xA0";
constexpr unsigned kFold = foundation::kCaseInsensitive | foundation::kDiacriticInsensitive;

std::string trimmed(std::string_view s) {
    size_t b = 0, e = s.size();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (b < e && blank(s[b])) ++b;
    while (e > b && blank(s[e - 1])) --e;
    return std::string(s.substr(b, e - b));
}

const std::string* field(const Dictionary& e, const char* key) { return e.get(key).ifString(); }
std::string nameOf(const Dictionary& e) {
    const std::string* n = field(e, "name");
    return n ? *n : std::string();
}
double lastSelectionOf(const Dictionary& e) { return e.get("lastSelection").doubleValue(0); }

std::vector<std::string> words(const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        size_t sp = s.find(' ', start);
        out.push_back(s.substr(start, sp - start));
        if (sp == std::string::npos) break;
        start = sp + 1;
    }
    return out;
}

std::string join(const std::vector<std::string>& w) {
    std::string out;
    for (size_t i = 0; i < w.size(); ++i) {
        if (i) out += ' ';
        out += w[i];
    }
    return out;
}

std::string labelSuffix(const Dictionary& e) {
    const std::string* label = field(e, "label");
    if (!label) return {};
    return kNoBreakSpace + foundation::format("(%@)", *label);
}

}  // namespace

std::string normalizedNumber(std::string n) {
    if (n.rfind("+", 0) == 0) return n;
    if (n.rfind("(", 0) == 0) return "+1 " + n;
    if (n.rfind("1 (", 0) == 0) return "+" + n;
    if (n.rfind("011 ", 0) == 0) return "+" + n.substr(4);
    return n;
}

std::vector<Dictionary> entriesForContact(const services::Contact& contact,
                                          const std::function<std::string(const std::string&)>& format) {
    std::vector<Dictionary> out;
    if (contact.phoneNumbers.empty()) return out;
    const auto name = services::ContactFormatter::fullName(contact);
    const std::string nickname = trimmed(contact.nickname);
    const std::string company = trimmed(contact.organizationName);
    for (const auto& phone : contact.phoneNumbers) {
        Dictionary e;
        e.set("number", Value(normalizedNumber(format(phone.stringValue))));
        if (name) e.set("name", Value(*name));
        e.set("recordID", Value(contact.identifier));
        const std::string label = services::localizedStringForLabel(phone.label);
        if (!label.empty()) e.set("label", Value(label));
        if (!nickname.empty()) e.set("nickname", Value(nickname));
        if (!company.empty()) e.set("company", Value(company));
        out.push_back(std::move(e));
    }
    return out;
}

graphics::ImagePtr fittingThumbnail(const graphics::ImagePtr& image) {
    return graphics::imageScaledToFitSize(image, {40, 40});
}

void sortByRecency(ContactList& list) {
    std::stable_sort(list.begin(), list.end(), [](const ContactEntry& a, const ContactEntry& b) {
        const double sa = lastSelectionOf(*a), sb = lastSelectionOf(*b);
        if (sa != sb) return sa > sb;
        return foundation::compare(nameOf(*a), nameOf(*b)) < 0;
    });
}

std::optional<ContactList> entriesFromCache(const foundation::Value& cache) {
    if (!cache.isArray()) return std::nullopt;
    ContactList list;
    for (const foundation::Value& v : cache.asArray()) {
        const foundation::Dictionary* d = v.ifDictionary();
        if (d && d->get("number").isString() && d->get("recordID").isString())
            list.push_back(std::make_shared<const foundation::Dictionary>(*d));
    }
    return list;
}

ContactList matchingPhone(const ContactList& list, std::string_view p) {
    ContactList m;
    for (const auto& e : list) {
        const std::string* n = field(*e, "number");
        if (n && *n == p) m.push_back(e);
    }
    if (m.empty() && (p.rfind("+", 0) == 0 || foundation::utf16Length(p) >= 14)) {
        for (const auto& e : list) {
            const std::string* n = field(*e, "number");
            if (n && n->size() >= p.size() && n->compare(n->size() - p.size(), p.size(), p) == 0) m.push_back(e);
        }
    }
    if (m.size() < 2) return m;

    ContactList unique;
    for (const auto& e : m) {
        if (std::none_of(unique.begin(), unique.end(), [&](const ContactEntry& u) { return *u == *e; }))
            unique.push_back(e);
    }
    if (unique.size() < 2) return unique;
    std::stable_sort(unique.begin(), unique.end(), [](const ContactEntry& a, const ContactEntry& b) {
        return foundation::compare(nameOf(*a), nameOf(*b)) < 0;
    });
    // One entry per distinct name; an entry without a name is always kept and matches nothing.
    ContactList kept;
    std::optional<std::string> last = std::string();
    for (const auto& e : unique) {
        const std::string* n = field(*e, "name");
        std::optional<std::string> lower;
        if (n) lower = foundation::lowercase(*n);
        if (!lower || !last || *lower != *last) {
            kept.push_back(e);
            last = std::move(lower);
        }
    }
    std::stable_sort(kept.begin(), kept.end(), [](const ContactEntry& a, const ContactEntry& b) {
        return lastSelectionOf(*a) > lastSelectionOf(*b);
    });
    return kept;
}

ContactList matchingName(const ContactList& list, std::string_view q) {
    ContactList out;
    const std::string wordStart = " " + std::string(q);
    for (const auto& e : list) {
        auto prefix = [&](const char* key) {
            const std::string* v = field(*e, key);
            return v && foundation::hasPrefix(*v, q, kFold);
        };
        const std::string* name = field(*e, "name");
        if (prefix("name") || (name && foundation::contains(*name, wordStart, kFold)) || prefix("nickname") ||
            prefix("company"))
            out.push_back(e);
    }
    return out;
}

std::string displayName(const ContactList& m, bool familyNameOrder) {
    if (m.empty()) return {};
    const Dictionary& first = *m.front();
    if (m.size() == 1) return nameOf(first) + labelSuffix(first);
    if (m.size() == 2) {
        auto a = words(nameOf(*m[0]));
        auto b = words(nameOf(*m[1]));
        if (familyNameOrder) {
            std::reverse(a.begin(), a.end());
            std::reverse(b.begin(), b.end());
        }
        std::string common;
        while (!a.empty() && !b.empty() && a.back() == b.back()) {
            common = common.empty() ? a.back() : a.back() + " " + common;
            a.pop_back();
            b.pop_back();
        }
        const std::string orFormat = foundation::localizedString("%@ or %@");
        std::string text;
        if (!familyNameOrder) {
            text = foundation::format(orFormat, join(a), join(b));
            if (!common.empty()) text += " " + common;
        } else {
            std::reverse(a.begin(), a.end());
            std::reverse(b.begin(), b.end());
            if (!common.empty()) text = common + " ";
            text += foundation::format(orFormat, join(a), join(b));
        }
        return text + labelSuffix(first);
    }
    return foundation::format(foundation::localizedString("%@ or %lu others"), nameOf(first),
                              static_cast<uint64_t>(m.size() - 1)) +
           labelSuffix(first);
}

bool familyNameOrder() { return services::ContactStore::defaultSortOrder() == services::ContactSortOrder::FamilyName; }

std::string Names::nameForNumber(std::string_view number) const {
    if (number.empty()) return {};
    return displayName(matchingPhone(contacts, number), familyNameOrder);
}

std::string Names::formatted(std::string_view number) const {
    return formatter ? PhoneExtensions::formattedPhoneNumberFromStringWithFormatter(number, *formatter)
                     : std::string(number);
}

std::string Names::groupName(std::string_view numbers) const {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t bar = numbers.find('|', start);
        parts.emplace_back(numbers.substr(start, bar - start));
        if (bar == std::string_view::npos) break;
        start = bar + 1;
    }
    if (parts.size() < 2) return std::string(numbers);
    auto nameFor = [&](const std::string& part) {
        std::string f = formatted(part);
        std::string n = nameForNumber(f);
        if (auto cut = n.rfind(std::string(kNoBreakSpace) + "("); cut != std::string::npos) n.resize(cut);
        return n.empty() ? f : n;
    };
    if (parts.size() == 2) return foundation::format("%@ & %@", nameFor(parts[0]), nameFor(parts[1]));
    if (parts.size() == 3)
        return foundation::format("%@, %@, %@", nameFor(parts[0]), nameFor(parts[1]), nameFor(parts[2]));
    return foundation::format("%@ & %lu others", nameFor(parts[0]), static_cast<uint64_t>(parts.size() - 1));
}

}  // namespace hxcontacts
