// Keyed archives from disk caches, preferences and the telemetry store: decoding must fail
// cleanly (bad references, cycles, wrong types, unknown classes, deep nesting) or give objects
// that archive again.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/foundation/keyed_archiver.h"

namespace {

using namespace foundation;

struct FuzzNode : Archivable {
    std::string name;
    int64_t number = 0;
    bool flag = false;
    double real = 0;
    Value extra;
    std::shared_ptr<FuzzNode> child;
    std::vector<std::shared_ptr<FuzzNode>> list;
    std::vector<std::pair<Key, std::shared_ptr<FuzzNode>>> table;

    std::string className() const override { return "FuzzNode"; }
    void encode(Coder& c) const override {
        c.encodeString("name", name);
        c.encodeInt64("number", number);
        c.encodeBool("flag", flag);
        c.encodeDouble("real", real);
        c.encodeValue("extra", extra);
        c.encodeObject("child", child);
        c.encodeArray("list", list);
        c.encodeDictionary("table", table);
    }
    static std::shared_ptr<FuzzNode> decode(Decoder& d) {
        auto n = std::make_shared<FuzzNode>();
        n->name = d.decodeString("name").value_or("");
        n->number = d.decodeInt32("number", -1);
        n->flag = d.containsValue("flag") ? d.decodeBool("flag") : true;
        n->real = d.decodeDouble("real");
        n->extra = d.decodeValue("extra");
        (void)d.decodeData("data");
        (void)d.decodeDate("date");
        n->child = d.decodeObject<FuzzNode>("child");
        n->list = d.decodeArray<FuzzNode>("list").value_or(std::vector<std::shared_ptr<FuzzNode>>{});
        n->table = d.decodeDictionary<FuzzNode>("table").value_or(decltype(n->table){});
        return n;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::once_flag once;
    std::call_once(once, [] { ArchiveClassRegistry::shared().registerClass<FuzzNode>("FuzzNode"); });
    Data bytes(data, data + size);
    auto any = unarchivedAny(bytes);
    (void)unarchivedValue(bytes);
    UnarchiveOptions secure;
    secure.allowedClasses = std::set<std::string>{"FuzzNode", "NSString", "NSNumber", "NSArray", "NSDictionary"};
    secure.classNameMap = {{"OldNode", "FuzzNode"}};
    (void)unarchivedObject<FuzzNode>(bytes, secure);
    if (any.ok() && any->object) {
        // A decoded graph is acyclic and well-typed, so it must archive again (a decoded
        // object shared in several places may hold extra values the encoder refuses, such as
        // nulls inside containers; those are refusals, not crashes).
        (void)archivedData(*any->object);
    }
    return 0;
}
