#!/usr/bin/env bash
# Lost notifications are repaired: a daemon with the smallest receive buffer
# is stopped while the kernel deletes one of its routes and adds hundreds;
# when it runs again it sees the overrun, reads the kernel's tables and ends
# with exactly the kernel's routes in hardware. A route that was there before
# the daemon started is programmed by the start-up resync.
. "$E2E_DIR/lib.sh"
e2e_require
[ -x "${HWROUTE_NM_BIN:-}" ] || e2e_skip "hwroute-nm not built"
a=$(netns a); b=$(netns b)
ip link add veth0 netns "$a" type veth peer name veth1 netns "$b"
ip -n "$a" addr add 10.9.0.1/24 dev veth0; ip -n "$a" link set veth0 up
ip -n "$b" addr add 10.9.0.2/24 dev veth1; ip -n "$b" link set veth1 up
idx=$(ifindex "$a" veth0)
ip -n "$a" route add 198.51.100.0/24 via 10.9.0.2 dev veth0

E2E_DAEMON_OPTS=(--rcvbuf 1 --sync-at-start)
start_daemon "$a" "{\"interfaces\": {\"$idx\": {\"endType\": 22}}}"
nm() { "$HWROUTE_NM_BIN" --socket "$E2E_TMP/nm.sock" "$@"; }
in_hw() { nm --json table-stats hardware-ok-routes | python3 -c 'import json,sys; print(json.load(sys.stdin)["value"])'; }
grep -q 'granted' "$E2E_TMP/daemon.out" || fail "the granted receive buffer is not reported"
wait_for "has(dest='198.51.100.0', mask=0xffffff00, nh='10.9.0.2', op=1)" "the route present before start-up"

ip -n "$a" route add 203.0.113.0/24 via 10.9.0.2 dev veth0
wait_for "has(dest='203.0.113.0', mask=0xffffff00, nh='10.9.0.2', op=1)" "the route that will be lost"
before=$(in_hw)

kill -STOP "$DAEMON_PID"
ip -n "$a" route del 203.0.113.0/24 via 10.9.0.2 dev veth0
for i in $(seq 0 299); do echo "route add 10.$((77 + i / 200)).$((i % 200)).0/24 via 10.9.0.2 dev veth0"; done | ip -n "$a" -batch -
kill -CONT "$DAEMON_PID"

want=$((before - 1 + 300))
for _ in $(seq 100); do [ "$(in_hw)" = "$want" ] && break; sleep 0.1; done
[ "$(in_hw)" = "$want" ] || fail "paths in hardware: $(in_hw), want $want"
wait_for "has(dest='203.0.113.0', mask=0xffffff00, op=2)" "a hardware delete of the route deleted while notifications were lost"
nm count >/dev/null || fail "hwroute-nm count failed"
for _ in $(seq 50); do grep -q 'rcvOverrunCnt:[1-9]' "$E2E_TMP/daemon.out" && break; sleep 0.1; done
grep -q 'rcvOverrunCnt:[1-9]' "$E2E_TMP/daemon.out" || fail "no overrun counted: $(grep -o 'rcvOverrunCnt:[0-9]*' "$E2E_TMP/daemon.out")"
grep -q 'resyncOkCnt:[1-9]' "$E2E_TMP/daemon.out" || fail "no resync counted"
grep -q 'notification socket overrun' "$E2E_TMP/daemon.log" || fail "no overrun line in the log"
echo "1 passed, 0 failed"
