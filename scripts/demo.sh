#!/usr/bin/env bash
# Installs what is needed, builds Lumarex and runs the automatic correction on
# the bundled sample photos, writing the results and before/after pictures to
# out/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DLUMAREX_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
if [ ! -x build/tools/lumarex ]; then
  echo "demo: the lumarex command is not built yet; the library and benchmarks are in build/"
  exit 0
fi
mkdir -p out
build/tools/lumarex auto samples/*.jpg -d out/ --side-by-side
echo "demo: results in out/"
