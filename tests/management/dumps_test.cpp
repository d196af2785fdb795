// The diagnostic dumps as an operator reads them: the menu, the destination
// limit, one populated section per record kind, and the counter dump.
#include <arpa/inet.h>

#include <cstring>
#include <set>

#include "hwroute/global.h"
#include "hwroute/management.h"
#include "hwroute/tables.h"
#include "builders.h"
#include "nm_test_util.h"

namespace {

const char* const MENU =
    "\n\r activeShow\n\r\n\r 1: ipv4 dest\n\r 2: ipv4 nexthop\n\r 3: ipv4 pend route \n\r 4: ipv4 indirect route "
    "\n\r 5: ipv4 Ilm route \n\r 6: ipv4 Ilm pend route \n\r 7: ipv4 l2vpn table \n\r 8: ipv4 l2vpn pend table "
    "\n\r 9: ipv4 arp \n\r 10: ipv6 dest; \n\r 11: ipv6 nexthop; \n\r 12: ipv6 pend route "
    "\n\r 13: ipv6 indirect route \n\r 14: ipv6 nd6 \n\r 15: tunnel table \n\r 16: all table";

// A record address as the dumps print it.
std::string addr(const void* p) {
    char b[24];
    snprintf(b, sizeof(b), "%#x", unsigned(uintptr_t(p)));
    return b;
}

int occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

const uint8_t MAC[6] = {0x00, 0x11, 0x22, 0xaa, 0xbb, 0xcc};

class Dumps : public HwTest {
protected:
    static std::string show(int32_t section, int32_t limit) {
        return capturedStdout([&] { activeShow(section, limit); });
    }
    static HwRouteDest* dest4(const std::string& ip) { return addDest(3, ip.c_str(), 16); }
    static HwRoute6Dest* dest6(const char* text) { return addDest6(0, text, 32); }
};

TEST_F(Dumps, MenuAloneOrWithAnEmptySection) {
    dest4("10.1.0.0");
    for (int32_t selector : {0, 17, -1}) EXPECT_EQ(show(selector, 0), MENU) << selector;
    EXPECT_EQ(show(9, 0), std::string(MENU) + "\n\r [9]activeShow all ipv4 arp table show :\n\r" +
                              "\n\r num   --nextHop        --mac              --ifUnit--subIfUnit--outPort--vpnVrfid--"
                              "status--refCnt--cardupFlag--flag\n\r");
}

TEST_F(Dumps, DestinationLimitEndsTheWholeDump) {
    for (uint32_t i = 0; i < 10; ++i) dest4("10." + std::to_string(i) + ".0.0");
    const std::string nested = "\n\r               nhopNum--";
    EXPECT_EQ(occurrences(show(1, 5), nested), 5);
    EXPECT_EQ(occurrences(show(1, 0), nested), 10) << "0: no limit";
    const std::string all = show(16, 5);
    EXPECT_EQ(occurrences(all, nested), 5);
    EXPECT_EQ(all.find("[2]activeShow"), std::string::npos);
    for (const char* a : {"2001:db8:1::", "2001:db8:2::", "2001:db8:3::", "2001:db8:4::"}) dest6(a);
    EXPECT_EQ(occurrences(show(10, 3), "  --0    --2001:db8:"), 3);
}

// One record of each kind in its section: the row start and the fields whose
// formatting is not plain decimal (addresses, MAC, label parts, hex flags).
TEST_F(Dumps, EachRecordKindPrintsItsRow) {
    HwRouteDest* d = dest4("10.1.0.0");
    HwRouteNexthop* n = hwRouteNexthopNodeAlloc();
    n->nextHop = ip4("10.1.0.1"), n->pDestEntry = d, n->label1 = (100u << 12) | 0x1FF;
    memcpy(n->srcMac, MAC, 6);
    hwRouteNexthopTableAdd(d, n);
    HwRouteIlmNode* ilm = hwRouteIlmNodeAlloc();
    ilm->nextHop = ip4("192.168.1.2"), ilm->mplsLabel = (500u << 12) | (5u << 9) | (1u << 8) | 64;
    ilm->ilmFlags = 0x12;
    hwRouteIlmTableAdd(ilm);
    HwRouteL2vpnNode* pw = hwRouteL2vpnNodeAlloc();
    *pw = HwRouteL2vpnNode{{}, {}, 12, 1, 2, 5, 3, 100, 101, 2, 3, 200, 1000, 2000, 3000, 1, 255, 2, 64,
                           {10, 9, 8, 7}, 3, nullptr};
    hwRouteL2vpnTableAdd(pw);
    HwArpNode* arp = hwArpNodeAlloc();
    arp->nextHop = ip4("10.0.0.1"), arp->flag = 2;
    memcpy(arp->mac, MAC, 6);
    hwArpTableAdd(arp);
    HwRoute6Dest* d6 = dest6("2001:db8::");
    HwNd6Node* nd = hwNd6NodeAlloc();
    inet_pton(AF_INET6, "2001:db8::1", nd->nextHop);
    memcpy(nd->macAddr, MAC, 6);
    hwNd6TableAdd(nd);
    HwRouteTunNode* tun = hwRouteTunNodeAlloc();
    memcpy(tun->nextHopDst, "\x02\x02\x02\x02", 4);
    tun->nexthopMask = 0xFFFFFF00, tun->tunFamily = 2;
    hwRouteTunTableAdd(tun);

    const std::string mac = "--00:11:22:aa:bb:cc--";
    const std::pair<int32_t, std::vector<std::string>> rows[] = {
        {1, {"\n\r 1     --" + addr(d) + " --3    --10.1.0.0       --255.255.0.0    --0 ",
             "\n\r               1      --" + addr(n) + "    --0     --0     --10.1.0.1       --", mac,
             "--" + addr(d) + "--100   --0     \n\r"}},
        {5, {"\n\r 1     --" + addr(ilm) + " --0     --192.168.1.2    --", "--64     --5      --500      --0x000012"}},
        {7, {"\n\r 1     --" + addr(pw) + "   --12   --1      --2     --0x00000005--", "--10.9.8.7  "}},
        {9, {"\n\r 1     --10.0.0.1       " + mac, "--0x02\n\r"}},
        {10, {"\n\r 1     --" + addr(d6) + "  --0    --2001:db8::" + std::string(29, ' ') + "--32 "}},
        {14, {"\n\r 1     --" + addr(nd) + "--0     --0        --2001:db8::1  ", mac}},
        {15, {"\n\r 1     --" + addr(tun) + " --0    --2        --0  ", "--2.2.2.2  ", "--0x0ffffff00--"}},
    };
    for (const auto& [section, fields] : rows) {
        const std::string out = show(section, 0);
        for (const std::string& f : fields) EXPECT_NE(out.find(f), std::string::npos) << section << ": " << f << out;
    }
}

// The labels are written out here, not taken from the counter list, so a
// counter printed under another counter's label is caught.
TEST_F(Dumps, CountersArePrintedUnderTheirOwnLabels) {
    const struct { uint32_t HwRouteGlobal::*field; const char* printed; } cases[] = {
        {&HwRouteGlobal::pendRouteCnt, "pend routeCnt : "},
        {&HwRouteGlobal::hwOkRouteCnt, "hardware ok routeCnt : "},
        {&HwRouteGlobal::hwErrRouteCnt, "hardware error routeCnt : "},
        {&HwRouteGlobal::hwOkArpCnt, "hardware ok arpCnt : "},
        {&HwRouteGlobal::hwErrArpCnt, "hardware error arpCnt : "},
        {&HwRouteGlobal::rtAddCnt, "rtAddCnt:"},
        {&HwRouteGlobal::rtDelAgainCnt, "rtDelAgainCnt:"},
        {&HwRouteGlobal::updateSendMsgCnt, "updateSendMsgCnt:"},
        {&HwRouteGlobal::ecmpUpdataAddCnt, "ecmpUpdataAddCnt:"},
        {&HwRouteGlobal::hwRouteA1Cnt, "hwRouteA1Cnt:"},
        {&HwRouteGlobal::arpAddChangeCnt, "arpAddChangeCnt:"},
        {&HwRouteGlobal::hwOkNd6Cnt, "hardware ok nd6Cnt : "},
        {&HwRouteGlobal::rt6AddCnt, "rt6AddCnt:"},
    };
    uint32_t value = 7001;
    for (const auto& c : cases) ghwRoute.*c.field = value++;
    const std::string out = capturedStdout([] { routeCount(1); });
    value = 7001;
    for (const auto& c : cases) EXPECT_EQ(occurrences(out, c.printed + std::to_string(value++)), 1) << c.printed;
    // The summary alone ends with the IPv6 neighbour line.
    ghwRoute.hwErrNd6Cnt = 1;
    const std::string summary = capturedStdout([] { routeCount(0); });
    EXPECT_TRUE(summary.ends_with("\n\r hardware ok nd6Cnt : 7012,hardware error nd6Cnt : 1 \n\r ")) << summary;
    EXPECT_EQ(summary.find("verbose information"), std::string::npos);
}

TEST_F(Dumps, VerboseDumpPrintsEveryCounterOnceAfterTheSummary) {
    const std::string out = capturedStdout([] { routeCount(1); });
    std::set<std::string> labels;
    for (std::size_t i = 0; i < hwCounterItemCount; ++i) {
        const HwCounterItem& item = hwCounterItems[i];
        if (item.kind != HwCounterItem::Counter && item.kind != HwCounterItem::Value) continue;
        labels.insert(item.text);
        // A label is preceded by a line start or a comma and followed by its separator.
        const std::string key = std::string(item.text) + item.sep + std::to_string(ghwRoute.*item.field);
        EXPECT_EQ(occurrences(out, "\n\r " + key) + occurrences(out, "," + key), 1) << item.text;
    }
    EXPECT_EQ(labels.size(), HW_COUNTERS4 + HW_COUNTERS6 + 3);
    EXPECT_LT(out.find("[real nd6 information]"), out.find("[route verbose information]"));
}

}  // namespace
