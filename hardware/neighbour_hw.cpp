// Not built yet: placeholder bodies until this unit is written.
#include "hwroute/hardware.h"

int hwUpdateArpAdd(HwArpNode* /*node*/) { return 0; }
int hwUpdateArpDel(HwArpNode* /*node*/) { return 0; }
int hwUpdateNd6Add(HwNd6Node* /*node*/) { return 0; }
int hwUpdateNd6Del(HwNd6Node* /*node*/) { return 0; }
