// Diagnostic dumps on the daemon's standard output: the software tables
// (activeShow) and every statistics counter (routeCount).
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>
#include <cstdio>

#include "hwroute/global.h"
#include "hwroute/intake.h"
#include "hwroute/list.h"
#include "hwroute/management.h"

namespace {

// Record addresses print with "%#x": on a 64-bit host only their low 32 bits.
unsigned recAddr(const void* p) { return unsigned(uintptr_t(p)); }

// Label entry to label number (bits 12 to 31).
int labelOf(uint32_t entry) { return int(entry >> 12); }

struct Ip4Text {
    char buf[20];
    explicit Ip4Text(uint32_t addr) { inet_ntoa_2(buf, addr); }
};

struct Ip6Text {
    char buf[INET6_ADDRSTRLEN];
    explicit Ip6Text(const uint8_t* addr) {
        if (inet_ntop(AF_INET6, addr, buf, sizeof(buf)) == nullptr) buf[0] = '\0';
    }
};

// An address of either family held in 16 bytes, an IPv4 one in the first 4
// (first octet first).
struct AnyIpText {
    char buf[INET6_ADDRSTRLEN];
    AnyIpText(uint32_t family, const uint8_t* addr) {
        const int af = family == AF_INET ? AF_INET : AF_INET6;
        if (inet_ntop(af, addr, buf, sizeof(buf)) == nullptr) buf[0] = '\0';
    }
};

// Walk buckets 0..n-1 of a hashed table in order, each in chain order.
template <auto Member, class Fn>
void forEachInBuckets(HwListLink* heads, uint32_t n, Fn fn) {
    for (uint32_t b = 0; b < n; ++b)
        for (auto* rec : hwListOf<Member>(&heads[b])) fn(rec);
}

template <auto Member, class Fn>
void forEachInList(HwListLink* head, Fn fn) {
    for (auto* rec : hwListOf<Member>(head)) fn(rec);
}

// ---------------------------------------------------------------------------
// Rows

const char* const DEST4_HEADER =
    "\n\r num   --pAffectDest--vrfId--destIp         --mask           --readyState--routeFailState--nhopRefCnt\n\r";
const char* const NHOP4_NESTED_HEADER =
    "\n\r               nhopNum--pAffectNexthop--nVrfId--ifUnit--nextHop        --protoId--weight--ifState--routeFlag--"
    "flag      --srcMac           --mplsLabelNum--publicFamily--privateRefCnt--privateArpRefCnt--publicRoute--"
    "pDestEntry--label1--label2\n\r";
const char* const NHOP4_HEADER =
    "\n\r num   --pAffectNexthop--ifUnit--nextHop        --protoId--weight--ifState--flag      --srcMac           "
    "--mplsLabelNum--publicFamily--privateRefCnt--publicRoute--pDestEntry\n\r";
const char* const ILM_HEADER =
    "\n\r num   --pCurrentIlm--ifUnit--nextHop        --inIfUnit--vrfId--swapLabel--mplsTtl--mplsExp--mplsLabel--"
    "ilmFlags--status\n\r";
const char* const L2VPN_HEADER =
    "\n\r num   --pCurrentL2vpn--vfiId--vpnType--family--flags     --cePort--ceVid--ceEgressVid--ceEgressPri--"
    "peEgressPri--peEgressVid--txOuterLabel--txInnerLabel--rxInnerLabel--txOuterExp--txOuterTtl--txInnerExp--"
    "txInnerTtl--nexthopIp                              --status\n\r";
const char* const ARP_HEADER =
    "\n\r num   --nextHop        --mac              --ifUnit--subIfUnit--outPort--vpnVrfid--status--refCnt--"
    "cardupFlag--flag\n\r";
const char* const DEST6_HEADER =
    "\n\r num   --pAffectDest6--vrfId--destIpAddr                             --prefixLen--readyState--"
    "routeFailState--nhopRefCnt\n\r";
const char* const NHOP6_NESTED_HEADER =
    "\n\r               nhopNum--pAffectNexthop6--nVrfId--ifUnit--nextHop                                --protoId--"
    "weight--ifState--routeFlag--flag      --srcMac           --afNextHop--addrPos--mplsLabelNum--publicFamily--"
    "privateRefCnt--publicRoute--pDestEntry\n\r";
const char* const NHOP6_HEADER =
    "\n\r num   --pAffectNexthop6--ifUnit--nextHop                                --protoId--weight--ifState--"
    "flag      --srcMac           --afNextHop--addrPos--mplsLabelNum--publicFamily--privateRefCnt--publicRoute--"
    "pDestEntry\n\r";
const char* const ND6_HEADER =
    "\n\r num   --pNd6Affect--ifUnit--subIfUnit--nextHop                                --outPort--vpnVrfid--"
    "macAddr          --status--refCnt--cardupFlag--flag--localRefCnt\n\r";
const char* const TUN_HEADER =
    "\n\r num   --pCurrentTun--tunId--tunFamily--encapsMethod--nextHopSrc                             --nextHopDst"
    "                             --nexthopMask--dest                                  --routeMask --tunUnit--"
    "tunType--tunCreateTick--dstType--routeFamily--dstEntry  --status\n\r";

void printDest4(int num, const HwRouteDest* d) {
    printf("\n\r %-6d--%#x --%-5d--%-15s--%-15s--%-10d--%-14d--%-10d\n\r", num, recAddr(d), int(d->vrfId),
           Ip4Text(d->destIp).buf, Ip4Text(d->mask).buf, d->readyState, d->routeFailState, d->nhopRefCnt);
}

void printNexthop4Nested(int nhopNum, const HwRouteNexthop* n) {
    printf("\n\r               %-7d--%#x    --%-6d--%-6d--%-15s--%-7d--%-6d--%-7d--0x%07x--0x%08x--%-17s--%-12d--"
           "%-12d--%-13d--%-16d--%#x --%#x--%-6d--%-6d\n\r",
           nhopNum, recAddr(n), int(n->nVrfId), int(n->ifUnit), Ip4Text(n->nextHop).buf, n->protoId, n->weight,
           n->ifState, n->routeFlag, n->flag, llAddrConvert(n->srcMac, 6), n->mplsLabelNum, n->publicFamily,
           int(n->privateRefCnt), int(n->privateArpRefCnt), recAddr(n->publicRoute), recAddr(n->pDestEntry),
           labelOf(n->label1), labelOf(n->label2));
}

void printNexthop4(int num, const HwRouteNexthop* n) {
    printf("\n\r %-6d--%#x    --%-6d--%-15s--%-7d--%-6d--%-7d--0x%08x--%-17s--%-12d--%-12d--%-13d--%#x --%#x\n\r", num,
           recAddr(n), int(n->ifUnit), Ip4Text(n->nextHop).buf, n->protoId, n->weight, n->ifState, n->flag,
           llAddrConvert(n->srcMac, 6), n->mplsLabelNum, n->publicFamily, int(n->privateRefCnt),
           recAddr(n->publicRoute), recAddr(n->pDestEntry));
}

void printIlm(int num, const HwRouteIlmNode* e) {
    printf("\n\r %-6d--%#x --%-6d--%-15s--%-8d--%-5d--%-9d--%-7d--%-7d--%-9d--0x%06x--%-6d\n\r", num, recAddr(e),
           int(e->ifUnit), Ip4Text(e->nextHop).buf, int(e->inIfUnit), int(e->vrfId), labelOf(e->swapLabel),
           int(e->mplsLabel & 0xFF), int((e->mplsLabel >> 9) & 0x7), labelOf(e->mplsLabel), e->ilmFlags, e->status);
}

void printL2vpn(int num, const HwRouteL2vpnNode* e) {
    printf("\n\r %-6d--%#x   --%-5d--%-7d--%-6d--0x%08x--%-6d--%-5d--%-11d--%-11d--%-11d--%-11d--%-12d--%-12d--%-12d--"
           "%-10d--%-10d--%-10d--%-10d--%-39s--%-6d\n\r",
           num, recAddr(e), e->vfiId, e->vpnType, e->family, e->flags, int(e->cePort), e->ceVid, e->ceEgressVid,
           e->ceEgressPri, e->peEgressPri, e->peEgressVid, int(e->txOuterLabel), int(e->txInnerLabel),
           int(e->rxInnerLabel), e->txOuterExp, e->txOuterTtl, e->txInnerExp, e->txInnerTtl,
           AnyIpText(e->family, e->nexthopIp).buf, int(e->status));
}

void printArp(int num, const HwArpNode* a) {
    char mac[18];
    snprintf(mac, sizeof(mac), "%02x:%02x:%02x:%02x:%02x:%02x", a->mac[0], a->mac[1], a->mac[2], a->mac[3], a->mac[4],
             a->mac[5]);
    printf("\n\r %-6d--%-15s--%-17s--%-6d--%-9d--%-7d--%-8d--%-6d--%-6d--%-10d--0x%02x\n\r", num,
           Ip4Text(a->nextHop).buf, mac, int(a->ifUnit), int(a->subIfUnit), int(a->outPort), int(a->vpnVrfid),
           a->status, int(a->refCnt), a->cardupFlag, a->flag);
}

void printDest6(int num, const HwRoute6Dest* d) {
    printf("\n\r %-6d--%#x  --%-5d--%-39s--%-9d--%-10d--%-14d--%-10d\n\r", num, recAddr(d), int(d->vrfId),
           Ip6Text(d->destIpAddr).buf, d->prefixLen, d->readyState, d->routeFailState, d->nhopRefCnt);
}

// IPv6 next hops print in IPv6 text form also when they hold an IPv4 address.
void printNexthop6Nested(int nhopNum, const HwRoute6Nexthop* n) {
    printf("\n\r               %-7d--%#x     --%-6d--%-6d--%-39s--%-7d--%-6d--%-7d--0x%07x--0x%08x--%-17s--%-9d--"
           "%-7d--%-12d--%-12d--%-13d--%#x --%#x\n\r",
           nhopNum, recAddr(n), int(n->nVrfId), int(n->ifUnit), Ip6Text(n->nextHop).buf, n->protoId, n->weight,
           n->ifState, n->routeFlag, n->flag, llAddrConvert(n->srcMac, 6), n->afNextHop, n->addrPos,
           n->mplsLabelNum, n->publicFamily, n->privateRefCnt, recAddr(n->publicRoute), recAddr(n->pDestEntry));
}

void printNexthop6(int num, const HwRoute6Nexthop* n) {
    printf("\n\r %-6d--%#x     --%-6d--%-39s--%-7d--%-6d--%-7d--0x%08x--%-17s--%-9d--%-7d--%-12d--%-12d--%-13d--%#x "
           "--%#x\n\r",
           num, recAddr(n), int(n->ifUnit), Ip6Text(n->nextHop).buf, n->protoId, n->weight, n->ifState, n->flag,
           llAddrConvert(n->srcMac, 6), n->afNextHop, n->addrPos, n->mplsLabelNum, n->publicFamily,
           n->privateRefCnt, recAddr(n->publicRoute), recAddr(n->pDestEntry));
}

void printNd6(int num, const HwNd6Node* e) {
    printf("\n\r %-6d--%#x--%-6d--%-9d--%-39s--%-7d--%-8d--%-17s--%-6d--%-6d--%-10d--%#x--%-11d\n\r", num, recAddr(e),
           int(e->ifUnit), int(e->subIfUnit), Ip6Text(e->nextHop).buf, int(e->outPort), int(e->vpnVrfid),
           llAddrConvert(e->macAddr, 6), e->status, int(e->refCnt), e->cardupFlag, e->flag, int(e->localRefCnt));
}

void printTun(int num, const HwRouteTunNode* t) {
    printf("\n\r %-6d--%#x --%-5d--%-9d--%-12d--%-39s--%-39s--0x%09x--%-39s--0x%08x--%-7d--%-7d--%-13d--%-6d--%-11d--"
           "%#x--%-6d\n\r",
           num, recAddr(t), t->tunId, t->tunFamily, t->encapsMethod, AnyIpText(t->tunFamily, t->nextHopSrc).buf,
           AnyIpText(t->tunFamily, t->nextHopDst).buf, t->nexthopMask, AnyIpText(t->routeFamily, t->dest).buf,
           t->routeMask, int(t->tunUnit), int(t->tunType), int(t->tunCreateTick), t->dstType, t->routeFamily,
           recAddr(t->dstEntry), int(t->status));
}

// ---------------------------------------------------------------------------
// Sections. Each prints its title and header, then its rows; a section
// returns false when the destination limit ends the whole dump.

bool showDest4(int32_t limit) {
    printf("\n\r [1]activeShow all ipv4 dest table show :\n\r");
    printf("%s", DEST4_HEADER);
    int num = 0;
    for (uint32_t b = 0; b < HW_DEST_BUCKETS; ++b) {
        for (HwRouteDest* d : hwListOf<&HwRouteDest::hashLink>(&ghwRoute.routeTable[b])) {
            if (limit != 0 && num + 1 > limit) return false;
            printDest4(++num, d);
            printf("%s", NHOP4_NESTED_HEADER);
            int nhopNum = 0;
            forEachInList<&HwRouteNexthop::destLink>(
                &d->nhopList, [&](HwRouteNexthop* n) { printNexthop4Nested(++nhopNum, n); });
        }
    }
    return true;
}

template <auto Member>
bool showNexthop4Buckets(const char* title, HwListLink* heads) {
    printf("%s", title);
    printf("%s", NHOP4_HEADER);
    int num = 0;
    forEachInBuckets<Member>(heads, HW_NHOP_BUCKETS, [&](HwRouteNexthop* n) { printNexthop4(++num, n); });
    return true;
}

bool showNexthop4(int32_t) {
    return showNexthop4Buckets<&HwRouteNexthop::hashLink>("\n\r [2]activeShow all ipv4 nexthop table show :\n\r",
                                                          ghwRoute.nexthopTable);
}

bool showPend4(int32_t) {
    return showNexthop4Buckets<&HwRouteNexthop::pendLink>("\n\r [3]activeShow all ipv4 pend table show :\n\r",
                                                          ghwRoute.pendTable);
}

bool showIndirect4(int32_t) {
    printf("\n\r [4]activeShow all ipv4 indirect table show :\n\r");
    printf("%s", NHOP4_HEADER);
    int num = 0;
    forEachInList<&HwRouteNexthop::indirectLink>(&ghwRoute.indirectList,
                                                 [&](HwRouteNexthop* n) { printNexthop4(++num, n); });
    return true;
}

template <auto Member>
bool showIlmList(const char* title, HwListLink* head) {
    printf("%s", title);
    printf("%s", ILM_HEADER);
    int num = 0;
    forEachInList<Member>(head, [&](HwRouteIlmNode* e) { printIlm(++num, e); });
    return true;
}

bool showIlm(int32_t) {
    return showIlmList<&HwRouteIlmNode::link>("\n\r [5]activeShow all ipv4 Ilm table show :\n\r", &ghwRoute.ilmList);
}

bool showIlmPend(int32_t) {
    return showIlmList<&HwRouteIlmNode::pendLink>("\n\r [6]activeShow all ipv4 Ilm pend table show :\n\r",
                                                  &ghwRoute.ilmPendList);
}

template <auto Member>
bool showL2vpnList(const char* title, HwListLink* head) {
    printf("%s", title);
    printf("%s", L2VPN_HEADER);
    int num = 0;
    forEachInList<Member>(head, [&](HwRouteL2vpnNode* e) { printL2vpn(++num, e); });
    return true;
}

bool showL2vpn(int32_t) {
    return showL2vpnList<&HwRouteL2vpnNode::link>("\n\r [7]activeShow all l2vpn table show :\n\r",
                                                  &ghwRoute.l2vpnList);
}

bool showL2vpnPend(int32_t) {
    return showL2vpnList<&HwRouteL2vpnNode::pendLink>("\n\r [8]activeShow all l2vpn pend table show :\n\r",
                                                      &ghwRoute.l2vpnPendList);
}

bool showArp(int32_t) {
    printf("\n\r [9]activeShow all ipv4 arp table show :\n\r");
    printf("%s", ARP_HEADER);
    int num = 0;
    forEachInBuckets<&HwArpNode::link>(ghwRoute.arpTable, HW_NHOP_BUCKETS, [&](HwArpNode* a) { printArp(++num, a); });
    return true;
}

bool showDest6(int32_t limit) {
    printf("\n\r [10]activeShow all ipv6 dest table show :\n\r");
    printf("%s", DEST6_HEADER);
    int num = 0;
    for (uint32_t b = 0; b < HW_DEST_BUCKETS; ++b) {
        for (HwRoute6Dest* d : hwListOf<&HwRoute6Dest::hashLink>(&ghwRoute.route6Table[b])) {
            if (limit != 0 && num + 1 > limit) return false;
            printDest6(++num, d);
            printf("%s", NHOP6_NESTED_HEADER);
            int nhopNum = 0;
            forEachInList<&HwRoute6Nexthop::destLink>(
                &d->nhopList, [&](HwRoute6Nexthop* n) { printNexthop6Nested(++nhopNum, n); });
        }
    }
    return true;
}

template <auto Member>
bool showNexthop6Table(const char* title, HwListLink* heads, uint32_t buckets) {
    printf("%s", title);
    printf("%s", NHOP6_HEADER);
    int num = 0;
    forEachInBuckets<Member>(heads, buckets, [&](HwRoute6Nexthop* n) { printNexthop6(++num, n); });
    return true;
}

bool showNexthop6(int32_t) {
    return showNexthop6Table<&HwRoute6Nexthop::hashLink>("\n\r [11]activeShow all ipv6 nexthop table show :\n\r",
                                                         ghwRoute.nexthop6Table, HW_NHOP_BUCKETS);
}

bool showPend6(int32_t) {
    return showNexthop6Table<&HwRoute6Nexthop::pendLink>("\n\r [12]activeShow all ipv6 pend table show :\n\r",
                                                         ghwRoute.pend6Table, HW_NHOP_BUCKETS);
}

bool showIndirect6(int32_t) {
    // The indirect list is one list: walk it as a table of one bucket.
    return showNexthop6Table<&HwRoute6Nexthop::indirectLink>("\n\r [13]activeShow all ipv6 indirect table show :\n\r",
                                                             &ghwRoute.indirect6List, 1);
}

bool showNd6(int32_t) {
    printf("\n\r [14]activeShow all nd6 table show :\n\r");
    printf("%s", ND6_HEADER);
    int num = 0;
    forEachInBuckets<&HwNd6Node::link>(ghwRoute.nd6Table, HW_NHOP_BUCKETS, [&](HwNd6Node* e) { printNd6(++num, e); });
    return true;
}

bool showTun(int32_t) {
    printf("\n\r [15]activeShow all tunnel table show :\n\r");
    printf("%s", TUN_HEADER);
    int num = 0;
    forEachInList<&HwRouteTunNode::link>(&ghwRoute.tunList, [&](HwRouteTunNode* t) { printTun(++num, t); });
    return true;
}

using HwShowFn = bool (*)(int32_t limit);

// Section k at index k - 1.
constexpr HwShowFn showSections[] = {
    showDest4, showNexthop4, showPend4, showIndirect4, showIlm,       showIlmPend,   showL2vpn, showL2vpnPend,
    showArp,   showDest6,    showNexthop6, showPend6,  showIndirect6, showNd6,       showTun,
};
constexpr int32_t SHOW_SECTION_COUNT = sizeof(showSections) / sizeof(showSections[0]);
constexpr int32_t SHOW_ALL = 16;
static_assert(SHOW_SECTION_COUNT == 15);

const char* const showMenu[] = {
    "\n\r activeShow\n\r",
    "\n\r 1: ipv4 dest",
    "\n\r 2: ipv4 nexthop",
    "\n\r 3: ipv4 pend route ",
    "\n\r 4: ipv4 indirect route ",
    "\n\r 5: ipv4 Ilm route ",
    "\n\r 6: ipv4 Ilm pend route ",
    "\n\r 7: ipv4 l2vpn table ",
    "\n\r 8: ipv4 l2vpn pend table ",
    "\n\r 9: ipv4 arp ",
    "\n\r 10: ipv6 dest; ",
    "\n\r 11: ipv6 nexthop; ",
    "\n\r 12: ipv6 pend route ",
    "\n\r 13: ipv6 indirect route ",
    "\n\r 14: ipv6 nd6 ",
    "\n\r 15: tunnel table ",
    "\n\r 16: all table",
};

// ---------------------------------------------------------------------------
// Counter dump

int printSocketLine() { return printf("\n\r socket : %d sem:%x", ghwRoute.notifySock, ghwRoute.routeSem); }

}  // namespace

void activeShow(int32_t section, int32_t limit) {
    for (const char* line : showMenu) printf("%s", line);
    for (int32_t k = 1; k <= SHOW_SECTION_COUNT; ++k) {
        if (section != k && section != SHOW_ALL) continue;
        if (!showSections[k - 1](limit)) return;
    }
}

// One walk over the counter list per part: the summary sections first, then,
// for a mode other than 0, the verbose ones. A line is "\n\r " followed by
// its items joined by ",", then the end-of-line suffix.
int routeCount(int32_t mode) {
    int last = 0;
    const int parts = mode == 0 ? 1 : 2;
    for (int part = 0; part < parts; ++part) {
        const bool verbosePart = part == 1;
        bool printing = false;
        bool lineStart = true;
        for (std::size_t i = 0; i < hwCounterItemCount; ++i) {
            const HwCounterItem& item = hwCounterItems[i];
            if (item.kind == HwCounterItem::Section) {
                printing = item.verbose == verbosePart;
                if (printing) last = printf("%s", item.text);
                continue;
            }
            if (!printing) continue;
            switch (item.kind) {
                case HwCounterItem::SocketLine:
                    last = printSocketLine();
                    break;
                case HwCounterItem::Counter:
                case HwCounterItem::Value:
                    last = printf("%s%s%s%d", lineStart ? "\n\r " : ",", item.text, item.sep,
                                  int(ghwRoute.*item.field));
                    lineStart = false;
                    break;
                case HwCounterItem::EndOfLine:
                    last = printf("%s", item.text);
                    lineStart = true;
                    break;
                case HwCounterItem::Section:
                    break;
            }
        }
    }
    return last;
}

// Up to ten bytes as lower-case hexadecimal pairs joined by ":"; the text
// stays valid until the next call. Counts outside 1..10 give what fits of
// that range (nothing below 1).
char* llAddrConvert(const uint8_t* bytes, int count) {
    static char text[30];
    text[0] = '\0';
    if (bytes == nullptr || count < 1) return text;
    if (count > 10) count = 10;
    char* p = text;
    for (int i = 0; i < count; ++i) {
        snprintf(p, sizeof(text) - size_t(p - text), i == 0 ? "%02x" : ":%02x", bytes[i]);
        p += i == 0 ? 2 : 3;
    }
    return text;
}
