// Played input: what a script may say, the errors it gets, and the window-system events each step
// becomes.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/window/errors.h"
#include "platform/window/input_script.h"
#include "platform/window/sdl_library.h"

namespace {

using windowing::InputStep;

bool sdlMapped() {
    void* handle = ::dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_NOLOAD);
    if (handle) ::dlclose(handle);
    return handle != nullptr;
}

// A run without a window (the headless app, the tests) never loads SDL and what it brings along:
// a script without key names does not either; the first key name does. In a fresh process, so
// that no other test has loaded it before.
TEST(InputScriptDeathTest, OnlyAKeyNameOrAWindowLoadsTheWindowLibrary) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const bool atStart = sdlMapped();
            auto plain = windowing::parseInputScript("click 1 2\ntype abc\nwait-idle\nclose\n");
            const bool afterPlain = sdlMapped();
            auto keyed = windowing::parseInputScript("press-key F6\n");
            const bool ok = !atStart && plain.ok() && !afterPlain && keyed.ok() && sdlMapped() &&
                            keyed->at(0).key == SDLK_F6 && windowing::sdlLibrary().ok();
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(InputScript, ReadsEachKindOfStep) {
    auto steps = windowing::parseInputScript("# a comment\n"
                                             "click 112 642.5\r\n"
                                             "\n"
                                             "  press 10 20\n"
                                             "release 30 -4\n"
                                             "scroll 0 -3\n"
                                             "press-key F6\n"
                                             "press-key ctrl+shift+a\n"
                                             "press-key +\n"
                                             "type  two  spaces \n"
                                             "wait-frames 3\n"
                                             "close\n"
                                             "click-on Sign in\n"
                                             "wait-for Email\n"
                                             "wait-gone  Next\n"
                                             "wait-idle\n");
    ASSERT_TRUE(steps.ok()) << steps.error().localizedDescription();
    ASSERT_EQ(steps->size(), 14u);
    const auto& s = *steps;
    EXPECT_EQ(s[0].kind, InputStep::Click);
    EXPECT_EQ(s[0].point.x, 112);
    EXPECT_EQ(s[0].point.y, 642.5);
    EXPECT_EQ(s[1].kind, InputStep::Press);
    EXPECT_EQ(s[2].kind, InputStep::Release);
    EXPECT_EQ(s[2].point.y, -4);
    EXPECT_EQ(s[3].kind, InputStep::Wheel);
    EXPECT_EQ(s[3].point.y, -3);
    EXPECT_EQ(s[4].kind, InputStep::Key);
    EXPECT_EQ(s[4].key, SDLK_F6);
    EXPECT_EQ(s[4].modifiers, KMOD_NONE);
    EXPECT_EQ(s[5].key, SDLK_a);
    EXPECT_EQ(s[5].modifiers, KMOD_LCTRL | KMOD_LSHIFT);
    EXPECT_EQ(s[6].key, SDLK_PLUS);
    EXPECT_EQ(s[7].kind, InputStep::Text);
    EXPECT_EQ(s[7].text, " two  spaces ");
    EXPECT_EQ(s[8].kind, InputStep::Frames);
    EXPECT_EQ(s[8].frames, 3);
    EXPECT_EQ(s[9].kind, InputStep::Close);
    EXPECT_EQ(s[10].kind, InputStep::ClickOn);
    EXPECT_EQ(s[10].text, "Sign in");
    EXPECT_EQ(s[11].kind, InputStep::WaitFor);
    EXPECT_EQ(s[11].text, "Email");
    EXPECT_EQ(s[12].kind, InputStep::WaitGone);
    EXPECT_EQ(s[12].text, " Next");
    EXPECT_EQ(s[13].kind, InputStep::WaitIdle);
    // Lines are counted with the blank and comment lines, for error messages.
    EXPECT_EQ(s[0].line, 2);
    EXPECT_EQ(s[13].line, 16);
}

TEST(InputScript, RefusesWhatItCannotPlayNamingTheLine) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"click 1", "line 1: \"click\" takes two numbers"},
        {"close\nclick 1 2 3", "line 2: \"click\" takes two numbers"},
        {"click 1 x", "line 1: \"click\" takes two numbers"},
        {"click 1e9 0", "line 1: \"click\" takes two numbers"},
        {"scroll nan 0", "line 1: \"scroll\" takes two numbers"},
        {"press 1 2)", "line 1: \"press\" takes two numbers"},
        {"press-key", "line 1: \"press-key\" takes one key name, optionally after ctrl+, cmd+, alt+ or shift+"},
        {"press-key NoSuchKey",
         "line 1: \"press-key\" takes one key name, optionally after ctrl+, cmd+, alt+ or shift+"},
        {"press-key super+a", "line 1: \"press-key\" takes one key name, optionally after ctrl+, cmd+, alt+ or shift+"},
        {"press-key ctrl+", "line 1: \"press-key\" takes one key name, optionally after ctrl+, cmd+, alt+ or shift+"},
        {"\n\ntype", "line 3: \"type\" needs something to type"},
        {"wait-frames 0", "line 1: \"wait-frames\" takes a whole number from 1 to 600"},
        {"wait-frames 601", "line 1: \"wait-frames\" takes a whole number from 1 to 600"},
        {"wait-frames 1.5", "line 1: \"wait-frames\" takes a whole number from 1 to 600"},
        {"close now", "line 1: \"close\" takes nothing"},
        {"wait-idle 3", "line 1: \"wait-idle\" takes nothing"},
        {"click-on", "line 1: \"click-on\" needs a label"},
        {"wait-for ", "line 1: \"wait-for\" needs a label"},
        {"wait-gone", "line 1: \"wait-gone\" needs a label"},
        {"tap 1 2", "line 1: unknown step \"tap\""},
    };
    for (const auto& [script, message] : cases) {
        auto steps = windowing::parseInputScript(script);
        ASSERT_FALSE(steps.ok()) << script;
        EXPECT_EQ(steps.error().domain, windowing::kWindowErrorDomain);
        EXPECT_EQ(steps.error().code, windowing::kWindowScriptError);
        EXPECT_EQ(steps.error().localizedDescription(), message) << script;
    }
    auto empty = windowing::parseInputScript("# nothing\n\n");
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty->empty());
}

TEST(InputScript, PointerStepsBecomeButtonEventsAtWindowCoordinates) {
    toolkit::Point last{1, 1};
    InputStep click{.kind = InputStep::Click, .point = {112.5, 642}};
    auto events = windowing::eventsForStep(click, 2, 7, last);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, SDL_MOUSEBUTTONDOWN);
    EXPECT_EQ(events[1].type, SDL_MOUSEBUTTONUP);
    for (const auto& e : events) {
        EXPECT_EQ(e.button.windowID, 7u);
        EXPECT_EQ(e.button.button, SDL_BUTTON_LEFT);
        EXPECT_EQ(e.button.x, 225);
        EXPECT_EQ(e.button.y, 1284);
    }
    EXPECT_EQ(events[0].button.state, SDL_PRESSED);
    EXPECT_EQ(events[1].button.state, SDL_RELEASED);
    EXPECT_EQ(last.x, 112.5);

    // A release elsewhere moves the finger there first; the wheel turns where the pointer rests.
    InputStep press{.kind = InputStep::Press, .point = {10, 10}};
    ASSERT_EQ(windowing::eventsForStep(press, 0.5, 7, last).size(), 1u);
    InputStep release{.kind = InputStep::Release, .point = {10, 50}};
    events = windowing::eventsForStep(release, 0.5, 7, last);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, SDL_MOUSEMOTION);
    EXPECT_EQ(events[0].motion.state, SDL_BUTTON_LMASK);
    EXPECT_EQ(events[0].motion.y, 25);
    EXPECT_EQ(events[0].motion.yrel, 20);
    EXPECT_EQ(events[1].type, SDL_MOUSEBUTTONUP);
    InputStep wheel{.kind = InputStep::Wheel, .point = {0, -2}};
    events = windowing::eventsForStep(wheel, 0.5, 7, last);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, SDL_MOUSEWHEEL);
    EXPECT_EQ(events[0].wheel.y, -2);
    EXPECT_EQ(events[0].wheel.preciseY, -2.0f);
    EXPECT_EQ(events[0].wheel.mouseX, 5);
    EXPECT_EQ(events[0].wheel.mouseY, 25);
}

TEST(InputScript, KeysPressAndReleaseAndLongTextComesInWholeCharacters) {
    toolkit::Point last;
    InputStep key{.kind = InputStep::Key, .key = SDLK_F6, .modifiers = KMOD_LCTRL};
    auto events = windowing::eventsForStep(key, 1, 3, last);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, SDL_KEYDOWN);
    EXPECT_EQ(events[1].type, SDL_KEYUP);
    EXPECT_EQ(events[0].key.keysym.sym, SDLK_F6);
    EXPECT_EQ(events[0].key.keysym.mod, KMOD_LCTRL);

    // 25 two-byte and 10 four-byte characters: no event may split one.
    std::string text;
    for (int i = 0; i < 25; ++i) text += "\xC3\xA9";
    for (int i = 0; i < 10; ++i) text += "\xF0\x9F\x98\x80";
    InputStep typed{.kind = InputStep::Text, .text = text};
    events = windowing::eventsForStep(typed, 1, 3, last);
    ASSERT_GE(events.size(), 3u);
    std::string joined;
    for (const auto& e : events) {
        EXPECT_EQ(e.type, SDL_TEXTINPUT);
        const std::string part = e.text.text;
        EXPECT_LT(part.size(), size_t(SDL_TEXTINPUTEVENT_TEXT_SIZE));
        ASSERT_FALSE(part.empty());
        EXPECT_NE(static_cast<unsigned char>(part[0]) & 0xC0, 0x80) << "a chunk starts inside a character";
        joined += part;
    }
    EXPECT_EQ(joined, text);

    InputStep close{.kind = InputStep::Close};
    events = windowing::eventsForStep(close, 1, 3, last);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, SDL_QUIT);
    for (auto kind : {InputStep::Frames, InputStep::WaitFor, InputStep::WaitGone, InputStep::WaitIdle}) {
        InputStep quiet{.kind = kind, .text = "x", .frames = 2};
        EXPECT_TRUE(windowing::eventsForStep(quiet, 1, 3, last).empty()) << kind;
    }
}

}  // namespace
