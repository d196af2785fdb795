// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/hardware.h"

int hwTranslateIlmRtNode(uint8_t* /*buffer*/, HwRouteIlmNode* /*ilm*/) { return 0; }
void hwUpdateIlmRouteAdd(HwRouteIlmNode* /*ilm*/) { }
int hwUpdateIlmRouteDel(HwRouteIlmNode* /*ilm*/) { return 0; }
int hwTranslateL2vpnNode(uint8_t* /*buffer*/, HwRouteL2vpnNode* /*l2vpn*/) { return 0; }
void hwUpdateL2vpnAdd(HwRouteL2vpnNode* /*l2vpn*/) { }
int hwUpdateL2vpnDel(HwRouteL2vpnNode* /*l2vpn*/) { return 0; }
