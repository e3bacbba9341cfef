// The threads a conversation is tried on: what the generator adds without moving the seed's other
// threads, the pictures the media route draws at both sizes (read by an independent reader too),
// the sizes the lists announce of them, the vCards it serves, and held downloads let go one at a
// time.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "emulator/emulator.h"
#include "emulator/playback_media.h"
#include "emulator/service_routes.h"
#include "platform/foundation/files.h"
#include "platform/foundation/strings.h"
#include "platform/graphics/image.h"
#include "platform/net/curl_transport.h"
#include "platform/services/contacts.h"
#include "tests/platform/net/poll_loop.h"
#include "tests/platform/net/recording_delegate.h"
#include "tests/support/pixels.h"
#include "tests/support/test_support.h"

namespace {

emulator::GeneratorOptions withConversations(bool on) {
    emulator::GeneratorOptions o;
    o.seed = 42;
    o.smsThreads = 6;
    o.callThreads = 2;
    o.conversationThreads = on;
    return o;
}

bool rightToLeft(const std::string& text) {
    for (char32_t cp : foundation::toCodePoints(text))
        if ((cp >= 0x590 && cp <= 0x5FF) || (cp >= 0x600 && cp <= 0x6FF)) return true;
    return false;
}

TEST(ConversationThreads, AddedAfterTheSeedsOwnThreadsWhichStayAsTheyWere) {
    const emulator::Account plain = emulator::generateAccount(withConversations(false));
    const emulator::Account rich = emulator::generateAccount(withConversations(true));
    ASSERT_EQ(rich.threads.size(), plain.threads.size() + 5);
    for (size_t i = 0; i < plain.threads.size(); ++i) {
        EXPECT_EQ(rich.threads[i].id, plain.threads[i].id);
        ASSERT_EQ(rich.threads[i].items.size(), plain.threads[i].items.size());
        for (size_t k = 0; k < plain.threads[i].items.size(); ++k)
            EXPECT_EQ(rich.threads[i].items[k].text, plain.threads[i].items[k].text);
    }
    EXPECT_TRUE(emulator::conversationThreadIds(plain).empty());
    const auto ids = emulator::conversationThreadIds(rich);
    ASSERT_EQ(ids.size(), 5u);
    std::set<std::string> distinct(ids.begin(), ids.end());
    for (const auto& t : plain.threads) EXPECT_FALSE(distinct.count(t.id)) << t.id;
    auto thread = [&](size_t k) {
        for (const auto& t : rich.threads)
            if (t.id == ids[k]) return t;
        return emulator::Thread{};
    };

    struct Size {
        size_t which;
        size_t items;
    };
    for (const Size& s : {Size{0, 1000}, Size{1, 350}}) {
        const auto t = thread(s.which);
        EXPECT_EQ(t.items.size(), s.items);
        EXPECT_TRUE(t.isText());
        // Oldest first, strictly later each.
        for (size_t i = 1; i < t.items.size(); ++i) EXPECT_GT(t.items[i].startTimeMs, t.items[i - 1].startTimeMs);
    }
    const auto rtl = thread(2);
    size_t rtlTexts = 0;
    for (const auto& m : rtl.items) rtlTexts += rightToLeft(m.text);
    EXPECT_EQ(rtlTexts, rtl.items.size() - rtl.items.size() / 3);

    std::multiset<std::string> kinds;
    for (const auto& m : thread(3).items)
        for (const auto& p : m.attachments) {
            kinds.insert(p.mimeType);
            EXPECT_TRUE(rich.media.count(p.id)) << p.id;
        }
    EXPECT_EQ(kinds,
              (std::multiset<std::string>{"image/jpeg", "image/jpeg", "image/gif", "text/x-vcard", "text/x-vcard",
                                          "text/x-vcard", "video/mp4", "audio/amr", "application/pdf"}));

    std::vector<std::string> callTypes;
    for (const auto& m : thread(4).items) callTypes.push_back(m.type);
    EXPECT_EQ(callTypes, emulator::callItemTypes());
    // The same seed makes the same set.
    EXPECT_EQ(emulator::conversationThreadIds(emulator::generateAccount(withConversations(true))), ids);
}

struct ConversationMedia : ::testing::Test {
    emulator::Emulator service{emulator::generateAccount(withConversations(true))};
    hxtest::PollLoop loop;
    std::shared_ptr<net::CurlTransport> transport = net::CurlTransport::create(loop);
    std::map<std::string, std::string> byKind;  // first attachment id per MIME type (vCards by order)
    std::vector<std::string> vcards;

    void SetUp() override {
        ASSERT_TRUE(service.start().ok());
        service.withAccount([&](emulator::Account& a) {
            const auto ids = emulator::conversationThreadIds(a);
            for (const auto& m : a.thread(ids.at(3))->items)
                for (const auto& p : m.attachments) {
                    byKind.emplace(p.mimeType, p.id);
                    if (p.mimeType == "text/x-vcard") vcards.push_back(p.id);
                }
            return 0;
        });
    }
    std::shared_ptr<hxtest::RecordingDelegate> get(const std::string& target) {
        net::URLRequest r(service.origin() + target);
        r.setValue("SID=" + service.sessionValue(), "Cookie");
        auto d = std::make_shared<hxtest::RecordingDelegate>();
        auto c = net::URLConnection::create(std::move(r), d, true, transport);
        EXPECT_TRUE(loop.runUntil([&] { return d->done; }, 20)) << target;
        return d;
    }
    std::string body(const std::string& target) {
        auto d = get(target);
        EXPECT_EQ(d->responses.at(0).statusCode, 200) << target;
        return d->body;
    }
};

TEST_F(ConversationMedia, PicturesAreRealJPEGsAndGIFsAtTheOriginalAndTheThumbnailSize) {
    struct Case {
        const char* mimeType;
        int size;
        int width, height;
        size_t frames;
    };
    const Case cases[] = {
        {"image/jpeg", 1, 1024, 768, 1},
        {"image/jpeg", 3, 512, 384, 1},
        {"image/gif", 1, 480, 360, 3},
        {"image/gif", 3, 480, 360, 3},
    };
    hxtest::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mimeType) + " s=" + std::to_string(c.size));
        const std::string id = byKind.at(c.mimeType);
        auto d = get("/a/i/" + id + "?s=" + std::to_string(c.size));
        ASSERT_EQ(d->responses.at(0).statusCode, 200);
        EXPECT_EQ(d->responses.at(0).mimeType(), c.mimeType);
        const std::string& bytes = d->body;
        auto decoded = graphics::decodeImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        ASSERT_TRUE(decoded.ok()) << "does not decode";
        EXPECT_EQ((*decoded)->width(), c.width);
        EXPECT_EQ((*decoded)->height(), c.height);
        // The same bytes again: drawn once, kept.
        EXPECT_EQ(body("/a/i/" + id + "?s=" + std::to_string(c.size)), bytes);
        // An independent reader sees the same picture.
        if (hxtest::haveProgram("/usr/bin/python3")) {
            const auto file = dir / "picture";
            ASSERT_TRUE(foundation::files::writeAtomically(file, std::string_view(bytes)).ok());
            std::string out;
            ASSERT_EQ(hxtest::runCommand("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                                         "i = Image.open(sys.argv[1]); print(i.format, i.size[0], i.size[1], "
                                         "getattr(i, 'n_frames', 1))\" " +
                                             file.string(),
                                         &out),
                      0);
            EXPECT_EQ(out, std::string(c.mimeType == std::string("image/gif") ? "GIF" : "JPEG") + " " +
                               std::to_string(c.width) + " " + std::to_string(c.height) + " " +
                               std::to_string(c.frames) + "\n");
        }
    }
    // Without a size the original comes.
    EXPECT_EQ(body("/a/i/" + byKind.at("image/jpeg")), body("/a/i/" + byKind.at("image/jpeg") + "?s=1"));
    // What is no picture is the same at every size.
    for (const char* kind : {"video/mp4", "audio/amr", "application/pdf"}) {
        const std::string id = byKind.at(kind);
        EXPECT_EQ(body("/a/i/" + id + "?s=3"), body("/a/i/" + id + "?s=1")) << kind;
    }
}

// A thread's attachments announce the sizes of the picture each shows, so that a client sizes its
// row before the picture comes: "s512" is the size of the copy the media route serves (a
// picture's thumbnail, a video's preview), "s128" the same fitted to 128 x 128. What shows no
// picture (a sound, a document, a card, a video without a preview) announces none.
TEST_F(ConversationMedia, TheListsAnnounceTheSizesOfThePictureEachAttachmentShows) {
    std::string mediaThread;
    service.withAccount([&](emulator::Account& a) {
        emulator::addPlaybackMedia(a);
        mediaThread = emulator::conversationThreadIds(a).at(3);
        // A picture a client sent: only its bytes tell its size.
        const foundation::Data png = hxtest::pngOf(800, 600, 0x336699ffu);
        a.media["sentpng"] = {"image/png", std::string(png.begin(), png.end())};
        a.thread(mediaThread)->items.back().attachments.push_back({"sentpng", "image/png"});
        return 0;
    });
    const std::string token = service.issueAccessToken();
    std::map<std::string, nlohmann::json> announced;  // attachment id -> as listed
    for (const std::string& thread : {mediaThread, std::string(emulator::kVideoThreadID)}) {
        emulator::RecordedRequest r;
        r.method = "POST";
        r.path = "/voice/v1/voiceclient/api2thread/get";
        r.target = r.path + "?alt=json";
        r.body = nlohmann::json::array({thread, 100, nullptr, {nullptr, true, true}}).dump();
        r.headers = {{"Authorization", "Bearer " + token}, {"Content-Type", "application/json+protobuf"}};
        const auto reply = emulator::routeServiceRequest(service, r);
        ASSERT_EQ(reply.status, 200) << reply.body;
        const auto listed = nlohmann::json::parse(reply.body);
        for (const auto& item : listed["thread"]["item"])
            if (item.contains("mmsMessage"))
                for (const auto& attachment : item["mmsMessage"]["attachment"])
                    announced[attachment["id"]] = attachment;
    }
    auto size = [&](const std::string& id, const char* spec) {
        for (const auto& variant : announced.at(id).value("imageMetaData", nlohmann::json::array()))
            if (variant["sizeSpec"] == spec)
                return std::make_pair(variant["width"].get<int>(), variant["height"].get<int>());
        return std::make_pair(0, 0);
    };
    struct Case {
        std::string id, served;  // the picture the row shows, as the app asks for it
        std::pair<int, int> s512, s128;
    };
    const Case cases[] = {
        {byKind.at("image/jpeg"), "/a/i/" + byKind.at("image/jpeg") + "?s=3", {512, 384}, {128, 96}},
        {byKind.at("image/gif"), "/a/i/" + byKind.at("image/gif") + "?s=3", {480, 360}, {128, 96}},
        {"sentpng", "/a/i/sentpng?s=3", {512, 384}, {128, 96}},
        {emulator::kVideoAttachmentID,
         std::string("/a/vi/") + emulator::kVideoAttachmentID + "?m=thumbnail",
         {96, 64},
         {96, 64}},
        {emulator::kMovieAttachmentID,
         std::string("/a/vi/") + emulator::kMovieAttachmentID + "?m=thumbnail",
         {96, 64},
         {96, 64}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(size(c.id, "s512"), c.s512);
        EXPECT_EQ(size(c.id, "s128"), c.s128);
        const std::string bytes = body(c.served);
        auto decoded = graphics::decodeImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        ASSERT_TRUE(decoded.ok());
        EXPECT_EQ(std::make_pair((*decoded)->width(), (*decoded)->height()), c.s512) << "not the size served";
    }
    for (const auto& id : {byKind.at("audio/amr"), byKind.at("application/pdf"), byKind.at("video/mp4"), vcards.at(0),
                           vcards.at(1), vcards.at(2)})
        EXPECT_FALSE(announced.at(id).contains("imageMetaData")) << id;
}

TEST_F(ConversationMedia, VCardsHoldAPersonWithAPhotoAnOrganisationAndThreeContacts) {
    ASSERT_EQ(vcards.size(), 3u);
    struct Case {
        size_t contacts;
        services::ContactType type;
        const char* name;
        bool photo;
    };
    const Case cases[] = {{1, services::ContactType::Person, "Ada Lovelace", true},
                          {1, services::ContactType::Organization, "Acme & Sons", false},
                          {3, services::ContactType::Person, "Ann Lee", false}};
    for (size_t i = 0; i < 3; ++i) {
        auto cards = services::readVCards(body("/a/vc/" + vcards[i]));
        ASSERT_TRUE(cards.ok()) << i;
        ASSERT_EQ(cards->size(), cases[i].contacts) << i;
        EXPECT_EQ(cards->front().contactType, cases[i].type) << i;
        EXPECT_EQ(services::ContactFormatter::fullName(cards->front()), cases[i].name) << i;
        EXPECT_EQ(cards->front().imageDataAvailable(), cases[i].photo) << i;
        if (cases[i].photo) {
            const auto& photo = *cards->front().imageData;
            auto decoded = graphics::decodeImage(photo.data(), photo.size());
            ASSERT_TRUE(decoded.ok());
            EXPECT_EQ((*decoded)->width(), 96);
        }
    }
}

TEST_F(ConversationMedia, TheDrawnPicturesAreKeptWithTheServicesState) {
    const std::string id = byKind.at("image/gif");
    const std::string original = body("/a/i/" + id + "?s=1");
    emulator::Emulator restarted;
    ASSERT_TRUE(restarted.restoreState(service.state()).ok());
    restarted.withAccount([&](emulator::Account& a) {
        EXPECT_EQ(a.media.at(id).bytes, original);
        EXPECT_EQ(a.media.at(id).width, 480);
        // A picture not drawn yet is still drawn when asked for.
        const std::string jpeg = byKind.at("image/jpeg");
        EXPECT_TRUE(a.media.at(jpeg).bytes.empty());
        EXPECT_EQ(a.media.at(jpeg).width, 1024);
        return 0;
    });
}

TEST_F(ConversationMedia, HeldDownloadsCanBeLetGoInEitherOrder) {
    const std::string first = "/a/i/" + byKind.at("image/jpeg");
    const std::string second = "/a/i/" + byKind.at("image/gif");
    service.script(first, {.hold = true, .passThrough = true});
    service.script(second, {.hold = true, .passThrough = true});
    auto send = [&](const std::string& target) {
        net::URLRequest r(service.origin() + target + "?s=1");
        r.setValue("SID=" + service.sessionValue(), "Cookie");
        auto d = std::make_shared<hxtest::RecordingDelegate>();
        return std::make_pair(d, net::URLConnection::create(std::move(r), d, true, transport));
    };
    auto [a, ca] = send(first);
    auto [b, cb] = send(second);
    ASSERT_TRUE(loop.runUntil([&] { return service.requestCount() >= 2; }, 10));
    // The later request first; the earlier one keeps waiting.
    service.releaseHeld(second);
    ASSERT_TRUE(loop.runUntil([&] { return b->done; }, 10));
    EXPECT_FALSE(a->done);
    EXPECT_EQ(b->responses.at(0).mimeType(), "image/gif");
    service.releaseHeld(first);
    ASSERT_TRUE(loop.runUntil([&] { return a->done; }, 10));
    EXPECT_EQ(a->responses.at(0).mimeType(), "image/jpeg");
    (void)ca, (void)cb;
}

}  // namespace
