#!/usr/bin/env bash
# The daemon's two inputs against whoever should not use them: what is found
# at the management socket path, clients of another user, silent clients,
# oversized frames, a start with descriptor 0 closed, and notifications sent
# by a user process instead of the kernel.
. "$E2E_DIR/lib.sh"
e2e_require
command -v unshare >/dev/null || e2e_skip "needs unshare"
a=$(netns a); b=$(netns b)
ip link add veth0 netns "$a" type veth peer name veth1 netns "$b"
ip -n "$a" addr add 10.9.0.1/24 dev veth0; ip -n "$a" link set veth0 up
ip -n "$b" addr add 10.9.0.2/24 dev veth1; ip -n "$b" link set veth1 up
chmod 0711 "$E2E_TMP"  # other users may reach the socket, the daemon's checks decide
NUMBERS=(1000 1000 1000 8 100 100 100 1)
nm() { "$HWROUTE_NM_BIN" --socket "$E2E_TMP/nm.sock" "$@"; }
# counter LABEL: the value the daemon's counter dump shows for LABEL.
counter() {
    local before
    before=$(grep -ao "$1:[0-9]*" "$E2E_TMP/daemon.out" | wc -l)
    nm count >/dev/null || fail "hwroute-nm count failed"
    for _ in $(seq 20); do [ "$(grep -ao "$1:[0-9]*" "$E2E_TMP/daemon.out" | wc -l)" -gt "$before" ] && break; sleep 0.1; done
    grep -ao "$1:[0-9]*" "$E2E_TMP/daemon.out" | tail -1 | cut -d: -f2
}
# counter_is LABEL VALUE: true once the dump shows VALUE (a datagram sent
# just before may be read after the dump request in the same pass).
counter_is() {
    for _ in $(seq 10); do [ "$(counter "$1")" = "$2" ] && return 0; sleep 0.2; done
    return 1
}
stop_daemon() { kill "$DAEMON_PID"; wait "$DAEMON_PID" 2>/dev/null || true; DAEMON_PID=""; }
# client USER LENGTH BODY_HEX: one framed request sent as USER (uid), then
# what came back, as hex ("" when the daemon closed without an answer).
client() {
    python3 - "$E2E_TMP/nm.sock" "$@" <<'PY'
import os, socket, struct, sys
path, uid, length, body = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), bytes.fromhex(sys.argv[4])
if uid != 0:
    os.setgroups([]); os.setgid(uid); os.setuid(uid)
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.settimeout(15)
s.connect(path)
out = b''
try:
    s.sendall(struct.pack('>I', length) + body)
    while True:
        chunk = s.recv(4096)
        if not chunk:
            break
        out += chunk
except (BrokenPipeError, ConnectionResetError):
    pass  # closed unanswered
print(out.hex())
PY
}
# A table statistics request (func 5, item 1) in the documented byte layout.
REQ=$(python3 -c "import struct; print((struct.pack('>5I', 0x41445231, 1, 5, 0, 1) + bytes([1, 0, 0, 0, 0]) + struct.pack('>i', 0) + bytes([3, 2]) + struct.pack('>HI', 4, 0)).hex())")
REQ_LEN=$(( ${#REQ} / 2 ))
fails=0

# 1. Something already at the socket path: refused with one line, left alone.
mkdir "$E2E_TMP/taken-dir"; echo keep > "$E2E_TMP/taken-file"
for taken in taken-dir taken-file; do
    rc=0
    ip netns exec "$a" timeout 10 "$HWROUTE_BIN" --nm-socket "$E2E_TMP/$taken" "${NUMBERS[@]}" \
        > "$E2E_TMP/out" 2> "$E2E_TMP/err" || rc=$?
    [ "$rc" = 1 ] || fail "$taken: exit status $rc, expected 1"
    [ "$(wc -l < "$E2E_TMP/err")" = 1 ] || fail "$taken: not one line: $(cat "$E2E_TMP/err")"
    grep -q "^hwroute: management socket $E2E_TMP/$taken: exists and is not a socket; not starting$" "$E2E_TMP/err" \
        || fail "$taken: $(cat "$E2E_TMP/err")"
done
[ -d "$E2E_TMP/taken-dir" ] && [ "$(cat "$E2E_TMP/taken-file")" = keep ] || fail "the daemon removed what it found"

# 2. The default place: a fresh /run gets a root-owned directory of mode 0750;
# a second daemon finds the socket live and refuses to start.
ip netns exec "$a" unshare -m bash -c '
    mount -t tmpfs none /run || exit 77
    "$0" "$@" >/dev/null 2>&1 & pid=$!
    for _ in $(seq 50); do [ -S /run/hwroute/hwrouteNm.socket ] && break; sleep 0.1; done
    stat -c "%a %u %F" /run/hwroute /run/hwroute/hwrouteNm.socket
    timeout 10 "$0" "$@" 2>&1 >/dev/null; echo "second: $?"
    kill $pid; wait $pid' "$HWROUTE_BIN" "${NUMBERS[@]}" > "$E2E_TMP/default" 2>&1 || true
expected="750 0 directory
600 0 socket
hwroute: management socket /run/hwroute/hwrouteNm.socket: another process is listening on it; not starting
second: 1"
[ "$(cat "$E2E_TMP/default")" = "$expected" ] || fail "default socket place: $(cat "$E2E_TMP/default")"
echo "ok: default directory and refused second daemon"

# 3. Clients against a daemon started with descriptor 0 closed.
E2E_DAEMON_OPTS=(--nm-socket-mode 0666)
DAEMON_CLOSED_STDIN=1 start_daemon "$a"
[ "$(readlink "/proc/$DAEMON_PID/fd/0")" = /dev/null ] || fail "descriptor 0: $(readlink "/proc/$DAEMON_PID/fd/0")"
[ "$(client 0 "$REQ_LEN" "$REQ" | cut -c1-8)" = "$(printf '%08x' "$REQ_LEN")" ] || fail "root's request unanswered"
[ "$(client 65534 "$REQ_LEN" "$REQ")" = "" ] || fail "a request of user nobody was answered"
counter_is nmPeerRefusedCnt 1 || fail "refused peer not counted"
# A silent client connects and stays for a minute without a byte; a request
# behind it is still answered (the client waits up to 15 s), because the
# daemon gives up on the silent one.
python3 -c "import socket,time; s=socket.socket(socket.AF_UNIX); s.connect('$E2E_TMP/nm.sock'); open('$E2E_TMP/silent', 'w').close(); time.sleep(60)" &
silent=$!
for _ in $(seq 50); do [ -e "$E2E_TMP/silent" ] && break; sleep 0.1; done
[ "$(client 0 "$REQ_LEN" "$REQ" | cut -c1-8)" = "$(printf '%08x' "$REQ_LEN")" ] || fail "no answer behind a silent client"
kill $silent 2>/dev/null || true; wait $silent 2>/dev/null || true
counter_is nmRecvTimeoutCnt 1 || fail "the silent client's time-out is not counted"
[ "$(client 0 100000 "$REQ")" = 00000000 ] || fail "an oversized frame was not refused with length 0"
# The notification socket was not given descriptor 0: kernel routes arrive.
ip -n "$a" route add 203.0.113.0/24 via 10.9.0.2 dev veth0
wait_for "has(dest='203.0.113.0', mask=0xffffff00, op=1)" "a kernel route with descriptor 0 closed at start"
echo "ok: credentials, silent client, oversized frame, descriptor 0"

# 4. A route add from a user process is dropped and counted.
ip netns exec "$a" python3 - "$DAEMON_PID" <<'PY'
import socket, struct, sys
def attr(t, p): return struct.pack('=HH', 4 + len(p), t) + p + bytes(-len(p) % 4)
body = struct.pack('=BBBBBBBBI', 2, 24, 0, 0, 254, 4, 0, 1, 0) + attr(1, bytes([198, 51, 100, 0])) + attr(5, bytes([10, 9, 0, 2]))
msg = struct.pack('=IHHII', 16 + len(body), 24, 0, 1, 0) + body
s = socket.socket(socket.AF_NETLINK, socket.SOCK_RAW, 0)
s.bind((0, 0))
s.sendto(msg, (int(sys.argv[1]), 0))
PY
counter_is notifyForeignDropCnt 1 || fail "the injected datagram was not counted as dropped"
[ "$(trace_query "has(dest='198.51.100.0')")" = False ] || fail "the injected route reached hardware"
stop_daemon
echo "ok: injected notification dropped"

# 5. --nm-group lets the group's members in (the socket becomes 0660, group-owned).
E2E_DAEMON_OPTS=(--nm-group 65534)
start_daemon "$a"
for _ in $(seq 20); do [ "$(stat -c '%a %g' "$E2E_TMP/nm.sock")" = "660 65534" ] && break; sleep 0.1; done
[ "$(stat -c '%a %g' "$E2E_TMP/nm.sock")" = "660 65534" ] || fail "group socket: $(stat -c '%a %g' "$E2E_TMP/nm.sock")"
[ "$(client 65534 "$REQ_LEN" "$REQ" | cut -c1-8)" = "$(printf '%08x' "$REQ_LEN")" ] || fail "a member of --nm-group was refused"
echo "5 passed, 0 failed"
