// Helpers for the platform stand-in tests: every test starts and ends with
// the platform at its defaults.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "hwroute/platform.h"
#include "sim.h"

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override { simReset(); }
    void TearDown() override { simReset(); }

    void load(const std::string& json) {
        std::string err;
        ASSERT_TRUE(simLoadConfigText(json, &err)) << err;
    }
};

// One hardware call with a small octet payload; returns the hardware's answer.
// A request's default bytes: for the route objects an entry without records
// (header only, its size word saying so), one byte for the others.
inline std::vector<uint8_t> defaultBytes(uint32_t objectId) {
    if (objectId == 338) return {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0};
    if (objectId == 339) {
        std::vector<uint8_t> b(36, 0);
        b[27] = 9;
        return b;
    }
    return {0xab};
}
inline int hwSend(uint32_t objectId, std::vector<uint8_t> bytes = {}) {
    if (bytes.empty()) bytes = defaultBytes(objectId);
    octet o{bytes.data(), uint32_t(bytes.size())};
    HwScalarReq req{objectId, &o, 0, 1};
    return kivScalarSetApi(0, 0, &req);
}

// The answers an operator would see for one unit.
struct UnitAnswers {
    int macRc, operRc, endRc, recordRc, indexRc, tunnelRc;
    uint8_t mac[6];
    uint32_t operState, endType, vlan, recordEndType, port, index, tick;
};

inline UnitAnswers queryUnit(uint32_t unit) {
    UnitAnswers a{};
    octet macOctet{a.mac, sizeof(a.mac)};
    a.macRc = sysIFGet(unit, 33, &macOctet);
    a.operRc = sysIFGet(unit, 31, &a.operState);
    a.endRc = kivIfGetApi(unit, 7, &a.endType);
    SysIndexIfRecord rec{};
    a.recordRc = sysIndexTrans(unit, 6, &rec);
    a.port = rec.word[0], a.vlan = rec.word[4], a.recordEndType = rec.word[5];
    a.indexRc = kivIndexTrans(unit, 9, &a.index);
    uint8_t tun[64] = {};
    octet tunOctet{tun, sizeof(tun)};
    a.tunnelRc = kivIfGetApi(unit, 5211, &tunOctet);
    a.tick = uint32_t(tun[2]) << 24 | uint32_t(tun[3]) << 16 | uint32_t(tun[4]) << 8 | tun[5];
    return a;
}

inline std::string macText(const uint8_t* m) {
    char buf[18];
    std::snprintf(buf, sizeof(buf), "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return buf;
}
