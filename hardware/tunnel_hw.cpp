// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/hardware.h"

int hwTranslateTun4to4Buf(uint8_t* /*buffer*/, uint32_t* /*len*/, HwRouteTunNode* /*tun*/, uint32_t /*del*/) { return 0; }
int hwTranslateTun6to4Buf(uint8_t* /*buffer*/, uint32_t* /*len*/, HwRouteTunNode* /*tun*/, uint32_t /*del*/) { return 0; }
int hwTranslateTun6to6Buf(uint8_t* /*buffer*/, uint32_t* /*len*/, HwRouteTunNode* /*tun*/, uint32_t /*del*/) { return 0; }
int hwTranslateTun4to6Buf(uint8_t* /*buffer*/, uint32_t* /*len*/, HwRouteTunNode* /*tun*/, uint32_t /*del*/) { return 0; }
void hwUpdateTunAdd(HwRouteTunNode* /*tun*/) { }
int hwUpdateTunDel(HwRouteTunNode* /*tun*/) { return 0; }
