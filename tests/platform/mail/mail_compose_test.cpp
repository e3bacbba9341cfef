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

TEST(MailCompose, AnHTMLBodyReadsAsItsText) {
    struct Case {
        std::string html, text;
    } cases[] = {
        {"<html><head><style>.msg { color: red }</style><title>T</title></head><body>Hi</body></html>", "Hi"},
        {"<div class='msg_in'><div class='msg_text'>one<br />two</div></div><div>three</div>", "one\ntwo\nthree"},
        {"a &amp; b &lt;c&gt; &#37;&#37; &#x263A; &quot;q&quot;", "a & b <c> %% \u263A \"q\""},
        {"<img src='data:image/png;base64,AAAA' style='max-width:426px' />", "[picture]"},
        {"  spread \n\n  out  ", "spread out"},
        {"&bogus; &#xD800; &#99999999; & alone", "&bogus; &#xD800; &#99999999; & alone"},
        {"<unclosed", ""},
        {"<>x<", "x"},
        {"<script>if (a < b) alert(1)</script>after", "after"},
    };
    for (const auto& c : cases) EXPECT_EQ(mail::readableBody(c.html), c.text) << c.html;
}

TEST(MailCompose, TheSheetShowsTheMessageReadOnlyOnAnOpaqueCard) {
    toolkit::testing::Harness harness;
    auto presenter = std::make_shared<toolkit::ViewController>();
    harness.setRoot(presenter);
    auto composer = std::make_shared<MailComposeViewController>();
    composer->setToRecipients({"ann@example.test", "bo@example.test"});
    composer->setSubject("SMS Conversation with Ann");
    composer->setMessageBody("<div>Hello <b>there</b></div><div>See you</div>", true);
    composer->addAttachmentData(foundation::Data{1, 2, 3}, "audio/mpeg3", "Audio.mp3");
    composer->addAttachmentData(foundation::Data{4}, "text/x-vcard", "Contact Card.vcf");
    presenter->present(composer, true);
    harness.advance(1);
    EXPECT_NE(harness.find("To: ann@example.test, bo@example.test"), nullptr) << harness.outline();
    EXPECT_NE(harness.find("SMS Conversation with Ann"), nullptr) << harness.outline();
    EXPECT_NE(harness.find("\U0001F4CE Audio.mp3, \U0001F4CE Contact Card.vcf"), nullptr) << harness.outline();
    EXPECT_EQ(harness.find("Cc: "), nullptr) << "no Cc line without Cc recipients";
    auto views = harness.findAll("TextView");
    ASSERT_EQ(views.size(), 1u) << harness.outline();
    auto* body = dynamic_cast<toolkit::TextView*>(views.front());
    ASSERT_TRUE(body);
    EXPECT_EQ(body->text(), "Hello there\nSee you");
    EXPECT_FALSE(body->isEditable());
    ASSERT_TRUE(composer->sheet()->view()->backgroundColor());
    EXPECT_EQ(composer->sheet()->view()->backgroundColor()->alpha(), 1.0);
    // Every field sits on the card, inside the screen, none over another.
    const auto card = composer->sheet()->view()->convertRectTo(composer->sheet()->view()->bounds(), nullptr);
    std::vector<toolkit::Rect> frames;
    for (auto* text : {harness.find("SMS Conversation with Ann"), static_cast<toolkit::View*>(body)}) {
        const auto frame = text->convertRectTo(text->bounds(), nullptr);
        EXPECT_TRUE(card.contains(frame)) << frame.minY();
        EXPECT_GT(frame.height(), 0);
        frames.push_back(frame);
    }
    EXPECT_LE(frames[0].maxY(), frames[1].minY());
}

}  // namespace
