#!/usr/bin/python3
"""The floating-point environment guard's cost per process call, in instructions.

    fp_guard_cost.py BENCH GUARDED UNGUARDED [--calls N]

Runs BENCH (fourwave_fp_guard_bench) under callgrind on the plug-in GUARDED and on UNGUARDED,
the same sources built without the guard, and prints for every routine, host environment and
block size the instructions per process call of both and their difference: what the guard
costs. Callgrind's counts do not move with the machine's load, so the difference is exact.
"""
import collections
import glob
import os
import re
import subprocess
import sys
import tempfile


def counts(bench, plugin, calls):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "cg.out")
        subprocess.run(["valgrind", "--tool=callgrind", "--collect-atstart=no",
                        "--callgrind-out-file=" + out, bench, "--plugin", plugin,
                        "--calls", str(calls)],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        result = {}
        for path in glob.glob(out + ".*"):
            text = open(path).read()
            name = re.search(r"^desc: Trigger: Client Request: (\S+)", text, re.M)
            total = re.search(r"^(?:summary|totals): (\d+)", text, re.M)
            if name and total:
                # "<plug-in>/<routine>/host:<env>/block:<n>" without the plug-in's file name
                result[name.group(1).split("/", 1)[1]] = int(total.group(1)) / calls
        return result


def main():
    args = sys.argv[1:]
    if len(args) < 3:
        sys.exit(__doc__)
    calls = int(args[args.index("--calls") + 1]) if "--calls" in args else 1000
    guarded = counts(args[0], args[1], calls)
    unguarded = counts(args[0], args[2], calls)
    if not guarded or set(guarded) != set(unguarded):
        sys.exit("fp_guard_cost: the two runs measured different things")
    print("instructions per process call (callgrind), %d calls each" % calls)
    print("%-20s %-8s %6s %10s %10s %7s" % ("routine", "host", "block", "guarded", "unguarded",
                                             "guard"))
    differences = collections.defaultdict(list)
    for name in sorted(guarded):
        routine, host, block = name.split("/")
        host, block = host.split(":")[1], int(block.split(":")[1])
        difference = guarded[name] - unguarded[name]
        differences[(host, block)].append(difference)
        print("%-20s %-8s %6d %10.1f %10.1f %+7.1f" % (routine, host, block, guarded[name],
                                                        unguarded[name], difference))
    for (host, block), values in sorted(differences.items()):
        print("guard, host %s, block %d: %+.1f to %+.1f instructions per call" %
              (host, block, min(values), max(values)))


if __name__ == "__main__":
    main()
