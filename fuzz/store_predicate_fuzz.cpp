// Predicate formats: parsing never crashes; what parses prints back to text that parses to the
// same tree; evaluation, substitution and SQL planning of any parsed tree are safe.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/store/model.h"
#include "platform/store/predicate.h"
#include "platform/store/sql_plan.h"

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

namespace {

const store::Model& model() {
    static store::Model* m = [] {
        auto* model = new store::Model;
        model->entity("C")
            .attribute("name", store::AttributeType::String)
            .attribute("type", store::AttributeType::Integer32)
            .attribute("when", store::AttributeType::Date)
            .attribute("flag", store::AttributeType::Boolean)
            .attribute("blob", store::AttributeType::Transformable)
            .toMany("items", "M", "owner");
        model->entity("M").attribute("text", store::AttributeType::String).toOne("owner", "C", "items");
        (void)model->finish();
        return model;
    }();
    return *m;
}

// Dictionaries and data have no literal form in the format language.
bool printable(const Value& v) {
    if (v.isDictionary() || v.isData()) return false;
    for (const auto& e : v.asArray())
        if (!printable(e)) return false;
    return true;
}

bool printable(const store::Expression& e) {
    if (!printable(e.constant)) return false;
    for (const auto& el : e.elements)
        if (!printable(el)) return false;
    return true;
}

bool printable(const store::PredicateNode& n) {
    for (const auto& c : n.children)
        if (!printable(c)) return false;
    return printable(n.lhs) && printable(n.rhs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const Array args{Value("name"),
                     Value(Array{Value(1), Value("x")}),
                     Value(3.5),
                     Value(Dictionary{{"k", 1}}),
                     Value(foundation::Date{10}),
                     Value()};
    auto parsed = store::Predicate::parse(text, args);
    if (!parsed) return 0;
    auto again = store::Predicate::parse(parsed->format());
    if (printable(parsed->root()) && (!again || !(again.value() == parsed.value()))) std::abort();
    Value object = Dictionary{{"name", "Zoë"}, {"type", 2}, {"items", Array{Value(Dictionary{{"text", "a"}})}}};
    (void)parsed->evaluate(object);
    Dictionary vars{{"A", 1}, {"B", Array{Value("x")}}, {"TYPELIST", Array{Value(1), Value(2)}}};
    if (auto s = parsed->withSubstitutionVariables(vars)) (void)s->evaluate(object);
    for (const char* entity : {"C", "M"}) {
        auto bound = store::bindPredicate(parsed.value(), *model().entityNamed(entity));
        if (bound) (void)store::planQuery(*model().entityNamed(entity), bound.value(), {{"name", true}});
    }
    return 0;
}
