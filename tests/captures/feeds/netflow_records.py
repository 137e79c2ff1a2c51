#!/usr/bin/env python3
"""Prints the flow records tshark reads from a capture of NetFlow/IPFIX datagrams, one a line:
frame src dst srcport dstport protocol tcpflags packets octets startMs endMs
Usage: netflow_records.py CAPTURE UDPPORT > CAPTURE.records"""
import datetime
import json
import subprocess
import sys

path, port = sys.argv[1], sys.argv[2]
out = subprocess.run(["tshark", "-r", path, "-d", f"udp.port=={port},cflow", "-T", "json"],
                     check=True, capture_output=True, text=True).stdout


def ms(seconds):
    return round(float(seconds) * 1000)


def absolute(text):
    # "Nov 14, 2023 22:13:19.999000000 UTC"
    date, frac = text.replace(" UTC", "").split(".")
    t = datetime.datetime.strptime(date, "%b %d, %Y %H:%M:%S").replace(tzinfo=datetime.timezone.utc)
    return int(t.timestamp()) * 1000 + int(frac[:3])


def s32(v):
    v &= 0xFFFFFFFF
    return v - (1 << 32) if v & 0x80000000 else v


init = {}
for packet in json.loads(out):
    layers = packet["_source"]["layers"]
    frame = layers["frame"]["frame.number"]
    c = layers.get("cflow")
    if not c:
        continue
    version = int(c["cflow.version"])
    ts = c.get("cflow.timestamp_tree", {})
    if version == 5:
        export = int(ts["cflow.unix_secs"]) * 1000 + int(ts["cflow.unix_nsecs"]) // 1000000
        uptime = ms(c["cflow.sysuptime"])
    elif version == 9:
        export = int(ts["cflow.unix_secs"]) * 1000
        uptime = ms(c["cflow.sysuptime"])
    else:
        export = int(ts["cflow.exporttime"]) * 1000
        uptime = None
    domain = c.get("cflow.od_id", c.get("cflow.source_id", "0"))
    flows = []
    for key, value in c.items():
        if key.startswith("pdu "):
            flows.append(value)
        elif key.startswith(("Set ", "FlowSet ")) and isinstance(value, dict):
            flows += [v for k, v in value.items() if k.startswith("Flow ")]
    for f in flows:
        if "cflow.sys_init_time" in f:
            init[domain] = absolute(f["cflow.sys_init_time"])
        src = f.get("cflow.srcaddr", f.get("cflow.srcaddrv6"))
        dst = f.get("cflow.dstaddr", f.get("cflow.dstaddrv6"))
        if src is None:
            continue
        times = f.get("cflow.timedelta_tree", {})

        def when(rel, abs_):
            if abs_ in times:
                return absolute(times[abs_])
            if rel not in times:
                return 0
            at = ms(times[rel])
            if uptime is not None:
                return export - s32(uptime - at)
            return init[domain] + at if domain in init else 0

        sport = f.get("cflow.srcport", "0")
        dport = f.get("cflow.dstport")
        if dport is None:
            # ICMP type and code, which tshark shows apart; exported as type << 8 | code
            t = f.get("cflow.icmp_type", f.get("cflow.icmp_ipv6_type"))
            code = f.get("cflow.icmp_code", f.get("cflow.icmp_ipv6_code", "0"))
            dport = str(int(t) << 8 | int(code)) if t is not None else "0"
        print(frame, src, dst, sport, dport, f.get("cflow.protocol", "0"),
              int(f.get("cflow.tcpflags", "0"), 16), f.get("cflow.packets", "0"),
              f.get("cflow.octets", "0"), when("cflow.timestart", "cflow.abstimestart"),
              when("cflow.timeend", "cflow.abstimeend"))
