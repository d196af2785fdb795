// The diagnostic dumps as an operator reads them: the menu, the destination
// limit, one populated section per record kind checked line by line, and the
// counter dump.
#include <arpa/inet.h>

#include <cstring>
#include <set>

#include "hwroute/global.h"
#include "hwroute/management.h"
#include "hwroute/tables.h"
#include "hwtest.h"
#include "nm_test_util.h"

namespace {

const char* const MENU =
    "\n\r activeShow\n\r\n\r 1: ipv4 dest\n\r 2: ipv4 nexthop\n\r 3: ipv4 pend route \n\r 4: ipv4 indirect route "
    "\n\r 5: ipv4 Ilm route \n\r 6: ipv4 Ilm pend route \n\r 7: ipv4 l2vpn table \n\r 8: ipv4 l2vpn pend table "
    "\n\r 9: ipv4 arp \n\r 10: ipv6 dest; \n\r 11: ipv6 nexthop; \n\r 12: ipv6 pend route "
    "\n\r 13: ipv6 indirect route \n\r 14: ipv6 nd6 \n\r 15: tunnel table \n\r 16: all table";

std::string addr(const void* p) {
    char b[24];
    snprintf(b, sizeof(b), "%#x", unsigned(uintptr_t(p)));
    return b;
}

std::string sp(int n) { return std::string(std::size_t(n), ' '); }

void ip6(uint8_t* out, const char* text) { inet_pton(AF_INET6, text, out); }

int occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

class Dumps : public HwTest {
protected:
    std::string show(int32_t section, int32_t limit) {
        StdoutCapture cap;
        activeShow(section, limit);
        return cap.finish();
    }
    // The output of one section after the menu, title and header.
    std::string rows(int32_t section, const std::string& header) {
        const std::string out = show(section, 0);
        const std::size_t at = out.find(header);
        EXPECT_NE(at, std::string::npos) << "no header in\n" << out;
        return at == std::string::npos ? out : out.substr(at + header.size());
    }

    HwRouteDest* dest4(uint32_t ip, uint32_t mask) {
        HwRouteDest* d = hwRouteDestNodeAlloc();
        hwListInit(&d->nhopList);
        hwListInit(&d->tunList);
        d->vrfId = 3;
        d->destIp = ip;
        d->mask = mask;
        d->readyState = 1;
        hwRouteDestTableAdd(d);
        return d;
    }
    HwRouteNexthop* nexthop4(HwRouteDest* d) {
        HwRouteNexthop* n = hwRouteNexthopNodeAlloc();
        n->nVrfId = 3;
        n->ifUnit = 7;
        n->nextHop = ip4("10.1.0.1");
        n->protoId = 2;
        n->weight = 1;
        n->ifState = 1;
        n->routeFlag = 0x10;
        n->flag = 0x21;
        const uint8_t mac[6] = {0x00, 0x11, 0x22, 0xaa, 0xbb, 0xcc};
        memcpy(n->srcMac, mac, 6);
        n->mplsLabelNum = 2;
        n->privateRefCnt = 4;
        n->privateArpRefCnt = 5;
        n->pDestEntry = d;
        n->label1 = (100u << 12) | 0x1FF;
        n->label2 = 200u << 12;
        hwRouteNexthopTableAdd(d, n);
        return n;
    }
    HwRoute6Dest* dest6(const char* text) {
        HwRoute6Dest* d = hwRoute6DestNodeAlloc();
        hwListInit(&d->nhopList);
        hwListInit(&d->tunList);
        ip6(d->destIpAddr, text);
        d->prefixLen = 32;
        hwRoute6DestTableAdd(d);
        return d;
    }
};

TEST_F(Dumps, SelectorsOutsideTheSectionsPrintTheMenuOnly) {
    dest4(ip4("10.1.0.0"), ip4("255.255.0.0"));
    for (int32_t selector : {0, 17, -1}) EXPECT_EQ(show(selector, 0), MENU) << selector;
}

TEST_F(Dumps, EmptyArpSectionPrintsMenuTitleAndHeader) {
    EXPECT_EQ(show(9, 0), std::string(MENU) + "\n\r [9]activeShow all ipv4 arp table show :\n\r" +
                              "\n\r num   --nextHop        --mac              --ifUnit--subIfUnit--outPort--vpnVrfid--"
                              "status--refCnt--cardupFlag--flag\n\r");
}

TEST_F(Dumps, DestinationLimitEndsTheWholeDump) {
    for (uint32_t i = 0; i < 10; ++i) nexthop4(dest4(ip4("10.0.0.0") + (i << 8), ip4("255.255.255.0")));
    const std::string one = show(1, 5);
    EXPECT_EQ(occurrences(one, "\n\r               nhopNum--"), 5);
    EXPECT_EQ(occurrences(one, "--10.1.0.1       --"), 5);
    EXPECT_EQ(occurrences(show(1, 0), "\n\r               nhopNum--"), 10);

    const std::string all = show(16, 5);
    EXPECT_EQ(occurrences(all, "\n\r               nhopNum--"), 5);
    EXPECT_EQ(all.find("[2]activeShow"), std::string::npos);
    EXPECT_NE(show(16, 0).find("[15]activeShow all tunnel table show"), std::string::npos);

    for (const char* a : {"2001:db8:1::", "2001:db8:2::", "2001:db8:3::", "2001:db8:4::"}) dest6(a);
    EXPECT_EQ(occurrences(show(10, 3), "  --0    --2001:db8:"), 3);
}

TEST_F(Dumps, Ipv4DestinationAndNexthopRows) {
    HwRouteDest* d = dest4(ip4("10.1.0.0"), ip4("255.255.0.0"));
    HwRouteNexthop* n = nexthop4(d);
    const std::string nested = "\n\r               1      --" + addr(n) +
                               "    --3     --7     --10.1.0.1       --2      --1     --1      --0x0000010--"
                               "0x00000021--00:11:22:aa:bb:cc--2           --0           --4            --5   "
                               "            --0 --" +
                               addr(d) + "--100   --200   \n\r";
    EXPECT_EQ(rows(1, "--nhopRefCnt\n\r"),
              "\n\r 1     --" + addr(d) +
                  " --3    --10.1.0.0       --255.255.0.0    --1         --0             --1         \n\r" +
                  "\n\r               nhopNum--pAffectNexthop--nVrfId--ifUnit--nextHop        --protoId--weight--"
                  "ifState--routeFlag--flag      --srcMac           --mplsLabelNum--publicFamily--privateRefCnt--"
                  "privateArpRefCnt--publicRoute--pDestEntry--label1--label2\n\r" +
                  nested);
    EXPECT_EQ(rows(2, "--pDestEntry\n\r"),
              "\n\r 1     --" + addr(n) +
                  "    --7     --10.1.0.1       --2      --1     --1      --0x00000021--00:11:22:aa:bb:cc--2         "
                  "  --0           --4            --0 --" +
                  addr(d) + "\n\r");
}

TEST_F(Dumps, IlmL2vpnArpAndTunnelRows) {
    HwRouteIlmNode* ilm = hwRouteIlmNodeAlloc();
    ilm->ifUnit = 9;
    ilm->nextHop = ip4("192.168.1.2");
    ilm->inIfUnit = 4;
    ilm->swapLabel = 300u << 12;
    ilm->mplsLabel = (500u << 12) | (5u << 9) | (1u << 8) | 64;
    ilm->ilmFlags = 0x12;
    ilm->status = 1;
    hwRouteIlmTableAdd(ilm);
    EXPECT_EQ(rows(5, "--status\n\r"), "\n\r 1     --" + addr(ilm) +
                                           " --9     --192.168.1.2    --4       --0    --300      --64     --5      "
                                           "--500      --0x000012--1     \n\r");

    HwRouteL2vpnNode* pw = hwRouteL2vpnNodeAlloc();
    *pw = HwRouteL2vpnNode{{}, {}, 12, 1, 2, 5, 3, 100, 101, 2, 3, 200, 1000, 2000, 3000, 1, 255, 2, 64,
                           {10, 9, 8, 7}, 3, nullptr};
    hwRouteL2vpnTableAdd(pw);
    EXPECT_EQ(rows(7, "--status\n\r"),
              "\n\r 1     --" + addr(pw) +
                  "   --12   --1      --2     --0x00000005--3     --100  --101        --2          --3          --200"
                  "        --1000        --2000        --3000        --1         --255       --2         --64        "
                  "--10.9.8.7" +
                  sp(31) + "--3     \n\r");

    HwArpNode* arp = hwArpNodeAlloc();
    arp->nextHop = ip4("10.0.0.1");
    const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    memcpy(arp->mac, mac, 6);
    arp->ifUnit = 3;
    arp->outPort = 7;
    arp->status = 1;
    arp->refCnt = 2;
    arp->flag = 2;
    hwArpTableAdd(arp);
    EXPECT_EQ(rows(9, "--flag\n\r"), "\n\r 1     --10.0.0.1       --00:11:22:33:44:55--3     --0        --7      --0   "
                                     "    --1     --2     --0         --0x02\n\r");

    HwRouteTunNode* tun = hwRouteTunNodeAlloc();
    tun->tunId = 7;
    tun->tunFamily = 2;
    tun->encapsMethod = 1;
    memcpy(tun->nextHopSrc, "\x01\x01\x01\x01", 4);
    memcpy(tun->nextHopDst, "\x02\x02\x02\x02", 4);
    tun->nexthopMask = 0xFFFFFF00;
    ip6(tun->dest, "2001:db8:1::");
    tun->routeMask = 64;
    tun->tunUnit = 11;
    tun->tunType = 3;
    tun->tunCreateTick = 1234;
    tun->dstType = 1;
    tun->routeFamily = 10;
    tun->status = 1;
    hwRouteTunTableAdd(tun);
    EXPECT_EQ(rows(15, "--status\n\r"), "\n\r 1     --" + addr(tun) + " --7    --2        --1           --1.1.1.1" +
                                            sp(32) + "--2.2.2.2" + sp(32) + "--0x0ffffff00--2001:db8:1::" + sp(27) +
                                            "--0x00000040--11     --3      --1234         --1     --10         --0--1"
                                            "     \n\r");
}

TEST_F(Dumps, Ipv6DestinationNexthopAndNeighbourRows) {
    HwRoute6Dest* d = dest6("2001:db8::");
    HwRoute6Nexthop* n = hwRoute6NexthopNodeAlloc();
    n->ifUnit = 5;
    ip6(n->nextHop, "2001:db8::1");
    n->protoId = 3;
    n->weight = 2;
    n->ifState = 1;
    n->flag = 1;
    const uint8_t mac[6] = {0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
    memcpy(n->srcMac, mac, 6);
    n->afNextHop = 10;
    n->pDestEntry = d;
    hwRoute6NexthopTableAdd(d, n);
    const std::string out = rows(10, "--nhopRefCnt\n\r");
    EXPECT_EQ(out.substr(0, out.find("\n\r               nhopNum")),
              "\n\r 1     --" + addr(d) + "  --0    --2001:db8::" + sp(29) +
                  "--32       --0         --0             --1         \n\r");
    EXPECT_NE(out.find("\n\r               1      --" + addr(n) + "     --0     --5     --2001:db8::1" + sp(28) +
                       "--3      --2     --1      --0x0000000--0x00000001--0a:0b:0c:0d:0e:0f--10       --0      --0  "
                       "         --0           --0            --0 --" +
                       addr(d) + "\n\r"),
              std::string::npos)
        << out;

    // An IPv4-addressed IPv6 next hop still prints in IPv6 text form.
    n->afNextHop = 2;
    memset(n->nextHop, 0, 16);
    memcpy(n->nextHop, "\x0a\x00\x00\x01", 4);
    EXPECT_EQ(rows(11, "--pDestEntry\n\r"), "\n\r 1     --" + addr(n) + "     --5     --a00:1::" + sp(32) +
                                                "--3      --2     --1      --0x00000001--0a:0b:0c:0d:0e:0f--2        "
                                                "--0      --0           --0           --0            --0 --" +
                                                addr(d) + "\n\r");

    HwNd6Node* nd = hwNd6NodeAlloc();
    nd->ifUnit = 5;
    nd->subIfUnit = 1;
    ip6(nd->nextHop, "2001:db8::1");
    nd->outPort = 9;
    memcpy(nd->macAddr, mac, 6);
    nd->status = 1;
    nd->refCnt = 3;
    nd->flag = 4;
    nd->localRefCnt = 2;
    hwNd6TableAdd(nd);
    EXPECT_EQ(rows(14, "--localRefCnt\n\r"), "\n\r 1     --" + addr(nd) + "--5     --1        --2001:db8::1" + sp(28) +
                                                 "--9      --0       --0a:0b:0c:0d:0e:0f--1     --3     --0         "
                                                 "--0x4--2          \n\r");
}

TEST_F(Dumps, CounterSummaryEndsWithTheNd6Line) {
    ghwRoute.hwOkNd6Cnt = 4;
    ghwRoute.hwErrNd6Cnt = 1;
    ghwRoute.notifySock = 9;
    ghwRoute.routeSem = 0xab;
    StdoutCapture cap;
    routeCount(0);
    const std::string out = cap.finish();
    const std::string last = "\n\r hardware ok nd6Cnt : 4,hardware error nd6Cnt : 1 \n\r ";
    ASSERT_GE(out.size(), last.size());
    EXPECT_EQ(out.substr(out.size() - last.size()), last);
    EXPECT_EQ(out.find("verbose information"), std::string::npos);
    EXPECT_EQ(out.rfind("\n\r [globe information]: \n\r socket : 9 sem:ab", 0), 0u) << out.substr(0, 80);
    const std::string route = "\n\r [real route information]: \n\r total routeCnt: " +
                              std::to_string(ghwRoute.routeMax) + ",ready routeCnt: 0 ";
    EXPECT_NE(out.find(route), std::string::npos);
    EXPECT_NE(out.find("\n\r total arpCnt: " + std::to_string(ghwRoute.arpMax) + "\n\r software arpCnt : 0 "),
              std::string::npos);
    EXPECT_NE(out.find("\n\r total nd6Cnt: " + std::to_string(ghwRoute.nd6Max) + " "), std::string::npos);
}

TEST_F(Dumps, VerboseDumpPrintsEveryCounterOnceAfterTheSummary) {
    StdoutCapture cap;
    routeCount(1);
    const std::string out = cap.finish();
    std::set<std::string> labels;
    for (std::size_t i = 0; i < hwCounterItemCount; ++i) {
        const HwCounterItem& item = hwCounterItems[i];
        if (item.kind != HwCounterItem::Counter && item.kind != HwCounterItem::Value) continue;
        labels.insert(item.text);
        // A label is preceded by a line start or a comma and followed by its separator.
        const std::string key = std::string(item.text) + item.sep + std::to_string(ghwRoute.*item.field);
        const int n = occurrences(out, "\n\r " + key) + occurrences(out, "," + key);
        EXPECT_EQ(n, 1) << item.text;
    }
    EXPECT_EQ(labels.size(), HW_COUNTERS4 + HW_COUNTERS6 + 3);
    EXPECT_LT(out.find("[real nd6 information]"), out.find("[route verbose information]"));
    EXPECT_NE(out.find("\n\r updatePendDelCnt:0,updateSwRouteDelCnt:0,\n\r updateBackUpToDelCnt:0"), std::string::npos);
    EXPECT_NE(out.find("\n\r rcvMplsV6Cnt:0 \n\r rcvMplsV6PubV6AddCnt:0,"), std::string::npos);
    const std::string end = "\n\r nd6changeRouteAddCnt:0,nd6changeReadyAddCnt:0\n\r";
    EXPECT_EQ(out.substr(out.size() - end.size()), end);
}

TEST(LlAddrConvert, JoinsUpToTenHexPairs) {
    const uint8_t b[12] = {0x00, 0x1a, 0xff, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a};
    EXPECT_STREQ(llAddrConvert(b, 6), "00:1a:ff:02:03:04");
    EXPECT_STREQ(llAddrConvert(b, 1), "00");
    EXPECT_STREQ(llAddrConvert(b, 10), "00:1a:ff:02:03:04:05:06:07:08");
    EXPECT_STREQ(llAddrConvert(b, 12), "00:1a:ff:02:03:04:05:06:07:08");
    EXPECT_STREQ(llAddrConvert(b, 0), "");
}

}  // namespace
