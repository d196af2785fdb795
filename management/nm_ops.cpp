// The statistics and control operations run by management requests. Every
// operation takes (first argument, selector, value address) and returns 0 on
// success; the getters only read ghwRoute.
#include <cstdio>

#include "hwroute/debug.h"
#include "hwroute/global.h"
#include "hwroute/management.h"

namespace {

// Per-VRF, per-protocol getter. Protocol 0 or below writes nothing. A VRF id
// or protocol outside the 2048 x 16 table is answered with its own return
// code instead of reading past the table; a request without a 32-bit value
// (null address) gets HW_NM_RC_NO_VALUE.
int protoStatsGet(const HwProtoStats& table, int32_t vrfId, int32_t protoId, uint32_t* value) {
    if (protoId <= 0) return 0;
    if (uint32_t(vrfId) >= HW_STATS_VRFS || uint32_t(protoId) > HW_STATS_PROTOS) return int(HW_NM_RC_OUT_OF_TABLE);
    if (value == nullptr) return int(HW_NM_RC_NO_VALUE);
    *value = table[vrfId][protoId - 1];
    return 0;
}

// Table counter selectors, item n at index n. A null entry answers 0 (item 19).
using HwField = uint32_t HwRouteGlobal::*;

constexpr HwField tableItems4[] = {
    nullptr,  // item 0 is answered without writing
    &HwRouteGlobal::routeMax,          &HwRouteGlobal::swNexthopCnt,      &HwRouteGlobal::hwOkRouteCnt,
    &HwRouteGlobal::pendRouteCnt,      &HwRouteGlobal::hwErrRouteCnt,     &HwRouteGlobal::rcvArpCnt,
    &HwRouteGlobal::rcvArpAddCnt,      &HwRouteGlobal::rcvArpDelCnt,      &HwRouteGlobal::rcvArpChangeCnt,
    &HwRouteGlobal::arpAddParamErrCnt, &HwRouteGlobal::arpAddNoMemErrCnt, &HwRouteGlobal::arpAddSameInfoCnt,
    &HwRouteGlobal::arpDelParamErrCnt, &HwRouteGlobal::arpDelNoEntryErrCnt, &HwRouteGlobal::arpMax,
    &HwRouteGlobal::swArpCnt,          &HwRouteGlobal::hwOkArpCnt,        &HwRouteGlobal::hwErrArpCnt,
    nullptr,  // item 19: the value 0
};
static_assert(sizeof(tableItems4) / sizeof(tableItems4[0]) == 20);

constexpr HwField tableItems6[] = {
    nullptr,
    &HwRouteGlobal::routeMax,      &HwRouteGlobal::swNexthop6Cnt,  &HwRouteGlobal::hwOkRoute6Cnt,
    &HwRouteGlobal::pendRoute6Cnt, &HwRouteGlobal::hwErrRoute6Cnt, &HwRouteGlobal::nd6Max,
    &HwRouteGlobal::swNd6Cnt,      &HwRouteGlobal::hwOkNd6Cnt,     &HwRouteGlobal::hwErrNd6Cnt,
};
static_assert(sizeof(tableItems6) / sizeof(tableItems6[0]) == 10);

template <std::size_t N>
int tableStatsGet(const HwField (&items)[N], int32_t item, uint32_t* value) {
    const uint32_t index = uint32_t(item);
    if (index == 0 || index >= N) return 0;
    if (value == nullptr) return int(HW_NM_RC_NO_VALUE);
    *value = items[index] != nullptr ? ghwRoute.*items[index] : 0;
    return 0;
}

}  // namespace

int swRouteProtoStatsGetApi(int32_t vrfId, int32_t protoId, uint32_t* value) {
    return protoStatsGet(ghwRoute.swRouteProtoStats, vrfId, protoId, value);
}

int hwRouteProtoStatsGetApi(int32_t vrfId, int32_t protoId, uint32_t* value) {
    return protoStatsGet(ghwRoute.hwRouteProtoStats, vrfId, protoId, value);
}

int swRouteProtoAddStatsGetApi(int32_t vrfId, int32_t protoId, uint32_t* value) {
    return protoStatsGet(ghwRoute.swRouteProtoAddStats, vrfId, protoId, value);
}

int swRouteProtoDelStatsGetApi(int32_t vrfId, int32_t protoId, uint32_t* value) {
    return protoStatsGet(ghwRoute.swRouteProtoDelStats, vrfId, protoId, value);
}

int swRoute6ProtoStatsGetApi(int32_t vrfId, int32_t protoId, uint32_t* value) {
    return protoStatsGet(ghwRoute.swRoute6ProtoStats, vrfId, protoId, value);
}

int hwRoute6ProtoStatsGetApi(int32_t vrfId, int32_t protoId, uint32_t* value) {
    return protoStatsGet(ghwRoute.hwRoute6ProtoStats, vrfId, protoId, value);
}

int swRoute6ProtoAddStatsGetApi(int32_t vrfId, int32_t protoId, uint32_t* value) {
    return protoStatsGet(ghwRoute.swRoute6ProtoAddStats, vrfId, protoId, value);
}

int swRoute6ProtoDelStatsGetApi(int32_t vrfId, int32_t protoId, uint32_t* value) {
    return protoStatsGet(ghwRoute.swRoute6ProtoDelStats, vrfId, protoId, value);
}

int hwTableStatsGetApi(int32_t /*unused*/, int32_t item, uint32_t* value) {
    return tableStatsGet(tableItems4, item, value);
}

int hw6TableStatsGetApi(int32_t /*unused*/, int32_t item, uint32_t* value) {
    return tableStatsGet(tableItems6, item, value);
}

int hwRouteTableGetApi(int32_t /*unused*/, int32_t table, uint32_t* /*value*/) {
    if (table <= 0) return 0;
    activeShow(table, 0);
    fflush(stdout);  // the whole dump is out before the reply is sent
    return 0;
}

int hwRouteRouteCountGetApi(int32_t /*unused*/, int32_t mode, uint32_t* /*value*/) {
    if (mode <= 0) return 0;
    routeCount(mode);
    fflush(stdout);
    return 0;
}

// Selector 1 sets the debug level from the value. A request that carries no
// 32-bit value changes nothing and is answered with HW_NM_RC_NO_VALUE.
int hwRouteGlbSetApi(int32_t /*unused*/, int32_t selector, uint32_t* value) {
    if (selector != 1) return int(HW_NM_RC_BAD_SELECTOR);
    if (value == nullptr) return int(HW_NM_RC_NO_VALUE);
    hwRouteDebugLevelSet(int32_t(*value));
    return 0;
}
