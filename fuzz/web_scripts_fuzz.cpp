// Arbitrary HTML parsed into a page, then every script the app evaluates on pages: nothing may
// crash, hang (each evaluation has a deadline) or grow the engine's heap past its cap.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/web/dom.h"
#include "platform/web/script_engine.h"

namespace {
const char* const kScripts[] = {
    "var object={};(new FormData(document.getElementsByTagName('form')[0])).forEach(function(value, "
    "key){object[key]=value;});object;",
    "document.getElementById('link-signup').style.display='none'",
    "document.getElementById('Email').value='ann@example.test'",
    "document.querySelectorAll('span').forEach(function(element){if(element.innerHTML=='Create "
    "account'){element.style.display='none';}});",
    // The page height: the sign-in popover's form, and the help page's (which decides whether
    // the help scrolls).
    "document.body.scrollHeight-document.body.style.marginBottom",
    "document.body.scrollHeight - document.body.style.marginBottom",
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto doc = web::Document::parseHTML(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!doc) return 0;
    web::ScriptLimits limits;
    limits.seconds = 0.5;
    web::ScriptEngine engine(**doc, limits);
    for (const char* script : kScripts) {
        (void)engine.evaluate(script);
        if (engine.peakHeapBytes() > limits.heapBytes) std::abort();
    }
    (void)(*doc)->innerHTML(*(*doc)->documentElement());
    return 0;
}
