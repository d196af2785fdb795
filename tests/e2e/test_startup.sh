#!/usr/bin/env bash
# The daemon starts in a fresh namespace, stays alive, binds its
# notification socket to route groups 1 to 28 and creates its trace file.
. "$E2E_DIR/lib.sh"
e2e_require
ns=$(netns a)
start_daemon "$ns"
sleep 1
kill -0 "$DAEMON_PID" 2>/dev/null || fail "daemon is not alive"
[ -f "$E2E_TMP/hw.trace" ] || fail "--hw-trace did not create the trace file"
ip netns exec "$ns" cat /proc/net/netlink | awk -v pid="$DAEMON_PID" '$2 == 0 && $3 == pid && $4 == "0fffffff"' | grep -q . \
    || { ip netns exec "$ns" cat /proc/net/netlink; fail "no route notification socket bound to groups 1-28"; }
echo "1 passed, 0 failed"
