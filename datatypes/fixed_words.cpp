// The fixed words: interning the runtime's fixed names and type-name words at start-up.
#include "datatypes/fixed_words.h"

#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/collector.h"

namespace zem {

FixedWords fixed;

namespace fixed_words {

namespace {

void mark_fixed(void*) {
  auto mark_run = [](const void* first, size_t bytes) {
    const Cell* c = static_cast<const Cell*>(first);
    gc::mark_values(c, c + bytes / sizeof(Cell));
  };
  mark_run(&fixed.global, sizeof(fixed.global));
  mark_run(&fixed.word, sizeof(fixed.word));
  mark_run(&fixed.ref, sizeof(fixed.ref));
  gc::mark_value(fixed.issue_ooo);
}

}  // namespace

void fill_type_name_words() {
  for (uint32_t t = 1; t <= highest_type_id(); t++) {
    const TypeNameRecord& r = type_record(static_cast<TypeId>(t));
    if (r.name) set_type_name_word(static_cast<TypeId>(t), word::make_from_c_name(r.name));
  }
}

void intern_runtime_words() {
  // A name listed again is interned again: the symbol and word tables answer what they answered
  // the first time.
#define ZEM_FIXED_SYMBOL(id, name) fixed.sym.id = symbol::intern_c_name(name);
#define ZEM_FIXED_GLOBAL_WORD(id, name) \
  fixed.global.id = context::add_global_word(symbol::intern_c_name(name));
#define ZEM_FIXED_WORD(id, name) fixed.word.id = word::make_from_c_name(name);
#define ZEM_FIXED_AGAIN(kind, id, name) ZEM_AGAIN_##kind(name);
#define ZEM_AGAIN_symbol(name) symbol::intern_c_name(name)
#define ZEM_AGAIN_global_word(name) context::add_global_word(symbol::intern_c_name(name))
#define ZEM_AGAIN_word(name) word::make_from_c_name(name)
#include "datatypes/fixed_words.def"
#undef ZEM_FIXED_SYMBOL
#undef ZEM_FIXED_GLOBAL_WORD
#undef ZEM_FIXED_WORD
#undef ZEM_FIXED_AGAIN
#undef ZEM_AGAIN_symbol
#undef ZEM_AGAIN_global_word
#undef ZEM_AGAIN_word
}

void intern_func_words() {
  fixed.ref.local = word::refinement_from_c_name("local");
  fixed.ref.extern_ = word::refinement_from_c_name("extern");
  fixed.ref.compare = word::refinement_from_c_name("compare");
  fixed.ref.part = word::refinement_from_c_name("part");
  fixed.ref.skip = word::refinement_from_c_name("skip");
  fixed.ref.with = word::refinement_from_c_name("with");
}

void intern_misc_word() { fixed.issue_ooo = word::issue_from_c_name("ooo"); }

void init() {
  gc::remove_root(&mark_fixed);
  gc::add_root(&mark_fixed);
  fixed = FixedWords{};
  fixed.made = true;
  fill_type_name_words();
  intern_runtime_words();
  intern_func_words();
  intern_misc_word();
}

}  // namespace fixed_words
}  // namespace zem
