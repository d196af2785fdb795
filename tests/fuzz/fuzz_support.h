// Shared set-up of the fuzz targets: a fresh daemon state per input in one
// reused arena, the fuzzing platform configuration, probes and debug output
// kept in the process, and the invariants checked between datagrams.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Once per process: platform configuration, debug sink, probe transport,
// standard output to /dev/null (the dumps print there).
void fuzzOnce();
// A state as start-up leaves it, pools carved from the reused arena;
// `recordHw` keeps the hardware calls for the model.
void fuzzFreshState(bool recordHw);
// What the worker does after a datagram: flush, replay after a card-up,
// probe the unresolved next hops.
void fuzzPass();
// Aborts with a message when the tables, lists, pools, counters or the
// hardware model disagree.
void fuzzCheckInvariants();
