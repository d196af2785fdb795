// Card-up replay: a new line card, a slot or a resend request finds the
// hardware empty while the software tables say what belongs there. Entries
// written by their own writers are rewritten at once; route paths are
// re-queued on the ready lists and go out with the next flushes.
#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/hardware.h"
#include "hwroute/tables.h"

namespace {

// A path present in hardware and not on its way out.
template <class Nexthop>
bool replayable(const Nexthop* nh) {
    return (nh->flag & NH_HW_OK) != 0 && (nh->flag & (NH_OP_DEL | NH_NEIGH_LOST | NH_OP_BACKUP)) == 0;
}

// Re-mark one present path as a pending add; returns true when its labelled
// part is re-marked too.
template <class Nexthop>
bool requeuePath(Nexthop* nh) {
    const bool labelled = (nh->flag & NH_VPN) != 0 && (nh->flag & (NH_VPN_DELETED | NH_VPN_NEIGH_LOST)) == 0;
    nh->flag = (nh->flag & ~NH_HW_OK) | NH_CARDUP_PEND | NH_OP_ADD;
    if (labelled) nh->flag = (nh->flag & ~NH_VPN) | NH_OP_VPN_ADD;
    return labelled;
}

void replayRoutes4() {
    for (HwListLink& bucket : ghwRoute.nexthopTable) {
        for (HwRouteNexthop* nh : hwListOf<&HwRouteNexthop::hashLink>(&bucket)) {
            if (!replayable(nh)) continue;
            ++ghwRoute.cardupRtSucCnt;
            if (requeuePath(nh)) ++ghwRoute.cardupVpnSucCnt;
            ++ghwRoute.cardupNormalCnt;
            if (nh->pDestEntry != nullptr && nh->pDestEntry->readyState == 0) {
                ++ghwRoute.cardupReadyAddCnt;
                hwRouteReadyTableAdd(nh->pDestEntry);
            }
        }
    }
}

void replayRoutes6() {
    for (HwListLink& bucket : ghwRoute.nexthop6Table) {
        for (HwRoute6Nexthop* nh : hwListOf<&HwRoute6Nexthop::hashLink>(&bucket)) {
            if (!replayable(nh)) continue;
            ++ghwRoute.cardupRt6SucCnt;
            if (requeuePath(nh)) ++ghwRoute.cardupVpn6SucCnt;
            ++ghwRoute.cardupNormal6Cnt;
            if (nh->pDestEntry != nullptr && nh->pDestEntry->readyState == 0) {
                ++ghwRoute.cardupReady6AddCnt;
                hwRoute6ReadyTableAdd(nh->pDestEntry);
            }
        }
    }
}

// Neighbours: idle with the card-up nibble set, so the writer's success
// clears the nibble instead of counting the entry a second time.
template <class Node, class Writer>
void replayNeighbours(HwListLink* table, Writer write) {
    for (uint32_t i = 0; i < HW_NHOP_BUCKETS; ++i) {
        for (Node* n : hwListOf<&Node::link>(&table[i])) {
            if (n->status != hwStatusOk) continue;
            n->status = hwStatusIdle;
            n->cardupFlag = 1;
            write(n);
        }
    }
}

}  // namespace

int hwRouteCardupProcess(void) {
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "process card up,start sync route to hardware!");
    for (HwRouteIlmNode* ilm : hwListOf<&HwRouteIlmNode::link>(&ghwRoute.ilmList)) hwIlmCardupReplay(ilm);
    replayRoutes4();
    replayNeighbours<HwArpNode>(ghwRoute.arpTable, hwUpdateArpAdd);
    replayRoutes6();
    replayNeighbours<HwNd6Node>(ghwRoute.nd6Table, hwUpdateNd6Add);
    for (HwRouteL2vpnNode* l2 : hwListOf<&HwRouteL2vpnNode::link>(&ghwRoute.l2vpnList)) hwL2vpnCardupReplay(l2);
    for (HwRouteTunNode* tun : hwListOf<&HwRouteTunNode::link>(&ghwRoute.tunList)) hwTunCardupReplay(tun);
    return 0;
}
