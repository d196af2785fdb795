// Intake tests: datagrams from the builder go through hwRtnotifyRecv; the
// results are read from the tables, counters, captured log lines and probes.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "hwroute/flags.h"
#include "hwroute/global.h"
#include "hwroute/intake.h"
#include "hwroute/tables.h"
#include "hwtest.h"
#include "nlbuild.h"

class IntakeTest : public HwTest {
protected:
    void SetUp() override {
        HwTest::SetUp();
        platformConfig(kInterfaces);
    }

    static constexpr const char* kInterfaces = R"({"localPort": 9, "interfaces": {
            "3": {"endType": 6, "operState": 1, "port": 2, "vlan": 0, "mac": "02:00:00:00:00:03"},
            "5": {"endType": 6, "operState": 1, "port": 3, "vlan": 10, "mac": "02:00:00:00:00:05"}}})";

    // A datagram, message or bytes into the intake, which must take it.
    template <class In>
    static void deliver(const In& in) { EXPECT_EQ(nlDeliver(in), 0); }

    // The full text of the first captured line containing `key`, without the prefix.
    std::string lineWith(const std::string& key) const {
        for (const auto& l : logs)
            if (l.find(key) != std::string::npos) return l.substr(std::strlen("[HWROUTE]:"));
        return "";
    }
};
