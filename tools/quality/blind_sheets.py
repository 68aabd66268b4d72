#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Sheets for a blind comparison of `lumarex auto` with what a user would use instead.

For every photo and every opponent it writes one sheet, original | A | B, with
our correction on a side chosen at random and names that say nothing
(sheet00.jpg, ...). The key (which side is ours, which photo and opponent)
goes to a separate file for scoring after the judge has answered. A sheet
whose A and B are the same picture (`auto` left the photo as it was) scores
as a tie whatever the judge says; how often the judge told such a pair apart
is printed beside the score, a measure of how far one answer can be trusted.

    tools/quality/blind_sheets.py --lumarex build/lumarex --out /tmp/sheets photos/*
    tools/quality/blind_sheets.py --score answers.json --key /tmp/sheets-key.json
    tools/quality/blind_sheets.py --calibrate --out /tmp/calib photos/*

With --calibrate the sheets pit each other program against the untouched
photo instead, with that program in our place: how often the same judges
prefer any one-click fix to the photo as it is, the bar `auto`'s figures
against the untouched photo are read beside.

Opponents: the untouched photo, ImageMagick's `-auto-level -auto-gamma`
(`convert`) and GIMP's Colors > Auto > White Balance (`gimp-console-2.10`);
`scripts/setup.sh --judging` installs both (ImageMagick's `montage` also
makes the sheets). Answers are JSON: {"sheet00.jpg":
{"choice": "A"|"B"|"tie", "confidence": 1-3, "reason": "..."}, ...}.
"""
import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

from icc_profiles import SRGB, display_profile

LONG_SIDE = 900


def run(args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def gimp_white_balance(src, dst):
    script = (f'(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE "{src}" "{src}")))'
              f' (drawable (car (gimp-image-flatten image))))'
              f' (gimp-drawable-levels-stretch drawable)'
              f' (gimp-file-save RUN-NONINTERACTIVE image drawable "{dst}" "{dst}") (gimp-image-delete image))')
    run(["gimp-console-2.10", "-i", "-d", "-f", "-b", script, "-b", "(gimp-quit 0)"])


def pixels(path):
    return subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True, stdout=subprocess.PIPE).stdout


def opponents():
    found = {"untouched": lambda src, dst: shutil.copyfile(src, dst)}
    if shutil.which("convert"):
        found["imagemagick"] = lambda src, dst: run(["convert", src, "-auto-level", "-auto-gamma", dst])
    if shutil.which("gimp-console-2.10"):
        found["gimp-white-balance"] = gimp_white_balance
    return found


def make(args):
    # The working pictures go with the folder, whatever fails on the way.
    with tempfile.TemporaryDirectory(prefix="lumarex-sheets-") as work:
        make_in(args, work)


def make_in(args, work):
    os.makedirs(args.out, exist_ok=True)
    rng = random.Random(args.seed)
    rivals = opponents()
    jobs = []
    for photo in args.photos:
        name = os.path.splitext(os.path.basename(photo))[0]
        small = os.path.join(work, name + ".png")
        # Shrunk, 8 bits, upright, with its colour profile alone of its
        # metadata: the same input for every correction.
        run(["convert", photo, "-auto-orient", "-resize", f"{LONG_SIDE}x{LONG_SIDE}>", "-depth", "8",
             "+profile", "!icc,*", small])
        made = {}
        for rival, correct in rivals.items():
            made[rival] = os.path.join(work, f"{name}-{rival}.png")
            correct(small, made[rival])
        if args.calibrate:
            untouched = made.pop("untouched")
            untouched_pixels = pixels(untouched)
            for rival, theirs in made.items():
                jobs.append((name, f"{rival} against untouched", small, theirs, untouched,
                             pixels(theirs) == untouched_pixels))
            continue
        ours = os.path.join(work, name + "-ours.png")
        run([args.lumarex, "auto", small, "-o", ours, "--quiet", "--overwrite"])
        ours_pixels = pixels(ours)
        for rival, theirs in made.items():
            jobs.append((name, rival, small, ours, theirs, pixels(theirs) == ours_pixels))
    rng.shuffle(jobs)
    srgb = os.path.join(work, "srgb.icc")
    with open(srgb, "wb") as f:
        # Every picture is shown converted to sRGB through its own profile,
        # as a colour-managed viewer shows it.
        f.write(display_profile("sRGB for the judging sheets", SRGB))
    shown = {}

    def in_srgb(path):
        # A picture without a profile is taken for sRGB as it is.
        if path not in shown:
            shown[path] = os.path.join(work, f"shown{len(shown)}.png")
            run(["convert", path, "-profile", srgb, "-strip", shown[path]])
        return shown[path]

    key = {}
    for k, (name, rival, small, ours, theirs, same) in enumerate(jobs):
        sheet = f"sheet{k:02d}.jpg"
        ours_is_a = rng.random() < 0.5
        a, b = (in_srgb(ours), in_srgb(theirs)) if ours_is_a else (in_srgb(theirs), in_srgb(ours))
        small = in_srgb(small)
        run(["montage", "-label", "original", small, "-label", "A", a, "-label", "B", b, "-tile", "3x1",
             "-geometry", "+6+6", "-pointsize", "28", "-quality", "92", os.path.join(args.out, sheet)])
        key[sheet] = {"photo": name, "opponent": rival, "ours": "A" if ours_is_a else "B", "same": same}
    with open(args.key, "w") as f:
        json.dump(key, f, indent=1)
    print(f"{len(key)} sheets in {args.out}; key in {args.key}")


def score(args):
    key = json.load(open(args.key))
    answers = json.load(open(args.score))
    table = {}
    for sheet, k in sorted(key.items()):
        a = answers.get(sheet)
        if a is None:
            print(f"{sheet}: no answer", file=sys.stderr)
            continue
        row = table.setdefault(k["opponent"], {"won": 0, "lost": 0, "tie": 0, "losses": [], "same": 0, "apart": 0})
        if k.get("same"):
            # A and B are the same picture: any preference is the judge's
            # noise, counted apart and scored as a tie.
            row["same"] += 1
            row["apart"] += a["choice"] != "tie"
            row["tie"] += 1
        elif a["choice"] == "tie":
            row["tie"] += 1
        elif a["choice"] == k["ours"]:
            row["won"] += 1
        else:
            row["lost"] += 1
            row["losses"].append(f'{k["photo"]} ({a.get("confidence", "?")}): {a.get("reason", "")}')
    for rival, row in table.items():
        n = row["won"] + row["lost"] + row["tie"]
        label = rival if " against " in rival else "against " + rival
        print(f"{label}: won {row['won']}, lost {row['lost']}, tie {row['tie']} of {n}")
        if row["same"]:
            print(f"  {row['same']} sheets show the same picture twice (ties); "
                  f"the judge told {row['apart']} of them apart")
        for loss in row["losses"]:
            print(f"  lost {loss}")


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("photos", nargs="*")
    p.add_argument("--lumarex", default="build/lumarex")
    p.add_argument("--out", default="sheets")
    p.add_argument("--key", default="sheets-key.json")
    p.add_argument("--seed", type=int, default=None)
    p.add_argument("--score", help="answers to score against --key")
    p.add_argument("--calibrate", action="store_true",
                   help="sheets of each other program against the untouched photo, no lumarex")
    args = p.parse_args()
    score(args) if args.score else make(args)


if __name__ == "__main__":
    main()
