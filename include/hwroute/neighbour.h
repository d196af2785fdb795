// Neighbour logic: ARP and ND6 add, change and delete and their dependents.
#pragma once

#include "hwroute/records.h"

int hwArpAdd(HwArpNode* request);
int hwArpDel(HwArpNode* request);
int hwRouteArpDelProcess(HwRouteDest* dest, HwRouteNexthop* nexthop);
int hwRouteL2vpnArpDelProcess(HwRouteL2vpnNode* entry);

int hwNd6Add(HwNd6Node* request);
int hwNd6Del(HwNd6Node* request);
int hwRouteNd6DelProcess(HwRoute6Dest* dest, HwRoute6Nexthop* nexthop);
