// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/global.h"

int hwRouteMemInit(NodePool* /*head*/, uint32_t /*size*/, uint32_t /*count*/, HwAllocFn /*alloc*/) { return 0; }
HwRouteDest* hwRouteDestNodeAlloc(void) { return nullptr; }
int hwRouteDestNodeFree(HwRouteDest* /*node*/) { return 0; }
HwRoute6Dest* hwRoute6DestNodeAlloc(void) { return nullptr; }
int hwRoute6DestNodeFree(HwRoute6Dest* /*node*/) { return 0; }
HwRouteNexthop* hwRouteNexthopNodeAlloc(void) { return nullptr; }
int hwRouteNexthopNodeFree(HwRouteNexthop* /*node*/) { return 0; }
HwRoute6Nexthop* hwRoute6NexthopNodeAlloc(void) { return nullptr; }
int hwRoute6NexthopNodeFree(HwRoute6Nexthop* /*node*/) { return 0; }
HwRouteIlmNode* hwRouteIlmNodeAlloc(void) { return nullptr; }
int hwRouteIlmNodeFree(HwRouteIlmNode* /*node*/) { return 0; }
HwRouteL2vpnNode* hwRouteL2vpnNodeAlloc(void) { return nullptr; }
int hwRouteL2vpnNodeFree(HwRouteL2vpnNode* /*node*/) { return 0; }
HwRouteTunNode* hwRouteTunNodeAlloc(void) { return nullptr; }
int hwRouteTunNodeFree(HwRouteTunNode* /*node*/) { return 0; }
HwArpNode* hwArpNodeAlloc(void) { return nullptr; }
int hwArpNodeFree(HwArpNode* /*node*/) { return 0; }
HwNd6Node* hwNd6NodeAlloc(void) { return nullptr; }
int hwNd6NodeFree(HwNd6Node* /*node*/) { return 0; }
uint32_t hwPoolFreeCount(const NodePool* /*head*/) { return 0; }
void hwRouteLock(void) { }
void hwRouteUnlock(void) { }
