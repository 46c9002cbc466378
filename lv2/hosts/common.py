"""What the real-host tests of the LV2 plug-ins share (lv2/hosts/ardour_test.py,
jalv_test.py and lv2file_test.py): their arguments, the instrument's documented main output, the CLI's reference renders, a
frequency estimate, and the check lines scripts/test-lv2-hosts counts."""
import argparse
import os
import subprocess
import tempfile

import numpy as np
import soundfile

INSTRUMENT = "https://tovik.example/plugins/fourwave-instrument"
MODULAR = "https://tovik.example/plugins/fourwave"
FADE_SECONDS = 0.005  # the instrument's fade in and out (host/note_player.h)


def arguments(*extra):
    """The arguments every host test takes (the bundle's folder, the CLI, a work folder, and
    `extra` required options), with the work folder made and absolute."""
    parser = argparse.ArgumentParser()
    for name in ("--lv2-path", "--fourwave", "--work") + extra:
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)
    return args


def check(ok, line):
    """One outcome: "ok    LINE" or "FAIL  LINE"."""
    print(("ok    " if ok else "FAIL  ") + line, flush=True)
    return ok


def fade_frames(rate):
    return max(1, int(np.floor(rate * FADE_SECONDS + 0.5)))


def gate_text(gates, rate):
    """The CLI's Active for notes held over `gates` (seconds: start, release): open from the
    start to the release plus the fade, at exact frames."""
    fade = fade_frames(rate)
    spans = []
    for start, release in gates:
        on, off = round(start * rate), round(release * rate) + fade
        spans.append(f"{on / rate!r}-{off / rate!r}")
    return "gate:" + ",".join(spans)


def documented_gain(gates, rate, frames):
    """The instrument's main-output gain at every frame: x^2 (3 - 2x), x = step / fade, over
    the fade after each start and each release, 1 in between, in single precision."""
    fade = fade_frames(rate)
    f = np.float32

    def smoothstep(step):
        if step >= fade:
            return f(1)
        x = f(step) / f(fade)
        return x * x * (f(3) - f(2) * x)

    gain = np.zeros(frames, dtype=np.float32)
    for start, release in gates:
        on, off = round(start * rate), min(round(release * rate), frames)
        for i in range(on, off):
            gain[i] = smoothstep(i - on + 1)
        for i in range(off, min(off + fade, frames)):
            gain[i] = smoothstep(fade - 1 - (i - off))
    return gain


def documented_main(channels, gain):
    """The main output: ((Ramp + Saw) + Pulse) + Triangle, times the gain, in single
    precision. `channels` is frames x 4."""
    c = channels.astype(np.float32)
    return (((c[:, 0] + c[:, 1]) + c[:, 2]) + c[:, 3]) * gain


def cli_render(fourwave, seconds, rate, block, options):
    """The CLI's render (frames x 4, float32) of a patch given as options."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "cli.wav")
        subprocess.run([fourwave, "render", "-q", "--seconds", str(seconds), "--rate", str(rate),
                        "--block", str(block), "-o", path, *options], check=True)
        data, _ = soundfile.read(path, dtype="float32", always_2d=True)
    return data


def bits_differ(a, b):
    """Samples whose bits differ (a length mismatch counts every sample of the longer)."""
    a, b = np.asarray(a, dtype=np.float32), np.asarray(b, dtype=np.float32)
    if a.shape != b.shape:
        return max(a.size, b.size)
    return int(np.count_nonzero(a.view(np.uint32) != b.view(np.uint32)))


def frequency(signal, rate):
    """The strongest frequency of a signal, refined between FFT bins."""
    signal = np.asarray(signal, dtype=np.float64)
    signal = signal - signal.mean()
    spectrum = np.abs(np.fft.rfft(signal * np.hanning(len(signal)), 8 * len(signal)))
    k = int(np.argmax(spectrum[1:])) + 1
    return k * rate / (8 * len(signal))


def rms(signal):
    signal = np.asarray(signal, dtype=np.float64)
    return float(np.sqrt(np.mean(signal * signal))) if len(signal) else 0.0
