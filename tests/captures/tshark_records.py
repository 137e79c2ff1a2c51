#!/usr/bin/env python3
"""Prints the records a capture file should give, as tshark reads it (run once; the suite reads
what it printed, so it does not need tshark).

    tests/captures/tshark_records.py FILE > FILE.records

One line per frame that is a record: frame number, source, destination, protocol (tcp, udp,
icmp), source port, destination port, IP length (IPv4 total length; IPv6 40 + payload length).
The outermost IP header counts (a tunnel's inner packets do not), its next header after IPv6
extension headers must be TCP, UDP, ICMP or ICMPv6, and the same rules as the decoder's leave
out non-first fragments, equal addresses and bare TCP segments (IPv4 total length 40, IPv6
payload length 20). Reassembly is off, as it is in a capture.
"""
import subprocess
import sys

FIELDS = ["frame.number", "frame.protocols", "ip.src", "ip.dst", "ip.len", "ipv6.src", "ipv6.dst",
          "ipv6.plen", "tcp.srcport", "tcp.dstport", "udp.srcport", "udp.dstport"]
EXTENSIONS = {"ipv6.hopopts", "ipv6.routing", "ipv6.fraghdr", "ipv6.dstopts"}
TRANSPORTS = {"tcp": "tcp", "udp": "udp", "icmp": "icmp", "icmpv6": "icmp"}


def records(path):
    command = ["tshark", "-r", path, "-o", "ip.defragment:FALSE", "-o", "ipv6.defragment:FALSE",
               "-o", "tcp.desegment_tcp_streams:FALSE", "-T", "fields", "-E", "separator=|",
               "-E", "occurrence=f"]
    for f in FIELDS:
        command += ["-e", f]
    out = subprocess.run(command, capture_output=True, text=True).stdout
    for line in out.splitlines():
        v = dict(zip(FIELDS, line.split("|")))
        layers = v["frame.protocols"].split(":")
        outer = next((i for i, p in enumerate(layers) if p in ("ip", "ipv6")), None)
        if outer is None:
            continue
        rest = [p for p in layers[outer + 1:] if p not in EXTENSIONS]
        if not rest or rest[0] not in TRANSPORTS:
            continue
        proto = TRANSPORTS[rest[0]]
        if layers[outer] == "ip":
            src, dst = v["ip.src"], v["ip.dst"]
            if not v["ip.len"]:
                continue
            length = int(v["ip.len"])
            bare = proto == "tcp" and length == 40
        else:
            src, dst = v["ipv6.src"], v["ipv6.dst"]
            if not v["ipv6.plen"]:
                continue
            length = (40 + int(v["ipv6.plen"])) % 65536
            bare = proto == "tcp" and int(v["ipv6.plen"]) == 20
        if not src or not dst or src == dst or bare:
            continue
        sport = dport = "0"
        if proto in ("tcp", "udp"):
            sport, dport = v[proto + ".srcport"], v[proto + ".dstport"]
            if not sport or not dport:
                continue
        print(v["frame.number"], src, dst, proto, sport, dport, length)


if __name__ == "__main__":
    records(sys.argv[1])
