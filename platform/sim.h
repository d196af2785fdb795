// Control of the platform stand-ins: the platform configuration, the
// simulated hardware's trace and the debug sink. Used by the daemon's
// start-up and by the tests; the core never includes it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// One call of kivScalarSetApi as the simulated hardware saw it.
struct SimHwCall {
    uint32_t seq;       // counts calls from 1
    uint32_t objectId;
    uint32_t flags;
    std::vector<uint8_t> data;  // the bytes handed over (the 56-byte record for layer-2 VPN objects)
    int result;
};

// Back to the defaults: no configuration (interfaces answered from the
// host's kernel), hardware accepting everything, no trace, no recording,
// call counters at 0, debug sink writing to standard error.
void simReset();

// Platform configuration (JSON). On failure `err` gets a one-line reason and
// nothing of the configuration is applied.
bool simLoadConfigText(const std::string& json, std::string* err);
bool simLoadConfigFile(const char* path, std::string* err);

// Append one JSON line per hardware call to this file (flushed at once).
bool simSetTraceFile(const char* path, std::string* err);

// Keep every hardware call in memory (tests); off by default.
void simRecordCalls(bool on);
const std::vector<SimHwCall>& simHwCalls();
void simClearHwCalls();
// Hardware calls since the last reset, recorded or not (benchmarks).
uint64_t simHwCallCount();
// Route requests (objects 338 and 339) refused because an entry's nextHopNum
// or size does not match the records it carries.
uint64_t simHwMalformedCount();

// Debug sink: where NM_DEBUG_OUTPUT writes (standard error by default), and
// an optional in-memory copy of every line as handed over (tests).
void simDebugSetFile(FILE* file);
void simDebugCapture(std::vector<std::string>* lines);
