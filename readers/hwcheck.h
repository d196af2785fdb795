// The consistency check: the kernel's routes and neighbours against the
// daemon's software state and, when known, the hardware state rebuilt from
// the trace. Every difference is one line; routes waiting for a neighbour
// are pending, not different.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "hwdecode.h"

struct HwcNeighbour {
    HwdMac mac{};
    uint32_t ifindex = 0;
    uint32_t status = 0;  // software only
    uint32_t flag = 0;    // software only
};

using HwcPaths = std::map<HwdPathKey, uint32_t>;  // path -> software flag word (0 for the kernel)

struct HwcView {
    std::map<HwdPrefix, HwcPaths> routes;
    std::map<HwdPrefix, HwcNeighbour> neighbours;  // /32 and /128
};

struct HwcFinding {
    std::string kind;    // "missing-in-software", "gone-from-kernel", "missing-in-hardware",
                         // "hardware-not-in-kernel", "different-paths", "different-mac", "pending"
    std::string object;  // "route" or "neighbour"
    HwdPrefix prefix;
    std::string text;    // the whole line
};

struct HwcReport {
    std::vector<HwcFinding> differences;
    std::vector<HwcFinding> pending;
};

// Software view from the export lines; false with the offending line.
bool hwcSoftwareFromExport(const std::vector<std::string>& lines, HwcView* sw, std::string* err);

HwcReport hwcCompare(const HwcView& kernel, const HwcView& sw, const HwdState* hw);

std::string hwcPrefixText(const HwdPrefix& p);
