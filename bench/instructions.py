#!/usr/bin/python3
"""Instructions per sample, by where they run: a deterministic companion to the timings.

    instructions.py BENCH PLUGIN [--block N] [--case NAME] [--filter REGEX]

Runs BENCH (fourwave_bench) under callgrind with a fixed iteration count, one routine at a
time in the steady case or the one named (and the floor and the naive oscillator, always
steady), and splits the instructions
executed per sample into: the routine's own sample loop, the module's pin path (SEPin::getValue
and the host-call wrapper, where they are not inlined into the loop), the host's callback (the
stand-in host's, or the minimal one of the lean series), and the maths library (the pitch
exponential).
Timings on a shared machine move by a nanosecond or more from run to run; these counts do not,
so they show what a change to a sample loop did even where the clock cannot.
"""

import os
import re
import subprocess
import sys
import tempfile

ITERATIONS = 200
WARM_BLOCKS = 4  # runBlocks processes four blocks before it starts timing


def classify(name):
    if "Host::" in name or "host::" in name or "leanCallback" in name:
        return "host"
    if "SEPin::getValue" in name or "SEModule_base::" in name:
        return "pin"
    if "pow" in name or "libm" in name:
        return "libm"
    # Everything else of the module and the references: the routine, its frame and whatever
    # of a shape's step the compiler left out of line.
    if ("fourwave::" in name or "runFrame" in name or "runBlock" in name or "process" in name or
            "Routine" in name or "Module::" in name or "activeDirect" in name):
        return "loop"
    return None


def measure(bench, plugin, name, block):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "callgrind.out")
        env = dict(os.environ, FOURWAVE_BENCH_ITERATIONS=str(ITERATIONS))
        subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out, bench,
                        "--plugin=" + plugin, "--benchmark_filter=^%s(/|$)" % name],
                       env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        text = subprocess.run(["callgrind_annotate", out], capture_output=True, text=True,
                              check=True).stdout
    samples = (ITERATIONS + WARM_BLOCKS) * block
    parts = {"loop": 0.0, "pin": 0.0, "host": 0.0, "libm": 0.0}
    for line in text.splitlines():
        m = re.match(r"\s*([\d,]+)\s+\([^)]*\)\s+\S*?:(.*)$", line)
        if not m:
            continue
        part = classify(m.group(2))
        if part:
            parts[part] += int(m.group(1).replace(",", "")) / samples
    return parts


def main():
    args = sys.argv[1:]
    if len(args) < 2:
        sys.exit(__doc__)
    bench, plugin = args[0], args[1]
    block, pattern, case = 256, None, "steady"
    i = 2
    while i < len(args):
        if args[i] == "--block":
            block = int(args[i + 1])
        elif args[i] == "--case":
            case = args[i + 1]
        elif args[i] == "--filter":
            pattern = re.compile(args[i + 1])
        i += 2
    flavour = os.path.basename(plugin).split(".")[0].replace("fourwave_", "")
    # The floor first: every later line's ratio is to it.
    names = ["reference/%s/steady/block:%d" % (r, block) for r in ["direct", "floor", "naive"]]
    for r in ["Perfect", "Perfect2", "Bright", "Medium", "Dark"]:
        for suffix in ["", "Mod"]:
            names.append("routine/%s/process%s%s/%s/block:%d" % (flavour, r, suffix, case, block))
    names.append("routine/%s/processPerfectMod/fm-sweep/block:%d" % (flavour, block))
    # The same behind the minimal callback.
    names += [n.replace("reference/", "lean/ref/").replace("routine/", "lean/") for n in names]
    if pattern:
        names = [n for n in names if pattern.search(n)]
    print("instructions per sample (callgrind), block %d, case %s unless named; x direct: "
          "the total against the contract floor behind the same host" % (block, case))
    print("%-50s %8s %8s %8s %8s %8s %9s" % ("benchmark", "loop", "pin", "host", "libm", "total",
                                           "x direct"))
    floors = {}
    for name in names:
        p = measure(bench, plugin, name, block)
        total = sum(p.values())
        lean = name.startswith("lean/")
        if "/direct/" in name:
            floors[lean] = total
        ratio = "%9.2f" % (total / floors[lean]) if lean in floors else "%9s" % "-"
        print("%-50s %8.1f %8.1f %8.1f %8.1f %8.1f %s" % (name, p["loop"], p["pin"], p["host"],
                                                        p["libm"], total, ratio), flush=True)


if __name__ == "__main__":
    main()
