// Direct IPv4 route updates: one destination's best path set before and
// after a change of one path, sent at once in a call of its own (the shared
// build is in route_update.h).
#include "route_update.h"

namespace {

using G = HwRouteGlobal;
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

    static constexpr HwUpdateCounters counters{
        .ok = &G::hwOkRouteCnt, .vpn = &G::hwVpnCnt, .err = &G::hwErrRouteCnt, .abnVpn = &G::abnormalVpnCnt,
        .ecmpAdd = &G::ecmpUpdataAddCnt, .ecmpDel = &G::ecmpUpdataDelCnt, .delNodo = &G::hwUpdateDelNodoCnt,
        .settle = {{&G::hwRouteA1Cnt, nullptr},
                   {nullptr, &G::hwRouteD2Cnt},
                   {&G::hwRouteA2Cnt, &G::hwRouteD1Cnt},
                   {&G::hwRouteA4Cnt, &G::hwRouteD3Cnt}},
    };
    static constexpr HwUpdateTexts texts{
        .entry = {"update add ip ecmp route to hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,flags=%#x,nextHopNum=%d.",
                  "updata del ip ecmp route on hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,flags=%#x,nextHopNum=%d.",
                  "add ip route on hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,flags=%#x,nextHopNum=%d.",
                  "del ip route on hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x,flags=%#x,nextHopNum=%d."},
        .error = {"update add ip ecmp route on hardware error,add to abnormal table.",
                  "updata del ip ecmp route on hardware error.", "add ip route on hardware error.",
                  "del ip route on hardware error."},
        .success = {"add ip ecmp route on hardware success.", "updata del ip ecmp route on hardware success.",
                    "add ip route on hardware success.", "del ip route on hardware success."},
    };
    static void logEntry(HwUpdateKind k, const Dest* d, uint32_t flags, uint32_t records) {
        hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, texts.entry[k], d->vrfId, d->destIp, d->mask, flags, records);
    }
};

using Update = HwDirectUpdate<Update4>;

}  // namespace

HwAbnResult hwRouteAbnormalRetry(const HwAbnKey& key, const uint8_t*, uint32_t) { return Update::retry(key); }

void hwUpdateRouteAdd(HwRouteNexthop* x) { Update::add(x); }

int hwUpdateRouteDel(HwRouteNexthop* x) { return Update::del(x); }

bool hwRouteDestSettled(HwRouteDest* d) { return Update::settled(d); }
