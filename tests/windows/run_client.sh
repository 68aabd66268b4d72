#!/bin/sh
# Runs the DLL client.
#   run_client.sh native CLIENT LIBRARY PHOTO OUT
#   run_client.sh wine WINE64 PREFIX WINDOWS_BUILD prefix
#   run_client.sh wine WINE64 PREFIX WINDOWS_BUILD run DIR NOISELIB PHOTO|--load-only OUT|-
# NOISELIB: with-noiselib, without-noiselib or incomplete-noiselib (the
# variant that lacks two entry points, installed as NoiseLib17.dll), all
# beside the client; or plugin-folder: both DLLs in a folder of their own,
# as an editor keeps its plug-ins, away from the client and the search path.
set -eu
mode=$1
shift
# Runs the client with its lines going to OUT; shows them when it fails.
run_to() {
  out=$1
  shift
  status=0
  "$@" >"$out" || status=$?
  [ "$status" -eq 0 ] || cat "$out"
  return "$status"
}
if [ "$mode" = native ]; then
  run_to "$4" "$1" "$2" "$3"
  exit
fi

wine64=$1 prefix=$2 build=$3 action=$4
shift 4
# A private prefix, no debug chatter, and no display: Wine then creates no
# windows, so nothing can wait for a click. Without its menu builder Wine
# writes no menu entries or file types into the user's home.
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
if [ "$action" = prefix ]; then
  [ -f "$prefix/system.reg" ] || timeout 300 "$wine64" wineboot --init >/dev/null 2>&1
  exit
fi

dir=$1 noiselib=$2 photo=$3 out=$4
rm -rf "$dir"
mkdir -p "$dir"
cp "$build/lumarex_dll_client.exe" "$dir/"
library=lumarex.dll
case $noiselib in
  plugin-folder)
    mkdir "$dir/plugin"
    cp "$build/lumarex.dll" "$build/NoiseLib17.dll" "$dir/plugin/"
    library='plugin\lumarex.dll' ;;
  with-noiselib) cp "$build/lumarex.dll" "$build/NoiseLib17.dll" "$dir/" ;;
  incomplete-noiselib) cp "$build/lumarex.dll" "$dir/" && cp "$build/NoiseLib17Incomplete.dll" "$dir/NoiseLib17.dll" ;;
  without-noiselib) cp "$build/lumarex.dll" "$dir/" ;;
  *) echo "unknown noise library choice $noiselib" >&2; exit 2 ;;
esac
arg=$photo
if [ "$photo" != --load-only ]; then
  cp "$photo" "$dir/photo.ppm"
  arg=photo.ppm
fi
cd "$dir"
if [ "$out" = - ]; then
  timeout 600 "$wine64" lumarex_dll_client.exe "$library" "$arg"
else
  run_to "$out" timeout 600 "$wine64" lumarex_dll_client.exe "$library" "$arg"
fi
