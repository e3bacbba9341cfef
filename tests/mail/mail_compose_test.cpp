#include "platform/mail/mail_compose_controller.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/foundation/json.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/support/test_support.h"

namespace {

using mail::MailComposeResult;
using mail::MailComposeViewController;

struct RecordingDelegate : mail::MailComposeDelegate {
    std::vector<MailComposeResult> results;
    void mailComposeControllerDidFinish(MailComposeViewController& c, MailComposeResult r,
                                        const std::optional<foundation::Error>&) override {
        results.push_back(r);
        c.dismiss(true);
    }
};

// Reads an .eml file with python's own mail parser and prints what a mail program would see.
std::string parseWithPython(const std::filesystem::path& file) {
    std::string script = R"PY(
import email, email.policy, sys, json
m = email.message_from_binary_file(open(sys.argv[1], 'rb'), policy=email.policy.default)
out = {'to': str(m['To']), 'cc': str(m['Cc']), 'bcc': str(m['Bcc']), 'subject': str(m['Subject']),
       'keys': sorted(m.keys()), 'defects': len(m.defects)}
parts = []
for p in m.walk():
    if p.is_multipart(): continue
    payload = p.get_payload(decode=True)
    parts.append([p.get_content_type(), p.get_filename() or '', payload.decode('utf-8', 'replace') if p.get_content_maintype() == 'text' else payload.hex()])
out['parts'] = parts
print(json.dumps(out, sort_keys=True))
)PY";
    auto scriptPath = std::filesystem::path(file).replace_extension(".py");
    std::ofstream(scriptPath) << script;
    std::string output;
    int rc = hxtest::runCommand("/usr/bin/python3 " + scriptPath.string() + " " + file.string(), &output);
    EXPECT_EQ(rc, 0) << output;
    return output;
}

TEST(MailCompose, SendWritesAMessageAMailParserReadsBack) {
    if (!hxtest::haveProgram("python3")) GTEST_SKIP() << "python3 is needed as the independent reader";
    toolkit::testing::Harness harness;
    auto presenter = std::make_shared<toolkit::ViewController>();
    harness.setRoot(presenter);
    ASSERT_TRUE(MailComposeViewController::canSendMail());
    auto composer = std::make_shared<MailComposeViewController>();
    auto delegate = std::make_shared<RecordingDelegate>();
    composer->mailComposeDelegate = delegate;
    // A line break in a header value must not start a header of its own.
    composer->setToRecipients({"support@example.test", "evil@example.test\r\nBcc: spy@example.test"});
    composer->setSubject("HX Connect \xc3\xa9t\xc3\xa9\r\nX-Injected: 1");
    composer->setMessageBody("\n\n\n\n\n\n--\nHX Connect 1.0 (7)\niPhone (iOS 15, iPhone SE (2nd Generation))", false);
    composer->addAttachmentData({0, 1, 2, 255}, "application/octet-stream", "log \"1\".bin");
    presenter->present(composer, true);
    harness.settle();
    ASSERT_TRUE(harness.tapBarButton("Send"));
    harness.settle();
    ASSERT_EQ(delegate->results, std::vector<MailComposeResult>{MailComposeResult::Sent});
    EXPECT_EQ(presenter->presentedViewController(), nullptr);
    ASSERT_TRUE(composer->sentFile());
    EXPECT_EQ(composer->sentFile()->parent_path(), MailComposeViewController::outboxDirectory());

    auto parsed = foundation::parseJSON(parseWithPython(*composer->sentFile()));
    ASSERT_TRUE(parsed.ok());
    const auto& v = *parsed;
    EXPECT_EQ(v["subject"].asString(), "HX Connect \xc3\xa9t\xc3\xa9  X-Injected: 1");
    EXPECT_EQ(v["bcc"].asString(), "None");
    EXPECT_EQ(v["defects"].int64Value(-1), 0);
    EXPECT_EQ(v["keys"], foundation::Value(
                             foundation::Array{"Content-Type", "Date", "MIME-Version", "Message-ID", "Subject", "To"}));
    const auto& parts = v["parts"].asArray();
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].at(0).asString(), "text/plain");
    EXPECT_EQ(parts[0].at(2).asString(), composer->message().body);
    EXPECT_EQ(parts[1].at(1).asString(), "log \"1\".bin");
    EXPECT_EQ(parts[1].at(2).asString(), "000102ff");
}

TEST(MailCompose, CancelAndACannotSendDeviceWriteNothing) {
    toolkit::testing::Harness harness;
    auto presenter = std::make_shared<toolkit::ViewController>();
    harness.setRoot(presenter);
    std::error_code ec;
    std::filesystem::remove_all(MailComposeViewController::outboxDirectory(), ec);
    auto composer = std::make_shared<MailComposeViewController>();
    auto delegate = std::make_shared<RecordingDelegate>();
    composer->mailComposeDelegate = delegate;
    presenter->present(composer, true);
    harness.settle();
    ASSERT_TRUE(harness.tapBarButton("Cancel"));
    harness.settle();
    EXPECT_EQ(delegate->results, std::vector<MailComposeResult>{MailComposeResult::Cancelled});
    EXPECT_FALSE(composer->sentFile());

    MailComposeViewController::setCanSendMail(false);
    EXPECT_FALSE(MailComposeViewController::canSendMail());
    auto second = std::make_shared<MailComposeViewController>();
    second->mailComposeDelegate = delegate;
    second->send();
    MailComposeViewController::setCanSendMail(true);
    EXPECT_EQ(delegate->results.back(), MailComposeResult::Failed);
    EXPECT_FALSE(std::filesystem::exists(MailComposeViewController::outboxDirectory()) &&
                 !std::filesystem::is_empty(MailComposeViewController::outboxDirectory()));
}

}  // namespace
