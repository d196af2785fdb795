#!/usr/bin/env bash
# Real tunnel interfaces made with `ip tunnel` / `ip link`: an ipip tunnel and
# an ip6tnl tunnel carrying IPv4, each with a route into it, reach the
# hardware through the daemon's kernel tunnel watch and leave it with the
# interface. Kernels without the tunnel drivers skip it.
# The trace queries start python3 many times: the system's interpreter (a
# package the build installs) starts far faster than a version-manager shim.
[ -x /usr/bin/python3 ] && PATH=/usr/bin:$PATH
. "$E2E_DIR/lib.sh"
e2e_require
a=$(netns a); b=$(netns b)
E2E_NS+=("$a" "$b")  # netns runs in a subshell: register them here so they are removed
veth_pair "$a" "$b" v6
if ! err=$(ip -n "$a" tunnel add tun4 mode ipip local 10.0.0.1 remote 10.0.0.2 2>&1); then
    e2e_skip "this kernel has no ipip tunnel driver (ip tunnel add: ${err})"
fi
ip -n "$a" link del tun4
macb=$(ifmac "$b" veth1)
start_daemon "$a"
poke() {
    ip netns exec "$a" python3 -c "import socket, sys; f = socket.AF_INET6 if ':' in sys.argv[1] else socket.AF_INET
socket.socket(f, socket.SOCK_DGRAM).sendto(b'x', (sys.argv[1], 9))" "$1"
}
tun() { echo "[e for c in calls for e in entries(c) if u32(e, 28) == 8 and u32(e, 20) == $1]"; }

poke 10.0.0.2
wait_for "has(dest='10.0.0.2', mask=0xffffffff, op=1)" "the host entry of the far end 10.0.0.2"

# ipip: 198.51.100.0/24 into tun4.
ip -n "$a" tunnel add tun4 mode ipip local 10.0.0.1 remote 10.0.0.2
ip -n "$a" link set tun4 up
idx=$(ifindex "$a" tun4)
ip -n "$a" route add 198.51.100.0/24 dev tun4
wait_for "any(ip(e, 8) == '198.51.100.0' and ip(e, 32) == '10.0.0.2' and mac(e, 72) == '$macb' and e[86] == 1
              for e in $(tun "$idx"))" "the ipip tunnel entry"
ip -n "$a" route del 198.51.100.0/24 dev tun4
wait_for "any(e[86] == 2 for e in $(tun "$idx"))" "the ipip tunnel's removal with its route"
ip -n "$a" route add 198.51.100.0/24 dev tun4
wait_for "sum(e[86] == 1 for e in $(tun "$idx")) == 2" "the ipip tunnel again"
ip -n "$a" link del tun4
wait_for "sum(e[86] == 2 for e in $(tun "$idx")) == 2" "the ipip tunnel's removal with its interface"

# ip6tnl carrying IPv4: 203.0.113.0/24 into tun6.
if ! err=$(ip -n "$a" link add tun6 type ip6tnl mode ipip6 local 2001:db8:1::1 remote 2001:db8:1::2 2>&1); then
    echo "NOTE: ip6tnl part not run: this kernel has no ip6tnl driver (${err})"
    echo "1 passed, 0 failed"
    exit 0
fi
poke 2001:db8:1::2
ip -n "$a" link set tun6 up
idx6=$(ifindex "$a" tun6)
ip -n "$a" route add 203.0.113.0/24 dev tun6
wait_for "any(ip(e, 8) == '203.0.113.0' and e[32:48] == bytes.fromhex('20010db8000100000000000000000002')
              and e[86] == 1 for e in $(tun "$idx6"))" "the 4in6 tunnel entry"
ip -n "$a" link del tun6
wait_for "any(e[86] == 2 for e in $(tun "$idx6"))" "the 4in6 tunnel's removal with its interface"
echo "1 passed, 0 failed"
