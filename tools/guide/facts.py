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
SHAPE_NAMES = {"perfect": "Perfect", "perfect2": "Perfect 2", "bright": "Bright",
               "medium": "Medium", "dark": "Dark"}


class ClaimFailed(Exception):
    pass


def claim(condition, what):
    """Stops the build when a sentence of the guide is not true of the module."""
    if not condition:
        raise ClaimFailed(what)


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
    for volts in (0, 1, 5, 9, 10):
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
    claim(abs(np.mean(pulse[: len(pulse) // 1000 * 1000])) < 0.05, "the pulse averages 0 V")
    phase = phase_from_saw(saw, 10.0)
    quarter = np.argmin(np.abs(phase - 0.25))
    claim(abs(triangle[quarter] - triangle.max()) < 0.02 and abs(triangle[0]) < 0.01,
          "Triangle Out starts at 0 V and is highest a quarter of the way in")
    facts["RAMP_SWING"] = number(ramp.max(), 1)
    facts["PULSE_HIGH_W2"] = number(pulse.max(), 1)
    facts["PULSE_LOW_W2"] = number(pulse.min(), 1)

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
        if shape == "perfect2":
            jump = np.max(above[:, 0]) - np.min(below[:, 0])
            facts["FLIP_PEAK_V"] = number(np.max(above[:, 0]), 2)
            facts["FLIP_CORRELATION_BELOW"] = number(flip_below, 2)
            claim(jump > 4, "the flip swaps a peak for a trough")
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
    facts["RUNNING_PHASE"] = number(running, 2)
    return facts


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
    facts["PITCH_DEFAULT_HZ"] = number(pitch_hz(float(defaults["Pitch"])), 1)
    out = render(*default_patch(module), "--seconds", 0.1)
    for k, output in enumerate(OUTPUTS):
        level = output.capitalize() + " Level"
        claim(bool(np.any(out[:, k])) == (level not in zero_levels),
              f"at the default levels {output.capitalize()} Out is "
              f"{'silent' if level in zero_levels else 'sounding'}")
    return facts


# ---------------------------------------------------------------------------------------------
# Aliasing, DC and the choice of a shape

ANALYZE_PITCHES = [2, 3, 4, 5, 6, 7, 8, 9]


def analysis(fourwave, scratch):
    path = os.path.join(scratch, "facts-alias.csv")
    subprocess.run([fourwave, "analyze", "--pitches", ",".join(map(str, ANALYZE_PITCHES)),
                    "--csv", path], check=True, stdout=subprocess.DEVNULL)
    rows = {}
    with open(path, newline="") as file:
        for row in csv.DictReader(file):
            rows[(row["shape"], float(row["pitch_v"]), row["output"])] = row
    os.remove(path)
    return rows


def alias_facts(rows):
    facts = {}

    def alias(shape, volts, output):
        return float(rows[(shape, float(volts), output)]["alias_db"])

    def worst(shape, volts):
        return max(alias(shape, volts, output) for output in ("ramp", "saw", "pulse"))

    for volts in ANALYZE_PITCHES:
        claim(worst("perfect", volts) >= max(worst(s, volts) for s in ("bright", "medium", "dark")),
              f"Perfect aliases more than Bright, Medium and Dark at {volts} V")
    for volts in (v for v in ANALYZE_PITCHES if v < BANDS["dark"][0]):
        claim(worst("dark", volts) == min(worst(s, volts) for s in ["perfect", *BANDS]),
              f"Dark is the cleanest shape at {volts} V, below its band")
    facts["DARK_GAIN_LOW"] = number(5 * round((worst("perfect", 2) - worst("dark", 2)) / 5), 0)
    facts["DARK_GAIN_HIGH"] = number(5 * round((worst("perfect", 9) - worst("dark", 9)) / 5), 0)
    claim(worst("dark", 2) < worst("perfect", 2) - 30, "Dark is far cleaner at 55 Hz")
    # Below its band Perfect 2 aliases about as much as Perfect.
    spread = max(abs(alias("perfect2", v, o) - alias("perfect", v, o))
                 for v in (2, 3, 4) for o in ("ramp", "saw", "pulse"))
    claim(spread < 4, f"below 4.5 V Perfect 2 aliases within a few dB of Perfect ({spread:.1f})")
    facts["PERFECT2_SPREAD_DB"] = number(math.ceil(spread), 0)
    # In the lower half of its band, where the crossfade has only begun, Perfect 2 aliases
    # a little more than Perfect.
    excess = max(worst("perfect2", v) - worst("perfect", v) for v in (5, 6))
    claim(0 < excess < 6,
          f"Perfect 2 aliases a little more than Perfect at 5 to 6 V ({excess:.1f} dB)")
    facts["PERFECT2_EXCESS_DB"] = number(excess, 0)
    # Bright and Medium's pulse carries DC; the other shapes' outputs do not.
    for shape in ("bright", "medium"):
        dc = float(rows[(shape, 2.0, "pulse")]["dc_v"])
        claim(-0.1 < dc < -0.05, f"{shape}'s Pulse Out averages below 0 V ({dc})")
        facts[f"PULSE_DC_{shape.upper()}"] = number(dc, 3)
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


def measure(fourwave, scratch, module, examples):
    """{placeholder name: text}, and the renders the warnings' pictures need."""
    render = Renderer(fourwave, scratch)
    facts = {}
    for part in (pitch_facts(render), level_facts(render), band_facts(render),
                 softening_facts(render, examples), sync_facts(render, examples),
                 advance_facts(render), edge_facts(render), level_rate_facts(render),
                 modulation_facts(render),
                 active_facts(render),
                 default_facts(render, module), alias_facts(analysis(fourwave, scratch))):
        overlap = set(facts) & set(part)
        claim(not overlap, f"facts named twice: {overlap}")
        facts.update(part)
    return facts, render
