#!/usr/bin/env bash
# Measures the lumarex command's defaults on the bundled sample photos and
# the synthetic scenes (figures in build/quality-new.json, the commands' first
# defaults in build/quality-first.json), and redraws the before | after
# gallery of the samples in docs/gallery/ (first defaults in
# docs/gallery/first/).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target lumarex_quality
q=build/tools/quality/lumarex_quality
photos=(samples/*.jpg samples/*.png)
# The drawn pictures only: docs/gallery/lost/ holds the sheets that lost.
rm -rf docs/gallery/first
rm -f docs/gallery/*.jpg
"$q" "${photos[@]}" --json build/quality-new.json
"$q" "${photos[@]}" --first-defaults --json build/quality-first.json
"$q" "${photos[@]}" --no-scenes --save docs/gallery --save-width 400 >/dev/null
"$q" "${photos[@]}" --no-scenes --first-defaults --save docs/gallery/first --save-width 400 >/dev/null
du -sh docs/gallery
