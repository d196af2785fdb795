#!/usr/bin/env bash
# Incoming-label entries and labelled routes injected as platform messages
# into the running daemon: an entry waits for its next hop's ARP answer and
# leaves with its neighbour; a labelled route rides on a kernel route, whose
# delete waits until the labelled route is gone.
. "$E2E_DIR/lib.sh"
INJECT="$(dirname "$HWROUTE_BIN")/hwroute-inject"
[ -x "$INJECT" ] || e2e_skip "hwroute-inject not built"

# The tool's bytes against the message layout: ILM add (type 129, 128 bytes)
# with interface 3, next hop 10.0.0.2 (family 2), transit flag, one outgoing
# label and the incoming label, integers in host order.
hex=$("$INJECT" --print ilm add --if 3 --nexthop 10.0.0.2 --transit --in-label 1000 --out-labels 2000/5/9 | tr -d ' \n')
le32() { python3 -c "import struct,sys; print(struct.pack('<I', int(sys.argv[1], 0)).hex())" "$1"; }
[ "$(python3 -c 'import sys; print(sys.byteorder)')" = little ] && expect=$(printf '%s' \
    "$(le32 128)8100" "0000" "00000000" "00000000" \
    "00000000" "00000000" "$(le32 3)" "00000000000000000000000000000000" \
    "0a000002000000000000000000000000" "02000001" "01000000" \
    "$(le32 $((1000 << 12 | 0x1ff)))" "$(le32 $((2000 << 12 | 5 << 9 | 0x100 | 9)))" \
    "$(printf '0%.0s' $(seq 104))") && { [ "$hex" = "$expect" ] || fail "ilm add bytes: $hex"; }
for bad in "vpn add --labels 1,2,3,4" "vpn add --labels 1048576" "ilm add --nexthop 10.0.0" "ilm add --colour red"; do
    # shellcheck disable=SC2086
    out=$("$INJECT" --print $bad 2>&1) && fail "accepted: $bad"
    [ "$(printf '%s\n' "$out" | wc -l)" = 1 ] || fail "more than one line for: $bad"
done

e2e_require
a=$(netns a); b=$(netns b)
ip link add veth0 netns "$a" type veth peer name veth1 netns "$b"
ip -n "$a" addr add 10.9.0.1/24 dev veth0; ip -n "$a" link set veth0 up
ip -n "$b" link set veth1 up  # no address yet: nobody answers ARP for 10.9.0.2
peer=$(ifmac "$b" veth1)
unit=$(ifindex "$a" veth0)
E2E_DAEMON_OPTS=(--accept-injected)  # the datagrams come from this script, not the kernel
start_daemon "$a"
inject() { ip netns exec "$a" "$INJECT" --pid "$DAEMON_PID" "$@" || fail "inject $*"; }
ilm_calls() { trace_query "[c for c in calls if c['objectId'] == $1 and c['result'] == 0 and ip(c['bytes'], 24) == '10.9.0.2' and mac(c['bytes'], 64) == '$peer' and u32(c['bytes'], 12) == 1000]"; }

# Incoming label 1000 to 10.9.0.2: probed, but not written while nobody answers.
inject ilm add --if "$unit" --nexthop 10.9.0.2 --transit --in-label 1000 --out-labels 2000
sleep 2
[ "$(trace_query "any(c['objectId'] == 156 for c in calls)")" = False ] || fail "ILM written without a neighbour"
ip -n "$b" addr add 10.9.0.2/24 dev veth1
wait_for "any(c['objectId'] == 156 and ip(c['bytes'], 24) == '10.9.0.2' and mac(c['bytes'], 64) == '$peer' and u32(c['bytes'], 88) == 2000 for c in calls)" \
    "ILM on object 156 with the peer's MAC once it answers ARP"
ip -n "$a" neigh del 10.9.0.2 dev veth0
wait_for "any(c['objectId'] == 157 and mac(c['bytes'], 64) == '$peer' for c in calls)" "ILM withdrawn with its neighbour"
[ "$(ilm_calls 156)" != "[]" ] || fail "no ILM add record"

# A labelled route in VRF 5 over the kernel route 10.1.0.0/16.
ip -n "$a" route add 10.1.0.0/16 via 10.9.0.2 dev veth0
wait_for "lastof(dest='10.1.0.0').get('op') == 1" "public route 10.1.0.0/16"
inject vpn add --vrf 5 --if "$unit" --prefix 172.16.0.0/24 --nexthop 10.9.0.2 --labels 300 \
    --pub-prefix 10.1.0.0/16 --pub-nexthop 10.9.0.2
wait_for "any(ip(e, 8) == '172.16.0.0' and e[86] == 1 and e[87] == 1 and u32(e, 96) == 300 for c in calls if c['result'] == 0 for e in entries(c))" \
    "labelled route 172.16.0.0/24 with label 300"

ip -n "$a" route del 10.1.0.0/16 via 10.9.0.2 dev veth0
sleep 2
[ "$(trace_query "lastof(dest='10.1.0.0').get('op')")" != 2 ] || fail "public route left hardware under its private user"
inject vpn del --vrf 5 --if "$unit" --prefix 172.16.0.0/24 --nexthop 10.9.0.2 --labels 300 --route
wait_for "lastof(dest='172.16.0.0').get('op') == 2" "labelled route deleted"
wait_for "lastof(dest='10.1.0.0').get('op') == 2" "public route deleted once its private user went"
echo "1 passed, 0 failed"
