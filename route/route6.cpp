// IPv6 route add and delete: the twins of the IPv4 handlers on the IPv6
// records, with the differences of the family: link-local and IPv4-mapped
// addresses are refused, a re-add with the same weight changes nothing, a
// next hop may be an IPv4 address (resolved by ARP and written as a single
// path at once), and a local address is shared by the local routes counted
// in its ND6 record.
#include <cstdint>
#include <cstring>

#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/hardware.h"
#include "hwroute/intake.h"
#include "hwroute/platform.h"
#include "hwroute/route.h"
#include "hwroute/tables.h"

namespace {

// Address texts are formatted only for lines that are written.
#define LOG(...)                                                                        \
    do {                                                                                \
        if (hwRouteDebugOn(HW_DBG_MOD, HW_DBG_ROUTE)) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__); \
    } while (0)

using Nh6 = HwRoute6Nexthop;

constexpr uint32_t kMaxPrefixLen = 128;

bool allZero(const uint8_t* a) {
    for (int i = 0; i < 16; ++i)
        if (a[i] != 0) return false;
    return true;
}

// fe80::/10.
bool isLinkLocal(const uint8_t* a) { return a[0] == 0xfe && (a[1] & 0xc0) == 0x80; }

// ::ffff:a.b.c.d, an IPv4 address in IPv6 dress. Such a route or next hop
// would be a second name for an IPv4 one; IPv4 next hops of IPv6 routes come
// with afNextHop 2 instead.
bool isV4Mapped(const uint8_t* a) {
    static const uint8_t prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return std::memcmp(a, prefix, sizeof prefix) == 0;
}

uint32_t ip4Of(const uint8_t* a) {
    return (uint32_t(a[0]) << 24) | (uint32_t(a[1]) << 16) | (uint32_t(a[2]) << 8) | a[3];
}

bool ipv6Nexthop(const Nh6* nh) { return nh->afNextHop != HW_AF_INET; }

const char* nexthopText(const Nh6* nh, char* buf4) {
    return ipv6Nexthop(nh) ? ip6_sprintf(nh->nextHop) : inet_ntoa_2(buf4, ip4Of(nh->nextHop));
}

// What is wrong with a request, if anything. A link-local address names a
// neighbour only together with its link, while routes and neighbours are
// keyed by VRF and address alone: such a destination or next hop could
// forward through the neighbour of another link, so it is refused (and
// counted apart from the other invalid requests).
enum class Check { Ok, Invalid, LinkLocal };

Check checkRequest(const HwRoute6Dest* dest, const Nh6* nh) {
    if (allZero(nh->nextHop)) return Check::Invalid;
    if (nh->protoId == HW_PROTO_KERNEL && dest->prefixLen == 0) return Check::Invalid;
    if (dest->prefixLen > kMaxPrefixLen || isV4Mapped(dest->destIpAddr)) return Check::Invalid;
    if (ipv6Nexthop(nh) && isV4Mapped(nh->nextHop)) return Check::Invalid;
    if (isLinkLocal(dest->destIpAddr) || (ipv6Nexthop(nh) && isLinkLocal(nh->nextHop))) return Check::LinkLocal;
    return Check::Ok;
}

// ---- add ----------------------------------------------------------------------

HwRoute6Dest* destFindOrCreate(const HwRoute6Dest* request) {
    HwRoute6Dest* dest = hwRoute6DestTableLookup(request);
    if (dest != nullptr) return dest;
    dest = hwRoute6DestNodeAlloc();
    if (dest == nullptr) {
        ++ghwRoute.rt6AddNoDestMemErrCnt;
        LOG("[hwRoute6RouteAdd]=>ERROR: dest node alloc fail.");
        return nullptr;
    }
    *dest = *request;
    dest->readyState = 0;
    dest->routeFailState = 0;
    dest->nhopRefCnt = 0;
    hwListInit(&dest->tunList);
    hwListInit(&dest->nhopList);
    ++ghwRoute.rt6AddDestAddCnt;
    hwRoute6DestTableAdd(dest);
    return dest;
}

// Local (kernel-protocol) paths are numbered from 1 in their weight.
void localOrdinalAssign(HwRoute6Dest* dest, Nh6* request) {
    if (request->protoId != HW_PROTO_KERNEL) return;
    uint8_t highest = 0;
    for (Nh6* nh : hwListOf<&Nh6::destLink>(&dest->nhopList))
        if (nh->protoId == HW_PROTO_KERNEL && nh->weight > highest) highest = nh->weight;
    LOG("[hwRoute6RouteAdd]=>receive multi local route!");
    request->weight = uint8_t(highest + 1);
}

// A private path counts on its public route from its creation (user, and
// label user when it carries labels); its neighbour count follows the
// neighbour, taken here or when the neighbour arrives later.
uint32_t publicHoldsOf(const Nh6* nh) {
    uint32_t bits = NH_HOLDS_PUBLIC;
    if (nh->mplsLabelNum != 0) bits |= NH_HOLDS_PUBLIC_MPLS;
    return bits;
}

Nh6* nexthopCreate(HwRoute6Dest* dest, const Nh6* request, uint32_t publicFamily, void* publicRoute) {
    Nh6* nh = hwRoute6NexthopNodeAlloc();
    if (nh == nullptr) {
        ++ghwRoute.rt6AddNoNhopMemErrCnt;
        LOG("[hwRoute6RouteAdd]=>ERROR:nhop node alloc fail.");
        return nullptr;
    }
    ++ghwRoute.rt6AddNhopAddCnt;
    *nh = *request;
    hwListInit(&nh->pendLink);
    hwListInit(&nh->indirectLink);
    hwRoute6NexthopTableAdd(dest, nh);
    nh->pDestEntry = dest;
    nh->publicFamily = uint8_t(publicFamily);
    nh->publicRoute = publicRoute;
    nh->flag = (nh->flag & ~NH_HOLDS_PUBLIC_ALL) | NH_OP_ADD;
    hwRoute6PublicTake(nh, publicHoldsOf(nh));
    nh->ifState = 1;
    char text[16];
    LOG("[hwRoute6RouteAdd]=>ipv6 route add detected,vrfId=%d,dest=%s,prefixLen=%d,nextHop=%s,prot=%d,weight=%d,"
        "ifUnit=%d,flag=0x%x,mplsLabelNum=%d,routeFlag=%#x,nVrfId=%d.",
        dest->vrfId, ip6_sprintf(dest->destIpAddr), dest->prefixLen, nexthopText(nh, text), nh->protoId, nh->weight,
        nh->ifUnit, nh->flag, nh->mplsLabelNum, nh->routeFlag, nh->nVrfId);
    return nh;
}

// An IPv6 next hop's neighbour, matched as the IPv4 twin does: in the
// effective VRF, any neighbour of that VRF in the bucket for a local path,
// else the resolved record of the address.
bool nd6Known(const Nh6* nh) {
    uint32_t vrf = 0;
    if (!hwNexthop6EffectiveVrf(nh, &vrf)) return false;
    for (HwNd6Node* nd = hwNd6Find(vrf, nh->nextHop); nd != nullptr; nd = hwNd6FindNext(nd))
        if (nh->protoId == HW_PROTO_KERNEL || nd->status == hwStatusOk) return true;
    if (nh->protoId != HW_PROTO_KERNEL) return false;
    // Rarely reached: a local path whose own neighbour is missing still takes
    // any neighbour of the VRF that shares its bucket.
    for (HwNd6Node* nd : hwListOf<&HwNd6Node::link>(&ghwRoute.nd6Table[hwRoute6Key1(nh->nextHop)]))
        if (nd->vpnVrfid == vrf) return true;
    return false;
}

// An IPv4 next hop's neighbour: a resolved ARP record of the address, in any VRF.
bool arpKnown(const Nh6* nh) {
    const uint32_t a = ip4Of(nh->nextHop);
    for (HwArpNode* arp : hwListOf<&HwArpNode::link>(&ghwRoute.arpTable[hwRouteKey1(a)]))
        if (arp->nextHop == a && arp->status == hwStatusOk) return true;
    return false;
}

int neighbourKnownAdd(HwRoute6Dest* dest, Nh6* nh, const Nh6* request) {
    ++ghwRoute.rt6AddNormalCnt;
    LOG("[hwRoute6RouteAdd]=>nextHop mac exist,notify route to hardware.");
    nh->flag |= NH_RESOLVED;
    if (request->flag & NH_L2VPN_PUBLIC) {
        ++ghwRoute.rt6AddL2vpnPublicAddCnt;
        if (dest->readyState) {
            ++ghwRoute.rt6AddReadyDelCnt;
            hwRoute6ReadyRemove(dest);
        }
        hwUpdateRoute6Add(nh);
        return 0;
    }
    if (!dest->readyState) {
        ++ghwRoute.rt6AddNormalReadyAddCnt;
        hwRoute6ReadyAppend(dest);
    }
    hwRoute6IndirectRtAdd(dest);
    hwRoute6PublicTake(nh, NH_HOLDS_PUBLIC_ARP);
    hwRouteTunAttach(dest);  // the tunnels whose far end it covers are carried by it from now on
    return 0;
}

// An IPv4 next hop whose neighbour is known goes to hardware at once as a
// single path. It is marked resolved like any path with a known neighbour:
// the ARP delete finds it by that bit, takes it out of hardware and pends it.
int v4NexthopAdd(Nh6* nh) {
    ++ghwRoute.rt6AddV4NhopCnt;
    LOG("nextHop mac exist,notify route to hardware.");
    nh->flag |= NH_RESOLVED;
    hwUpdateRoute6In4Add(nh);
    return 0;
}

// No neighbour yet: one echo request makes the kernel resolve the address
// (ICMPv6 for an IPv6 next hop), and the path waits on the pend table.
int neighbourUnknownAdd(Nh6* nh) {
    LOG("[hwRoute6RouteAdd]=>nextHop mac not exist, send icmpv6 echo request msg.");
    if (ipv6Nexthop(nh)) {
        uint32_t ifIndex = 0;
        (void)kivIndexTrans(nh->ifUnit, HW_TRANS_IF_INDEX, &ifIndex);
        LOG("ifUnit=%d,ifIndex=%d.", nh->ifUnit, ifIndex);
        hwPing6Send(nh->nextHop, nh->nVrfId, nh->ifUnit);
    } else {
        hwPingSend(ip4Of(nh->nextHop), nh->nVrfId);
    }
    ++ghwRoute.rt6AddPendAddCnt;
    hwRoute6TablePendAdd(nh);
    nh->flag &= ~NH_RESOLVED;
    return 0;
}

// Another path of the destination still has a change queued for the flush:
// the destination then stays on the ready list (as for IPv4).
bool otherPathQueued(HwRoute6Dest* dest, const Nh6* nh) {
    for (Nh6* n : hwListOf<&Nh6::destLink>(&dest->nhopList))
        if (n != nh && (n->flag & NH_OP_MASK) != 0) return true;
    return false;
}

// A deleted path added again with another weight is taken out of hardware
// and put back with it, unless it is the destination's only path.
int metricChange(HwRoute6Dest* dest, Nh6* nh, uint8_t weight) {
    ++ghwRoute.rt6AddNoSameMetricCnt;
    nh->flag |= NH_OP_DEL | NH_OP_CHANGE;
    const int result = hwUpdateRoute6Del(nh);
    nh->weight = weight;
    if (result == 1) {
        ++ghwRoute.rt6AddNoSameMetricNoDoCnt;
        nh->flag &= ~(NH_OP_CHANGE | NH_OP_DEL);
        return 1;
    }
    // The path stays in the kernel: whatever the delete managed, it is now an
    // add candidate and nothing else, so the add weighs it with its new
    // weight instead of passing it over as deleted (as for IPv4).
    nh->flag &= ~(NH_OP_DEL | NH_OP_CHANGE);
    if (dest->readyState && !otherPathQueued(dest, nh)) {
        ++ghwRoute.rt6AddNoSameMetricReadyDelCnt;
        hwRoute6ReadyRemove(dest);
    }
    nh->flag |= NH_OP_ADD;
    hwUpdateRoute6Add(nh);
    return 0;
}

// The path exists: only a path deleted in software and not yet flushed is
// revived. With the same weight nothing more happens: the destination stays
// queued and the flush sends the path as unchanged.
int existingPathAdd(HwRoute6Dest* dest, Nh6* nh, const Nh6* request) {
    // Added again while its delete waits for private users: the delete is off.
    nh->flag &= ~(NH_WAIT_PRIVATE | NH_WAIT_L2VPN);
    if (nh->flag & NH_OP_DEL) {
        ++ghwRoute.rt6AddSwDelCnt;
        nh->flag &= ~NH_OP_DEL;
        // The delete gave the public route's counts back; the revived path takes them again.
        hwRoute6PublicTake(nh, publicHoldsOf(nh) | ((nh->flag & NH_NEIGH_LOST) ? 0 : NH_HOLDS_PUBLIC_ARP));
        if (!(nh->flag & NH_NEIGH_LOST)) {
            ++ghwRoute.rt6AddNoArpDelCnt;
            if (nh->weight != request->weight && metricChange(dest, nh, request->weight) == 1) return 0;
            // Taken out meanwhile (a neighbour change removes its paths at
            // once): it goes back with the flush.
            if (!(nh->flag & NH_HW_OK)) {
                nh->flag |= NH_OP_ADD;
                if (nh->mplsLabelNum != 0) nh->flag |= NH_OP_VPN_ADD;
                if (!dest->readyState) hwRoute6ReadyAppend(dest);
            }
        }
        nh->weight = request->weight;
    }
    ++ghwRoute.rt6AddRedupErrCnt;
    LOG("[hwRoute6RouteAdd]=>route exist.");
    return 0;
}

// ---- delete ---------------------------------------------------------------------

bool notNormalSettle(Nh6* nh) {
    LOG("route6 is not normal flag=%#x.", nh->flag);
    ++ghwRoute.rt6DelNoSucessCnt;
    if (nh->flag & NH_OP_VPN_ADD) {
        ++ghwRoute.rt6DelVpnInAddCnt;
        nh->flag &= ~NH_OP_VPN_ADD;
    }
    if (!(nh->flag & NH_OP_ADD)) return false;
    ++ghwRoute.rt6DelSwAddCnt;
    nh->flag &= ~NH_OP_ADD;
    if (!(nh->flag & NH_CARDUP_PEND)) return false;
    nh->flag &= ~NH_CARDUP_PEND;
    nh->flag |= NH_HW_OK;
    ++ghwRoute.rt6DelCardupCnt;
    return true;
}

// The local address of a connected route is shared by the local routes
// counted in its record: the record goes with the last of them.
void localNd6Release(uint32_t vrf, const uint8_t* address) {
    hwNd6EachAt(vrf, address, [](HwNd6Node* nd) {
        if (nd->localRefCnt != 0) {
            nd->localRefCnt--;
            return;
        }
        hwNd6TableDelete(nd);
        hwNd6NodeFree(nd);
    });
}

void localWeightsClose(HwRoute6Dest* dest, const Nh6* gone) {
    for (Nh6* n : hwListOf<&Nh6::destLink>(&dest->nhopList))
        if (n != gone && n->protoId == HW_PROTO_KERNEL && n->weight > gone->weight) n->weight--;
}

int freeAtOnce(HwRoute6Dest* dest, Nh6* nh) {
    hwRoute6PublicRelease(nh, NH_HOLDS_PUBLIC_ALL, hwPublic6RouteDelCascade);
    if (!(nh->flag & NH_RESOLVED)) {
        ++ghwRoute.rt6DelNoSucPendDelCnt;
        if (!(nh->flag & NH_INDIRECT)) {
            ++ghwRoute.rt6DelNoSucIndirectPendDelCnt;
            hwRoute6TablePendDelete(nh);
        }
        nh->flag |= NH_RESOLVED;
    }
    ++ghwRoute.rt6DelNoSucSwDelCnt;
    if (nh->flag & NH_INDIRECT) {
        ++ghwRoute.rt6DelNoSucIndirectSwDelCnt;
        hwRoute6IndirectTableDelete(nh);
    }
    if (nh->protoId == HW_PROTO_KERNEL) {
        localNd6Release(nh->nVrfId, nh->nextHop);
        localWeightsClose(dest, nh);
    }
    hwRoute6NexthopTableDelete(nh);
    hwRoute6NexthopNodeFree(nh);
    if (dest->nhopRefCnt != 0) {
        ++ghwRoute.rt6DelNhopsCnt;
        return 0;
    }
    if (dest->readyState) {
        ++ghwRoute.rt6DelReadyDelCnt;
        hwRoute6ReadyRemove(dest);
    }
    ++ghwRoute.rt6DelDestDelCnt;
    hwRoute6DestTableDelete(dest);
    hwRoute6DestNodeFree(dest);
    return 0;
}

// A public route with private users is never freed under them, in hardware
// or not: its delete waits for the last of them.
bool heldByPrivateUsers(Nh6* nh) {
    if (nh->privateRefCnt == 0) return false;
    ++ghwRoute.rt6DelPrivateRefCnt;
    LOG("[hwRoute6RouteDel]=>privateRefCnt is %d public route can not delete.", nh->privateRefCnt);
    nh->flag |= NH_WAIT_PRIVATE;
    return true;
}

// Layer-2 VPN entries point at their public next hop until they are deleted.
bool heldByL2vpnUsers(Nh6* nh) {
    if (nh->l2vpnRefCnt == 0) return false;
    ++ghwRoute.rt6DelL2vpnRefCnt;
    LOG("[hwRoute6RouteDel]=>l2vpnRefCnt is %d public route can not delete.", nh->l2vpnRefCnt);
    nh->flag |= NH_WAIT_L2VPN;
    return true;
}

int normalDelete(HwRoute6Dest* dest, Nh6* nh) {
    if (heldByPrivateUsers(nh)) return 0;
    if (heldByL2vpnUsers(nh)) return 0;
    nh->flag |= NH_OP_DEL;
    if (nh->flag & NH_VPN) {
        ++ghwRoute.rt6DelVpnSuccessCnt;
        nh->flag |= NH_VPN_DELETED;
        nh->extFlag |= NH_EXT_VPN_WITHDRAWN;
    }
    ++ghwRoute.rt6DelNormalCnt;
    if (!dest->readyState) {
        ++ghwRoute.rt6DelReadyAddCnt;
        hwRoute6ReadyAppend(dest);
    }
    hwRoute6IndirectRtDel(dest);
    hwRoute6RtDelProcess(dest, nh);
    return 0;
}

}  // namespace

int hwRoute6RouteAdd(HwRoute6Dest* destRequest, HwRoute6Nexthop* nexthopRequest, uint32_t publicFamily,
                     void* publicRoute) {
    // 1. Validation.
    const Check check =
        destRequest != nullptr && nexthopRequest != nullptr ? checkRequest(destRequest, nexthopRequest) : Check::Invalid;
    if (check == Check::LinkLocal) {
        ++ghwRoute.rt6AddLinkLocalErrCnt;
        LOG("[hwRoute6RouteAdd]=>ERROR:receive link-local address.");
        return -1;
    }
    if (check != Check::Ok || nexthopRequest->ifUnit == 0) {
        ++ghwRoute.rt6AddParamErrCnt;
        LOG("[hwRoute6RouteAdd]=>ERROR:receive invalid message.");
        return -1;
    }
    ++ghwRoute.rt6AddCnt;

    // 2. and 3. Destination, existing path.
    HwRoute6Dest* dest = destFindOrCreate(destRequest);
    if (dest == nullptr) return -1;
    Nh6* nh = hwRoute6NexthopTableLookup(dest, nexthopRequest);
    if (nh != nullptr) return existingPathAdd(dest, nh, nexthopRequest);

    // 4. and 5. Local ordinal, new next hop.
    localOrdinalAssign(dest, nexthopRequest);
    nh = nexthopCreate(dest, nexthopRequest, publicFamily, publicRoute);
    if (nh == nullptr) return -1;

    // 6. End type: unlike IPv4, an unknown one ends the add (the next hop
    // stays in the tables, on no list, until it is deleted).
    uint32_t endType = 0;
    if (kivIfGetApi(nh->ifUnit, HW_ATTR_END_TYPE, &endType) != 0) {
        ++ghwRoute.rt6AddNoEndCnt;
        LOG("[hwRoute6RouteAdd]=>ip6 route add detected,get end type error.");
        return -1;
    }
    if (hwIsPointToPoint(endType)) {
        ++ghwRoute.rt6AddPppCnt;
        LOG("[hwRoute6RouteAdd]=>ip6 route add detected,add pos route!.");
        nh->flag |= NH_RESOLVED;
        hwUpdateRoute6Add(nh);
        return 0;
    }

    // 7. to 9. Neighbour known or not.
    if (!ipv6Nexthop(nh)) return arpKnown(nh) ? v4NexthopAdd(nh) : neighbourUnknownAdd(nh);
    if (nd6Known(nh)) return neighbourKnownAdd(dest, nh, nexthopRequest);
    return neighbourUnknownAdd(nh);
}

int hwRoute6RouteDel(HwRoute6Dest* destRequest, HwRoute6Nexthop* nexthopRequest) {
    // 1. Validation.
    const Check check =
        destRequest != nullptr && nexthopRequest != nullptr ? checkRequest(destRequest, nexthopRequest) : Check::Invalid;
    if (check == Check::LinkLocal) {
        ++ghwRoute.rt6DelLinkLocalErrCnt;
        LOG("[hwRoute6RouteDel]=>ERROR:receive link-local address.");
        return -1;
    }
    if (check != Check::Ok) {
        ++ghwRoute.rt6DelParamErrCnt;
        LOG("[hwRoute6RouteDel]=>ERROR:receive invalid message.");
        return -1;
    }
    // 2. What was asked.
    char text[16];
    LOG("[hwRoute6RouteDel]=>ipv6 route del detected,ifUnit=%d dest=%s,prefixLen=%#x,nextHop=%s,prot=%d,weight=%d,"
        "vrfId=%d,flag=0x%x,mplsLabelNum=%d,routeFlag=%#x,nVrfId=%d.",
        nexthopRequest->ifUnit, ip6_sprintf(destRequest->destIpAddr), destRequest->prefixLen,
        nexthopText(nexthopRequest, text), nexthopRequest->protoId, nexthopRequest->weight, destRequest->vrfId,
        nexthopRequest->flag, nexthopRequest->mplsLabelNum, nexthopRequest->routeFlag, nexthopRequest->nVrfId);

    // 3. Lookups; the requests may be the stored records themselves.
    HwRoute6Dest* dest = hwRoute6DestTableLookup(destRequest);
    if (dest == nullptr) {
        ++ghwRoute.rt6DelNoDestEntryErrCnt;
        LOG("[hwRoute6RouteDel]=>ERROR:no found dest entry.");
        return -1;
    }
    Nh6* nh = hwRoute6NexthopTableLookup(dest, nexthopRequest);
    if (nh == nullptr) {
        ++ghwRoute.rt6DelNoNexthopEntryErrCnt;
        LOG("[hwRoute6RouteDel]=>ERROR:no found nexthop entry.");
        return -1;
    }
    ++ghwRoute.rt6DelCnt;

    // 4. Delete again.
    if (nh->flag & NH_OP_DEL) {
        ++ghwRoute.rt6DelAgainCnt;
        LOG("[hwRoute6RouteDel]=>ERROR:route entry delete again.");
        return -1;
    }

    // 5. to 8. Normal (in hardware), neighbour lost, or never in hardware.
    bool normal = (nh->flag & NH_HW_OK) && !(nh->flag & NH_NEIGH_LOST);
    if (!normal && (heldByPrivateUsers(nh) || heldByL2vpnUsers(nh))) return 0;
    if (!normal) normal = notNormalSettle(nh);
    if (normal) return normalDelete(dest, nh);
    // The neighbour logic and the flush finish a path whose neighbour went
    // away; its label and neighbour counts on its public route go now, as
    // for any deleted path, its user count when it is freed.
    if (nh->flag & NH_NEIGH_LOST) {
        ++ghwRoute.rt6DelArpDelCnt;
        nh->flag |= NH_OP_DEL;
        hwRoute6PublicRelease(nh, NH_HOLDS_PUBLIC_ON_DELETE, hwPublic6RouteDelCascade);
        return 0;
    }
    return freeAtOnce(dest, nh);
}

int hwRoute6RtDelProcess(HwRoute6Dest* dest, HwRoute6Nexthop* nexthop) {
    if (dest != nullptr) hwRouteTunDestroyAll(&dest->tunList);
    // The whole path goes: its label and neighbour counts on its public route
    // go now, its user count when the flush frees it.
    hwRoute6PublicRelease(nexthop, NH_HOLDS_PUBLIC_ON_DELETE, hwPublic6RouteDelCascade);
    return 0;
}
