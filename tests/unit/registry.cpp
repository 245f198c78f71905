// The datatype registry: names, parents, handler inheritance and action words.
#include "datatypes/registry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <map>

#include "datatypes/type_hooks.h"
#include "runtime/startup.h"
#include "services/output.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::form_text;
using test::mold_text;

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { init_through(StartLayer::datatypes); }
};

TEST_F(Registry, EveryTypeRegisteredWithNameAndParent) {
  struct Expect {
    TypeId id;
    const char* name;
    TypeId parent;
  };
  // Written out from the type table, independently of the registration code.
  const Expect table[] = {
      {TYPE_DATATYPE, "datatype!", TYPE_NONE_ID},
      {TYPE_UNSET, "unset!", TYPE_NONE_ID},
      {TYPE_NONE, "none!", TYPE_NONE_ID},
      {TYPE_LOGIC, "logic!", TYPE_NONE_ID},
      {TYPE_BLOCK, "block!", TYPE_SERIES},
      {TYPE_PAREN, "paren!", TYPE_BLOCK},
      {TYPE_STRING, "string!", TYPE_SERIES},
      {TYPE_FILE, "file!", TYPE_URL},
      {TYPE_URL, "url!", TYPE_STRING},
      {TYPE_CHAR, "char!", TYPE_INTEGER},
      {TYPE_INTEGER, "integer!", TYPE_NONE_ID},
      {TYPE_FLOAT, "float!", TYPE_NONE_ID},
      {TYPE_SYMBOL, "symbol!", TYPE_NONE_ID},
      {TYPE_CONTEXT, "context!", TYPE_NONE_ID},
      {TYPE_WORD, "word!", TYPE_SYMBOL},
      {TYPE_SET_WORD, "set-word!", TYPE_WORD},
      {TYPE_LIT_WORD, "lit-word!", TYPE_WORD},
      {TYPE_GET_WORD, "get-word!", TYPE_WORD},
      {TYPE_REFINEMENT, "refinement!", TYPE_WORD},
      {TYPE_ISSUE, "issue!", TYPE_WORD},
      {TYPE_NATIVE, "native!", TYPE_NONE_ID},
      {TYPE_ACTION, "action!", TYPE_NATIVE},
      {TYPE_OP, "op!", TYPE_NATIVE},
      {TYPE_FUNCTION, "function!", TYPE_CONTEXT},
      {TYPE_PATH, "path!", TYPE_BLOCK},
      {TYPE_LIT_PATH, "lit-path!", TYPE_PATH},
      {TYPE_SET_PATH, "set-path!", TYPE_PATH},
      {TYPE_GET_PATH, "get-path!", TYPE_PATH},
      {TYPE_ROUTINE, "routine!", TYPE_FUNCTION},
      {TYPE_BITSET, "bitset!", TYPE_NONE_ID},
      {TYPE_TRIPLE, "triple!", TYPE_NONE_ID},
      {TYPE_OBJECT, "object!", TYPE_NONE_ID},
      {TYPE_TYPESET, "typeset!", TYPE_NONE_ID},
      {TYPE_ERROR, "error!", TYPE_OBJECT},
      {TYPE_VECTOR, "vector!", TYPE_STRING},
      {TYPE_HASH, "hash!", TYPE_BLOCK},
      {TYPE_PAIR, "pair!", TYPE_NONE_ID},
      {TYPE_PERCENT, "percent!", TYPE_FLOAT},
      {TYPE_TUPLE, "tuple!", TYPE_NONE_ID},
      {TYPE_MAP, "map!", TYPE_NONE_ID},
      {TYPE_BINARY, "binary!", TYPE_STRING},
      {TYPE_SERIES, "series!", TYPE_NONE_ID},
      {TYPE_TIME, "time!", TYPE_FLOAT},
      {TYPE_TAG, "tag!", TYPE_STRING},
      {TYPE_EMAIL, "email!", TYPE_STRING},
      {TYPE_HANDLE, "handle!", TYPE_INTEGER},
      {TYPE_DATE, "date!", TYPE_NONE_ID},
      {TYPE_PORT, "port!", TYPE_OBJECT},
      {TYPE_MONEY, "money!", TYPE_NONE_ID},
      {TYPE_REF, "ref!", TYPE_STRING},
      {TYPE_POINT2D, "point2D!", TYPE_NONE_ID},
      {TYPE_POINT3D, "point3D!", TYPE_NONE_ID},
      {TYPE_IMAGE, "image!", TYPE_SERIES},
  };
  ASSERT_EQ(std::size(table), 53u);
  for (const Expect& e : table) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(type_name(e.id), e.name);
    EXPECT_EQ(type_record(e.id).parent, e.parent);
    EXPECT_EQ(type_record(e.id).length, static_cast<int32_t>(std::strlen(e.name)) - 1);
  }
  EXPECT_EQ(type_record(TYPE_DATATYPE).length, 8);
  EXPECT_EQ(type_name_bare(TYPE_INTEGER), "integer");
  EXPECT_EQ(highest_type_id(), TYPE_IMAGE);  // event! registers later
  EXPECT_TRUE(type_name(TYPE_EVENT).empty());
  // Ids beyond the table name nothing and dispatch to nothing.
  EXPECT_TRUE(type_name(static_cast<TypeId>(200)).empty());
  EXPECT_EQ(action_handler(static_cast<TypeId>(200), ActionIndex::pick), nullptr);
  EXPECT_EQ(form_text(datatype_cell(static_cast<TypeId>(200))), "");
}

TEST_F(Registry, ChildSlotsEqualParentsUnlessOverridden) {
  // Registered rows stand in for the series types: a series! row with handlers, a block! row that
  // overrides one slot and leaves one empty, and the chain below block! inheriting.
  static auto series_pick = +[](ActionCall& c) -> Cell* { return &c.result(); };
  static auto series_next = +[](ActionCall& c) -> Cell* { return &c.result(); };
  static auto block_next = +[](ActionCall& c) -> Cell* { return &c.result(); };
  static auto series_form = +[](const Cell&, TextOut&, const Cell*, int32_t l) { return l; };
  std::map<TypeId, HandlerRow> rows;
  rows.emplace(TYPE_SERIES, HandlerRow()
                                .set(ActionIndex::pick, series_pick)
                                .set(ActionIndex::next, series_next)
                                .set(ActionIndex::form, series_form));
  rows.emplace(
      TYPE_BLOCK,
      HandlerRow(kInherit).set(ActionIndex::next, block_next).set(ActionIndex::form, kEmpty));
  rows.emplace(TYPE_PAREN, HandlerRow(kInherit));
  rows.emplace(TYPE_PATH, HandlerRow(kInherit));
  rows.emplace(TYPE_LIT_PATH, HandlerRow(kInherit).set(ActionIndex::pick, kEmpty));
  // Registered again in the start-up order, these rows in place of their types' own.
  for (TypeId t : registration_order()) {
    auto row = rows.find(t);
    if (row != rows.end())
      register_type(t, type_record(t).parent, type_record(t).name, row->second);
    else if (type_record(t).parent != TYPE_NONE_ID)
      register_default(t, type_record(t).parent, type_record(t).name);
  }

  EXPECT_EQ(action_handler(TYPE_PAREN, ActionIndex::pick), series_pick);
  EXPECT_EQ(action_handler(TYPE_PAREN, ActionIndex::next), block_next);
  EXPECT_EQ(action_handler(TYPE_PATH, ActionIndex::pick), series_pick);
  EXPECT_EQ(action_handler(TYPE_LIT_PATH, ActionIndex::pick), nullptr);
  EXPECT_EQ(form_handler(TYPE_SERIES), series_form);
  EXPECT_EQ(form_handler(TYPE_PAREN), nullptr);

  // Across the whole table: a slot differs from its parent's only where the row gave its own entry.
  for (int t = 1; t <= highest_type_id(); t++) {
    TypeId id = static_cast<TypeId>(t), parent = type_record(id).parent;
    if (parent == TYPE_NONE_ID) continue;
    for (int i = 1; i <= kActionCount; i++) {
      ActionIndex a = static_cast<ActionIndex>(i);
      auto row = rows.find(id);
      bool own =
          row != rows.end() && row->second.entries[i - 1].kind != HandlerEntry::Kind::inherit;
      if (own)
        EXPECT_EQ(handler_entry(id, a), row->second.entries[i - 1]);
      else
        EXPECT_EQ(handler_entry(id, a), handler_entry(parent, a)) << type_name(id) << " slot " << i;
    }
  }

  // Inheritance is a copy taken at registration: a parent registered again later does not reach
  // its children.
  register_type(TYPE_SERIES, TYPE_NONE_ID, "series!", HandlerRow());
  EXPECT_EQ(action_handler(TYPE_SERIES, ActionIndex::pick), nullptr);
  EXPECT_EQ(action_handler(TYPE_PAREN, ActionIndex::pick), series_pick);
}

TEST_F(Registry, OrderPutsParentsFirstAndEveryTypeOnce) {
  std::map<TypeId, size_t> position;
  for (TypeId t : registration_order()) {
    EXPECT_EQ(position.count(t), 0u) << type_name(t);
    size_t next = position.size();
    position[t] = next;
  }
  EXPECT_EQ(position.size(), 53u);
  for (auto [t, pos] : position) {
    if (type_record(t).parent != TYPE_NONE_ID) {
      EXPECT_LT(position.at(type_record(t).parent), pos) << type_name(t);
    }
  }
  EXPECT_EQ(registration_order().front(), TYPE_DATATYPE);
  EXPECT_EQ(registration_order().back(), TYPE_IMAGE);

  // The imaging service is made right before image! registers.
  static TypeId highest_when_made = TYPE_NONE_ID;
  further_type_hooks().make_imaging_factory = [] { highest_when_made = highest_type_id(); };
  registry_init();
  further_type_hooks().make_imaging_factory = [] {};
  EXPECT_EQ(highest_when_made, TYPE_POINT3D);
}

TEST_F(Registry, ActionWordsAndSlotKinds) {
  EXPECT_EQ(action_word(ActionIndex::make), "make");
  EXPECT_EQ(action_word(ActionIndex::and_t), "and~");
  EXPECT_EQ(action_word(ActionIndex::length_q), "length?");
  EXPECT_EQ(action_word(ActionIndex::delete_), "delete");
  EXPECT_EQ(action_word(ActionIndex::write), "write");
  EXPECT_EQ(static_cast<int>(ActionIndex::write), kActionCount);
  EXPECT_EQ(static_cast<int>(ActionIndex::pick), 39);
  EXPECT_EQ(static_cast<int>(ActionIndex::take), 50);
  EXPECT_TRUE(action_word(ActionIndex::eval_path).empty());
  EXPECT_EQ(slot_kind(ActionIndex::mold), HandlerEntry::Kind::mold);
  EXPECT_EQ(slot_kind(ActionIndex::set_path), HandlerEntry::Kind::empty);
  EXPECT_EQ(slot_kind(ActionIndex::append), HandlerEntry::Kind::action);
}

// Malformed registrations end the process with a non-zero status and the report on standard output
// (sent to stderr inside the death test so that it can be matched).
void report_to_stderr() {
  dup2(STDERR_FILENO, STDOUT_FILENO);
  stdio::init();
}

void register_with_count(uint32_t count) {
  report_to_stderr();
  HandlerEntry entries[63];
  register_type({TYPE_TRIPLE, TYPE_NONE_ID, "triple!", entries, count});
}

TEST(RegistryDeath, WrongHandlerCountEndsProcessWithReport) {
  EXPECT_EXIT(register_with_count(61), ::testing::ExitedWithCode(1),
              "\\*\\*\\* Datatype Error: invalid actions count for type: 31\n"
              "\\*\\*\\* Found: 61\n\\*\\*\\* Expected: 62\n");
  EXPECT_EXIT(register_with_count(63), ::testing::ExitedWithCode(1), "\\*\\*\\* Found: 63\n");
}

TEST(RegistryDeath, HandlerOfWrongKindEndsProcess) {
  static auto form = +[](const Cell&, TextOut&, const Cell*, int32_t l) { return l; };
  EXPECT_EXIT(
      {
        report_to_stderr();
        register_type(TYPE_TRIPLE, TYPE_NONE_ID, "triple!",
                      HandlerRow().set(ActionIndex::mold, form));
      },
      ::testing::ExitedWithCode(1), "wrong kind for action 6 of type: 31");
}

TEST_F(Registry, DatatypeHandlers) {
  Cell integer = datatype_cell(TYPE_INTEGER);
  int32_t left = 0;
  EXPECT_EQ(form_text(integer, &left), "integer");
  EXPECT_EQ(left, kNoLimit - 7);
  EXPECT_EQ(mold_text(integer, {}, &left), "integer!");
  EXPECT_EQ(left, kNoLimit - 8);
  EXPECT_EQ(mold_text(integer, {.all = true}, &left), "#(integer!)");
  EXPECT_EQ(left, kNoLimit - 11);

  CompareHandler cmp = compare_handler(TYPE_DATATYPE);
  Cell same = datatype_cell(TYPE_INTEGER), other = datatype_cell(TYPE_FLOAT),
       number = test::int_cell(11);
  for (CompareOp op : {COMP_EQUAL, COMP_NOT_EQUAL, COMP_STRICT_EQUAL, COMP_SAME, COMP_FIND}) {
    EXPECT_EQ(cmp(integer, same, op), 0);
    EXPECT_EQ(cmp(integer, other, op), 1);
    EXPECT_EQ(cmp(integer, number, op), 1);  // an integer holding the id is no datatype
  }
  for (CompareOp op : {COMP_LESSER, COMP_GREATER_EQUAL, COMP_SORT, COMP_PARSE})
    EXPECT_EQ(cmp(integer, same, op), kCannotCompare);
}

TEST_F(Registry, HooksRaiseNotDoneUntilInstalled) {
  FurtherTypeHooks& hooks = further_type_hooks();
  // money! is built: its hooks stand as they did before its module installed them.
  hooks.money_compare.reset();
  hooks.money_sign.reset();
  hooks.hash_removed.reset();
  Cell a = test::int_cell(1);
  EXPECT_EQ(test::raised([&] { hooks.money_compare(a, a, COMP_EQUAL); }), Err::internal_not_done);
  EXPECT_EQ(pending_exit().args[0].type(), TYPE_DATATYPE);
  EXPECT_EQ(pending_exit().args[0].datatype_id(), TYPE_MONEY);
  EXPECT_EQ(test::raised([&] { hooks.hash_removed(a, 0, 1); }), Err::internal_not_done);
  EXPECT_EQ(pending_exit().args[0].datatype_id(), TYPE_HASH);

  EXPECT_FALSE(hooks.money_sign.installed());
  hooks.money_sign.fn = [](const Cell& c) { return c.money_negative() ? -1 : 1; };
  EXPECT_TRUE(hooks.money_sign.installed());
  EXPECT_EQ(hooks.money_sign(Cell{}), 1);
  hooks.money_sign.reset();
  EXPECT_EQ(test::raised([&] { hooks.money_sign(Cell{}); }), Err::internal_not_done);
}

}  // namespace
}  // namespace zem
