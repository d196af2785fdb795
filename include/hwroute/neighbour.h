// Neighbour logic: ARP and ND6 add, change and delete and their dependents.
#pragma once

#include "hwroute/records.h"

int hwArpAdd(HwArpNode* request);
int hwArpDel(HwArpNode* request);
int hwRouteArpDelProcess(HwRouteDest* dest, HwRouteNexthop* nexthop);
int hwRouteL2vpnArpDelProcess(HwRouteL2vpnNode* entry);
// A neighbour whose host entry was refused is written again; when that was
// its first write, what waited for it is released as for a new neighbour.
int hwArpRetryWrite(HwArpNode* arp);

int hwNd6Add(HwNd6Node* request);
int hwNd6Del(HwNd6Node* request);
int hwRouteNd6DelProcess(HwRoute6Dest* dest, HwRoute6Nexthop* nexthop);
// The IPv6 twin of hwArpRetryWrite.
int hwNd6RetryWrite(HwNd6Node* nd);
