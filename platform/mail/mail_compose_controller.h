// The mail composer stand-in: a navigation screen with Cancel and Send over a sheet that shows
// the message read-only (recipients, subject, attachments' names, body) that, on Send, writes the
// composed message as one RFC 5322 file (".eml") into the app home's outbox and tells its
// delegate. Whether the device "can send mail" is a switch of the stand-in (on by default), so
// screens can be tested on a device without a mail account.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/toolkit/graphics_types.h"
#include "platform/toolkit/navigation_controller.h"

namespace mail {

enum class MailComposeResult { Cancelled, Saved, Sent, Failed };

class MailComposeViewController;

class MailComposeDelegate {
public:
    virtual ~MailComposeDelegate() = default;
    virtual void mailComposeControllerDidFinish(MailComposeViewController& controller, MailComposeResult result,
                                                const std::optional<foundation::Error>& error) = 0;
};

struct MailAttachment {
    foundation::Data data;
    std::string mimeType;
    std::string fileName;
};

// The message a composer holds, and its text as an RFC 5322 / MIME message.
struct MailMessage {
    std::vector<std::string> to, cc, bcc;
    std::string subject;
    std::string body;
    bool bodyIsHTML = false;
    std::vector<MailAttachment> attachments;

    // CRLF line ends; header values that are not plain ASCII are encoded words; line breaks in
    // addresses, subjects or names can never start a header of their own.
    std::string rfc822(double date, const std::string& messageID) const;
};

// An HTML body as a reader sees its text: line breaks where blocks and breaks are, pictures as
// "[picture]", styles and scripts left out, entities decoded, no blank lines.
std::string readableBody(std::string_view html);

class MailComposeViewController : public toolkit::NavigationController {
public:
    MailComposeViewController();
    std::string className() const override { return "MailComposeViewController"; }

    static bool canSendMail();
    static void setCanSendMail(bool can);
    // Where sent messages go: Library/Outbox under the app home.
    static std::filesystem::path outboxDirectory();

    std::weak_ptr<MailComposeDelegate> mailComposeDelegate;
    void setToRecipients(std::vector<std::string> to) { message_.to = std::move(to); }
    void setCcRecipients(std::vector<std::string> cc) { message_.cc = std::move(cc); }
    void setBccRecipients(std::vector<std::string> bcc) { message_.bcc = std::move(bcc); }
    void setSubject(std::string subject) { message_.subject = std::move(subject); }
    void setMessageBody(std::string body, bool isHTML) {
        message_.body = std::move(body);
        message_.bodyIsHTML = isHTML;
    }
    void addAttachmentData(foundation::Data data, std::string mimeType, std::string fileName) {
        message_.attachments.push_back({std::move(data), std::move(mimeType), std::move(fileName)});
    }
    const MailMessage& message() const { return message_; }
    std::optional<toolkit::Color> barTintColor;

    // What the bar's buttons do: Send writes the message (Failed with the error when it cannot),
    // Cancel discards it; either way the delegate hears once.
    void send();
    void cancel();
    // The file the last Send wrote.
    const std::optional<std::filesystem::path>& sentFile() const { return sentFile_; }

    // The sheet the composer shows: the recipients, the subject, the attachments' names and the
    // body (an HTML body as its text), read-only.
    toolkit::ViewController* sheet() { return topViewController(); }

private:
    class Sheet;
    void finish(MailComposeResult result, const std::optional<foundation::Error>& error);
    MailMessage message_;
    std::optional<std::filesystem::path> sentFile_;
    bool finished_ = false;
};

}  // namespace mail
