// The web view: a toolkit view that loads a request over the network layer (or an HTML string
// with a base URL), follows redirects itself, asks its navigation delegate before every
// navigation (redirects included), keeps its cookies in its own store, lays the page out as
// blocks of toolkit views inside its scroll view and evaluates the app's scripts against the
// page. A page's own scripts never run.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/net/transport.h"
#include "platform/net/url_request.h"
#include "platform/toolkit/scroll_view.h"
#include "platform/web/cookie_store.h"
#include "platform/web/dom.h"
#include "platform/web/script_engine.h"

namespace web {

class WebView;

enum class NavigationType { LinkActivated, FormSubmitted, Other };
enum class NavigationPolicy { Cancel, Allow };

struct NavigationAction {
    net::URLRequest request;
    NavigationType type = NavigationType::Other;
    bool isRedirect = false;
};

class NavigationDelegate {
public:
    virtual ~NavigationDelegate() = default;
    // Called before every navigation; the handler may be copied and called later (once).
    virtual void decidePolicyForNavigationAction(WebView&, const NavigationAction&,
                                                 const std::function<void(NavigationPolicy)>& decisionHandler) {
        decisionHandler(NavigationPolicy::Allow);
    }
    virtual void didFinishNavigation(WebView&) {}
    virtual void didFailNavigation(WebView&, const foundation::Error&) {}
};

class WebView : public toolkit::View {
public:
    explicit WebView(const toolkit::Rect& frame, std::shared_ptr<HTTPCookieStore> cookieStore = nullptr);
    ~WebView() override;
    std::string className() const override { return "WebView"; }

    std::weak_ptr<NavigationDelegate> navigationDelegate;
    // The transport loads go over (net::Transport::shared() when none).
    std::shared_ptr<net::Transport> transport;
    ScriptLimits scriptLimits;
    static constexpr size_t kMaximumPageBytes = 8u << 20;
    // The largest "file:" picture a page from the bundle's resources may show; pages from
    // anywhere else show none.
    static constexpr size_t kMaximumImageBytes = 8u << 20;
    // Redirects one navigation may follow before it fails (as the connection layer would).
    static constexpr int kMaximumRedirects = 16;

    void load(net::URLRequest request);
    void loadHTMLString(const std::string& html, const std::string& baseURL);
    void stopLoading();
    bool isLoading() const;
    // The URL of the page shown (or being loaded).
    const std::string& url() const { return url_; }

    // Evaluates script in the page; the completion runs on the main loop, never inside this call.
    void evaluateJavaScript(const std::string& script,
                            std::function<void(foundation::Result<foundation::Value>)> completion);

    HTTPCookieStore& cookieStore() { return *cookieStore_; }
    const std::shared_ptr<HTTPCookieStore>& cookieStoreHandle() const { return cookieStore_; }
    toolkit::ScrollView& scrollView() { return *scroll_; }
    Document* document() { return document_.get(); }
    // Height of the laid-out page in points (document.body.scrollHeight).
    double contentHeight() const { return contentHeight_; }

    // What a tap on a link or a submit does (also used by the page's controls).
    void activateLink(const Node& anchor);
    void submitForm(const Node& form, const Node* submitter);

    void layoutSubviews() override;

private:
    struct Load;
    friend struct Load;
    void navigate(net::URLRequest request, NavigationType type, bool isRedirect);
    void startLoad(net::URLRequest request);
    void loadFinished(const net::HTTPURLResponse& response, const std::string& body);
    void loadFailed(const foundation::Error& error);
    void showDocument(std::unique_ptr<Document> document, const std::string& url);
    void relayout();
    std::string resolve(const std::string& reference) const;

    std::shared_ptr<HTTPCookieStore> cookieStore_;
    std::shared_ptr<toolkit::ScrollView> scroll_;
    std::unique_ptr<Document> document_;
    std::unique_ptr<ScriptEngine> engine_;
    std::shared_ptr<Load> load_;
    std::string url_;
    // The URL of the document shown; url_ already names a navigation still loading.
    std::string documentURL_;
    double contentHeight_ = 0;
    double laidOutWidth_ = -1;
    uint64_t laidOutGeneration_ = ~0ull;
    uint64_t navigationGeneration_ = 0;
    int redirectsFollowed_ = 0;
    std::map<const Node*, double> heights_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace web
