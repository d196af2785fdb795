// The export operation read the way the tools read it: counters into the
// metrics text, checked by a strict reader of the exposition format; the
// state lines into the checker's software view.
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "hwcheck.h"
#include "hwroute/flags.h"
#include "hwroute/management.h"
#include "hwroute/tables.h"
#include "builders.h"
#include "metrics.h"

namespace {

// The lines the daemon streams for `what`, without the marker lines.
std::vector<std::string> exportLines(uint32_t what) {
    int sv[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    hwRouteNmExport(sv[0], what);
    close(sv[0]);
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(sv[1], buf, sizeof buf)) > 0) text.append(buf, size_t(n));
    close(sv[1]);
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    EXPECT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "hwroute-export 1");
    EXPECT_EQ(lines.back(), "end");
    return std::vector<std::string>(lines.begin() + 1, lines.end() - 1);
}

// A strict reader of the text exposition format: every family has one HELP
// and one TYPE line before its samples, names and label names are valid,
// label values are quoted, values are numbers, no family appears twice.
struct Family {
    std::string help;
    std::string type;
    std::vector<std::pair<std::string, double>> samples;  // label set text, value
};

std::map<std::string, Family> parseExposition(const std::string& text, std::string* err) {
    static const std::regex name("[a-zA-Z_:][a-zA-Z0-9_:]*");
    static const std::regex help("# HELP ([a-zA-Z_:][a-zA-Z0-9_:]*) (.*)");
    static const std::regex type("# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (counter|gauge|histogram|summary|untyped)");
    static const std::regex sample(
        R"(([a-zA-Z_:][a-zA-Z0-9_:]*)(\{([a-zA-Z_][a-zA-Z0-9_]*="[^"\\\n]*")(,[a-zA-Z_][a-zA-Z0-9_]*="[^"\\\n]*")*\})? (-?[0-9]+(\.[0-9]+)?([eE][-+]?[0-9]+)?))");
    std::map<std::string, Family> out;
    std::string current;
    std::istringstream in(text);
    int lineNo = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNo;
        std::smatch m;
        const std::string where = "line " + std::to_string(lineNo) + ": ";
        if (std::regex_match(line, m, help)) {
            if (out.count(m[1]) != 0) *err = where + "family " + m[1].str() + " described twice";
            current = m[1];
            out[current].help = m[2];
        } else if (std::regex_match(line, m, type)) {
            if (m[1] != current || !out[current].type.empty()) *err = where + "TYPE out of place";
            out[current].type = m[2];
        } else if (std::regex_match(line, m, sample)) {
            if (m[1] != current || out[current].type.empty()) *err = where + "sample before its HELP and TYPE";
            out[current].samples.push_back({m[2], std::stod(m[5])});
        } else {
            *err = where + "not a valid line: " + line;
        }
        if (!err->empty()) return out;
    }
    if (text.empty() || text.back() != '\n') *err = "the text must end with a newline";
    return out;
}

using ExportTest = HwTest;

TEST_F(ExportTest, MetricsParseStrictlyAndCarryTheCountersUnderTheirOriginalLabels) {
    ghwRoute.hwOkRouteCnt = 7;
    ghwRoute.rtAddCnt = 11;
    ghwRoute.hwRouteProtoStats[5][2] = 4;   // VRF 5, protocol 3
    ghwRoute.swRoute6ProtoStats[0][0] = 9;  // VRF 0, protocol 1
    std::vector<HwdCounter> counters;
    std::vector<HwdStat> stats;
    std::string err;
    ASSERT_TRUE(hwdCountersFromExport(exportLines(HW_NM_EXPORT_COUNTERS), &counters, &stats, &err)) << err;

    const std::map<std::string, Family> families = parseExposition(hwdMetricsText(counters, stats), &err);
    ASSERT_EQ(err, "");
    std::set<std::string> labels;
    for (std::size_t i = 0; i < hwCounterItemCount; ++i)
        if (hwCounterItems[i].kind == HwCounterItem::Counter || hwCounterItems[i].kind == HwCounterItem::Value)
            labels.insert(hwCounterItems[i].text);
    EXPECT_EQ(families.size(), labels.size() + 1) << "one family per distinct label, and the statistics";
    for (const auto& [name, f] : families) {
        for (char c : name) EXPECT_TRUE(std::islower(static_cast<unsigned char>(c)) || std::isdigit(c) || c == '_') << name;
        EXPECT_EQ(name.rfind("hwroute_", 0), 0u) << name;
    }
    const struct {
        const char* name;
        const char* help;
        double value;
    } expected[] = {
        {"hwroute_hardware_ok_route_cnt", "hardware ok routeCnt", 7},
        {"hwroute_rt_add_cnt", "rtAddCnt", 11},
        {"hwroute_total_route_cnt", "total routeCnt", double(ghwRoute.routeMax)},
    };
    for (const auto& e : expected) {
        ASSERT_EQ(families.count(e.name), 1u) << e.name;
        const Family& f = families.at(e.name);
        EXPECT_EQ(f.help, e.help);
        EXPECT_EQ(f.type, "gauge");
        ASSERT_EQ(f.samples.size(), 1u);
        EXPECT_EQ(f.samples[0].second, e.value) << e.name;
    }
    const Family& s = families.at("hwroute_proto_routes");
    ASSERT_EQ(s.samples.size(), 2u);
    EXPECT_EQ(s.samples[0].first, R"({family="ipv4",table="hw",vrf="5",proto="3"})");
    EXPECT_EQ(s.samples[0].second, 4);
    EXPECT_EQ(s.samples[1].first, R"({family="ipv6",table="sw",vrf="0",proto="1"})");
}

TEST(MetricName, LabelsBecomeLowerCaseWithUnderscores) {
    const std::pair<const char*, const char*> cases[] = {
        {"hardware ok routeCnt", "hwroute_hardware_ok_route_cnt"},
        {"pend route6Cnt", "hwroute_pend_route6_cnt"},
        {"hwRoute6A2Cnt", "hwroute_hw_route6_a2_cnt"},
        {"hardware ok ILM", "hwroute_hardware_ok_ilm"},
        {"Nd6AddFastReadyDelCnt", "hwroute_nd6_add_fast_ready_del_cnt"},
        {"card up hardware ok routeCnt", "hwroute_card_up_hardware_ok_route_cnt"},
    };
    for (const auto& [label, name] : cases) EXPECT_EQ(hwdMetricName(label), name) << label;
}

// The state export read into the checker's view: flags, neighbours, and a
// route waiting for its neighbour reported as pending, not as a difference.
TEST_F(ExportTest, StateExportFeedsTheCheck) {
    addNexthop(addDest(0, "10.20.0.0", 16), "192.168.1.9")->ifUnit = 5;  // no neighbour yet
    addArp(0, "192.168.1.2", 5, 0, 2, hwStatusAddAbnormal);

    HwcView sw;
    std::string err;
    ASSERT_TRUE(hwcSoftwareFromExport(exportLines(HW_NM_EXPORT_STATE), &sw, &err)) << err;
    ASSERT_EQ(sw.routes.size(), 1u);
    ASSERT_EQ(sw.neighbours.size(), 1u);
    EXPECT_EQ(hwcPrefixText(sw.routes.begin()->first), "10.20.0.0/16");
    EXPECT_EQ(sw.neighbours.begin()->second.status, hwStatusAddAbnormal);

    HwcView kernel = sw;  // the kernel holds the same route and neighbour
    const HwcReport r = hwcCompare(kernel, sw, nullptr);
    ASSERT_EQ(r.pending.size(), 1u);
    EXPECT_EQ(r.pending[0].text, "pending: route 10.20.0.0/16 via 192.168.1.9 if 5 waits for its neighbour");
    ASSERT_EQ(r.differences.size(), 1u);
    EXPECT_EQ(r.differences[0].text, "missing in hardware: neighbour 192.168.1.2 (the hardware refused it)");
}

}  // namespace
