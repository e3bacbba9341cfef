// Any "favorites" value another device may have written (JSON here: dictionaries, arrays, strings,
// numbers), loaded by the favourites list, resolved against a few contacts and saved: other
// accounts' entries stay exactly as they were, every line the list keeps reads back to itself, a
// line that found no contact is written back byte for byte, and nothing is saved without an account.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/roles/screen_roles.h"
#include "fuzz/scratch_dir.h"
#include "model/account.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/json.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/contacts.h"
#include "tests/support/quiet_alerts_role.h"
#include "ui/dialer/vc_favorites.h"

namespace {

using Role = hxtest::QuietAlertsRole;

struct World {
    dispatch::VirtualClock clock;
    std::shared_ptr<Role> role = std::make_shared<Role>();
    Favorite::Sources sources;
    World() {
        dispatch::setClock(&clock);
        foundation::setHomeDirectory(fuzzsupport::scratchDirectory());
        foundation::UserDefaults::resetStandardUserDefaults();
        services::ContactStore::setAuthorizationStatus(services::AuthorizationStatus::Authorized);
        sources.contacts = std::make_shared<services::ContactStore>();
        services::Contact ann;
        ann.identifier = "ann";
        ann.givenName = "Ann";
        ann.familyName = "Lee";
        ann.phoneNumbers = {{"mobile", "+1 555 0100", "m"}, {"home", "+1 555 0101", "h"}};
        sources.contacts->addContact(ann);
        services::Contact twin = ann;
        twin.identifier = "twin";
        twin.phoneNumbers = {{"mobile", "1", "t"}};
        sources.contacts->addContact(twin);
        role->user = std::make_shared<HX_Account>();
        role->user->setUsername("me@example.test");
    }
};

World& world() {
    static World* w = new World();
    return *w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    World& w = world();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = foundation::parseJSON(text);
    // Text that is no JSON is one stored line of this account.
    foundation::Value value = parsed.ok() ? *parsed : foundation::Value();
    if (!parsed.ok()) {
        foundation::Dictionary d;
        d.set("me@example.test", foundation::Value(foundation::Array{foundation::Value(std::string(text))}));
        value = foundation::Value(std::move(d));
    }
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    if (!defaults->setObject(value, "favorites").ok()) return 0;  // not a value preferences hold
    const foundation::Value before = defaults->objectForKey("favorites");
    const bool signedIn = !(size > 0 && data[0] == '!');
    VC_Favorites::Roles roles;
    std::shared_ptr<Role> none = std::make_shared<Role>();
    roles.alerts = signedIn ? w.role : none;
    VC_Favorites list(roles, {}, w.sources);
    auto lines = list.favoriteNums();
    list.updateFavorites();
    const foundation::Value after = defaults->objectForKey("favorites");
    if (!signedIn) {
        if (before.ifDictionary() && after != before) std::abort();  // saved without an account
        return 0;
    }
    if (const auto* old = before.ifDictionary()) {
        const auto* now = after.ifDictionary();
        if (!now) std::abort();
        for (const auto& [key, v] : *old)
            if (key != foundation::Key("me@example.test") && now->get(key) != v) std::abort();
    }
    for (size_t i = 0; i < list.theFavorites().size(); ++i) {
        const Favorite& f = list.theFavorites()[i];
        if (f.contactID().empty()) std::abort();  // dropped ones are not kept
        if (Favorite(f.compositeString(), w.sources).compositeString() != f.compositeString()) std::abort();
        if (f.isUnresolved() && std::find(lines.begin(), lines.end(), f.compositeString()) == lines.end())
            std::abort();  // an unresolved line is written back as it was read
    }
    return 0;
}
