// Labelled (VPN) routes: the label part of a route path, added, replaced,
// revived and withdrawn, and the counts a private path holds on the public
// route it rides on. The IPv4 and IPv6 handlers are one template over the
// family's records, tables, counters and texts.
//
// Label part of a path:
//   absent    mplsLabelNum 0, no VPN bits
//   pending   NH_OP_VPN_ADD (the flush or a direct update writes it)
//   in hw     NH_VPN
//   withdrawn NH_VPN_DELETED, until the flush removes it; an add before
//             that revives it
//   held      NH_WAIT_PRIVATE_VPN / NH_WAIT_L2VPN_VPN on a public route whose
//             users still ride on it; its last user's withdrawal deletes it
#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/hardware.h"
#include "hwroute/route.h"
#include "hwroute/tables.h"

namespace {

#define VPN_LOG(...) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__)

using Cnt = uint32_t HwRouteGlobal::*;

constexpr uint8_t kMaxLabels = 3;
constexpr uint32_t kLabelShift = 12;

void bump(Cnt counter) {
    if (counter != nullptr) ++(ghwRoute.*counter);
}

// ---- Family traits -----------------------------------------------------------

struct Vpn4 {
    using Dest = HwRouteDest;
    using Nh = HwRouteNexthop;
    static constexpr const char* addFn = "hwRouteVpnAdd";
    static constexpr const char* delFn = "hwRouteVpnDel";
    static constexpr const char* route = "route";
    static constexpr const char* vpn = "vpn";
    static constexpr const HwPublicCascade& cascade = hwPublicVpnDelCascade;

    static Dest* destLookup(const Dest* r) { return hwRouteDestTableLookup(r); }
    static Nh* nhLookup(Dest* d, const Nh* r) { return hwRouteNexthopTableLookup(d, r); }
    static void readyAppend(Dest* d) { hwRouteReadyAppend(d); }
    static void readyRemove(Dest* d) { hwRouteReadyRemove(d); }
    static void hwAdd(Nh* n) { hwUpdateRouteAdd(n); }
    static void hwDel(Nh* n) { hwUpdateRouteDel(n); }
    static void take(Nh* n, uint32_t bits) { hwRoutePublicTake(n, bits); }
    static int routeAdd(Dest* d, Nh* n, uint32_t fam, void* pub) { return hwRouteRouteAdd(d, n, fam, pub); }
    static void printLabels(const Nh* n) { hwRoutePrintLable(n); }
    static bool nextHopMissing(const Nh* n) { return n->nextHop == 0; }

    static void logNew(const Dest* d, const Nh* n) {
        VPN_LOG("[hwRouteVpnAdd]=>vpn add detected,vrfId=%d,dest=%#x,mask=%#x,nextHop=%#x,prot=%d,weight=%d,ifUnit=%d,"
                "flag=0x%x,mplsLabelNum=%d,routeFlag=%#x.",
                d->vrfId, d->destIp, d->mask, n->nextHop, n->protoId, n->weight, n->ifUnit, n->flag, n->mplsLabelNum,
                n->routeFlag);
    }
    static void logDel(const Dest* d, const Nh* n) {
        VPN_LOG("[hwRouteVpnDel]=>vpn del detected,find entry,ifUnit=%d dest=%#x,mask=%#x,nextHop=%#x,prot=%d,weight=%d,"
                "vrfId=%d,flag=0x%x,mplsLabelNum=%d,routeFlag=%#x,publicFamily=%d,privateRefCnt=%d,"
                "privateMplsRefCnt=%d,publicRoute=%#x.",
                n->ifUnit, d->destIp, d->mask, n->nextHop, n->protoId, n->weight, d->vrfId, n->flag, n->mplsLabelNum,
                n->routeFlag, n->publicFamily, int(n->privateRefCnt), int(n->privateMplsRefCnt),
                unsigned(reinterpret_cast<uintptr_t>(n->publicRoute)));
    }
    static void printInvalid(const Dest* d, const Nh* n) {
        if (hwRtErrDebug == 0) return;
        std::printf("\n\r [hwRouteVpnDel]=>receive invalid message :: protoId=%d,nextHop=%#x,routeFlag=%#x,mask=%#x,"
                    "ifUnit=%d.\n\r",
                    n->protoId, n->nextHop, n->routeFlag, d->mask, n->ifUnit);
    }

    struct Counters {
        Cnt noPubDst4 = &HwRouteGlobal::vpnAddNoPubDst4ErrCnt, noPubNhop4 = &HwRouteGlobal::vpnAddNoPubNhop4ErrCnt;
        Cnt noPubDst6 = &HwRouteGlobal::vpnAddNoPubDst6ErrCnt, noPubNhop6 = &HwRouteGlobal::vpnAddNoPubNhop6ErrCnt;
        Cnt add = &HwRouteGlobal::vpnAddCnt, rtExist = &HwRouteGlobal::vpnAddRtExistCnt;
        Cnt rtSwDel = &HwRouteGlobal::vpnAddRtSwDelCnt, rtNoArpDel = &HwRouteGlobal::vpnAddRtNoArpDelCnt;
        Cnt toVpnAdd = &HwRouteGlobal::vpnAddToVpnAddCnt, vpnSwDel = &HwRouteGlobal::vpnAddVpnSwDelCnt;
        Cnt l2vpnPublicAdd = &HwRouteGlobal::vpnAddL2vpnPublicAddCnt, readyDel = &HwRouteGlobal::vpnAddReadyDelCnt;
        Cnt routeReadyDel = &HwRouteGlobal::vpnAddRouteReadyDelCnt;
        Cnt rtSameLabel = &HwRouteGlobal::vpnAddRtSameLabelCnt, rtNosameLabel = &HwRouteGlobal::vpnAddRtNosameLabelCnt;
        Cnt labelReadyDel = &HwRouteGlobal::vpnAddLabelReadyDelCnt;
        Cnt vpnSameLabel = &HwRouteGlobal::vpnAddVpnSameLabelCnt, vpnNosameLabel = &HwRouteGlobal::vpnAddVpnNosameLabelCnt;
        Cnt vpnNoArpDel = &HwRouteGlobal::vpnAddVpnNoArpDelCnt, vpnHwSuccess = &HwRouteGlobal::vpnAddVpnHwSuccessCnt;
        Cnt vpnExist = &HwRouteGlobal::vpnAddVpnExistCnt;
        Cnt existL2vpnPublicAdd = &HwRouteGlobal::vpnAddExistL2vpnPublicAddCnt;
        Cnt existReadyDel = &HwRouteGlobal::vpnAddExistReadyDelCnt;
        Cnt rtOther = &HwRouteGlobal::vpnAddRtOtherCnt, rtOtherReadyAdd = &HwRouteGlobal::vpnAddRtOtherReadyAddCnt;
        Cnt otherL2vpnPublicAdd = &HwRouteGlobal::vpnAddOtherL2vpnPublicAddCnt;
        Cnt otherReadyDel = &HwRouteGlobal::vpnAddOtherReadyDelCnt;
        Cnt normal = &HwRouteGlobal::vpnAddNormalCnt, rtV4 = &HwRouteGlobal::vpnAddRtV4Cnt;
        Cnt rtV6 = &HwRouteGlobal::vpnAddRtV6Cnt, rtNo = &HwRouteGlobal::vpnAddRtNoCnt;
        Cnt delParamErr = &HwRouteGlobal::vpnDelParamErrCnt, delNoDest = &HwRouteGlobal::vpnDelNoDestEntryErrCnt;
        Cnt delNoNexthop = &HwRouteGlobal::vpnDelNoNexthopEntryErrCnt, delNoVpn = &HwRouteGlobal::vpnDelNoVpnCnt;
        Cnt del = &HwRouteGlobal::vpnDelCnt, delPrivateRef = &HwRouteGlobal::vpnDelPrivateRefCnt;
        Cnt delL2vpnRef = &HwRouteGlobal::vpnDelL2vpnRefCnt, delAgain = &HwRouteGlobal::vpnDelAgainCnt;
        Cnt delNoSucess = &HwRouteGlobal::vpnDelNoSucessCnt, delSwAdd = &HwRouteGlobal::vpnDelSwAddCnt;
        Cnt delArpDel = &HwRouteGlobal::vpnDelArpDelCnt, delNoSucSwDel = &HwRouteGlobal::vpnDelNoSucSwDelCnt;
        Cnt delNormal = &HwRouteGlobal::vpnDelNormalCnt, delReadyAdd = &HwRouteGlobal::vpnDelReadyAddCnt;
    };
};

struct Vpn6 {
    using Dest = HwRoute6Dest;
    using Nh = HwRoute6Nexthop;
    static constexpr const char* addFn = "hwRoute6VpnAdd";
    static constexpr const char* delFn = "hwRoute6VpnDel";
    static constexpr const char* route = "route6";
    static constexpr const char* vpn = "vpn6";
    static constexpr const HwPublicCascade& cascade = hwPublic6VpnDelCascade;

    static Dest* destLookup(const Dest* r) { return hwRoute6DestTableLookup(r); }
    static Nh* nhLookup(Dest* d, const Nh* r) { return hwRoute6NexthopTableLookup(d, r); }
    static void readyAppend(Dest* d) { hwRoute6ReadyAppend(d); }
    static void readyRemove(Dest* d) { hwRoute6ReadyRemove(d); }
    static void hwAdd(Nh* n) { hwUpdateRoute6Add(n); }
    static void hwDel(Nh* n) { hwUpdateRoute6Del(n); }
    static void take(Nh* n, uint32_t bits) { hwRoute6PublicTake(n, bits); }
    static int routeAdd(Dest* d, Nh* n, uint32_t fam, void* pub) { return hwRoute6RouteAdd(d, n, fam, pub); }
    static void printLabels(const Nh* n) { hwRoute6PrintLable(n); }
    static bool nextHopMissing(const Nh* n) {
        static const uint8_t zero[16] = {};
        return std::memcmp(n->nextHop, zero, sizeof zero) == 0;
    }

    // The next hop in its own family's text: dotted for an IPv4 next hop.
    struct NextHopText {
        char text[INET6_ADDRSTRLEN];
        explicit NextHopText(const Nh* n) {
            if (inet_ntop(n->afNextHop == HW_AF_INET ? AF_INET : AF_INET6, n->nextHop, text, sizeof text) == nullptr)
                text[0] = '\0';
        }
    };
    struct DestText {
        char text[INET6_ADDRSTRLEN];
        explicit DestText(const Dest* d) {
            if (inet_ntop(AF_INET6, d->destIpAddr, text, sizeof text) == nullptr) text[0] = '\0';
        }
    };

    static void logNew(const Dest* d, const Nh* n) {
        VPN_LOG("[hwRoute6VpnAdd]=>vpn add detected,vrfId=%d,dest=%s,prefixLen=%d,nextHop=%s,prot=%d,weight=%d,ifUnit=%d,"
                "flag=0x%x,mplsLabelNum=%d,routeFlag=%#x.",
                d->vrfId, DestText(d).text, d->prefixLen, NextHopText(n).text, n->protoId, n->weight, n->ifUnit, n->flag,
                n->mplsLabelNum, n->routeFlag);
    }
    static void logDel(const Dest* d, const Nh* n) {
        VPN_LOG("[hwRoute6VpnDel]=>vpn del detected,find entry,ifUnit=%d dest=%s,prefixLen=%d,nextHop=%s,prot=%d,"
                "weight=%d,vrfId=%d,flag=0x%x,mplsLabelNum=%d,routeFlag=%#x,publicFamily=%d,privateRefCnt=%d,"
                "privateMplsRefCnt=%d,publicRoute=%#x.",
                n->ifUnit, DestText(d).text, d->prefixLen, NextHopText(n).text, n->protoId, n->weight, d->vrfId, n->flag,
                n->mplsLabelNum, n->routeFlag, n->publicFamily, int(n->privateRefCnt), int(n->privateMplsRefCnt),
                unsigned(reinterpret_cast<uintptr_t>(n->publicRoute)));
    }
    static void printInvalid(const Dest*, const Nh*) {}

    // The IPv6 add has no counters for the ready-list removals and label
    // comparisons of a revived path.
    struct Counters {
        Cnt noPubDst4 = &HwRouteGlobal::vpn6AddNoPubDst4ErrCnt, noPubNhop4 = &HwRouteGlobal::vpn6AddNoPubNhop4ErrCnt;
        Cnt noPubDst6 = &HwRouteGlobal::vpn6AddNoPubDst6ErrCnt, noPubNhop6 = &HwRouteGlobal::vpn6AddNoPubNhop6ErrCnt;
        Cnt add = &HwRouteGlobal::vpn6AddCnt, rtExist = &HwRouteGlobal::vpn6AddRtExistCnt;
        Cnt rtSwDel = &HwRouteGlobal::vpn6AddRtSwDelCnt, rtNoArpDel = &HwRouteGlobal::vpn6AddRtNoArpDelCnt;
        Cnt toVpnAdd = &HwRouteGlobal::vpn6AddToVpnAddCnt, vpnSwDel = &HwRouteGlobal::vpn6AddVpnSwDelCnt;
        Cnt l2vpnPublicAdd = &HwRouteGlobal::vpn6AddL2vpnPublicAddCnt, readyDel = &HwRouteGlobal::vpn6AddReadyDelCnt;
        Cnt routeReadyDel = nullptr;
        Cnt rtSameLabel = nullptr, rtNosameLabel = nullptr;
        Cnt labelReadyDel = nullptr;
        Cnt vpnSameLabel = nullptr, vpnNosameLabel = nullptr;
        Cnt vpnNoArpDel = &HwRouteGlobal::vpn6AddVpnNoArpDelCnt, vpnHwSuccess = &HwRouteGlobal::vpn6AddVpnHwSuccessCnt;
        Cnt vpnExist = &HwRouteGlobal::vpn6AddVpnExistCnt;
        Cnt existL2vpnPublicAdd = &HwRouteGlobal::vpn6AddExistL2vpnPublicAddCnt;
        Cnt existReadyDel = &HwRouteGlobal::vpn6AddExistReadyDelCnt;
        Cnt rtOther = &HwRouteGlobal::vpn6AddRtOtherCnt, rtOtherReadyAdd = &HwRouteGlobal::vpn6AddRtOtherReadyAddCnt;
        Cnt otherL2vpnPublicAdd = &HwRouteGlobal::vpn6AddOtherL2vpnPublicAddCnt;
        Cnt otherReadyDel = &HwRouteGlobal::vpn6AddOtherReadyDelCnt;
        Cnt normal = &HwRouteGlobal::vpn6AddNormalCnt, rtV4 = &HwRouteGlobal::vpn6AddRtV4Cnt;
        Cnt rtV6 = &HwRouteGlobal::vpn6AddRtV6Cnt, rtNo = &HwRouteGlobal::vpn6AddRtNoCnt;
        Cnt delParamErr = &HwRouteGlobal::vpn6DelParamErrCnt, delNoDest = &HwRouteGlobal::vpn6DelNoDestEntryErrCnt;
        Cnt delNoNexthop = &HwRouteGlobal::vpn6DelNoNexthopEntryErrCnt, delNoVpn = &HwRouteGlobal::vpn6DelNoVpnCnt;
        Cnt del = &HwRouteGlobal::vpn6DelCnt, delPrivateRef = &HwRouteGlobal::vpn6DelPrivateRefCnt;
        Cnt delL2vpnRef = &HwRouteGlobal::vpn6DelL2vpnRefCnt, delAgain = &HwRouteGlobal::vpn6DelAgainCnt;
        Cnt delNoSucess = &HwRouteGlobal::vpn6DelNoSucessCnt, delSwAdd = &HwRouteGlobal::vpn6DelSwAddCnt;
        Cnt delArpDel = &HwRouteGlobal::vpn6DelArpDelCnt, delNoSucSwDel = &HwRouteGlobal::vpn6DelNoSucSwDelCnt;
        Cnt delNormal = &HwRouteGlobal::vpn6DelNormalCnt, delReadyAdd = &HwRouteGlobal::vpn6DelReadyAddCnt;
    };
};

// ---- Labels -------------------------------------------------------------------

template <class Nh>
uint32_t* labelWord(Nh* n, uint32_t i) {
    return i == 0 ? &n->label1 : i == 1 ? &n->label2 : &n->label3;
}
template <class Nh>
uint32_t labelAt(const Nh* n, uint32_t i) {
    return i == 0 ? n->label1 : i == 1 ? n->label2 : n->label3;
}

// A record holds three label words: a longer stack is cut to three (the
// intake already does so; stored records passed back as requests never
// carry more).
template <class Nh>
uint8_t labelCount(const Nh* n) {
    return n->mplsLabelNum > kMaxLabels ? kMaxLabels : n->mplsLabelNum;
}

template <class Nh>
bool sameLabels(const Nh* a, const Nh* b) {
    if (labelCount(a) != labelCount(b)) return false;
    for (uint32_t i = 0; i < labelCount(a); ++i)
        if (labelAt(a, i) != labelAt(b, i)) return false;
    return true;
}

template <class Nh>
void copyLabels(Nh* to, const Nh* from) {
    const uint8_t num = labelCount(from);
    // Read before writing: `from` may be `to` itself.
    const uint32_t words[kMaxLabels] = {from->label1, from->label2, from->label3};
    to->mplsLabelNum = num;
    for (uint32_t i = 0; i < num; ++i) *labelWord(to, i) = words[i];
}

template <class Nh>
void dropLabels(Nh* n) {
    for (uint32_t i = 0; i < labelCount(n); ++i) *labelWord(n, i) = 0;
    n->mplsLabelNum = 0;
}

template <class Nh>
void printLabels(const char* fn, const Nh* n) {
    for (uint32_t i = 0; i < labelCount(n); ++i) {
        const uint32_t w = labelAt(n, i);
        VPN_LOG("[%s]=>label level[%d],label[%d],exp[%d],s[%d],ttl[%d]", fn, int(i), int(w >> kLabelShift),
                int((w >> 9) & 7), int((w >> 8) & 1), int(w & 0xff));
    }
}

// ---- Add ----------------------------------------------------------------------

// The public next hop named by the public requests, or null; false when the
// requests name one that does not exist.
template <class T>
bool publicFind(uint32_t family, void* destReq, void* nhReq, void** found) {
    const typename T::Counters c;
    *found = nullptr;
    if (destReq == nullptr || nhReq == nullptr) return true;
    if (family == HW_AF_INET) {
        HwRouteDest* d = hwRouteDestTableLookup(static_cast<HwRouteDest*>(destReq));
        if (d == nullptr) {
            bump(c.noPubDst4);
            VPN_LOG("[%s]=>ERROR: no public dest found.", T::addFn);
            return false;
        }
        *found = hwRouteNexthopTableLookup(d, static_cast<HwRouteNexthop*>(nhReq));
        if (*found != nullptr) return true;
        bump(c.noPubNhop4);
        VPN_LOG("[%s]=>ERROR: no public nhop found.", T::addFn);
        return false;
    }
    if (family == HW_AF_INET6) {
        HwRoute6Dest* d = hwRoute6DestTableLookup(static_cast<HwRoute6Dest*>(destReq));
        if (d == nullptr) {
            bump(c.noPubDst6);
            VPN_LOG("[%s]=>ERROR: no public dest6 found.", T::addFn);
            return false;
        }
        *found = hwRoute6NexthopTableLookup(d, static_cast<HwRoute6Nexthop*>(nhReq));
        if (*found != nullptr) return true;
        bump(c.noPubNhop6);
        VPN_LOG("[%s]=>ERROR: no public nhop6 found.", T::addFn);
        return false;
    }
    return true;
}

void publicRelease(HwRouteNexthop* n, uint32_t bits, const HwPublicCascade& c) { hwRoutePublicRelease(n, bits, c); }
void publicRelease(HwRoute6Nexthop* n, uint32_t bits, const HwPublicCascade& c) { hwRoute6PublicRelease(n, bits, c); }

// Step 3: the existing path rides on the public route found. Moving to
// another public route moves the counts it holds with it. An add that names
// no public route (or one not found) leaves the path's public route as it
// is: dropping the link would strand the counts held on it.
template <class T>
void publicRebind(typename T::Nh* nh, uint32_t family, void* pub) {
    if (pub == nullptr || (nh->publicRoute == pub && nh->publicFamily == family)) return;
    const uint32_t held = nh->flag & NH_HOLDS_PUBLIC_ALL;
    publicRelease(nh, held, hwPublicRouteDelCascade);
    nh->publicFamily = uint8_t(family);
    nh->publicRoute = pub;
    T::take(nh, held);
}

// The counts a path takes when its label part comes back: user and label
// user, and the neighbour's when its neighbour is known.
template <class Nh>
uint32_t fullHolds(const Nh* nh) {
    uint32_t bits = NH_HOLDS_PUBLIC | NH_HOLDS_PUBLIC_MPLS;
    if ((nh->flag & NH_RESOLVED) && !(nh->flag & NH_NEIGH_LOST)) bits |= NH_HOLDS_PUBLIC_ARP;
    return bits;
}

template <class T>
void readyRemoveCounted(typename T::Dest* d, Cnt counter) {
    if (!d->readyState) return;
    bump(counter);
    T::readyRemove(d);
}

// A layer-2 VPN's public route goes to hardware at once, not with the flush.
template <class T>
void l2vpnPublicWrite(typename T::Dest* d, typename T::Nh* nh, Cnt what, Cnt readyDel) {
    bump(what);
    readyRemoveCounted<T>(d, readyDel);
    T::hwAdd(nh);
}

// 4d / 5b: the label part in hardware is replaced at once.
template <class T>
void labelReplace(typename T::Nh* nh, const typename T::Nh* req, const char* what) {
    nh->flag |= NH_VPN_DELETED | NH_OP_LABEL_CHANGE;
    T::hwDel(nh);
    copyLabels(nh, req);
    VPN_LOG("[%s]=>%s exist (mpls lable diffirent add to hw) add vpn:flag=%#x mplsLabelNum=%d.", T::addFn, what,
            req->flag, req->mplsLabelNum);
    T::printLabels(req);
    nh->flag |= NH_OP_VPN_ADD;
    T::hwAdd(nh);
    nh->flag &= ~NH_OP_LABEL_CHANGE;
}

// Step 4: the path was deleted in software and is still in hardware.
template <class T>
int reviveRoute(typename T::Dest* d, typename T::Nh* nh, const typename T::Nh* req) {
    const typename T::Counters c;
    bump(c.rtSwDel);
    nh->flag &= ~(NH_OP_DEL | NH_VPN_DELETED);
    // The delete gave the public route's counts back; the revived path takes
    // them again (the neighbour's only while it has one).
    T::take(nh, fullHolds(nh));
    if (!(nh->flag & NH_NEIGH_LOST)) {
        bump(c.rtNoArpDel);
        if (!(nh->flag & NH_VPN)) {  // a: the label part was never written
            bump(c.toVpnAdd);
            nh->flag |= NH_OP_VPN_ADD;
            copyLabels(nh, req);
            VPN_LOG("[%s]=>%s exist (%s hw delete incomplete) add vpn:flag=%#x mplsLabelNum=%d.", T::addFn, T::route,
                    T::route, req->flag, req->mplsLabelNum);
            T::printLabels(req);
            if (req->flag & NH_L2VPN_PUBLIC) l2vpnPublicWrite<T>(d, nh, c.l2vpnPublicAdd, c.readyDel);
            return 0;
        }
        readyRemoveCounted<T>(d, c.routeReadyDel);  // b
        if (sameLabels(nh, req)) {                  // c
            bump(c.rtSameLabel);
            VPN_LOG("[%s]=>%s exist (mpls lable same add to hw) add vpn:flag=%#x mplsLabelNum=%d.", T::addFn, T::route,
                    req->flag, req->mplsLabelNum);
            T::printLabels(req);
        } else {  // d
            bump(c.rtNosameLabel);
            labelReplace<T>(nh, req, T::route);
        }
    }
    copyLabels(nh, req);  // e
    VPN_LOG("[%s]=>vpn exist (%s hw delete incomplete).", T::addFn, T::route);
    return 0;
}

// Step 5: the label part was withdrawn in software and is still in hardware.
template <class T>
int reviveLabel(typename T::Dest* d, typename T::Nh* nh, const typename T::Nh* req) {
    const typename T::Counters c;
    bump(c.vpnSwDel);
    nh->flag &= ~NH_VPN_DELETED;
    if (!(nh->flag & NH_VPN_NEIGH_LOST)) {
        bump(c.vpnNoArpDel);
        T::take(nh, NH_HOLDS_PUBLIC_MPLS);
        readyRemoveCounted<T>(d, c.labelReadyDel);
        if (sameLabels(nh, req)) {  // a
            bump(c.vpnSameLabel);
            VPN_LOG("[%s]=>%s exist (mpls lable same add to hw) add vpn:flag=%#x mplsLabelNum=%d.", T::addFn, T::vpn,
                    req->flag, req->mplsLabelNum);
            T::printLabels(req);
        } else {  // b
            bump(c.vpnNosameLabel);
            labelReplace<T>(nh, req, T::vpn);
        }
    }
    copyLabels(nh, req);  // d
    VPN_LOG("[%s]=>vpn exist (vpn hw delete incomplete).", T::addFn);
    return 0;
}

// Steps 6 to 8: a path whose label part is in hardware, pending, or absent.
template <class T>
int labelOnExisting(typename T::Dest* d, typename T::Nh* nh, const typename T::Nh* req) {
    const typename T::Counters c;
    if (nh->flag & NH_VPN) {  // 6: the labels are not compared
        bump(c.vpnHwSuccess);
        VPN_LOG("[%s]=>vpn exist(vpn hw success):flag=%#x mplsLabelNum=%d,return.", T::addFn, nh->flag,
                nh->mplsLabelNum);
        return 0;
    }
    if (nh->flag & NH_OP_VPN_ADD) {  // 7
        bump(c.vpnExist);
        VPN_LOG("[%s]=>vpn exist:flag=%#x mplsLabelNum=%d,return.", T::addFn, nh->flag, nh->mplsLabelNum);
        if (req->flag & NH_L2VPN_PUBLIC) l2vpnPublicWrite<T>(d, nh, c.existL2vpnPublicAdd, c.existReadyDel);
        return 0;
    }
    bump(c.rtOther);  // 8
    nh->flag |= NH_OP_VPN_ADD;
    copyLabels(nh, req);
    T::take(nh, fullHolds(nh));
    VPN_LOG("[%s]=>%s exist,add vpn:flag=%#x mplsLabelNum=%d.", T::addFn, T::route, req->flag, req->mplsLabelNum);
    T::printLabels(req);
    if (req->flag & NH_L2VPN_PUBLIC) {
        l2vpnPublicWrite<T>(d, nh, c.otherL2vpnPublicAdd, c.otherReadyDel);
        return 0;
    }
    if (!d->readyState) {
        bump(c.rtOtherReadyAdd);
        T::readyAppend(d);
    }
    return 0;
}

// Step 9: a new path, created by the route add with its label part pending.
template <class T>
int newPath(typename T::Dest* destReq, typename T::Nh* req, uint32_t family, void* pub) {
    const typename T::Counters c;
    bump(c.normal);
    req->flag |= NH_OP_VPN_ADD;
    T::logNew(destReq, req);
    T::printLabels(req);
    if (family == HW_AF_INET) {
        bump(c.rtV4);
    } else if (family == HW_AF_INET6) {
        bump(c.rtV6);
    } else {
        bump(c.rtNo);
        family = 0;
        pub = nullptr;
    }
    T::routeAdd(destReq, req, family, pub);
    return 0;
}

template <class T>
int vpnAdd(typename T::Dest* destReq, typename T::Nh* req, uint32_t family, void* pubDest, void* pubNh) {
    if (destReq == nullptr || req == nullptr) return -1;
    if (req->mplsLabelNum > kMaxLabels) req->mplsLabelNum = kMaxLabels;
    // 1. Public route.
    void* pub = nullptr;
    if (!publicFind<T>(family, pubDest, pubNh, &pub)) return -1;
    // 2. Private route.
    const typename T::Counters c;
    bump(c.add);
    typename T::Dest* d = T::destLookup(destReq);
    typename T::Nh* nh = d == nullptr ? nullptr : T::nhLookup(d, req);
    if (nh == nullptr) return newPath<T>(destReq, req, family, pub);
    // 3. Existing path.
    bump(c.rtExist);
    publicRebind<T>(nh, family, pub);
    if (nh->flag & NH_OP_DEL) return reviveRoute<T>(d, nh, req);
    if (nh->flag & NH_VPN_DELETED) return reviveLabel<T>(d, nh, req);
    return labelOnExisting<T>(d, nh, req);
}

// ---- Delete ---------------------------------------------------------------------

// Steps 1-3: the stored path whose first label matches the request (EXP,
// bottom and TTL bits do not count), or null with the error counted.
template <class T>
typename T::Nh* delFind(typename T::Dest* destReq, typename T::Nh* req, typename T::Dest** dest) {
    const typename T::Counters c;
    if (destReq == nullptr || req == nullptr || T::nextHopMissing(req)) {
        bump(c.delParamErr);
        if (destReq != nullptr && req != nullptr) T::printInvalid(destReq, req);
        VPN_LOG("[%s]=>ERROR:receive invalid message.", T::delFn);
        return nullptr;
    }
    typename T::Dest* d = T::destLookup(destReq);
    if (d == nullptr) {
        bump(c.delNoDest);
        VPN_LOG("[%s]=>ERROR:no found dest entry.", T::delFn);
        return nullptr;
    }
    typename T::Nh* nh = T::nhLookup(d, req);
    if (nh == nullptr) {
        bump(c.delNoNexthop);
        VPN_LOG("[%s]=>ERROR:no found nexthop entry.", T::delFn);
        return nullptr;
    }
    if ((req->label1 >> kLabelShift) != (nh->label1 >> kLabelShift)) {
        bump(c.delNoVpn);
        VPN_LOG("[%s]=>ERROR:no found VPN label entry.", T::delFn);
        return nullptr;
    }
    *dest = d;
    return nh;
}

// Step 6: the label part is in hardware. Users of the path's labels (private
// paths, pseudowires) make the delete wait for them; otherwise the flush
// takes the labels out.
template <class T>
int delInHardware(typename T::Dest* d, typename T::Nh* nh) {
    const typename T::Counters c;
    if (nh->privateMplsRefCnt != 0) {
        bump(c.delPrivateRef);
        VPN_LOG("[%s]=>privateMplsRefCnt is %d public vpn can not delete.", T::delFn, int(nh->privateMplsRefCnt));
        nh->flag |= NH_WAIT_PRIVATE_VPN;
        return 0;
    }
    if (nh->l2vpnRefCnt != 0) {
        bump(c.delL2vpnRef);
        VPN_LOG("[%s]=>l2vpnRefCnt is %d public vpn can not delete.", T::delFn, int(nh->l2vpnRefCnt));
        nh->flag |= NH_WAIT_L2VPN_VPN;
        return 0;
    }
    nh->flag |= NH_VPN_DELETED;
    bump(c.delNormal);
    if (!d->readyState) {
        bump(c.delReadyAdd);
        T::readyAppend(d);
    }
    publicRelease(nh, NH_HOLDS_PUBLIC_MPLS, T::cascade);
    return 0;
}

// Step 7: not in hardware: finished by the neighbour logic, or dropped now.
template <class T>
int delNotInHardware(typename T::Nh* nh) {
    const typename T::Counters c;
    VPN_LOG("[%s]=>vpn is not normal flag=%#x.", T::delFn, nh->flag);
    bump(c.delNoSucess);
    if (nh->flag & NH_OP_VPN_ADD) {
        bump(c.delSwAdd);
        nh->flag &= ~NH_OP_VPN_ADD;
    }
    if (nh->flag & NH_VPN_NEIGH_LOST) {
        bump(c.delArpDel);
        nh->flag |= NH_VPN_DELETED;
    } else {
        bump(c.delNoSucSwDel);
        nh->flag &= ~(NH_OP_VPN_ADD | NH_VPN_DELETED | NH_VPN_NEIGH_LOST | NH_VPN);
        dropLabels(nh);
    }
    // The path no longer carries labels: its label count on the public route
    // goes too, or the public route's own label delete would wait for ever.
    publicRelease(nh, NH_HOLDS_PUBLIC_MPLS, T::cascade);
    return 0;
}

template <class T>
int vpnDel(typename T::Dest* destReq, typename T::Nh* req) {
    const typename T::Counters c;
    typename T::Dest* d = nullptr;
    typename T::Nh* nh = delFind<T>(destReq, req, &d);
    if (nh == nullptr) return -1;
    // 4. Found.
    nh->extFlag |= req->extFlag;
    T::logDel(d, nh);
    T::printLabels(nh);
    bump(c.del);
    // 5. Delete again.
    if (nh->flag & NH_VPN_DELETED) {
        bump(c.delAgain);
        VPN_LOG("[%s]=>ERROR:vpn entry delete again.", T::delFn);
        return -1;
    }
    if ((nh->flag & NH_VPN) && !(nh->flag & NH_NEIGH_LOST)) return delInHardware<T>(d, nh);
    return delNotInHardware<T>(nh);
}

}  // namespace

int hwRouteVpnAdd(HwRouteDest* destRequest, HwRouteNexthop* nexthopRequest, uint32_t publicFamily,
                  void* publicDestRequest, void* publicNexthopRequest) {
    return vpnAdd<Vpn4>(destRequest, nexthopRequest, publicFamily, publicDestRequest, publicNexthopRequest);
}

int hwRouteVpnDel(HwRouteDest* destRequest, HwRouteNexthop* nexthopRequest) {
    return vpnDel<Vpn4>(destRequest, nexthopRequest);
}

int hwRouteVpnDelProcess(HwRouteDest* /*dest*/, HwRouteNexthop* nexthop) {
    hwRoutePublicRelease(nexthop, NH_HOLDS_PUBLIC_MPLS, hwPublicVpnDelCascade);
    return 0;
}

void hwRoutePrintLable(const HwRouteNexthop* nexthop) {
    if (nexthop != nullptr) printLabels("hwRoutePrintLable", nexthop);
}

int hwRoute6VpnAdd(HwRoute6Dest* destRequest, HwRoute6Nexthop* nexthopRequest, uint32_t publicFamily,
                   void* publicDestRequest, void* publicNexthopRequest) {
    return vpnAdd<Vpn6>(destRequest, nexthopRequest, publicFamily, publicDestRequest, publicNexthopRequest);
}

int hwRoute6VpnDel(HwRoute6Dest* destRequest, HwRoute6Nexthop* nexthopRequest) {
    return vpnDel<Vpn6>(destRequest, nexthopRequest);
}

int hwRoute6VpnDelProcess(HwRoute6Dest* /*dest*/, HwRoute6Nexthop* nexthop) {
    hwRoute6PublicRelease(nexthop, NH_HOLDS_PUBLIC_MPLS, hwPublic6VpnDelCascade);
    return 0;
}

void hwRoute6PrintLable(const HwRoute6Nexthop* nexthop) {
    if (nexthop != nullptr) printLabels("hwRoute6PrintLable", nexthop);
}
