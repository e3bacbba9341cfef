// The app in its desktop window, end to end under a virtual display (xvfb-run): against the
// local emulator it signs in through the sign-in page, selects the SMS view with a click on its
// tab, takes one screenshot read back from the window, is closed and exits 0; the screenshot
// equals the headless run's picture of the same view within the snapshot tolerance.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "emulator/emulator.h"
#include "emulator/ingestion_service.h"
#include "platform/foundation/files.h"
#include "platform/graphics/codecs.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/renderer.h"
#include "platform/toolkit/traits.h"
#include "tests/support/goldens.h"
#include "tests/support/test_support.h"

namespace {

const std::filesystem::path program = std::filesystem::path(HX_BINARY_DIR) / "app/hx_connect";

// Every launch is bounded: the app waits at most --seconds for the service, the shell at most this.
std::string bounded(const std::filesystem::path& home, const std::string& args) {
    return "HXCONNECT_HOME='" + home.string() + "' timeout 90 '" + program.string() + "' --seconds 30 " + args;
}

TEST(WindowProgram, SignedInTheSmsTabsScreenshotMatchesTheHeadlessPicture) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "needs a display: ctest runs it under xvfb-run";
    ASSERT_TRUE(std::filesystem::exists(program)) << program;
    emulator::Emulator service;
    ASSERT_TRUE(service.start().ok());
    emulator::IngestionService ingestion;
    const std::string origins = "--service " + service.origin() + " --ingestion " + ingestion.baseURL();
    hxtest::TempDir headlessHome, windowHome, headlessOut, windowOut;

    // --headless wins over the display this test has (a window would wait to be closed).
    std::string printed;
    ASSERT_EQ(hxtest::runCommand(bounded(headlessHome.path(),
                                         "--headless " + origins + " --out '" + headlessOut.path().string() + "'"),
                                 &printed),
              0)
        << printed;

    // The tab bar's five items share the phone's width along its bottom edge.
    const auto phone = toolkit::ScreenProfile::iPhone8();
    const double x = phone.size.width / 5 * 1.5, y = phone.size.height - toolkit::TabBar::kHeight / 2;
    const auto input = windowOut / "input.txt";
    // Signed in through the page with the script the headless run plays (the same demo account),
    // then the view pictured once its list shows the account's newest text ("Hi!") and the row its
    // first page's reply adds (a list asks for that page a moment after it appears), and the app is
    // settled, as the headless run pictures it.
    std::ofstream(input)
        << "wait-for Email\nclick-on Email\ntype user@example.test\nclick-on Next\n"
           "wait-gone Email\nwait-idle\nclick "
        << x << " " << y
        << "\nwait-for Hi!\nwait-for Load older messages…\nwait-idle\nwait-frames 6\npress-key F6\nclose\n";
    printed.clear();
    const int rc = hxtest::runCommand(bounded(windowHome.path(), origins + " --out '" + windowOut.path().string() +
                                                                     "' --input '" + input.string() + "'"),
                                      &printed);
    ASSERT_EQ(rc, 0) << printed;
    const auto screenshot = windowOut / "screenshot-1.png";
    EXPECT_EQ(printed, screenshot.string() + "\n");

    // The account signed in and the tab the click chose are what the app stored when it was closed.
    if (hxtest::haveProgram("/usr/bin/python3")) {
        std::string stored;
        ASSERT_EQ(
            hxtest::runCommand("/usr/bin/python3 -c \"import glob, plistlib, sys; "
                               "print(sorted((k, v) for f in glob.glob(sys.argv[1] + '/Library/Preferences/*.plist') "
                               "for k, v in plistlib.load(open(f, 'rb')).items() if k in ('username', "
                               "'tabBarIndex')))\" '" +
                                   windowHome.path().string() + "'",
                               &stored),
            0);
        EXPECT_EQ(stored, "[('tabBarIndex', 1), ('username', 'user@example.test')]\n");
    }

    auto bytes = foundation::files::readData(screenshot);
    ASSERT_TRUE(bytes.ok()) << screenshot;
    auto shown = graphics::decodePNG(bytes->data(), bytes->size());
    ASSERT_TRUE(shown.ok());
    auto headlessBytes = foundation::files::readData(headlessOut / "1-sms.png");
    ASSERT_TRUE(headlessBytes.ok());
    auto headless = graphics::decodePNG(headlessBytes->data(), headlessBytes->size());
    ASSERT_TRUE(headless.ok());
    // The status bar's clock may have turned a minute between the two runs: the pictures are
    // compared below it.
    const int top = static_cast<int>(phone.statusBarHeight * phone.scale);
    auto below = [top](const graphics::Bitmap& b) {
        auto out = graphics::Bitmap::make(b.width(), std::max(1, b.height() - top)).value();
        for (int y = 0; y + top < b.height(); ++y) std::copy_n(b.row(y + top), b.width(), out->row(y));
        return out;
    };
    auto headlessPNG = graphics::encodePNG(*below(**headless));
    ASSERT_TRUE(headlessPNG.ok());
    const auto reference = windowOut / "headless-below-status-bar.png";
    ASSERT_TRUE(foundation::files::writeAtomically(reference, *headlessPNG).ok());
    const auto comparison = toolkit::compareWithGolden(*below(**shown), reference, hxtest::failureFolder());
    if (!comparison.matches) {
        // Both pictures stay beside the difference for whoever looks into it.
        std::filesystem::copy_file(screenshot, hxtest::failureFolder() / "window.png",
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::copy_file(headlessOut / "1-sms.png", hxtest::failureFolder() / "headless.png",
                                   std::filesystem::copy_options::overwrite_existing);
    }
    EXPECT_TRUE(comparison.matches) << comparison.message;
}

}  // namespace
