// Counters and per-VRF statistics from the daemon's export, as the text
// exposition format of metrics scrapers and as JSON.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

struct HwdCounter {
    std::string label;  // as the counter dump prints it
    uint32_t value;
    bool verbose;       // printed only in the verbose part of the dump
};

struct HwdStat {
    int family;
    std::string table;  // sw, hw, add, del
    uint32_t vrf;
    uint32_t proto;
    uint32_t value;
};

// Reads the lines of an export of counters; false with the offending line.
bool hwdCountersFromExport(const std::vector<std::string>& lines, std::vector<HwdCounter>* counters,
                           std::vector<HwdStat>* stats, std::string* err);

// "hardware ok routeCnt" -> "hwroute_hardware_ok_route_cnt".
std::string hwdMetricName(const std::string& label);

std::string hwdMetricsText(const std::vector<HwdCounter>& counters, const std::vector<HwdStat>& stats);
nlohmann::json hwdCountersJson(const std::vector<HwdCounter>& counters, bool summaryOnly);
nlohmann::json hwdStatsJson(const std::vector<HwdStat>& stats);
