#!/usr/bin/env python3
"""Makes a Korvash install and a Dyvenhall install of any size, for the
sample, the tests and the benchmarks.

  make_install.py OUT [--skins N] [--content M] [--seed S]

OUT/Korvash holds World/Custom/Trains with N skins (most at version 1.3;
some at 1.5, some without skin.dat, some whose kuids are missing) and
World/dispatcher/downloads with M content folders whose config.txt files
look like real ones (a few dozen lines, the kuid line anywhere among them).
OUT/Dyvenhall holds Skins/ with the template skin gp38 (files and one level
of subfolders) and further template folders. The same seed gives the same
bytes."""
import argparse
import os
import random

TEMPLATES = ["gp38", "sd40", "f7", "dash9", "es44"]
PARTS = ["Body", "Cab", "Hood", "Trucks", "Roof"]
KEYWORDS = [
    'username "{name}"', 'type "locomotive"', "korvash-build 3.5", 'class "BR"',
    "region US", "era 1980s", 'author "Painter {n}"', "license \"free\"",
    "mass 118000", "coupler-gap 0.2", "engine <kuid:-3:10041>", 'description "A {name}"',
    "thumbnails {", "  0 {", '    image "thumb.jpg"', "    width 240", "    height 180", "  }",
    "}", "kuid-list {", "  0 <kuid:44179:60013>", "  1 <kuid:-3:10041>", "}",
    "models {", "  default {", '    mesh "body.im"', "    auto-create 1", "  }", "}",
    "replaces {", "}", "locked 0", "file-name \"{name}\"",
]


def config_text(rng, name, kuid, lines=30):
    body = []
    for i in range(lines):
        line = KEYWORDS[i % len(KEYWORDS)]
        if "{n" in line:
            line = line.replace("{name}", name).replace("{n}", str(rng.randrange(1000)))
        body.append(line)
    # The scan stops at the first line that begins with "kuid", and so would
    # a "kuid-list" block ahead of the kuid line: the block is moved behind
    # it, and the kuid line itself can be anywhere.
    table = [i for i, line in enumerate(body) if line.startswith("kuid-list")]
    block = []
    if table:
        end = body.index("}", table[0])
        block = body[table[0]:end + 1]
        del body[table[0]:end + 1]
    pos = rng.randrange(len(body) + 1)
    body.insert(pos, "kuid " + kuid)
    at = rng.randrange(pos + 1, len(body) + 1)
    body[at:at] = block
    return "\r\n".join(body) + "\r\n"


def write(path, data):
    # os.open and os.write: the plain calls, without a file object's extra
    # system calls, which add up over 100,000 folders.
    flags = os.O_WRONLY | os.O_CREAT | os.O_TRUNC | getattr(os, "O_BINARY", 0)
    try:
        fd = os.open(path, flags, 0o666)
    except FileNotFoundError:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        fd = os.open(path, flags, 0o666)
    try:
        view = memoryview(data.encode("latin-1") if isinstance(data, str) else data)
        while view:
            view = view[os.write(fd, view):]
    finally:
        os.close(fd)


def folder_of(path):
    """Makes a new folder whose parent exists, and returns it."""
    os.mkdir(path)
    return path


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("out")
    ap.add_argument("--skins", type=int, default=12)
    ap.add_argument("--content", type=int, default=40)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    rng = random.Random(args.seed)

    korvash = os.path.join(args.out, "Korvash")
    paint = os.path.join(args.out, "Dyvenhall")
    write(os.path.join(korvash, "korvash.exe"), b"MZ")
    write(os.path.join(paint, "Korvash Dyvenhall.exe"), b"MZ")

    # Template skins. gp38 is copied to gp38_hi_dyn by the update run, and
    # its config.txt comes along, which gives gp38_hi_dyn its kuid.
    skins_root = os.path.join(paint, "Skins")
    for t, template in enumerate(TEMPLATES):
        folder = os.path.join(skins_root, template)
        write(os.path.join(folder, "config.txt"),
              config_text(rng, template, "<kuid:30501:%d>" % (100 + t)))
        for part in PARTS:
            write(os.path.join(folder, part.lower() + ".tga"), rng.randbytes(64))
        if template == "gp38":
            write(os.path.join(folder, "textures", "body.texture.txt"), 'Primary="body.tga"\r\n')
            write(os.path.join(folder, "textures", "deeper", "ignored.txt"), "not copied\r\n")
            os.makedirs(os.path.join(folder, "empty"), exist_ok=True)

    # Content folders, among them the "<template>_<part>" folders that
    # the skins' references need.
    downloads = os.path.join(korvash, "World", "dispatcher", "downloads")
    needed = ["gp38_hi_dyn_" + p for p in PARTS] + [t + "_" + p for t in TEMPLATES[1:4] for p in PARTS]
    for i, name in enumerate(needed):
        write(os.path.join(downloads, name, "config.txt"),
              config_text(rng, name, "<kuid2:30501:%d:1>" % (1000 + i)))
    for i in range(max(0, args.content - len(needed))):
        name = "content_%06d" % i
        write(os.path.join(folder_of(os.path.join(downloads, name)), "config.txt"),
              config_text(rng, name, "<kuid:%d:%d>" % (rng.randrange(1, 700000), i)))

    # Skins. Most are version 1.3; every tenth is already 1.5, every
    # fifteenth has no skin.dat, and every seventh names a template part
    # that nothing provides (its kuid is missing). es44 has no content
    # folders, so its references always miss.
    trains = os.path.join(korvash, "World", "Custom", "Trains")
    os.makedirs(trains, exist_ok=True)
    for i in range(args.skins):
        folder = folder_of(os.path.join(trains, "skin_%05d" % i))
        write(os.path.join(folder, "body.tga"), rng.randbytes(32))
        write(os.path.join(folder, "config.txt"),
              config_text(rng, "skin %d" % i, "<kuid:30502:%d>" % i, lines=12))
        if i % 15 == 14:
            continue
        template = TEMPLATES[i % 4] if i % 7 != 6 else "es44"
        part = PARTS[i % len(PARTS)]
        if i % 3 == 0:
            template = template.upper()
        version = "1.5" if i % 10 == 9 else "1.3"
        lines = [version, template + "\\" + part, "painter=%d" % rng.randrange(100),
                 "colour=%06X" % rng.randrange(1 << 24), ""]
        write(os.path.join(folder, "skin.dat"), "\r\n".join(lines) + "\r\n")


if __name__ == "__main__":
    main()
