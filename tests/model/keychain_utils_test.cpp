#include "model/keychain_utils.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/security/keychain.h"
#include "tests/support/test_support.h"

namespace {

class HXCKeychainUtilsTest : public ::testing::Test {
protected:
    void SetUp() override { security::Keychain::setDefaultPath(dir_ / "keychain.json"); }
    void TearDown() override {
        security::Keychain::defaultKeychain()->setInteractionNotAllowed(false);
        security::Keychain::setDefaultPath({});
    }
    static security::KeychainMatch stored(const std::string& service, const std::string& account) {
        auto query = security::KeychainQuery::item(service, account);
        query.returnAttributes = true;
        query.returnData = true;
        security::KeychainMatch match;
        EXPECT_EQ(security::Keychain::defaultKeychain()->copyMatching(query, &match), security::errSecSuccess);
        return match;
    }
    hxtest::TempDir dir_;
};

TEST_F(HXCKeychainUtilsTest, MissingItemsAndMissingArguments) {
    std::optional<foundation::Error> error = foundation::Error("stale", 1);
    EXPECT_FALSE(HXCKeychainUtils::getPasswordForUsername("ann", "HXC_AuthV2", &error));
    EXPECT_FALSE(error) << "a missing item is not an error";

    EXPECT_FALSE(HXCKeychainUtils::deleteItemForUsername("ann", "HXC_AuthV2", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "HXCKeychainUtilsErrorDomain");
    EXPECT_EQ(error->code, -25300);
    EXPECT_TRUE(error->userInfo.empty());

    EXPECT_FALSE(HXCKeychainUtils::getPasswordForUsername(std::nullopt, "HXC_AuthV2", &error));
    EXPECT_EQ(error->code, -2000);
    EXPECT_FALSE(HXCKeychainUtils::storeUsername("ann", std::nullopt, "HXC_AuthV2", true, &error));
    EXPECT_EQ(error->code, -2000);
    EXPECT_FALSE(HXCKeychainUtils::deleteItemForUsername("ann", std::nullopt, &error));
    EXPECT_EQ(error->code, -2000);
    // Without an error out, failures are silent.
    EXPECT_FALSE(HXCKeychainUtils::deleteItemForUsername("ann", "HXC_AuthV2", nullptr));
}

TEST_F(HXCKeychainUtilsTest, StoreWritesTheItemTheWayTheAppReadsIt) {
    std::optional<foundation::Error> error;
    ASSERT_TRUE(HXCKeychainUtils::storeUsername("ann", "s3cr\xC3\xA9t", "HXC_AuthV2", true, &error));
    EXPECT_FALSE(error);
    auto item = stored("HXC_AuthV2", "ann");
    EXPECT_EQ(item.label, "HXC_AuthV2");
    EXPECT_EQ(item.accessibility, security::Accessibility::AfterFirstUnlock);
    EXPECT_EQ(HXCKeychainUtils::getPasswordForUsername("ann", "HXC_AuthV2", &error), "s3cr\xC3\xA9t");

    // The same value again: success without a write; updateExisting NO keeps the old value.
    EXPECT_TRUE(HXCKeychainUtils::storeUsername("ann", "s3cr\xC3\xA9t", "HXC_AuthV2", true, &error));
    EXPECT_TRUE(HXCKeychainUtils::storeUsername("ann", "other", "HXC_AuthV2", false, &error));
    EXPECT_EQ(HXCKeychainUtils::getPasswordForUsername("ann", "HXC_AuthV2", nullptr), "s3cr\xC3\xA9t");
    EXPECT_TRUE(HXCKeychainUtils::storeUsername("ann", "other", "HXC_AuthV2", true, &error));
    EXPECT_EQ(HXCKeychainUtils::getPasswordForUsername("ann", "HXC_AuthV2", nullptr), "other");
    // Items of other accounts and services stay apart.
    EXPECT_FALSE(HXCKeychainUtils::getPasswordForUsername("bob", "HXC_AuthV2", nullptr));
    EXPECT_FALSE(HXCKeychainUtils::getPasswordForUsername("ann", "HXC_OAuthDict", nullptr));
    EXPECT_TRUE(HXCKeychainUtils::deleteItemForUsername("ann", "HXC_AuthV2", &error));
    EXPECT_FALSE(HXCKeychainUtils::getPasswordForUsername("ann", "HXC_AuthV2", nullptr));
}

TEST_F(HXCKeychainUtilsTest, ReadingMovesAnItemToAfterFirstUnlock) {
    security::KeychainItem item;
    item.service = "service";
    item.account = "HX Connect - passcode";
    item.data = {'1', '2', '3', '4'};
    item.accessibility = security::Accessibility::WhenUnlocked;
    ASSERT_EQ(security::Keychain::defaultKeychain()->add(item), security::errSecSuccess);
    EXPECT_EQ(HXCKeychainUtils::getPasswordForUsername("HX Connect - passcode", "service", nullptr), "1234");
    EXPECT_EQ(stored("service", "HX Connect - passcode").accessibility, security::Accessibility::AfterFirstUnlock);
}

TEST_F(HXCKeychainUtilsTest, ALockedKeychainIsNeverReportedAsStored) {
    auto keychain = security::Keychain::defaultKeychain();
    ASSERT_TRUE(HXCKeychainUtils::storeUsername("ann", "old", "HXC_AuthV2", true, nullptr));
    keychain->setInteractionNotAllowed(true);
    std::optional<foundation::Error> error;
    // The read fails: the caller learns it, with or without an error out.
    EXPECT_FALSE(HXCKeychainUtils::getPasswordForUsername("ann", "HXC_AuthV2", &error));
    EXPECT_EQ(error->code, security::errSecInteractionNotAllowed);
    EXPECT_FALSE(HXCKeychainUtils::storeUsername("ann", "new", "HXC_AuthV2", false, nullptr));
    EXPECT_FALSE(HXCKeychainUtils::storeUsername("ann", "new", "HXC_AuthV2", true, &error));
    EXPECT_EQ(error->code, security::errSecInteractionNotAllowed);
    EXPECT_FALSE(HXCKeychainUtils::storeUsername("bob", "pw", "HXC_AuthV2", false, &error));
    EXPECT_EQ(error->code, security::errSecInteractionNotAllowed);
    keychain->setInteractionNotAllowed(false);
    EXPECT_EQ(HXCKeychainUtils::getPasswordForUsername("ann", "HXC_AuthV2", nullptr), "old");
    EXPECT_FALSE(HXCKeychainUtils::getPasswordForUsername("bob", "HXC_AuthV2", nullptr));
}

TEST_F(HXCKeychainUtilsTest, AFailedAddIsAFailure) {
    // A store that reads as empty but cannot be written: its folder is a regular file.
    const auto blocker = dir_ / "not-a-folder";
    { std::ofstream(blocker) << "x"; }
    security::Keychain::setDefaultPath(blocker / "keychain.json");
    std::optional<foundation::Error> error;
    EXPECT_FALSE(HXCKeychainUtils::getPasswordForUsername("ann", "HXC_AuthV2", &error));
    EXPECT_FALSE(error);
    EXPECT_FALSE(HXCKeychainUtils::storeUsername("ann", "pw", "HXC_AuthV2", false, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, security::errSecIO);
    EXPECT_FALSE(HXCKeychainUtils::storeUsername("ann", "pw", "HXC_AuthV2", true, nullptr));
}

}  // namespace
