// The platform's hardware, interface, task, crash-handler and debug-sink
// interfaces. On this host they are served by the stand-ins under platform/.
// Every call returns 0 for success.
#pragma once

#include <cstdint>

#include "hwroute/records.h"

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

// Tunnel interfaces of the host kernel. On the real platform its own software
// calls the tunnel entry points; on a stock Linux host this stand-in plays
// that part: it watches the kernel's ipip, sit and ip6tnl interfaces through
// their link messages and the routes that point into them. The daemon hands
// it every notification datagram it reads and, between loop passes, runs the
// tunnel requests it derived (never while a handler runs).
constexpr uint32_t HW_TUN_EV_DEL = 1;     // hwRouteTunDel(request)
constexpr uint32_t HW_TUN_EV_NOTIFY = 2;  // hwRouteTunNotifier(unit)
struct HwTunEvent {
    uint32_t op;
    uint32_t unit;
    HwRouteTunNode request;
};
// One datagram as read (it may be cut short: only the bytes that are there are read).
void kivTunWatchDatagram(const uint8_t* buf, uint32_t len);
// The next removal to run: 0 and the event, or -1 when none waits.
int kivTunEventGet(HwTunEvent* ev);
// Whether the wanted tunnels should be offered again now: at once after they
// changed, and at most once a second after neighbours or routes were added.
bool kivTunRetryDue(void);
// Wanted tunnel i (from 0, in the order they arose): 0 and the request, or -1 past the end.
int kivTunWantedGet(uint32_t i, HwRouteTunNode* out);
