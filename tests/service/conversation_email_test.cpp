// The conversation as an e-mail, read back the way a mail program would: the composer writes the
// .eml, python3's `email` package takes it apart and its `html.parser` reads the page, so the
// checks stand on an independent reader of MIME and HTML rather than on our own writer.
#include <gtest/gtest.h>

#include <fstream>

#include "model/cache.h"
#include "model/message_store.h"
#include "model/phone_extensions.h"
#include "platform/foundation/base64.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/files.h"
#include "platform/foundation/json.h"
#include "platform/foundation/strings.h"
#include "platform/graphics/screen_scale.h"
#include "platform/mail/mail_compose_controller.h"
#include "service/conversation_email.h"
#include "service/conversation_operations.h"
#include "tests/service/web_fixture.h"

namespace {

using foundation::Value;

// Prints what a mail reader sees: subject, the HTML part (raw), its text and tags as an HTML
// parser reads them, and each attachment with its bytes.
const char* kReader = R"PY(
import sys, json, base64
from email import policy
from email.parser import BytesParser
from html.parser import HTMLParser

class Page(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.tags, self.text = [], []
    def handle_starttag(self, tag, attrs):
        self.tags.append({"tag": tag, "attrs": {k: (v or "") for k, v in attrs}})
    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)
    def handle_data(self, data):
        self.text.append(data)

msg = BytesParser(policy=policy.default).parse(open(sys.argv[1], "rb"))
out = {"subject": str(msg["subject"]), "attachments": [], "html": ""}
for part in msg.walk():
    if part.is_multipart():
        continue
    if part.get_content_disposition() == "attachment":
        out["attachments"].append({"name": part.get_filename(), "type": part.get_content_type(),
                                   "data": base64.b64encode(part.get_payload(decode=True)).decode()})
    elif part.get_content_type() == "text/html":
        out["html"] = part.get_content()
page = Page()
page.feed(out["html"])
page.close()
out["tags"] = page.tags
out["text"] = "".join(page.text)
print(json.dumps(out))
)PY";

struct Email : hxtest::WebFixture {
    hxtest::TempDir cacheRoot;
    void SetUp() override {
        startService();
        ASSERT_TRUE(app->resetPersistentStore().ok());
        HXWebClientOf(*app).cachesDirectory = (cacheRoot / "Caches").string();
        HXWebClientOf(*app).objectCache = HXCCache::create(std::string("EmailTest"), cacheRoot.path());
        mail::MailComposeViewController::setCanSendMail(true);
    }
    store::ManagedObjectPtr conversation(const std::string& id, int64_t type) {
        auto c = app->managedObjectContext()->insertNewObject(HXMessageStore::kConversationEntity).value();
        (void)c->setValue("conversationID", id);
        (void)c->setValue("type", type);
        (void)c->setValue("lastdate", foundation::Date{1'760'000'000.0});
        return c;
    }
    store::ManagedObjectPtr message(const store::ManagedObjectPtr& c, const std::string& id, int64_t number,
                                    bool outgoing, const std::string& text, foundation::Array attachments = {}) {
        auto m = app->managedObjectContext()->insertNewObject(HXMessageStore::kMessageEntity).value();
        (void)m->setValue("id", id);
        (void)m->setValue("number", number);
        (void)m->setValue("from", outgoing);
        (void)m->setValue("message", text);
        (void)m->setValue("date", "");
        (void)m->setValue("attachments", Value(std::move(attachments)));
        (void)m->setObject("Conversation", c);
        return m;
    }
    static Value attachment(const std::string& id, const std::string& mime) {
        return Value(foundation::Dictionary{{"id", Value(id)}, {"mimeType", Value(mime)}});
    }
    // The session's cookie, as the fixture's sign-in left it.
    void startCookies() {
        auto cookie = net::Cookie::parseSetCookie("SID=" + service->sessionValue() + "; Path=/",
                                                  service->origin() + "/", dispatch::wallNow());
        ASSERT_TRUE(cookie.ok());
        app->setCookieJar(std::make_shared<CustomCookieJar>(std::vector<net::Cookie>{cookie.value()}));
    }
    void mediaFile(const std::string& id, const std::string& mime, const std::string& bytes) {
        const std::string path = app->localURLForMedia(id, mime);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        ASSERT_TRUE(foundation::files::writeAtomically(path, std::string_view(bytes)).ok());
    }
    // Sends the composer's mail and reads the .eml back with python3.
    foundation::Dictionary sentMail() {
        auto composer = app->mailComposer();
        EXPECT_TRUE(composer);
        if (!composer) return {};
        composer->send();
        EXPECT_TRUE(composer->sentFile());
        if (!composer->sentFile()) return {};
        EXPECT_FALSE(app->mailComposer()) << "a finished composer is let go";
        hxtest::TempDir dir;
        std::ofstream(dir / "read.py") << kReader;
        std::string out;
        EXPECT_EQ(
            hxtest::runCommand("python3 " + (dir / "read.py").string() + " " + composer->sentFile()->string(), &out),
            0);
        auto parsed = foundation::parseJSON(out);
        EXPECT_TRUE(parsed.ok()) << out;
        return parsed.ok() ? parsed.value().asDictionary() : foundation::Dictionary();
    }
    static std::vector<std::string> attachmentNames(const foundation::Dictionary& mail) {
        std::vector<std::string> names;
        for (const Value& a : mail.get("attachments").asArray()) names.push_back(a["name"].stringValue());
        return names;
    }
    static std::string attachmentData(const foundation::Dictionary& mail, const std::string& name) {
        for (const Value& a : mail.get("attachments").asArray())
            if (a["name"].stringValue() == name) {
                auto bytes = foundation::base64Decode(a["data"].stringValue());
                return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
            }
        return "(missing)";
    }
    static std::vector<Value> tags(const foundation::Dictionary& mail, const std::string& name) {
        std::vector<Value> found;
        for (const Value& t : mail.get("tags").asArray())
            if (t["tag"].stringValue() == name) found.push_back(t);
        return found;
    }
    static size_t count(const std::string& haystack, const std::string& needle) {
        size_t n = 0;
        for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
        return n;
    }
};

}  // namespace

TEST(HTMLEscaping, EveryCharacterThatCouldStartMarkup) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain text", "plain text"},
        {"<b>&amp;</b>", "&lt;b&gt;&amp;amp;&lt;/b&gt;"},
        {"say \"hi\" it's", "say &quot;hi&quot; it&#39;s"},
        {"caf\u00e9 \U0001F600", "caf\u00e9 \U0001F600"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(foundation::htmlEscaped(in), out) << in;
}

TEST_F(Email, ATextConversationBecomesAPageWithItsFilesAndMarkupStaysText) {
    const std::string hostile = "<img src=x onerror=alert(1)>\n<a href='http://evil.test'>click</a>";
    auto c = conversation("t1", 10);
    (void)c->setValue("phoneNumber", "+15550100199");
    (void)c->setValue("formattedNumber", "(555) 010-0199");
    (void)c->setValue("sender", "Bob");
    (void)c->setValue("ABName", "Bob <b>& \"Co\"</b>");
    (void)c->setValue("note", "first line\nsecond %%MSGS%% <i>x</i>");
    const std::string picture = std::string("\x89PNG\r\n\x1a\n", 8) + "picture bytes";
    HXWebClientOf(*app).objectCache->setObject(
        HXCCachedObject::withData(foundation::Data(picture.begin(), picture.end())), "img1");
    mediaFile("au1", "audio/mpeg", "first audio");
    mediaFile("au2", "audio/mpeg", "second audio");
    mediaFile("vc1", "text/x-vcard", "BEGIN:VCARD\r\nEND:VCARD\r\n");
    // Stored out of order: the page follows the messages' times.
    message(c, "m3", 1'760'000'300'000, false, "", {attachment("img2", "image/jpeg")});
    message(c, "m1", 1'760'000'100'000, false, hostile,
            {attachment("img1", "image/png"), attachment("au1", "audio/mpeg"), attachment("vi1", "video/mp4"),
             attachment("au2", "audio/mpeg"), attachment("vc1", "text/x-vcard")});
    message(c, "m2", 1'760'000'200'000, true, "See you & bye");
    ASSERT_TRUE(app->managedObjectContext()->save().ok());

    HXConversationOperations::of(app)->createEmailForConversationWithID("t1");
    EXPECT_EQ(app->shell().count("presentMailController"), 1u);
    EXPECT_TRUE(alerts().empty());
    auto mail = sentMail();
    ASSERT_FALSE(mail.empty());
    EXPECT_EQ(mail.get("subject").stringValue(), "SMS Conversation with Bob <b>& \"Co\"</b>");
    // Files in the order cards, videos, audio; the second of a kind numbered.
    EXPECT_EQ(attachmentNames(mail), (std::vector<std::string>{"Contact Card.vcf", "Audio.mp3", "Audio-1.mp3"}));
    EXPECT_EQ(attachmentData(mail, "Audio.mp3"), "first audio");
    EXPECT_EQ(attachmentData(mail, "Audio-1.mp3"), "second audio");
    for (const Value& a : mail.get("attachments").asArray())
        EXPECT_EQ(a["type"].stringValue(),
                  a["name"].stringValue() == "Contact Card.vcf" ? "text/x-vcard" : "audio/mpeg3");

    const std::string html = mail.get("html").stringValue();
    const std::string text = mail.get("text").stringValue();
    // The page's own pictures: the icon, and the one inline picture with its bytes.
    auto images = tags(mail, "img");
    ASSERT_EQ(images.size(), 2u) << html;
    EXPECT_EQ(images[1]["attrs"]["src"].stringValue(),
              "data:image/png;base64," + foundation::base64Encode(std::string_view(picture)));
    EXPECT_EQ(images[1]["attrs"]["style"].stringValue(), "max-width:426px");
    auto icon = foundation::base64Decode(images[0]["attrs"]["src"].stringValue().substr(22));
    ASSERT_TRUE(icon);
    ASSERT_GE(icon->size(), 4u);
    EXPECT_EQ(std::string(icon->begin(), icon->begin() + 4), "\x89PNG");
    // Markup from the message, the name and the note is text: no link, no form, no extra tag.
    EXPECT_TRUE(tags(mail, "a").empty());
    EXPECT_TRUE(tags(mail, "b").empty());
    EXPECT_TRUE(tags(mail, "i").empty());
    EXPECT_NE(text.find("<img src=x onerror=alert(1)>"), std::string::npos) << text;
    EXPECT_NE(text.find("<a href='http://evil.test'>click</a>"), std::string::npos);
    EXPECT_NE(text.find("Bob <b>& \"Co\"</b>"), std::string::npos);
    EXPECT_NE(text.find("See you & bye"), std::string::npos);
    // The note keeps its break and cannot reach a placeholder.
    EXPECT_NE(html.find("first line<br />second &#37;&#37;MSGS&#37;&#37; &lt;i&gt;x&lt;/i&gt;"), std::string::npos);
    EXPECT_EQ(count(html, "%%"), 0u);
    // Labels of the files, in the messages' order; missing files and pictures say what they were.
    const size_t a1 = text.find("[Audio.mp3]"), video = text.find("[VIDEO]"), a2 = text.find("[Audio-1.mp3]"),
                 card = text.find("[Contact Card.vcf]"), missing = text.find("[Unsupported Attachment]\n(image/jpeg)");
    EXPECT_TRUE(a1 < video && video < a2 && a2 < card && card < missing) << text;
    EXPECT_LT(text.find("See you & bye"), missing);
    // Bubbles: the incoming blocks (text and five attachments of m1, one of m3) and one outgoing.
    size_t in = 0, out = 0;
    for (const Value& d : tags(mail, "div")) {
        in += d["attrs"]["class"].stringValue() == "msg_in";
        out += d["attrs"]["class"].stringValue() == "msg_out";
    }
    EXPECT_EQ(in, 7u);
    EXPECT_EQ(out, 1u);
    const int s = static_cast<int>(graphics::mainScreenScale());
    EXPECT_NE(html.find(") " + std::to_string(16 * s) + " " + std::to_string(15 * s) + " " + std::to_string(15 * s) +
                        " " + std::to_string(23 * s) + " fill"),
              std::string::npos)
        << "incoming bubble slices at the screen scale";
}

TEST_F(Email, AGroupListsItsMembersAndSignedOutUndatedMessagesHaveNoDate) {
    auto c = conversation("g1", 11);
    (void)c->setValue("sender", "Group Message");
    (void)c->setValue("ABName", "Ann & Ben");
    (void)c->setValue("phoneNumber", "+15550100|+15550101");
    message(c, "m1", 1'760'000'100'000, false, "hello", {});
    auto m2 = message(c, "m2", 1'760'000'200'000, false, "dated", {});
    (void)m2->setValue("date", "Yesterday <3");
    for (const auto& m : c->objects("Messages"))
        if (m->value("id").stringValue() == "m1") (void)m->setValue("senderName", "Ann <3");
    ASSERT_TRUE(app->managedObjectContext()->save().ok());

    HXConversationOperations::of(app)->createEmailForConversationWithID("g1");
    auto mail = sentMail();
    const std::string html = mail.get("html").stringValue();
    EXPECT_EQ(mail.get("subject").stringValue(), "SMS Conversation with Ann & Ben");
    const std::string first = PhoneExtensions::formattedPhoneNumberFromString("+15550100");
    const std::string second = PhoneExtensions::formattedPhoneNumberFromString("+15550101");
    EXPECT_NE(html.find("Ann &amp; Ben<br /><span style='font-weight:normal'>" + foundation::htmlEscaped(first) +
                        "<br /> " + foundation::htmlEscaped(second) + "</span>"),
              std::string::npos)
        << html;
    foundation::DateFormatter formatter;
    formatter.setDateStyle(foundation::DateFormatter::Style::Short);
    formatter.setTimeStyle(foundation::DateFormatter::Style::Short);
    const std::string time = foundation::htmlEscaped(formatter.string(foundation::Date{1'760'000'100.0}));
    EXPECT_NE(html.find("<div class='date'>" + time + "<br />Ann &lt;3</div>"), std::string::npos) << html;
    EXPECT_NE(html.find("<div class='date'>Yesterday &lt;3</div>"), std::string::npos);

    // Signed out, only the message with a stored date keeps its line.
    app->account()->setAuthV2(std::nullopt);
    HXConversationOperations::of(app)->createEmailForConversationWithID("g1");
    mail = sentMail();
    EXPECT_EQ(count(mail.get("html").stringValue(), "<div class='date'>"), 1u);

    // Without a mail account nothing is composed.
    mail::MailComposeViewController::setCanSendMail(false);
    HXConversationOperations::of(app)->createEmailForConversationWithID("g1");
    EXPECT_FALSE(app->mailComposer());
    EXPECT_EQ(app->shell().count("presentMailController"), 2u);
}

TEST_F(Email, AVoicemailWithoutItsAudioAsksToDownloadItFirst) {
    const std::string audio = "ID3 voicemail audio";
    service->withAccount([&](emulator::Account& a) {
        a.media["vm1"] = {"audio/mpeg", audio};
        return 0;
    });
    for (const char* id : {"vm1", "vm2"}) {
        auto c = conversation(id, 2);
        (void)c->setValue("formattedNumber", "(555) 010-0142");
        (void)c->setValue("sender", "+1 555-010-0142");
        message(c, std::string(id) + "m", 1'760'000'100'000, false, "Call me back <now>");
    }
    ASSERT_TRUE(app->managedObjectContext()->save().ok());

    // Ignore: the mail goes without the audio.
    HXConversationOperations::of(app)->createEmailForConversationWithID("vm1");
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0].title, "Missing Audio");
    ASSERT_EQ(alerts()[0].actions.size(), 2u);
    EXPECT_EQ(alerts()[0].actions[0].title, "Download");
    EXPECT_EQ(alerts()[0].actions[1].style, HXAlertAction::Style::Cancel);
    EXPECT_FALSE(app->mailComposer());
    press("Ignore");
    ASSERT_TRUE(runUntil([&] { return app->mailComposer() != nullptr; }));
    auto mail = sentMail();
    EXPECT_EQ(mail.get("subject").stringValue(), "Voicemail Message from (555) 010-0142");
    EXPECT_TRUE(attachmentNames(mail).empty());
    EXPECT_NE(mail.get("text").stringValue().find("Call me back <now>"), std::string::npos);
    EXPECT_TRUE(tags(mail, "now").empty());

    // Download: fetched with the session's cookie, kept, and attached.
    HXConversationOperations::of(app)->createEmailForConversationWithID("vm1");
    press("Download");
    ASSERT_TRUE(runUntil([&] { return app->mailComposer() != nullptr; }));
    auto fetches = requestsTo("/a/v/vm1");
    ASSERT_EQ(fetches.size(), 1u);
    EXPECT_NE(fetches[0].header("Cookie").value_or("").find("SID="), std::string::npos);
    EXPECT_EQ(fetches[0].header("Referer").value_or(""), service->origin() + "/voice/");
    mail = sentMail();
    EXPECT_EQ(attachmentNames(mail), std::vector<std::string>{"Audio.mp3"});
    EXPECT_EQ(attachmentData(mail, "Audio.mp3"), audio);

    // Now that it is here, nothing is asked.
    const size_t asks = alerts().size();
    HXConversationOperations::of(app)->createEmailForConversationWithID("vm1");
    EXPECT_EQ(alerts().size(), asks);
    EXPECT_EQ(attachmentNames(sentMail()), std::vector<std::string>{"Audio.mp3"});

    // Without the session's cookies nothing can be fetched: the mail still comes, without audio.
    app->setCookieJar(std::make_shared<CustomCookieJar>());
    HXConversationOperations::of(app)->createEmailForConversationWithID("vm2");
    press("Download");
    ASSERT_TRUE(runUntil([&] { return app->mailComposer() != nullptr; }));
    EXPECT_TRUE(attachmentNames(sentMail()).empty());
    EXPECT_TRUE(requestsTo("/a/v/vm2").empty());
    startCookies();

    // The service has no audio for this one: its error page is neither kept nor mailed.
    HXConversationOperations::of(app)->createEmailForConversationWithID("vm2");
    press("Download");
    ASSERT_TRUE(runUntil([&] { return app->mailComposer() != nullptr; }));
    EXPECT_TRUE(attachmentNames(sentMail()).empty());
    EXPECT_FALSE(foundation::files::exists(app->localURLForMedia("vm2", "audio/")));
}
