// Arbitrary HTML parsed into a page, then every script the app evaluates on pages: nothing may
// crash, hang (each evaluation has a deadline) or grow the engine's heap past its cap.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/web/dom.h"
#include "platform/web/script_engine.h"
#include "ui/signin/login_scripts.h"

namespace {
// The sign-in panel's own scripts (the fill with a name that tries to break out of its literal),
// then the help page's height script with its spaces.
const std::string kScripts[] = {
    signin::kFormReaderScript,
    signin::hideScript(signin::elementByIdScript(signin::kSignUpLinkId)),
    signin::fillScript(signin::elementByIdScript(signin::kEmailField), "ann@example.test"),
    signin::fillScript(signin::elementByIdScript(signin::kEmailField), "o'neil\"');document.body.innerHTML='';//"),
    signin::kHideCreateAccountScript,
    signin::kPageHeightScript,
    "document.body.scrollHeight - document.body.style.marginBottom",
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto doc = web::Document::parseHTML(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!doc) return 0;
    web::ScriptLimits limits;
    limits.seconds = 0.5;
    web::ScriptEngine engine(**doc, limits);
    for (const std::string& script : kScripts) {
        (void)engine.evaluate(script);
        if (engine.peakHeapBytes() > limits.heapBytes) std::abort();
    }
    (void)(*doc)->innerHTML(*(*doc)->documentElement());
    return 0;
}
