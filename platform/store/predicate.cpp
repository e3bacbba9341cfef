#include "platform/store/predicate.h"

#include "platform/store/predicate_internal.h"

namespace store {

using foundation::Array;

foundation::Result<Predicate> Predicate::parse(std::string_view format, const Array& arguments) {
    auto node = detail::parsePredicate(format, arguments);
    if (!node) return node.error();
    return Predicate(std::make_shared<const PredicateNode>(std::move(node.value())));
}

Predicate Predicate::fromNode(PredicateNode node) {
    return Predicate(std::make_shared<const PredicateNode>(std::move(node)));
}

Predicate Predicate::truePredicate() { return fromNode(PredicateNode{}); }

}  // namespace store
