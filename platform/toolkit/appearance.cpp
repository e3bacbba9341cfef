#include "platform/toolkit/appearance.h"

#include <memory>

#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/view.h"

namespace toolkit {

namespace {

struct ProxyEntry {
    std::type_index type;
    Appearance::Match match;
    std::optional<std::type_index> container;
    Appearance::Match containerMatch;
    std::unique_ptr<AppearanceProxy> proxy;
};

std::vector<ProxyEntry>& proxyEntries() {
    static std::vector<ProxyEntry> all;
    return all;
}

bool inside(const View& view, Appearance::Match match) {
    for (const View* v = view.superview(); v; v = v->superview())
        if (match(*v)) return true;
    return false;
}

}  // namespace

const AppearanceValue* AppearanceProxy::find(const std::string& property) const {
    auto it = values_.find(property);
    return it == values_.end() ? nullptr : &it->second;
}

AppearanceProxy& Appearance::proxy(std::type_index type, Match match, std::optional<std::type_index> container,
                                   Match containerMatch) {
    TK_MAIN_THREAD("Appearance");
    for (ProxyEntry& e : proxyEntries())
        if (e.type == type && e.container == container) return *e.proxy;
    proxyEntries().push_back({type, match, container, containerMatch, std::make_unique<AppearanceProxy>()});
    return *proxyEntries().back().proxy;
}

const AppearanceValue* Appearance::value(const View& view, const std::string& property) {
    const AppearanceValue* plain = nullptr;
    // Of the proxies matching alike, the one made last wins.
    for (auto it = proxyEntries().rbegin(); it != proxyEntries().rend(); ++it) {
        const ProxyEntry& e = *it;
        if (!e.match(view)) continue;
        const AppearanceValue* v = e.proxy->find(property);
        if (!v) continue;
        if (e.container) {
            if (inside(view, e.containerMatch)) return v;
        } else if (!plain) {
            plain = v;
        }
    }
    return plain;
}

bool Appearance::empty() { return proxyEntries().empty(); }

void Appearance::reset() { proxyEntries().clear(); }

}  // namespace toolkit
