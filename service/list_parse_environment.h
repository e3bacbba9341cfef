// What a list parse needs of the application object, taken on the main queue before the parse
// leaves it: the parse on its worker touches no application object, which can then only end on
// the main queue. Its hops back to the main queue name the object weakly and lock it there.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "model/application_model.h"
#include "model/contacts.h"
#include "platform/dispatch/dispatch.h"
#include "platform/store/context.h"
#include "service/endpoints.h"

class HXApplicationWebClient;
class HXCCache;
class HXCPhoneFormat;
class CustomCookieJar;

// The account's media: the folder of its files and the object cache of pictures and previews.
struct HXMediaFiles {
    std::string folder;
    std::shared_ptr<HXCCache> cache;

    // The local file of a medium of this MIME type (mp3, mov, vcf or no extension).
    std::string localURL(const std::string& mediaID, const std::string& mimeType) const;
    // Removes a medium: a picture from the cache, any other file from the folder (a video's
    // preview from the cache as well).
    void remove(const std::string& mediaID, const std::string& mimeType) const;
};

// The media of the application object's current account (main queue).
HXMediaFiles HXMediaFilesOf(HXApplicationWebClient& app);

// A private child of the main context, counted as at work (mocAccessCount) from its making on the
// main queue until its save goes up the chain; one never saved gives its count back on the main
// queue when it ends, wherever that is.
class HXChildContext {
public:
    // Null when the model has no main context.
    static std::shared_ptr<HXChildContext> make(HXApplicationModel& model);
    HXChildContext(HXModelReference model, store::ContextPtr context);
    ~HXChildContext();
    HXChildContext(const HXChildContext&) = delete;
    HXChildContext& operator=(const HXChildContext&) = delete;

    const store::ContextPtr& context() const { return context_; }
    // Saves up the chain, once (HXSaveChildContext); the count goes up with the save.
    void save(std::function<void()> completion, HXApplicationModel::BackgroundFetchCompletion handler);

private:
    HXModelReference model_;
    store::ContextPtr context_;
    std::atomic<bool> saved_{false};
};

struct HXListParseEnvironment {
    // For hops to the main queue only, locked there.
    std::weak_ptr<HXApplicationWebClient> app;
    bool signedIn = false;
    bool inBackground = false;
    std::string username;
    store::ContextPtr mainContext;
    std::shared_ptr<HXChildContext> child;
    // One parse at a time in the whole app (none: the parse runs where it is).
    dispatch::QueuePtr parsingQueue;
    // Names of contacts; a group member's number is formatted with names' formatter.
    hxcontacts::Names names;
    // Formats the number of a conversation before its contact is looked up (the shared
    // formatter; none: the number is looked up as it is).
    std::shared_ptr<HXCPhoneFormat> numberFormatter;
    HXMediaFiles media;
    HXEndpoints endpoints;
    std::shared_ptr<CustomCookieJar> cookieJar;
};

// The environment of a parse into app's current store (main queue); null when it has no main
// context to parse into.
std::shared_ptr<const HXListParseEnvironment> HXMakeListParseEnvironment(HXApplicationWebClient& app);
