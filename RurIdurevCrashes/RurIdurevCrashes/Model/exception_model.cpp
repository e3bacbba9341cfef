#include "RurIdurevCrashes/RurIdurevCrashes/Model/exception_model.h"

#include <dlfcn.h>
#include <execinfo.h>

#include <cstdio>
#include <cstring>

#include "RurIdurev/RurIdurev/logger.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/Model/model_util.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_log_tag.h"

namespace {

bool needsQuotes(const std::string& text) {
    if (text.empty()) return true;
    for (unsigned char c : text) {
        if (!(std::isalnum(c) || c == '_' || c == '.' || c == '$' || c == '/' || c >= 0x80)) return true;
    }
    return false;
}

std::string quoted(const std::string& text) {
    if (!needsQuotes(text)) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

std::string printedValue(const foundation::Value& value, int indent);

std::string pad(int indent) { return std::string(static_cast<size_t>(indent) * 4, ' '); }

std::string printedValue(const foundation::Value& value, int indent) {
    if (const auto* dict = value.ifDictionary()) {
        std::string out = "{\n";
        for (const auto& [key, item] : *dict) {
            out += pad(indent + 1) + quoted(key.description()) + " = " + printedValue(item, indent + 1) + ";\n";
        }
        return out + pad(indent) + "}";
    }
    if (const auto* list = value.ifArray()) {
        std::string out = "(\n";
        for (size_t i = 0; i < list->size(); ++i) {
            out += pad(indent + 1) + printedValue((*list)[i], indent + 1);
            out += i + 1 < list->size() ? ",\n" : "\n";
        }
        return out + pad(indent) + ")";
    }
    if (const auto* text = value.ifString()) return quoted(*text);
    if (value.isBool()) return value.boolValue() ? "1" : "0";
    return value.stringValue(value.description());
}

std::string symbolLine(size_t index, uint64_t address) {
    Dl_info info{};
    std::string module = "???";
    std::string symbol;
    uint64_t offset = 0;
    if (dladdr(reinterpret_cast<void*>(address), &info) != 0) {
        if (info.dli_fname && *info.dli_fname) {
            const char* slash = std::strrchr(info.dli_fname, '/');
            module = slash ? slash + 1 : info.dli_fname;
        }
        if (info.dli_sname) {
            symbol = info.dli_sname;
            offset = address - reinterpret_cast<uint64_t>(info.dli_saddr);
        } else if (info.dli_fbase) {
            offset = address - reinterpret_cast<uint64_t>(info.dli_fbase);
        }
    }
    if (symbol.empty())
        symbol = "0x" + [&] {
            char b[32];
            std::snprintf(b, sizeof b, "%llx", static_cast<unsigned long long>(address - offset));
            return std::string(b);
        }();
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%-4zu%-35s 0x%016llx %s + %llu", index, module.c_str(),
                  static_cast<unsigned long long>(address), symbol.c_str(), static_cast<unsigned long long>(offset));
    return buffer;
}

}  // namespace

std::string zivoPrintedArray(const std::vector<std::string>& items) {
    foundation::Array list;
    for (const auto& item : items) list.emplace_back(item);
    return printedValue(foundation::Value(std::move(list)), 0);
}

std::string zivoPrintedDictionary(const foundation::Dictionary& dict) {
    return printedValue(foundation::Value(dict), 0);
}

std::vector<std::string> zivoSymbolsForAddresses(const std::vector<uint64_t>& addresses) {
    std::vector<std::string> lines;
    lines.reserve(addresses.size());
    for (size_t i = 0; i < addresses.size(); ++i) lines.push_back(symbolLine(i, addresses[i]));
    return lines;
}

std::vector<std::string> zivoCallStackSymbols(size_t skip) {
    void* frames[128];
    int count = backtrace(frames, 128);
    std::vector<uint64_t> addresses;
    // The first entry is this function itself.
    for (int i = 1 + static_cast<int>(skip); i < count; ++i) addresses.push_back(reinterpret_cast<uint64_t>(frames[i]));
    return zivoSymbolsForAddresses(addresses);
}

ZIVOExceptionModel::Frames ZIVOExceptionModel::loadStackTrace(const std::vector<std::string>& symbols) {
    static constexpr std::string_view kSeparators = " -[]+?.,";
    Frames frames;
    for (const auto& line : symbols) {
        std::vector<std::string> pieces;
        std::string current;
        for (char c : line) {
            if (kSeparators.find(c) != std::string_view::npos) {
                if (!current.empty()) pieces.push_back(std::move(current));
                current.clear();
            } else {
                current += c;
            }
        }
        if (!current.empty()) pieces.push_back(std::move(current));
        if (pieces.size() < 6) continue;
        auto frame = std::make_shared<ZIVOStackFrame>();
        frame->setFileName(pieces[1]);
        frame->setAddress(pieces[2]);
        frame->setClassName(pieces[3]);
        frame->setMethodName(pieces[4]);
        frames.push_back(std::move(frame));
    }
    return frames;
}

std::shared_ptr<ZIVOExceptionModel> ZIVOExceptionModel::initWithError(const foundation::Error& error) {
    auto model = std::make_shared<ZIVOExceptionModel>();
    if (!error.domain.empty()) model->setType(error.domain);
    if (!error.userInfo.empty()) model->setMessage(zivoPrintedDictionary(error.userInfo));
    auto symbols = zivoCallStackSymbols(1);
    model->setStackTrace(zivoPrintedArray(symbols));
    model->setFrames(loadStackTrace(symbols));
    return model;
}

std::shared_ptr<ZIVOExceptionModel> ZIVOExceptionModel::initWithException(const kernel::PlatformException& exception) {
    auto model = std::make_shared<ZIVOExceptionModel>();
    model->setType(exception.name);
    model->setMessage(exception.reason);
    if (!exception.callStackReturnAddresses.empty()) {
        auto symbols = zivoSymbolsForAddresses(exception.callStackReturnAddresses);
        model->setStackTrace(zivoPrintedArray(symbols));
        model->setFrames(loadStackTrace(symbols));
    } else {
        model->setFrames(loadStackTrace(zivoCallStackSymbols(1)));
    }
    return model;
}

std::shared_ptr<ZIVOExceptionModel>
ZIVOExceptionModel::initWithType(std::optional<std::string> type, std::optional<std::string> exceptionMessage,
                                 std::optional<std::vector<std::string>> stackTrace) {
    auto model = std::make_shared<ZIVOExceptionModel>();
    model->setType(std::move(type));
    model->setMessage(std::move(exceptionMessage));
    std::vector<std::string> symbols = stackTrace ? std::move(*stackTrace) : zivoCallStackSymbols(1);
    model->setStackTrace(zivoPrintedArray(symbols));
    model->setFrames(loadStackTrace(symbols));
    return model;
}

foundation::Dictionary ZIVOExceptionModel::serializeToDictionary() const {
    foundation::Dictionary dict;
    zivoSetIfPresent(dict, "type", type_);
    zivoSetIfPresent(dict, "message", message_);
    zivoSetIfPresent(dict, "stackTrace", stackTrace_);
    if (frames_) {
        foundation::Array list;
        for (const auto& frame : *frames_)
            if (frame) list.emplace_back(frame->serializeToDictionary());
        dict.set("frames", std::move(list));
    }
    return dict;
}

void ZIVOExceptionModel::logInvalidField(const std::string& field) const {
    std::string name = className();
    ZIVOLogVerbose(kZIVOCrashesLogTag, name + ": \"" + field + "\" is not valid.");
}

bool ZIVOExceptionModel::isValid() const {
    if (!type_) {
        logInvalidField("type");
        return false;
    }
    if (!frames_ || frames_->empty()) {
        logInvalidField("frames");
        return false;
    }
    return true;
}

bool ZIVOExceptionModel::isEqual(const ZIVOSerializableObject& other) const {
    const auto* model = dynamic_cast<const ZIVOExceptionModel*>(&other);
    return model && type_ == model->type_ && message_ == model->message_ && stackTrace_ == model->stackTrace_ &&
           zivoListsEqual(frames_, model->frames_);
}

void ZIVOExceptionModel::encode(foundation::Coder& coder) const {
    zivoEncodeIfPresent(coder, "type", type_);
    zivoEncodeIfPresent(coder, "message", message_);
    zivoEncodeIfPresent(coder, "stackTrace", stackTrace_);
    if (frames_) coder.encodeArray("frames", *frames_);
}

void ZIVOExceptionModel::decodeFields(foundation::Decoder& decoder) {
    type_ = decoder.decodeString("type");
    message_ = decoder.decodeString("message");
    stackTrace_ = decoder.decodeString("stackTrace");
    frames_ = decoder.decodeArray<ZIVOStackFrame>("frames");
}

std::shared_ptr<ZIVOExceptionModel> ZIVOExceptionModel::decode(foundation::Decoder& decoder) {
    auto model = std::make_shared<ZIVOExceptionModel>();
    model->decodeFields(decoder);
    return model;
}
