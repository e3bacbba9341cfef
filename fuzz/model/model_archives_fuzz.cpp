// The model's archives as preferences and caches may hold them after a crash, a bad disk or a
// foreign writer: the account ("accountInfo"), a quick setting, a cached image or any cached
// value (the disk cache's files), and an account's cookie archive ("cookies"). Decoding fails
// cleanly or gives an object that archives again, and whose archive reads back to the same
// archive: nothing is lost or changed by a second save.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "model/account.h"
#include "model/cached_object.h"
#include "model/quick_setting.h"
#include "platform/foundation/keyed_archiver.h"
#include "service/custom_cookie_jar.h"

namespace {

template <typename T>
void roundTrip(const std::shared_ptr<T>& decoded) {
    if (!decoded) return;
    auto first = decoded->archived();
    if (!first.ok()) return;  // a value the archive cannot hold again is refused, not written half
    auto again = T::unarchived(first.value());
    if (!again.ok()) std::abort();
    auto second = again.value()->archived();
    if (!second.ok() || second.value() != first.value()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        HXCCachedImage::registerClass();
        HX_Account::registerClass();
        HX_QuickSetting::registerClass();
        return true;
    }();
    (void)ready;
    const foundation::Data bytes(data, data + size);

    if (auto account = HX_Account::unarchived(bytes); account.ok()) {
        (void)account.value()->sortedPhones();
        roundTrip(account.value());
    }
    if (auto setting = HX_QuickSetting::unarchived(bytes); setting.ok()) roundTrip(setting.value());

    if (auto any = foundation::unarchivedAny(bytes); any.ok()) {
        if (any->object) {
            auto archived = foundation::archivedData(*any->object);
            if (archived.ok() && !foundation::unarchivedAny(archived.value()).ok()) std::abort();
        }
    }
    if (auto image = foundation::unarchivedObject<HXCCachedImage>(bytes); image.ok()) {
        const auto& picture = image.value()->image();
        (void)picture;
        auto archived = foundation::archivedData(*image.value());
        if (archived.ok() && !foundation::unarchivedObject<HXCCachedImage>(archived.value()).ok()) std::abort();
    }

    if (auto cookies = CustomCookieJar::cookiesFromArchive(bytes); cookies.ok()) {
        CustomCookieJar jar(cookies.value());
        auto archived = jar.archivedCookies();
        if (!archived.ok()) std::abort();
        auto back = CustomCookieJar::cookiesFromArchive(archived.value());
        if (!back.ok() || back.value() != jar._cookies()) std::abort();
        (void)net::Cookie::requestHeaderValue(jar._cookies());
    }
    return 0;
}
