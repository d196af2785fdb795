// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/hardware.h"

void hwTranslateDest6Node(uint8_t* /*header*/, const HwRoute6Dest* /*dest*/) { }
int hwRoute6Compare(const HwRoute6Nexthop* /*a*/, const HwRoute6Nexthop* /*b*/) { return 0; }
int hwRoute6InsertDataToBuf(uint8_t* /*entry*/, uint32_t* /*len*/, HwRoute6Dest* /*dest*/) { return 0; }
uint32_t hwRoute6NhopBufInsert(uint8_t* /*record*/, HwRoute6Nexthop* /*nh*/, HwRoute6Nexthop* /*orig*/, uint32_t /*op*/) { return 0; }
void hwUpdateRoute6Add(HwRoute6Nexthop* /*nexthop*/) { }
int hwUpdateRoute6Del(HwRoute6Nexthop* /*nexthop*/) { return 0; }
void hwUpdateRoute6In4Add(HwRoute6Nexthop* /*nexthop*/) { }
