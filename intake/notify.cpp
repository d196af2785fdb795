// The notification socket and the walk over one received datagram.
#include <linux/netlink.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "decoders.h"
#include "hwroute/debug.h"
#include "hwroute/global.h"
#include "hwroute/intake.h"

namespace {

constexpr uint32_t kNotifyGroups = 0x0FFFFFFF;  // multicast groups 1 to 28

using HwDecodeFn = void (*)(const HwNlMsg&, HwNotifyRequests*);

// What each handled type needs: the bytes its decoder reads at fixed places
// (header included) and the decoder. Types not listed are skipped.
struct HwMsgKind {
    uint16_t type;
    uint32_t minLen;
    HwDecodeFn decode;
};

constexpr HwMsgKind kMsgKinds[] = {
    {16, HW_IFMSG_FIXED, hwNotifyLinkMsg},      {17, HW_IFMSG_FIXED, hwNotifyLinkMsg},
    {24, HW_RTMSG_FIXED, hwNotifyRouteMsg},     {25, HW_RTMSG_FIXED, hwNotifyRouteMsg},
    {28, HW_NDMSG_FIXED, hwNotifyNeighMsg},     {29, HW_NDMSG_FIXED, hwNotifyNeighMsg},
    {87, HW_CARD_MSG_LEN, hwNotifyCardUpMsg},   {90, HW_CARD_MSG_LEN, hwNotifySlotUpMsg},
    {129, HW_MPLS_MSG_LEN, hwNotifyIlmMsg},     {130, HW_MPLS_MSG_LEN, hwNotifyIlmMsg},
    {131, HW_MPLS_MSG_LEN, hwNotifyVpnMsg},     {132, HW_MPLS_MSG_LEN, hwNotifyVpnMsg},
    {133, HW_L2VPN_MSG_LEN, hwNotifyL2vpnMsg},  {134, HW_L2VPN_MSG_LEN, hwNotifyL2vpnMsg},
    {135, HW_CARD_MSG_LEN, hwNotifyResendMsg},  {136, HW_CARD_MSG_LEN, hwNotifyResendMsg},
    {137, HW_NL_HDR_LEN, hwNotifyTunnelMsg},    {138, HW_NL_HDR_LEN, hwNotifyTunnelMsg},
    {148, HW_NL_HDR_LEN, hwNotifyVpnFlushMsg},
};

// The error report carries the kernel's code right after the header.
constexpr uint32_t kErrorMsgMinLen = HW_NL_HDR_LEN + 4;

const HwMsgKind* findKind(uint16_t type) {
    for (const HwMsgKind& k : kMsgKinds)
        if (k.type == type) return &k;
    return nullptr;
}

bool isRouteType(uint16_t type) { return type == 24 || type == 25 || type == 131 || type == 132; }

constexpr uint32_t align4(uint32_t n) { return (n + 3u) & ~3u; }

// A message shorter than the body its type needs is skipped whole: the
// decoders read fixed places, and those would lie beyond the received bytes.
void countShort(const HwNlMsg& msg) {
    if (isRouteType(msg.type))
        ++ghwRoute.rcvNoDynamicRouteMsgErrCnt;
    else
        ++ghwRoute.rcvRouteMsgErrCnt;
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "[hwRtnotifyRecv]=>message type %d too short: %u bytes, skipped.", msg.type,
                 msg.len);
}

// Kernel error codes are negative (-17 for "File exists").
const char* errorText(int32_t code) {
    if (code < 0 && code != INT32_MIN) code = -code;
    return std::strerror(code);
}

// Types 2 and 3 end the walk: answers false.
bool handleMessage(const HwNlMsg& msg) {
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "[hwRtnotifyRecv]=>p_hdr->nlmsg_type=%d", msg.type);
    if (msg.type == HW_NLMSG_DONE) return false;
    if (msg.type == HW_NLMSG_ERROR) {
        // A report too short to hold its code still ends the walk; only the text is missing.
        if (msg.len < kErrorMsgMinLen) {
            countShort(msg);
            return false;
        }
        int32_t code = static_cast<int32_t>(hwRdU32(msg.data + HW_NL_HDR_LEN));
        hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "[hwRtnotifyRecv] Route message ERROR: %s", errorText(code));
        return false;
    }
    hwRouteDebug(HW_DBG_MOD, HW_DBG_INTAKE, "[hwRtnotifyRecv] Receive a route socket message: type %d.\r\n", msg.type);
    const HwMsgKind* kind = findKind(msg.type);
    if (kind == nullptr) return true;
    if (msg.len < kind->minLen) {
        countShort(msg);
        return true;
    }
    // The records are cleared before every message, not once per datagram:
    // a field the message does not carry would otherwise keep what the
    // previous message of the datagram left in it (a route delete without a
    // gateway would name the previous route's gateway, a neighbour without a
    // MAC would take the previous one's, a labelled route would inherit the
    // previous kernel route's protocol), and the handler would act on a path
    // the kernel never sent.
    HwNotifyRequests requests;
    std::memset(&requests, 0, sizeof requests);
    kind->decode(msg, &requests);
    return true;
}

// The length of the message at `p` if it fits in `remaining`, else 0.
uint32_t fittingLength(const uint8_t* p, uint32_t remaining) {
    if (remaining < HW_NL_HDR_LEN) return 0;
    uint32_t len = hwRdU32(p);
    if (len < HW_NL_HDR_LEN || len > remaining) return 0;
    return len;
}

// The forced size passes the system's ceiling and needs privilege; without
// it the ordinary request is capped. The kernel doubles what it grants for
// its own bookkeeping; the size it reports is printed as it stands.
void setReceiveBuffer(int fd, int32_t bytes) {
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        (void)setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    int granted = 0;
    socklen_t len = sizeof granted;
    if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &len) != 0) granted = -1;
    std::printf("hwroute: notification socket receive buffer: asked %d bytes, granted %d\n", bytes, granted);
    std::fflush(stdout);
}

}  // namespace

int hwRtnotifyInit(HwRouteGlobal* g) {
    if (g == nullptr) return -1;
    if (g->notifySock != 0) return 0;

    int fd = socket(AF_NETLINK, SOCK_RAW, NETLINK_ROUTE);
    if (fd < 0) {
        g->notifySock = 0;
        perror("hwRtnotifyInit creat socket err!\n");
        return -1;
    }
    g->notifySock = fd;

    int on = 1;
    (void)ioctl(fd, FIONBIO, &on);

    sockaddr_nl addr;
    std::memset(&addr, 0, sizeof addr);
    addr.nl_family = AF_NETLINK;
    addr.nl_pid = 0;
    addr.nl_groups = kNotifyGroups;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
        perror("hwRtnotifyInit bind socket err!\n");
        close(fd);
        g->notifySock = 0;
        return -1;
    }

    setReceiveBuffer(fd, hwRtnotifyRcvBuf);
    return 0;
}

int hwRtnotifyShutdown(HwRouteGlobal* g) {
    if (g == nullptr) return -1;
    if (g->notifySock != 0) close(g->notifySock);
    g->notifySock = 0;
    return 0;
}

int hwRtnotifyRecv(const uint8_t* buf, int len) {
    if (buf == nullptr || len < static_cast<int>(HW_NL_HDR_LEN)) return 0;
    const uint8_t* p = buf;
    uint32_t remaining = static_cast<uint32_t>(len);
    uint32_t msgLen = fittingLength(p, remaining);
    while (msgLen != 0) {
        HwNlMsg msg{p, msgLen, hwRdU16(p + 4)};
        if (!handleMessage(msg)) return 0;
        uint32_t step = align4(msgLen);
        if (step >= remaining) return 0;
        remaining -= step;
        p += step;
        msgLen = fittingLength(p, remaining);
    }
    return 0;
}

void hwRtnotifyAttrWalk(const uint8_t* msg, uint32_t msgLen, uint32_t offset, HwAttrFn fn, void* ctx) {
    if (msg == nullptr || fn == nullptr || msgLen <= offset) return;
    const uint8_t* p = msg + offset;
    uint32_t remaining = msgLen - offset;
    while (remaining >= 4) {
        uint16_t attrLen = hwRdU16(p);
        uint16_t attrType = hwRdU16(p + 2);
        if (attrLen < 4 || attrLen > remaining) return;
        fn(ctx, attrType, p + 4, attrLen - 4u);
        uint32_t step = align4(attrLen);
        if (step >= remaining) return;
        remaining -= step;
        p += step;
    }
}

namespace {
struct CollectCtx {
    const HwAttrRule* rules;
    uint32_t ruleCount;
    HwAttrs* out;
};

void collectOne(void* ctx, uint16_t type, const uint8_t* payload, uint32_t len) {
    auto* c = static_cast<CollectCtx*>(ctx);
    for (uint32_t i = 0; i < c->ruleCount; ++i) {
        const HwAttrRule& r = c->rules[i];
        if (r.type != type || type >= HW_ATTR_SLOTS) continue;
        bool fits = r.exact ? len == r.size : len >= r.size;
        if (fits) c->out->at[type] = payload;
        return;
    }
}
}  // namespace

void hwNotifyCollectAttrs(const HwNlMsg& msg, uint32_t fixed, const HwAttrRule* rules, uint32_t ruleCount,
                          HwAttrs* out) {
    std::memset(out, 0, sizeof *out);
    CollectCtx ctx{rules, ruleCount, out};
    hwRtnotifyAttrWalk(msg.data, msg.len, fixed, collectOne, &ctx);
}
