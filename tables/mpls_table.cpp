// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/tables.h"

void hwRouteIlmTableAdd(HwRouteIlmNode* /*node*/) { }
void hwRouteIlmTableDelete(HwRouteIlmNode* /*node*/) { }
HwRouteIlmNode* hwRouteIlmTableLookup(const HwRouteIlmNode* /*key*/) { return nullptr; }
void hwRouteIlmTablePendAdd(HwRouteIlmNode* /*node*/) { }
void hwRouteIlmTablePendDelete(HwRouteIlmNode* /*node*/) { }
void hwRouteL2vpnTableAdd(HwRouteL2vpnNode* /*node*/) { }
void hwRouteL2vpnTableDelete(HwRouteL2vpnNode* /*node*/) { }
HwRouteL2vpnNode* hwRouteL2vpnTableLookup(const HwRouteL2vpnNode* /*key*/) { return nullptr; }
void hwRouteL2vpnTablePendAdd(HwRouteL2vpnNode* /*node*/) { }
void hwRouteL2vpnTablePendDelete(HwRouteL2vpnNode* /*node*/) { }
void hwRouteTunTableAdd(HwRouteTunNode* /*node*/) { }
void hwRouteTunTableDelete(HwRouteTunNode* /*node*/) { }
HwRouteTunNode* hwRouteTunTableLookup(const HwRouteTunNode* /*key*/) { return nullptr; }
void hwRouteTunBind(HwRouteTunNode* /*tun*/, HwListLink* /*entryTunList*/, void* /*entry*/) { }
void hwRouteTunDestroyAll(HwListLink* /*entryTunList*/) { }
