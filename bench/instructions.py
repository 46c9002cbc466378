#!/usr/bin/python3
"""Instructions per sample, by where they run: a deterministic companion to the timings.

    instructions.py BENCH PLUGIN [--block N] [--case NAME] [--filter REGEX]
    instructions.py BENCH PLUGIN --table
    instructions.py BENCH PLUGIN --patch
    instructions.py BENCH PLUGIN --cases [--against PLUGIN] [--filter REGEX]

Runs BENCH (fourwave_bench) under callgrind with a fixed iteration count.

The first form measures one routine at a time in the steady case or the one named (and the
floor and the naive oscillator, always steady), behind both hosts, and splits the instructions
executed per sample into: the routine's own sample loop, the module's pin path (SEPin::getValue
and the host-call wrapper, where they are not inlined into the loop), the host's callback (the
stand-in host's, or the minimal one of the lean series), and the maths library (the pitch
exponential).

--table measures the targets' table behind the minimal callback: per shape the plain routine
and the modulation routine under FM Enable with a steady pitch, and the modulation routine
under PM Enable with a moving Phase input, at 220 Hz and 440 Hz, blocks 64 and 256, each as a
ratio to the contract floor ('direct') of the same block, beside its limit.

--patch measures the patch case: ten instances, one per routine, called in turn block by block
(block 64) against the same calls grouped instance by instance, with callgrind's cache and
branch simulation: the instructions are the same, the instruction-cache misses and mispredicted
branches show what the turn-taking costs.

--cases measures every routine and case of the benchmark, blocks 16 to 1024 (the stand-in
host's 16 and 1024, the minimal callback's 64 and 256), in one callgrind run per
plug-in (a dump after each benchmark); with --against, an earlier plug-in of the same width
beside it, every figure against its counterpart, and a summary of what got dearer. The
instructions are the routine's (pin path, host and libm excluded, which the plug-in does not
change but for the pin path where it is inlined: that is counted as the routine's).

Timings on a shared machine move by a nanosecond or more from run to run; these counts do not,
so they show what a change to a sample loop did even where the clock cannot.
"""

import math
import os
import re
import subprocess
import sys
import tempfile

ITERATIONS = 200
WARM_BLOCKS = 4  # runBlocks processes four blocks before it starts timing
PATCH_ITERATIONS = 4
PATCH_SAMPLES_PER_ITERATION = 10 * 32 * 64  # ten instances, 32 rounds of a 64-sample block
PATCH_WARM_SAMPLES = 10 * 64  # one block of each instance before the iterations

# The targets by shape (ratio to the contract floor): plain and FM Enable with a steady pitch,
# and PM Enable with a moving Phase input.
TARGETS = [("Perfect", "processPerfect", 1.4, 1.55),
           ("Perfect 2", "processPerfect2", 1.65, 1.8),
           ("Bright", "processBright", 1.6, 1.75),
           ("Medium", "processMedium", 1.6, 1.75),
           ("Dark", "processDark", 1.6, 1.75)]
PATCH_LIMIT = 1.05


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


def callgrind(bench, plugin, name, iterations, events=None):
    """[(function, [counts of `events`])] of one benchmark run under callgrind, every function
    however small."""
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "callgrind.out")
        env = dict(os.environ, FOURWAVE_BENCH_ITERATIONS=str(iterations))
        options = ["--cache-sim=yes", "--branch-sim=yes"] if events else []
        subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out] +
                       options + [bench, "--plugin=" + plugin,
                                  "--benchmark_filter=^%s(/|$)" % name],
                       env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        show = ["--show=" + ",".join(events)] if events else []
        text = subprocess.run(["callgrind_annotate", "--threshold=100"] + show + [out],
                              capture_output=True, text=True, check=True).stdout
    return functions_of(text, len(events) if events else 1)


def functions_of(text, width):
    """[(function, counts)] of callgrind_annotate's output with `width` events."""
    functions = []
    for line in text.splitlines():
        # The counts ("." for none), each possibly followed by its percentage, then
        # "file:function".
        fields = line.split()
        counts = []
        k = 0
        while k < len(fields) and len(counts) < width and re.fullmatch(r"[\d,]+|\.", fields[k]):
            counts.append(0 if fields[k] == "." else int(fields[k].replace(",", "")))
            k += 1
            if k < len(fields) and fields[k].startswith("("):
                while k < len(fields) and not fields[k].endswith(")"):
                    k += 1
                k += 1
        if len(counts) < width or k >= len(fields) or ":" not in fields[k]:
            continue
        functions.append((" ".join(fields[k:]).split(":", 1)[1], counts))
    return functions


def measure(bench, plugin, name, block):
    samples = (ITERATIONS + WARM_BLOCKS) * block
    parts = {"loop": 0.0, "pin": 0.0, "host": 0.0, "libm": 0.0}
    for function, (count,) in callgrind(bench, plugin, name, ITERATIONS):
        part = classify(function)
        if part:
            parts[part] += count / samples
    return parts


def total(bench, plugin, name, block):
    return sum(measure(bench, plugin, name, block).values())


def flavour_of(plugin):
    return os.path.basename(plugin).split(".")[0].replace("fourwave_", "")


def listing(bench, plugin, block, case, pattern):
    flavour = flavour_of(plugin)
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
        value = sum(p.values())
        lean = name.startswith("lean/")
        if "/direct/" in name:
            floors[lean] = value
        ratio = "%9.2f" % (value / floors[lean]) if lean in floors else "%9s" % "-"
        print("%-50s %8.1f %8.1f %8.1f %8.1f %8.1f %s" % (name, p["loop"], p["pin"], p["host"],
                                                        p["libm"], value, ratio), flush=True)


def table(bench, plugin):
    flavour = flavour_of(plugin)
    blocks = [64, 256]
    columns = [(220, "steady", "pm"), (440, "steady-440", "pm-440")]
    floor = {b: total(bench, plugin, "lean/ref/direct/steady/block:%d" % b, b) for b in blocks}
    print("the targets by instructions (callgrind), %s behind the minimal callback: per shape "
          "plain / FM Enable (steady pitch) / PM Enable (moving Phase), instructions per sample "
          "and ratio to the contract floor of the same block (direct: %s)" % (
              flavour, ", ".join("%.1f at block %d" % (floor[b], b) for b in blocks)))
    heads = ["%d Hz, block %d" % (hz, b) for b in blocks for hz, _, _ in columns]
    print("%-10s %-13s" % ("shape", "limits") + "".join("%-32s" % h for h in heads))
    met = checks = 0
    worst = None
    for shape, routine, steady_limit, pm_limit in TARGETS:
        cells = []
        for b in blocks:
            for _, steady, pm in columns:
                values = [total(bench, plugin, "lean/%s/%s/%s/block:%d" % (flavour, r, c, b), b)
                          for r, c in ((routine, steady), (routine + "Mod", steady),
                                       (routine + "Mod", pm))]
                ratios = [v / floor[b] for v in values]
                for ratio, limit in zip(ratios, (steady_limit, steady_limit, pm_limit)):
                    checks += 1
                    met += ratio <= limit
                    excess = ratio / limit
                    if worst is None or excess > worst[0]:
                        worst = (excess, "%s at %s block %d: %.2f (limit %.2f)" % (
                            shape, "/".join((steady, pm)), b, ratio, limit))
                cells.append("%s (%s)" % ("/".join("%.0f" % v for v in values),
                                          "/".join("%.2f" % r for r in ratios)))
        print("%-10s %-13s" % (shape, "%.2f/%.2f" % (steady_limit, pm_limit)) +
              "".join("%-32s" % c for c in cells), flush=True)
    print("targets met: %d of %d; worst %s" % (met, checks, worst[1]))


def patch(bench, plugin):
    flavour = flavour_of(plugin)
    events = ["Ir", "I1mr", "ILmr", "D1mr", "DLmr", "Bc", "Bcm", "Bi", "Bim"]
    samples = PATCH_ITERATIONS * PATCH_SAMPLES_PER_ITERATION + PATCH_WARM_SAMPLES
    figures = {}
    for mode in ("alone", "in-turn"):
        sums = [0.0] * len(events)
        functions = callgrind(bench, plugin, "patch/%s/%s/block:64" % (flavour, mode),
                              PATCH_ITERATIONS, events)
        for function, counts in functions:
            if classify(function):
                sums = [s + c / samples for s, c in zip(sums, counts)]
        figures[mode] = dict(zip(events, sums))
    print("the patch case, %s: ten instances, one per routine, block 64, minimal callback; per "
          "sample, callgrind with its cache and branch simulation" % flavour)
    print("%-9s %8s %8s %8s %8s %8s %8s %10s" % ("", "Ir", "I1 miss", "LL miss", "D1 miss",
                                                 "Bc miss", "Bi miss", "estimate"))
    for mode in ("alone", "in-turn"):
        f = figures[mode]
        # callgrind's cycle estimate: an L1 miss 10, a last-level miss 100, a mispredicted
        # branch 10 instructions' time.
        f["estimate"] = (f["Ir"] + 10 * (f["I1mr"] + f["D1mr"] + f["Bcm"] + f["Bim"]) +
                         100 * (f["ILmr"] + f["DLmr"]))
        print("%-9s %8.1f %8.2f %8.3f %8.2f %8.2f %8.2f %10.1f" % (
            mode, f["Ir"], f["I1mr"], f["ILmr"], f["D1mr"], f["Bcm"], f["Bim"], f["estimate"]))
    ratio = figures["in-turn"]["estimate"] / figures["alone"]["estimate"]
    print("in turn against alone, by the estimate: %.3f (limit %.2f by time)" % (ratio,
                                                                              PATCH_LIMIT))


CASE_ITERATIONS = 50


def every_case(bench, plugin, pattern):
    """{benchmark name, the flavour left out: routine instructions per sample} of every
    routine/ and lean/ benchmark of the plug-in (those `pattern` finds), from one callgrind run
    with a dump after each benchmark."""
    flavour = flavour_of(plugin)
    env = dict(os.environ, FOURWAVE_BENCH_ITERATIONS=str(CASE_ITERATIONS))
    listed = subprocess.run([bench, "--plugin=" + plugin,
                             "--benchmark_filter=^(routine|lean)/%s/" % flavour,
                             "--benchmark_list_tests=true"], env=env, capture_output=True,
                            text=True, check=True).stdout.split()
    # The stand-in host's blocks 64 and 256 count what the minimal callback's do.
    names = [n.split("/iterations:")[0] for n in listed
             if not re.match(r"routine/.*/block:(64|256)/", n)]
    if pattern:
        names = [n for n in names if pattern.search(n)]
    if not names:
        return {}
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "callgrind.out")
        subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out,
                        "--dump-after=*bench::*runBlocks*", bench, "--plugin=" + plugin,
                        "--benchmark_filter=^(%s)(/|$)" % "|".join(names)], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        dumps = sorted((f for f in os.listdir(tmp) if re.fullmatch(r"callgrind\.out\.\d+", f)),
                       key=lambda f: int(f.rsplit(".", 1)[1]))
        if len(dumps) != len(names):
            sys.exit("%d dumps for %d benchmarks" % (len(dumps), len(names)))
        figures = {}
        for name, dump in zip(names, dumps):
            block = int(name.rsplit(":", 1)[1])
            samples = (CASE_ITERATIONS + WARM_BLOCKS) * block
            text = subprocess.run(["callgrind_annotate", "--threshold=100",
                                   os.path.join(tmp, dump)], capture_output=True, text=True,
                                  check=True).stdout
            count = sum(c for function, (c,) in functions_of(text, 1)
                        if classify(function) in ("loop", "pin"))
            figures[name.replace("/%s/" % flavour, "/*/", 1)] = count / samples
    return figures


def cases(bench, plugin, against, pattern):
    now = every_case(bench, plugin, pattern)
    before = every_case(bench, against, pattern) if against else {}
    print("every case (callgrind), routine instructions per sample (the pin path included, host "
          "and libm not)%s" % (", against " + flavour_of(against) if against else ""))
    dearer, logs, worst = [], 0.0, None
    for name, value in now.items():
        if name in before:
            change = value / before[name] - 1
            logs += math.log(value / before[name])
            if change > 0.0005:
                dearer.append(name)
            if worst is None or change > worst[0]:
                worst = (change, name)
            print("%-60s %8.1f %8.1f %+7.2f %%" % (name, before[name], value, 100 * change))
        else:
            print("%-60s %8.1f" % (name, value))
    if before:
        common = sum(1 for n in now if n in before)
        print("dearer by more than 0.05 %%: %d of %d; geometric mean %+.2f %%; dearest %s "
              "%+.2f %%" % (len(dearer), common, 100 * (math.exp(logs / common) - 1), worst[1],
                            100 * worst[0]))


def main():
    args = sys.argv[1:]
    if len(args) < 2:
        sys.exit(__doc__)
    bench, plugin = args[0], args[1]
    block, pattern, case, mode, against = 256, None, "steady", None, None
    i = 2
    while i < len(args):
        if args[i] in ("--table", "--patch", "--cases"):
            mode = args[i]
            i += 1
            continue
        if args[i] == "--block":
            block = int(args[i + 1])
        elif args[i] == "--case":
            case = args[i + 1]
        elif args[i] == "--against":
            against = args[i + 1]
        elif args[i] == "--filter":
            pattern = re.compile(args[i + 1])
        else:
            sys.exit(__doc__)
        i += 2
    if mode == "--table":
        table(bench, plugin)
    elif mode == "--patch":
        patch(bench, plugin)
    elif mode == "--cases":
        cases(bench, plugin, against, pattern)
    else:
        listing(bench, plugin, block, case, pattern)


if __name__ == "__main__":
    main()
