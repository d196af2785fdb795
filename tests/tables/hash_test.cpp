// Bucket hashes and the IPv6 prefix match.
#include "builders.h"

namespace {

TEST(RouteHash, KeysMatchKnownBuckets) {
    EXPECT_EQ(hwRouteKey(ip4("10.0.0.0"), ip4("255.0.0.0")), 521u);
    EXPECT_EQ(hwRouteKey(ip4("192.168.1.0"), ip4("255.255.255.0")), 454u);
    EXPECT_EQ(hwRoute6Key(ip6("2001:db8::").data(), 32), 166u);
    EXPECT_EQ(hwRoute6Key1(ip6("fe80::1").data()), 127u);
    EXPECT_EQ(hwRoute6ByteSum(ip6("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff").data()), 4080u);  // no byte overflow
    EXPECT_EQ(hwRouteKey1(ip4("10.0.1.129")), 1u);
}

TEST(RouteHash, Ip6PrefixMatchComparesExactlyThePrefixBits) {
    Ip6 base = ip6("2001:db8:1:2:8000::");
    const struct {
        const char* other;
        uint32_t prefixLen;
        int32_t result;
    } cases[] = {
        {"ffff::", 0, 0},                   // length 0 matches anything
        {"2001:db8:1:2::", 64, 0},          // 64 ignores the ninth byte
        {"2001:db8:1:3::", 64, -1},         // 64 sees the eighth byte
        {"2001:db8:1:2::", 65, -1},         // 65 sees the top bit of the ninth byte
        {"2001:db8:1:2:ff00::", 65, 0},     // ... and nothing else of it
        {"2001:db8:1:2:8000::1", 128, -1},  // 128 needs every byte
        {"2001:db8:1:2:8000::", 128, 0},
        {"2001:db8:1:2:8000::", 129, -1},   // beyond 128 never matches
        {"ffff::", 256, 0},                 // only the low byte of the length counts
    };
    for (const auto& c : cases)
        EXPECT_EQ(hwRouteIp6AddrMatch(base.data(), ip6(c.other).data(), c.prefixLen), c.result)
            << c.other << "/" << c.prefixLen;
    EXPECT_EQ(hwRouteIp6AddrMatch(nullptr, base.data(), 0), -1);
}

}  // namespace
