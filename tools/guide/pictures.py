"""The guide's own pictures, beside the renders that tools/plot.py draws: the module's plugs
drawn from its plug table, the spectra of the shapes at several pitches, and the warnings'
close-ups. Each takes the matplotlib module that plot.py set up, so that every picture is
saved the same way (no library version in the PNG, the same bytes for the same data).
"""

import numpy as np

from facts import BANDS, RATE, SHAPE_NAMES, pitch_hz
from plugs import plug_range


def draw_plugs(plt, module, ranges, out):
    """The module as a panel: inputs on the left, outputs on the right, settings below, each
    with its number, name, range (from the about text) and default (from the plug table)."""
    inputs = [p for p in module["plugs"] if p["kind"] == "input"]
    outputs = [p for p in module["plugs"] if p["kind"] == "output"]
    settings = [p for p in module["plugs"] if p["kind"] == "setting"]
    rows = max(len(inputs), len(outputs))
    height = rows + len(settings) * 0.75 + 2.8
    fig, ax = plt.subplots(figsize=(11, height * 0.42))
    ax.set_xlim(0, 11)
    ax.set_ylim(-height, 0.6)
    ax.axis("off")
    ax.add_patch(plt.Rectangle((3.2, -rows - 0.4), 4.6, rows + 0.9, facecolor="#eef1f5",
                               edgecolor="#44546a", lw=1.5))
    ax.text(5.5, 0.05, module["name"].replace(" SSE", ""), ha="center", va="center",
            fontsize=13, weight="bold", color="#1f2d3d")
    ax.text(5.5, -0.5, "one phase, four waveforms", ha="center", va="center", fontsize=9,
            color="#44546a")

    def plug_text(plug):
        range_text = plug_range(plug, ranges) or ""
        range_text = range_text.split(" (")[0]
        default = f"default {plug['default']} V"
        detail = f"{range_text}; {default}" if range_text else default
        return f"{plug['number']}  {plug['name']}", detail

    for row, plug in enumerate(inputs):
        y = -1.1 - row * (rows - 0.6) / max(len(inputs) - 1, 1)
        title, detail = plug_text(plug)
        ax.plot(3.2, y, "o", ms=9, mfc="white", mec="#1f77b4", mew=2)
        ax.annotate("", xy=(3.05, y), xytext=(2.5, y),
                    arrowprops={"arrowstyle": "->", "color": "#1f77b4"})
        ax.text(2.4, y + 0.1, title, ha="right", va="center", fontsize=9, weight="bold")
        ax.text(2.4, y - 0.25, detail, ha="right", va="center", fontsize=7.5, color="#444")
    for row, plug in enumerate(outputs):
        y = -1.1 - (rows - 0.6) * (2 * row + 1) / (2 * len(outputs))
        level = plug["name"].replace(" Out", " Level")
        ax.plot(7.8, y, "o", ms=9, mfc="#d62728", mec="#d62728", mew=2)
        # The output's waveform, one cycle, inside the panel beside its jack.
        cycle = np.linspace(0, 1, 200)
        wave = {"Ramp Out": 0.5 - cycle, "Saw Out": cycle - 0.5,
                "Pulse Out": np.where(cycle <= 0.5, 0.5, -0.5),
                "Triangle Out": np.interp(cycle, [0, 0.25, 0.75, 1], [0, 0.5, -0.5, 0])}
        ax.plot(6.3 + cycle * 1.1, y + wave[plug["name"]] * 0.8, color="#d62728", lw=1.5)
        ax.annotate("", xy=(8.6, y), xytext=(7.95, y),
                    arrowprops={"arrowstyle": "->", "color": "#d62728"})
        ax.text(8.7, y + 0.1, f"{plug['number']}  {plug['name']}", ha="left", va="center",
                fontsize=9, weight="bold")
        ax.text(8.7, y - 0.25, f"\u00b1 half of {level}", ha="left", va="center", fontsize=7.5,
                color="#444")
    top = -rows - 1.3
    ax.text(0.2, top, "Settings (chosen in the host, not patched):", fontsize=9.5,
            weight="bold", va="center")
    for row, plug in enumerate(settings):
        y = top - 0.75 - row * 0.75
        choices = plug["choices"] or []
        default = int(plug["default"]) if plug["default"].lstrip("-").isdigit() else None
        shown = ", ".join(f"[{c}]" if i == default else c for i, c in enumerate(choices))
        ax.text(0.5, y, f"{plug['number']}  {plug['name']}:", fontsize=9, va="center",
                weight="bold")
        ax.text(5.0, y, shown, fontsize=9, va="center")
    ax.text(0.2, -height + 0.4, "Blue: inputs. Red: outputs. [ ] marks a setting's default. "
            "Drawn from the plug table and about text of the built module.", fontsize=8,
            color="#444")
    fig.tight_layout()
    fig.savefig(out, dpi=90)
    plt.close(fig)


def spectrum_db(signal):
    """Magnitude spectrum in dB relative to its highest peak, 4-term Blackman-Harris."""
    n = len(signal)
    k = np.arange(n)
    window = (0.35875 - 0.48829 * np.cos(2 * np.pi * k / n) + 0.14128 * np.cos(4 * np.pi * k / n)
              - 0.01168 * np.cos(6 * np.pi * k / n))
    magnitude = np.abs(np.fft.rfft((signal - signal.mean()) * window))
    with np.errstate(divide="ignore"):
        db = 20 * np.log10(magnitude / magnitude.max())
    return np.fft.rfftfreq(n, 1 / RATE), np.maximum(db, -140)


def draw_spectra(plt, render, out, pitches=(3, 5, 7)):
    """Saw Out's spectrum for each shape (rows) at each pitch (columns), on a log frequency
    axis: the bins around the harmonics in blue, everything else (the aliasing) in red."""
    shapes = ["perfect", *BANDS]
    fig, axes = plt.subplots(len(shapes), len(pitches), figsize=(13, 2.0 * len(shapes) + 1.0),
                             sharex=True, sharey=True, squeeze=False)
    for row, shape in enumerate(shapes):
        for column, volts in enumerate(pitches):
            ax = axes[row, column]
            saw = render("--shape", shape, "--pitch", volts, "--saw-level", 5,
                         "--seconds", 0.5)[4096:4096 + 16384, 1]
            freqs, db = spectrum_db(saw)
            fundamental = pitch_hz(volts)
            # Within 4 bins (the window's main lobe) of a harmonic: the note; elsewhere: aliasing.
            distance = np.abs(freqs / fundamental - np.round(freqs / fundamental)) * fundamental
            harmonic = (distance <= 4 * RATE / len(saw)) & (freqs >= fundamental / 2)
            ax.plot(freqs, np.where(harmonic, np.nan, db), lw=0.5, color="C3",
                    label="aliasing (and leakage)")
            ax.plot(freqs, np.where(harmonic, db, np.nan), lw=0.7, color="C0",
                    label="the note's harmonics")
            ax.set_xscale("log")
            ax.set_xlim(50, RATE / 2)
            ax.set_ylim(-130, 5)
            ax.grid(alpha=0.3)
            if row == 0:
                ax.set_title(f"Pitch {volts} V: {fundamental:,.0f} Hz")
            if column == 0:
                ax.set_ylabel(f"{SHAPE_NAMES[shape]}\ndB")
            if row == len(shapes) - 1:
                ax.set_xlabel("frequency (Hz)")
    axes[0, 0].legend(loc="lower left", fontsize=7)
    fig.suptitle("Saw Out, 48 kHz, in dB below its strongest harmonic: blue is the note, red "
                 "is aliasing")
    fig.tight_layout()
    fig.savefig(out, dpi=80)
    plt.close(fig)


def draw_sync_advance(plt, render, out):
    """Dark's outputs with a 10 V sync pulse at 200 Hz and Sync Advance at 0, -20 and +20 V."""
    patch = ["--shape", "dark", "--pitch", 5, "--sync", "pulse:200", "--ramp-level", 5,
             "--saw-level", 5, "--pulse-level", 5, "--triangle-level", 5, "--seconds", 0.05]
    cases = [0, -20, 20]
    fig, axes = plt.subplots(len(cases), 1, figsize=(11, 7.5), sharex=True, squeeze=False)
    reference = None
    for ax, advance in zip(axes[:, 0], cases):
        volts = render(*patch, "--sync-advance", advance)
        if reference is None:
            reference = np.max(np.abs(volts))
        t = np.arange(len(volts)) / RATE * 1000
        ax.axhspan(-reference, reference, color="#2ca02c", alpha=0.12,
                   label="the range at 0 V of advance")
        ax.plot(t, volts[:, 2], lw=0.9, label="Pulse Out")
        ax.plot(t, volts[:, 0], lw=0.9, label="Ramp Out")
        for edge in np.arange(0, t[-1], 5.0):
            ax.axvline(edge, color="k", lw=0.4, ls=":")
        ax.set_ylabel("volts")
        ax.set_title(f"Sync Advance {advance:+d} V" if advance else "Sync Advance 0 V",
                     loc="left", fontsize=10)
        ax.grid(alpha=0.3)
    axes[0, 0].legend(loc="upper right", fontsize=8)
    axes[-1, 0].set_xlabel("time (ms); dotted: the rises of the 10 V, 200 Hz sync pulse")
    fig.suptitle("Shape Dark, Pitch 5 V, levels 5 V: where Sync Advance throws the outputs")
    fig.tight_layout()
    fig.savefig(out, dpi=80)
    plt.close(fig)


def draw_ramp_flip(plt, sweep, out):
    """Ramp Out and Triangle Out around the top of Perfect 2's band, Pitch swept slowly."""
    volts, flip, high = sweep
    span = int(0.0016 * RATE)
    window = slice(flip - span, flip + span)
    t = (np.arange(len(volts))[window] - flip) / RATE * 1000
    fig, ax = plt.subplots(figsize=(11, 3.6))
    ax.plot(t, volts[window, 3], lw=4, color="C1", alpha=0.35, label="Triangle Out")
    ax.plot(t, volts[window, 0], ".-", lw=1.0, ms=3, color="C0", label="Ramp Out (samples)")
    ax.axvline(0, color="C3", lw=1, ls="--")
    ax.text(0.3, ax.get_ylim()[1] * 0.85, f"Pitch reaches {high:g} V", color="C3", fontsize=9)
    ax.set_xlabel("time (ms) from the moment Pitch reaches the top of the band")
    ax.set_ylabel("volts")
    ax.grid(alpha=0.3)
    ax.legend(loc="lower left", fontsize=8)
    ax.set_title("Perfect 2, Ramp and Triangle Level 5 V, Pitch swept through the top of the "
                 "band: Ramp Out turns over", fontsize=10)
    fig.tight_layout()
    fig.savefig(out, dpi=80)
    plt.close(fig)


def draw_voice_patch(plt, module, out):
    """The first playable voice as a patch: the host's keyboard, an envelope, the module (with
    the plugs named as its plug table names them) and the host's audio output."""
    names = {plug["name"] for plug in module["plugs"]}
    used = ["Pitch", "Sync", "Active", "Pulse Level", "Pulse Out", "Shape"]
    missing = [name for name in used if name not in names]
    if missing:
        raise ValueError(f"the voice's picture names plugs the module lacks: {missing}")
    fig, ax = plt.subplots(figsize=(11, 4.6))
    ax.set_xlim(0, 11)
    ax.set_ylim(-0.2, 4.6)
    ax.axis("off")

    def box(x, y, width, height, title, colour="#eef1f5"):
        ax.add_patch(plt.Rectangle((x, y), width, height, facecolor=colour, edgecolor="#44546a",
                                   lw=1.5))
        ax.text(x + width / 2, y + height - 0.25, title, ha="center", va="center", fontsize=10,
                weight="bold", color="#1f2d3d")

    def jack(x, y, label, side, kind):
        colour = "#1f77b4" if kind == "input" else "#d62728"
        ax.plot(x, y, "o", ms=8, mfc="white" if kind == "input" else colour, mec=colour, mew=2)
        ax.text(x + (0.12 if side == "left" else -0.12), y, label, fontsize=8.5,
                ha="left" if side == "left" else "right", va="center")

    def wire(start, end, label=None, dashed=False, bend=0.0):
        ax.annotate("", xy=end, xytext=start,
                    arrowprops={"arrowstyle": "->", "color": "#333", "lw": 1.3,
                                "ls": "--" if dashed else "-",
                                "connectionstyle": f"arc3,rad={bend}"})
        if label:
            ax.text((start[0] + end[0]) / 2, (start[1] + end[1]) / 2 + 0.15, label,
                    fontsize=8, ha="center", color="#444")

    box(0.2, 2.3, 2.0, 1.7, "Keyboard\n(in the host)")
    jack(2.2, 3.3, "pitch", "right", "output")
    jack(2.2, 2.6, "gate", "right", "output")
    box(3.2, 0.3, 1.9, 1.3, "Envelope (ADSR)")
    jack(3.2, 0.75, "gate", "left", "input")
    jack(5.1, 0.75, "out", "right", "output")
    box(4.0, 1.75, 1.1, 0.6, "10 V", colour="#f6f6f6")
    jack(5.1, 1.95, "", "right", "output")
    box(6.3, 0.1, 2.4, 4.2, "Tovik Fourwave")
    ax.text(7.5, 3.75, "Shape: Perfect 2 (the default)", ha="center", fontsize=8, color="#444")
    inputs = {"Pitch": 3.3, "Sync": 2.6, "Active": 1.95, "Pulse Level": 0.75}
    for name, y in inputs.items():
        jack(6.3, y, name, "left", "input")
    jack(8.7, 2.0, "Pulse Out", "right", "output")
    box(9.4, 1.5, 1.4, 1.0, "host's audio\noutput", colour="#f6f6f6")
    jack(9.4, 2.0, "", "left", "input")
    wire((2.3, 3.3), (6.2, 3.3), "1 V per octave: 5 V is 440 Hz")
    wire((2.3, 2.6), (6.2, 2.6), "optional: each note starts its cycle", dashed=True)
    wire((2.3, 2.6), (3.1, 0.8), bend=0.25)
    wire((5.2, 1.95), (6.2, 1.95), "held on")
    wire((5.2, 0.75), (6.2, 0.75), "0 to 10 V")
    wire((8.8, 2.0), (9.3, 2.0))
    fig.tight_layout()
    fig.savefig(out, dpi=90)
    plt.close(fig)


def draw_voice_result(plt, voice, notes, out):
    """The first voice played: the keyboard's gate, the envelope on Pulse Level, and Pulse Out,
    with close-ups of a note's first milliseconds and of its release."""
    volts, envelope, heard = voice
    t = np.arange(len(heard)) / RATE
    gate = np.zeros(len(heard))
    for on, off, _ in notes:
        gate[(t >= on) & (t < off)] = 10
    fig = plt.figure(figsize=(12, 8.2))
    grid = fig.add_gridspec(4, 2, height_ratios=[0.8, 0.8, 1.5, 1.5])
    keys = fig.add_subplot(grid[0, :])
    keys.plot(t, gate, color="C2", lw=1.2)
    for on, off, pitch in notes:
        keys.text((on + off) / 2, 5, f"Pitch {pitch:g} V: {pitch_hz(pitch):.1f} Hz", ha="center",
                  va="center", fontsize=9)
    keys.set_ylabel("gate (V)")
    keys.set_title("The keyboard's gate (and the pitch of each note)", loc="left", fontsize=10)
    level = fig.add_subplot(grid[1, :], sharex=keys)
    level.plot(t, envelope, color="C1", lw=1.2)
    level.set_ylabel("volts")
    level.set_title("The envelope into Pulse Level", loc="left", fontsize=10)
    sound = fig.add_subplot(grid[2, :], sharex=keys)
    sound.plot(t, heard, color="C0", lw=0.4)
    sound.set_ylabel("volts")
    sound.set_xlabel("time (s)")
    sound.set_title("Pulse Out: the voice", loc="left", fontsize=10)
    for ax in (keys, level, sound):
        ax.grid(alpha=0.3)
    on, off, _ = notes[1]
    first = slice(int(on * RATE) - int(0.002 * RATE), int(on * RATE) + int(0.012 * RATE))
    last = slice(int(off * RATE) - int(0.02 * RATE), int(off * RATE) + int(0.13 * RATE))
    for column, (span, title) in enumerate(((first, "The second note's first 12 ms"),
                                            (last, "Its end: the release after the gate"))):
        ax = fig.add_subplot(grid[3, column])
        ax.plot(t[span] * 1000, envelope[span] / 2, color="C1", lw=2.5, alpha=0.45,
                label="envelope \u00f7 2 (the pulse's height)")
        ax.plot(t[span] * 1000, heard[span], color="C0", lw=1.0, label="Pulse Out")
        ax.axvline((on if column == 0 else off) * 1000, color="C2", ls="--", lw=1.5, zorder=5,
                   label="the gate " + ("opens" if column == 0 else "closes"))
        ax.set_title(title, loc="left", fontsize=10)
        ax.set_xlabel("time (ms)")
        ax.set_ylabel("volts")
        ax.grid(alpha=0.3)
        ax.legend(loc="lower left", fontsize=7.5)
    fig.suptitle("The first voice: shape Perfect 2, Active held at 10 V, the gate on Sync, an "
                 "envelope on Pulse Level")
    fig.tight_layout()
    fig.savefig(out, dpi=80)
    plt.close(fig)
