// Arbitrary bytes as the keychain's file. Reading never crashes; whatever the file held, a new
// item can be added and read back, and the items a readable file held survive the rewrite that
// the add makes, unchanged and in order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "fuzz/scratch_dir.h"
#include "platform/security/keychain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto dir = fuzzsupport::scratchDirectory() / "keychain";
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir, ec);
    const auto file = dir / "keychain.json";
    {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    security::Keychain keychain(file);
    security::KeychainQuery all;
    all.returnAttributes = true;
    all.returnData = true;
    std::vector<security::KeychainMatch> before;
    const auto read = keychain.copyAllMatching(all, &before);
    const bool readable = read == security::errSecSuccess || read == security::errSecItemNotFound;

    security::KeychainItem item;
    item.service = "fuzz.check";
    item.account = "account";
    item.data = foundation::Data{1, 2, 3};
    const auto added = keychain.add(item);
    if (added == security::errSecDuplicateItem) return 0;  // the file held this very item
    if (added != security::errSecSuccess) return 0;        // a file that cannot be read stays as it is
    security::KeychainMatch found;
    auto query = security::KeychainQuery::item("fuzz.check", "account");
    query.returnData = true;
    if (keychain.copyMatching(query, &found) != security::errSecSuccess) std::abort();
    if (!found.data || *found.data != item.data) std::abort();
    if (!readable) return 0;
    std::vector<security::KeychainMatch> after;
    if (keychain.copyAllMatching(all, &after) != security::errSecSuccess) std::abort();
    if (after.size() != before.size() + 1) std::abort();
    for (size_t i = 0; i < before.size(); ++i)
        if (after[i].service != before[i].service || after[i].account != before[i].account ||
            after[i].data != before[i].data)
            std::abort();
    return 0;
}
