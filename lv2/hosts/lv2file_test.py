#!/usr/bin/python3
"""Both plug-ins in lv2file (Debian's lv2file), which runs a plug-in over a sound file and
writes what it outputs: rendered at blocks of 1 and 7 frames and at lv2file's own, with its
controls set by -p, each output must be bit for bit the CLI's render of the same patch (the
instrument, which lv2file gives no notes, as a drone: Active above 0 V), and the
instrument's main output the documented sum.

  lv2file_test.py --lv2-path DIR --fourwave build/linux-sse/fourwave --work DIR

Prints one "ok"/"FAIL" line per check.
"""
import os
import subprocess
import sys

import numpy as np
import soundfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import common  # noqa: E402

RATE = 48000
SECONDS = 0.5
# Plug-in, lv2file's -p controls, the CLI's options for the same patch.
CASES = [
    (common.MODULAR, [], ["--pitch", "5"]),
    (common.MODULAR, ["shape:4", "pitch:3.5", "width:2", "fm:1"],
     ["--shape", "dark", "--pitch", "3.5", "--width", "2", "--fm", "on"]),
    (common.INSTRUMENT, ["active:10", "saw_level:4", "pitch:4"],
     ["--pitch", "4", "--ramp-level=0", "--saw-level=4", "--pulse-level=5",
      "--triangle-level=0"]),
]


def main():
    args = common.arguments()
    env = dict(os.environ, LV2_PATH=f"{args.lv2_path}:/usr/lib/lv2")
    silence = os.path.join(args.work, "silence.wav")
    soundfile.write(silence, np.zeros((int(SECONDS * RATE), 1), dtype=np.float32), RATE,
                    subtype="FLOAT")
    ok = True
    for uri, controls, options in CASES:
        cli = common.cli_render(args.fourwave, SECONDS, RATE, 64, options)
        for block in (1, 7, None):
            out = os.path.join(args.work, "out.wav")
            command = ["lv2file", "-i", silence, "-o", out]
            command += ["-b", str(block)] if block else []
            for control in controls:
                command += ["-p", control]
            result = subprocess.run(command + [uri], env=env, capture_output=True, text=True,
                                    timeout=60)
            name = (f"{uri.rsplit('/', 1)[-1]} {' '.join(controls) or 'at its defaults'}, "
                    f"blocks of {block or 'lv2file'}")
            if result.returncode != 0 or not os.path.exists(out):
                ok &= common.check(False, f"{name}: lv2file failed: {result.stderr[-500:]}")
                continue
            got, rate = soundfile.read(out, dtype="float32", always_2d=True)
            os.remove(out)
            waveforms = got[:, -4:]
            differing = [common.bits_differ(waveforms[:, c], cli[:, c]) for c in range(4)]
            line = f"{name}: the four waveforms' samples different from the CLI's {differing}"
            good = rate == RATE and sum(differing) == 0 and np.any(waveforms)
            if uri == common.INSTRUMENT:
                gain = common.documented_gain([(0.0, 1e9)], RATE, len(got))
                main = [common.bits_differ(got[:, side], common.documented_main(cli, gain))
                        for side in range(2)]
                line += f", main output from the documented sum {main}"
                good = good and got.shape[1] == 6 and sum(main) == 0
            ok &= common.check(good, line)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
