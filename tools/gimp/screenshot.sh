#!/bin/sh
# SPDX-License-Identifier: MIT
# Redoes docs/images/gimp-dialog.png: GIMP on a virtual display (Xvfb) with
# the build's plug-in, a bundled sample opened, Colors > Lumarex's dialog
# (plug-in-lumarex run interactively from a batch command), captured with
# ImageMagick's `import` once its preview is drawn.
# Needs: gimp, xvfb, xdotool, imagemagick (scripts/setup.sh installs them).
# Usage: tools/gimp/screenshot.sh [BUILD_DIR] [SAMPLE]   (defaults: build, samples/s01_tungsten_indoor_wine.jpg)
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
sample=$(cd "$(dirname "${2:-$root/samples/s01_tungsten_indoor_wine.jpg}")" && pwd)/$(basename "${2:-s01_tungsten_indoor_wine.jpg}")
out=$root/docs/images/gimp-dialog.png
display=:${LUMAREX_XVFB_DISPLAY:-97}
tmp=$(mktemp -d)
xvfb_pid= gimp_pid=
cleanup() {
  [ -n "$gimp_pid" ] && kill "$gimp_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT INT TERM

Xvfb "$display" -screen 0 1400x1000x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 2
export DISPLAY=$display
# A private GIMP configuration whose plug-in path adds the build's plug-in.
mkdir -p "$tmp/home/gradients"
echo "(plug-in-path \"\${gimp_plug_in_dir}/plug-ins:$build/gimp-plug-ins\")" >"$tmp/home/gimprc"
GIMP2_DIRECTORY=$tmp/home gimp-2.10 -d -f --no-splash -b "
(let* ((img (car (gimp-file-load RUN-NONINTERACTIVE \"$sample\" \"$sample\")))
       (drw (car (gimp-image-get-active-drawable img))))
  ; A 1:1 preview shows as many of the layer's pixels as it has: the
  ; photo scaled to about the preview's size, so that it shows all of it.
  (gimp-image-scale img 400 (round (/ (* 400 (car (gimp-image-height img))) (car (gimp-image-width img)))))
  (gimp-display-new img)
  (plug-in-lumarex RUN-INTERACTIVE img drw -1 0 1.0 -1 -1 -1 60 100 -1 1 50 0 -1 0 0 -1 0 0.5 0.0 0.0 -1 0 1))" \
  >"$tmp/gimp.log" 2>&1 &
gimp_pid=$!
# The dialog's window, then time for the analysis and the preview.
window=$(xdotool search --sync --onlyvisible --name '^Lumarex$' | head -n 1)
xdotool mousemove 1390 990  # no tooltip in the picture
sleep "${LUMAREX_SCREENSHOT_WAIT:-8}"
mkdir -p "$(dirname "$out")"
import -window "$window" -strip "png:$out"
echo "screenshot: $out ($(wc -c <"$out") bytes)"
