// Rows of the log store "Logs.sqlite" as a damaged or foreign file may hold them: any text in
// the log column (base-64 of a keyed archive, or not), any target token (encrypted by this
// device, by another, or not at all), any key and priority. Reading rows never fails hard, drops
// a row it cannot decode, and gives a log exactly the token this device encrypted for it.
// Layout: byte 0 holds flags, the rest is group id, log, target token and target key separated
// by 0x1F. Flag 1: the log field is raw archive bytes to base-64 encode; flag 2: the token field
// is a plain token to encrypt first; flag 4: no token (NULL); flag 8: the priority as text.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "RurIdurev/RurIdurev/Internals/Model/abstract_log.h"
#include "RurIdurev/RurIdurev/Internals/Storage/log_db_storage.h"
#include "RurIdurev/RurIdurev/Internals/Util/archiver_util.h"
#include "RurIdurev/RurIdurev/Internals/Util/encrypter.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "fuzz/scratch_dir.h"
#include "platform/foundation/base64.h"
#include "platform/foundation/files.h"
#include "platform/security/keychain.h"

namespace {

ZIVOLogDBStorage& storage() {
    static ZIVOLogDBStorage* instance = [] {
        const std::filesystem::path dir = fuzzsupport::scratchDirectory();
        foundation::setHomeDirectory(dir / "home");
        security::Keychain::setDefaultPath(dir / "keychain.json");
        ZIVOArchiverUtil::addAllowedRurIdurevModuleClasses();
        ZIVOLogger::setLogHandler(nullptr);
        return new ZIVOLogDBStorage();
    }();
    return *instance;
}

std::vector<std::string> fields(const uint8_t* data, size_t size) {
    std::vector<std::string> out(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0x1F && out.size() < 4)
            out.emplace_back();
        else
            out.back() += static_cast<char>(data[i]);
    }
    out.resize(4);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    ZIVOLogDBStorage& store = storage();
    const uint8_t flags = data[0];
    auto f = fields(data + 1, size - 1);
    const std::string& group = f[0];
    std::string log = f[1];
    if (flags & 1) log = foundation::base64Encode(foundation::Data(log.begin(), log.end()));
    std::optional<std::string> token = f[2];
    const std::string plainToken = f[2];
    ZIVOEncrypter encrypter;
    if (flags & 2) token = encrypter.encryptString(plainToken);
    if (flags & 4) token.reset();
    (void)encrypter.decryptString(f[2]);

    ZIVOStorageBindableArray values;
    values.addString(group);
    values.addString(log);
    values.addString(token);
    values.addString(f[3]);
    std::string insert = "INSERT INTO \"logs\" (\"groupId\", \"log\", \"targetToken\", \"targetKey\", \"priority\") "
                         "VALUES (?, ?, ?, ?, ?)";
    if (flags & 8) {
        values.addString(std::string(f[3]));
    } else {
        values.addNumber(static_cast<int64_t>(static_cast<int8_t>(flags)));
    }
    store.executeNonSelectionQuery(insert, &values);

    for (const auto& row : store.logsWithCondition("", nullptr)) {
        if (!row.log) std::abort();  // undecodable rows are dropped, never handed out
        const bool sealedHere =
            (flags & 2) && !(flags & 4) && token && row.targetToken.ifString() && *row.targetToken.ifString() == *token;
        if (sealedHere && !plainToken.empty()) {
            auto tokens = row.log->transmissionTargetTokens();
            if (!tokens || !tokens->count(plainToken)) std::abort();
        }
    }
    store.loadLogsWithGroupId(group, 5, std::nullopt, [](const auto& logs, const auto&) {
        for (const auto& l : logs)
            if (!l) std::abort();
    });
    (void)store.deleteLogsWithGroupId(group);
    store.executeNonSelectionQuery("DELETE FROM \"logs\"");
    return 0;
}
