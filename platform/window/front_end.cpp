#include "platform/window/front_end.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <mutex>

#include "platform/clock/clock.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/application.h"
#include "platform/foundation/files.h"
#include "platform/foundation/strings.h"
#include "platform/graphics/codecs.h"
#include "platform/graphics/image.h"
#include "platform/services/device.h"
#include "platform/services/search_index.h"
#include "platform/services/url_opener.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/menu_controller.h"
#include "platform/toolkit/menu_panel.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/responder.h"
#include "platform/toolkit/scroll_view.h"
#include "platform/toolkit/testing/input_script.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/view_controller.h"
#include "platform/window/display_connection.h"
#include "platform/window/errors.h"
#include "platform/window/keys.h"
#include "platform/window/sdl_library.h"

namespace windowing {

namespace {

// Screenshots never overwrite an earlier one; past this many the folder wants emptying.
constexpr int kMaxScreenshots = 10000;
// wait-idle: a tenth of a second of idle frames at the usual rate.
constexpr int kIdleFrames = 6;
// How often SDL is asked for input under a driver whose connection the loop cannot watch.
constexpr double kInputPollInterval = 0.1;

foundation::Error sdlError(const SdlLibrary& sdl, const std::string& what) {
    return windowError(kWindowDisplayError, what + ": " + sdl.GetError());
}

// The picture in a file dropped on the window, with its type as a drag item names it; an error
// that says why for anything else.
foundation::Result<std::pair<foundation::Data, std::string>> readDroppedPicture(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    std::error_code ec;
    const auto size = std::filesystem::is_regular_file(path, ec) ? std::filesystem::file_size(path, ec) : 0;
    if (ec || !std::filesystem::is_regular_file(path, ec))
        return windowError(kWindowDropError, "\u201c" + name + "\u201d is not a file that can be read");
    if (size > FrontEnd::kMaxDroppedFileBytes)
        return windowError(kWindowDropError, "\u201c" + name + "\u201d is too large to drop");
    auto data = foundation::files::readData(path);
    if (!data.ok())
        return windowError(kWindowDropError,
                           "\u201c" + name + "\u201d cannot be read: " + data.error().localizedDescription());
    const foundation::Data& bytes = *data;
    auto startsWith = [&](std::initializer_list<uint8_t> prefix) {
        return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
    };
    std::string type;
    foundation::Result<std::shared_ptr<graphics::Bitmap>> decoded =
        windowError(kWindowDropError, "\u201c" + name + "\u201d is not a picture (PNG, JPEG or GIF)");
    if (startsWith({0x89, 'P', 'N', 'G'})) {
        type = "public.png";
        decoded = graphics::decodePNG(bytes.data(), bytes.size());
    } else if (startsWith({0xFF, 0xD8, 0xFF})) {
        type = "public.jpeg";
        decoded = graphics::decodeJPEG(bytes.data(), bytes.size());
    } else if (startsWith({'G', 'I', 'F', '8'})) {
        type = "com.compuserve.gif";
        decoded = graphics::decodeGIF(bytes.data(), bytes.size());
    }
    if (type.empty()) return decoded.error();
    if (!decoded.ok())
        return windowError(kWindowDropError, "\u201c" + name + "\u201d is not a picture that can be read: " +
                                                 decoded.error().localizedDescription());
    return std::pair{std::move(*data), type};
}

}  // namespace

struct FrontEnd::OpenedURLs {
    std::mutex mutex;
    std::vector<std::string> urls;
};

void FrontEnd::watchOpenedURLs() {
    opened_ = std::make_shared<OpenedURLs>();
    // The app may open a URL on any thread; the window shows it at its next frame.
    services::URLOpener::setOpenedObserver([weak = std::weak_ptr<OpenedURLs>(opened_)](const std::string& url) {
        auto opened = weak.lock();
        if (!opened) return;
        {
            std::lock_guard lock(opened->mutex);
            opened->urls.push_back(url);
        }
        dispatch::Queue::main()->async([] {});  // wakes an idle window
    });
}

void FrontEnd::serveNotices(double now) {
    std::vector<std::string> urls;
    {
        std::lock_guard lock(opened_->mutex);
        urls.swap(opened_->urls);
    }
    if (!urls.empty()) {
        notice_.show(services::URLOpener::describeOpenedURL(urls.back()), now);
        // The loop wakes when the notice is due to go, however idle the window is then.
        dispatch::Queue::main()->after(Notice::kShownFor + 0.05, [] {});
    }
    notice_.update(now);
}

bool FrontEnd::followDrag(const SDL_Event& event) {
    switch (event.type) {
        case SDL_MOUSEMOTION:
            pointer_ = pointFor(event.motion.x, event.motion.y);
            if (dragSession_) {
                dragSession_->locationInWindow = pointer_;
                if (dragPreview_) {
                    toolkit::Rect frame = dragPreview_->frame();
                    frame.origin = {pointer_.x - frame.width() / 2, pointer_.y - frame.height() / 2};
                    dragPreview_->setFrame(frame);
                }
                return true;
            }
            if (!touch_ || !pressedAt_ || dispatch::clock().now() - *pressedAt_ < kDragLiftDelay) return false;
            if (std::hypot(pointer_.x - pressedPoint_.x, pointer_.y - pressedPoint_.y) < kDragLiftDistance)
                return false;
            return liftDrag();
        case SDL_MOUSEBUTTONDOWN:
            if (event.button.button != SDL_BUTTON_LEFT || touch_ || dragSession_) return false;
            pointer_ = pressedPoint_ = pointFor(event.button.x, event.button.y);
            pressedAt_ = dispatch::clock().now();
            return false;
        case SDL_MOUSEBUTTONUP:
            pressedAt_.reset();
            if (event.button.button != SDL_BUTTON_LEFT || !dragSession_) return false;
            endDrag(pointFor(event.button.x, event.button.y));
            return true;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST && dragSession_) endDrag(std::nullopt);
            return false;
        case SDL_DROPFILE:
            if (event.drop.file) {
                const std::filesystem::path path = event.drop.file;
                sdl_->free(event.drop.file);
                (void)dropFile(path, pointer_);
            }
            return true;
        default:
            return false;
    }
}

bool FrontEnd::liftDrag() {
    // Asked once a press: a press on nothing draggable stays a touch.
    pressedAt_.reset();
    toolkit::View* hit = toolkitWindow_.hitTest(pressedPoint_, nullptr);
    std::shared_ptr<toolkit::DragSession> session;
    for (toolkit::View* v = hit; v && !session; v = v->superview())
        for (const auto& interaction : v->interactions())
            if (auto drag = std::dynamic_pointer_cast<toolkit::DragInteraction>(interaction)) {
                session = drag->beginDrag(v->convertPointFrom(pressedPoint_, nullptr));
                break;
            }
    if (!session) return false;
    // The drag takes over from the touch and from a menu the hold opened.
    if (auto* menu = toolkit::MenuPanel::shown(&toolkitWindow_)) (void)menu->handleKey(toolkit::kInputEscape);
    toolkitWindow_.cancelAllTouches();
    touch_.reset();
    session->locationInWindow = pointer_;
    dragSession_ = session;
    std::shared_ptr<toolkit::View> shown;
    const auto& item = session->items.front();
    if (item->previewProvider) shown = item->previewProvider();
    toolkit::Size size = shown ? shown->frame().size : toolkit::Size{64, 64};
    constexpr double kSide = 120;
    const double fit = std::min({1.0, kSide / std::max(size.width, 1.0), kSide / std::max(size.height, 1.0)});
    size = {std::max(size.width * fit, 24.0), std::max(size.height * fit, 24.0)};
    dragPreview_ = toolkit::View::make(
        toolkit::Rect(pointer_.x - size.width / 2, pointer_.y - size.height / 2, size.width, size.height));
    dragPreview_->setUserInteractionEnabled(false);
    dragPreview_->setAlpha(0.85);
    dragPreview_->setBackgroundColor(toolkit::Color::systemGray4());
    dragPreview_->layer().cornerRadius = 8;
    dragPreview_->setClipsToBounds(true);
    if (shown) {
        shown->setFrame(dragPreview_->bounds());
        shown->setUserInteractionEnabled(false);
        dragPreview_->addSubview(shown);
    }
    toolkitWindow_.addSubview(dragPreview_);
    return true;
}

void FrontEnd::endDrag(std::optional<toolkit::Point> dropAt) {
    auto session = std::move(dragSession_);
    if (dragPreview_) dragPreview_->removeFromSuperview();
    dragPreview_.reset();
    if (!session || !dropAt) return;
    // The preview is gone before the drop: the view under the pointer is the one that takes it.
    (void)toolkit::dropSession(toolkitWindow_, *session, *dropAt);
    lastDrop_ = std::move(session);
}

foundation::Status FrontEnd::dropFile(const std::filesystem::path& path, toolkit::Point at) {
    auto picture = readDroppedPicture(path);
    if (!picture.ok()) {
        std::fprintf(stderr, "hx window: nothing dropped: %s\n", picture.error().localizedDescription().c_str());
        notice_.show(picture.error().localizedDescription(), dispatch::clock().now());
        dispatch::Queue::main()->after(Notice::kShownFor + 0.05, [] {});
        return picture.error();
    }
    auto provider = toolkit::ItemProvider::withData(std::move(picture->first), picture->second);
    provider->suggestedName = path.stem().string();
    auto session = std::make_shared<toolkit::DragSession>();
    session->items.push_back(std::make_shared<toolkit::DragItem>(provider));
    session->locationInWindow = at;
    const auto operation = toolkit::dropSession(toolkitWindow_, *session, at);
    lastDrop_ = std::move(session);
    if (operation != toolkit::DropOperation::Copy && operation != toolkit::DropOperation::Move)
        return windowError(kWindowDropError, "nothing under the pointer takes a picture");
    return {};
}

FrontEnd::FrontEnd(toolkit::Window& window, FrontEndOptions options)
    : toolkitWindow_(window),
      options_(std::move(options)),
      previousTimedAnimations_(toolkit::Animations::timed()),
      banners_(window),
      notice_(window) {
    toolkit::Animations::setTimed(options_.timedAnimations);
    watchOpenedURLs();
}

FrontEnd::~FrontEnd() {
    services::URLOpener::setOpenedObserver({});
    if (dragSession_) endDrag(std::nullopt);
    stopTicking();
    toolkit::Animations::setTimed(previousTimedAnimations_);
    if (touch_ || !fingers_.empty()) toolkitWindow_.cancelAllTouches();
    if (texture_) sdl_->DestroyTexture(texture_);
    if (renderer_) sdl_->DestroyRenderer(renderer_);
    if (window_) sdl_->DestroyWindow(window_);
    // SDL serves this window alone: ending it whole also closes the message-bus connection its
    // video start opened.
    if (videoStarted_) sdl_->Quit();
}

foundation::Result<std::unique_ptr<FrontEnd>> FrontEnd::open(toolkit::Window& window, FrontEndOptions options) {
    std::unique_ptr<FrontEnd> frontEnd(new FrontEnd(window, std::move(options)));
    if (auto status = frontEnd->create(); !status) return status.error();
    return frontEnd;
}

foundation::Status FrontEnd::create() {
    auto library = sdlLibrary();
    if (!library) return library.error();
    sdl_ = *library;
    if (sdl_->InitSubSystem(SDL_INIT_VIDEO) != 0) return sdlError(*sdl_, "cannot start the video subsystem");
    videoStarted_ = true;
    const toolkit::ScreenProfile& profile = toolkitWindow_.profile();
    const auto bounds = profile.bounds();
    window_ = sdl_->CreateWindow(options_.title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                 static_cast<int>(std::lround(bounds.width() * profile.scale)),
                                 static_cast<int>(std::lround(bounds.height() * profile.scale)), SDL_WINDOW_SHOWN);
    if (!window_) return sdlError(*sdl_, "cannot open a window");
    fitWindowToProfile();
    // The software renderer gives the same pixels on every machine, display or not; its surface
    // stays the window's own framebuffer rather than a texture of a graphics driver.
    sdl_->SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    renderer_ = sdl_->CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer_) return sdlError(*sdl_, "cannot draw into the window");
    return {};
}

void FrontEnd::fitWindowToProfile() {
    const toolkit::ScreenProfile& profile = toolkitWindow_.profile();
    const auto bounds = profile.bounds();
    double width = bounds.width() * profile.scale;
    double height = bounds.height() * profile.scale;
    // A screen smaller than the device's pixels shows it scaled down.
    SDL_Rect usable{};
    const int display = std::max(0, sdl_->GetWindowDisplayIndex(window_));
    if (sdl_->GetDisplayUsableBounds(display, &usable) == 0 && usable.w > 0 && usable.h > 0) {
        const double fit = std::min({1.0, usable.w / width, usable.h / height});
        width *= fit;
        height *= fit;
    }
    sdl_->SetWindowSize(window_, std::max(1, static_cast<int>(std::lround(width))),
                        std::max(1, static_cast<int>(std::lround(height))));
}

Uint32 FrontEnd::windowID() const { return sdl_->GetWindowID(window_); }

double FrontEnd::pointsToPixels() const {
    int w = 0, h = 0;
    sdl_->GetWindowSize(window_, &w, &h);
    const double points = toolkitWindow_.profile().bounds().width();
    return points > 0 && w > 0 ? w / points : 1.0;
}

toolkit::Point FrontEnd::pointFor(Sint32 x, Sint32 y) const {
    const double s = pointsToPixels();
    return {x / s, y / s};
}

void FrontEnd::pumpEvents() {
    SDL_Event event;
    while (sdl_->PollEvent(&event)) handleEvent(event);
}

void FrontEnd::handleEvent(const SDL_Event& event) {
    ++eventsHandled_;
    if (followDrag(event)) return;
    switch (event.type) {
        case SDL_QUIT:
            closed_ = true;
            break;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_CLOSE) closed_ = true;
            // A finger cannot stay down on a window the pointer has left for good.
            if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST && (touch_ || !fingers_.empty())) {
                toolkitWindow_.cancelAllTouches();
                touch_.reset();
                extraTouches_.clear();
                fingers_.clear();
            }
            break;
        case SDL_MOUSEBUTTONDOWN: {
            // A touch screen's own mouse events are its fingers again.
            if (event.button.which == SDL_TOUCH_MOUSEID) break;
            if (event.button.button != SDL_BUTTON_LEFT || touch_) break;
            lastPoint_ = pointFor(event.button.x, event.button.y);
            // Alt makes the pointer two fingers side by side, Alt and Shift three.
            const int count = !(keyModifiers_ & KMOD_ALT) ? 1 : (keyModifiers_ & KMOD_SHIFT) ? 3 : 2;
            const auto ids =
                toolkitWindow_.touchesDown(toolkit::testing::fingerPoints(lastPoint_, count, {0, 0}, {1, 0}));
            touch_ = ids.front();
            extraTouches_.assign(ids.begin() + 1, ids.end());
            break;
        }
        case SDL_MOUSEMOTION: {
            if (!touch_ || event.motion.which == SDL_TOUCH_MOUSEID) break;
            lastPoint_ = pointFor(event.motion.x, event.motion.y);
            const auto at =
                toolkit::testing::fingerPoints(lastPoint_, 1 + static_cast<int>(extraTouches_.size()), {0, 0}, {1, 0});
            std::map<int, toolkit::Point> moves{{*touch_, at[0]}};
            for (size_t i = 0; i < extraTouches_.size(); ++i) moves[extraTouches_[i]] = at[i + 1];
            toolkitWindow_.touchesMove(moves);
            break;
        }
        case SDL_MOUSEBUTTONUP: {
            if (event.button.button != SDL_BUTTON_LEFT || !touch_ || event.button.which == SDL_TOUCH_MOUSEID) break;
            const toolkit::Point p = pointFor(event.button.x, event.button.y);
            if (p.x != lastPoint_.x || p.y != lastPoint_.y) {
                SDL_Event move{};
                move.motion.type = SDL_MOUSEMOTION;
                move.motion.x = event.button.x;
                move.motion.y = event.button.y;
                handleEvent(move);
            }
            lastPoint_ = p;
            liftMouseTouches();
            break;
        }
        case SDL_FINGERDOWN:
        case SDL_FINGERMOTION:
        case SDL_FINGERUP:
            handleFinger(event.tfinger);
            break;
        case SDL_KEYUP:
            keyModifiers_ = event.key.keysym.mod;
            break;
        case SDL_MOUSEWHEEL:
            handleWheel(event.wheel);
            break;
        case SDL_KEYDOWN:
            keyModifiers_ = event.key.keysym.mod;
            handleKey(event.key);
            break;
        case SDL_TEXTINPUT:
            // The first responder sees one character at a time, as from the device's keyboard;
            // nothing is typed behind a menu.
            if (toolkit::MenuPanel::shown(&toolkitWindow_)) break;
            if (auto* input = dynamic_cast<toolkit::TextInput*>(toolkit::firstResponder())) {
                for (char32_t cp : foundation::toCodePoints(event.text.text)) {
                    std::string one;
                    foundation::appendUtf8(one, cp);
                    input->insertText(one);
                }
            }
            break;
        default:
            break;
    }
}

void FrontEnd::handleKey(const SDL_KeyboardEvent& key) {
    if (auto command = deviceCommandForKey(key.keysym.sym)) {
        if (!key.repeat) runCommand(*command);
        return;
    }
    // Escape closes the system's prompt, and a banner whose text is being typed.
    if (key.keysym.sym == SDLK_ESCAPE && prompt()) {
        prompt_->close();
        return;
    }
    if (key.keysym.sym == SDLK_ESCAPE && banners_.isTyping()) {
        banners_.close();
        return;
    }
    // A menu on screen takes its keys (arrows, Return, Escape) before the focused text does.
    if (toolkit::MenuPanel* menu = toolkit::MenuPanel::shown(&toolkitWindow_)) {
        const KeyMeaning keys = keyMeaning(key.keysym.sym, key.keysym.mod, false);
        if (keys.kind == KeyMeaning::KeyCommand && keys.modifiers == 0 && menu->handleKey(keys.input)) return;
    }
    // So does the edit menu's bar (Left, Right, Return, Escape).
    if (toolkit::MenuController::shared().window() == &toolkitWindow_) {
        const KeyMeaning keys = keyMeaning(key.keysym.sym, key.keysym.mod, false);
        if (keys.kind == KeyMeaning::KeyCommand && keys.modifiers == 0 &&
            toolkit::MenuController::shared().handleKey(keys.input))
            return;
    }
    auto* input = dynamic_cast<toolkit::TextInput*>(toolkit::firstResponder());
    const KeyMeaning meaning = keyMeaning(key.keysym.sym, key.keysym.mod, input != nullptr);
    switch (meaning.kind) {
        case KeyMeaning::Return:
            input->pressReturn();
            break;
        case KeyMeaning::Backspace:
            input->deleteBackward();
            break;
        case KeyMeaning::KeyCommand:
            if (!toolkit::dispatchKeyCommand(meaning.input, meaning.modifiers,
                                             toolkit::visibleKeyResponder(toolkitWindow_))) {
                const unsigned chord = toolkit::testing::commandChordForControlChord(meaning.modifiers);
                if (!chord ||
                    !toolkit::dispatchKeyCommand(meaning.input, chord, toolkit::visibleKeyResponder(toolkitWindow_)))
                    // Command-C, -V, -X and -A copy, paste, cut and select in the first responder.
                    toolkit::MenuController::performEditKey(meaning.input, chord ? chord : meaning.modifiers);
            }
            break;
        case KeyMeaning::None:
            break;
    }
}

void FrontEnd::liftMouseTouches() {
    if (!touch_) return;
    std::vector<int> ids{*touch_};
    ids.insert(ids.end(), extraTouches_.begin(), extraTouches_.end());
    touch_.reset();
    extraTouches_.clear();
    toolkitWindow_.touchesUp(ids);
}

void FrontEnd::handleFinger(const SDL_TouchFingerEvent& finger) {
    // Fingers come in fractions of the window.
    const toolkit::Rect bounds = toolkitWindow_.bounds();
    const toolkit::Point p{bounds.minX() + finger.x * bounds.width(), bounds.minY() + finger.y * bounds.height()};
    const auto key = std::make_pair(finger.touchId, finger.fingerId);
    const auto known = fingers_.find(key);
    if (finger.type == SDL_FINGERDOWN) {
        if (known == fingers_.end()) fingers_[key] = toolkitWindow_.touchDown(p);
        return;
    }
    if (known == fingers_.end()) return;
    const int id = known->second;
    if (finger.type == SDL_FINGERMOTION) {
        toolkitWindow_.touchMove(id, p);
        return;
    }
    fingers_.erase(known);
    toolkitWindow_.touchMove(id, p);
    toolkitWindow_.touchUp(id);
}

void FrontEnd::handleWheel(const SDL_MouseWheelEvent& wheel) {
    double dx = wheel.preciseX, dy = wheel.preciseY;
    if (wheel.direction == SDL_MOUSEWHEEL_FLIPPED) {
        dx = -dx;
        dy = -dy;
    }
    toolkit::testing::turnWheel(toolkitWindow_, pointFor(wheel.mouseX, wheel.mouseY), dx, dy);
}

void FrontEnd::runCommand(DeviceCommand command) {
    switch (command) {
        case DeviceCommand::Shake:
            shake(toolkitWindow_);
            break;
        case DeviceCommand::Rotate:
            if (touch_ || !fingers_.empty()) {
                toolkitWindow_.cancelAllTouches();
                touch_.reset();
                extraTouches_.clear();
                fingers_.clear();
            }
            rotate(toolkitWindow_);
            fitWindowToProfile();
            break;
        case DeviceCommand::ToggleAppearance:
            toggleAppearance(toolkitWindow_);
            break;
        case DeviceCommand::SendMemoryWarning:
            memoryWarning(toolkitWindow_, options_.hooks);
            break;
        case DeviceCommand::ToggleBackground:
            toggleBackground(options_.hooks);
            break;
        case DeviceCommand::TakeScreenshot:
            screenshotRequested_ = true;
            break;
        case DeviceCommand::OpenURL:
        case DeviceCommand::Search:
            openPrompt(command);
            break;
        case DeviceCommand::TextArrives:
        case DeviceCommand::TextArrivesFromNewNumber:
            if (options_.hooks.textArrives)
                options_.hooks.textArrives(command == DeviceCommand::TextArrivesFromNewNumber);
            break;
        case DeviceCommand::ToggleNetwork:
            if (options_.hooks.toggleNetwork) options_.hooks.toggleNetwork();
            break;
        case DeviceCommand::Crash:
            if (options_.hooks.crash) options_.hooks.crash();
            break;
    }
}

foundation::Status FrontEnd::drawFrame() {
    toolkit::flushLayout();
    toolkitWindow_.layoutIfNeeded();
    const toolkit::Rect bounds = toolkitWindow_.bounds();
    const double scale = toolkitWindow_.profile().scale;
    if (!canvas_ || canvasScale_ != scale || !(canvasSize_ == bounds.size)) {
        auto made = graphics::GraphicsContext::image({std::max(bounds.width(), 1e-3), std::max(bounds.height(), 1e-3)},
                                                     false, scale);
        if (!made.ok()) return windowError(kWindowDisplayError, "the window cannot be drawn");
        canvas_ = std::move(*made);
        canvasScale_ = scale;
        canvasSize_ = bounds.size;
    }
    toolkit::renderWindow(toolkitWindow_, *canvas_);
    const graphics::Bitmap* bitmap = &canvas_->pixels();
    if (!texture_ || textureWidth_ != bitmap->width() || textureHeight_ != bitmap->height()) {
        if (texture_) sdl_->DestroyTexture(texture_);
        // The renderer's words are the drawing layer's: premultiplied ARGB, native order. Copied
        // without blending onto black, transparent parts show as the device's black screen.
        texture_ = sdl_->CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                       bitmap->width(), bitmap->height());
        if (!texture_) return sdlError(*sdl_, "cannot make the window's texture");
        sdl_->SetTextureBlendMode(texture_, SDL_BLENDMODE_NONE);
        textureWidth_ = bitmap->width();
        textureHeight_ = bitmap->height();
    }
    if (sdl_->UpdateTexture(texture_, nullptr, bitmap->data(), bitmap->strideBytes()) != 0)
        return sdlError(*sdl_, "cannot fill the window's texture");
    sdl_->SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    sdl_->RenderClear(renderer_);
    sdl_->RenderCopy(renderer_, texture_, nullptr, nullptr);
    foundation::Status shot;
    if (screenshotRequested_) {
        screenshotRequested_ = false;
        shot = saveScreenshot();
    }
    sdl_->RenderPresent(renderer_);
    return shot;
}

foundation::Result<std::shared_ptr<graphics::Bitmap>> FrontEnd::readRenderTarget() {
    int w = 0, h = 0;
    if (sdl_->GetRendererOutputSize(renderer_, &w, &h) != 0) return sdlError(*sdl_, "cannot measure the window");
    auto bitmap = graphics::Bitmap::make(w, h);
    if (!bitmap.ok()) return bitmap.error();
    auto& pixels = **bitmap;
    if (sdl_->RenderReadPixels(renderer_, nullptr, SDL_PIXELFORMAT_ARGB8888, pixels.data(), pixels.strideBytes()) != 0)
        return sdlError(*sdl_, "cannot read the window's pixels");
    // The window's surface may have no alpha of its own; what it shows is opaque.
    for (int y = 0; y < h; ++y) {
        uint32_t* row = pixels.row(y);
        for (int x = 0; x < w; ++x) row[x] |= 0xFF000000u;
    }
    return *bitmap;
}

foundation::Status FrontEnd::saveScreenshot() {
    if (options_.screenshotDirectory.empty()) return windowError(kWindowScreenshotError, "no folder for screenshots");
    std::error_code ec;
    std::filesystem::create_directories(options_.screenshotDirectory, ec);
    if (ec) return windowError(kWindowScreenshotError, "cannot make " + options_.screenshotDirectory.string());
    std::filesystem::path path;
    for (int n = 1; n <= kMaxScreenshots && path.empty(); ++n) {
        auto candidate = options_.screenshotDirectory / ("screenshot-" + std::to_string(n) + ".png");
        if (!std::filesystem::exists(candidate, ec)) path = candidate;
    }
    if (path.empty()) return windowError(kWindowScreenshotError, "the screenshot folder is full");
    auto pixels = readRenderTarget();
    if (!pixels.ok()) return pixels.error();
    auto png = graphics::encodePNG(**pixels);
    if (!png.ok()) return png.error();
    if (auto written = foundation::files::writeAtomically(path, *png); !written) return written;
    screenshots_.push_back(path);
    if (options_.screenshotSaved) options_.screenshotSaved(path);
    return {};
}

toolkit::View* FrontEnd::findVisible(const std::string& label) {
    return toolkit::testing::findVisible(toolkitWindow_, label);
}

void FrontEnd::stopScript(const InputStep& step, const std::string& why) {
    std::fprintf(stderr, "hx window: input line %d: %s\n", step.line, why.c_str());
    if (!failure_) failure_ = windowError(kWindowScriptError, "line " + std::to_string(step.line) + ": " + why);
    nextStep_ = options_.script.size();
    closed_ = true;
}

void FrontEnd::playScript() {
    if (closed_) return;
    // A drag or swipe under way gives its next frame's events.
    if (!pendingFrames_.empty()) {
        std::vector<SDL_Event> events = std::move(pendingFrames_.front());
        pendingFrames_.pop_front();
        for (SDL_Event event : events)
            if (sdl_->PushEvent(&event) < 0) {
                pendingFrames_.clear();
                return stopScript(options_.script[nextStep_ - 1],
                                  std::string("cannot play the input: ") + sdl_->GetError());
            }
        return;
    }
    // A wait for frames counts down even as the script's last step, so that the script ends.
    if (waitFrames_ > 0) {
        --waitFrames_;
        return;
    }
    if (nextStep_ >= options_.script.size()) return;
    InputStep step = options_.script[nextStep_];
    if (step.kind == InputStep::WaitFor || step.kind == InputStep::WaitGone || step.kind == InputStep::WaitIdle) {
        bool done = false;
        if (step.kind == InputStep::WaitIdle) {
            // Idle for a few frames running: a request that ends often starts the next one.
            idleFrames_ = !options_.idle || options_.idle() ? idleFrames_ + 1 : 0;
            done = idleFrames_ >= kIdleFrames;
        } else {
            done = toolkit::testing::isShown(toolkitWindow_, step.text) == (step.kind == InputStep::WaitFor);
        }
        const double now = dispatch::clock().now();
        if (done) {
            ++nextStep_;
            waitStart_ = -1;
            idleFrames_ = 0;
        } else if (waitStart_ < 0) {
            waitStart_ = now;
        } else if (now - waitStart_ >= options_.waitTimeout) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.1f", options_.waitTimeout);
            stopScript(step, std::string(step.kind == InputStep::WaitIdle  ? "the application was not idle"
                                         : step.kind == InputStep::WaitFor ? "\"" + step.text + "\" did not appear"
                                                                           : "\"" + step.text + "\" did not go") +
                                 " within " + seconds + " s");
        }
        return;
    }
    ++nextStep_;
    if (step.kind == InputStep::Frames) {
        waitFrames_ = step.frames;
        return;
    }
    if (step.kind == InputStep::ClickOn) {
        // A menu's item, else a view (see findClickPoint).
        const auto at = toolkit::testing::findClickPoint(toolkitWindow_, step.text);
        if (!at.ok()) return stopScript(step, at.error().localizedDescription());
        step.point = *at;
    }
    if (step.kind == InputStep::Drag || step.kind == InputStep::Swipe) {
        const toolkit::Rect bounds = toolkitWindow_.bounds();
        auto frames = eventFramesForStep(step, pointsToPixels(), windowID(), scriptPoint_, bounds.size);
        pendingFrames_.assign(std::make_move_iterator(frames.begin()), std::make_move_iterator(frames.end()));
        return playScript();
    }
    for (SDL_Event event : eventsForStep(step, pointsToPixels(), windowID(), scriptPoint_)) {
        if (sdl_->PushEvent(&event) < 0)
            return stopScript(step, std::string("cannot play the input: ") + sdl_->GetError());
    }
}

int64_t FrontEnd::wallMinute() { return static_cast<int64_t>(std::floor(clocks::wallNow() / 60)); }

bool FrontEnd::frameWanted(bool scripted) const {
    // A played script draws every frame, as its waits and screenshots count on.
    if (framesDrawn_ == 0 || scripted || screenshotRequested_) return true;
    // Input, resizes and exposures come as events.
    if (eventsHandled_ != drawnEvents_) return true;
    // A view whose look or layout changed asked to be drawn (every setter that changes the look
    // does); work the loop ran that changed no view (a timer, a reply with nothing new, a location
    // fix) draws nothing.
    if (toolkit::redrawRequests() != drawnRedrawRequests_) return true;
    // The status bar's clock shows the minute.
    if (wallMinute() != drawnMinute_) return true;
    // Presentation animations and spinners move with the clock alone.
    if (toolkit::presentationAnimating()) return true;
    return toolkit::Animations::timed() && toolkit::ActivityIndicatorView::spinning() > 0;
}

void FrontEnd::serveSystem() {
    const double now = dispatch::clock().now();
    banners_.update(now);
    serveNotices(now);
    if (!foundation::Application::shared().isInBackground()) {
        backgroundSince_.reset();
        return;
    }
    if (!backgroundSince_) backgroundSince_ = now;
    auto& fetch = services::BackgroundFetch::shared();
    if (!options_.hooks.performFetch || !fetch.isFetchDue(now, *backgroundSince_)) return;
    fetch.fetchBegan(now);
    options_.hooks.performFetch([](int) { services::BackgroundFetch::shared().fetchEnded(); });
}

void FrontEnd::openPrompt(DeviceCommand command) {
    if (prompt_) prompt_->close();
    if (toolkit::MenuPanel::shown(&toolkitWindow_)) return;
    Prompt::Setup setup;
    if (command == DeviceCommand::OpenURL) {
        setup.title = "Open URL";
        setup.placeholder = "hxconnect://";
        setup.submit = [hook = options_.hooks.openURL](const std::string& text) {
            const std::string url = foundation::trim(text);
            if (hook && !url.empty()) hook(url);
            return std::vector<Prompt::Hit>{};
        };
    } else {
        setup.title = "Search";
        setup.placeholder = "Search";
        setup.listsHits = true;
        setup.submit = [](const std::string& text) {
            std::vector<Prompt::Hit> hits;
            for (const auto& item : services::SearchableIndex::defaultSearchableIndex()->search(text, 6))
                hits.push_back({item.attributeSet.title, item.attributeSet.contentDescription, item.uniqueIdentifier});
            return hits;
        };
        // A hit continues the app with the platform's searchable-item activity.
        setup.choose = [hook = options_.hooks.continueActivity](const std::string& identifier) {
            if (hook)
                hook(services::kSearchableItemActionType,
                     foundation::Dictionary{{services::kSearchableItemActivityIdentifier, identifier}});
        };
    }
    prompt_ = Prompt::open(toolkitWindow_, std::move(setup));
}

void FrontEnd::frame() {
    const bool scripted = !scriptFinished();
    playScript();
    pumpEvents();
    if (closed_) return;
    serveSystem();
    if (!frameWanted(scripted)) return;
    if (auto status = drawFrame(); !status) {
        std::fprintf(stderr, "hx window: %s\n", status.error().localizedDescription().c_str());
        if (!options_.script.empty() && !failure_) failure_ = status.error();
    }
    ++framesDrawn_;
    drawnEvents_ = eventsHandled_;
    drawnRedrawRequests_ = toolkit::redrawRequests();
    drawnMinute_ = wallMinute();
}

void FrontEnd::pollInput() { pumpEvents(); }

void FrontEnd::tick() {
    ++ticks_;
    frame();
    // Events the drawing read off the connection wait in SDL's queue, where the loop's watch on
    // the descriptor would not see them.
    if (!closed_) pumpEvents();
    if (closed_) {
        dispatch::RunLoop::main().stop();
        return;
    }
    if (!frameWanted(!scriptFinished())) {
        linkPaused_ = true;
        link_->setPaused(true);
        // Asleep until something changes, or until the status bar's clock turns to the next minute.
        if (minuteTurn_) minuteTurn_->invalidate();
        const double now = clocks::wallNow();
        minuteTurn_ = dispatch::Timer::scheduled(60 * static_cast<double>(wallMinute() + 1) - now + 0.01, false,
                                                 [this](dispatch::Timer&) { startLinkIfWanted(); });
    }
}

void FrontEnd::startLinkIfWanted() {
    if (!link_ || !linkPaused_) return;
    // Events the loop's work pushed (a played step, a key the app sends itself) wait in SDL's
    // queue, which no descriptor watch sees: the next tick handles them.
    if (!frameWanted(!scriptFinished()) && !sdl_->HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT)) return;
    linkPaused_ = false;
    link_->setPaused(false);
}

void FrontEnd::startTicking() {
    if (link_) return;
    auto& loop = dispatch::RunLoop::main();
    link_ = std::make_unique<dispatch::DisplayLink>([this](dispatch::Seconds) { tick(); }, options_.framesPerSecond);
    linkPaused_ = false;
    if (auto fd = displayConnectionDescriptor(*sdl_, window_)) {
        inputWatch_ =
            loop.addFd(*fd, dispatch::RunLoop::Readable | dispatch::RunLoop::Watch, [this](int, int) { pollInput(); });
    } else if (driverTakesOutsideInput(*sdl_)) {
        inputPoll_ = dispatch::Timer::scheduled(
            kInputPollInterval, true, [this](dispatch::Timer&) { pollInput(); }, dispatch::RunLoopMode::Common);
    }
    // Whatever the loop ran may have changed what is shown or started something moving.
    loop.setServedObserver([this] { startLinkIfWanted(); });
}

void FrontEnd::stopTicking() {
    if (!link_) return;
    auto& loop = dispatch::RunLoop::main();
    loop.setServedObserver({});
    if (inputWatch_) loop.removeFd(inputWatch_);
    inputWatch_ = 0;
    if (inputPoll_) inputPoll_->invalidate();
    inputPoll_.reset();
    if (minuteTurn_) minuteTurn_->invalidate();
    minuteTurn_.reset();
    link_->invalidate();
    link_.reset();
}

void FrontEnd::close() {
    closed_ = true;
    dispatch::RunLoop::main().stop();
}

foundation::Status FrontEnd::run() {
    startTicking();
    dispatch::RunLoop::main().run();
    stopTicking();
    if (failure_) return *failure_;
    return {};
}

}  // namespace windowing
