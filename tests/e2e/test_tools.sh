#!/usr/bin/env bash
# The operator's tools against a running daemon: hwroute-check agrees once
# routes and neighbours settle, reports pending routes as pending, finds a
# trace cut short and writes the hardware refused; hwroute-trace reads the
# trace; hwroute-nm metrics and JSON; bad usage exits 2 with one line.
. "$E2E_DIR/lib.sh"
e2e_require
bin=$(dirname "$HWROUTE_BIN")
CHECK=$bin/hwroute-check TRACE=$bin/hwroute-trace NM=$bin/hwroute-nm
passed=0

# expect_rc RC CMD...: runs CMD, keeps its output in $out and its errors in $err.
expect_rc() {
    local want=$1 rc=0; shift
    "$@" >"$E2E_TMP/out" 2>"$E2E_TMP/err" || rc=$?
    out=$(cat "$E2E_TMP/out"); err=$(cat "$E2E_TMP/err")
    [ "$rc" = "$want" ] || fail "$* exited $rc, expected $want; out: $out; err: $err"
}

for cmd in "$CHECK --bogus" "$CHECK --trace" "$TRACE --nope" "$TRACE a b" "$NM metrics extra" "$NM --socket"; do
    expect_rc 2 $cmd
    [ "$(wc -l <"$E2E_TMP/err")" = 1 ] || fail "$cmd: expected one line, got: $err"
done
expect_rc 3 "$CHECK" --socket "$E2E_TMP/none.sock"
[[ $err == *"cannot connect to $E2E_TMP/none.sock"* ]] || fail "unreachable socket not named: $err"
expect_rc 1 "$TRACE" "$E2E_TMP/none.trace"
[[ $err == *"$E2E_TMP/none.trace: cannot open"* ]] || fail "missing trace not named: $err"
passed=$((passed + 1))

# A namespace whose every route and address the daemon sees arrive; IPv6 is
# off there, so only what the test adds is compared.
setup() {
    a="${E2E_ID}$1"; ip netns add "$a"; E2E_NS+=("$a")
    b=$(netns "$1peer")
    ip netns exec "$a" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
    start_daemon "$a" "${2:-}"
    ip -n "$a" link set lo up
    ip link add veth0 netns "$a" type veth peer name veth1 netns "$b"
    ip -n "$a" addr add 10.9.0.1/24 dev veth0; ip -n "$a" link set veth0 up
    ip -n "$b" addr add 10.9.0.2/24 dev veth1; ip -n "$b" link set veth1 up
    ip -n "$a" route add 203.0.113.0/24 via 10.9.0.2 dev veth0
}
check() { expect_rc "$1" ip netns exec "$a" "$CHECK" --socket "$E2E_TMP/nm.sock" "${@:2}"; }

setup a
wait_for "has(dest='203.0.113.0', op=1)" "route 203.0.113.0/24 in hardware"
sleep 0.5
check 0 --trace "$E2E_TMP/hw.trace"
[[ $out == *"hwroute-check: all agree"* ]] || fail "no agreement: $out"
check 0
passed=$((passed + 1))

# No live peer: the route waits for its neighbour, pending and no difference.
ip -n "$a" route add 192.0.2.0/24 via 10.9.0.3 dev veth0
sleep 1
check 0 --trace "$E2E_TMP/hw.trace"
[[ $out == *"pending: route 192.0.2.0/24 via 10.9.0.3"* ]] || fail "pending route not reported: $out"
check 0 --json
python3 -c 'import json,sys; d=json.load(sys.stdin); assert d["agree"] and len(d["pending"]) == 1, d' <<<"$out" \
    || fail "JSON report: $out"
passed=$((passed + 1))

# The trace cut before the route's add: the hardware lacks it.
line=$("$TRACE" "$E2E_TMP/hw.trace" | grep -n 'route vrf 0 203.0.113.0/24' | head -n 1 | cut -d: -f1)
head -n $((line - 1)) "$E2E_TMP/hw.trace" > "$E2E_TMP/cut.trace"
check 1 --trace "$E2E_TMP/cut.trace"
[[ $out == *"missing in hardware: route 203.0.113.0/24"* ]] || fail "cut trace not found: $out"
# A trace cut inside a line names the file and line.
head -c -10 "$E2E_TMP/hw.trace" > "$E2E_TMP/torn.trace"
expect_rc 1 "$TRACE" "$E2E_TMP/torn.trace"
[[ $err == *"torn.trace:$(wc -l <"$E2E_TMP/hw.trace"): trace cut short"* ]] || fail "torn trace: $err"
passed=$((passed + 1))

# The trace reader: one line per call; the state holds the route and the host entry.
expect_rc 0 "$TRACE" --state "$E2E_TMP/hw.trace"
[[ $out == *"vrf 0 203.0.113.0/24: via 10.9.0.2"* && $out == *"vrf 0 10.9.0.2 mac $(ifmac "$b" veth1)"* ]] \
    || fail "trace state: $out"
expect_rc 0 "$TRACE" --state --json "$E2E_TMP/hw.trace"
python3 -c 'import json,sys; d=json.load(sys.stdin); assert any(r["prefix"] == "203.0.113.0/24" for r in d["routes"])' \
    <<<"$out" || fail "trace state JSON: $out"
# Following the trace shows a call made after it started.
"$TRACE" --follow "$E2E_TMP/hw.trace" > "$E2E_TMP/follow.out" 2>&1 &
follower=$!
ip -n "$a" route add 198.51.100.0/24 via 10.9.0.2 dev veth0
for _ in $(seq 50); do grep -q '198.51.100.0/24' "$E2E_TMP/follow.out" && break; sleep 0.1; done
kill "$follower"; wait "$follower" 2>/dev/null || true
grep -q 'route vrf 0 198.51.100.0/24 nexthops 1: add via 10.9.0.2' "$E2E_TMP/follow.out" \
    || fail "--follow did not show the new route: $(cat "$E2E_TMP/follow.out")"
passed=$((passed + 1))

# Metrics and JSON counters from the daemon.
expect_rc 0 "$NM" --socket "$E2E_TMP/nm.sock" metrics
grep -qx 'hwroute_hardware_ok_arp_cnt [1-9][0-9]*' <<<"$out" || fail "metrics: $out"
grep -qx '# HELP hwroute_hardware_ok_arp_cnt hardware ok arpCnt' <<<"$out" || fail "metrics HELP: $out"
expect_rc 0 "$NM" --socket "$E2E_TMP/nm.sock" count --json
python3 -c 'import json,sys; d=json.load(sys.stdin); assert any(c["label"] == "pend routeCnt" and c["value"] == 1 for c in d["counters"]), d' \
    <<<"$out" || fail "count --json: $out"
expect_rc 0 "$NM" --socket "$E2E_TMP/nm.sock" count --summary
grep -qx 'pend routeCnt: 1' <<<"$out" || fail "count --summary: $out"
! grep -q 'rtAddCnt' <<<"$out" || fail "count --summary shows verbose counters"
expect_rc 0 "$NM" --socket "$E2E_TMP/nm.sock" stats --json
python3 -c 'import json,sys; d=json.load(sys.stdin); assert any(s["table"] == "hw" and s["value"] >= 1 for s in d["stats"]), d' \
    <<<"$out" || fail "stats --json: $out"
passed=$((passed + 1))

# A platform that refuses every write to the IPv4 route object.
kill "$DAEMON_PID"; wait "$DAEMON_PID" 2>/dev/null || true; DAEMON_PID=""
rm -f "$E2E_TMP/nm.sock"
setup c '{"hardware": {"refuse": [{"objectId": 338, "fromCall": 1, "count": 1000000}]}}'
wait_for "any(c['result'] != 0 for c in calls)" "a refused write"
sleep 1
check 1 --trace "$E2E_TMP/hw.trace"
# The route through the refused neighbour waits for it; the local routes are refused themselves.
[[ $out == *"missing in hardware: neighbour 10.9.0.2"* && $out == *"missing in hardware: route 10.9.0.1/32"* ]] \
    || fail "refused writes not found: $out"
check 1
[[ $out == *"missing in hardware: neighbour 10.9.0.2 (the hardware refused it)"* ]] || fail "refusal without trace: $out"
passed=$((passed + 1))
echo "$passed passed, 0 failed"
