#!/usr/bin/python3
"""Build the user guide for patch builders, docs/guide/, from the real build.

  build.py [--fourwave build/linux-sse/fourwave] [--plugin PATH] [--tests PATH]
           [--out docs/guide]
      Measures every claim of the guide on the build (tools/guide/facts.py: renders with
      `fourwave render` and `fourwave analyze`; what no render can show, a setting changed
      while the module runs, by the module's own tests in fourwave_tests, --tests; by default
      beside fourwave), reads the plug table and, from the plug-in library, the about text
      (`fourwave plugs --json`, tools/guide/plugs.py; by default fourwave_sse.so beside
      fourwave), renders each shape
      and each example, draws them with tools/plot.py and the guide's own pictures
      (tools/guide/pictures.py: the plugs, the first voice, the spectra, the warnings), fills
      the text of tools/guide/guide.md.in (the measured values, the alias table, the about
      text, the examples' settings from examples/*.json, the addresses of the about text from
      module/identity.cpp) and writes fourwave-guide.md, its HTML rendering
      fourwave-guide.html and pictures/*.png.
  build.py --check [--fourwave ...] [--plugin ...] [--tests ...] [--out docs/guide]
      Measures the claims again and builds the Markdown and HTML afresh (not the pictures)
      and compares them with the committed ones: exit status 1, naming the files, when the
      guide is out of date; also checks that every picture the guide shows is there.

A claim that the build does not bear out (a sentence of the template whose check in facts.py
fails, a plug table row whose number, name or kind differs from the plug table's) stops either
run with status 2 and a line naming the claim.

The same build gives the same bytes: the Markdown rendering is deterministic and the pictures
are written without the plotting library's version in their metadata.

Uses Debian's python3-markdown, python3-numpy, python3-matplotlib and python3-soundfile.
"""

import argparse
import filecmp
import html
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

import markdown

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import facts  # noqa: E402  (tools/guide/, found through the path above)
import pictures  # noqa: E402
import plugs  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(HERE))
TEMPLATE = os.path.join(HERE, "guide.md.in")
INSTALL_LV2 = os.path.join(HERE, "install-lv2.md")
STYLE = os.path.join(HERE, "guide.css")
IDENTITY = os.path.join(ROOT, "module", "identity.cpp")
EXAMPLES = os.path.join(ROOT, "examples")
PLOT = os.path.join(ROOT, "tools", "plot.py")


def read_version():
    """MAJOR.MINOR from the repository's VERSION file, the one version of the release."""
    with open(os.path.join(ROOT, "VERSION"), encoding="utf-8") as file:
        version = file.readline().strip()
    if not re.fullmatch(r"[0-9]+\.[0-9]+", version):
        sys.exit(f"build.py: VERSION must hold MAJOR.MINOR, not '{version}'")
    return version


VERSION = read_version()

# The example patches the guide shows, with their titles.
EXAMPLES_SHOWN = {"hard-sync": "hard sync", "soft-sync": "soft sync",
                  "fm-half": "frequency modulation at half the audio rate",
                  "phase-mod": "phase modulation", "gated-note": "a gated note"}
MARKDOWN_NAME = "fourwave-guide.md"
HTML_NAME = "fourwave-guide.html"

# The render's own settings, not plugs.
RENDER_KEYS = {"seconds", "rate", "block", "seed"}


def fail(message):
    print(f"build.py: {message}", file=sys.stderr)
    sys.exit(2)


def run(command, **kwargs):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            **kwargs)
    if result.returncode != 0:
        fail(f"{' '.join(command)} failed ({result.returncode}):\n{result.stderr}")
    return result.stdout


# ---------------------------------------------------------------------------------------------
# The text

def identity_addresses():
    with open(IDENTITY, encoding="utf-8") as file:
        source = file.read()
    web = re.search(r'"(https?://[^"\\\s]+)\\n"', source)
    email = re.search(r'"([A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+)\\n"', source)
    if not web or not email:
        fail(f"{IDENTITY}: no web or e-mail line found in the about text")
    return web.group(1), email.group(1)


def volts(text):
    return f"{text} V"


def describe_signal(value):
    """A signal of `fourwave render` in words (see the render command's signal table)."""
    text = str(value)
    parts = text.split(":")
    try:
        float(parts[0])
        parts.insert(0, "lin")
    except ValueError:
        pass
    kind = parts[0]
    if len(parts) == 2 and kind == "lin":
        return volts(parts[1])
    if kind in ("lin", "exp") and len(parts) == 3:
        adjective = "a linear" if kind == "lin" else "an exponential"
        return f"{adjective} sweep from {volts(parts[1])} to {volts(parts[2])}"
    if kind in ("sine", "square") and len(parts) == 4:
        return f"a {parts[1]} Hz {kind} between {volts(parts[2])} and {volts(parts[3])}"
    if kind == "pulse" and 2 <= len(parts) <= 4:
        level = parts[2] if len(parts) >= 3 else "10"
        duty = float(parts[3]) if len(parts) == 4 else 0.5
        return (f"a {parts[1]} Hz pulse train of {volts(level)}, high for "
                f"{duty * 100:g} % of each period")
    if kind == "gate" and len(parts) == 2:
        spans = [span.split("-", 1) for span in parts[1].split(",")]
        times = ", ".join(f"{on} s to {off} s" for on, off in spans)
        return f"10 V from {times}, 0 V elsewhere"
    fail(f"unknown signal '{text}'")


def example_section(name, module):
    path = os.path.join(EXAMPLES, f"{name}.json")
    with open(path, encoding="utf-8") as file:
        patch = json.load(file)
    rows = []
    for key, value in patch.items():
        if key == "comment" or key in RENDER_KEYS:
            continue
        plug = plugs.by_key(module).get(key)
        if plug is None or plug["kind"] == "output":
            fail(f"{path}: unknown key '{key}'")
        if plug["kind"] == "setting":
            labels = dict(zip(plug["choiceKeys"], plug["choices"]))
            rows.append((plug["name"], labels.get(str(value), str(value))))
        else:
            rows.append((plug["name"], describe_signal(value)))
    seconds = patch.get("seconds", 2)
    title = EXAMPLES_SHOWN[name]
    comment = patch.get("comment", "")
    # "Hard sync: a 200 Hz pulse train ..." under the title "hard sync": drop the repetition.
    if comment.lower().startswith(title.lower() + ":"):
        comment = comment[len(title) + 1:].strip()
        comment = comment[:1].upper() + comment[1:]
    lines = [f"**Example: {title}** (`examples/{name}.json`, {seconds} s at 48 kHz). "
             f"{comment}.", "", "| plug | set to |", "|---|---|"]
    lines += [f"| {plug} | {setting} |" for plug, setting in rows]
    lines += ["", f"![Example, {title}: the first cycles and the spectrograms]"
              f"(pictures/example-{name}.png)"]
    return "\n".join(lines)


def alias_table(fourwave):
    return run([fourwave, "analyze"]).rstrip("\n")


def check_plug_table(text, module):
    """The guide's table of the twenty plugs against the plug table: the number, name and kind
    of every row (the defaults and choices are filled in from it)."""
    rows = re.findall(r"^\| (\d+) \| ([^|]+) \| (input|output|setting) \|", text, re.MULTILINE)
    table = module["plugs"]
    if len(rows) != len(table):
        fail(f"{TEMPLATE}: the plug table has {len(rows)} rows; the plug-in has {len(table)} plugs")
    for (number, name, kind), plug in zip(rows, table):
        if int(number) != plug["number"] or name.strip() != plug["name"] or kind != plug["kind"]:
            fail(f"{TEMPLATE}: the plug table's row {number} ({name.strip()}) is wrong: the plug "
                 f"is {plug['kind']} {plug['number']} \"{plug['name']}\"")


def fill_plug_values(text, module):
    """{{DEFAULT:key}}: an input's default in volts; {{CHOICES:key}}: a setting's choices, its
    default marked. Both as the plug table has them."""
    def value(match):
        plug = plugs.by_key(module).get(match.group(2))
        if plug is None:
            fail(f"{TEMPLATE}: no plug '{match.group(2)}'")
        if match.group(1) == "DEFAULT":
            return f"{plug['default']} V"
        default = int(plug["default"])
        return ", ".join(label + (" (default)" if i == default else "")
                         for i, label in enumerate(plug["choices"]))
    return re.sub(r"\{\{(DEFAULT|CHOICES):([a-z-]+)\}\}", value, text)


def fill_facts(text, measured):
    used = set(re.findall(r"\{\{FACT:([A-Z0-9_]+)\}\}", text))
    unknown = used - set(measured)
    if unknown:
        fail(f"{TEMPLATE}: no measurement for {', '.join(sorted(unknown))}")
    unused = set(measured) - used
    if unused:
        fail(f"{TEMPLATE}: measured but not said: {', '.join(sorted(unused))}")
    return re.sub(r"\{\{FACT:([A-Z0-9_]+)\}\}", lambda match: measured[match.group(1)], text)


def make_markdown(fourwave, measured, module):
    with open(TEMPLATE, encoding="utf-8") as file:
        text = file.read()
    # {{# ... }}: notes for the template's editors, left out of the guide.
    text = re.sub(r"\{\{#.*?\}\}\n", "", text, flags=re.DOTALL)
    check_plug_table(text, module)
    text = fill_plug_values(text, module)
    text = fill_facts(text, measured)
    # The LV2 install section is a fragment of its own, kept beside the LV2 plug-in's docs.
    with open(INSTALL_LV2, encoding="utf-8") as file:
        text = text.replace("{{INSTALL_LV2}}", file.read().rstrip("\n") + "\n")
    web, email = identity_addresses()
    replacements = {
        "{{GENERATED_NOTE}}": "<!-- Made by tools/guide/build.py from tools/guide/guide.md.in "
                              "and the build: edit those, not this file. -->",
        "{{VERSION}}": VERSION,
        "{{WEB}}": web,
        "{{EMAIL}}": email,
        "{{ALIAS_TABLE}}": alias_table(fourwave),
        "{{ABOUT_TEXT}}": module["about"],
    }
    for name in EXAMPLES_SHOWN:
        replacements[f"{{{{EXAMPLE:{name}}}}}"] = example_section(name, module)
    for key, value in replacements.items():
        if key not in text:
            fail(f"{TEMPLATE}: no {key}")
        text = text.replace(key, value)
    left = re.findall(r"\{\{[^}]*\}\}", text)
    if left:
        fail(f"{TEMPLATE}: unknown placeholders {', '.join(sorted(set(left)))}")
    return text


def make_html(markdown_text):
    body = markdown.markdown(markdown_text, extensions=["tables", "fenced_code", "toc"],
                             extension_configs={"toc": {"title": "Contents"}},
                             output_format="html5")
    with open(STYLE, encoding="utf-8") as file:
        style = file.read()
    title = html.escape(f"Tovik Fourwave {VERSION}: a guide for patch builders")
    return ("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            f"<title>{title}</title>\n<style>\n{style}</style>\n</head>\n<body>\n"
            f"{body}\n</body>\n</html>\n")


def pictures_named(markdown_text):
    return sorted(set(re.findall(r"\]\((pictures/[^)]+\.png)\)", markdown_text)))


# ---------------------------------------------------------------------------------------------
# The pictures

def save_without_version(plot_module):
    """Have plot.py's figures saved without the library version in the PNG's metadata, so
    that the bytes depend on the data alone."""
    figure_class = plot_module.plt.Figure
    original = figure_class.savefig

    def savefig(self, *args, **kwargs):
        kwargs.setdefault("metadata", {"Software": None})
        return original(self, *args, **kwargs)

    figure_class.savefig = savefig


def load_plot():
    sys.path.insert(0, os.path.dirname(PLOT))
    import plot  # noqa: E402  (tools/plot.py, found through the path above)
    save_without_version(plot)
    return plot


def make_pictures(fourwave, folder, scratch, module, render, voice):
    plot = load_plot()
    os.makedirs(folder, exist_ok=True)
    pictures.draw_plugs(plot.plt, module, plugs.about_ranges(module["about"]),
                        os.path.join(folder, "plugs.png"))
    pictures.draw_voice_patch(plot.plt, module, os.path.join(folder, "voice-patch.png"))
    pictures.draw_voice_result(plot.plt, voice, facts.VOICE_NOTES,
                               os.path.join(folder, "voice-result.png"))
    pictures.draw_spectra(plot.plt, render, os.path.join(folder, "spectra.png"))
    pictures.draw_sync_advance(plot.plt, render, os.path.join(folder, "warning-sync-advance.png"))
    pictures.draw_ramp_flip(plot.plt, facts.flip_sweep(render),
                            os.path.join(folder, "warning-ramp-flip.png"))
    # (picture, render options, the picture's title, whether its first cycles are a note)
    renders = [("warning-default-levels",
                [*map(str, facts.default_patch(module)), "--seconds", "0.5"],
                "A new module with Active at 10 V and Pitch at 5 V", True)]
    shape = plugs.by_key(module)["shape"]
    renders += [(f"shape-{key}", ["--shape", key, "--seconds", "2"],
                 f"Shape {label}, Pitch swept from 2 V to 9 V", True)
                for key, label in zip(shape["choiceKeys"], shape["choices"])]
    for name in EXAMPLES_SHOWN:
        path = os.path.join(EXAMPLES, f"{name}.json")
        with open(path, encoding="utf-8") as file:
            frequency_modulated = json.load(file).get("fm", "off") != "off"
        renders.append((f"example-{name}", [path], f"examples/{name}.json",
                        not frequency_modulated))
    for picture, arguments, title, tone in renders:
        wav = os.path.join(scratch, f"{picture}.wav")
        run([fourwave, "render", "-q", *arguments, "-o", wav])
        plot.plot_render(wav, os.path.join(folder, f"{picture}.png"), 3, title=title, tone=tone)
        os.remove(wav)
    csv = os.path.join(scratch, "alias.csv")
    run([fourwave, "analyze", "--csv", csv])
    plot.plot_analysis(csv, os.path.join(folder, "alias.png"))
    plot.plt.close("all")


# ---------------------------------------------------------------------------------------------

def write(path, text):
    with open(path, "w", encoding="utf-8", newline="\n") as file:
        file.write(text)


def main():
    parser = argparse.ArgumentParser(description="Build the user guide from the real build.")
    parser.add_argument("--fourwave", default=os.path.join(ROOT, "build", "linux-sse", "fourwave"),
                        help="the fourwave command-line host to render and measure with")
    parser.add_argument("--plugin", help="the plug-in library whose plug table the guide shows "
                        "(default: fourwave_sse.so beside fourwave)")
    parser.add_argument("--tests", help="the module's test program, whose tests of the settings "
                        "bear out what the guide says of them (default: fourwave_tests beside "
                        "fourwave)")
    parser.add_argument("--out", default=os.path.join(ROOT, "docs", "guide"),
                        help="the guide's folder (default docs/guide)")
    parser.add_argument("--check", action="store_true",
                        help="compare a fresh Markdown and HTML with the guide's folder")
    args = parser.parse_args()
    if not os.access(args.fourwave, os.X_OK):
        fail(f"{args.fourwave}: not built (cmake --build --preset linux-sse --target fourwave)")

    plugin = args.plugin or os.path.join(os.path.dirname(args.fourwave), "fourwave_sse.so")
    try:
        module = plugs.read_module(args.fourwave, plugin)
    except (OSError, RuntimeError, ValueError) as error:
        fail(f"{plugin}: {error}")
    examples = {name: os.path.join(EXAMPLES, f"{name}.json") for name in EXAMPLES_SHOWN}
    with tempfile.TemporaryDirectory() as scratch:
        try:
            measured, render, voice = facts.measure(
                args.fourwave, scratch, module, examples, ROOT,
                args.tests or os.path.join(os.path.dirname(args.fourwave), "fourwave_tests"))
        except facts.ClaimFailed as error:
            fail(f"the guide says what the build does not do: {error}")
        markdown_text = make_markdown(args.fourwave, measured, module)
        html_text = make_html(markdown_text)
        shown = pictures_named(markdown_text)
        if args.check:
            check(args.out, markdown_text, html_text, shown)
        else:
            write_guide(args, markdown_text, html_text, shown, module, render, voice)


def check(out, markdown_text, html_text, shown):
    problems = []
    with tempfile.TemporaryDirectory() as scratch:
        for name, text in ((MARKDOWN_NAME, markdown_text), (HTML_NAME, html_text)):
            fresh = os.path.join(scratch, name)
            write(fresh, text)
            committed = os.path.join(out, name)
            if not os.path.exists(committed) or not filecmp.cmp(fresh, committed, shallow=False):
                problems.append(f"{committed} differs from a fresh build")
    problems += [f"{os.path.join(out, p)} is missing" for p in shown
                 if not os.path.exists(os.path.join(out, p))]
    for problem in problems:
        print(f"build.py: {problem}", file=sys.stderr)
    if problems:
        print("build.py: the guide is out of date: run tools/guide/build.py", file=sys.stderr)
        sys.exit(1)
    print(f"build.py: {out} is up to date and its claims hold ({len(shown)} pictures)",
          file=sys.stderr)


def write_guide(args, markdown_text, html_text, shown, module, render, voice):
    os.makedirs(args.out, exist_ok=True)
    picture_folder = os.path.join(args.out, "pictures")
    with tempfile.TemporaryDirectory() as scratch:
        fresh = os.path.join(scratch, "pictures")
        make_pictures(args.fourwave, fresh, scratch, module, render, voice)
        made = sorted(f"pictures/{name}" for name in os.listdir(fresh))
        if made != shown:
            fail(f"the guide shows {shown} but the builder drew {made}")
        if os.path.isdir(picture_folder):
            shutil.rmtree(picture_folder)
        shutil.copytree(fresh, picture_folder)
    write(os.path.join(args.out, MARKDOWN_NAME), markdown_text)
    write(os.path.join(args.out, HTML_NAME), html_text)
    print(f"build.py: wrote {args.out}/{MARKDOWN_NAME}, {HTML_NAME} and {len(shown)} "
          "pictures", file=sys.stderr)


if __name__ == "__main__":
    main()
