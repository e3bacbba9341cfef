// The application object's contact list: the device's contacts flattened to one entry per phone
// number, a copy in the caches folder for the next launch, and the lookups built on it.
#include <algorithm>
#include <cinttypes>

#include "model/application_model.h"
#include "model/cache.h"
#include "model/contacts.h"
#include "model/message_store.h"
#include "model/phone_extensions.h"
#include "model/phone_format.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/files.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/image.h"
#include "platform/services/contacts.h"
#include "platform/store/context.h"
#include "platform/store/model.h"

using foundation::Dictionary;
using foundation::Value;
using ContactEntry = HXApplicationModel::ContactEntry;
using ContactList = HXApplicationModel::ContactList;

namespace {

std::filesystem::path contactsCachePath() { return foundation::cachesDirectory() / "contactsCache"; }

const std::string* field(const Dictionary& e, const char* key) { return e.get(key).ifString(); }

std::string contactHash(const Dictionary& entry) {
    const std::string text = entry.get("number").stringValue() + entry.get("name").stringValue();
    return std::to_string(foundation::stableHash64(text));
}

}  // namespace

std::string HXApplicationModel::hashForContact(const Dictionary& entry) const { return contactHash(entry); }

std::shared_ptr<services::ContactStore> HXApplicationModel::contactStore() const {
    std::lock_guard lock(contactsMutex_);
    return contactStore_ ? contactStore_ : services::ContactStore::shared();
}

void HXApplicationModel::setContactStore(std::shared_ptr<services::ContactStore> store) {
    std::lock_guard lock(contactsMutex_);
    contactStore_ = std::move(store);
}

void HXApplicationModel::updateLastSelectionForContact(const ContactEntry& entry) {
    if (!entry) return;
    const double now = foundation::timeIntervalSinceReferenceDate(foundation::now());
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    Dictionary picks = defaults->dictionaryForKey("lastContactSelection").value_or(Dictionary{});
    picks.set(hashForContact(*entry), Value(now));
    (void)defaults->setObject(Value(std::move(picks)), "lastContactSelection");

    // The old entry stays valid for whoever holds it; the list gets a new one.
    auto picked = std::make_shared<Dictionary>(*entry);
    picked->set("lastSelection", Value(now));
    std::lock_guard lock(contactsMutex_);
    adoptLoadedContacts();
    ContactList list = allContacts_.value_or(ContactList{});
    std::erase_if(list, [&](const ContactEntry& e) { return e == entry; });
    list.insert(list.begin(), std::move(picked));
    allContacts_ = std::move(list);
}

ContactList HXApplicationModel::cachedContacts() {
    bool read = false;
    {
        std::lock_guard lock(contactsMutex_);
        if (!contactsCacheRead_) {
            contactsCacheRead_ = true;
            read = true;
        }
    }
    if (read) {
        {
            std::lock_guard lock(monitor_);
            contactsCacheLoading_ = true;
        }
        ContactList list;
        bool found = false;
        if (foundation::files::exists(contactsCachePath())) {
            auto value = foundation::readPropertyListFile(contactsCachePath());
            if (value.ok()) {
                if (auto entries = hxcontacts::entriesFromCache(*value)) {
                    found = true;
                    list = std::move(*entries);
                }
            }
        }
        {
            std::lock_guard lock(contactsMutex_);
            cachedContacts_ = std::move(list);
        }
        if (found) foundation::NotificationCenter::defaultCenter().post(kContactsCacheUpdatedNotification);
        std::lock_guard lock(monitor_);
        contactsCacheLoading_ = false;
    }
    std::lock_guard lock(contactsMutex_);
    return cachedContacts_.value_or(ContactList{});
}

ContactList HXApplicationModel::allContacts() {
    bool startLoad = false, startFallback = false;
    {
        std::lock_guard lock(contactsMutex_);
        if (!isInBackground() && !contactsFullLoadStarted_) {
            contactsFullLoadStarted_ = true;
            startLoad = true;
        } else if (!contactsFallbackStarted_) {
            contactsFallbackStarted_ = true;
            startFallback = true;
        }
    }
    if (startLoad)
        startFullContactsLoad();
    else if (startFallback)
        startContactsFallback();
    std::lock_guard lock(contactsMutex_);
    adoptLoadedContacts();
    return allContacts_.value_or(ContactList{});
}

void HXApplicationModel::adoptLoadedContacts() const {
    std::lock_guard lock(loadedContacts_->mutex);
    if (loadedContacts_->loaded) {
        allContacts_ = std::move(*loadedContacts_->loaded);
        loadedContacts_->loaded.reset();
    }
    if (loadedContacts_->fallback) {
        if (!allContacts_ || allContacts_->empty()) allContacts_ = std::move(*loadedContacts_->fallback);
        loadedContacts_->fallback.reset();
    }
}

bool HXApplicationModel::contactsLoaded() const {
    std::lock_guard lock(contactsMutex_);
    adoptLoadedContacts();
    return (allContacts_ && !allContacts_->empty()) || (cachedContacts_ && !cachedContacts_->empty());
}

bool HXApplicationModel::waitForContactsLoad(double timeoutSeconds) { return contactsLoadGroup_.wait(timeoutSeconds); }

namespace {

// The cache file's entries; none when it is missing or unreadable.
std::optional<ContactList> readContactsCache(const std::filesystem::path& path) {
    if (!foundation::files::exists(path)) return std::nullopt;
    auto value = foundation::readPropertyListFile(path);
    if (!value.ok()) return std::nullopt;
    return hxcontacts::entriesFromCache(*value);
}

// Everything the full load reads, taken on the thread that starts it: the load runs without the
// application object.
struct FullContactsLoad {
    std::shared_ptr<services::ContactStore> store;
    Dictionary picks;
    std::shared_ptr<HXCPhoneFormat> formatter;
    std::shared_ptr<std::atomic<bool>> inBackground;
    std::filesystem::path cacheFile;
    std::function<std::string(const Dictionary&)> hash;

    // The enumeration: the list, or none when the app went to the background meanwhile.
    std::optional<ContactList> enumerate() const {
        std::vector<std::string> keys = {services::kContactPhoneNumbersKey, services::kContactThumbnailImageDataKey,
                                         services::kContactIdentifierKey, services::kContactNicknameKey,
                                         services::kContactOrganizationNameKey};
        for (auto& k : services::ContactFormatter::descriptorForRequiredKeys()) keys.push_back(k);
        keys.push_back(services::kContactImageDataAvailableKey);

        auto cache = HXCCache::sharedCache();
        ContactList list;
        std::set<std::string> seen;
        (void)store->enumerateContacts(keys, [&](const services::Contact& c, bool* stop) {
            if (*inBackground) {
                *stop = true;
                return;
            }
            auto entries = hxcontacts::entriesForContact(c, [&](const std::string& raw) {
                return PhoneExtensions::formattedPhoneNumberFromStringWithFormatter(raw, *formatter);
            });
            graphics::ImagePtr thumb;
            if (c.imageDataAvailable() && c.thumbnailImageData) {
                auto image = graphics::Image::fromEncoded(*c.thumbnailImageData);
                if (image.ok()) thumb = hxcontacts::fittingThumbnail(*image);
            }
            for (auto& e : entries) {
                const std::string number = e.get("number").asString();
                if (seen.insert(number).second) {
                    if (thumb)
                        cache->setObject(HXCCachedObject::withImage(thumb), number);
                    else if (cache->objectForKey(number))
                        cache->removeObjectForKey(number);
                }
                const Value* when = picks.find(hash(e));
                e.set("lastSelection", Value(when ? when->doubleValue(0) : 0.0));
                list.push_back(std::make_shared<const Dictionary>(std::move(e)));
            }
        });
        if (*inBackground) return std::nullopt;
        hxcontacts::sortByRecency(list);
        return list;
    }
};

}  // namespace

void HXApplicationModel::startFullContactsLoad() {
    FullContactsLoad load;
    load.store = contactStore();
    load.picks = foundation::UserDefaults::standardUserDefaults()
                     ->dictionaryForKey("lastContactSelection")
                     .value_or(Dictionary{});
    // The load keeps the formatter it takes; its use is given back at once, as a memory warning
    // may let go of the application object's copy without harm to this one.
    load.formatter = phoneFormatter();
    decreasePhoneFormatterAccessCount();
    load.inBackground = isInBackground_;
    load.cacheFile = contactsCachePath();
    load.hash = [](const Dictionary& e) { return contactHash(e); };
    {
        std::lock_guard lock(contactsMutex_);
        cachedContacts_.reset();
    }
    // The answer to the access request may come on any thread, after the load's block has
    // returned; until it has been handled the load counts as running. The list goes into the box
    // the application object shares, and readers take it from there.
    contactsLoadGroup_.enter();
    dispatch::Queue::global(dispatch::Priority::Low)
        ->async([load = std::move(load), box = loadedContacts_, group = contactsLoadGroup_]() mutable {
            auto store = load.store;
            store->requestAccess(
                [load = std::move(load), box, group](bool granted, std::optional<foundation::Error>) mutable {
                    if (granted) {
                        if (auto list = load.enumerate()) {
                            foundation::Array plist;
                            plist.reserve(list->size());
                            for (const auto& e : *list) plist.emplace_back(*e);
                            {
                                std::lock_guard lock(box->mutex);
                                box->loaded = std::move(*list);
                            }
                            (void)foundation::writePropertyListFile(Value(std::move(plist)), load.cacheFile);
                            foundation::NotificationCenter::defaultCenter().post(kContactsCacheUpdatedNotification);
                        }
                    }
                    group.leave();
                });
            foundation::NotificationCenter::defaultCenter().post(kContactsCacheUpdatedNotification);
        });
}

void HXApplicationModel::startContactsFallback() {
    contactsLoadGroup_.enter();
    dispatch::Queue::global(dispatch::Priority::Default)
        ->async([file = contactsCachePath(), box = loadedContacts_, group = contactsLoadGroup_]() mutable {
            auto cached = readContactsCache(file);
            {
                std::lock_guard lock(box->mutex);
                box->fallback = cached.value_or(ContactList{});
            }
            if (cached) foundation::NotificationCenter::defaultCenter().post(kContactsCacheUpdatedNotification);
            group.leave();
        });
}

// The readers go through allContacts(): after resetContacts() the first of them reads the contacts
// again, and each sees what has been read so far.
ContactList HXApplicationModel::contactsMatchingPhone(std::string_view number) {
    return hxcontacts::matchingPhone(allContacts(), number);
}

void HXLoadContactsAtLaunch(HXApplicationModel& model) {
    // The cache file gives names at once; the full load, started here, replaces them when it ends.
    ContactList cached = model.cachedContacts();
    {
        std::lock_guard lock(model.contactsMutex_);
        model.adoptLoadedContacts();
        if ((!model.allContacts_ || model.allContacts_->empty()) && !cached.empty())
            model.allContacts_ = std::move(cached);
    }
    (void)model.allContacts();
}

ContactList HXContactListSnapshot(const HXApplicationModel& model) {
    std::lock_guard lock(model.contactsMutex_);
    model.adoptLoadedContacts();
    return model.allContacts_.value_or(ContactList{});
}

ContactList HXApplicationModel::contactsMatchingName(std::string_view query) {
    return hxcontacts::matchingName(allContacts(), query);
}

std::string HXApplicationModel::recordIDForNumber(std::string_view number) {
    if (number.empty()) return {};
    auto matches = contactsMatchingPhone(number);
    if (matches.empty()) return {};
    const std::string* id = field(*matches.front(), "recordID");
    return id ? *id : std::string();
}

std::string HXApplicationModel::contactNameForNumber(std::string_view number) {
    return hxcontacts::Names{allContacts(), nullptr, hxcontacts::familyNameOrder()}.nameForNumber(number);
}

std::string HXApplicationModel::updateGroupContactsForNumber(std::string_view numbers) {
    const std::string name =
        hxcontacts::Names{allContacts(), phoneFormatter(), hxcontacts::familyNameOrder()}.groupName(numbers);
    decreasePhoneFormatterAccessCount();
    return name;
}

void HXApplicationModel::lookupPhone(const std::optional<std::string>& number) {
    if (!number) return;
    // After resetContacts() this reads the contacts again; a number asked before they are in is
    // resolved by the next lookup.
    (void)allContacts();
    bool loading;
    {
        std::lock_guard lock(monitor_);
        loading = contactsCacheLoading_;
    }
    {
        std::lock_guard lock(contactsMutex_);
        if (contactsFullLoadStarted_ && loading) return;
        adoptLoadedContacts();
        if (!allContacts_ || allContacts_->empty()) return;
        if (lookupNumbers_.count(*number)) return;
        if (!loading) lookupNumbers_.insert(*number);
    }
    auto formatter = phoneFormatter();
    const std::string formatted = PhoneExtensions::formattedPhoneNumberFromStringWithFormatter(*number, *formatter);
    decreasePhoneFormatterAccessCount();
    // An unknown number gets the empty name, which clears a stale one.
    const std::string name = contactNameForNumber(formatted);

    auto child = newChildContext();
    if (!child) return;
    HXMessageStore::performWithThreadContext(child, [this, child, p = *number, name] {
        auto model = HXMessageStore::managedObjectModel();
        // Runs the template and hands each match to apply; the number of matches (0 on any error).
        auto update = [&](const char* templateName, const Dictionary& variables,
                          const std::function<void(const store::ManagedObjectPtr&)>& apply) -> size_t {
            auto request = model->fetchRequestFromTemplate(templateName, variables);
            if (!request.ok()) return 0;
            auto count = child->count(request.value());
            if (!count.ok() || count.value() == 0) return 0;
            auto found = child->fetch(request.value());
            if (!found.ok()) return count.value();
            for (const auto& o : found.value()) apply(o);
            return count.value();
        };
        Dictionary phoneVars;
        phoneVars.set("NUMBER", Value(p));
        phoneVars.set("NAME", Value(name));
        const size_t direct = update("cv_phone_abname", phoneVars, [&](const store::ManagedObjectPtr& c) {
            (void)c->setValue("ABName", Value(name));
        });
        Dictionary groupVars;
        groupVars.set("NUMBER", Value(p));
        groupVars.set("GROUP_MESSAGE_HEADER", Value("Group Message"));
        const size_t groups = update("cv_group_abname", groupVars, [&](const store::ManagedObjectPtr& c) {
            const Value numbers = c->value("phoneNumber");
            if (const std::string* s = numbers.ifString())
                (void)c->setValue("ABName", Value(updateGroupContactsForNumber(*s)));
        });
        if (direct == 0 && groups == 0) {
            decreaseMocAccessCount();
            return;
        }
        saveMOC2Parent(child);
    });
}

bool HXApplicationModel::isABAccessRestricted() {
    if (services::ContactStore::authorizationStatus() == services::AuthorizationStatus::Authorized) return false;
    std::weak_ptr<HXApplicationModel> weakSelf = weak_from_this();
    HXAlert alert{foundation::localizedString("Contacts Access Restricted"), kContactsAccessRestrictedMessage, {}, 1};
    alert.actions.push_back({PhoneExtensions::localizedString("Cancel"), HXAlertAction::Style::Cancel, {}});
    alert.actions.push_back({foundation::localizedString("Settings"), HXAlertAction::Style::Default, [weakSelf] {
                                 if (auto self = weakSelf.lock()) self->openApplicationSettings();
                             }});
    presentAlert(alert);
    return true;
}

void HXApplicationModel::releaseCachedContacts() {
    std::lock_guard lock(contactsMutex_);
    cachedContacts_.reset();
    contactsCacheRead_ = false;
}

void HXApplicationModel::resetContacts() {
    std::lock_guard lock(contactsMutex_);
    allContacts_.reset();
    {
        std::lock_guard box(loadedContacts_->mutex);
        loadedContacts_->loaded.reset();
        loadedContacts_->fallback.reset();
    }
    lookupNumbers_.clear();
    contactsCacheRead_ = false;
    contactsFullLoadStarted_ = false;
    contactsFallbackStarted_ = false;
}
