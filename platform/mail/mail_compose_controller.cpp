#include "platform/mail/mail_compose_controller.h"

#include <atomic>
#include <cmath>
#include <ctime>

#include "platform/clock/clock.h"
#include "platform/foundation/base64.h"
#include "platform/foundation/files.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/uuid.h"
#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/text_input.h"

namespace mail {

namespace {

constexpr const char* kDomain = "HXMailComposeErrorDomain";
std::atomic<bool> gCanSendMail{true};

bool isPlainASCII(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 || c >= 0x7f) return false;
    return true;
}

// A header value as one line: any line break or control character becomes a space.
std::string oneLine(std::string_view s) {
    std::string out;
    for (unsigned char c : s) out += (c < 0x20 || c == 0x7f) ? ' ' : static_cast<char>(c);
    return out;
}

// RFC 2047 encoded words (UTF-8, base64) for text that is not plain ASCII, in pieces short
// enough for header lines.
std::string encodedText(std::string_view text) {
    std::string flat = oneLine(text);
    if (isPlainASCII(flat)) return flat;
    std::string out;
    size_t i = 0;
    while (i < flat.size()) {
        size_t n = std::min<size_t>(45, flat.size() - i);
        // Never split a UTF-8 sequence between two words.
        while (i + n < flat.size() && (static_cast<unsigned char>(flat[i + n]) & 0xC0) == 0x80) --n;
        if (n == 0) n = std::min<size_t>(45, flat.size() - i);
        if (!out.empty()) out += "\r\n ";
        out += "=?UTF-8?B?" + foundation::base64Encode(flat.substr(i, n)) + "?=";
        i += n;
    }
    return out;
}

std::string addressList(const std::vector<std::string>& addresses) {
    std::string out;
    for (const auto& a : addresses) {
        std::string flat = oneLine(a);
        if (flat.find_first_not_of(' ') == std::string::npos) continue;
        if (!out.empty()) out += ",\r\n ";
        out += flat;
    }
    return out;
}

std::string wrappedBase64(const foundation::Data& data) {
    std::string b = foundation::base64Encode(data);
    std::string out;
    for (size_t i = 0; i < b.size(); i += 76) out += b.substr(i, 76) + "\r\n";
    return out;
}

std::string rfc5322Date(double seconds) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    time_t t = static_cast<time_t>(std::floor(seconds));
    struct tm tm {};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[tm.tm_wday], tm.tm_mday,
                  kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

// A MIME parameter value in quotes, with quotes and backslashes escaped and no line breaks.
std::string quotedParameter(std::string_view s) {
    std::string out = "\"";
    for (char c : oneLine(s)) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::string readableBody(std::string_view html) {
    // Tags that open a line, tags whose content is not text, and entities.
    auto lower = [](std::string_view t) { return foundation::asciiLowercase(t); };
    std::string out;
    size_t i = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '<') {
            const size_t end = html.find('>', i);
            if (end == std::string_view::npos) break;
            std::string tag = lower(html.substr(i + 1, end - i - 1));
            if (tag.empty()) {
                i = end + 1;
                continue;
            }
            std::string name = tag.substr(tag[0] == '/' ? 1 : 0);
            name = name.substr(0, name.find_first_of(" \t\r\n/"));
            i = end + 1;
            if (tag[0] != '/' && (name == "style" || name == "script" || name == "title" || name == "head")) {
                const size_t close = lower(html).find("</" + name, i);
                i = close == std::string::npos ? html.size() : html.find('>', close) + 1;
                if (i == 0) i = html.size();
                continue;
            }
            if (name == "img") {
                out += "[picture]";
            } else if (name == "br" || name == "div" || name == "p" || name == "tr" || name == "li") {
                if (!out.empty() && out.back() != '\n') out += '\n';
            }
            continue;
        }
        if (c == '&') {
            const size_t semi = html.find(';', i);
            if (semi != std::string_view::npos && semi - i <= 8) {
                const std::string entity = lower(html.substr(i + 1, semi - i - 1));
                std::string text;
                if (entity == "amp")
                    text = "&";
                else if (entity == "lt")
                    text = "<";
                else if (entity == "gt")
                    text = ">";
                else if (entity == "quot")
                    text = "\"";
                else if (entity == "apos")
                    text = "'";
                else if (entity == "nbsp")
                    text = "\u00A0";
                else if (entity.size() > 1 && entity[0] == '#') {
                    const bool hex = entity[1] == 'x';
                    char* stop = nullptr;
                    const std::string digits = entity.substr(hex ? 2 : 1);
                    const long cp = std::strtol(digits.c_str(), &stop, hex ? 16 : 10);
                    if (!digits.empty() && stop && *stop == '\0' && cp > 0 && cp <= 0x10FFFF &&
                        !(cp >= 0xD800 && cp <= 0xDFFF))
                        foundation::appendUtf8(text, static_cast<char32_t>(cp));
                }
                if (!text.empty()) {
                    out += text;
                    i = semi + 1;
                    continue;
                }
            }
        }
        // Runs of white space in the markup read as one space.
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!out.empty() && out.back() != ' ' && out.back() != '\n') out += ' ';
            ++i;
            continue;
        }
        out += c;
        ++i;
    }
    // No blank runs of lines, no space at a line's ends.
    std::string tidy;
    for (const std::string& line : foundation::split(out, "\n")) {
        const std::string t = foundation::trim(line);
        if (t.empty()) continue;
        if (!tidy.empty()) tidy += '\n';
        tidy += t;
    }
    return tidy;
}

// The composer's sheet: what the message holds, read-only on an opaque card (the stand-in has no
// editor), under the bar with Cancel and Send.
class MailComposeViewController::Sheet : public toolkit::ViewController {
public:
    explicit Sheet(MailComposeViewController* composer) : composer_(composer) {}
    std::string className() const override { return "MailComposeSheet"; }

    void loadView() override {
        auto root = std::make_shared<toolkit::View>(toolkit::Rect(0, 0, 375, 667));
        root->setBackgroundColor(toolkit::Color::systemBackground());
        root->setOpaque(true);
        root->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
        setView(root);
        for (auto* label : {&to_, &cc_, &subject_, &attachments_}) {
            *label = std::make_shared<toolkit::Label>();
            (*label)->setFont(toolkit::Font::system(15));
            (*label)->setNumberOfLines(0);
            root->addSubview(*label);
        }
        subject_->setFont(toolkit::Font::boldSystem(17));
        attachments_->setTextColor(toolkit::Color::secondaryLabel());
        body_ = std::make_shared<toolkit::TextView>();
        body_->setEditable(false);
        body_->setFont(toolkit::Font::system(15));
        body_->setBackgroundColor(toolkit::Color::systemBackground());
        root->addSubview(body_);
    }
    void viewWillAppear(bool animated) override {
        ViewController::viewWillAppear(animated);
        fill();
    }
    void fill() {
        if (!viewIfLoaded()) return;
        const MailMessage& m = composer_->message();
        auto joined = [](const std::vector<std::string>& list) {
            std::string out;
            for (const auto& a : list) out += (out.empty() ? "" : ", ") + a;
            return out;
        };
        to_->setText("To: " + joined(m.to));
        cc_->setText(m.cc.empty() ? std::string() : "Cc: " + joined(m.cc));
        cc_->setHidden(m.cc.empty());
        subject_->setText(m.subject.empty() ? "No Subject" : m.subject);
        std::vector<std::string> names;
        for (const auto& a : m.attachments) names.push_back("\U0001F4CE " + a.fileName);
        attachments_->setText(joined(names));
        attachments_->setHidden(names.empty());
        body_->setText(m.bodyIsHTML ? readableBody(m.body) : m.body);
        view()->setNeedsLayout();
    }
    void viewDidLayoutSubviews() override {
        const toolkit::Rect b = view()->bounds();
        const toolkit::EdgeInsets safe = view()->safeAreaInsets();
        const double x = b.minX() + safe.left + 16;
        const double width = std::max(0.0, b.width() - safe.left - safe.right - 32);
        double y = b.minY() + safe.top + 12;
        for (const auto& label : {to_, cc_, subject_, attachments_}) {
            if (label->isHidden()) continue;
            const double h = std::ceil(label->sizeThatFits({width, 0}).height);
            label->setFrame(toolkit::Rect(x, y, width, h));
            y += h + 10;
        }
        body_->setFrame(toolkit::Rect(x - 4, y, width + 8, std::max(0.0, b.maxY() - safe.bottom - y)));
    }

private:
    MailComposeViewController* composer_;  // owns this sheet through its stack
    std::shared_ptr<toolkit::Label> to_, cc_, subject_, attachments_;
    std::shared_ptr<toolkit::TextView> body_;
};

std::string MailMessage::rfc822(double date, const std::string& messageID) const {
    std::string m;
    auto header = [&](const char* name, const std::string& value) {
        if (!value.empty()) m += std::string(name) + ": " + value + "\r\n";
    };
    header("To", addressList(to));
    header("Cc", addressList(cc));
    header("Bcc", addressList(bcc));
    header("Subject", encodedText(subject));
    header("Date", rfc5322Date(date));
    header("Message-ID", "<" + oneLine(messageID) + ">");
    m += "MIME-Version: 1.0\r\n";
    const std::string textType = std::string(bodyIsHTML ? "text/html" : "text/plain") + "; charset=utf-8";
    auto textPart = [&] {
        std::string p = "Content-Type: " + textType + "\r\nContent-Transfer-Encoding: base64\r\n\r\n";
        return p + wrappedBase64(foundation::Data(body.begin(), body.end()));
    };
    if (attachments.empty()) return m + textPart();
    const std::string boundary = "hx-" + foundation::UUID::random().string();
    m += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    m += "--" + boundary + "\r\n" + textPart();
    for (const auto& a : attachments) {
        std::string type = oneLine(a.mimeType.empty() ? "application/octet-stream" : a.mimeType);
        m += "--" + boundary + "\r\n";
        m += "Content-Type: " + type + "; name=" + quotedParameter(a.fileName) + "\r\n";
        m += "Content-Disposition: attachment; filename=" + quotedParameter(a.fileName) + "\r\n";
        m += "Content-Transfer-Encoding: base64\r\n\r\n" + wrappedBase64(a.data);
    }
    m += "--" + boundary + "--\r\n";
    return m;
}

MailComposeViewController::MailComposeViewController() {
    setViewControllers({std::make_shared<Sheet>(this)}, false);
    auto* root = topViewController();
    root->setTitle("New Message");
    root->navigationItem().setLeftBarButtonItem(toolkit::BarButtonItem::withSystemItem(
        toolkit::SystemItem::Cancel, [this](toolkit::BarButtonItem&) { cancel(); }));
    root->navigationItem().setRightBarButtonItem(toolkit::BarButtonItem::withTitle(
        "Send", toolkit::BarButtonStyle::Done, [this](toolkit::BarButtonItem&) { send(); }));
}

bool MailComposeViewController::canSendMail() { return gCanSendMail.load(); }
void MailComposeViewController::setCanSendMail(bool can) { gCanSendMail.store(can); }

std::filesystem::path MailComposeViewController::outboxDirectory() { return foundation::libraryDirectory() / "Outbox"; }

void MailComposeViewController::send() {
    if (finished_) return;
    if (!canSendMail()) {
        finish(MailComposeResult::Failed, foundation::Error::withDescription(kDomain, 1, "no mail account"));
        return;
    }
    double now = clocks::wallNow();
    std::string id = foundation::globallyUniqueString();
    std::error_code ec;
    std::filesystem::create_directories(outboxDirectory(), ec);
    auto path = outboxDirectory() / (foundation::safePathComponent(id) + ".eml");
    auto st = foundation::files::writeAtomically(path, message_.rfc822(now, id + "@hxconnect.invalid"));
    if (!st) {
        finish(MailComposeResult::Failed, st.error());
        return;
    }
    sentFile_ = path;
    finish(MailComposeResult::Sent, std::nullopt);
}

void MailComposeViewController::cancel() {
    if (!finished_) finish(MailComposeResult::Cancelled, std::nullopt);
}

void MailComposeViewController::finish(MailComposeResult result, const std::optional<foundation::Error>& error) {
    finished_ = true;
    if (auto d = mailComposeDelegate.lock()) d->mailComposeControllerDidFinish(*this, result, error);
}

}  // namespace mail
