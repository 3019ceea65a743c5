#!/usr/bin/env python3
"""Writes a zip that is the same, byte for byte, whenever it is made of the
same files: entries in the order given, every entry dated from one time
(SOURCE_DATE_EPOCH, in UTC), no owner, mode, access or change times.

    make_zip.py --epoch SECONDS --out FILE.zip PATH [PATH ...]

Each file is stored under its own name, at the top of the zip.
"""
import argparse
import os
import sys
import time
import zipfile


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--epoch", type=int, required=True,
                        help="the time every entry carries, in seconds since 1970 (UTC)")
    parser.add_argument("--out", required=True, help="the zip to write")
    parser.add_argument("paths", nargs="+", help="the files to put in it, in this order")
    args = parser.parse_args()

    # A zip's dates are local times of 1980 or later, to two seconds.
    stamp = time.gmtime(max(args.epoch, 315532800))[:6]
    names = [os.path.basename(path) for path in args.paths]
    if len(set(names)) != len(names):
        sys.exit("make_zip.py: two files of the same name: " + " ".join(args.paths))

    with zipfile.ZipFile(args.out + ".part", "w") as archive:
        for path, name in zip(args.paths, names):
            try:
                with open(path, "rb") as source:
                    data = source.read()
            except OSError as error:
                sys.exit(f"make_zip.py: can't read {path} ({error.strerror}); build it first")
            entry = zipfile.ZipInfo(name, date_time=stamp)
            entry.create_system = 0  # MS-DOS: no Unix mode or owner
            entry.external_attr = 0
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, data, compresslevel=9)
    os.replace(args.out + ".part", args.out)


if __name__ == "__main__":
    main()
