#!/usr/bin/env python3
"""Fails while a catalogue in i18n/ is behind the sources.

Runs lupdate over the GUI layers into a copy of each catalogue (the committed
files stay untouched), then lrelease, and reports every text that is new and
untranslated, kept for a text the sources no longer have, or translated with
an empty form.

  check-translations.py SOURCE_ROOT LUPDATE LRELEASE CATALOGUE...
"""
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

LAYERS = ("api", "ui", "review", "journal", "app")


def problems(ts_path):
    found = []
    for context in ET.parse(ts_path).getroot().iter("context"):
        name = context.findtext("name")
        for message in context.iter("message"):
            source = message.findtext("source")
            translation = message.find("translation")
            kind = translation.get("type")
            forms = [f.text for f in translation.iter("numerusform")] if message.get("numerus") == "yes" else [translation.text]
            if kind in ("unfinished", "obsolete", "vanished"):
                found.append(f"{kind}: {name}: {source!r}")
            elif not all(f and f.strip() for f in forms):
                found.append(f"empty translation: {name}: {source!r}")
    return found


def main():
    root, lupdate, lrelease, *catalogues = sys.argv[1:]
    root = pathlib.Path(root)
    sources = [str(p) for layer in LAYERS for p in sorted((root / layer).glob("*")) if p.suffix in (".cpp", ".h")]
    failed = False
    with tempfile.TemporaryDirectory() as tmp:
        for catalogue in map(pathlib.Path, catalogues):
            copy = pathlib.Path(tmp) / catalogue.name
            shutil.copyfile(catalogue, copy)
            subprocess.run([lupdate, "-silent", "-locations", "none", "-no-ui-lines", "-I", str(root), *sources,
                            "-ts", str(copy)], check=True, capture_output=True)
            report = subprocess.run([lrelease, str(copy), "-qm", str(copy.with_suffix(".qm"))], check=True,
                                    capture_output=True, text=True).stdout
            found = problems(copy)
            summary = re.search(r"Generated \d+ translation\(s\) \((\d+) finished and (\d+) unfinished\)", report)
            if summary is None or summary.group(2) != "0":
                found.append("lrelease: " + " ".join(report.split()))
            for line in found:
                print(f"{catalogue.name}: {line}")
            failed |= bool(found)
            if not found:
                print(f"{catalogue.name}: complete ({summary.group(1)} texts)")
    if failed:
        print("Run `cmake --build build --target update_translations` and translate the texts above.")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
