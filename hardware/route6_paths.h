// The neighbour that completes an IPv6 path record. An IPv6 next hop is
// completed from its ND6 record; an IPv4 next hop of an IPv6 route (afNextHop
// 2) from its ARP record, because once its neighbour comes back such a path
// is queued on the IPv6 ready list like any other and the flush has to find
// its MAC there too (a lookup in the ND6 table would never find it).
#pragma once

#include <cstdint>
#include <cstring>

#include "hwroute/flags.h"
#include "hwroute/tables.h"
#include "path_record.h"


// The first neighbour record (any state) of the next hop's effective VRF and
// address; false when there is none.
inline bool hwPath6Neighbour(const HwRoute6Nexthop* nh, HwPathNeighbour* out) {
    uint32_t vrf = 0;
    if (nh->afNextHop == HW_AF_INET) {
        // Matched in the next hop's own VRF, as the IPv6-over-IPv4 add does.
        const uint32_t a = (uint32_t(nh->nextHop[0]) << 24) | (uint32_t(nh->nextHop[1]) << 16) |
                           (uint32_t(nh->nextHop[2]) << 8) | nh->nextHop[3];
        const HwArpNode* arp = hwArpFind(nh->nVrfId, a);
        if (arp == nullptr) return false;
        *out = {{}, arp->outPort, arp->ifUnit, arp->subIfUnit, {}};
        std::memcpy(out->address, nh->nextHop, 4);
        std::memcpy(out->mac, arp->mac, 6);
        return true;
    }
    if (!hwNexthop6EffectiveVrf(nh, &vrf)) return false;
    const HwNd6Node* nd = hwNd6Find(vrf, nh->nextHop);
    if (nd == nullptr) return false;
    *out = {{}, nd->outPort, nd->ifUnit, nd->subIfUnit, {}};
    std::memcpy(out->address, nd->nextHop, 16);
    std::memcpy(out->mac, nd->macAddr, 6);
    return true;
}
