// Series ownership and change notification.
//
// An object can own the series held in its fields: a change made to such a series anywhere is
// reported to the object's deep-change handler. Ownership is recorded in one owner table keyed by
// node, plus the owned flag in the series buffer, so an unowned series costs one flag test.
//
// Every action that changes a series follows one protocol, through ChangeNotice:
//   ChangeNotice notice(series, Change::append, &value);   // before the change
//   ... re-read buffer addresses here: the handler may have run user code ...
//   notice.done(series, &value);                           // after the change
// The second (past-tense) call is made only when the first one reached a handler.
//
// The owner table is weak: a collection drops records whose series or owner died; when the owner
// died but the series lives, the series' owned flag is cleared with the record.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace zem::ownership {

// The action words of change notifications, present tense then past tense.
enum class Change : uint8_t {
  clear, cleared, poke, poked, remove, removed, reverse, reversed, take, taken, move, moved,
  random, randomized, sort, sorted, swap, swaped, put, put_ed, trim, trimmed, change, changed,
  append, appended, insert, inserted,
};
// "clear", "cleared", ..., "swaped", "put-ed".
std::string_view change_word(Change c);
// The past-tense word of a present-tense one (and itself for a past-tense word).
constexpr Change past_of(Change c) {
  return static_cast<Change>(static_cast<uint8_t>(c) | 1u);
}

// Called when an owned series changes: the owner (object!), the word of its field that holds the
// series, the changed series, the action word, the new value (or null), the index and part length
// (-1 when the action has none). The wiring table's `deep_change`, answered by the object module; runs user code, may collect. The
// cells it receives are C++ copies: it roots them (pushes them on the argument stack) before it runs
// anything that can reach a safe point.
using DeepChangeFn = void (*)(const Cell& owner, const Cell& word, const Cell& target,
                              Change action, const Cell* value, int32_t index, int32_t part);

// Object values take part through these, answered by the object module (the wiring table's
// `objects`): the node that keys an
// object's record (its context), whether its context carries the owned flag, setting that flag,
// and a walk over its fields (field value, field word).
struct ObjectAccess {
  NodeId (*context_node)(const Cell& object) = nullptr;
  bool (*flagged)(const Cell& object) = nullptr;
  void (*set_flag)(const Cell& object, bool on) = nullptr;
  void (*for_each_field)(const Cell& object, void (*fn)(Cell& value, const Cell& word, void* user),
                         void* user) = nullptr;
};

// Makes the owner table (empty) and registers its collector pass. Calling it again empties it.
void init();

// True when the value's owned flag is set (series buffer flag; header bit of image! values; the
// context flag of object! values).
bool is_owned(const Cell& value);
// Sets ownership of the value (deep for blocks and objects; a series already owned keeps its first
// owner; cycles are cut with the pointer stack).
void set_owner(const Cell& value, const Cell& owner, const Cell& word);
// set_owner, then the owner itself is flagged as an object that owns series.
void set_owner_deep(const Cell& value, const Cell& owner, const Cell& word);
// Removes ownership (deep, as set_owner).
void unbind(const Cell& value);
// unbind on `count` cells of the block from the absolute index.
void unbind_cells(const Cell& block, uint32_t index, uint32_t count);
// The owner cell of the owned series or object keyed by the node, or null.
const Cell* lookup(NodeId node);
// Reports a change: when the value has an owner record whose owner has a change-handler record
// (its fourth word not 0) and a handler is installed, calls it and answers true.
bool check(const Cell& value, Change action, const Cell* new_value, int32_t index, int32_t part);

// The two-call protocol of a changing action (see the top of this file).
class ChangeNotice {
 public:
  ChangeNotice(const Cell& series, Change action, const Cell* value = nullptr, int32_t index = -1,
               int32_t part = -1)
      : action_(action),
        reached_(is_owned(series) && check(series, action, value, index, part)) {}
  // After the change: the past-tense word, only when the first call reached a handler.
  void done(const Cell& series, const Cell* value = nullptr, int32_t index = -1, int32_t part = -1) {
    if (reached_) check(series, past_of(action_), value, index, part);
  }
  bool reached() const { return reached_; }

 private:
  Change action_;
  bool reached_;
};

// Number of live records (tests and statistics).
uint32_t record_count();

}  // namespace zem::ownership
