# Helpers for the end-to-end tests: namespaces, the daemon, its trace.
set -euo pipefail
# The system interpreter: a version manager's shim in front of it costs
# seconds per start on a loaded machine, and the tests start it often.
[ -x /usr/bin/python3 ] && PATH=/usr/bin:$PATH

E2E_ID="hwr$$x"
E2E_TMP=$(mktemp -d /tmp/hwroute-e2e.XXXXXX)
E2E_NS=()
DAEMON_PID=""
E2E_DAEMON_OPTS=()

e2e_skip() { echo "SKIP: $*"; exit 77; }

e2e_require() {
    [ "$(id -u)" = 0 ] || e2e_skip "needs root"
    command -v ip >/dev/null || e2e_skip "needs iproute2"
    command -v python3 >/dev/null || e2e_skip "needs python3"
    [ -x "${HWROUTE_BIN:-}" ] || e2e_skip "daemon binary not built"
    ip netns add "${E2E_ID}probe" 2>/dev/null || e2e_skip "cannot create network namespaces here"
    ip netns del "${E2E_ID}probe"
}

e2e_cleanup() {
    local rc=$?
    if [ -n "$DAEMON_PID" ]; then kill -CONT "$DAEMON_PID" 2>/dev/null || true; kill "$DAEMON_PID" 2>/dev/null || true; wait "$DAEMON_PID" 2>/dev/null || true; fi
    # netns() runs in a command substitution, so E2E_NS may miss names:
    # every namespace of this run carries the run's prefix.
    for ns in "${E2E_NS[@]}" $(ip netns list 2>/dev/null | awk -v p="$E2E_ID" 'index($1, p) == 1 {print $1}'); do
        ip netns del "$ns" 2>/dev/null || true
    done
    if [ $rc -ne 0 ] && [ $rc -ne 77 ]; then
        echo "---- daemon log (last 60 lines) ----"; tail -n 60 "$E2E_TMP/daemon.log" 2>/dev/null || true
        echo "---- hardware trace ----"; cat "$E2E_TMP/hw.trace" 2>/dev/null || true
    fi
    rm -rf "$E2E_TMP"
    exit $rc
}
trap e2e_cleanup EXIT

fail() { echo "FAIL: $*"; exit 1; }

# netns NAME: create a namespace with loopback up.
netns() {
    local ns="${E2E_ID}$1"
    ip netns add "$ns"
    E2E_NS+=("$ns")
    ip -n "$ns" link set lo up
    echo "$ns"
}

# veth_pair A B [v6]: veth0 in A (10.0.0.1/24) to veth1 in B (10.0.0.2/24),
# both up; with v6 also 2001:db8:1::1/64 and ::2/64, without address checks.
veth_pair() {
    ip link add veth0 netns "$1" type veth peer name veth1 netns "$2"
    ip -n "$1" addr add 10.0.0.1/24 dev veth0
    ip -n "$2" addr add 10.0.0.2/24 dev veth1
    if [ "${3:-}" = v6 ]; then
        ip -n "$1" addr add 2001:db8:1::1/64 dev veth0 nodad
        ip -n "$2" addr add 2001:db8:1::2/64 dev veth1 nodad
    fi
    ip -n "$1" link set veth0 up
    ip -n "$2" link set veth1 up
}

ifindex() { ip -n "$1" -o link show dev "$2" | cut -d: -f1; }
ifmac() { ip -n "$1" -o link show dev "$2" | sed -n 's/.*link\/ether \([0-9a-f:]*\).*/\1/p'; }

# start_daemon NS [CONFIG_JSON]: run hwroute in NS with a trace, a log and
# its own management socket; waits until the socket exists.
start_daemon() {
    local ns=$1 config=${2:-}
    local args=(--hw-trace "$E2E_TMP/hw.trace" --log "$E2E_TMP/daemon.log" --nm-socket "$E2E_TMP/nm.sock")
    # Further daemon options a test wants (an array it sets before the call).
    args+=("${E2E_DAEMON_OPTS[@]}")
    if [ -n "$config" ]; then
        printf '%s\n' "$config" > "$E2E_TMP/platform.json"
        args+=(--platform-config "$E2E_TMP/platform.json")
    fi
    # DAEMON_CLOSED_STDIN=1: the daemon starts with descriptor 0 closed.
    local close0=()
    [ "${DAEMON_CLOSED_STDIN:-0}" = 1 ] && close0=(bash -c 'exec "$@" <&-' _)
    ip netns exec "$ns" "${close0[@]}" "$HWROUTE_BIN" "${args[@]}" 1000 1000 1000 8 100 100 100 1 \
        > "$E2E_TMP/daemon.out" 2>&1 &
    DAEMON_PID=$!
    for _ in $(seq 50); do
        [ -S "$E2E_TMP/nm.sock" ] && return 0
        kill -0 "$DAEMON_PID" 2>/dev/null || fail "daemon exited: $(cat "$E2E_TMP/daemon.out")"
        sleep 0.1
    done
    fail "daemon did not open its management socket"
}

# trace_query PYTHON_EXPR: evaluates the expression over `calls` (the
# parsed trace lines, with 'bytes' added) and prints the result.
trace_query() {
    python3 - "$E2E_TMP/hw.trace" "$1" <<'PY'
import json, sys
calls = []
try:
    for line in open(sys.argv[1]):
        c = json.loads(line)
        c['bytes'] = bytes.fromhex(c['data'])
        calls.append(c)
except FileNotFoundError:
    pass
def u32(b, o): return int.from_bytes(b[o:o + 4], 'big')
def ip(b, o): return '.'.join(str(x) for x in b[o:o + 4])
def mac(b, o): return ':'.join('%02x' % x for x in b[o:o + 6])
def entries(c):
    # IPv4 route entries of a call, walked by their size byte
    b, pos, out = c['bytes'], 0, []
    while c['objectId'] == 338 and pos + 28 <= len(b):
        size = b[pos + 19] * 4
        if size < 28:
            break
        out.append(b[pos:pos + size])
        pos += size
    return out
def entry(e):
    # the fields an operator looks at: destination, mask, first path
    r = {'dest': ip(e, 8), 'mask': u32(e, 12), 'num': e[16]}
    if len(e) >= 92:
        r.update({'nhFlags': u32(e, 28), 'nh': ip(e, 32), 'port': u32(e, 64), 'ipPort': u32(e, 68),
                  'mac': mac(e, 72), 'op': e[86]})
    return r
def all_entries():
    return [entry(e) for c in calls if c['result'] == 0 for e in entries(c)]
def lastof(**kw):
    found = [r for r in all_entries() if all(r.get(k) == v for k, v in kw.items())]
    return found[-1] if found else {}
def has(**kw):
    return any(all(r.get(k) == v for k, v in kw.items()) for r in all_entries())
def ip6(b, o):
    import ipaddress
    return str(ipaddress.IPv6Address(bytes(b[o:o + 16])))
def entries6(c):
    # IPv6 route entries of a call (object 339), walked by their size byte
    b, pos, out = c['bytes'], 0, []
    while c['objectId'] == 339 and pos + 36 <= len(b):
        size = b[pos + 27] * 4
        if size < 36:
            break
        out.append(b[pos:pos + size])
        pos += size
    return out
def entry6(e):
    r = {'dest': ip6(e, 8), 'len': e[24], 'num': e[25]}
    if len(e) >= 100:
        r.update({'nhFlags': u32(e, 36), 'nh': ip6(e, 40), 'port': u32(e, 72), 'ipPort': u32(e, 76),
                  'mac': mac(e, 80), 'op': e[94]})
    return r
def all_entries6():
    return [entry6(e) for c in calls if c['result'] == 0 for e in entries6(c)]
def lastof6(**kw):
    found = [r for r in all_entries6() if all(r.get(k) == v for k, v in kw.items())]
    return found[-1] if found else {}
def has6(**kw):
    return any(all(r.get(k) == v for k, v in kw.items()) for r in all_entries6())
print(eval(sys.argv[2]))
PY
}

# wait_for PYTHON_EXPR DESCRIPTION: waits up to 10 s until the trace query is True.
wait_for() {
    for _ in $(seq 100); do
        [ "$(trace_query "$1")" = True ] && return 0
        sleep 0.1
    done
    fail "timed out waiting for: $2"
}
