// Management interface: the local socket, request handling, the statistics
// and control operations and the diagnostic dumps.
#pragma once

#include <cstdint>

// The socket lives in a directory under /run that the daemon creates 0750
// and that only root may write: a name in a world-writable directory could
// be taken first by any local user.
constexpr const char* HW_NM_SOCKET_DIR = "/run/hwroute";
constexpr const char* HW_NM_SOCKET_PATH = "/run/hwroute/hwrouteNm.socket";
constexpr int HW_NM_BUF_LEN = 1518;

// Where the management socket is created and with which file mode; the
// daemon's options may change both before start-up.
extern const char* hwRouteNmSockPath;
extern uint32_t hwRouteNmSockMode;

// Group whose members may use the socket besides root and the daemon's own
// user (--nm-group); -1 for none.
extern int64_t hwRouteNmGroup;
// Time a connection has to deliver its whole request.
constexpr int HW_NM_RECV_TIMEOUT_MS = 1000;

// Return codes of the operations.
constexpr uint32_t HW_NM_RC_BAD_SELECTOR = 0x03E80010;  // set operation with a selector other than 1
constexpr uint32_t HW_NM_RC_OUT_OF_TABLE = 0x03E80011;  // VRF id >= 2048 or protocol > 16
constexpr uint32_t HW_NM_RC_NO_VALUE = 0x03E80012;      // the request carries no 32-bit value

// Read-only export, outside the thirteen operations: the reply is followed
// by text lines ("hwroute-export 1" first, "end" last) and the connection
// closes. cmd 1: routes with their next hops, ARP and ND6 entries; cmd 2:
// every counter and the non-zero per-VRF, per-protocol statistics. Any
// other cmd is answered with HW_NM_RC_BAD_SELECTOR and no lines.
constexpr uint32_t HW_NM_FUNC_EXPORT = 100;
constexpr uint32_t HW_NM_EXPORT_STATE = 1;
constexpr uint32_t HW_NM_EXPORT_COUNTERS = 2;
// Serves the request when it is an export (true), else leaves it alone.
bool hwRouteNmExportServe(int conn, uint8_t* msg, int len);
void hwRouteNmExport(int conn, uint32_t what);

// Opens the socket; on failure writes one line naming the path and the
// reason to standard error and returns -1.
int hwRouteNmSockOpen(void);
void hwRouteNmSockRcv(void);
int hwRouteNmMsgProcess(uint8_t* msg, int len);

int swRouteProtoStatsGetApi(int32_t vrfId, int32_t protoId, uint32_t* value);
int hwRouteProtoStatsGetApi(int32_t vrfId, int32_t protoId, uint32_t* value);
int swRouteProtoAddStatsGetApi(int32_t vrfId, int32_t protoId, uint32_t* value);
int swRouteProtoDelStatsGetApi(int32_t vrfId, int32_t protoId, uint32_t* value);
int swRoute6ProtoStatsGetApi(int32_t vrfId, int32_t protoId, uint32_t* value);
int hwRoute6ProtoStatsGetApi(int32_t vrfId, int32_t protoId, uint32_t* value);
int swRoute6ProtoAddStatsGetApi(int32_t vrfId, int32_t protoId, uint32_t* value);
int swRoute6ProtoDelStatsGetApi(int32_t vrfId, int32_t protoId, uint32_t* value);
int hwTableStatsGetApi(int32_t unused, int32_t item, uint32_t* value);
int hw6TableStatsGetApi(int32_t unused, int32_t item, uint32_t* value);
int hwRouteTableGetApi(int32_t unused, int32_t table, uint32_t* value);
int hwRouteRouteCountGetApi(int32_t unused, int32_t mode, uint32_t* value);
int hwRouteGlbSetApi(int32_t unused, int32_t selector, uint32_t* value);

void activeShow(int32_t section, int32_t limit);
int routeCount(int32_t mode);
char* llAddrConvert(const uint8_t* bytes, int count);
