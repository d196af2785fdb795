#!/usr/bin/env bash
# A pseudowire injected as a platform message over a kernel-learnt public
# route with real ARP: written with the peer's MAC, withdrawn when the
# neighbour is deleted, written again when ARP brings it back; a card-up
# event rewrites every entry present in hardware.
. "$E2E_DIR/lib.sh"
INJECT="$(dirname "$HWROUTE_BIN")/hwroute-inject"
[ -x "$INJECT" ] || e2e_skip "hwroute-inject not built"
e2e_require
a=$(netns a); b=$(netns b)
ip link add veth0 netns "$a" type veth peer name veth1 netns "$b"
ip -n "$a" addr add 10.9.0.1/24 dev veth0; ip -n "$a" link set veth0 up
ip -n "$b" addr add 10.9.0.2/24 dev veth1; ip -n "$b" link set veth1 up
peer=$(ifmac "$b" veth1)
unit=$(ifindex "$a" veth0)
E2E_DAEMON_OPTS=(--accept-injected)  # the pseudowire and the card event come from hwroute-inject
start_daemon "$a"
inject() { ip netns exec "$a" "$INJECT" --pid "$DAEMON_PID" "$@" || fail "inject $*"; }
# Pseudowire records of VFI 7 (object 140 add, 141 delete) with the peer's MAC at offset 44.
pw() { echo "[i for i, c in enumerate(calls) if c['objectId'] == $1 and c['result'] == 0 and c['bytes'][0:2] == b'\\x00\\x07' and mac(c['bytes'], 44) == '$peer']"; }

# The public route, learnt from the kernel; the daemon's probe makes the kernel resolve the peer.
ip -n "$a" route add 10.1.0.0/16 via 10.9.0.2 dev veth0
wait_for "lastof(dest='10.1.0.0').get('op') == 1 and lastof(dest='10.1.0.0').get('mac') == '$peer'" \
    "public route 10.1.0.0/16 through the peer"

inject l2vpn add --vfi 7 --vpn-type 2 --nexthop 10.9.0.2 --ce-port 4 --tx-outer-label 100 --tx-inner-label 200 \
    --rx-inner-label 300 --pub-if "$unit" --pub-prefix 10.1.0.0/16
wait_for "len($(pw 140)) == 1 and u32(calls[$(pw 140)[0]]['bytes'], 28) == 100" "pseudowire written with the peer's MAC"

# The neighbour goes: the pseudowire and its public route leave the hardware;
# the probes of the waiting entries make ARP learn it again, and both return.
ip -n "$a" neigh del 10.9.0.2 dev veth0
wait_for "len($(pw 141)) == 1" "pseudowire withdrawn with its neighbour"
wait_for "len($(pw 140)) == 2 and $(pw 140)[1] > $(pw 141)[0]" "pseudowire back when the neighbour returns"
wait_for "lastof(dest='10.1.0.0').get('op') == 1" "public route back with the neighbour"

# Card up: every entry present (routes, host entries, the pseudowire) is sent again.
sleep 1
mark=$(trace_query "len(calls)")
present=$(trace_query "sorted({(r['dest'], r['mask']) for r in all_entries() if lastof(dest=r['dest'], mask=r['mask']).get('op') == 1})")
[ "$present" != "[]" ] || fail "nothing present before the card-up"
inject card-up
wait_for "any(c['objectId'] == 140 for c in calls[$mark:])" "pseudowire rewritten after the card-up"
wait_for "sorted({(r['dest'], r['mask']) for c in calls[$mark:] if c['result'] == 0 for r in map(entry, entries(c)) if r.get('op') == 1}) == $present" \
    "every present route and host entry rewritten after the card-up"

# The pseudowire's delete leaves the public route alone; the route's own delete then removes it.
inject l2vpn del --vfi 7 --vpn-type 2 --nexthop 10.9.0.2 --ce-port 4 --tx-inner-label 200 --rx-inner-label 300
wait_for "len($(pw 141)) == 2" "pseudowire deleted"
ip -n "$a" route del 10.1.0.0/16 via 10.9.0.2 dev veth0
wait_for "lastof(dest='10.1.0.0').get('op') == 2" "public route deleted"
echo "1 passed, 0 failed"
