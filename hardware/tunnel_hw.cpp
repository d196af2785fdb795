// Tunnel hardware entries: a tunnel is a route entry of its routed family
// (dest/routeMask) with one next-hop record that carries the tunnel interface
// index and the link-layer data of the first hop towards the far endpoint.
//
// Status moves and counts: entry_writes.h (no statistics counter moves for
// tunnels).
//
// A translation that stops early (no bound entry, or a VLAN lookup that
// failed) has no length to send: the writers then make no platform call and
// treat the write as refused (add -> 4, delete -> 5 and -1), since the entry
// the hardware holds is then exactly what it held before. Such a refused
// delete keeps no bytes: its retry translates again while the tunnel
// exists.
#include <cstring>

#include "entry_writes.h"
#include "hwroute/abnormal.h"
#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/hardware.h"
#include "hwroute/intake.h"
#include "hwroute/platform.h"
#include "hwroute/tables.h"
#include "layout.h"
#include "route_paths.h"

namespace {

#define LOG(...) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__)

constexpr uint32_t kTunDstNeighbour = 1;
constexpr uint32_t kTunDstRoute = 2;

// Usable next hop of a carrying destination: in hardware and not on its way out.
constexpr uint32_t kUnusable = NH_OP_DEL | NH_NEIGH_LOST | NH_OP_BACKUP;
template <class Nexthop>
bool usable(const Nexthop* nh) {
    return (nh->flag & NH_HW_OK) != 0 && (nh->flag & kUnusable) == 0;
}

// The VLAN of a neighbour: its sub-interface's when it has one, else its interface's.
bool vlanOf(uint32_t ifUnit, uint32_t subIfUnit, uint16_t* vid) {
    SysIndexIfRecord rec{};
    if (sysIndexTrans(subIfUnit != 0 ? subIfUnit : ifUnit, HW_TRANS_IF_RECORD, &rec) != 0) {
        LOG("sysIndexTrans get vlan id failed.");
        return false;
    }
    *vid = uint16_t(rec.word[4]);
    return true;
}

uint8_t opOf(uint32_t del) { return del != 0 ? HW_REC_OP_DEL : HW_REC_OP_ADD; }

// Next-hop fields from an IPv4 or an IPv6 neighbour.
bool fromNeighbour(HwTunEntry* e, const HwArpNode* arp, uint32_t del) {
    hwIp4Bytes(arp->nextHop, e->rec.nexthopIp);
    e->rec.port = arp->outPort;
    e->rec.ipPort = arp->ifUnit;
    std::memcpy(e->rec.nextHopMac, arp->mac, 6);
    if (!vlanOf(arp->ifUnit, arp->subIfUnit, &e->rec.vid)) return false;
    e->rec.op = opOf(del);
    return true;
}

bool fromNeighbour(HwTunEntry* e, const HwNd6Node* nd6, uint32_t del) {
    std::memcpy(e->rec.nexthopIp, nd6->nextHop, 16);
    e->rec.port = nd6->outPort;
    e->rec.ipPort = nd6->ifUnit;
    std::memcpy(e->rec.nextHopMac, nd6->macAddr, 6);
    if (!vlanOf(nd6->ifUnit, nd6->subIfUnit, &e->rec.vid)) return false;
    e->rec.op = opOf(del);
    return true;
}

const HwArpNode* neighbourOf(const HwRouteNexthop* nh) {
    uint32_t vrf = 0;
    return hwNexthopEffectiveVrf(nh, &vrf) ? hwArpFind(vrf, nh->nextHop) : nullptr;
}

const HwNd6Node* neighbourOf(const HwRoute6Nexthop* nh) {
    uint32_t vrf = 0;
    return hwNexthop6EffectiveVrf(nh, &vrf) ? hwNd6Find(vrf, nh->nextHop) : nullptr;
}

// Every usable next hop counts; the last one whose neighbour is known
// supplies the record. A VLAN lookup failure stops the translation.
template <class Dest, class Nexthop>
bool fromDestination(HwTunEntry* e, const Dest* dest, uint32_t del) {
    for (const Nexthop* nh : hwListOf<&Nexthop::destLink>(const_cast<HwListLink*>(&dest->nhopList))) {
        if (!usable(nh)) continue;
        e->nextHopNum++;
        const auto* neighbour = neighbourOf(nh);
        if (neighbour != nullptr && !fromNeighbour(e, neighbour, del)) return false;
    }
    return true;
}

// The family of the tunnel endpoints decides which records dstEntry points at.
bool nextHopFields(HwTunEntry* e, const HwRouteTunNode* tun, uint32_t del) {
    if (tun->dstEntry == nullptr) return false;
    const bool v4 = tun->tunFamily == HW_AF_INET;
    if (tun->dstType == kTunDstNeighbour) {
        e->nextHopNum = 1;
        return v4 ? fromNeighbour(e, static_cast<const HwArpNode*>(tun->dstEntry), del)
                  : fromNeighbour(e, static_cast<const HwNd6Node*>(tun->dstEntry), del);
    }
    if (tun->dstType == kTunDstRoute) {
        return v4 ? fromDestination<HwRouteDest, HwRouteNexthop>(e, static_cast<const HwRouteDest*>(tun->dstEntry), del)
                  : fromDestination<HwRoute6Dest, HwRoute6Nexthop>(
                        e, static_cast<const HwRoute6Dest*>(tun->dstEntry), del);
    }
    return false;
}

// Common steps of the four translators: header, then the next-hop record;
// the size and the length only when the end is reached.
bool translate(uint8_t* buffer, uint32_t* len, HwRouteTunNode* tun, uint32_t del, bool v6Buffer) {
    if (buffer == nullptr || tun == nullptr) return false;
    HwTunEntry e{};
    if (v6Buffer) {
        std::memcpy(e.subnetAddr, tun->dest, 16);
        e.mask = tun->routeMask & 0xFF;
    } else {
        std::memcpy(e.subnetAddr, tun->dest, 4);
        e.mask = tun->routeMask;
    }
    e.tunnelIfIndex = tun->tunUnit;
    e.rec.flags = HW_NHF_TUNNEL_ENTRY;
    const bool complete = nextHopFields(&e, tun, del);
    const uint32_t bufLen = v6Buffer ? HW_TUN6_BUF_LEN : HW_TUN4_BUF_LEN;
    if (complete) e.size = uint8_t(bufLen / 4);
    if (v6Buffer)
        packTun6Buf(buffer, e);
    else
        packTun4Buf(buffer, e);
    if (!complete) return false;
    if (len != nullptr) *len = bufLen;
    return true;
}

void logV4Buffer(const char* fn, const HwRouteTunNode* tun, const uint8_t* buffer) {
    LOG("[%s]=>vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,nextHopNum=%d,size=%d,bufLen=%d,tunnelIfIndex=%d", fn, 0,
        beRead32(buffer + HW_R4_SUBNET_ADDR), tun->routeMask, buffer[HW_R4_NEXTHOP_NUM], buffer[HW_R4_SIZE],
        int(HW_TUN4_BUF_LEN), int(tun->tunUnit));
}

void logV6Buffer(const char* fn, const HwRouteTunNode* tun, const uint8_t* buffer) {
    LOG("[%s]=>vrId=%d,subnetAddr=%s,subnetMask=%d,nextHopNum=%d,size=%d,bufLen=%d,tunnelIfIndex=%d", fn, 0,
        ip6_sprintf(tun->dest), int(tun->routeMask & 0xFF), buffer[HW_R6_NEXTHOP_NUM], buffer[HW_R6_SIZE],
        int(HW_TUN6_BUF_LEN), int(tun->tunUnit));
}

// The translator of a tunnel's two families, and the object its entry goes to.
using Translator = int (*)(uint8_t*, uint32_t*, HwRouteTunNode*, uint32_t);

Translator translatorOf(const HwRouteTunNode* tun) {
    if (tun->tunFamily == HW_AF_INET)
        return tun->routeFamily == HW_AF_INET ? hwTranslateTun4to4Buf : hwTranslateTun6to4Buf;
    return tun->routeFamily == HW_AF_INET6 ? hwTranslateTun6to6Buf : hwTranslateTun4to6Buf;
}

uint32_t objectOf(const HwRouteTunNode* tun) {
    return tun->routeFamily == HW_AF_INET6 ? HW_OBJ_ROUTE6 : HW_OBJ_ROUTE4;
}

// One entry on the writer's stack: translated first, sent only when needed.
struct TunWrite {
    uint8_t buffer[HW_TUN_BUF_ZERO];
    uint32_t len = 0;
    bool translated = false;

    TunWrite(HwRouteTunNode* tun, uint32_t del) {
        std::memset(buffer, 0, sizeof(buffer));
        translated = translatorOf(tun)(buffer, &len, tun, del) == 0;
    }
    // False when the translation stopped or the platform refused.
    bool send(const HwRouteTunNode* tun) { return translated && hwSendEntries(objectOf(tun), buffer, len) == 0; }
};

}  // namespace

int hwTranslateTun4to4Buf(uint8_t* buffer, uint32_t* len, HwRouteTunNode* tun, uint32_t del) {
    if (!translate(buffer, len, tun, del, false)) return -1;
    logV4Buffer("hwTranslateTun4to4Buf", tun, buffer);
    return 0;
}

int hwTranslateTun6to4Buf(uint8_t* buffer, uint32_t* len, HwRouteTunNode* tun, uint32_t del) {
    if (!translate(buffer, len, tun, del, true)) return -1;
    logV6Buffer("hwTranslateTun6to4Buf", tun, buffer);
    return 0;
}

int hwTranslateTun6to6Buf(uint8_t* buffer, uint32_t* len, HwRouteTunNode* tun, uint32_t del) {
    if (!translate(buffer, len, tun, del, true)) return -1;
    logV6Buffer("hwTranslateTun6to6Buf", tun, buffer);
    return 0;
}

int hwTranslateTun4to6Buf(uint8_t* buffer, uint32_t* len, HwRouteTunNode* tun, uint32_t del) {
    if (!translate(buffer, len, tun, del, false)) return -1;
    logV4Buffer("hwTranslateTun4to6Buf", tun, buffer);
    return 0;
}

namespace {

uint32_t addrLen(uint32_t family) { return family == HW_AF_INET ? 4 : 16; }

// Its key: dest in addr, routeMask in extra, nexthopMask in vrf, the rest of
// what the tunnel list's lookup compares in more.
struct TunKind {
    using Node = HwRouteTunNode;
    static constexpr uint32_t HwRouteGlobal::*ok = nullptr;
    static constexpr uint32_t HwRouteGlobal::*err = nullptr;
    static HwAbnKey key(const Node* tun) { return hwAbnTunKey(tun); }
    static Node* lookup(const HwAbnKey& key) {
        HwRouteTunNode k{};
        std::memcpy(k.dest, key.addr, 16);
        k.routeMask = key.extra;
        k.nexthopMask = key.vrf;
        k.routeFamily = beRead16(key.more);
        k.tunFamily = key.more[2];
        k.encapsMethod = key.more[3];
        k.tunId = beRead16(key.more + 4);
        std::memcpy(k.nextHopSrc, key.more + 8, 16);
        std::memcpy(k.nextHopDst, key.more + 24, 16);
        return hwRouteTunTableLookup(&k);
    }
    static void add(Node* tun) { hwUpdateTunAdd(tun); }
    static int del(Node* tun) { return hwUpdateTunDel(tun); }
    static int resend(const HwAbnKey& key, uint8_t* bytes, uint32_t len) {
        return hwSendEntries(beRead16(key.more) == HW_AF_INET6 ? HW_OBJ_ROUTE6 : HW_OBJ_ROUTE4, bytes, len);
    }
};
using TunWrites = HwEntryWrites<TunKind>;

}  // namespace

HwAbnKey hwAbnTunKey(const HwRouteTunNode* tun) {
    HwAbnKey k{};
    k.kind = HW_ABN_TUN;
    std::memcpy(k.addr, tun->dest, addrLen(tun->routeFamily));
    k.extra = tun->routeMask;
    k.vrf = tun->nexthopMask;
    BeWriter(k.more, sizeof k.more).u16(tun->routeFamily).u8(tun->tunFamily).u8(tun->encapsMethod).u16(tun->tunId);
    std::memcpy(k.more + 8, tun->nextHopSrc, addrLen(tun->tunFamily));
    std::memcpy(k.more + 24, tun->nextHopDst, addrLen(tun->tunFamily));
    return k;
}

HwAbnResult hwTunAbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen) {
    return TunWrites::retry(key, saved, savedLen);
}

void hwTunCardupReplay(HwRouteTunNode* tun) { TunWrites::replay(tun); }

void hwUpdateTunAdd(HwRouteTunNode* tun) {
    if (tun == nullptr) return;
    TunWrite w(tun, 0);
    if (!TunWrites::addable(tun)) {
        LOG("add tunnel on hardware error,status %d is error.", int(tun->status));
        return;
    }
    const bool accepted = w.send(tun);
    LOG(accepted ? "add tunnel on hardware success." : "add tunnel on hardware error.");
    TunWrites::addDone(tun, accepted);
}

int hwUpdateTunDel(HwRouteTunNode* tun) {
    if (tun == nullptr) return 0;
    TunWrite w(tun, 1);
    if (tun->status == hwStatusAddAbnormal) {
        LOG("del tunnel on hardware success,old status is add abnormal.");
        tun->status = hwStatusIdle;
        return 0;
    }
    if (tun->status != hwStatusOk && tun->status != hwStatusDelAbnormal) {
        LOG("del tunnel on hardware error,status %d is error.", int(tun->status));
        return 0;
    }
    const bool accepted = w.send(tun);
    LOG(accepted ? "del tunnel on hardware success." : "del tunnel on hardware error.");
    TunWrites::delDone(tun, accepted, w.buffer, w.translated ? w.len : 0);
    return accepted ? 0 : -1;
}
