#!/usr/bin/env python3
"""Writes the crafted part of the fuzz corpus: one datagram for every message
type the daemon handles (and a few framing cases), management requests in the
documented byte layout, and platform configurations. Rerun after changing it;
the captured part comes from capture_corpus.py."""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, 'corpus')


def nlmsg(mtype, body, flags=0, seq=1):
    return struct.pack('=IHHII', 16 + len(body), mtype, flags, seq, 0) + body


def attr(atype, payload):
    return struct.pack('=HH', 4 + len(payload), atype) + payload + bytes(-len(payload) % 4)


def u32(v):
    return struct.pack('=I', v)


def ip4(text, width=4):
    return bytes(int(x) for x in text.split('.')) + bytes(width - 4)


def ip6(prefix_bytes):
    return bytes(prefix_bytes) + bytes(16 - len(prefix_bytes))


def route(mtype, dest, plen, gw, unit, proto=4, vrf=None, weight=None, family=2, table=254):
    body = struct.pack('=BBBBBBBBI', family, plen, 0, 0, table, proto, 0, 1, 0)
    if family == 2:
        body += attr(1, ip4(dest)) + attr(4, u32(unit))
        if gw:
            body += attr(5, ip4(gw))
    else:
        body += attr(1, ip6(dest)) + attr(4, u32(unit))
        if gw:
            body += attr(5, ip6(gw))
    if weight is not None:
        body += attr(8, u32(weight))
    if vrf is not None:
        body += attr(18, u32(vrf))
    return nlmsg(mtype, body)


def neigh(mtype, addr, mac, unit, state=0x02, family=2):
    body = struct.pack('=BBHiHBB', family, 0, 0, unit, state, 0, 1)
    body += attr(1, ip4(addr) if family == 2 else ip6(addr))
    if mac:
        body += attr(2, bytes(mac))
    return nlmsg(mtype, body)


def link(mtype, unit, flags=0x1043):
    body = struct.pack('=BBHiII', 0, 0, 1, unit, flags, 0xffffffff) + attr(3, b'veth0\0')
    return nlmsg(mtype, body)


def fixed(mtype, size, fields):
    """A platform message of `size` bytes (header included) with fields placed
    at their offsets: {offset: bytes}."""
    b = bytearray(size - 16)
    for off, value in fields.items():
        b[off - 16:off - 16 + len(value)] = value
    return nlmsg(mtype, bytes(b))


def mpls(mtype, op, vrf=0, unit=2, dest='198.51.100.0', nh='10.9.0.2', plen=24, labels=(1000 << 12 | 0x1ff,)):
    f = {16: u32(vrf), 20: u32(unit), 24: u32(unit), 28: ip4(dest, 16), 44: ip4(nh, 16),
         60: bytes([2]), 61: bytes([1]), 62: bytes([plen]), 63: bytes([0]), 64: bytes([len(labels)]),
         65: bytes([2]), 66: bytes([op]), 68: u32(2000),
         88: u32(0), 92: ip4('10.9.0.0', 16), 108: ip4('10.9.0.2', 16), 124: bytes([24, 4, 1, 1])}
    for i, lab in enumerate(labels):
        f[72 + 4 * i] = u32(lab)
    return fixed(mtype, 128, f)


def l2vpn(mtype, vfi=5, vpn_type=1):
    f = {16: u32(0), 20: u32(2), 24: struct.pack('=H', vfi), 26: bytes([vpn_type]), 27: bytes([2]),
         32: u32(3), 36: struct.pack('=H', 100), 44: u32(3000 << 12), 48: u32(3001 << 12), 52: u32(3002 << 12),
         60: ip4('10.9.0.2', 16), 76: u32(0), 80: u32(2), 84: ip4('10.9.0.0', 16), 100: bytes([24, 4, 1, 1])}
    return fixed(mtype, 104, f)


def card(mtype, sys_id=0, a=1):
    return fixed(mtype, 32, {16: u32(sys_id), 20: u32(a)})


MAC = [2, 0, 0, 0, 0, 0x0a]
DATAGRAMS = {
    'route-add': route(24, '198.51.100.0', 24, '10.9.0.2', 2),
    'route-add-vrf-weight': route(24, '203.0.113.0', 24, '10.9.0.3', 2, vrf=7, weight=0x105),
    'route-del': route(25, '198.51.100.0', 24, '10.9.0.2', 2),
    'route-host-local': route(24, '10.9.0.1', 32, None, 2, proto=2, table=255),
    'route6-add': route(24, [0x20, 0x01, 0x0d, 0xb8], 64, [0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2], 2,
                        family=10),
    'route6-del': route(25, [0x20, 0x01, 0x0d, 0xb8], 64, None, 2, family=10),
    'neigh-add': neigh(28, '10.9.0.2', MAC, 2),
    'neigh-del': neigh(29, '10.9.0.2', MAC, 2),
    'neigh-incomplete': neigh(28, '10.9.0.3', None, 2, state=0x01),
    'neigh6-add': neigh(28, [0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2], MAC, 2, family=10),
    'link-new': link(16, 2),
    'link-del': link(17, 2, flags=0),
    'card-up': card(87),
    'slot-up': card(90),
    'ilm-add': mpls(129, 24),
    'ilm-del': mpls(130, 25),
    'vpn-add': mpls(131, 24, vrf=9),
    'vpn-del': mpls(132, 25, vrf=9),
    'l2vpn-add': l2vpn(133),
    'l2vpn-del': l2vpn(134),
    'resend': card(135),
    'resend-other': card(136, sys_id=3),
    'tunnel-add': nlmsg(137, bytes(16)),
    'tunnel-del': nlmsg(138, bytes(16)),
    'vpn-flush': nlmsg(148, b''),
    'error-eexist': nlmsg(2, struct.pack('=i', -17) + bytes(16)) + route(24, '192.0.2.0', 24, '10.9.0.2', 2),
    'done-then-route': nlmsg(3, u32(0)) + route(24, '192.0.2.0', 24, '10.9.0.2', 2),
    'unknown-between': route(24, '192.0.2.0', 24, '10.9.0.2', 2) + nlmsg(20, bytes(3)) + bytes(1)
                       + neigh(28, '10.9.0.2', MAC, 2),
    'second-too-long': route(24, '192.0.2.0', 24, '10.9.0.2', 2) + struct.pack('=IHHII', 4000, 24, 0, 0, 0),
    'short-ilm': nlmsg(129, bytes(20)),
}


def sequence(*names):
    out = b''
    for n in names:
        d = DATAGRAMS[n]
        out += struct.pack('<H', len(d)) + d
    return out


SEQUENCES = {
    'route-then-neigh': sequence('route-add', 'neigh-add', 'route-add-vrf-weight', 'route-del', 'neigh-del'),
    'neigh-flap': sequence('neigh-add', 'route-add', 'neigh-del', 'neigh-add', 'card-up', 'route-del'),
    'mpls': sequence('neigh-add', 'route-add', 'ilm-add', 'vpn-add', 'l2vpn-add', 'resend', 'vpn-del',
                     'ilm-del', 'l2vpn-del', 'vpn-flush', 'route-del'),
    'ipv6': sequence('neigh6-add', 'route6-add', 'route6-del', 'link-del', 'link-new'),
}


def nm_request(func=5, cmd=0, index_num=0, vrf=0, value_type=2, value=b'\xde\xad\xbe\xef', index_mark=1,
               value_mark=3, length=None):
    b = struct.pack('>5I', 0x41445231, 0x0BADF00D, func, 0, cmd) + bytes([index_mark, index_num, 0, 0, 0])
    b += struct.pack('>i', vrf) + bytes([value_mark, value_type])
    b += struct.pack('>H', len(value) if length is None else length) + value
    return b


NM = {
    'table-stats': nm_request(5, 1),
    'table6-stats': nm_request(13, 1),
    'proto-stats': nm_request(1, 4, index_num=1, vrf=0),
    'proto-stats-octets': nm_request(2, 4, index_num=1, vrf=3, value_type=0, value=b'\0\0\0\0'),
    'proto6-stats': nm_request(10, 2, index_num=1, vrf=2047),
    'show-table': nm_request(6, 1),
    'route-count': nm_request(7, 1),
    'debug-set': nm_request(8, 1, value=b'\0\0\0\x03'),
    'debug-bad-selector': nm_request(8, 2, value=b'\0\0\0\x01'),
    'short-value': nm_request(1, 4, index_num=1, length=2, value=b'\0\0'),
    'bad-index-num': nm_request(5, 1, index_num=1),
    'too-short': nm_request(5, 1)[:20],
}

CONFIGS = {
    'interfaces': '{"interfaces": {"2": {"endType": 22, "vlan": 10, "port": 3, "mac": "00:11:22:33:44:55", '
                  '"operState": 1, "tunCreateTick": 7, "fail": ["mac"]}}, "localPort": 0}',
    'system': '{"systemMac": "02:00:00:00:00:01", "protocolPreference": {"188": 110}, "selfSysIndex": 0, '
              '"tunCreateTick": 0, "fail": ["localPort", "systemMac"]}',
    'card-queries': '{"cardQueries": {"slot": {"0x1F4002A": 1}, "card": {"0x2EE002B": {"result": 0, '
                    '"value": 168}}, "scalar": {"52": {"result": 0, "value": 1}}}}',
    'hardware': '{"hardware": {"refuse": [{"objectId": 338, "fromCall": 2, "count": 1}]}}',
    'bad-type': '{"interfaces": {"2": {"endType": "x"}}}',
    'unicode': '{"interfaces": {"\\u0032": {"vlan": 1e2}}}',
    'truncated': '{ "interfaces": ',
}


def write(folder, name, data):
    os.makedirs(os.path.join(CORPUS, folder), exist_ok=True)
    with open(os.path.join(CORPUS, folder, name), 'wb') as f:
        f.write(data)


def main():
    if sys.byteorder != 'little':
        sys.exit('netlink datagrams are host order: craft on the little-endian build host')
    for name, d in DATAGRAMS.items():
        write('datagram', 'crafted-' + name, d)
    for name, s in SEQUENCES.items():
        write('sequence', 'crafted-' + name, s)
    for name, r in NM.items():
        write('nm', 'crafted-' + name, r)
    for name, c in CONFIGS.items():
        write('config', 'crafted-' + name + '.json', c.encode())


if __name__ == '__main__':
    main()
