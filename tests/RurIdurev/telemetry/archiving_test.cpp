#include <gtest/gtest.h>

#include "RurIdurev/RurIdurev/Internals/Model/Util/history_info.h"
#include "RurIdurev/RurIdurev/Internals/Model/log_with_properties.h"
#include "RurIdurev/RurIdurev/Internals/Model/start_service_log.h"
#include "RurIdurev/RurIdurev/Internals/Model/typed_property.h"
#include "RurIdurev/RurIdurev/Internals/Util/archiver_util.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "tests/RurIdurev/telemetry/log_capture.h"

namespace {

std::shared_ptr<ZIVODevice> fullDevice() {
    auto d = std::make_shared<ZIVODevice>();
    d->setSdkName(std::string("ruridurev.ios"));
    d->setSdkVersion(std::string("5.0.5"));
    d->setModel(std::string("x86_64"));
    d->setOemName(std::string("Apple"));
    d->setOsName(std::string("Debian GNU/Linux"));
    d->setOsVersion(std::string("12"));
    d->setOsBuild(std::string("6.1.0"));
    d->setOsApiLevel(33);
    d->setLocale(std::string("de_AT"));
    d->setTimeZoneOffset(-210);
    d->setScreenSize(std::string("2532x1170"));
    d->setAppVersion(std::string("1.0"));
    d->setCarrierName(std::string("Net"));
    d->setCarrierCountry(std::string("at"));
    d->setAppBuild(std::string("7"));
    d->setAppNamespace(std::string("com.hxconnect"));
    d->setWrapperSdkName(std::string("w"));
    d->setLiveUpdatePackageHash(std::string("h"));
    return d;
}

// A class outside the allowed list.
class ForeignRecord : public foundation::Archivable {
public:
    std::string className() const override { return "HXForeignRecord"; }
    void encode(foundation::Coder& coder) const override { coder.encodeString("x", "y"); }
    static std::shared_ptr<ForeignRecord> decode(foundation::Decoder&) { return std::make_shared<ForeignRecord>(); }
};

class Archiving : public ::testing::Test {
protected:
    void SetUp() override { ZIVOArchiverUtil::addAllowedRurIdurevModuleClasses(); }
};

}  // namespace

TEST_F(Archiving, DeviceAndLogsRoundTrip) {
    auto device = fullDevice();
    auto data = ZIVOUtility::archiveKeyedData(device);
    ASSERT_TRUE(data.has_value());
    auto back = ZIVOUtility::unarchiveKeyedObject<ZIVODevice>(data);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->isEqual(*device));

    auto log = std::make_shared<ZIVOLogWithProperties>();
    log->setType(std::string("t"));
    log->setTimestamp(foundation::Date{1709647629.123});
    log->setSid(std::string("s"));
    log->setUserId(std::string("u/1"));
    log->setDataResidencyRegion(std::string("eu"));
    log->setDevice(device);
    log->setProperties(foundation::Dictionary{{"k", "v"}});
    log->addTransmissionTargetToken("token");
    log->setTag("marker");
    auto logBack = ZIVOUtility::unarchiveKeyedObject<ZIVOAbstractLog>(ZIVOUtility::archiveKeyedData(log));
    ASSERT_TRUE(logBack);
    EXPECT_EQ(logBack->className(), "ZIVOLogWithProperties");
    // Tag and tokens are not archived.
    EXPECT_TRUE(logBack->tag().isNull());
    EXPECT_FALSE(logBack->transmissionTargetTokens().has_value());
    EXPECT_FALSE(logBack->isEqual(*log));
    log->setTag({});
    EXPECT_TRUE(logBack->isEqual(*log));
    EXPECT_EQ(logBack->timestamp(), log->timestamp());

    auto start = std::make_shared<ZIVOStartServiceLog>();
    start->setServices(std::vector<std::string>{"Crashes"});
    start->setIsZidAzaduzuriEnabled(true);
    auto startBack = ZIVOUtility::unarchiveKeyedObject<ZIVOStartServiceLog>(ZIVOUtility::archiveKeyedData(start));
    ASSERT_TRUE(startBack);
    EXPECT_EQ(startBack->services(), start->services());
    EXPECT_TRUE(startBack->isZidAzaduzuriEnabled());
    EXPECT_EQ(startBack->type(), "startService");
}

TEST_F(Archiving, TypedPropertiesRoundTrip) {
    auto big = std::make_shared<ZIVOLongTypedProperty>();
    big->setName(std::string("n"));
    big->setValue(INT64_MAX);
    auto bigBack = ZIVOUtility::unarchiveKeyedObject<ZIVOLongTypedProperty>(ZIVOUtility::archiveKeyedData(big));
    ASSERT_TRUE(bigBack);
    EXPECT_EQ(bigBack->value(), INT64_MAX);
    EXPECT_EQ(bigBack->name(), "n");

    auto when = std::make_shared<ZIVODateTimeTypedProperty>();
    auto whenBack = ZIVOUtility::unarchiveKeyedObject<ZIVODateTimeTypedProperty>(ZIVOUtility::archiveKeyedData(when));
    ASSERT_TRUE(whenBack);
    EXPECT_FALSE(whenBack->value().has_value());
    EXPECT_TRUE(whenBack->isEqual(*when));
}

TEST_F(Archiving, HistoryArraysRoundTripAndOldNamesMigrate) {
    std::vector<std::shared_ptr<const foundation::Archivable>> records{
        std::make_shared<ZIVODeviceHistoryInfo>(foundation::Date{10}, fullDevice()),
        std::make_shared<ZIVODeviceHistoryInfo>(foundation::Date{20}, fullDevice()),
    };
    auto data = ZIVOUtility::archiveKeyedArray(records);
    ASSERT_TRUE(data.has_value());
    auto back = ZIVOUtility::unarchiveKeyedArray<ZIVODeviceHistoryInfo>(data);
    ASSERT_TRUE(back.has_value());
    ASSERT_EQ(back->size(), 2u);
    EXPECT_EQ((*back)[1]->timestamp()->secondsSince1970, 20);
    EXPECT_TRUE((*back)[1]->device()->isEqual(*fullDevice()));

    // An archive written by the older SDK names the class "ZVDevice".
    class OldDevice : public ZIVODevice {
    public:
        std::string className() const override { return "ZVDevice"; }
    };
    auto old = std::make_shared<OldDevice>();
    old->setSdkName(std::string("old"));
    auto oldData = ZIVOUtility::archiveKeyedData(old);
    ASSERT_TRUE(oldData.has_value());
    ZIVOUtility::addMigrationClasses({{"ZVDevice", "ZIVODevice"}});
    auto migrated = ZIVOUtility::unarchiveKeyedObject<ZIVODevice>(oldData);
    ASSERT_TRUE(migrated);
    EXPECT_EQ(migrated->sdkName(), "old");
}

TEST_F(Archiving, AllowListRefusesAForeignClass) {
    LogCapture capture;
    foundation::ArchiveClassRegistry::shared().registerClass<ForeignRecord>("HXForeignRecord");
    auto data = foundation::archivedData(ForeignRecord());
    ASSERT_TRUE(data.ok());
    EXPECT_EQ(ZIVOUtility::unarchiveKeyedObject<foundation::Archivable>(*data), nullptr);
    // A foreign class hidden inside an allowed one is refused just the same.
    auto history = std::make_shared<ZIVOHistoryInfo>(foundation::Date{1});
    std::vector<std::shared_ptr<const foundation::Archivable>> mixed{history, std::make_shared<ForeignRecord>()};
    EXPECT_FALSE(ZIVOUtility::unarchiveKeyedArray<ZIVOHistoryInfo>(ZIVOUtility::archiveKeyedArray(mixed)).has_value());
    // Garbage and nothing.
    EXPECT_FALSE(ZIVOUtility::unarchiveKeyedArray<ZIVOHistoryInfo>(foundation::Data{1, 2, 3}).has_value());
    EXPECT_EQ(ZIVOUtility::unarchiveKeyedObject<ZIVODevice>(std::nullopt), nullptr);
    auto errors = capture.messages(ZIVOLogLevelError);
    ASSERT_EQ(errors.size(), 3u);
    for (const auto& e : errors) EXPECT_EQ(e.rfind("Unarchiving NSData failed with error: ", 0), 0u) << e;
}
