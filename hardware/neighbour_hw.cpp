// Neighbour host entries: every resolved ARP and ND6 neighbour is a /32 or
// /128 route with one next hop carrying its MAC address, port and VLAN.
//
// Status moves made here (the add writers do not look at the old status):
//   add accepted            any  -> 1   ok counter + 1, unless cardupFlag (then cleared)
//   IPv4 add refused        any  -> 4   error counter + 1 (once); a card-up
//                                       rewrite also leaves the ok counter
//   delete                  1, 5 -> 2   ok counter - 1 (platform called)
//   delete                  4    -> 2   error counter - 1 (no platform call)
//   delete                  else        unchanged, error line
#include <cstring>

#include "hwroute/abnormal.h"
#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/hardware.h"
#include "hwroute/intake.h"
#include "hwroute/neighbour.h"
#include "hwroute/platform.h"
#include "layout.h"
#include "route_paths.h"

namespace {

#define LOG(...) hwRouteDebug(HW_DBG_MOD, HW_DBG_ROUTE, __VA_ARGS__)

// The VLAN of a neighbour: its sub-interface's when it has one, else its
// interface's. `vid` keeps whatever the query wrote (0 when it wrote nothing).
bool neighbourVlan(uint32_t ifUnit, uint32_t subIfUnit, uint16_t* vid) {
    SysIndexIfRecord rec{};
    const int rc = sysIndexTrans(subIfUnit != 0 ? subIfUnit : ifUnit, HW_TRANS_IF_RECORD, &rec);
    *vid = uint16_t(rec.word[4]);
    return rc == 0;
}

template <class Node>
HwNeighEntry entryOf(const Node* node, const uint8_t* mac, uint8_t op) {
    HwNeighEntry e{};
    e.vrId = node->vpnVrfid;
    e.port = node->outPort;
    e.ipPort = node->ifUnit;
    std::memcpy(e.mac, mac, 6);
    e.op = op;
    return e;
}

HwNeighEntry arpEntry(const HwArpNode* node, uint8_t op) {
    HwNeighEntry e = entryOf(node, node->mac, op);
    BeWriter(e.address, 4).u32(node->nextHop);
    return e;
}

HwNeighEntry nd6Entry(const HwNd6Node* node, uint8_t op) {
    HwNeighEntry e = entryOf(node, node->macAddr, op);
    std::memcpy(e.address, node->nextHop, 16);
    return e;
}

// A successful add: in hardware; a card-up rewrite was counted before.
template <class Node>
void addAccepted(Node* node, uint32_t* okCounter) {
    node->status = hwStatusOk;
    if (node->cardupFlag != 0)
        node->cardupFlag = 0;
    else
        (*okCounter)++;
}

}  // namespace

int hwUpdateArpAdd(HwArpNode* node) {
    if (node == nullptr) return -1;
    HwNeighEntry e = arpEntry(node, HW_REC_OP_ADD);
    if (!neighbourVlan(node->ifUnit, node->subIfUnit, &e.vid))
        LOG("[hwUpdateArpAdd]=>sysIndexTrans get vlan id failed.");
    uint8_t buf[HW_ARP_BUF_LEN];
    packArpHwBuf(buf, e);
    LOG("[hwUpdateArpAdd]=>add arp to hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x.", e.vrId, node->nextHop,
        0xFFFFFFFFu);
    if (hwSendEntries(HW_OBJ_ROUTE4, buf, sizeof(buf)) != 0) {
        LOG("[hwUpdateArpAdd]=>add arp to hardware error.");
        // The error count holds each refused record once: a retry refused
        // again does not raise it a second time.
        if (node->status != hwStatusAddAbnormal) ghwRoute.hwErrArpCnt++;
        node->status = hwStatusAddAbnormal;
        // A refused card-up rewrite leaves the entry out of the new card: it
        // is no longer counted in hardware, and its retry counts it again.
        if (node->cardupFlag != 0) {
            node->cardupFlag = 0;
            ghwRoute.hwOkArpCnt--;
        }
        hwAbnormalQueue(hwAbnArpKey(node->vpnVrfid, node->nextHop));
        return -1;
    }
    LOG("[hwUpdateArpAdd]=>add arp to hardware success.");
    if (node->status == hwStatusAddAbnormal) ghwRoute.hwErrArpCnt--;  // a refused record written at last
    addAccepted(node, &ghwRoute.hwOkArpCnt);
    return 0;
}

int hwUpdateArpDel(HwArpNode* node) {
    if (node == nullptr) return -1;
    HwNeighEntry e = arpEntry(node, HW_REC_OP_DEL);
    // A failed VLAN lookup (the interface is gone) does not keep the entry
    // in hardware: the delete goes out with what is known (a deliberate
    // departure from giving up here), and is retried when refused.
    if (!neighbourVlan(node->ifUnit, node->subIfUnit, &e.vid)) LOG("[hwUpdateArpDel]=>sysIndexTrans get vlan id failed.");
    uint8_t buf[HW_ARP_BUF_LEN];
    packArpHwBuf(buf, e);
    LOG("[hwUpdateArpDel]=>del arp to hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x.", e.vrId, node->nextHop,
        0xFFFFFFFFu);
    switch (node->status) {
        case hwStatusAddAbnormal:
            LOG("[hwUpdateArpDel]=>del arp to hardware success,old status is add abnormal.");
            node->status = hwStatusIdle;
            ghwRoute.hwErrArpCnt--;
            break;
        case hwStatusOk:
        case hwStatusDelAbnormal:
            // A refused delete is kept, with its bytes, for a retry.
            if (hwSendEntries(HW_OBJ_ROUTE4, buf, sizeof(buf)) != 0)
                hwAbnormalQueue(hwAbnArpKey(node->vpnVrfid, node->nextHop), buf, sizeof(buf));
            LOG("[hwUpdateArpDel]=>del arp to hardware success.");
            node->status = hwStatusIdle;
            ghwRoute.hwOkArpCnt--;
            break;
        default:
            LOG("[hwUpdateArpDel]=>del arp to hardware error,status %d is error.", node->status);
            break;
    }
    return 0;
}

int hwUpdateNd6Add(HwNd6Node* node) {
    if (node == nullptr) return -1;
    HwNeighEntry e = nd6Entry(node, HW_REC_OP_ADD);
    if (!neighbourVlan(node->ifUnit, node->subIfUnit, &e.vid)) {
        LOG("[hwUpdateNd6Add]=>sysIndexTrans get vlan id failed.");
        return -1;
    }
    uint8_t buf[HW_ND6_BUF_LEN];
    packNd6HwBuf(buf, e);
    LOG("[hwUpdateNd6Add]=>add nd6 to hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d.", e.vrId,
        ip6_sprintf(node->nextHop), 128);
    (void)hwSendEntries(HW_OBJ_ROUTE6, buf, sizeof(buf));  // the IPv6 add does not look at the answer
    LOG("[hwUpdateNd6Add]=>add nd6 to hardware success.");
    addAccepted(node, &ghwRoute.hwOkNd6Cnt);
    return 0;
}

int hwUpdateNd6Del(HwNd6Node* node) {
    if (node == nullptr) return -1;
    HwNeighEntry e = nd6Entry(node, HW_REC_OP_DEL);
    if (!neighbourVlan(node->ifUnit, node->subIfUnit, &e.vid)) {
        LOG("[hwUpdateNd6Del]=>sysIndexTrans get vlan id failed.");
        return -1;
    }
    uint8_t buf[HW_ND6_BUF_LEN];
    packNd6HwBuf(buf, e);
    LOG("[hwUpdateNd6Del]=>del nd6 to hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d.", e.vrId,
        ip6_sprintf(node->nextHop), 128);
    switch (node->status) {
        case hwStatusAddAbnormal:
            LOG("[hwUpdateNd6Del]=>del nd6 to hardware success,old status is add abnormal.");
            node->status = hwStatusIdle;
            ghwRoute.hwErrNd6Cnt--;
            break;
        case hwStatusOk:
        case hwStatusDelAbnormal:
            (void)hwSendEntries(HW_OBJ_ROUTE6, buf, sizeof(buf));
            LOG("[hwUpdateNd6Del]=>del nd6 to hardware success.");
            node->status = hwStatusIdle;
            ghwRoute.hwOkNd6Cnt--;
            break;
        default:
            LOG("[hwUpdateNd6Del]=>del nd6 to hardware error,status %d is error.", node->status);
            break;
    }
    return 0;
}

// A neighbour whose host entry write was refused. A record now in hardware
// (rewritten since) leaves nothing to do; a record still refused is written
// again; otherwise the kept delete goes out again, when there is one.
HwAbnResult hwArpAbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen) {
    HwArpNode* arp = hwArpFind(key.vrf, beRead32(key.addr));
    if (arp != nullptr && arp->status == hwStatusOk) return HwAbnResult::Superseded;
    if (arp != nullptr && arp->status == hwStatusAddAbnormal && !(arp->flag & ARP_FLAG_LOCAL))
        return hwArpRetryWrite(arp) == 0 ? HwAbnResult::Recovered : HwAbnResult::Refused;
    if (savedLen == 0) return HwAbnResult::Superseded;
    uint8_t buf[HW_ABN_SAVED_MAX];
    std::memcpy(buf, saved, savedLen);
    return hwSendEntries(HW_OBJ_ROUTE4, buf, savedLen) == 0 ? HwAbnResult::Recovered : HwAbnResult::Refused;
}
