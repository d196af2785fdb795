// State shared by the platform stand-ins: the active platform configuration
// and the reset hooks of the simulated hardware and the debug sink. Private
// to platform/; the daemon and the tests use sim.h.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

using SimMac = std::array<uint8_t, 6>;

// Queries a configuration can make fail, per unit or system-wide.
enum SimQuery : uint32_t {
    SIM_Q_MAC = 1u << 0,         // sysIFGet 33
    SIM_Q_OPER_STATE = 1u << 1,  // sysIFGet 31
    SIM_Q_END_TYPE = 1u << 2,    // kivIfGetApi 7 and the interface record of sysIndexTrans 6
    SIM_Q_VLAN = 1u << 3,        // the interface record of sysIndexTrans 6
    SIM_Q_INDEX = 1u << 4,       // kivIndexTrans 9
    SIM_Q_TUNNEL = 1u << 5,      // kivIfGetApi 5211
    // system-wide
    SIM_Q_LOCAL_PORT = 1u << 8,           // sysIndexTrans(key, 1)
    SIM_Q_SYSTEM_MAC = 1u << 9,           // kivScalarGetApi(0, 11)
    SIM_Q_PROTOCOL_PREFERENCE = 1u << 10  // kivScalarGetApi(proto, 55)
};

// What one unit's configuration says; absent values come from the kernel.
struct SimUnitConfig {
    std::optional<uint32_t> endType;
    std::optional<uint32_t> vlan;
    std::optional<uint32_t> port;
    std::optional<SimMac> mac;
    std::optional<uint32_t> operState;
    std::optional<uint32_t> tunCreateTick;
    uint32_t failMask = 0;
};

// The answer of one card, slot or scalar query attribute.
struct SimQueryAnswer {
    int32_t result = 0;
    bool hasValue = false;
    uint32_t value = 0;  // written through the output pointer when hasValue and it is not null
};

// Refuse `count` calls starting with call `fromCall` (from 1) of `objectId`,
// or of all calls together when `anyObject`.
struct SimRefuseRule {
    bool anyObject = true;
    uint32_t objectId = 0;
    uint32_t fromCall = 1;
    uint32_t count = 1;
};

struct SimConfig {
    std::map<uint32_t, SimUnitConfig> units;
    uint32_t localPort = 0;
    SimMac systemMac{0x02, 0, 0, 0, 0, 0x01};
    std::map<uint32_t, uint32_t> protocolPreference;  // overrides of the default table
    uint32_t selfSysIndex = 0;
    uint32_t tunCreateTick = 0;  // for units that do not name their own
    uint32_t failMask = 0;       // system-wide SIM_Q_* bits
    std::map<uint32_t, SimQueryAnswer> slotQueries;
    std::map<uint32_t, SimQueryAnswer> cardQueries;
    std::map<uint32_t, SimQueryAnswer> scalarQueries;
};

// The defaults: no unit configured, the card and slot answers under which a
// card-up or slot-up event of this system is accepted.
SimConfig simDefaultConfig();

// The active configuration; hold simConfigMutex() while reading it.
std::mutex& simConfigMutex();
const SimConfig& simConfigLocked();

// Hardware refusal rules are owned by the simulated hardware: a configuration
// that names `hardware.refuse` replaces them and restarts their call counting.
void simHwSetRefuseRules(const std::vector<SimRefuseRule>& rules);
void simHwReset();
void simDebugReset();

// Protocol preference when no configuration names the protocol.
uint32_t simDefaultProtocolPreference(uint32_t protocol);

// Kernel tunnel watch: the creation tick of a tunnel interface it watches
// (false for any other unit), and back to watching nothing.
bool simTunWatchTick(uint32_t unit, uint32_t* tick);
void simTunWatchReset();
