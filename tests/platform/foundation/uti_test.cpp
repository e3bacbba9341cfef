#include "platform/foundation/uti.h"

#include <gtest/gtest.h>

using namespace foundation;

TEST(UTI, MIMELookupForTheMediaTheAppMeets) {
    const std::pair<const char*, const char*> cases[] = {{"image/jpeg", "public.jpeg"},
                                                         {"image/png", "public.png"},
                                                         {"image/gif", "com.compuserve.gif"},
                                                         {"image/heic", "public.heic"},

                                                         {"audio/mpeg", "public.mp3"},
                                                         {"audio/mp4", "public.mpeg-4-audio"},
                                                         {"audio/amr", "org.3gpp.adaptive-multi-rate-audio"},

                                                         {"audio/3gpp", "public.3gpp"},
                                                         {"video/mp4", "public.mpeg-4"},
                                                         {"video/3gpp", "public.3gpp"},
                                                         {"video/quicktime", "public.mov-movie"},
                                                         {"text/plain", "public.plain-text"},
                                                         {"text/vcard", "public.vcard"},
                                                         {"text/x-vcard", "public.vcard"},

                                                         {"IMAGE/JPEG; name=a.jpg", "public.jpeg"},
                                                         {" text/plain ;charset=utf-8", "public.plain-text"}};
    for (auto [mime, uti] : cases) EXPECT_EQ(typeIdentifierForMIMEType(mime), uti) << mime;
    EXPECT_EQ(typeIdentifierForMIMEType("application/x-unknown"), std::nullopt);
    EXPECT_EQ(typeIdentifierForMIMEType(""), std::nullopt);
    EXPECT_EQ(preferredMIMEType("public.jpeg"), "image/jpeg");
    EXPECT_EQ(preferredMIMEType("public.image"), std::nullopt);
}

TEST(UTI, ConformanceAndExtensions) {
    EXPECT_TRUE(typeConformsTo("public.jpeg", "public.image"));
    EXPECT_TRUE(typeConformsTo("com.compuserve.gif", "com.compuserve.gif"));
    EXPECT_TRUE(typeConformsTo("com.compuserve.gif", "public.image"));
    EXPECT_TRUE(typeConformsTo("public.heic", "public.image"));
    EXPECT_TRUE(typeConformsTo("public.jpeg", "public.item"));
    EXPECT_TRUE(typeConformsTo("public.mpeg-4-audio", "public.audio"));
    EXPECT_TRUE(typeConformsTo("public.mpeg-4-audio", "public.mpeg-4"));
    EXPECT_TRUE(typeConformsTo("public.vcard", "public.text"));
    EXPECT_FALSE(typeConformsTo("public.jpeg", "com.compuserve.gif"));
    EXPECT_FALSE(typeConformsTo("public.png", "public.audio"));
    EXPECT_FALSE(typeConformsTo("public.image", "public.jpeg"));
    EXPECT_FALSE(typeConformsTo("dyn.unknown", "public.data"));
    EXPECT_TRUE(typeConformsTo("dyn.unknown", "dyn.unknown"));

    EXPECT_EQ(typeIdentifierForFilenameExtension("JPG"), "public.jpeg");
    EXPECT_EQ(typeIdentifierForFilenameExtension(".gif"), "com.compuserve.gif");
    EXPECT_EQ(typeIdentifierForFilenameExtension("3gp"), "public.3gpp");
    EXPECT_EQ(typeIdentifierForFilenameExtension("mov"), "public.mov-movie");
    EXPECT_EQ(typeIdentifierForFilenameExtension("vcf"), "public.vcard");
    EXPECT_EQ(typeIdentifierForFilenameExtension("nope"), std::nullopt);
    EXPECT_EQ(preferredFilenameExtension("public.jpeg"), "jpeg");
    EXPECT_EQ(preferredFilenameExtension("public.vcard"), "vcf");
}

TEST(UTI, TypesNoMediaOfTheServiceCarriesAreUnknown) {
    for (const char* mime : {"image/bmp", "image/x-icon", "audio/wav", "audio/x-wav", "image/tiff", "application/pdf",
                             "text/html", "application/zip"})
        EXPECT_EQ(typeIdentifierForMIMEType(mime), std::nullopt) << mime;
    for (const char* ext : {"bmp", "ico", "wav", "wave", "caf", "pdf"})
        EXPECT_EQ(typeIdentifierForFilenameExtension(ext), std::nullopt) << ext;
    // Every kind the service sends, by the MIME types its replies and the app's own sends use.
    for (const char* mime : {"image/jpeg", "image/png", "image/gif", "audio/mpeg", "audio/mpeg3", "audio/amr",
                             "video/mp4", "video/3gpp", "video/quicktime", "text/x-vcard"})
        EXPECT_TRUE(isKnownType(typeIdentifierForMIMEType(mime).value_or(""))) << mime;
    EXPECT_TRUE(typeConformsTo(*typeIdentifierForMIMEType("audio/mpeg3"), kTypeAudio));
    EXPECT_TRUE(typeConformsTo(*typeIdentifierForMIMEType("video/quicktime"), kTypeMovie));
    EXPECT_TRUE(typeConformsTo(*typeIdentifierForMIMEType("image/gif"), kTypeImage));
}
