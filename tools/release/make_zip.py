#!/usr/bin/python3
"""Write the release zip for patch builders, the same bytes every time from the same files.

  make_zip.py --out dist/fourwave-2.6-win32.zip --folder fourwave-2.6-win32 \
              NAME=PATH [NAME=PATH ...]

Each NAME=PATH puts the file PATH into the zip as FOLDER/NAME. A SHA256SUMS file listing every
other member (sha256sum's format, so `sha256sum -c SHA256SUMS` checks an unpacked copy) is
added. Members are sorted by name and carry a fixed date and fixed permissions; the zip is
written beside its target and renamed, so a failed run leaves no half-written file.
"""

import argparse
import hashlib
import os
import sys
import tempfile
import zipfile

# The date every member carries (zip dates have no time zone and start in 1980).
FIXED_DATE = (2026, 1, 1, 0, 0, 0)
SUMS_NAME = "SHA256SUMS"


def fail(message):
    print(f"make_zip.py: {message}", file=sys.stderr)
    sys.exit(2)


def member(name, data, executable=False):
    info = zipfile.ZipInfo(name, date_time=FIXED_DATE)
    info.create_system = 3  # Unix, so that the permissions below mean what they say
    info.external_attr = ((0o755 if executable else 0o644) | 0o100000) << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    return info, data


def main():
    parser = argparse.ArgumentParser(description="Write a reproducible release zip.")
    parser.add_argument("--out", required=True, help="the zip to write")
    parser.add_argument("--folder", required=True, help="the one folder the zip unpacks into")
    parser.add_argument("files", nargs="+", metavar="NAME=PATH")
    args = parser.parse_args()

    contents = {}
    for argument in args.files:
        name, separator, path = argument.partition("=")
        if not separator or not name or not path:
            fail(f"'{argument}': expected NAME=PATH")
        if name == SUMS_NAME or name in contents:
            fail(f"'{name}': named twice")
        try:
            with open(path, "rb") as file:
                contents[name] = file.read()
        except OSError as error:
            fail(f"{path}: {error.strerror}")

    sums = "".join(f"{hashlib.sha256(contents[name]).hexdigest()}  {name}\n"
                   for name in sorted(contents))
    contents[SUMS_NAME] = sums.encode("ascii")

    folder = os.path.dirname(os.path.abspath(args.out))
    os.makedirs(folder, exist_ok=True)
    handle, temporary = tempfile.mkstemp(dir=folder, prefix=".make_zip.", suffix=".zip")
    os.close(handle)
    try:
        with zipfile.ZipFile(temporary, "w") as archive:
            for name in sorted(contents):
                info, data = member(f"{args.folder}/{name}", contents[name],
                                    executable=name.endswith(".dll"))
                archive.writestr(info, data, compress_type=zipfile.ZIP_DEFLATED, compresslevel=9)
        os.chmod(temporary, 0o644)
        os.replace(temporary, args.out)
    finally:
        if os.path.exists(temporary):
            os.remove(temporary)
    print(f"make_zip.py: wrote {args.out} ({len(contents)} files)", file=sys.stderr)


if __name__ == "__main__":
    main()
