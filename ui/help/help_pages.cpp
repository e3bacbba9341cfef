#include "ui/help/help_pages.h"

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/base64.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "platform/graphics/image_operations.h"
#include "platform/graphics/named_images.h"
#include "platform/toolkit/traits.h"
#include "platform/toolkit/view_controller.h"

namespace HXHelpPages {

namespace {

void replaceAll(std::string& text, std::string_view placeholder, std::string_view value) {
    text = foundation::replaceAll(text, placeholder, value);
}

using foundation::htmlEscaped;

constexpr const char* kHidden = " style='display:none'";

}  // namespace

std::string queryEncoded(const std::string& text) {
    return foundation::percentEncode(text, foundation::CharacterSet::urlQueryAllowed());
}

std::string fillHelpTemplate(std::string page, const HelpValues& values) {
    const std::string versionURL = foundation::replaceAll(values.version, " ", "_");
    replaceAll(page, "%%ICON%%", values.iconBase64);
    replaceAll(page, "%%VERSION%%", htmlEscaped(values.version));
    replaceAll(page, "%%VERSION_URL%%", queryEncoded(versionURL));
    replaceAll(page, "%%DEVICE_URL%%", queryEncoded(values.hardwareIdentifier));
    replaceAll(page, "%%OS_URL%%", queryEncoded(values.systemVersion));
    replaceAll(page, "%%COPYRIGHT%%", htmlEscaped(values.copyright));
    return page;
}

std::string fillLegalTemplate(std::string page, bool iPad, int systemVersion) {
    replaceAll(page, "%%IPAD_ONLY%%", iPad ? "" : kHidden);
    replaceAll(page, "%%IPHONE_ONLY%%", iPad ? kHidden : "");
    replaceAll(page, "%%BELOW_IOS14_ONLY%%", systemVersion >= 14 ? kHidden : "");
    return page;
}

foundation::Result<std::string> readTemplate(const std::string& name) {
    auto path = foundation::Bundle::main().pathForResource(name, "html");
    if (!path)
        return foundation::Error::withDescription("HXHelpPagesErrorDomain", 1,
                                                  "the bundle has no page \"" + name + ".html\"");
    auto bytes = foundation::files::readData(*path);
    if (!bytes.ok()) return bytes.error();
    std::string text(bytes.value().begin(), bytes.value().end());
    if (!foundation::isValidUtf8(text))
        return foundation::Error::withDescription("HXHelpPagesErrorDomain", 2,
                                                  "the page \"" + name + ".html\" is not UTF-8");
    return text;
}

std::string unavailablePage(const foundation::Error& error) {
    return "<html><body><p>This page is not available: " + htmlEscaped(error.localizedDescription()) +
           "</p></body></html>";
}

std::string bundleBaseURL() {
    std::string url = foundation::URL::fileURL(foundation::Bundle::main().resourcesDirectory().string()).string();
    if (!url.ends_with("/")) url += "/";
    return url;
}

std::shared_ptr<web::WebView> makePageView(std::weak_ptr<web::NavigationDelegate> delegate) {
    auto view = std::make_shared<web::WebView>(toolkit::Device::current().screen().bounds());
    view->setOpaque(false);
    view->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    view->navigationDelegate = std::move(delegate);
    return view;
}

void loadPage(web::WebView& view, const std::string& name, const std::function<std::string(std::string)>& fill) {
    auto page = readTemplate(name);
    view.loadHTMLString(page.ok() ? fill(std::move(page.value())) : unavailablePage(page.error()), bundleBaseURL());
}

void dismissFromPage(toolkit::ViewController& screen) {
    dispatch::Queue::main()->async([keep = screen.selfPtr()] {});
    screen.dismiss(false);
}

std::string helpIconBase64() {
    auto icon = graphics::imageNamed("IconLarge");
    if (!icon) return {};
    auto fitted = graphics::makeRoundedImageWithRadius(graphics::imageScaledToFitSize(icon, {57.0, 57.0}), 10.0f);
    auto png = graphics::pngRepresentation(fitted);
    return png ? foundation::base64Encode(*png) : std::string();
}

std::string bundleCopyright() {
    auto value = foundation::Bundle::main().objectForInfoDictionaryKey("NSHumanReadableCopyright");
    return value.isString() ? value.stringValue() : std::string();
}

std::string systemVersionText(int systemVersion) { return std::to_string(systemVersion) + ".0"; }

std::string deviceLine(const std::string& model, const std::string& platformName, const std::string& platformVersion,
                       const std::string& modelName) {
    return model + " (" + platformName + " " + platformVersion + ", " + modelName + ")";
}

std::string feedbackBody(const std::string& version, const std::string& deviceLine) {
    return "\n\n\n\n\n\n--\nHX Connect " + version + "\n" + deviceLine;
}

bool pageScrolls(double frameHeight, const foundation::Value& scriptResult, double laidOutHeight) {
    const double height = scriptResult.isNumber() ? scriptResult.doubleValue() : laidOutHeight;
    return frameHeight - 20.0 < height;
}

}  // namespace HXHelpPages
