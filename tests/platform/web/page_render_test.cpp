// The page as the screen shows it: laid out as toolkit views, rendered through the toolkit's
// renderer with real fonts, and checked by pixels and by the outline.
#include <gtest/gtest.h>

#include <array>

#include "platform/foundation/base64.h"
#include "platform/graphics/bitmap.h"
#include "platform/graphics/codecs.h"
#include "platform/toolkit/font_text_measurer.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/testing/harness.h"
#include "platform/web/web_view.h"
#include "tests/support/goldens.h"
#include "tests/support/test_support.h"

namespace {

std::string redSquareDataURL() {
    auto bitmap = graphics::Bitmap::make(10, 10).value();
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) bitmap->setRGBA(x, y, 255, 0, 0, 255);
    auto png = graphics::encodePNG(*bitmap).value();
    return "data:image/png;base64," + foundation::base64Encode(png);
}

TEST(PageRender, BlocksImagesAndHiddenElementsRenderAsLaidOut) {
    toolkit::testing::Harness harness;
    hxtest::UsingFonts fonts;
    auto controller = std::make_shared<toolkit::ViewController>();
    harness.setRoot(controller);
    auto view =
        std::make_shared<web::WebView>(controller->view()->bounds(), std::make_shared<web::MemoryCookieStore>());
    view->setBackgroundColor(toolkit::Color::white(1));
    controller->view()->addSubview(view);
    std::string html = "<body><h1>HX Connect</h1><p>Version 1.0 for testing, a paragraph long enough to wrap "
                       "onto a second line at this width.</p><img width=40 height=20 src='" +
                       redSquareDataURL() +
                       "'><img width=30 height=30 src='missing.png'>"
                       "<div style='display:none'><p>hidden words</p></div>"
                       "<form><input name=q placeholder='Search'><input type=submit value=Go></form>"
                       "<a href='legal:'>Legal</a></body>";
    view->loadHTMLString(html, "file:///nonexistent/bundle/");
    harness.settle();

    EXPECT_EQ(harness.find("hidden words"), nullptr);
    std::vector<toolkit::View*> images;
    for (auto& v : view->scrollView().subviews())
        if (v->className() == "ImageView") images.push_back(v.get());
    ASSERT_EQ(images.size(), 2u);
    toolkit::Rect imageFrame = images[0]->frame();
    EXPECT_EQ(imageFrame.size.width, 40);
    EXPECT_EQ(imageFrame.size.height, 20);
    EXPECT_EQ(images[1]->frame().size.height, 30);  // an unreadable picture keeps its box

    auto pixels = toolkit::snapshot(*view, 1);
    ASSERT_TRUE(pixels);
    toolkit::Rect inView = images[0]->convertRectTo(images[0]->bounds(), view.get());
    auto red = pixels->rgbaAt(static_cast<int>(inView.midX()), static_cast<int>(inView.midY()));
    EXPECT_EQ(red, (std::array<uint8_t, 4>{255, 0, 0, 255}));
    hxtest::expectSnapshot(*pixels, "page_blocks");
    hxtest::expectOutline(harness, "page_blocks");
}

}  // namespace
