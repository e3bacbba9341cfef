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

}  // namespace

std::string HXApplicationModel::hashForContact(const Dictionary& entry) const {
    const std::string text = entry.get("number").stringValue() + entry.get("name").stringValue();
    return std::to_string(foundation::stableHash64(text));
}

std::shared_ptr<services::ContactStore> HXApplicationModel::contactStore() const {
    std::lock_guard lock(contactsMutex_);
    return contactStore_ ? contactStore_ : services::ContactStore::shared();
}

void HXApplicationModel::setContactStore(std::shared_ptr<services::ContactStore> store) {
    std::lock_guard lock(contactsMutex_);
    contactStore_ = std::move(store);
}

void HXApplicationModel::setAllContactsList(ContactList list) {
    std::lock_guard lock(contactsMutex_);
    allContacts_ = std::move(list);
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
    if (startLoad) {
        // Each block leaves through its own copy of the group, so a waiter that wakes and
        // destroys this object cannot pull the group out from under the leaving thread.
        // The load names this object weakly; it holds it only while it loads, and lets it go on
        // the main queue, so that an object whose last owner left meanwhile ends there.
        contactsLoadGroup_.enter();
        dispatch::Queue::global(dispatch::Priority::Low)
            ->async([model = HXModelReference(*this), group = contactsLoadGroup_]() mutable {
                auto self = model.lock();
                if (self) self->loadAllContacts();
                group.leave();
                if (self) dispatch::Queue::main()->async([self = std::move(self)] {});
            });
    } else if (startFallback) {
        contactsLoadGroup_.enter();
        dispatch::Queue::global(dispatch::Priority::Default)
            ->async([model = HXModelReference(*this), group = contactsLoadGroup_]() mutable {
                auto self = model.lock();
                if (self) {
                    ContactList cached = self->cachedContacts();
                    std::lock_guard lock(self->contactsMutex_);
                    if (!self->allContacts_ || self->allContacts_->empty()) self->allContacts_ = std::move(cached);
                }
                group.leave();
                if (self) dispatch::Queue::main()->async([self = std::move(self)] {});
            });
    }
    std::lock_guard lock(contactsMutex_);
    return allContacts_.value_or(ContactList{});
}

bool HXApplicationModel::contactsLoaded() const {
    std::lock_guard lock(contactsMutex_);
    return (allContacts_ && !allContacts_->empty()) || (cachedContacts_ && !cachedContacts_->empty());
}

bool HXApplicationModel::waitForContactsLoad(double timeoutSeconds) { return contactsLoadGroup_.wait(timeoutSeconds); }

void HXApplicationModel::loadAllContacts() {
    Dictionary picks = foundation::UserDefaults::standardUserDefaults()
                           ->dictionaryForKey("lastContactSelection")
                           .value_or(Dictionary{});
    auto store = contactStore();
    // The answer may come on any thread, after this function has returned; until it has been
    // handled the load counts as running.
    contactsLoadGroup_.enter();
    store->requestAccess([this, store, picks, group = contactsLoadGroup_](bool granted,
                                                                          std::optional<foundation::Error>) mutable {
        if (granted) {
            std::vector<std::string> keys = {services::kContactPhoneNumbersKey, services::kContactThumbnailImageDataKey,
                                             services::kContactIdentifierKey, services::kContactNicknameKey,
                                             services::kContactOrganizationNameKey};
            for (auto& k : services::ContactFormatter::descriptorForRequiredKeys()) keys.push_back(k);
            keys.push_back(services::kContactImageDataAvailableKey);

            auto cache = HXCCache::sharedCache();
            ContactList list;
            std::set<std::string> seen;
            (void)store->enumerateContacts(keys, [&](const services::Contact& c, bool* stop) {
                if (isInBackground()) {
                    *stop = true;
                    return;
                }
                auto entries = hxcontacts::entriesForContact(c, [&](const std::string& raw) {
                    auto formatter = phoneFormatter();
                    std::string n = PhoneExtensions::formattedPhoneNumberFromStringWithFormatter(raw, *formatter);
                    decreasePhoneFormatterAccessCount();
                    return n;
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
                    const Value* when = picks.find(hashForContact(e));
                    e.set("lastSelection", Value(when ? when->doubleValue(0) : 0.0));
                    list.push_back(std::make_shared<const Dictionary>(std::move(e)));
                }
            });
            if (!isInBackground()) {
                hxcontacts::sortByRecency(list);
                setAllContactsList(list);
                foundation::Array plist;
                plist.reserve(list.size());
                for (const auto& e : list) plist.emplace_back(*e);
                (void)foundation::writePropertyListFile(Value(std::move(plist)), contactsCachePath());
                foundation::NotificationCenter::defaultCenter().post(kContactsCacheUpdatedNotification);
            }
        }
        group.leave();
    });
    foundation::NotificationCenter::defaultCenter().post(kContactsCacheUpdatedNotification);
    std::lock_guard lock(contactsMutex_);
    cachedContacts_.reset();
}

ContactList HXApplicationModel::contactsMatchingPhone(std::string_view number) {
    return hxcontacts::matchingPhone(HXContactListSnapshot(*this), number);
}

ContactList HXContactListSnapshot(const HXApplicationModel& model) {
    std::lock_guard lock(model.contactsMutex_);
    return model.allContacts_.value_or(ContactList{});
}

ContactList HXApplicationModel::contactsMatchingName(std::string_view query) {
    return hxcontacts::matchingName(HXContactListSnapshot(*this), query);
}

std::string HXApplicationModel::recordIDForNumber(std::string_view number) {
    if (number.empty()) return {};
    auto matches = contactsMatchingPhone(number);
    if (matches.empty()) return {};
    const std::string* id = field(*matches.front(), "recordID");
    return id ? *id : std::string();
}

std::string HXApplicationModel::contactNameForNumber(std::string_view number) {
    return hxcontacts::Names{HXContactListSnapshot(*this), nullptr, hxcontacts::familyNameOrder()}.nameForNumber(
        number);
}

std::string HXApplicationModel::updateGroupContactsForNumber(std::string_view numbers) {
    const std::string name =
        hxcontacts::Names{HXContactListSnapshot(*this), phoneFormatter(), hxcontacts::familyNameOrder()}.groupName(
            numbers);
    decreasePhoneFormatterAccessCount();
    return name;
}

void HXApplicationModel::lookupPhone(const std::optional<std::string>& number) {
    if (!number) return;
    bool loading;
    {
        std::lock_guard lock(monitor_);
        loading = contactsCacheLoading_;
    }
    {
        std::lock_guard lock(contactsMutex_);
        if (contactsFullLoadStarted_ && loading) return;
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
    lookupNumbers_.clear();
    contactsCacheRead_ = false;
    contactsFullLoadStarted_ = false;
    contactsFallbackStarted_ = false;
}
