// Arbitrary pages laid out by the web view at a width the input picks: the page's height and
// every block's frame are finite and not negative, and laying the same page out again at the
// same width gives the same height. No request leaves the
// process (pictures go to a transport that answers nothing).
// Layout: byte 0 picks the width (40 to 1060 points), the rest is the page.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>

#include "platform/dispatch/run_loop.h"
#include "platform/net/event_loop.h"
#include "platform/net/scripted_transport.h"
#include "platform/web/web_view.h"

namespace {

bool finite(const toolkit::Rect& r) {
    return std::isfinite(r.origin.x) && std::isfinite(r.origin.y) && std::isfinite(r.size.width) &&
           std::isfinite(r.size.height) && r.size.width >= 0 && r.size.height >= 0;
}

void check(const toolkit::View& view) {
    for (const auto& sub : view.subviews()) {
        if (!finite(sub->frame())) std::abort();
        check(*sub);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static auto transport = [] {
        auto t = net::ScriptedTransport::create(net::EventLoop::main());
        t->setHandler([](const net::URLRequest&) { return net::ScriptedTransport::Reply::withStatus(404); });
        return t;
    }();
    const double width = 40 + data[0] * 4;
    const std::string html(reinterpret_cast<const char*>(data + 1), size - 1);
    auto view = std::make_shared<web::WebView>(toolkit::Rect(0, 0, width, 600));
    view->transport = transport;
    view->scriptLimits.seconds = 0.2;
    view->loadHTMLString(html, "https://service.test/page");
    for (int turn = 0; turn < 1000 && !view->document(); ++turn) dispatch::RunLoop::main().runOnce(0);
    if (!view->document()) return 0;  // a page the parser refuses is not laid out
    view->layoutSubviews();
    const double height = view->contentHeight();
    if (!std::isfinite(height) || height < 0) std::abort();
    check(view->scrollView());
    // Narrower and back: the same page at the same width has the same height.
    view->setFrame(toolkit::Rect(0, 0, width / 2, 600));
    view->layoutSubviews();
    if (!std::isfinite(view->contentHeight())) std::abort();
    view->setFrame(toolkit::Rect(0, 0, width, 600));
    view->layoutSubviews();
    if (view->contentHeight() != height) std::abort();
    view->stopLoading();
    for (int turn = 0; turn < 10; ++turn) dispatch::RunLoop::main().runOnce(0);
    return 0;
}
