// Interface and system services. An ifUnit is the kernel's interface index
// of this host; the platform configuration can answer for a unit instead
// (value by value) or make a query of it fail.
//
// A unit answers when it is a kernel interface or is configured. For a
// configured unit that is no kernel interface, values it does not name have
// these defaults: up, Ethernet (end type 6), VLAN 0, port = the unit, MAC =
// the system MAC (the address a router puts on an interface that has no
// burnt-in one), kernel index = the unit. Anything else fails with -1.
// The port of a unit is word 0 of its interface record (sysIndexTrans 6).
#include <linux/if_vlan.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <optional>

#include "hwroute/bewriter.h"
#include "hwroute/platform.h"
#include "sim_state.h"

namespace {

// Query attributes and translation kinds the daemon uses.
constexpr uint32_t kIfAttrOperState = 31;
constexpr uint32_t kIfAttrPhysAddr = 33;
constexpr uint32_t kIfGetEndType = 7;
constexpr uint32_t kIfGetTunnelRecord = 5211;
constexpr uint32_t kTransKernelIndex = 9;
constexpr uint32_t kTransIfRecord = 6;
constexpr uint32_t kTransLocalPort = 1;
constexpr uint32_t kScalarProtocolPreference = 55;
constexpr uint32_t kScalarSystemMac = 11;

// End types: point-to-point links need no neighbour.
constexpr uint32_t kEndTypeEthernet = 6;
constexpr uint32_t kEndTypePointToPoint = 22;
constexpr uint32_t kEndTypeLoopback = 24;

// GRE over IPv6; the C library's header does not name it.
constexpr unsigned kArphrdIp6Gre = 823;

constexpr uint32_t kOperUp = 1;
constexpr uint32_t kOperDown = 2;

constexpr uint32_t kTunnelRecordLen = 64;
constexpr uint32_t kMacLen = 6;
constexpr uint32_t kUnknownPreference = 255;

// ---- the kernel's view of one interface ------------------------------------

// A socket per lookup: ioctls answer for the socket's network namespace, and
// a lookup should see the namespace the process is in now.
class KernelIf {
public:
    explicit KernelIf(uint32_t unit) {
        if (unit == 0 || unit > uint32_t(INT_MAX)) return;
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return;
        std::memset(&ifr_, 0, sizeof(ifr_));
        ifr_.ifr_ifindex = int(unit);
        present_ = ioctl(fd_, SIOCGIFNAME, &ifr_) == 0;
    }
    ~KernelIf() {
        if (fd_ >= 0) close(fd_);
    }
    KernelIf(const KernelIf&) = delete;
    KernelIf& operator=(const KernelIf&) = delete;

    bool present() const { return present_; }

    bool mac(uint8_t* out) {
        ifreq r = request();
        if (ioctl(fd_, SIOCGIFHWADDR, &r) != 0) return false;
        std::memcpy(out, r.ifr_hwaddr.sa_data, kMacLen);
        return true;
    }

    bool operState(uint32_t* out) {
        ifreq r = request();
        if (ioctl(fd_, SIOCGIFFLAGS, &r) != 0) return false;
        bool up = (r.ifr_flags & IFF_UP) != 0 && (r.ifr_flags & IFF_RUNNING) != 0;
        *out = up ? kOperUp : kOperDown;
        return true;
    }

    bool endType(uint32_t* out) {
        ifreq hw = request();
        ifreq fl = request();
        if (ioctl(fd_, SIOCGIFHWADDR, &hw) != 0 || ioctl(fd_, SIOCGIFFLAGS, &fl) != 0) return false;
        *out = endTypeOf(hw.ifr_hwaddr.sa_family, fl.ifr_flags);
        return true;
    }

    // 802.1Q id of a VLAN device; 0 for any other device.
    uint32_t vlan() {
        vlan_ioctl_args args;
        std::memset(&args, 0, sizeof(args));
        args.cmd = GET_VLAN_VID_CMD;
        std::memcpy(args.device1, ifr_.ifr_name, sizeof(args.device1) - 1);
        if (ioctl(fd_, SIOCGIFVLAN, &args) != 0) return 0;
        return uint32_t(args.u.VID);
    }

private:
    static uint32_t endTypeOf(unsigned family, int flags) {
        if (family == ARPHRD_LOOPBACK) return kEndTypeLoopback;
        if ((flags & IFF_POINTOPOINT) != 0) return kEndTypePointToPoint;
        switch (family) {
        case ARPHRD_NONE:
        case ARPHRD_PPP:
        case ARPHRD_TUNNEL:
        case ARPHRD_TUNNEL6:
        case ARPHRD_SIT:
        case ARPHRD_IPGRE:
        case kArphrdIp6Gre: return kEndTypePointToPoint;
        default: return kEndTypeEthernet;
        }
    }

    ifreq request() const {
        ifreq r;
        std::memset(&r, 0, sizeof(r));
        std::memcpy(r.ifr_name, ifr_.ifr_name, sizeof(r.ifr_name));
        return r;
    }

    int fd_ = -1;
    bool present_ = false;
    ifreq ifr_{};
};

// ---- one unit: configuration first, then the kernel, then defaults --------

class Unit {
public:
    explicit Unit(uint32_t unit) : unit_(unit) {
        std::lock_guard<std::mutex> lock(simConfigMutex());
        const SimConfig& c = simConfigLocked();
        auto it = c.units.find(unit);
        configured_ = it != c.units.end();
        if (configured_) cfg_ = it->second;
        systemMac_ = c.systemMac;
        defaultTick_ = c.tunCreateTick;
    }

    // Interfaces without a hardware address of their own (loopback, tun)
    // answer the system MAC, as routed frames still need a source address.
    bool mac(uint8_t* out) {
        if (fails(SIM_Q_MAC)) return false;
        if (!cfg_.mac && inKernel()) {
            if (!kernel().mac(out)) return false;
            static constexpr uint8_t kNone[kMacLen] = {};
            if (std::memcmp(out, kNone, kMacLen) == 0) std::memcpy(out, systemMac_.data(), kMacLen);
            return true;
        }
        std::memcpy(out, cfg_.mac.value_or(systemMac_).data(), kMacLen);
        return true;
    }

    bool operState(uint32_t* out) {
        if (fails(SIM_Q_OPER_STATE)) return false;
        if (!cfg_.operState && inKernel()) return kernel().operState(out);
        *out = cfg_.operState.value_or(kOperUp);
        return true;
    }

    bool endType(uint32_t* out) {
        if (fails(SIM_Q_END_TYPE)) return false;
        if (!cfg_.endType && inKernel()) return kernel().endType(out);
        *out = cfg_.endType.value_or(kEndTypeEthernet);
        return true;
    }

    bool vlan(uint32_t* out) {
        if (fails(SIM_Q_VLAN)) return false;
        *out = cfg_.vlan ? *cfg_.vlan : inKernel() ? kernel().vlan() : 0;
        return true;
    }

    uint32_t port() const { return cfg_.port.value_or(unit_); }

    bool kernelIndex(uint32_t* out) {
        if (fails(SIM_Q_INDEX)) return false;
        *out = unit_;
        return true;
    }

    // A configured tick first, then the tick the kernel tunnel watch saw the
    // interface appear at (it answers for its units even when the kernel no
    // longer has them, as the platform software would).
    bool tunnelTick(uint32_t* out) {
        if ((cfg_.failMask & SIM_Q_TUNNEL) != 0) return false;
        if (cfg_.tunCreateTick) {
            *out = *cfg_.tunCreateTick;
            return true;
        }
        if (simTunWatchTick(unit_, out)) return true;
        if (fails(SIM_Q_TUNNEL)) return false;
        *out = defaultTick_;
        return true;
    }

private:
    // The kernel is asked only for what the configuration leaves open.
    KernelIf& kernel() {
        if (!kernel_) kernel_.emplace(unit_);
        return *kernel_;
    }
    bool inKernel() { return kernel().present(); }
    bool fails(uint32_t query) {
        if ((cfg_.failMask & query) != 0) return true;
        return !configured_ && !inKernel();
    }

    uint32_t unit_;
    std::optional<KernelIf> kernel_;
    bool configured_ = false;
    SimUnitConfig cfg_;
    SimMac systemMac_{};
    uint32_t defaultTick_ = 0;
};

// Copies a MAC into an octet's buffer; the buffer must hold it.
int macIntoOctet(const uint8_t* mac, void* out) {
    octet* o = static_cast<octet*>(out);
    if (o == nullptr || o->data == nullptr || o->len < kMacLen) return -1;
    std::memcpy(o->data, mac, kMacLen);
    return 0;
}

int putU32(void* out, uint32_t value) {
    if (out == nullptr) return -1;
    std::memcpy(out, &value, sizeof(value));
    return 0;
}

const SimQueryAnswer* findAnswer(const std::map<uint32_t, SimQueryAnswer>& table, uint32_t attr) {
    auto it = table.find(attr);
    return it == table.end() ? nullptr : &it->second;
}

// Card, slot and scalar queries: the configured answer of the attribute;
// an attribute nobody configured fails.
int answerQuery(std::map<uint32_t, SimQueryAnswer> SimConfig::*table, uint32_t attr, void* out) {
    SimQueryAnswer answer;
    {
        std::lock_guard<std::mutex> lock(simConfigMutex());
        const SimQueryAnswer* a = findAnswer(simConfigLocked().*table, attr);
        if (a == nullptr) return -1;
        answer = *a;
    }
    if (answer.hasValue && out != nullptr) std::memcpy(out, &answer.value, sizeof(answer.value));
    return answer.result;
}

int protocolPreference(uint32_t protocol, void* out) {
    if (protocol < 1 || protocol > 255 || out == nullptr) return -1;
    uint32_t pref;
    {
        std::lock_guard<std::mutex> lock(simConfigMutex());
        const SimConfig& c = simConfigLocked();
        if ((c.failMask & SIM_Q_PROTOCOL_PREFERENCE) != 0) return -1;
        auto it = c.protocolPreference.find(protocol);
        pref = it != c.protocolPreference.end() ? it->second : simDefaultProtocolPreference(protocol);
    }
    return putU32(out, pref);
}

int systemMac(void* out) {
    SimMac mac;
    {
        std::lock_guard<std::mutex> lock(simConfigMutex());
        const SimConfig& c = simConfigLocked();
        if ((c.failMask & SIM_Q_SYSTEM_MAC) != 0) return -1;
        mac = c.systemMac;
    }
    return macIntoOctet(mac.data(), out);
}

}  // namespace

// Default preferences, smaller is better, by the kernel's route protocol
// numbers: connected and local routes first, then static ones, then the
// dynamic protocols in their customary order. For protocol 3 the daemon
// uses the route's weight instead, so its entry here is only a fallback.
uint32_t simDefaultProtocolPreference(uint32_t protocol) {
    switch (protocol) {
    case 2: return 0;      // kernel: connected and local
    case 3: return 1;      // boot: weighted routes
    case 4: return 1;      // static
    case 186: return 20;   // bgp (external)
    case 190: return 90;   // eigrp
    case 188: return 110;  // ospf
    case 187: return 115;  // isis
    case 189: return 120;  // rip
    case 16: return 254;   // dhcp
    default: return kUnknownPreference;
    }
}

int kivScalarGetApi(uint32_t index, uint32_t attr, void* out) {
    if (attr == kScalarProtocolPreference) return protocolPreference(index, out);
    if (attr == kScalarSystemMac && index == 0) return systemMac(out);
    return -1;
}

int kivIfGetApi(uint32_t ifUnit, uint32_t attr, void* out) {
    if (out == nullptr) return -1;
    Unit unit(ifUnit);
    if (attr == kIfGetEndType) {
        uint32_t endType;
        return unit.endType(&endType) ? putU32(out, endType) : -1;
    }
    if (attr == kIfGetTunnelRecord) {
        octet* o = static_cast<octet*>(out);
        uint32_t tick;
        if (o->data == nullptr || o->len < kTunnelRecordLen || !unit.tunnelTick(&tick)) return -1;
        BeWriter w(o->data, kTunnelRecordLen);
        w.zeros(kTunnelRecordLen).at(2).u32(tick);  // creation tick at byte 2
        return 0;
    }
    return -1;
}

int kivIndexTrans(uint32_t ifUnit, uint32_t kind, void* out) {
    if (kind != kTransKernelIndex || out == nullptr) return -1;
    uint32_t index;
    return Unit(ifUnit).kernelIndex(&index) ? putU32(out, index) : -1;
}

// The interface record: word 0 port, word 4 VLAN id, word 5 end type, the
// other words 0. It carries both, so it fails when either cannot be read.
int sysIndexTrans(uint32_t ifUnit, uint32_t kind, void* out) {
    if (kind != kTransIfRecord || out == nullptr) return -1;
    Unit unit(ifUnit);
    SysIndexIfRecord rec{};
    uint32_t vlan, endType;
    if (!unit.vlan(&vlan) || !unit.endType(&endType)) return -1;
    rec.word[0] = unit.port();
    rec.word[4] = vlan;
    rec.word[5] = endType;
    std::memcpy(out, &rec, sizeof(rec));
    return 0;
}

// The only key the daemon builds is the local-address port key; every key
// answers the configured local port.
int sysIndexTrans(const SysIndexKey* key, uint32_t kind, void* out) {
    if (key == nullptr || kind != kTransLocalPort || out == nullptr) return -1;
    std::lock_guard<std::mutex> lock(simConfigMutex());
    const SimConfig& c = simConfigLocked();
    if ((c.failMask & SIM_Q_LOCAL_PORT) != 0) return -1;
    return putU32(out, c.localPort);
}

int sysIFGet(uint32_t ifUnit, uint32_t attr, void* out) {
    if (out == nullptr) return -1;
    Unit unit(ifUnit);
    if (attr == kIfAttrPhysAddr) {
        uint8_t mac[kMacLen];
        return unit.mac(mac) ? macIntoOctet(mac, out) : -1;
    }
    if (attr == kIfAttrOperState) {
        uint32_t state;
        return unit.operState(&state) ? putU32(out, state) : -1;
    }
    return -1;
}

uint32_t kivSelfSysIndex(void) {
    std::lock_guard<std::mutex> lock(simConfigMutex());
    return simConfigLocked().selfSysIndex;
}

int kivHwCardGet(const void* key, uint32_t attr, void* out) {
    if (key == nullptr) return -1;
    return answerQuery(&SimConfig::cardQueries, attr, out);
}

int kivHwSlotGet(const void* key, uint32_t attr, void* out) {
    if (key == nullptr) return -1;
    return answerQuery(&SimConfig::slotQueries, attr, out);
}

int kivHwScalarGet(uint32_t zero, uint32_t scalar, void* out) {
    if (zero != 0) return -1;
    return answerQuery(&SimConfig::scalarQueries, scalar, out);
}
