#include "platform/foundation/uti.h"

#include <initializer_list>

#include "platform/foundation/strings.h"

namespace foundation {
namespace {

struct TypeInfo {
    const char* identifier;
    std::initializer_list<const char*> parents;
    std::initializer_list<const char*> mimeTypes;   // preferred first
    std::initializer_list<const char*> extensions;  // preferred first
};

// The types the app meets: the service's media (pictures, audio, video, contact cards), text, and
// the ancestors they conform to. Table order decides which identifier comes first for a shared tag
// ("video/3gpp" before the audio-only reading of "3gp").
const TypeInfo kTypes[] = {
    {"public.item", {}, {}, {}},
    {"public.content", {}, {}, {}},
    {"public.data", {"public.item"}, {"application/octet-stream"}, {}},
    {"public.text", {"public.data", "public.content"}, {}, {}},
    {"public.plain-text", {"public.text"}, {"text/plain"}, {"txt", "text"}},
    {"public.vcard",
     {"public.text", "public.contact"},
     {"text/vcard", "text/x-vcard", "text/directory"},
     {"vcf", "vcard"}},
    {"public.contact", {"public.item"}, {}, {}},
    {"public.image", {"public.data", "public.content"}, {}, {}},
    {"public.jpeg", {"public.image"}, {"image/jpeg", "image/jpg", "image/pjpeg"}, {"jpeg", "jpg", "jpe"}},
    {"public.png", {"public.image"}, {"image/png"}, {"png"}},
    {"com.compuserve.gif", {"public.image"}, {"image/gif"}, {"gif"}},
    {"public.heic", {"public.heif-standard"}, {"image/heic"}, {"heic"}},
    {"public.heif", {"public.heif-standard"}, {"image/heif"}, {"heif"}},
    {"public.heif-standard", {"public.image"}, {}, {}},
    {"public.audiovisual-content", {"public.data", "public.content"}, {}, {}},
    {"public.audio", {"public.audiovisual-content"}, {}, {}},
    {"public.movie", {"public.audiovisual-content"}, {}, {}},
    {"public.video", {"public.movie"}, {}, {}},
    {"public.mp3", {"public.audio"}, {"audio/mpeg", "audio/mp3", "audio/mpeg3", "audio/x-mpeg-3"}, {"mp3"}},
    {"public.mpeg-4-audio", {"public.mpeg-4", "public.audio"}, {"audio/mp4", "audio/x-m4a", "audio/m4a"}, {"m4a"}},
    {"public.aac-audio", {"public.audio"}, {"audio/aac", "audio/x-aac"}, {"aac"}},
    {"org.3gpp.adaptive-multi-rate-audio", {"public.audio"}, {"audio/amr"}, {"amr"}},
    {"public.mpeg-4", {"public.movie"}, {"video/mp4", "video/mp4v"}, {"mp4", "mpeg4"}},
    {"public.3gpp", {"public.movie"}, {"video/3gpp", "audio/3gpp"}, {"3gp", "3gpp"}},
    {"public.3gpp2", {"public.movie"}, {"video/3gpp2", "audio/3gpp2"}, {"3g2", "3gp2"}},
    {"public.mov-movie", {"public.movie"}, {"video/quicktime"}, {"mov", "qt"}},
};

const TypeInfo* find(std::string_view identifier) {
    for (const auto& t : kTypes) {
        if (equals(identifier, t.identifier, kCaseInsensitive)) return &t;
    }
    return nullptr;
}

std::string normaliseMIME(std::string_view mime) {
    const size_t semicolon = mime.find(';');
    return lowercase(trim(mime.substr(0, semicolon)));
}

}  // namespace

std::vector<std::string> typeIdentifiersForMIMEType(std::string_view mime) {
    const std::string m = normaliseMIME(mime);
    std::vector<std::string> out;
    if (m.empty()) return out;
    for (const auto& t : kTypes) {
        for (const char* candidate : t.mimeTypes) {
            if (m == candidate) {
                out.emplace_back(t.identifier);
                break;
            }
        }
    }
    return out;
}

std::optional<std::string> typeIdentifierForMIMEType(std::string_view mime) {
    auto all = typeIdentifiersForMIMEType(mime);
    if (all.empty()) return std::nullopt;
    return all.front();
}

std::vector<std::string> typeIdentifiersForFilenameExtension(std::string_view extension) {
    if (extension.starts_with(".")) extension.remove_prefix(1);
    const std::string e = lowercase(extension);
    std::vector<std::string> out;
    if (e.empty()) return out;
    for (const auto& t : kTypes) {
        for (const char* candidate : t.extensions) {
            if (e == candidate) {
                out.emplace_back(t.identifier);
                break;
            }
        }
    }
    return out;
}

std::optional<std::string> typeIdentifierForFilenameExtension(std::string_view extension) {
    auto all = typeIdentifiersForFilenameExtension(extension);
    if (all.empty()) return std::nullopt;
    return all.front();
}

std::optional<std::string> preferredMIMEType(std::string_view identifier) {
    const TypeInfo* t = find(identifier);
    if (!t || t->mimeTypes.size() == 0) return std::nullopt;
    return std::string(*t->mimeTypes.begin());
}

std::optional<std::string> preferredFilenameExtension(std::string_view identifier) {
    const TypeInfo* t = find(identifier);
    if (!t || t->extensions.size() == 0) return std::nullopt;
    return std::string(*t->extensions.begin());
}

bool isKnownType(std::string_view identifier) { return find(identifier) != nullptr; }

bool typeConformsTo(std::string_view identifier, std::string_view parent) {
    if (equals(identifier, parent, kCaseInsensitive)) return true;
    const TypeInfo* t = find(identifier);
    if (!t) return false;
    // The table is a small acyclic graph: a depth-first walk is enough.
    for (const char* p : t->parents) {
        if (typeConformsTo(p, parent)) return true;
    }
    return false;
}

}  // namespace foundation
