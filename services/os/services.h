// The runtime's platform start-up and the process-level services beside the clock.
//
// Linux decisions: there is no imaging start-up, no component apartment and no crypto context to
// acquire (libcrypto needs none), so start-up is the output writer with the numeric locale kept at
// "C". A GUI program started from a terminal already has its standard handles, so no console is
// ever attached or detached. Memory pages are never executable: no code is generated at run time.
// No thread services: the system runs on one thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace zem::os {

// Platform start-up, once, before random numbers, memory and datatypes.
void init();

// Always false: the standard handles are the process's own.
bool alloc_console();
// Nothing to do.
void free_console();

// Read-write pages, zero-filled; null when the system has none or when executable pages are
// asked for.
void* virtual_alloc(size_t bytes, bool executable);
// Gives back pages of virtual_alloc; false when the system refuses.
bool virtual_free(void* pages, size_t bytes);

// The first three numbers of a kernel release text ("6.1.0-18-amd64" gives 6 1 0), 0 for those
// it lacks; each held at 255, the largest a version tuple's element can be.
std::array<uint8_t, 3> release_numbers(std::string_view release);

// The type check of the services on their arguments: a value of another type raises script
// invalid-arg with the value.
void check_type(const Cell& value, TypeId type);

}  // namespace zem::os
