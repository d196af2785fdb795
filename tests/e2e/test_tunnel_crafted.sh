#!/usr/bin/env bash
# Tunnel interfaces as the kernel announces them, crafted (this machine's
# kernel has no tunnel drivers) and sent straight to the daemon's
# notification port: an ipip link and an ip6tnl link carrying IPv4, each with
# a route into it. The far ends' neighbours are real (ARP and neighbour
# discovery on the veth); each tunnel reaches the hardware once its far end
# is resolved and leaves it with the link.
# The trace queries start python3 many times: the system's interpreter (a
# package the build installs) starts far faster than a version-manager shim.
[ -x /usr/bin/python3 ] && PATH=/usr/bin:$PATH
. "$E2E_DIR/lib.sh"
e2e_require
a=$(netns a); b=$(netns b)
E2E_NS+=("$a" "$b")  # netns runs in a subshell: register them here so they are removed
veth_pair "$a" "$b" v6
macb=$(ifmac "$b" veth1)
E2E_DAEMON_OPTS=(--accept-injected)  # crafted link and route messages come from this script
start_daemon "$a"
nm() { "$HWROUTE_NM_BIN" --socket "$E2E_TMP/nm.sock" "$@"; }
# poke ADDR: one UDP datagram from the daemon's namespace, so its kernel
# resolves ADDR (ARP or neighbour discovery) and announces the neighbour.
poke() {
    ip netns exec "$a" python3 -c "import socket, sys; f = socket.AF_INET6 if ':' in sys.argv[1] else socket.AF_INET
socket.socket(f, socket.SOCK_DGRAM).sendto(b'x', (sys.argv[1], 9))" "$1"
}

# send KIND ARGS...: one message of the kernel's form to the daemon's port.
#   link TYPE INDEX KIND LOCAL REMOTE PROTO   (IFLA_LINKINFO / IFLA_INFO_DATA / IFLA_IPTUN_*)
#   route TYPE PREFIX LEN OIF                 (main table, unicast)
send() {
    ip netns exec "$a" python3 - "$DAEMON_PID" "$@" <<'PY'
import socket, struct, sys
pid, what, args = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
def attr(t, p): return struct.pack('=HH', 4 + len(p), t) + p + bytes(-len(p) % 4)
def addr(text):
    return socket.inet_pton(socket.AF_INET6 if ':' in text else socket.AF_INET, text)
IFF_UP, IFF_RUNNING, IFF_NOARP, IFF_POINTOPOINT = 0x1, 0x40, 0x80, 0x10
if what == 'link':
    mtype, index, kind, local, remote, proto = int(args[0]), int(args[1]), args[2], args[3], args[4], int(args[5])
    v4 = kind != 'ip6tnl'
    data = attr(1, struct.pack('=I', 0)) + attr(2, addr(local)) + attr(3, addr(remote)) + attr(4, bytes([64]))
    if v4: data += attr(5, bytes([0]))
    data += attr(9, bytes([proto]))
    if v4: data += attr(10, bytes([1]))
    info = attr(1, kind.encode() + b'\0') + attr(2, data)
    arphrd = 768 if kind == 'ipip' else 776 if kind == 'sit' else 769
    body = struct.pack('=BBHiII', 0, 0, arphrd, index, IFF_UP | IFF_RUNNING | IFF_NOARP | IFF_POINTOPOINT, 0xffffffff)
    body += attr(3, b'tun%d\0' % index) + attr(4, struct.pack('=I', 1480 if v4 else 1452)) + attr(18, info)
else:
    mtype, prefix, plen, oif = int(args[0]), args[1], int(args[2]), int(args[3])
    fam = 10 if ':' in prefix else 2
    body = struct.pack('=BBBBBBBBI', fam, plen, 0, 0, 254, 3, 253, 1, 0)
    body += attr(15, struct.pack('=I', 254)) + attr(1, addr(prefix)) + attr(4, struct.pack('=I', oif))
msg = struct.pack('=IHHII', 16 + len(body), mtype, 0, 1, 0) + body
s = socket.socket(socket.AF_NETLINK, socket.SOCK_RAW, 0)
s.bind((0, 0))
s.sendto(msg, (pid, 0))
PY
}

# Tunnel entries of the trace (object 338): tunnel interface index at 20, record flags 0x08.
tun() { echo "[e for c in calls for e in entries(c) if u32(e, 28) == 8 and u32(e, 20) == $1]"; }

# ---- ipip: 198.51.100.0/24 into unit 4242, 10.0.0.1 -> 10.0.0.2 ----------
send link 16 4242 ipip 10.0.0.1 10.0.0.2 4
send route 24 198.51.100.0 24 4242
sleep 1.5
[ "$(trace_query "len($(tun 4242))")" = 0 ] || fail "an ipip tunnel was written before its far end was resolved"
poke 10.0.0.2
wait_for "any(ip(e, 8) == '198.51.100.0' and ip(e, 32) == '10.0.0.2' and mac(e, 72) == '$macb' and e[86] == 1
              for e in $(tun 4242))" "the ipip tunnel entry through 10.0.0.2"
[ "$(trace_query "$(tun 4242)[-1][16]")" = 1 ] || fail "ipip entry without its one path"

nm show tunnel >/dev/null || fail "show tunnel refused"
grep -E -q '198\.51\.100\.0 +--0xffffff00--4242 +--100 .*--1 +--2 .*--1 ' "$E2E_TMP/daemon.out" ||
    fail "the tunnel dump has no row for unit 4242 bound to its neighbour with status 1"

# A far end beyond a router: the covering route's path carries the tunnel
# (the local endpoint is on no interface, so nothing is directly connected).
ip -n "$a" route add 10.9.9.0/24 via 10.0.0.2
wait_for "has(dest='10.9.9.0', nh='10.0.0.2', op=1)" "the route 10.9.9.0/24"
send link 16 4244 ipip 192.0.2.1 10.9.9.9 4
send route 24 198.51.101.0 24 4244
wait_for "any(ip(e, 8) == '198.51.101.0' and ip(e, 32) == '10.0.0.2' and e[86] == 1 for e in $(tun 4244))" \
    "the ipip tunnel carried by 10.9.9.0/24"
# The route's delete takes the tunnel down with it; its path is already on
# its way out, so the tunnel's last entry carries no path (nextHopNum 0, op 0).
ip -n "$a" route del 10.9.9.0/24 via 10.0.0.2
wait_for "len($(tun 4244)) == 2 and $(tun 4244)[-1][16] == 0 and $(tun 4244)[-1][86] == 0" \
    "the tunnel's removal with the route that carried it"

send link 17 4242 ipip 10.0.0.1 10.0.0.2 4
wait_for "any(e[86] == 2 for e in $(tun 4242))" "the ipip tunnel's removal with its link"

# ---- ip6tnl carrying IPv4 (4in6): 203.0.113.0/24 into unit 4243 ----------
send link 16 4243 ip6tnl 2001:db8:1::1 2001:db8:1::2 4
send route 24 203.0.113.0 24 4243
sleep 1
[ "$(trace_query "len($(tun 4243))")" = 0 ] || fail "a 4in6 tunnel was written before its far end was resolved"
poke 2001:db8:1::2
wait_for "any(c['objectId'] == 339 and c['bytes'][8:24] == bytes.fromhex('20010db8000100000000000000000002')
              for c in calls)" "the neighbour entry of 2001:db8:1::2"
wait_for "any(ip(e, 8) == '203.0.113.0' and e[32:48] == bytes.fromhex('20010db8000100000000000000000002')
              and mac(e, 72) == '$macb' and e[86] == 1 for e in $(tun 4243))" "the 4in6 tunnel entry"
send link 17 4243 ip6tnl 2001:db8:1::1 2001:db8:1::2 4
wait_for "any(e[86] == 2 for e in $(tun 4243))" "the 4in6 tunnel's removal with its link"

# ---- by hand over the management socket -----------------------------------
out=$(nm tunnel add unit 77 local 10.0.0.1/24 remote 10.0.0.2 route 192.0.2.0/24) || fail "tunnel add refused: $out"
echo "$out" | grep -q 'bound to a neighbour, hardware status 1' || fail "unexpected answer: $out"
wait_for "any(ip(e, 8) == '192.0.2.0' and e[86] == 1 for e in $(tun 77))" "the hand-made tunnel"
nm tunnel del unit 77 local 10.0.0.1/24 remote 10.0.0.2 route 192.0.2.0/24 >/dev/null || fail "tunnel del refused"
wait_for "any(ip(e, 8) == '192.0.2.0' and e[86] == 2 for e in $(tun 77))" "the hand-made tunnel's removal"
if nm tunnel del unit 77 local 10.0.0.1/24 remote 10.0.0.2 route 192.0.2.0/24 2>"$E2E_TMP/err"; then
    fail "a second delete was accepted"
fi
grep -q 'no such tunnel' "$E2E_TMP/err" || fail "unclear refusal: $(cat "$E2E_TMP/err")"
echo "1 passed, 0 failed"
