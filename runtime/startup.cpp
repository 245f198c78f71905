// Start-up through its layers in order, and the process exit.
#include "runtime/startup.h"

#include <cstdlib>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error_value.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/lexer_loaders.h"
#include "evaluator/natives.h"
#include "evaluator/parse.h"
#include "evaluator/stack.h"
#include "library/boot.h"
#include "runtime/c_heap.h"
#include "runtime/casefold.h"
#include "runtime/collector.h"
#include "datatypes/fixed_words.h"
#include "runtime/hashtab.h"
#include "runtime/hooks.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/resources.h"
#include "runtime/slot_pool.h"
#include "runtime/support.h"
#include "runtime/wiring.h"
#include "services/checksum.h"
#include "services/deflate.h"
#include "services/image/image_store.h"
#include "services/os/services.h"
#include "services/random.h"

namespace zem {

bool init_through(StartLayer last, int argc, char** argv) {
  platform::reset_fpu();
  wiring = Wiring{};  // a new runtime: each entry is filled as the module that answers comes up
  if (!platform::start(argc, argv)) return false;
  support_init();  // the pointer stack
  hooks::init();
  os::init();  // platform services: the output writer
  random::init();  // before the memory manager: hash tables use the hash seed
  if (last == StartLayer::platform) return true;

  alloc::init();  // memory manager
  gc::init();
  resources::init();  // resource registry
  clear_pending_exit();  // a root: it may name nodes of a memory released since
  if (last == StartLayer::memory) return true;

  registry_init();  // type-name and action handler tables; datatype registrations, parents first
  actions::init();  // action entry table
  block::init_root();  // first node and series frames; root block and stacks
  if (last == StartLayer::datatypes) return true;

  casefold::init();
  hashtab::init(random::hash_seed());
  wiring.key_equal = &block::hash_key_equal;
  symbol::init();
  wiring.canonical_symbol = &symbol::canonical_id;
  wiring.symbol_name = &symbol::name;
  wiring.word_is = &series::word_named;
  wiring.sort_compare = &block::call_function_comparator;
  if (last == StartLayer::symbols) return true;

  context::init();  // the global context
  wiring.word_value = [](const Cell& word) -> const Cell* { return context::word_value_cell(word); };
  fixed_words::init();  // type-name words and runtime words
  if (last == StartLayer::words) return true;

  natives::init();
  parse::init();
  ownership::init();  // the owner table
  object::init();  // change notifications of objects
  wiring.deep_change = &object::deep_change_from_owner;
  wiring.field_changed = &object::notify_from_context;
  wiring.objects = object::ownership_access();
  wiring.image_alive = &imaging::is_marked;
  error_value::init();  // the error catalogue and error values
  wiring.build_error_value = &error_value::build_pending_error;
  if (last == StartLayer::values) return true;

  checksum::init();  // the method words
  deflate::init();  // the compression method words
  stack::init();
  wiring.raise_error = &stack::raise_error;
  wiring.parse_eval_paren = &parse::interp_eval_paren;
  wiring.parse_call_callback = &parse::interp_call_callback;
  wiring.parse_count_locals = &parse::interp_count_locals;
  lexer::init();  // lexer tables and output buffer
  wiring.load_first = &lexer::load_first;
  interp::init();
  wiring.near_source = &interp::current_block;
  wiring.eval_object_block = &interp::eval_object_block;
  wiring.run_handler = &interp::run_handler;
  slot_pool::reset();
  if (last == StartLayer::evaluator) return true;

  // The collector is enabled inside, once the library source is scanned and rooted.
  boot::build_environment();
  return true;
}

void runtime_init(int argc, char** argv) {
  bool ok = false;
  try {
    ok = init_through(StartLayer::library, argc, argv);
  } catch (const Unwind&) {
    // No catcher exists yet; the one error a module raises while it starts is a refused reservation
    // (a tight address-space limit): report it as the runtime's out-of-memory crash.
    crash_report(pending_exit().error == Err::internal_no_memory ? CRASH_OUT_OF_MEMORY : CRASH_UNKNOWN_ERROR, 0);
  } catch (const std::bad_alloc&) {
    crash_report(CRASH_OUT_OF_MEMORY, 0);
  }
  if (!ok) runtime_exit(1);
}

void release_runtime() { alloc::release_all(); }

void runtime_exit(int status) {
  cheap::free_all();
  std::exit(exit_status_byte(status));
}

}  // namespace zem
