// The program and its emulator as `./hx run` starts them, on a home an earlier version's run left
// (tests/app/kept_home: its preferences, keychain and the emulator's state, from before the
// service knew a second account, held playable media or the conversation threads, or the device
// held contacts and pictures).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "platform/foundation/base64.h"
#include "platform/foundation/files.h"
#include "platform/foundation/property_list.h"
#include "platform/services/audio_player.h"
#include "platform/services/contacts.h"
#include "tests/support/test_support.h"

namespace {

const std::filesystem::path kKept = std::filesystem::path(HX_SOURCE_DIR) / "tests/app/kept_home";
const std::filesystem::path kProgram = std::filesystem::path(HX_BINARY_DIR) / "app/hx_connect";
const std::filesystem::path kEmulator = std::filesystem::path(HX_BINARY_DIR) / "emulator/hx_emulator";

// The emulator's options as ./hx run reads them (emulator/run_options), quoted for the shell.
std::string runEmulatorOptions() {
    std::ifstream list(std::filesystem::path(HX_SOURCE_DIR) / "emulator/run_options");
    std::string options, line;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        for (std::string word; words >> word;) options += " '" + word + "'";
    }
    return options;
}

// Runs the emulator with the options ./hx run gives it and the program headless against it, typing
// `user` should a sign-in be asked for; the emulator is stopped afterwards (and writes its state).
int runOnce(const std::filesystem::path& home, const std::string& user, std::string* printed) {
    hxtest::TempDir out;
    const std::string emulator = "'" + kEmulator.string() + "'" + runEmulatorOptions() + " --state '" +
                                 (home / "emulator-state.json").string() + "'";
    const std::string script = "exec 3< <(exec " + emulator +
                               "); emu=$!; read -r -t 20 origin <&3; read -r -t 20 ingestion <&3; "
                               "HXCONNECT_HOME='" +
                               home.string() + "' '" + kProgram.string() +
                               "' --headless --seconds 30 --service \"$origin\" --ingestion \"$ingestion\" --user '" +
                               user + "' --out '" + out.path().string() +
                               "' 2>&1; rc=$?; kill -TERM $emu; wait $emu; exit $rc";
    std::ofstream(out.path() / "run.sh") << script;
    return hxtest::runCommand("bash '" + (out.path() / "run.sh").string() + "'", printed);
}

TEST(RunHome,
     AKeptHomeGetsContactsPicturesTheSecondAccountPlayableVoicemailAndConversationThreadsWithoutSigningInAgain) {
    hxtest::TempDir home;
    std::filesystem::create_directories(home / "Library/Preferences");
    std::filesystem::create_directories(home / "Library/Keychains");
    for (const char* name : {"hx_connect.plist", "hxconnect.plist"})
        std::filesystem::copy_file(kKept / name, home / "Library/Preferences" / name);
    std::filesystem::copy_file(kKept / "keychain.json", home / "Library/Keychains/keychain.json");
    ASSERT_EQ(hxtest::runCommand("gzip -dc '" + (kKept / "emulator-state.json.gz").string() + "' > '" +
                                 (home / "emulator-state.json").string() + "'"),
              0);

    // A name the service does not know: had the run asked for a sign-in, typing it would fail the
    // run. The kept session holds, twice over.
    for (int run = 0; run < 2; ++run) {
        std::string printed;
        ASSERT_EQ(runOnce(home.path(), "nobody@example.test", &printed), 0) << "run " << run << "\n" << printed;
        EXPECT_EQ(printed.find("Warning -- bundle"), std::string::npos) << printed;
    }
    // The telemetry SDK's file takes its new name and keeps the install it had.
    const auto preferences = home / "Library/Preferences";
    EXPECT_FALSE(std::filesystem::exists(preferences / "hxconnect.plist"));
    auto sdk = foundation::files::readData(preferences / "hx_connect.RurIdurev.plist");
    ASSERT_TRUE(sdk.ok());
    auto sdkValues = foundation::readPropertyList(*sdk);
    ASSERT_TRUE(sdkValues.ok() && sdkValues->isDictionary());
    EXPECT_EQ(sdkValues->asDictionary().get(foundation::Key("ZVRurIdurevInstallId")).asString(),
              "95B694B2-53A8-407E-B20D-1D96E5378272");

    auto cards = foundation::files::readString(home / "Library/Contacts/contacts.vcf");
    ASSERT_TRUE(cards.ok());
    auto contacts = services::readVCards(*cards);
    ASSERT_TRUE(contacts.ok());
    ASSERT_EQ(contacts->size(), 5u);
    size_t withPictures = 0, withAddresses = 0;
    for (const auto& c : *contacts) {
        EXPECT_FALSE(c.phoneNumbers.empty()) << c.givenName;
        withPictures += c.imageDataAvailable();
        withAddresses += !c.postalAddresses.empty();
    }
    EXPECT_EQ(withPictures, 5u);
    EXPECT_GE(withAddresses, 1u);
    size_t pictures = 0;
    for (const auto& entry : std::filesystem::directory_iterator(home / "Library/Photos"))
        pictures += entry.path().extension() == ".jpeg";
    EXPECT_EQ(pictures, 6u) << "added once, not again on the second run";

    auto state = foundation::files::readString(home / "emulator-state.json");
    ASSERT_TRUE(state.ok());
    const auto document = nlohmann::json::parse(*state);
    EXPECT_EQ(document["account"]["username"], "user@example.test");
    ASSERT_EQ(document["otherAccounts"].size(), 1u);
    EXPECT_EQ(document["otherAccounts"][0]["username"], "work@example.test");
    // Every voicemail of the kept account decodes as a sound of about 65 seconds.
    size_t voicemails = 0;
    for (const auto& thread : document["account"]["threads"])
        for (const auto& item : thread["items"]) {
            if (item["type"] != "voicemail") continue;
            ++voicemails;
            const auto& media = document["account"]["media"][thread["id"].get<std::string>()];
            EXPECT_EQ(media["mimeType"], "audio/mpeg");
            auto bytes = foundation::base64Decode(media["bytes"].get<std::string>());
            ASSERT_TRUE(bytes);
            auto player = services::AudioPlayer::withData(*bytes);
            ASSERT_TRUE(player->prepareToPlay());
            EXPECT_NEAR(player->duration(), 65, 1);
        }
    EXPECT_GT(voicemails, 0u);
    // The threads a conversation is tried on joined the kept account, once: the long thread pages
    // back, the attachments' thread holds every kind.
    std::map<std::string, size_t> conversationThreads;
    for (const auto& thread : document["account"]["threads"]) {
        const auto id = thread["id"].get<std::string>();
        if (id.find(".conv.") != std::string::npos) conversationThreads[id.substr(id.rfind('.') + 1)] += 1;
        if (id.find(".conv.long") != std::string::npos) {
            EXPECT_EQ(thread["items"].size(), 1000u);
        }
    }
    EXPECT_EQ(conversationThreads,
              (std::map<std::string, size_t>{{"long", 1}, {"350", 1}, {"rtl", 1}, {"media", 1}, {"calls", 1}}));
}

}  // namespace
