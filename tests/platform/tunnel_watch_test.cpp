// The kernel tunnel watch: link and route messages of the kernel's form in,
// tunnel requests and removals out. The local endpoints are loopback
// addresses, which every network namespace holds (127.0.0.1/8, ::1/128), so
// the local subnet is known without any set-up.
#include <gtest/gtest.h>

#include <cstring>

#include "hwroute/flags.h"
#include "platform_test.h"
#include "sim_state.h"
#include "tunmsg.h"

namespace {

using namespace tunmsg;

constexpr uint32_t kUp = kIffUp | kIffRunning | kIffNoarp | kIffPointopoint;

void feed(const std::vector<uint8_t>& msg) { kivTunWatchDatagram(msg.data(), uint32_t(msg.size())); }

std::vector<HwRouteTunNode> wanted() {
    std::vector<HwRouteTunNode> out;
    HwRouteTunNode r;
    for (uint32_t i = 0; kivTunWantedGet(i, &r) == 0; ++i) out.push_back(r);
    return out;
}

std::vector<HwTunEvent> events() {
    std::vector<HwTunEvent> out;
    HwTunEvent e;
    while (kivTunEventGet(&e) == 0) out.push_back(e);
    return out;
}

bool sameBytes(const uint8_t* a, const char* text) {
    const std::vector<uint8_t> b = addr(text);
    uint8_t full[16] = {};
    std::memcpy(full, b.data(), b.size());
    return std::memcmp(a, full, 16) == 0;
}

using TunnelWatch = PlatformTest;

struct MapCase {
    const char* what;
    const char* kind;
    int proto;
    const char *local, *remote, *dest;
    uint8_t prefixLen;
    uint8_t tunFamily;
    uint16_t routeFamily;
    uint32_t routeMask, nexthopMask;
    uint8_t encaps;
};

TEST_F(TunnelWatch, RouteIntoATunnelInterfaceBecomesOneRequestOfTheDocumentedFields) {
    const MapCase cases[] = {
        {"ipip carrying IPv4", "ipip", 4, "127.0.0.1", "192.0.2.2", "198.51.100.0", 24, 2, 2, 0xFFFFFF00, 0xFF000000, 4},
        {"sit carrying IPv6", "sit", -1, "127.0.0.1", "192.0.2.2", "2001:db8:100::", 48, 2, 10, 48, 0xFF000000, 41},
        {"ip6tnl carrying IPv4", "ip6tnl", 4, "::1", "2001:db8::2", "203.0.113.0", 25, 10, 2, 0xFFFFFF80, 128, 4},
        {"ip6tnl (any) carrying IPv6", "ip6tnl", 0, "::1", "2001:db8::2", "2001:db8:200::", 40, 10, 10, 40, 128, 41},
    };
    for (const MapCase& c : cases) {
        SCOPED_TRACE(c.what);
        simReset();
        feed(link(16, 4242, kUp, c.kind, c.local, c.remote, c.proto));
        feed(route(24, c.dest, c.prefixLen, 4242));
        const auto w = wanted();
        ASSERT_EQ(w.size(), 1u);
        const HwRouteTunNode& r = w[0];
        EXPECT_EQ(r.tunUnit, 4242u);
        EXPECT_EQ(r.tunId, 4242);
        EXPECT_EQ(r.tunFamily, c.tunFamily);
        EXPECT_EQ(r.routeFamily, c.routeFamily);
        EXPECT_TRUE(sameBytes(r.nextHopSrc, c.local));
        EXPECT_TRUE(sameBytes(r.nextHopDst, c.remote));
        EXPECT_TRUE(sameBytes(r.dest, c.dest));
        EXPECT_EQ(r.routeMask, c.routeMask);
        EXPECT_EQ(r.nexthopMask, c.nexthopMask);
        EXPECT_EQ(r.encapsMethod, c.encaps);
        EXPECT_EQ(r.tunType, 100u);
        EXPECT_EQ(r.status, hwStatusIdle);
        // The platform answers the interface's creation tick with the one the request carries.
        uint8_t record[64] = {};
        octet o{record, sizeof(record)};
        ASSERT_EQ(kivIfGetApi(4242, 5211, &o), 0);
        EXPECT_EQ((uint32_t(record[2]) << 24) | (uint32_t(record[3]) << 16) | (uint32_t(record[4]) << 8) | record[5],
                  r.tunCreateTick);
        EXPECT_TRUE(kivTunRetryDue()) << "a new wanted tunnel is offered at once";
        EXPECT_FALSE(kivTunRetryDue()) << "and not again without news";
    }
}

TEST_F(TunnelWatch, RoutesItCannotMapAreLeftAlone) {
    struct Case {
        const char* what;
        std::vector<uint8_t> link, route;
    };
    const Case cases[] = {
        {"another table", link(16, 7, kUp, "ipip", "127.0.0.1", "192.0.2.2", 4), route(24, "198.51.100.0", 24, 7, 100)},
        {"a local route", link(16, 7, kUp, "ipip", "127.0.0.1", "192.0.2.2", 4), route(24, "127.0.0.1", 32, 7, 254, 2)},
        {"IPv6 link-local prefix", link(16, 7, kUp, "sit", "127.0.0.1", "192.0.2.2", 41), route(24, "fe80::", 64, 7)},
        {"IPv6 over an ipip tunnel", link(16, 7, kUp, "ipip", "127.0.0.1", "192.0.2.2", 4), route(24, "2001:db8::", 32, 7)},
        {"another interface", link(16, 7, kUp, "ipip", "127.0.0.1", "192.0.2.2", 4), route(24, "198.51.100.0", 24, 8)},
        {"fallback device without a far end", link(16, 7, kUp, "ipip", "0.0.0.0", "0.0.0.0", 4),
         route(24, "198.51.100.0", 24, 7)},
        {"not a tunnel kind", link(16, 7, kUp, "gre", "127.0.0.1", "192.0.2.2", 47), route(24, "198.51.100.0", 24, 7)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        simReset();
        feed(c.link);
        feed(c.route);
        EXPECT_TRUE(wanted().empty());
        EXPECT_TRUE(events().empty());
        EXPECT_FALSE(kivTunRetryDue());
    }
}

TEST_F(TunnelWatch, RemovalsBecomeDeletesAndUnitRemovals) {
    struct Case {
        const char* what;
        std::vector<uint8_t> change;
        uint32_t op;  // 0: no event
        std::size_t wantedAfter;
    };
    const Case cases[] = {
        {"route removed", route(25, "198.51.100.0", 24, 9), HW_TUN_EV_DEL, 0},
        {"interface removed", link(17, 9, kUp, "ipip", "127.0.0.1", "192.0.2.2", 4), HW_TUN_EV_NOTIFY, 0},
        {"interface set down", link(16, 9, kIffNoarp, "ipip", "127.0.0.1", "192.0.2.2", 4), HW_TUN_EV_NOTIFY, 0},
        {"far end changed", link(16, 9, kUp, "ipip", "127.0.0.1", "192.0.2.3", 4), HW_TUN_EV_NOTIFY, 1},
        {"unchanged link report", link(16, 9, kUp, "ipip", "127.0.0.1", "192.0.2.2", 4), 0, 1},
        {"removal of an unknown route", route(25, "198.51.101.0", 24, 9), 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        simReset();
        feed(link(16, 9, kUp, "ipip", "127.0.0.1", "192.0.2.2", 4));
        feed(route(24, "198.51.100.0", 24, 9));
        const HwRouteTunNode before = wanted().at(0);
        feed(c.change);
        const auto ev = events();
        ASSERT_EQ(ev.size(), c.op == 0 ? 0u : 1u);
        if (c.op != 0) {
            EXPECT_EQ(ev[0].op, c.op);
            if (c.op == HW_TUN_EV_NOTIFY) {
                EXPECT_EQ(ev[0].unit, 9u);
            } else {
                EXPECT_EQ(std::memcmp(&ev[0].request, &before, sizeof(before)), 0);
            }
        }
        ASSERT_EQ(wanted().size(), c.wantedAfter);
        // A changed far end renews the request with the new endpoint.
        if (c.wantedAfter == 1 && c.op == HW_TUN_EV_NOTIFY) {
            EXPECT_TRUE(sameBytes(wanted()[0].nextHopDst, "192.0.2.3"));
        }
    }
}

TEST_F(TunnelWatch, LinkMessageCutShortByTheReadIsReadAsFarAsItGoes) {
    // As a 1024-byte read leaves a real link message: its header still claims
    // the whole length, and the link information sits before the cut.
    std::vector<uint8_t> msg = link(16, 11, kUp, "ipip", "127.0.0.1", "192.0.2.2", 4);
    const uint32_t claimed = 1468;
    std::memcpy(msg.data(), &claimed, 4);
    feed(msg);
    feed(route(24, "198.51.100.0", 24, 11));
    EXPECT_EQ(wanted().size(), 1u);
}

}  // namespace
