// The help and legal pages: their templates from the application bundle, filled in with what the
// page shows of the app and the device, and the texts the help screen's links compose.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/web/web_view.h"

namespace HXHelpPages {

// What the help page is filled in with, as plain text (the filling escapes it where it must).
struct HelpValues {
    std::string iconBase64;  // PNG bytes, Base64 without line breaks
    std::string version;
    std::string hardwareIdentifier;
    std::string systemVersion;
    std::string copyright;
};

// Every occurrence of each placeholder, in this order: "%%ICON%%", "%%VERSION%%",
// "%%VERSION_URL%%" (the version, blanks as "_", query-encoded), "%%DEVICE_URL%%",
// "%%OS_URL%%" (both query-encoded), "%%COPYRIGHT%%". The shown texts are HTML-escaped so that a
// "<" or "&" in them stays text.
std::string fillHelpTemplate(std::string page, const HelpValues& values);
// "%%IPAD_ONLY%%", "%%IPHONE_ONLY%%" and "%%BELOW_IOS14_ONLY%%" as attributes that hide their
// element on the other device kind, and on system 14 and later.
std::string fillLegalTemplate(std::string page, bool iPad, int systemVersion);

// Text query-encoded with the URL-query allowed set.
std::string queryEncoded(const std::string& text);

// The bundle's "index.html" and "legal.html", read as UTF-8.
foundation::Result<std::string> readTemplate(const std::string& name);
// What a page shows when its template cannot be read: the reason, as text.
std::string unavailablePage(const foundation::Error& error);
// The file URL of the bundle's resource folder, ending in "/": the pages' base address.
std::string bundleBaseURL();

// A page's web view as both screens make it: the main screen's size, not opaque, flexible in
// both directions, with the screen as its navigation delegate.
std::shared_ptr<web::WebView> makePageView(std::weak_ptr<web::NavigationDelegate> delegate);
// Loads the bundle's page name, filled by fill, with the resource folder as base address; a page
// that cannot be read is replaced by one saying why.
void loadPage(web::WebView& view, const std::string& name, const std::function<std::string(std::string)>& fill);

// Dismisses the presentation holding screen, without animation, from inside its page's
// navigation decision. The dismissal may release the screen and its web view while the web
// view's link handling is still on the stack, so both are kept until the main loop's next turn.
void dismissFromPage(toolkit::ViewController& screen);

// The app icon as the help page shows it: "IconLarge" fitted into 57 x 57 points with corners
// of radius 10, as Base64 PNG; empty when the bundle has no such image.
std::string helpIconBase64();
// The bundle's copyright line ("NSHumanReadableCopyright"); empty without one.
std::string bundleCopyright();
// The platform version as text ("15.0").
std::string systemVersionText(int systemVersion);

// The feedback mail: its fixed subject and recipient, the device line "model (platform
// version, marketing name)" and the body that ends in the version and that line.
inline constexpr const char* kFeedbackSubject = "HX Connect";
inline constexpr const char* kSupportAddress = "support@hxconnect.example";
std::string deviceLine(const std::string& model, const std::string& platformName, const std::string& platformVersion,
                       const std::string& modelName);
std::string feedbackBody(const std::string& version, const std::string& deviceLine);

// Whether the page scrolls: only when the view's height less 20 points is below the page height
// the page script reports. A report that is no number (a bottom margin with a unit makes the
// script's subtraction NaN, which arrives as null) falls back on the laid-out height, so that a
// long page is never left unscrollable.
bool pageScrolls(double frameHeight, const foundation::Value& scriptResult, double laidOutHeight);

}  // namespace HXHelpPages
