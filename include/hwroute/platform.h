// The platform's hardware, interface, task, crash-handler and debug-sink
// interfaces. On this host they are served by the stand-ins under platform/.
// Every call returns 0 for success.
#pragma once

#include <cstdint>

// A (data pointer, length) pair.
struct octet {
    uint8_t* data;
    uint32_t len;
};

// Request handed to the hardware library. `data` points at an octet, except
// for layer-2 VPN objects where it points straight at the 56-byte record.
struct HwScalarReq {
    uint32_t objectId;
    void* data;
    uint32_t reserved;
    uint32_t flags;
};

// Key of the local-address port translation (sysIndexTrans attribute 1).
struct SysIndexKey {
    int32_t word[7];
};

// Key of the card and slot queries.
struct HwCardKey {
    uint32_t sysId;
    uint32_t slotId;
    uint32_t cardId;  // card up only
    uint32_t type;
};
struct HwSlotKey {
    uint32_t sysId;
    uint32_t slotId;
    uint32_t type;
};

// Result record of sysIndexTrans attribute 6: word 4 VLAN id, word 5 end type.
struct SysIndexIfRecord {
    uint32_t word[7];
};

int kivScalarSetApi(uint32_t a, uint32_t b, HwScalarReq* req);
int kivScalarGetApi(uint32_t index, uint32_t attr, void* out);
int kivIfGetApi(uint32_t ifUnit, uint32_t attr, void* out);
int kivIndexTrans(uint32_t ifUnit, uint32_t kind, void* out);
int sysIndexTrans(uint32_t ifUnit, uint32_t kind, void* out);
int sysIndexTrans(const SysIndexKey* key, uint32_t kind, void* out);
int sysIFGet(uint32_t ifUnit, uint32_t attr, void* out);
uint32_t kivSelfSysIndex(void);
int kivHwCardGet(const void* key, uint32_t attr, void* out);
int kivHwSlotGet(const void* key, uint32_t attr, void* out);
int kivHwScalarGet(uint32_t zero, uint32_t scalar, void* out);

using OsixTaskEntry = void (*)(void);
int OsixCreateTask(const char* name, uint32_t priority, uint32_t stackSize, OsixTaskEntry entry, uint32_t arg1,
                   uint32_t arg2, uint32_t* taskId);
uint32_t OsixCreateMSem(uint32_t kind);

void kivCatchSegFault(int argc, char** argv);
void NM_DEBUG_OUTPUT(const char* line);
