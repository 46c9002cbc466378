"""The module's plug table and about text, as `fourwave plugs --json` gives them: the plug table
that the module's plug descriptions, the CLI, the LV2 plug-ins and the page are all made from
(module/plugs.h), with the plug-in library's name and about text, which the CLI reads through
the library's exports as a host does.

The guide's plug drawing, its plug table's defaults and choices, and its statements about
defaults are made from what this returns.
"""

import json
import subprocess


def read_module(fourwave, plugin):
    """{"name", "about", "plugs": [...]}, the plugs in plug-number order, each with its
    "number", "key", "name", "kind" ("input", "output" or "setting"), "default" (as the module
    describes it), and for a setting "choices" (the labels, by choice number) and "choiceKeys"
    (the patch keys)."""
    done = subprocess.run([fourwave, "plugs", "--json", "--plugin", plugin], capture_output=True,
                          text=True)
    if done.returncode != 0:
        raise RuntimeError(f"fourwave plugs failed ({done.returncode}): {done.stderr.strip()}")
    module = json.loads(done.stdout)
    for plug in module["plugs"]:
        choices = plug.get("choices")
        plug["choices"] = [c["label"] for c in choices] if choices else None
        plug["choiceKeys"] = [c["key"] for c in choices] if choices else None
    module["plugs"].sort(key=lambda plug: plug["number"])
    return module


def by_key(module):
    return {plug["key"]: plug for plug in module["plugs"]}


def about_ranges(about):
    """The about text's "Name: range" help lines, by plug name: the four levels share the
    "Levels" line, and the threshold's line is spelled "Synth Threshold" there."""
    ranges = {}
    for line in about.split("\n"):
        key, colon, value = line.partition(": ")
        if not colon:
            continue
        key = key.split(" (")[0].strip()
        ranges.setdefault({"Synth Threshold": "Sync Threshold"}.get(key, key), value.strip())
    return ranges


def plug_range(plug, ranges):
    if plug["name"].endswith(" Level"):
        return ranges.get("Levels")
    return ranges.get(plug["name"])
