// Direct IPv6 route updates: one destination's best path set before and
// after a change of one path, sent at once to object 339 in a call of its
// own. The twin of the IPv4 direct updates (the shared build is in
// route_update.h), with 16-byte next hops; its texts and counters are its own.
#include <cstring>

#include "hwroute/intake.h"
#include "route6_paths.h"
#include "route_update.h"

namespace {

using G = HwRouteGlobal;
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

    // The replacing add counts its old paths in the IPv4 D2 counter.
    static constexpr HwUpdateCounters counters{
        .ok = &G::hwOkRoute6Cnt, .vpn = &G::hwVpn6Cnt, .err = &G::hwErrRoute6Cnt, .abnVpn = &G::abnormalVpn6Cnt,
        .ecmpAdd = &G::ecmpUpdataAdd6Cnt, .ecmpDel = &G::ecmp6UpdataDelCnt, .delNodo = &G::hwUpdate6DelNodoCnt,
        .settle = {{&G::hwRoute6A2Cnt, nullptr},
                   {nullptr, &G::hwRoute6D3Cnt},
                   {&G::hwRoute6A3Cnt, &G::hwRouteD2Cnt},
                   {&G::hwRoute6A4Cnt, &G::hwRoute6D4Cnt}},
    };
    static constexpr HwUpdateTexts texts{
        .entry = {"update add ip6 ecmp route to hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d,flags=%#x,nextHopNum=%d.",
                  "updata del ipv6 ecmp route on hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d,flags=%#x,nextHopNum=%d.",
                  "add ip6 route on hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d,flags=%#x,nextHopNum=%d.",
                  "del ipv6 route on hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d,flags=%#x,nextHopNum=%d."},
        .error = {"update add ip6 ecmp route on hardware error,add to abnormal table.",
                  "updata del ipv6 ecmp route on hardware error.", "add ip6 route on hardware error.",
                  "del ipv6 route on hardware error."},
        .success = {"add ip6 ecmp route on hardware success.", "updata del ipv6 ecmp route on hardware success.",
                    "add ip6 route on hardware success.", "del ipv6 route on hardware success."},
    };
    // The address text is formatted only for a line that is written.
    static void logEntry(HwUpdateKind k, const Dest* d, uint32_t flags, uint32_t records) {
        if (!hwRouteDebugOn(HW_DBG_MOD, HW_DBG_ROUTE)) return;
        hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, texts.entry[k], d->vrfId, ip6_sprintf(d->destIpAddr), d->prefixLen,
                     flags, records);
    }
};

using Update = HwDirectUpdate<Update6>;

}  // namespace

HwAbnResult hwRoute6AbnormalRetry(const HwAbnKey& key, const uint8_t*, uint32_t) { return Update::retry(key); }

void hwUpdateRoute6Add(HwRoute6Nexthop* x) { Update::add(x); }

int hwUpdateRoute6Del(HwRoute6Nexthop* x) { return Update::del(x); }

bool hwRoute6DestSettled(HwRoute6Dest* d) { return Update::settled(d); }
