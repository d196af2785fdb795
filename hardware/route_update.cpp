// Direct IPv4 route updates: one destination's best path set before and
// after a change of one path, sent at once in a call of its own (the shared
// build is in route_update.h).
#include "route_update.h"

namespace {

using Nh = HwRouteNexthop;

struct Update4 {
    using Dest = HwRouteDest;
    using Nexthop = Nh;
    using Hdr = HwRoute4Hdr;
    static constexpr uint32_t kHdrLen = HW_ROUTE4_HDR_LEN;
    static constexpr uint32_t kObject = HW_OBJ_ROUTE4;
    static constexpr auto compare = &hwRouteCompare;
    static constexpr auto writePath = &hwWritePath;
    static constexpr auto pack = &packRoute4Hdr;
    static constexpr auto translate = &hwTranslateDest4Node;
    static constexpr auto protoCount = &hwRouteProtoCount;

    static HwAbnKey abnKey(const Dest* d) { return hwAbnRoute4Key(d->vrfId, d->destIp, d->mask); }
    static Dest* lookup(const HwAbnKey& key) {
        Dest k{};
        k.vrfId = key.vrf;
        k.destIp = beRead32(key.addr);
        k.mask = key.extra;
        return hwRouteDestTableLookup(&k);
    }

    static constexpr HwUpdateCounter ok = &HwRouteGlobal::hwOkRouteCnt;
    static constexpr HwUpdateCounter vpn = &HwRouteGlobal::hwVpnCnt;
    static constexpr HwUpdateCounter err = &HwRouteGlobal::hwErrRouteCnt;
    static constexpr HwUpdateCounter abnVpn = &HwRouteGlobal::abnormalVpnCnt;
    static constexpr HwUpdateCounter ecmpAdd = &HwRouteGlobal::ecmpUpdataAddCnt;
    static constexpr HwUpdateCounter ecmpDel = &HwRouteGlobal::ecmpUpdataDelCnt;
    static constexpr HwUpdateCounter delNodo = &HwRouteGlobal::hwUpdateDelNodoCnt;
    // {into hardware, out of hardware} per kind of entry.
    static constexpr HwUpdateCounter settle[HW_UPD_KINDS][2] = {
        {&HwRouteGlobal::hwRouteA1Cnt, nullptr},
        {nullptr, &HwRouteGlobal::hwRouteD2Cnt},
        {&HwRouteGlobal::hwRouteA2Cnt, &HwRouteGlobal::hwRouteD1Cnt},
        {&HwRouteGlobal::hwRouteA4Cnt, &HwRouteGlobal::hwRouteD3Cnt},
    };

    static void logEntry(HwUpdateKind k, const Dest* d, uint32_t flags, uint32_t records) {
        if (!hwRouteDebugOn(HW_DBG_MOD, HW_DBG_ROUTE)) return;
        switch (k) {
            case HW_UPD_ECMP_ADD:
                hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE,
                             "update add ip ecmp route to hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,flags=%#x,"
                             "nextHopNum=%d.",
                             d->vrfId, d->destIp, d->mask, flags, records);
                break;
            case HW_UPD_ECMP_DEL:
                hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE,
                             "updata del ip ecmp route on hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,flags=%#x,"
                             "nextHopNum=%d.",
                             d->vrfId, d->destIp, d->mask, flags, records);
                break;
            case HW_UPD_ADD:
                hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE,
                             "add ip route on hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,flags=%#x,nextHopNum=%d.",
                             d->vrfId, d->destIp, d->mask, flags, records);
                break;
            default:
                hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE,
                             "del ip route on hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,flags=%#x,nextHopNum=%d.",
                             d->vrfId, d->destIp, d->mask, flags, records);
        }
    }
    static constexpr const char* kError[HW_UPD_KINDS] = {
        "update add ip ecmp route on hardware error,add to abnormal table.", "updata del ip ecmp route on hardware error.",
        "add ip route on hardware error.", "del ip route on hardware error."};
    static constexpr const char* kSuccess[HW_UPD_KINDS] = {
        "add ip ecmp route on hardware success.", "updata del ip ecmp route on hardware success.",
        "add ip route on hardware success.", "del ip route on hardware success."};
};

using Update = HwDirectUpdate<Update4>;

}  // namespace

HwAbnResult hwRouteAbnormalRetry(const HwAbnKey& key, const uint8_t*, uint32_t) { return Update::retry(key); }

void hwUpdateRouteAdd(HwRouteNexthop* x) { Update::add(x); }

int hwUpdateRouteDel(HwRouteNexthop* x) { return Update::del(x); }

bool hwRouteDestSettled(HwRouteDest* d) { return Update::settled(d); }
