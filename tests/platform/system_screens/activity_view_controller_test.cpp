// The share sheet as a conversation uses it: an item source asked for its placeholder, link
// metadata and item; "Copy" and "Save" through the harness, with what lands on the pasteboard and
// in the photo library checked (a saved picture also by python3-pil where it is installed).
#include "platform/system_screens/activity_view_controller.h"

#include <gtest/gtest.h>

#include "platform/foundation/files.h"
#include "platform/foundation/url.h"
#include "platform/graphics/codecs.h"
#include "platform/services/photos.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/testing/harness.h"
#include "tests/support/test_support.h"

using system_screens::ActivityItem;
using system_screens::ActivityViewController;

namespace {

const std::string kGIF("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x01\x00\x00\x00\x00,"
                       "\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
                       43);

foundation::Data gifData() { return foundation::Data(kGIF.begin(), kGIF.end()); }

graphics::ImagePtr jpegImage(int width, int height) {
    auto bitmap = graphics::Bitmap::make(width, height).value();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) bitmap->row(y)[x] = 0xFF2080C0;
    auto jpeg = graphics::encodeJPEG(*bitmap, 0.9).value();
    return graphics::Image::fromEncoded(jpeg).value();
}

// A source that answers one item and records what it was asked.
class Source : public system_screens::ActivityItemSource {
public:
    explicit Source(ActivityItem item, std::string title = "Image Attachment")
        : item_(std::move(item)), title_(std::move(title)) {}
    ActivityItem activityViewControllerPlaceholderItem(ActivityViewController&) override {
        asked.push_back("placeholder");
        return item_;
    }
    ActivityItem activityViewControllerItemForActivityType(ActivityViewController&, const std::string& type) override {
        asked.push_back("item " + type);
        return item_;
    }
    std::optional<system_screens::LinkMetadata> activityViewControllerLinkMetadata(ActivityViewController&) override {
        asked.push_back("metadata");
        auto image = item_.image;
        return system_screens::LinkMetadata{title_, [image] { return image; }, [image] { return image; }};
    }
    std::vector<std::string> asked;

private:
    ActivityItem item_;
    std::string title_;
};

struct Finished {
    std::string activityType;
    bool completed = false;
    std::optional<foundation::Error> error;
};

struct ShareSheet : ::testing::Test {
    hxtest::TempDir home;
    toolkit::testing::Harness h;
    std::shared_ptr<toolkit::ViewController> root = std::make_shared<toolkit::ViewController>();
    void SetUp() override {
        foundation::setHomeDirectory(home.path());
        services::PhotoLibrary::reset();
        services::PhotoLibrary::setAuthorizationStatus(services::PhotoAuthorizationStatus::Authorized);
        toolkit::Pasteboard::general().clear();
        h.setRoot(root);
    }
    void TearDown() override { services::PhotoLibrary::reset(); }
    std::shared_ptr<ActivityViewController> show(const std::shared_ptr<Source>& source, std::optional<Finished>& done) {
        auto sheet = std::make_shared<ActivityViewController>(std::vector<ActivityViewController::Entry>{{{}, source}});
        sheet->completionWithItemsHandler = [&done](const std::string& type, bool completed,
                                                    const std::optional<foundation::Error>& error) {
            EXPECT_FALSE(done) << "the completion runs once";
            done = Finished{type, completed, error};
        };
        root->present(sheet, true);
        h.advance(0.5);
        return sheet;
    }
    std::vector<std::filesystem::path> assets() {
        std::vector<std::filesystem::path> out;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(services::PhotoLibrary::assetsDirectory(), ec))
            out.push_back(e.path());
        return out;
    }
};

}  // namespace

TEST_F(ShareSheet, CopyAndSaveKeepAGIFsBytesAndTurnAPictureIntoItsPixels) {
    const auto movie = hxtest::sourceDir() / "emulator/media/video.mp4";
    const auto movieBytes = foundation::files::readData(movie).value();
    struct Case {
        const char* what;
        ActivityItem item;
        std::vector<std::string> titles;
        const char* activity;
        // What lands: the pasteboard's first type, or the saved asset's extension.
        std::string landsAs;
    };
    const Case cases[] = {
        {"GIF bytes copied", ActivityItem::ofData(gifData()), {"Copy", "Save"}, "Copy", "com.compuserve.gif"},
        {"GIF bytes saved", ActivityItem::ofData(gifData()), {"Copy", "Save"}, "Save", "gif"},
        {"a decoded JPEG copied", ActivityItem::ofImage(jpegImage(6, 4)), {"Copy", "Save"}, "Copy", "public.jpeg"},
        {"a decoded JPEG saved", ActivityItem::ofImage(jpegImage(6, 4)), {"Copy", "Save"}, "Save", "png"},
        {"a video's file URL saved",
         ActivityItem::ofURL(foundation::URL::fileURL(movie.string()).string()),
         {"Copy", "Save"},
         "Save",
         "mp4"},
        {"a video's file URL copied",
         ActivityItem::ofURL(foundation::URL::fileURL(movie.string()).string()),
         {"Copy", "Save"},
         "Copy",
         "public.url"},
        {"text copied", ActivityItem::ofText("hello"), {"Copy"}, "Copy", "public.utf8-plain-text"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::error_code ec;
        std::filesystem::remove_all(services::PhotoLibrary::assetsDirectory(), ec);
        toolkit::Pasteboard::general().clear();
        auto source = std::make_shared<Source>(c.item);
        std::optional<Finished> done;
        auto sheet = show(source, done);
        EXPECT_EQ(sheet->activityTitles(), c.titles);
        EXPECT_EQ(source->asked, (std::vector<std::string>{"placeholder", "metadata"}));
        EXPECT_NE(h.find("Image Attachment"), nullptr) << "the header shows the metadata's title";
        ASSERT_TRUE(h.chooseShareActivity(c.activity));
        ASSERT_TRUE(done);
        EXPECT_TRUE(done->completed);
        EXPECT_FALSE(done->error);
        const std::string type = std::string(c.activity) == "Copy" ? system_screens::kActivityTypeCopyToPasteboard
                                                                   : system_screens::kActivityTypeSaveToCameraRoll;
        EXPECT_EQ(done->activityType, type);
        EXPECT_EQ(source->asked.back(), "item " + type);
        EXPECT_EQ(root->presentedViewController(), nullptr) << "the sheet closed";
        if (std::string(c.activity) == "Copy") {
            ASSERT_FALSE(toolkit::Pasteboard::general().types().empty());
            EXPECT_EQ(toolkit::Pasteboard::general().types()[0], c.landsAs);
            EXPECT_TRUE(assets().empty());
            continue;
        }
        const auto saved = assets();
        ASSERT_EQ(saved.size(), 1u);
        EXPECT_EQ(saved[0].extension(), "." + c.landsAs);
        const auto bytes = foundation::files::readData(saved[0]).value();
        if (c.item.kind == ActivityItem::Kind::Data) {
            EXPECT_EQ(bytes, gifData()) << "kept as it was";
        }
        if (c.item.kind == ActivityItem::Kind::URL) {
            EXPECT_EQ(bytes, movieBytes);
        }
        if (c.item.kind == ActivityItem::Kind::Image) {
            auto header = graphics::readImageHeader(bytes.data(), bytes.size());
            ASSERT_TRUE(header.ok());
            EXPECT_EQ(header.value().format, "public.png");
            EXPECT_EQ(header.value().pixelWidth, 6);
            EXPECT_EQ(header.value().pixelHeight, 4);
            if (hxtest::runCommand("python3 -c 'import PIL'") == 0) {
                std::string out;
                ASSERT_EQ(
                    hxtest::runCommand("python3 -c 'import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                                       "print(im.format, im.size[0], im.size[1])' '" +
                                           saved[0].string() + "'",
                                       &out),
                    0);
                EXPECT_EQ(out, "PNG 6 4\n");
            }
        }
    }
}

TEST_F(ShareSheet, ACancelADeniedLibraryAndAnActivityNotOfferedAreToldApart) {
    // Text cannot be saved: "Save" is not there to pick.
    std::optional<Finished> done;
    auto text = show(std::make_shared<Source>(ActivityItem::ofText("hello")), done);
    EXPECT_FALSE(h.chooseShareActivity("Save"));
    EXPECT_FALSE(text->perform("Save"));
    EXPECT_FALSE(text->perform("Print"));
    EXPECT_FALSE(done);
    ASSERT_TRUE(text->cancel());
    h.advance(0.5);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->activityType, "");
    EXPECT_FALSE(done->completed);
    EXPECT_FALSE(text->perform("Copy")) << "a closed sheet does nothing";

    // Saving into a library the user closed fails with an error and stores nothing.
    services::PhotoLibrary::setAuthorizationStatus(services::PhotoAuthorizationStatus::Denied);
    done.reset();
    show(std::make_shared<Source>(ActivityItem::ofData(gifData())), done);
    ASSERT_TRUE(h.chooseShareActivity("Save"));
    ASSERT_TRUE(done);
    EXPECT_FALSE(done->completed);
    ASSERT_TRUE(done->error);
    EXPECT_TRUE(assets().empty());

    // A plain item (no source) shares as it is; without a source there is no header.
    services::PhotoLibrary::setAuthorizationStatus(services::PhotoAuthorizationStatus::Authorized);
    auto plain = std::make_shared<ActivityViewController>(
        std::vector<ActivityViewController::Entry>{{ActivityItem::ofData(gifData()), {}}});
    EXPECT_FALSE(plain->linkMetadata());
    root->present(plain, false);
    h.advance(0.5);
    ASSERT_TRUE(h.chooseShareActivity("Copy"));
    EXPECT_EQ(toolkit::Pasteboard::general().dataForType("com.compuserve.gif"), gifData());
}

TEST(PhotoLibrarySave, APictureIsSavedUprightAsPNGBesideStoredBytesAndAnUndecodableOneIsRefused) {
    hxtest::TempDir home;
    foundation::setHomeDirectory(home.path());
    // Stored bytes come back as they were.
    auto gif = services::PhotoLibrary::addAsset(gifData(), "com.compuserve.gif");
    ASSERT_TRUE(gif.ok());
    EXPECT_EQ(services::PhotoLibrary::imageDataForAssetURL(gif.value()).value().bytes, gifData());
    struct Case {
        const char* what;
        graphics::ImagePtr image;
        bool saved;
        int64_t width, height;
    };
    const auto picture = jpegImage(6, 4);
    const Case cases[] = {
        {"upright", picture, true, 6, 4},
        {"turned a quarter", picture->withOrientation(graphics::ImageOrientation::right), true, 4, 6},
        {"bytes that claim to be a JPEG",
         graphics::Image::fromEncoded(foundation::Data{0xFF, 0xD8, 0xFF, 0xC0, 0, 17, 8, 0, 4, 0, 6, 3})
             .valueOr(nullptr),
         false, 0, 0},
        {"no image", nullptr, false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        size_t before = 0;
        std::error_code ec;
        for ([[maybe_unused]] const auto& e :
             std::filesystem::directory_iterator(services::PhotoLibrary::assetsDirectory(), ec))
            ++before;
        auto url = services::PhotoLibrary::saveImage(c.image);
        ASSERT_EQ(url.ok(), c.saved);
        size_t after = 0;
        for ([[maybe_unused]] const auto& e :
             std::filesystem::directory_iterator(services::PhotoLibrary::assetsDirectory(), ec))
            ++after;
        EXPECT_EQ(after, before + (c.saved ? 1 : 0));
        if (!c.saved) {
            EXPECT_EQ(url.error().code, services::kPhotosUndecodableImage);
            continue;
        }
        auto asset = services::PhotoLibrary::imageDataForAssetURL(url.value());
        ASSERT_TRUE(asset.ok());
        EXPECT_EQ(asset.value().typeIdentifier, "public.png");
        auto header = graphics::readImageHeader(asset.value().bytes.data(), asset.value().bytes.size());
        ASSERT_TRUE(header.ok());
        EXPECT_EQ(header.value().pixelWidth, c.width);
        EXPECT_EQ(header.value().pixelHeight, c.height);
    }
}
