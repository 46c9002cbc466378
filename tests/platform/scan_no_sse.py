#!/usr/bin/python3
"""Scans a 32-bit x86 library's code for instructions a Pentium II (no SSE) cannot run.

    scan_no_sse.py OBJDUMP FILE [--expect-sse]

Disassembles every executable section with OBJDUMP and reports each instruction that names an
SSE or AVX register (xmm, ymm, zmm, mask k), an MMX register (mm0 to mm7), or is an SSE, SSE2,
SSE3, MMX or 3DNow! instruction without register operands of those kinds (ldmxcsr, fisttp,
prefetchnta, emms, ...), or a later integer extension (popcnt, lzcnt, movbe, crc32, BMI,
rdrand). Two kinds of find are allowed and listed apart (ALLOWED_* below, each with its reason). Exits
1 when it finds any; with --expect-sse the other way round, to show that the scan finds them.
The last line is the verdict. A stripped DLL's functions are named from the FILE.debug beside
it (read with the nm beside OBJDUMP), so that the functions allowed below are still known.
"""
import bisect
import os
import re
import subprocess
import sys

REGISTERS = re.compile(r"%(?:[xyz]mm\d+|mm[0-7]\b|k[0-7]\b)")
MNEMONICS = {
    # SSE/SSE2 state, cache control and fences
    "ldmxcsr", "stmxcsr", "fxsave", "fxrstor", "sfence", "lfence", "mfence", "clflush",
    "prefetchnta", "prefetcht0", "prefetcht1", "prefetcht2", "prefetchw", "movnti",
    "maskmovq", "maskmovdqu",
    # SSE3's x87 store
    "fisttp", "fisttps", "fisttpl", "fisttpll", "fisttpq",
    # MMX and 3DNow! without register operands
    "emms", "femms",
    # integer extensions of later processors
    "popcnt", "lzcnt", "tzcnt", "movbe", "crc32", "andn", "bextr", "blsi", "blsmsk", "blsr",
    "bzhi", "mulx", "pdep", "pext", "rorx", "sarx", "shlx", "shrx", "adcx", "adox",
    "xgetbv", "xsave", "xrstor", "rdrand", "rdseed",
}
# Found but harmless on a Pentium II, each for the reason given (reported, not counted):
ALLOWED_MNEMONICS = {
    # F3 0F BC: a processor without BMI reads it as rep bsf, which gives the same result for
    # the non-zero operands compilers give it (mingw-w64's gdtoa, through __builtin_ctz).
    "tzcnt": "runs as bsf without BMI",
}
# Functions that run only after CPUID has reported their instruction: the runtime library's
# random_device helpers (rdrand, rdseed), linked into the DLL with the static C++ runtime.
ALLOWED_FUNCTIONS = re.compile(r"__x86_rdrand|__x86_rdseed")
LINE = re.compile(r"^\s*([0-9a-f]+):\s+(\S+)\s*(.*)$")
SYMBOL = re.compile(r"^[0-9a-f]+ <(.+)>:$")
CODE_SYMBOL = re.compile(r"^([0-9a-f]+) [Tt] (.+)$")  # a line of nm's
# Data that the MinGW linker places in the code section: the C++ runtime's exception tables.
# Their bytes decode as anything (MMX instructions among them); they are never executed.
DATA_IN_CODE = re.compile(r"^\.gcc_except_table")


def kept_symbols(objdump, path):
    """The code symbols of the stripped file's PATH.debug, as sorted (address, name) lists."""
    if not os.path.exists(path + ".debug"):
        return None
    nm = re.sub(r"objdump$", "nm", objdump)
    listing = subprocess.run([nm, path + ".debug"], check=True, capture_output=True,
                             text=True).stdout
    symbols = sorted((int(match.group(1), 16), match.group(2)) for match in
                     (CODE_SYMBOL.match(line) for line in listing.splitlines()) if match)
    return [address for address, _ in symbols], [name for _, name in symbols]


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    objdump, path = sys.argv[1], sys.argv[2]
    expect_sse = "--expect-sse" in sys.argv[3:]
    listing = subprocess.run([objdump, "-d", "--no-show-raw-insn", "-M", "att", path],
                             check=True, capture_output=True, text=True).stdout
    kept = kept_symbols(objdump, path)
    found = []
    allowed = []
    instructions = 0
    symbol = "?"
    for text in listing.splitlines():
        match = SYMBOL.match(text)
        if match:
            symbol = match.group(1)
            continue
        match = LINE.match(text)
        if not match:
            continue
        address, mnemonic, operands = match.groups()
        if kept:
            addresses, names = kept
            index = bisect.bisect_right(addresses, int(address, 16)) - 1
            symbol = names[index] if index >= 0 else "?"
        if mnemonic.startswith("(") or DATA_IN_CODE.match(symbol):
            continue  # "(bad)" or the exception tables: data inside code, not an instruction
        instructions += 1
        base = mnemonic.split(".")[0]
        if REGISTERS.search(operands) or base in MNEMONICS:
            where = f"  {address} in {symbol}: {mnemonic} {operands}".rstrip()
            if base in ALLOWED_MNEMONICS:
                allowed.append(f"{where}  (allowed: {ALLOWED_MNEMONICS[base]})")
            elif base in ("rdrand", "rdseed") and ALLOWED_FUNCTIONS.search(symbol):
                allowed.append(f"{where}  (allowed: run only after CPUID reports it)")
            else:
                found.append(where)
    name = path.rsplit("/", 1)[-1]
    if instructions == 0:
        print(f"sse scan: {name}: no instruction disassembled")
        return 1
    for line in allowed[:10]:
        print(line)
    if len(allowed) > 10:
        print(f"  ... and {len(allowed) - 10} more allowed")
    for line in found[:20]:
        print(line)
    if len(found) > 20:
        print(f"  ... and {len(found) - 20} more")
    print(f"sse scan: {name}: {instructions} instructions, {len(found)} need SSE, MMX or later"
          f" ({len(allowed)} allowed)")
    if expect_sse:
        return 0 if found else 1
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
