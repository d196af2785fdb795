// Neighbour host entries: every resolved ARP and ND6 neighbour is a /32 or
// /128 route with one next hop carrying its MAC address, port and VLAN. Both
// families share one writer (HostEntry below); each supplies its record, buffer,
// object, counters, abnormal key and log lines.
//
// Status moves made here (the add writers do not look at the old status):
//   add accepted            any  -> 1   ok counter + 1, unless cardupFlag (then cleared)
//   add refused             any  -> 4   error counter + 1 (once); a card-up
//                                       rewrite also leaves the ok counter;
//                                       queued in the abnormal table
//   delete                  1, 5 -> 2   ok counter - 1 (platform called; a
//                                       refusal is queued with its bytes)
//   delete                  4    -> 2   error counter - 1 (no platform call)
//   delete                  else        unchanged, error line
//
// A failed VLAN lookup: the IPv4 add and both deletes go out with what is
// known (a delete given up would leave the entry in hardware for good once its
// interface is gone). The IPv6 add sends nothing, as its writer always did,
// but counts as refused, so the retry writes it once the lookup works.
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

// The IPv4 family: object 338, 92-byte buffer.
struct Arp {
    using Node = HwArpNode;
    static constexpr uint32_t kObject = HW_OBJ_ROUTE4;
    static constexpr uint32_t kBufLen = HW_ARP_BUF_LEN;
    static constexpr bool kAddNeedsVlan = false;
    static constexpr uint32_t HwRouteGlobal::*ok = &HwRouteGlobal::hwOkArpCnt;
    static constexpr uint32_t HwRouteGlobal::*err = &HwRouteGlobal::hwErrArpCnt;
    static constexpr const char* kAdd = "[hwUpdateArpAdd]";
    static constexpr const char* kDel = "[hwUpdateArpDel]";
    static constexpr const char* kWord = "arp";
    static HwNeighEntry entry(const Node* n, uint8_t op) { return arpEntry(n, op); }
    static void pack(uint8_t* buf, const HwNeighEntry& e) { packArpHwBuf(buf, e); }
    static HwAbnKey key(const Node* n) { return hwAbnArpKey(n->vpnVrfid, n->nextHop); }
    static Node* find(const HwAbnKey& k) { return hwArpFind(k.vrf, beRead32(k.addr)); }
    static int retryWrite(Node* n) { return hwArpRetryWrite(n); }
    static void logEntry(const char* fn, const char* verb, const Node* n, uint32_t vrId) {
        LOG("%s=>%s arp to hardware:vrId=%d,subnetAddr=0x%x,subnetMask=0x%x.", fn, verb, vrId, n->nextHop, 0xFFFFFFFFu);
    }
};

// The IPv6 family: object 339, 100-byte buffer.
struct Nd6 {
    using Node = HwNd6Node;
    static constexpr uint32_t kObject = HW_OBJ_ROUTE6;
    static constexpr uint32_t kBufLen = HW_ND6_BUF_LEN;
    static constexpr bool kAddNeedsVlan = true;
    static constexpr uint32_t HwRouteGlobal::*ok = &HwRouteGlobal::hwOkNd6Cnt;
    static constexpr uint32_t HwRouteGlobal::*err = &HwRouteGlobal::hwErrNd6Cnt;
    static constexpr const char* kAdd = "[hwUpdateNd6Add]";
    static constexpr const char* kDel = "[hwUpdateNd6Del]";
    static constexpr const char* kWord = "nd6";
    static HwNeighEntry entry(const Node* n, uint8_t op) { return nd6Entry(n, op); }
    static void pack(uint8_t* buf, const HwNeighEntry& e) { packNd6HwBuf(buf, e); }
    static HwAbnKey key(const Node* n) { return hwAbnNd6Key(n->vpnVrfid, n->nextHop); }
    static Node* find(const HwAbnKey& k) { return hwNd6Find(k.vrf, k.addr); }
    static int retryWrite(Node* n) { return hwNd6RetryWrite(n); }
    static void logEntry(const char* fn, const char* verb, const Node* n, uint32_t vrId) {
        if (!hwRouteDebugOn(HW_DBG_MOD, HW_DBG_ROUTE)) return;  // the address text only for a line written
        LOG("%s=>%s nd6 to hardware:vrId=%d,subnetAddr=%s,subnetMaskLen=%d.", fn, verb, vrId, ip6_sprintf(n->nextHop),
            128);
    }
};

template <class F>
struct HostEntry {
    using Node = typename F::Node;

    // A successful add: in hardware; a card-up rewrite was counted before.
    // A refused record written at last leaves the error count.
    static int accepted(Node* n) {
        LOG("%s=>add %s to hardware success.", F::kAdd, F::kWord);
        if (n->status == hwStatusAddAbnormal) ghwRoute.*F::err -= 1;
        n->status = hwStatusOk;
        if (n->cardupFlag != 0)
            n->cardupFlag = 0;
        else
            ghwRoute.*F::ok += 1;
        return 0;
    }

    // The error count holds each refused record once (a retry refused again
    // does not raise it). A refused card-up rewrite leaves the entry out of
    // the new card: no longer counted in hardware, its retry counts it again.
    static int refused(Node* n) {
        LOG("%s=>add %s to hardware error.", F::kAdd, F::kWord);
        if (n->status != hwStatusAddAbnormal) ghwRoute.*F::err += 1;
        n->status = hwStatusAddAbnormal;
        if (n->cardupFlag != 0) {
            n->cardupFlag = 0;
            ghwRoute.*F::ok -= 1;
        }
        hwAbnormalQueue(F::key(n));
        return -1;
    }

    static int add(Node* n) {
        if (n == nullptr) return -1;
        HwNeighEntry e = F::entry(n, HW_REC_OP_ADD);
        if (!neighbourVlan(n->ifUnit, n->subIfUnit, &e.vid)) {
            LOG("%s=>sysIndexTrans get vlan id failed.", F::kAdd);
            if (F::kAddNeedsVlan) return refused(n);
        }
        uint8_t buf[F::kBufLen];
        F::pack(buf, e);
        F::logEntry(F::kAdd, "add", n, e.vrId);
        return hwSendEntries(F::kObject, buf, sizeof buf) == 0 ? accepted(n) : refused(n);
    }

    static int del(Node* n) {
        if (n == nullptr) return -1;
        HwNeighEntry e = F::entry(n, HW_REC_OP_DEL);
        if (!neighbourVlan(n->ifUnit, n->subIfUnit, &e.vid)) LOG("%s=>sysIndexTrans get vlan id failed.", F::kDel);
        uint8_t buf[F::kBufLen];
        F::pack(buf, e);
        F::logEntry(F::kDel, "del", n, e.vrId);
        switch (n->status) {
            case hwStatusAddAbnormal:
                LOG("%s=>del %s to hardware success,old status is add abnormal.", F::kDel, F::kWord);
                n->status = hwStatusIdle;
                ghwRoute.*F::err -= 1;
                break;
            case hwStatusOk:
            case hwStatusDelAbnormal:
                // A refused delete is kept, with its bytes, for a retry.
                if (hwSendEntries(F::kObject, buf, sizeof buf) != 0) hwAbnormalQueue(F::key(n), buf, sizeof buf);
                LOG("%s=>del %s to hardware success.", F::kDel, F::kWord);
                n->status = hwStatusIdle;
                ghwRoute.*F::ok -= 1;
                break;
            default:
                LOG("%s=>del %s to hardware error,status %d is error.", F::kDel, F::kWord, n->status);
                break;
        }
        return 0;
    }

    // A neighbour whose host entry write was refused. A record now in
    // hardware (rewritten since) leaves nothing to do; a record still refused
    // is written again; otherwise the kept delete goes out again, when there
    // is one.
    static HwAbnResult retry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen) {
        Node* n = F::find(key);
        if (n != nullptr && n->status == hwStatusOk) return HwAbnResult::Superseded;
        if (n != nullptr && n->status == hwStatusAddAbnormal && !(n->flag & ARP_FLAG_LOCAL))
            return F::retryWrite(n) == 0 ? HwAbnResult::Recovered : HwAbnResult::Refused;
        if (savedLen == 0 || savedLen > HW_ABN_SAVED_MAX) return HwAbnResult::Superseded;
        uint8_t buf[HW_ABN_SAVED_MAX];
        std::memcpy(buf, saved, savedLen);
        return hwSendEntries(F::kObject, buf, savedLen) == 0 ? HwAbnResult::Recovered : HwAbnResult::Refused;
    }
};

}  // namespace

int hwUpdateArpAdd(HwArpNode* node) { return HostEntry<Arp>::add(node); }
int hwUpdateArpDel(HwArpNode* node) { return HostEntry<Arp>::del(node); }
int hwUpdateNd6Add(HwNd6Node* node) { return HostEntry<Nd6>::add(node); }
int hwUpdateNd6Del(HwNd6Node* node) { return HostEntry<Nd6>::del(node); }

HwAbnResult hwArpAbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen) {
    return HostEntry<Arp>::retry(key, saved, savedLen);
}
HwAbnResult hwNd6AbnormalRetry(const HwAbnKey& key, const uint8_t* saved, uint32_t savedLen) {
    return HostEntry<Nd6>::retry(key, saved, savedLen);
}
