#include "platform/services/photos.h"

#include <mutex>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/thread_annotations.h"
#include "platform/foundation/url.h"
#include "platform/foundation/uti.h"
#include "platform/foundation/uuid.h"
#include "platform/graphics/image_operations.h"

namespace services {

namespace {

struct DeviceState {
    foundation::Mutex mutex;
    PhotoAuthorizationStatus photos HX_GUARDED_BY(mutex) = PhotoAuthorizationStatus::NotDetermined;
    PhotoAuthorizationStatus photosAnswer HX_GUARDED_BY(mutex) = PhotoAuthorizationStatus::Authorized;
    CaptureAuthorizationStatus camera HX_GUARDED_BY(mutex) = CaptureAuthorizationStatus::NotDetermined;
    bool cameraAnswer HX_GUARDED_BY(mutex) = true;
    bool cameraAvailable HX_GUARDED_BY(mutex) = true;
};

DeviceState& state() {
    static DeviceState s;
    return s;
}

constexpr std::string_view kScheme = "assets-library://asset/asset.";

foundation::Error referenceError(const std::string& url, int64_t code) {
    foundation::Dictionary info;
    info.set("NSLocalizedDescription",
             code == kPhotosNoSuchAsset ? "No asset has this reference URL" : "Not an asset reference URL");
    info.set("referenceURL", url);
    return foundation::Error(kPhotosErrorDomain, code, std::move(info));
}

// The id and extension of a reference URL; none for any other text. Ids are UUIDs, so a
// reference never reaches outside the assets' folder.
std::optional<std::pair<std::string, std::string>> parseReference(const std::string& url) {
    if (!foundation::hasPrefix(url, kScheme)) return std::nullopt;
    const auto query = url.find('?');
    if (query == std::string::npos) return std::nullopt;
    std::string id, ext;
    for (const auto& pair : foundation::split(std::string_view(url).substr(query + 1), "&")) {
        if (foundation::hasPrefix(pair, "id=")) id = pair.substr(3);
        if (foundation::hasPrefix(pair, "ext=")) ext = pair.substr(4);
    }
    if (!foundation::UUID::parse(id) || ext.empty()) return std::nullopt;
    const auto allowed = foundation::CharacterSet::alphanumeric();
    if (foundation::keepingOnly(ext, allowed) != ext) return std::nullopt;
    return std::make_pair(id, ext);
}

}  // namespace

PhotoAuthorizationStatus PhotoLibrary::authorizationStatus() {
    std::lock_guard lock(state().mutex);
    return state().photos;
}

void PhotoLibrary::setAuthorizationStatus(PhotoAuthorizationStatus status) {
    std::lock_guard lock(state().mutex);
    state().photos = status;
}

void PhotoLibrary::setAnswerToAccessRequest(PhotoAuthorizationStatus answer) {
    std::lock_guard lock(state().mutex);
    state().photosAnswer = answer;
}

void PhotoLibrary::requestAuthorization(std::function<void(PhotoAuthorizationStatus)> completion) {
    PhotoAuthorizationStatus answer;
    {
        std::lock_guard lock(state().mutex);
        if (state().photos == PhotoAuthorizationStatus::NotDetermined) state().photos = state().photosAnswer;
        answer = state().photos;
    }
    dispatch::Queue::global()->async([completion = std::move(completion), answer] {
        if (completion) completion(answer);
    });
}

std::filesystem::path PhotoLibrary::assetsDirectory() { return foundation::libraryDirectory() / "Photos"; }

foundation::Result<std::string> PhotoLibrary::addAsset(const foundation::Data& bytes,
                                                       const std::string& typeIdentifier) {
    const std::string ext = foundation::preferredFilenameExtension(typeIdentifier).value_or("dat");
    const std::string id = foundation::UUID::random().string();
    std::error_code ec;
    std::filesystem::create_directories(assetsDirectory(), ec);
    auto written = foundation::files::writeAtomically(assetsDirectory() / (id + "." + ext), bytes);
    if (!written.ok()) return written.error();
    const std::string upper = foundation::uppercase(ext);
    return std::string(kScheme) + upper + "?id=" + id + "&ext=" + upper;
}

foundation::Result<std::string> PhotoLibrary::saveImage(const graphics::ImagePtr& image) {
    auto upright = graphics::imageWithFixedOrientationOfImage(image);
    auto png = upright ? graphics::pngRepresentation(upright) : std::nullopt;
    if (!png) {
        foundation::Dictionary info;
        info.set(foundation::kLocalizedDescriptionKey, "The picture could not be decoded to save it.");
        if (image && image->decodeError()) info.set("reason", image->decodeError()->localizedDescription());
        return foundation::Error(kPhotosErrorDomain, kPhotosUndecodableImage, std::move(info));
    }
    return addAsset(*png, std::string(foundation::kTypePNG));
}

foundation::Result<AssetData> PhotoLibrary::imageDataForAssetURL(const std::string& referenceURL) {
    auto parsed = parseReference(referenceURL);
    if (!parsed) return referenceError(referenceURL, kPhotosBadReference);
    const std::string ext = foundation::asciiLowercase(parsed->second);
    auto bytes = foundation::files::readData(assetsDirectory() / (parsed->first + "." + ext));
    if (!bytes.ok()) return referenceError(referenceURL, kPhotosNoSuchAsset);
    return AssetData{std::move(bytes).value(),
                     foundation::typeIdentifierForFilenameExtension(ext).value_or(std::string(foundation::kTypeData))};
}

void PhotoLibrary::reset() {
    std::lock_guard lock(state().mutex);
    state().photos = PhotoAuthorizationStatus::NotDetermined;
    state().photosAnswer = PhotoAuthorizationStatus::Authorized;
}

CaptureAuthorizationStatus CaptureDevice::authorizationStatus() {
    std::lock_guard lock(state().mutex);
    return state().camera;
}

void CaptureDevice::setAuthorizationStatus(CaptureAuthorizationStatus status) {
    std::lock_guard lock(state().mutex);
    state().camera = status;
}

void CaptureDevice::setAnswerToAccessRequest(bool grant) {
    std::lock_guard lock(state().mutex);
    state().cameraAnswer = grant;
}

void CaptureDevice::requestAccess(std::function<void(bool granted)> completion) {
    bool granted;
    {
        std::lock_guard lock(state().mutex);
        if (state().camera == CaptureAuthorizationStatus::NotDetermined)
            state().camera =
                state().cameraAnswer ? CaptureAuthorizationStatus::Authorized : CaptureAuthorizationStatus::Denied;
        granted = state().camera == CaptureAuthorizationStatus::Authorized;
    }
    dispatch::Queue::global()->async([completion = std::move(completion), granted] {
        if (completion) completion(granted);
    });
}

bool CaptureDevice::cameraAvailable() {
    std::lock_guard lock(state().mutex);
    return state().cameraAvailable;
}

void CaptureDevice::setCameraAvailable(bool available) {
    std::lock_guard lock(state().mutex);
    state().cameraAvailable = available;
}

void CaptureDevice::reset() {
    std::lock_guard lock(state().mutex);
    state().camera = CaptureAuthorizationStatus::NotDetermined;
    state().cameraAnswer = true;
    state().cameraAvailable = true;
}

}  // namespace services
