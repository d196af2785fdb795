// The trace as the operator's tools read it: each object kind written by the
// daemon's own hardware writers into a trace file, read back through the
// trace reader and decoder, and checked against the records that were sent;
// hand-built buffers for the batch walk; malformed traces refused with the
// file and line.
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "hwdecode.h"
#include "hwroute/flags.h"
#include "hwroute/hardware.h"
#include "hwroute/tables.h"
#include "builders.h"

namespace {

constexpr uint32_t kEth = 5;
const HwdMac kPeerMac{0x00, 0x11, 0x22, 0x33, 0x44, 0x02};

// An MPLS label stack entry: label, EXP, TTL.
constexpr uint32_t labelWord(uint32_t label, uint32_t exp, uint32_t ttl) { return label << 12 | exp << 9 | ttl; }

class TraceRead : public HwTest {
protected:
    void SetUp() override {
        HwTest::SetUp();
        platformConfig(R"({"interfaces": {"5": {"endType": 6, "vlan": 10, "port": 7, "mac": "00:aa:00:00:00:05"}}})");
        path = "/tmp/hwroute-trace-test-" + std::to_string(getpid()) + ".trace";
        std::string err;
        ASSERT_TRUE(simSetTraceFile(path.c_str(), &err)) << err;
    }
    void TearDown() override {
        simSetTraceFile(nullptr, nullptr);
        std::remove(path.c_str());
        HwTest::TearDown();
    }

    // Every call of the trace so far, decoded.
    std::vector<HwdCall> readTrace() {
        HwdTraceReader r;
        std::string err;
        EXPECT_TRUE(r.open(path, false, &err)) << err;
        std::vector<HwdCall> calls;
        HwdCall c;
        int rc;
        while ((rc = r.next(&c, &err)) == 1) calls.push_back(c);
        EXPECT_EQ(rc, 0) << err;
        return calls;
    }

    HwArpNode* arp(uint32_t vrf, const char* ip) {
        HwArpNode* a = addArp(vrf, ip, kEth, 7);
        std::memcpy(a->mac, kPeerMac.data(), 6);
        return a;
    }

    std::string path;
};

TEST_F(TraceRead, NeighbourHostEntry) {
    HwArpNode* a = arp(3, "192.168.1.2");
    ASSERT_EQ(hwUpdateArpAdd(a), 0);
    const std::vector<HwdCall> calls = readTrace();
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].routes.size(), 1u);
    const HwdRouteEntry& e = calls[0].routes[0];
    EXPECT_EQ(e.kind, HwdEntryKind::Neighbour);
    EXPECT_EQ(e.vrId, 3u);
    EXPECT_EQ(hwdPrefixText(e), "192.168.1.2/32");
    ASSERT_EQ(e.paths.size(), 1u);
    EXPECT_EQ(e.paths[0].nextHopMac, kPeerMac);
    EXPECT_EQ(std::vector<uint32_t>({e.paths[0].port, e.paths[0].ipPort, e.paths[0].vid, e.paths[0].op}),
              std::vector<uint32_t>({7, kEth, 10, HWD_OP_ADD}));
    EXPECT_EQ(hwdCallLine(calls[0]),
              "#1 ipv4-route ok: neighbour vrf 3 192.168.1.2/32 nexthops 1: add via 192.168.1.2 port 7 if 5 vid 10 "
              "mac 00:11:22:33:44:02 flags 0x10");
}

TEST_F(TraceRead, RouteWithLabelsThroughTheFlush) {
    arp(3, "192.168.1.2")->status = hwStatusOk;
    HwRouteDest* d = addDest(3, "10.20.0.0", 16);
    HwRouteNexthop* n = addNexthop(d, "192.168.1.2", 9);
    n->ifUnit = kEth;
    n->ifState = 1;
    n->flag = NH_OP_ADD | NH_RESOLVED;
    n->mplsLabelNum = 2;
    n->label1 = labelWord(100, 5, 64);
    n->label2 = labelWord(0xFFFFF, 7, 255);
    hwRouteReadyTableAdd(d);
    hwRouteUpdate();

    const std::vector<HwdCall> calls = readTrace();
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].routes.size(), 1u);
    const HwdRouteEntry& e = calls[0].routes[0];
    EXPECT_EQ(e.kind, HwdEntryKind::Route);
    EXPECT_EQ(hwdPrefixText(e), "10.20.0.0/16");
    ASSERT_EQ(e.paths.size(), 1u);
    const HwdPath& p = e.paths[0];
    EXPECT_EQ(p.nexthopIp, hwdAddrOf("192.168.1.2"));
    EXPECT_EQ(p.protocol, 9);
    ASSERT_EQ(p.labels.size(), 2u);
    EXPECT_EQ(std::vector<uint32_t>({p.labels[0].label, p.labels[0].exp, p.labels[0].ttl, p.labels[1].label,
                                     p.labels[1].exp, p.labels[1].ttl}),
              std::vector<uint32_t>({100, 5, 64, 0xFFFFF, 7, 255}));

    HwdState s;
    s.apply(calls[0]);
    ASSERT_EQ(s.routes.size(), 1u);
    EXPECT_EQ(s.routes.begin()->second.paths.size(), 1u);
}

// ---------------------------------------------------------------------------
// Hand-built buffers from the documented layout.

// An IPv4 entry for 10.0.<n>.0/24 with `records` paths via 10.9.0.<i+1>.
std::vector<uint8_t> entry4(uint8_t n, int records, uint8_t op) {
    std::vector<uint8_t> e(28 + 64 * size_t(records), 0);
    e[8] = 10;
    e[10] = n;
    e[12] = e[13] = e[14] = 0xff;
    e[16] = uint8_t(records);
    e[19] = uint8_t(e.size() / 4);  // low 8 bits only
    for (int i = 0; i < records; ++i) {
        uint8_t* r = &e[28 + 64 * size_t(i)];
        r[3] = 0x02;
        r[4] = 10;
        r[5] = 9;
        r[7] = uint8_t(i + 1);
        r[58] = op;
    }
    return e;
}

TEST(TraceDecode, BatchesAreWalkedEntryByEntryAlsoPastTheSizeField) {
    struct Case {
        const char* name;
        std::vector<int> records;  // per entry
    };
    const Case cases[] = {
        {"one entry", {1}},
        {"three entries", {2, 1, 3}},
        {"an entry longer than the size byte can say", {17}},
        {"a long entry between short ones", {1, 20, 2}},
    };
    for (const Case& c : cases) {
        HwdCall call;
        call.objectId = 338;
        for (size_t i = 0; i < c.records.size(); ++i) {
            const std::vector<uint8_t> e = entry4(uint8_t(i), c.records[i], HWD_OP_ADD);
            call.data.insert(call.data.end(), e.begin(), e.end());
        }
        std::string err;
        ASSERT_TRUE(hwdDecode(&call, &err)) << c.name << ": " << err;
        ASSERT_EQ(call.routes.size(), c.records.size()) << c.name;
        for (size_t i = 0; i < c.records.size(); ++i) {
            EXPECT_EQ(hwdPrefixText(call.routes[i]), "10.0." + std::to_string(i) + ".0/24") << c.name;
            EXPECT_EQ(call.routes[i].paths.size(), size_t(c.records[i])) << c.name;
        }
    }
}

HwdCall decodeBytes(uint32_t objectId, const std::vector<uint8_t>& bytes) {
    HwdCall c;
    c.objectId = objectId;
    c.data = bytes;
    std::string err;
    EXPECT_TRUE(hwdDecode(&c, &err)) << err;
    return c;
}

// ILM: 20-byte header, then the next-hop record with one label element.
TEST(TraceDecode, IlmEntryAddAndDelete) {
    std::vector<uint8_t> b(92, 0);
    putBe32(b, 0, 4);                                // vrfid
    putBe32(b, 4, 0x21);                             // flags
    putBe32(b, 12, 3000);                            // inLabel
    b[16] = 0x00, b[17] = 20;                      // inVid
    b[19] = 1;
    putBe32(b, 24, ip4("192.168.1.2"));              // nexthopIp
    putBe32(b, 56, 7);                               // port
    putBe32(b, 60, kEth);                            // ipPort
    std::memcpy(&b[64], kPeerMac.data(), 6);       // nextHopMac
    b[70] = 0, b[71] = 10;                         // vid
    b[79] = 1;                                     // mplsLabelNum
    b[84] = 32, b[85] = 1;                         // ttl, exp
    putBe32(b, 88, 200);                             // label
    const HwdCall add = decodeBytes(156, b), del = decodeBytes(157, b);
    ASSERT_TRUE(add.ilm.has_value());
    const HwdIlm& i = *add.ilm;
    EXPECT_TRUE(i.add);
    EXPECT_FALSE(del.ilm->add);
    EXPECT_EQ(std::vector<uint32_t>({i.vrfid, i.flags, i.inLabel, i.inVid, i.path.port, i.path.ipPort, i.path.vid}),
              std::vector<uint32_t>({4, 0x21, 3000, 20, 7, kEth, 10}));
    EXPECT_EQ(i.path.nexthopIp, hwdAddrOf("192.168.1.2"));
    EXPECT_EQ(i.path.nextHopMac, kPeerMac);
    ASSERT_EQ(i.path.labels.size(), 1u);
    EXPECT_EQ(std::vector<uint32_t>({i.path.labels[0].label, i.path.labels[0].exp, i.path.labels[0].ttl}),
              std::vector<uint32_t>({200, 1, 32}));
    HwdState s;
    s.apply(add);
    EXPECT_EQ(s.ilms.size(), 1u);
    s.apply(del);
    EXPECT_TRUE(s.ilms.empty());
}

// Layer-2 VPN: the 56-byte record; the object id tells add from delete.
TEST(TraceDecode, Layer2VpnRecordByType) {
    std::vector<uint8_t> b(56, 0);
    b[0] = 0, b[1] = 7;                            // vfiId
    b[2] = 2;                                      // vpnType
    putBe32(b, 16, 9);                               // cePort
    b[20] = 0, b[21] = 100;                        // ceVid
    b[22] = 0, b[23] = 10;                         // peVid
    putBe32(b, 24, 7);                               // pePort
    putBe32(b, 28, 1000);                            // txOuterLabel
    putBe32(b, 32, 2000);                            // txInnerLabel
    putBe32(b, 36, 3000);                            // rxInnerLabel
    std::memcpy(&b[44], kPeerMac.data(), 6);       // nextHopMac
    for (uint32_t object : {140u, 141u, 144u, 145u, 352u, 353u}) {
        const HwdCall c = decodeBytes(object, b);
        ASSERT_TRUE(c.l2vpn.has_value()) << object;
        EXPECT_EQ(c.l2vpn->add, object % 2 == 0) << object;
        EXPECT_EQ(hwdObjectName(object), object % 2 == 0 ? "l2vpn-add" : "l2vpn-del");
    }
    const HwdL2vpn l = *decodeBytes(140, b).l2vpn;
    EXPECT_EQ(std::vector<uint32_t>({l.vfiId, l.vpnType, l.cePort, l.ceVid, l.pePort, l.peVid, l.txOuterLabel,
                                     l.txInnerLabel, l.rxInnerLabel}),
              std::vector<uint32_t>({7, 2, 9, 100, 7, 10, 1000, 2000, 3000}));
    EXPECT_EQ(l.nextHopMac, kPeerMac);
}

// Tunnels: one record with the tunnel flag, nextHopNum counting next hops
// without records of their own (here 2) or none at all (0).
TEST(TraceDecode, TunnelEntriesOfBothFamilies) {
    for (uint8_t num : {0, 2}) {
        std::vector<uint8_t> v4(92, 0);
        putBe32(v4, 8, ip4("172.16.0.0"));
        putBe32(v4, 12, ip4("255.255.0.0"));
        v4[16] = num;
        v4[19] = 23;
        putBe32(v4, 20, 77);                          // tunnelIfIndex
        putBe32(v4, 28, 0x08);                        // record flags
        putBe32(v4, 32, ip4("192.168.1.2"));
        v4[86] = HWD_OP_ADD;
        const HwdCall c = decodeBytes(338, v4);
        ASSERT_EQ(c.routes.size(), 1u);
        EXPECT_EQ(c.routes[0].kind, HwdEntryKind::Tunnel);
        EXPECT_EQ(hwdPrefixText(c.routes[0]), "172.16.0.0/16");
        EXPECT_EQ(c.routes[0].tunnelIfIndex, 77u);
        EXPECT_EQ(c.routes[0].paths.at(0).nexthopIp, hwdAddrOf("192.168.1.2"));
        HwdState s;
        s.apply(c);
        EXPECT_EQ(s.tunnels.size(), 1u);
        EXPECT_TRUE(s.routes.empty());
    }
    // An IPv6 route over an IPv4 tunnel: the 4-byte neighbour address at 40.
    std::vector<uint8_t> v6(100, 0);
    v6[8] = 0x20, v6[9] = 0x01, v6[10] = 0x0d, v6[11] = 0xb8;
    v6[24] = 32;
    v6[25] = 1;
    v6[27] = 25;
    putBe32(v6, 28, 78);
    putBe32(v6, 36, 0x08);
    putBe32(v6, 40, ip4("192.168.1.2"));
    v6[94] = HWD_OP_ADD;
    const HwdCall c = decodeBytes(339, v6);
    ASSERT_EQ(c.routes.size(), 1u);
    EXPECT_EQ(hwdPrefixText(c.routes[0]), "2001:db8::/32");
    EXPECT_EQ(hwdNexthopText(6, c.routes[0].paths.at(0).nexthopIp), "192.168.1.2");
    EXPECT_EQ(c.routes[0].tunnelIfIndex, 78u);
}

// A delete that concerns only the label part keeps the path; a kept record
// of a path that never got in adds nothing.
TEST(TraceDecode, StateFollowsTheRecordOperations) {
    HwdState s;
    auto send = [&](std::vector<uint8_t> e, uint32_t recordFlags, int result = 0) {
        e[28 + 3] = uint8_t(recordFlags);
        HwdCall c;
        c.objectId = 338;
        c.data = e;
        c.result = result;
        ASSERT_TRUE(hwdDecode(&c, nullptr));
        s.apply(c);
    };
    send(entry4(1, 1, HWD_OP_KEEP), HWD_NHF_PATH);
    EXPECT_TRUE(s.routes.empty());
    send(entry4(1, 1, HWD_OP_ADD), HWD_NHF_PATH, -1);
    EXPECT_TRUE(s.routes.empty()) << "a refused call changes nothing";
    send(entry4(1, 1, HWD_OP_ADD), HWD_NHF_PATH | HWD_NHF_LABEL);
    ASSERT_EQ(s.routes.size(), 1u);
    send(entry4(1, 1, HWD_OP_DEL), HWD_NHF_LABEL);
    EXPECT_EQ(s.routes.size(), 1u);
    send(entry4(1, 1, HWD_OP_DEL), HWD_NHF_PATH);
    EXPECT_TRUE(s.routes.empty());
    EXPECT_EQ(s.calls, 5u);
    EXPECT_EQ(s.refused, 1u);
}

TEST(TraceDecode, MalformedTracesNameTheFileAndLine) {
    const std::string ok = R"({"seq":1,"objectId":999,"flags":1,"len":2,"data":"abcd","result":0})";
    struct Case {
        std::string text;
        std::string error;
    };
    const Case cases[] = {
        {ok + "\nnot json\n", ":2: not a trace line (one JSON object per line expected)"},
        {R"({"objectId":1,"flags":1,"len":0,"data":"","result":0})" "\n", ":1: missing \"seq\""},
        {R"({"seq":1,"objectId":1,"flags":1,"len":3,"data":"abcd","result":0})" "\n",
         ":1: \"len\" is 3 but \"data\" holds 2 bytes"},
        {R"({"seq":1,"objectId":1,"flags":1,"len":1,"data":"abc","result":0})" "\n",
         ":1: \"data\" has an odd number of hex digits"},
        {R"({"seq":1,"objectId":1,"flags":1,"len":1,"data":"zz","result":0})" "\n",
         ":1: \"data\" has a non-hex character at position 0"},
        {R"({"seq":-1,"objectId":1,"flags":1,"len":0,"data":"","result":0})" "\n",
         ":1: \"seq\" must be an integer from 0 to 4294967295"},
        {ok + "\n" + ok.substr(0, 20), ":2: trace cut short: the last line has no end"},
        {R"({"seq":4,"objectId":338,"flags":1,"len":2,"data":"0000","result":0})" "\n",
         ":1: call #4 (ipv4-route): route entry at byte 0 cut short (2 bytes, a header has 28)"},
        {R"({"seq":5,"objectId":140,"flags":1,"len":2,"data":"0000","result":0})" "\n",
         ":1: call #5 (l2vpn-add): layer-2 VPN record of 2 bytes, 56 expected"},
    };
    const std::string path = "/tmp/hwroute-trace-bad-" + std::to_string(getpid());
    for (const Case& c : cases) {
        std::ofstream(path) << c.text;
        HwdTraceReader r;
        std::string err;
        ASSERT_TRUE(r.open(path, false, &err));
        HwdCall call;
        int rc;
        while ((rc = r.next(&call, &err)) == 1) {
        }
        EXPECT_EQ(rc, -1) << c.text;
        EXPECT_EQ(err, path + c.error) << c.text;
    }
    std::remove(path.c_str());
    HwdTraceReader missing;
    std::string err;
    EXPECT_FALSE(missing.open(path, false, &err));
    EXPECT_EQ(err, path + ": cannot open: No such file or directory");
}

}  // namespace
