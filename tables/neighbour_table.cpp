// IPv4 (ARP) and IPv6 (ND) neighbour tables, and the effective-VRF rule by
// which next hops are matched against neighbours.
#include <cstring>

#include "hwroute/flags.h"
#include "hwroute/tables.h"
#include "ordered.h"
#include "side_index.h"

// ARP table: buckets by the low 7 bits of the address, each kept in
// descending address order; the key is (vpnVrfid, nextHop).

void hwArpTableAdd(HwArpNode* node) {
    if (node == nullptr) return;
    uint32_t address = node->nextHop;
    hwListInsertOrdered<&HwArpNode::link>(&ghwRoute.arpTable[hwRouteKey1(address)], node,
                                          [address](const HwArpNode* rec) { return rec->nextHop >= address; });
    // Behind its equals in the bucket, so behind them in its chain too.
    ghwIndex.arp.add<HwArpFamily>(node, false);
    ghwRoute.swArpCnt++;
    ghwRoute.arpAddLstCnt++;
}

void hwArpTableDelete(HwArpNode* node) {
    if (node == nullptr) return;
    hwListRemove(&node->link);
    ghwIndex.arp.remove<HwArpFamily>(node);
    ghwRoute.swArpCnt--;
    ghwRoute.arpDelLstCnt++;
}

HwArpNode* hwArpFind(uint32_t vrf, uint32_t address) { return ghwIndex.arp.first<HwArpFamily>({vrf, address}); }

HwArpNode* hwArpFindNext(const HwArpNode* node) {
    return node == nullptr ? nullptr : ghwIndex.arp.after<HwArpFamily>(node);
}

HwArpNode* hwArpTableLookup(const HwArpNode* key) {
    if (key == nullptr) return nullptr;
    return hwArpFind(key->vpnVrfid, key->nextHop);
}

void hwArpFreeAll(uint32_t vrf, uint32_t address) {
    // The range reads each successor before handing out the record, so the
    // record may be unlinked and freed in the body.
    hwArpEachAt(vrf, address, [](HwArpNode* rec) {
        // A held record stays until the flush has removed the paths that
        // still use it; it only stops being the local address.
        if (rec->flag & ARP_FLAG_HELD) {
            rec->flag &= uint8_t(~ARP_FLAG_LOCAL);
            return;
        }
        hwArpTableDelete(rec);
        hwArpNodeFree(rec);
    });
}

// ND table: buckets by the byte sum of the address, each kept in descending
// byte-sum order; the key is (vpnVrfid, 16 address bytes).

void hwNd6TableAdd(HwNd6Node* node) {
    if (node == nullptr) return;
    uint32_t sum = hwRoute6ByteSum(node->nextHop);
    hwListInsertOrdered<&HwNd6Node::link>(&ghwRoute.nd6Table[hwRoute6Key1(node->nextHop)], node,
                                          [sum](const HwNd6Node* rec) { return hwRoute6ByteSum(rec->nextHop) >= sum; });
    ghwIndex.nd6.add<HwNd6Family>(node, false);
    ghwRoute.swNd6Cnt++;
    ghwRoute.nd6AddLstCnt++;
}

void hwNd6TableDelete(HwNd6Node* node) {
    if (node == nullptr) return;
    hwListRemove(&node->link);
    ghwIndex.nd6.remove<HwNd6Family>(node);
    ghwRoute.swNd6Cnt--;
    ghwRoute.nd6DelLstCnt++;
}

HwNd6Node* hwNd6Find(uint32_t vrf, const uint8_t* address) {
    if (address == nullptr) return nullptr;
    return ghwIndex.nd6.first<HwNd6Family>({vrf, address});
}

HwNd6Node* hwNd6FindNext(const HwNd6Node* node) {
    return node == nullptr ? nullptr : ghwIndex.nd6.after<HwNd6Family>(node);
}

HwNd6Node* hwNd6TableLookup(const HwNd6Node* key) {
    if (key == nullptr) return nullptr;
    return hwNd6Find(key->vpnVrfid, key->nextHop);
}

// Effective VRF. A private route that rides on a public route of the same
// family is matched in the public route's VRF; one riding on a route of the
// other family never meets a neighbour of this family.

bool hwNexthopEffectiveVrf(const HwRouteNexthop* nh, uint32_t* vrf) {
    if (nh == nullptr || vrf == nullptr) return false;
    if (nh->publicRoute == nullptr) {
        *vrf = nh->nVrfId;
        return true;
    }
    if (nh->publicFamily != HW_AF_INET) return false;
    const HwRouteDest* publicDest = static_cast<const HwRouteNexthop*>(nh->publicRoute)->pDestEntry;
    // A public next hop not (yet) attached to its destination has no VRF to offer.
    if (publicDest == nullptr) return false;
    *vrf = publicDest->vrfId;
    return true;
}

bool hwNexthop6EffectiveVrf(const HwRoute6Nexthop* nh, uint32_t* vrf) {
    if (nh == nullptr || vrf == nullptr) return false;
    if (nh->publicRoute == nullptr) {
        *vrf = nh->nVrfId;
        return true;
    }
    if (nh->publicFamily != HW_AF_INET6) return false;
    const HwRoute6Dest* publicDest = static_cast<const HwRoute6Nexthop*>(nh->publicRoute)->pDestEntry;
    if (publicDest == nullptr) return false;
    *vrf = publicDest->vrfId;
    return true;
}

bool hwNexthopMatchesArp(const HwRouteNexthop* nh, const HwArpNode* arp) {
    uint32_t vrf;
    if (arp == nullptr || !hwNexthopEffectiveVrf(nh, &vrf)) return false;
    return vrf == arp->vpnVrfid && nh->nextHop == arp->nextHop;
}

bool hwNexthop6MatchesNd6(const HwRoute6Nexthop* nh, const HwNd6Node* nd6) {
    uint32_t vrf;
    if (nd6 == nullptr || !hwNexthop6EffectiveVrf(nh, &vrf)) return false;
    return vrf == nd6->vpnVrfid && std::memcmp(nh->nextHop, nd6->nextHop, 16) == 0;
}
