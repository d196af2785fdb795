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

// ---- Tunnel operation -------------------------------------------------------
// One more operation beside the thirteen statistics and control ones, with a
// number well outside theirs: the tunnel entry points by hand. indexNum 0;
//   cmd 1 add, 2 delete: value octets, the tunnel request (HW_NM_TUN_REQ_LEN bytes)
//   cmd 3 unit removal:  value u32, the tunnel unit
// The reply of an add or delete carries the request back with byte
// HW_NM_TUN_OUT_BINDING the binding of the stored tunnel (0 none kept, 1 a
// neighbour, 2 a destination) and byte HW_NM_TUN_OUT_STATUS its hardware status.
constexpr uint32_t HW_NM_FUNC_TUNNEL = 101;  // 100 is the export
constexpr uint32_t HW_NM_TUN_ADD = 1;
constexpr uint32_t HW_NM_TUN_DEL = 2;
constexpr uint32_t HW_NM_TUN_NOTIFY = 3;

// Tunnel request as carried in the value, big-endian:
//   0 u16 tunId, 2 u8 tunFamily, 3 u8 encapsMethod, 4 16 nextHopSrc,
//   20 u32 nexthopMask, 24 16 nextHopDst, 40 16 dest, 56 u32 routeMask,
//   60 u32 tunUnit, 64 u32 tunType, 68 u32 tunCreateTick, 72 u16 routeFamily,
//   74 u8 binding (reply), 75 u8 status (reply)
// IPv4 addresses take the first 4 of their 16 bytes, the rest zero.
constexpr uint32_t HW_NM_TUN_REQ_LEN = 76;
constexpr uint32_t HW_NM_TUN_OUT_BINDING = 74;
constexpr uint32_t HW_NM_TUN_OUT_STATUS = 75;

constexpr uint32_t HW_NM_RC_TUN_BAD_CMD = 0x03E80020;      // cmd other than 1, 2, 3
constexpr uint32_t HW_NM_RC_TUN_BAD_VALUE = 0x03E80021;    // value of the wrong type or length
constexpr uint32_t HW_NM_RC_TUN_BAD_FAMILY = 0x03E80022;   // a family other than 2 or 10
constexpr uint32_t HW_NM_RC_TUN_BAD_ADDRESS = 0x03E80023;  // endpoint missing or equal, stray bytes, host bits in dest
constexpr uint32_t HW_NM_RC_TUN_BAD_MASK = 0x03E80024;     // mask not contiguous, prefix length over 128
constexpr uint32_t HW_NM_RC_TUN_BAD_UNIT = 0x03E80025;     // tunnel unit 0
constexpr uint32_t HW_NM_RC_TUN_TICK = 0x03E80026;         // type 100: creation ticks differ
constexpr uint32_t HW_NM_RC_TUN_IF_QUERY = 0x03E80027;     // type 100: interface query failed
constexpr uint32_t HW_NM_RC_TUN_NO_MEMORY = 0x03E80028;    // tunnel pool empty
constexpr uint32_t HW_NM_RC_TUN_NOT_FOUND = 0x03E80029;    // delete of an absent tunnel
constexpr uint32_t HW_NM_RC_TUN_HW_REFUSED = 0x03E8002A;   // hardware refused the delete

struct HwRouteTunNode;
// Runs one tunnel request; answers 0 or one of the codes above. On success
// `value` is rewritten as described (add and delete only).
uint32_t hwRouteNmTunnelApi(uint32_t cmd, uint8_t valueType, uint8_t* value, uint32_t len);
void hwNmTunnelEncode(const HwRouteTunNode* tun, uint8_t* out);
uint32_t hwNmTunnelDecode(const uint8_t* in, uint32_t len, HwRouteTunNode* out);
// The client's readable form, as words after "add" or "del":
//   unit N local ADDR[/LEN] remote ADDR route PREFIX/LEN [id N] [encaps N] [type N] [tick N]
// LEN of the local address gives the local subnet (absent: 0, never local).
// Returns false with a one-line reason in `err`.
bool hwNmTunnelParse(int count, const char* const* words, HwRouteTunNode* out, char* err, uint32_t errLen);
// Text of a return code of the tunnel operation, or null for another code.
const char* hwNmTunnelRcText(uint32_t rc);
