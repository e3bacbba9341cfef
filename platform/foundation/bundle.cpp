#include "platform/foundation/bundle.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/foundation/dates.h"
#include "platform/foundation/files.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/strings.h"

namespace fs = std::filesystem;

namespace foundation {
namespace {

fs::path discoverResources() {
    if (const char* env = std::getenv("HXCONNECT_RESOURCES"); env && *env) return env;
    const fs::path exe = Bundle::executablePath();
    std::error_code ec;
    for (fs::path dir = exe.parent_path(); !dir.empty(); dir = dir.parent_path()) {
        if (fs::is_directory(dir / "resources", ec)) return dir / "resources";
        if (dir == dir.parent_path()) break;
    }
    return exe.parent_path() / "resources";
}

// The UTF-8 text of a strings file, which may be UTF-16 with a byte-order mark.
std::optional<std::string> decodeText(const Data& bytes) {
    if (bytes.size() >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
        const bool little = bytes[0] == 0xFF;
        if (bytes.size() % 2 != 0) return std::nullopt;
        std::u16string units;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            units.push_back(little ? static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8)
                                   : static_cast<char16_t>(bytes[i] << 8 | bytes[i + 1]));
        }
        return fromUtf16(units);
    }
    size_t skip = bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    return stringFromUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()) + skip, bytes.size() - skip));
}

class StringsParser {
public:
    explicit StringsParser(std::string_view text) : t_(text) {}

    Result<Dictionary> parse() {
        Dictionary out;
        while (true) {
            if (!skipSpaceAndComments()) return fail("unterminated comment");
            if (i_ >= t_.size()) return out;
            std::string key;
            if (!readToken(key)) return fail("expected a key");
            if (!skipSpaceAndComments()) return fail("unterminated comment");
            std::string value;
            if (i_ < t_.size() && t_[i_] == '=') {
                ++i_;
                if (!skipSpaceAndComments()) return fail("unterminated comment");
                if (!readToken(value)) return fail("expected a value");
                if (!skipSpaceAndComments()) return fail("unterminated comment");
            } else {
                value = key;  // "key"; alone translates to itself
            }
            if (i_ >= t_.size() || t_[i_] != ';') return fail("expected ';'");
            ++i_;
            out.set(key, value);
        }
    }

private:
    Result<Dictionary> fail(const std::string& what) const {
        const size_t line =
            1 +
            static_cast<size_t>(std::count(t_.begin(), t_.begin() + static_cast<long>(std::min(i_, t_.size())), '\n'));
        return Error::withDescription(kCocoaErrorDomain, 3840,
                                      "Strings table: " + what + " on line " + std::to_string(line) + ".");
    }

    bool skipSpaceAndComments() {
        while (i_ < t_.size()) {
            const char c = t_[i_];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
                ++i_;
            } else if (t_.substr(i_, 2) == "//") {
                const size_t nl = t_.find('\n', i_);
                i_ = nl == std::string_view::npos ? t_.size() : nl + 1;
            } else if (t_.substr(i_, 2) == "/*") {
                const size_t end = t_.find("*/", i_ + 2);
                if (end == std::string_view::npos) return false;
                i_ = end + 2;
            } else {
                break;
            }
        }
        return true;
    }

    static bool unquotedChar(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("_$+/:.-").find(c) != std::string_view::npos;
    }

    static int hex(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    bool readToken(std::string& out) {
        if (i_ >= t_.size()) return false;
        if (t_[i_] != '"') {
            const size_t start = i_;
            while (i_ < t_.size() && unquotedChar(t_[i_])) ++i_;
            if (i_ == start) return false;
            out.assign(t_.substr(start, i_ - start));
            return true;
        }
        ++i_;
        std::u16string pendingHigh;  // a \U escape of a high surrogate waiting for its pair
        while (i_ < t_.size()) {
            const char c = t_[i_++];
            if (c == '"') return true;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (i_ >= t_.size()) return false;
            const char e = t_[i_++];
            switch (e) {
                case 'n':
                    out.push_back('\n');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 'a':
                    out.push_back('\a');
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'v':
                    out.push_back('\v');
                    break;
                case 'U':
                case 'u': {
                    char32_t cp = 0;
                    for (int k = 0; k < 4; ++k) {
                        if (i_ >= t_.size() || hex(t_[i_]) < 0) return false;
                        cp = cp << 4 | static_cast<char32_t>(hex(t_[i_++]));
                    }
                    // A surrogate pair written as two escapes joins into one character.
                    if (cp >= 0xD800 && cp <= 0xDBFF && t_.substr(i_, 2).size() == 2 && t_[i_] == '\\' &&
                        (t_.substr(i_ + 1, 1) == "U" || t_.substr(i_ + 1, 1) == "u") && i_ + 6 <= t_.size()) {
                        char32_t low = 0;
                        bool ok = true;
                        for (size_t k = 0; k < 4; ++k) {
                            const int h = hex(t_[i_ + 2 + k]);
                            if (h < 0) ok = false;
                            low = low << 4 | static_cast<char32_t>(h < 0 ? 0 : h);
                        }
                        if (ok && low >= 0xDC00 && low <= 0xDFFF) {
                            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                            i_ += 6;
                        }
                    }
                    appendUtf8(out, cp);
                    break;
                }
                default:
                    if (e >= '0' && e <= '7') {
                        int v = e - '0';
                        for (int k = 0; k < 2 && i_ < t_.size() && t_[i_] >= '0' && t_[i_] <= '7'; ++k)
                            v = v * 8 + (t_[i_++] - '0');
                        appendUtf8(out, static_cast<char32_t>(v));
                    } else {
                        out.push_back(e);  // \" \\ \' and anything else stand for themselves
                    }
            }
        }
        return false;
    }

    std::string_view t_;
    size_t i_ = 0;
};

}  // namespace

Result<Dictionary> parseStringsTable(const Data& bytes) {
    const bool plistXml =
        bytes.size() >= 5 && std::string_view(reinterpret_cast<const char*>(bytes.data()), 5) == "<?xml";
    const bool plistBinary =
        bytes.size() >= 6 && std::string_view(reinterpret_cast<const char*>(bytes.data()), 6) == "bplist";
    if (plistXml || plistBinary) {
        auto v = readPropertyList(bytes);
        if (!v.ok() || !v->isDictionary())
            return Error::withDescription(kCocoaErrorDomain, 3840, "Strings table: not a dictionary.");
        Dictionary out;
        for (const auto& [k, val] : v->asDictionary()) {
            if (val.isString()) out.set(k, val);
        }
        return out;
    }
    auto text = decodeText(bytes);
    if (!text)
        return Error::withDescription(kCocoaErrorDomain, 3840, "Strings table: the text is not UTF-8 or UTF-16.");
    return StringsParser(*text).parse();
}

// ---- Bundle

struct Bundle::State {
    mutable std::mutex mutex;
    fs::path resources;
    bool isMain = false;
    mutable std::optional<Dictionary> info;
    // Parsed tables by "<localization>/<table>"; a missing or broken table is kept as empty.
    mutable std::map<std::string, std::shared_ptr<const Dictionary>> tables;
    // The ".lproj" folders, listed once (every localised string asks for them).
    mutable std::optional<std::vector<std::string>> localizations;
    // The localisations in the order the languages asked for prefer them, with what they were
    // worked out for (the language settings), worked out again only when those change.
    mutable std::optional<std::pair<std::string, std::vector<std::string>>> preferred;
};

Bundle::Bundle(fs::path resourcesDirectory) : state_(std::make_unique<State>()) {
    state_->resources = std::move(resourcesDirectory);
}

Bundle::~Bundle() = default;

Bundle& Bundle::main() {
    static Bundle* bundle = [] {
        auto* b = new Bundle(discoverResources());
        b->state_->isMain = true;
        return b;
    }();
    return *bundle;
}

void Bundle::setResourcesDirectory(fs::path directory) {
    std::lock_guard lock(state_->mutex);
    if (directory.empty() && state_->isMain) directory = discoverResources();
    state_->resources = std::move(directory);
    state_->info.reset();
    state_->tables.clear();
    state_->localizations.reset();
    state_->preferred.reset();
}

fs::path Bundle::resourcesDirectory() const {
    std::lock_guard lock(state_->mutex);
    return state_->resources;
}

fs::path Bundle::executablePath() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return p;
}

std::optional<fs::path> Bundle::pathForResource(std::string_view name, std::string_view type,
                                                std::string_view subdirectory) const {
    if (type.starts_with(".")) type.remove_prefix(1);
    std::string file(name);
    if (!type.empty()) file += "." + std::string(type);
    if (file.empty()) return std::nullopt;
    const fs::path base = resourcesDirectory() / std::string(subdirectory);
    std::error_code ec;
    if (fs::is_regular_file(base / file, ec) || fs::is_directory(base / file, ec)) return base / file;
    for (const std::string& loc : preferredLocalizations()) {
        const fs::path p = base / (loc + ".lproj") / file;
        if (fs::exists(p, ec)) return p;
    }
    return std::nullopt;
}

std::vector<fs::path> Bundle::pathsForResources(std::string_view type, std::string_view subdirectory) const {
    if (type.starts_with(".")) type.remove_prefix(1);
    std::vector<fs::path> out;
    auto entries = files::listDirectory(resourcesDirectory() / std::string(subdirectory), true);
    if (!entries.ok()) return out;
    for (const auto& e : *entries) {
        if (!e.attributes.isRegularFile) continue;
        if (type.empty() || e.extension() == type) out.push_back(e.path);
    }
    return out;
}

Dictionary Bundle::infoDictionary() const {
    fs::path resources;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->info) return *state_->info;
        resources = state_->resources;
    }
    Dictionary info;
    if (auto bytes = files::readData(resources / "Info.plist"); bytes.ok()) {
        if (auto v = readPropertyList(*bytes); v.ok() && v->isDictionary()) info = v->asDictionary();
    }
    std::lock_guard lock(state_->mutex);
    state_->info = info;
    return info;
}

Value Bundle::objectForInfoDictionaryKey(std::string_view key) const { return infoDictionary().get(Key(key)); }

std::optional<std::string> Bundle::bundleIdentifier() const {
    const Value v = objectForInfoDictionaryKey("CFBundleIdentifier");
    if (!v.isString() || v.asString().empty()) return std::nullopt;
    return v.asString();
}

std::string Bundle::name() const {
    const Value v = objectForInfoDictionaryKey("CFBundleName");
    if (v.isString() && !v.asString().empty()) return v.asString();
    return executablePath().filename().string();
}

std::string Bundle::displayName() const {
    const Value v = objectForInfoDictionaryKey("CFBundleDisplayName");
    if (v.isString() && !v.asString().empty()) return v.asString();
    return name();
}

std::string Bundle::shortVersion() const {
    const Value v = objectForInfoDictionaryKey("CFBundleShortVersionString");
    return v.isString() && !v.asString().empty() ? v.asString() : "1.0";
}

std::string Bundle::version() const {
    const Value v = objectForInfoDictionaryKey("CFBundleVersion");
    return v.isString() && !v.asString().empty() ? v.asString() : "1";
}

std::vector<std::string> Bundle::localizations() const {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->localizations) return *state_->localizations;
    }
    std::vector<std::string> out;
    auto entries = files::listDirectory(resourcesDirectory(), true);
    if (!entries.ok()) return out;
    for (const auto& e : *entries) {
        if (!e.attributes.isDirectory || !e.name.ends_with(".lproj")) continue;
        std::string loc = e.name.substr(0, e.name.size() - 6);
        if (!loc.empty() && loc != "Base") out.push_back(std::move(loc));
    }
    std::lock_guard lock(state_->mutex);
    state_->localizations = out;
    return out;
}

std::vector<std::string> Bundle::preferredLocalizations() const {
    // What the preferred languages come from: every localised string asks, and working the
    // languages out anew each time parses locales.
    const char* language = std::getenv("LANGUAGE");
    std::string settings = language ? language : "";
    settings += '\n';
    settings += currentLocaleIdentifier();
    {
        std::lock_guard lock(state_->mutex);
        if (state_->preferred && state_->preferred->first == settings) return state_->preferred->second;
    }
    const std::vector<std::string> available = localizations();
    std::vector<std::string> out;
    auto add = [&](const std::string& loc) {
        if (std::find(out.begin(), out.end(), loc) == out.end()) out.push_back(loc);
    };
    auto normal = [](std::string s) {
        std::replace(s.begin(), s.end(), '_', '-');
        return lowercase(s);
    };
    for (const std::string& lang : preferredLanguages()) {
        // The whole tag first ("pt-BR"), then its language ("pt").
        for (const auto& loc : available) {
            if (normal(loc) == normal(lang)) add(loc);
        }
        const std::string language = normal(split(lang, "-")[0]);
        for (const auto& loc : available) {
            if (normal(loc) == language) add(loc);
        }
    }
    for (const auto& loc : available) {
        if (normal(loc) == "en" || normal(loc) == "english") add(loc);
    }
    if (out.empty() && !available.empty()) add(available.front());
    std::lock_guard lock(state_->mutex);
    state_->preferred.emplace(std::move(settings), out);
    return out;
}

std::string Bundle::localizedString(std::string_view key, std::string_view value, std::string_view table) const {
    const std::string tableName = table.empty() ? "Localizable" : std::string(table);
    const fs::path resources = resourcesDirectory();
    for (const std::string& loc : preferredLocalizations()) {
        const std::string cacheKey = loc + "/" + tableName;
        std::shared_ptr<const Dictionary> entries;
        {
            std::lock_guard lock(state_->mutex);
            if (auto it = state_->tables.find(cacheKey); it != state_->tables.end()) entries = it->second;
        }
        if (!entries) {
            auto loaded = std::make_shared<Dictionary>();
            if (auto bytes = files::readData(resources / (loc + ".lproj") / (tableName + ".strings")); bytes.ok()) {
                if (auto parsed = parseStringsTable(*bytes); parsed.ok()) *loaded = std::move(parsed.value());
            }
            entries = loaded;
            std::lock_guard lock(state_->mutex);
            state_->tables.emplace(cacheKey, entries);
        }
        if (const Value* v = entries->find(Key(key)); v && v->isString()) return v->asString();
    }
    return std::string(value.empty() ? key : value);
}

std::string localizedString(std::string_view key) { return Bundle::main().localizedString(key); }

}  // namespace foundation
