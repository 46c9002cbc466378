#!/usr/bin/python3
"""The instrument in Ardour (Debian's ardour 7), headless: ardour7-lua runs
lv2/hosts/ardour/session.lua on the dummy backend, with notes played by a Lua processor in
front of the plug-in on two MIDI busses (Ardour's Lua cannot write a MIDI region), and this
script checks what came out against the CLI's render of the same patch:

  - Ardour lists the plug-in as an instrument and loads it;
  - on a stereo bus with strict I/O (Ardour's default), at its defaults, the master bus plays
    (a tap at its end, while the transport rolls) and exports the main output, left and right
    alike, bit for bit the sum of the CLI's four waveforms times the documented fade, and it
    is audible;
  - on a bus without strict I/O, with all four levels up, a tap behind the plug-in sees the
    four waveforms bit for bit the CLI's, and the main output the documented sum.

  ardour_test.py --lv2-path DIR --fourwave build/linux-sse/fourwave --work DIR

Prints one "ok"/"FAIL" line per check. ardour7-lua sometimes aborts at its exit after an
export, with or without this plug-in: a run counts when the session script's report ends in
"done", and a run that does not is tried once more.
"""
import os
import shutil
import subprocess
import sys

import numpy as np
import soundfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import common  # noqa: E402

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ardour")
RATE = 48000
SECONDS = 1.0
# The notes: 69 (Pitch, 5 V) and 57 (4 V), each after the module has wound down and slept,
# so that its phase does not depend on what Ardour ran before the export.
NOTES = [(0.1, 0.3, 69), (0.5, 0.7, 57)]
PITCH = "square:1:4:5"  # 5 V until 0.5 s, then 4 V: the notes' pitches, and note 69 before
TAPS_LEVELS = [-3.0, 4.0, 6.0, 7.5]  # Ramp, Saw, Pulse, Triangle on the "Taps" bus
# The shape stays Perfect 2 (the compare host covers the others): a setting changed while the
# module sleeps wakes it for another wind-down, as in the CLI's runner, and how often Ardour
# ran the plug-in before the export is its own affair.
DEFAULT_LEVELS = [0.0, 0.0, 5.0, 0.0]  # the instrument's defaults
FLOAT_WAV_FORMAT = "20b4ab09-6452-4cb3-bd66-b921cdbd2942"  # Ardour's "BWAV 32float Export"
PRESET_ID = "6a1c7e2e-4f3b-4c55-9a8e-0f00d4e1f4a1"


def prepare_home(home):
    """Ardour's configuration of this run only: the two Lua processors and a float-WAV export
    preset."""
    scripts = os.path.join(home, ".config", "ardour7", "scripts")
    export = os.path.join(home, ".config", "ardour7", "export")
    os.makedirs(scripts)
    os.makedirs(export)
    messages = []
    for start, release, note in NOTES:
        messages.append(f"{{ {round(start * RATE)}, 0x90, {note}, 100 }}")
        messages.append(f"{{ {round(release * RATE)}, 0x80, {note}, 0 }}")
    with open(os.path.join(HERE, "notes.lua.in"), encoding="utf-8") as file:
        notes = file.read().replace("@MESSAGES@", ", ".join(messages))
    with open(os.path.join(scripts, "fourwave_notes.lua"), "w", encoding="utf-8") as file:
        file.write(notes)
    shutil.copy(os.path.join(HERE, "tap.lua"), os.path.join(scripts, "fourwave_tap.lua"))
    with open(os.path.join(export, "fourwave-float.preset"), "w", encoding="utf-8") as file:
        file.write(f"""<?xml version="1.0" encoding="UTF-8"?>
<ExportPreset id="{PRESET_ID}" name="Fourwave tests: float WAV">
  <ExportFormat id="{FLOAT_WAV_FORMAT}"/>
  <ExportFilename>
    <Folder relative="0" path="/tmp"/>
    <Field name="label" enabled="1" value="master"/>
  </ExportFilename>
</ExportPreset>
""")


def run_session(args, attempt):
    """One ardour7-lua run; its report's lines, or None when it did not get to "done"."""
    out = os.path.join(args.work, f"run{attempt}")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    home = os.path.join(out, "home")
    prepare_home(home)
    env = dict(os.environ, HOME=home, LV2_PATH=f"{args.lv2_path}:/usr/lib/lv2")
    env.pop("XDG_CONFIG_HOME", None)
    levels = ",".join(str(level) for level in TAPS_LEVELS)
    command = ["ardour7-lua", "--", os.path.join(HERE, "session.lua"), out, common.INSTRUMENT,
               PRESET_ID, str(SECONDS), levels]
    with open(os.path.join(out, "ardour.log"), "w") as log:
        try:
            subprocess.run(command, env=env, stdout=log, stderr=subprocess.STDOUT, timeout=120,
                           check=False, stdin=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            pass  # subprocess.run has killed it
    report = os.path.join(out, "report.txt")
    lines = open(report, encoding="utf-8").read().splitlines() if os.path.exists(report) else []
    return (out, lines) if lines and lines[-1] == "done" else (out, None)


def reference(args, levels, block):
    options = ["--pitch", PITCH,
               "--active", common.gate_text([(s, r) for s, r, _ in NOTES], RATE)]
    for name, level in zip(["ramp", "saw", "pulse", "triangle"], levels):
        options += [f"--{name}-level={level}"]
    return common.cli_render(args.fourwave, SECONDS, RATE, block, options)


def main():
    args = common.arguments()

    out, report = run_session(args, 1)
    if report is None:
        out, report = run_session(args, 2)
    if not common.check(report is not None,
                        "ardour7-lua ran the session to its end (within two tries)"):
        print(open(os.path.join(out, "ardour.log"), errors="replace").read()[-3000:])
        return 1
    facts = {line.split(" ", 1)[0]: line.split(" ", 1)[-1] for line in report}
    ok = common.check(facts.get("listed", "").endswith("instrument true") and
                      facts.get("new_plugin") == "true",
                      f"Ardour lists {common.INSTRUMENT} as an instrument ({facts.get('listed')}) "
                      "and loads it")
    ok &= common.check(facts.get("stereo") == "outputs 2 taps outputs 6",
                       "a stereo MIDI bus with strict I/O gets the main output's two channels, one "
                       f"without all six ({facts.get('stereo')})")
    block = int(facts["rate"].split()[-1])
    frames = int(SECONDS * RATE)
    gain = common.documented_gain([(s, r) for s, r, _ in NOTES], RATE, frames)

    taps = np.fromfile(os.path.join(out, "taps.raw"), dtype="<f4").reshape(6, -1)
    cli = reference(args, TAPS_LEVELS, block)
    differing = [common.bits_differ(taps[2 + c], cli[:, c]) for c in range(4)]
    ok &= common.check(sum(differing) == 0 and all(np.any(cli[:, c]) for c in range(4)),
                       "without strict I/O, levels -3, 4, 6, 7.5 V: the four waveforms "
                       "equal the CLI's render in blocks of "
                       f"{block} ({differing} samples different of {frames})")
    main_differing = common.bits_differ(taps[0], common.documented_main(cli, gain))
    ok &= common.check(common.bits_differ(taps[0], taps[1]) == 0 and main_differing == 0,
                       "... and the main output, left and right alike, is the documented sum "
                       f"times the fade ({main_differing} samples different)")

    defaults = reference(args, DEFAULT_LEVELS, block)
    expected = common.documented_main(defaults, gain)
    # The master bus mixes into a buffer of zeros: a -0.0 arrives as 0.0.
    rolled = np.fromfile(os.path.join(out, "master.raw"), dtype="<f4").reshape(2, -1)
    exported, rate = soundfile.read(os.path.join(out, "master.wav"), dtype="float32",
                                    always_2d=True)
    for name, master in (("played", rolled.T), ("exported", exported)):
        differing = [int(np.count_nonzero(master[:, side] != expected)) for side in range(2)]
        ok &= common.check(master.shape == (frames, 2) and sum(differing) == 0,
                           f"on the stereo bus at the defaults the master bus {name} the main "
                           f"output on both sides ({differing} samples different)")
    note = exported[round(0.1 * RATE):round(0.3 * RATE), 0]
    loudness = common.rms(note)
    ok &= common.check(rate == RATE and loudness > 0.1 and
                       abs(common.frequency(note, RATE) - 440) < 2,
                       f"... audible: note 69 at {common.frequency(note, RATE):.1f} Hz, "
                       f"RMS {loudness:.3f} ({20 * np.log10(loudness):.1f} dBFS)")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
