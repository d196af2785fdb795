#include "metrics.h"

#include <cctype>
#include <cstdlib>
#include <set>

#include "nmclient.h"

namespace {

const char* const kStatsName = "hwroute_proto_routes";
const char* const kStatsHelp =
    "Routes per VRF and protocol (swRouteProtoStats, hwRouteProtoStats, swRouteProtoAddStats, "
    "swRouteProtoDelStats and their IPv6 twins): table sw in software, hw in hardware, add added, del deleted";

}  // namespace

bool hwdCountersFromExport(const std::vector<std::string>& lines, std::vector<HwdCounter>* counters,
                           std::vector<HwdStat>* stats, std::string* err) {
    for (const std::string& line : lines) {
        const auto f = hwdExportFields(line);
        const std::string& kind = f.at("kind");
        if (kind == "counter" && f.count("label") && f.count("value")) {
            counters->push_back({f.at("label"), uint32_t(std::strtoul(f.at("value").c_str(), nullptr, 10)),
                                 f.count("verbose") && f.at("verbose") == "1"});
        } else if (kind == "stat" && f.count("family") && f.count("table") && f.count("vrf") && f.count("proto") &&
                   f.count("value")) {
            stats->push_back({std::atoi(f.at("family").c_str()), f.at("table"),
                              uint32_t(std::strtoul(f.at("vrf").c_str(), nullptr, 10)),
                              uint32_t(std::strtoul(f.at("proto").c_str(), nullptr, 10)),
                              uint32_t(std::strtoul(f.at("value").c_str(), nullptr, 10))});
        } else {
            *err = "unreadable export line: " + line;
            return false;
        }
    }
    return true;
}

// Word breaks are spaces, other punctuation and a capital after a lower-case
// letter or digit; runs of breaks become one underscore.
std::string hwdMetricName(const std::string& label) {
    std::string out = "hwroute_";
    char prev = '_';
    for (char c : label) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isupper(u) && (std::islower(static_cast<unsigned char>(prev)) || std::isdigit(static_cast<unsigned char>(prev))))
            out += '_';
        if (std::isalnum(u))
            out += char(std::tolower(u));
        else if (out.back() != '_')
            out += '_';
        prev = c;
    }
    while (out.back() == '_') out.pop_back();
    return out;
}

// Every counter is a gauge: several of them go down as well as up (the
// current table sizes), and the labels do not tell which only rise. A label
// printed twice in the dump gives its metric once.
std::string hwdMetricsText(const std::vector<HwdCounter>& counters, const std::vector<HwdStat>& stats) {
    std::string out;
    std::set<std::string> seen;
    for (const HwdCounter& c : counters) {
        const std::string name = hwdMetricName(c.label);
        if (!seen.insert(name).second) continue;
        out += "# HELP " + name + " " + c.label + "\n";
        out += "# TYPE " + name + " gauge\n";
        out += name + " " + std::to_string(c.value) + "\n";
    }
    out += std::string("# HELP ") + kStatsName + " " + kStatsHelp + "\n";
    out += std::string("# TYPE ") + kStatsName + " gauge\n";
    for (const HwdStat& s : stats)
        out += std::string(kStatsName) + "{family=\"" + (s.family == 4 ? "ipv4" : "ipv6") + "\",table=\"" + s.table +
               "\",vrf=\"" + std::to_string(s.vrf) + "\",proto=\"" + std::to_string(s.proto) + "\"} " +
               std::to_string(s.value) + "\n";
    return out;
}

nlohmann::json hwdCountersJson(const std::vector<HwdCounter>& counters, bool summaryOnly) {
    nlohmann::json a = nlohmann::json::array();
    for (const HwdCounter& c : counters)
        if (!summaryOnly || !c.verbose)
            a.push_back({{"label", c.label}, {"name", hwdMetricName(c.label)}, {"value", c.value},
                         {"verbose", c.verbose}});
    return a;
}

nlohmann::json hwdStatsJson(const std::vector<HwdStat>& stats) {
    nlohmann::json a = nlohmann::json::array();
    for (const HwdStat& s : stats)
        a.push_back({{"family", s.family == 4 ? "ipv4" : "ipv6"},
                     {"table", s.table},
                     {"vrf", s.vrf},
                     {"proto", s.proto},
                     {"value", s.value}});
    return a;
}
