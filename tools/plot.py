#!/usr/bin/python3
"""Draw what `fourwave` produced.

  plot.py RENDER.wav [-o OUT.png] [--cycles N]
      The first cycles of each output (Ramp, Saw, Pulse, Triangle) beside its spectrogram.
  plot.py ANALYSIS.csv [-o OUT.png]
      The alias-to-signal ratio against pitch, one line per shape, one panel per output
      (the CSV of `fourwave analyze --csv`).

Uses Debian's python3-numpy, python3-matplotlib and python3-soundfile only. Values on the
plug scale (1.0 = 10 V) are drawn in volts.
"""

import argparse
import csv
import os
import sys

import numpy as np

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (the backend must be chosen first)
import soundfile  # noqa: E402

VOLTS_PER_UNIT = 10.0
OUTPUT_NAMES = ["Ramp Out", "Saw Out", "Pulse Out", "Triangle Out"]
# The render's own silence threshold: anything above this (volts) counts as sound.
SOUND_VOLTS = 1e-4


def fail(message):
    print(f"plot.py: {message}", file=sys.stderr)
    sys.exit(2)


def first_sound(signal):
    loud = np.nonzero(np.abs(signal) > SOUND_VOLTS)[0]
    return int(loud[0]) if loud.size else 0


def estimate_period(signal, rate):
    """Period in samples of the start of a signal, from its autocorrelation over the shortest
    window (50 ms, 200 ms, 1 s) that holds two periods: a sweep is read near its start."""
    for window in (rate // 20, rate // 5, rate):
        period = period_in_window(signal[: min(len(signal), window)])
        if period:
            return period
    return None


def period_in_window(span):
    span = span - span.mean()
    if not np.any(span):
        return None
    n = len(span)
    spectrum = np.fft.rfft(span, 2 * n)
    correlation = np.fft.irfft(spectrum * np.conj(spectrum))[:n]
    correlation /= correlation[0]
    # The first peak after the correlation has gone below zero is one period.
    below = np.nonzero(correlation < 0)[0]
    if not below.size:
        return None
    start = below[0]
    lag = start + int(np.argmax(correlation[start : n // 2])) if start < n // 2 else None
    return lag if lag and correlation[lag] > 0.5 else None


def plot_render(path, out, cycles, title=None, tone=True):
    """`title` replaces the file's name in the heading; `tone` False leaves out the frequency
    of the first cycles (of a frequency-modulated render it is no note)."""
    try:
        data, rate = soundfile.read(path, always_2d=True, dtype="float32")
    except RuntimeError as error:
        fail(f"{path}: {error}")
    volts = data * VOLTS_PER_UNIT
    channels = volts.shape[1]
    names = OUTPUT_NAMES if channels == 4 else [f"channel {c + 1}" for c in range(channels)]

    # One window of the first cycles for all outputs, so that they line up in time.
    mix = np.sum(np.abs(volts), axis=1)
    start = first_sound(mix)
    period = None
    for c in range(channels):
        period = estimate_period(volts[start:, c], rate)
        if period:
            break
    length = int(cycles * period) if period else min(len(volts) - start, rate // 50)
    length = max(2, min(length, len(volts) - start))
    t_ms = (start + np.arange(length)) / rate * 1000.0

    fig, axes = plt.subplots(channels, 2, figsize=(13, 2.3 * channels + 0.8),
                             gridspec_kw={"width_ratios": [1, 1.4]}, squeeze=False)
    seconds = len(volts) / rate
    heading = f"{title or os.path.basename(path)}: {seconds:.3f} s at {rate} Hz"
    if period and tone:
        heading += f"; first cycles at {rate / period:.1f} Hz"
    fig.suptitle(heading)
    for c in range(channels):
        wave, spectrogram = axes[c]
        wave.plot(t_ms, volts[start : start + length, c], lw=1.0, color="C0")
        wave.set_ylabel(f"{names[c]}\nvolts")
        wave.grid(alpha=0.3)
        wave.axhline(0, color="k", lw=0.5)
        if c == channels - 1:
            wave.set_xlabel("time (ms)")

        signal = volts[:, c].astype(np.float64)
        if np.any(signal):
            nfft = 2048 if rate >= 32000 else 1024
            # Exact silences (a gated note) are -inf dB: drawn as the floor, without a warning.
            with np.errstate(divide="ignore"):
                image = spectrogram.specgram(signal, NFFT=nfft, Fs=rate,
                                             noverlap=nfft * 3 // 4, window=np.blackman(nfft),
                                             scale="dB", vmin=-120, cmap="magma",
                                             mode="magnitude")[3]
            fig.colorbar(image, ax=spectrogram, pad=0.01, fraction=0.04,
                         label="level (dB)")
        else:
            spectrogram.text(0.5, 0.5, "silent", ha="center", va="center",
                             transform=spectrogram.transAxes)
        spectrogram.set_xlim(0, seconds)
        spectrogram.set_ylim(0, rate / 2)
        spectrogram.set_ylabel("Hz")
        if c == channels - 1:
            spectrogram.set_xlabel("time (s)")
    fig.tight_layout()
    fig.savefig(out, dpi=90)


def plot_analysis(path, out):
    rows = []
    try:
        with open(path, newline="") as file:
            reader = csv.DictReader(file)
            needed = {"shape", "pitch_v", "output", "alias_db"}
            if not reader.fieldnames or not needed <= set(reader.fieldnames):
                fail(f"{path}: not a 'fourwave analyze --csv' file (needs {', '.join(sorted(needed))})")
            rows = list(reader)
    except OSError as error:
        fail(f"{path}: {error.strerror}")
    outputs = ["ramp", "saw", "pulse", "triangle"]
    shapes = list(dict.fromkeys(r["shape"] for r in rows))
    fig, axes = plt.subplots(2, 2, figsize=(11, 7.5), sharex=True, sharey=True)
    for ax, output, label in zip(axes.flat, outputs, OUTPUT_NAMES):
        for shape in shapes:
            points = sorted((float(r["pitch_v"]), float(r["alias_db"])) for r in rows
                            if r["shape"] == shape and r["output"] == output and r["alias_db"])
            if points:
                x, y = zip(*points)
                ax.plot(x, y, marker="o", label=shape)
        ax.set_title(label)
        ax.grid(alpha=0.3)
    for ax in axes[1]:
        ax.set_xlabel("pitch (V, 1 V/octave; 5 V = 440 Hz)")
    for ax in axes[:, 0]:
        ax.set_ylabel("alias-to-signal ratio (dB)")
    axes[0, 0].legend()
    fig.suptitle(f"{os.path.basename(path)}: aliasing by shape (lower is cleaner)")
    fig.tight_layout()
    fig.savefig(out, dpi=90)


def main():
    parser = argparse.ArgumentParser(
        description="Draw a fourwave render (WAV) or a fourwave analysis (CSV) as a PNG.")
    parser.add_argument("input", help="RENDER.wav from 'fourwave render' or ANALYSIS.csv from "
                        "'fourwave analyze --csv'")
    parser.add_argument("-o", "--output", help="PNG to write (default: the input's name with .png)")
    parser.add_argument("--cycles", type=float, default=3,
                        help="cycles of the outputs to draw from the first sound (default 3)")
    args = parser.parse_args()

    if not os.path.exists(args.input):
        fail(f"{args.input}: no such file")
    out = args.output or os.path.splitext(args.input)[0] + ".png"
    folder = os.path.dirname(os.path.abspath(out))
    if not os.path.isdir(folder):
        fail(f"{out}: no folder '{folder}'")
    # Write next to the target, then move: no half-written picture is left behind.
    temporary = os.path.join(folder, f".{os.path.basename(out)}.{os.getpid()}.png")
    try:
        if args.input.lower().endswith(".csv"):
            plot_analysis(args.input, temporary)
        else:
            plot_render(args.input, temporary, args.cycles)
        os.replace(temporary, out)
    finally:
        if os.path.exists(temporary):
            os.remove(temporary)
    print(f"plot.py: wrote {out}", file=sys.stderr)


if __name__ == "__main__":
    main()
