#!/usr/bin/env python3
"""Captures real notification datagrams from the kernel for the fuzz corpus.
Needs root: makes two network namespaces joined by a veth pair, listens on
route groups 1 to 28 in one of them, runs address, route and neighbour
changes there, and stores each datagram as the daemon would read it (at most
1024 bytes) under corpus/datagram/, plus the whole session as one input
under corpus/sequence/."""
import os
import select
import socket
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, 'corpus')
NS_A, NS_B = 'hwrfuzzA%d' % os.getpid(), 'hwrfuzzB%d' % os.getpid()

STEPS = [
    ('link-up', 'ip link set veth0 up'),
    ('addr', 'ip addr add 10.9.0.1/24 dev veth0'),
    ('addr6', 'ip addr add 2001:db8:9::1/64 dev veth0 nodad'),
    ('route', 'ip route add 198.51.100.0/24 via 10.9.0.2 dev veth0 proto static'),
    ('route-ecmp', 'ip route add 203.0.113.0/24 nexthop via 10.9.0.2 nexthop via 10.9.0.3'),
    ('neigh', 'ip neigh replace 10.9.0.3 lladdr 02:00:00:00:00:03 dev veth0'),
    ('neigh-change', 'ip neigh change 10.9.0.3 lladdr 02:00:00:00:00:04 dev veth0'),
    ('route6', 'ip -6 route add 2001:db8:1::/64 via 2001:db8:9::2 dev veth0'),
    ('neigh6', 'ip -6 neigh replace 2001:db8:9::2 lladdr 02:00:00:00:00:05 dev veth0'),
    ('resolve', 'python3 -c "import socket; socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(b\'x\', (\'10.9.0.2\', 9))"'),
    ('route-del', 'ip route del 198.51.100.0/24 via 10.9.0.2 dev veth0'),
    ('neigh-del', 'ip neigh del 10.9.0.3 dev veth0'),
    ('route6-del', 'ip -6 route del 2001:db8:1::/64'),
    ('link-down', 'ip link set veth0 down'),
]


def sh(cmd, ns=NS_A):
    subprocess.run(['ip', 'netns', 'exec', ns] + cmd.split(), check=False, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def drain(sock, wait=0.3):
    out = []
    while select.select([sock], [], [], wait)[0]:
        data, (port, _) = sock.recvfrom(65536)
        if port == 0:
            out.append(data[:1024])
        wait = 0.05
    return out


def inside():
    """Runs in the listening namespace."""
    sock = socket.socket(socket.AF_NETLINK, socket.SOCK_RAW, socket.NETLINK_ROUTE)
    sock.bind((0, 0x0FFFFFFF))
    session = b''
    n = 0
    for what, cmd in STEPS:
        subprocess.run(cmd, shell=True, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for d in drain(sock):
            n += 1
            with open(os.path.join(CORPUS, 'datagram', 'kernel-%02d-%s' % (n, what)), 'wb') as f:
                f.write(d)
            session += struct.pack('<H', len(d)) + d
    with open(os.path.join(CORPUS, 'sequence', 'kernel-session'), 'wb') as f:
        f.write(session)
    print('%d datagrams captured' % n)


def main():
    if sys.argv[1:] == ['--inside']:
        return inside()
    if os.geteuid() != 0:
        sys.exit('needs root')
    subprocess.run(['ip', 'netns', 'add', NS_A], check=True)
    subprocess.run(['ip', 'netns', 'add', NS_B], check=True)
    try:
        subprocess.run(['ip', 'link', 'add', 'veth0', 'netns', NS_A, 'type', 'veth', 'peer', 'name', 'veth1',
                        'netns', NS_B], check=True)
        sh('ip addr add 10.9.0.2/24 dev veth1', NS_B)
        sh('ip link set veth1 up', NS_B)
        subprocess.run(['ip', 'netns', 'exec', NS_A, sys.executable, os.path.abspath(__file__), '--inside'],
                       check=True)
    finally:
        subprocess.run(['ip', 'netns', 'del', NS_A], check=False)
        subprocess.run(['ip', 'netns', 'del', NS_B], check=False)


if __name__ == '__main__':
    main()
