#!/usr/bin/env python3
"""Prints what tshark reads from a capture of flow-export datagrams (the reference for the feed
tests, which run it on what real exporters just sent).

    tshark_feed_records.py sflow PORT FILE   one line per sampled packet header:
        source destination protocol source-port destination-port IP-length
        (the rules of tests/captures/tshark_records.py: IPv6 length is 40 + payload length;
        equal addresses, bare TCP segments and other protocols give no line)
    tshark_feed_records.py cflow PORT FILE   one line per NetFlow/IPFIX flow record:
        source destination protocol source-port destination-port packets octets tcp-flags
"""
import json
import subprocess
import sys

TRANSPORTS = {"tcp": "tcp", "udp": "udp", "icmp": "icmp", "icmpv6": "icmp"}


def dissect(kind, port, path):
    out = subprocess.run(["tshark", "-r", path, "-d", "udp.port==%s,%s" % (port, kind), "-o",
                          "ip.defragment:FALSE", "-T", "json", "--no-duplicate-keys"],
                         capture_output=True, text=True).stdout
    return json.loads(out) if out.strip() else []


def walk(node, visit):
    if isinstance(node, dict):
        if visit(node):
            return
        for value in node.values():
            walk(value, visit)
    elif isinstance(node, list):
        for value in node:
            walk(value, visit)


def first(value):
    return value[0] if isinstance(value, list) and value else value


def sample_line(header):
    # The outer IP header and the transport that follows it (an ICMP error quotes more).
    ip, ipv6 = first(header.get("ip")), first(header.get("ipv6"))
    key = next((k for k in header if k in TRANSPORTS), None)
    if key is None or (ip is None and ipv6 is None):
        return None
    proto = TRANSPORTS[key]
    if ip is not None and "ip.src" not in ip:
        return None  # an IPv4 EtherType over another version: no IPv4 header to read
    if ip is not None:
        src, dst, length = first(ip["ip.src"]), first(ip["ip.dst"]), int(first(ip["ip.len"]))
        bare = proto == "tcp" and length == 40
    else:
        plen = int(first(ipv6["ipv6.plen"]))
        src, dst, length = first(ipv6["ipv6.src"]), first(ipv6["ipv6.dst"]), (40 + plen) % 65536
        bare = proto == "tcp" and plen == 20
    if src == dst or bare:
        return None
    sport = dport = "0"
    if proto in ("tcp", "udp"):
        layer = first(header[key])
        sport, dport = first(layer[proto + ".srcport"]), first(layer[proto + ".dstport"])
    return " ".join([src, dst, proto, sport, dport, str(length)])


def flow_line(flow):
    def get(*names):
        for n in names:
            if n in flow:
                return first(flow[n])
        return None
    src = get("cflow.srcaddr", "cflow.srcaddrv6")
    dst = get("cflow.dstaddr", "cflow.dstaddrv6")
    if src is None or dst is None:
        return None
    flags = get("cflow.tcpflags", "cflow.tcpflags16") or "0"
    return " ".join([src, dst, get("cflow.protocol") or "0", get("cflow.srcport") or "0",
                     get("cflow.dstport") or "0", get("cflow.packets", "cflow.packets64") or "0",
                     get("cflow.octets", "cflow.octets64") or "0", str(int(flags, 0))])


def main():
    kind, port, path = sys.argv[1], sys.argv[2], sys.argv[3]
    lines = []

    def visit(node):
        if kind == "sflow" and "sflow_245.header_tree" in node:
            line = sample_line(node["sflow_245.header_tree"])
            if line:
                lines.append(line)
            return True
        if kind == "cflow" and any(k.startswith("cflow.srcaddr") for k in node):
            line = flow_line(node)
            if line:
                lines.append(line)
            return True
        return False

    for packet in dissect(kind, port, path):
        walk(packet["_source"]["layers"], visit)
    for line in lines:
        print(line)


main()
