// The boot library loader: scans, binds and evaluates the embedded sources into the global
// environment.
#include "library/boot.h"

#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error_value.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/lexer.h"
#include "evaluator/stack.h"
#include "runtime/boot_state.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/startup.h"
#include "services/checksum.h"
#include "services/zembin/boot.h"

namespace zem {

BootState boot_state;

namespace boot {

namespace {

constexpr int kUncaughtErrorStatus = -2;

constexpr LibrarySource kSources[] = {
#define ZEM_LIBRARY_SOURCE(name, bytes) {name, std::string_view(bytes, sizeof(bytes) - 1)},
#define ZEM_LIBRARY_DIGEST(hex)
#include "library_sources.inc"
#undef ZEM_LIBRARY_SOURCE
#undef ZEM_LIBRARY_DIGEST
};

constexpr std::string_view kSourceDigest =
#define ZEM_LIBRARY_SOURCE(name, bytes)
#define ZEM_LIBRARY_DIGEST(hex) hex
#include "library_sources.inc"
#undef ZEM_LIBRARY_SOURCE
#undef ZEM_LIBRARY_DIGEST
    ;

// The catalogue needs the constants of boot.zem; the system object takes it over.
constexpr std::string_view kLoadOrder[] = {"boot.zem", "errors.zem", "system.zem", "operators.zem",
                                           "functions.zem", "accessors.zem", "helpers.zem", "load.zem",
                                           "paths.zem", "reactivity.zem", "preprocessor.zem",
                                           "url.zem", "json.zem", "csv.zem", "help.zem",
                                           "tools.zem"};
// Evaluated after the library on either route; what it sets depends on the process.
constexpr std::string_view kProcessSource = "process.zem";

struct LoaderState {
  std::vector<Cell> blocks;  // the scanned sources, rooted for the whole run
  NodeId callbacks = 0;      // context of system/state/callbacks
};
LoaderState loader;
const Image* installed_image = nullptr;

void mark_sources(void*) {
  for (const Cell& c : loader.blocks) gc::mark_value(c);
  if (loader.callbacks) gc::mark_context(loader.callbacks);
}

void say(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(2, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// Every word of the block, nested blocks and paths included, gets a slot in the global context.
void add_words_to_global(const Cell& block) {
  for (uint32_t i = block.head_index(); i < block::length(block) + block.head_index(); ++i) {
    const Cell v = *block::cell_at_index(block, i);
    if (block::is_word_kind(v.type()) || v.is(TYPE_REFINEMENT)) {
      context::add_symbol(context::global(), v.word_symbol());
    } else if (block::is_block_kind(v.type()) || block::is_path_kind(v.type())) {
      add_words_to_global(v);
    }
  }
}

// The collector is still off here: nothing moves while the text is scanned and bound.
Cell scan(std::string_view text) {
  Cell out{};
  lexer::ScanMode mode;
  lexer::scan_buffer(&out, reinterpret_cast<const uint8_t*>(text.data()), text.size(), mode,
                     nullptr, nullptr, nullptr, nullptr);
  if (block::length(out) >= 2) {
    const Cell& first = *block::cell_at_index(out, 0);
    if (first.is(TYPE_WORD) && symbol::name(first.word_symbol()) == "Zem" &&
        block::cell_at_index(out, 1)->is(TYPE_BLOCK))
      out.set_head_index(2);  // past the header
  }
  return out;
}

void bind_global(const Cell& code) {
  add_words_to_global(code);
  context::bind_block(code, context::global(), false);
}

// ZEM_BOOT_TIMES=1: the time of each start-up step, on one line of stderr.
class StepTimes {
 public:
  StepTimes() : on_(flag_set("ZEM_BOOT_TIMES")), last_(Clock::now()) {}
  void step(const char* name) {
    if (!on_) return;
    Clock::time_point now = Clock::now();
    char ms[32];
    double d = std::chrono::duration<double, std::milli>(now - last_).count();
    char* end = std::to_chars(ms, ms + sizeof ms, d, std::chars_format::fixed, 3).ptr;
    text_ += std::string(text_.empty() ? "" : ", ") + name + " " + std::string(ms, end) + " ms";
    last_ = now;
  }
  void report(const std::string& route, size_t bytes) const {
    if (on_) say("zem boot: " + route + " (" + std::to_string(bytes) + " bytes): " + text_ + "\n");
  }

 private:
  using Clock = std::chrono::steady_clock;
  static bool flag_set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v && std::strcmp(v, "0") != 0;
  }
  bool on_;
  Clock::time_point last_;
  std::string text_;
};

[[noreturn]] void image_fault(const std::string& message) {
  say(message + "\n");
  runtime_exit(zembin::kBootFaultStatus);
}

[[noreturn]] void fail() {
  say(stack::uncaught_message() + "\n");
  clear_pending_exit();
  runtime_exit(kUncaughtErrorStatus);
}

void set_global(std::string_view name, const Cell& value) {
  context::set_or_add_word(context::global(), make_word_cell(symbol::intern(name), 0), value);
}

void define_datatype_words() {
  for (uint32_t t = 1; t <= highest_type_id(); ++t) {
    std::string_view name = type_name(static_cast<TypeId>(t));
    if (!name.empty()) set_global(name, datatype_cell(static_cast<TypeId>(t)));
  }
}

// The object in the field `name` of an object, or null.
const Cell* object_field(const Cell* object, std::string_view name) {
  if (!object || !object->is(TYPE_OBJECT)) return nullptr;
  const Cell* v = object::find_field_value(*object, make_word_cell(symbol::intern(name), 0));
  return v->is(TYPE_OBJECT) ? v : nullptr;
}

// The runtime keeps what it reads of the system object, so that a redefined `system` hides none
// of it. Errors take their messages from `system/catalog/errors` from now on; the table built into
// the runtime carries the same ids, so a mismatch is a build fault.
void keep_system_objects() {
  const Cell* sys = context::symbol_value_cell(symbol::intern("system"), context::global());
  const Cell* errors = object_field(object_field(sys, "catalog"), "errors");
  if (!errors || !error_value::install_catalogue(*errors)) {
    say("*** boot: system/catalog/errors does not match the runtime's error ids\n");
    runtime_exit(kUncaughtErrorStatus);
  }
  const Cell* callbacks = object_field(object_field(sys, "state"), "callbacks");
  loader.callbacks = callbacks ? callbacks->object_context() : 0;
}

uint32_t evaluate(const Cell& code) {
  stack::reset();
  clear_pending_exit();
  stack::push_value(code);
  try {
    return interp::eval_block(code, true);
  } catch (const Unwind& u) {
    return u.code;
  }
}

}  // namespace

std::span<const LibrarySource> embedded_sources() { return kSources; }

std::string_view source_digest() { return kSourceDigest; }

Route route() {
  const char* v = std::getenv("ZEM_BOOT");
  if (!v || !*v) return installed_image ? Route::image : Route::source;
  if (std::strcmp(v, "source") == 0) return Route::source;
  if (std::strcmp(v, "image") == 0) return Route::image;
  image_fault(std::string("*** boot: ZEM_BOOT is source or image, not ") + v);
}

uint32_t callback_bits() {
  if (!loader.callbacks) return 0;
  int32_t i = context::find_symbol_index(loader.callbacks, symbol::intern("bits"), true);
  if (i < 0) return 0;
  const Cell& bits = context::values(loader.callbacks)[i];
  return bits.is(TYPE_INTEGER) ? static_cast<uint32_t>(bits.int_value()) : 0;
}
std::span<const std::string_view> load_order() { return kLoadOrder; }

Cell load_source(std::string_view text) {
  Cell code = scan(text);
  stack::push_value(code);  // rooted while words are added
  bind_global(code);
  stack::drop_values(1);
  return code;
}

namespace {

// The words start-up defines in C++ before any library source: routines, natives, datatypes and
// the boot words. Collector off on return.
void prepare() {
  // Once only, also when start-up runs again after the collector's roots were reset.
  gc::remove_root(mark_sources);
  gc::add_root(mark_sources);
  loader.blocks.clear();
  loader.callbacks = 0;
  boot_state = BootState{};
  register_routines();
  natives::define_words();
  define_datatype_words();
  define_boot_words();
  gc::set_enabled(false);
}

// Scans and binds the sources of the names in order, with the collector off: each block is rooted
// before it can run.
void scan_sources(std::span<const std::string_view> order) {
  try {
    for (std::string_view name : order) {
      for (const LibrarySource& s : kSources) {
        if (s.name != name) continue;
        Cell code = scan(s.text);
        loader.blocks.push_back(code);
        bind_global(code);
      }
    }
  } catch (const Unwind&) {
    fail();
  }
}

// The image route: the global environment comes from the image. Its first root holds the object
// class counter and the global words in slot order (decoded first, so the slots come in the order
// the sources gave them); the roots are dropped once decoded, the global words holding what they
// made.
void load_image(StepTimes& times) {
  if (!installed_image) image_fault("*** boot: ZEM_BOOT=image, but this program carries no boot image");
  const Image& image = *installed_image;
  if (image.source_digest != kSourceDigest)
    image_fault("*** boot: the boot image was written from other library sources than this program's");
  if (checksum::crc32(image.bytes.data(), image.bytes.size()) != image.crc32)
    image_fault("*** boot: the boot image is damaged (its checksum does not match)");
  times.step("check");
  const uint32_t base = zembin::boot_load(image.bytes.data(), image.bytes.size());
  const NodeId root = block::block_state.root;
  const Cell header = series_length(root) > base ? block_head(root)[base] : shared_cells.none;
  if (!header.is(TYPE_BLOCK) || series_length(header.node()) < 1 || !block_head(header.node())[0].is(TYPE_INTEGER))
    image_fault("*** boot: the boot image holds no environment");
  object_state.class_counter = static_cast<uint32_t>(block_head(header.node())[0].int_value());
  block::truncate_at(root, base);
}

void evaluate_all(size_t from) {
  for (size_t i = from; i < loader.blocks.size(); ++i) {
    const Cell code = loader.blocks[i];
    if (evaluate(code) != EXIT_NONE) fail();
  }
}

// process.zem: scanned, bound and evaluated after the library.
void run_process_step() {
  gc::set_enabled(false);
  const size_t at = loader.blocks.size();
  scan_sources({&kProcessSource, 1});
  gc::set_enabled(true);
  evaluate_all(at);
}

}  // namespace

void install_image(const Image* image) { installed_image = image; }

void build_environment() {
  const Route how = route();
  StepTimes times;
  prepare();
  times.step("words");
  boot_state.loading = true;
  if (how == Route::image) {
    load_image(times);
    times.step("decode");
    gc::set_enabled(true);
  } else {
    scan_sources(kLoadOrder);
    times.step("scan");
    gc::set_enabled(true);
    evaluate_all(0);
    times.step("evaluate");
  }
  run_process_step();
  times.step("process");
  keep_system_objects();
  boot_state.loading = false;
  boot_state.done = true;
  set_global("boot-routine", shared_cells.unset);
  stack::reset();
  times.step("finish");
  size_t bytes = 0;
  if (how == Route::image) {
    bytes = installed_image->bytes.size();
  } else {
    for (const LibrarySource& s : kSources) bytes += s.text.size();
  }
  times.report(how == Route::image ? "image" : "source", bytes);
}

std::vector<uint8_t> environment_image() {
  prepare();
  // What the words defined in C++ hold before the library: a word the library leaves as it was
  // needs no definition.
  const NodeId g = context::global();
  const std::vector<Cell> prepared(context::values(g), context::values(g) + context::word_count(g));
  scan_sources(kLoadOrder);
  gc::set_enabled(true);
  boot_state.loading = true;
  evaluate_all(0);
  boot_state.loading = false;
  gc::set_enabled(false);
  const uint32_t n = context::word_count(g);
  Cell header = block::make(n + 1);
  stack::push_value(header);
  Cell counter{};
  counter.set_header(TYPE_INTEGER);
  counter.set_int_value(static_cast<int32_t>(object_state.class_counter));
  block::append_cell(header.node(), counter);
  std::vector<zembin::Definition> definitions;
  for (uint32_t i = 0; i < n; ++i) {
    const Cell word = context::word_cell(TYPE_WORD, g, context::word_at(g, i)->word_symbol(), static_cast<int32_t>(i));
    block::append_cell(header.node(), word);
    const Cell value = context::values(g)[i];
    // Unset words need no definition, unless the library unset one that C++ had defined.
    if (i < prepared.size() ? std::memcmp(&prepared[i], &value, sizeof(Cell)) == 0 : value.is(TYPE_UNSET)) continue;
    definitions.push_back({word, value});
  }
  try {
    std::vector<uint8_t> image = zembin::write_boot_image({&header, 1}, definitions, true);
    stack::drop_values(1);
    return image;
  } catch (const Unwind&) {
    fail();
  }
}

}  // namespace boot
}  // namespace zem
