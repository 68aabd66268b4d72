#!/usr/bin/env bash
# Installs what is needed, builds Lumarex and runs the automatic correction,
# with its defaults (docs/quality.md), on the bundled sample photos, writing
# the results and before/after pictures to out/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh --demo
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DLUMAREX_BUILD_TESTS=OFF -DLUMAREX_BUILD_BENCH=OFF \
  -DLUMAREX_PYTHON=OFF -DLUMAREX_MANPAGE=OFF -DLUMAREX_GIMP=OFF >/dev/null
cmake --build build -j"$(nproc)"
mkdir -p out
build/lumarex auto samples/*.jpg samples/*.png -d out/ --compare
echo "demo: corrected photos and NAME-compare.jpg (before | after) are in out/"
