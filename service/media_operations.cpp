// The media operations of the web client (service/media_operations.h): the requests of the media
// host (pictures, attachment files and previews, voicemail and recorded-call audio) and their
// arrival; the replies are stored by the web client's router (service/web_client_media.cpp) in
// the files and the object cache both name (HXMediaFiles).
#include "service/media_operations.h"

#include "model/account.h"
#include "model/cache.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/animated_image.h"
#include "platform/graphics/image.h"
#include "service/application_web_client.h"
#include "service/conversation_requests.h"
#include "service/list_parse_environment.h"
#include "service/request_machinery.h"

namespace {

// What a voicemail, recording or attachment may weigh: more than an API reply, still bounded (a
// reply past it fails as a connection error and leaves no file). It goes to its file as it
// arrives, so this bounds the disk, not the memory.
constexpr size_t kMaximumMediaBytes = 256u << 20;

constexpr const char* kUseSpeakerKey = "useSpeaker";

}  // namespace

std::shared_ptr<HXMediaOperations> HXMediaOperations::of(const std::shared_ptr<HXApplicationWebClient>& app) {
    return HXOperationsOf(app, &HXWebClient::mediaOperations);
}

std::shared_ptr<HXCCache> HXMediaOperations::mediaCache() {
    auto a = app();
    return a ? HXMediaFilesOf(*a).cache : HXCCache::sharedCache();
}

bool HXMediaOperations::requestThumbnail(const std::string& mediaID) {
    auto a = app();
    if (!a) return false;
    const std::string tag = HXThumbnailTag(*a, mediaID);
    if (a->requestInFlight(tag)) return false;
    const auto& endpoints = a->endpoints();
    net::URLRequest request(foundation::format("%@%@?s=%ld", endpoints.mediaBase() + "i/",
                                               HXApplicationWebClient::mediaPathSegment(mediaID), int64_t{3}));
    request.setValue(endpoints.webClient, "Referer");
    a->startAsyncLoadWithRequest(std::move(request), tag);
    return true;
}

void HXMediaOperations::whenMediaArrives(const std::string& mediaID, std::function<void()> arrived) {
    // The web client names the end of a medium's request by its id, after it has kept the bytes.
    struct Waiter {
        std::function<void()> arrived;
    };
    auto waiter = std::make_shared<Waiter>(Waiter{std::move(arrived)});
    foundation::NotificationCenter::defaultCenter().addObserver(
        waiter.get(), mediaID, [waiter, mediaID](const foundation::Notification&) {
            dispatch::Queue::main()->async([waiter, mediaID] {
                foundation::NotificationCenter::defaultCenter().removeObserver(waiter.get(), mediaID);
                if (auto arrived = std::exchange(waiter->arrived, nullptr)) arrived();
            });
        });
}

void HXMediaOperations::downloadFullSizeImageForAttachment(const std::string& mediaID, const std::string& mimeType) {
    auto a = app();
    if (!a) return;
    const std::string url = foundation::format("%@%@?s=%ld", a->endpoints().mediaBase() + "i/",
                                               HXApplicationWebClient::mediaPathSegment(mediaID), int64_t{1});
    auto session = net::URLSession::sessionWithConfiguration(HXMediaSessionConfiguration(*a));
    auto task = session->dataTaskWithURL(url, [session, cache = mediaCache(), mediaID, gif = mimeType == "image/gif"](
                                                  const foundation::Data& data,
                                                  const std::optional<net::HTTPURLResponse>& response,
                                                  const std::optional<foundation::Error>& error) {
        const bool ok = !error && response && response->statusCode >= 200 && response->statusCode < 300;
        const bool picture = ok && (gif ? graphics::HXCAnimatedImage::animatedImageWithGIFData(data) != nullptr
                                        : graphics::Image::fromEncoded(data).ok());
        if (picture) {
            cache->setObject(HXCCachedObject::withData(data), foundation::format("%@_ORIGINAL", mediaID));
            // The id names the picture, so that two downloads answered out of order each reach
            // the preview that asked for them.
            foundation::NotificationCenter::defaultCenter().post(
                "kImageDownloadCompleteNotification", nullptr,
                foundation::Dictionary{{"image", foundation::Value(data)}, {"id", mediaID}});
        }
        session->finishTasksAndInvalidate();
    });
    task->resume();
}

void HXMediaOperations::downloadMediaIfNeeded(const std::string& mediaID, const std::string& mimeType,
                                              bool forPreview) {
    auto a = app();
    if (!a) return;
    auto stored = [weakApp = app_, mediaID, mimeType, forPreview]() {
        auto a = weakApp.lock();
        if (!a) return true;
        const HXMediaFiles files = HXMediaFilesOf(*a);
        if (forPreview) return files.cache->objectForKey(mediaID) != nullptr;
        return foundation::files::exists(files.localURL(mediaID, mimeType));
    };
    if (stored()) return;
    std::string path, suffix;
    if (foundation::hasPrefix(mimeType, "audio/"))
        path = "au/";
    else if (foundation::hasPrefix(mimeType, "video/")) {
        path = "vi/";
        suffix = forPreview ? "?m=thumbnail" : "?m=content";
    } else if (mimeType == "text/x-vcard")
        path = "vc/";
    else
        return;
    const auto& endpoints = a->endpoints();
    const std::string base = endpoints.mediaBase() + path;
    const std::string tag = base + "_" + mediaID + "_" + (forPreview ? "1" : "0");
    net::URLRequest request(base + HXApplicationWebClient::mediaPathSegment(mediaID) + suffix);
    request.setHTTPMethod("GET");
    request.setMaximumReplyBytes(kMaximumMediaBytes);
    request.setValue(endpoints.webClient, "Referer");
    dispatch::Queue::main()->async([weakApp = app_, tag, request, stored, mediaID, mimeType, forPreview] {
        auto a = weakApp.lock();
        if (!a) return;
        HXWebClientOf(*a).requests.startIfAbsent(tag, [&] {
            if (stored()) return;
            // A preview goes to the object cache; the item itself to its file as it arrives.
            if (forPreview)
                a->startAsyncLoadWithRequest(request, tag);
            else
                a->startAsyncLoadWithRequest(request, tag, {}, HXMediaFilesOf(*a).localURL(mediaID, mimeType));
        });
    });
}

std::string HXMediaOperations::localURLForMedia(const std::string& mediaID, const std::string& mimeType) {
    auto a = app();
    return a ? HXMediaFilesOf(*a).localURL(mediaID, mimeType) : std::string();
}

std::optional<foundation::Dictionary> HXMediaOperations::imageInfoForSize(const std::string& size,
                                                                          const foundation::Array& infoArray) {
    return HXApplicationWebClient::imageInfoForSize(size, infoArray);
}

void HXMediaOperations::downloadVMforID(const std::string& conversationID) {
    downloadAudioForID(conversationID, false);
}

void HXMediaOperations::downloadRecordedCallForID(const std::string& conversationID) {
    downloadAudioForID(conversationID, true);
}

void HXMediaOperations::downloadAudioForID(const std::string& mediaID, bool recordedCall) {
    auto a = app();
    if (!a) return;
    auto& web = HXWebClientOf(*a);
    const std::string base = web.endpoints.mediaBase() + (recordedCall ? "cr/cra:" : "v/");
    const std::string tag = base + "_" + mediaID;
    if (web.requests.contains(tag)) return;
    auto account = a->account();
    if (!account || !account->authV2()) return;
    const std::string id = foundation::hasPrefix(mediaID, "c.") ? mediaID.substr(2) : mediaID;
    net::URLRequest request(base + HXApplicationWebClient::mediaPathSegment(id));
    request.setHTTPMethod("GET");
    request.setMaximumReplyBytes(kMaximumMediaBytes);
    request.setValue(web.endpoints.servicePageBase(), "Referer");
    a->startAsyncLoadWithRequest(std::move(request), tag, {}, HXMediaFilesOf(*a).localURL(mediaID, "audio/"));
}

// Kept in the stored preferences only (unset: the receiver), so that every player reads the one
// value.
bool HXMediaOperations::useSpeaker() const {
    return foundation::UserDefaults::standardUserDefaults()->boolForKey(kUseSpeakerKey);
}

void HXMediaOperations::setUseSpeaker(bool on) {
    foundation::UserDefaults::standardUserDefaults()->setBool(on, kUseSpeakerKey);
}
