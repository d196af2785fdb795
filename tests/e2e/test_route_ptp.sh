#!/usr/bin/env bash
# A route through a point-to-point interface goes to hardware as soon as the
# kernel announces it, and leaves when the kernel withdraws it.
. "$E2E_DIR/lib.sh"
e2e_require
a=$(netns a); b=$(netns b)
ip link add veth0 netns "$a" type veth peer name veth1 netns "$b"
ip -n "$a" addr add 10.9.0.1/24 dev veth0; ip -n "$a" link set veth0 up
ip -n "$b" addr add 10.9.0.2/24 dev veth1; ip -n "$b" link set veth1 up
idx=$(ifindex "$a" veth0)
start_daemon "$a" "{\"interfaces\": {\"$idx\": {\"endType\": 22}}}"

ip -n "$a" route add 198.51.100.0/24 via 10.9.0.2 dev veth0
wait_for "has(dest='198.51.100.0', mask=0xffffff00, nh='10.9.0.2', port=$idx, ipPort=$idx, op=1)" \
    "an add of 198.51.100.0/24 via 10.9.0.2 on object 338"

ip -n "$a" route del 198.51.100.0/24 via 10.9.0.2 dev veth0
wait_for "has(dest='198.51.100.0', mask=0xffffff00, nh='10.9.0.2', op=2)" \
    "a delete of 198.51.100.0/24 on object 338"
echo "1 passed, 0 failed"
