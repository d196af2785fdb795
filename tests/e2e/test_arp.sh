#!/usr/bin/env bash
# Routes through an Ethernet next hop: the daemon probes the next hop, the
# kernel resolves it by ARP, and the neighbour and the route reach the
# hardware; a neighbour entered, changed and deleted by hand moves both.
. "$E2E_DIR/lib.sh"
e2e_require
a=$(netns a); b=$(netns b)
ip link add veth0 netns "$a" type veth peer name veth1 netns "$b"
ip -n "$a" addr add 10.9.0.1/24 dev veth0; ip -n "$a" link set veth0 up
ip -n "$b" addr add 10.9.0.2/24 dev veth1; ip -n "$b" link set veth1 up
peer=$(ifmac "$b" veth1)
start_daemon "$a"

# Live peer: nothing but the route add.
ip -n "$a" route add 203.0.113.0/24 via 10.9.0.2 dev veth0
wait_for "has(dest='10.9.0.2', mask=0xffffffff, nhFlags=0x10, mac='$peer', op=1)" "host entry of 10.9.0.2"
wait_for "has(dest='203.0.113.0', mask=0xffffff00, nh='10.9.0.2', mac='$peer', op=1)" "route 203.0.113.0/24 with the peer's MAC"

# No live peer: the route waits for a neighbour entered by hand.
ip -n "$a" route add 192.0.2.0/24 via 10.9.0.3 dev veth0
sleep 1
[ "$(trace_query "has(dest='192.0.2.0')")" = False ] || fail "192.0.2.0/24 reached hardware without a neighbour"
ip -n "$a" neigh replace 10.9.0.3 lladdr 02:00:00:00:00:03 dev veth0
wait_for "has(dest='10.9.0.3', mask=0xffffffff, mac='02:00:00:00:00:03', op=1)" "host entry of 10.9.0.3"
wait_for "lastof(dest='192.0.2.0').get('mac') == '02:00:00:00:00:03'" "route 192.0.2.0/24"

ip -n "$a" neigh change 10.9.0.3 lladdr 02:00:00:00:00:04 dev veth0
wait_for "lastof(dest='10.9.0.3', mask=0xffffffff).get('mac') == '02:00:00:00:00:04'" "host entry rewritten with the new MAC"
wait_for "lastof(dest='192.0.2.0').get('mac') == '02:00:00:00:00:04' and lastof(dest='192.0.2.0').get('op') == 1" "route rewritten with the new MAC"

ip -n "$a" neigh del 10.9.0.3 dev veth0
wait_for "lastof(dest='10.9.0.3', mask=0xffffffff).get('op') == 2" "host entry of 10.9.0.3 deleted"
wait_for "lastof(dest='192.0.2.0').get('op') == 2" "route 192.0.2.0/24 deleted"
echo "1 passed, 0 failed"
