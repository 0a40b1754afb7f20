#!/usr/bin/env python3
"""make-dlk-ini: writes a download description for the download library stand-in (ieksdlk.dll).

One section per run, one "file=" line per file given, with its size and SHA-256 taken from the
file on disk:

  file=<name>|<path below the URL root>|<size>|<sha256>|<target directory>

  make-dlk-ini.py -o dlk.php -s ZEInstall -t 'E\\F' -p agent/7.1/ build/mvagtx.exe ...
  make-dlk-ini.py -o dlk.php -a -s Tools -t . helper.dll=tools/helper-7.1.dll

  -o FILE     the INI file to write ("-": standard output)
  -s NAME     the section (default ZEInstall)
  -t DIR      where the files go, relative to the library's directory (default "."). The library
              lies two levels above the updater: for an updater in D\\E\\F, "E\\F" is its own folder.
  -p PREFIX   put before each file's name to make its path below the URL root (default empty)
  -a          append the section to FILE instead of replacing FILE
  FILE[=PATH] a file to describe; PATH, when given, is its path below the URL root as it is

Line ends are CR LF; the text is UTF-8 without byte order mark.
"""

import argparse
import hashlib
import os
import sys


def describe(given, prefix, target):
    local, sep, remote = given.partition("=")
    name = os.path.basename(local)
    if not sep:
        remote = prefix + name
    digest = hashlib.sha256()
    size = 0
    with open(local, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
            size += len(block)
    for field in (name, remote, target):
        if "|" in field or "\n" in field or "\r" in field:
            raise ValueError("%r cannot stand in a file line" % field)
    return "file=%s|%s|%d|%s|%s" % (name, remote, size, digest.hexdigest(), target)


def main(argv):
    parser = argparse.ArgumentParser(description="Write a download description for ieksdlk.dll.")
    parser.add_argument("-o", "--output", required=True)
    parser.add_argument("-s", "--section", default="ZEInstall")
    parser.add_argument("-t", "--target", default=".")
    parser.add_argument("-p", "--prefix", default="")
    parser.add_argument("-a", "--append", action="store_true")
    parser.add_argument("files", nargs="+", metavar="FILE[=PATH]")
    args = parser.parse_args(argv)

    try:
        lines = ["[%s]" % args.section] + [describe(f, args.prefix, args.target) for f in args.files]
    except (OSError, ValueError) as error:
        print("make-dlk-ini: %s" % error, file=sys.stderr)
        return 1
    text = "\r\n".join(lines) + "\r\n"
    if args.output == "-":
        sys.stdout.buffer.write(text.encode("utf-8"))
        return 0
    mode = "ab" if args.append else "wb"
    with open(args.output, mode) as f:
        f.write(text.encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
