// Next-hop resolution probes: one ICMP echo request to an IPv4 next hop (or
// ICMPv6 echo request to an IPv6 one) that has no neighbour yet makes the
// kernel resolve it, and the neighbour add then releases whatever waited for
// it. The reply is never read.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "hwroute/debug.h"
#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/platform.h"
#include "hwroute/route.h"
#include "hwroute/tables.h"

namespace {

#define PROBE_LOG(...) hwRouteDebug(HW_DBG_MOD, HW_DBG_PROBE, __VA_ARGS__)

constexpr int ICMP_ECHO_LEN = 8;
constexpr uint8_t ICMP_ECHO_REQUEST = 8;
constexpr uint16_t PROBE_ID = 123;
constexpr int ICMP_PROTOCOL = 1;

// The real transport: a raw ICMP socket of its own for every probe, made
// non-blocking so that a pass never waits on the network. Returns what the
// send returned, or -1 when the socket could not be made ready.
int socketTransport(const uint8_t* icmp, int len, const void* sockaddrIn, int addrLen) {
    int fd = socket(AF_INET, SOCK_RAW, ICMP_PROTOCOL);
    int on = 1;
    // A socket that failed to open fails here too, so one warning covers both.
    if (ioctl(fd, FIONBIO, &on) != 0) {
        PROBE_LOG("Warning: couldn't set non-blocking I/O");
        if (fd >= 0) close(fd);
        return -1;
    }
    int sent = int(sendto(fd, icmp, size_t(len), 0, static_cast<const sockaddr*>(sockaddrIn), socklen_t(addrLen)));
    close(fd);
    return sent;
}

HwProbeTransport gTransport = socketTransport;

constexpr uint8_t ICMP6_ECHO_REQUEST = 128;

// The ICMPv6 transport. The kernel fills in the checksum of a raw ICMPv6
// socket (it covers the source address, which only the kernel chooses), and
// reads only the standard part of the address record: the VRF word after it
// is for the platform's stack.
int socket6Transport(const uint8_t* icmp, int len, const void* sockaddrIn6, int addrLen) {
    int fd = socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6);
    int on = 1;
    if (ioctl(fd, FIONBIO, &on) != 0) {
        PROBE_LOG("Warning: couldn't set non-blocking I/O");
        if (fd >= 0) close(fd);
        return -1;
    }
    int sent = int(sendto(fd, icmp, size_t(len), 0, static_cast<const sockaddr*>(sockaddrIn6), socklen_t(addrLen)));
    close(fd);
    return sent;
}

HwProbeTransport gTransport6 = socket6Transport;

// The destination of an ICMPv6 probe: the standard IPv6 address record, the
// scope of the outgoing interface, and the VRF in the word that follows it,
// in the machine's own byte order, as the IPv4 probe carries it in its padding.
struct Probe6Address {
    sockaddr_in6 sin6;
    uint32_t vrfId;
};
static_assert(sizeof(Probe6Address) == sizeof(sockaddr_in6) + 4);

void probe6Address(Probe6Address* to, const uint8_t* address, uint32_t vrfId, uint32_t ifIndex) {
    std::memset(to, 0, sizeof(*to));
    to->sin6.sin6_family = AF_INET6;
    std::memcpy(&to->sin6.sin6_addr, address, 16);
    to->sin6.sin6_scope_id = ifIndex;
    to->vrfId = vrfId;
}

// The destination of a probe. The platform's stack takes the VRF from the
// first four bytes of the address padding, in the machine's own byte order.
void probeAddress(sockaddr_in* to, uint32_t address, uint32_t vrfId) {
    std::memset(to, 0, sizeof(*to));
    to->sin_family = AF_INET;
    to->sin_port = 0;
    to->sin_addr.s_addr = htonl(address);
    std::memcpy(to->sin_zero, &vrfId, sizeof(vrfId));
}

// Echo request without payload: type, code, checksum, identifier, sequence.
void probeMessage(uint8_t* icmp) {
    std::memset(icmp, 0, ICMP_ECHO_LEN);
    icmp[0] = ICMP_ECHO_REQUEST;
    icmp[1] = 0;
    icmp[4] = uint8_t(PROBE_ID >> 8);
    icmp[5] = uint8_t(PROBE_ID & 0xff);
    uint16_t sum = checksum(icmp, ICMP_ECHO_LEN);
    icmp[2] = uint8_t(sum >> 8);
    icmp[3] = uint8_t(sum & 0xff);
}

bool interfaceUp(uint32_t ifUnit) {
    uint32_t state = 0;
    // An interface whose state cannot be read is treated as down: probing
    // through it would only fail again on every pass.
    if (sysIFGet(ifUnit, SYS_IF_OPER_STATE, &state) != 0) return false;
    return state == 1;
}

bool allZero(const uint8_t* bytes, int len) {
    for (int i = 0; i < len; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

// IPv4 address in the first four bytes of a 16-byte address field, first octet first.
uint32_t ip4At(const uint8_t* bytes) {
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
}

// Route next hops: only the front of each pending bucket, the one pended
// last, so a pass sends at most one probe per bucket.
void routePendProbe() {
    for (HwListLink& bucket : ghwRoute.pendTable) {
        HwRouteNexthop* nh = hwListFirst<&HwRouteNexthop::pendLink>(&bucket);
        if (nh == nullptr) continue;
        bool up = interfaceUp(nh->ifUnit);
        if (nh->nextHop != 0 && up) hwPingSend(nh->nextHop, nh->nVrfId);
    }
}

// Label entries: runs of entries with one next hop send one probe.
void ilmPendProbe() {
    bool anyProbed = false;
    uint32_t lastProbed = 0;
    for (HwRouteIlmNode* ilm : hwListOf<&HwRouteIlmNode::pendLink>(&ghwRoute.ilmPendList)) {
        if (ilm->nextHop == 0) continue;
        if (anyProbed && ilm->nextHop == lastProbed) continue;
        hwPingSend(ilm->nextHop, ilm->vrfId);
        anyProbed = true;
        lastProbed = ilm->nextHop;
    }
}

// Layer-2 VPNs over IPv4: each waiting entry, its VFI standing for the VRF.
void l2vpnPendProbe() {
    for (HwRouteL2vpnNode* l2vpn : hwListOf<&HwRouteL2vpnNode::pendLink>(&ghwRoute.l2vpnPendList)) {
        if (l2vpn->family != HW_AF_INET) continue;
        hwPingSend(ip4At(l2vpn->nexthopIp), l2vpn->vfiId);
    }
}

}  // namespace

void hwPingSetTransport(HwProbeTransport transport) { gTransport = transport != nullptr ? transport : socketTransport; }

uint16_t checksum(const void* buf, int len) {
    const auto* bytes = static_cast<const uint8_t*>(buf);
    uint32_t sum = 0;
    int i = 0;
    for (; i + 1 < len; i += 2) sum += (uint32_t(bytes[i]) << 8) | bytes[i + 1];
    if (i < len) sum += uint32_t(bytes[i]) << 8;
    sum = (sum >> 16) + (sum & 0xffff);
    sum += sum >> 16;
    return uint16_t(~sum & 0xffff);
}

int hwPingSend(uint32_t address, uint32_t vrfId) {
    sockaddr_in to;
    probeAddress(&to, address, vrfId);
    uint8_t icmp[ICMP_ECHO_LEN];
    probeMessage(icmp);

    PROBE_LOG("Send icmp echo request to %#x", address);
    int sent = gTransport(icmp, ICMP_ECHO_LEN, &to, int(sizeof(to)));
    // The socket belongs to the transport and is closed there; the callers
    // only need to know whether the probe went out.
    if (sent != ICMP_ECHO_LEN) {
        PROBE_LOG("Warning: Can't send icmp echo request.");
        return -1;
    }
    return 0;
}

int hwPing6Send(const uint8_t* address, uint32_t vrfId, uint32_t ifUnit) {
    if (address == nullptr) return -1;
    uint32_t ifIndex = 0;
    (void)kivIndexTrans(ifUnit, HW_TRANS_IF_INDEX, &ifIndex);
    Probe6Address to;
    probe6Address(&to, address, vrfId, ifIndex);
    // Echo request without payload; the kernel computes the checksum.
    uint8_t icmp[ICMP_ECHO_LEN] = {ICMP6_ECHO_REQUEST, 0, 0, 0, uint8_t(PROBE_ID >> 8), uint8_t(PROBE_ID & 0xff), 0, 0};
    char text[INET6_ADDRSTRLEN];
    if (inet_ntop(AF_INET6, address, text, sizeof text) == nullptr) text[0] = '\0';
    PROBE_LOG("Send icmpv6 echo request to %s", text);
    if (gTransport6(icmp, ICMP_ECHO_LEN, &to, int(sizeof(to))) != ICMP_ECHO_LEN) {
        PROBE_LOG("Warning: Can't send icmpv6 echo request.");
        return -1;
    }
    return 0;
}

void hwPing6SetTransport(HwProbeTransport transport) {
    gTransport6 = transport != nullptr ? transport : socket6Transport;
}

int hwRoutePendCheck(void) {
    routePendProbe();
    ilmPendProbe();
    l2vpnPendProbe();
    return 0;
}

int hwRoute6PendCheck(void) {
    // The front of each IPv6 pending bucket, as for IPv4: an IPv6 next hop
    // gets an ICMPv6 echo request (rather than waiting for the kernel to
    // resolve it by itself, which on a quiet link may never happen), an IPv4
    // next hop of an IPv6 route an ICMP one.
    for (HwListLink& bucket : ghwRoute.pend6Table) {
        HwRoute6Nexthop* nh = hwListFirst<&HwRoute6Nexthop::pendLink>(&bucket);
        if (nh == nullptr) continue;
        bool up = interfaceUp(nh->ifUnit);
        if (allZero(nh->nextHop, 16) || !up) continue;
        if (nh->afNextHop == HW_AF_INET)
            hwPingSend(ip4At(nh->nextHop), nh->nVrfId);
        else
            hwPing6Send(nh->nextHop, nh->nVrfId, nh->ifUnit);
    }
    return 0;
}
