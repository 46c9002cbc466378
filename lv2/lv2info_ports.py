#!/usr/bin/python3
"""Reads lv2info's description of one plug-in on stdin and prints it as one line per fact, in
a fixed order (lv2info lists types, properties and scale points in no fixed order), so that
scripts/test-lv2 can compare it with lv2/expected-ports.txt."""
import re
import sys

PREFIXES = [
    ("http://lv2plug.in/ns/lv2core#", ""),
    ("http://lv2plug.in/ns/ext/atom#", "atom:"),
    ("http://lv2plug.in/ns/ext/port-groups#", "pg:"),
    ("https://tovik.example/plugins/fourwave#", "#"),
]


def short(uri):
    for prefix, replacement in PREFIXES:
        if uri.startswith(prefix):
            return replacement + uri[len(prefix):]
    return uri


def main():
    header = []
    ports = []
    port = None
    field = None
    for raw in sys.stdin:
        line = raw.rstrip("\n")
        match = re.match(r"^\tPort (\d+):$", line)
        if match:
            port = {"index": int(match.group(1)), "Type": [], "Properties": [], "points": []}
            ports.append(port)
            field = None
            continue
        if port is None:
            match = re.match(r"^\t(Name|Class|Author|Author Email|Author Homepage|"
                             r"Has latency|Optional Features|Required Features):\s*(.*)$", line)
            if match:
                field = match.group(1)
                header.append((field, [match.group(2)]))
            elif field in ("Optional Features", "Required Features") and re.match(r"^\t\s+\S", line):
                header[-1][1].append(line.strip())
            else:
                field = None
            continue
        match = re.match(r"^\t\t(Type|Symbol|Name|Group|Designation|Minimum|Maximum|Default|"
                         r"Properties|Scale Points):\s*(.*)$", line)
        if match:
            field = match.group(1)
            value = match.group(2)
            if field in ("Type", "Properties"):
                port[field].append(short(value))
            elif field != "Scale Points":
                port[field] = short(value)
            continue
        match = re.match(r"^\t\t\t(-?[0-9.]+) = \"(.*)\"$", line)
        if match and field == "Scale Points":
            port["points"].append((float(match.group(1)), match.group(2)))
            continue
        if re.match(r"^\t\t\s+\S", line) and field in ("Type", "Properties"):
            port[field].append(short(line.strip()))

    for name, values in header:
        print(f"{name}: {', '.join(sorted(values))}")
    for p in ports:
        facts = [str(p["index"]), p.get("Symbol", "?"), '"' + p.get("Name", "?") + '"',
                 "+".join(sorted(p["Type"]))]
        for key in ("Minimum", "Maximum", "Default"):
            if key in p:
                facts.append(f"{key.lower()[:3]}={float(p[key]):g}")
        if "Group" in p:
            facts.append("group=" + p["Group"])
        if "Designation" in p:
            facts.append("designation=" + p["Designation"])
        if p["Properties"]:
            facts.append("props=" + "+".join(sorted(p["Properties"])))
        if p["points"]:
            facts.append("points=" + ",".join(f"{v:g}:{label}" for v, label in sorted(p["points"])))
        print(" ".join(facts))


main()
