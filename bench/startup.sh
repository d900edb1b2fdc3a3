#!/bin/sh
# Start-up of Brackenvale against an empty Qt window of the same size (bench/startup_bench.cpp):
# on Qt's offscreen platform, then on an X server of its own (Xvfb) when xvfb-run is there.
#   bench/startup.sh [BUILD_FOLDER] [startup_bench's options, e.g. --pairs 20]
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
bench=$build/bin/startup_bench
[ -x "$bench" ] || { echo "no $bench: cmake --build --preset default --target startup_bench" >&2; exit 2; }

# Qt asks for a private runtime folder; one of the run's own keeps its warning out of the way.
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR="$runtime"

QT_QPA_PLATFORM=offscreen "$bench" "$@"
if command -v xvfb-run >/dev/null 2>&1; then
  echo
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$bench" "$@"
else
  echo "(no xvfb-run: the X11 run is left out)"
fi
