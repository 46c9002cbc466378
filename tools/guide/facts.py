"""The guide's claims, measured on the real build.

Every number in the guide's text about what the module does (frequencies, ranges, bands, sync,
Active, softened jumps, DC) is filled in from a render made here with `fourwave render` or
`fourwave analyze`, and every behavioural sentence has a check here that the render must
pass. A claim that no longer holds stops the guide's build (and `build.py --check`) with a
message naming the claim, so that the guide cannot say what the module does not do.

measure(fourwave, scratch) returns {placeholder: text} for the template's {{FACT:NAME}}
placeholders, and the extra material the pictures need.
"""

import csv
import math
import os
import re
import subprocess

import numpy as np
import soundfile

RATE = 48000
VOLTS_PER_UNIT = 10.0
OUTPUTS = ["ramp", "saw", "pulse", "triangle"]
# The crossfade bands the guide names, in volts of Pitch: checked against renders below.
BANDS = {"perfect2": (4.5, 7.5), "bright": (5.5, 8.0), "medium": (5.5, 8.0), "dark": (6.0, 8.5)}
# The peak of Triangle Out per volt of Triangle Level, as the guide states it.
TRIANGLE_PEAK = {"perfect": 0.5, "perfect2": 0.45, "bright": 0.46, "medium": 0.46, "dark": 0.46}
# The shapes' labels by key, in choice order: measure() fills them from the plug table.
SHAPE_NAMES = {}


class ClaimFailed(Exception):
    pass


def claim(condition, what):
    """Stops the build when a sentence of the guide is not true of the module."""
    if not condition:
        raise ClaimFailed(what)


def signed(value, digits=2):
    """A measured value with its sign, + included, as the guide prints a DC offset."""
    text = number(value, digits)
    return text if text.startswith("\u2212") or text == "0" else "+" + text


def number(value, digits=2):
    """A measured value as the guide prints it: rounded, without trailing zeros, with a true
    minus sign."""
    text = f"{value:.{digits}f}"
    if "." in text:
        text = text.rstrip("0").rstrip(".")
    if text == "-0":
        text = "0"
    return text.replace("-", "\u2212")


def pitch_hz(volts):
    return 440.0 * 2.0 ** (volts - 5.0)


class Renderer:
    """`fourwave render` into the scratch folder, read back in volts (float64, frames x 4)."""

    def __init__(self, fourwave, scratch):
        self.fourwave = fourwave
        self.scratch = scratch
        self.count = 0

    def __call__(self, *arguments, summary=False):
        self.count += 1
        wav = os.path.join(self.scratch, f"fact-{self.count}.wav")
        command = [self.fourwave, "render", *map(str, arguments), "--rate", str(RATE), "-o", wav]
        if not summary:
            command.insert(2, "-q")
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                text=True)
        if result.returncode != 0:
            raise ClaimFailed(f"{' '.join(command)} failed: {result.stdout.strip()}")
        data, rate = soundfile.read(wav, dtype="float32", always_2d=True)
        os.remove(wav)
        claim(rate == RATE, f"renders at {RATE} Hz")
        volts = data.astype(np.float64) * VOLTS_PER_UNIT
        return (volts, result.stdout) if summary else volts


def all_levels(volts):
    """The four level options of `fourwave render`, all at `volts`."""
    return ["--ramp-level", volts, "--saw-level", volts, "--pulse-level", volts,
            "--triangle-level", volts]


def phase_from_saw(saw, level):
    """Perfect's Saw Out is (t - 0.5) x level: the phase t of every sample."""
    return saw / level + 0.5


def frequency(phase):
    """Mean frequency in Hz from a phase track (cycles), wraps either way undone."""
    step = np.diff(phase)
    step = step - np.round(step)
    return float(np.mean(step)) * RATE


def restarts(phase):
    """Indices of the samples where the phase fell back (a wrap or a restart)."""
    return np.nonzero(np.diff(phase) < -0.25)[0] + 1


# ---------------------------------------------------------------------------------------------
# Pitch

def pitch_facts(render):
    facts = {}
    for volts in (0, 1, 3, 4, 5, 6, 9, 10):
        saw = render("--shape", "perfect", "--pitch", volts, "--saw-level", 10,
                     "--seconds", 1)[:, 1]
        hz = frequency(phase_from_saw(saw, 10.0))
        nominal = pitch_hz(volts)
        ceiling = RATE / 4
        heard = nominal
        for _ in range(4):
            if heard < ceiling:
                break
            heard /= 2
        heard = min(heard, ceiling)
        claim(abs(hz - heard) < 1e-3 * heard,
              f"a Pitch of {volts} V plays {heard:g} Hz at 1 V/octave (measured {hz:.3f} Hz)")
        facts[f"HZ_{volts}V"] = number(hz)
        if volts == 10:
            facts["HZ_10V_NOMINAL"] = f"{nominal:,.0f}"
            claim(nominal >= ceiling, "10 V lies above the ceiling")
    facts["CEILING_HZ"] = f"{RATE / 4:,.0f}"
    # Pitch is read at the start of each block (of 64 samples here), unless FM is on.
    for fm, per_block in (("off", True), ("on", False)):
        saw = render("--shape", "perfect", "--pitch", "sine:50:4:6", "--fm", fm, "--block", 64,
                     "--saw-level", 10, "--seconds", 0.1)[:, 1]
        increment = np.diff(phase_from_saw(saw, 10.0)) % 1.0
        changes = np.nonzero(np.abs(np.diff(increment)) > 1e-7)[0] + 1
        offsets = set((changes % 64).tolist())
        claim(offsets == {0} if per_block else len(offsets) > 32,
              f"with FM {fm} Pitch is read {'once a block' if per_block else 'at every sample'} "
              f"(changes at block offsets {sorted(offsets)[:8]})")
    saw = render("--shape", "perfect", "--freq-scale", "khz", "--pitch", 1, "--saw-level", 10,
                 "--seconds", 1)[:, 1]
    hz = frequency(phase_from_saw(saw, 10.0))
    claim(abs(hz - 1000) < 0.5, f"1 V at 1 V/kHz is 1000 Hz (measured {hz:.2f})")
    facts["HZ_1V_KHZ"] = number(hz, 0)
    saw = render("--shape", "perfect", "--freq-scale", "khz", "--pitch=-0.1", "--saw-level", 10,
                 "--seconds", 0.2)[:, 1]
    hz = frequency(phase_from_saw(saw, 10.0))
    claim(hz < -90, f"a negative Pitch at 1 V/kHz runs the oscillator backwards ({hz:.1f} Hz)")
    return facts


# ---------------------------------------------------------------------------------------------
# Levels, width and the outputs' ranges

def level_facts(render):
    facts = {}
    out = render("--shape", "perfect", "--pitch", 3, "--width", 2, "--ramp-level", 10,
                 "--saw-level", 10, "--pulse-level", 10, "--triangle-level", 10, "--seconds", 0.2)
    ramp, saw, pulse, triangle = out.T
    claim(abs(ramp.max() - 5) < 0.02 and abs(ramp.min() + 5) < 0.02,
          f"at 10 V of level Ramp Out swings from +5 V to -5 V ({ramp.max()}, {ramp.min()})")
    claim(np.mean(np.diff(ramp) < 0) > 0.99, "Ramp Out falls")
    claim(np.mean(np.diff(saw) > 0) > 0.99, "Saw Out rises")
    claim(np.array_equal(saw, -ramp), "in Perfect, Saw Out is Ramp Out upside down")
    claim(abs(pulse.max() - 8) < 1e-4 and abs(pulse.min() + 2) < 1e-4,
          f"at 2 V of Width and 10 V of level the pulse is +8 V and -2 V "
          f"({pulse.max()}, {pulse.min()})")
    phase = phase_from_saw(saw, 10.0)
    quarter = np.argmin(np.abs(phase - 0.25))
    claim(abs(triangle[quarter] - triangle.max()) < 0.02 and abs(triangle[0]) < 0.01,
          "Triangle Out starts at 0 V and is highest a quarter of the way in")
    facts["RAMP_SWING"] = number(ramp.max(), 1)
    facts["PULSE_HIGH_W2"] = number(pulse.max(), 1)
    facts["PULSE_LOW_W2"] = number(pulse.min(), 1)
    # A negative level turns Perfect's outputs upside down, every one of them.
    flipped = render("--shape", "perfect", "--pitch", 3, "--width", 2, *all_levels(-10),
                     "--seconds", 0.2)
    claim(np.allclose(flipped, -out, rtol=0, atol=1e-5),
          "in Perfect a negative level turns each output upside down")

    limited = render("--shape", "perfect", "--pitch", 3, "--ramp-level", 30, "--seconds", 0.1)
    claim(abs(limited[:, 0].max() - 10) < 0.05, "a level of 30 V plays as 20 V")
    # Beyond +-20 V the pulse's plateau keeps growing while its centring offset does not.
    for shape in ("perfect", "bright", "perfect2"):
        pulse = render("--shape", shape, "--pitch", 3, "--pulse-level", 30, "--width", 2.5,
                       "--seconds", 0.5)[:, 2]
        whole = pulse[: int(len(pulse) // (RATE / pitch_hz(3))) * int(RATE / pitch_hz(3))]
        off_centre = abs(np.mean(whole)) > 1.0
        claim(off_centre == (shape != "perfect2"),
              f"{shape}: a Pulse Level of 30 V at 2.5 V of Width is "
              f"{'not ' if shape != 'perfect2' else ''}centred (average {np.mean(whole):.2f} V)")
    silent = render("--shape", "perfect", "--pitch", 3, "--ramp-level", 0, "--width", 10,
                    "--seconds", 0.1)
    claim(not np.any(silent[:, 0]), "an output whose level is 0 V is exactly 0 V")
    claim(not np.any(silent[:, 2]), "at 10 V of Width Pulse Out carries no pulse")
    for shape, peak in TRIANGLE_PEAK.items():
        triangle = render("--shape", shape, "--pitch", 2, "--triangle-level", 10,
                          "--seconds", 0.2)[:, 3]
        claim(abs(triangle.max() - 10 * peak) < 0.01 and abs(triangle.min() + 10 * peak) < 0.01,
              f"{shape}: Triangle Out peaks at +-{peak} of its level "
              f"({triangle.max():.3f}, {triangle.min():.3f})")
    claim(TRIANGLE_PEAK["bright"] == TRIANGLE_PEAK["medium"] == TRIANGLE_PEAK["dark"],
          "Bright, Medium and Dark clip the triangle alike")
    facts["TRIANGLE_PEAK_PERFECT"] = number(TRIANGLE_PEAK["perfect"])
    facts["TRIANGLE_PEAK_PERFECT2"] = number(TRIANGLE_PEAK["perfect2"])
    facts["TRIANGLE_PEAK_SOFT"] = number(TRIANGLE_PEAK["dark"])
    return facts


PULSE_DC_WIDTHS = [0.01, 1, 5, 9, 9.99]


def pulse_facts(render):
    """What Pulse Out averages at each width, shape by shape, and what it carries when Width is
    outside 0 to 10 V. The pulse is meant to average 0 V (high at (1 - W) x level, low at
    -W x level), and does so exactly only in Perfect."""
    facts = {}
    # 55 Hz: one second holds 55 whole cycles, so the mean is the pulse's average.
    dc = {}
    for shape in SHAPE_NAMES:
        for width in PULSE_DC_WIDTHS:
            pulse = render("--shape", shape, "--pitch", 2, "--width", width, "--pulse-level", 5,
                           "--seconds", 1)[:, 2]
            dc[shape, width] = float(np.mean(pulse))
    claim(max(abs(dc["perfect", w]) for w in PULSE_DC_WIDTHS) < 0.005,
          "Perfect's pulse averages 0 V at every width")
    claim(max(abs(dc["perfect2", w]) for w in PULSE_DC_WIDTHS) < 0.01,
          "Perfect 2's pulse averages within 0.01 V of 0 V at every width")
    for shape in ("bright", "medium"):
        claim(all(-0.09 < dc[shape, w] < -0.07 for w in (1, 5, 9)),
              f"{shape}'s pulse averages about -0.08 V from 1 to 9 V of Width")
    claim(abs(dc["dark", 5]) < 0.005 and dc["dark", 0.01] > 0.1 and dc["dark", 9.99] < -0.1,
          "Dark's pulse averages 0 V at 5 V of Width, but not at the narrowest widths")
    lines = ["| shape | " + " | ".join(f"Width {number(w)} V" for w in PULSE_DC_WIDTHS) + " |",
             "|---|" + "---|" * len(PULSE_DC_WIDTHS)]
    for shape, name in SHAPE_NAMES.items():
        lines.append(f"| {name} | " + " | ".join(signed(dc[shape, w], 3) + " V"
                                                for w in PULSE_DC_WIDTHS) + " |")
    facts["PULSE_DC_TABLE"] = "\n".join(lines)
    facts["PULSE_DC_BRIGHT"] = number(dc["bright", 5], 3)
    facts["PULSE_DC_MEDIUM"] = number(dc["medium", 5], 3)
    facts["PULSE_DC_DARK_NARROW"] = number(max(abs(dc["dark", 0.01]), abs(dc["dark", 9.99])), 2)

    # Width at 0 V, 10 V or outside: no pulse, but in and above the crossfade band Pulse Out
    # still carries its share of the clipped triangle.
    peaks = {}
    for shape in SHAPE_NAMES:
        for width in (0, 10, -1, 11):
            low = render("--shape", shape, "--pitch", 3, "--width", width, "--pulse-level", 5,
                         "--seconds", 0.1)[:, 2]
            claim(not np.any(low), f"{shape}: below the band, Width {width} V silences Pulse Out")
            high = render("--shape", shape, "--pitch", 9, "--width", width, "--pulse-level", 5,
                          "--triangle-level", 5, "--seconds", 0.1)
            same = np.allclose(high[:, 2], high[:, 3], rtol=0, atol=1e-6)
            claim(same == (shape != "perfect"),
                  f"{shape}: above the band, with Width {width} V Pulse Out "
                  f"{'is' if shape != 'perfect' else 'is not'} the clipped triangle")
            peaks[shape] = float(np.max(np.abs(high[:, 2])))
    claim(peaks["perfect"] == 0, "Perfect's Pulse Out is silent for a Width outside 0 to 10 V")
    facts["WIDTH_OUT_PEAK_SOFT"] = number(peaks["dark"], 1)
    facts["WIDTH_OUT_PEAK_PERFECT2"] = number(peaks["perfect2"], 2)
    return facts


def negative_level_facts(render):
    """In Perfect 2 a negative level turns Saw, Pulse and Triangle Out upside down, but not Ramp
    Out: its softening formula then applies at every sample, which offsets the ramp and makes
    its size grow with the square of the level."""
    facts = {}
    plus = render("--shape", "perfect2", "--pitch", 3, *all_levels(10), "--seconds", 0.2)
    spans = {}
    for volts in (-5, -10, -20):
        minus = render("--shape", "perfect2", "--pitch", 3, *all_levels(volts), "--seconds", 0.2)
        scale = volts / 10
        for k in (1, 2, 3):
            claim(np.allclose(minus[:, k], plus[:, k] * scale, rtol=0, atol=1e-4),
                  f"Perfect 2: {volts} V of {OUTPUTS[k].capitalize()} Level turns its output "
                  "upside down")
        ramp = minus[2:, 0]
        claim(np.mean(np.diff(ramp) > 0) > 0.99, f"Perfect 2: at {volts} V of Ramp Level Ramp Out "
              "rises")
        claim(abs(np.mean(ramp) - volts / 2) < 0.05 * abs(volts),
              f"Perfect 2: Ramp Out averages half the Ramp Level ({np.mean(ramp):.2f} V at "
              f"{volts} V)")
        spans[volts] = np.ptp(ramp)
        perfect = render("--shape", "perfect", "--pitch", 3, "--ramp-level", volts,
                         "--seconds", 0.2)[:, 0]
        claim(abs(np.mean(perfect)) < 0.05, f"Perfect: at {volts} V Ramp Out averages 0 V")
        key = f"NEG_RAMP_{-volts}"
        facts[f"{key}_LOW"] = number(ramp.min(), 1)
        facts[f"{key}_HIGH"] = signed(ramp.max(), 1)
        facts[f"{key}_DC"] = number(np.mean(ramp), 1)
        facts[f"{key}_PERFECT"] = f"{number(perfect.min(), 1)} to +{number(perfect.max(), 1)}"
    claim(spans[-10] > 3.5 * spans[-5] and spans[-20] > 3.5 * spans[-10],
          f"Perfect 2: Ramp Out's swing grows with the square of a negative level ({spans})")
    # A level that rises quickly misfires the softening too: an envelope's attack on Ramp Level,
    # against the steady ramp scaled by the level (the render's linear sweep).
    seconds = 0.005
    moving = render("--shape", "perfect2", "--pitch", 3, "--ramp-level", "0:10",
                    "--seconds", seconds)[:, 0]
    steady = render("--shape", "perfect2", "--pitch", 3, "--ramp-level", 10,
                    "--seconds", seconds)[:, 0]
    level = np.arange(len(moving)) / len(moving)
    error = float(np.max(np.abs(moving - steady * level)[2:]))
    claim(error > 0.3, f"Perfect 2: Ramp Level rising 10 V in {seconds * 1000:g} ms bends "
          f"Ramp Out ({error:.2f} V)")
    facts["RAMP_ATTACK_ERROR"] = number(error, 1)
    facts["RAMP_ATTACK_MS"] = number(seconds * 1000, 0)
    return facts


def extreme_facts(render):
    """What reaches the outputs at the levels' full range and beyond, with a Sync Advance
    outside 0 to 10 V, and with the oscillator stopped (Pitch 0 V at 1 V/kHz): the table of
    extreme outputs, each case rendered (Pitch 3 V, Width 5 V, one second)."""
    facts = {}
    base = ["--pitch", 3, "--seconds", 1]
    cases = [
        ("all four levels at 10 V", "perfect", all_levels(10)),
        ("all four levels at 20 V", "perfect", all_levels(20)),
        ("all four levels at 100 V", "perfect2", all_levels(100)),
        ("all four levels at 100 V", "perfect", all_levels(100)),
        ("all four levels at 100 V, Width 2.5 V", "bright", [*all_levels(100), "--width", 2.5]),
        ("Ramp Level \u221210 V (the others 10 V)", "perfect2",
         [*all_levels(10), "--ramp-level=-10"]),
        ("Ramp Level \u221220 V (the others 10 V)", "perfect2",
         [*all_levels(10), "--ramp-level=-20"]),
        ("Pitch 5 V, levels 5 V, a 10 V pulse at 200 Hz on Sync, Sync Advance \u221220 V", "dark",
         [*all_levels(5), "--pitch", 5, "--sync", "pulse:200", "--sync-advance=-20"]),
        ("Pitch 5 V, levels 5 V, a 10 V pulse at 200 Hz on Sync, Sync Advance +20 V", "dark",
         [*all_levels(5), "--pitch", 5, "--sync", "pulse:200", "--sync-advance", 20]),
    ]
    stopped = ["--freq-scale", "khz", "--pitch", 0, *all_levels(10)]
    cases += [("Pitch 0 V at 1 V/kHz, levels 10 V: the oscillator stands still", shape, stopped)
              for shape in SHAPE_NAMES]

    def cell(signal):
        low, high, mean = signal.min(), signal.max(), signal.mean()
        if high - low < 1e-6:
            text = f"{signed(high, 2)} V, steady"
        else:
            text = f"{number(low, 1)} to {signed(high, 1)} V"
            if abs(mean) >= 0.05:
                text += f", average {signed(mean, 1)} V"
        return f"**{text}**" if max(abs(low), abs(high)) > 10.05 else text

    lines = ["| what goes in | shape | Ramp Out | Saw Out | Pulse Out | Triangle Out |",
             "|---|---|---|---|---|---|"]
    rendered = {}
    previous = None
    for what, shape, options in cases:
        out = render("--shape", shape, *base, *options)
        rendered[what, shape] = out
        # Pitch 0 V at 1 V/kHz: the first sample may still be a softened jump.
        shown = out[1:] if "stands still" in what else out
        lines.append(f"| {what if what != previous else ''} | {SHAPE_NAMES[shape]} | "
                     + " | ".join(cell(shown[:, k]) for k in range(4)) + " |")
        previous = what
    facts["EXTREME_TABLE"] = "\n".join(lines)

    full = rendered["all four levels at 10 V", "perfect"]
    claim(np.allclose(np.max(np.abs(full), axis=0), 5, atol=0.01),
          "at 10 V of level Perfect's outputs reach 5 V")
    limit = rendered["all four levels at 20 V", "perfect"]
    claim(np.allclose(np.max(np.abs(limit), axis=0), 10, atol=0.02),
          "at 20 V of level Perfect's outputs reach 10 V")
    perfect2 = render("--shape", "perfect2", *base, *all_levels(20))
    claim(np.array_equal(rendered["all four levels at 100 V", "perfect2"], perfect2),
          "Perfect 2 plays a level of 100 V as 20 V, on every output")
    beyond = rendered["all four levels at 100 V", "perfect"]
    claim(np.array_equal(beyond[:, [0, 1, 3]], limit[:, [0, 1, 3]])
          and abs(np.max(beyond[:, 2]) - 50) < 0.1,
          "in Perfect a level of 100 V plays as 20 V on Ramp, Saw and Triangle Out, but Pulse Out "
          "reaches 50 V")
    for shape in SHAPE_NAMES:
        out = rendered["Pitch 0 V at 1 V/kHz, levels 10 V: the oscillator stands still", shape]
        claim(np.ptp(out[1:], axis=0).max() == 0,
              f"{shape}: at 0 V of Pitch at 1 V/kHz the outputs stand still")
    claim(rendered["Pitch 0 V at 1 V/kHz, levels 10 V: the oscillator stands still",
                   "perfect"][-1, 0] > 4.9,
          "Perfect's Ramp Out stands at +5 V when the oscillator stops")
    return facts


# ---------------------------------------------------------------------------------------------
# The crossfade bands and the Ramp flip at their top

def band_facts(render):
    """Below the band a shape's Saw Out is Perfect's (away from the wrap); inside it the
    clipped triangle is mixed in; above the top Ramp, Saw and Pulse Out are the triangle, and
    the Ramp flips from minus the triangle to plus the triangle there."""
    facts = {}
    levels = ["--ramp-level", 5, "--saw-level", 5, "--pulse-level", 5, "--triangle-level", 5]

    def tone(shape, volts):
        return render("--shape", shape, "--pitch", volts, *levels, "--seconds", 0.05)

    for shape, (low, high) in BANDS.items():
        for volts, inside in ((low, False), (low + 0.05, True)):
            plain = tone("perfect", volts)
            shaped = tone(shape, volts)
            phase = phase_from_saw(plain[:, 1], 5.0)
            middle = (phase > 0.1) & (phase < 0.4)
            differs = np.max(np.abs(shaped[middle, 1] - plain[middle, 1]))
            claim((differs > 1e-3) == inside,
                  f"{shape}: the crossfade {'has' if inside else 'has not'} begun at {volts} V "
                  f"(Saw Out departs from the plain saw by {differs:.4f} V)")
        below, above = tone(shape, high - 0.01), tone(shape, high + 0.01)
        for k in (1, 2):
            claim(np.max(np.abs(above[:, k] - above[:, 3])) < 1e-6,
                  f"{shape}: above {high} V Saw and Pulse Out carry the clipped triangle")
        if shape != "perfect2":
            claim(np.allclose(below[:, 1], -below[:, 0], rtol=0, atol=1e-5) and
                  np.allclose(above[:, 1], above[:, 0], rtol=0, atol=1e-5),
                  f"{shape}: Saw Out is Ramp Out upside down below the top of the band, and the "
                  "same triangle above it")
        flip_below = np.corrcoef(below[:, 0], below[:, 3])[0, 1]
        flip_above = np.corrcoef(above[:, 0], above[:, 3])[0, 1]
        claim(flip_below < -0.95 and flip_above > 0.999,
              f"{shape}: Ramp Out flips from minus to plus the triangle at {high} V "
              f"(correlation {flip_below:.3f} below, {flip_above:.3f} above)")
        name = shape.upper()
        facts[f"BAND_LOW_{name}"] = number(low, 1)
        facts[f"BAND_HIGH_{name}"] = number(high, 1)
        facts[f"BAND_LOW_HZ_{name}"] = f"{pitch_hz(low):,.0f}"
        facts[f"BAND_HIGH_HZ_{name}"] = f"{pitch_hz(high):,.0f}"
        facts[f"FLIP_PEAK_{name}"] = number(np.max(above[:, 0]), 2)
        claim(np.max(above[:, 0]) - np.min(below[:, 0]) > 4,
              f"{shape}: the flip swaps a peak for a trough")
    return facts


def flip_sweep(render, shape="perfect2"):
    """A slow sweep through the top of the band with Pitch followed at every sample: the
    waveform of Ramp Out and the moment it flips, for the warning's picture."""
    top = BANDS[shape][1]
    low, high = top - 0.2, top + 0.2
    out = render("--shape", shape, "--fm", "on", "--pitch", f"{low}:{high}", "--ramp-level", 5,
                 "--triangle-level", 5, "--seconds", 0.4)
    flip = int(round((top - low) / (high - low) * len(out)))
    return out, flip, top


# ---------------------------------------------------------------------------------------------
# Perfect 2's softened jumps

def softening_facts(render, examples):
    facts = {}
    # Free running: the one sample at each jump of Ramp and Pulse Out lies between the sides.
    out = render("--shape", "perfect2", "--pitch", 3, "--ramp-level", 5, "--saw-level", 5,
                 "--pulse-level", 5, "--seconds", 0.2)
    for k, name in ((0, "Ramp"), (2, "Pulse")):
        signal = out[:, k]
        big = np.abs(np.diff(signal)) > 0.5
        # A softened jump: one sample between two big steps, the sample that was softened.
        softened = np.nonzero(big[:-1] & big[1:])[0] + 1
        claim(len(softened) > 10, f"{name} Out's jumps are softened")
        inside = all(min(signal[j - 1], signal[j + 1]) <= signal[j]
                     <= max(signal[j - 1], signal[j + 1]) for j in softened)
        claim(inside, f"free-running Perfect 2: {name} Out's softened sample lies between the "
              "two sides of its jump")
    ramp, saw = out[:, 0], out[:, 1]
    mismatch = np.max(np.abs(saw + ramp))
    claim(mismatch > 1.0, "in Perfect 2 Saw Out is not Ramp Out upside down at the jumps "
          f"({mismatch:.3f} V)")
    facts["SAW_RAMP_MISMATCH_V"] = number(mismatch, 1)

    # At sync restarts the ramp's shaped sample can fall outside both sides.
    out = render(examples["hard-sync"])
    ramp = out[:, 0]
    worst = (0.0, 0)
    for i in range(1, len(ramp) - 1):
        low, high = sorted((ramp[i - 1], ramp[i + 1]))
        outside = max(low - ramp[i], ramp[i] - high)
        if outside > worst[0]:
            worst = (outside, i)
    claim(worst[0] > 0.5, "at Perfect 2's sync restarts the softened sample leaves the range "
          f"of its two sides (by {worst[0]:.2f} V at most)")
    i = worst[1]
    facts["SYNC_DIP_V"] = number(ramp[i])
    facts["SYNC_DIP_SIDES"] = f"{number(ramp[i - 1])} V and {number(ramp[i + 1])} V"
    facts["SYNC_DIP_TIME"] = number(i / RATE, 3)
    return facts


# ---------------------------------------------------------------------------------------------
# Sync

def sync_facts(render, examples):
    facts = {}
    # Hard sync: every edge of the 200 Hz source restarts the cycle at its first sample.
    out = render(examples["hard-sync"], "--shape", "perfect")
    phase = phase_from_saw(out[:, 1], 5.0)
    period = RATE // 200
    edges = phase[::period]
    claim(np.max(np.abs(edges)) < 1e-6,
          "hard sync: every rise of the 200 Hz pulse restarts the cycle from 0")

    # Soft sync, the example: an oscillator faster than its source does not lock.
    out = render(examples["soft-sync"], "--shape", "perfect", "--seconds", 2)
    phase = phase_from_saw(out[:, 1], 5.0)
    starts = restarts(phase)
    lengths = np.diff(starts)
    full = np.median(lengths)
    short = np.sum(lengths < 0.75 * full)
    claim(short > 0 and np.ptp(lengths) > 2,
          "soft sync: the example's oscillator, faster than its source, does not lock")
    average = len(starts) / (len(phase) / RATE)
    facts["SOFT_SOURCE_HZ"] = "300"
    facts["SOFT_FAST_HZ"] = number(pitch_hz(4.5), 0)
    facts["SOFT_FAST_AVERAGE_HZ"] = number(average, 0)
    facts["SOFT_FAST_CYCLES_PER_CUT"] = number((len(lengths) - short) / short, 0)
    claim(average > 311, "soft sync: the faster oscillator averages above its own pitch")

    # Slower than the source (but not below the threshold's share of it): locked at 300 Hz.
    for volts, share, locked_hz in ((4.4, "slow", 300), (3.1, "very-slow", 150)):
        out = render(examples["soft-sync"], "--shape", "perfect", "--pitch", volts)
        phase = phase_from_saw(out[:, 1], 5.0)
        lengths = np.diff(restarts(phase))[2:]
        claim(np.all(lengths == RATE // locked_hz),
              f"soft sync: an oscillator at {pitch_hz(volts):.1f} Hz plays {locked_hz} Hz against "
              f"the 300 Hz source (periods {sorted(set(lengths.tolist()))})")
        if share == "very-slow":
            facts["SOFT_VERY_SLOW_LOCK_HZ"] = str(locked_hz)
        facts[f"SOFT_{share.upper().replace('-', '_')}_PITCH"] = number(volts, 1)
        facts[f"SOFT_{share.upper().replace('-', '_')}_HZ"] = number(pitch_hz(volts), 0)

    # Sync Advance 5 V with a 10 V pulse restarts halfway through the cycle.
    out = render("--shape", "perfect", "--pitch", 5, "--saw-level", 5, "--sync", "pulse:200",
                 "--sync-advance", 5, "--seconds", 0.1)
    phase = phase_from_saw(out[:, 1], 5.0)
    claim(np.max(np.abs(phase[RATE // 200::RATE // 200] - 0.5)) < 1e-6,
          "Sync Advance 5 V with a 10 V sync pulse restarts the cycle halfway through")
    return facts


def sync_dc_facts(render):
    """Hard sync cuts the cycle short, so the outputs no longer average 0 V, whatever Sync
    Advance is; and a sine on Sync crosses 0 V where it is near 0 V, so that Sync Advance (a
    share of the Sync voltage at the edge) moves the restart very little."""
    facts = {}
    source, volts = 200, 3
    dc = {}
    for shape in SHAPE_NAMES:
        out = render("--shape", shape, "--pitch", volts, "--sync", f"pulse:{source}",
                     *all_levels(5), "--seconds", 1)
        dc[shape] = np.mean(out, axis=0)
        claim(dc[shape][2] > 1.5 and abs(dc[shape][0]) > 0.9,
              f"{shape}: hard sync of {pitch_hz(volts):g} Hz to {source} Hz puts DC on Pulse Out "
              f"and Ramp Out at 0 V of Sync Advance ({dc[shape]})")
    facts["HARD_SYNC_SOURCE_HZ"] = str(source)
    facts["HARD_SYNC_HZ"] = number(pitch_hz(volts), 0)
    facts["HARD_SYNC_PULSE_DC"] = (f"{signed(min(d[2] for d in dc.values()), 1)} to "
                                   f"{signed(max(d[2] for d in dc.values()), 1)}")
    facts["HARD_SYNC_RAMP_DC"] = signed(dc["perfect"][0], 1)
    facts["HARD_SYNC_SAW_DC"] = signed(dc["perfect"][1], 1)
    # Every cycle is cut where the phase stands at the source's next rise.
    saw = render("--shape", "perfect", "--pitch", volts, "--sync", f"pulse:{source}",
                 "--saw-level", 10, "--seconds", 0.1)[:, 1]
    cut = phase_from_saw(saw, 10.0)[RATE // source - 1:: RATE // source] + pitch_hz(volts) / RATE
    claim(np.allclose(cut, pitch_hz(volts) / source, atol=1e-4),
          f"hard sync cuts every cycle at {pitch_hz(volts) / source:.2f} of its length")
    facts["HARD_SYNC_CUT"] = number(pitch_hz(volts) / source, 2)
    # A sine on Sync: the restart lies at Sync Advance x (the Sync voltage at the edge) / 100 V^2
    # of a cycle, and at the edge a sine is only just above 0 V.
    advance = 5
    facts["SINE_SYNC_ADVANCE"] = number(advance)
    for sync in ("pulse:200", "sine:200:-10:10"):
        saw = render("--shape", "perfect", "--pitch", volts, "--saw-level", 10, "--sync", sync,
                     "--sync-advance", advance, "--seconds", 0.1)[:, 1]
        phase = phase_from_saw(saw, 10.0)
        # One sample after each rise of the source, less that sample's advance.
        later = phase[RATE // source + 1:: RATE // source] - pitch_hz(volts) / RATE
        restart = float(np.max(later))
        if sync.startswith("pulse"):
            claim(abs(restart - 0.5) < 1e-3, f"5 V of advance with a 10 V pulse restarts at half "
                  f"a cycle ({restart:.3f})")
        else:
            claim(restart < 0.05, f"5 V of advance with a 10 V sine restarts within a 20th of a "
                  f"cycle ({restart:.4f})")
            facts["SINE_SYNC_RESTART"] = number(restart, 3)
    return facts


def advance_facts(render):
    """Sync Advance against a 10 V sync pulse: which values keep the outputs in their range,
    and how far the others throw them. The range is the outputs' own at 0 V of advance."""
    facts = {}
    patch = ["--pitch", 5, "--ramp-level", 5, "--saw-level", 5,
             "--pulse-level", 5, "--triangle-level", 5, "--seconds", 1]
    advances = [-20, -10, -5, 0, 5, 10, 15, 20]
    rows = []
    for shape in ("perfect2", "dark"):
        reference = render("--shape", shape, *patch, "--sync", "pulse:200")
        limit = np.max(np.abs(reference), axis=0) * 1.02 + 1e-3
        for advance in advances:
            out = reference if advance == 0 else render("--shape", shape, *patch, "--sync",
                                                         "pulse:200", "--sync-advance", advance)
            outside = np.abs(out) > limit
            share = float(np.mean(np.any(outside, axis=1)))
            worst = int(np.argmax(np.max(np.abs(out), axis=0) / limit))
            peak = out[np.argmax(np.abs(out[:, worst])), worst]
            dc = float(np.mean(out[:, worst]))
            in_range = not np.any(outside)
            if 0 <= advance <= 10:
                claim(in_range, f"{shape}: Sync Advance {advance} V keeps every output in range")
            if advance < 0:
                claim(share > 0.05, f"{shape}: a negative Sync Advance leaves the range")
            rows.append((shape, advance, in_range, OUTPUTS[worst], peak, dc, share))
            if shape == "dark" and advance in (-20, 20):
                key = "MINUS20" if advance < 0 else "PLUS20"
                facts[f"ADVANCE_{key}_PEAK"] = number(peak, 0)
                facts[f"ADVANCE_{key}_OUTPUT"] = OUTPUTS[worst].capitalize() + " Out"
                if advance < 0:
                    facts["ADVANCE_MINUS20_DC"] = number(dc, 1)
                    facts["ADVANCE_MINUS20_SHARE"] = number(share * 100, 1)
    claim(any(not row[2] for row in rows if row[1] == 20 and row[0] == "dark"),
          "Dark: +20 V of Sync Advance throws a spike at every edge")
    # The rule behind the table: the restart lies at Sync Advance x Sync / (10 V x 10 V) of a
    # cycle, in range from 0 to 1: with a 5 V pulse, 20 V of advance is still in range.
    half = render("--shape", "dark", *patch, "--sync", "pulse:200:5", "--sync-advance", 20)
    reference = render("--shape", "dark", *patch, "--sync", "pulse:200:5")
    claim(np.max(np.abs(half)) <= np.max(np.abs(reference)) * 1.02 + 1e-3,
          "with a 5 V sync pulse 20 V of Sync Advance keeps the outputs in range")
    # 10 V and 20 V restart where 0 V does, after one or two samples outside the cycle.
    saws = {advance: render("--shape", "perfect", "--pitch", 5, "--saw-level", 5,
                            "--sync", "pulse:200", "--sync-advance", advance,
                            "--seconds", 0.1)[:, 1] for advance in (0, 10, 20)}
    edges = np.arange(0, len(saws[0]), RATE // 200)
    for advance in (10, 20):
        claim(np.allclose(saws[advance][edges + 2], saws[0][edges + 2], rtol=0, atol=1e-4),
              f"Sync Advance {advance} V restarts where 0 V does")
    lines = ["| shape | Sync Advance | outputs stay in range | furthest out | its peak | "
             "its average (DC) | time out of range |", "|---|---|---|---|---|---|---|"]
    for shape, advance, in_range, output, peak, dc, share in rows:
        lines.append(f"| {SHAPE_NAMES[shape]} | {number(advance, 0)} V | "
                     f"{'yes' if in_range else '**no**'} | {output.capitalize()} Out | "
                     f"{number(peak, 1)} V | {number(dc, 2)} V | {number(share * 100, 1)} % |")
    facts["ADVANCE_TABLE"] = "\n".join(lines)
    return facts


# ---------------------------------------------------------------------------------------------
# Modulation, Active and sleep

def edge_facts(render):
    """Bright, Medium and Dark: slopes a tenth of a cycle wide at the pulse's edges, with a
    residual step that is largest in Bright, smaller in Medium and absent in Dark."""
    steps = {}
    volts = 2
    period = RATE / pitch_hz(volts)
    for shape in ("bright", "medium", "dark"):
        pulse = render("--shape", shape, "--pitch", volts, "--pulse-level", 5,
                       "--seconds", 0.2)[:, 2]
        steps[shape] = float(np.max(np.abs(np.diff(pulse))))
        between = np.mean((np.abs(pulse) < 2.5 - 1e-3)) * period
        claim(abs(between - 0.2 * period) < 0.02 * period,
              f"{shape}: each pulse edge is a slope a tenth of a cycle wide "
              f"({between / period:.3f} of a cycle on the two edges)")
    slope = 10 * 0.5 * pitch_hz(volts) / RATE * 10  # 10 x level per cycle, in volts per sample
    claim(steps["bright"] > steps["medium"] > steps["dark"] and steps["dark"] < 1.01 * slope,
          f"the pulse's steps: Bright largest, then Medium, Dark none ({steps})")
    return {}


def level_rate_facts(render):
    """Levels are taken at the block's first sample and every 16 samples after its eighth
    (offsets 0, 8, 24, 40, 56 of a 64-sample block), except in Perfect 2: at every sample."""
    facts = {}
    # The phase of every sample, from Perfect's Saw Out at a steady level: the same in every
    # shape, which all advance the phase alike.
    steady = render("--shape", "perfect", "--pitch", 3, "--block", 64, "--saw-level", 10,
                    "--seconds", 0.1)
    phase = phase_from_saw(steady[:, 1], 10.0)
    # Saw Out over the unit saw is the level, away from its zero crossing and from the wrap
    # (where the softer shapes bend it).
    unit = phase - 0.5
    usable = (np.abs(unit) > 0.1) & (phase > 0.07) & (phase < 0.93)
    for shape, every_sample in (("perfect", False), ("perfect2", True), ("dark", False)):
        out = render("--shape", shape, "--pitch", 3, "--block", 64,
                     "--saw-level", "sine:1000:1:10", "--seconds", 0.1)
        level = np.where(usable, out[:, 1] / np.where(usable, unit, 1.0), np.nan)
        changed = np.nonzero(np.abs(np.diff(level)) > 1e-3)[0] + 1
        offsets = set((changed % 64).tolist())
        if every_sample:
            claim(len(offsets) > 32, f"{shape} takes its levels at every sample")
        else:
            claim(offsets <= {0, 8, 24, 40, 56} and len(changed) > 100,
                  f"{shape} takes its levels every 16 samples (changes at block offsets "
                  f"{sorted(offsets)})")
    facts["LEVEL_EVERY"] = "16"
    return facts


def modulation_facts(render):
    plain = render("--shape", "perfect", "--pitch", 5, "--saw-level", 5, "--seconds", 0.1)
    shifted = render("--shape", "perfect", "--pitch", 5, "--saw-level", 5, "--pm", "on",
                     "--phase", 10, "--phase-mod", 5, "--seconds", 0.1)
    lag = (phase_from_saw(plain[:, 1], 5.0) - phase_from_saw(shifted[:, 1], 5.0)) % 1.0
    claim(np.all(np.abs(lag - 0.5) < 1e-4),
          "Phase 10 V at a depth of 5 V delays the waveform by half a cycle")
    return {"PM_DELAY": "half"}


def active_facts(render):
    facts = {}
    gate = "gate:0.1-0.3,0.5-0.7"
    out, summary = render("--shape", "perfect", "--pitch", 5, "--saw-level", 10, "--active", gate,
                          "--seconds", 0.8, summary=True)
    saw = out[:, 1]
    times = [float(t) for t in re.findall(r"([0-9.]+) s", summary.split("asked to sleep at")[-1])]
    claim("asked to sleep at" in summary and len(times) == 3,
          f"the module asks to sleep before, between and after the notes ({summary.strip()})")
    for closed, asked in zip((0.0, 0.3, 0.7), times):
        claim(0 <= asked - closed <= 2 * 64 / RATE + 1e-9,
              f"the module asks to sleep within one block of Active reaching 0 V "
              f"({closed} s, asked at {asked} s)")
    sounding = np.nonzero(saw)[0]
    first_note = sounding[sounding < 0.4 * RATE]
    second_note = sounding[sounding > 0.4 * RATE]
    claim(first_note[0] == int(0.1 * RATE) and second_note[0] == int(0.5 * RATE),
          "the notes start with Active")
    claim(not np.any(out[: int(0.1 * RATE)]) and not np.any(out[int(0.31 * RATE): int(0.5 * RATE)]),
          "all four outputs are 0 V while Active is at 0 V")
    phase = phase_from_saw(saw, 10.0)
    increment = pitch_hz(5) / RATE
    end = first_note[-1]
    resumed = phase[second_note[0]]
    running = (phase[end] + (second_note[0] - end) * increment) % 1.0
    steps = ((resumed - phase[end]) % 1.0) / increment
    claim(abs(((resumed - running) + 0.5) % 1.0 - 0.5) > 0.05,
          "once asleep the phase does not keep running")
    claim(abs(steps - round(steps)) < 1e-3 and 1 <= round(steps) <= 2 * 64 + 1,
          "the phase stood still from the end of the wind-down block "
          f"({steps:.3f} samples after the last note's end)")
    facts["SLEEP_PHASE"] = number(resumed, 2)
    # The gate itself on Sync does not restart the notes: the detector is re-armed only by a
    # Sync at 0 V on a sample where Active is on, and the gate is never 0 V there.
    out = render("--shape", "perfect", "--pitch", 5, "--saw-level", 10, "--active", gate,
                 "--sync", gate, "--seconds", 0.8)
    phase = phase_from_saw(out[:, 1], 10.0)
    claim(phase[int(0.5 * RATE)] > 0.01, "the gate itself on Sync does not restart the note")
    # The cure the guide gives: the gate 1 ms late on Sync (threshold 0 V) starts each note at 0.
    late = "gate:0.101-0.3,0.501-0.7"
    out = render("--shape", "perfect", "--pitch", 5, "--saw-level", 10, "--active", gate,
                 "--sync", late, "--seconds", 0.8)
    phase = phase_from_saw(out[:, 1], 10.0)
    starts = [phase[int(0.101 * RATE)], phase[int(0.501 * RATE)]]
    claim(max(starts) < 1e-6, f"the gate 1 ms late on Sync restarts every note ({starts})")
    facts["GATE_SYNC_PHASE"] = number(max(starts), 2)
    # That restart comes 1 ms into a note that began where the phase stood: a jump.
    restart = int(round(0.501 * RATE))
    jump = abs(out[restart, 1] - out[restart - 1, 1])
    claim(jump > 10 * 10 * pitch_hz(5) / RATE,
          f"1 ms into the second note the delayed sync makes Saw Out jump ({jump:.2f} V)")
    facts["DELAYED_SYNC_JUMP"] = number(jump, 1)
    # With Active held on instead, the gate itself on Sync restarts each note at its first
    # sample: the detector is re-armed between the notes.
    held = render("--shape", "perfect", "--pitch", 5, "--saw-level", 10, "--active", 10,
                  "--sync", gate, "--seconds", 0.8)
    phase = phase_from_saw(held[:, 1], 10.0)
    starts = [phase[int(0.1 * RATE)], phase[int(0.5 * RATE)]]
    claim(max(starts) < 1e-6, f"with Active held on, the gate on Sync restarts each note at its "
          f"first sample ({starts})")
    facts["RUNNING_PHASE"] = number(running, 2)
    return facts


def active_switch_facts(render):
    """Active is an on/off switch, not a volume control: only exactly 0 V is off, and the
    module decides to sleep only when the host reports a change on its plugs (the command-line
    host, like a host, reports a signal when it starts and at every step of a stepped one)."""
    facts = {}

    def loudness(out):
        """Pulse Out's peak in each tenth of the render."""
        return np.array([np.max(np.abs(part)) for part in np.array_split(out[:, 2], 10)])

    played = render("--pitch", 3, "--active", 10, "--seconds", 1)
    for name, active in (("TINY", 0.001), ("NEGATIVE", -10)):
        out = render("--pitch", 3, "--active", active, "--seconds", 1)
        claim(np.array_equal(out, played), f"Active at {active} V plays as at 10 V")
        facts[f"ACTIVE_{name}"] = number(active, 3)
    # A falling envelope plays at full level until it reaches 0 V.
    out, summary = render("--pitch", 3, "--active", "10:0", "--seconds", 1, summary=True)
    claim(np.allclose(loudness(out), loudness(played)[0], rtol=0, atol=1e-6)
          and "no sleep request" in summary,
          "a falling sweep on Active plays at full level to its end")
    # A +-10 V square never reaches 0 V: never silent, never asleep.
    out, summary = render("--pitch", 3, "--active", "square:5:-10:10", "--seconds", 1,
                          summary=True)
    claim(np.array_equal(out, played) and "no sleep request" in summary,
          "a square between -10 V and +10 V on Active never silences the module")
    # A smooth rise from 0 V: reported once, at 0 V, so the module sleeps and never wakes.
    out, summary = render("--pitch", 3, "--active", "0:10", "--seconds", 1, summary=True)
    asleep = re.findall(r"asked to sleep at ([0-9.]+) s", summary)
    claim(not np.any(out) and len(asleep) == 1 and float(asleep[0]) <= 2 * 64 / RATE,
          f"a smooth rise from 0 V on Active sends the module to sleep for good ({summary})")
    return facts


VOICE_NOTES = [(0.05, 0.45, 4.25), (0.7, 1.0, 4.0)]  # (gate on, gate off, Pitch in volts)
VOICE_SECONDS = 1.2
# The envelope of the first voice: attack, decay (seconds), sustain (share), release (seconds).
VOICE_ENVELOPE = (0.005, 0.08, 0.6, 0.12)


def voice_envelope(frames):
    """The envelope generator of the first voice, 0 to 10 V, driven by the notes' gates: linear
    attack to 10 V, decay to the sustain level, linear release from wherever it is at the gate's
    end."""
    attack, decay, sustain, release = VOICE_ENVELOPE
    t = np.arange(frames) / RATE
    envelope = np.zeros(frames)
    for on, off, _ in VOICE_NOTES:
        held = (t >= on) & (t < off)
        since = t[held] - on
        envelope[held] = np.where(since < attack, since / attack,
                                  np.maximum(sustain, 1 - (1 - sustain) * (since - attack) / decay))
        at_off = envelope[held][-1]
        falling = (t >= off) & (t < off + release)
        envelope[falling] = at_off * (1 - (t[falling] - off) / release)
    return envelope * 10


def voice_patch():
    """`fourwave render` options for the module's part of the first voice: the keyboard's pitch
    and gate, Active held at 10 V, the gate on Sync, Pulse Level at 10 V (the envelope is
    applied by the caller, as Perfect 2 applies a level: by a product at every sample)."""
    (on1, off1, high), (on2, off2, low) = VOICE_NOTES
    # A square LFO is the keyboard's pitch: the first note for the first half of its period.
    step = (off1 + on2) / 2
    gates = ",".join(f"{on:g}-{off:g}" for on, off, _ in VOICE_NOTES)
    return ["--shape", "perfect2", "--pitch", f"square:{1 / (2 * step):.9g}:{low}:{high}",
            "--active", 10, "--sync", f"gate:{gates}", "--sync-threshold", 0,
            "--sync-advance", 0, "--pulse-level", 10, "--saw-level", 10,
            "--seconds", VOICE_SECONDS], gates


def voice_facts(render):
    """The first playable voice: each note starts at the beginning of the cycle, at its pitch,
    and the envelope on Pulse Level shapes the sound exactly as a product (Perfect 2 takes its
    level at every sample), so that the note starts and ends at 0 V."""
    facts = {}
    patch, gates = voice_patch()
    out, summary = render(*patch, summary=True)
    claim("no sleep request" in summary, "with Active held at 10 V the module never sleeps")
    phase = phase_from_saw(out[:, 1], 10.0)
    for on, off, volts in VOICE_NOTES:
        first = int(round(on * RATE))
        claim(abs(phase[first]) < 1e-6, f"the gate on Sync starts the note at {on} s at the "
              f"beginning of the cycle (phase {phase[first]:.4f})")
        hz = frequency(phase[first + 1: int(off * RATE)])
        claim(abs(hz - pitch_hz(volts)) < 0.01,
              f"the note at {on} s plays {pitch_hz(volts):.2f} Hz ({hz:.2f})")
    # Perfect 2 applies Pulse Level as a product at every sample: a moving level (here an LFO
    # through 0 V) gives the steady render times the level, apart from the very first sample.
    lfo = render("--shape", "perfect2", "--pitch", 3, "--pulse-level", "sine:7:-10:10",
                 "--seconds", 0.5)[:, 2]
    steady = render("--shape", "perfect2", "--pitch", 3, "--pulse-level", 10,
                    "--seconds", 0.5)[:, 2]
    level = 10 * np.sin(2 * np.pi * 7 * np.arange(len(lfo)) / RATE)
    claim(np.max(np.abs(lfo - steady * level / 10)[2:]) < 1e-4,
          "Perfect 2 multiplies Pulse Out by its level at every sample")
    envelope = voice_envelope(len(out))
    heard = out[:, 2] * envelope / 10
    for on, off, _ in VOICE_NOTES:
        first = int(round(on * RATE))
        claim(heard[first - 1] == 0 and abs(heard[first]) < 0.1,
              "the voice's note starts from 0 V")
    claim(heard[-1] == 0 and not np.any(heard[: int(VOICE_NOTES[0][0] * RATE)]),
          "the voice is silent before and after its notes")
    # Active on the gate instead cuts the release: from the full note to 0 V in one sample.
    cut = render(*patch[:-2], "--active", f"gate:{gates}", "--seconds", VOICE_SECONDS)[:, 2]
    end = int(round(VOICE_NOTES[0][1] * RATE))
    claim(abs(cut[end - 1]) > 1 and not np.any(cut[end: end + 64]),
          "Active on the gate silences the module within a sample of the gate's end")
    attack, decay, sustain, release = VOICE_ENVELOPE
    facts["VOICE_ATTACK_MS"] = number(attack * 1000, 0)
    facts["VOICE_DECAY_MS"] = number(decay * 1000, 0)
    facts["VOICE_SUSTAIN_V"] = number(sustain * 10, 0)
    facts["VOICE_RELEASE_MS"] = number(release * 1000, 0)
    facts["VOICE_NOTE_1_HZ"] = number(pitch_hz(VOICE_NOTES[0][2]), 1)
    facts["VOICE_NOTE_2_HZ"] = number(pitch_hz(VOICE_NOTES[1][2]), 1)
    facts["VOICE_NOTE_1_V"] = number(VOICE_NOTES[0][2], 2)
    facts["VOICE_NOTE_2_V"] = number(VOICE_NOTES[1][2], 2)
    return facts, (out, envelope, heard)


# ---------------------------------------------------------------------------------------------
# Defaults

def default_patch(module):
    """`fourwave render` options for a module as it comes (levels and Width at the plug table's
    defaults), with Active at 10 V and Pitch at 5 V so that it can be heard at all."""
    defaults = {plug["name"]: plug["default"] for plug in module["plugs"]}
    arguments = ["--pitch", 5, "--active", 10]
    for name in ("Ramp Level", "Saw Level", "Pulse Level", "Triangle Level", "Width"):
        arguments += ["--" + name.lower().replace(" ", "-"), defaults[name]]
    return arguments


def default_facts(render, module):
    facts = {}
    defaults = {plug["name"]: plug["default"] for plug in module["plugs"]}
    zero_levels = [name for name in ("Ramp Level", "Saw Level", "Pulse Level", "Triangle Level")
                   if float(defaults[name]) == 0]
    claim(zero_levels and float(defaults["Active"]) == 0,
          "some levels and Active default to 0 V")
    facts["ZERO_LEVELS"] = ", ".join(zero_levels[:-1]) + " and " + zero_levels[-1] \
        if len(zero_levels) > 1 else zero_levels[0]
    sounding = [name for name in ("Ramp Level", "Saw Level", "Pulse Level", "Triangle Level")
                if name not in zero_levels]
    facts["SOUNDING_LEVELS"] = ", ".join(sounding)
    facts["SOUNDING_OUTPUTS"] = ", ".join(name.replace("Level", "Out") for name in sounding)
    facts["PULSE_LEVEL_DEFAULT"] = defaults["Pulse Level"]
    facts["PITCH_DEFAULT"] = defaults["Pitch"]
    facts["ACTIVE_DEFAULT"] = defaults["Active"]
    shape = next(plug for plug in module["plugs"] if plug["name"] == "Shape")
    facts["SHAPE_DEFAULT"] = shape["choices"][int(shape["default"])]
    facts["PITCH_DEFAULT_HZ"] = number(pitch_hz(float(defaults["Pitch"])), 1)
    out = render(*default_patch(module), "--seconds", 0.1)
    for k, output in enumerate(OUTPUTS):
        level = output.capitalize() + " Level"
        claim(bool(np.any(out[:, k])) == (level not in zero_levels),
              f"at the default levels {output.capitalize()} Out is "
              f"{'silent' if level in zero_levels else 'sounding'}")
    # What the quick start hears: Perfect 2's pulse at 440 Hz, its jumps sharp, its top and
    # bottom bent by the clipped triangle that Perfect 2 has begun to blend in at 5 V.
    pulse = out[:, 2]
    steps = np.abs(np.diff(pulse))
    claim(np.sum(steps > 1.0) >= 2 * 0.1 * 440 - 2 and np.max(steps[steps < 1.0]) < 0.2,
          "the quick start's pulse jumps from top to bottom within a sample or two")
    top = pulse[pulse > 1.0]
    claim(np.ptp(top) > 0.3 and np.allclose(pulse[pulse < -1.0].min(), -top.max(), atol=0.02),
          f"the quick start's pulse is not flat on top ({top.min():.2f} to {top.max():.2f} V)")
    claim(float(defaults["Pitch"]) < BANDS["perfect2"][0] < 5 < BANDS["perfect2"][1],
          "5 V lies inside Perfect 2's crossfade band")
    facts["QUICK_TOP_LOW"] = number(top.min(), 1)
    facts["QUICK_TOP_HIGH"] = number(top.max(), 1)
    return facts


def host_default_facts(render, root):
    """What a new module plays in the command-line host (its built-in patch, rendered) and on
    the web page, which starts from the same patch (read from the page's own source)."""
    facts = {}
    out, summary = render(summary=True)
    claim("no sleep request" in summary and all(np.any(out[: RATE // 10, k]) for k in range(4)),
          "the command-line host's built-in patch sounds on all four outputs at once")
    saw = out[: RATE // 10, 1]
    claim(abs(np.max(saw) - 2.5) < 0.01, "the built-in patch's levels are 5 V")
    start = frequency(phase_from_saw(out[: RATE // 500, 1], 5.0))
    claim(abs(start - pitch_hz(2)) < 1.0, f"the built-in patch's sweep starts at 55 Hz ({start})")
    claim(abs(len(out) / RATE - 2) < 1e-9, "the built-in patch lasts 2 s")
    facts["CLI_SWEEP_LOW_HZ"] = number(pitch_hz(2), 0)
    facts["CLI_SWEEP_HIGH_HZ"] = f"{pitch_hz(9):,.0f}"

    def source(name):
        with open(os.path.join(root, "web", name), encoding="utf-8") as file:
            return file.read()

    app, page = source("app.js"), source("index.html")
    heard = re.search(r"const FIRST_HEARD = '(\w+)';", app)
    claim(heard and heard.group(1) == "saw" and
          "checked: output.key === FIRST_HEARD" in app,
          "the web page plays Saw Out alone at first")
    claim("state.defaults = JSON.parse(state.engine.defaultPatch())" in app
          and "patch: JSON.stringify(state.patch), loop: true" in app,
          "the web page plays the command-line host's built-in patch, over and over")
    claim(re.search(r'id="master"[^>]*value="-30"', page) is not None,
          "the web page's master volume starts at -30 dB")
    claim(re.search(r'id="latch"[^>]*checked[^>]*> Active held on \(10 V\)', page) is not None,
          "the web page holds Active on at 10 V at first")
    claim(re.search(r">Start audio</button>", page) is not None,
          "the web page's audio starts with the Start audio button")
    return facts


def lv2_default_facts(fourwave):
    """The defaults of the two LV2 plug-ins, read from the bundle's Turtle beside the build."""
    with open(os.path.join(os.path.dirname(fourwave), "fourwave.lv2", "fourwave.ttl"),
              encoding="utf-8") as file:
        turtle = file.read()

    def defaults(uri):
        # The plug-in's own statements run from its subject to the next subject at column 0.
        body = re.search(re.escape(f"<{uri}>") + r"\n\ta lv2:Plugin(.*?)(?=\n<|\Z)", turtle,
                         re.DOTALL)
        claim(body is not None, f"the bundle describes {uri}")
        return {symbol: float(value) for symbol, value in re.findall(
            r'lv2:symbol "(\w+)" ;\s*lv2:name "[^"]*" ;\s*lv2:default ([-\d.]+)', body.group(1))}

    base = "https://tovik.example/plugins/fourwave"
    levels = ("ramp_level", "saw_level", "pulse_level", "triangle_level")
    instrument, cv = defaults(base + "-instrument"), defaults(base)
    claim(instrument.get("active") == 0.0, "the LV2 instrument's Active defaults to 0 V")
    claim([instrument.get(k) for k in levels] == [0.0, 0.0, 5.0, 0.0],
          "the LV2 instrument's levels default to the module's own: Pulse 5 V, the others 0 V")
    claim(cv.get("active") == 10.0 and all(cv.get(k) == 5.0 for k in levels),
          "the LV2 CV plug-in's Active defaults to 10 V and its four levels to 5 V")
    claim(instrument.get("pitch") == cv.get("pitch") == 5.0,
          "both LV2 plug-ins' Pitch defaults to 5 V")
    return {"LV2_PITCH_DEFAULT_HZ": number(pitch_hz(5.0), 0)}


# ---------------------------------------------------------------------------------------------
# Aliasing, DC and the choice of a shape

# The plain table's pitches; the registers are measured every half volt.
ANALYZE_PITCHES = [2, 3, 4, 5, 6, 7, 8, 9]
HALF_VOLT_PITCHES = [2 + 0.5 * k for k in range(15)]
# The registers the guide's advice names, in volts of Pitch, and the shape it advises in each
# (None: every softened shape plays the same clipped triangle there). Checked below.
REGISTERS = [("bass and low middle", 2.0, 4.5, "dark"), ("middle", 5.0, 7.0, "dark"),
             ("high", 7.5, 8.0, "perfect2"), ("top", 8.5, 9.0, None)]


def analysis(fourwave, scratch):
    path = os.path.join(scratch, "facts-alias.csv")
    subprocess.run([fourwave, "analyze", "--pitches", ",".join(map(str, HALF_VOLT_PITCHES)),
                    "--csv", path], check=True, stdout=subprocess.DEVNULL)
    rows = {}
    with open(path, newline="") as file:
        for row in csv.DictReader(file):
            rows[(row["shape"], float(row["pitch_v"]), row["output"])] = row
    os.remove(path)
    return rows


def alias_facts(rows):
    facts = {}
    softened = list(BANDS)

    def alias(shape, volts, output):
        return float(rows[(shape, float(volts), output)]["alias_db"])

    def worst(shape, volts):
        return max(alias(shape, volts, output) for output in ("ramp", "saw", "pulse"))

    for volts in HALF_VOLT_PITCHES:
        claim(worst("perfect", volts) >= max(worst(s, volts) for s in ("bright", "medium", "dark")),
              f"Perfect aliases more than Bright, Medium and Dark at {volts} V")
    # Below 4.5 V Perfect 2 aliases about as much as Perfect, and Dark far less.
    low = [v for v in HALF_VOLT_PITCHES if v <= BANDS["perfect2"][0]]
    spread = max(abs(alias("perfect2", v, o) - alias("perfect", v, o))
                 for v in low for o in ("ramp", "saw", "pulse"))
    claim(spread < 4, f"below 4.5 V Perfect 2 aliases within a few dB of Perfect ({spread:.1f})")
    facts["PERFECT2_SPREAD_DB"] = number(math.ceil(spread), 0)
    gains = [worst("perfect", v) - worst("dark", v) for v in low]
    claim(min(gains) > 30, "below 4.5 V Dark is more than 30 dB cleaner than Perfect")
    facts["DARK_GAIN_LOW_MIN"] = number(math.floor(min(gains)), 0)
    facts["DARK_GAIN_LOW_MAX"] = number(math.floor(max(gains)), 0)
    # In the lower half of its band, where the crossfade has only begun, Perfect 2 aliases
    # a little more than Perfect.
    excess = max(worst("perfect2", v) - worst("perfect", v) for v in (5, 5.5, 6))
    claim(0 < excess < 6,
          f"Perfect 2 aliases a little more than Perfect at 5 to 6 V ({excess:.1f} dB)")
    facts["PERFECT2_EXCESS_DB"] = number(excess, 0)
    # Near the top of its band Dark aliases more than the other softened shapes, which already
    # play the clipped triangle.
    top = BANDS["bright"][1]
    claim(worst("dark", top) > max(worst(s, top) for s in ("perfect2", "bright", "medium")),
          f"at {top} V Dark aliases the most of the softened shapes")
    facts["DARK_WORST_PITCH"] = number(top, 1)
    facts["DARK_WORST_HZ"] = f"{pitch_hz(top):,.0f}"

    # The advice by register: the shape named is the cleanest at every pitch of its register.
    def span(values, digits=0):
        low_db, high_db = min(values), max(values)
        if round(low_db, digits) == round(high_db, digits):
            return f"{number(high_db, digits)} dB"
        return f"{number(high_db, digits)} to {number(low_db, digits)} dB"

    lines = ["| register | Pitch (1 V/octave) | choose | aliasing: that shape | Perfect 2 (the "
             "default) | Perfect |", "|---|---|---|---|---|---|"]
    for index, (name, first, last, advised) in enumerate(REGISTERS):
        pitches = [v for v in HALF_VOLT_PITCHES if first <= v <= last]
        # A register reaches down to where the one below it ends.
        bottom = REGISTERS[index - 1][2] if index else first
        for volts in pitches:
            values = {s: worst(s, volts) for s in softened}
            if advised:
                claim(values[advised] == min(values.values()),
                      f"{SHAPE_NAMES[advised]} is the cleanest shape at {volts} V ({values})")
            else:
                claim(max(values.values()) - min(values.values()) < 1.5,
                      f"at {volts} V the softened shapes alias alike ({values})")
        chosen = advised or "dark"
        choose = SHAPE_NAMES[advised] if advised else "any but Perfect: they play the same"
        lines.append(
            f"| {name} | {number(bottom, 1)} to {number(last, 1)} V "
            f"({pitch_hz(bottom):,.0f} to {pitch_hz(last):,.0f} Hz) | {choose} | "
            f"{span([worst(chosen, v) for v in pitches])} | "
            f"{span([worst('perfect2', v) for v in pitches])} | "
            f"{span([worst('perfect', v) for v in pitches])} |")
    facts["REGISTER_TABLE"] = "\n".join(lines)

    # Bright and Medium's pulse carries DC; the other shapes' outputs do not.
    for shape in ("bright", "medium"):
        dc = float(rows[(shape, 2.0, "pulse")]["dc_v"])
        claim(-0.1 < dc < -0.05, f"{shape}'s Pulse Out averages below 0 V ({dc})")
    for shape in ("perfect", "dark"):
        claim(abs(float(rows[(shape, 2.0, "pulse")]["dc_v"])) < 0.005,
              f"{shape}'s Pulse Out averages 0 V")
    # The plain-words table: the worst of Ramp, Saw and Pulse Out, shape by pitch.
    header = "| shape | " + " | ".join(f"{v} V ({pitch_hz(v):,.0f} Hz)"
                                       for v in ANALYZE_PITCHES) + " |"
    lines = [header, "|---|" + "---|" * len(ANALYZE_PITCHES)]
    for shape in ["perfect", *BANDS]:
        lines.append(f"| {SHAPE_NAMES[shape]} | " +
                     " | ".join(number(worst(shape, v), 0) for v in ANALYZE_PITCHES) + " |")
    facts["ALIAS_PLAIN_TABLE"] = "\n".join(lines)
    return facts


def settings_facts(tests):
    """A change of Shape (or of a modulation setting) is taken up at the next plug-state change,
    and at every block while the module winds down. The command-line host cannot change a
    setting during a render, so the module's own tests of it are run: both must run and pass."""
    cases = ["Lifecycle.SettingsTakeEffectAtTheNextPlugStateChange",
             "Lifecycle.WindingDownFollowsTheSettingsAtEveryBlock"]
    try:
        result = subprocess.run([tests, "--gtest_filter=" + ":".join(cases)],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    except OSError as error:
        raise ClaimFailed(f"the module's tests of its settings did not run ({error}; build them: "
                          "cmake --build --preset linux-sse --target fourwave_tests)")
    claim(result.returncode == 0 and f"[  PASSED  ] {len(cases)} tests." in result.stdout,
          "a change of Shape takes effect at the next plug-state change ("
          + ", ".join(cases) + f"):\n{result.stdout}")
    return {}


def measure(fourwave, scratch, module, examples, root, tests):
    """{placeholder name: text}, and the renders and the first voice that the pictures need."""
    shape = next(plug for plug in module["plugs"] if plug["key"] == "shape")
    SHAPE_NAMES.update(zip(shape["choiceKeys"], shape["choices"]))
    render = Renderer(fourwave, scratch)
    voice, voice_render = voice_facts(render)
    facts = {}
    for part in (pitch_facts(render), level_facts(render), pulse_facts(render),
                 negative_level_facts(render), extreme_facts(render), band_facts(render),
                 softening_facts(render, examples), sync_facts(render, examples),
                 sync_dc_facts(render), advance_facts(render), edge_facts(render),
                 level_rate_facts(render), modulation_facts(render), active_facts(render),
                 active_switch_facts(render), voice,
                 settings_facts(tests), default_facts(render, module),
                 host_default_facts(render, root), lv2_default_facts(fourwave),
                 alias_facts(analysis(fourwave, scratch))):
        overlap = set(facts) & set(part)
        claim(not overlap, f"facts named twice: {overlap}")
        facts.update(part)
    return facts, render, voice_render
