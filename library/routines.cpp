// The routines of the global environment and the type and typeset predicates: C++ entries in the
// routine registry, bound to their specs by the boot library through `boot-routine`.
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/string_storage.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/word.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "library/boot.h"
#include "services/os/services.h"
#include "runtime/boot_state.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/startup.h"
#include "runtime/unicode.h"
#include "services/http.h"
#include "services/os/clock.h"
#include "services/os/command_line.h"
#include "services/os/files.h"
#include "services/zembin/decoder.h"
#include "services/zembin/encoder.h"

namespace zem {
extern const char* const kVersion;
}

namespace zem::library {
// The build's date and source revision (build_info.cpp).
const Cell* build_date(Cell*, uint32_t);
const Cell* build_git(Cell*, uint32_t);
// The one-pass JSON decoder (json_codec.cpp).
const Cell* json_decode(Cell*, uint32_t);
const Cell* json_encode(Cell*, uint32_t);
// The plain-table roads of load-csv and to-csv (csv_codec.cpp).
const Cell* csv_decode(Cell*, uint32_t);
const Cell* csv_encode(Cell*, uint32_t);
// The tracing tools' per-event bookkeeping (tools_routines.cpp).
const Cell* trace_level(Cell*, uint32_t);
const Cell* trace_mold_part(Cell*, uint32_t);
const Cell* trace_collect(Cell*, uint32_t);
const Cell* profile_event(Cell*, uint32_t);
// The walk of system/reactivity/check over its index of the relations (reactivity.cpp).
const Cell* react_check(Cell*, uint32_t);
const Cell* react_changed(Cell*, uint32_t);
// The one-pass roads of split and replace/all on text (text_roads.cpp).
const Cell* split_text(Cell*, uint32_t);
const Cell* replace_text(Cell*, uint32_t);
}  // namespace zem::library

namespace zem::boot {

namespace {

struct RoutinesState {
  Cell result{};  // the answer of a routine, read by the caller at once
  uint32_t typeset_symbols[14] = {};
  bool registered = false;
};
RoutinesState rs;

const Cell* logic(bool b) { return b ? &shared_cells.true_value : &shared_cells.false_value; }

const Cell* integer(int32_t n) {
  rs.result = make_integer(n);
  return &rs.result;
}

Cell word_named(std::string_view name) { return make_word_cell(symbol::intern(name), 0); }

[[noreturn]] void expect_arg(std::string_view routine, const Cell& value, std::string_view arg) {
  Cell r = word_named(routine), type = datatype_cell(value.type()), a = word_named(arg);
  fire(Err::script_expect_arg, &r, &type, &a);
}

// ---- The boot-only constructor ------------------------------------------------------------------

// The registry index of a routine by name, or -1.
int32_t routine_index(std::string_view name) {
  for (uint32_t i = 0; i < routine_registry.count; ++i)
    if (routine_registry.names[i] && name == routine_registry.names[i]) return static_cast<int32_t>(i);
  return -1;
}

// The datatype that `return: [type!]` names, when it is logic! or integer!; else -1.
int32_t result_type(const Cell& spec) {
  uint32_t n = block::length(spec);
  for (uint32_t i = 0; i + 1 < n; ++i) {
    const Cell& v = *block::cell_at_index(spec, spec.head_index() + i);
    if (!v.is(TYPE_SET_WORD) || symbol::name(v.word_symbol()) != "return") continue;
    const Cell types = *block::cell_at_index(spec, spec.head_index() + i + 1);
    if (!types.is(TYPE_BLOCK) || block::length(types) != 1) return -1;
    const Cell& t = *block::cell_at_index(types, types.head_index());
    if (!t.is(TYPE_WORD)) return -1;
    std::string_view name = symbol::name(t.word_symbol());
    if (name == "logic!") return TYPE_LOGIC;
    if (name == "integer!") return TYPE_INTEGER;
    return -1;
  }
  return -1;
}

// boot-routine 'name spec: the routine! value of the registry entry `name` with that spec.
const Cell* make_routine_value(Cell* args, uint32_t) {
  if (!boot_state.loading) {
    Cell w = word_named("boot-routine");
    fire(Err::script_not_defined, &w);
  }
  const Cell name = args[0];
  const Cell spec = args[1];
  int32_t index = routine_index(symbol::name(name.word_symbol()));
  if (index < 0) {
    Cell n = name;
    fire(Err::script_invalid_arg, &n);
  }
  rs.result = function::make_routine(spec, index, result_type(spec), true);
  return &rs.result;
}

// ---- Routines of the global environment ---------------------------------------------------------

const Cell* quit_return(Cell* args, uint32_t) { runtime_exit(args[0].int_value()); }

const Cell* set_quiet(Cell* args, uint32_t) {
  Cell word = args[0];
  TypeId t = word.type();
  if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD)
    expect_arg("set-quiet", word, "word");
  if (word.word_context() == 0) fire(Err::script_not_defined, &word);
  rs.result = args[1];
  context::set_in(word, rs.result, word.word_context(), false);
  return &rs.result;
}

const Cell* set_slot_quiet(Cell* args, uint32_t) {
  const Cell series = args[0];
  TypeId t = series.type();
  if (!block::is_block_kind(t) && !block::is_path_kind(t)) expect_arg("set-slot-quiet", series, "series");
  if (t == TYPE_HASH) expect_arg("set-slot-quiet", series, "series");
  if (series.head_index() < block::buffer_length(series.node()))
    *block::cell_at_index(series, series.head_index()) = args[1];
  return nullptr;
}

int32_t shift_count(const Cell& bits) { return bits.int_value() < 0 ? 0 : bits.int_value(); }

const Cell* shift_right(Cell* args, uint32_t) {
  int32_t data = args[0].int_value(), bits = shift_count(args[1]);
  return integer(bits > 31 ? (data < 0 ? -1 : 0) : data >> bits);
}
const Cell* shift_left(Cell* args, uint32_t) {
  uint32_t data = static_cast<uint32_t>(args[0].int_value());
  int32_t bits = shift_count(args[1]);
  return integer(bits > 31 ? 0 : static_cast<int32_t>(data << bits));
}
const Cell* shift_logical(Cell* args, uint32_t) {
  uint32_t data = static_cast<uint32_t>(args[0].int_value());
  int32_t bits = shift_count(args[1]);
  return integer(bits > 31 ? 0 : static_cast<int32_t>(data >> bits));
}

// The nonnegative remainder of two integers, on which mod and modulo agree; none for any other
// pair, and for a zero divisor or the lowest integer by -1, which take the long road to its error.
const Cell* integer_modulo(Cell* args, uint32_t) {
  if (!args[0].is(TYPE_INTEGER) || !args[1].is(TYPE_INTEGER)) return &shared_cells.none;
  int64_t a = args[0].int_value(), b = args[1].int_value();
  if (b == 0 || (a == INT32_MIN && b == -1)) return &shared_cells.none;
  int64_t r = a % b;
  if (r < 0) r += b < 0 ? -b : b;
  return integer(static_cast<int32_t>(r));
}

const Cell* count_chars(Cell* args, uint32_t) {
  SeriesBuffer* b = series_buffer(args[0].node());
  const uint8_t* data = b->data() + b->head;
  uint32_t used = b->used();
  // Both positions are clamped to the tail, so no byte past it is read.
  uint32_t from = std::min(args[0].head_index(), used), to = std::min(args[1].head_index(), used);
  int32_t count = 0;
  for (uint32_t off = from; off < to; ++count) {
    uint8_t lead = data[off];
    off += lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  }
  return integer(count);
}

// The first negative component is refused by name.
void check_components(const Cell* args, uint32_t n) {
  for (uint32_t i = 0; i < n; i++)
    if (args[i].int_value() < 0) fire(Err::script_invalid_arg, &args[i]);
}

const Cell* as_color(Cell* args, uint32_t) {
  check_components(args, 3);
  rs.result = tuple::rgba(args[0].int_value() & 0xFF, args[1].int_value() & 0xFF, args[2].int_value() & 0xFF, -1);
  return &rs.result;
}

// The components are or-ed into one 32-bit word at 8-bit steps, unreduced: a component above 255
// spills into the next ones (300 0 0 0 gives 44.1.0.0), the last one's excess is lost.
const Cell* as_ipv4(Cell* args, uint32_t) {
  check_components(args, 4);
  uint32_t word = 0;
  for (uint32_t i = 0; i < 4; i++) word |= uint32_t(args[i].int_value()) << (8 * i);
  const uint8_t bytes[4] = {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16), uint8_t(word >> 24)};
  rs.result = tuple::make(4, bytes);
  return &rs.result;
}

const Cell* null_handle(Cell*, uint32_t) {
  rs.result = handle::null_handle();
  return &rs.result;
}

uint32_t stack_size() { return stack::cell_index(stack::top()); }

const Cell* stack_size_q(Cell*, uint32_t) { return integer(static_cast<int32_t>(stack_size())); }

const Cell* pick_stack(Cell* args, uint32_t) {
  int32_t idx = args[0].int_value();
  if (idx <= 0 || static_cast<uint32_t>(idx) >= stack_size()) return &shared_cells.none;
  rs.result = *stack::cell_at(static_cast<uint32_t>(idx - 1));
  return &rs.result;
}

const Cell* collect_calls(Cell* args, uint32_t) {
  std::vector<Cell> calls = stack::collect_calls();
  const Cell blk = args[0];
  block::clear_at_head(blk);
  for (const Cell& c : calls) block::append_cell(blk, c);
  return nullptr;
}

uint32_t frame_base() { return stack::cell_index(stack::base()); }

const Cell* frame_index_q(Cell*, uint32_t) { return integer(static_cast<int32_t>(frame_base())); }

// A `do/trace` run is in progress and not paused by `trace false` (parse tracing is not the
// interpreter's).
const Cell* tracing_q(Cell*, uint32_t) { return logic(trace_state.enabled && !trace_state.paused); }

// `trace` of a logic (a logic argument switches the run's events on or off, none leaves them):
// answers whether a tracing run is in progress, paused or not.
const Cell* trace_switch(Cell* args, uint32_t) {
  if (args[0].is(TYPE_LOGIC)) trace::set_switch(is_true(args[0]));
  return logic(trace_state.enabled);
}

const Cell* last_lf_q(Cell*, uint32_t) { return logic(natives::last_line_feed()); }

// ---- Files and the process ----------------------------------------------------------------------

// The platform path of a file! value, from its position.
std::string local_path(Cell file) {
  int32_t length = -1;
  const char* text = unicode::string_to_utf8(file, &length);
  return std::string(text, static_cast<size_t>(length));
}

const Cell* get_current_dir(Cell*, uint32_t) {
  std::string dir;
  std::vector<char> buf(4096);
  while (!::getcwd(buf.data(), buf.size())) {
    if (errno != ERANGE) {
      buf.assign(2, 0);
      buf[0] = '.';
      break;
    }
    buf.resize(buf.size() * 2);
  }
  dir = buf.data();
  if (dir.empty() || dir.back() != '/') dir += '/';
  rs.result = str::make_from_utf8(dir);
  return &rs.result;
}

const Cell* set_current_dir(Cell* args, uint32_t) {
  Cell file = args[0];
  std::string path = local_path(file);
  if (path.empty() || ::chdir(path.c_str()) != 0) fire(Err::access_cannot_open, &file);
  return nullptr;
}

const Cell* create_dir(Cell* args, uint32_t) {
  Cell file = args[0];
  if (!files::make_dir(file)) fire(Err::access_no_create, &file);
  return nullptr;
}

const Cell* exists_q(Cell* args, uint32_t) { return logic(files::file_exists(args[0])); }

void add_field(const Cell& object, std::string_view name, const Cell& value) {
  context::set_or_add_word(object.object_context(), word_named(name), value);
}

// The architecture word of a `uname` machine name.
std::string_view arch_word(std::string_view machine) {
  if (machine == "x86_64" || machine == "amd64") return "x86-64";
  if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") return "x86-32";
  if (machine == "aarch64" || machine == "arm64") return "ARM64";
  if (machine.starts_with("arm")) return "ARM";
  if (machine == "ia64") return "IA-64";
  return "Unknown";
}

// The build number of a `uname` version text ("#1 SMP ..."), 0 without one.
int32_t build_number(std::string_view version) {
  size_t i = version.find('#');
  int64_t n = 0;
  if (i == std::string_view::npos) return 0;
  for (++i; i < version.size() && version[i] >= '0' && version[i] <= '9' && n < 0x7FFFFFFF; ++i)
    n = n * 10 + (version[i] - '0');
  return static_cast<int32_t>(n > 0x7FFFFFFF ? 0x7FFFFFFF : n);
}

const Cell* os_info(Cell*, uint32_t) {
  struct utsname u {};
  if (::uname(&u) != 0) std::strcpy(u.sysname, "Linux");
  Cell info = object::make_empty(4);
  stack::push_value(info);  // rooted while its fields are made
  add_field(info, "name", str::make_from_utf8(std::string(u.sysname) + " " + u.release));
  add_field(info, "arch", word_named(arch_word(u.machine)));
  std::array<uint8_t, 3> release = os::release_numbers(u.release);
  add_field(info, "version", tuple::make(3, release.data()));
  add_field(info, "build", *integer(build_number(u.version)));
  rs.result = info;
  stack::drop_values(1);
  return &rs.result;
}

// The process's command line as one string, and its arguments (the program path first) as a
// block of strings.
const Cell* get_command_line(Cell*, uint32_t) {
  rs.result = str::make_from_utf8(os::command_line());
  return &rs.result;
}

const Cell* get_command_args(Cell*, uint32_t) {
  std::vector<std::string_view> args = os::arguments();
  Cell blk = block::make(static_cast<uint32_t>(args.size()));
  stack::push_value(blk);  // rooted while its strings are made
  for (std::string_view arg : args) {
    Cell text = str::make_from_utf8(arg);
    block::append_cell(blk, text);
  }
  rs.result = blk;
  stack::drop_values(1);
  return &rs.result;
}

// What start-up puts into system/options/boot, system/options/args and system/script/args: the
// program's path, the script's arguments as strings and their command-line text. A runner's own
// arguments (its options and script) are in neither.
const Cell* get_boot_args(Cell*, uint32_t) {
  std::vector<std::string_view> argv = os::arguments();
  size_t own = os::program_arguments();
  Cell out = block::make(3);
  stack::push_value(out);  // rooted while its values are made
  if (argv.empty()) {
    block::append_cell(out, make_none());
  } else {
    Cell program = str::make_from_utf8(argv[0]);
    block::append_cell(out, program);
  }
  Cell args = block::make(static_cast<uint32_t>(argv.size() - own));
  block::append_cell(out, args);
  for (size_t i = own; i < argv.size(); ++i) {
    Cell text = str::make_from_utf8(argv[i]);
    block::append_cell(args, text);
  }
  Cell line = str::make_from_utf8(os::script_command_line());
  block::append_cell(out, line);
  rs.result = out;
  stack::drop_values(1);
  return &rs.result;
}

// Standard output straight through its handle, after whatever the print writer has flushed.
const Cell* write_stdout(Cell* args, uint32_t) {
  files::write(nullptr, args[0], nullptr, nullptr, false, false, false);
  return nullptr;
}

// The object of the global context, recorded as the context's own object (`system/words`).
const Cell* global_context_object(Cell*, uint32_t) {
  if (!boot_state.loading) {
    Cell w = word_named("make-global-context-object");
    fire(Err::script_not_defined, &w);
  }
  rs.result = object::from_context(context::global(), 0xFFFFFFFFu);
  return &rs.result;
}

const Cell* runtime_version(Cell*, uint32_t) {
  rs.result = str::make_from_utf8(kVersion);
  return &rs.result;
}

const Cell* gc_active_q(Cell*, uint32_t) { return logic(gc::enabled()); }
const Cell* gc_series_cycles(Cell*, uint32_t) {
  return integer(static_cast<int32_t>(gc::collector_state.series_cycles & 0x7FFFFFFF));
}
const Cell* gc_nodes_cycles(Cell*, uint32_t) {
  return integer(static_cast<int32_t>(gc::collector_state.nodes_cycles & 0x7FFFFFFF));
}

// Behind `system/state/interpreted?`: an interpreted frame anywhere below the routine's own.
// Frames of library functions count as compiled code.
const Cell* frames_interpreted_q(Cell*, uint32_t) { return logic(stack::is_eval(nullptr, false)); }

// The local zone's offset at a date's instant: a date in the other season of daylight saving time
// takes that season's offset, not today's.
const Cell* local_zone_at(Cell* args, uint32_t) {
  Cell since{};
  dates::difference(args[0], dates::make(dates::pack(1970, 1, 1, 0, true), 0.0), since);
  double seconds = std::floor(since.float_value());
  // Far beyond the zone database the offset is that of the nearest instant it holds.
  seconds = std::clamp(seconds, -1e15, 1e15);
  os::ClockReading at = os::reading_at(static_cast<int64_t>(seconds), 0, false, false);
  rs.result = times::make(at.zone_minutes * 60.0);
  return &rs.result;
}

// The switch behind `system/options/float/pretty?`.
const Cell* float_pretty(Cell* args, uint32_t) {
  float_state.pretty = is_true(args[0]);
  return nullptr;
}

// ---- Predicates ---------------------------------------------------------------------------------

template <TypeId T>
const Cell* is_type(Cell* args, uint32_t) {
  return logic(args[0].type() == T);
}

// The typeset predicates read their typeset word at every call, so a redefinition counts.
constexpr std::string_view kTypesetWords[14] = {
    "any-list!", "any-block!", "any-function!", "any-object!", "any-path!",
    "any-string!", "any-word!", "series!", "number!", "immediate!",
    "scalar!", "all-word!", "any-point!", "planar!"};

template <size_t I>
const Cell* in_typeset(Cell* args, uint32_t) {
  const Cell* ts = context::symbol_value_cell(rs.typeset_symbols[I], context::global());
  if (!ts || !ts->is(TYPE_TYPESET)) {
    Cell w = word_named(kTypesetWords[I]);
    fire(Err::script_no_value, &w);
  }
  const Cell set = *ts;
  return logic(typeset_has(set, args[0].type()));
}

// ---- The Zembin codec ---------------------------------------------------------------------------

const Cell* zembin_encode(Cell* args, uint32_t) {
  const Cell value = args[0];
  rs.result = zembin::encode(value, args[1].logic_value());
  return &rs.result;
}

const Cell* zembin_decode(Cell* args, uint32_t) {
  const Cell payload = args[0];
  Cell data = payload;
  if (payload.is(TYPE_FILE)) {
    data = files::read_file(payload, -1, -1, true, false);
  } else if (payload.is(TYPE_URL)) {
    const Cell get = word::make_from_c_name("get");
    if (!http::request_url(get, payload, shared_cells.none, shared_cells.none, true, false, false, data))
      fire(Err::access_no_connect, &payload);
    if (!data.is(TYPE_BINARY)) fire(Err::script_invalid_data, &payload);
  } else if (!payload.is(TYPE_BINARY)) {
    fire(Err::script_invalid_data, &payload);
  }
  // Nothing of 10 bytes or fewer holds a header and a value.
  if (binary::rs_length(data) <= 10) fire(Err::script_invalid_data, &payload);
  stack::push_value(data);  // rooted while it is decoded
  Cell* dest = block::push_only(8);
  zembin::decode(binary::rs_head(data), binary::rs_length(data), *dest, &payload);
  rs.result = block::length(*dest) == 1 ? *block::head_of(*dest) : *dest;
  rs.result.set_new_line(false);
  stack::drop_values(2);
  return &rs.result;
}

// ---- The image codecs ---------------------------------------------------------------------------

// Every image codec decodes with the same body: the container is recognised from the data.
const Cell* image_decode(Cell* args, uint32_t) {
  const Cell data = args[0];
  rs.result = image::decode(data);
  return &rs.result;
}

// Format codes of the image encoder: 0 BMP, 1 PNG, 2 GIF, 3 JPEG, 4 TIFF. The destination is left to
// the caller (save writes the bytes).
template <int32_t Format>
const Cell* image_encode(Cell* args, uint32_t) {
  const Cell img = args[0];
  rs.result = image::encode(img, Format);
  return &rs.result;
}

// ---- JSON ----------------------------------------------------------------------------------------

// json-loader-ctx/unescape: the escapes of a JSON string's text rewritten in place. The write index
// never passes the read index; a code point that does not fit the unit widens the buffer, so every
// read goes through the node again.
const Cell* json_unescape(Cell* args, uint32_t) {
  const Cell s = args[0];
  const NodeId node = s.node();
  const uint32_t len = series_buffer(node)->length();
  uint32_t r = std::min(s.head_index(), len), w = r;
  auto at = [node](uint32_t i) {
    SeriesBuffer* b = series_buffer(node);
    return str::get_char(b->head_ptr() + static_cast<size_t>(i) * b->unit(), b->unit());
  };
  auto fail = [&s]() {
    Cell v = s;
    fire(Err::script_invalid_data, &v);
  };
  auto decode_4 = [&]() {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
      if (r >= len) fail();
      uint32_t d = at(r++);
      if (d >= '0' && d <= '9') d -= '0';
      else if (d >= 'A' && d <= 'F') d -= 'A' - 10;
      else if (d >= 'a' && d <= 'f') d -= 'a' - 10;
      else fail();
      v = v * 16 + d;
    }
    return v;
  };
  while (r < len) {
    uint32_t c = at(r++);
    if (c != '\\' && w + 1 == r) {  // nothing rewritten yet: the text stays where it is
      ++w;
      continue;
    }
    if (c == '\\') {
      if (r >= len) fail();
      switch (c = at(r++)) {
        case '"': case '\\': case '/': break;
        case 'b': c = 0x08; break;
        case 'f': c = 0x0C; break;
        case 'n': c = 0x0A; break;
        case 'r': c = 0x0D; break;
        case 't': c = 0x09; break;
        case 'u':
          c = decode_4();
          if (c >= 0xD800 && c <= 0xDBFF) {
            if (len - r < 6 || at(r) != '\\' || at(r + 1) != 'u') fail();
            r += 2;
            uint32_t low = decode_4();
            if (low < 0xDC00 || low > 0xDFFF) fail();
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
          }
          break;
        default: fail();
      }
    }
    str::overwrite_code_point(node, w++, c);
  }
  str::truncate(s, w);
  rs.result = s;
  return &rs.result;
}

struct Entry {
  const char* name;
  RoutineEntry entry;
};

constexpr Entry kRoutines[] = {
    {"boot-routine", &make_routine_value},
    {"quit-return", &quit_return},
    {"set-quiet", &set_quiet},
    {"set-slot-quiet", &set_slot_quiet},
    {"shift-right", &shift_right},
    {"shift-left", &shift_left},
    {"shift-logical", &shift_logical},
    {"count-chars", &count_chars},
    {"as-color", &as_color},
    {"as-ipv4", &as_ipv4},
    {"as-rgba", &as_ipv4},
    {"null-handle", &null_handle},
    {"stack-size?", &stack_size_q},
    {"pick-stack", &pick_stack},
    {"collect-calls", &collect_calls},
    {"frame-index?", &frame_index_q},
    {"tracing?", &tracing_q},
    {"trace-switch", &trace_switch},
    {"trace-level", &library::trace_level},
    {"trace-mold-part", &library::trace_mold_part},
    {"trace-collect", &library::trace_collect},
    {"profile-event", &library::profile_event},
    {"last-lf?", &last_lf_q},
    {"get-current-dir", &get_current_dir},
    {"set-current-dir", &set_current_dir},
    {"create-dir", &create_dir},
    {"exists?", &exists_q},
    {"os-info", &os_info},
    {"get-command-line", &get_command_line},
    {"get-command-args", &get_command_args},
    {"get-boot-args", &get_boot_args},
    {"write-stdout", &write_stdout},
    {"make-global-context-object", &global_context_object},
    {"runtime-version", &runtime_version},
    {"build-date", &library::build_date},
    {"build-git", &library::build_git},
    {"gc-active?", &gc_active_q},
    {"gc-series-cycles", &gc_series_cycles},
    {"gc-nodes-cycles", &gc_nodes_cycles},
    {"float-pretty", &float_pretty},
    {"frames-interpreted?", &frames_interpreted_q},
    {"local-zone-at", &local_zone_at},
    {"image-decode", &image_decode},
    {"bmp-encode", &image_encode<0>},
    {"png-encode", &image_encode<1>},
    {"gif-encode", &image_encode<2>},
    {"jpeg-encode", &image_encode<3>},
    {"tiff-encode", &image_encode<4>},
    {"zembin-encode", &zembin_encode},
    {"zembin-decode", &zembin_decode},
    {"json-unescape", &json_unescape},
    {"json-decode", &library::json_decode},
    {"json-encode", &library::json_encode},
    {"csv-decode", &library::csv_decode},
    {"csv-encode", &library::csv_encode},
    {"react-check", &library::react_check},
    {"react-changed", &library::react_changed},
    {"integer-modulo", &integer_modulo},
    {"split-text", &library::split_text},
    {"replace-text", &library::replace_text},
    {"bitset?", &is_type<TYPE_BITSET>},
    {"binary?", &is_type<TYPE_BINARY>},
    {"block?", &is_type<TYPE_BLOCK>},
    {"char?", &is_type<TYPE_CHAR>},
    {"email?", &is_type<TYPE_EMAIL>},
    {"file?", &is_type<TYPE_FILE>},
    {"float?", &is_type<TYPE_FLOAT>},
    {"get-path?", &is_type<TYPE_GET_PATH>},
    {"get-word?", &is_type<TYPE_GET_WORD>},
    {"hash?", &is_type<TYPE_HASH>},
    {"integer?", &is_type<TYPE_INTEGER>},
    {"issue?", &is_type<TYPE_ISSUE>},
    {"lit-path?", &is_type<TYPE_LIT_PATH>},
    {"lit-word?", &is_type<TYPE_LIT_WORD>},
    {"logic?", &is_type<TYPE_LOGIC>},
    {"map?", &is_type<TYPE_MAP>},
    {"none?", &is_type<TYPE_NONE>},
    {"pair?", &is_type<TYPE_PAIR>},
    {"paren?", &is_type<TYPE_PAREN>},
    {"path?", &is_type<TYPE_PATH>},
    {"percent?", &is_type<TYPE_PERCENT>},
    {"refinement?", &is_type<TYPE_REFINEMENT>},
    {"set-path?", &is_type<TYPE_SET_PATH>},
    {"set-word?", &is_type<TYPE_SET_WORD>},
    {"string?", &is_type<TYPE_STRING>},
    {"tag?", &is_type<TYPE_TAG>},
    {"time?", &is_type<TYPE_TIME>},
    {"typeset?", &is_type<TYPE_TYPESET>},
    {"tuple?", &is_type<TYPE_TUPLE>},
    {"unset?", &is_type<TYPE_UNSET>},
    {"url?", &is_type<TYPE_URL>},
    {"word?", &is_type<TYPE_WORD>},
    {"image?", &is_type<TYPE_IMAGE>},
    {"date?", &is_type<TYPE_DATE>},
    {"money?", &is_type<TYPE_MONEY>},
    {"ref?", &is_type<TYPE_REF>},
    {"point2D?", &is_type<TYPE_POINT2D>},
    {"point3D?", &is_type<TYPE_POINT3D>},
    {"handle?", &is_type<TYPE_HANDLE>},
    {"error?", &is_type<TYPE_ERROR>},
    {"action?", &is_type<TYPE_ACTION>},
    {"native?", &is_type<TYPE_NATIVE>},
    {"datatype?", &is_type<TYPE_DATATYPE>},
    {"function?", &is_type<TYPE_FUNCTION>},
    {"object?", &is_type<TYPE_OBJECT>},
    {"op?", &is_type<TYPE_OP>},
    {"routine?", &is_type<TYPE_ROUTINE>},
    {"vector?", &is_type<TYPE_VECTOR>},
    {"any-list?", &in_typeset<0>},
    {"any-block?", &in_typeset<1>},
    {"any-function?", &in_typeset<2>},
    {"any-object?", &in_typeset<3>},
    {"any-path?", &in_typeset<4>},
    {"any-string?", &in_typeset<5>},
    {"any-word?", &in_typeset<6>},
    {"series?", &in_typeset<7>},
    {"number?", &in_typeset<8>},
    {"immediate?", &in_typeset<9>},
    {"scalar?", &in_typeset<10>},
    {"all-word?", &in_typeset<11>},
    {"any-point?", &in_typeset<12>},
    {"planar?", &in_typeset<13>},
};

}  // namespace

void register_routines() {
  for (size_t i = 0; i < std::size(kTypesetWords); ++i)
    rs.typeset_symbols[i] = symbol::intern(kTypesetWords[i]);
  if (routine_index(kRoutines[0].name) >= 0) return;  // once per process
  for (const Entry& e : kRoutines) native::add_routine(e.name, e.entry);
}

void define_boot_words() {
  // The constructor of routines, until the library is built.
  Cell spec = load_source("'name [word!] spec [block!]");
  stack::push_value(spec);
  Cell ctor = function::make_routine(spec, routine_index("boot-routine"), -1, true);
  context::set_or_add_word(context::global(), word_named("boot-routine"), ctor);
  // `make`, so that the library can make its first values; the library defines it again with its
  // full spec.
  Cell make_spec = load_source("type spec");
  stack::push_value(make_spec);
  NodeId ctx = context::make_from_spec(block::value_of(make_spec.node()), true, false, CONTEXT_FUNCTION);
  Cell make = native::make_value(TYPE_ACTION, 0, make_spec.node(), ctx);
  context::set_or_add_word(context::global(), word_named("make"), make);
  stack::reset();
}

}  // namespace zem::boot
