#!/usr/bin/env bash
# Datagrams the platform's kernel would send, crafted and sent straight to the
# daemon's notification port: a route in VRF 7 with a weight attribute, then
# a resend request that makes the daemon replay what is in hardware.
. "$E2E_DIR/lib.sh"
e2e_require
a=$(netns a); b=$(netns b)
ip link add veth0 netns "$a" type veth peer name veth1 netns "$b"
ip -n "$a" link set veth0 up
idx=$(ifindex "$a" veth0)
E2E_DAEMON_OPTS=(--accept-injected)  # the datagrams come from this script, not the kernel
start_daemon "$a" "{\"interfaces\": {\"$idx\": {\"endType\": 22}}}"

send() {  # send TYPE BODY_HEX: one message to the daemon's port
    ip netns exec "$a" python3 - "$DAEMON_PID" "$1" "$2" <<'PY'
import socket, struct, sys
pid, mtype, body = int(sys.argv[1]), int(sys.argv[2]), bytes.fromhex(sys.argv[3])
msg = struct.pack('=IHHII', 16 + len(body), mtype, 0, 1, 0) + body
s = socket.socket(socket.AF_NETLINK, socket.SOCK_RAW, 0)
s.bind((0, 0))
s.sendto(msg, (pid, 0))
PY
}
attr() { python3 -c "import struct,sys; p=bytes.fromhex(sys.argv[2]); print((struct.pack('=HH', 4+len(p), int(sys.argv[1])) + p + bytes(-len(p) % 4)).hex())" "$1" "$2"; }
u32() { python3 -c "import struct,sys; print(struct.pack('=I', int(sys.argv[1])).hex())" "$1"; }

# Route add: family 2, /24, protocol 4; destination, interface, gateway, weight 0x105, VRF 7.
head=$(python3 -c "import struct; print(struct.pack('=BBBBBBBBI', 2, 24, 0, 0, 254, 4, 0, 1, 0).hex())")
body="$head$(attr 1 c6336400)$(attr 4 "$(u32 "$idx")")$(attr 5 0a090002)$(attr 8 "$(u32 261)")$(attr 18 "$(u32 7)")"
send 24 "$body"
wait_for "any(u32(e, 4) == 7 and ip(e, 8) == '198.51.100.0' and e[86] == 1 for c in calls for e in entries(c))" \
    "an add of 198.51.100.0/24 in VRF 7"
[ "$(trace_query "sum(1 for c in calls for e in entries(c) if ip(e, 8) == '198.51.100.0')")" = 1 ] || fail "more than one write"

# RESENDROUTE for this system: the path present in hardware is sent again.
send 135 "$(u32 0)$(u32 1)$(u32 0)$(u32 0)"
wait_for "sum(1 for c in calls for e in entries(c) if ip(e, 8) == '198.51.100.0' and e[86] == 1) == 2" \
    "the replay of 198.51.100.0/24 after RESENDROUTE"
grep -q 'process card up,start sync route to hardware!' "$E2E_TMP/daemon.log" || fail "no replay line in the log"
echo "1 passed, 0 failed"
