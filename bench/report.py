#!/usr/bin/python3
"""Turns the benchmark's JSON output into the cost table and the target checks.

    report.py RAW.json [--raw32 RAW32.json] [--results bench/results.json] [--markdown]

RAW.json is what fourwave_bench writes with --benchmark_out (any number of repetitions);
RAW32.json the same from the 32-bit benchmark (its minimal-callback and patch figures are
reported as flavour "sse32" against a floor of their own, "ref32"). Each
benchmark's cost is the lowest CPU time per sample over its repetitions: on a shared machine
interference only ever adds time, so the minimum is the best estimate of the work itself. Every
ratio divides two figures of the same run. Prints the table (plain text, or Markdown for
docs/PERFORMANCE.md) and writes the figures and the verdicts as JSON.
"""

import json
import sys
from collections import defaultdict

BLOCKS = [16, 64, 256, 1024]
INSTANCES = [1, 16, 256, 2048]
ROUTINES = ["processPerfect", "processPerfectMod", "processPerfect2", "processPerfect2Mod",
            "processBright", "processBrightMod", "processMedium", "processMediumMod",
            "processDark", "processDarkMod"]
CASES = ["steady", "steady-440", "three-zero", "band", "fm-sweep", "half-sweep", "pm", "pm-440",
         "sync", "inactive"]
SAMPLE_RATE = 48000.0
LEAN_BLOCKS = [64, 256]


def instances_per_core(ns):
    """How many instances one core keeps up with in real time at 48 kHz."""
    return 1e9 / (ns * SAMPLE_RATE)


def parse_args(argv):
    raw, raw32, results, markdown = None, None, None, False
    i = 0
    while i < len(argv):
        if argv[i] in ("--results", "--raw32"):
            if argv[i] == "--results":
                results = argv[i + 1]
            else:
                raw32 = argv[i + 1]
            i += 2
            continue
        if argv[i] == "--markdown":
            markdown = True
        else:
            raw = argv[i]
        i += 1
    if raw is None:
        sys.exit(__doc__)
    return raw, raw32, results, markdown


def load(path, width32=False):
    with open(path) as f:
        data = json.load(f)
    best = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" or "error_occurred" in b and b["error_occurred"]:
            continue
        rate = b.get("items_per_second")
        if not rate:
            continue
        ns = 1e9 / rate
        name = b["run_name"]
        if width32:
            # Only the minimal-callback series and the patch are reported for 32-bit x86.
            parts = name.split("/")
            if parts[0] not in ("lean", "patch"):
                continue
            if parts[1] == "ref":
                parts[1] = "ref32"
            elif "32" not in parts[1]:
                parts[1] += "32"
            name = "/".join(parts)
        best[name] = min(ns, best.get(name, ns))
    return data.get("context", {}), best


def split(best):
    """routine[(flavour, routine, case)][block], reference[(name, case)][block],
    scale[(flavour, routine)][instances], pitch."""
    routine, reference, scale = defaultdict(dict), defaultdict(dict), defaultdict(dict)
    lean, patch = {}, {}
    pitch = None
    for name, ns in best.items():
        parts = name.split("/")
        last = parts[-1]
        if parts[0] == "routine":
            routine[(parts[1], parts[2], parts[3])][int(last.split(":")[1])] = ns
        elif parts[0] == "reference":
            reference[(parts[1], parts[2])][int(last.split(":")[1])] = ns
        elif parts[0] == "scale":
            scale[(parts[1], parts[2])][int(last.split(":")[1])] = ns
        elif parts[0] == "lean":
            lean.setdefault((parts[1], parts[2], parts[3]), {})[int(last.split(":")[1])] = ns
        elif parts[0] == "pitch":
            pitch = ns
        elif parts[0] == "patch":
            patch.setdefault(parts[1], {})[parts[2]] = ns
    return routine, reference, scale, lean, pitch, patch


def fmt(ns):
    return "%.2f" % ns if ns is not None else "-"


def machine_line(context):
    caches = ", ".join("L%d%s %d KiB" % (c["level"], "d" if c["type"] == "Data" else
                                           "i" if c["type"] == "Instruction" else "",
                                           c["size"] // 1024)
                       for c in context.get("caches", []))
    model = ""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return "%s, %s CPUs, %s; load average %s; %s" % (
        model or "unknown CPU", context.get("num_cpus", "?"), caches,
        ", ".join("%.2f" % x for x in context.get("load_avg", [])),
        context.get("date", ""))


def build(context, best):
    routine, reference, scale, lean, pitch, patch = split(best)
    floor = reference.get(("floor", "steady"), {})
    naive = reference.get(("naive", "steady"), {})
    flavours = sorted({k[0] for k in routine} | {k[0] for k in lean if k[0] != "ref"},
                      key=lambda f: (f != "sse", f))

    rows = []
    for name in ["floor", "naive", "direct"]:
        costs = reference.get((name, "steady"), {})
        if not costs:
            continue
        rows.append({"flavour": "ref", "routine": name, "case": "steady",
                     "ns": {b: costs.get(b) for b in BLOCKS},
                     "ratio": {b: costs[b] / floor[b] if b in costs and b in floor else None
                               for b in BLOCKS}})
    for flavour in flavours:
        for r in ROUTINES:
            for c in CASES:
                costs = routine.get((flavour, r, c))
                if not costs:
                    continue
                rows.append({"flavour": flavour, "routine": r, "case": c,
                             "ns": {b: costs.get(b) for b in BLOCKS},
                             "ratio": {b: costs[b] / floor[b] if b in costs and b in floor
                                       else None for b in BLOCKS}})
    for row in rows:
        ns64 = row["ns"].get(64)
        row["instances_per_core_block64"] = instances_per_core(ns64) if ns64 else None

    targets = check_targets(lean, pitch, flavours, patch)
    return {
        "machine": machine_line(context),
        "context": context,
        "method": "lowest CPU time per sample over the repetitions; ratios within one run",
        "pitch_conversion_ns": pitch,
        "rows": rows,
        "scale": [{"flavour": f, "routine": r, "ns": {n: v.get(n) for n in INSTANCES}}
                  for (f, r), v in sorted(scale.items(), key=lambda kv: (
                      kv[0][0] != "ref", kv[0][0] != "sse", kv[0][0],
                      ROUTINES.index(kv[0][1]) if kv[0][1] in ROUTINES else -1))],
        "targets": targets,
        "target_table": target_table(lean),
        "patch": {f: dict(v, ratio=v["in-turn"] / v["alone"]) for f, v in sorted(patch.items())
                  if "in-turn" in v and "alone" in v},
        "side_by_side": side_by_side(routine, reference, lean),
        "against": against_rows(routine, lean),
    }


def against_rows(routine, lean):
    """Each routine of a flavour 'X-REV' (an earlier revision, scripts/bench --against) beside
    the same routine of flavour 'X', same case and block, same run."""
    rows = []
    for (flavour, r, c), old in sorted(routine.items()):
        if "-" not in flavour:
            continue
        base = flavour.split("-")[0]
        new = routine.get((base, r, c), {})
        for b in BLOCKS:
            if b in old and b in new:
                rows.append({"flavour": base, "revision": flavour.split("-", 1)[1], "routine": r,
                             "case": c, "block": b, "old_ns": old[b], "new_ns": new[b],
                             "change": new[b] / old[b] - 1.0})
    for (flavour, r, c), old in sorted(lean.items()):
        if "-" not in flavour:
            continue
        new = lean.get((flavour.split("-")[0], r, c), {})
        for b in LEAN_BLOCKS:
            if b in old and b in new:
                rows.append({"flavour": flavour.split("-")[0],
                             "revision": flavour.split("-", 1)[1], "routine": r,
                             "case": c + " (minimal)", "block": b, "old_ns": old[b],
                             "new_ns": new[b], "change": new[b] / old[b] - 1.0})
    return rows


# The targets by shape, as ratios to the contract floor: a steady pitch (plain routine, or
# FM Enable), and PM Enable with a moving Phase input; SSE, x86-64 and 32-bit x86, blocks 64 and
# 256, 220 Hz and 440 Hz.
TARGET_SHAPES = [("Perfect", "processPerfect", 1.4, 1.55),
                 ("Perfect 2", "processPerfect2", 1.65, 1.8),
                 ("Bright", "processBright", 1.6, 1.75),
                 ("Medium", "processMedium", 1.6, 1.75),
                 ("Dark", "processDark", 1.6, 1.75)]
TARGET_PITCHES = [(220, "steady", "pm"), (440, "steady-440", "pm-440")]
TARGET_WIDTHS = [("x86-64", "sse", "ref"), ("32-bit", "sse32", "ref32")]
PATCH_LIMIT = 1.05


def target_table(lean):
    """Per shape, width, pitch and block: the plain / FM / PM ratios to the contract floor."""
    rows = []
    for name, routine, steady_limit, pm_limit in TARGET_SHAPES:
        for width, flavour, ref in TARGET_WIDTHS:
            floor = lean.get((ref, "direct", "steady"), {})
            for hz, steady, pm in TARGET_PITCHES:
                for b in LEAN_BLOCKS:
                    cells = [lean.get((flavour, r, c), {}).get(b) for r, c in
                             ((routine, steady), (routine + "Mod", steady), (routine + "Mod", pm))]
                    if b not in floor or None in cells:
                        continue
                    rows.append({"shape": name, "width": width, "hz": hz, "block": b,
                                 "ns": cells, "ratios": [c / floor[b] for c in cells],
                                 "limits": [steady_limit, steady_limit, pm_limit]})
    return rows


def check_targets(lean, pitch, flavours, patch):
    """The targets, behind the minimal callback, against the contract floor of the same run
    and width (the two host calls straight through the callback: reference 'direct')."""
    checks = []

    def add(target, subject, value, limit):
        checks.append({"target": target, "subject": subject, "value": value, "limit": limit,
                       "met": value <= limit})

    for row in target_table(lean):
        for kind, ratio, limit in zip(("plain", "FM Enable", "PM Enable"), row["ratios"],
                                      row["limits"]):
            pm = kind == "PM Enable"
            add("%s, %s <= %.2fx floor" % (row["shape"], "PM with a moving Phase" if pm else
                                           "plain and FM Enable, steady pitch", limit),
                "%s %s %d Hz block %d" % (kind, row["width"], row["hz"], row["block"]), ratio,
                limit)
    for flavour, figures in sorted(patch.items()):
        if "in-turn" in figures and "alone" in figures:
            add("patch: ten routines in turn <= %.2fx each alone" % PATCH_LIMIT, flavour,
                figures["in-turn"] / figures["alone"], PATCH_LIMIT)
    if pitch is not None:
        for r in ROUTINES:
            if not r.endswith("Mod"):
                continue
            sweep = lean.get(("sse", r, "fm-sweep"), {})
            plain_costs = lean.get(("sse", r[:-3], "steady"), {})
            for b in LEAN_BLOCKS:
                if b in sweep and b in plain_costs:
                    limit = plain_costs[b] + pitch
                    add("FM Enable, new pitch every sample <= pitch conversion + plain",
                        "%s block %d" % (r, b), sweep[b] / limit, 1.0)
    return checks


def side_by_side(routine, reference, lean):
    """Every routine and case with both hosts' figures: the stand-in host and the minimal
    callback, blocks 64 and 256, each with its ratio to the contract floor of its own host."""
    floors = {"stand-in": reference.get(("direct", "steady"), {}),
              "minimal": lean.get(("ref", "direct", "steady"), {})}
    keys = []
    for name in ["direct", "floor", "naive"]:
        keys.append(("ref", name, "steady"))
    flavours = sorted({k[0] for k in routine} | {k[0] for k in lean if k[0] != "ref"},
                      key=lambda f: (f != "sse", f))
    for f in flavours:
        for r in ROUTINES:
            for c in CASES:
                if (f, r, c) in routine or (f, r, c) in lean:
                    keys.append((f, r, c))
    rows = []
    for (f, r, c) in keys:
        stand = reference.get((r, c), {}) if f == "ref" else routine.get((f, r, c), {})
        minimal = lean.get((f, r, c), {})
        row = {"flavour": f, "routine": r, "case": c, "stand_in": {}, "minimal": {}}
        for host, costs in (("stand_in", stand), ("minimal", minimal)):
            floor = floors["stand-in" if host == "stand_in" else "minimal"]
            for b in LEAN_BLOCKS:
                if b in costs:
                    row[host][b] = {"ns": costs[b],
                                    "ratio": costs[b] / floor[b] if b in floor else None,
                                    "instances_per_core": instances_per_core(costs[b])}
        rows.append(row)
    return rows


def print_text(result, markdown):
    out = []
    if markdown:
        out.append("Machine: %s" % result["machine"])
        out.append("")
        out.append("ns per sample (all four outputs), CPU time, and in brackets the ratio to the"
                   " floor at the same block size; instances per core in real time at 48 kHz"
                   " at block 64.")
        out.append("")
        out.append("| flavour | routine | case | " + " | ".join("block %d" % b for b in BLOCKS) +
                   " | inst/core (64) |")
        out.append("|---|---|---|" + "---:|" * len(BLOCKS) + "---:|")
    else:
        out.append("machine: %s" % result["machine"])
        out.append("ns/sample (ratio to floor); inst/core = instances per core at 48 kHz,"
                   " block 64")
        out.append("%-6s %-19s %-11s" % ("flav", "routine", "case") +
                   "".join("%17s" % ("block %d" % b) for b in BLOCKS) + "%11s" % "inst/core")
    for row in result["rows"]:
        cells = []
        for b in BLOCKS:
            ns, ratio = row["ns"].get(b), row["ratio"].get(b)
            cells.append("%s (%s)" % (fmt(ns), "%.2f" % ratio if ratio else "-"))
        ipc = row["instances_per_core_block64"]
        ipc_text = "%.0f" % ipc if ipc else "-"
        if markdown:
            out.append("| %s | %s | %s | %s | %s |" % (row["flavour"], row["routine"],
                                                       row["case"], " | ".join(cells), ipc_text))
        else:
            out.append("%-6s %-19s %-11s" % (row["flavour"], row["routine"], row["case"]) +
                       "".join("%17s" % c for c in cells) + "%11s" % ipc_text)
    out.append("")
    if result["pitch_conversion_ns"] is not None:
        out.append("pitch conversion alone (updatePitch, a new value each call): %.2f ns" %
                   result["pitch_conversion_ns"])
        out.append("")

    if result["side_by_side"]:
        title = ("Both hosts side by side: ns per sample and, in brackets, the ratio to the"
                 " contract floor ('direct': the Active test's two host calls straight through"
                 " the callback) of the same host and block; inst/core = instances per core at"
                 " 48 kHz, block 64.")
        heads = ["stand-in 64", "stand-in 256", "minimal 64", "minimal 256", "inst/core"]
        if markdown:
            out.append(title)
            out.append("")
            out.append("| flavour | routine | case | " + " | ".join(heads) + " |")
            out.append("|---|---|---|" + "---:|" * len(heads))
        else:
            out.append("both hosts side by side (ratio to the contract floor of the same host):")
            out.append("%-6s %-19s %-11s" % ("flav", "routine", "case") +
                       "".join("%17s" % h for h in heads))
        for row in result["side_by_side"]:
            cells = []
            for host in ("stand_in", "minimal"):
                for b in LEAN_BLOCKS:
                    v = row[host].get(b)
                    cells.append("%s (%s)" % (fmt(v["ns"]), "%.2f" % v["ratio"]
                                              if v["ratio"] else "-") if v else "-")
            ipc = row["minimal"].get(64) or row["stand_in"].get(64)
            cells.append("%.0f / %.0f" % (row["stand_in"][64]["instances_per_core"],
                                          row["minimal"][64]["instances_per_core"])
                         if row["stand_in"].get(64) and row["minimal"].get(64) else
                         ("%.0f" % ipc["instances_per_core"] if ipc else "-"))
            if markdown:
                out.append("| %s | %s | %s | %s |" % (row["flavour"], row["routine"],
                                                      row["case"], " | ".join(cells)))
            else:
                out.append("%-6s %-19s %-11s" % (row["flavour"], row["routine"], row["case"]) +
                           "".join("%17s" % c for c in cells))
        out.append("")

    if markdown:
        out.append("Scale: ns per sample with N instances, each with its own buffers, processed"
                   " block by block (64 samples), steady case.")
        out.append("")
        out.append("| flavour | routine | " + " | ".join("N = %d" % n for n in INSTANCES) + " |")
        out.append("|---|---|" + "---:|" * len(INSTANCES))
    else:
        out.append("scale: ns/sample with N instances, block 64, steady")
        out.append("%-6s %-19s" % ("flav", "routine") + "".join("%10s" % ("N=%d" % n)
                                                                for n in INSTANCES))
    for s in result["scale"]:
        cells = [fmt(s["ns"].get(n)) for n in INSTANCES]
        if markdown:
            out.append("| %s | %s | %s |" % (s["flavour"], s["routine"], " | ".join(cells)))
        else:
            out.append("%-6s %-19s" % (s["flavour"], s["routine"]) +
                       "".join("%10s" % c for c in cells))
    out.append("")

    if result["against"]:
        if markdown:
            out.append("Against the earlier revision, same run: ns per sample before and after.")
            out.append("")
            out.append("| flavour | routine | case | block | before | after | change |")
            out.append("|---|---|---|---:|---:|---:|---:|")
        else:
            out.append("against the earlier revision (same run):")
        for a in result["against"]:
            cells = (a["flavour"], a["routine"], a["case"], a["block"], fmt(a["old_ns"]),
                     fmt(a["new_ns"]), "%+.1f%%" % (100 * a["change"]))
            if markdown:
                out.append("| %s | %s | %s | %d | %s | %s | %s |" % cells)
            else:
                out.append("%-6s %-19s %-11s %5d %8s -> %8s %8s" % cells)
        out.append("")

    if result["target_table"]:
        title = ("The targets' table: per shape plain / FM Enable (steady pitch) / PM Enable"
                 " (moving Phase), ratio to the contract floor of the same width and block,"
                 " behind the minimal callback; the limits in the last column.")
        heads = ["%s, %d Hz, %d" % (w, hz, b) for w, _, _ in TARGET_WIDTHS
                 for hz, _, _ in TARGET_PITCHES for b in LEAN_BLOCKS]
        cells = defaultdict(dict)
        limits = {}
        for row in result["target_table"]:
            cells[row["shape"]]["%s, %d Hz, %d" % (row["width"], row["hz"], row["block"])] = (
                " / ".join("%.2f" % r for r in row["ratios"]))
            limits[row["shape"]] = "%.2f / %.2f" % (row["limits"][0], row["limits"][2])
        if markdown:
            out.append(title)
            out.append("")
            out.append("| shape | " + " | ".join(heads) + " | limits |")
            out.append("|---|" + "---:|" * (len(heads) + 1))
            for shape in cells:
                out.append("| %s | %s | %s |" % (shape, " | ".join(
                    cells[shape].get(h, "-") for h in heads), limits[shape]))
        else:
            out.append("targets' table (plain / FM / PM, ratio to the contract floor):")
            out.append("%-10s" % "shape" + "".join("%-22s" % h for h in heads) + "limits")
            for shape in cells:
                out.append("%-10s" % shape + "".join("%-22s" % cells[shape].get(h, "-")
                                                     for h in heads) + limits[shape])
        out.append("")
    if result["patch"]:
        out.append("patch (ten instances, one per routine, block 64, minimal callback): ns per"
                   " sample in turn / each alone")
        for flavour, v in result["patch"].items():
            out.append("  %-8s %6.2f / %6.2f = %.3f (limit %.2f)" % (
                flavour, v["in-turn"], v["alone"], v["ratio"], PATCH_LIMIT))
        out.append("")

    by_target = defaultdict(list)
    for check in result["targets"]:
        by_target[check["target"]].append(check)
    if markdown:
        out.append("| target | checks met | worst |")
        out.append("|---|---:|---|")
    else:
        out.append("targets (minimal callback, against the contract floor; SSE unless named;"
                   " blocks 64 and 256):")
    for target, checks in by_target.items():
        met = sum(1 for c in checks if c["met"])
        worst = max(checks, key=lambda c: c["value"] / c["limit"])
        text = "%s: %.2f (limit %.2f)" % (worst["subject"], worst["value"], worst["limit"])
        if worst["value"] == float("inf"):
            text = "%s: naive oscillator not above the floor (its work is not resolved)" % (
                worst["subject"])
        if markdown:
            out.append("| %s | %d of %d | %s |" % (target, met, len(checks), text))
        else:
            out.append("  %-72s %3d of %3d met; worst %s" % (target, met, len(checks), text))
    print("\n".join(out))


def main():
    raw, raw32, results_path, markdown = parse_args(sys.argv[1:])
    context, best = load(raw)
    if raw32:
        best.update(load(raw32, width32=True)[1])
    result = build(context, best)
    print_text(result, markdown)
    if results_path:
        # JSON has no infinity: an unresolved ratio is written as null.
        for check in result["targets"]:
            if check["value"] == float("inf"):
                check["value"] = None
        with open(results_path, "w") as f:
            json.dump(result, f, indent=1, sort_keys=True)
            f.write("\n")


if __name__ == "__main__":
    main()
