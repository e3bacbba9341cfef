// python3-pil as an independent reader and writer of images for the graphics tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/files.h"
#include "platform/graphics/bitmap.h"
#include "tests/support/test_support.h"

namespace hxtest {

inline bool havePIL() {
    static const bool have = runCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0;
    return have;
}

#define HX_REQUIRE_PIL()                                                                                               \
    do {                                                                                                               \
        if (!::hxtest::havePIL()) GTEST_SKIP() << "python3-pil is not installed";                                      \
    } while (0)

// Runs a python3 script (PIL imported as Image) with the scratch folder as its working directory;
// returns what it printed, failing the test on a non-zero exit.
inline std::string runPIL(const TempDir& dir, const std::string& body) {
    const auto script = dir / "script.py";
    EXPECT_TRUE(foundation::files::writeAtomically(script, "from PIL import Image\nimport struct, sys\n" + body).ok());
    std::string out;
    const int status = runCommand("cd '" + dir.path().string() + "' && /usr/bin/python3 script.py", &out);
    EXPECT_EQ(status, 0) << body;
    return out;
}

inline foundation::Data readBytes(const std::filesystem::path& path) {
    auto data = foundation::files::readData(path);
    EXPECT_TRUE(data.ok()) << path;
    return data.ok() ? *data : foundation::Data{};
}

// Premultiplied pixels of straight RGBA bytes (as PIL's tobytes() gives them), for exact comparison
// with decoded bitmaps.
inline std::vector<uint32_t> premultipliedRGBA(const foundation::Data& rgba) {
    std::vector<uint32_t> out(rgba.size() / 4);
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = graphics::Bitmap::premultiplied(rgba[i * 4], rgba[i * 4 + 1], rgba[i * 4 + 2], rgba[i * 4 + 3]);
    }
    return out;
}

inline std::vector<uint32_t> pixelsOf(const graphics::Bitmap& b) {
    return {b.data(), b.data() + b.width() * b.height()};
}

}  // namespace hxtest
