#include "platform/mail/mail_compose_controller.h"

#include <atomic>
#include <cmath>
#include <ctime>

#include "platform/clock/clock.h"
#include "platform/foundation/base64.h"
#include "platform/foundation/files.h"
#include "platform/foundation/uuid.h"
#include "platform/toolkit/bar_items.h"
#include "platform/toolkit/controls.h"

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

MailComposeViewController::MailComposeViewController()
    : NavigationController(std::make_shared<toolkit::ViewController>()) {
    auto* root = topViewController();
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
