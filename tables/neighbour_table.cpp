// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/tables.h"

void hwArpTableAdd(HwArpNode* /*node*/) { }
void hwArpTableDelete(HwArpNode* /*node*/) { }
HwArpNode* hwArpTableLookup(const HwArpNode* /*key*/) { return nullptr; }
void hwNd6TableAdd(HwNd6Node* /*node*/) { }
void hwNd6TableDelete(HwNd6Node* /*node*/) { }
HwNd6Node* hwNd6TableLookup(const HwNd6Node* /*key*/) { return nullptr; }
bool hwNexthopEffectiveVrf(const HwRouteNexthop* /*nh*/, uint32_t* /*vrf*/) { return 0; }
bool hwNexthop6EffectiveVrf(const HwRoute6Nexthop* /*nh*/, uint32_t* /*vrf*/) { return 0; }
bool hwNexthopMatchesArp(const HwRouteNexthop* /*nh*/, const HwArpNode* /*arp*/) { return 0; }
bool hwNexthop6MatchesNd6(const HwRoute6Nexthop* /*nh*/, const HwNd6Node* /*nd6*/) { return 0; }
HwArpNode* hwArpFind(uint32_t /*vrf*/, uint32_t /*address*/) { return nullptr; }
HwNd6Node* hwNd6Find(uint32_t /*vrf*/, const uint8_t* /*address*/) { return nullptr; }
void hwArpFreeAll(uint32_t /*vrf*/, uint32_t /*address*/) { }
