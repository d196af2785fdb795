// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/management.h"

int swRouteProtoStatsGetApi(int32_t /*vrfId*/, int32_t /*protoId*/, uint32_t* /*value*/) { return 0; }
int hwRouteProtoStatsGetApi(int32_t /*vrfId*/, int32_t /*protoId*/, uint32_t* /*value*/) { return 0; }
int swRouteProtoAddStatsGetApi(int32_t /*vrfId*/, int32_t /*protoId*/, uint32_t* /*value*/) { return 0; }
int swRouteProtoDelStatsGetApi(int32_t /*vrfId*/, int32_t /*protoId*/, uint32_t* /*value*/) { return 0; }
int swRoute6ProtoStatsGetApi(int32_t /*vrfId*/, int32_t /*protoId*/, uint32_t* /*value*/) { return 0; }
int hwRoute6ProtoStatsGetApi(int32_t /*vrfId*/, int32_t /*protoId*/, uint32_t* /*value*/) { return 0; }
int swRoute6ProtoAddStatsGetApi(int32_t /*vrfId*/, int32_t /*protoId*/, uint32_t* /*value*/) { return 0; }
int swRoute6ProtoDelStatsGetApi(int32_t /*vrfId*/, int32_t /*protoId*/, uint32_t* /*value*/) { return 0; }
int hwTableStatsGetApi(int32_t /*unused*/, int32_t /*item*/, uint32_t* /*value*/) { return 0; }
int hw6TableStatsGetApi(int32_t /*unused*/, int32_t /*item*/, uint32_t* /*value*/) { return 0; }
int hwRouteTableGetApi(int32_t /*unused*/, int32_t /*table*/, uint32_t* /*value*/) { return 0; }
int hwRouteRouteCountGetApi(int32_t /*unused*/, int32_t /*mode*/, uint32_t* /*value*/) { return 0; }
int hwRouteGlbSetApi(int32_t /*unused*/, int32_t /*selector*/, uint32_t* /*value*/) { return 0; }
