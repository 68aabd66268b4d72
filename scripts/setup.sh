#!/usr/bin/env bash
# Installs what Lumarex needs from Debian's packages. Does nothing when
# everything is already there.
#   setup.sh          everything: to build, test and run (the Windows cross
#                     build and its run under Wine, the fuzzers, the preview's
#                     browser tests, the Python module included)
#   setup.sh --demo   only what the library and the lumarex command need
#   setup.sh --judging   besides everything, the programs a blind comparison
#                     pits `lumarex auto` against (tools/quality/blind_sheets.py)
# scripts/check-setup-packages.sh, run by the test command, checks these
# lists against what the builds actually use.
set -euo pipefail

# The library and the command (scripts/demo.sh).
demo_packages=(
  build-essential cmake pkg-config
  libopenimageio-dev libhwy-dev libcli11-dev nlohmann-json3-dev libcpp-httplib-dev libwebp-dev libheif-dev
  libtiff-dev  # OpenImageIO's TIFF header includes libtiff's
  zlib1g-dev   # the CRC of PNG's eXIf chunk
)
# The tests, the benchmarks, the Windows build, the fuzzers, the Python
# module, the GIMP plug-in (and the GIMP its tests run it in, and the
# virtual display, window tool and capture that tools/gimp/screenshot.sh
# redoes its dialog's picture with) and the manual page besides.
test_packages=(
  binutils help2man
  libgtest-dev libgmock-dev libbenchmark-dev libmpfr-dev libjpeg-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
  clang libclang-rt-14-dev llvm lld
  chromium
  pybind11-dev python3-pybind11 python3-dev python3-numpy python3-pytest python3-openimageio
  python3-dask python3-distributed
  libgimp2.0-dev gimp xvfb xdotool imagemagick
)
# The blind comparison's opponents and sheets: ImageMagick (its
# -auto-level -auto-gamma, and montage) and GIMP (Colors > Auto > White
# Balance, in batch mode).
judging_packages=(imagemagick gimp)
demo=0
[ "${1:-}" = --demo ] && demo=1
packages=("${demo_packages[@]}")
((demo)) || packages+=("${test_packages[@]}")
[ "${1:-}" = --judging ] && packages+=("${judging_packages[@]}")

# Installs the given Debian packages (as root, or through sudo).
apt_install() {
  echo "setup: installing $*"
  local sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "$@"
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then apt_install "${missing[@]}"; fi

((demo)) && exit 0

# The preview's browser tests drive Debian's Chromium from Node.js (Debian's,
# unless a Node.js is there already), with nothing else to install.
command -v node >/dev/null || apt_install nodejs
