// Media of the web client slice of the application object: voicemail and recorded-call audio and message attachments,
// fetched below the media base, kept as files in the user's caches folder or in the object cache,
// and announced by a notification named by the media id.
#include <filesystem>

#include "model/account.h"
#include "model/cache.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "service/application_web_client.h"
#include "service/list_parse_environment.h"
#include "service/request_machinery.h"
#include "service/source_helpers.h"

using namespace hxservice;

namespace {

// The client's own cache (tests give one), else the shared one. Only read here: media paths are
// asked for from background queues (the voicemail prefetch) while the main thread fetches.
std::shared_ptr<HXCCache> objectCache(const HXWebClient& web) {
    return web.objectCache ? web.objectCache : HXCCache::sharedCache();
}

std::string userFolder(HXApplicationWebClient& app) {
    auto account = app.account();
    return app.cachesFolderForUser(account ? account->username() : std::string());
}

}  // namespace

std::string HXApplicationWebClient::mediaPathSegment(const std::string& id) {
    static const auto unreserved = foundation::CharacterSet::fromRange('a', 'z')
                                       .unionWith(foundation::CharacterSet::fromRange('A', 'Z'))
                                       .unionWith(foundation::CharacterSet::fromRange('0', '9'))
                                       .unionWith(foundation::CharacterSet::fromCharacters("-._~"));
    if (id == "." || id == "..") return id == "." ? "%2E" : "%2E%2E";
    return foundation::percentEncode(id, unreserved);
}

std::string HXMediaFiles::localURL(const std::string& mediaID, const std::string& mimeType) const {
    std::string extension;
    if (foundation::hasPrefix(mimeType, "audio/"))
        extension = "mp3";
    else if (foundation::hasPrefix(mimeType, "video/"))
        extension = "mov";
    else if (mimeType == "text/x-vcard")
        extension = "vcf";
    auto name = foundation::boundedPathComponent(mediaID + "." + extension, foundation::kAtomicWriteAffixBytes);
    return (std::filesystem::path(folder) / (name.ok() ? name.value() : std::string("%~"))).string();
}

void HXMediaFiles::remove(const std::string& mediaID, const std::string& mimeType) const {
    if (foundation::hasPrefix(mimeType, "image/")) {
        cache->removeObjectForKey(mediaID);
        cache->removeObjectForKey(mediaID + "_ORIGINAL");
        return;
    }
    const std::string path = localURL(mediaID, mimeType);
    if (foundation::files::exists(path)) (void)foundation::files::remove(path);
    if (foundation::hasPrefix(mimeType, "video/")) cache->removeObjectForKey(mediaID);
}

HXMediaFiles HXMediaFilesOf(HXApplicationWebClient& app) { return {userFolder(app), objectCache(HXWebClientOf(app))}; }

std::string HXApplicationWebClient::localURLForMedia(const std::string& mediaID, const std::string& mimeType) {
    return HXMediaFilesOf(*this).localURL(mediaID, mimeType);
}

void HXApplicationWebClient::storeMediaReply(const HXRoutedReply& reply) {
    auto& web = webClient();
    const std::string media = web.endpoints.mediaBase();
    const std::string& tag = reply.tag;
    // An error page is not the item: storing it would make the item look present for good.
    const bool success = reply.statusCode >= 200 && reply.statusCode < 300 && reply.data;
    const foundation::Data empty;
    const foundation::Data& data = reply.data ? *reply.data : empty;
    // A file's body: moved into place when it went to its file as it arrived, else written whole.
    auto keepFile = [&](const std::string& path) {
        if (reply.bodyFile) {
            if (reply.bodyFile->isOpen()) (void)reply.bodyFile->commit();
            return;
        }
        (void)foundation::files::createDirectory(userFolder(*this));
        (void)foundation::files::writeAtomically(path, data);
    };
    auto rest = [&](const std::string& prefix) {
        return tag.size() > prefix.size() ? tag.substr(prefix.size() + 1) : std::string();
    };
    for (const char* p : {"v/", "cr/cra:"}) {
        if (!foundation::hasPrefix(tag, media + p)) continue;
        const std::string id = rest(media + p);
        if (success) keepFile(localURLForMedia(id, "audio/"));
        post(id);
        return;
    }
    static const std::pair<const char*, const char*> kinds[] = {
        {"vi/", "video/"}, {"au/", "audio/"}, {"vc/", "text/x-vcard"}};
    for (const auto& [p, mime] : kinds) {
        if (!foundation::hasPrefix(tag, media + p)) continue;
        const std::string r = rest(media + p);
        const bool preview = !r.empty() && r.back() == '1';
        const std::string id = r.size() >= 2 ? r.substr(0, r.size() - 2) : std::string();
        if (preview) {
            if (success) objectCache(web)->setObject(HXCCachedObject::withData(data), id);
            post("kMessageReloadingCompleteNotification");
        } else if (success) {
            keepFile(localURLForMedia(id, mime));
        }
        post(id);
        return;
    }
    if (foundation::hasPrefix(tag, media + "i/")) {
        const std::string id = rest(media + "i/");
        if (success) objectCache(web)->setObject(HXCCachedObject::withData(data), id);
        post("kMessageReloadingCompleteNotification");
        post(id);
    }
}

void HXApplicationWebClient::removeMediaForAttachment(const std::string& mediaID, const std::string& mimeType) {
    HXMediaFilesOf(*this).remove(mediaID, mimeType);
}
