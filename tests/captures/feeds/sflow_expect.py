#!/usr/bin/env python3
"""Writes what tshark reads in an sFlow capture, one line per datagram and per raw packet header:

  D <frame> <agent> <sub-agent> <sequence> <samples>      (or: D <frame> malformed)
  S <rate> <protocol> <frame length> <header length> <header hex> <src> <dst> <sport> <dport>

src/dst/ports are tshark's reading of the sampled header ("-" when it finds no IP or no ports).
Usage: sflow_expect.py capture.pcap > capture.tshark.txt
"""
import json
import subprocess
import sys


def pairs(p):
    return p  # keep repeated keys in order


def get(node, key):
    return [v for k, v in node if k == key]


def first(node, key, default="-"):
    values = get(node, key)
    return values[0] if values else default


def find(node, key):
    """Depth-first: the first value under `key` anywhere below `node`."""
    for k, v in node:
        if k == key:
            return v
        if isinstance(v, list) and v and isinstance(v[0], tuple):
            found = find(v, key)
            if found is not None:
                return found
    return None


def main(path):
    out = subprocess.run(["tshark", "-r", path, "-T", "json", "-x"], check=True,
                         capture_output=True, text=True).stdout
    frames = json.loads(out, object_pairs_hook=pairs)
    for frame in frames:
        layers = first(frame, "_source")
        layers = first(layers, "layers")
        number = find(first(layers, "frame"), "frame.number")
        sflow = first(layers, "sflow", None)
        if sflow is None or find(layers, "_ws.malformed") is not None:
            print("D", number, "malformed")
            continue
        agent = first(sflow, "sflow_245.agent", None) or first(sflow, "sflow_245.agent.v6")
        print("D", number, agent, first(sflow, "sflow_245.sub_agent_id"),
              first(sflow, "sflow_245.sequence_number"), first(sflow, "sflow_245.numsamples"))
        for key, sample in sflow:
            if not isinstance(sample, list) or not key.startswith("Flow sample"):
                continue
            rate = first(sample, "sflow.flow_sample.sampling_rate")
            for rkey, record in sample:
                if rkey != "Raw packet header":
                    continue
                tree = first(record, "sflow_245.header_tree", [])
                ip = first(tree, "ip", None) or first(tree, "ipv6", None)
                src = dst = "-"
                if ip:
                    src = first(ip, "ip.src", None) or first(ip, "ipv6.src")
                    dst = first(ip, "ip.dst", None) or first(ip, "ipv6.dst")
                # Top level only: an ICMP error quotes a packet with ports of its own.
                l4 = first(tree, "tcp", None) or first(tree, "udp", None)
                sport = dport = "-"
                if l4:
                    sport = first(l4, "tcp.srcport", None) or first(l4, "udp.srcport")
                    dport = first(l4, "tcp.dstport", None) or first(l4, "udp.dstport")
                raw = first(record, "sflow_245.header").replace(":", "")
                print("S", rate, first(record, "sflow_245.header_protocol"),
                      first(record, "sflow_245.header.frame_length"),
                      first(record, "sflow_245.header.sampled_header_length"), raw, src, dst,
                      sport, dport)


if __name__ == "__main__":
    main(sys.argv[1])
