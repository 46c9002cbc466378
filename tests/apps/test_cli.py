#!/usr/bin/python3
"""End-to-end tests of the fourwave command-line host.

Each test runs the program as a user does, then reads what it wrote: the WAV files back through
libsndfile (python3-soundfile), the CSV of an analysis, the summary line and the exit status.
The truths are independent of the module's code: zero-crossing and spectrum-peak frequencies,
the 1 V/octave law (5 V = 440 Hz), sox's own `stat`, the periodicity that hard sync forces,
and exact silence outside a gate.

  test_cli.py --fourwave PATH --plugin PATH --source DIR [unittest arguments, e.g. Render]
"""

import argparse
import csv
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import numpy as np
import soundfile

ARGS = None
RATE = 48000
RAMP, SAW, PULSE, TRIANGLE = range(4)


def run(*arguments, plugin=True):
    """Runs fourwave with `arguments`; returns (status, stdout, stderr)."""
    command = [ARGS.fourwave, *arguments]
    if plugin and arguments and arguments[0] in ("render", "analyze"):
        command += ["--plugin", ARGS.plugin]
    done = subprocess.run(command, capture_output=True, text=True, timeout=60)
    return done.returncode, done.stdout, done.stderr


def rising_crossing_hz(signal, rate):
    """Frequency from the rising zero crossings, interpolated between samples."""
    s = np.asarray(signal, dtype=np.float64)
    idx = np.nonzero((s[:-1] < 0) & (s[1:] >= 0))[0]
    if len(idx) < 3:
        return 0.0
    exact = idx + (-s[idx]) / (s[idx + 1] - s[idx])
    return rate * (len(exact) - 1) / (exact[-1] - exact[0])


def peak_hz(signal, rate):
    """Frequency of the strongest spectral line, by parabolic interpolation of a Hann FFT."""
    s = np.asarray(signal, dtype=np.float64)
    s = (s - s.mean()) * np.hanning(len(s))
    magnitude = np.abs(np.fft.rfft(s))
    k = int(np.argmax(magnitude[1:])) + 1
    a, b, c = np.log(magnitude[k - 1 : k + 2] + 1e-300)
    return (k + 0.5 * (a - c) / (a - 2 * b + c)) * rate / len(s)


class CliTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="fourwave-cli-")

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.folder, name)

    def example(self, name):
        return os.path.join(ARGS.source, "examples", name)

    def render(self, *arguments, name="out.wav"):
        out = self.path(name)
        status, _, err = run("render", *arguments, "-o", out)
        self.assertEqual(status, 0, err)
        data, rate = soundfile.read(out, always_2d=True, dtype="float32")
        return data, rate, err

    def leftovers(self):
        return sorted(os.listdir(self.folder))


class Render(CliTest):
    def test_default_patch_is_a_four_channel_float_sweep(self):
        data, rate, err = self.render()
        info = soundfile.info(self.path("out.wav"))
        self.assertEqual(info.channels, 4)
        self.assertEqual(info.subtype, "FLOAT")
        self.assertEqual(rate, 48000)
        self.assertEqual(len(data), 96000)
        self.assertRegex(err, r"96000 frames \(2\.000 s at 48000 Hz, shape perfect2\) rendered in "
                              r"[0-9.]+ s, [0-9.]+x real time; no sleep request")
        # A sweep from 2 V (55 Hz) to 9 V (7040 Hz): the first 0.2 s sit near 55 to 80 Hz and
        # the saw's zero crossings speed up over the render.
        start = rising_crossing_hz(data[:4800, SAW], rate)
        end = rising_crossing_hz(data[-4800:, TRIANGLE], rate)
        self.assertTrue(50 < start < 70, start)
        self.assertTrue(5000 < end < 7100, end)

    def test_steady_440_hz_at_5_volts(self):
        data, rate, _ = self.render("--pitch", "5", "--shape", "perfect", "--seconds", "0.5")
        for channel in (RAMP, SAW, PULSE, TRIANGLE):
            self.assertAlmostEqual(peak_hz(data[:, channel], rate), 440.0, delta=0.5)
        self.assertAlmostEqual(rising_crossing_hz(data[:, SAW], rate), 440.0, delta=0.05)

    def test_sox_agrees_on_the_frequency(self):
        # A tool nobody here wrote: sox's rough frequency of the triangle (from its RMS slope,
        # which reads a triangle about 10 % high).
        if shutil.which("sox") is None:
            self.skipTest("sox is not installed")
        self.render("--pitch", "5", "--seconds", "1", "--shape", "perfect")
        done = subprocess.run(["sox", self.path("out.wav"), "-n", "remix", "4", "stat"],
                              capture_output=True, text=True)
        rough = float(re.search(r"Rough\s+frequency:\s+(\d+)", done.stderr).group(1))
        self.assertTrue(400 <= rough <= 500, done.stderr)

    def test_one_volt_per_octave_and_per_khz(self):
        data, rate, _ = self.render("--pitch", "3", "--shape", "perfect", "--seconds", "0.5")
        self.assertAlmostEqual(rising_crossing_hz(data[:, SAW], rate), 110.0, delta=0.02)
        data, rate, _ = self.render("--pitch", "1.5", "--freq-scale", "khz", "--shape", "perfect",
                                    "--seconds", "0.5")
        self.assertAlmostEqual(rising_crossing_hz(data[:, SAW], rate), 1500.0, delta=0.5)

    def test_rate_option(self):
        data, rate, _ = self.render("--pitch", "5", "--rate", "44100", "--seconds", "0.25",
                                    "--shape", "perfect")
        self.assertEqual(rate, 44100)
        self.assertEqual(len(data), 11025)
        self.assertAlmostEqual(rising_crossing_hz(data[:, SAW], rate), 440.0, delta=0.1)

    def test_levels_in_volts_and_their_limit(self):
        data, _, _ = self.render("--pitch", "4", "--shape", "perfect", "--seconds", "0.2",
                                 "--ramp-level", "5", "--saw-level", "-5", "--pulse-level", "2",
                                 "--triangle-level", "10")
        # 1.0 = 10 V: a level of 5 V swings the ramp between -2.5 V and +2.5 V.
        self.assertAlmostEqual(float(data[:, RAMP].max()) * 10, 2.5, delta=0.02)
        self.assertAlmostEqual(float(data[:, RAMP].min()) * 10, -2.5, delta=0.02)
        # A negative level inverts: Saw Out at -5 V is the ramp.
        np.testing.assert_allclose(data[:, SAW], data[:, RAMP], atol=1e-6)
        self.assertAlmostEqual(float(np.abs(data[:, PULSE]).max()) * 10, 1.0, places=4)
        self.assertAlmostEqual(float(data[:, TRIANGLE].max()) * 10, 5.0, delta=0.01)
        # Beyond +-20 V the module limits the level; the tool passes the value on silently.
        out = self.path("loud.wav")
        status, _, err = run("render", "-o", out, "--pitch", "4", "--shape", "perfect",
                             "--seconds", "0.2", "--ramp-level", "35", "--width", "12")
        self.assertEqual(status, 0, err)
        self.assertEqual(err.count("\n"), 1, err)  # the summary line only
        loud, _ = soundfile.read(out, always_2d=True, dtype="float32")
        self.assertAlmostEqual(float(loud[:, RAMP].max()) * 10, 10.0, delta=0.05)  # 20 V x 0.5
        self.assertEqual(float(np.abs(loud[:, PULSE]).max()), 0.0)  # Width beyond 10 V: no pulse

    def test_block_sizes_do_not_change_a_steady_tone(self):
        fixed, _, _ = self.render("--pitch", "5.3", "--shape", "bright", "--seconds", "0.3",
                                  name="fixed.wav")
        varied, _, _ = self.render("--pitch", "5.3", "--shape", "bright", "--seconds", "0.3",
                                   "--block", "random", "--seed", "7", name="random.wav")
        odd, _, _ = self.render("--pitch", "5.3", "--shape", "bright", "--seconds", "0.3",
                                "--block", "7", name="odd.wav")
        np.testing.assert_array_equal(fixed, varied)
        np.testing.assert_array_equal(fixed, odd)

    def test_split_writes_one_file_per_output(self):
        whole, _, _ = self.render("--pitch", "6", "--seconds", "0.1")
        status, _, err = run("render", "--pitch", "6", "--seconds", "0.1", "--split",
                             "-o", self.path("split.wav"))
        self.assertEqual(status, 0, err)
        for channel, name in enumerate(["ramp", "saw", "pulse", "triangle"]):
            mono, rate = soundfile.read(self.path(f"split-{name}.wav"), dtype="float32")
            self.assertEqual(mono.ndim, 1)
            np.testing.assert_array_equal(mono, whole[:, channel])
        self.assertNotIn("split.wav", self.leftovers())

    def test_patch_file_and_command_line_override(self):
        patch = self.path("patch.json")
        with open(patch, "w") as f:
            f.write('{"comment": "test", "shape": "perfect", "pitch": 3, "seconds": 0.25}')
        data, rate, err = self.render(patch)
        self.assertIn("shape perfect", err)
        self.assertAlmostEqual(rising_crossing_hz(data[:, SAW], rate), 110.0, delta=0.05)
        data, rate, _ = self.render(patch, "--pitch", "4")
        self.assertEqual(len(data), 12000)  # the file's length stays
        self.assertAlmostEqual(rising_crossing_hz(data[:, SAW], rate), 220.0, delta=0.1)

    def test_default_plugin_is_found_next_to_the_program(self):
        out = self.path("default.wav")
        done = subprocess.run([ARGS.fourwave, "render", "-o", out, "--seconds", "0.05"],
                              capture_output=True, text=True, cwd=self.folder)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertTrue(os.path.exists(out))

    def test_every_example_renders(self):
        for patch in sorted(glob.glob(os.path.join(ARGS.source, "examples", "*.json"))):
            with self.subTest(patch=os.path.basename(patch)):
                data, _, _ = self.render(patch, "--seconds", "0.3", name="example.wav")
                self.assertTrue(np.all(np.isfinite(data)))
                self.assertLess(float(np.abs(data).max()), 2.0)


class Gate(CliTest):
    def test_gated_note_is_silent_outside_its_gates_and_sleeps(self):
        data, rate, err = self.render(self.example("gated-note.json"))
        # Gates 0.1-0.4 s and 0.7-0.9 s, blocks of 64: exact zeros outside, sound inside.
        seconds = np.arange(len(data)) / rate
        outside = (seconds < 0.1) | ((seconds >= 0.4) & (seconds < 0.7)) | (seconds >= 0.9)
        self.assertEqual(float(np.abs(data[outside]).max()), 0.0)
        for begin, end in ((0.1, 0.4), (0.7, 0.9)):
            note = data[(seconds >= begin) & (seconds < end)]
            self.assertGreater(float(np.abs(note).max()) * 10, 2.0)
            self.assertAlmostEqual(rising_crossing_hz(note[:, SAW], rate), 220.0, delta=0.2)
        # Active off for one block (64 frames) after each change to 0 V, then a sleep request:
        # at the start (off until 0.1 s), after 0.4 s and after 0.9 s.
        times = [float(t) for t in re.findall(r"([0-9.]+) s", err.split("asked to sleep at")[1])]
        self.assertEqual(len(times), 3, err)
        for time, off in zip(times, (0.0, 0.4, 0.9)):
            # The summary prints milliseconds: allow half of one either way.
            self.assertGreaterEqual(time, off + 64 / rate - 0.0005)
            self.assertLessEqual(time, off + 2 * 64 / rate + 0.0005)

    def test_active_off_throughout_sleeps_after_one_block(self):
        data, rate, err = self.render("--active", "0", "--seconds", "0.1", "--block", "32")
        self.assertEqual(float(np.abs(data).max()), 0.0)
        self.assertIn("asked to sleep at 0.001 s", err)  # 32 frames = 0.67 ms

    def test_active_on_never_sleeps(self):
        _, _, err = self.render("--seconds", "0.1")
        self.assertIn("no sleep request", err)


class Sync(CliTest):
    def test_hard_sync_forces_the_master_period(self):
        # 200 Hz master = exactly 240 frames: after the first edge every cycle is the same.
        data, rate, _ = self.render("--pitch", "5.5", "--shape", "perfect", "--seconds", "0.3",
                                    "--sync", "pulse:200", "--sync-threshold", "0")
        period = rate // 200
        late = data[2400:]
        np.testing.assert_allclose(late[period:], late[:-period], atol=1e-6)
        free, _, _ = self.render("--pitch", "5.5", "--shape", "perfect", "--seconds", "0.3",
                                 "--sync", "pulse:200", "--sync-threshold", "10", name="free.wav")
        self.assertGreater(float(np.abs(free[2400 + period:] - free[2400:-period]).max()), 0.1)
        self.assertAlmostEqual(rising_crossing_hz(free[:, SAW], rate), 622.25, delta=0.1)

    def test_sync_advance_sets_the_phase_at_each_edge(self):
        # Edges every 240 frames (200 Hz pulses of 10 V). The new phase is Sync Advance times
        # Sync: 0 V restarts the cycle (Saw Out at -level/2), 5 V starts it half-way (0 V).
        for advance, expected in (("0", -0.25), ("5", 0.0), ("2.5", -0.125)):
            data, _, _ = self.render("--pitch", "5.5", "--shape", "perfect", "--seconds", "0.1",
                                     "--sync", "pulse:200", "--sync-advance", advance,
                                     name=f"advance-{advance}.wav")
            edges = data[240::240, SAW]
            np.testing.assert_allclose(edges, expected, atol=1e-6, err_msg=f"advance {advance} V")

    def test_fm_follows_the_pitch_input(self):
        # FM on with a square LFO on Pitch between 4 V and 5 V: the tone alternates between
        # 220 Hz and 440 Hz every 0.1 s (5 Hz square).
        data, rate, _ = self.render("--fm", "on", "--pitch", "square:5:4:5", "--shape", "perfect",
                                    "--seconds", "0.2")
        self.assertAlmostEqual(rising_crossing_hz(data[480:4320, SAW], rate), 440.0, delta=0.5)
        self.assertAlmostEqual(rising_crossing_hz(data[5280:9120, SAW], rate), 220.0, delta=0.5)

    def test_phase_modulation_with_zero_depth_is_the_plain_tone(self):
        plain, _, _ = self.render("--pitch", "5", "--shape", "perfect", "--seconds", "0.1",
                                  name="plain.wav")
        modulated, _, _ = self.render("--pitch", "5", "--shape", "perfect", "--seconds", "0.1",
                                      "--pm", "on", "--phase", "sine:300:0:10",
                                      "--phase-mod", "0", name="pm.wav")
        np.testing.assert_array_equal(plain, modulated)
        deep, _, _ = self.render("--pitch", "5", "--shape", "perfect", "--seconds", "0.1",
                                 "--pm", "on", "--phase", "sine:300:0:10", "--phase-mod", "3",
                                 name="deep.wav")
        self.assertGreater(float(np.abs(deep - plain).max()), 0.1)


class Analyze(CliTest):
    def test_perfect_aliases_more_than_dark_at_a_high_pitch(self):
        csv_path = self.path("alias.csv")
        status, out, err = run("analyze", "--shapes", "perfect,dark", "--pitches", "2,9",
                               "--csv", csv_path)
        self.assertEqual(status, 0, err)
        self.assertRegex(out, r"perfect\s+9\.0 V\s+7040\.00")
        with open(csv_path) as f:
            rows = list(csv.DictReader(f))
        self.assertEqual(len(rows), 2 * 2 * 4)
        alias = {(r["shape"], float(r["pitch_v"]), r["output"]): float(r["alias_db"])
                 for r in rows}
        dc = {(r["shape"], float(r["pitch_v"]), r["output"]): float(r["dc_v"]) for r in rows}
        for output in ("ramp", "saw", "pulse"):
            self.assertGreater(alias[("perfect", 9.0, output)], alias[("dark", 9.0, output)] + 15)
            self.assertGreater(alias[("perfect", 2.0, output)], alias[("dark", 2.0, output)] + 30)
        # A naive saw at 55 Hz folds back what lies above 24 kHz: about 1/436 of its harmonic
        # energy (the sum of 1/k^2 beyond the 436th harmonic, over pi^2/6), -28.5 dB.
        self.assertAlmostEqual(alias[("perfect", 2.0, "saw")], -28.5, delta=1.0)
        # Aliasing rises with pitch.
        self.assertGreater(alias[("perfect", 9.0, "saw")], alias[("perfect", 2.0, "saw")] + 15)
        # Symmetric waveforms: no DC to speak of.
        for key, volts in dc.items():
            if key[0] == "dark" or key[2] in ("saw", "ramp", "triangle"):
                self.assertLess(abs(volts), 0.05, key)

    def test_bad_shape_list(self):
        status, out, err = run("analyze", "--shapes", "perfect,round")
        self.assertEqual(status, 2)
        self.assertIn("--shapes", err)
        self.assertIn("'round'", err)


class BadInput(CliTest):
    """One line naming the problem and its place, status 2, and no file left behind."""

    def check_refused(self, arguments, *expected, patch_text=None):
        out = self.path("out.wav")
        if patch_text is not None:
            with open(self.path("bad.json"), "w") as f:
                f.write(patch_text)
        status, stdout, err = run("render", *arguments, "-o", out)
        self.assertEqual(status, 2, err)
        lines = err.strip().splitlines()
        self.assertEqual(len(lines), 1, err)
        self.assertTrue(lines[0].startswith("fourwave: "), err)
        for text in expected:
            self.assertIn(text, lines[0])
        self.assertEqual([n for n in self.leftovers() if n != "bad.json"], [])
        return lines[0]

    def test_unknown_option(self):
        self.check_refused(["--frobnicate", "3"], "--frobnicate")

    def test_unknown_shape(self):
        self.check_refused(["--shape", "round"], "--shape", "'round'", "perfect2")

    def test_value_that_is_not_a_number(self):
        self.check_refused(["--pitch", "high"], "--pitch", "'high'")
        self.check_refused(["--rate", "fast"], "--rate", "'fast'")
        self.check_refused(["--seconds", "0"], "--seconds")
        self.check_refused(["--block", "0"], "--block")
        self.check_refused(["--sync", "pulse:often"], "--sync", "often")

    def test_unknown_patch_key(self):
        bad = self.path("bad.json")
        self.check_refused([bad], bad, '"pich"', "unknown key", patch_text='{"pich": 5}')

    def test_malformed_json(self):
        bad = self.path("bad.json")
        self.check_refused([bad], bad, "malformed JSON", "line 2",
                           patch_text='{"pitch": 5,\n "shape" "dark"}')

    def test_patch_value_that_is_not_a_number(self):
        bad = self.path("bad.json")
        self.check_refused([bad], bad, '"rate"', "'fast'", patch_text='{"rate": "fast"}')
        self.check_refused([bad], bad, '"shape"', "'round'", patch_text='{"shape": "round"}')
        self.check_refused([bad], bad, '"width"', patch_text='{"width": [5]}')

    def test_missing_patch_file(self):
        self.check_refused([self.path("absent.json")], "absent.json", "cannot read")

    def test_library_that_does_not_load(self):
        out = self.path("out.wav")
        status, _, err = run("render", "-o", out, "--plugin", self.path("absent.so"), plugin=False)
        self.assertEqual(status, 2)
        self.assertEqual(err.count("\n"), 1, err)
        self.assertIn("--plugin", err)
        self.assertIn("absent.so", err)
        self.assertFalse(os.path.exists(out))
        text = self.path("text.so")
        with open(text, "w") as f:
            f.write("not a library\n")
        out = self.path("out.wav")
        status, _, err = run("render", "-o", out, "--plugin", text, plugin=False)
        self.assertEqual(status, 2)
        self.assertIn("--plugin", err)
        self.assertIn("text.so", err)
        self.assertFalse(os.path.exists(out))

    def test_library_without_the_exports(self):
        # Any shared library that is not a plug-in: the C maths library.
        libm = next((p for p in ("/lib/x86_64-linux-gnu/libm.so.6", "/usr/lib/x86_64-linux-gnu/libm.so.6",
                                 "/lib64/libm.so.6") if os.path.exists(p)), None)
        if libm is None:
            self.skipTest("no libm.so.6 found")
        out = self.path("out.wav")
        status, _, err = run("render", "-o", out, "--plugin", libm, plugin=False)
        self.assertEqual(status, 2, err)
        self.assertIn("lacks the export", err)
        self.assertFalse(os.path.exists(out))

    def test_output_folder_that_does_not_exist(self):
        status, _, err = run("render", "-o", self.path("no/such/folder/out.wav"))
        self.assertEqual(status, 2)
        self.assertIn("no/such/folder", err)

    def test_missing_output(self):
        status, _, err = run("render", "--pitch", "5")
        self.assertEqual(status, 2)
        self.assertIn("--output", err)

    def test_interrupted_render_leaves_nothing(self):
        out = self.path("long.wav")
        command = [ARGS.fourwave, "render", "-q", "--plugin", ARGS.plugin, "--seconds", "3000",
                   "-o", out]
        process = subprocess.Popen(command, stderr=subprocess.PIPE)
        for _ in range(100):  # wait until the temporary file is there, at most 2 s
            if self.leftovers():
                break
            time.sleep(0.02)
        self.assertTrue(any(n.startswith(".long.wav.") for n in self.leftovers()))
        process.send_signal(signal.SIGINT)
        process.communicate(timeout=30)
        self.assertEqual(process.returncode, -signal.SIGINT)
        self.assertEqual(self.leftovers(), [])

    def test_existing_file_is_kept_when_the_render_is_refused(self):
        out = self.path("out.wav")
        with open(out, "w") as f:
            f.write("earlier")
        status, _, _ = run("render", "-o", out, "--pitch", "nope")
        self.assertEqual(status, 2)
        with open(out) as f:
            self.assertEqual(f.read(), "earlier")
        self.assertEqual(self.leftovers(), ["out.wav"])


class Help(CliTest):
    def test_help_texts(self):
        status, out, _ = run("--help")
        self.assertEqual(status, 0)
        for text in ("render", "analyze", "Exit status"):
            self.assertIn(text, out)
        status, out, _ = run("render", "--help", plugin=False)
        self.assertEqual(status, 0)
        for text in ("--shape", "--freq-scale", "--fm", "--pm", "--rate", "--block", "--seconds",
                     "--pitch", "--width", "--ramp-level", "--sync-threshold", "--sync-advance",
                     "--phase-mod", "--active", "--split", "--plugin", "SIGNAL"):
            self.assertIn(text, out)
        status, out, _ = run("analyze", "--help", plugin=False)
        self.assertEqual(status, 0)
        for text in ("--shapes", "--pitches", "--rate", "--csv"):
            self.assertIn(text, out)

    def test_no_subcommand(self):
        status, _, err = run()
        self.assertEqual(status, 2)
        self.assertIn("--help", err)


class Plot(CliTest):
    def test_plot_render_and_analysis(self):
        self.render("--seconds", "0.2")
        csv_path = self.path("a.csv")
        status, _, err = run("analyze", "--shapes", "perfect,dark", "--pitches", "5,9",
                             "--csv", csv_path)
        self.assertEqual(status, 0, err)
        plot = os.path.join(ARGS.source, "tools", "plot.py")
        for source, png in ((self.path("out.wav"), self.path("out.png")),
                            (csv_path, self.path("a.png"))):
            done = subprocess.run(["/usr/bin/python3", plot, source, "-o", png],
                                  capture_output=True, text=True, timeout=60)
            self.assertEqual(done.returncode, 0, done.stderr)
            with open(png, "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--fourwave", required=True)
    parser.add_argument("--plugin", required=True)
    parser.add_argument("--source", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=1)
