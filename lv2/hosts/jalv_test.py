#!/usr/bin/python3
"""Both plug-ins in jalv (Debian's jalv 1.6), a JACK host, under a JACK server of this test's
own on the dummy backend, driven and recorded by fourwave_jack_probe (lv2/hosts/):

  - the modular plug-in plays at its defaults with nothing patched (jalv connects every CV
    port to a JACK input that reads 0): 440 Hz on all four outputs, with the CLI's RMS;
    `set pitch 6` doubles the frequency; a DC on Pitch CV adds to the control; with Active
    at 0 V it is silent until a DC on Active CV opens it;
  - the instrument at its defaults is silent until a MIDI note comes: note 69 sounds at
    440 Hz, bit for bit the CLI's render on the four waveforms and the documented sum on the
    main output, and falls silent 5 ms after its release; `set pitch 6` puts note 69 at
    880 Hz.

  jalv_test.py --lv2-path DIR --probe build/linux-sse/fourwave_jack_probe
               --fourwave build/linux-sse/fourwave --work DIR

Every server and host is started here and stopped by its own process; every wait is bounded.
Prints one "ok"/"FAIL" line per check.
"""
import os
import subprocess
import sys
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import common  # noqa: E402

RATE = 48000
PERIOD = 256
OUTPUTS = ["ramp_out", "saw_out", "pulse_out", "triangle_out"]


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    print(f"jalv_test: gave up waiting for {what} after {seconds} s", flush=True)
    return False


def ports(env):
    result = subprocess.run(["jack_lsp"], env=env, capture_output=True, text=True, timeout=10)
    return result.stdout.split("\n") if result.returncode == 0 else []


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=5)


class Jalv:
    """One jalv, its console on a pipe."""

    def __init__(self, env, name, uri, log):
        self.name = name
        self.process = subprocess.Popen(["jalv", "-x", "-n", name, uri], env=env,
                                        stdin=subprocess.PIPE, stdout=log,
                                        stderr=subprocess.STDOUT, text=True)
        self.ready = wait_for(lambda: f"{name}:{OUTPUTS[-1]}" in ports(env), 20,
                              f"jalv's ports ({uri})")

    def set(self, symbol, value):
        self.process.stdin.write(f"set {symbol} {value}\n")
        self.process.stdin.flush()
        time.sleep(0.2)  # jalv passes a control on at its next cycle

    def stop(self):
        stop(self.process)


def record(args, env, seconds, capture, feeds=(), midi=None, events=()):
    """fourwave_jack_probe's recording: frames x len(capture)."""
    path = os.path.join(args.work, "probe.raw")
    command = [args.probe, "--seconds", str(seconds), "--out", path]
    for port in capture:
        command += ["--capture", port]
    for port, value in feeds:
        command += ["--feed", f"{port}={value}"]
    if midi:
        command += ["--midi", midi]
    for event in events:
        command += ["--event", ":".join(str(part) for part in event)]
    subprocess.run(command, env=env, check=True, timeout=seconds + 30, capture_output=True)
    return np.fromfile(path, dtype="<f4").reshape(-1, len(capture))


def modular(args, env, log):
    ok = True
    jalv = Jalv(env, "fwmodular", common.MODULAR, log)
    if not common.check(jalv.ready, "jalv runs the modular plug-in"):
        jalv.stop()
        return False
    try:
        outs = [f"fwmodular:{name}" for name in OUTPUTS]
        got = record(args, env, 0.3, outs)
        cli = common.cli_render(args.fourwave, 0.3, RATE, PERIOD, ["--pitch", "5"])
        hz = [common.frequency(got[:, c], RATE) for c in (2, 3)]
        ratios = [common.rms(got[:, c]) / common.rms(cli[:, c]) for c in range(4)]
        ok &= common.check(all(abs(h - 440) < 2 for h in hz) and
                           all(abs(r - 1) < 0.02 for r in ratios),
                           "modular, nothing patched: Pulse and Triangle at "
                           f"{hz[0]:.1f} and {hz[1]:.1f} Hz, the four outputs' RMS "
                           f"{', '.join(f'{r:.3f}' for r in ratios)} times the CLI's")
        jalv.set("pitch", 6)
        hz = common.frequency(record(args, env, 0.3, outs[2:3])[:, 0], RATE)
        ok &= common.check(abs(hz - 880) < 3, f"modular, set pitch 6: {hz:.1f} Hz")
        hz = common.frequency(record(args, env, 0.3, outs[2:3],
                                     feeds=[("fwmodular:pitch_cv", -0.2)])[:, 0], RATE)
        ok &= common.check(abs(hz - 220) < 2,
                           f"modular, Pitch 6 V plus -0.2 (-2 V) on Pitch CV: {hz:.1f} Hz")
        jalv.set("active", 0)
        silent = record(args, env, 0.3, outs)
        gated = record(args, env, 0.3, outs, feeds=[("fwmodular:active_cv", 1.0)])
        ok &= common.check(not np.any(silent) and all(common.rms(gated[:, c]) > 0.02
                                                     for c in range(4)),
                           "modular, Active 0 V: silent; 1.0 (10 V) on Active CV: all four "
                           f"outputs sound (RMS {common.rms(gated[:, 2]):.3f} on Pulse Out)")
    finally:
        jalv.stop()
    return ok


def instrument(args, env, log):
    ok = True
    jalv = Jalv(env, "fwinstrument", common.INSTRUMENT, log)
    if not common.check(jalv.ready, "jalv runs the instrument"):
        jalv.stop()
        return False
    try:
        capture = [f"fwinstrument:{name}" for name in ["main_left", "main_right"] + OUTPUTS]
        midi = "fwinstrument:midi_in"
        seconds, start, release = 0.6, 0.1, 0.4
        notes = [(start, 0x90, 69, 100), (release, 0x80, 69, 0)]
        got = record(args, env, seconds, capture, midi=midi, events=notes)
        on, off = round(start * RATE), round(release * RATE) + common.fade_frames(RATE)
        note = got[on:round(release * RATE), 0]
        hz = common.frequency(note, RATE)
        ok &= common.check(not np.any(got[:on]) and not np.any(got[off:]) and
                           common.rms(note) > 0.1 and abs(hz - 440) < 2,
                           f"instrument, defaults: silent until note 69, then {hz:.1f} Hz at "
                           f"RMS {common.rms(note):.3f} on the main output, silent again "
                           f"{common.FADE_SECONDS * 1000:g} ms after its release")
        cli = common.cli_render(args.fourwave, seconds, RATE, PERIOD,
                                ["--pitch", "5", "--ramp-level=0", "--saw-level=0",
                                 "--triangle-level=0", "--active",
                                 common.gate_text([(start, release)], RATE)])
        gain = common.documented_gain([(start, release)], RATE, len(got))
        differing = [common.bits_differ(got[:, 2 + c], cli[:, c]) for c in range(4)]
        main = common.bits_differ(got[:, 0], common.documented_main(cli, gain))
        ok &= common.check(sum(differing) == 0 and main == 0 and
                           common.bits_differ(got[:, 0], got[:, 1]) == 0,
                           "instrument: the four waveforms equal the CLI's render "
                           f"({differing} samples different), the main output the documented "
                           f"sum on both sides ({main} different)")
        jalv.set("pitch", 6)
        got = record(args, env, seconds, capture[:1], midi=midi, events=notes)
        hz = common.frequency(got[on:round(release * RATE), 0], RATE)
        ok &= common.check(abs(hz - 880) < 3, f"instrument, set pitch 6: note 69 at {hz:.1f} Hz")
    finally:
        jalv.stop()
    return ok


def main():
    args = common.arguments("--probe")

    server = f"fourwave-test-{os.getpid()}"
    env = dict(os.environ, JACK_DEFAULT_SERVER=server, JACK_NO_START_SERVER="1",
               JACK_NO_AUDIO_RESERVATION="1", LV2_PATH=f"{args.lv2_path}:/usr/lib/lv2")
    log = open(os.path.join(args.work, "jalv.log"), "w")
    # Synchronous: each cycle waits for every client (up to 2 s), so a busy machine slows the
    # clock down rather than dropping a cycle.
    jackd = subprocess.Popen(["jackd", "--no-realtime", "--sync", "--timeout", "2000", "-n",
                              server, "-d", "dummy", "-r",
                              str(RATE), "-p", str(PERIOD)], env=env, stdout=log,
                             stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    ok = False
    try:
        if common.check(wait_for(lambda: "system:playback_1" in ports(env), 20, "jackd"),
                        f"jackd runs on the dummy backend ({RATE} Hz, periods of {PERIOD})"):
            ok = modular(args, env, log)
            ok &= instrument(args, env, log)
    finally:
        stop(jackd)
        log.close()
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
