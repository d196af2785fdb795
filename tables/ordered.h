// Sorted insertion shared by the neighbour tables and the ILM lists.
#pragma once

#include "hwroute/list.h"

// Insert `node` (the record's `Member` link) behind every record of the list
// for which `staysAhead(record)` holds, that is in front of the first record
// for which it does not. Lists kept in descending order pass "key >= mine",
// so records with equal keys keep their insertion order.
template <auto Member, class StaysAhead>
void hwListInsertOrdered(HwListLink* head, typename HwLinkMember<Member>::Owner* node, StaysAhead staysAhead) {
    for (auto* rec : hwListOf<Member>(head)) {
        if (staysAhead(rec)) continue;
        hwListInsertTail(linkOf<Member>(rec), linkOf<Member>(node));
        return;
    }
    hwListInsertTail(head, linkOf<Member>(node));
}
