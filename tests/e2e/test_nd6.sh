#!/usr/bin/env bash
# IPv6 routes through an Ethernet next hop: the route waits until neighbour
# discovery resolves the peer (the daemon's ICMPv6 echo request starts it),
# then reaches object 339 with the peer's MAC; the neighbour's own /128 host
# entry goes there too. Deleting the neighbour withdraws the route, which
# waits again; a route through a point-to-point interface goes out at once.
. "$E2E_DIR/lib.sh"
e2e_require
a=$(netns a); b=$(netns b)
ip link add veth0 netns "$a" type veth peer name veth1 netns "$b"
ip link add veth2 netns "$a" type veth peer name veth3 netns "$b"
for ns in "$a" "$b"; do ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=0 net.ipv6.conf.default.disable_ipv6=0; done
ip -n "$a" addr add 2001:db8:9::1/64 dev veth0 nodad; ip -n "$a" link set veth0 up
ip -n "$b" addr add 2001:db8:9::2/64 dev veth1 nodad; ip -n "$b" link set veth1 up
ip -n "$a" addr add 2001:db8:7::1/64 dev veth2 nodad; ip -n "$a" link set veth2 up
ip -n "$b" link set veth3 up
peer=$(ifmac "$b" veth1)
ptp=$(ifindex "$a" veth2)
start_daemon "$a" "{\"interfaces\": {\"$ptp\": {\"endType\": 22}}}"

# The kernel knows nothing of the peer yet: only the daemon's probe makes it ask.
ip -n "$a" -6 neigh flush dev veth0
ip -n "$a" -6 route add 2001:db8:100::/48 via 2001:db8:9::2 dev veth0
wait_for "has6(dest='2001:db8:9::2', len=128, nhFlags=0x10, mac='$peer', op=1)" "host entry of 2001:db8:9::2"
wait_for "has6(dest='2001:db8:100::', len=48, nh='2001:db8:9::2', mac='$peer', op=1)" \
    "route 2001:db8:100::/48 with the peer's MAC"

# The neighbour goes: the route leaves the hardware and waits again.
ip -n "$a" -6 neigh del 2001:db8:9::2 dev veth0
# (The live peer is resolved again at once, so the deletes are looked for, not the last state.)
wait_for "has6(dest='2001:db8:9::2', len=128, op=2)" "host entry of 2001:db8:9::2 deleted"
wait_for "has6(dest='2001:db8:100::', nh='2001:db8:9::2', op=2)" "route 2001:db8:100::/48 withdrawn"
# Waiting again means probed again: the live peer answers, and the route returns.
wait_for "[r.get('op') for r in all_entries6() if r['dest'] == '2001:db8:100::'][-2:] == [2, 1]" \
    "route 2001:db8:100::/48 back after the next probe"

# A point-to-point route needs no neighbour.
ip -n "$a" -6 route add 2001:db8:200::/48 via 2001:db8:7::2 dev veth2
wait_for "has6(dest='2001:db8:200::', len=48, nh='2001:db8:7::2', port=$ptp, ipPort=$ptp, op=1)" \
    "point-to-point route 2001:db8:200::/48"
echo "1 passed, 0 failed"
