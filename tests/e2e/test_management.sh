#!/usr/bin/env bash
# The operator's client against a running daemon: per-VRF, per-protocol
# statistics follow the kernel's routes, and the debug level set over the
# management socket changes what the daemon logs.
. "$E2E_DIR/lib.sh"
e2e_require
[ -x "${HWROUTE_NM_BIN:-}" ] || e2e_skip "hwroute-nm not built"
a=$(netns a); b=$(netns b)
ip link add veth0 netns "$a" type veth peer name veth1 netns "$b"
ip -n "$a" addr add 10.9.0.1/24 dev veth0; ip -n "$a" link set veth0 up
ip -n "$b" addr add 10.9.0.2/24 dev veth1; ip -n "$b" link set veth1 up
start_daemon "$a"
nm() { "$HWROUTE_NM_BIN" --socket "$E2E_TMP/nm.sock" "$@"; }
static_routes() { nm --json stats sw --vrf 0 --proto 4 | python3 -c 'import json,sys; print(json.load(sys.stdin)["value"])'; }

[ "$(static_routes)" = 0 ] || fail "static routes before any was added"
ip -n "$a" route add 198.51.100.0/24 via 10.9.0.2 dev veth0 proto static
for _ in $(seq 50); do [ "$(static_routes)" = 1 ] && break; sleep 0.1; done
[ "$(static_routes)" = 1 ] || fail "hwroute-nm stats sw does not show the static route"
nm stats sw --vrf 0 --proto 4 | grep -q ': 1$' || fail "plain output does not show the count"

# Debug level 2 keeps the route logic's lines and drops the neighbour lines (level 3).
ip -n "$a" neigh replace 10.9.0.5 lladdr 02:00:00:00:00:05 dev veth0
for _ in $(seq 50); do grep -q 'arp add detected' "$E2E_TMP/daemon.log" && break; sleep 0.1; done
grep -q 'arp add detected' "$E2E_TMP/daemon.log" || fail "no neighbour line with all debug output on"
nm debug 2 >/dev/null || fail "hwroute-nm debug 2 failed"
lines_before=$(wc -l < "$E2E_TMP/daemon.log")
ip -n "$a" neigh replace 10.9.0.6 lladdr 02:00:00:00:00:06 dev veth0
ip -n "$a" route add 203.0.113.0/24 via 10.9.0.2 dev veth0 proto static
for _ in $(seq 50); do [ "$(static_routes)" = 2 ] && break; sleep 0.1; done
new=$(tail -n +"$((lines_before + 1))" "$E2E_TMP/daemon.log")
grep -q '\[hwRtnotifyRecv\]' <<< "$new" || fail "no intake line at level 2"
grep -q '\[hwRouteRouteAdd\]' <<< "$new" || fail "no route-add line at level 2"
if grep -q 'arp add detected' <<< "$new"; then fail "neighbour lines still logged at level 2"; fi

# Refused requests are reported with their return code.
if nm raw --func 8 --cmd 2 --value 1 >"$E2E_TMP/raw.out" 2>&1; then fail "a bad set selector was accepted"; fi
grep -qi '0x03e80010' "$E2E_TMP/raw.out" || fail "refusal without its return code: $(cat "$E2E_TMP/raw.out")"
echo "1 passed, 0 failed"
