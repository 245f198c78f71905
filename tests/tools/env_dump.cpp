// zem-env-dump: starts up as zem-run does (ZEM_BOOT picks the route) and prints the global
// environment, so that two start-ups can be compared line by line:
//   - one line per global word in slot order: name, datatype, library flag ("lib" or "-") and the
//     mold/all of its value;
//   - then, for every function and object reachable from a global word through object fields, one
//     line per word of its spec and body (functions) or of its field values (objects): the word
//     and the context it is bound to, named by its path from the global context ("global" for the
//     global context itself; "#N" for a context no path reaches, numbered in order of meeting).
#include <cstdio>
#include <deque>
#include <map>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "runtime/memory.h"
#include "library/boot.h"
#include "runtime/platform.h"
#include "runtime/startup.h"
#include "services/os/command_line.h"

namespace zem {
namespace {

struct Dump {
  std::map<NodeId, std::string> names;  // context node -> path from the global context
  uint32_t unnamed = 0;
  std::string out;

  std::string context_name(NodeId ctx) {
    if (ctx == 0) return "unbound";
    auto [it, added] = names.emplace(ctx, std::string());
    if (added) it->second = "#" + std::to_string(++unnamed);
    return it->second;
  }

  static bool is_function(const Cell& v) { return v.is(TYPE_FUNCTION); }

  // The words of a block, deep through nested blocks and paths, with their contexts.
  void words_of(const Cell& block, const std::string& owner) {
    for (uint32_t i = 0; i < block::buffer_length(block.node()); ++i) {
      const Cell v = *block::cell_at_index(block, i);
      if (block::is_word_kind(v.type())) {
        out += "bind " + owner + " " + std::string(symbol::name(v.word_symbol())) + " " +
               std::string(type_name_bare(v.type())) + " -> " + context_name(v.word_context()) +
               "\n";
      } else if (block::is_block_kind(v.type())) {
        words_of(v, owner);
      }
    }
  }

  void run() {
    const NodeId global = context::global();
    names[global] = "global";
    // Globals in slot order, naming the contexts reachable from them by the shortest path.
    std::deque<std::pair<std::string, Cell>> walk;
    const uint32_t n = context::word_count(global);
    for (uint32_t i = 0; i < n; ++i) {
      const std::string name(symbol::name(context::word_at(global, i)->word_symbol()));
      const Cell v = context::values(global)[i];
      std::string lib = "-";
      if (v.is(TYPE_FUNCTION) || v.is(TYPE_ROUTINE) || v.is(TYPE_OP))
        lib = v.has_flag(kFunctionLibrary) ? "lib" : "-";
      out += name + "\t" + std::string(type_name(v.type())) + "\t" + lib + "\t" +
             actions::mold_text(v, MoldFlags{.all = true}) + "\n";
      walk.emplace_back(name, v);
    }
    std::vector<std::pair<std::string, Cell>> owners;  // functions and objects, in walk order
    while (!walk.empty()) {
      auto [path, v] = walk.front();
      walk.pop_front();
      if (v.is(TYPE_OBJECT)) {
        NodeId ctx = v.object_context();
        if (names.count(ctx)) continue;
        names[ctx] = path;
        owners.emplace_back(path, v);
        const uint32_t m = context::word_count(ctx);
        for (uint32_t k = 0; k < m; ++k)
          walk.emplace_back(path + "/" + std::string(symbol::name(context::word_at(ctx, k)->word_symbol())),
                            context::values(ctx)[k]);
      } else if (is_function(v)) {
        if (names.count(v.fn_context())) continue;
        names[v.fn_context()] = path;
        owners.emplace_back(path, v);
      }
    }
    for (const auto& [path, v] : owners) {
      if (v.is(TYPE_OBJECT)) {
        NodeId ctx = v.object_context();
        const uint32_t m = context::word_count(ctx);
        for (uint32_t k = 0; k < m; ++k) {
          const Cell f = context::values(ctx)[k];
          if (block::is_block_kind(f.type())) words_of(f, path);
          if (block::is_word_kind(f.type()))
            out += "bind " + path + " " + std::string(symbol::name(f.word_symbol())) + " field -> " +
                   context_name(f.word_context()) + "\n";
        }
      } else {
        words_of(block::value_of(v.fn_spec()), path + " spec");
        const Cell body = block_head(v.fn_more())[MORE_BODY];
        if (block::is_block_kind(body.type())) words_of(body, path);
      }
    }
  }
};

int run(int argc, char** argv) {
  zem::os::set_program_arguments(1);
  zem::boot::install_image(zem::boot::built_image());
  zem::runtime_init(argc, argv);
  int status = 0;
  zem::run_outermost([&] {
    zem::Dump dump;
    dump.run();
    if (std::fwrite(dump.out.data(), 1, dump.out.size(), stdout) != dump.out.size()) status = 1;
  });
  if (std::fflush(stdout) != 0) status = 1;
  zem::runtime_exit(status);
}

}  // namespace
}  // namespace zem

int main(int argc, char** argv) { return zem::platform::run_on_stack(zem::platform::kStackBytes, zem::run, argc, argv); }
