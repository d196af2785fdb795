// Hardware programming: the ready-list flush, the route, neighbour, ILM,
// layer-2 VPN and tunnel entry builders and writers, and the card-up replay.
#pragma once

#include <cstdint>

#include "hwroute/records.h"

constexpr uint32_t HW_BATCH_BYTES = 1400;
constexpr uint32_t HW_ROUTE4_HDR_LEN = 28;
constexpr uint32_t HW_ROUTE6_HDR_LEN = 36;
constexpr uint32_t HW_NHOP_REC_LEN = 64;
constexpr uint32_t HW_LABEL_REC_LEN = 8;
constexpr uint32_t HW_MAX_SET = 128;  // members of one path group or set

// hwRouteNhopBufInsert operations.
constexpr uint32_t HW_NHOP_OP_DEL = 1;
constexpr uint32_t HW_NHOP_OP_ADD = 2;
constexpr uint32_t HW_NHOP_OP_NOCHANGE = 3;
constexpr uint32_t HW_NHOP_OP_BACKUP = 4;

// Room a caller of hwRouteInsertDataToBuf (and its IPv6 twin) provides: the
// largest entry a build can produce. A build writes at most 2 x HW_MAX_SET
// deletes (departing paths plus the paths pushed out), HW_MAX_SET adds,
// HW_MAX_SET backups and HW_MAX_SET kept paths, each with up to three labels.
constexpr uint32_t HW_ENTRY_MAX_RECORDS = 5 * HW_MAX_SET;
constexpr uint32_t HW_ROUTE_ENTRY_MAX = HW_ROUTE6_HDR_LEN + HW_ENTRY_MAX_RECORDS * (HW_NHOP_REC_LEN + 3 * HW_LABEL_REC_LEN);
// The longest entry whose length the 8-bit `size` field can carry; a longer
// one goes to the hardware in a call of its own, whose length says it.
constexpr uint32_t HW_SIZE_FIELD_MAX_BYTES = 255 * 4;

// Hardware-private next-hop mark, set by a build on a departing path whose
// delete did not fit the entry (its group was full). The settlement leaves
// such a path exactly as it was and queues its destination again, so the
// delete goes out with a later batch instead of being dropped.
constexpr uint32_t NH_DEL_DEFERRED = 0x00000001;

// Counters kept by the hardware layer beside the printed ones.
extern uint32_t hwRouteFlushFailRun;   // IPv4 batches refused in a row (0 after a success)
extern uint32_t hwRoute6FlushFailRun;  // IPv6 likewise
extern uint32_t hwRouteFlushSoloCnt;   // IPv4 batches that carried one destination on its own
extern uint32_t hwRoute6FlushSoloCnt;  // IPv6 likewise
extern uint32_t hwRouteDelDeferCnt;    // IPv4 deletes left for a later batch
extern uint32_t hwRoute6DelDeferCnt;   // IPv6 likewise

void hwRouteUpdate(void);

int hwRouteInsertDataToBuf(uint8_t* entry, uint32_t* len, HwRouteDest* dest);
uint32_t hwRouteNhopBufInsert(uint8_t* record, HwRouteNexthop* nh, HwRouteNexthop* orig, uint32_t op);
int hwRouteCompare(const HwRouteNexthop* a, const HwRouteNexthop* b);
void hwTranslateDest4Node(uint8_t* header, const HwRouteDest* dest);
int hwRouteClrAllOp(uint32_t* flag);

void hwUpdateRouteAdd(HwRouteNexthop* nexthop);
int hwUpdateRouteDel(HwRouteNexthop* nexthop);
// True when the hardware needs nothing for the destination: no path has a
// change queued and the present paths are exactly its best set. Only then
// may a handler take it off the ready list to save a flush.
bool hwRouteDestSettled(HwRouteDest* dest);
bool hwRoute6DestSettled(HwRoute6Dest* dest);

void hwTranslateDest6Node(uint8_t* header, const HwRoute6Dest* dest);
int hwRoute6Compare(const HwRoute6Nexthop* a, const HwRoute6Nexthop* b);
int hwRoute6InsertDataToBuf(uint8_t* entry, uint32_t* len, HwRoute6Dest* dest);
uint32_t hwRoute6NhopBufInsert(uint8_t* record, HwRoute6Nexthop* nh, HwRoute6Nexthop* orig, uint32_t op);
void hwUpdateRoute6Add(HwRoute6Nexthop* nexthop);
int hwUpdateRoute6Del(HwRoute6Nexthop* nexthop);
void hwUpdateRoute6In4Add(HwRoute6Nexthop* nexthop);

int hwUpdateArpAdd(HwArpNode* node);
int hwUpdateArpDel(HwArpNode* node);
int hwUpdateNd6Add(HwNd6Node* node);
int hwUpdateNd6Del(HwNd6Node* node);

int hwTranslateIlmRtNode(uint8_t* buffer, HwRouteIlmNode* ilm);
void hwUpdateIlmRouteAdd(HwRouteIlmNode* ilm);
int hwUpdateIlmRouteDel(HwRouteIlmNode* ilm);
int hwTranslateL2vpnNode(uint8_t* buffer, HwRouteL2vpnNode* l2vpn);
void hwUpdateL2vpnAdd(HwRouteL2vpnNode* l2vpn);
int hwUpdateL2vpnDel(HwRouteL2vpnNode* l2vpn);
// Card-up replay of one entry in hardware: written again, and counted again
// only once the new card has it.
void hwIlmCardupReplay(HwRouteIlmNode* ilm);
void hwL2vpnCardupReplay(HwRouteL2vpnNode* l2vpn);
void hwTunCardupReplay(HwRouteTunNode* tun);

int hwTranslateTun4to4Buf(uint8_t* buffer, uint32_t* len, HwRouteTunNode* tun, uint32_t del);
int hwTranslateTun6to4Buf(uint8_t* buffer, uint32_t* len, HwRouteTunNode* tun, uint32_t del);
int hwTranslateTun6to6Buf(uint8_t* buffer, uint32_t* len, HwRouteTunNode* tun, uint32_t del);
int hwTranslateTun4to6Buf(uint8_t* buffer, uint32_t* len, HwRouteTunNode* tun, uint32_t del);
void hwUpdateTunAdd(HwRouteTunNode* tun);
int hwUpdateTunDel(HwRouteTunNode* tun);

int hwRouteCardupProcess(void);
