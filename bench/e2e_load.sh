#!/usr/bin/env bash
# End-to-end load: how long the kernel alone takes for an `ip -batch` of N
# routes, and how long, in a fresh topology with the daemon running, until
# the daemon reports all N paths in hardware; with their ratio and the routes
# that never arrived. Root; network namespaces; nothing leaves the machine.
#
#   bench/e2e_load.sh [N ...]            default: 100000 1000000
#   KINDS="ptp ethernet" HWROUTE_BIN=build/hwroute HWROUTE_NM_BIN=build/hwroute-nm
#   STALL=20  seconds without progress after the kernel finished before the rest counts as lost
set -euo pipefail

[ "$(id -u)" = 0 ] || { echo "needs root" >&2; exit 1; }
here=$(cd "$(dirname "$0")/.." && pwd)
BIN=${HWROUTE_BIN:-$here/build/hwroute}
NM=${HWROUTE_NM_BIN:-$here/build/hwroute-nm}
KINDS=${KINDS:-ptp ethernet}
STALL=${STALL:-20}
[ -x "$BIN" ] && [ -x "$NM" ] || { echo "build the daemon first (make build)" >&2; exit 1; }
SIZES=("$@")
[ ${#SIZES[@]} -gt 0 ] || SIZES=(100000 1000000)

ID="hwrload$$"
TMP=$(mktemp -d /tmp/hwroute-load.XXXXXX)
PID=""
cleanup() {
    if [ -n "$PID" ]; then kill "$PID" 2>/dev/null || true; wait "$PID" 2>/dev/null || true; PID=""; fi
    ip netns del "${ID}a" 2>/dev/null || true
    ip netns del "${ID}b" 2>/dev/null || true
}
trap 'cleanup; rm -rf "$TMP"' EXIT

now() { date +%s.%N; }
secs() { python3 -c "print('%.1f' % ($2 - $1))"; }

topology() {
    cleanup
    ip netns add "${ID}a"; ip netns add "${ID}b"
    ip -n "${ID}a" link set lo up; ip -n "${ID}b" link set lo up
    ip link add veth0 netns "${ID}a" type veth peer name veth1 netns "${ID}b"
    ip -n "${ID}a" addr add 10.9.0.1/24 dev veth0; ip -n "${ID}a" link set veth0 up
    ip -n "${ID}b" addr add 10.9.0.2/24 dev veth1; ip -n "${ID}b" link set veth1 up
}

# N /24 routes from 11.0.0.0 on through the gateway, one `ip -batch` line each.
batch_file() {
    python3 - "$1" "$TMP/routes" <<'PY'
import sys
n, path = int(sys.argv[1]), sys.argv[2]
with open(path, 'w') as f:
    for i in range(n):
        f.write('route add %d.%d.%d.0/24 via 10.9.0.2 dev veth0\n' % (11 + (i >> 16), (i >> 8) & 255, i & 255))
PY
}

in_hw() { "$NM" --socket "$TMP/nm.sock" --json table-stats hardware-ok-routes 2>/dev/null |
          python3 -c 'import json,sys; print(json.load(sys.stdin)["value"])' 2>/dev/null || echo -1; }

start_daemon() {
    local kind=$1 n=$2 idx config
    idx=$(ip -n "${ID}a" -o link show dev veth0 | cut -d: -f1)
    if [ "$kind" = ptp ]; then
        config="{\"interfaces\": {\"$idx\": {\"endType\": 22}}}"
    else
        config="{\"interfaces\": {\"$idx\": {\"endType\": 6, \"operState\": 1, \"port\": 2, \"vlan\": 0, \"mac\": \"02:00:00:00:00:01\"}}}"
    fi
    echo "$config" > "$TMP/platform.json"
    rm -f "$TMP/nm.sock"
    ip netns exec "${ID}a" "$BIN" --platform-config "$TMP/platform.json" --nm-socket "$TMP/nm.sock" \
        "$((n + 16))" 64 64 8 16 16 16 0 > "$TMP/daemon.out" 2>&1 &
    PID=$!
    for _ in $(seq 100); do [ -S "$TMP/nm.sock" ] && break; sleep 0.1; done
    [ -S "$TMP/nm.sock" ] || { echo "daemon did not start: $(cat "$TMP/daemon.out")" >&2; exit 1; }
    if [ "$kind" = ethernet ]; then
        local mac
        mac=$(ip -n "${ID}b" -o link show dev veth1 | sed -n 's/.*link\/ether \([0-9a-f:]*\).*/\1/p')
        ip -n "${ID}a" neigh replace 10.9.0.2 lladdr "$mac" dev veth0 nud permanent
    fi
    sleep 1
}

printf '%-9s %9s %10s %12s %12s %6s %8s %11s %6s\n' kind N "kernel s" "kernel+d s" "daemon s" ratio lost "peak RSS" load
for n in "${SIZES[@]}"; do
    batch_file "$n"
    for kind in $KINDS; do
        topology
        t0=$(now); ip -n "${ID}a" -batch "$TMP/routes"; t1=$(now)
        alone=$(secs "$t0" "$t1")

        topology
        start_daemon "$kind" "$n"
        base=$(in_hw)
        t0=$(now); ip -n "${ID}a" -batch "$TMP/routes"; t1=$(now)
        got=0; last=-1; last_change=$(now)
        while :; do
            got=$(( $(in_hw) - base ))
            [ "$got" -ge "$n" ] && break
            if [ "$got" != "$last" ]; then last=$got; last_change=$(now); fi
            python3 -c "import sys; sys.exit(0 if $(now) - $last_change > $STALL and $(now) > $t1 else 1)" && break
            sleep 0.2
        done
        t2=$(now)
        [ "$got" -ge "$n" ] || t2=$last_change
        rss=$(awk '/VmHWM/ {print $2 " " $3}' "/proc/$PID/status")
        load=$(cut -d' ' -f1 /proc/loadavg)
        withd=$(secs "$t0" "$t1"); daemon=$(secs "$t0" "$t2")
        ratio=$(python3 -c "print('%.2f' % (($t2 - $t0) / $alone))")
        printf '%-9s %9d %10s %12s %12s %6s %8d %11s %6s\n' "$kind" "$n" "$alone" "$withd" "$daemon" "$ratio" \
            $((n - got)) "$rss" "$load"
        cleanup
    done
done
