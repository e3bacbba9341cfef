#include "platform/web/web_view.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/base64.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "platform/graphics/image.h"
#include "platform/net/url_connection.h"
#include "platform/net/url_error.h"
#include "platform/net/url_parts.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/text_metrics.h"

namespace web {

namespace {

constexpr const char* kWebViewDomain = "HXWebViewErrorDomain";
constexpr double kMargin = 8;
constexpr double kGap = 8;

std::string formEncode(const std::vector<std::pair<std::string, std::string>>& entries) {
    auto enc = [](const std::string& s) {
        std::string out;
        for (unsigned char c : s) {
            if (std::isalnum(c) || c == '*' || c == '-' || c == '.' || c == '_') {
                out += static_cast<char>(c);
            } else if (c == ' ') {
                out += '+';
            } else {
                char buf[4];
                std::snprintf(buf, sizeof buf, "%%%02X", c);
                out += buf;
            }
        }
        return out;
    };
    std::string out;
    for (auto& [k, v] : entries) {
        if (!out.empty()) out += '&';
        out += enc(k) + '=' + enc(v);
    }
    return out;
}

// The file a "file:" URL names (escapes decoded), or nothing for any other URL.
std::optional<std::filesystem::path> filePath(const std::string& url) {
    if (!url.starts_with("file://")) return std::nullopt;
    std::string rest = url.substr(7);
    if (size_t end = rest.find_first_of("?#"); end != std::string::npos) rest.resize(end);
    if (rest.empty() || rest[0] != '/') return std::nullopt;
    auto decoded = foundation::percentDecode(rest);
    if (!decoded || decoded->find('\0') != std::string::npos) return std::nullopt;
    return std::filesystem::path(*decoded);
}

// Whether path (made canonical) lies inside root (canonical).
bool isInside(const std::filesystem::path& path, const std::filesystem::path& root) {
    auto relative = path.lexically_relative(root);
    return !relative.empty() && *relative.begin() != ".." && !relative.is_absolute();
}

// The bytes of a picture a page names by a "file:" URL. Only a page that is itself part of the
// bundle's resources reads one, and only a regular file inside them (links are followed only
// as far as they stay inside), at most kMaximumImageBytes, opened without blocking: a remote
// page naming "file:///dev/zero" or a FIFO reads nothing at all.
foundation::Data bundlePictureBytes(const std::string& pageURL, const std::string& target) {
    auto page = filePath(pageURL);
    auto picture = filePath(target);
    if (!page || !picture) return {};
    std::error_code ec;
    const auto root = std::filesystem::canonical(foundation::Bundle::main().resourcesDirectory(), ec);
    if (ec) return {};
    const auto pagePath = std::filesystem::weakly_canonical(*page, ec);
    if (ec || (pagePath != root && !isInside(pagePath, root))) return {};
    const auto picturePath = std::filesystem::canonical(*picture, ec);
    if (ec || !isInside(picturePath, root)) return {};
    const int fd = ::open(picturePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return {};
    foundation::Data bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        static_cast<uint64_t>(st.st_size) <= WebView::kMaximumImageBytes) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        bytes.resize(done);
    }
    ::close(fd);
    return bytes;
}

std::string collapse(const std::string& text) {
    std::string out;
    bool space = false;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            space = !out.empty();
        } else {
            if (space) out += ' ';
            space = false;
            out += c;
        }
    }
    return out;
}

bool isTextInput(const Node& n) {
    if (n.tagName() == "textarea") return true;
    if (n.tagName() != "input") return false;
    std::string t = foundation::asciiLowercase(n.attribute("type").value_or("text"));
    return t == "text" || t == "email" || t == "password" || t == "search" || t == "tel" || t == "url" ||
           t == "number" || t.empty();
}

bool isSubmit(const Node& n) {
    if (n.tagName() == "button") return foundation::asciiLowercase(n.attribute("type").value_or("submit")) == "submit";
    return n.tagName() == "input" && (foundation::asciiLowercase(n.attribute("type").value_or("")) == "submit");
}

// Interactive or replaced content makes a block lay out its children one by one.
bool holdsControls(const Document& doc, const Node& n) {
    for (Node* e : doc.elementsIn(n)) {
        if (e == &n) continue;
        const std::string& t = e->tagName();
        if (t == "a" || t == "input" || t == "button" || t == "img" || t == "textarea" || t == "select" || t == "p" ||
            t == "div" || t == "h1" || t == "h2" || t == "h3" || t == "h4" || t == "li" || t == "form" || t == "br" ||
            t == "table" || t == "tr" || t == "ul" || t == "ol")
            return true;
    }
    return false;
}

double fontSizeFor(const std::string& tag) {
    if (tag == "h1") return 32;
    if (tag == "h2") return 24;
    if (tag == "h3") return 19;
    if (tag == "h4") return 16;
    if (tag == "small") return 13;
    return 16;
}

class FieldDelegate : public toolkit::TextFieldDelegate {
public:
    FieldDelegate(WebView* view, const Node* node) : view_(view), node_(node) {}
    bool textFieldShouldReturn(toolkit::TextField&) override {
        if (Node* form = view_->document() ? view_->document()->formOwner(*node_) : nullptr)
            view_->submitForm(*form, nullptr);
        return false;
    }

private:
    WebView* view_;
    const Node* node_;
};

}  // namespace

// One network load: the request being sent and what came back. Redirects are not followed by
// the connection: each comes back as a reply and becomes a navigation of its own.
struct WebView::Load : net::URLConnectionDelegate {
    WebView* view;
    std::shared_ptr<net::URLConnection> connection;
    net::HTTPURLResponse response;
    std::string body;
    bool tooLarge = false;

    std::optional<net::URLRequest> willSendRequest(net::URLConnection&, net::URLRequest request,
                                                   const net::HTTPURLResponse* redirectResponse) override {
        if (redirectResponse) return std::nullopt;
        return request;
    }
    void didReceiveResponse(net::URLConnection&, const net::HTTPURLResponse& r) override {
        response = r;
        view->cookieStore_->setCookiesFromResponse(r.headers, r.url);
    }
    void didReceiveData(net::URLConnection& c, const uint8_t* data, size_t size) override {
        if (body.size() + size > kMaximumPageBytes) {
            tooLarge = true;
            c.cancel();
            auto self = view->load_;
            dispatch::Queue::main()->async([self] {
                if (self && self->view && self->view->load_ == self)
                    self->view->loadFailed(foundation::Error::withDescription(
                        kWebViewDomain, 2, "the page is larger than the view takes"));
            });
            return;
        }
        body.append(reinterpret_cast<const char*>(data), size);
    }
    void didFinishLoading(net::URLConnection&) override {
        if (view && view->load_.get() == this) view->loadFinished(response, body);
    }
    void didFailWithError(net::URLConnection&, const foundation::Error& error) override {
        if (view && view->load_.get() == this) view->loadFailed(error);
    }
};

WebView::WebView(const toolkit::Rect& frame, std::shared_ptr<HTTPCookieStore> cookieStore)
    : View(frame), cookieStore_(cookieStore ? std::move(cookieStore) : HTTPCookieStore::defaultStore()) {
    scroll_ = std::make_shared<toolkit::ScrollView>(toolkit::Rect{{0, 0}, frame.size});
    scroll_->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    addSubview(scroll_);
}

WebView::~WebView() { stopLoading(); }

bool WebView::isLoading() const { return load_ != nullptr; }

void WebView::stopLoading() {
    ++navigationGeneration_;
    if (load_) {
        load_->view = nullptr;
        if (load_->connection) load_->connection->cancel();
        load_.reset();
    }
}

std::string WebView::resolve(const std::string& reference) const {
    if (reference.find(':') != std::string::npos && reference.find(':') < reference.find('/'))
        return reference;  // already absolute (tel:, mailto:, legal:, https:)
    if (auto r = net::resolveURL(url_, reference)) return *r;
    if (url_.starts_with("file://")) {
        std::filesystem::path base = url_.substr(7);
        if (!url_.ends_with("/")) base = base.parent_path();
        return "file://" + (base / reference).lexically_normal().string();
    }
    return reference;
}

void WebView::load(net::URLRequest request) { navigate(std::move(request), NavigationType::Other, false); }

void WebView::navigate(net::URLRequest request, NavigationType type, bool isRedirect) {
    uint64_t generation = ++navigationGeneration_;
    if (!isRedirect) redirectsFollowed_ = 0;
    NavigationAction action{request, type, isRedirect};
    std::weak_ptr<int> alive = alive_;
    auto decide = [this, alive, generation, request](NavigationPolicy policy) mutable {
        if (alive.expired() || generation != navigationGeneration_) return;
        if (policy == NavigationPolicy::Cancel) {
            if (load_) {
                load_->view = nullptr;
                load_.reset();
            }
            return;
        }
        startLoad(std::move(request));
    };
    if (auto d = navigationDelegate.lock())
        d->decidePolicyForNavigationAction(*this, action, decide);
    else
        decide(NavigationPolicy::Allow);
}

void WebView::startLoad(net::URLRequest request) {
    if (load_) {
        load_->view = nullptr;
        if (load_->connection) load_->connection->cancel();
    }
    url_ = request.url();
    // Only this view's store speaks for it.
    request.removeValueForHTTPHeaderField("Cookie");
    if (auto header = net::Cookie::requestHeaderValue(cookieStore_->cookiesForURL(request.url())))
        request.setValue(*header, "Cookie");
    // One byte over the page cap, so that the view's own check speaks for plain pages while an
    // encoded one is stopped while it inflates.
    request.setMaximumReplyBytes(kMaximumPageBytes + 1);
    auto load = std::make_shared<Load>();
    load->view = this;
    load_ = load;
    load->connection = net::URLConnection::create(request, load, true, transport);
}

void WebView::loadFinished(const net::HTTPURLResponse& response, const std::string& body) {
    auto finished = load_;
    load_.reset();
    int status = response.statusCode;
    auto location = response.valueForHTTPHeaderField("Location");
    if ((status == 301 || status == 302 || status == 303 || status == 307 || status == 308) && location) {
        auto target = net::resolveURL(response.url.empty() ? url_ : response.url, *location);
        if (!target) {
            loadFailed(foundation::Error::withDescription(kWebViewDomain, 3, "the redirect names no usable URL"));
            return;
        }
        // A server that keeps redirecting must not keep the view loading for ever.
        if (++redirectsFollowed_ > kMaximumRedirects) {
            loadFailed(net::urlError(net::kURLErrorHTTPTooManyRedirects, *target, "too many redirects"));
            return;
        }
        net::URLRequest next(*target);
        if (status == 307 || status == 308) {
            next = finished && finished->connection ? finished->connection->currentRequest() : next;
            next.setURL(*target);
        }
        navigate(std::move(next), NavigationType::Other, true);
        return;
    }
    auto doc = Document::parseHTML(body, response.url.empty() ? url_ : response.url);
    if (!doc) {
        loadFailed(doc.error());
        return;
    }
    showDocument(std::move(doc).value(), response.url.empty() ? url_ : response.url);
}

void WebView::loadFailed(const foundation::Error& error) {
    if (load_) {
        load_->view = nullptr;
        load_.reset();
    }
    if (auto d = navigationDelegate.lock()) d->didFailNavigation(*this, error);
}

void WebView::loadHTMLString(const std::string& html, const std::string& baseURL) {
    stopLoading();
    url_ = baseURL;
    std::weak_ptr<int> alive = alive_;
    uint64_t generation = navigationGeneration_;
    // Shown on the next turn, as a network load would be.
    dispatch::Queue::main()->async([this, alive, html, baseURL, generation] {
        if (alive.expired() || generation != navigationGeneration_) return;
        auto doc = Document::parseHTML(html, baseURL);
        if (!doc) {
            loadFailed(doc.error());
            return;
        }
        showDocument(std::move(doc).value(), baseURL);
    });
}

void WebView::showDocument(std::unique_ptr<Document> document, const std::string& url) {
    url_ = url;
    documentURL_ = url;
    engine_.reset();
    document_ = std::move(document);
    engine_ = std::make_unique<ScriptEngine>(*document_, scriptLimits);
    engine_->setHeightProvider([this](const Node& n) {
        if (&n == document_->body() || &n == document_->documentElement()) return contentHeight_;
        auto it = heights_.find(&n);
        return it == heights_.end() ? 0.0 : it->second;
    });
    laidOutGeneration_ = ~0ull;
    relayout();
    if (auto d = navigationDelegate.lock()) d->didFinishNavigation(*this);
}

void WebView::evaluateJavaScript(const std::string& script,
                                 std::function<void(foundation::Result<foundation::Value>)> completion) {
    foundation::Result<foundation::Value> result =
        engine_ ? engine_->evaluate(script)
                : foundation::Result<foundation::Value>(
                      foundation::Error::withDescription(kScriptErrorDomain, kScriptErrorEngine, "no page is loaded"));
    if (document_ && document_->generation() != laidOutGeneration_) relayout();
    if (!completion) return;
    dispatch::Queue::main()->async(
        [completion = std::move(completion), result = std::move(result)] { completion(result); });
}

void WebView::activateLink(const Node& anchor) {
    auto href = anchor.attribute("href");
    if (!href || href->empty()) return;
    navigate(net::URLRequest(resolve(*href)), NavigationType::LinkActivated, false);
}

void WebView::submitForm(const Node& form, const Node* submitter) {
    if (!document_) return;
    std::string action = resolve(form.attribute("action").value_or(url_));
    std::string method = foundation::asciiLowercase(form.attribute("method").value_or("get"));
    std::string body = formEncode(document_->formData(form, submitter));
    net::URLRequest request;
    if (method == "post") {
        request = net::URLRequest(action);
        request.setHTTPMethod("POST");
        request.setValue("application/x-www-form-urlencoded", "Content-Type");
        request.setHTTPBody(body);
    } else {
        std::string base = action.substr(0, action.find_first_of("?#"));
        request = net::URLRequest(base + "?" + body);
    }
    navigate(std::move(request), NavigationType::FormSubmitted, false);
}

void WebView::layoutSubviews() {
    View::layoutSubviews();
    if (document_ && bounds().size.width != laidOutWidth_) relayout();
}

void WebView::relayout() {
    for (auto& v : std::vector<toolkit::ViewPtr>(scroll_->subviews())) v->removeFromSuperview();
    heights_.clear();
    contentHeight_ = 0;
    if (!document_ || !document_->body()) return;
    laidOutWidth_ = bounds().size.width;
    laidOutGeneration_ = document_->generation();
    const double width = std::max(0.0, laidOutWidth_ - 2 * kMargin);
    double y = kMargin;
    const auto& measurer = toolkit::textMeasurer();
    Document& doc = *document_;

    auto addLabel = [&](const std::string& text, const std::string& tag) -> double {
        std::string t = collapse(text);
        if (t.empty()) return 0;
        auto label = std::make_shared<toolkit::Label>();
        label->setFont((tag.size() == 2 && tag[0] == 'h') ? toolkit::Font::boldSystem(fontSizeFor(tag))
                                                          : toolkit::Font::system(fontSizeFor(tag)));
        label->setNumberOfLines(0);
        label->setLineBreakMode(toolkit::LineBreakMode::wordWrap);
        label->setText(t);
        toolkit::Size size = measurer.measure(t, label->font(), width, 0, toolkit::LineBreakMode::wordWrap);
        label->setFrame({{kMargin, y}, {width, size.height}});
        scroll_->addSubview(label);
        return size.height;
    };

    std::function<void(Node&)> block = [&](Node& n) {
        if (n.kind() == Node::Kind::Text) {
            double h = addLabel(n.data(), n.parent() ? n.parent()->tagName() : "");
            if (h > 0) y += h + kGap;
            return;
        }
        if (!n.isElement() || !n.isRendered()) return;
        const std::string& tag = n.tagName();
        double top = y;
        if (isTextInput(n)) {
            auto field = std::make_shared<toolkit::TextField>(toolkit::Rect{{kMargin, y}, {width, 30}});
            field->setText(n.value());
            field->setPlaceholder(n.attribute("placeholder").value_or(""));
            field->setSecureTextEntry(foundation::asciiLowercase(n.attribute("type").value_or("")) == "password");
            field->setBorderStyle(toolkit::TextBorderStyle::RoundedRect);
            Node* node = &n;
            // The field already shows what it wrote into the page: no new layout for that.
            field->addAction(
                [this, node](toolkit::Control& c, const toolkit::Event*) {
                    node->setValue(static_cast<toolkit::TextField&>(c).text());
                    if (document_) laidOutGeneration_ = document_->generation();
                },
                toolkit::kEditingChanged);
            auto delegate = std::make_shared<FieldDelegate>(this, node);
            field->delegate = delegate;
            // The field keeps its delegate alive through an action capture.
            field->addAction([delegate](toolkit::Control&, const toolkit::Event*) {}, toolkit::kEditingDidEnd);
            field->accessibility().identifier = n.attribute("id").value_or(n.attribute("name").value_or(""));
            scroll_->addSubview(field);
            y += 30 + kGap;
        } else if (isSubmit(n) || tag == "a") {
            std::string title = collapse(tag == "input" ? n.value() : n.textContent());
            if (title.empty() && tag == "input") title = "Submit";
            auto button = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
            button->setTitle(title, toolkit::kStateNormal);
            double h = std::max(
                32.0,
                measurer.measure(title, toolkit::Font::system(16), width, 0, toolkit::LineBreakMode::wordWrap).height);
            button->setFrame({{kMargin, y}, {width, h}});
            Node* node = &n;
            button->addAction(
                [this, node](toolkit::Control&, const toolkit::Event*) {
                    if (node->tagName() == "a") {
                        activateLink(*node);
                    } else if (Node* form = document_ ? document_->formOwner(*node) : nullptr) {
                        submitForm(*form, node);
                    }
                },
                toolkit::kTouchUpInside);
            button->accessibility().identifier = n.attribute("id").value_or("");
            scroll_->addSubview(button);
            y += h + kGap;
        } else if (tag == "img") {
            double w = std::atof(n.attribute("width").value_or("0").c_str());
            double h = std::atof(n.attribute("height").value_or("0").c_str());
            graphics::ImagePtr image;
            std::string src = n.attribute("src").value_or("");
            foundation::Data bytes;
            if (src.starts_with("data:")) {
                size_t comma = src.find(',');
                if (comma != std::string::npos && src.substr(0, comma).ends_with(";base64"))
                    if (auto d = foundation::base64Decode(src.substr(comma + 1),
                                                          foundation::Base64Decoding::IgnoreUnknownCharacters))
                        bytes = *d;
            } else if (!src.empty()) {
                bytes = bundlePictureBytes(documentURL_, resolve(src));
            }
            if (!bytes.empty())
                if (auto img = graphics::Image::fromEncoded(bytes)) image = *img;
            if (image && w <= 0 && h <= 0) w = image->size().width, h = image->size().height;
            if (w > 0 && h > 0) {
                auto view = std::make_shared<toolkit::ImageView>(image);
                view->setFrame({{kMargin, y}, {std::min(w, width), h}});
                view->setContentMode(toolkit::ContentMode::ScaleToFill);
                scroll_->addSubview(view);
                y += h + kGap;
            }
        } else if (tag == "br" || tag == "select" || tag == "script" || tag == "style") {
            // Nothing to show (selects keep their values for forms).
        } else if (holdsControls(doc, n)) {
            for (Node* c : n.children()) block(*c);
        } else {
            double h = addLabel(n.textContent(), tag);
            if (h > 0) y += h + kGap;
        }
        heights_[&n] = y - top;
    };
    for (Node* c : document_->body()->children()) block(*c);
    contentHeight_ = y + kMargin;
    heights_[document_->body()] = contentHeight_;
    scroll_->setContentSize({laidOutWidth_, contentHeight_});
}

}  // namespace web
