// Direct IPv6 route updates: one destination's best path set before and
// after a change of one path, sent at once to object 339 in a call of its
// own. The twin of the IPv4 direct updates (the shared build is in
// route_update.h), with 16-byte next hops; its texts and counters are its own.
#include <cstring>

#include "hwroute/intake.h"
#include "route6_paths.h"
#include "route_update.h"

namespace {

using Nh6 = HwRoute6Nexthop;

// Records are written without the indirect-path lookup of the IPv4 writer.
uint32_t writePath6(uint8_t* record, Nh6* n, uint32_t operation) {
    return hwRoute6NhopBufInsert(record, n, nullptr, operation);
}

struct Update6 {
    using Dest = HwRoute6Dest;
    using Nexthop = Nh6;
    using Hdr = HwRoute6Hdr;
    static constexpr uint32_t kHdrLen = HW_ROUTE6_HDR_LEN;
    static constexpr uint32_t kObject = HW_OBJ_ROUTE6;
    static constexpr auto compare = &hwRoute6Compare;
    static constexpr auto writePath = &writePath6;
    static constexpr auto pack = &packRoute6Hdr;
    static constexpr auto translate = &hwTranslateDest6Node;
    static constexpr auto protoCount = &hwRoute6ProtoCount;

    static HwAbnKey abnKey(const Dest* d) { return hwAbnRoute6Key(d->vrfId, d->destIpAddr, d->prefixLen); }
    static Dest* lookup(const HwAbnKey& key) {
        Dest k{};
        k.vrfId = key.vrf;
        std::memcpy(k.destIpAddr, key.addr, 16);
        k.prefixLen = uint8_t(key.extra);
        return hwRoute6DestTableLookup(&k);
    }

    static constexpr HwUpdateCounter ok = &HwRouteGlobal::hwOkRoute6Cnt;
    static constexpr HwUpdateCounter vpn = &HwRouteGlobal::hwVpn6Cnt;
    static constexpr HwUpdateCounter err = &HwRouteGlobal::hwErrRoute6Cnt;
    static constexpr HwUpdateCounter abnVpn = &HwRouteGlobal::abnormalVpn6Cnt;
    static constexpr HwUpdateCounter ecmpAdd = &HwRouteGlobal::ecmpUpdataAdd6Cnt;
    static constexpr HwUpdateCounter ecmpDel = &HwRouteGlobal::ecmp6UpdataDelCnt;
    static constexpr HwUpdateCounter delNodo = &HwRouteGlobal::hwUpdate6DelNodoCnt;
    // {into hardware, out of hardware} per kind of entry. The replacing add
    // counts its old paths in the IPv4 D2 counter.
    static constexpr HwUpdateCounter settle[HW_UPD_KINDS][2] = {
        {&HwRouteGlobal::hwRoute6A2Cnt, nullptr},
        {nullptr, &HwRouteGlobal::hwRoute6D3Cnt},
        {&HwRouteGlobal::hwRoute6A3Cnt, &HwRouteGlobal::hwRouteD2Cnt},
        {&HwRouteGlobal::hwRoute6A4Cnt, &HwRouteGlobal::hwRoute6D4Cnt},
    };

    // Address texts are formatted only for lines that are written.
    static void logEntry(HwUpdateKind k, const Dest* d, uint32_t flags, uint32_t records) {
        if (!hwRouteDebugOn(HW_DBG_MOD, HW_DBG_ROUTE)) return;
        const char* dest = ip6_sprintf(d->destIpAddr);
        switch (k) {
            case HW_UPD_ECMP_ADD:
                hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE,
                             "update add ip6 ecmp route to hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d,flags=%#x,"
                             "nextHopNum=%d.",
                             d->vrfId, dest, d->prefixLen, flags, records);
                break;
            case HW_UPD_ECMP_DEL:
                hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE,
                             "updata del ipv6 ecmp route on hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d,flags=%#x,"
                             "nextHopNum=%d.",
                             d->vrfId, dest, d->prefixLen, flags, records);
                break;
            case HW_UPD_ADD:
                hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE,
                             "add ip6 route on hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d,flags=%#x,nextHopNum=%d.",
                             d->vrfId, dest, d->prefixLen, flags, records);
                break;
            default:
                hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE,
                             "del ipv6 route on hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d,flags=%#x,nextHopNum=%d.",
                             d->vrfId, dest, d->prefixLen, flags, records);
        }
    }
    static constexpr const char* kError[HW_UPD_KINDS] = {
        "update add ip6 ecmp route on hardware error,add to abnormal table.",
        "updata del ipv6 ecmp route on hardware error.", "add ip6 route on hardware error.",
        "del ipv6 route on hardware error."};
    static constexpr const char* kSuccess[HW_UPD_KINDS] = {
        "add ip6 ecmp route on hardware success.", "updata del ipv6 ecmp route on hardware success.",
        "add ip6 route on hardware success.", "del ipv6 route on hardware success."};
};

using Update = HwDirectUpdate<Update6>;

}  // namespace

HwAbnResult hwRoute6AbnormalRetry(const HwAbnKey& key, const uint8_t*, uint32_t) { return Update::retry(key); }

void hwUpdateRoute6Add(HwRoute6Nexthop* x) { Update::add(x); }

int hwUpdateRoute6Del(HwRoute6Nexthop* x) { return Update::del(x); }

bool hwRoute6DestSettled(HwRoute6Dest* d) { return Update::settled(d); }
