// tag!, email! and ref!: their text forms, refused actions and the email! path words.
#include "datatypes/text_kinds.h"

#include <algorithm>

#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/memory.h"

namespace zem::text_kinds {

Cell* push_copy(const Cell& value) { return stack::push_value(value); }

namespace {

// Writes text delimiters: each character uses one unit of the budget.
int32_t put(TextOut& out, std::string_view text, int32_t limit) {
  out.append_ascii(text);
  return limit - static_cast<int32_t>(text.size());
}

int32_t tag_form(const Cell& value, TextOut& out, const Cell* part, int32_t limit) {
  limit = put(out, "<", limit);
  if (part && limit < 1) return limit;
  limit = strings::form(value, out, part, limit);
  if (part && limit < 1) return limit;
  return put(out, ">", limit);
}

int32_t tag_mold(const Cell& value, TextOut& out, MoldFlags, const Cell* part, int32_t limit, int32_t) {
  return tag_form(value, out, part, limit);
}

int32_t email_mold(const Cell& value, TextOut& out, MoldFlags, const Cell* part, int32_t limit,
                   int32_t) {
  return strings::form(value, out, part, limit);
}

int32_t ref_mold(const Cell& value, TextOut& out, MoldFlags, const Cell* part, int32_t limit, int32_t) {
  limit = put(out, "@", limit);
  if (part && limit < 1) return limit;
  return strings::form(value, out, part, limit);
}

// The part `user` (before the first "@") or `host` (after it) of an address, as an absolute start
// and a count; an address without "@" is all user part.
series::Span email_part(const Cell& email, bool host) {
  uint32_t len = series::units_in_buffer(email.node());
  uint32_t h = std::min(email.head_index(), len);
  int32_t at = str::index_of_code_point(email, '@');
  uint32_t user_end = at < 0 ? len : h + static_cast<uint32_t>(at);
  if (!host) return {h, user_end - h};
  uint32_t start = at < 0 ? len : user_end + 1;
  return {start, len - start};
}

bool word_is(const Cell& word, std::string_view name) {
  return word.is(TYPE_WORD) && symbol::canonical_id(word.word_symbol()) ==
                                   symbol::canonical_id(symbol::intern(name));
}

Cell* email_path(PathStep& step) {
  const Cell& element = *step.element;
  if (element.is(TYPE_INTEGER)) return path_handler(TYPE_STRING)(step);
  bool user = word_is(element, "user");
  if (!user && !word_is(element, "host")) fire(Err::script_invalid_path, step.path, &element);
  const Cell email = *step.value;
  series::Span span = email_part(email, !user);
  if (!step.set_value) {
    Cell part = series::copy_range(email, span.start, span.count);
    part.set_type(TYPE_STRING);
    *step.value = part;
    return step.value;
  }
  // The part is replaced in the address's own series: every value on it sees the change.
  Cell frame[3];
  frame[0] = email;
  frame[0].set_head_index(span.start);
  frame[1] = *step.set_value;
  frame[2] = Cell{};
  frame[2].set_header(TYPE_INTEGER);
  frame[2].set_int_value(static_cast<int32_t>(span.count));
  const int32_t refinements[3] = {2, -1, -1};
  ActionCall call;
  call.args = frame;
  call.arg_count = 3;
  call.refinements = refinements;
  call.refinement_count = 3;
  call.action = ActionIndex::change;
  action_handler(TYPE_STRING, ActionIndex::change)(call);
  *step.value = *step.set_value;
  return step.value;
}

// The actions no string kind of this module supports.
HandlerRow common_row() {
  HandlerRow row(kInherit);
  for (int a = static_cast<int>(ActionIndex::absolute); a <= static_cast<int>(ActionIndex::xor_t); a++)
    row.set(static_cast<ActionIndex>(a), kEmpty);
  for (ActionIndex a : {ActionIndex::random, ActionIndex::set_path, ActionIndex::sort, ActionIndex::trim,
                        ActionIndex::create, ActionIndex::close, ActionIndex::delete_, ActionIndex::open,
                        ActionIndex::open_q, ActionIndex::query, ActionIndex::read, ActionIndex::rename,
                        ActionIndex::update, ActionIndex::write})
    row.set(a, kEmpty);
  return row;
}

}  // namespace

void register_tag_type() {
  HandlerRow row = common_row();
  row.set(ActionIndex::form, &tag_form).set(ActionIndex::mold, &tag_mold);
  register_type(TYPE_TAG, TYPE_STRING, "tag!", row);
}

void register_email_type() {
  HandlerRow row = common_row();
  row.set(ActionIndex::mold, &email_mold).set(ActionIndex::eval_path, &email_path);
  register_type(TYPE_EMAIL, TYPE_STRING, "email!", row);
}

void register_ref_type() {
  HandlerRow row = common_row();
  row.set(ActionIndex::mold, &ref_mold)
      .set(ActionIndex::eval_path, kEmpty)
      .set(ActionIndex::append, kEmpty)
      .set(ActionIndex::put, kEmpty);
  register_type(TYPE_REF, TYPE_STRING, "ref!", row);
}

}  // namespace zem::text_kinds
