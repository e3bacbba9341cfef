#include "platform/services/photos.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <tuple>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/thread_annotations.h"
#include "platform/foundation/url.h"
#include "platform/foundation/uti.h"
#include "platform/foundation/uuid.h"
#include "platform/graphics/graphics_context.h"
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
    uint64_t picturesTaken HX_GUARDED_BY(mutex) = 0;
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

std::vector<std::string> PhotoLibrary::assetURLs() {
    struct Found {
        std::filesystem::file_time_type written;
        std::string name;
        std::string url;
    };
    std::vector<Found> found;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(assetsDirectory(), ec), end; !ec && it != end; it.increment(ec)) {
        const auto& path = it->path();
        std::string ext = path.extension().string();
        if (!it->is_regular_file(ec) || ext.size() < 2) continue;
        const std::string url = std::string(kScheme) + foundation::uppercase(ext.substr(1)) +
                                "?id=" + path.stem().string() + "&ext=" + foundation::uppercase(ext.substr(1));
        // Only what a reference can name (a writer's temporary file or a stray one is no asset).
        if (!parseReference(url)) continue;
        found.push_back({it->last_write_time(ec), path.filename().string(), url});
    }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return std::tie(a.written, a.name) < std::tie(b.written, b.name); });
    std::vector<std::string> urls;
    for (auto& f : found) urls.push_back(std::move(f.url));
    return urls;
}

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

graphics::ImagePtr CaptureDevice::capturePicture() {
    uint64_t shot;
    {
        std::lock_guard lock(state().mutex);
        shot = state().picturesTaken++;
    }
    return paintedLandscape(1000 + shot, 1280, 960);
}

void CaptureDevice::reset() {
    std::lock_guard lock(state().mutex);
    state().camera = CaptureAuthorizationStatus::NotDetermined;
    state().cameraAnswer = true;
    state().cameraAvailable = true;
    state().picturesTaken = 0;
}

namespace {
graphics::Color hsb(double hue, double saturation, double brightness) {
    const double h = std::fmod(hue, 1.0) * 6;
    const double c = brightness * saturation, x = c * (1 - std::fabs(std::fmod(h, 2.0) - 1)), m = brightness - c;
    const int sector = static_cast<int>(h) % 6;
    const double r[] = {c, x, 0, 0, x, c}, g[] = {x, c, c, x, 0, 0}, b[] = {0, 0, x, c, c, x};
    return graphics::Color::rgb(r[sector] + m, g[sector] + m, b[sector] + m);
}
}  // namespace

graphics::ImagePtr paintedLandscape(uint64_t variant, int width, int height) {
    auto made = graphics::GraphicsContext::bitmap(width, height);
    if (!made.ok()) return nullptr;
    auto& c = **made;
    // Colours and shapes from the variant's bits, so that neighbouring variants look unlike.
    const uint64_t h = foundation::stableHash64("landscape-" + std::to_string(variant));
    auto part = [h](int shift) { return static_cast<double>((h >> shift) & 0xff) / 255.0; };
    const double w = width, ht = height;
    const double hue = part(0);
    graphics::fillRectWithGradient(c, {0, 0, w, ht},
                                   {{hsb(hue, 0.55, 0.95), hsb(std::fmod(hue + 0.12, 1.0), 0.25, 1.0)}, {}}, {0.5, 0},
                                   {0.5, 0.6});
    c.setFillColor(graphics::Color::rgb(1.0, 0.93, 0.55, 1));
    const double sun = ht * (0.10 + 0.08 * part(8));
    c.fillEllipse({w * (0.15 + 0.7 * part(16)) - sun, ht * (0.12 + 0.2 * part(24)) - sun, 2 * sun, 2 * sun});
    for (int hill = 0; hill < 3; ++hill) {
        const double top = ht * (0.45 + 0.12 * hill + 0.08 * part(32 + 8 * hill));
        const double across = w * (0.6 + 0.5 * part(40 + 4 * hill));
        c.setFillColor(hsb(std::fmod(0.25 + 0.1 * part(48) + 0.05 * hill, 1.0), 0.6, 0.65 - 0.15 * hill));
        c.fillEllipse({w * (part(52 + 3 * hill) - 0.3), top, across, ht});
    }
    c.setFillColor(hsb(0.58, 0.6, 0.55 + 0.2 * part(56)));
    c.fillRect({0, ht * 0.85, w, ht * 0.15});
    return graphics::GraphicsContext::finishImage(std::move(*made));
}

}  // namespace services
