#include <gtest/gtest.h>

#include "platform/store/predicate.h"
#include "platform/store/sql_plan.h"
#include "tests/platform/store/store_test_support.h"

namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;
using store::Predicate;

bool eval(const std::string& format, const Value& object, const Array& args = {}) {
    auto p = Predicate::parse(format, args);
    EXPECT_TRUE(p.ok()) << format << ": " << (p.ok() ? "" : p.error().description());
    return p.ok() && p->evaluate(object);
}

TEST(Predicate, TextAgainstAnInListMatchesWholeTextsOnly) {
    Value row =
        Dictionary{{"id", "t42"}, {"name", "Zo\u00eb"}, {"type", 10}, {"tags", Array{Value("x"), Value("t42")}}};
    // Long lists are looked up through an index, short ones walked: both must answer alike.
    Array ids, others, upper, mixed;
    for (int i = 0; i < 1000; ++i) {
        ids.emplace_back("t" + std::to_string(i * 2));
        others.emplace_back("t" + std::to_string(i * 2 + 1));
        upper.emplace_back("T" + std::to_string(i * 2));
    }
    mixed = others;
    mixed.emplace_back(10);
    struct Case {
        const char* format;
        Array list;
        bool expected;
    };
    const Case cases[] = {
        {"id IN %@", ids, true},
        {"NOT (id IN %@)", ids, false},
        {"id IN %@", Array{Value("t4"), Value("t420"), Value("42")}, false},  // whole texts only
        {"id IN %@", Array{Value(42), Value(Array{Value("t42")}), Value("t42")}, true},
        {"id IN %@", Array{}, false},
        {"id IN[c] %@", Array{Value("T42")}, true},
        {"id IN %@", Array{Value("T42")}, false},
        {"name IN[cd] %@", Array{Value("zoe")}, true},
        {"type IN %@", Array{Value("10"), Value(10)}, true},
        {"id IN %@", others, false},
        {"id IN[c] %@", upper, true},
        {"id IN %@", upper, false},
        {"type IN %@", ids, false},
        {"type IN %@", mixed, true},
        {"missing IN %@", ids, false},
        {"ANY tags IN %@", ids, true},
        {"ALL tags IN %@", ids, false},
        {"NONE tags IN %@", others, true},
        {"id IN %@ AND NOT (name IN %@)", ids, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(eval(c.format, row, {Value(c.list), Value(c.list)}), c.expected) << c.format << " " << c.list.size();
}

TEST(Predicate, ComparisonOperatorsOnDictionaries) {
    Value row = Dictionary{{"type", 10}, {"name", "Zoë Smith"}, {"isRead", false}, {"score", 2.5}, {"note", Value()}};
    EXPECT_TRUE(eval("type == 10", row));
    EXPECT_TRUE(eval("type = 10", row));
    EXPECT_TRUE(eval("type != 11", row));
    EXPECT_TRUE(eval("type <> 11", row));
    EXPECT_TRUE(eval("type < 11 AND type <= 10 AND type > 9 AND type >= 10 AND type =< 10 AND type => 10", row));
    EXPECT_FALSE(eval("type < 10", row));
    EXPECT_TRUE(eval("type IN {1, 10}", row));
    EXPECT_TRUE(eval("type IN %@", row, {Value(Array{Value(2), Value(10)})}));
    EXPECT_TRUE(eval("type NOT IN %@", row, {Value(Array{Value(2), Value(11)})}));
    EXPECT_FALSE(eval("NOT type IN {10}", row));
    EXPECT_TRUE(eval("score BETWEEN {2, 3}", row));
    EXPECT_TRUE(eval("type BETWEEN %@", row, {Value(Array{Value(10), Value(10)})}));  // inclusive
    EXPECT_TRUE(eval("isRead == NO AND isRead = FALSE AND NOT isRead == YES", row));
    EXPECT_TRUE(eval("note == nil AND note = NULL", row));
    EXPECT_FALSE(eval("note < 5 OR note > 5", row));  // ordering against nothing is false
    EXPECT_TRUE(eval("name CONTAINS 'Smith' AND name BEGINSWITH \"Zo\" AND name ENDSWITH 'th'", row));
    EXPECT_FALSE(eval("name CONTAINS 'smith'", row));
    EXPECT_TRUE(eval("name CONTAINS[c] 'SMITH'", row));
    EXPECT_FALSE(eval("name BEGINSWITH[c] 'zoe'", row));
    EXPECT_TRUE(eval("name BEGINSWITH[cd] 'zoe'", row));
    EXPECT_TRUE(eval("name BEGINSWITH[d] 'Zoe'", row));
    EXPECT_TRUE(eval("name LIKE 'Z?? *'", row));
    EXPECT_TRUE(eval("name LIKE[cd] 'zoe*'", row));
    EXPECT_FALSE(eval("name LIKE 'Z?'", row));
    EXPECT_TRUE(eval("(type == 1 OR type == 10) && !(isRead == YES) || FALSEPREDICATE", row));
    EXPECT_TRUE(eval("TRUEPREDICATE", row));
    EXPECT_TRUE(eval("%K == %@", row, {Value("type"), Value(10)}));
    EXPECT_TRUE(eval("type == %d AND score > %f", row, {Value(10), Value(1.5)}));
}

TEST(Predicate, KeyPathsCollectionsAndModifiers) {
    Value attachment = Dictionary{{"id", "a1"},
                                  {"imageMetaData", Array{Value(Dictionary{{"sizeSpec", "s512"}, {"width", 512}}),
                                                          Value(Dictionary{{"size_spec", "s64"}, {"width", 64}})}}};
    EXPECT_TRUE(eval("ANY imageMetaData.width > 500", attachment));
    EXPECT_FALSE(eval("ALL imageMetaData.width > 500", attachment));
    EXPECT_TRUE(eval("NONE imageMetaData.width > 600", attachment));
    EXPECT_TRUE(eval("SOME imageMetaData.sizeSpec == 's512'", attachment));
    EXPECT_TRUE(eval("imageMetaData.width CONTAINS 64", attachment));
    Value spec = Dictionary{{"size_spec", "s64"}};
    EXPECT_TRUE(eval("sizeSpec==%@ OR size_spec==%@", spec, {Value("s64"), Value("s64")}));
    EXPECT_TRUE(eval("'a' IN 'cat'", spec));
    EXPECT_TRUE(eval("#size_spec == 's64'", spec));
}

TEST(Predicate, SubstitutionVariables) {
    auto p = Predicate::parse("type IN $TYPELIST AND lastdate BETWEEN {$FIRST, $LAST} AND name != $NAME");
    ASSERT_TRUE(p.ok());
    EXPECT_TRUE(p->hasVariables());
    auto missing = p->withSubstitutionVariables(Dictionary{{"TYPELIST", Value(Array{Value(10)})}});
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().localizedDescription().find("$FIRST"), std::string::npos);
    auto s = p->withSubstitutionVariables(Dictionary{{"TYPELIST", Value(Array{Value(10)})},
                                                     {"FIRST", foundation::Date{100}},
                                                     {"LAST", foundation::Date{200}},
                                                     {"NAME", "x"}});
    ASSERT_TRUE(s.ok());
    EXPECT_FALSE(s->hasVariables());
    Value row = Dictionary{{"type", 10}, {"lastdate", foundation::Date{150}}, {"name", "y"}};
    EXPECT_TRUE(s->evaluate(row));
    // Substituted aggregates become plain constants, as if written out.
    auto written = Predicate::parse(
        "type IN {10} AND lastdate BETWEEN {CAST(100, \"NSDate\"), CAST(200, \"NSDate\")} AND name != 'x'");
    ASSERT_TRUE(written.ok());
    EXPECT_EQ(s.value(), written.value());
}

TEST(Predicate, FormatParsesBackToTheSamePredicate) {
    for (const char* text : {
             "isTrash == NO AND isSpam == NO AND type IN %@",
             "ANY Messages.message contains[cd] %@",
             "NOT (a < -1.5e3 OR b BEGINSWITH[c] 'x\"y') AND c LIKE[d] \"*?\" AND #in == 0x1F",
             "ALL x.y >= CAST(12.25, 'NSDate') OR NONE z ENDSWITH 'q' OR TRUEPREDICATE",
             "entity.name == 'HX_Message' AND Conversation.isRead == NO",
             "lastdate BETWEEN {$FIRSTMESSAGE, $LASTMESSAGE} AND SELF != nil",
         }) {
        auto p = Predicate::parse(text, {Value(Array{Value(1), Value("two")})});
        ASSERT_TRUE(p.ok()) << text << ": " << p.error().description();
        auto again = Predicate::parse(p->format());
        ASSERT_TRUE(again.ok()) << p->format();
        EXPECT_EQ(p.value(), again.value()) << text << " -> " << p->format();
    }
}

TEST(Predicate, BadFormatsGiveErrorsNotCrashes) {
    for (const char* text :
         {"", "type ==", "== 3", "(a == 1", "a == 'open", "a ==[x] 1", "a MATCHES 'x'", "a == %@", "a IN {1, 2",
          "a == $", "a.b. == 1", "AND", "a == 1 b == 2", "a == CAST(1, 'NSString')", "a < %z", "%K == 1", "a == 1 )"}) {
        auto p = Predicate::parse(text);
        EXPECT_FALSE(p.ok()) << text;
        if (!p.ok()) {
            EXPECT_EQ(p.error().code, store::kInvalidRequestError);
        }
    }
    std::string deep(5000, '(');
    EXPECT_FALSE(Predicate::parse(deep + "a == 1" + std::string(5000, ')')).ok());
    std::string nots;
    for (int i = 0; i < 5000; ++i) nots += "NOT ";
    EXPECT_FALSE(Predicate::parse(nots + "a == 1").ok());
}

TEST(Predicate, StringFoldingCoversUnicode) {
    using store::ComparisonOp;
    EXPECT_TRUE(store::compareStrings(ComparisonOp::Equal, store::CaseInsensitive, "STRASSE", "strasse"));
    EXPECT_TRUE(store::compareStrings(ComparisonOp::Contains, store::CaseInsensitive | store::DiacriticInsensitive,
                                      "Crème Brûlée", "BRULEE"));
    EXPECT_FALSE(store::compareStrings(ComparisonOp::Contains, store::CaseInsensitive, "Crème Brûlée", "BRULEE"));
    EXPECT_TRUE(store::compareStrings(ComparisonOp::Equal, store::CaseInsensitive, "ΣΊΣΥΦΟΣ", "σίσυφος"));
    EXPECT_TRUE(store::compareStrings(ComparisonOp::Like, 0, "日本語テキスト", "日本?*"));
}

// ---- SQL and memory agree

class PredicateAgreement : public ::testing::Test {
protected:
    hxtest::TempDir dir;
    store::CoordinatorPtr coordinator;
    store::ContextPtr context;

    void SetUp() override {
        coordinator = storetest::openStore((dir / "agree.sqlite").string());
        context = store::Context::create(store::ConcurrencyType::MainQueue, dispatch::Queue::main());
        context->setPersistentStoreCoordinator(coordinator);
        const char* names[] = {"Zoë Adams", "zoe adams", "ZOE",  "Émile",     "emile",
                               "",          "Bob",       "Ågot", "bob smith", "Günther"};
        const char* numbers[] = {"+15551234", "+15559999|+15551234", "Unknown", "5551234", "+4420"};
        for (int i = 0; i < 60; ++i) {
            auto c = context->insertNewObject("HX_Conversation").value();
            c->setValue("conversationID", "c" + std::to_string(i)).ok();
            if (i % 7 != 3) c->setValue("sender", names[i % 10]).ok();
            if (i % 5 != 1) c->setValue("phoneNumber", numbers[i % 5]).ok();
            c->setValue("type", i % 12).ok();
            c->setValue("isRead", i % 3 == 0).ok();
            c->setValue("isSpam", i % 11 == 0).ok();
            if (i % 9 != 4) c->setValue("lastdate", foundation::Date{1000.0 + (i * 37) % 50}).ok();
            if (i % 4 != 2) c->setValue("score", (i % 6) * 0.5).ok();
            if (i % 6 == 1) c->setValue("ABName", std::string(names[(i + 3) % 10]) + "\u00a0(mobile)").ok();
            for (int k = 0; k < i % 4; ++k) {
                auto m = context->insertNewObject("HX_Message").value();
                m->setValue("message", k % 2 ? "Hello Wörld" : "bye").ok();
                m->setValue("number", int64_t(i) * 1000 + k).ok();
                if (k == 1) m->setValue("isIndexedForSearch", true).ok();
                m->setObject("Conversation", c).ok();
            }
        }
        ASSERT_TRUE(context->save().ok());
    }

    // The conversation ids a fetch selects; sorted for comparison.
    std::vector<std::string> viaSql(const std::string& entity, const Predicate& p) {
        store::FetchRequest r(entity);
        r.predicate = p;
        auto objects = context->fetch(r);
        EXPECT_TRUE(objects.ok()) << (objects.ok() ? "" : objects.error().description());
        return ids(objects.ok() ? objects.value() : std::vector<store::ManagedObjectPtr>{});
    }
    std::vector<std::string> viaMemory(const std::string& entity, const Predicate& p) {
        auto all = context->fetch(store::FetchRequest(entity));
        EXPECT_TRUE(all.ok());
        auto bound = store::bindPredicate(p, *coordinator->model().entityNamed(entity));
        EXPECT_TRUE(bound.ok());
        std::vector<store::ManagedObjectPtr> kept;
        for (const auto& o : all.value())
            if (bound->evaluate(o->keyValueSource())) kept.push_back(o);
        return ids(kept);
    }
    static std::vector<std::string> ids(const std::vector<store::ManagedObjectPtr>& objects) {
        std::vector<std::string> out;
        for (const auto& o : objects) out.push_back(o->objectID()->uriRepresentation());
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(PredicateAgreement, EveryOperatorGivesTheSameRowsInSqlAndInMemory) {
    struct Case {
        const char* entity;
        const char* format;
        Array args;
    };
    const Array types{Value(0), Value(2), Value(10), Value(11)};
    std::vector<Case> cases = {
        {"HX_Conversation", "type == 10", {}},
        {"HX_Conversation", "type != 10", {}},
        {"HX_Conversation", "type < 4", {}},
        {"HX_Conversation", "type <= 4 AND type >= 2", {}},
        {"HX_Conversation", "type > 4", {}},
        {"HX_Conversation", "type IN %@", {Value(types)}},
        {"HX_Conversation", "type NOT IN %@", {Value(types)}},
        {"HX_Conversation", "type IN {}", {}},
        {"HX_Conversation", "type == '10'", {}},
        {"HX_Conversation", "score BETWEEN {0.5, 1.5}", {}},
        {"HX_Conversation", "NOT (score BETWEEN {0.5, 1.5})", {}},
        {"HX_Conversation",
         "lastdate BETWEEN %@",
         {Value(Array{Value(foundation::Date{1010}), Value(foundation::Date{1030})})}},
        {"HX_Conversation", "lastdate > %@", {foundation::Date{1025}}},
        {"HX_Conversation", "NOT (lastdate > %@)", {foundation::Date{1025}}},
        {"HX_Conversation", "lastdate == nil", {}},
        {"HX_Conversation", "score != nil AND score < 1", {}},
        {"HX_Conversation", "NOT score < 1", {}},
        {"HX_Conversation", "isRead == NO", {}},
        {"HX_Conversation", "isRead == YES OR isSpam == YES", {}},
        {"HX_Conversation", "NOT isRead == YES", {}},
        {"HX_Conversation", "sender == 'ZOE'", {}},
        {"HX_Conversation", "sender ==[c] 'zoe'", {}},
        {"HX_Conversation", "sender !=[cd] 'emile'", {}},
        {"HX_Conversation", "sender <[c] 'c'", {}},
        {"HX_Conversation", "sender > 'Z'", {}},
        {"HX_Conversation", "sender CONTAINS 'oe'", {}},
        {"HX_Conversation", "sender CONTAINS[c] 'ADAMS'", {}},
        {"HX_Conversation", "sender CONTAINS[d] 'Zoe'", {}},
        {"HX_Conversation", "sender CONTAINS[cd] 'zoe'", {}},
        {"HX_Conversation", "NOT sender CONTAINS[cd] 'zoe'", {}},
        {"HX_Conversation", "sender BEGINSWITH[cd] 'e'", {}},
        {"HX_Conversation", "sender ENDSWITH 'ams'", {}},
        {"HX_Conversation", "sender LIKE[c] '*o?*'", {}},
        {"HX_Conversation", "sender IN[c] {'bob', 'zoe'}", {}},
        {"HX_Conversation", "sender IN 'Zoë Adams and more'", {}},
        {"HX_Conversation", "phoneNumber CONTAINS %@", {Value("+15551234")}},
        {"HX_Conversation", "phoneNumber == %@ AND ABName != %@", {Value("+15551234"), Value("")}},
        {"HX_Conversation", "sender == nil OR phoneNumber == nil", {}},
        {"HX_Conversation", "ANY Messages.message contains[cd] %@", {Value("WORLD")}},
        {"HX_Conversation", "NONE Messages.message == 'bye'", {}},
        {"HX_Conversation", "ANY Messages.number > 30000 AND NOT (ANY Messages.isIndexedForSearch == YES)", {}},
        {"HX_Conversation", "ALL Messages.message == 'bye'", {}},
        {"HX_Conversation",
         "isTrash == NO AND isSpam == NO AND type IN %@ AND (sender contains[cd] %@ OR ABName "
         "contains[cd] %@)",
         {Value(types), Value("ad"), Value("ad")}},
        {"HX_Message", "Conversation.conversationID == %@", {Value("c13")}},
        {"HX_Message", "Conversation.isRead == NO AND from == NO", {}},
        {"HX_Message", "entity.name == 'HX_Message' AND Conversation.isRead == NO", {}},
        {"HX_Message", "entity.name == 'HX_Conversation'", {}},
        {"HX_Message", "isIndexedForSearch != YES", {}},
        {"HX_Message", "Conversation == nil OR Conversation.type >= 6", {}},
        {"HX_Message", "number BETWEEN {5000, 20001}", {}},
        {"HX_Message", "NOT (Conversation.sender BEGINSWITH[cd] 'zo')", {}},
    };
    size_t discriminating = 0;
    auto total = [&](const char* entity) { return context->count(store::FetchRequest(entity)).value(); };
    for (const auto& c : cases) {
        auto p = Predicate::parse(c.format, c.args);
        ASSERT_TRUE(p.ok()) << c.format << ": " << p.error().description();
        auto bound = store::bindPredicate(*p, *coordinator->model().entityNamed(c.entity));
        ASSERT_TRUE(bound.ok()) << c.format;
        auto plan = store::planQuery(*coordinator->model().entityNamed(c.entity), bound.value(), {});
        bool memoryOnly = std::string(c.format).find("ALL ") != std::string::npos;
        EXPECT_EQ(plan.residual.has_value(), memoryOnly) << c.format << " where: " << plan.where;
        auto sql = viaSql(c.entity, *p);
        auto memory = viaMemory(c.entity, *p);
        EXPECT_EQ(sql, memory) << c.format << " where: " << plan.where;
        if (!sql.empty() && sql.size() < total(c.entity)) ++discriminating;
    }
    // The data must make the cases bite: most select some rows but not all.
    EXPECT_GE(discriminating, cases.size() - 4);
}

TEST_F(PredicateAgreement, UnknownKeysAreRejected) {
    store::FetchRequest r("HX_Conversation");
    r.predicate = Predicate::parse("nosuchKey == 1").value();
    auto result = context->fetch(r);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code, store::kInvalidRequestError);
}

TEST_F(PredicateAgreement, SortLimitAndOffsetMatchAHandWrittenQuery) {
    store::FetchRequest r("HX_Conversation");
    r.predicate = Predicate::parse("type IN {0, 2, 4, 6, 8}").value();
    r.sortDescriptors = {{"lastdate", false}, {"sender", true}};
    r.fetchLimit = 7;
    r.fetchOffset = 3;
    auto objects = context->fetch(r);
    ASSERT_TRUE(objects.ok());
    std::string got;
    for (const auto& o : objects.value()) got += o->value("conversationID").asString() + "\n";
    std::string expected = storetest::sqlite(
        (dir / "agree.sqlite").string(),
        "SELECT conversationID FROM HX_Conversation WHERE type IN (0,2,4,6,8) ORDER BY lastdate DESC, sender ASC, "
        "Z_PK LIMIT 7 OFFSET 3");
    EXPECT_EQ(got, expected + "\n");
    // The same order comes out of the in-memory sort once pending changes force it.
    auto extra = context->insertNewObject("HX_Message").value();
    (void)extra;
    auto sortedByMessage = context->fetch(r);
    ASSERT_TRUE(sortedByMessage.ok());
    EXPECT_EQ(sortedByMessage.value(), objects.value());
    auto c = context->insertNewObject("HX_Conversation").value();
    c->setValue("type", 2).ok();
    c->setValue("lastdate", foundation::Date{5000}).ok();
    r.fetchOffset = 0;
    r.fetchLimit = 1;
    auto first = context->fetch(r);
    ASSERT_TRUE(first.ok());
    ASSERT_EQ(first->size(), 1u);
    EXPECT_EQ(first->at(0), c);
    context->rollback();
}

}  // namespace
