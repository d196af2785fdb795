#include "hwdjson.h"

using Json = nlohmann::json;

namespace {

Json routeJson(const HwdRouteEntry& e) {
    Json j = {{"kind", hwdKindName(e.kind)}, {"family", e.family == 4 ? "ipv4" : "ipv6"},
              {"vrf", e.vrId},               {"prefix", hwdPrefixText(e)},
              {"flags", e.flags},            {"nextHopNum", e.nextHopNum},
              {"paths", Json::array()}};
    if (e.kind == HwdEntryKind::Tunnel) j["tunnelIfIndex"] = e.tunnelIfIndex;
    for (const HwdPath& p : e.paths) j["paths"].push_back(hwdPathJson(e.family, p));
    return j;
}

Json ilmJson(const HwdIlm& i) {
    return {{"vrf", i.vrfid}, {"flags", i.flags}, {"inLabel", i.inLabel}, {"inVid", i.inVid},
            {"path", hwdPathJson(4, i.path)}};
}

Json l2vpnJson(const HwdL2vpn& v) {
    return {{"vfiId", v.vfiId},
            {"vpnType", v.vpnType},
            {"flags", v.flags},
            {"ceEgressVid", v.ceEgressVid},
            {"ceEgressPri", v.ceEgressPri},
            {"cePort", v.cePort},
            {"ceVid", v.ceVid},
            {"peVid", v.peVid},
            {"pePort", v.pePort},
            {"txOuterLabel", v.txOuterLabel},
            {"txInnerLabel", v.txInnerLabel},
            {"rxInnerLabel", v.rxInnerLabel},
            {"txOuterExp", v.txOuterExp},
            {"txOuterTtl", v.txOuterTtl},
            {"txInnerExp", v.txInnerExp},
            {"txInnerTtl", v.txInnerTtl},
            {"nextHopMac", hwdMacText(v.nextHopMac)},
            {"srcMac", hwdMacText(v.srcMac)}};
}

std::string prefixText(const HwdPrefix& k) { return hwdAddrText(k.family, k.addr) + "/" + std::to_string(k.len); }

std::string pathsText(int family, const std::map<HwdPathKey, HwdPath>& paths) {
    std::string s;
    for (const auto& [key, p] : paths) {
        s += s.empty() ? "" : "; ";
        s += "via " + hwdNexthopText(family, p.nexthopIp) + " port " + std::to_string(p.port) + " if " +
             std::to_string(p.ipPort) + " vid " + std::to_string(p.vid) + " mac " + hwdMacText(p.nextHopMac);
        for (const HwdLabel& l : p.labels) s += " label " + std::to_string(l.label);
    }
    return s;
}

}  // namespace

Json hwdPathJson(int family, const HwdPath& p) {
    Json j = {{"op", hwdOpName(p.op)},
              {"nexthop", hwdNexthopText(family, p.nexthopIp)},
              {"port", p.port},
              {"ipPort", p.ipPort},
              {"mac", hwdMacText(p.nextHopMac)},
              {"vid", p.vid},
              {"srcMac", hwdMacText(p.srcMac)},
              {"protocol", p.protocol},
              {"flags", p.flags},
              {"labels", Json::array()}};
    for (const HwdLabel& l : p.labels) j["labels"].push_back({{"label", l.label}, {"exp", l.exp}, {"ttl", l.ttl}});
    return j;
}

Json hwdCallJson(const HwdCall& call) {
    Json j = {{"seq", call.seq},
              {"objectId", call.objectId},
              {"object", hwdObjectName(call.objectId)},
              {"result", call.result},
              {"len", call.data.size()}};
    if (!call.routes.empty()) {
        j["entries"] = Json::array();
        for (const HwdRouteEntry& e : call.routes) j["entries"].push_back(routeJson(e));
    }
    if (call.ilm) j["ilm"] = ilmJson(*call.ilm);
    if (call.l2vpn) j["l2vpn"] = l2vpnJson(*call.l2vpn);
    return j;
}

Json hwdStateJson(const HwdState& s) {
    Json j = {{"calls", s.calls}, {"refused", s.refused}};
    j["routes"] = Json::array();
    for (const auto& [k, r] : s.routes) {
        Json e = {{"family", k.family == 4 ? "ipv4" : "ipv6"}, {"vrf", k.vrf}, {"prefix", prefixText(k)}};
        e["paths"] = Json::array();
        for (const auto& [pk, p] : r.paths) e["paths"].push_back(hwdPathJson(k.family, p));
        e["backups"] = Json::array();
        for (const auto& [pk, p] : r.backups) e["backups"].push_back(hwdPathJson(k.family, p));
        j["routes"].push_back(e);
    }
    j["neighbours"] = Json::array();
    for (const auto& [k, p] : s.neighbours) {
        j["neighbours"].push_back({{"family", k.family == 4 ? "ipv4" : "ipv6"},
                                   {"vrf", k.vrf},
                                   {"address", hwdAddrText(k.family, k.addr)},
                                   {"mac", hwdMacText(p.nextHopMac)},
                                   {"port", p.port},
                                   {"ipPort", p.ipPort},
                                   {"vid", p.vid}});
    }
    j["tunnels"] = Json::array();
    for (const auto& [k, e] : s.tunnels) j["tunnels"].push_back(routeJson(e));
    j["ilm"] = Json::array();
    for (const auto& [k, i] : s.ilms) j["ilm"].push_back(ilmJson(i));
    j["l2vpn"] = Json::array();
    for (const auto& [k, v] : s.l2vpns) j["l2vpn"].push_back(l2vpnJson(v));
    return j;
}

std::string hwdStateText(const HwdState& s) {
    std::string out = "routes: " + std::to_string(s.routes.size()) + "\n";
    for (const auto& [k, r] : s.routes) {
        out += "  vrf " + std::to_string(k.vrf) + " " + prefixText(k) + ": " + pathsText(k.family, r.paths);
        if (!r.backups.empty()) out += " backup " + pathsText(k.family, r.backups);
        out += "\n";
    }
    out += "neighbours: " + std::to_string(s.neighbours.size()) + "\n";
    for (const auto& [k, p] : s.neighbours)
        out += "  vrf " + std::to_string(k.vrf) + " " + hwdAddrText(k.family, k.addr) + " mac " +
               hwdMacText(p.nextHopMac) + " port " + std::to_string(p.port) + " if " + std::to_string(p.ipPort) +
               " vid " + std::to_string(p.vid) + "\n";
    out += "tunnels: " + std::to_string(s.tunnels.size()) + "\n";
    for (const auto& [k, e] : s.tunnels) {
        out += "  " + prefixText(k) + " tunnel-if " + std::to_string(e.tunnelIfIndex);
        if (!e.paths.empty())
            out += " via " + hwdNexthopText(e.family, e.paths[0].nexthopIp) + " mac " +
                   hwdMacText(e.paths[0].nextHopMac);
        out += "\n";
    }
    out += "ilm: " + std::to_string(s.ilms.size()) + "\n";
    for (const auto& [k, i] : s.ilms)
        out += "  in-label " + std::to_string(i.inLabel) + " vrf " + std::to_string(i.vrfid) + " via " +
               hwdNexthopText(4, i.path.nexthopIp) + " mac " + hwdMacText(i.path.nextHopMac) + "\n";
    out += "l2vpn: " + std::to_string(s.l2vpns.size()) + "\n";
    for (const auto& [k, v] : s.l2vpns)
        out += "  vfi " + std::to_string(v.vfiId) + " type " + std::to_string(v.vpnType) + " pe-port " +
               std::to_string(v.pePort) + " mac " + hwdMacText(v.nextHopMac) + "\n";
    out += "calls: " + std::to_string(s.calls) + ", refused: " + std::to_string(s.refused) + "\n";
    return out;
}
