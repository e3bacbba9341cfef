// The common-schema log's JSON form (key order, absent parts) and archiving, read back by
// python3's json as an independent check of the text.
#include <gtest/gtest.h>

#include <fstream>

#include "RurIdurev/RurIdurev/Internals/Model/CommonSchema/common_schema_log.h"
#include "RurIdurev/RurIdurev/Internals/Util/archiver_util.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "platform/foundation/json.h"
#include "tests/support/test_support.h"

namespace {

std::string keysViaPython(const std::string& json) {
    hxtest::TempDir dir;
    std::ofstream(dir / "in.json") << json;
    std::string out;
    hxtest::runCommand("/usr/bin/python3 -c 'import json; d=json.load(open(\"" + (dir / "in.json").string() +
                           "\")); print(\",\".join(d.keys()))'",
                       &out);
    return out;
}

std::shared_ptr<ZIVOCommonSchemaLog> sample(int64_t flags) {
    auto log = std::make_shared<ZIVOCommonSchemaLog>();
    log->setVer("3.0");
    log->setName("hx.event");
    log->setTimestamp(foundation::Date{1700000000.5});
    log->setIKey("o:abc");
    log->setFlags(flags);
    log->ext = std::make_shared<ZIVOCSExtensions>();
    return log;
}

TEST(CommonSchemaTest, KeysInOrderAndFlagsOnlyWhenSet) {
    auto text = foundation::toJSON(foundation::Value(sample(0)->serializeToDictionary()));
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(keysViaPython(text.value()), "ver,name,time,iKey,ext\n");
    auto withFlags = foundation::toJSON(foundation::Value(sample(2)->serializeToDictionary()));
    EXPECT_EQ(keysViaPython(withFlags.value()), "ver,name,time,iKey,flags,ext\n");
    EXPECT_EQ(sample(0)->serializeToDictionary().find("ext")->size(), 0u);
}

TEST(CommonSchemaTest, ValidityNeedsTimeVersionAndName) {
    auto log = sample(0);
    EXPECT_TRUE(log->isValid());
    log->setName(std::nullopt);
    EXPECT_FALSE(log->isValid());
}

TEST(CommonSchemaTest, DataPutsBaseTypeAndBaseDataFirst) {
    ZIVOCSData data;
    foundation::Dictionary props;
    props.set("baseData", foundation::Dictionary{{"k", 1}});
    props.set("other", "x");
    props.set("baseType", "T");
    data.setProperties(props);
    auto text = foundation::toJSON(foundation::Value(*data.jsonForm()));
    EXPECT_EQ(keysViaPython(text.value()), "baseType,baseData,other\n");
}

TEST(CommonSchemaTest, ExtensionsLeaveOutEmptyOnesAndSeqZero) {
    ZIVOCSExtensions ext;
    ext.userExt = std::make_shared<ZIVOUserExtension>();
    ext.deviceExt = std::make_shared<ZIVODeviceExtension>();
    ext.sdkExt = std::make_shared<ZIVOSDKExtension>();
    ext.sdkExt->setLibVer("ruridurev.ios-5.0.5");
    auto dict = ext.serializeToDictionary();
    EXPECT_FALSE(dict.contains("user"));
    EXPECT_FALSE(dict.contains("device"));
    EXPECT_FALSE(dict.find("sdk")->asDictionary().contains("seq"));
    ext.sdkExt->setSeq(1);
    ext.userExt->setLocalId("c:me");
    dict = ext.serializeToDictionary();
    EXPECT_EQ(*dict.find("sdk")->asDictionary().find("seq"), foundation::Value(1));
    EXPECT_EQ(dict.find("user")->asDictionary().size(), 1u);
}

TEST(CommonSchemaTest, ArchivingKeepsFieldsJsonLeavesOut) {
    ZIVOArchiverUtil::addAllowedRurIdurevModuleClasses();
    ZIVOCommonSchemaLog::registerArchiveClasses();
    auto log = sample(2);
    log->setPopSample(0.25);
    log->setCV("cv.1");
    log->ext->appExt = std::make_shared<ZIVOAppExtension>();
    log->ext->appExt->setAppId("I:com.hxconnect");
    log->ext->sdkExt = std::make_shared<ZIVOSDKExtension>();
    log->ext->sdkExt->setSeq(7);
    log->data = std::make_shared<ZIVOCSData>();
    log->data->setProperties(foundation::Dictionary{{"baseType", "T"}});
    auto back = ZIVOUtility::unarchiveKeyedObject<ZIVOCommonSchemaLog>(ZIVOUtility::archiveKeyedData(log));
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->isEqual(*log));
    EXPECT_EQ(back->popSample(), 0.25);
    EXPECT_EQ(back->cV(), std::optional<std::string>("cv.1"));
    auto dict = back->serializeToDictionary();
    EXPECT_FALSE(dict.contains("popSample"));
    EXPECT_FALSE(dict.contains("cV"));
    EXPECT_EQ(dict.find("ext")->asDictionary().find("app")->asDictionary().find("id")->asString(), "I:com.hxconnect");
}

}  // namespace
