// The photo library and the camera as the app meets them: whether the user let the app use each
// (what was decided, and the answer a first request gets, both prepared by tests and the
// emulator), whether the device has a camera, and the library's assets, kept as files in the app
// home (<library>/Photos/<id>.<extension>: bytes as they were given, or a decoded picture saved
// to the album, which the library keeps as PNG) and reached by their reference URLs
// ("assets-library://asset/asset.<EXT>?id=<id>&ext=<EXT>"). Answers to access requests arrive on
// a global queue, never on the caller's stack. Thread-safe.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/graphics/image.h"

namespace services {

enum class PhotoAuthorizationStatus { NotDetermined, Restricted, Denied, Authorized, Limited };
enum class CaptureAuthorizationStatus { NotDetermined, Restricted, Denied, Authorized };

inline constexpr const char* kPhotosErrorDomain = "HXPhotosErrorDomain";
enum PhotosErrorCode : int64_t { kPhotosNoSuchAsset = 1, kPhotosBadReference = 2, kPhotosUndecodableImage = 3 };

// An asset's bytes with their type identifier ("com.compuserve.gif", "public.jpeg", ...).
struct AssetData {
    foundation::Data bytes;
    std::string typeIdentifier;
};

class PhotoLibrary {
public:
    static PhotoAuthorizationStatus authorizationStatus();
    static void setAuthorizationStatus(PhotoAuthorizationStatus status);
    // What a request made while the status is not determined turns it into (Authorized unless set).
    static void setAnswerToAccessRequest(PhotoAuthorizationStatus answer);
    // Asks the user the first time; later requests answer the status as it is.
    static void requestAuthorization(std::function<void(PhotoAuthorizationStatus)> completion);

    // Stores bytes of a type as a new asset; answers its reference URL.
    static foundation::Result<std::string> addAsset(const foundation::Data& bytes, const std::string& typeIdentifier);
    // Saves a picture to the album: its pixels, turned upright, as a new PNG asset; an error for
    // an image whose pixels do not decode (nothing is stored then).
    static foundation::Result<std::string> saveImage(const graphics::ImagePtr& image);
    // The bytes and type of an asset; an error for a URL that names no stored asset.
    static foundation::Result<AssetData> imageDataForAssetURL(const std::string& referenceURL);
    static std::filesystem::path assetsDirectory();
    // The reference URLs of the stored assets, oldest first (what the picker's grid shows).
    static std::vector<std::string> assetURLs();
    // Back to what a new device answers: not determined, answer Authorized (assets stay).
    static void reset();
};

class CaptureDevice {
public:
    static CaptureAuthorizationStatus authorizationStatus();
    static void setAuthorizationStatus(CaptureAuthorizationStatus status);
    static void setAnswerToAccessRequest(bool grant);
    static void requestAccess(std::function<void(bool granted)> completion);
    // Whether the device has a camera (true unless set).
    static bool cameraAvailable();
    static void setCameraAvailable(bool available);
    // What the shutter takes: the view in front of the camera, a made-up landscape
    // (paintedLandscape) that moves on with every picture taken.
    static graphics::ImagePtr capturePicture();
    static void reset();
};

// A made-up landscape of width x height pixels (sky, sun, hills, water), a different one for
// every variant: what the camera sees, and the pictures a demo library or contact card holds.
graphics::ImagePtr paintedLandscape(uint64_t variant, int width, int height);

}  // namespace services
